// BM_WaitingRetries/N: qznotesd with retries on ([Delivery] Attempts=3, an
// hour between tries, no breaker: every request comes to wait for its next
// try rather than for the gateway) and an SNPP gateway that refuses every
// connection, its limits raised to N objects and requests; N
// requests are sent (each on its own object, kept; many at once) and left
// waiting for their next try. Reports:
//   rss_per_request_B  the daemon's resident memory grown per waiting
//                      request (target: at most 2048)
//   switches_10s       context switches of every daemon thread over 10 s
//                      while all of them wait (target: none)
//   restart_serving_ms from the start of a daemon that replays them all
//                      (after SIGKILL) until it answers a call (target:
//                      under 2000)
//   replayed_ms        until the new run has taken up every one of them
// The program folder lives in /dev/shm: the journal's syncs would measure
// the disk, not the daemon.
//
//   build/bench/retry_waiting_bench [--benchmark_filter=BM_WaitingRetries/2000/]
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "bench_bus.h"
#include "integration/daemon_harness.h"
#include "proc_stats.h"
#include "support/child_process.h"

namespace qz::testing {
namespace {

using Clock = std::chrono::steady_clock;

// CreateObject and SendMessageCallBack of one request after the other,
// with at most kWindow requests under way at once.
class RequestPump {
 public:
  static constexpr int kWindow = 64;
  RequestPump(GDBusConnection* connection, int count) : connection_(connection), left_(count) {}

  // False when a call failed; the first failure is in error().
  bool Run() {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    for (int i = 0; i < kWindow && left_ > 0; ++i) Next();
    while (under_way_ > 0 && error_.empty()) g_main_context_iteration(context, TRUE);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return error_.empty();
  }
  const std::string& error() const { return error_; }

 private:
  struct Step {
    RequestPump* pump;
    std::string path;
    int stage = 0;  // 0 created, 1 sent
  };

  void Next() {
    if (left_ == 0 || !error_.empty()) return;
    --left_;
    ++under_way_;
    Call(std::make_unique<Step>(Step{.pump = this, .path = {}}), "/org/qznotes/QzNotes",
         "org.qznotes.QzNotes.ClassFactory", "CreateObject",
         g_variant_new("(s)", "QzNotes.cNotify"));
  }

  // The step goes with the call and comes back to Answered.
  void Call(std::unique_ptr<Step> step, const std::string& path, const char* interface,
            const char* method, GVariant* params) {
    g_dbus_connection_call(connection_, kName, path.c_str(), interface, method, params, nullptr,
                           G_DBUS_CALL_FLAGS_NONE, 60000, nullptr, &RequestPump::Answered,
                           step.release());
  }

  static void Answered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Step> step(static_cast<Step*>(data));
    RequestPump& pump = *step->pump;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
      if (pump.error_.empty()) pump.error_ = error->message;
      g_error_free(error);
      --pump.under_way_;
      return;
    }
    if (step->stage == 0) {
      const char* path = nullptr;
      g_variant_get(reply, "(&o)", &path);
      step->path = path;
    }
    g_variant_unref(reply);
    const int stage = step->stage++;
    if (stage == 0) {
      const std::string id = "W-" + std::to_string(pump.sent_++);
      const std::string path = step->path;
      pump.Call(std::move(step), path, kNotify, "SendMessageCallBack",
                g_variant_new("(@v@v@v@v(so)s)", OneGroup("queue above 1000"), Marker(0),
                              OnePager("5551234"), Marker(0), "", "/callback", id.c_str()));
    } else {
      --pump.under_way_;
      pump.Next();
    }
  }

  GDBusConnection* connection_;
  int left_;
  int under_way_ = 0;
  int sent_ = 0;
  std::string error_;
};

// Occurrences of `text` in the daemon's output.
long CountInLog(const Daemon& daemon, std::string_view text) {
  const std::string log = daemon.Log();
  long n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size()))
    ++n;
  return n;
}

// Waits (bounded, looking every 200 ms) until `text` is in the log `count` times.
bool WaitLogged(const Daemon& daemon, std::string_view text, long count,
                std::chrono::seconds limit) {
  const auto give_up = Clock::now() + limit;
  while (CountInLog(daemon, text) < count)
    if (Clock::now() > give_up)
      return false;
    else
      std::this_thread::sleep_for(200ms);
  return true;
}

void BM_WaitingRetries(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::string limits = std::to_string(2 * n + 100);
  std::vector<std::string> args{"--linger", "600", "--apartments", "2"};
  for (const char* limit : {"--max-objects", "--max-pending", "--max-user-objects",
                            "--max-user-pending", "--max-total-objects", "--max-total-pending"})
    args.insert(args.end(), {limit, limits});
  setenv("TMPDIR", "/dev/shm", 0);
  PrivateBus bus;
  ProgramFolder folder;
  folder.UseSnpp(FreeLoopbackPort(), 5);  // nothing listens there: a transient failure
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::app)
      << "\n[Delivery]\nAttempts=3\nFirstRetry=3600\nMaxDelay=3600\nGiveUpAfter=86400\nBreakAfter="
         "0\n";
  constexpr std::string_view kWaiting = "; next try in ";
  for (auto _ : state) {
    std::optional<Daemon> daemon(std::in_place, bus, folder.path(), args);
    Client client(bus);
    if (client.Create().empty()) return state.SkipWithError("the daemon did not answer");
    const pid_t pid = bench::OwnerPid(client.connection());
    const double rss_before = bench::MemoryMiB(pid, "VmRSS");
    const auto start = Clock::now();
    RequestPump pump(client.connection(), n);
    if (!pump.Run()) return state.SkipWithError(("a call failed: " + pump.error()).c_str());
    if (!WaitLogged(*daemon, kWaiting, n, std::chrono::seconds(30 + n / 20)))
      return state.SkipWithError(("only " + std::to_string(CountInLog(*daemon, kWaiting)) + " of " +
                                  std::to_string(n) + " came to wait for their next try")
                                     .c_str());
    state.counters["send_and_first_try_s"] = bench::MicrosSince(start) / 1e6;
    std::this_thread::sleep_for(1s);  // the last journal writes and bus traffic settle
    const double rss_waiting = bench::MemoryMiB(pid, "VmRSS");
    state.counters["rss_per_request_B"] = (rss_waiting - rss_before) * 1024 * 1024 / n;

    const auto before = bench::ThreadSwitches(pid);
    std::this_thread::sleep_for(10s);
    const auto after = bench::ThreadSwitches(pid);
    long switches = 0;
    for (const auto& [thread, count] : after)
      switches += count - (before.count(thread) ? before.at(thread) : 0);
    state.counters["switches_10s"] = static_cast<double>(switches);

    daemon->Signal(SIGKILL);
    daemon->WaitExit(60s);
    daemon.reset();
    const auto restart = Clock::now();
    daemon.emplace(bus, folder.path(), args);
    Client again(bus);
    if (again.Create().empty()) return state.SkipWithError("the restarted daemon did not answer");
    state.counters["restart_serving_ms"] = bench::MicrosSince(restart) / 1000;
    const pid_t restarted = bench::OwnerPid(again.connection());
    // One line once every request is taken up: here all of them wait.
    const std::string replayed = ": 0 due now, " + std::to_string(n) + " waiting";
    if (!WaitLogged(*daemon, replayed, 1, std::chrono::seconds(30 + n / 20)))
      return state.SkipWithError("the restart did not take up every request");
    state.counters["replayed_ms"] = bench::MicrosSince(restart) / 1000;
    state.counters["rss_after_replay_per_request_B"] =
        (bench::MemoryMiB(restarted, "VmRSS") - rss_before) * 1024 * 1024 / n;
    if (CountInLog(*daemon, "try 2 of 3") != 0)
      return state.SkipWithError("the restart tried a request before it was due");
  }
  state.counters["requests"] = n;
}
BENCHMARK(BM_WaitingRetries)
    ->Arg(2000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
