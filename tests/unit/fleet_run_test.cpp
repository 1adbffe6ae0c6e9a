// An object's try in a fleet, against a shared store that is down, leaves
// the try to another daemon, or takes the lease away mid-run.
#include <gtest/gtest.h>

#include "dispatch/journal_store.h"
#include "dispatch_fixture.h"
#include "gateways/channel_frame.h"

namespace qz::testing {
namespace {

struct FleetStore final : JournalStore {
  uint64_t NewKey() override { return 1; }
  bool Put(uint64_t, std::string_view) override { return !down; }
  bool PutFailed(uint64_t, std::string_view) override { return true; }
  void HoldFailed(uint64_t, std::string) override {}
  bool Remove(uint64_t) override { return ++removes > 0; }
  void KeepEverything() override {}
  std::vector<Leftover> TakeOverEarlierRuns() override { return {}; }
  void ReportFailure(std::string_view) const override {}
  size_t LiveCount() const override { return 0; }
  size_t FailedCount() const override { return 0; }
  std::vector<Leftover> Failed() const override { return {}; }
  const std::string& where() const override { return where_; }
  bool RefusesWhenNotDurable() const override { return true; }
  bool StillHolds(uint64_t) override { return holds-- > 0; }
  bool WaitsHere(uint64_t) const override { return waits_here; }
  bool down = false, waits_here = true;
  int holds = 0, removes = 0;
  std::string where_ = "postgresql:///fleet";
};

TEST_F(DispatchTest, AFleetsTryIsRefusedHandedOffOrStoppedWhenItsLeaseIsLost) {
  struct Row {
    bool down, waits_here;
    int holds;  // lease checks answered yes: the group's, then one a recipient
    std::vector<std::string> paged;
    int removes, callbacks;  // and log entries
    std::string line;
  } rows[] = {
      {true, true, 9, {}, 1, 0, "refused: the request journal at postgresql:///fleet"},
      {false, false, 9, {}, 0, 0, "request t1: handed to the fleet: needs 0, this daemon serves 2"},
      {false, true, 2, {"100"}, 0, 0, "request t1: lease lost to another daemon; this run stops"},
      {false, true, 9, {"100", "101"}, 1, 1, ""},
  };
  FleetStore store;
  FleetRole role{{"2"}, [](const RequestRecord& r) { return TryNeeds(r, "0"); }};
  std::vector<std::string> paged, lines;
  env_.journal = &store;
  env_.report = [&](std::string_view line) { lines.emplace_back(line); };
  env_.fleet = &role;
  pagers_ = List({List({List({Variant("100"), Variant("101")})})});
  notes_ = List({List({Variant("m0")})});
  channels_.paging.at(0).channel = [&](const ChannelCall& c, const Variant& n, const Variant& to) {
    return RunChannel({.procedure = "pager",
                       .deliver = [&](const std::string&, const Variant& one) -> Refusal {
                         paged.push_back(one.Text());  // and fails, for the log
                         return Failure{.text = "down " + one.Text()};
                       },
                       .gate = c.gate},
                      n, to);
  };
  for (const Row& row : rows) {
    Fresh();
    std::tie(store.down, store.waits_here, store.holds, store.removes) =
        std::tuple(row.down, row.waits_here, row.holds, 0);
    paged.clear();
    lines = {""};
    auto callback = std::make_shared<RecordingCallback>();
    try {
      Send(Variant(), callback);
    } catch (const JournalUnavailable& e) {
      lines.back() = std::string("refused: ") + e.what();
    }
    notify_->NotesTimer_Timer();
    EXPECT_EQ(paged, row.paged) << row.line;
    EXPECT_EQ(std::tuple(store.removes, callback->calls.size()),
              std::tuple(row.removes, size_t(row.callbacks)))
        << row.line;
    EXPECT_EQ(lines.back().substr(0, row.line.size()), row.line);
    EXPECT_EQ(Logged("down 100"), row.callbacks > 0) << row.line;
  }
}

}  // namespace
}  // namespace qz::testing
