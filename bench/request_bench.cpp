// Cost of one request call: 10 groups of 3 messages with 3 e-mail addresses
// and 3 pager numbers each. Target: median under 20 us.
#include <benchmark/benchmark.h>

#include "automation/component_registry.h"
#include "bench_channels.h"
#include "diagnostics/metrics.h"
#include "dispatch/c_notify.h"

namespace qz {
namespace {

Variant Groups(int groups, int messages, int recipients, bool lists) {
  std::vector<Variant> all;
  for (int g = 0; g < groups; ++g) {
    std::vector<Variant> group;
    for (int m = 0; m < messages; ++m) {
      if (!lists) {
        group.emplace_back("Service check failed on host-" + std::to_string(g) + "-" +
                           std::to_string(m));
        continue;
      }
      std::vector<Variant> to;
      for (int r = 0; r < recipients; ++r)
        to.emplace_back("oncall" + std::to_string(r) + "@example.org");
      group.push_back(Variant::Array(std::move(to)));
    }
    all.push_back(Variant::Array(std::move(group)));
  }
  return Variant::Array(std::move(all));
}

// range(0) == 1: every call on a new object, so nothing of an earlier
// request's storage can be reused; 0: one object whose request is replaced.
// range(1) == 1: metrics are counted, and each call is counted as accepted
// as the boundary does; 0: no metrics.
void BM_RequestCall(benchmark::State& state) {
  GMainContext* context = g_main_context_new();
  ComponentRegistry components;
  bench::InstantChannels channels;
  bench::NobodyAtSeat seat;
  Metrics metrics({{"SMTP", "SNPP"}, {"max-objects"}, "bench"});
  const bool counting = state.range(1) == 1;
  ServerEnvironment env{"/tmp", components, channels, seat};
  env.metrics = counting ? &metrics : nullptr;
  Variant notes = Groups(10, 3, 3, false), emails = Groups(10, 3, 3, true),
          pagers = Groups(10, 3, 3, true);
  Variant options = Variant::Array({Variant("Alert"), Variant("qz@example.org"), Variant(""),
                                    Variant("mail.example.org"), Variant("True")});
  const bool fresh = state.range(0) == 1;
  {
    auto notify = std::make_unique<cNotify>(env, context);
    for (auto _ : state) {
      if (fresh) {
        state.PauseTiming();
        notify = std::make_unique<cNotify>(env, context);
        state.ResumeTiming();
      }
      Variant answer =
          notify->SendMessageCallBack(notes, emails, pagers, options, nullptr, "bench");
      if (counting) metrics.Accepted(Boundary::kDbus);
      benchmark::DoNotOptimize(answer);
    }
  }
  g_main_context_unref(context);
}
BENCHMARK(BM_RequestCall)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace qz

BENCHMARK_MAIN();
