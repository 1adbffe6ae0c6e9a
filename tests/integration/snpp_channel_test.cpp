// The SNPP channel and the gateway test against the SNPP simulator: which
// settings it reads, what goes on the wire over its one connection, the
// status it leaves and the result it answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "dispatch/c_notify.h"
#include "gateways/gateway_table.h"
#include "gateways/snpp/snpp_channel.h"
#include "platform/seat.h"
#include "support/snpp_sim.h"
#include "support/temp_folder.h"
#include "unit/fakes.h"

namespace qz::testing {
namespace {

using ::testing::ElementsAre;

class SnppChannel : public ::testing::Test {
 protected:
  void Configure(const std::string& port, const std::string& host = "127.0.0.1",
                 const std::string& timeout = "2", const std::string& extra = "") {
    folder_.Write("QzSNPP.ini", "[SNPP Paging Service]\r\nTCPPort=" + port + "\r\nHostName=" +
                                    host + "\r\nTimeout=" + timeout + "\r\n" + extra);
  }
  bool Page(const Variant& notes, const Variant& pagers) {
    return mblnPagingIP(call_, notes, pagers);
  }

  TempFolder folder_;
  ComponentRegistry components_;
  std::string status_ = "before";
  SmsSettings sms_;
  ChannelCall call_{folder_.path(), components_, "", "", "", "", status_, sms_};
};

TEST_F(SnppChannel, MessagesOuterIdentifiersInnerOverOneConnection) {
  SnppSim sim;
  Configure(sim.PortText());
  gstrLastError = "left over";
  Variant notes = List({Variant("disk\r\nfull"), Variant("cpu hot")});
  Variant pagers =
      List({List({Variant(" 100 "), Variant(), Variant("101")}), List({Variant("102")})});
  EXPECT_TRUE(Page(notes, pagers));
  EXPECT_EQ(gstrLastError, "");
  EXPECT_EQ(status_, "250 Message Sent OK\r\n");
  ASSERT_TRUE(sim.WaitFor("close", 1, std::chrono::seconds(10)))
      << "the connection ends with the call";
  EXPECT_THAT(sim.Received(), ElementsAre("1 PAGE \"100\"", "1 MESSAGE \"disk full\"", "1 SEND",
                                          "1 PAGE \"101\"", "1 MESSAGE \"disk full\"", "1 SEND",
                                          "1 PAGE \"102\"", "1 MESSAGE \"cpu hot\"", "1 SEND"));
}

TEST_F(SnppChannel, NothingToSendMeansNoSettingsAndNoConnection) {
  SnppSim sim;
  folder_.Write("QzSNPP.ini", "not even an ini file");  // never read
  struct Case {
    Variant notes, pagers;
  } cases[] = {
      {Variant(), List({List({Variant("1")})})},
      {List({Variant("m")}), Variant()},
      {Variant("no array"), List({List({Variant("1")})})},
      {List({Variant("m")}), Variant("no array")},
  };
  for (const auto& c : cases) {
    gstrLastError = "earlier";
    EXPECT_TRUE(Page(c.notes, c.pagers));
    EXPECT_EQ(gstrLastError, "");
    EXPECT_EQ(status_, "before");
  }
  EXPECT_TRUE(sim.Events().empty());
}

TEST_F(SnppChannel, EmptyListsOpenAndCloseTheConnectionOnly) {
  SnppSim sim;
  Configure(sim.PortText());
  EXPECT_TRUE(Page(List({Variant("m0"), Variant("m1")}), List({List({}), Variant()})));
  EXPECT_EQ(status_, "before");
  ASSERT_TRUE(sim.WaitFor("close", 1, std::chrono::seconds(10)));
  EXPECT_TRUE(sim.Received().empty());
}

TEST_F(SnppChannel, UnconfirmedPagesAndClosedServersAreNoFailure) {
  struct Case {
    const char* script;
    std::vector<std::string> lines;
    const char* status;
  } cases[] = {
      {"reply PAGE \\x20\\x20550 Error, Invalid Pager ID\\x20\n",
       {"1 PAGE \"1\"", "1 PAGE \"2\""},
       "550 Error, Invalid Pager ID \r\n"},
      {"close-after 1\n", {"1 PAGE \"1\"", "1 MESSAGE \"m\"", "1 SEND"}, "250 Message Sent OK\r\n"},
  };
  for (const auto& c : cases) {
    SnppSim sim(c.script);
    Configure(sim.PortText());
    gstrLastError.clear();
    EXPECT_TRUE(Page(List({Variant("m")}), List({List({Variant("1"), Variant("2")})}))) << c.script;
    EXPECT_EQ(status_, c.status) << c.script;
    EXPECT_EQ(sim.Received(), c.lines) << c.script;
  }
}

TEST_F(SnppChannel, FailedConnectionsAndErrorsMakeItFalse) {
  SnppSim sim;
  struct Case {
    std::string port, host;
    Variant notes, pagers;
    std::string last_error, status;
  } cases[] = {
      {"1", "", List({Variant("m")}), List({List({Variant("1")})}),
       "Failure to Connect to SNPP Server at", "Failure to Connect to SNPP Server at"},
      {"abc", "127.0.0.1", List({Variant("m")}), List({List({Variant("1")})}), "Type mismatch",
       "Type mismatch"},
      // Fewer recipient lists than messages: the second message fails after the first was paged.
      {sim.PortText(), "127.0.0.1", List({Variant("m0"), Variant("m1")}),
       List({List({Variant("1")})}), "Subscript out of range.\r\n", "250 Message Sent OK\r\n"},
      {sim.PortText(), "127.0.0.1", List({Variant("m0")}), List({List({Variant::Null()})}),
       "Invalid use of Null.\r\n", "before"},
  };
  for (const auto& c : cases) {
    Configure(c.port, c.host);
    status_ = "before";
    EXPECT_FALSE(Page(c.notes, c.pagers)) << c.last_error;
    EXPECT_EQ(gstrLastError, c.last_error);
    EXPECT_EQ(status_, c.status);
  }
}

TEST_F(SnppChannel, GatewayTestAnswersTheServersStatus) {
  SnppSim sim("[2]\nreply PAGE 550 Error, Invalid Pager ID\n");
  Configure(sim.PortText(), "127.0.0.1", "1");
  GMainContext* context = g_main_context_new();
  GatewayTable channels = BuiltInGateways();
  FakeSeat seat(false);
  ServerEnvironment env{folder_.path(), components_, channels, seat};
  {
    cNotify notify(env, context);
    EXPECT_EQ(notify.gvarTestGateway(1, "5551234").Text(), "250 Message Sent OK\r\n");
    EXPECT_EQ(notify.gvarTestGateway(1, "5551234").Text(), "550 Error, Invalid Pager ID\r\n")
        << "an unconfirmed page still answers the status";
    Configure("1", "");
    EXPECT_EQ(notify.gvarTestGateway(1, "5551234").Text(), "Failure to Connect to SNPP Server at")
        << "the stripped status, through gstrLastError";
  }
  g_main_context_unref(context);
  EXPECT_THAT(sim.Received(),
              ElementsAre("1 PAGE \"5551234\"", "1 MESSAGE \"This is Alert Test Message\"",
                          "1 SEND", "2 PAGE \"5551234\""));
}

}  // namespace
}  // namespace qz::testing
