// The opt-in RFC 1861 dialogue: against Net::SNPP::Server (a real RFC 1861
// gateway, run by the test on loopback) and against the simulator for the
// replies that server never gives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <string>

#include "automation/component_registry.h"
#include "cli_runner.h"
#include "daemon_harness.h"
#include "diagnostics/last_error.h"
#include "gateways/snpp/c_pager.h"
#include "gateways/snpp/snpp_channel.h"
#include "rfc1861_gateway.h"
#include "support/snpp_sim.h"
#include "support/temp_folder.h"
#include "unit/fakes.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

class Rfc1861 : public ::testing::Test {
 protected:
  void Configure(int port, const std::string& timeout = "10") {
    folder_.Write("QzSNPP.ini", "[SNPP Paging Service]\nTCPPort=" + std::to_string(port) +
                                    "\nHostName=127.0.0.1\nTimeout=" + timeout +
                                    "\nProtocol=rfc1861\n");
  }
  TempFolder folder_;
  ComponentRegistry components_;
  std::string status_;
  SmsSettings sms_;
  ChannelCall call_{folder_.path(), components_, "", "", "", "", status_, sms_};
};

TEST_F(Rfc1861, ChannelPagesThroughNetSnppServer) {
  PerlGateway gateway;
  ASSERT_NE(gateway.port(), 0) << "Net::SNPP::Server did not start (libnet-snpp-perl)";
  Configure(gateway.port());
  gstrLastError.clear();
  auto start = Clock::now();
  EXPECT_TRUE(mblnPagingIP(
      call_, List({Variant("disk full"), Variant("cpu hot")}),
      List({List({Variant(" 5551234 "), Variant("5559876")}), List({Variant("5551234")})})));
  EXPECT_LT(Seconds(start), 5.0) << "no wait ran to its limit";
  EXPECT_EQ(gstrLastError, "");
  EXPECT_EQ(status_, "250 Message Sent Successfully\r\n");
  EXPECT_THAT(
      gateway.Lines("PAGED"),
      ElementsAre("PAGED 5551234 disk full", "PAGED 5559876 disk full", "PAGED 5551234 cpu hot"));
  auto commands = gateway.Lines("LOG debug processing command");
  ASSERT_FALSE(commands.empty());
  EXPECT_THAT(commands.front(), HasSubstr("'PAGE 5551234'")) << "no quotation marks";
  EXPECT_THAT(commands.back(), HasSubstr("'QUIT")) << "QUIT before the connection closes";
}

TEST_F(Rfc1861, ErrorReplyEndsTheWaitAtOnceAndTheNextIdentifierGoesOn) {
  PerlGateway gateway;
  ASSERT_NE(gateway.port(), 0);
  cPager pager;
  pager.HostName("127.0.0.1");
  pager.Port(std::to_string(gateway.port()));
  pager.Timeout("20");
  pager.Protocol("RFC1861");
  ASSERT_TRUE(pager.Connect());
  auto start = Clock::now();
  EXPECT_FALSE(pager.SendPage("12", "too short an id"));
  EXPECT_LT(Seconds(start), 5.0);
  EXPECT_EQ(pager.StatusText(), "550 Error, Invalid Pager ID\r\n");
  EXPECT_TRUE(pager.SendPage("5551234", "after the error"));
  EXPECT_EQ(pager.StatusText(), "250 Message Sent Successfully\r\n");
}

TEST_F(Rfc1861, RepliesByCodeNotByText) {
  struct Case {
    const char* script;
    bool sent;
    const char* status;
    bool quick;
    const char* why;
  } cases[] = {
      {"greeting 220 other.example SNPP server ready\nsplit SEND 300\n", true,
       "250 Message Sent OK\r\n", true,
       "any 2xx greeting; a reply split over two blocks is put together"},
      {"reply MESS 421 Too busy, try later\n", false, "421 Too busy, try later\r\n", true,
       "4xx ends the wait at once"},
      {"reply SEND 960 1 2 OK, Message QUEUED for Delivery\n", true,
       "960 1 2 OK, Message QUEUED for Delivery\r\n", true, "960 counts as sent"},
      {"reply PAGE 214 something else\n", false, "214 something else\r\n", false,
       "another 2xx after PAGE sends nothing"},
  };
  for (const auto& c : cases) {
    SnppSim sim(c.script);
    cPager pager;
    pager.HostName("127.0.0.1");
    pager.Port(sim.PortText());
    pager.Timeout("2");
    pager.Protocol("RFC1861");
    ASSERT_TRUE(pager.Connect()) << c.why;
    auto start = Clock::now();
    EXPECT_EQ(pager.SendPage("1", "m"), c.sent) << c.why;
    if (c.quick)
      EXPECT_LT(Seconds(start), 1.5) << c.why;
    else
      EXPECT_GT(Seconds(start), 1.4) << c.why;
    EXPECT_EQ(pager.StatusText(), c.status) << c.why;
  }
}

// The whole way: a request with Index=1 through qznotesd, then the gateway
// test from the client, both paged through Net::SNPP::Server.
TEST(Rfc1861Daemon, RequestAndGatewayTestArePagedThroughNetSnppServer) {
  PerlGateway gateway;
  ASSERT_NE(gateway.port(), 0) << "Net::SNPP::Server did not start (libnet-snpp-perl)";
  PrivateBus bus;
  ProgramFolder folder;
  std::string ini =
      std::regex_replace(folder.Read("QzNotes.ini"), std::regex("\nIndex=0"), "\nIndex=1");
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::binary) << ini;
  std::ofstream(folder.path() / "QzSNPP.ini", std::ios::binary)
      << "[SNPP Paging Service]\nTCPPort=" << gateway.port()
      << "\nHostName=127.0.0.1\nTimeout=10\nProtocol=RFC1861\n";
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);

  GVariant* notes = g_variant_new_parsed("<[<['disk full']>]>");
  GVariant* pagers = g_variant_new_parsed("<[<[<['5551234', '5559876']>]>]>");
  Answer a = client.Call(client.Create(), kNotify, "SendMessageCallBack",
                         g_variant_new("(@v@v@v@v(so)s)", notes, Marker(0), pagers, Marker(0), "",
                                       "/callback", "T-rfc"));
  EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
  auto& got = client.WaitForCallbacks(1, 60s);
  ASSERT_EQ(got.size(), 1u) << daemon.Log();
  EXPECT_EQ(got[0].second, "QzNotes: Message Sent");
  EXPECT_THAT(gateway.Lines("PAGED"),
              ElementsAre("PAGED 5551234 disk full", "PAGED 5559876 disk full"));

  CliResult test = RunCli({"--address", bus.address(), "test-gateway", "1", "5550000"});
  EXPECT_EQ(test.status, 0) << test.Describe();
  EXPECT_EQ(test.out, "250 Message Sent Successfully\n");
  EXPECT_THAT(gateway.Lines("PAGED", 2),
              ::testing::Contains("PAGED 5550000 This is Alert Test Message"));
}

}  // namespace
}  // namespace qz::testing
