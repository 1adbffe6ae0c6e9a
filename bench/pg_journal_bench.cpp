// Puts per second from 8 threads at once: the fleet's journal in PostgreSQL
// (a throwaway cluster on a Unix socket, fsync on) against the file journal,
// interleaved in blocks so both rates come from the same stretch of machine
// time. Each put is followed by its removal, as a request's run ends.
// Target: ratio (PostgreSQL over file) of at least 0.5.
//
// Both live under the temporary folder: run with TMPDIR on a real disk (a
// tmpfs makes fdatasync free).
//
//   build/default/pg_journal_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "dispatch/pg_journal.h"
#include "dispatch/request_journal.h"
#include "support/pg_cluster.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

constexpr int kPgBenchThreads = 8;

// Seconds for `n` puts (each then removed) from each of the threads;
// negative when one failed.
double TimePuts(JournalStore& journal, const std::string& payload, int n) {
  std::atomic<bool> failed{false};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kPgBenchThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < n && !failed; ++i) {
        const uint64_t key = journal.NewKey();
        if (!journal.Put(key, payload) || !journal.Remove(key)) failed = true;
      }
    });
  for (auto& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return failed ? -1 : seconds;
}

void BM_PgJournalPuts(benchmark::State& state) {
  if (!PgCluster::Available()) return state.SkipWithError("PostgreSQL 15 is not installed");
  PgCluster cluster(/*fsync=*/true);
  if (!cluster.Start()) return state.SkipWithError("cannot start PostgreSQL");
  Status status;
  auto pg = PgJournal::Open(cluster.url(), {.name = "bench", .serves = {"mail"}}, status);
  TempFolder folder;
  auto file = RequestJournal::Open(folder.path(), status);
  if (!pg || !file) return state.SkipWithError("cannot open the journals");
  RequestRecord record;
  record.mstrTestID = "bench";
  record.mvarNotes = Variant(std::string(300, 'n'));
  const std::string payload = EncodeRequest(record);

  constexpr int kBlocks = 10, kPerThread = 50;
  double pg_s = 0, file_s = 0;
  for (auto _ : state) {
    for (int b = 0; b < kBlocks; ++b) {
      const double in_pg = TimePuts(*pg, payload, kPerThread);
      const double in_file = TimePuts(*file, payload, kPerThread);
      if (in_pg < 0 || in_file < 0) return state.SkipWithError("a put failed");
      pg_s += in_pg;
      file_s += in_file;
    }
  }
  const double puts = static_cast<double>(kBlocks) * kPerThread * kPgBenchThreads *
                      static_cast<double>(state.iterations());
  state.counters["pg_per_s"] = puts / pg_s;
  state.counters["file_per_s"] = puts / file_s;
  state.counters["ratio"] = file_s / pg_s;  // PostgreSQL's rate over the file's
}
BENCHMARK(BM_PgJournalPuts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qz::testing

BENCHMARK_MAIN();
