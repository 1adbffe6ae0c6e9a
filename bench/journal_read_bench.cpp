// What reading a huge damaged journal file costs: a 1 GiB file, mostly
// holes, with 16 MiB of random garbage in its middle and whole records at
// both ends, read as a daemon reads an earlier run's file at start.
// Reported: the growth of this process's peak resident memory while reading
// (target: below 8 MiB, whatever the file's size: the reader keeps a window
// of fixed size, not the file) and the rate at which the file is read.
//
//   build/default/journal_read_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>

#include "dispatch/journal_file.h"
#include "platform/unique_fd.h"
#include "proc_stats.h"
#include "support/temp_folder.h"

namespace qz::bench {
namespace {

constexpr off_t kMiB = 1 << 20;

double PeakMiB() { return StatusField("/proc/self/status", "VmHWM") / 1024.0; }

void BM_ReadHugeDamagedJournal(benchmark::State& state) {
  testing::TempFolder folder;
  const std::string path = folder.File("huge.qzj");
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  const std::string header = NewJournalHeader();
  std::string head = header + FrameRecord(header, JournalRecordType::kPut, 1, "first");
  std::string tail = FrameRecord(header, JournalRecordType::kPut, 2, "last");
  std::string garbage(16 * kMiB, '\0');
  std::mt19937_64 random(42);
  for (char& c : garbage) c = static_cast<char>(random());
  if (pwrite(fd.get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) ||
      pwrite(fd.get(), garbage.data(), garbage.size(), 512 * kMiB) !=
          static_cast<ssize_t>(garbage.size()) ||
      pwrite(fd.get(), tail.data(), tail.size(), 1024 * kMiB - 4096) !=
          static_cast<ssize_t>(tail.size()) ||
      ftruncate(fd.get(), 1024 * kMiB) != 0) {
    state.SkipWithError("cannot write the file");
    return;
  }
  garbage = std::string();  // its memory must not hide the reader's peak
  const double before = PeakMiB();
  size_t live = 0;
  for (auto _ : state) {
    JournalContents contents = ReadJournal(fd.get());
    live = contents.live.size();
    benchmark::DoNotOptimize(contents);
  }
  if (live != 2) state.SkipWithError("the records at both ends were not both read");
  state.counters["peak_rss_growth_MiB"] = PeakMiB() - before;
  state.counters["file_MiB_per_s"] =
      benchmark::Counter(1024.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadHugeDamagedJournal)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace qz::bench

BENCHMARK_MAIN();
