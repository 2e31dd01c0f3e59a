#pragma once
// What the benchmark programs share: the median of a set of samples, the kind and size of a
// run named "kind/size", and a console reporter that also hands every finished run to the
// program, so that once all runs are done the program can print its figure against its goal
// (a ratio of medians). Header only: each benchmark is one program of one file.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

using Run = benchmark::BenchmarkReporter::Run;

// The middle sample (the upper one of an even count); 0 without samples.
inline double median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// "scan/5000" is the kind "scan" at the size 5000; a name without a size has the size 0.
inline std::pair<std::string, int> kindAndSize(const std::string& name) {
  const auto slash = name.find('/');
  if (slash == std::string::npos) return {name, 0};
  try {
    return {name.substr(0, slash), std::stoi(name.substr(slash + 1))};
  } catch (...) {
    return {name.substr(0, slash), 0};
  }
}

// Samples by a run's kind and size, each a list of one figure per run.
using SamplesBySize = std::map<std::string, std::map<int, std::vector<double>>>;

// A `keep` for `runBenchmarks` that files each run's time per iteration in `times` by the
// run's kind and size.
inline std::function<void(const Run&)> timeBySize(SamplesBySize& times) {
  return [&times](const Run& r) {
    auto [kind, size] = kindAndSize(r.benchmark_name());
    times[kind][size].push_back(r.GetAdjustedRealTime());
  };
}

// Prints each run as the console reporter does, and hands every run that ran (no error, not
// an aggregate of repetitions) to `keep`.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  explicit KeepingReporter(std::function<void(const Run&)> keep) : keep_(std::move(keep)) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs)
      if (!r.error_occurred && r.iterations > 0 && r.run_type == Run::RT_Iteration) keep_(r);
  }

 private:
  std::function<void(const Run&)> keep_;
};

// A benchmark program's main: runs the registered benchmarks (with the command line's
// options), hands each run to `keep`, then calls `summary` to print the program's figure.
inline int runBenchmarks(int argc, char** argv, std::function<void(const Run&)> keep,
                         const std::function<void()>& summary) {
  benchmark::Initialize(&argc, argv);
  KeepingReporter reporter(std::move(keep));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  summary();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
