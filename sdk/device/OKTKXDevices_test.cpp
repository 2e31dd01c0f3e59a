#include "sdk/device/OKTKXDevices.h"

#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevicesTestSupport.h"

namespace kestra::testing {
namespace {
namespace case_facade_test {

struct FacadeFixture : ApiFixture {
  std::shared_ptr<FakeCase> chargingCase = std::make_shared<FakeCase>();
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, chargingCase, std::make_shared<KXDeviceAgentStandIn>());
  std::shared_ptr<CallLog> app = std::make_shared<CallLog>();

  std::shared_ptr<RecordingDelegate> appDelegate(std::string tag, std::vector<std::string_view> selectors) {
    auto d = std::make_shared<RecordingDelegate>(app, std::move(tag), std::move(selectors));
    facade->addDelegate(d);
    return d;
  }
};

TEST(OKTKXDevicesConnection, CaseAloneIsWhatTheApplicationSees) {
  FacadeFixture f;
  auto a = f.appDelegate("app", {kxsel::connectionState});
  f.chargingCase->move(2);
  EXPECT_EQ(f.app->lines(), std::vector<std::string>{"app:connectionState:2"});
  EXPECT_EQ(f.facade->oktActiveDevice(), OKTKXDevices::kActiveChargingCase);
  EXPECT_EQ(f.facade->connstate(), 2);
  EXPECT_EQ(f.facade->deviceType(), 100);
  EXPECT_EQ(f.facade->connectionType(), 0);
  EXPECT_EQ(f.facade->deviceName(), "Case One");
  EXPECT_EQ(f.facade->firmwareRevisionNumber(), 10014);  // "1.0.14"
  // A device API change to 0 is not the application's while the case alone is active.
  f.facade->connectionState(0);
  EXPECT_EQ(f.app->lines().size(), 1u);
}

TEST(OKTKXDevicesConnection, CaseComingAndGoingBesideTheSleeve) {
  FacadeFixture f;
  auto a = f.appDelegate("app", {kxsel::connectionState});
  f.sleeveState(2);  // the device API announces 2, the facade passes it on
  EXPECT_EQ(f.facade->oktActiveDevice(), OKTKXDevices::kActiveDeviceAPI);
  EXPECT_EQ(f.facade->deviceType(), 0);
  f.chargingCase->move(2);
  EXPECT_EQ(f.facade->oktActiveDevice(), OKTKXDevices::kActiveNone);
  EXPECT_EQ(f.facade->deviceType(), 100);
  f.chargingCase->move(0);  // the case leaves: nothing for the application
  EXPECT_EQ(f.app->lines(), (std::vector<std::string>{"app:connectionState:2", "app:connectionState:2"}));
  EXPECT_EQ(f.facade->oktActiveDevice(), OKTKXDevices::kActiveDeviceAPI);
  EXPECT_EQ(f.facade->deviceName(), "sleeve");
  EXPECT_EQ(f.facade->connstate(), 2);
  f.sleeveState(0);
  EXPECT_EQ(f.app->lines().back(), "app:connectionState:0");
  EXPECT_EQ(f.facade->deviceName(), std::nullopt);
}

TEST(OKTKXDevicesConnection, TypeOneHundredStandsForTheCase) {
  FacadeFixture f;
  f.sleeveState(2);
  EXPECT_TRUE(f.facade->setActiveDeviceType(100));
  EXPECT_EQ(f.api->activeDeviceType(), 0);
  f.sleeveState(0);
  Error e;
  EXPECT_FALSE(f.facade->setActiveDeviceType(100, &e));
  EXPECT_EQ(e.text, "Device is not connected");
  EXPECT_EQ(f.facade->getDeviceConnectionState(100), 0);
  f.chargingCase->move(2);
  EXPECT_EQ(f.facade->getDeviceConnectionState(100), 2);
  EXPECT_EQ(f.facade->getDeviceConnectionState(-1), 2);
  EXPECT_TRUE(f.facade->isPresent(100));
  auto info = f.facade->getConnectedDevicesInfo();
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0]->deviceType, 100);
  EXPECT_EQ(info[0]->serialNumber, "C123");
}

TEST(OKTKXDevicesCaseCalls, ServedByTheCaseWhileItIsConnectedElseByTheDevice) {
  FacadeFixture f;
  // Nothing connected: NO, and the error place is left alone.
  Error untouched("keep", 1, "keep");
  EXPECT_FALSE(f.facade->setCharging(true, &untouched));
  EXPECT_EQ(untouched.domain, "keep");
  f.sleeveState(2);
  EXPECT_TRUE(f.facade->setCharging(true));
  EXPECT_EQ(f.drivers.log->count("sleeve.setCharging:1"), 1u);
  f.chargingCase->move(2);
  EXPECT_TRUE(f.facade->setCharging(false));
  EXPECT_EQ(f.chargingCase->log->count("case.enableBatterySharing:0"), 1u);
  // Out-places may be left out.
  EXPECT_TRUE(f.facade->getBatteryCapacity(nullptr, nullptr));
  EXPECT_TRUE(f.facade->getCharging(nullptr));
  EXPECT_TRUE(f.facade->getUSBChargeCurrent(nullptr));
  int capacity = 0;
  float volts = 0;
  EXPECT_TRUE(f.facade->getBatteryCapacity(&capacity, &volts));
  EXPECT_EQ(capacity, 64);
  EXPECT_FLOAT_EQ(volts, 4.1f);
  auto battery = f.facade->getBatteryInfo();
  ASSERT_TRUE(battery);
  EXPECT_EQ(battery->maximumCapacity, 2500);
  EXPECT_EQ(battery->extendedInfo["Serial"], "C123");
  EXPECT_FALSE(f.facade->setUSBChargeCurrent(700));
  EXPECT_TRUE(f.facade->setUSBChargeCurrent(1500));
}

TEST(OKTKXDevicesCaseCalls, LedMasksOnTheCase) {
  struct Case {
    uint32_t mask;
    bool ok;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {0, true, {"case.turnOffLED"}},
      {1, true, {"case.turnOnLEDColor:1"}},
      {2, true, {"case.turnOnLEDColor:0"}},
      {3, true, {"case.turnOffLED", "case.turnOnLEDColor:1", "case.turnOnLEDColor:0"}},
      {4, true, {"case.turnOnLEDColor:2"}},
      {5, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    FacadeFixture f;
    f.chargingCase->state = 2;
    EXPECT_EQ(f.facade->uiControlLEDsWithBitMask(c.mask), c.ok);
    EXPECT_EQ(f.chargingCase->log->lines(), c.calls);
  }
}

TEST(OKTKXDevicesEvents, BarcodeBytesAlsoReachTextDelegatesAndBothFormsGetBoth) {
  FacadeFixture f;
  auto text = f.appDelegate("text", {kxsel::barcodeData_type});
  auto both = f.appDelegate("both", {kxsel::barcodeData_type, kxsel::barcodeNSData_type});
  f.api->kxdev_barcodeData(Bytes{'T', 'A', 'B', 'C'});
  int textCalls = 0, bothText = 0, bothBytes = 0;
  for (const auto& l : f.app->lines()) {
    if (l.rfind("text:barcodeData:ABC", 0) == 0) ++textCalls;
    if (l.rfind("both:barcodeData:ABC", 0) == 0) ++bothText;
    if (l.rfind("both:barcodeNSData:ABC", 0) == 0) ++bothBytes;
  }
  EXPECT_EQ(textCalls, 1);
  EXPECT_EQ(bothText, 1);
  EXPECT_EQ(bothBytes, 1);
}

TEST(OKTKXDevicesEvents, DelegateTableIsWeakWithoutDuplicatesAndSurvivesAThrowingDelegate) {
  FacadeFixture f;
  auto a = f.appDelegate("A", {kxsel::deviceButtonPressed});
  f.facade->addDelegate(a);
  EXPECT_EQ(f.facade->delegates().size(), 1u);
  auto thrower = f.appDelegate("T", {kxsel::deviceButtonPressed});
  thrower->onCall = [](const std::string&) { throw std::runtime_error("boom"); };
  auto freed = f.appDelegate("F", {kxsel::deviceButtonPressed});
  freed.reset();
  f.api->pellanButtonPressed(3);
  EXPECT_EQ(f.app->count("A:deviceButtonPressed:3"), 1u);
  EXPECT_EQ(f.app->count("T:deviceButtonPressed:3"), 1u);
  EXPECT_EQ(f.app->lines().size(), 2u);
  f.facade->removeDelegate(a);
  f.api->pellanButtonPressed(4);
  EXPECT_EQ(f.app->count("A:deviceButtonPressed:4"), 0u);
}

TEST(OKTKXDevicesEvents, EncryptedCardReachesBothFacadeForms) {
  FacadeFixture f;
  auto seven = f.appDelegate("7", {kxsel::magneticCardEncryptedData_masked_source});
  auto six = f.appDelegate("6", {kxsel::magneticCardEncryptedData_masked});
  f.api->kxdev_magneticCardEncryptedData(5, 1, Bytes{0xAB}, std::nullopt, std::nullopt, std::nullopt, 4);
  EXPECT_EQ(f.app->count("7:encrypted7:5:1:AB:4"), 1u);
  EXPECT_EQ(f.app->count("6:encrypted6:5:1:AB"), 1u);
}

TEST(OKTKXDevicesEvents, EncryptedCardReachesADelegateWithOnlyTheShortestForm) {
  // The device API hands the facade only the most specific form; a delegate that implements
  // only the three-argument form still gets the card, and nobody gets a form twice.
  FacadeFixture f;
  auto three = f.appDelegate("3", {kxsel::magneticCardEncryptedData});
  auto all = f.appDelegate("all", {kxsel::magneticCardEncryptedData_masked_source, kxsel::magneticCardEncryptedData});
  f.api->kxdev_magneticCardEncryptedData(5, 1, Bytes{0xAB}, std::nullopt, std::nullopt, std::nullopt, 4);
  EXPECT_EQ(f.app->count("3:encrypted3:5:1:AB"), 1u);
  EXPECT_EQ(f.app->count("all:encrypted7:5:1:AB:4"), 1u);
  EXPECT_EQ(f.app->lines().size(), 2u);
}

// ---- Automatic charging ------------------------------------------------------------------------

class FakeBattery final : public KXPhoneBattery {
 public:
  int state = kUnplugged;
  float level = 0.5f;
  int batteryState() override { return state; }
  float batteryLevel() override { return level; }
};

TEST(OKTKXDevicesAutoCharge, LimitsAreCheckedBeforeArming) {
  struct Case {
    int upper, lower;
    bool ok;
  };
  const Case cases[] = {{101, 50, false}, {50, 0, false}, {40, 60, false}, {50, 50, false}, {100, 99, true},
                        {80, 20, true}};
  foundation::ScopedManualClock clock;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.upper) + "/" + std::to_string(c.lower));
    FacadeFixture f;
    f.facade->setPhoneBattery(std::make_shared<FakeBattery>());
    f.sleeveState(2);
    EXPECT_EQ(f.facade->setAutoChargeWithUpperLimit(c.upper, c.lower), c.ok);
  }
  FacadeFixture f;
  f.facade->setPhoneBattery(std::make_shared<FakeBattery>());
  EXPECT_FALSE(f.facade->setAutoChargeWithUpperLimit(80, 20));  // nothing connected
  f.sleeveState(2);
  ASSERT_TRUE(f.facade->setAutoChargeWithUpperLimit(80, 20));
  EXPECT_FLOAT_EQ(f.facade->upperChargeLimit(), 0.8f);
  EXPECT_FLOAT_EQ(f.facade->lowerChargeLimit(), 0.2f);
}

TEST(OKTKXDevicesAutoCharge, TheCheckSwitchesChargingByStateAndLevel) {
  struct Case {
    const char* name;
    int state;
    float level;
    const char* call;  // nullptr: no charging call
    bool timerRuns;
  };
  const Case cases[] = {
      {"unplugged at 15%", KXPhoneBattery::kUnplugged, 0.15f, "sleeve.setCharging:1", true},
      {"charging at 85%", KXPhoneBattery::kCharging, 0.85f, "sleeve.setCharging:0", false},
      {"full at 100%", KXPhoneBattery::kFull, 1.0f, "sleeve.setCharging:0", false},
      {"charging at 50%", KXPhoneBattery::kCharging, 0.5f, nullptr, true},
      {"level unknown", KXPhoneBattery::kUnknown, -1.0f, nullptr, true},
  };
  foundation::ScopedManualClock clock;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FacadeFixture f;
    auto battery = std::make_shared<FakeBattery>();
    f.facade->setPhoneBattery(battery);
    f.sleeveState(2);
    ASSERT_TRUE(f.facade->setAutoChargeWithUpperLimit(80, 20));
    battery->state = c.state;
    battery->level = c.level;
    f.drivers.log->clear();
    foundation::NotificationCenter::defaultCenter().post(kDeviceBatteryLevelDidChangeNotification);
    if (c.call)
      EXPECT_EQ(f.drivers.log->lines(), std::vector<std::string>{c.call});
    else
      EXPECT_TRUE(f.drivers.log->lines().empty());
    auto timer = f.facade->batteryTimer();
    EXPECT_EQ(timer && timer->isValid(), c.timerRuns);
  }
}

TEST(OKTKXDevicesAutoCharge, TheTimerRunsTheCheckEveryMinute) {
  foundation::ScopedManualClock clock;
  FacadeFixture f;
  auto battery = std::make_shared<FakeBattery>();
  f.facade->setPhoneBattery(battery);
  f.sleeveState(2);
  ASSERT_TRUE(f.facade->setAutoChargeWithUpperLimit(80, 20));
  battery->level = 0.1f;
  f.drivers.log->clear();
  clock->advance(OKTKXDevices::kBatteryCheckInterval);
  foundation::RunLoop::main().runUntil([&] { return f.drivers.log->count("sleeve.setCharging:1") > 0; },
                                       std::chrono::milliseconds(2000));
  EXPECT_EQ(f.drivers.log->count("sleeve.setCharging:1"), 1u);
}

// ---- Access cards ---------------------------------------------------------------------------------

TEST(OKTKXDevicesPacs, CardNumbersAreCutIntoFieldsByTheFormat) {
  const std::string format = "26-P-FFFFFFFF-NNNNNNNNNNNNNNNN-P";
  // 26 bits: parity 0, facility 00000001, card number 0000000000000011, parity 0, held in
  // seven hex digits (28 bits, the first two unused): 0000 0000 0010 0000 0000 0000 0110.
  auto fields = OKTKXDevices::hidExtractCardInfo(foundation::bytesOf("0020006"), format);
  ASSERT_TRUE(fields);
  EXPECT_EQ((*fields)["Facility"], 1);
  EXPECT_EQ((*fields)["CardNumber"], 3);
  EXPECT_EQ(fields->size(), 2u);

  EXPECT_FALSE(OKTKXDevices::hidExtractCardInfo(foundation::bytesOf("a"), format));  // 4 bits < 26
  // Upper-case digits end the conversion: "00200" gives 20 bits, fewer than 26.
  EXPECT_FALSE(OKTKXDevices::hidExtractCardInfo(foundation::bytesOf("00200A6"), format));
  // A field that asks for more bits than the card number holds has no value.
  EXPECT_FALSE(OKTKXDevices::hidExtractCardInfo(foundation::bytesOf("ff"), "8-NNNNNNNNN"));
  auto empty = OKTKXDevices::hidExtractCardInfo(foundation::bytesOf("ff"), "8");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST(OKTKXDevicesPacs, ReadsFailWithTheRoutingErrorWithoutAReader) {
  FacadeFixture f;
  Error e;
  EXPECT_EQ(f.facade->hidReadPACS(0, &e), std::nullopt);
  EXPECT_EQ(e.code, -20);
}

}  // namespace case_facade_test
}  // namespace
}  // namespace kestra::testing
