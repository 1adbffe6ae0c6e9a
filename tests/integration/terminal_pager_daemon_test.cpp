// End to end: qznotesd on a private bus with the pager terminal as its
// default gateway pages through the terminal simulator over a real
// pseudo-terminal, and calls back with the outcome; the gateway test pages
// through the same simulator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "config/profile_string.h"
#include "daemon_harness.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
using Pages = std::vector<std::pair<std::string, std::string>>;

// Two messages, each for the same three pager identifiers, in one group.
GVariant* TwoMessages() { return g_variant_new_parsed("<[<[<'disk full'>, <'backup failed'>]>]>"); }
GVariant* ThreePagersEach() {
  return g_variant_new_parsed(
      "<[<[<[<'1001'>, <' 1002 '>, <'1003'>]>, <[<'1001'>, <'1002'>, <'1003'>]>]>]>");
}

class TerminalPagerDaemon : public ::testing::Test {
 protected:
  // The sample settings (gateway 0, TAP over a direct line) with the
  // simulator's line as the serial device.
  void Start(const std::string& script) {
    sim_ = std::make_unique<TapSimulator>(folder_.path(), script);
    const std::string ini = (folder_.path() / "QzNotes.ini").string();
    ASSERT_TRUE(
        mblnWritePrivateProfileString(ini, "Pager Terminal", "ComPort", sim_->link().string()));
    daemon_ =
        std::make_unique<Daemon>(bus_, folder_.path(), std::vector<std::string>{"--linger", "30"});
    client_ = std::make_unique<Client>(bus_);
  }

  std::string Deliver(const char* test_id) {
    const std::string path = client_->Create();
    Answer a = client_->Call(path, kNotify, "SendMessageCallBack",
                             g_variant_new("(@v@v@v@v(so)s)", TwoMessages(), Marker(0),
                                           ThreePagersEach(), Marker(0), "", "/callback", test_id));
    EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
    auto& got = client_->WaitForCallbacks(1, std::chrono::seconds(60));
    if (got.empty()) return "no callback";
    EXPECT_EQ(got[0].first, test_id);
    return got[0].second;
  }

  // The gateway test through the terminal, once as a bus call on a fresh
  // object and once from the client: both answers and the client's status.
  struct TestAnswers {
    std::string called;
    CliResult client;
  };
  TestAnswers TestGateway(const std::string& id) {
    TestAnswers answers;
    Answer a = client_->Call(client_->Create(), kNotify, "gvarTestGateway",
                             g_variant_new("(ns)", int16_t{0}, id.c_str()), 120000);
    EXPECT_TRUE(a.ok()) << a.Print();
    answers.called = a.Text();
    answers.client = RunCli({"--address", bus_.address(), "test-gateway", "0", id});
    return answers;
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  std::unique_ptr<TapSimulator> sim_;
  std::unique_ptr<Daemon> daemon_;
  std::unique_ptr<Client> client_;
};

TEST_F(TerminalPagerDaemon, TwoMessagesForThreeIdentifiersAreSixPages) {
  Start("");
  EXPECT_EQ(Deliver("tap-6"), "QzNotes: Message Sent");
  EXPECT_EQ(sim_->Pages(), (Pages{{"1001", "disk full"},
                                  {"1002", "disk full"},
                                  {"1003", "disk full"},
                                  {"1001", "backup failed"},
                                  {"1002", "backup failed"},
                                  {"1003", "backup failed"}}));
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), "");
}

TEST_F(TerminalPagerDaemon, RefusedIdentifierMakesTheRequestUndeliverableAndIsLogged) {
  Start("refuse 1002 Unknown pager\n");
  EXPECT_EQ(Deliver("tap-rs"),
            "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  const std::string log = folder_.Read("QzNotesLog.log");
  EXPECT_THAT(
      log,
      HasSubstr(
          "Page Status: the terminal accepted 2 of 3 pages; not accepted: 1002 (Unknown pager)"));
  EXPECT_THAT(log, HasSubstr(".\r\n::"));
  // The channel stops at the failed message: the second one is not paged.
  EXPECT_EQ(sim_->Pages(), (Pages{{"1001", "disk full"}, {"1003", "disk full"}}));
  EXPECT_THAT(daemon_->Log(), HasSubstr("request tap-rs: Message Undeliverable"));
}

TEST_F(TerminalPagerDaemon, GatewayTestPagesTheTestMessageAndAnswersWhatHappened) {
  Start("refuse 2002 Unknown pager\n");
  struct Case {
    const char* id;
    const char* answer;  // of the bus call; the client prints it without its line end
    int status;
    Pages paged;  // what the terminal accepted for the two tests
  } cases[] = {
      {"1001",
       "Message Sent",
       0,
       {{"1001", "This is Alert Test Message"}, {"1001", "This is Alert Test Message"}}},
      {"2002",
       "the terminal accepted 0 of 1 pages; not accepted: 2002 (Unknown pager); the "
       "terminal's last words: \"Unknown pager\".\r\n",
       1,
       {}},
  };
  for (const auto& c : cases) {
    const size_t before = sim_->Pages().size();
    const TestAnswers got = TestGateway(c.id);
    EXPECT_EQ(got.called, c.answer) << c.id;
    std::string line(c.answer);
    while (line.ends_with('\n') || line.ends_with('\r')) line.pop_back();
    EXPECT_EQ(got.client.out, line + "\n") << got.client.Describe();
    EXPECT_EQ(got.client.status, c.status) << got.client.Describe();
    const Pages all = sim_->Pages();
    EXPECT_EQ(
        Pages(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end()),
        c.paged)
        << c.id;
  }
  // The gateway test is no request: nothing is logged.
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), "");
}

}  // namespace
}  // namespace qz::testing
