// A page through qznotesd with the SMS gateway as default gateway (Index=2),
// on a private bus, delivered by Kannel to its fake SMS centre, and the
// gateway test through the same Kannel; the sample QzNotes.ini is used as
// shipped but for the gateway's port and password.
#include <gtest/gtest.h>

#include <memory>

#include <fstream>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "support/kannel_gateway.h"

namespace qz::testing {
namespace {

class SmsDaemonTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { kannel_ = std::make_unique<KannelGateway>(); }
  static void TearDownTestSuite() { kannel_.reset(); }

  // The sample settings aimed at the test's Kannel with `password`.
  void UseSmsGateway(const std::string& password) {
    const std::filesystem::path file = folder_.path() / "QzNotes.ini";
    std::string text = folder_.Read("QzNotes.ini");
    auto replace_all = [&](const std::string& from, const std::string& to) {
      for (size_t at = text.find(from); at != std::string::npos;
           at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    };
    replace_all("Index=0", "Index=2");
    replace_all("IPAddress=127.0.0.1:13013", "IPAddress=" + kannel_->sendsms_address());
    replace_all("username=qznotes&password=change-me",
                std::string("username=") + KannelGateway::kUser + "&password=" + password);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  }

  static inline std::unique_ptr<KannelGateway> kannel_;
  PrivateBus bus_;
  ProgramFolder folder_;
};

TEST_F(SmsDaemonTest, PageArrivesAtTheSmsCentreAndTheClientIsCalledBack) {
  UseSmsGateway(KannelGateway::kPassword);
  Daemon daemon(bus_, folder_.path(), {"--linger", "30"});
  Client client(bus_);
  const size_t before = kannel_->Received().size();
  Answer a =
      client.Call(client.Create(), kNotify, "SendMessageCallBack",
                  g_variant_new("(@v@v@v@v(so)s)", OneGroup("Disk full & 95% used"), Marker(0),
                                OnePager("07700900123"), Marker(0), "", "/callback", "SMS-1"));
  EXPECT_EQ(a.Print(), "(<'Notes Server: Asynch mode'>,)");
  auto& got = client.WaitForCallbacks(1, std::chrono::seconds(60));
  ASSERT_EQ(got.size(), 1u) << daemon.Log();
  EXPECT_EQ(got[0], (std::pair<std::string, std::string>{"SMS-1", "QzNotes: Message Sent"}));
  auto received = kannel_->WaitForMessages(before + 1);
  ASSERT_EQ(received.size(), before + 1);
  EXPECT_EQ(received.back(), (SmscMessage{"Monitor", "+447700900123", "Disk full & 95% used"}));
}

TEST_F(SmsDaemonTest, GatewayTestSendsTheTestMessageAndAnswersWhatHappened) {
  Daemon daemon(bus_, folder_.path(), {"--linger", "60"});
  Client client(bus_);
  const std::filesystem::path ini = folder_.path() / "QzNotes.ini";
  const std::string shipped = folder_.Read("QzNotes.ini");
  struct Case {
    const char* password;  // of the settings; nullptr: no QzNotes.ini at all
    const char* number;
    const char* answer;
    int status;
    bool delivered;
  } cases[] = {
      {"wrong", "0123", "SMS to 0123 is undelivered. Authorization failed for sendsms", 1, false},
      {nullptr, "0123", "Failed to initialize SMS Settings", 1, false},
      {KannelGateway::kPassword, "07700900123", "Message Sent", 0, true},
  };
  const size_t before = kannel_->Received().size();
  size_t expected_count = before;
  for (const auto& c : cases) {
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << shipped;
    if (c.password)
      UseSmsGateway(c.password);
    else
      std::filesystem::remove(ini);
    Answer a = client.Call(client.Create(), kNotify, "gvarTestGateway",
                           g_variant_new("(ns)", int16_t{2}, c.number), 120000);
    EXPECT_EQ(a.Text(), c.answer) << a.Print() << "\n" << daemon.Log();
    CliResult cli = RunCli({"--address", bus_.address(), "test-gateway", "2", c.number});
    EXPECT_EQ(cli.out, std::string(c.answer) + "\n") << cli.Describe();
    EXPECT_EQ(cli.status, c.status) << cli.Describe();
    if (c.delivered) expected_count += 2;
  }
  // Only the accepted tests reached the centre, each with the test message.
  const std::vector<SmscMessage> received = kannel_->WaitForMessages(expected_count);
  ASSERT_EQ(received.size(), expected_count);
  for (size_t i = before; i < received.size(); ++i)
    EXPECT_EQ(received[i], (SmscMessage{"Monitor", "+447700900123", "This is Alert Test Message"}));
  // The gateway test is no request: nothing is logged.
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), "");
}

}  // namespace
}  // namespace qz::testing
