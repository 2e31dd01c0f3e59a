#include "sdk/device/KXDeviceDrivers.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sdk/device/HubDevices.h"
#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/CarvikStream.h"
#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/EchoAccessory.h"
#include "testing/devices/base/RecordingDriver.h"

namespace kestra {
namespace {

using devices::RecordingDriver;

// A driver that takes accessories through a recording stand-in, and nothing else.
std::vector<std::string> askLog;  // guarded by the recording drivers' own locks, read once quiet

template <class Interface>
class TakerDriver final : public Interface {
 public:
  explicit TakerDriver(std::string label)
      : taker(std::make_shared<RecordingDriver>(std::move(label), RecordingDriver::claimNothing(), &askLog)) {}
  std::shared_ptr<AccessoryManagerDelegate> accessoryDriver() override { return taker; }
  std::shared_ptr<RecordingDriver> taker;
};

class TakerFactory final : public KXDriverFactory {
 public:
  explicit TakerFactory(EAManager& m) : manager(m) {}
  // Made in an order of their own, to show that the registration order does not follow it.
  std::shared_ptr<KXStreamDriver> makeHub() override { return hub; }
  std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapter() override { return adapter; }
  std::shared_ptr<KXPinpadDriver> makePinpad() override { return pinpad; }
  std::shared_ptr<KXPrinterDriver> makePrinter(int i) override { return printers[size_t(i)]; }
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return sleeve; }
  std::shared_ptr<KXStreamDriver> makeBarcodeHID() override { return hid; }
  EAManager* accessoryManager() override { return &manager; }

  EAManager& manager;
  std::shared_ptr<TakerDriver<KXSleeveDriver>> sleeve = std::make_shared<TakerDriver<KXSleeveDriver>>("sleeve");
  std::shared_ptr<TakerDriver<KXPrinterDriver>> printers[2] = {
      std::make_shared<TakerDriver<KXPrinterDriver>>("printer0"),
      std::make_shared<TakerDriver<KXPrinterDriver>>("printer1")};
  std::shared_ptr<TakerDriver<KXPinpadDriver>> pinpad = std::make_shared<TakerDriver<KXPinpadDriver>>("pinpad");
  std::shared_ptr<TakerDriver<KXSerialAdapterDriver>> adapter =
      std::make_shared<TakerDriver<KXSerialAdapterDriver>>("adapter");
  std::shared_ptr<TakerDriver<KXStreamDriver>> hub = std::make_shared<TakerDriver<KXStreamDriver>>("hub");
  // A hub port device: the hub offers it its ports, the accessory manager never asks it.
  std::shared_ptr<TakerDriver<KXStreamDriver>> hid = std::make_shared<TakerDriver<KXStreamDriver>>("hid");
};

TEST(KXDriverFactory, RegistersTheAccessoryDriversOnceInTheFixedOrder) {
  devices::AccessoryTestBench bench;
  auto factory = std::make_shared<TakerFactory>(*bench.manager);
  // Creating one driver registers nothing.
  factory->makeSleeve();
  EXPECT_TRUE(bench.manager->delegates().empty());

  auto api = KXDevices::create(factory);
  const std::vector<std::shared_ptr<AccessoryManagerDelegate>> expected = {
      factory->sleeve->taker, factory->printers[0]->taker, factory->printers[1]->taker,
      factory->pinpad->taker, factory->adapter->taker,     factory->hub->taker};
  EXPECT_EQ(bench.manager->delegates(), expected);

  // Asked in that order about an attached accessory that none of them takes.
  askLog.clear();
  bench.attach<devices::EchoAccessory>(
      accessory::AccessoryIdentity{"Unknown", "Maker", "M1", "S1", "1.0", "1.0", {"com.example.none"}});
  bench.manager->tryConnect();
  ASSERT_TRUE(bench.pumpUntil([&] {
    auto lock = factory->hub->taker->lock();
    return !factory->hub->taker->asked.empty();
  }));
  ASSERT_TRUE(bench.pumpUntil([&] { return !bench.manager->searchInProgress(); }));
  // (The attach notice and `tryConnect` may make two searches: each asks in the same order.)
  const std::vector<std::string> order = {"sleeve", "printer0", "printer1", "pinpad", "adapter", "hub"};
  ASSERT_TRUE(askLog.size() == 6 || askLog.size() == 12) << askLog.size();
  for (size_t i = 0; i < askLog.size(); ++i) EXPECT_EQ(askLog[i], order[i % order.size()]) << i;
}

TEST(KXDriverFactory, DriversWithoutOverridesReportNoDevice) {
  KXDriverFactory plain;
  KXDriverSet set = plain.makeDrivers();
  Error e;
  EXPECT_EQ(set.sleeve->connstate(), 0);
  EXPECT_FALSE(set.sleeve->isPresent());
  EXPECT_FALSE(set.sleeve->barcodeStartScan(&e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "No device connected");
  EXPECT_EQ(set.sleeve->getBatteryInfo(nullptr), nullptr);
  e = {};
  EXPECT_EQ(set.printers[1]->scanBarcode(1.0, nullptr, &e), std::nullopt);
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(set.pinpad->barStart(), KXPinpadDriver::kNotConnected);
  EXPECT_FALSE(set.adapter->connected());
  EXPECT_FALSE(set.adapter->serialConnect(nullptr));
  EXPECT_FALSE(set.hub->isPresent());
  EXPECT_FALSE(set.ble->linkOpen());
  uint8_t reply[8];
  EXPECT_EQ(set.printers[0]->emsrCommand(reply, 0, reply, int(sizeof reply)), -7);
  EXPECT_EQ(set.sleeve->accessoryDriver(), nullptr);
}

// A printer that only beeps: everything else is the interface's "no device" body.
class BeepOnlyPrinter final : public KXPrinterDriver {
 public:
  int connstate() override { return 2; }
  bool beep(Error*) override {
    ++beeps;
    return true;
  }
  int beeps = 0;
};

class BeepOnlyFactory final : public KXDriverFactory {
 public:
  std::shared_ptr<KXPrinterDriver> makePrinter(int i) override {
    return i == 0 ? printer : KXDriverFactory::makePrinter(i);
  }
  std::shared_ptr<BeepOnlyPrinter> printer = std::make_shared<BeepOnlyPrinter>();
};

TEST(KXDriverFactory, ACallIsRoutedToAFakeThatOverridesOnlyThatCall) {
  auto factory = std::make_shared<BeepOnlyFactory>();
  auto api = KXDevices::create(factory);
  api->prnConnectionState(2);
  ASSERT_EQ(api->connstate(), 2);

  const int tone[] = {200, 20};
  Error e;
  EXPECT_TRUE(api->playSound(10, tone, 8, &e));
  EXPECT_EQ(factory->printer->beeps, 1);

  // A call the fake does not override is the default's: no device behind it, so it fails
  // and the device API passes the failure on unchanged.
  ASSERT_TRUE(api->setActiveDeviceType(DEVICE_TYPE_PRINTER, &e));
  e = {};
  int type = 0;
  EXPECT_FALSE(factory->printer->scanBarcode(1.0, &type, &e).has_value());
  EXPECT_EQ(e.code, -20);
}

// The serial adapter's driver reads the adapter's own firmware files, as the hub's does.
TEST(KXDriverFactory, TheSerialAdapterDriverReadsItsFirmwareFiles) {
  auto adapter = makeSerialAdapterDriver(CarvikStream::create());
  // A 640-byte image: model at 272, name at 288, version 2.5 at 306, CRC-16 at the end.
  Bytes file(640, 0x33);
  std::fill(file.begin() + 272, file.begin() + 306, 0);
  file[272] = 'R';
  const std::string name = "Carvik Adapter";
  std::copy(name.begin(), name.end(), file.begin() + 288);
  file[306] = 2;
  file[307] = 5;
  std::fill(file.begin() + 384, file.begin() + 512, 0xFF);
  const uint16_t crc = KXUNISDKGlobals::crc16ccit(file.data(), uint32_t(file.size() - 2), 0);
  file[638] = uint8_t(crc >> 8);
  file[639] = uint8_t(crc);

  Error e;
  const auto info = adapter->getFirmwareFileInformation(file, &e);
  ASSERT_TRUE(info) << e.text;
  EXPECT_EQ((*info)["deviceModel"], "R");
  EXPECT_EQ((*info)["deviceName"], "Carvik Adapter");
  EXPECT_EQ((*info)["firmwareRevision"], "2.5.0");
  EXPECT_EQ((*info)["firmwareRevisionNumber"], 205);
  // Another device's file is refused by the adapter, not as "no device".
  EXPECT_FALSE(adapter->getFirmwareFileInformation(Bytes(511, 0), &e));
  EXPECT_EQ(e.text, "Data is nil or invalid");
}

}  // namespace
}  // namespace kestra
