// Start-up to the first painted frame: the OrvoMobile program against a bare Qt 6 window
// built by the project (bare_qt_window), each started as a new process on the offscreen
// platform with fresh configuration and data folders, timed from the start of the process
// to its "first-frame" line (KESTRA_FIRST_FRAME_EXIT). The two alternate, so a machine
// whose load changes meanwhile weighs on both alike; at the end the program prints the
// ratio of their medians (the goal: at most 1.5x), and beside it the ratio of their fastest
// starts.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 11;

fs::path buildDir() { return fs::canonical("/proc/self/exe").parent_path().parent_path(); }

fs::path program(const std::string& which) {
  return which == "bare" ? buildDir() / "bench" / "bare_qt_window" : buildDir() / "app" / "OrvoMobile";
}

// Milliseconds from the start of the process to its first frame; negative on failure.
double timeToFirstFrame(const fs::path& exe, const fs::path& home) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("XDG_", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0 || v.rfind("HOME=", 0) == 0) continue;
    env.push_back(v);
  }
  env.push_back("HOME=" + home.string());
  env.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
  env.push_back("XDG_DATA_HOME=" + (home / "data").string());
  env.push_back("XDG_CACHE_HOME=" + (home / "cache").string());
  env.push_back("XDG_RUNTIME_DIR=" + (home / "run").string());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("KESTRA_FIRST_FRAME_EXIT=1");
  fs::create_directories(home / "run");
  fs::permissions(home / "run", fs::perms::owner_all);
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::string arg0 = exe.string();
  char* argv[] = {arg0.data(), nullptr};

  int out[2];
  if (::pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  const int rc = posix_spawn(&pid, arg0.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return -1;
  }
  std::string seen;
  char buf[256];
  double ms = -1;
  for (;;) {
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, size_t(n));
    if (seen.find("first-frame\n") != std::string::npos) {
      ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      break;
    }
  }
  ::close(out[0]);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return ms;
}

void BM_FirstFrame(benchmark::State& state, std::string which) {
  char tmpl[] = "/tmp/orvo-startup-XXXXXX";
  const fs::path home = ::mkdtemp(tmpl);
  for (auto _ : state) {
    const double ms = timeToFirstFrame(program(which), home / std::to_string(state.iterations()));
    if (ms < 0) {
      state.SkipWithError("no first frame");
      break;
    }
    state.SetIterationTime(ms / 1000);
  }
  fs::remove_all(home);
}

}  // namespace

int main(int argc, char** argv) {
  for (int round = 0; round < kRounds; ++round) {
    benchmark::RegisterBenchmark("firstFrame/bare", BM_FirstFrame, std::string("bare"))
        ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("firstFrame/OrvoMobile", BM_FirstFrame, std::string("app"))
        ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
  }
  std::map<std::string, std::vector<double>> times;
  return bench::runBenchmarks(
      argc, argv, [&](const bench::Run& r) { times[r.run_name.function_name].push_back(r.GetAdjustedRealTime()); },
      [&] {
        const double bare = bench::median(times["firstFrame/bare"]), app = bench::median(times["firstFrame/OrvoMobile"]);
        std::printf("start-up to the first frame: OrvoMobile %.1f ms, bare Qt window %.1f ms; ratio %.2fx "
                    "(goal: at most 1.5x)\n",
                    app, bare, bare > 0 ? app / bare : 0.0);
        // The fastest start of each, which the machine's other work disturbs least.
        const auto fastest = [](const std::vector<double>& v) {
          return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
        };
        const double bareBest = fastest(times["firstFrame/bare"]), appBest = fastest(times["firstFrame/OrvoMobile"]);
        std::printf("fastest starts: OrvoMobile %.1f ms, bare Qt window %.1f ms; ratio %.2fx\n", appBest, bareBest,
                    bareBest > 0 ? appBest / bareBest : 0.0);
      });
}
