// qznotes against a daemon on the other side of its HTTP API, over TLS with
// a throwaway certificate and bearer tokens: the remote commands print and
// exit as they do over the bus, and what the client refuses before it
// connects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "https_daemon.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class RemoteClient : public ::testing::Test {
 protected:
  RemoteClient() {
    // A file per token, named as the token; "reader" may not send.
    for (const char* name : {"all", "reader"})
      chmod(keys_.Write(name, daemon_.token(name) + "\n").c_str(), 0600);
  }

  // `token` names a token file; `trusted` passes the certificate as the CA.
  std::unique_ptr<CliProcess> Remote(const std::string& token, const std::string& command,
                                     bool trusted = true) const {
    return std::make_unique<CliProcess>(
        ShellWords("--url " + daemon_.url() + " --token-file " + keys_.File(token) +
                   (trusted ? " --cacert " + daemon_.cert() : "") + " " + command));
  }
  std::unique_ptr<CliProcess> Bus(const std::string& command) const {
    return std::make_unique<CliProcess>(
        ShellWords("--address " + daemon_.bus().address() + " " + command));
  }

  SnppSim gateway_;
  HttpsDaemon daemon_{{{"all", "send,test,read"}, {"reader", "read"}},
                      [this](const ProgramFolder& folder) { folder.UseSnpp(gateway_.port(), 20); }};
  TempFolder keys_;
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
    EXPECT_EQ(remote.status, status) << remote.Describe() << daemon_.Log();
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
