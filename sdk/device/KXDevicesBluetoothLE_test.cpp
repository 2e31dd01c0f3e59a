// Bluetooth Low Energy links of the device API: simulated peripherals on a simulated radio,
// the real stream, and either the real sleeve driver (end to end) or recording drivers (the
// routing by service).
#include <gtest/gtest.h>

#include <future>

#include "platform/bluetooth/SimulatedRadio.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/BTLELink.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/BTLEStream.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/base/SimulatedBleDevice.h"
#include "testing/devices/sleeve/SimulatedBleSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

using bluetooth::SimulatedRadio;
using bluetooth::Uuid;
using devices::SimulatedBleDevice;
using namespace std::chrono_literals;

constexpr const char* kSleeveService = "227DAF10-3127-402A-9907-0485AF3468CE";
constexpr const char* kPrinterService = "65311AB6-D92E-4CE5-A515-F9CD53167F18";
constexpr const char* kPinpadService = "D839FC3C-84DD-4C36-9126-187B07255126";
constexpr const char* kRawService = "67390300-A0DF-44B7-905E-BD91F291F716";

class BleDelegate : public RecordingDelegate {
 public:
  BleDelegate(std::shared_ptr<CallLog> log)
      : RecordingDelegate(std::move(log), "app",
                          {kxsel::connectionState, kxsel::barcodeData_type, kxsel::bluetoothLEDeviceConnected,
                           kxsel::bluetoothLEDeviceDisconnected}) {}
  void bluetoothLEDeviceConnected(const std::shared_ptr<CBPeripheral>& p) override {
    record("bleConnected:" + p->name(), true);
  }
  void bluetoothLEDeviceDisconnected(const std::shared_ptr<CBPeripheral>& p) override {
    record("bleDisconnected:" + p->name(), true);
  }
};

// Waits (real time, as a safety net) until `pred` holds.
template <class Pred>
bool eventually(Pred pred) {
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs the main queue until what was posted to it so far has run.
void drainMainQueue() {
  bool done = false;
  foundation::MainQueue::post([&] { done = true; });
  foundation::RunLoop::main().runUntil([&] { return done; });
}

// ---- End to end: a sleeve over Bluetooth Low Energy ----------------------------------------------------

TEST(KXDevicesBluetoothLE, ASleeveOpenedByNameDeliversABarcodeAndItsLostLinkIsReported) {
  devices::SleeveTestBench bench;  // the sleeve driver and the main-queue helpers
  auto radio = SimulatedRadio::create();
  devices::SimulatedBleSleeve sleeve(radio, {.name = "Pellan BLE 0042"});
  auto stream = BTLEStream::create(radio);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get(), nullptr, makeBTLELink(stream)));
  auto log = std::make_shared<CallLog>();
  auto delegate = std::make_shared<BleDelegate>(log);
  api->addDelegate(delegate);

  Error e;
  auto found = api->btleDiscoverSupportedDevices(0, true, &e);
  ASSERT_TRUE(found) << e.text;
  std::shared_ptr<CBPeripheral> peripheral;
  for (auto& p : *found)
    if (p->name() == "Pellan BLE 0042") peripheral = p;
  ASSERT_TRUE(peripheral);

  ASSERT_TRUE(api->btleConnectToDevice(peripheral, &e)) << e.text;
  EXPECT_EQ(sleeve.powerOnWrites(), 1);
  EXPECT_EQ(bench.pellan->connstate(), 2);
  EXPECT_EQ(bench.pellan->connectionType(), 3);
  EXPECT_EQ(api->btleConnectedDevices(), (std::vector<std::shared_ptr<CBPeripheral>>{peripheral}));
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }));
  EXPECT_EQ(log->count("app:bleConnected:Pellan BLE 0042"), 1u);  // on the main thread, at once

  sleeve.sendBarcode("4006381333931");
  ASSERT_TRUE(bench.runUntil([&] {
    for (const auto& l : log->lines())
      if (l.rfind("app:barcodeData:4006381333931:", 0) == 0) return true;
    return false;
  }));

  sleeve.peripheral()->drop();
  ASSERT_TRUE(bench.runUntil([&] { return log->count("app:bleDisconnected:Pellan BLE 0042") == 1; }));
  ASSERT_TRUE(bench.runUntil([&] { return bench.pellan->connstate() != 2 && api->connstate() != 2; }));
  EXPECT_EQ(api->btleConnectedDevices(), std::vector<std::shared_ptr<CBPeripheral>>{});
  drainMainQueue();
  EXPECT_EQ(log->count("app:bleConnected:Pellan BLE 0042"), 1u);
  EXPECT_EQ(log->count("app:bleDisconnected:Pellan BLE 0042"), 1u);
  bench.pellan->disconnect();
  GlobalQueue::waitIdle();
}

// ---- Routing by service, with recording drivers -------------------------------------------------------------

struct HandOffs {
  std::mutex m;
  std::vector<std::string> calls;
  void add(std::string s) {
    std::lock_guard<std::mutex> lock(m);
    calls.push_back(std::move(s));
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(m);
    return std::exchange(calls, {});
  }
};

class HandOffSleeve final : public KXSleeveDriver {
 public:
  explicit HandOffSleeve(HandOffs& h) : h_(h) {}
  void setConnectionType(int t) override { h_.add("sleeve.type:" + std::to_string(t)); }
  bool connectWithStreams(std::shared_ptr<accessory::InputStream> in, std::shared_ptr<accessory::OutputStream> out,
                          Error*) override {
    h_.add(std::string("sleeve.streams:") + (in && out ? "both" : "missing"));
    return true;
  }

 private:
  HandOffs& h_;
};

class HandOffPrinter final : public KXPrinterDriver {
 public:
  explicit HandOffPrinter(HandOffs& h) : h_(h) {}
  void setConnectionType(int t) override { h_.add("printer.type:" + std::to_string(t)); }
  bool connectWithStreams(std::shared_ptr<accessory::InputStream>, std::shared_ptr<accessory::OutputStream>,
                          Error* error) override {
    h_.add("printer.streams");
    return foundation::fail(error, Error("com.sabrel.errors", -11, "Printer did not answer"));
  }

 private:
  HandOffs& h_;
};

class HandOffPinpad final : public KXPinpadDriver {
 public:
  explicit HandOffPinpad(HandOffs& h) : h_(h) {}
  void setConnectionType(int t) override { h_.add("pinpad.type:" + std::to_string(t)); }
  int connectWithStreams(std::shared_ptr<accessory::InputStream>, std::shared_ptr<accessory::OutputStream>) override {
    h_.add("pinpad.streams");
    return status;
  }
  int status = 0;

 private:
  HandOffs& h_;
};

class HandOffFactory final : public KXDriverFactory {
 public:
  HandOffFactory(HandOffs& h, std::shared_ptr<KXBLEStreamDriver> ble, std::shared_ptr<HandOffPinpad> pinpad)
      : h_(h), ble_(std::move(ble)), pinpad_(std::move(pinpad)) {}
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return std::make_shared<HandOffSleeve>(h_); }
  std::shared_ptr<KXPrinterDriver> makePrinter(int) override { return std::make_shared<HandOffPrinter>(h_); }
  std::shared_ptr<KXPinpadDriver> makePinpad() override { return pinpad_; }
  std::shared_ptr<KXBLEStreamDriver> makeBLEStream() override { return ble_; }

 private:
  HandOffs& h_;
  std::shared_ptr<KXBLEStreamDriver> ble_;
  std::shared_ptr<HandOffPinpad> pinpad_;
};

class KXDevicesBluetoothLERouting : public ::testing::Test {
 protected:
  void TearDown() override {
    api->btleDisconnect(nullptr);
    drainMainQueue();
    GlobalQueue::waitIdle();
  }
  // Runs `f` on a thread while moving the clock on, paced by the threads that wait on it.
  template <class F>
  auto drive(F f) {
    auto future = std::async(std::launch::async, f);
    while (future.wait_for(0ms) != std::future_status::ready) {
      // The radio and the central deliver what they had before the clock moves on.
      for (int round = 0; round < 3; ++round) {
        radio->waitIdle();
        stream->manager()->waitUntilIdle();
      }
      clock->advance(50ms);
      if (clock->waitForWaiters(1, 2ms)) clock->waitUntilWaitersSawNow();
    }
    return future.get();
  }
  std::unique_ptr<SimulatedBleDevice> device(const char* name, const char* service,
                                             std::vector<const char*> more = {}) {
    auto d = std::make_unique<SimulatedBleDevice>(radio, SimulatedBleDevice::Options{.name = name, .service = service, .startOn = true});
    for (const char* s : more) d->peripheral()->addService(Uuid::fromString(s), {});
    return d;
  }
  std::pair<bool, Error> connect(const SimulatedBleDevice& d) {
    auto p = api->btleGetKnownDeviceWithUUID(d.peripheral()->identifier());
    Error e;
    if (!p) return {false, e};
    const bool ok = drive([&] { return api->btleConnectToDevice(p, &e); });
    drainMainQueue();
    return {ok, e};
  }

  foundation::ScopedManualClock clock;
  std::shared_ptr<SimulatedRadio> radio = SimulatedRadio::create();
  std::shared_ptr<BTLEStream> stream = BTLEStream::create(radio);
  HandOffs handOffs;
  std::shared_ptr<HandOffPinpad> pinpad = std::make_shared<HandOffPinpad>(handOffs);
  std::shared_ptr<KXDevices> api =
      KXDevices::create(std::make_shared<HandOffFactory>(handOffs, makeBTLELink(stream), pinpad));
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  std::shared_ptr<BleDelegate> delegate = [this] {
    auto d = std::make_shared<BleDelegate>(log);
    api->addDelegate(d);
    return d;
  }();
};

TEST_F(KXDevicesBluetoothLERouting, TheFirstOfThePeripheralsOwnServicesThatIsKnownPicksTheDriver) {
  struct Case {
    const char* name;
    const char* service;
    std::vector<const char*> more;
    std::vector<std::string> handOffs;
  };
  const std::vector<Case> cases = {
      {"Sleeve first", kSleeveService, {kPrinterService}, {"sleeve.type:3", "sleeve.streams:both"}},
      {"Pinpad", kPinpadService, {}, {"pinpad.type:3", "pinpad.streams"}},
      {"Raw stream", kRawService, {kSleeveService}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = device(c.name, c.service, c.more);
    auto [ok, e] = connect(*d);
    EXPECT_TRUE(ok) << e.text;
    EXPECT_EQ(handOffs.take(), c.handOffs);
    EXPECT_EQ(log->count(std::string("app:bleConnected:") + c.name), 1u);  // once, though the stream reports too
    EXPECT_TRUE(api->btleInputStream());
    api->btleDisconnect(nullptr);
    drainMainQueue();
    EXPECT_EQ(log->count(std::string("app:bleDisconnected:") + c.name), 1u);
  }
}

TEST_F(KXDevicesBluetoothLERouting, FailedHandOffsAndUnknownServicesDisconnect) {
  struct Case {
    const char* name;
    const char* service;
    std::vector<const char*> more;
    int pinpadStatus;
    int code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"Printer first", kPrinterService, {kSleeveService}, 0, -11, "Printer did not answer"},
      {"Pinpad refuses", kPinpadService, {}, 9, ppadError(9).code, ppadError(9).text},
      {"Battery", "180F", {}, 0, -7, "Bluetooth device is not supported"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pinpad->status = c.pinpadStatus;
    auto d = device(c.name, c.service, c.more);
    auto [ok, e] = connect(*d);
    EXPECT_FALSE(ok);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
    EXPECT_FALSE(api->btleConnectedDevices());
    EXPECT_TRUE(eventually([&] { return !d->peripheral()->connected(); }));
    handOffs.take();
    EXPECT_EQ(log->count(std::string("app:bleConnected:") + c.name), 0u);
  }
}

TEST_F(KXDevicesBluetoothLERouting, ConnectingTheLinkedPeripheralAgainTouchesNothing) {
  auto d = device("Sleeve", kSleeveService);
  ASSERT_TRUE(connect(*d).first);
  handOffs.take();
  ASSERT_TRUE(connect(*d).first);
  EXPECT_EQ(d->peripheral()->connects(), 1);
  EXPECT_TRUE(handOffs.take().empty());
  EXPECT_EQ(log->count("app:bleConnected:Sleeve"), 1u);
}

TEST_F(KXDevicesBluetoothLERouting, DisconnectWithoutALinkSendsNothingAndALostLinkIsReportedOnce) {
  EXPECT_TRUE(api->btleDisconnect(nullptr));
  drainMainQueue();
  EXPECT_TRUE(log->lines().empty());

  auto d = device("Sleeve", kSleeveService);
  ASSERT_TRUE(connect(*d).first);
  d->peripheral()->drop();
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return log->count("app:bleDisconnected:Sleeve") == 1; }));
  GlobalQueue::waitIdle();
  drainMainQueue();
  EXPECT_EQ(log->count("app:bleDisconnected:Sleeve"), 1u);
}

TEST_F(KXDevicesBluetoothLERouting, TheRawStreamModeHandsTheStreamsToTheApplication) {
  auto d = device("Raw", kRawService);
  auto p = api->btleGetKnownDeviceWithUUID(d->peripheral()->identifier());
  ASSERT_TRUE(p);
  Error e;
  ASSERT_TRUE(drive([&] { return api->btleConnectToDeviceAndGetStreams(p, &e); })) << e.text;
  drainMainQueue();
  EXPECT_EQ(log->count("app:bleConnected:Raw"), 1u);
  auto out = api->btleOutputStream();
  auto in = api->btleInputStream();
  in->open();
  out->open();
  const Bytes hello = {'h', 'i'};
  EXPECT_EQ(out->write(hello.data(), hello.size()), 2);
  EXPECT_TRUE(eventually([&] { return d->received() == hello; }));
  ASSERT_TRUE(d->send({'o', 'k'}));
  ASSERT_TRUE(eventually([&] { return in->hasBytesAvailable(); }));
  uint8_t buf[8];
  EXPECT_EQ(in->read(buf, sizeof buf), 2);
  Error none;
  EXPECT_FALSE(api->btleGetKnownDeviceWithUUID(Uuid::random(), &none));
  EXPECT_EQ(none.code, -16);
}

TEST(KXDevicesBluetoothLEFacade, TheFacadeForwardsTheLinkCalls) {
  ApiFixture f;
  auto facade = OKTKXDevices::create(f.api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  Error e;
  EXPECT_FALSE(facade->btleDiscoverSupportedDevices(3, true, &e));
  EXPECT_EQ(e.code, -20);  // no radio behind the fake link
  EXPECT_TRUE(facade->btleDiscoverStop());
  EXPECT_FALSE(facade->btleConnectToDevice(nullptr, &e));
  EXPECT_TRUE(facade->btleDisconnect(nullptr));
  EXPECT_FALSE(facade->btleConnectedDevices() && !facade->btleConnectedDevices()->empty());
}

}  // namespace
}  // namespace kestra::testing
