// qznotes against a daemon on the other side of its HTTP API, over TLS with
// a throwaway certificate and bearer tokens: the remote commands print and
// exit as they do over the bus, and what the client refuses before it
// connects.
#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "http/front_door.h"
#include "http/token_store.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> RemoteWords(const std::string& command) {
  char** argv = nullptr;
  EXPECT_TRUE(g_shell_parse_argv(command.c_str(), nullptr, &argv, nullptr)) << command;
  std::vector<std::string> words(argv, argv + g_strv_length(argv));
  g_strfreev(argv);
  return words;
}

class RemoteClient : public ::testing::Test {
 protected:
  RemoteClient() {
    folder_.UseSnpp(gateway_.port(), 20);
    const CliResult made =
        CliProcess(
            {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
             "-keyout", keys_.File("key.pem"), "-out", keys_.File("cert.pem"), "-days", "1",
             "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
            std::nullopt, "/usr/bin/openssl")
            .Wait();
    EXPECT_EQ(made.status, 0) << made.Describe();
    // A file per token, named as the token; "reader" may not send.
    const std::pair<const char*, unsigned> tokens[] = {
        {"all", unsigned(Right::kSend) | unsigned(Right::kTest) | unsigned(Right::kRead)},
        {"reader", unsigned(Right::kRead)}};
    std::vector<TokenEntry> entries;
    for (const auto& [name, rights] : tokens) {
      entries.push_back({name, TokenHash(std::string("token-") + name), rights});
      chmod(keys_.Write(name, std::string("token-") + name + "\n").c_str(), 0600);
    }
    chmod(keys_.Write("loose", "token-all\n").c_str(), 0644);
    const std::string tokens_file = (folder_.path() / kTokensFileName).string();
    std::ofstream(tokens_file) << TokenFileText(entries);
    chmod(tokens_file.c_str(), 0600);
    daemon_.emplace(
        bus_, folder_.path(),
        std::vector<std::string>{"--linger", "60", "--listen", "127.0.0.1:0", "--tls-cert",
                                 keys_.File("cert.pem"), "--tls-key", keys_.File("key.pem")});
    EXPECT_TRUE(daemon_->Logged("https://127.0.0.1:", 10s)) << daemon_->Log();
    std::smatch bound;
    const std::string log = daemon_->Log();
    if (std::regex_search(log, bound, std::regex("https://127\\.0\\.0\\.1:[0-9]+")))
      url_ = bound.str();
  }

  // `token` names a token file; `trusted` passes the certificate as the CA.
  std::unique_ptr<CliProcess> Remote(const std::string& token, const std::string& command,
                                     bool trusted = true) const {
    return std::make_unique<CliProcess>(
        RemoteWords("--url " + url_ + " --token-file " + keys_.File(token) +
                    (trusted ? " --cacert " + keys_.File("cert.pem") : "") + " " + command));
  }
  std::unique_ptr<CliProcess> Bus(const std::string& command) const {
    return std::make_unique<CliProcess>(RemoteWords("--address " + bus_.address() + " " + command));
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  SnppSim gateway_;
  TempFolder keys_;
  std::optional<Daemon> daemon_;
  std::string url_;
};

TEST_F(RemoteClient, CommandsAnswerAsOverTheBus) {
  const std::pair<const char*, int> cases[] = {
      {"send --wait -m 'disk full' -p 555 --test-id same-1", 0},
      {"--json send -m 'no one' --test-id same-2", 0},  // warned: no recipient
      {"test-gateway 1 555", 0},
      {"--json test-gateway 7 555", 1},  // no such gateway
  };
  for (const auto& [command, status] : cases) {
    SCOPED_TRACE(command);
    const CliResult remote = Remote("all", command)->Wait(), bus = Bus(command)->Wait();
    EXPECT_EQ(remote.status, status) << remote.Describe() << daemon_->Log();
    EXPECT_EQ(remote.out, bus.out);
    EXPECT_EQ(remote.err, bus.err);
  }
  EXPECT_THAT(gateway_.Received(), HasSubstr("PAGE \"555\"; 1 MESSAGE \"disk full\""));
}

TEST_F(RemoteClient, RefusalsSayWhy) {
  struct Case {
    const char* token;
    std::string command;
    int status;
    ::testing::Matcher<const std::string&> err;
    bool trusted = true;
  };
  const Case cases[] = {
      {"reader", "send -m x -p 555", 1, StartsWith("qznotes: the server refused: 403 ")},
      {"loose", "status", 2,
       HasSubstr("can be read by others (mode 0644); make it private: chmod 600 ")},
      {"all", "journal", 2, StartsWith("qznotes: journal is D-Bus only")},
      {"all", "status", 2, HasSubstr("certificate"), false},
  };
  for (const Case& c : cases) {
    const CliResult r = Remote(c.token, c.command, c.trusted)->Wait();
    SCOPED_TRACE(c.command);
    EXPECT_EQ(r.status, c.status) << r.Describe();
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, c.err);
  }
}

// Both ways at once: the same deliveries print the same lines, and the
// status view differs only in its figures.
TEST_F(RemoteClient, StatusAndWatchPrintAsOverTheBus) {
  const auto figures = std::regex("[0-9]+");
  const CliResult remote_status = Remote("all", "status")->Wait();
  const CliResult bus_status = Bus("status")->Wait();
  EXPECT_EQ(remote_status.status, 0) << remote_status.Describe();
  EXPECT_EQ(std::regex_replace(remote_status.out, figures, "N"),
            std::regex_replace(bus_status.out, figures, "N"));

  const auto remote_watch = Remote("all", "watch --count 1");
  const auto bus_watch = Bus("watch --count 1");
  ASSERT_TRUE(Eventually(
      [&] {
        return remote_watch->ErrSoFar().find("watching") != std::string::npos &&
               bus_watch->ErrSoFar().find("watching") != std::string::npos;
      },
      30s));
  ASSERT_EQ(Remote("all", "send -m x -p 555 --test-id r-w")->Wait().status, 0);
  const CliResult remote = remote_watch->Wait(), bus = bus_watch->Wait();
  EXPECT_EQ(remote.status, 0) << remote.Describe();
  EXPECT_EQ(remote.out, "r-w: Message Sent\n  group 0: page (SNPP) to 555: delivered\n");
  EXPECT_EQ(remote.out, bus.out);
}

}  // namespace
}  // namespace qz::testing
