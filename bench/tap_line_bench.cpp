// Pages per minute through the pager terminal component when the terminal
// simulator holds the line to 2,400 bit/s, against what the line could carry
// for the same bytes (every byte of the call, both ways, at 10 bits a
// character). One SendPage pages 50 identifiers. Target: ratio >= 0.8.
//
//   build/default/tap_line_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "automation/variant.h"
#include "gateways/terminal/tap_frame.h"
#include "gateways/terminal/terminal_pager.h"
#include "integration/tap_sim_process.h"
#include "support/temp_folder.h"

namespace {

constexpr unsigned kBaud = 2400;
constexpr int kPages = 50;
const std::string kText = "Disk /var on db-01 is 97% full; backups paused until space is freed.";

std::string Identifier(int k) { return std::to_string(4000100 + k); }

// Every byte the call puts on the line, as the simulator answers it.
size_t CallBytes() {
  size_t bytes = 1 + 3;     // CR, "ID="
  bytes += 11 + 8 + 2 + 4;  // ESC PG1 000000 CR; "110 1.8" CR; ACK CR; ESC [p CR
  for (int k = 0; k < kPages; ++k) {
    for (const std::string& block : qz::tap::TransactionBlocks(Identifier(k), kText))
      bytes += block.size();
    bytes += 3;  // CR ACK CR
  }
  bytes += 2 + 4;  // EOT CR; CR ESC EOT CR
  return bytes;
}

void BM_TapPagesAt2400(benchmark::State& state) {
  qz::testing::TempFolder folder;
  qz::testing::TapSimulator sim(folder.path(), "baud " + std::to_string(kBaud) + "\n");
  folder.Write("QzNotes.ini",
               "[Pager Terminal]\nSettings=2400,E,7,1\nComPort=" + sim.link().string() + "\n");
  std::vector<qz::Variant> ids;
  for (int k = 0; k < kPages; ++k) ids.emplace_back(Identifier(k));
  const double line_seconds = static_cast<double>(CallBytes()) * 10 / kBaud;

  double seconds = 0;
  for (auto _ : state) {
    qz::TerminalPager pager(folder.path());
    pager.SetProperty("PagerID", qz::Variant::Array(ids));
    pager.SetProperty("Message", qz::Variant(kText));
    const auto start = std::chrono::steady_clock::now();
    const qz::Variant accepted = pager.CallMethod("SendPage", {});
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (accepted != qz::Variant(int32_t{kPages}))
      state.SkipWithError("not every page was accepted");
  }
  const double per_call = seconds / static_cast<double>(state.iterations());
  const double ratio = line_seconds / per_call;
  state.counters["pages_per_min"] = kPages * 60.0 / per_call;
  state.counters["line_pages_per_min"] = kPages * 60.0 / line_seconds;
  state.counters["ratio"] = ratio;
  state.counters["line_bytes"] = static_cast<double>(CallBytes());
  if (ratio < 0.8) state.SkipWithError("below the target ratio of 0.8");
}
BENCHMARK(BM_TapPagesAt2400)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
