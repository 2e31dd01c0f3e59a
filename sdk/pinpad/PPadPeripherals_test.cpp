// The pinpad's barcode engine, Mifare reader and Bluetooth module against the simulated
// pinpad.
#include <gtest/gtest.h>

#include <mutex>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra {
namespace {
namespace peripherals_test {

using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::sentData;
using testsupport::sentWith;

struct Connected : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(b.connect()); }
  PinpadTestBench b;
};

// ---- Barcode engine ---------------------------------------------------------------------

using PPadBarcode = Connected;

TEST_F(PPadBarcode, ScanModesAsSentAndReadBack) {
  EXPECT_EQ(b.pad->barSetScanMode(1), 0);  // multi-scan goes out as "no duplicates"
  EXPECT_EQ(sentWith(*b.device, 0x38, {0x05}).back(), (Bytes{0x05, 0x05}));
  EXPECT_EQ(b.pad->barGetScanMode(), 4);
  EXPECT_EQ(b.pad->barSetScanMode(2), 0);
  EXPECT_EQ(sentWith(*b.device, 0x38, {0x05}).back(), (Bytes{0x05, 0x03}));
  EXPECT_EQ(b.pad->barGetScanMode(), 2);
  // A failed read keeps the mode as it stands.
  b.device->withModel([](devices::PinpadModel& m) { m.refuse[{0x38, 0x05}] = 13; });
  EXPECT_EQ(b.pad->barGetScanMode(), 2);
  // The link clears it.
  b.pad->disconnect();
  EXPECT_EQ(b.pad->barGetScanMode(), 0);
}

TEST_F(PPadBarcode, StartAndStopSwitchBarcodeEventsWithoutChangingTheChosenMask) {
  ASSERT_EQ(b.pad->sysEnableEvents(0x01), 0);
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->barStart(), 0);
  EXPECT_EQ(sentData(*b.device, 0x36), (std::vector<Bytes>{{0x10, 0x21, 0x00, 0x00, 0x00}}));
  uint32_t mask = 0;
  b.pad->sysGetEnabledEvents(&mask);
  EXPECT_EQ(mask, 0x01u);
  EXPECT_EQ(b.pad->barStop(), 0);
  EXPECT_EQ(sentData(*b.device, 0x36).back(), (Bytes{0x10, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(sentData(*b.device, 0x38), (std::vector<Bytes>{{0x01}, {0x04}}));

  // With barcode events chosen by the application the mask is left alone.
  ASSERT_EQ(b.pad->sysEnableEvents(0x21), 0);
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->barStart(), 0);
  EXPECT_EQ(b.pad->barStop(), 0);
  EXPECT_TRUE(sentData(*b.device, 0x36).empty());
}

TEST_F(PPadBarcode, ScanBeepInitDataAndRawCommands) {
  const int tones[] = {1000, 0x10000 + 200, 3000};  // 12 bytes: one tone, the third number unpaired
  EXPECT_EQ(b.pad->barSetScanBeep(true, 100, tones, 12), 0);
  EXPECT_EQ(sentWith(*b.device, 0x38, {0x07}).back(), (Bytes{0x07, 0xE8, 0x03, 0xC8, 0x00, 50}));
  EXPECT_EQ(b.pad->barSetScanBeep(false, 100, tones, 12), 0);
  EXPECT_EQ(sentWith(*b.device, 0x38, {0x07}).back(), (Bytes{0x07}));
  EXPECT_EQ(b.pad->barSetScanBeep(true, 101, tones, 12), 3);

  EXPECT_EQ(b.pad->barOpticonSetInitString("A\u20AC"), 0);
  EXPECT_EQ(sentWith(*b.device, 0x38, {0x06}).back(), (Bytes{0x06, 0x41, 0x80}));
  const uint8_t raw[] = {0x10, 0x20};
  Bytes echo;
  EXPECT_EQ(b.pad->_barcodeEngineWrite(raw, 2, &echo), 0);
  EXPECT_EQ(echo, (Bytes{0x10, 0x20}));
  EXPECT_EQ(b.pad->_barcodeEngineChangeBaudRate(115200), 0);
  EXPECT_EQ(sentWith(*b.device, 0x36, {0x19}).back(), (Bytes{0x19, 0x03, 0x00, 0xC2, 0x01, 0x00, 0x00}));
  EXPECT_EQ(b.pad->_barcodeEngineGetInitData(), 13);
  EXPECT_EQ(b.pad->_barcodeEngineSpecialWrite(raw, 2, &echo), 13);
  Bytes data;
  b.device->withModel([](devices::PinpadModel& m) { m.nextBarcode = foundation::bytesOf("T1"); });
  EXPECT_EQ(b.pad->barIsDataReady(), 0);
  EXPECT_EQ(b.pad->barGetBarcodeData(&data), 0);
  EXPECT_EQ(data, foundation::bytesOf("T1"));
  EXPECT_EQ(b.pad->barIsDataReady(), 8);
}

// ---- Mifare reader ---------------------------------------------------------------------------

using PPadMifare = Connected;

TEST_F(PPadMifare, ARequestIsRetriedOnce) {
  struct Case {
    int failures;
    int result;
    size_t requests;
  } cases[] = {{0, 0, 1}, {1, 0, 2}, {2, 1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failures);
    b.device->withModel([&](devices::PinpadModel& m) { m.requestFailures = c.failures; });
    b.device->frames().clearHostFrames();
    uint8_t rq1 = 0xFF, rq2 = 0xFF;
    EXPECT_EQ(b.pad->mfRequestCards(true, &rq1, &rq2), c.result);
    EXPECT_EQ(sentData(*b.device, 0x39), std::vector<Bytes>(c.requests, Bytes{0x02, 0x01}));
    if (c.result == 0) {
      EXPECT_EQ(rq1, 0x04);
      EXPECT_EQ(rq2, 0x00);
    }
  }
}

TEST_F(PPadMifare, TheUsualOrderFromFieldToBlock) {
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->mfInit(), 0);
  EXPECT_EQ(sentData(*b.device, 0x39), (std::vector<Bytes>{{0x00, 0x01}, {0x01}}));
  uint32_t serial = 0;
  EXPECT_EQ(b.pad->mfAnticollision(&serial), 0);
  EXPECT_EQ(serial, 0x11223344u);
  uint8_t sak = 0;
  EXPECT_EQ(b.pad->mfSelectCard(serial, &sak), 0);
  EXPECT_EQ(sak, 0x08);
  const uint8_t key[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(b.pad->mfAuthByKey('A', 4, key), 0);
  EXPECT_EQ(sentWith(*b.device, 0x39, {0x05}).back(),
            (Bytes{0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x60, 0x11, 0x22, 0x33, 0x44, 0x04}));
  uint8_t block[16], back[16] = {};
  for (int i = 0; i < 16; ++i) block[i] = uint8_t(i);
  EXPECT_EQ(b.pad->mfWrite(4, block), 0);
  EXPECT_EQ(b.pad->mfRead(4, back), 0);
  EXPECT_TRUE(std::equal(block, block + 16, back));
  EXPECT_EQ(b.pad->mfValueOperation(0xC1, 4, 5, 0x01020304), 0);
  EXPECT_EQ(sentWith(*b.device, 0x39, {0x08}).back(), (Bytes{0x08, 0xC1, 0x04, 0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_EQ(b.pad->mfLoadKey(31, key), 0);
  EXPECT_EQ(b.pad->mfAuthByLoadedKey('B', 8, 31), 0);
  EXPECT_EQ(sentWith(*b.device, 0x39, {0x0E}).back(), (Bytes{0x0E, 0x61, 0x11, 0x22, 0x33, 0x44, 31, 8}));
  uint32_t reader = 0;
  EXPECT_EQ(b.pad->mfGetReaderSerial(&reader), 0);
  EXPECT_EQ(reader, 0xCAFE0001u);
}

TEST_F(PPadMifare, ASelectThatFailsStillReplacesTheSerialUsedByAuthentication) {
  uint8_t sak = 0x77;
  EXPECT_EQ(b.pad->mfSelectCard(0xDEADBEEF, &sak), 2);
  EXPECT_EQ(sak, 0x77);
  const uint8_t key[6] = {};
  b.pad->mfAuthByKey('A', 1, key);
  b.device->withModel([](devices::PinpadModel& m) { EXPECT_EQ(m.lastAuthSerial, 0xDEADBEEFu); });
}

TEST_F(PPadMifare, ArgumentsRefusedBeforeAnythingIsSent) {
  const uint8_t key[6] = {};
  uint8_t block[16] = {};
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->mfAuthByLoadedKey('A', 1, 32), 3);
  EXPECT_EQ(b.pad->mfAuthByLoadedKey('a', 1, 1), 3);
  EXPECT_EQ(b.pad->mfAuthByKey('C', 1, key), 3);
  EXPECT_EQ(b.pad->mfAuthByKey('A', 1, nullptr), 3);
  EXPECT_EQ(b.pad->mfValueOperation(0xC3, 1, 1, 0), 3);
  EXPECT_EQ(b.pad->mfRead(256, block), 3);
  EXPECT_EQ(b.pad->mfWrite(-1, block), 3);
  EXPECT_EQ(b.pad->mfLoadKey(32, key), 3);
  EXPECT_EQ(b.pad->mfGetReaderSerial(nullptr), 3);
  EXPECT_TRUE(sentData(*b.device, 0x39).empty());
}

TEST_F(PPadMifare, CloseIsQueuedWhileCommandsAreCached) {
  b.pad->transport().setCaching(true);
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->mfClose(), 0);
  EXPECT_TRUE(sentData(*b.device, 0x39).empty());
  b.pad->transport().setCaching(false);  // leaving caching mode writes the queue
  ASSERT_TRUE(b.device->frames().waitForFrames(0x39, 1));
  EXPECT_EQ(sentData(*b.device, 0x39).back(), (Bytes{0x00, 0x00}));
  // Its response is dropped; the next command gets its own.
  int percent = 0;
  EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 0);
  EXPECT_EQ(percent, 20);
}

// ---- Bluetooth module ------------------------------------------------------------------------

class FakeModule : public BTModule {
 public:
  void setControlDelegate(std::weak_ptr<BTModuleHost> h) override { host = h; }
  bool enabled() override { return on; }
  void setEnabled(bool v) override { on = v; }
  bool btWrite(const uint8_t* data, int length, Error*) override {
    written.insert(written.end(), data, data + length);
    return writeOk;
  }
  bool btWrite(const std::string& text, Error*) override {
    written.insert(written.end(), text.begin(), text.end());
    return writeOk;
  }
  int btRead(uint8_t* buffer, int length, double, Error*) override {
    const int n = std::min<int>(length, int(toRead.size()));
    std::copy(toRead.begin(), toRead.begin() + n, buffer);
    return n;
  }
  std::optional<std::string> btReadLine(double, Error*) override { return "line"; }
  bool btDiscoverDevices(int, double, unsigned, Error*) override {
    addresses = std::vector<std::string>{"00:11:22:33:44:55"};
    names = {"Printer"};
    return discoverOk;
  }
  std::optional<std::vector<std::string>> btDeviceAddresses() override { return addresses; }
  std::vector<std::string> btDeviceNames() override { return names; }
  bool btDiscoverDevicesInBackground(int, double, unsigned c, int f, std::vector<std::weak_ptr<BTModuleEvents>> d,
                                     Error*) override {
    cod = c;
    filter = f;
    listeners = d.size();
    return discoverOk;
  }
  bool btConnect(const std::string&, const std::string&, Error*) override { return discoverOk; }
  bool btDisconnect(const std::string&, Error*) override { return false; }
  void setWriteCachingEnabled(bool) override {}
  bool setDataNotificationMaxTime(double, int, const Bytes&, Error*) override { return false; }
  std::vector<std::string> btConnectedDevices() override { return {}; }
  void btAppendData(const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> lock(m);
    appended.emplace_back(data, data + length);
  }
  std::vector<Bytes> received() {
    std::lock_guard<std::mutex> lock(m);
    return appended;
  }

  std::weak_ptr<BTModuleHost> host;
  bool on = true, writeOk = true, discoverOk = true;
  Bytes written, toRead;
  std::optional<std::vector<std::string>> addresses;
  std::vector<std::string> names;
  unsigned cod = 0;
  int filter = -1;
  size_t listeners = 0;
  std::mutex m;
  std::vector<Bytes> appended;
};

struct ModuleFixture : Connected {
  void SetUp() override {
    Connected::SetUp();
    b.pad->setBluetoothModule(module);
  }
  std::shared_ptr<FakeModule> module = std::make_shared<FakeModule>();
};

using PPadBluetooth = ModuleFixture;

TEST_F(PPadBluetooth, WritesAreCutTo240BytesAndTheCountComesBack) {
  Bytes data(241, 0x5A);
  for (int n : {241, 240}) {
    SCOPED_TRACE(n);
    int length = n;
    EXPECT_EQ(b.pad->_ppadBTWrite(data.data(), &length), 0);
    EXPECT_EQ(length, 240);
    EXPECT_EQ(sentWith(*b.device, 0x3A, {0x02}).back().size(), 241u);
  }
  int length = 10;
  Error e;
  EXPECT_TRUE(b.pad->_bt301Write(data.data(), &length, &e));
  b.device->withModel([](devices::PinpadModel& m) { m.refuse[{0x3A, 0x02}] = 1; });
  EXPECT_FALSE(b.pad->_bt301Write(data.data(), &length, &e));
  EXPECT_EQ(e.code, -20);
}

TEST_F(PPadBluetooth, SwitchingOnPowerCyclesTheModuleAndAFailureIsReported) {
  Error e;
  b.device->frames().clearHostFrames();
  EXPECT_TRUE(b.pad->_bt301SetEnabled(true, &e));
  EXPECT_EQ(sentData(*b.device, 0x3A), (std::vector<Bytes>{{0x01, 0x00}, {0x01, 0x01}}));
  b.device->withModel([](devices::PinpadModel& m) { m.refuse[{0x3A, 0x01}] = 16; });
  EXPECT_FALSE(b.pad->_bt301SetEnabled(false, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Failed enabling bluetooth module");
}

TEST_F(PPadBluetooth, ModuleDataIsDrainedUntilThePinpadHasNoMore) {
  b.device->withModel([](devices::PinpadModel& m) { m.btOut = {{'a', 'b'}, {}, {'c', 'd'}}; });
  EXPECT_EQ(b.pad->btReadPacket(), 8);
  EXPECT_EQ(module->received(), (std::vector<Bytes>{{'a', 'b'}, {}, {'c', 'd'}}));

  // Unasked: data in the packet goes to the module; an empty packet starts a drain.
  b.device->sendPacket(0x09, 0, {'x', 'y'});
  b.device->withModel([](devices::PinpadModel& m) { m.btOut = {{'z'}}; });
  b.device->sendPacket(0x09, 0, {});
  ASSERT_TRUE(b.runUntil([&] { return module->received().size() >= 5; }));
  EXPECT_EQ(module->received()[3], (Bytes{'x', 'y'}));
  EXPECT_EQ(module->received()[4], (Bytes{'z'}));
}

TEST_F(PPadBluetooth, PinpadLevelMethodsMapTheModulesAnswers) {
  std::string name;
  EXPECT_EQ(b.pad->btGetDeviceName("00:11:22:33:44:55", &name), 8);  // before any discovery
  std::vector<std::string> found;
  EXPECT_EQ(b.pad->btDiscoverDevices(5, 2.0, 0, &found), 0);
  EXPECT_EQ(found, (std::vector<std::string>{"00:11:22:33:44:55"}));
  EXPECT_EQ(b.pad->btGetDeviceName("00:11:22:33:44:55", &name), 0);
  EXPECT_EQ(name, "Printer");
  EXPECT_EQ(b.pad->btGetDeviceName("AA:BB", &name), 8);
  EXPECT_EQ(b.pad->btDiscoverPrintersInBackground(3, 5.0), 0);
  EXPECT_EQ(module->cod, 0x600u);
  EXPECT_EQ(module->filter, 1);
  EXPECT_EQ(module->listeners, 1u);
  EXPECT_EQ(b.pad->btWriteLine("AT"), 0);
  EXPECT_EQ(foundation::textOf(module->written), "AT\r\n");
  module->toRead = {1, 2, 3};
  EXPECT_EQ(b.pad->btRead(2, 1.0), (Bytes{1, 2}));
  EXPECT_FALSE(b.pad->btRead(-1, 1.0));
  EXPECT_EQ(b.pad->btSetEnabled(false), 0);
  bool enabled = false;
  EXPECT_EQ(b.pad->btGetEnabled(&enabled), 0);
  EXPECT_TRUE(enabled);  // left as it was
  EXPECT_EQ(b.pad->btDisconnect("x"), 0);
  module->discoverOk = false;
  module->writeOk = false;
  EXPECT_EQ(b.pad->btConnect("x", "0000"), 16);
  EXPECT_EQ(b.pad->btDiscoverDevicesInBackground(1, 1.0, 0), 16);
  EXPECT_EQ(b.pad->btWrite({1}), 9);
}

TEST_F(PPadBluetooth, ModuleEventsReachTheDelegatesAndTheirAnswersComeBack) {
  b.delegate->connectionAnswer = false;
  EXPECT_FALSE(b.pad->bluetoothDeviceRequestedConnection("A", "N"));
  b.delegate->connectionAnswer = true;
  EXPECT_TRUE(b.pad->bluetoothDeviceRequestedConnection("A", "N"));
  b.delegate->pinAnswer = "1234";
  EXPECT_EQ(b.pad->bluetoothDevicePINCodeRequired("A", "N"), "1234");
  b.pad->bluetoothDeviceConnected("A");
  b.pad->notifyDiscoverFinish(0);
  b.pad->notifyDiscoverDeviceFound({"A", "N"});
  EXPECT_EQ(b.delegate->log().count("bluetoothDeviceConnected:A"), 1u);
  EXPECT_EQ(b.delegate->log().count("bluetoothDiscoverComplete:1"), 1u);
  EXPECT_EQ(b.delegate->log().count("bluetoothDeviceDiscovered:A:N"), 1u);

  // Nobody answering: NO and nothing.
  auto silent = std::make_shared<devices::RecordingPPadDelegate>(
      std::vector<std::string_view>{ppsel::ppadConnectionState});
  b.pad->removeDelegate(b.delegate);
  b.pad->addDelegate(silent);
  EXPECT_FALSE(b.pad->bluetoothDeviceRequestedConnection("A", "N"));
  EXPECT_FALSE(b.pad->bluetoothDevicePINCodeRequired("A", "N"));
  // The pass key goes to the first delegate only, and only when it takes it.
  b.pad->bluetoothDevicePassKeySent("A", "123456");
  b.pad->addDelegate(b.delegate);
  b.pad->bluetoothDevicePassKeySent("A", "123456");
  EXPECT_EQ(b.delegate->log().count("bluetoothDevicePassKeySent:A:123456"), 0u);
  b.pad->setDelegate(b.delegate);
  b.pad->bluetoothDevicePassKeySent("A", "123456");
  EXPECT_EQ(b.delegate->log().count("bluetoothDevicePassKeySent:A:123456"), 1u);
}

TEST(PPadBluetoothAbsent, ModulePacketsWithoutAModuleGoToEventParsing) {
  PinpadTestBench b;
  b.pad->setBluetoothModule(nullptr);  // every pinpad driver is made with one
  ASSERT_TRUE(b.connect());
  b.delegate->clear();
  b.device->sendPacket(0x09, 0, {'x'});
  b.device->sendEvent(0x01, {});
  ASSERT_TRUE(b.delegate->log().waitForLine("ppadButtonPressed:0"));
  EXPECT_EQ(b.delegate->calls(), (std::vector<std::string>{"ppadButtonPressed:0"}));
  EXPECT_FALSE(b.pad->btInputStream());
  EXPECT_EQ(b.pad->btWrite({1}), 9);
}

}  // namespace peripherals_test
}  // namespace
}  // namespace kestra
