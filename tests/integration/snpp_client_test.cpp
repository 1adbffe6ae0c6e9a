// cPager against the SNPP simulator on loopback: the lines on the wire, the
// status, the result and how long each wait took. Time bounds are generous
// (a loaded machine) and only check that a wait ran to its limit or ended
// well before it.
#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

#include "diagnostics/last_error.h"
#include "gateways/snpp/c_pager.h"
#include "support/child_process.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::unique_ptr<cPager> PagerFor(const SnppSim& sim, const std::string& timeout = "3",
                                 const std::string& host = "127.0.0.1") {
  auto pager = std::make_unique<cPager>();
  pager->HostName(host);
  pager->Port(sim.PortText());
  pager->Timeout(timeout);
  return pager;
}

TEST(SnppClient, PagesGoOverOneConnectionAsPageMessageSend) {
  SnppSim sim;
  auto pager = PagerFor(sim);
  auto start = Clock::now();
  ASSERT_TRUE(pager->Connect());
  EXPECT_EQ(pager->StatusText(), "220 SNPP Gateway Ready\r\n");
  EXPECT_TRUE(pager->IsSocketConnected());
  EXPECT_TRUE(pager->SendPage("\"100\"", "\"disk full\""));
  EXPECT_EQ(pager->StatusText(), "250 Message Sent OK\r\n");
  EXPECT_TRUE(pager->SendPage("\"101\"", "\"caf\xC3\xA9 \xE2\x82\xAC\""));
  EXPECT_LT(Seconds(start), 4.5) << "every wait ended at its reply";
  pager.reset();
  ASSERT_TRUE(sim.WaitFor("close", 1, 10s));
  EXPECT_THAT(sim.Received(), ElementsAre("1 PAGE \"100\"", "1 MESSAGE \"disk full\"", "1 SEND",
                                          "1 PAGE \"101\"", "1 MESSAGE \"caf\\xE9 ?\"", "1 SEND"));
}

TEST(SnppClient, ConnectFailuresSayWhy) {
  SnppSim silent("greeting none\n");
  SnppSim wrong("greeting 220 Some Other Gateway\n");
  SnppSim late("greeting-delay 8000\n");
  const int refused = FreeLoopbackPort();  // nobody listens there
  struct Case {
    std::string host, port;
    std::string status;
    std::string last_error;  // what the error reporter left, if anything
    bool waits_out;          // the whole connect limit passes
  } cases[] = {
      {"127.0.0.1", silent.PortText(),
       "Wrong Gateway. SNPP Server is not listening on port " + silent.PortText(), "", true},
      {"127.0.0.1", wrong.PortText(),
       "Wrong Gateway. SNPP Server is not listening on port " + wrong.PortText(), "", true},
      {"127.0.0.1", late.PortText(),
       "Wrong Gateway. SNPP Server is not listening on port " + late.PortText(), "", true},
      {"127.0.0.1", std::to_string(refused), "Failure to Connect to SNPP Server at 127.0.0.1", "",
       false},
      {"", silent.PortText(), "Failure to Connect to SNPP Server at ", "", false},
      {"127.0.0.1", "abc", "Type mismatch", "Type mismatch.\r\n", false},
      {"127.0.0.1", "", "Type mismatch", "Type mismatch.\r\n", false},
      {"127.0.0.1", "0", "Invalid property value", "Invalid property value.\r\n", false},
      {"127.0.0.1", "-1", "Invalid property value", "Invalid property value.\r\n", false},
      {"127.0.0.1", "65536", "Invalid property value", "Invalid property value.\r\n", false},
  };
  for (const auto& c : cases) {
    gstrLastError.clear();
    cPager pager;
    pager.HostName(c.host);
    pager.Port(c.port);
    auto start = Clock::now();
    EXPECT_FALSE(pager.Connect()) << c.status;
    double took = Seconds(start);
    EXPECT_EQ(pager.StatusText(), c.status);
    EXPECT_EQ(gstrLastError, c.last_error) << c.status;
    if (c.waits_out) {
      EXPECT_GT(took, 4.4) << c.status;
      EXPECT_LT(took, 12.0) << c.status;
    } else {
      EXPECT_LT(took, 4.0) << c.status;
    }
  }
  // The connection without a greeting is left open.
  EXPECT_TRUE(silent.WaitFor("open", 1, 1s));
}

TEST(SnppClient, SecondConnectNeedsItsOwnGreeting) {
  SnppSim sim("[2]\ngreeting none\n");
  auto pager = PagerFor(sim);
  ASSERT_TRUE(pager->Connect());
  EXPECT_FALSE(pager->Connect());
  EXPECT_EQ(pager->StatusText(),
            "Wrong Gateway. SNPP Server is not listening on port " + sim.PortText());
  ASSERT_TRUE(sim.WaitFor("close", 1, 10s))
      << "the first connection was closed by the second Connect";
}

TEST(SnppClient, NamesAndIpv6AreResolved) {
  SnppSim v6("", "::1");
  EXPECT_TRUE(PagerFor(v6, "3", "::1")->Connect()) << "IPv6 loopback";
  SnppSim v4;
  EXPECT_TRUE(PagerFor(v4, "3", "localhost")->Connect()) << "a name from the hosts file";
}

TEST(SnppClient, RepliesThatDoNotConfirmWaitOutTheTimeout) {
  struct Case {
    const char* script;
    std::string status;
    std::vector<std::string> lines;
    const char* why;
  } cases[] = {
      {"reply PAGE 550 Error, Invalid Pager ID\n",
       "550 Error, Invalid Pager ID\r\n",
       {"1 PAGE \"7\""},
       "an error reply triggers nothing"},
      {"reply MESSAGE 421 Too busy\n",
       "421 Too busy\r\n",
       {"1 PAGE \"7\"", "1 MESSAGE \"m\""},
       "421 after MESSAGE"},
      {"reply SEND 554 Error, failed\n",
       "554 Error, failed\r\n",
       {"1 PAGE \"7\"", "1 MESSAGE \"m\"", "1 SEND"},
       "554 after SEND"},
      {"split SEND 400\n",
       "e Sent OK\r\n",
       {"1 PAGE \"7\"", "1 MESSAGE \"m\"", "1 SEND"},
       "a reply split over two blocks is not recognised"},
      {"reply PAGE 250 Pager ID Accepted\\r\\n250 Message OK\nreply MESSAGE none\n",
       "250 Pager ID Accepted\r\n250 Message OK\r\n",
       {"1 PAGE \"7\"", "1 MESSAGE \"m\""},
       "two replies in one block send only the MESSAGE line"},
      {"reply SEND 250 Message Sent Successfully\n",
       "250 Message Sent Successfully\r\n",
       {"1 PAGE \"7\"", "1 MESSAGE \"m\"", "1 SEND"},
       "RFC wording is not the fixed text"},
  };
  for (const auto& c : cases) {
    SnppSim sim(c.script);
    auto pager = PagerFor(sim, "2");
    ASSERT_TRUE(pager->Connect()) << c.why;
    auto start = Clock::now();
    EXPECT_FALSE(pager->SendPage("\"7\"", "\"m\"")) << c.why;
    double took = Seconds(start);
    EXPECT_GT(took, 1.4) << c.why;
    EXPECT_LT(took, 8.0) << c.why;
    EXPECT_EQ(pager->StatusText(), c.status) << c.why;
    EXPECT_EQ(sim.Received(), c.lines) << c.why;
  }
}

TEST(SnppClient, TimeoutArithmeticOnTheWire) {
  SnppSim sim("delay PAGE 1500\n");
  auto pager = PagerFor(sim, "-1");
  ASSERT_TRUE(pager->Connect());
  auto start = Clock::now();
  EXPECT_FALSE(pager->SendPage("\"1\"", "\"m\""));
  EXPECT_LT(Seconds(start), 1.0) << "a negative timeout returns at once";
  ASSERT_TRUE(sim.WaitFor("sent", 2, 10s)) << "the PAGE line went out anyway";
  // The late acceptance acts at the next wait: MESSAGE goes out with that
  // wait's message text.
  pager->Timeout("4");
  EXPECT_TRUE(pager->SendPage("\"2\"", "\"second\""));
  auto lines = sim.Received();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1 PAGE \"1\"");
  EXPECT_EQ(lines[1], "1 PAGE \"2\"");
  EXPECT_EQ(lines[2], "1 MESSAGE \"second\"");

  SnppSim quiet("reply PAGE none\n");
  auto zero = PagerFor(quiet, "0");
  ASSERT_TRUE(zero->Connect());
  start = Clock::now();
  EXPECT_FALSE(zero->SendPage("\"1\"", "\"m\""));
  EXPECT_LT(Seconds(start), 1.5) << "timeout 0 waits less than half a second";
}

TEST(SnppClient, UnsetTimeoutFailsAfterThePageLine) {
  SnppSim sim;
  cPager pager;
  pager.HostName("127.0.0.1");
  pager.Port(sim.PortText());
  ASSERT_TRUE(pager.Connect());
  gstrLastError.clear();
  EXPECT_FALSE(pager.SendPage("\"1\"", "\"m\""));
  EXPECT_EQ(gstrLastError, "Type mismatch.\r\n");
  ASSERT_TRUE(sim.WaitFor("recv", 1, 10s));
  EXPECT_EQ(sim.Received().front(), "1 PAGE \"1\"");
}

TEST(SnppClient, PeerThatClosesIsNoticedWithoutSpinning) {
  struct Case {
    const char* script;
    const char* status_after_page;
    bool first_page_sent;
    bool waits_out;
  } cases[] = {
      {"close-after 1\n", "250 Message Sent OK\r\n", true, false},
      {"close-on PAGE\n", "220 SNPP Gateway Ready\r\n", false, true},
      {"reset MESSAGE\n", "Connection reset by peer", false, false},
  };
  for (const auto& c : cases) {
    SnppSim sim(c.script);
    auto pager = PagerFor(sim, "2");
    ASSERT_TRUE(pager->Connect()) << c.script;
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    auto start = Clock::now();
    EXPECT_EQ(pager->SendPage("\"1\"", "\"m\""), c.first_page_sent) << c.script;
    double took = Seconds(start);
    getrusage(RUSAGE_THREAD, &after);
    EXPECT_EQ(pager->StatusText(), c.status_after_page) << c.script;
    if (c.waits_out)
      EXPECT_GT(took, 1.4) << c.script;
    else
      EXPECT_LT(took, 1.5) << c.script;
    double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                 (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                 1e-6 * ((after.ru_utime.tv_usec - before.ru_utime.tv_usec) +
                         (after.ru_stime.tv_usec - before.ru_stime.tv_usec));
    EXPECT_LT(cpu, 0.5) << c.script << ": a closed peer must not make the wait spin";
    ASSERT_TRUE(sim.WaitFor("close", 1, 10s)) << c.script;
    EXPECT_FALSE(pager->IsSocketConnected()) << c.script;
    EXPECT_FALSE(pager->SendPage("\"2\"", "\"m\"")) << c.script;
    EXPECT_EQ(pager->StatusText(), "Connection error") << c.script;
  }
}

TEST(SnppClient, ReceivedBytesAreCleanedAndBounded) {
  SnppSim odd("reply SEND 250 Message Sent OK\\0\\xff\\xe9\n");
  auto pager = PagerFor(odd);
  ASSERT_TRUE(pager->Connect());
  EXPECT_TRUE(pager->SendPage("\"1\"", "\"m\""));
  std::string status = pager->StatusText();
  EXPECT_EQ(status, "250 Message Sent OK\0\xC3\xBF\xC3\xA9\r\n"s);
  const size_t nul = status.find('\0');
  EXPECT_TRUE(g_utf8_validate(status.data(), static_cast<gssize>(nul), nullptr));
  EXPECT_TRUE(g_utf8_validate(status.data() + nul + 1, static_cast<gssize>(status.size() - nul - 1),
                              nullptr));

  SnppSim flood("flood 10000000\n");
  auto flooded = PagerFor(flood, "1");
  auto start = Clock::now();
  EXPECT_TRUE(flooded->Connect()) << "the greeting came before the flood";
  EXPECT_LE(flooded->StatusText().size(), 2 * SnppSocket::kMaxBlock);
  // Whether the page gets through depends on how fast the flood drains;
  // either way every status is one bounded block.
  flooded->SendPage("\"1\"", "\"m\"");
  EXPECT_LE(flooded->StatusText().size(), 2 * SnppSocket::kMaxBlock)
      << "one block, UTF-8 at most doubling it";
  EXPECT_LT(Seconds(start), 12.0);
}

TEST(SnppClient, LineBreaksInAnIdentifierNeverStartASecondCommand) {
  SnppSim sim;
  auto pager = PagerFor(sim);
  ASSERT_TRUE(pager->Connect());
  EXPECT_TRUE(pager->SendPage("\"1\r\nSEND\"", "\"m\""));
  EXPECT_THAT(sim.Received(), ElementsAre("1 PAGE \"1  SEND\"", "1 MESSAGE \"m\"", "1 SEND"));
}

TEST(SnppClient, WithoutASocketNothingConnects) {
  cPager pager(nullptr);
  EXPECT_FALSE(pager.Connect());
  EXPECT_EQ(pager.StatusText(), "Failed to create Instance of SNPP Client Socket");
  EXPECT_FALSE(pager.IsSocketConnected());
  gstrLastError.clear();
  EXPECT_FALSE(pager.SendPage("1", "m"));
  EXPECT_EQ(gstrLastError, "Object variable or With block variable not set.\r\n");
}

}  // namespace
}  // namespace qz::testing
