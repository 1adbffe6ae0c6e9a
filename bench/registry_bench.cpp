// GetRegSetting reads per second on a registry store of 10,000 keys (100
// applications of 100 sections, one value each), hits and misses, and the
// cost of one SaveRegSetting write transaction for comparison.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "gateways/mail/c_registry.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

constexpr int kApps = 100;
constexpr int kSections = 100;

// One store file filled once per process; every benchmark reads it.
const std::string& FilledStore() {
  static testing::TempFolder folder;
  static const std::string path = [] {
    std::string file = folder.File("QzRegistry.db");
    RegistryStore store(file);
    for (int a = 0; a < kApps; ++a) {
      RegistryStore::Values none;
      for (int s = 0; s < kSections; ++s) {
        std::string key = std::string(kDefaultRegistryBase) + "App" + std::to_string(a) + "\\Sec" +
                          std::to_string(s);
        store.ReplaceValues(kHkeyCurrentUser, key, {{"Value", "setting " + std::to_string(s)}});
      }
    }
    return file;
  }();
  return path;
}

void BM_GetRegSetting(benchmark::State& state) {
  const bool hit = state.range(0) == 1;
  RegistryStore store(FilledStore());
  cRegistry registry(store);
  std::mt19937 random(42);
  std::uniform_int_distribution<int> app(0, kApps - 1), section(0, kSections - 1);
  for (auto _ : state) {
    std::string a = "App" + std::to_string(app(random)),
                s = "Sec" + std::to_string(section(random));
    std::string key = hit ? "Value" : "Missing", def = "default";
    Variant root = Variant::Missing();
    benchmark::DoNotOptimize(registry.GetRegSetting(a, s, key, def, root));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(hit ? "value found" : "value missing");
}
BENCHMARK(BM_GetRegSetting)->Arg(1)->Arg(0);

void BM_SaveRegSetting(benchmark::State& state) {
  RegistryStore store(FilledStore());
  cRegistry registry(store);
  int n = 0;
  for (auto _ : state) {
    std::string a = "Bench", s = "Writes", key = "Value", setting = std::to_string(++n);
    Variant root = Variant::Missing();
    registry.SaveRegSetting(a, s, key, setting, root);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveRegSetting);

}  // namespace
}  // namespace qz

BENCHMARK_MAIN();
