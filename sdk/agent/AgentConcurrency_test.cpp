// The agent under load from every side at once: check-ins asked for from several threads,
// configuration batches whose jobs finish on different threads, the charging case's events on
// the main thread while the agent's workers read it through the facade. Run under ThreadSanitizer (KESTRA_SANITIZE=thread)
// this is the proof that their state is shared safely; without it, the counts still show a
// check-in queued twice or a batch reported twice.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/agent/AgentCaseTestSupport.h"
#include "sdk/agent/VexaConfiguration.h"

namespace kestra::agenttest {
namespace {

class AgentUnderLoad : public AgentCaseTest {
 protected:
  void SetUp() override {
    AgentCaseTest::SetUp();
    attachCase();

    // An agent of its own over the facade (the fixture's one has a stand-in).
    facadeDevices_ = VexaDevices::overFacade(facade_);
    loaded_ = OKTVexa::create(facadeDevices_, locator_.get());
    loaded_->setTestMode(true);
    loaded_->setLocationEnabled(false);
    runner_ = std::make_unique<VexaConfiguration>(loaded_, [this] { return facade_.get(); });
    runner_->setDelegate(reports_);
  }
  void TearDown() override {
    runner_.reset();
    std::weak_ptr<VexaDevices> devices = facadeDevices_;
    facadeDevices_.reset();
    loaded_.reset();
    EXPECT_TRUE(runMainUntil([&] { return devices.expired() && VexaNetworkAction::postsInFlight() == 0; }));
    AgentCaseTest::TearDown();
  }

  std::shared_ptr<VexaDevices> facadeDevices_;
  std::shared_ptr<OKTVexa> loaded_;
  std::shared_ptr<RecordedReports> reports_ = std::make_shared<RecordedReports>();
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
  EXPECT_EQ(reports_->batchReports(), reports_->batches());
  EXPECT_EQ(reports_->batches(), size_t(kRounds));
}

}  // namespace
}  // namespace kestra::agenttest
