// The gateway test end to end: qznotesd on a private bus with the sample
// settings and the real gateway components, the terminal simulator on a
// pseudo-terminal as the pager terminal (gateway 0), the SNPP simulator (1)
// and Kannel with its fake SMS centre (2); asked over the bus and from the
// client. (The opt-in RFC 1861 mode meets a real Net::SNPP::Server in the
// retry tests.)
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "config/profile_string.h"
#include "daemon_harness.h"
#include "support/kannel_gateway.h"
#include "support/snpp_sim.h"
#include "tap_sim_process.h"

namespace qz::testing {
namespace {

TEST(PagingDaemon, GatewayTestPagesTheTestMessageAndAnswersWhatHappened) {
  KannelGateway kannel;
  PrivateBus bus;
  ProgramFolder folder;
  TapSimulator tap(folder.path(), "refuse 2002 Unknown pager\n");
  SnppSim snpp;
  const std::string ini = (folder.path() / "QzNotes.ini").string();
  ASSERT_TRUE(mblnWritePrivateProfileString(ini, "Pager Terminal", "ComPort", tap.link().string()));
  ASSERT_TRUE(mblnWritePrivateProfileString(ini, "SMS", "IPAddress", kannel.sendsms_address()));
  ASSERT_TRUE(mblnWritePrivateProfileString(
      ini, "SMSMapping", "SMSTrailer",
      std::string("username=") + KannelGateway::kUser + "&password=" + KannelGateway::kPassword));
  folder.UseSnpp(snpp.port(), 5);
  Daemon daemon(bus, folder.path(), {"--linger", "60"});
  Client client(bus);

  // A pager object made by a client has no settings: nothing reaches a gateway.
  constexpr const char* kPager = "org.qznotes.QzNotes._cPager";
  const std::string pager = client.Create("QzNotes.cPager");
  ASSERT_FALSE(pager.empty());
  EXPECT_EQ(client.Call(pager, kPager, "Connect", nullptr).Print(), "(false,)");
  EXPECT_EQ(client.Call(pager, kPager, "SendPage", g_variant_new("(ss)", "1", "m")).Print(),
            "(false,)");
  EXPECT_EQ(
      client.Call(pager, kDispatch, "Invoke", g_variant_new_parsed("(1610809349, @av [])")).Print(),
      "(<false>, @av [])");
  EXPECT_TRUE(snpp.Events().empty());

  const std::string test = "This is Alert Test Message";
  const struct {
    int16_t index;
    const char* number;
    std::string answer;  // of the bus call; the client prints it without its line end
    int status;
  } cases[] = {
      {0, "1001", "Message Sent", 0},
      {0, "2002",
       "the terminal accepted 0 of 1 pages; not accepted: 2002 (Unknown pager); the terminal's "
       "last words: \"Unknown pager\".\r\n",
       1},
      {1, "5551234", "250 Message Sent OK\r\n", 0},
      {2, "07700900123", "Message Sent", 0},  // Kannel confirmed it
  };
  for (const auto& c : cases) {
    Answer a = client.Call(client.Create(), kNotify, "gvarTestGateway",
                           g_variant_new("(ns)", c.index, c.number), 120000);
    EXPECT_EQ(a.Text(), c.answer) << a.Print() << daemon.Log();
    const CliResult cli =
        RunCli({"--address", bus.address(), "test-gateway", std::to_string(c.index), c.number});
    std::string line = c.answer;
    while (line.ends_with('\n') || line.ends_with('\r')) line.pop_back();
    EXPECT_EQ(cli.out, line + "\n") << cli.Describe();
    EXPECT_EQ(cli.status, c.status) << cli.Describe();
  }
  EXPECT_EQ(tap.Pages(), "1001 " + test + "; 1001 " + test);
  EXPECT_EQ(snpp.Received(), "1 PAGE \"5551234\"; 1 MESSAGE \"" + test + "\"; 1 SEND; " +
                                 "2 PAGE \"5551234\"; 2 MESSAGE \"" + test + "\"; 2 SEND");
  EXPECT_EQ(folder.Read("QzNotesLog.log"), "") << "the gateway test is no request";
}

}  // namespace
}  // namespace qz::testing
