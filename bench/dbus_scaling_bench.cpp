// Eight clients at once, each with its own connection, thread and cNotify
// object, against qznotesd --apartments 1, 2, 4 and 8.
//
// BM_Throughput: every client calls one operation back to back for a fixed
// time; aggregate calls per second and the p50/p99 latency of single calls.
// op 0 SendMessageCallBack and op 1 gvarGetSettings cost the apartment
// little, so they show the ceiling of the bus and the daemon's single GDBus
// I/O thread; op 2 is one fsynced settings write per call, each client to a
// file of its own, so apartments are the limit and throughput should grow
// with them.
//
// BM_BusyNeighbour: one object runs slow settings writes back to back (each
// call writes 20 keys, each write fsyncs) while seven others make paced
// SendMessageCallBack calls. With 8 apartments the seven sit elsewhere and
// their latency should stay as when the writer is quiet; --apartments 1 is
// the control that shows what waiting behind the writer looks like.
//
//   build/default/dbus_scaling_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "integration/daemon_harness.h"
#include "proc_stats.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 8;

GVariant* SendArguments() {
  return g_variant_ref_sink(g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0),
                                          OnePager("1"), Marker(0), "", "/", "scale"));
}

// Twenty fsynced writes, each changing a key nothing reads: slow, and
// leaves the settings the daemon uses as they were.
GVariant* SlowWriteArguments() {
  std::string text = "('Default', <[";
  for (int i = 0; i < 20; ++i)
    text += std::string(i ? ", " : "") + "'BenchKey=" + std::to_string(i) + "'";
  text += "]>)";
  return g_variant_ref_sink(g_variant_new_parsed(text.c_str()));
}

// A daemon with `apartments` apartments and one client object per slot.
struct Fleet {
  explicit Fleet(int apartments)
      : daemon(bus, folder.path(), {"--linger", "60", "--apartments", std::to_string(apartments)}) {
    for (int i = 0; i < kClients; ++i) {
      clients.push_back(std::make_unique<Client>(bus));
      paths.push_back(clients.back()->Create());  // in order: client i's object is the i-th created
    }
    // Section Bench<i> lives in Bench<i>.ini, so writers never share a file lock.
    std::ofstream main(folder.path() / "QzNotes.ini", std::ios::app);
    for (int i = 0; i < kClients; ++i) {
      main << "\n[Bench" << i << "]\npath=Bench" << i << ".ini\n";
      std::ofstream(folder.path() / ("Bench" + std::to_string(i) + ".ini"))
          << "[Bench" << i << "]\nKey=0\n";
    }
  }
  bool ok() const {
    for (const auto& p : paths)
      if (p.empty()) return false;
    return true;
  }
  PrivateBus bus;
  ProgramFolder folder;
  Daemon daemon;
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<std::string> paths;
};

// Latencies (µs) of the calls that threads record concurrently.
class Samples {
 public:
  void Add(const std::vector<double>& more) {
    std::lock_guard lock(mutex_);
    all_.insert(all_.end(), more.begin(), more.end());
  }
  std::vector<double>& all() { return all_; }

 private:
  std::mutex mutex_;
  std::vector<double> all_;
};

// False for an error and for a settings write that answered false.
bool CallOne(Client& client, const std::string& path, const char* method, GVariant* args) {
  Answer a = client.Call(path, kNotify, method, args ? g_variant_ref(args) : nullptr);
  if (!a.ok()) return false;
  gboolean written = TRUE;
  if (g_variant_is_of_type(a.value.get(), G_VARIANT_TYPE("(b)")))
    g_variant_get(a.value.get(), "(b)", &written);
  return written;
}

// Client i's own section, a new value each call so every write is real.
GVariant* FileWriteArguments(int client, long n) {
  return g_variant_ref_sink(g_variant_new_parsed("(%s, <[%s]>)",
                                                 ("Bench" + std::to_string(client)).c_str(),
                                                 ("Key=" + std::to_string(n)).c_str()));
}

void BM_Throughput(benchmark::State& state) {
  const int apartments = static_cast<int>(state.range(0));
  const int op = static_cast<int>(state.range(1));
  const bool send = op == 0;
  const char* method = send      ? "SendMessageCallBack"
                       : op == 1 ? "gvarGetSettings"
                                 : "gblnSetPagerSettingsEx";
  state.SetLabel(method);
  Fleet fleet(apartments);
  if (!fleet.ok()) return state.SkipWithError("objects not created");
  GVariant* args = send ? SendArguments() : nullptr;
  constexpr auto kRun = std::chrono::milliseconds(2000);
  Samples samples;
  std::atomic<long> failures{0};
  for (auto _ : state) {
    const auto stop = Clock::now() + kRun;
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i)
      threads.emplace_back([&, i] {
        std::vector<double> mine;
        for (long n = 1; Clock::now() < stop; ++n) {
          GVariant* own = op == 2 ? FileWriteArguments(i, n) : nullptr;
          auto start = Clock::now();
          if (!CallOne(*fleet.clients[i], fleet.paths[i], method, own ? own : args)) ++failures;
          mine.push_back(bench::MicrosSince(start));
          if (own) g_variant_unref(own);
        }
        samples.Add(mine);
      });
    for (auto& t : threads) t.join();
  }
  if (args) g_variant_unref(args);
  const double seconds =
      std::chrono::duration<double>(kRun).count() * static_cast<double>(state.iterations());
  state.counters["calls_per_s"] = static_cast<double>(samples.all().size()) / seconds;
  state.counters["p50_us"] = bench::Quantile(samples.all(), 0.50);
  state.counters["p99_us"] = bench::Quantile(samples.all(), 0.99);
  state.counters["failures"] = static_cast<double>(failures.load());
}
BENCHMARK(BM_Throughput)
    ->ArgNames({"apartments", "op"})
    ->ArgsProduct({{1, 2, 4, 8}, {0, 1, 2}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Paced probe calls from clients 1..7 for `length`; their latencies.
std::vector<double> Probe(Fleet& fleet, GVariant* args, std::chrono::milliseconds length) {
  Samples samples;
  const auto stop = Clock::now() + length;
  std::vector<std::thread> threads;
  for (int i = 1; i < kClients; ++i)
    threads.emplace_back([&, i] {
      std::vector<double> mine;
      while (Clock::now() < stop) {
        auto start = Clock::now();
        CallOne(*fleet.clients[i], fleet.paths[i], "SendMessageCallBack", args);
        mine.push_back(bench::MicrosSince(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      samples.Add(mine);
    });
  for (auto& t : threads) t.join();
  return std::move(samples.all());
}

void BM_BusyNeighbour(benchmark::State& state) {
  Fleet fleet(static_cast<int>(state.range(0)));
  if (!fleet.ok()) return state.SkipWithError("objects not created");
  GVariant* send = SendArguments();
  GVariant* write = SlowWriteArguments();
  std::vector<double> quiet, busy, writes;
  for (auto _ : state) {
    quiet = Probe(fleet, send, std::chrono::milliseconds(1000));
    std::atomic<bool> done{false};
    std::thread writer([&] {
      while (!done) {  // each pass is a real call; the loop ends when probing does
        auto start = Clock::now();
        if (!CallOne(*fleet.clients[0], fleet.paths[0], "gblnSetPagerSettingsEx", write)) break;
        writes.push_back(bench::MicrosSince(start) / 1000);
      }
    });
    busy = Probe(fleet, send, std::chrono::milliseconds(2000));
    done = true;
    writer.join();
  }
  g_variant_unref(send);
  g_variant_unref(write);
  if (writes.empty()) return state.SkipWithError("settings write failed");
  state.counters["quiet_p50_us"] = bench::Quantile(quiet, 0.50);
  state.counters["quiet_p99_us"] = bench::Quantile(quiet, 0.99);
  state.counters["busy_p50_us"] = bench::Quantile(busy, 0.50);
  state.counters["busy_p99_us"] = bench::Quantile(busy, 0.99);
  state.counters["busy_max_us"] = bench::Quantile(busy, 1.0);
  state.counters["write_call_ms"] = bench::Quantile(writes, 0.50);
}
BENCHMARK(BM_BusyNeighbour)
    ->ArgName("apartments")
    ->Arg(8)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
