#include "sdk/device/OKTCD.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "testing/devices/base/JoiningThread.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"

namespace kestra {
namespace {

using devices::SimulatedChargingCase;
using foundation::toHex;

class CaseRecorder final : public OKTCDDelegate {
 public:
  devices::CallRecorder log;
  void toravelConnectionState(int s) override { log.add("state:" + std::to_string(s), true); }
  void deviceButtonPressed(int b) override { log.add("pressed:" + std::to_string(b), true); }
  void deviceButtonReleased(int b) override { log.add("released:" + std::to_string(b), true); }
  void firmwareUpdateProgress(int phase, int percent) override {
    log.add("progress:" + std::to_string(phase) + "," + std::to_string(percent), true);
  }
};

class PhoneBattery final : public KXPhoneBattery {
 public:
  int state = kUnplugged;
  int batteryState() override { return state; }
  float batteryLevel() override { return 0.5f; }
};

bool pump(const std::function<bool()>& condition) { return foundation::RunLoop::main().runUntil(condition); }

// A private accessory folder and registry, the case over them, a recording delegate and a
// simulated case that a test attaches when it wants.
struct CaseBench {
  std::filesystem::path folder = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestra-case-XXXXXX").string();
    return std::filesystem::path(mkdtemp(tmpl.data()) ? tmpl : std::string());
  }();
  std::unique_ptr<accessory::AccessoryManager> registry = std::make_unique<accessory::AccessoryManager>(folder);
  std::shared_ptr<PhoneBattery> phone = std::make_shared<PhoneBattery>();
  std::shared_ptr<OKTCD> device = OKTCD::create(OKTEADSessionController::create(*registry), phone);
  std::shared_ptr<CaseRecorder> recorder = std::make_shared<CaseRecorder>();
  std::unique_ptr<SimulatedChargingCase> sim;

  CaseBench() { device->setDelegate(recorder); }
  ~CaseBench() {
    if (sim) sim->detach();
    pump([&] { return registry->connectedAccessories().empty(); });
    device.reset();
    sim.reset();
    registry.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }

  // Attaches the simulated case and waits until the control session has had its replies.
  SimulatedChargingCase& attach(accessory::AccessoryIdentity identity = SimulatedChargingCase::defaultIdentity()) {
    sim = std::make_unique<SimulatedChargingCase>(std::move(identity), folder);
    EXPECT_TRUE(sim->attach());
    return *sim;
  }
  bool connected() {
    return recorder->log.waitForLine("state:2") &&
           pump([&] { return sim->frames().framesOf(SimulatedChargingCase::controlKey(chargingcase::kControlInitialize)) == 1; }) &&
           pump([&] { return device->batteryInfo().contains("Voltage"); });
  }
  // The control messages the host sent since the last call, as hex.
  std::vector<std::string> sentControl() {
    std::vector<std::string> out;
    for (const auto& f : sim->frames().hostFrames())
      if (f.channel == SimulatedChargingCase::kControlChannel) out.push_back(toHex(f.bytes));
    sim->frames().clearHostFrames();
    return out;
  }
  // Runs the main queue until the simulator has seen `count` more control messages.
  bool controlSent(size_t count) {
    return pump([&] {
      size_t n = 0;
      for (const auto& f : sim->frames().hostFrames()) n += f.channel == SimulatedChargingCase::kControlChannel;
      return n >= count;
    });
  }
};

TEST(OKTCD, AttachedCaseIsAnnouncedIdentifiedAndReportsItsBattery) {
  CaseBench bench;
  EXPECT_TRUE(bench.device->getDeviceInfo().is_null());
  EXPECT_TRUE(bench.device->getBatteryInfo().is_null());
  bench.attach();
  ASSERT_TRUE(bench.connected());
  EXPECT_EQ(bench.recorder->log.lines().front(), "state:2");
  EXPECT_EQ(bench.device->connState(), 2);
  const auto info = bench.device->getDeviceInfo();
  EXPECT_EQ(info["Name"], "Toravel");
  EXPECT_EQ(info["Model"], "TORAVEL-PH7");
  EXPECT_EQ(info["Serial"], "TRV000000012345");
  EXPECT_EQ(info["FirmwareRev"], "1.2.3");
  EXPECT_EQ(info["HardwareRev"], "Rev A");
  EXPECT_EQ(bench.device->getAccessoryManufacturer(), "Corvanta, Inc.");
  const auto battery = bench.device->getBatteryInfo();
  EXPECT_EQ(battery["Serial"], "BAT000000067890");
  EXPECT_EQ(battery["Voltage"], "3.70 V");
  EXPECT_EQ(battery["Remaining Charge"], "75 %");
  EXPECT_EQ(battery["Max Capacity"], "2500 mA-H");
  EXPECT_EQ(battery["Health"], "98 %");
  EXPECT_EQ(battery["Cycle"], "12");
  EXPECT_EQ(battery["Firmware Version"], "7");
  EXPECT_FLOAT_EQ(bench.device->getBatteryVoltage(), 3.7f);
  EXPECT_FALSE(bench.device->isCharging());
  EXPECT_FALSE(bench.device->isBackupCharge());
  bench.phone->state = KXPhoneBattery::kFull;
  EXPECT_TRUE(bench.device->isBackupCharge());
  EXPECT_TRUE(bench.recorder->log.allOnMainThread());
}

TEST(OKTCD, RepliesInOneReadArePostedOnceEachInOrder) {
  CaseBench bench;
  bench.attach();
  ASSERT_TRUE(bench.connected());
  std::vector<std::string> posted;
  const void* control = &bench.device->protocolControl();
  auto& center = foundation::NotificationCenter::defaultCenter();
  for (const char* name : {kDemo1ReceivedBatteryCapacity, kDemo1ReceivedBatteryHealth})
    center.addObserver(&posted, name, control, [&posted](const foundation::Notification& n) { posted.push_back(n.name); });
  // Noise before the burst is skipped; both messages count.
  bench.sim->injectGarbageBeforeNextSend({0x00, 0x11});
  bench.sim->sendControl({SimulatedChargingCase::capacityMessage(40, 3850),
                          chargingcase::controlMessage(chargingcase::kReplyBatteryHealth, {90, 0, 13})});
  ASSERT_TRUE(pump([&] { return posted.size() == 2; }));
  center.removeObserver(&posted);
  EXPECT_EQ(posted, (std::vector<std::string>{kDemo1ReceivedBatteryCapacity, kDemo1ReceivedBatteryHealth}));
  EXPECT_EQ(bench.device->getBatteryCapacity(), 40);
  EXPECT_EQ(bench.device->getBatteryHealth(), 90);
  EXPECT_EQ(bench.device->getBatteryChargeCount(), 13);
  EXPECT_EQ(bench.device->batteryInfo()["Voltage"], "3.85 V");
}

TEST(OKTCD, CurrentAndLedCommandsHaveTheirBytesAndRefusalsSendNothing) {
  CaseBench bench;
  EXPECT_FALSE(bench.device->setToravelCurrent(1000));  // no session: nothing kept
  EXPECT_EQ(bench.device->getToravelCurrent(), 500);
  bench.attach();
  ASSERT_TRUE(bench.connected());
  ASSERT_TRUE(bench.controlSent(2));  // initialize, and the LED mask after the case's information
  bench.sentControl();
  EXPECT_FALSE(bench.device->setToravelCurrent(750));
  EXPECT_TRUE(bench.device->setToravelCurrent(1000));
  EXPECT_EQ(bench.device->getToravelCurrent(), 1000);
  EXPECT_TRUE(bench.device->enableBatterySharing(false));
  EXPECT_EQ(bench.device->getToravelCurrent(), 1000);
  EXPECT_TRUE(bench.device->enableBatterySharing(true));
  bench.device->turnOnLEDColor(0);
  bench.device->turnOnLEDColor(2);
  bench.device->turnOnLEDColor(3);
  bench.device->turnOffLED();
  ASSERT_TRUE(bench.controlSent(7));
  EXPECT_EQ(bench.sentControl(),
            (std::vector<std::string>{"5AA509E803000000", "5AA5090000000000", "5AA509E803000000", "5AA5020100000000",
                                      "5AA5020500000000", "5AA5020000000000", "5AA5020000000000"}));
  EXPECT_EQ(bench.sim->outputCurrent(), 1000);
}

TEST(OKTCD, SwitchesBecomeButtonsOnlyForTheirPims) {
  for (int8_t pim : {4, 5}) {
    SCOPED_TRACE(int(pim));
    CaseBench bench;
    bench.attach();
    ASSERT_TRUE(bench.connected());
    bench.sim->setPIM(pim);
    ASSERT_TRUE(pump([&] { return bench.device->protocolControl().getPIM() == pim; }));
    bench.recorder->log.clear();
    bench.sim->press(1);
    bench.sim->press(2);
    bench.sim->release(1);
    bench.sim->release(2);
    bench.sim->press(4);  // not a button
    ASSERT_TRUE(pump([&] { return bench.device->protocolControl().getSwitchPositions() == 0x08; }));
    if (pim == 4)
      EXPECT_EQ(bench.recorder->log.lines(),
                (std::vector<std::string>{"pressed:1", "pressed:2", "released:1", "released:2"}));
    else
      EXPECT_TRUE(bench.recorder->log.lines().empty());
  }
}

TEST(OKTCD, CaseLeavingIsAnnouncedAndOtherAccessoriesAreIgnored) {
  CaseBench bench;
  auto other = SimulatedChargingCase::defaultIdentity();
  other.manufacturer = "Someone Else";
  bench.attach(other);
  ASSERT_TRUE(pump([&] { return !bench.registry->connectedAccessories().empty(); }));
  EXPECT_EQ(bench.device->connState(), 0);
  EXPECT_TRUE(bench.recorder->log.lines().empty());
  bench.sim->detach();
  bench.attach();
  ASSERT_TRUE(bench.connected());
  bench.sim->detach();
  ASSERT_TRUE(bench.recorder->log.waitForLine("state:0"));
  EXPECT_EQ(bench.device->connState(), 0);
  EXPECT_TRUE(bench.device->getDeviceInfo().empty());
  EXPECT_TRUE(bench.device->getBatteryInfo().is_null());
}

// ---- Firmware ---------------------------------------------------------------------------------

Bytes caseImage(size_t size = 300, const std::string& name = "Toravel") {
  Bytes image(size);
  for (size_t i = 0; i < size; ++i) image[i] = uint8_t(i * 7);
  const Bytes packed = chargingcase::packCaseName(name);
  std::copy(packed.begin(), packed.end(), image.begin() + 12);
  return image;
}

struct UpdateResult {
  std::atomic<bool> done{false};
  bool ok = false;
  foundation::Error error;
};

// Runs the blocking update on a test thread while the main thread serves the case.
void runUpdate(CaseBench& bench, const Bytes& image, bool validate, UpdateResult& result,
               const std::function<void()>& whileWaiting = {}) {
  devices::JoiningThread t([&] {
    result.ok = bench.device->updateFirmwareData(image, validate, &result.error);
    result.done = true;
    foundation::RunLoop::main().wakeUp();
  });
  if (whileWaiting) whileWaiting();
  ASSERT_TRUE(pump([&] { return result.done.load(); }));
  t.join();
}

TEST(OKTCDFirmware, ImageIsFlashedInChunksAndTheRestartEndsTheUpdate) {
  CaseBench bench;
  bench.attach();
  ASSERT_TRUE(bench.connected());
  bench.recorder->log.clear();
  const Bytes image = caseImage();
  UpdateResult result;
  runUpdate(bench, image, true, result);
  EXPECT_TRUE(result.ok) << result.error.text;
  EXPECT_EQ(bench.sim->chunkSizes(), (std::vector<size_t>{128, 128, 44}));
  EXPECT_EQ(bench.sim->storedImage(), image);
  // The install's acknowledgement may be overtaken by the case's restart.
  std::vector<std::string> seen;
  for (const auto& line : bench.recorder->log.lines())
    if (line != "state:2" && !(line == "progress:2,98" && !seen.empty() && seen.back() == line)) seen.push_back(line);
  EXPECT_EQ(seen, (std::vector<std::string>{"progress:1,0", "progress:2,42", "progress:2,85", "progress:2,95",
                                            "progress:2,98", "state:0", "progress:3,100"}));
  // The case comes back and its control session opens again.
  ASSERT_TRUE(bench.recorder->log.waitFor([](const auto& l) { return l.back() == "state:2"; }));
  EXPECT_EQ(bench.sim->restarts(), 1);
}

TEST(OKTCDFirmware, FaultsEndTheUpdateWithTheirReasonAndNoHang) {
  foundation::ScopedManualClock clock;
  struct Case {
    const char* name;
    SimulatedChargingCase::BootFaults faults;
    bool silentVerify;
    foundation::Duration advance;  // moved once the update waits
  };
  const Case cases[] = {
      {"wrong CRC", {.wrongCrc = true}, false, {}},
      {"install refused", {.nack = true}, false, {}},
      {"short target information", {.targetInfoLength = 7}, false, {}},
      {"store refused", {.refuseStore = true}, false, {}},
      {"write error", {.writeError = true}, false, {}},
      {"no verify reply", {}, true, kBootloaderResponseTimeout},
      {"no restart", {.noRestart = true}, false, kCaseRestartTimeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaseBench bench;
    bench.attach();
    bench.sim->setBootFaults(c.faults);
    if (c.silentVerify) bench.sim->frames().setAnswered(chargingcase::kBootVerify, false);
    ASSERT_TRUE(bench.connected());
    UpdateResult result;
    runUpdate(bench, caseImage(), true, result, [&] {
      if (c.advance == foundation::Duration{}) return;
      // Wait until the update stands where nothing more will come, then let time pass.
      if (c.silentVerify)
        ASSERT_TRUE(pump([&] { return bench.sim->frames().framesOf(chargingcase::kBootVerify) == 1; }));
      else
        ASSERT_TRUE(bench.recorder->log.waitFor([](const auto& l) { return std::count(l.begin(), l.end(), "progress:2,98") == 2; }));
      clock->advance(c.advance + std::chrono::seconds(1));
    });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.text, "Update error: unknown.");
    EXPECT_EQ(bench.recorder->log.lines().back(), "progress:-1,95");
    EXPECT_EQ(bench.sim->restarts(), 0);
  }
}

TEST(OKTCDFirmware, UpdatesThatCannotStartFailAtOnce) {
  CaseBench bench;
  foundation::Error error;
  UpdateResult notConnected;
  runUpdate(bench, caseImage(), true, notConnected);
  EXPECT_FALSE(notConnected.ok);
  EXPECT_EQ(notConnected.error.text, "No device connected.");
  EXPECT_EQ(notConnected.error.domain, "com.okt.KestraSDK");

  bench.attach();
  ASSERT_TRUE(bench.connected());
  // On the main thread the update would wait for itself.
  EXPECT_FALSE(bench.device->updateFirmwareData(caseImage(), &error));
  EXPECT_FALSE(error.text.empty());
  struct Case {
    const char* name;
    Bytes image;
    bool validate;
    const char* text;
  };
  const Case cases[] = {
      {"empty image", {}, false, "Update error: data is nil."},
      {"another device's file", caseImage(300, "Kestra Charge"), true,
       "Update error: the firmware file is not compatible with connected device."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateResult result;
    runUpdate(bench, c.image, c.validate, result);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.text, c.text);
  }
  EXPECT_EQ(bench.sim->frames().framesOf(chargingcase::kBootTargetInformation), 0u);
  // Without validation the other device's file is handed to the case.
  UpdateResult unchecked;
  runUpdate(bench, caseImage(300, "Kestra Charge"), false, unchecked);
  EXPECT_TRUE(unchecked.ok) << unchecked.error.text;
}

TEST(OKTCDFirmware, ACaseOfAnotherRevisionIsRefusedBeforeAnythingIsSent) {
  CaseBench bench;
  auto identity = SimulatedChargingCase::defaultIdentity();
  identity.hardwareRevision = "Rev B";
  bench.attach(identity);
  ASSERT_TRUE(bench.connected());
  UpdateResult result;
  runUpdate(bench, caseImage(), true, result);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error.text, "Update error: the firmware file is not compatible with connected device.");
  EXPECT_EQ(bench.sim->frames().framesOf(chargingcase::kBootTargetInformation), 0u);
  // A later disconnect is not taken for the restart of an update.
  bench.recorder->log.clear();
  bench.sim->detach();
  ASSERT_TRUE(bench.recorder->log.waitForLine("state:0"));
  EXPECT_EQ(bench.recorder->log.count("progress:3,100"), 0u);
}

// ---- Through the facade ---------------------------------------------------------------------

TEST(OKTCDFacade, CaseStatesReachTheApplicationThroughTheFacade) {
  CaseBench bench;
  testing::ApiFixture api;
  auto facade = OKTKXDevices::create(api.api, bench.device, std::make_shared<KXDeviceAgentStandIn>());
  auto app = std::make_shared<testing::RecordingDelegate>(api.events, "app", std::vector<std::string_view>{kxsel::connectionState});
  facade->addDelegate(app);
  bench.attach();
  ASSERT_TRUE(api.events->waitForLine("app:connectionState:2"));
  EXPECT_EQ(facade->deviceType(), 100);
  int current = 0;
  EXPECT_TRUE(facade->setUSBChargeCurrent(1500));
  EXPECT_TRUE(facade->getUSBChargeCurrent(&current));
  EXPECT_EQ(current, 1500);
  bench.sim->detach();
  ASSERT_TRUE(api.events->waitForLine("app:connectionState:0"));
}

}  // namespace
}  // namespace kestra
