// The gateway test's choice of channel and its answer rules, with scripted
// channels in place of the gateways.
#include <gtest/gtest.h>

#include "dispatch_fixture.h"

namespace qz::testing {
namespace {

// Scripted channels whose SNPP channel also leaves a status behind, and
// which can raise from inside a channel call.
class GatewayChannels : public ScriptedChannels {
 public:
  std::string snpp_status;
  bool raise = false;
  bool answer = true;      // what the SNPP channel answers when it does not fail
  std::string leave_text;  // left in gstrLastError even when answering true
  GatewayChannels() {
    paging.at(1).channel = [this, snpp = Scripted("snpp")](const ChannelCall& c, const Variant& n,
                                                           const Variant& r) {
      if (raise) throw RunTimeError(kErrSubscript);
      bool ok = snpp(c, n, r);
      c.mstrSNPPStatus = snpp_status;
      if (!leave_text.empty()) gstrLastError = leave_text;
      return answer && ok;
    };
  }
};

class TestGateway : public ::testing::Test {
 protected:
  TestGateway()
      : context_(g_main_context_new()), env_{folder_.path(), components_, channels_, seat_} {}
  ~TestGateway() override { g_main_context_unref(context_); }

  std::string Test(int16_t index, std::string_view mobile = "5551234") {
    cNotify notify(env_, context_);
    return notify.gvarTestGateway(index, mobile).Text();
  }

  TempFolder folder_;
  GMainContext* context_;
  ComponentRegistry components_;
  GatewayChannels channels_;
  FakeSeat seat_;
  ServerEnvironment env_;
};

TEST_F(TestGateway, EachIndexRunsItsChannelWithTheTestRequest) {
  struct Case {
    int16_t index;
    std::vector<std::string> channels;
    const char* answer;
  } cases[] = {
      {0, {"pager"}, "Message Sent"},
      {1, {"snpp"}, "Message Sent"},
      {2, {"sms-init", "sms"}, "Message Sent"},
      {3, {}, "Test Failed"},
      {-1, {}, "Test Failed"},
  };
  for (const auto& c : cases) {
    channels_.uses.clear();
    gstrLastError.clear();
    EXPECT_EQ(Test(c.index, " 555 "), c.answer) << c.index;
    EXPECT_EQ(channels_.Names(), c.channels) << c.index;
    for (const auto& use : channels_.uses) {
      if (use.channel == "sms-init") continue;
      EXPECT_EQ(use.notes, List({Variant("This is Alert Test Message")}));
      EXPECT_EQ(use.recipients, List({List({Variant(" 555 ")})})) << "the number goes unchanged";
    }
  }
}

TEST_F(TestGateway, AnswerRules) {
  struct Case {
    int16_t index;
    std::string failure;      // text the channel leaves in gstrLastError, failing
    std::string snpp_status;  // status the SNPP channel leaves
    std::string earlier;      // gstrLastError before the test
    bool answer = true;
    std::string expected;
    const char* why;
  } cases[] = {
      {1, "", "250 Message Sent OK\r\n", "", true, "250 Message Sent OK\r\n",
       "the SNPP status, not Message Sent"},
      {1, "Wrong Gateway", "Wrong Gateway", "", true, "Wrong Gateway",
       "failure: gstrLastError first"},
      {1, "", "550 Error", "", false, "550 Error", "failure without text: the status"},
      {1, "", "", "", false, "", "failure without any text"},
      {3, "", "", "left by an earlier failure", true, "left by an earlier failure",
       "no channel, the thread's text stays"},
      {0, "Port busy.\r\n", "", "", true, "Port busy.\r\n", "the pager terminal's failure"},
  };
  for (const auto& c : cases) {
    channels_.failures.clear();
    if (!c.failure.empty()) channels_.failures[c.index == 1 ? "snpp" : "pager"] = c.failure;
    channels_.snpp_status = c.snpp_status;
    channels_.answer = c.answer;
    gstrLastError = c.earlier;
    std::string expected = c.expected.empty() ? "Test Failed" : c.expected;
    EXPECT_EQ(Test(c.index), expected) << c.why;
  }
}

TEST_F(TestGateway, ChannelTrueWithTextLeftIsAFailure) {
  channels_.snpp_status = "250 Message Sent OK";
  channels_.leave_text = "Connection error.\r\n";
  gstrLastError.clear();
  EXPECT_EQ(Test(1), "Connection error.\r\n");
}

TEST_F(TestGateway, SmsSettingsThatDoNotLoadStopTheTest) {
  channels_.sms_initialises = [] { return false; };
  gstrLastError = "whatever the loader left";
  EXPECT_EQ(Test(2), "Failed to initialize SMS Settings");
  EXPECT_EQ(channels_.Names(), std::vector<std::string>{"sms-init"});
}

TEST_F(TestGateway, RunTimeErrorsBecomeTheAnswer) {
  channels_.raise = true;
  EXPECT_EQ(Test(1), "Test Failed. 9 Subscript out of range");
}

}  // namespace
}  // namespace qz::testing
