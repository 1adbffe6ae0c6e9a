// The cost of the request journal: SendMessageCallBack round trips to a
// daemon that keeps its journal (an fdatasync before each answer) and to one
// started with --no-journal, interleaved in blocks so both rates come from
// the same stretch of machine time. Target: ratio (journal on over off) of
// at least 0.7.
//
//   BM_JournalRoundTrip      one client, one call at a time (latency bound)
//   BM_JournalConcurrent/N   N clients at once, each on its own object (the
//                            journal's group commit shares one fdatasync)
//
// The journals live under the temporary folder: run with TMPDIR on the disk
// the server's program folder would be on (a tmpfs makes fdatasync free).
//
//   build/default/journal_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

#include "integration/daemon_harness.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;

GVariant* RequestArguments() {
  return g_variant_ref_sink(g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0),
                                          OnePager("1"), Marker(0), "", "/", "rt"));
}

// A daemon on its own bus (both answer the same name) with clients.
struct Server {
  explicit Server(bool journal, int clients)
      : daemon(bus, folder.path(),
               journal ? std::vector<std::string>{"--linger", "60"}
                       : std::vector<std::string>{"--linger", "60", "--no-journal"}) {
    for (int i = 0; i < clients; ++i) {
      this->clients.push_back(std::make_unique<Client>(bus));
      paths.push_back(this->clients.back()->Create());
    }
  }
  ~Server() { g_variant_unref(request); }
  bool ready() const {
    for (auto& p : paths)
      if (p.empty()) return false;
    return true;
  }
  bool Send(int client) {
    return clients[client]
        ->Call(paths[client], kNotify, "SendMessageCallBack", g_variant_ref(request))
        .ok();
  }

  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon;
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<std::string> paths;
  GVariant* request = RequestArguments();
};

// Seconds for `n` calls from each of the server's clients at once;
// negative when a call failed.
double TimeBlock(Server& s, int n) {
  int clients = static_cast<int>(s.clients.size());
  std::atomic<bool> failed{false};
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      for (int i = 0; i < n && !failed; ++i)
        if (!s.Send(c)) failed = true;
    });
  for (auto& t : threads) t.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return failed ? -1 : seconds;
}

void Compare(benchmark::State& state, int clients, int block) {
  Server on(true, clients), off(false, clients);
  if (!on.ready() || !off.ready()) return state.SkipWithError("no object");
  constexpr int kBlocks = 10;
  double on_s = 0, off_s = 0;
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) {
      double with = TimeBlock(on, block), without = TimeBlock(off, block);
      if (with < 0 || without < 0) return state.SkipWithError("call failed");
      on_s += with;
      off_s += without;
    }
  }
  const double calls =
      static_cast<double>(kBlocks) * block * clients * static_cast<double>(state.iterations());
  state.counters["on_per_s"] = calls / on_s;
  state.counters["off_per_s"] = calls / off_s;
  state.counters["ratio"] = off_s / on_s;  // rate with the journal over rate without
}

void BM_JournalRoundTrip(benchmark::State& state) { Compare(state, 1, 200); }
BENCHMARK(BM_JournalRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JournalConcurrent(benchmark::State& state) {
  Compare(state, static_cast<int>(state.range(0)), 100);
}
BENCHMARK(BM_JournalConcurrent)
    ->Arg(8)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
