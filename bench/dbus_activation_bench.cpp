// BM_ActivationToFirstAnswer: a private bus whose service folder starts
// qznotesd; the time from a client's first CreateObject (which makes the bus
// start the daemon) to its reply, over several cold starts. Each run's
// daemon is told to stop (SIGTERM) and awaited before the next. Target:
// median under 150 ms.
//
// BM_IdleWithLiveObjects: eight live objects, one of which has delivered a
// request; the context switches of every daemon thread over 10 s. Target:
// flat (no timer or poll wakes an idle daemon).
//
//   build/default/dbus_activation_bench
#include <benchmark/benchmark.h>

#include "bench_bus.h"
#include "integration/daemon_harness.h"
#include "proc_stats.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;

void BM_ActivationToFirstAnswer(benchmark::State& state) {
  ProgramFolder folder, services(false);
  bench::WriteDaemonService(services.path(), "--folder " + folder.path().string() + " --linger 30");
  PrivateBus bus({services.path().string()});
  std::vector<double> ms, stop_ms;
  for (auto _ : state) {
    for (int run = 0; run < 10; ++run) {
      Client client(bus);  // connected first: its handshake is not the daemon's start
      auto start = Clock::now();
      std::string path = client.Create();
      ms.push_back(bench::MicrosSince(start) / 1000);
      pid_t pid = bench::OwnerPid(client.connection());
      if (path.empty() || pid <= 0) return state.SkipWithError("activation failed");
      auto stop = Clock::now();
      kill(pid, SIGTERM);
      // The name must be free before the next run, or no activation happens.
      if (!bench::WaitGone(pid, std::chrono::seconds(10)))
        return state.SkipWithError("daemon did not stop");
      for (int i = 0; i < 500 && Daemon::HasOwner(client.connection()); ++i)
        std::this_thread::sleep_for(10ms);
      stop_ms.push_back(bench::MicrosSince(stop) / 1000);
    }
  }
  state.counters["first_ms"] = ms.front();
  state.counters["median_ms"] = bench::Quantile(ms, 0.5);
  state.counters["max_ms"] = bench::Quantile(ms, 1.0);
  state.counters["runs"] = static_cast<double>(ms.size());
  state.counters["stop_median_ms"] = bench::Quantile(stop_ms, 0.5);
}
BENCHMARK(BM_ActivationToFirstAnswer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

long Total(const std::map<std::string, long>& switches) {
  long sum = 0;
  for (const auto& [thread, n] : switches) sum += n;
  return sum;
}

void BM_IdleWithLiveObjects(benchmark::State& state) {
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon(bus, folder.path(), {"--linger", "30"});
  Client client(bus);
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) paths.push_back(client.Create());
  if (paths.back().empty()) return state.SkipWithError("objects not created");
  client.Call(paths[0], kNotify, "SendMessageCallBack",
              g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0), OnePager("1"), Marker(0),
                            "", "/callback", "idle"));
  if (client.WaitForCallbacks(1, 10s).size() != 1) return state.SkipWithError("no callback");
  const pid_t pid = bench::OwnerPid(client.connection());
  std::this_thread::sleep_for(500ms);  // let the delivery's last bus traffic settle
  std::map<std::string, long> before, after;
  for (auto _ : state) {
    before = bench::ThreadSwitches(pid);
    std::this_thread::sleep_for(10s);
    after = bench::ThreadSwitches(pid);
  }
  state.counters["threads"] = static_cast<double>(after.size());
  state.counters["switches_10s"] = static_cast<double>(Total(after) - Total(before));
  std::string busiest;
  long most = 0;
  for (const auto& [thread, n] : after) {
    long delta = n - (before.count(thread) ? before[thread] : 0);
    if (delta > most) most = delta, busiest = thread;
  }
  state.SetLabel(most > 0 ? "busiest thread: " + busiest + " +" + std::to_string(most)
                          : "no thread woke");
}
BENCHMARK(BM_IdleWithLiveObjects)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
