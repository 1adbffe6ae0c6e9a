// The gateway test end to end: qznotesd on a private bus with the sample
// settings and the real gateway components, the terminal simulator on a
// pseudo-terminal as the pager terminal (gateway 0), the SNPP simulator (1)
// and Kannel with its fake SMS centre (2); asked over the bus and from the
// client. (The opt-in RFC 1861 mode meets a real Net::SNPP::Server in the
// retry tests.)
#include <gtest/gtest.h>

#include <tuple>

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
  EXPECT_EQ(client.Call(pager, kPager, "SendPage", g_variant_new("(ss)", "1", "m")).Print(),
            "(false,)");
  EXPECT_TRUE(snpp.Events().empty());

  const std::string test = "This is Alert Test Message";
  const std::string refused =
      "the terminal accepted 0 of 1 pages; not accepted: 2002 (Unknown pager); the terminal's "
      "last words: \"Unknown pager\".\r\n";
  const std::tuple<int16_t, const char*, std::string> cases[] = {
      // gateway, number, the answer
      {0, "1001", "Message Sent"},
      {0, "2002", refused},
      {1, "5551234", "250 Message Sent OK\r\n"},
      {2, "07700900123", "Message Sent"},  // Kannel confirmed it
  };
  for (const auto& [index, number, answer] : cases) {
    Answer a = client.Call(client.Create(), kNotify, "gvarTestGateway",
                           g_variant_new("(ns)", index, number), 120000);
    EXPECT_EQ(a.Text(), answer) << a.Print() << daemon.Log();
  }
  // The client prints the answer without its line end and exits by it.
  const CliResult cli = RunCli({"--address", bus.address(), "test-gateway", "0", "2002"});
  EXPECT_EQ(cli.out, refused.substr(0, refused.size() - 2) + "\n") << cli.Describe();
  EXPECT_EQ(cli.status, 1) << cli.Describe();
  EXPECT_EQ(tap.Pages(), "1001 " + test);
  EXPECT_EQ(snpp.Received(), "1 PAGE \"5551234\"; 1 MESSAGE \"" + test + "\"; 1 SEND");
  EXPECT_EQ(folder.Read("QzNotesLog.log"), "") << "the gateway test is no request";
}

}  // namespace
}  // namespace qz::testing
