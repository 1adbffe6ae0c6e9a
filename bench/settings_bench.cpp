// Costs of the settings access as a client sees them: one extended group read
// (14 reads of a file of about 60 lines, nothing cached) and one single-value
// write with its fsyncs. Each reports the median and p99 of single calls.
//
//   build/default/settings_bench [--benchmark_repetitions=N]
// Files go to $TMPDIR (default /tmp); point it at the disk you care about.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/profile_string.h"
#include "config/settings_interface.h"
#include "config/settings_path.h"

namespace {

namespace fs = std::filesystem;

class BenchFolder {
 public:
  BenchFolder() {
    std::string name = (fs::temp_directory_path() / "qzbench.XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    path_ = name;
  }
  ~BenchFolder() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// An SMS settings file of about 60 lines: comments before each key, as the
// shipped sample has, and an unrelated section ahead of the one read.
std::string SmsFile() {
  const char* keys[] = {"Protocol", "IPAddress", "Connect",   "Method",      "Access",
                        "Accept",   "Header",    "Response",  "CountryCode", "SMSTo",
                        "SMSFrom",  "SMSMsg",    "SMSOffset", "SMSTrailer"};
  std::string text = "; SMS gateway settings\n\n[Other]\n";
  for (int i = 0; i < 12; ++i) text += "unused" + std::to_string(i) + "=some value\n";
  text += "\n[SMS]\n";
  for (const char* key : keys)
    text += std::string("; the ") + key + " setting\n" + key + "=value of " + key + "\n";
  for (int i = 0; i < 4; ++i) text += "; trailing comment line\n";
  return text;
}

using Clock = std::chrono::steady_clock;

void ReportPercentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void BM_GetPagerSettingsExSms(benchmark::State& state) {
  BenchFolder folder;
  std::ofstream(qz::SettingsPath(folder.path(), "QzSMS.ini")) << SmsFile();
  std::vector<double> micros;
  for (auto _ : state) {
    auto start = Clock::now();
    qz::Variant group = qz::gvarGetPagerSettingsEx(folder.path(), 3);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    benchmark::DoNotOptimize(group);
  }
  ReportPercentiles(state, micros);
}
BENCHMARK(BM_GetPagerSettingsExSms);

void BM_WritePrivateProfileString(benchmark::State& state) {
  BenchFolder folder;
  const std::string file = qz::SettingsPath(folder.path(), "QzSMS.ini");
  std::ofstream(file) << SmsFile();
  std::vector<double> micros;
  long n = 0;
  for (auto _ : state) {
    std::string value = "port " + std::to_string(++n);  // a real change every time
    auto start = Clock::now();
    bool ok = qz::mblnWritePrivateProfileString(file, "SMS", "IPAddress", value);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (!ok) state.SkipWithError("write refused");
  }
  ReportPercentiles(state, micros);
}
BENCHMARK(BM_WritePrivateProfileString)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
