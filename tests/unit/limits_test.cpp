#include "server/limits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/holders.h"
#include "server/caller_ledger.h"
#include "server/daemon_options.h"
#include "server/refusal_log.h"

namespace qz {
namespace {

VariantPtr Parsed(const char* text) {
  return VariantPtr(g_variant_ref_sink(g_variant_new_parsed(text)));
}

TEST(Limits, ArgumentsAreCountedAtEveryLevelAndAVariantAddsNone) {
  const Limits small{.elements = 5, .settings_elements = 2, .depth = 3};
  struct Case {
    const char* arguments;
    std::optional<Limit> passed;
  } cases[] = {
      {"('text', 7)", std::nullopt},
      // A request of one group of one message to one pager: 5 elements, 3 deep.
      {"(<[<[<'x'>]>]>, <byte 0>, <[<[<[<'1'>]>]>]>)", std::nullopt},
      {"(<[<[<'x'>]>]>, <[<'e'>]>, <[<[<[<'1'>]>]>]>)", Limit::kElements},
      {"(<[<[<[<[<'x'>]>]>]>]>,)", Limit::kDepth},
      {"([1, 2, 3, 4, 5],)", std::nullopt},
      {"([1, 2, 3, 4, 5, 6],)", Limit::kElements},
      {"([1, 2, 3], [4, 5, 6])", Limit::kElements},  // over all arguments
      {"(@ay [1, 2, 3, 4, 5, 6],)", Limit::kElements},
      {"([[[1]]],)", std::nullopt},
      {"([[[[1]]]],)", Limit::kDepth},
      {"(<<<<[1]>>>>,)", std::nullopt},  // variants in variants add no level
      {"(('bus', @o '/'),)", std::nullopt},
      // Invoke's own list of arguments is not counted.
      {"[<[1, 2, 3, 4, 5]>, <'x'>, <7>]", std::nullopt},
      {"[<[1, 2, 3]>, <[4, 5, 6]>]", Limit::kElements},
  };
  for (const Case& c : cases) {
    VariantPtr arguments = Parsed(c.arguments);
    EXPECT_EQ(CheckArguments(small, arguments.get(), true), c.passed) << c.arguments;
  }
  EXPECT_EQ(CheckArguments(small, nullptr, true), std::nullopt) << "a call without arguments";
  // Any other call (a settings write) has its own, smaller element limit.
  VariantPtr settings = Parsed("('Default', <['a=1', 'b=2']>)");
  EXPECT_EQ(CheckArguments(small, settings.get(), false), std::nullopt);
  settings = Parsed("('Default', <['a=1', 'b=2', 'c=3']>)");
  EXPECT_EQ(CheckArguments(small, settings.get(), false), Limit::kSettingsElements);
  EXPECT_EQ(CheckArguments(small, settings.get(), true), std::nullopt);
}

TEST(Limits, CallsAndObjectsAtTheLimitPassAndOnePastDoesNot) {
  const Limits limits{.objects = 2, .pending = 2, .pending_bytes = 100};
  struct Case {
    CallerUsage usage;
    bool request;
    size_t bytes;
    std::optional<Limit> passed;
  } cases[] = {
      {{0, 1, 0}, true, 100, std::nullopt},          {{0, 2, 0}, true, 0, Limit::kPending},
      {{0, 2, 0}, false, 10, std::nullopt},  // other calls are no requests
      {{0, 0, 60}, false, 40, std::nullopt},         {{0, 0, 60}, false, 41, Limit::kPendingBytes},
      {{0, 0, 0}, false, 101, Limit::kPendingBytes}, {{0, 0, 100}, true, 0, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CheckCall(limits, c.usage, c.request, c.bytes), c.passed)
        << c.usage.pending << " pending, " << c.usage.pending_bytes << "+" << c.bytes << " bytes";
  EXPECT_EQ(CheckNewObject(limits, {1, 0, 0}), std::nullopt);
  EXPECT_EQ(CheckNewObject(limits, {2, 0, 0}), Limit::kObjects);
}

TEST(Limits, TheMessageNamesTheOptionAndItsValue) {
  const Limits limits{};
  EXPECT_EQ(LimitMessage(limits, Limit::kElements),
            "limit max-elements (10000) exceeded: the call was not run");
  EXPECT_EQ(LimitMessage(limits, Limit::kPendingBytes),
            "limit max-pending-bytes (33554432) exceeded: the call was not run");
  EXPECT_EQ(LimitName(Limit::kObjects), "max-objects");
  EXPECT_EQ(LimitName(Limit::kPending), "max-pending");
  EXPECT_EQ(LimitName(Limit::kDepth), "max-depth");
  EXPECT_EQ(LimitMessage(limits, Limit::kSettingsElements),
            "limit max-settings-elements (1000) exceeded: the call was not run");
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

TEST(RefusalLog, OneLinePerCallerAndWindowThenTheCountOfTheRest) {
  using namespace std::chrono_literals;
  RefusalLog log(10s);
  const RefusalLog::Clock::time_point t0{};
  EXPECT_EQ(log.Line(":1.5", "Create: limit", t0), ":1.5: Create: limit");
  EXPECT_EQ(log.Line(":1.5", "Create: limit", t0 + 1s), std::nullopt);
  EXPECT_EQ(log.Line(":1.5", "Create: limit", t0 + 9s), std::nullopt);
  EXPECT_EQ(log.Line(":1.6", "Send: limit", t0 + 9s), ":1.6: Send: limit") << "callers apart";
  EXPECT_EQ(log.Line(":1.5", "Send: limit", t0 + 10s),
            ":1.5: Send: limit (and 2 more refused since the last line)");
  EXPECT_EQ(log.Line(":1.5", "Send: limit", t0 + 21s), ":1.5: Send: limit");
  log.Line(":1.5", "x", t0 + 22s);
  log.Forget(":1.5");
  EXPECT_EQ(log.Line(":1.5", "y", t0 + 23s), ":1.5: y") << "a name that left starts afresh";
}

TEST(Limits, DaemonOptionsSetThemWithinTheirRanges) {
  auto parse = [](std::vector<std::string> words, Status& error) {
    words.insert(words.begin(), "qznotesd");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return ParseDaemonOptions(static_cast<int>(words.size()), argv.data(), error);
  };
  Status error;
  auto defaults = parse({}, error);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->server.limits.objects, Limits{}.objects);
  EXPECT_EQ(defaults->server.limits.pending_bytes, Limits{}.pending_bytes);

  auto set = parse({"--max-objects=3", "--max-pending=4", "--max-elements=5", "--max-depth=6",
                    "--max-pending-bytes=7", "--max-settings-elements=8"},
                   error);
  ASSERT_TRUE(set) << error;
  const Limits& l = set->server.limits;
  EXPECT_EQ(std::vector<size_t>(
                {l.objects, l.pending, l.elements, l.depth, l.pending_bytes, l.settings_elements}),
            std::vector<size_t>({3, 4, 5, 6, 7, 8}));

  for (std::vector<std::string> wrong : {std::vector<std::string>{"--max-objects=0"},
                                         {"--max-depth=65"},
                                         {"--max-elements=-1"},
                                         {"--max-pending-bytes=x"}}) {
    error = Status();
    EXPECT_FALSE(parse(wrong, error)) << wrong[0];
    EXPECT_FALSE(error.ok()) << wrong[0];
  }
}

}  // namespace
}  // namespace qz
