// What a fleet of daemons shares through its database: the throttles'
// sends, the duplicate window and the pager terminal's line. Each "daemon"
// here is a ledger or a set of line locks of its own on one throwaway
// cluster.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "automation/run_time_error.h"
#include "dispatch/pg_ledger.h"
#include "gateways/pg_line_locks.h"
#include "gateways/terminal/terminal_pager.h"
#include "support/pg_cluster.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using std::chrono::seconds;

class FleetState : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::PgCluster::Available()) GTEST_SKIP() << "PostgreSQL 15 is not installed";
    ASSERT_TRUE(cluster_.Start()) << cluster_.log();
  }
  testing::PgCluster cluster_;
};

TEST_F(FleetState, ACapAndTheDuplicateWindowHoldAcrossDaemons) {
  PgLedger a(cluster_.conninfo(), "a", nullptr), b(cluster_.conninfo(), "b", nullptr);
  const std::vector<ThrottleCap> caps{{2, seconds(60)}};
  const int64_t t0 = 1'800'000'000'000;
  enum Act { kTake, kGiveBack, kRecord, kDuplicate };
  const struct {
    const char* why;
    PgLedger& by;
    Act act;
    int64_t at;
    std::optional<int64_t> held_ms;                // kTake: how long it waits
    std::optional<std::string> duplicate_of = {};  // kDuplicate
  } steps[] = {
      {"a takes the first slot", a, kTake, t0, std::nullopt},
      {"b takes the second", b, kTake, t0 + 1'000, std::nullopt},
      {"a is held until its first send leaves", a, kTake, t0 + 2'000, 58'000},
      {"b is held as well", b, kTake, t0 + 3'000, 57'000},
      {"b's send did not go", b, kGiveBack, t0 + 1'000, std::nullopt},
      {"so a may send again", a, kTake, t0 + 4'000, std::nullopt},
      {"a's first send left the window", b, kTake, t0 + 60'000, std::nullopt},
      {"a sends a text", a, kRecord, t0, std::nullopt},
      {"b sees it in the window", b, kDuplicate, t0 + 59'999, std::nullopt, "T-1"},
      {"and not after it", b, kDuplicate, t0 + 60'000, std::nullopt, std::nullopt},
  };
  for (const auto& s : steps) {
    switch (s.act) {
      case kTake: {
        const auto hold = s.by.Take("SNPP 555", caps, s.at);
        EXPECT_EQ(hold ? std::optional(hold->wait_ms) : std::nullopt, s.held_ms) << s.why;
        break;
      }
      case kGiveBack:
        s.by.GiveBack("SNPP 555", s.at);
        break;
      case kRecord:
        s.by.RecordSent("d1", "T-1", seconds(60), s.at);
        break;
      case kDuplicate:
        EXPECT_EQ(s.by.DuplicateOf("d1", seconds(60), s.at), s.duplicate_of) << s.why;
        break;
    }
  }
}

TEST_F(FleetState, DaemonsTakingAtOnceNeverPassTheCap) {
  constexpr int kDaemons = 6;
  std::vector<std::unique_ptr<PgLedger>> ledgers;
  for (int i = 0; i < kDaemons; ++i)
    ledgers.push_back(
        std::make_unique<PgLedger>(cluster_.conninfo(), "d" + std::to_string(i), nullptr));
  for (auto& ledger : ledgers)  // tables made before the race
    ASSERT_EQ(ledger->DuplicateOf("warm", seconds(1), 0), std::nullopt);
  std::atomic<int> taken = 0;
  std::latch start(kDaemons);  // all at once, so their counts overlap
  std::vector<std::jthread> threads;
  for (auto& ledger : ledgers)
    threads.emplace_back([&, l = ledger.get()] {
      start.arrive_and_wait();
      for (int k = 0; k < 3; ++k)
        if (!l->Take("SMS 777", {{2, seconds(60)}}, 1'800'000'000'000 + k)) ++taken;
    });
  threads.clear();
  EXPECT_EQ(taken, 2);
}

TEST_F(FleetState, ALineHasOneHolderInTheFleet) {
  PgLineLocks a(cluster_.conninfo()), b(cluster_.conninfo());
  auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(300); };
  std::string why;
  auto held = a.Hold("/dev/ttyS0", soon(), why);
  ASSERT_TRUE(held) << why;
  const struct {
    const char* why;
    const char* line;
    bool let_go_first, had;
  } cases[] = {
      {"held by another daemon: busy", "/dev/ttyS0", false, false},
      {"another line is free", "5551234", false, true},
      {"free once its holder lets go", "/dev/ttyS0", true, true},
  };
  for (const auto& c : cases) {
    if (c.let_go_first) held.reset();
    why.clear();
    const auto other = b.Hold(c.line, soon(), why);
    EXPECT_EQ(other != nullptr, c.had) << c.why;
    EXPECT_EQ(why.find("busy") != std::string::npos, !c.had) << c.why << ": " << why;
  }
}

// A line held elsewhere: the pager fails as on a busy line, before it
// touches the device (which does not exist here).
TEST(TerminalLines, ThePagerAsksForItsLineBeforeOpeningIt) {
  struct HeldElsewhere : LineLocks {
    std::unique_ptr<LineHold> Hold(const std::string& line, std::chrono::steady_clock::time_point,
                                   std::string& why) override {
      asked = line;
      why = "busy";
      return nullptr;
    }
    std::string asked;
  };
  const struct {
    const char* why;
    const char* number;
    const char* line;
  } cases[] = {
      {"a direct line is its device", "", "/dev/qz-nowhere"},
      {"a dialled terminal is its number", "555 1234", "5551234"},
  };
  for (const auto& c : cases) {
    testing::TempFolder folder;
    folder.Write(
        "QzNotes.ini",
        std::string("[Pager Terminal]\nSettings=9600,N,8,1\nComPort=/dev/qz-nowhere\nNumber=") +
            c.number + "\n");
    HeldElsewhere locks;
    TerminalPager pager(folder.path(), &locks);
    pager.SetProperty("PagerID", Variant::Array({Variant("42")}));
    pager.SetProperty("Message", Variant("hi"));
    std::string failure;
    try {
      pager.CallMethod("SendPage", {});
    } catch (const RunTimeError& e) {
      failure = e.description();
    }
    EXPECT_EQ(locks.asked, c.line) << c.why;
    EXPECT_EQ(failure.rfind("line " + std::string(c.line) + ": busy; not accepted: 42", 0), 0u)
        << c.why << ": " << failure;
    EXPECT_EQ(pager.LastFailureKind(), FailureKind::kTransient) << c.why;
  }
}

}  // namespace
}  // namespace qz
