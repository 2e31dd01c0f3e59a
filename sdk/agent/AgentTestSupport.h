#pragma once
// What the agent's tests share (test code only): a private home for the stores (user
// defaults, the secret store, the log folder), the manual clock, a management server over
// HTTPS on loopback that the agent trusts, a simulated location provider, a facade stand-in
// with scriptable devices, a delegate that records the agent's status texts and one that
// records the job runner's reports.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/KeychainItems.h"
#include "platform/system/PhoneFacts.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/agent/VexaLog.h"
#include "testing/mdm/MdmServer.h"

namespace kestra::agenttest {

namespace fs = std::filesystem;

// One private folder per test process; each test starts with empty stores.
inline fs::path testHome() {
  static const fs::path home = [] {
    char pattern[] = "/tmp/kestra-agent-test-XXXXXX";
    fs::path p = ::mkdtemp(pattern);
    ::setenv("XDG_CONFIG_HOME", (p / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (p / "data").c_str(), 1);
    ::setenv("KESTRA_KEYCHAIN_FILE", (p / "keychain" / "login.keychain.json").c_str(), 1);
    ::setenv("KESTRA_BUNDLE_ID", "com.orvo.OrvoMobile", 1);
    static std::string folder = p.string();
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(folder, ec);
    });
    return p;
  }();
  return home;
}

inline void wipeStores() {
  const fs::path home = testHome();
  std::error_code ec;
  fs::remove_all(home / "config", ec);
  fs::remove_all(home / "data", ec);
  fs::remove_all(home / "keychain", ec);
  foundation::UserDefaults::resetStandard();
}

inline bool runMainUntil(const std::function<bool()>& condition) {
  return foundation::RunLoop::main().runUntil(condition, std::chrono::milliseconds(30000));
}

// Does what the main queue has ready now, without waiting for more.
inline void drainMain() {
  while (foundation::RunLoop::main().runOnce(foundation::Duration::zero())) {
  }
}

// Runs the main queue until every post the agent sent has been answered and handled.
inline bool settlePosts() {
  return runMainUntil([] { return VexaNetworkAction::postsInFlight() == 0; });
}

// The facade as the agent sees it, with devices the test lists.
class FakeDevices final : public VexaDevices {
 public:
  struct Device {
    std::string name;
    std::optional<std::string> serial;
    int type = 0;
  };
  int connstate() override { return state; }
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error*) override {
    std::function<void()> hold;
    {
      std::lock_guard lock(mutex);
      hold = whileQuerying;
    }
    if (hold) hold();
    std::lock_guard lock(mutex);
    std::vector<std::shared_ptr<KXDeviceInfo>> out;
    for (const auto& d : devices) {
      auto info = std::make_shared<KXDeviceInfo>();
      info->name = d.name;
      info->serialNumber = d.serial.value_or("");
      out.push_back(info);
    }
    return out;
  }
  int activeDeviceType() override { return activeType; }
  bool setActiveDeviceType(int type, Error*) override {
    std::lock_guard lock(mutex);
    typeCalls.push_back(type);
    activeType = type;
    return true;
  }
  std::optional<std::string> deviceName() override {
    std::lock_guard lock(mutex);
    for (const auto& d : devices)
      if (d.type == activeType) return d.name;
    return devices.empty() ? std::nullopt : std::optional(devices.front().name);
  }
  std::optional<std::string> serialNumber() override {
    std::lock_guard lock(mutex);
    for (const auto& d : devices)
      if (d.type == activeType) return d.serial;
    return devices.empty() ? std::nullopt : devices.front().serial;
  }
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>&) override {}

  std::atomic<int> state{0};
  std::atomic<int> activeType{-1};
  std::mutex mutex;
  std::vector<Device> devices;
  std::vector<int> typeCalls;
  // Runs (on the querying thread) each time the devices are asked for: a slow device.
  std::function<void()> whileQuerying;
};

class StatusRecorder final : public OKTVexaDelegate {
 public:
  StatusRecorder() {
    implements({vexasel::oktvexaStatus, vexasel::deviceTagStatus_error, vexasel::oktDevicesInfo});
  }
  void oktvexaStatus(const std::string& s) override {
    std::lock_guard lock(mutex_);
    statuses_.push_back(s);
  }
  void deviceTagStatus(bool ok, const std::optional<Error>& error) override {
    std::lock_guard lock(mutex_);
    tags_.push_back({ok, error});
  }
  void oktDevicesInfo(const nlohmann::json& infos) override {
    std::lock_guard lock(mutex_);
    infos_.push_back(infos);
  }
  std::vector<std::string> statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  bool saw(const std::string& s) const {
    for (const auto& x : statuses())
      if (x == s) return true;
    return false;
  }
  std::vector<std::pair<bool, std::optional<Error>>> tags() const {
    std::lock_guard lock(mutex_);
    return tags_;
  }
  size_t infoCount() const {
    std::lock_guard lock(mutex_);
    return infos_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> statuses_;
  std::vector<std::pair<bool, std::optional<Error>>> tags_;
  std::vector<nlohmann::json> infos_;
};

// The outcome of one check-in as its completion saw it.
struct Outcome {
  std::atomic<bool> done{false};
  VexaPostResult result;
  OKTVexa::Completion completion() {
    return [this](const VexaPostResult& r) {
      result = r;
      done = true;
    };
  }
};

// The job runner's reports, in the order they came, from any thread.
class RecordedReports final : public VexaConfigDelegate {
 public:
  void didFinishAllConfigJobsWithReport(const nlohmann::json& report) override {
    {
      std::lock_guard lock(mutex_);
      reports_.push_back(report);
    }
    cv_.notify_all();
  }
  std::vector<nlohmann::json> all() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }
  // How many different batches have been reported.
  size_t batches() const {
    std::lock_guard lock(mutex_);
    return batchIds().size();
  }
  // How many batch reports came in all (a batch reported twice counts twice).
  size_t batchReports() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& r : reports_) n += r.size();
    return n;
  }
  // Waits (from a thread other than the runner's) until `n` different batches are reported.
  bool waitForBatches(size_t n) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return batchIds().size() >= n; });
  }

 private:
  std::set<std::string> batchIds() const {
    std::set<std::string> ids;
    for (const auto& r : reports_)
      for (const auto& [id, batch] : r.items()) ids.insert(id);
    return ids;
  }
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<nlohmann::json> reports_;
};

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wipeStores();
    clock_ = std::make_shared<foundation::ManualClock>();
    foundation::Clock::setCurrent(clock_);
    system_info::setPhoneFactsOverride(system_info::PhoneFacts{"Test phone", "Phone", "Linux", "6.1", "x86_64"});
    server_ = std::make_unique<mdm::MdmServer>(testHome() / "certificates");
    ASSERT_TRUE(server_->ready());
    ASSERT_TRUE(server_->start());
    VexaNetworkAction::setServer(server_->origin(), server_->certificates().caCert.string());
    provider_ = std::make_shared<system_info::SimulatedLocationProvider>();
    locator_ = std::make_unique<VexaLocator>(provider_);
    devices_ = std::make_shared<FakeDevices>();
    agent_ = OKTVexa::create(devices_, locator_.get());
    agent_->setTestMode(true);
    agent_->setLocationEnabled(false);
    recorder_ = std::make_shared<StatusRecorder>();
    agent_->addDelegate(recorder_);
  }

  void TearDown() override {
    // An operation of the agent that is running holds the agent, which then goes when that
    // operation ends, on the operation's thread. Wait for that, so that no thread of the agent
    // still works when the stores, the server or the process go away. The facade stand-in is
    // the agent's first member and the fixture's last other owner: it goes last of all.
    std::weak_ptr<FakeDevices> devices = devices_;
    devices_.reset();
    agent_.reset();
    EXPECT_TRUE(runMainUntil([&] { return devices.expired(); })) << "an operation of the agent never ended";
    // Let answers still on their way reach the main queue and find the agent gone.
    server_->stop();
    drainMain();
    locator_.reset();
    system_info::setPhoneFactsOverride(std::nullopt);
    foundation::Clock::setCurrent(nullptr);
  }

  // Until `condition` holds: whenever one of the agent's operations waits on the clock and no
  // post is in flight (so no request times out), moves the clock by `step` once and lets the
  // waiting operation see it before moving it again.
  bool advanceUntil(const std::function<bool()>& condition, foundation::Duration step) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition() && std::chrono::steady_clock::now() < limit) {
      if (agent_->sleepingOperations() > 0 && VexaNetworkAction::postsInFlight() == 0) {
        clock_->advance(step);
        runMainUntil([&] { return agent_->sleepingOperations() == 0 || condition(); });
      } else {
        foundation::RunLoop::main().runOnce(std::chrono::milliseconds(5));
      }
    }
    return condition();
  }

  // Runs one check-in and waits for its completion.
  VexaPostResult checkIn(bool allow = true) {
    if (allow) agent_->setAllowCheckIn(true);
    Outcome outcome;
    agent_->checkInWithCompletionBlock(outcome.completion());
    EXPECT_TRUE(runMainUntil([&] { return outcome.done.load(); }));
    return outcome.result;
  }

  std::shared_ptr<foundation::ManualClock> clock_;
  std::unique_ptr<mdm::MdmServer> server_;
  std::shared_ptr<system_info::SimulatedLocationProvider> provider_;
  std::unique_ptr<VexaLocator> locator_;
  std::shared_ptr<FakeDevices> devices_;
  std::shared_ptr<OKTVexa> agent_;
  std::shared_ptr<StatusRecorder> recorder_;
};

}  // namespace kestra::agenttest
