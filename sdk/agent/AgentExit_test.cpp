// The process exits while a check-in is under way: the agent's threads go on using the shared
// stores, the logger and the server settings while the exit handlers run, and must find them
// still there.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>

#include "sdk/agent/AgentTestSupport.h"

namespace kestra::agenttest {
namespace {

// The facade stand-in: connected, and the list of its devices is held back until the gate opens.
class GatedDevices final : public VexaDevices {
 public:
  int connstate() override { return 2; }
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error*) override {
    std::unique_lock lock(mutex);
    ++waiting;
    changed.notify_all();
    changed.wait(lock, [&] { return open; });
    auto info = std::make_shared<KXDeviceInfo>();
    info->name = "PellanPro";
    info->serialNumber = "EXIT-1";
    return {info};
  }
  int activeDeviceType() override { return 0; }
  bool setActiveDeviceType(int, Error*) override { return true; }
  std::optional<std::string> deviceName() override { return "PellanPro"; }
  std::optional<std::string> serialNumber() override { return "EXIT-1"; }
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>&) override {}

  void waitUntilAsked() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return waiting > 0; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
  int waiting = 0;
  bool open = false;
};

// What the exit handler below needs; set only in the process that exits mid check-in. Nothing
// here is ever destroyed.
struct ExitCheckIn {
  std::shared_ptr<GatedDevices> devices;
  Outcome outcome;
  std::string home;
};
ExitCheckIn* gExitCheckIn = nullptr;

// Registered before main, so it runs after the destructors of every static made later: the
// held-back check-in goes on only once those have run, and the process ends well only if it
// then completes.
void finishCheckInAtExit() {
  ExitCheckIn* e = gExitCheckIn;
  if (!e) return;
  e->devices->release();
  const bool done = runMainUntil([e] { return e->outcome.done.load(); });
  std::error_code ec;
  std::filesystem::remove_all(e->home, ec);
  if (!done) ::_exit(3);
}
const bool gExitHandlerRegistered = std::atexit(&finishCheckInAtExit) == 0;

TEST_F(AgentTest, TheProcessExitsCleanlyWhileACheckInIsUnderWay) {
  ASSERT_TRUE(gExitHandlerRegistered);
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // the agent's and the client's threads must run
  // The exiting process fills what it frees, so a thread that reads a destroyed object sees garbage.
  ::setenv("MALLOC_PERTURB_", "165", 1);
  EXPECT_EXIT(
      {
        auto* e = new ExitCheckIn;
        e->devices = std::make_shared<GatedDevices>();
        e->home = testHome().string();
        auto agent = OKTVexa::create(e->devices, locator_.get());
        agent->setTestMode(true);
        agent->setLocationEnabled(false);
        agent->setAllowCheckIn(true);
        agent->checkInWithCompletionBlock(e->outcome.completion());
        e->devices->waitUntilAsked();
        gExitCheckIn = e;
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("MALLOC_PERTURB_");
}

}  // namespace
}  // namespace kestra::agenttest
