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
  const int64_t t0 = 1'800'000'000'000;
  // How long the send waits; "go": not at all.
  auto take = [&](PgLedger& by, int64_t at) {
    const auto hold = by.Take("SNPP 555", {{2, seconds(60)}}, at);
    return hold ? std::to_string(hold->wait_ms) : "go";
  };
  a.RecordSent("d1", "T-1", seconds(60), t0);
  EXPECT_EQ(take(a, t0), "go") << "a takes the first slot";
  EXPECT_EQ(take(b, t0 + 1'000), "go") << "b takes the second";
  EXPECT_EQ(take(a, t0 + 2'000), "58000") << "a waits for its first send to leave";
  b.GiveBack("SNPP 555", t0 + 1'000);
  EXPECT_EQ(take(a, t0 + 4'000), "go") << "b's send did not go, so a may send";
  EXPECT_EQ(take(b, t0 + 60'000), "go") << "a's first send left the window";
  EXPECT_EQ(b.DuplicateOf("d1", seconds(60), t0 + 59'999), "T-1") << "a's text is in b's window";
  EXPECT_EQ(b.DuplicateOf("d1", seconds(60), t0 + 60'000), std::nullopt) << "and not after it";
}

TEST_F(FleetState, DaemonsTakingAtOnceNeverPassTheCap) {
  const std::vector<const char*> names = {"a", "b", "c", "d", "e", "f"};
  std::atomic<int> taken = 0;
  std::latch start(static_cast<ptrdiff_t>(names.size()));  // all at once, so counts overlap
  std::vector<std::jthread> threads;
  for (const char* name : names)
    threads.emplace_back([&, name] {
      PgLedger ledger(cluster_.conninfo(), name, nullptr);
      (void)ledger.DuplicateOf("warm", seconds(1), 0);  // connected, tables made
      start.arrive_and_wait();
      for (int k = 0; k < 3; ++k)
        if (!ledger.Take("SMS 777", {{2, seconds(60)}}, 1'800'000'000'000 + k)) ++taken;
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
  EXPECT_FALSE(b.Hold("/dev/ttyS0", soon(), why)) << "held by another daemon";
  EXPECT_NE(why.find("busy"), std::string::npos) << why;
  EXPECT_TRUE(b.Hold("5551234", soon(), why)) << "another line is free: " << why;
  held.reset();
  EXPECT_TRUE(b.Hold("/dev/ttyS0", soon(), why)) << "free once its holder lets go: " << why;
}

// A line held elsewhere: the pager fails as on a busy line, naming the line
// as the fleet knows it, before it touches the device (there is none here).
TEST(TerminalLines, ThePagerAsksForItsLineBeforeOpeningIt) {
  struct HeldElsewhere : LineLocks {
    std::unique_ptr<LineHold> Hold(const std::string&, std::chrono::steady_clock::time_point,
                                   std::string& why) override {
      return why = "busy", nullptr;
    }
  } locks;
  for (const auto& [number, line] :
       {std::pair("", "/dev/qz-nowhere"), std::pair("555 1234", "5551234")}) {
    testing::TempFolder folder;
    folder.Write("QzNotes.ini", std::string("[Pager Terminal]\nSettings=9600,N,8,1\n") +
                                    "ComPort=/dev/qz-nowhere\nNumber=" + number + "\n");
    TerminalPager pager(folder.path(), &locks);
    pager.SetProperty("PagerID", Variant::Array({Variant("42")}));
    try {
      pager.CallMethod("SendPage", {});
      ADD_FAILURE() << "it paged";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.description().rfind("line " + std::string(line) + ": busy; not accepted: 42", 0),
                0u)
          << e.description();
    }
    EXPECT_EQ(pager.LastFailureKind(), FailureKind::kTransient);
  }
}

}  // namespace
}  // namespace qz
