// Synchronous round trips from one client connection to qznotesd on a
// private bus: SendMessageCallBack on one cNotify object (each call replaces
// the pending request; no callback object, so nothing is called back), the
// daemon's own org.freedesktop.DBus.Peer.Ping, and gvarGetSettings for
// reference. BM_SendVersusPing interleaves the first two in blocks so both
// rates come from the same stretch of machine time; target ratio >= 0.7.
//
//   build/default/dbus_roundtrip_bench
#include <benchmark/benchmark.h>

#include <memory>

#include "integration/daemon_harness.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The request's arguments, built once: a client sending the same small
// request does not pay for building it again, and the bench measures the
// round trip rather than client-side GVariant construction.
GVariant* RequestArguments() {
  GVariant* args = g_variant_new("(@v@v@v@v(so)s)", OneGroup("x"), Marker(0), OnePager("1"),
                                 Marker(0), "", "/", "rt");
  return g_variant_ref_sink(args);
}

// One daemon and one client for the whole program.
struct Setup {
  ~Setup() { g_variant_unref(request); }
  PrivateBus bus;
  ProgramFolder folder;
  // The boundary's own cost: the journal's fdatasync is journal_bench's.
  Daemon daemon{bus, folder.path(), {"--linger", "60", "--no-journal"}};
  Client client{bus};
  std::string path = client.Create();
  GVariant* request = RequestArguments();
};

Setup& Shared() {
  static auto setup = std::make_unique<Setup>();
  return *setup;
}

bool Ping(Setup& s) {
  return s.client.Call("/", "org.freedesktop.DBus.Peer", "Ping", nullptr).ok();
}

bool Send(Setup& s) {
  return s.client.Call(s.path, kNotify, "SendMessageCallBack", s.request).ok();
}

bool GetSettings(Setup& s) {
  return s.client.Call(s.path, kNotify, "gvarGetSettings", nullptr).ok();
}

template <bool (*kCall)(Setup&)>
void BM_RoundTrip(benchmark::State& state) {
  Setup& s = Shared();
  if (s.path.empty()) return state.SkipWithError("no object");
  for (auto _ : state)
    if (!kCall(s)) return state.SkipWithError("call failed");
  state.counters["calls_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RoundTrip<Ping>)->Name("BM_PeerPing")->UseRealTime();
BENCHMARK(BM_RoundTrip<Send>)->Name("BM_SendMessageCallBack")->UseRealTime();
BENCHMARK(BM_RoundTrip<GetSettings>)->Name("BM_gvarGetSettings")->UseRealTime();

// Seconds taken by `n` calls; negative when one failed.
double TimeCalls(Setup& s, bool (*call)(Setup&), int n) {
  auto start = Clock::now();
  for (int i = 0; i < n; ++i)
    if (!call(s)) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_SendVersusPing(benchmark::State& state) {
  Setup& s = Shared();
  if (s.path.empty()) return state.SkipWithError("no object");
  constexpr int kBlocks = 20, kBlock = 500;
  double ping_s = 0, send_s = 0, worst_ratio = 1e9;
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) {
      double p = TimeCalls(s, Ping, kBlock), m = TimeCalls(s, Send, kBlock);
      if (p < 0 || m < 0) return state.SkipWithError("call failed");
      ping_s += p;
      send_s += m;
      worst_ratio = std::min(worst_ratio, p / m);
    }
  }
  const double calls =
      static_cast<double>(kBlocks) * kBlock * static_cast<double>(state.iterations());
  state.counters["ping_per_s"] = calls / ping_s;
  state.counters["send_per_s"] = calls / send_s;
  state.counters["ratio"] = ping_s / send_s;  // send rate over ping rate
  state.counters["worst_block_ratio"] = worst_ratio;
}
BENCHMARK(BM_SendVersusPing)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
