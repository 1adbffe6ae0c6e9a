// Daemons on private buses and folders of their own sharing one PostgreSQL
// journal and one SNPP simulator: a daemon killed with pages in flight, or
// one that serves no paging, leaves its tries to the other, which sends
// each once; a database stopped under load loses nothing accepted, and
// what comes meanwhile is refused with a D-Bus error of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "daemon_harness.h"
#include "support/pg_cluster.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

// Pages the simulator took, by text: the wall-clock times of each SEND.
std::map<std::string, std::vector<double>> SentPages(const SnppSim& sim) {
  std::map<int, std::string> text_of;  // connection, its last MESSAGE text
  std::map<std::string, std::vector<double>> sent;
  for (const SimEvent& e : sim.Events()) {
    if (e.kind != "recv") continue;
    if (e.text.starts_with("MESSAGE \""))
      text_of[e.connection] = e.text.substr(9, e.text.size() - 10);
    else if (e.text.starts_with("SEND"))
      sent[text_of[e.connection]].push_back(e.ms);
  }
  return sent;
}

// A one-page request to pager 1; with `callback`, called back at the client.
Answer Request(Client& client, const std::string& id, bool callback) {
  if (callback)
    return SendMessage(client, kRoot, id.c_str(), OneGroup(id.c_str()), Marker(0), OnePager("1"),
                       Marker(0));
  return client.Call(
      kRoot, kNotify, "SendMessageCallBackEx",
      g_variant_new("(@v@v@v@v@vs)", OneGroup(id.c_str()), Marker(0), OnePager("1"), Marker(0),
                    g_variant_new_variant(g_variant_new_string("")), id.c_str()));
}

double UnixMs() {
  using namespace std::chrono;
  return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

class Fleet : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PgCluster::Available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
    ASSERT_TRUE(cluster_.Start()) << cluster_.log();
  }
  // A daemon of the fleet on `bus`, paging through the simulator.
  std::vector<std::string> Args(const char* lease, std::vector<std::string> extra = {}) const {
    extra.insert(extra.begin(), {"--journal", cluster_.url(), "--lease", lease});
    return extra;
  }

  PgCluster cluster_;
  static constexpr int kInProgressAtMost = 4;  // --apartments: tries in progress at once
};

TEST_F(Fleet, TriesTheAcceptingDaemonDoesNotFinishGoOutOnceFromAnother) {
  SnppSim sim("[*]\ndelay SEND 40\n", "127.0.0.1", {"--unix-times"});
  struct Row {
    const char* name;
    const char* prefix;
    int requests;
    std::vector<std::string> accepting;  // the accepting daemon's own options
    bool kill;                           // SIGKILL it once some pages went
  } rows[] = {
      {"killed in flight", "K-", 200, {"--apartments", "4"}, true},
      {"serves no paging", "H-", 20, {"--serves", "mail"}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PrivateBus accepting_bus, other_bus;
    ProgramFolder accepting_folder, other_folder;
    accepting_folder.UseSnpp(sim.port(), 10);
    other_folder.UseSnpp(sim.port(), 10);
    Daemon accepting(accepting_bus, accepting_folder.path(), Args("3", row.accepting));
    Daemon other(other_bus, other_folder.path(), Args("3"));
    Client client(accepting_bus);
    for (int n = 0; n < row.requests; ++n) {
      const std::string id = row.prefix + std::to_string(n);
      ASSERT_EQ(Request(client, id, !row.kill).Text(), "Notes Server: Asynch mode")
          << accepting.Log();
    }
    double killed_ms = 0;
    if (row.kill) {
      auto some_went = [&] {
        size_t pages = 0;
        for (const auto& [text, times] : SentPages(sim)) pages += times.size();
        return pages >= 20;
      };
      ASSERT_TRUE(Eventually(some_went, 60s)) << accepting.Log();
      accepting.Signal(SIGKILL);
      killed_ms = UnixMs();
    }
    std::map<std::string, std::vector<double>> sent;
    auto all_went = [&] {
      sent = SentPages(sim);
      for (int n = 0; n < row.requests; ++n)
        if (!sent.contains(row.prefix + std::to_string(n))) return false;
      return true;
    };
    EXPECT_TRUE(Eventually(all_went, 120s)) << other.Log();
    std::vector<std::string> twice;
    for (int n = 0; n < row.requests; ++n) {
      const std::string id = row.prefix + std::to_string(n);
      const std::vector<double>& times = sent[id];
      if (times.size() <= 1) continue;
      twice.push_back(id);
      EXPECT_EQ(times.size(), 2u) << id;
      EXPECT_LT(times.front(), killed_ms) << id << " went twice, the first time after the kill";
    }
    std::cout << "[ fleet    ] " << row.name << ": " << row.requests << " pages, " << twice.size()
              << " sent twice (in progress at the kill):";
    for (const std::string& id : twice) std::cout << " " << id;
    std::cout << "\n";
    EXPECT_LE(twice.size(), size_t(row.kill ? kInProgressAtMost : 0));
    if (!row.kill) {
      EXPECT_THAT(accepting.Log(), HasSubstr(": handed to the fleet: needs 1, this daemon serves "
                                             "mail"));
      EXPECT_THAT(other.Log(),
                  HasSubstr("accepted by another daemon: its D-Bus callback is skipped"));
      EXPECT_TRUE(client.WaitForCallbacks(1, 1s).empty());
    }
  }
}

TEST_F(Fleet, ADatabaseStoppedUnderLoadLosesNothingAcceptedAndRefusesCleanly) {
  SnppSim sim("", "127.0.0.1", {"--unix-times"});
  PrivateBus bus;
  ProgramFolder folder;
  folder.UseSnpp(sim.port(), 10);
  Daemon daemon(bus, folder.path(), Args("30"));
  Client client(bus);
  std::vector<std::string> accepted;
  std::vector<Answer> refused;
  int n = 0;
  auto send = [&] {
    const std::string id = "O-" + std::to_string(n++);
    Answer answer = Request(client, id, false);
    if (answer.ok())
      accepted.push_back(id);
    else
      refused.push_back(std::move(answer));
    std::this_thread::sleep_for(100ms);
  };
  while (accepted.size() < 20) send();
  ASSERT_TRUE(cluster_.Stop()) << cluster_.log();
  for (const auto back = std::chrono::steady_clock::now() + 10s;
       std::chrono::steady_clock::now() < back;)
    send();
  ASSERT_TRUE(cluster_.Start()) << cluster_.log();
  // Until the daemon is through again, bounded.
  for (const size_t before = accepted.size(); accepted.size() < before + 20 && n < 2000;) send();

  ASSERT_FALSE(refused.empty()) << "nothing came while the database was down";
  for (const Answer& answer : refused) {
    EXPECT_EQ(answer.error, "org.qznotes.QzNotes.Error.JournalUnavailable") << answer.message;
    EXPECT_THAT(answer.message, HasSubstr("try again"));
    EXPECT_THAT(answer.message, HasSubstr("postgresql:"));
  }
  std::map<std::string, std::vector<double>> sent;
  auto all_went = [&] {
    sent = SentPages(sim);
    for (const std::string& id : accepted)
      if (!sent.contains(id)) return false;
    return true;
  };
  EXPECT_TRUE(Eventually(all_went, 120s)) << daemon.Log();
  std::cout << "[ fleet    ] database down 10 s: " << accepted.size() << " accepted, "
            << refused.size() << " refused\n";
}

}  // namespace
}  // namespace qz::testing
