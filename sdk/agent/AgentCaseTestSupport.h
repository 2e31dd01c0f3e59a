#pragma once
// What the agent's tests over a real facade share (test code only): the agent fixture of
// AgentTestSupport.h plus an accessory folder of the test's own, a charging case over the
// real accessory layer, the facade over the device API's fake drivers and that case, and a
// simulated charging case that attaches there.
//
// Order of the end: a test's own `TearDown` lets its agents and runners finish first, then
// calls `AgentCaseTest::TearDown`, which detaches the case, waits until the registry has seen
// it go, and removes the folder.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "platform/accessory/AccessoryManager.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTCD.h"
#include "sdk/device/OKTKXDevices.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"

namespace kestra::agenttest {

class NoPhoneBattery final : public KXPhoneBattery {
 public:
  int batteryState() override { return kUnplugged; }
  float batteryLevel() override { return 0.5f; }
};

class AgentCaseTest : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    std::string pattern = (testHome() / "accessories-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    registry_ = std::make_unique<accessory::AccessoryManager>(folder_);
    case_ = OKTCD::create(OKTEADSessionController::create(*registry_), std::make_shared<NoPhoneBattery>());
    facade_ = OKTKXDevices::create(api_.api, case_, std::make_shared<KXDeviceAgentStandIn>());
  }
  void TearDown() override {
    if (sim_) sim_->detach();
    runMainUntil([&] { return registry_->connectedAccessories().empty(); });
    facade_.reset();
    case_.reset();
    sim_.reset();
    registry_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
    AgentTest::TearDown();
  }
  // Attaches a simulated case and waits until the facade is connected to it and has read
  // its battery.
  void attachCase() {
    sim_ = std::make_unique<devices::SimulatedChargingCase>(devices::SimulatedChargingCase::defaultIdentity(), folder_);
    ASSERT_TRUE(sim_->attach());
    ASSERT_TRUE(runMainUntil([&] { return facade_->connstate() == 2 && case_->batteryInfo().contains("Voltage"); }));
  }

  fs::path folder_;
  std::unique_ptr<accessory::AccessoryManager> registry_;
  std::shared_ptr<OKTCD> case_;
  testing::ApiFixture api_;
  std::shared_ptr<OKTKXDevices> facade_;
  std::unique_ptr<devices::SimulatedChargingCase> sim_;
};

}  // namespace kestra::agenttest
