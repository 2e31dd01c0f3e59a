// Start-up with a damaged settings file: a defaults.json nested 100,000 levels deep is set
// aside and the settings start empty, in well under a second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/UserDefaults.h"

namespace {

void BM_DeeplyNestedDefaultsFile(benchmark::State& state) {
  char tmpl[] = "/tmp/orvo-defaults-bench-XXXXXX";
  const std::filesystem::path dir = mkdtemp(tmpl);
  const std::filesystem::path file = dir / "defaults.json";
  constexpr int kDepth = 100'000;
  const std::string deep = "{\"a\":" + std::string(kDepth, '[') + std::string(kDepth, ']') + "}";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(file) << deep;
    state.ResumeTiming();
    foundation::UserDefaults defaults(file);
    defaults.setString("serverIP", "10.0.0.1");
    benchmark::DoNotOptimize(defaults);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DeeplyNestedDefaultsFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
