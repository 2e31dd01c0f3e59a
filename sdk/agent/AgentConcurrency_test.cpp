// The agent under load from every side at once: check-ins asked for from several threads,
// configuration batches whose jobs finish on different threads, the charging case's events on
// the main thread while the agent's workers read it through the facade. Run under ThreadSanitizer (KESTRA_SANITIZE=thread)
// this is the proof that their state is shared safely; without it, the counts still show a
// check-in queued twice or a batch reported twice.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTCD.h"
#include "sdk/device/OKTKXDevices.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"

namespace kestra::agenttest {
namespace {

// The test's facade as the agent uses it.
class FacadeDevices final : public VexaDevices {
 public:
  explicit FacadeDevices(std::shared_ptr<OKTKXDevices> facade) : facade_(std::move(facade)) {}
  int connstate() override { return facade_->connstate(); }
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error* error) override {
    return facade_->getConnectedDevicesInfo(error);
  }
  int activeDeviceType() override { return facade_->devices().activeDeviceType(); }
  bool setActiveDeviceType(int type, Error* error) override { return facade_->setActiveDeviceType(type, error); }
  std::optional<std::string> deviceName() override { return facade_->deviceName(); }
  std::optional<std::string> serialNumber() override { return facade_->serialNumber(); }
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) override { facade_->addDelegate(delegate); }

 private:
  std::shared_ptr<OKTKXDevices> facade_;
};

class CountingReports final : public VexaConfigDelegate {
 public:
  void didFinishAllConfigJobsWithReport(const nlohmann::json& report) override {
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, batch] : report.items()) ++byBatch_[id];
    }
    cv_.notify_all();
  }
  bool waitForBatches(size_t n) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] { return byBatch_.size() >= n; });
  }
  size_t batches() const {
    std::lock_guard lock(mutex_);
    return byBatch_.size();
  }
  size_t reports() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& [id, count] : byBatch_) n += count;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::string, int> byBatch_;
};

class NoPhoneBattery final : public KXPhoneBattery {
 public:
  int batteryState() override { return kUnplugged; }
  float batteryLevel() override { return 0.5f; }
};

class AgentUnderLoad : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    std::string pattern = (testHome() / "accessories-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    registry_ = std::make_unique<accessory::AccessoryManager>(folder_);
    case_ = OKTCD::create(OKTEADSessionController::create(*registry_), std::make_shared<NoPhoneBattery>());
    facade_ = OKTKXDevices::create(api_.api, case_, std::make_shared<KXDeviceAgentStandIn>());
    sim_ = std::make_unique<devices::SimulatedChargingCase>(devices::SimulatedChargingCase::defaultIdentity(), folder_);
    ASSERT_TRUE(sim_->attach());
    ASSERT_TRUE(runMainUntil([&] { return facade_->connstate() == 2 && case_->batteryInfo().contains("Voltage"); }));

    // An agent of its own over the facade (the fixture's one has a stand-in).
    facadeDevices_ = std::make_shared<FacadeDevices>(facade_);
    agent_->setTestMode(true);
    loaded_ = OKTVexa::create(facadeDevices_, locator_.get());
    loaded_->setTestMode(true);
    loaded_->setLocationEnabled(false);
    runner_ = std::make_unique<VexaConfiguration>(loaded_, [this] { return facade_.get(); });
    runner_->setDelegate(reports_);
  }
  void TearDown() override {
    runner_.reset();
    std::weak_ptr<FacadeDevices> devices = facadeDevices_;
    facadeDevices_.reset();
    loaded_.reset();
    EXPECT_TRUE(runMainUntil([&] { return devices.expired() && VexaNetworkAction::postsInFlight() == 0; }));
    sim_->detach();
    runMainUntil([&] { return registry_->connectedAccessories().empty(); });
    facade_.reset();
    case_.reset();
    sim_.reset();
    registry_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
    AgentTest::TearDown();
  }

  fs::path folder_;
  std::unique_ptr<accessory::AccessoryManager> registry_;
  std::shared_ptr<OKTCD> case_;
  testing::ApiFixture api_;
  std::shared_ptr<OKTKXDevices> facade_;
  std::unique_ptr<devices::SimulatedChargingCase> sim_;
  std::shared_ptr<FacadeDevices> facadeDevices_;
  std::shared_ptr<OKTVexa> loaded_;
  std::shared_ptr<CountingReports> reports_ = std::make_shared<CountingReports>();
  std::unique_ptr<VexaConfiguration> runner_;
};

TEST_F(AgentUnderLoad, CheckInsJobsAndDeviceEventsAtOnce) {
  constexpr int kRounds = 12;
  std::atomic<int> accepted{0}, refused{0}, answered{0};
  std::atomic<int> threadsDone{0};
  std::vector<std::thread> threads;

  // Two threads ask for check-ins at the same moments: each time, one is queued at most.
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        loaded_->setAllowCheckIn(true);
        loaded_->checkInWithCompletionBlock([&](const VexaPostResult& r) {
          if (r.error && r.error->code == kVexaErrorCheckInNotPermitted)
            ++refused;
          else
            ++accepted;
          ++answered;
        });
      }
      ++threadsDone;
    });
  }
  // Batches whose jobs end on two threads at once: the printer job is recorded on the
  // dispatching thread while the phone-app job runs on the runner's queue.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      const size_t before = reports_->batches();
      runner_->addConfigJobs(nlohmann::json::array({{{"key", "vkpPrinter_firmware"}, {"value", "1"}},
                                                    {{"key", "mobileApp_companyCode"}, {"value", std::to_string(i)}},
                                                    {{"key", "toravel_usbCurrent"}, {"value", "1000"}}}));
      if (!reports_->waitForBatches(before + 1)) break;
    }
    ++threadsDone;
  });
  // The case's battery and power source change while the agent's workers read them.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds; ++i) {
      devices::SimulatedChargingCase::Battery b;
      b.capacity = uint8_t(50 + i);
      b.powerSource = uint8_t(1 + i % 2);
      sim_->setBattery(b);
      foundation::NotificationCenter::defaultCenter().post(kOKT_DEVICE_CONNECTED_NOTIFICATION);
    }
    ++threadsDone;
  });
  const int kThreads = int(threads.size());
  ASSERT_TRUE(runMainUntil([&] {
    return threadsDone.load() == kThreads && answered.load() == 2 * kRounds && !loaded_->isCheckingIn() &&
           VexaNetworkAction::postsInFlight() == 0;
  }));
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted.load() + refused.load(), 2 * kRounds);
  // Every check-in that was let through reached the server (the batches' own come on top).
  EXPECT_GE(server_->service("check_in").size(), size_t(accepted.load()));
  // Each batch was reported exactly once.
  EXPECT_EQ(reports_->reports(), reports_->batches());
  EXPECT_EQ(reports_->batches(), size_t(kRounds));
}

}  // namespace
}  // namespace kestra::agenttest
