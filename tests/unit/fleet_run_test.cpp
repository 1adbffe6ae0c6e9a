// A daemon's object in a fleet, against a shared store that refuses, hands
// a try elsewhere or takes the lease away: a refused request is undone and
// raises its own error, a handed-off one leaves the object, and a run that
// lost its lease sends no further recipient and writes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch/fleet_role.h"
#include "dispatch/journal_store.h"
#include "dispatch_fixture.h"
#include "gateways/channel_frame.h"
#include "server/fleet_claimer.h"

namespace qz::testing {
namespace {

class FleetStore final : public JournalStore {
 public:
  uint64_t NewKey() override { return ++keys; }
  bool Put(uint64_t key, std::string_view) override {
    puts.push_back(key);
    return !down;
  }
  bool PutFailed(uint64_t, std::string_view) override { return true; }
  void HoldFailed(uint64_t, std::string) override {}
  bool Remove(uint64_t key) override {
    removes.push_back(key);
    return true;
  }
  void KeepEverything() override {}
  std::vector<Leftover> TakeOverEarlierRuns() override { return {}; }
  void ReportFailure(std::string_view line) const override { failures.emplace_back(line); }
  size_t LiveCount() const override { return 0; }
  size_t FailedCount() const override { return 0; }
  std::vector<Leftover> Failed() const override { return {}; }
  const std::string& where() const override { return where_; }
  bool RefusesWhenNotDurable() const override { return refuses; }
  bool StillHolds(uint64_t) override { return holds-- > 0; }
  bool WaitsHere(uint64_t) const override { return waits_here; }

  bool down = false, refuses = true, waits_here = true;
  int holds = 1000;  // asks answered true before the lease is lost
  uint64_t keys = 0;
  std::vector<uint64_t> puts, removes;
  mutable std::vector<std::string> failures;

 private:
  std::string where_ = "postgresql:///fleet";
};

class FleetRunTest : public DispatchTest {
 protected:
  FleetRunTest() {
    env_.journal = &store_;
    env_.fleet = &role_;
    env_.report = [this](std::string_view line) { lines_.emplace_back(line); };
    // One message to three pagers, sent one recipient at a time past the gate.
    pagers_ = List({List({List({Variant("100"), Variant("101"), Variant("102")})})});
    notes_ = List({List({Variant("m0")})});
    channels_.paging.at(0).channel = [this](const ChannelCall& c, const Variant& notes,
                                            const Variant& to) {
      ChannelFrame frame{.procedure = "pager", .gate = c.gate};
      frame.deliver = [this](const std::string&, const Variant& one) -> Refusal {
        paged_.push_back(one.Text());
        return std::nullopt;
      };
      return RunChannel(frame, notes, to);
    };
    Fresh();
  }
  std::string Lines() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

  FleetStore store_;
  FleetRole role_{.serves = {"2"},
                  .needs = [](const RequestRecord& r) { return TryNeeds(r, "0"); }};
  std::vector<std::string> lines_;
  std::vector<std::string> paged_;
};

TEST_F(FleetRunTest, AStoreThatCannotKeepTheRequestRefusesItOrAcceptsItAsBefore) {
  struct Row {
    bool refuses;
    bool raised;
    bool pending;
  } rows[] = {
      {true, true, false},   // the fleet's database: refused and undone
      {false, false, true},  // a daemon's own file: accepted, said lost on a crash
  };
  for (const Row& row : rows) {
    store_.refuses = row.refuses;
    store_.down = true;
    store_.failures.clear();
    Fresh();
    bool raised = false;
    try {
      EXPECT_EQ(Send(Variant()).Text(), kAccepted);
    } catch (const JournalUnavailable& e) {
      raised = true;
      EXPECT_NE(std::string(e.what()).find("postgresql:///fleet"), std::string::npos);
      EXPECT_NE(std::string(e.what()).find("try again"), std::string::npos);
    }
    EXPECT_EQ(raised, row.raised) << row.refuses;
    EXPECT_EQ(notify_->HasPendingRequest(), row.pending) << row.refuses;
    EXPECT_EQ(store_.failures.size(), row.refuses ? 0u : 1u) << row.refuses;
  }
  // Refused: the run never comes.
  store_.refuses = true;
  Fresh();
  EXPECT_THROW(Send(Variant()), JournalUnavailable);
  notify_->NotesTimer_Timer();
  EXPECT_TRUE(paged_.empty());
}

TEST_F(FleetRunTest, ATryServedElsewhereIsHandedToTheFleetAndNeverRunHere) {
  store_.waits_here = false;
  auto callback = std::make_shared<RecordingCallback>();
  EXPECT_EQ(Send(Variant(), callback, "T-42").Text(), kAccepted);
  EXPECT_FALSE(notify_->HasPendingRequest());
  notify_->NotesTimer_Timer();
  EXPECT_TRUE(paged_.empty());
  EXPECT_TRUE(callback->calls.empty());
  EXPECT_EQ(store_.removes, std::vector<uint64_t>{}) << "the entry is the fleet's now";
  EXPECT_EQ(Lines(), "request T-42: handed to the fleet: needs 0, this daemon serves 2\n");
  // The next request on the object gets an entry of its own.
  store_.waits_here = true;
  Send(Variant(), nullptr, "T-43");
  EXPECT_EQ(store_.puts, (std::vector<uint64_t>{1, 2}));
}

TEST_F(FleetRunTest, ARunThatLosesItsLeaseSendsNoFurtherRecipientAndWritesNothing) {
  struct Row {
    int holds;  // the group's check, then one a recipient
    std::vector<std::string> paged;
  } rows[] = {
      {0, {}},
      {2, {"100"}},
      {3, {"100", "101"}},
  };
  for (const Row& row : rows) {
    store_.holds = row.holds;
    store_.removes.clear();
    paged_.clear();
    lines_.clear();
    trace_ = {};
    Fresh();
    auto callback = std::make_shared<RecordingCallback>();
    ASSERT_EQ(Send(Variant(), callback, "T-42").Text(), kAccepted);
    notify_->NotesTimer_Timer();
    EXPECT_EQ(paged_, row.paged) << row.holds;
    EXPECT_TRUE(callback->calls.empty()) << row.holds;
    EXPECT_TRUE(store_.removes.empty()) << row.holds;
    EXPECT_EQ(Log(), "") << row.holds;
    EXPECT_TRUE(trace_.let_go) << "the holder lets the object go";
    EXPECT_FALSE(notify_->HasPendingRequest());
    EXPECT_EQ(Lines(), "request T-42: lease lost to another daemon; this run stops\n");
  }
  // Held throughout: every recipient, the callback, the entry ended.
  store_.holds = 1000;
  Fresh();
  auto callback = std::make_shared<RecordingCallback>();
  Send(Variant(), callback, "T-43");
  paged_.clear();
  notify_->NotesTimer_Timer();
  EXPECT_EQ(paged_, (std::vector<std::string>{"100", "101", "102"}));
  EXPECT_EQ(callback->calls.size(), 1u);
  EXPECT_EQ(store_.removes.size(), 1u);
}

TEST(FleetNeeds, ATryNeedsMailWithARecipientAndTheAcceptingDaemonsPagingGateway) {
  auto groups = [](std::initializer_list<Variant> to) { return List({List({List(to)})}); };
  struct Row {
    bool mail;
    Variant emails, pagers;
    const char* paging;
    std::vector<std::string> needs;
  } rows[] = {
      {true, groups({Variant("a@x.org")}), groups({Variant("100")}), "1", {"mail", "1"}},
      {false, groups({Variant("a@x.org")}), groups({Variant("100")}), "2", {"2"}},
      {true, groups({Variant()}), groups({Variant("100")}), "0", {"0"}},
      {true, groups({Variant("a@x.org")}), List({List({List({})})}), "1", {"mail"}},
      {true, Variant(), Variant(), "1", {}},
      {false, Variant(), groups({Variant("100")}), "", {}},  // no gateway configured
  };
  for (const Row& row : rows) {
    RequestRecord record;
    record.mblnMailEnabled = row.mail;
    record.mvarEmail = row.emails;
    record.mvarPager = row.pagers;
    EXPECT_EQ(TryNeeds(record, row.paging), row.needs) << FleetNames(row.needs);
  }
}

TEST(FleetClaims, TheClaimerComesEveryQuarterOfTheLeaseAndAtLeastEveryFiveSeconds) {
  using std::chrono::milliseconds, std::chrono::seconds;
  for (auto [lease, period] : {std::pair{seconds(2), milliseconds(500)},
                               {seconds(3), milliseconds(750)},
                               {seconds(20), milliseconds(5000)},
                               {seconds(120), milliseconds(5000)}})
    EXPECT_EQ(FleetClaimer::Period(lease), period) << lease.count();
}

}  // namespace
}  // namespace qz::testing
