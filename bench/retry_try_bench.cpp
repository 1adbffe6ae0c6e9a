// BM_TryWithRetriesOn/taken, BM_TryWithRetriesOn/failed: one try of a
// one-page request against qznotes-snpp-sim, the dispatch run called
// in-process with the request journal and the built-in gateways, as the
// daemon has them. Tries alternate between a folder with retries off
// ([Delivery] Attempts=1) and one with them on (Attempts=5), on fresh
// objects. "taken": the simulator takes the page; "failed": it drops every
// connection, so a try with retries on schedules the next one where one
// with them off ends the request; and each without the journal (the
// daemon's --no-journal), which a waiting request writes again at each try.
// Reports the median try of each and
//   overhead_pct  (on - off) / off of the medians (target: at most 5)
// The folders live in /dev/shm: the journal's syncs would measure the disk.
//
//   build/bench/retry_try_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "bench_channels.h"
#include "dispatch/c_notify.h"
#include "dispatch/request_journal.h"
#include "dispatch/server_environment.h"
#include "gateways/gateway_table.h"
#include "integration/daemon_harness.h"
#include "proc_stats.h"
#include "support/snpp_sim.h"

namespace qz {
namespace {

// One program folder paging through the simulator, and what a daemon
// builds around it.
class TryRig {
 public:
  TryRig(int port, int attempts, bool journal) {
    folder_.UseSnpp(port, 5);
    std::ofstream(folder_.path() / "QzNotes.ini", std::ios::app)
        << "\n[Delivery]\nAttempts=" << attempts << "\nFirstRetry=3600\n";
    gateways_.RegisterComponents(components_, folder_.path().string());
    Status opened;
    if (journal) journal_ = RequestJournal::Open(folder_.path().string(), opened);
    env_.journal = journal_.get();
    ok_ = !journal || journal_;
  }
  ~TryRig() { g_main_context_unref(context_); }
  TryRig(const TryRig&) = delete;
  TryRig& operator=(const TryRig&) = delete;
  bool ok() const { return ok_; }

  // Microseconds of the run of one fresh request.
  double Try(int number) {
    static const Variant notes = Variant::Array({Variant::Array({Variant("disk full")})});
    static const Variant pagers =
        Variant::Array({Variant::Array({Variant::Array({Variant("5551234")})})});
    cNotify notify(env_, context_);
    notify.SendMessageCallBack(notes, Variant(), pagers, Variant(), nullptr,
                               "T-" + std::to_string(number));
    const auto start = std::chrono::steady_clock::now();
    notify.NotesTimer_Timer();
    return bench::MicrosSince(start);
  }

 private:
  testing::ProgramFolder folder_;
  ComponentRegistry components_;
  GatewayTable gateways_ = BuiltInGateways();
  bench::NobodyAtSeat seat_;
  std::unique_ptr<RequestJournal> journal_;
  ServerEnvironment env_{folder_.path().string(), components_, gateways_, seat_};
  GMainContext* context_ = g_main_context_new();
  bool ok_ = false;
};

void BM_TryWithRetriesOn(benchmark::State& state) {
  setenv("TMPDIR", "/dev/shm", 0);
  const bool failing = state.range(0) != 0, journal = state.range(1) != 0;
  state.SetLabel(std::string(failing ? "failed" : "taken") + (journal ? "" : ", no journal"));
  testing::SnppSim sim(
      "", "127.0.0.1",
      failing ? std::vector<std::string>{"--fail-first", "1000000"} : std::vector<std::string>{});
  TryRig off(sim.port(), 1, journal), on(sim.port(), 5, journal);
  if (!off.ok() || !on.ok()) return state.SkipWithError("no journal");
  constexpr int kTries = 400;
  std::vector<double> off_us, on_us;
  for (auto _ : state) {
    for (int i = 0; i < kTries; ++i) {
      off_us.push_back(off.Try(i));
      on_us.push_back(on.Try(i));
    }
  }
  const double off_median = bench::Quantile(off_us, 0.5), on_median = bench::Quantile(on_us, 0.5);
  state.counters["off_median_us"] = off_median;
  state.counters["on_median_us"] = on_median;
  state.counters["overhead_pct"] = (on_median - off_median) / off_median * 100;
  state.counters["tries"] = static_cast<double>(off_us.size() + on_us.size());
}
BENCHMARK(BM_TryWithRetriesOn)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace qz

BENCHMARK_MAIN();
