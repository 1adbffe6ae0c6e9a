// The SNPP channel and its client against the SNPP simulator on loopback,
// seen as the channel's callers see them: the lines on the wire, the status
// left behind, the result and how long the call took. Time bounds are
// generous (a loaded machine) and only check that a wait ran to its limit or
// ended well before it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "gateways/snpp/snpp_channel.h"
#include "gateways/snpp/snpp_socket.h"
#include "support/flooding_peer.h"
#include "support/snpp_sim.h"
#include "support/temp_folder.h"
#include "unit/fakes.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class SnppChannel : public ::testing::Test {
 protected:
  void Configure(const std::string& port, const std::string& more = "Timeout=2\n",
                 const std::string& host = "127.0.0.1") {
    folder_.Write("QzSNPP.ini", "[SNPP Paging Service]\r\nTCPPort=" + port +
                                    "\r\nHostName=" + host + "\r\n" + more);
  }
  // The channel's answer; `took` is how long it took in seconds.
  bool Page(const Variant& notes, const Variant& pagers) {
    status_ = "before";
    gstrLastError = "earlier";
    parts_ = {};
    const auto start = Clock::now();
    const bool sent = mblnPagingIP(call_, notes, pagers);
    took = std::chrono::duration<double>(Clock::now() - start).count();
    return sent;
  }

  TempFolder folder_;
  ComponentRegistry components_;
  std::string status_;
  GatewayStates kept_;
  DeliveryParts parts_;
  ChannelCall call_{folder_.path(), components_, "", "", "", "", status_, kept_, nullptr, &parts_};
  double took = 0;
};

// The words of `text`, separated by blanks.
Variant Ids(const std::string& text) {
  std::vector<Variant> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.emplace_back(word);
  return List({Variant::Array(words)});
}

// One message "m" per case: the status it leaves, what the server received,
// how many waits ran to their limit (2 s each), and how the pages were
// sorted where that is given. An unconfirmed page is no failure of the
// channel, nor is a server gone (the rest is not tried). Only RFC 1861
// replies tell a refusal (5xx) from a "not now" (4xx).
TEST_F(SnppChannel, RepliesAndWaits) {
  const std::string two = "Timeout=2\n", rfc = two + "Protocol=rfc1861\n";
  const std::string all = "1 PAGE \"7\"; 1 MESSAGE \"m\"; 1 SEND",
                    two_lines = "1 PAGE \"7\"; 1 MESSAGE \"m\"";
  const struct {
    const char *script, *ids;
    std::string ini, status, lines;
    int waits;
    std::string parts = "";  // per page: s(ent), t(ransient), p(ermanent)
  } cases[] = {
      {"", "7", two, "250 Message Sent OK\r\n", all, 0},
      // An error reply triggers nothing; the status is stripped of blanks around it.
      {"reply PAGE \\x20\\x20550 Error, Invalid Pager ID\\x20\n", "1 2", two,
       "550 Error, Invalid Pager ID \r\n", "1 PAGE \"1\"; 1 PAGE \"2\"", 2, "tt"},
      // A reply split over two blocks is not recognised.
      {"split SEND 400\n", "7", two, "e Sent OK\r\n", all, 1},
      {"close-after 1\n", "7 8", two, "250 Message Sent OK\r\n", all, 0},
      {"close-on PAGE\n", "7 8", two, "220 SNPP Gateway Ready\r\n", "1 PAGE \"7\"", 1},
      {"reset MESSAGE\n", "7 8", two, "Connection reset by peer", two_lines, 0},
      // A negative timeout returns at once; the PAGE line went out anyway.
      {"delay PAGE 1500\n", "7", "Timeout=-1\n", "220 SNPP Gateway Ready\r\n", "1 PAGE \"7\"", 0},
      // RFC 1861: any 2xx greeting; a split reply is put together; 4xx ends
      // the wait at once; 960 counts as sent; another 2xx after PAGE does not.
      {"greeting 220 other.example SNPP server ready\nsplit SEND 300\n", "7", rfc,
       "250 Message Sent OK\r\n", "1 PAGE 7; 1 MESS m; 1 SEND; 1 QUIT", 0},
      {"reply MESS 421 Too busy\n", "7", rfc, "421 Too busy\r\n", "1 PAGE 7; 1 MESS m; 1 QUIT", 0,
       "t"},
      {"reply PAGE 550 Invalid Pager ID\n", "7 8", rfc, "550 Invalid Pager ID\r\n",
       "1 PAGE 7; 1 PAGE 8; 1 QUIT", 0, "pp"},
      {"reply SEND 960 1 2 OK, QUEUED\n", "7", rfc, "960 1 2 OK, QUEUED\r\n",
       "1 PAGE 7; 1 MESS m; 1 SEND; 1 QUIT", 0},
      {"reply PAGE 214 else\n", "7", rfc, "214 else\r\n", "1 PAGE 7; 1 QUIT", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    SnppSim sim(c.script);
    Configure(sim.PortText(), c.ini);
    EXPECT_TRUE(Page(List({"m"}), Ids(c.ids)));
    EXPECT_EQ(gstrLastError, "");
    EXPECT_EQ(status_, c.status);
    ASSERT_TRUE(sim.WaitFor("close", 1, 10s)) << "the connection ends with the call";
    EXPECT_EQ(sim.Received(), c.lines);
    EXPECT_TRUE(took > 1.4 * c.waits && took < (c.waits ? 6.0 * c.waits + 2.0 : 1.5)) << took;
    if (c.parts.empty()) continue;
    std::string parts;
    for (const DeliveredPart& part : parts_.parts())
      parts += part.state == PartState::kSent        ? 's'
               : part.state == PartState::kTransient ? 't'
                                                     : 'p';
    EXPECT_EQ(parts, c.parts);
  }
}

// A gateway that greets and then never stops talking, in one endless line or
// in replies that never answer PAGE, holds the call only for the Timeout (2 s);
// what it said last is kept, one block at most.
TEST_F(SnppChannel, FloodingGatewayHoldsTheCallOnlyForTheTimeout) {
  const struct {
    const char *ini, *pattern;
    ::testing::Matcher<std::string> status;
  } cases[] = {
      {"Timeout=2\n", "x",
       ::testing::AllOf(::testing::StartsWith("x"),
                        ::testing::SizeIs(::testing::Le(qz::SnppSocket::kMaxBlock)))},
      {"Timeout=2\nProtocol=rfc1861\n", "214 still here\r\n", "214 still here\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    FloodingPeer gateway(FloodingPeer::Kind::kLoopback,
                         {"220 SNPP Gateway Ready\r\n", "", c.pattern});
    Configure(gateway.PortText(), c.ini);
    EXPECT_TRUE(Page(List({"m"}), Ids("7")));
    EXPECT_THAT(status_, c.status);
    EXPECT_TRUE(took > 1.4 && took < 8.0) << took;
    EXPECT_GT(gateway.flooded(), 0u);
  }
}

TEST_F(SnppChannel, MessagesOuterIdentifiersInnerOverOneConnection) {
  SnppSim sim;
  Configure(sim.PortText());
  EXPECT_TRUE(Page(List({"disk\r\nfull", "cpu hot"}),
                   List({List({" 100 ", Variant(), "101"}), List({"102"})})));
  ASSERT_TRUE(sim.WaitFor("close", 1, 10s));
  EXPECT_EQ(sim.Received(),
            "1 PAGE \"100\"; 1 MESSAGE \"disk full\"; 1 SEND; 1 PAGE \"101\"; 1 MESSAGE \"disk "
            "full\"; 1 SEND; 1 PAGE \"102\"; 1 MESSAGE \"cpu hot\"; 1 SEND");
  // Latin-1 on the wire; a line break never starts a second command.
  EXPECT_TRUE(Page(List({"caf\xC3\xA9 \xE2\x82\xAC"}), List({List({"1\r\nSEND"})})));
  ASSERT_TRUE(sim.WaitFor("close", 2, 10s));
  EXPECT_THAT(sim.Received(),
              ::testing::EndsWith("; 2 PAGE \"1  SEND\"; 2 MESSAGE \"caf\\xE9 ?\"; 2 SEND"));
  // Names and IPv6 are resolved.
  SnppSim v6("", "::1");
  for (const auto& [port, host] :
       {std::pair{sim.PortText(), "localhost"}, {v6.PortText(), "::1"}}) {
    Configure(port, "Timeout=2\n", host);
    EXPECT_TRUE(Page(List({"m"}), List({List({"1"})})));
    EXPECT_EQ(status_, "250 Message Sent OK\r\n") << host;
  }
}

// A failed connection is the failure: its stripped status is also the text.
TEST_F(SnppChannel, ConnectFailuresSayWhy) {
  SnppSim silent("greeting none\n");
  const std::string nobody = std::to_string(FreeLoopbackPort());  // nobody listens there
  const std::string not_listening = "Wrong Gateway. SNPP Server is not listening on port ";
  const struct {
    std::string port, host, status;
    bool waits_out;  // the whole connect limit passes
  } cases[] = {
      {silent.PortText(), "127.0.0.1", not_listening + silent.PortText(), true},
      {nobody, "127.0.0.1", "Failure to Connect to SNPP Server at 127.0.0.1", false},
      {silent.PortText(), "", "Failure to Connect to SNPP Server at", false},
      {"abc", "127.0.0.1", "Type mismatch", false},
      {"0", "127.0.0.1", "Invalid property value", false},
      {"65536", "127.0.0.1", "Invalid property value", false},
  };
  for (const auto& c : cases) {
    Configure(c.port, "Timeout=2\n", c.host);
    EXPECT_FALSE(Page(List({"m"}), List({List({"1"})})));
    EXPECT_EQ(status_, c.status);
    EXPECT_EQ(gstrLastError, c.status);
    EXPECT_TRUE(c.waits_out ? took > 4.4 && took < 12.0 : took < 4.0) << c.status << took;
  }
  EXPECT_TRUE(silent.WaitFor("open", 1, 1s)) << "the connection without a greeting was made";
}

}  // namespace
}  // namespace qz::testing
