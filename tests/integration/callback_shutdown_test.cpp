// HTTP callbacks off the apartment threads, and stops that deliver or name
// every request they answered "Notes Server: Asynch mode": the real daemon
// on a private bus, real loopback listeners as callback hosts and gateways.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "contract/contract.h"
#include "daemon_harness.h"
#include "support/loopback_listener.h"

namespace qz::testing {
namespace {

using Mode = LoopbackListener::Mode;

// A one-message request called back by the callback component on `host`.
Answer SendRequestEx(Client& client, const std::string& path, const std::string& test_id,
                     const std::string& host) {
  return client.Call(
      path, kNotify, "SendMessageCallBackEx",
      g_variant_new("(@v@v@v@v@vs)", OneGroup("x"), Marker(0), OnePager("1"), Marker(0),
                    g_variant_new_variant(g_variant_new_string(host.c_str())), test_id.c_str()));
}

// The test identifiers the HTTP callbacks carried to `listener`.
std::set<std::string> PostedIds(const LoopbackListener& listener) {
  std::set<std::string> ids;
  static const std::regex id("\"testId\":\"([^\"]*)\"");
  for (const std::string& text : listener.Received())
    for (std::sregex_iterator m(text.begin(), text.end(), id), end; m != end; ++m)
      ids.insert((*m)[1]);
  return ids;
}

bool Named(const std::string& log, const std::string& test_id) {
  return log.find("request " + test_id + " of ") != std::string::npos ||
         log.find("callback of request " + test_id + " to ") != std::string::npos;
}

TEST(HttpCallbackTarpit, DoesNotHoldBackAnotherObjectsCallbackOnTheSameApartment) {
  LoopbackListener tarpit(Mode::kHold);
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30", "--apartments", "1"});
  Client client(bus);
  constexpr size_t kHeld = 8;
  for (size_t i = 0; i < kHeld; ++i) {
    std::string path = client.Create();
    ASSERT_TRUE(
        SendRequestEx(client, path, "held-" + std::to_string(i), "127.0.0.1:" + tarpit.PortText())
            .ok());
  }
  // Requested last, so its run comes after every held one on the one apartment.
  std::string other = client.Create();
  ASSERT_TRUE(SendRequest(client, other, "other").ok());
  auto& got = client.WaitForCallbacks(1, 60s);
  const size_t held_ended = tarpit.closed_by_peer();
  ASSERT_EQ(got.size(), 1u) << daemon.Log();
  EXPECT_EQ(got[0].first, "other");
  // Posted on the apartment, each held callback would have run out its time
  // limit before the other object's run began.
  EXPECT_LT(held_ended, kHeld);
  // They are still made, a few at a time, each with its own request.
  EXPECT_TRUE(tarpit.WaitUntil([&] { return PostedIds(tarpit).size() == kHeld; }, 120s))
      << daemon.Log();
  EXPECT_TRUE(PostedIds(tarpit).count("held-0"));
  EXPECT_TRUE(PostedIds(tarpit).count("held-7"));
}

// Every object's last request answered "Asynch mode" reaches its callback
// (D-Bus or HTTP) or is named in the log; earlier ones were replaced.
TEST(ShutdownDelivery, TerminationRacingRequestsDeliversOrNamesEach) {
  LoopbackListener receiver(Mode::kHttpOk);
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30", "--apartments", "2"});
  Client client(bus);
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) paths.push_back(client.Create());
  std::map<std::string, std::string> last_accepted;  // object -> test identifier
  size_t refused = 0;
  for (int i = 0; i < 300; ++i) {
    if (i == 60) daemon.Signal(SIGTERM);
    const std::string& path = paths[i % paths.size()];
    std::string id = "race-" + std::to_string(i);
    // Half the objects are called back over D-Bus, half over HTTP.
    Answer a = (i % 2) ? SendRequestEx(client, path, id, "127.0.0.1:" + receiver.PortText())
                       : SendRequest(client, path, id.c_str());
    if (a.ok()) {
      ASSERT_NE(a.Print().find("Asynch mode"), std::string::npos) << a.Print();
      last_accepted[path] = id;
    } else if (a.error == kStoppingError) {
      ++refused;
    } else {
      break;  // the name is gone: the stop released it
    }
  }
  EXPECT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
  ASSERT_EQ(last_accepted.size(), paths.size());
  std::set<std::string> delivered;
  for (const auto& [id, message] : client.WaitForCallbacks(paths.size() / 2, 10s))
    delivered.insert(id);
  for (const std::string& id : PostedIds(receiver)) delivered.insert(id);
  const std::string log = daemon.Log();
  for (const auto& [path, id] : last_accepted)
    EXPECT_TRUE(delivered.count(id) || Named(log, id)) << id << " refused " << refused << "\n"
                                                       << log;
  // Nothing was stuck here, so nothing should need naming.
  EXPECT_EQ(log.find("not delivered within"), std::string::npos) << log;
}

// The last runs before an idle exit end while their HTTP callbacks are still
// under way (the receiver answers each only after a while): the daemon
// makes them all before it leaves.
TEST(ShutdownDelivery, IdleExitWaitsForTheHttpCallbacksOfTheLastRuns) {
  LoopbackListener receiver(Mode::kHttpOkSlowly);
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "2"});
  Client client(bus);
  constexpr size_t kRequests = 10;
  std::set<std::string> accepted;
  for (size_t i = 0; i < kRequests; ++i) {
    std::string id = "idle-" + std::to_string(i);
    // One-shot calls: each object goes when its run ends.
    Answer a = SendRequestEx(client, kRoot, id, "127.0.0.1:" + receiver.PortText());
    ASSERT_TRUE(a.ok()) << a.Print() << "\n" << daemon.Log();
    accepted.insert(id);
  }
  EXPECT_EQ(daemon.WaitExit(120s), 0) << daemon.Log();
  EXPECT_EQ(PostedIds(receiver), accepted) << daemon.Log();
  // None was cut off by the exit: the daemon was still there for every answer.
  ASSERT_TRUE(receiver.WaitUntil(
      [&] { return receiver.answered() + receiver.closed_by_peer() >= kRequests; }, 30s));
  EXPECT_EQ(receiver.closed_by_peer(), 0u) << daemon.Log();
  EXPECT_EQ(daemon.Log().find("not made"), std::string::npos) << daemon.Log();
}

// A run stuck on a gateway that stopped answering, and one waiting behind it
// on the same apartment, are named when the grace runs out.
TEST(ShutdownDelivery, RequestsStuckPastTheGraceAreNamedInTheLog) {
  LoopbackListener gateway(Mode::kGreetThenHold, "220 SNPP Gateway Ready\r\n");
  PrivateBus bus;
  ProgramFolder folder;
  {
    std::string text = folder.Read("QzNotes.ini");
    text = std::regex_replace(text, std::regex("\nIndex=0"), "\nIndex=1");
    std::ofstream(folder.path() / "QzNotes.ini", std::ios::binary) << text;
    std::ofstream(folder.path() / "QzSNPP.ini", std::ios::binary)
        << "[SNPP Paging Service]\nTCPPort=" << gateway.PortText()
        << "\nHostName=127.0.0.1\nTimeout=300\n";
  }
  Daemon daemon(bus, folder.path(),
                {"--linger", "30", "--apartments", "1", "--shutdown-grace", "1"});
  Client client(bus);
  std::string stuck = client.Create(), behind = client.Create();
  ASSERT_TRUE(SendRequest(client, stuck, "stuck-1").ok());
  ASSERT_TRUE(SendRequest(client, behind, "behind-2").ok());
  // The gateway has the first page and will never answer it.
  ASSERT_TRUE(gateway.WaitUntil(
      [&] {
        auto received = gateway.Received();
        return !received.empty() && received[0].find("PAGE") != std::string::npos;
      },
      60s))
      << daemon.Log();
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.WaitExit(60s), 1) << daemon.Log();
  const std::string log = daemon.Log();
  EXPECT_NE(log.find("request stuck-1 of " + stuck + " not delivered within 1 s"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("request behind-2 of " + behind + " not delivered within 1 s"),
            std::string::npos)
      << log;
  EXPECT_TRUE(client.WaitForCallbacks(1, 0ms).empty());
}

}  // namespace
}  // namespace qz::testing
