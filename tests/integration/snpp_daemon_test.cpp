// SNPP paging end to end: qznotesd on a private bus with the SNPP gateway as
// default, the simulator as the gateway, and the qznotes client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

constexpr const char* kPager = "org.qznotes.QzNotes._cPager";

class SnppDaemon : public ::testing::Test {
 protected:
  SnppDaemon() : daemon_(bus_, folder_.path(), {"--linger", "60"}), client_(bus_) {
    const auto ini = folder_.path() / "QzNotes.ini";
    std::string text = folder_.Read("QzNotes.ini");
    text = std::regex_replace(text, std::regex("\nIndex=0"), "\nIndex=1");
    std::ofstream(ini, std::ios::binary) << text;
    UseGateway(sim_.PortText());
  }
  void UseGateway(const std::string& port) {
    std::ofstream(folder_.path() / "QzSNPP.ini", std::ios::binary)
        << "[SNPP Paging Service]\nTCPPort=" << port << "\nHostName=127.0.0.1\nTimeout=5\n";
  }

  SnppSim sim_;
  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
  Client client_;
};

TEST_F(SnppDaemon, RequestIsPagedOverOneConnectionAndCalledBack) {
  std::string path = client_.Create();
  GVariant* notes = g_variant_new_parsed("<[<['disk full', 'cpu hot', 'door open']>]>");
  GVariant* pagers =
      g_variant_new_parsed("<[<[<['100', '101']>, <['102', '103']>, <['104', '105']>]>]>");
  Answer a = client_.Call(path, kNotify, "SendMessageCallBack",
                          g_variant_new("(@v@v@v@v(so)s)", notes, Marker(0), pagers, Marker(0), "",
                                        "/callback", "T-snpp"));
  EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
  auto& got = client_.WaitForCallbacks(1, 60s);
  ASSERT_EQ(got.size(), 1u) << daemon_.Log();
  EXPECT_EQ(got[0], std::make_pair(std::string("T-snpp"), std::string("QzNotes: Message Sent")));
  ASSERT_TRUE(sim_.WaitFor("close", 1, 10s));
  std::vector<std::string> expected;
  const char* texts[] = {"disk full", "cpu hot", "door open"};
  for (int i = 0; i < 6; ++i) {
    expected.push_back("1 PAGE \"" + std::to_string(100 + i) + "\"");
    expected.push_back("1 MESSAGE \"" + std::string(texts[i / 2]) + "\"");
    expected.push_back("1 SEND");
  }
  EXPECT_EQ(sim_.Received(), expected) << "six exchanges over connection 1 only";
}

TEST_F(SnppDaemon, TestGatewayFromTheClient) {
  const std::vector<std::string> bus = {"--address", bus_.address()};
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), bus.begin(), bus.end());
    return RunCli(args);
  };
  CliResult sent = run({"test-gateway", "1", "5551234"});
  EXPECT_EQ(sent.status, 0) << sent.Describe();
  EXPECT_EQ(sent.out, "250 Message Sent OK\n");
  CliResult json = run({"--json", "test-gateway", "1", "5551234"});
  EXPECT_EQ(json.out, "{\"answer\":\"250 Message Sent OK\\r\\n\"}\n");
  EXPECT_THAT(sim_.Received(), ::testing::Contains("2 MESSAGE \"This is Alert Test Message\""));

  UseGateway("0");
  CliResult refused = run({"test-gateway", "1", "5551234"});
  EXPECT_EQ(refused.status, 1) << refused.Describe();
  EXPECT_EQ(refused.out, "Invalid property value\n");
  CliResult none = run({"test-gateway", "7", "5551234"});
  EXPECT_EQ(none.status, 1);
}

TEST_F(SnppDaemon, ClientCreatedPagerCannotBeConfigured) {
  std::string path = client_.Create("QzNotes.cPager");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(client_.Call(path, kPager, "Connect", nullptr).Print(), "(false,)");
  EXPECT_EQ(client_.Call(path, kPager, "IsSocketConnected", nullptr).Print(), "(false,)");
  EXPECT_EQ(client_.Call(path, kPager, "SendPage", g_variant_new("(ss)", "1", "m")).Print(),
            "(false,)");
  Answer invoked =
      client_.Call(path, kDispatch, "Invoke", g_variant_new_parsed("(1610809349, @av [])"));
  EXPECT_EQ(invoked.Print(), "(<false>, @av [])");
  EXPECT_TRUE(sim_.Events().empty()) << "nothing reached any gateway";
}

}  // namespace
}  // namespace qz::testing
