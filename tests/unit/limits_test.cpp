#include "server/limits.h"

#include <gtest/gtest.h>

#include "diagnostics/refusal_log.h"
#include "platform/holders.h"
#include "server/call_admission.h"
#include "server/caller_ledger.h"

namespace qz {
namespace {

using std::nullopt;

TEST(Limits, ArgumentsAreCountedAtEveryLevelAndAVariantAddsNone) {
  const Limits small{.elements = 5, .settings_elements = 2, .depth = 3};
  const std::tuple<const char*, bool, std::optional<Limit>> cases[] = {
      // arguments, whether the call is a request, the limit they pass
      // A request of one group of one message to one pager: 5 elements, 3 deep.
      {"(<[<[<'x'>]>]>, <byte 0>, <[<[<[<'1'>]>]>]>)", true, nullopt},
      {"(<[<[<'x'>]>]>, <[<'e'>]>, <[<[<[<'1'>]>]>]>)", true, Limit::kElements},
      {"([1, 2, 3], [4, 5, 6])", true, Limit::kElements},  // over all arguments
      {"(@ay [1, 2, 3, 4, 5, 6],)", true, Limit::kElements},
      {"([[[1]]],)", true, nullopt},
      {"([[[[1]]]],)", true, Limit::kDepth},
      {"(<<<<[1]>>>>,)", true, nullopt},  // variants in variants add no level
      // Invoke's own list of arguments is not counted.
      {"[<[1, 2, 3, 4, 5]>, <'x'>, <7>]", true, nullopt},
      {"[<[1, 2, 3]>, <[4, 5, 6]>]", true, Limit::kElements},
      // Any other call (a settings write) has its own, smaller element limit.
      {"('Default', <['a=1', 'b=2']>)", false, nullopt},
      {"('Default', <['a=1', 'b=2', 'c=3']>)", false, Limit::kSettingsElements},
      {"('Default', <['a=1', 'b=2', 'c=3']>)", true, nullopt},
  };
  for (const auto& [text, request, passed] : cases) {
    VariantPtr arguments(g_variant_ref_sink(g_variant_new_parsed(text)));
    EXPECT_EQ(CheckArguments(small, arguments.get(), request), passed) << text;
  }
  EXPECT_EQ(CheckArguments(small, nullptr, true), nullopt) << "a call without arguments";
}

TEST(Limits, CallsAndObjectsAtTheLimitPassAndOnePastDoesNot) {
  const Limits limits{.objects = 2, .pending = 2, .pending_bytes = 100};
  const std::tuple<size_t, size_t, bool, size_t, std::optional<Limit>> cases[] = {
      // pending, pending bytes, whether the call is a request, its bytes, the limit passed
      {1, 0, true, 100, nullopt},  {2, 0, true, 0, Limit::kPending},
      {2, 0, false, 10, nullopt},  // other calls are no requests
      {0, 60, false, 40, nullopt}, {0, 60, false, 41, Limit::kPendingBytes},
      {0, 100, true, 0, nullopt},
  };
  for (const auto& [pending, pending_bytes, request, bytes, passed] : cases)
    EXPECT_EQ(CheckCall(limits, {0, pending, pending_bytes}, request, bytes), passed)
        << pending << " pending, " << pending_bytes << "+" << bytes << " bytes";
  EXPECT_EQ(CheckNewObject(limits, {1, 0, 0}), nullopt);
  EXPECT_EQ(CheckNewObject(limits, {2, 0, 0}), Limit::kObjects);
  // The message names the option and its value.
  EXPECT_EQ(LimitMessage(Limits{}, Limit::kPendingBytes),
            "limit max-pending-bytes (33554432) exceeded: the call was not run");
}

TEST(CallerLedger, TicketsCountPerCallerUntilTheyGo) {
  CallerLedger ledger(Limits{.pending = 2, .pending_bytes = 10});
  auto first = ledger.Admit(":1.1", true, 4);
  auto second = ledger.Admit(":1.1", true, 4);
  ASSERT_TRUE(first.ticket && second.ticket);
  EXPECT_EQ(ledger.Admit(":1.1", true, 0).refused, Limit::kPending);
  EXPECT_EQ(ledger.Admit(":1.1", false, 3).refused, Limit::kPendingBytes);
  EXPECT_TRUE(ledger.Admit(":1.2", true, 10).ticket) << "another caller has its own";
  EXPECT_EQ(ledger.Usage(":1.2").pending, 0u) << "a dropped ticket gives its share back";

  // Moving a ticket keeps one count; only its last holder gives it back.
  std::optional<CallerLedger::Ticket> kept(std::move(*first.ticket));
  first.ticket.reset();
  EXPECT_EQ(ledger.Usage(":1.1").pending, 2u);
  EXPECT_EQ(ledger.Usage(":1.1").pending_bytes, 8u);
  kept = std::move(*second.ticket);  // the one it held goes back
  second.ticket.reset();
  EXPECT_EQ(ledger.Usage(":1.1").pending, 1u);
  kept.reset();
  EXPECT_EQ(ledger.Usage(":1.1").pending_bytes, 0u);
  EXPECT_TRUE(ledger.Admit(":1.1", true, 10).ticket);
}

// Many connections of one user, and all users together, are held to their
// own limits; a connection's user is asked once.
TEST(CallerLedger, UsersAndAllCallersHaveLimitsOfTheirOwn) {
  CallerLedger ledger({.user_objects = 1,
                       .user_pending = 3,
                       .user_journal_bytes = 6,
                       .total_objects = 3,
                       .total_pending = 3,
                       .total_pending_bytes = 20});
  enum Kind { kRequest, kOther, kObject };
  const std::tuple<const char*, std::optional<uid_t>, Kind, size_t, std::optional<Limit>> cases[] =
      {
          // connection, its user, what it asks for, bytes, the limit passed
          {":1.1", 7, kRequest, 4, nullopt},
          {":1.2", 7, kRequest, 2, nullopt},
          {":1.3", 7, kOther, 6, nullopt},                     // no request: no journal
          {":1.3", 9, kRequest, 1, Limit::kUserJournalBytes},  // still 7's: asked once
          {":1.4", 7, kRequest, 0, nullopt},
          {":1.4", 7, kRequest, 0, Limit::kUserPending},
          {":1.5", 8, kOther, 9, Limit::kTotalPendingBytes},
          {":1.5", 8, kRequest, 0, Limit::kTotalPending},
          {":1.6", nullopt, kObject, 0, nullopt},  // a user of its own: no user's limits
          {":1.6", nullopt, kObject, 0, nullopt},
          {":1.1", 7, kObject, 0, nullopt},
          {":1.2", 7, kObject, 0, Limit::kUserObjects},
          {":1.5", 8, kObject, 0, Limit::kTotalObjects},
      };
  std::vector<CallerLedger::Ticket> held;
  for (const auto& [caller, uid, kind, bytes, passed] : cases) {
    const auto user_of = [uid] { return uid; };
    auto admission = kind == kObject ? ledger.AdmitObject(caller, user_of)
                                     : ledger.Admit(caller, kind == kRequest, bytes, user_of);
    EXPECT_EQ(admission.refused, passed) << caller << " " << kind << " " << bytes;
    if (admission.ticket) held.push_back(std::move(*admission.ticket));
  }
  ledger.Forget(":1.1");  // its tickets still count for its user until they go
  held.clear();
  EXPECT_EQ(ledger.UserUsage(7).journal_bytes + ledger.TotalUsage().pending_bytes, 0u);
}

// Bytes of calls waiting for the bus to name their user count towards all
// callers' limit, apart from the connection's own calls.
TEST(CallAdmission, CallsWaitingForTheirUserCountApartAndTowardsTheTotal) {
  CallAdmission admission(nullptr, {.pending_bytes = 10, .total_pending_bytes = 20});
  const auto waiting = admission.AdmitWaitingBytes(":1.1", 8);
  const auto own = admission.AdmitNamed(":1.1", false, 10);
  EXPECT_TRUE(waiting.ticket && own.ticket);
  EXPECT_EQ(admission.AdmitWaitingBytes(":1.2", 3).refused, Limit::kTotalPendingBytes);
}

TEST(RefusalLog, OneLinePerCallerAndWindowThenTheCountOfTheRest) {
  using namespace std::chrono_literals;
  RefusalLog log(10s);
  const RefusalLog::Clock::time_point t0{};
  EXPECT_EQ(log.Line(":1.5", "Create: limit", t0), ":1.5: Create: limit");
  EXPECT_EQ(log.Line(":1.5", "Create: limit", t0 + 1s), std::nullopt);
  EXPECT_EQ(log.Line(":1.6", "Send: limit", t0 + 1s), ":1.6: Send: limit") << "callers apart";
  EXPECT_EQ(log.Line(":1.5", "Send: limit", t0 + 10s),
            ":1.5: Send: limit (and 1 more refused since the last line)");
  EXPECT_EQ(log.Line(":1.5", "Send: limit", t0 + 21s), ":1.5: Send: limit");
  log.Line(":1.5", "x", t0 + 22s);
  log.Forget(":1.5");
  EXPECT_EQ(log.Line(":1.5", "y", t0 + 23s), ":1.5: y") << "a name that left starts afresh";
}

}  // namespace
}  // namespace qz
