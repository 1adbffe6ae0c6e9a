// The qznotes client run as a user runs it, against the real daemon on a
// private bus with the sample settings: what it prints, on which stream, and
// its exit status. What each answer means is the daemon's tests' concern.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"

namespace qz::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kSent = "QzNotes: Message Sent\n";
constexpr const char* kUndeliverable =
    "QzNotes: Message Undeliverable. See QzNotesLog.log file for details \n";
constexpr const char* kNobody =
    "no message has a recipient (--email or --pager after its --message): nothing will be "
    "delivered";
constexpr const char* kIndex5 =
    "qznotes: warning: Index=5: the server pages through gateway 0 (pager terminal), 1 (SNPP) or "
    "2 (SMS) only; with any other Index every paging fails\n";

struct Case {
  std::string command;  // the client's words, quoted as a shell would read them
  ::testing::Matcher<int> status;
  ::testing::Matcher<const std::string&> out;
  ::testing::Matcher<const std::string&> err;
  const char* remove_first = nullptr;  // a settings file to delete before the run
};

void Check(const Case& c, const CliResult& r) {
  SCOPED_TRACE(c.command);
  EXPECT_THAT(r.status, c.status) << r.Describe();
  EXPECT_THAT(r.out, c.out);
  EXPECT_THAT(r.err, c.err);
}

class ClientCli : public ::testing::Test {
 protected:
  // A long linger keeps the daemon serving between the client's runs.
  ClientCli() : daemon_(bus_, folder_.path(), {"--linger", "60"}) {}

  std::unique_ptr<CliProcess> Start(const std::string& command) const {
    return std::make_unique<CliProcess>(ShellWords("--address " + bus_.address() + " " + command));
  }
  CliResult Run(const std::string& command) const { return Start(command)->Wait(); }

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
};

TEST_F(ClientCli, SendPrintsTheAnswerOrTheCallback) {
  const Case cases[] = {
      // Why, from the server's trace of the run.
      {"send --wait -m 'disk full' -p 5551234 --test-id cli-page", 1, kUndeliverable,
       MatchesRegex("qznotes: group 0: page \\(pager terminal\\) to 5551234: failed: serial "
                    "line /dev/ttyUSB0: [^\n]+\n")},
      {"send -w -m 'nothing to page'", 0, kSent,
       std::string("qznotes: warning: ") + kNobody + "\n"},
      {R"(--json send --wait -m x --test-id 'cli-"json"\id')", 0,
       R"({"answer":"Notes Server: Asynch mode","testId":"cli-\"json\"\\id",)"
       R"("callback":"QzNotes: Message Sent"})"
       "\n",
       std::string(R"({"warning":")") + kNobody + "\"}\n"},
      // Without --wait the object is held past the server's tick, so the request runs.
      {"send -m 'disk full' -p 5551234 --test-id cli-nowait", 0, "Notes Server: Asynch mode\n", ""},
      {"--json send -m 'disk full' -p 5551234", 0,
       MatchesRegex(R"(\{"answer":"Notes Server: Asynch mode",)"
                    R"("testId":"qznotes-[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}"\})"
                    "\n"),
       ""},
  };
  // Concurrent clients, each waiting for its own callback.
  std::vector<std::unique_ptr<CliProcess>> running;
  for (const Case& c : cases) running.push_back(Start(c.command));
  std::vector<CliResult> results;
  for (size_t k = 0; k < std::size(cases); ++k) {
    results.push_back(running[k]->Wait());
    Check(cases[k], results.back());
  }
  // The identifier given, or the one made up and printed (by the last
  // send), is the one the server ran.
  std::smatch made_up;
  ASSERT_TRUE(std::regex_search(results.back().out, made_up, std::regex("qznotes-[-0-9a-f]+")));
  for (const std::string& id : {std::string("cli-nowait"), made_up.str(), std::string("cli-page")})
    EXPECT_TRUE(daemon_.Logged("request " + id + ": Message Undeliverable", 20s)) << daemon_.Log();
}

TEST_F(ClientCli, SettingsCallAndJournalPrintTheAnswerAndExitByIt) {
  const std::string folder = folder_.path().string(), missing = folder + "/missing";
  const Case cases[] = {
      // The journal of the daemon on the bus, not of the client's own folder.
      {"journal list", 0, HasSubstr(" requests in " + folder + "/"), ""},
      {"journal list --folder " + missing, 1, "", "qznotes: no program folder " + missing + "\n"},
      // By name or by dispatch identifier, the same operation prints the same.
      {"call gvarGetPagerSettingsEx 7 null", 0, "NoDimensions\nlvarParams: Null\n", ""},
      {"call 0x60030026 7 null", 0, "NoDimensions\nlvarParams: Null\n", ""},
      {"call --list cPager", 0,
       HasSubstr("\n0x60030006  SendPage(s lstrPage, s lstrMessage) -> b\n"), ""},
      // A Boolean False is exit 1, for call as for settings set.
      {R"(call gblnSetPagerSettingsEx Nowhere '["K=V"]')", 1, "False\n", ""},
      // Errors the server raised, with their codes.
      {"call --class cRegistry Anything", 1, "", "error E429: QzNotes: Can't create object\n"},
      {"--json call --class cRegistry X", 1, "",
       R"({"error":{"kind":"server","code":"E429","message":"QzNotes: Can't create object"}})"
       "\n"},
      // Usage errors, some found only once the object's operations are read.
      {"--json call NoSuchOperation", 2, "",
       R"({"error":{"kind":"usage","message":"cNotify has no operation NoSuchOperation",)"
       R"("hint":"qznotes call --list cNotify lists them"}})"
       "\n"},
      {"send -m x -e ops@example.org", 2, "",
       "qznotes: --email needs --subject\n(qznotes --help lists the commands)\n"},
      {"--json --dest org.qznotes.Nobody settings", 2, "",
       AllOf(StartsWith(R"({"error":{"kind":"bus","message":)"),
             HasSubstr(R"(","hint":"no server owns org.qznotes.Nobody on this bus;)"))},
      // Values round-trip; what the server never reads is written only with --force.
      {"settings set -f 'SNPP Paging Service' TCPPort=555 'HostName=a\"b\\c' 'Timeout=x\ty'", 0,
       "true\n", StartsWith("qznotes: warning: Timeout=x\ty: not a number")},
      {"settings get snpp", 0, "TCPPort=555\nHostName=a\"b\\c\n\"Timeout=x\\ty\"\n", ""},
      {"settings set Default Index=5", 1, "false\n",
       std::string(kIndex5) + "qznotes: nothing written (settings set --force writes anyway)\n"},
      {"settings get gateways", 0, HasSubstr("\nIndex=0\n"), ""},
      {"settings set --force Default Index=5", 0, "true\n", kIndex5},
      {"settings get gateways", 0, HasSubstr("\nIndex=5\n"), ""},
      {"--json settings set Default Index=5", 1, "false\n",
       HasSubstr("\n{\"error\":{\"kind\":\"not-written\",\"message\":\"nothing written "
                 "(settings set --force writes anyway)\"}}\n")},
      // Why the server answered false.
      {"settings set -f Nowhere Key=1", 1, "false\n",
       HasSubstr("\nqznotes: not written: the \"path\" key of [Nowhere] in QzNotes.ini is "
                 "missing or empty")},
      // The pager terminal reads QzNotes.ini, not the file of its "path".
      {"settings set 'Pager Terminal' ComPort=/dev/ttyS3 Number=", 0, "true\n", "", "QzPage.ini"},
      {"settings get terminal", 0,
       HasSubstr("Number=\nSettings=1200,e,7,1\nComPort=/dev/ttyS3\nHandShaking=0\n"), ""},
      {"settings set 'Pager Terminal' Echo=1", 1, "false\n",
       "qznotes: not written: the pager terminal reads [Pager Terminal] of QzNotes.ini, where "
       "the server writes only Number, Settings, ComPort and HandShaking; set Echo in that file "
       "itself\n"},
      {"settings get snpp", 0, "(no settings file)\n", "", "QzSNPP.ini"},
      {"settings", 0,
       HasSubstr("\nsnpp: gvarGetPagerSettingsEx 1, SNPP Paging Service of QzSNPP.ini\n"
                 "  (no settings file)\n\ngateways-ex: "),
       ""},
      {"settings set Default Index=1", 1, "false\n",
       "qznotes: not written: the server's program folder has no QzNotes.ini, and the server "
       "never creates a settings file\n",
       "QzNotes.ini"},
  };
  for (const Case& c : cases) {
    if (c.remove_first) std::filesystem::remove(folder_.path() / c.remove_first);
    Check(c, Run(c.command));
  }
  // Every command gave its object back itself, on usage errors too; none was
  // left for the server to drop when the client's connection went.
  EXPECT_TRUE(daemon_.Logged(": released", 20s)) << daemon_.Log();
  EXPECT_THAT(daemon_.Log(), Not(HasSubstr("left the bus")));
}

TEST_F(ClientCli, EachSettingsGroupReadsItsOwnRequest) {
  // Each group's last sample line tells its request apart from the others'.
  const std::pair<const char*, const char*> groups[] = {
      {"terminal-short", "HandShaking=0"},
      {"terminal", "GetNote="},
      {"gateways", "Index=0"},
      {"sms", "SMSTrailer=username=qznotes&password=change-me"},
      {"terminal-ex", "GetNote="},
      {"snpp", "Timeout=20"},
      {"gateways-ex", "Index=0"},
      {"sms-ex", "SMSTrailer=username=qznotes&password=change-me"},
  };
  // The overview in JSON: every group's object, keyed by the group's name.
  std::string object;
  for (const auto& [name, last] : groups) {
    EXPECT_THAT(Run(std::string("settings get ") + name).out,
                ::testing::EndsWith(std::string("\n") + last + "\n"))
        << name;
    object += (object.empty() ? "{\"" : ",\"") + std::string(name) +
              "\":" + Run(std::string("--json settings get ") + name).out;
    object.pop_back();  // the line end
  }
  EXPECT_EQ(Run("--json settings").out, object + "}\n");
}

// The client where no server or no bus answers, and what both programs say
// about their own command lines ("qznotesd ..." runs the daemon).
TEST(ClientCliNoServer, BusFailuresSayHowToStartAServerAndHelpNeedsNoBus) {
  PrivateBus bus;  // a live bus where nobody serves the name
  TempFolder scratch;
  const std::string nobody = "--address " + bus.address() + " ";
  const std::string nowhere = "--address unix:path=" + scratch.File("no-such-socket") + " ";
  const std::string version = QZ_VERSION;
  const Case cases[] = {
      {nobody + "send -m x -p 1 --wait", 2, "",
       AllOf(MatchesRegex("qznotes: [^\n]*\nqznotes: hint: [^\n]*\n"),
             HasSubstr("\nqznotes: hint: no server owns org.qznotes.QzNotes on this bus. Start "
                       "one: `qznotesd " +
                       nobody + "&`"),
             HasSubstr("(bus activation"), HasSubstr("`dbus-run-session -- sh -c 'qznotesd"))},
      {nowhere + "settings", 2, "",
       HasSubstr("\nqznotes: hint: no message bus answers there. For a private one: "
                 "`dbus-run-session -- sh -c ")},
      {"--json " + nowhere + "settings", 2, "",
       AllOf(StartsWith(R"({"error":{"kind":"bus","message":)"),
             HasSubstr(R"(","hint":"no message bus answers there.)"))},
      {nowhere + "send -m x -h", 0, StartsWith("Usage: qznotes send"), ""},
      {"--version", 0, "qznotes " + version + "\n", ""},
      {"qznotesd --version", 0, "qznotesd " + version + "\n", ""},
      {"qznotesd --folder " + scratch.File("missing"), 2, "", HasSubstr("is not a folder")},
      {"qznotesd --listen 0.0.0.0:0", 2, "",
       HasSubstr("--listen 0.0.0.0 is not a loopback address: give --tls-cert and --tls-key")},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = ShellWords(c.command);
    const bool daemon = words.at(0) == "qznotesd";
    if (daemon) words.erase(words.begin());
    Check(c, CliProcess(words, std::nullopt, daemon ? QZ_DAEMON_PATH : QZ_CLIENT_PATH).Wait());
  }
}

}  // namespace
}  // namespace qz::testing
