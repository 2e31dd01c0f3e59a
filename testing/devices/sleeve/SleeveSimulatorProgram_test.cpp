// The sleeve simulator program as another process: a sleeve with a chosen firmware and
// barcode engine, into which a firmware file is flashed end to end through the device API.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/sleeve/PellanModulesFixture.h"
#include "testing/devices/base/JoiningThread.h"
#include "testing/devices/sleeve/SleeveModules.h"

extern char** environ;

namespace kestra::testing {
namespace {

// The program with its standard input and output on pipes.
class SimulatorProcess {
 public:
  explicit SimulatorProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = fdopen(out[0], "r");
  }
  ~SimulatorProcess() {
    if (pid_ > 0) {
      say("!quit");
      ::close(input_);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (output_) fclose(output_);
  }
  bool running() const { return pid_ > 0; }
  void say(const std::string& line) {
    const std::string text = line + "\n";
    (void)!::write(input_, text.data(), text.size());
  }
  std::string readLine() {
    char buf[256] = {};
    if (!output_ || !fgets(buf, sizeof buf, output_)) return {};
    std::string s(buf);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  FILE* output_ = nullptr;
};

TEST(SleeveSimulatorProgram, AFirmwareFileIsFlashedIntoItThroughTheDeviceAPI) {
  // The bench's own in-process sleeve is never attached: the program's sleeve is the one.
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  SimulatorProcess program({KESTRA_SLEEVE_SIMULATOR, "--folder", bench.folder.string(), "--engine", "newland",
                            "--firmware", "2.63"});
  ASSERT_TRUE(program.running());
  program.say("!firmware");
  EXPECT_EQ(program.readLine(), "2.63");  // also: the sleeve is attached by now

  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }));
  EXPECT_EQ(api->firmwareRevision(), "2.63.0");
  EXPECT_EQ(api->deviceModel(), "NBCM");
  Error e;
  EXPECT_FALSE(facade->updateFirmwareData(devices::SleeveModules::firmwareImage(3000, "XBCM", 2, 80), &e));  // another model
  EXPECT_EQ(e.code, -9);

  const Bytes file = devices::SleeveModules::firmwareImage(3000, "NBCM", 2, 80);
  {
    foundation::ScopedManualClock clock;
    ClockPump pump(*clock);
    std::atomic<bool> done{false};
    bool ok = false;
    devices::JoiningThread update([&] {
      ok = facade->updateFirmwareData(file, &e);
      done = true;
    });
    ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
    update.join();
    ASSERT_TRUE(ok) << e.text;
    ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2 && api->firmwareRevision() == "2.80.0"; }));
  }
  program.say("!firmware");
  EXPECT_EQ(program.readLine(), "2.80");
}

}  // namespace
}  // namespace kestra::testing
