// msubCleanMessage on a 10,000-character text. Target: under 20 us.
#include <benchmark/benchmark.h>

#include "gateways/clean_message.h"

namespace {

std::string Sample() {
  std::string text;
  while (text.size() < 10000) text += "Disk C:\\data at 95%\r\nservice \xC3\xA4 restarted\n";
  text.resize(10000);
  return text;
}

void BM_CleanMessage(benchmark::State& state) {
  const std::string sample = Sample();
  const bool limit = state.range(0) != 0;
  for (auto _ : state) {
    std::string text = sample;
    qz::msubCleanMessage(text, limit);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_CleanMessage)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
