// The hub manager over the simulated hub: port scan, commands and their errors, port
// dispatch, port data and port operations.
#include "sdk/hub/USBManager.h"

#include <gtest/gtest.h>

#include "platform/foundation/IdleTimer.h"

#include <atomic>

#include "sdk/hub/HubFrame.h"
#include "sdk/hub/HubPort.h"
#include "sdk/hub/HubReaders.h"
#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/hub/SimulatedHub.h"

namespace kestra {
namespace {

using devices::SimulatedHub;

struct Control final : HubControlDelegate {
  std::shared_ptr<devices::CallRecorder> log = std::make_shared<devices::CallRecorder>();
  void TrelmoConnected() override { log->add("connected"); }
  void TrelmoDisconnected() override { log->add("disconnected"); }
  void TrelmoDeviceConnected(const std::shared_ptr<TrelmoDevice>& d) override {
    log->add("device:" + std::to_string(d->portIndex) + ":" + d->portConfig(), true);
  }
  void TrelmoDeviceDisconnected(const std::shared_ptr<TrelmoDevice>& d) override {
    log->add("gone:" + std::to_string(d->portIndex), true);
  }
  // Progress reported while the phone could still lock its screen.
  std::atomic<int> progressWithIdleTimerOn{0};
  void firmwareUpdateProgress(int phase, int percent) override {
    if (!foundation::IdleTimer::disabled()) ++progressWithIdleTimerOn;
    log->add("progress:" + std::to_string(phase) + ":" + std::to_string(percent));
  }
};

Bytes firmwareFile(size_t size, const std::string& magic, const std::string& model, const std::string& name,
                   const std::string& version) {
  Bytes f(size, 0x11);
  auto put = [&](size_t at, const std::string& text) {
    for (size_t i = 0; i < 16 && at + i < size; ++i) f[at + i] = i < text.size() ? uint8_t(text[i]) : 0;
  };
  put(0x100, magic);
  put(0x110, model);
  put(0x120, name);
  put(0x130, version);
  return f;
}

struct Readers final : HubReaderDelegate {
  std::shared_ptr<devices::CallRecorder> log = std::make_shared<devices::CallRecorder>();
  void connectionState(int s) override { log->add("state:" + std::to_string(s), true); }
  void kxdev_barcodeData(const Bytes& b) override { log->add("barcode:" + foundation::toHex(b), true); }
  void magneticCardData(const OptTrack& a, const OptTrack& b, const OptTrack& c) override {
    auto t = [](const OptTrack& o) { return o ? *o : std::string("nil"); };
    log->add("card:" + t(a) + "|" + t(b) + "|" + t(c), true);
  }
};

struct HubFixture {
  explicit HubFixture(int ports = 4, std::function<void(SimulatedHub&)> setup = {}) {
    hub = USBManager::create();
    hub->setControlDelegate(control);
    barcode = BarcodeHID::create();
    magtek = Magtek::create();
    barcode->setDelegate(readers);
    magtek->setDelegate(readers);
    hub->setDelegate(barcode);
    hub->setDelegate(magtek);
    bench.manager->setDelegate(hub);
    sim = std::make_unique<SimulatedHub>(SimulatedHub::identity(), bench.folder, ports);
    if (setup) setup(*sim);
    sim->attach();
    bench.pumpUntil([&] { return !bench.registry->connectedAccessories().empty(); });
    bench.manager->tryConnect();
    EXPECT_TRUE(control->log->waitForLine("connected")) << sim->commands().size() << " commands";
  }
  ~HubFixture() {
    sim->detach();
    bench.pumpUntil([&] { return !hub->connected(); });
    bench.pumpUntil([] { return GlobalQueue::running() == 0; });
  }
  devices::AccessoryTestBench bench;
  std::shared_ptr<Control> control = std::make_shared<Control>();
  std::shared_ptr<Readers> readers = std::make_shared<Readers>();
  std::shared_ptr<USBManager> hub;
  std::shared_ptr<BarcodeHID> barcode;
  std::shared_ptr<Magtek> magtek;
  std::unique_ptr<SimulatedHub> sim;
};

TEST(USBManager, ScanStopsAtTheFirstSilentPort) {
  HubFixture f(3);
  EXPECT_EQ(f.hub->nStreams(), 3);
  EXPECT_EQ(f.hub->deviceName(), "Trelmo Hub");
  // Ports 0..2 were asked status and type, port 3 only its status.
  int asked3 = 0, asked4 = 0;
  for (auto [cmd, port] : f.sim->commands()) {
    asked3 += port == 3;
    asked4 += port == 4;
  }
  EXPECT_EQ(asked3, 1);
  EXPECT_EQ(asked4, 0);
}

TEST(USBManager, HubWithoutPortsStillConnects) {
  HubFixture f(0);
  EXPECT_EQ(f.hub->nStreams(), 0);
}

TEST(USBManager, CommandErrorsFromTheReplyStatus) {
  HubFixture f;
  struct Case {
    int status, code;
    std::string text;
  } cases[] = {{13, -20, "COM error: command=13"}, {1, -1, "Unknown error 1: command=13"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    f.sim->forceStatus(0x13, c.status);
    Error e;
    EXPECT_FALSE(f.hub->setUSBCharge(true, 1, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST(USBManager, SilentHubLosesTheReplyOnTheClock) {
  HubFixture f;
  foundation::ScopedManualClock clock;
  f.sim->setSilent(true);
  Error e;
  std::atomic<bool> done{false};
  std::thread t([&] {
    f.hub->setUSBCharge(true, 1, &e);
    done = true;
  });
  // The clock moves only while the command waits on it: a worker that a loaded machine has not
  // run yet must not find its time-out long past and then wait for ever.
  while (!done) {
    foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
    if (clock->waitForWaiters(1, std::chrono::milliseconds(100))) {
      clock->advance(std::chrono::seconds(5));
      clock->waitUntilWaitersSawNow();
    }
  }
  t.join();
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Command response lost: command=13");
}

TEST(USBManager, PortListConfigurationAndCharging) {
  HubFixture f(3, [](SimulatedHub& s) {
    SimulatedHub::Port p;
    p.attached = true;
    p.config = "Printer|SERIAL/9600|com.other.device";
    s.setPort(1, p);
    SimulatedHub::Port rs;
    rs.type = 2;
    s.setPort(2, rs);
  });
  // The unclaimed port 1 is announced as a generic device after its baud rate went out.
  ASSERT_TRUE(f.control->log->waitForLine("device:1:Printer|SERIAL/9600|com.other.device"));
  EXPECT_EQ(f.sim->port(1).serialSettings, (Bytes{0x00, 0x00, 0x25, 0x80}));

  auto ports = f.hub->getPortsInfo();
  ASSERT_TRUE(ports);
  ASSERT_EQ(ports->size(), 3u);
  EXPECT_EQ((*ports)[1].portStatus, 1);
  EXPECT_EQ((*ports)[1].portConfigName, "Printer");
  EXPECT_EQ((*ports)[1].portConfigCommunication, (std::vector<std::string>{"SERIAL", "9600"}));
  EXPECT_EQ((*ports)[1].portConfigChannel, (std::vector<std::string>{"com.other.device"}));
  EXPECT_EQ((*ports)[2].portType, 2);

  EXPECT_TRUE(f.hub->setPortConfig("Caf\xC3\xA9|USB|x", 0, false));
  EXPECT_EQ(f.sim->port(0).config, "Caf\xC3\xA9|USB|x");  // every UTF-8 byte
  EXPECT_EQ(f.hub->getPortConfig(0), "Caf\xC3\xA9|USB|x");

  EXPECT_TRUE(f.hub->setUSBCharge(true, 2));
  EXPECT_TRUE(f.sim->port(2).charging);
  EXPECT_TRUE(f.hub->setUSBCharge(false, 2));
  EXPECT_FALSE(f.sim->port(2).charging);
  EXPECT_TRUE(f.hub->setAppleCharge(2100));
  int current = 0;
  EXPECT_TRUE(f.hub->getAppleCharge(&current));
  EXPECT_EQ(current, 2100);
  EXPECT_TRUE(f.hub->setSerial("HUB42"));
  EXPECT_EQ(f.sim->hubSerial(), "HUB42");

  Error e;
  EXPECT_FALSE(f.hub->getPortDeviceFormPort(3, &e));
  EXPECT_EQ(e.code, -16);
  auto rs232 = f.hub->getPortDeviceFormPort(2);
  ASSERT_TRUE(rs232);
  EXPECT_TRUE(rs232->isRS232());
  EXPECT_TRUE(rs232->setRS232ConfigWithBaud(9600, 8, 1, 0, 0));
  EXPECT_EQ(f.sim->port(2).serialSettings, (Bytes{0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, 0x00}));
}

TEST(USBManager, DescriptorAndItsStrings) {
  HubFixture f(2, [](SimulatedHub& s) {
    SimulatedHub::Port p;
    p.descriptor = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x01, 0x08, 0x02, 0x00, 0x10, 0x01, 1, 2, 0, 1};
    p.strings = {"Maker", "Reader"};
    s.setPort(1, p);
  });
  auto d = f.hub->getUSBDeviceDescriptorForSlave(1);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->bcdUSB, 0x0200);
  EXPECT_EQ(d->bMaxPacketSize, 64);
  EXPECT_EQ(d->idVendor, 0x0801);
  EXPECT_EQ(d->idProduct, 0x0002);
  EXPECT_EQ(d->iManufacturer, "Maker");
  EXPECT_EQ(d->iProduct, "Reader");
  EXPECT_EQ(d->iSerialNumber, "");
}

TEST(USBManager, PortWritesGoInChunksAndAFullHubIsRetried) {
  HubFixture f(2);
  auto port = f.hub->stream(1);
  ASSERT_TRUE(port);
  Bytes data(4500);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  EXPECT_EQ(port->write(0, data.data(), data.size(), USBStream::kWriteTimeout, nullptr), 4500);
  EXPECT_EQ(f.sim->port(1).written, data);
  int writes = 0;
  for (auto [cmd, p] : f.sim->commands()) writes += cmd == 1;
  EXPECT_EQ(writes, 3);

  // A failing hub command makes the write fail, not report a partial success.
  f.sim->forceStatus(0x01, 5);
  EXPECT_FALSE(port->write(0, data.data(), 10));
}

TEST(USBManager, PortDataReachesAGenericDeviceReader) {
  HubFixture f(2);
  f.sim->plugIn(1, "Thing|USB|vendor.thing");
  ASSERT_TRUE(f.control->log->waitForLine("device:1:Thing|USB|vendor.thing"));
  auto device = f.hub->getPortDeviceFormPort(1);
  f.sim->portData(1, {1, 2, 3});
  auto got = device->readData(0, std::chrono::seconds(20));
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (Bytes{1, 2, 3}));
  uint8_t buf[8];
  EXPECT_EQ(device->inputStream().read(buf, sizeof buf), 3);  // the stream face holds them too
  f.sim->unplug(1);
  EXPECT_TRUE(f.control->log->waitForLine("gone:1"));
}

// A port face nobody reads keeps only its newest bytes, up to the bound: here the stream face
// is left unread while the timed read takes everything.
TEST(USBManager, UnreadPortDataStaysBounded) {
  HubFixture f(2);
  f.sim->plugIn(1, "Thing|USB|vendor.thing");
  ASSERT_TRUE(f.control->log->waitForLine("device:1:Thing|USB|vendor.thing"));
  auto device = f.hub->getPortDeviceFormPort(1);
  const size_t chunk = 1000, chunks = TrelmoStream::kMaxUnread / chunk + 10;
  // Each chunk is taken before the next goes: the timed read's own bound must not drop what
  // a slow reader had not yet taken.
  Bytes taken;
  for (size_t i = 0; i < chunks; ++i) {
    f.sim->portData(1, Bytes(chunk, uint8_t(i)));
    while (taken.size() < chunk * (i + 1)) {
      auto got = device->readData(0, std::chrono::seconds(20));
      ASSERT_TRUE(got);
      taken.insert(taken.end(), got->begin(), got->end());
    }
  }
  EXPECT_EQ(taken.size(), chunk * chunks);
  EXPECT_EQ(taken.back(), uint8_t(chunks - 1));
  Bytes streamed;
  uint8_t buf[4096];
  for (int n; (n = device->inputStream().read(buf, sizeof buf)) > 0;) streamed.insert(streamed.end(), buf, buf + n);
  ASSERT_EQ(streamed.size(), TrelmoStream::kMaxUnread);
  EXPECT_EQ(streamed.back(), uint8_t(chunks - 1));
  EXPECT_EQ(Bytes(streamed.end() - long(chunk), streamed.end()), Bytes(chunk, uint8_t(chunks - 1)));
}

TEST(TrelmoStream, AnnouncesDataByItsLengthConditionAndEndsOnce) {
  struct Events final : TrelmoStreamDelegate {
    std::vector<int> seen;
    void handleEvent(int e) override { seen.push_back(e); }
  };
  auto events = std::make_shared<Events>();
  TrelmoStream s{std::weak_ptr<USBStream>()};
  s.setDelegate(events);
  s.setNotificationsEnabled(true);
  s.open();
  const Bytes nine(9, 0x41);
  s.setDataNotification({}, 10, {});
  s.streamAppendData(nine.data(), 9);
  s.streamNotify();
  EXPECT_EQ(events->seen, std::vector<int>{kTrelmoOpenCompleted});
  s.streamAppendData(nine.data(), 1);
  s.streamNotify();
  EXPECT_EQ(events->seen, (std::vector<int>{kTrelmoOpenCompleted, kTrelmoHasBytesAvailable}));
  // A time condition alone never announces.
  s.setDataNotification(std::chrono::milliseconds(50), 0, {});
  s.streamNotify();
  EXPECT_EQ(events->seen.size(), 2u);
  s.close();
  s.close();
  EXPECT_EQ(std::count(events->seen.begin(), events->seen.end(), kTrelmoEndEncountered), 1);
  EXPECT_EQ(s.write(nine.data(), 9), -1);  // no port behind it
}

TEST(USBManager, KeyboardBarcodeAndCardOnTheirPorts) {
  HubFixture f(4);
  // The clock stands still, so only the Enter ends a typed code. On a busy machine two keys
  // of one scan can reach the host further apart than the scanner's quiet time (split, every
  // byte goes out only after the host has read the one before), and the quiet check would
  // end the code between them, as it must for a scanner that really paused that long.
  foundation::ScopedManualClock stillClock;
  f.sim->plugIn(2, "Scanner|USB|hid.barcode");
  f.sim->plugIn(3, "MSR|USB|com.magtek.msr");
  ASSERT_TRUE(f.readers->log->waitFor([](const auto& l) { return std::count(l.begin(), l.end(), "state:2") == 2; }));
  f.sim->typeText(2, "12345", true);
  EXPECT_TRUE(f.readers->log->waitForLine("barcode:003132333435"));
  f.sim->swipeCard(3, "", "4111111111111111=2512", "");
  EXPECT_TRUE(f.readers->log->waitForLine("card:nil|4111111111111111=2512|nil"));
  // Split and merged delivery of the hub's frames changes nothing.
  f.sim->setSplitDelivery(true);
  f.sim->typeText(2, "A9", true);
  EXPECT_TRUE(f.readers->log->waitForLine("barcode:004139")) << ::testing::PrintToString(f.readers->log->lines());
  f.sim->setSplitDelivery(false);
  f.sim->unplug(2);
  EXPECT_TRUE(f.readers->log->waitForLine("state:1"));
  EXPECT_TRUE(f.readers->log->allOnMainThread());
}

TEST(USBManager, ReadersPluggedInDuringThePortScanAreNotLost) {
  // While the host asks port 3's status, a scanner arrives on port 2 (already scanned as
  // empty) and a card reader on port 3 (its status will say attached as well).
  std::atomic<bool> plugged{false};
  HubFixture f(4, [&](SimulatedHub& sim) {
    sim.onCommand([&sim, &plugged](int command, int port) {
      if (command != hub::kCmdPortStatus || port != 3 || plugged.exchange(true)) return;
      sim.plugIn(2, "Scanner|USB|hid.barcode");
      sim.plugIn(3, "MSR|USB|com.magtek.msr");
    });
  });
  ASSERT_TRUE(f.readers->log->waitFor([](const auto& l) { return std::count(l.begin(), l.end(), "state:2") == 2; }))
      << ::testing::PrintToString(f.readers->log->lines());
  f.sim->typeText(2, "12345", true);
  EXPECT_TRUE(f.readers->log->waitForLine("barcode:003132333435"));
  f.bench.pumpUntil([] { return GlobalQueue::running() == 0; });
  EXPECT_EQ(f.readers->log->count("state:2"), 2);  // each reader connected once
}

TEST(USBManager, TypedBarcodeWithoutEnterEndsAfterQuiet) {
  HubFixture f(3);
  foundation::ScopedManualClock clock;
  f.sim->plugIn(2, "Scanner|USB|hid.barcode");
  ASSERT_TRUE(f.readers->log->waitForLine("state:2"));
  f.sim->typeText(2, "777", false);
  EXPECT_TRUE(devices::AccessoryTestBench::advanceUntil(
      *clock, [&] { return f.readers->log->count("barcode:00373737") == 1; }, std::chrono::milliseconds(20)))
      << ::testing::PrintToString(f.readers->log->lines());
}

TEST(USBManagerFirmware, FileInformation) {
  auto hub = USBManager::create();
  struct Case {
    const char* what;
    Bytes file;
    int code;
    std::string text;
  } bad[] = {
      {"short", firmwareFile(511, "SABREL", "HUB-AM", "Trelmo Hub", "1.23"), -21, "Data is nil or invalid"},
      {"magic", firmwareFile(512, "SABRELX", "HUB-AM", "Trelmo Hub", "1.23"), -21, "Data is invalid"},
      {"no name", firmwareFile(512, "SABREL", "HUB-AM", "", "1.23"), -21, "Data is invalid"},
      {"no model", firmwareFile(512, "SABREL", "", "Trelmo Hub", "1.23"), -21, "Data is invalid"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.what);
    Error e;
    EXPECT_FALSE(hub->getFirmwareFileInformation(c.file, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
  auto info = hub->getFirmwareFileInformation(firmwareFile(512, "SABREL", "HUB-AM", "Trelmo Hub", "1.23"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->deviceModel, "HUB-AM");
  EXPECT_EQ(info->deviceName, "Trelmo Hub");
  EXPECT_EQ(info->firmwareRevision, "1.23");
  EXPECT_EQ(info->firmwareRevisionNumber, 0x117);
  EXPECT_EQ(hub->getFirmwareFileInformation(firmwareFile(512, "SABREL", "M", "N", "2.1.5"))->firmwareRevisionNumber,
            0x20105);
}

// Runs an update on its own thread while the test advances the clock through its pauses.
bool runUpdate(HubFixture& f, foundation::ManualClock& clock, const Bytes& file, bool validate, Error* e) {
  f.control->log->clear();
  std::atomic<bool> done{false};
  bool ok = false;
  std::thread t([&] {
    ok = f.hub->updateFirmwareData(file, validate, e);
    done = true;
  });
  // Only the pause before each attempt needs the clock: it is moved on once per attempt.
  for (size_t attempts = 0; !done;) {
    devices::AccessoryTestBench::pumpUntil([&] { return done || f.control->log->count("progress:0:0") > attempts; });
    if (f.control->log->count("progress:0:0") > attempts) {
      ++attempts;
      clock.advance(USBManager::kFirmwareAttemptPause);
    }
  }
  t.join();
  return ok;
}

TEST(USBManagerFirmware, PagesGoOutWithProgressAndBlankPagesAreSkipped) {
  HubFixture f(1);
  foundation::ScopedManualClock clock;
  Bytes file = firmwareFile(5000, "SABREL", "HUB-AM", "Trelmo Hub", "1.23");
  std::fill(file.begin() + 2038, file.begin() + 4076, 0xFF);
  Error e;
  ASSERT_TRUE(runUpdate(f, *clock, file, true, &e)) << e.text;
  EXPECT_EQ(f.sim->firmwareCommands(), (std::vector<int>{0xF0, 0xF1, 0xF2, 0xF2, 0xF3}));
  const auto pages = f.sim->firmwarePages();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages.at(0), Bytes(file.begin(), file.begin() + 2038));
  EXPECT_EQ(pages.at(4076), Bytes(file.begin() + 4076, file.end()));
  std::vector<std::string> progress;
  for (const auto& l : f.control->log->lines())
    if (l.rfind("progress:", 0) == 0) progress.push_back(l);
  EXPECT_EQ(progress, (std::vector<std::string>{"progress:0:0", "progress:1:0", "progress:2:0", "progress:2:40",
                                                "progress:2:81", "progress:3:100"}));
  EXPECT_FALSE(f.hub->firmwareUpdate());
  // The screen stayed on through the transfer and may lock again after it.
  EXPECT_EQ(f.control->progressWithIdleTimerOn, 0);
  EXPECT_FALSE(foundation::IdleTimer::disabled());
}

TEST(USBManagerFirmware, FileForAnotherDeviceIsRefusedBeforeAnythingIsSent) {
  HubFixture f(1);
  struct Case {
    Bytes file;
    bool validate;
    int code;
    std::string text;
  } cases[] = {
      {firmwareFile(600, "SABREL", "PRN-1", "Trelmo Hub", "1.0"), true, -9,
       "Invalid device model in the firmware file, expected HUB-PM, got PRN-1"},
      {firmwareFile(600, "SABREL", "HUB-AM", "Other", "1.0"), true, -9,
       "Invalid device name in the firmware file, expected Trelmo Hub, got Other"},
      {firmwareFile(100, "SABREL", "HUB-AM", "Trelmo Hub", "1.0"), false, -21, "Data is nil or invalid"},
      {firmwareFile(600, "XABREL", "HUB-AM", "Trelmo Hub", "1.0"), false, -21, "Data is invalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Error e;
    EXPECT_FALSE(f.hub->updateFirmwareData(c.file, c.validate, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
  EXPECT_TRUE(f.sim->firmwareCommands().empty());
}

TEST(USBManagerFirmware, ThreeFailedAttemptsFailTheUpdateAndStillClose) {
  HubFixture f(1);
  foundation::ScopedManualClock clock;
  f.sim->forceStatus(0xF2, 13);
  Error e;
  EXPECT_FALSE(runUpdate(f, *clock, firmwareFile(600, "SABREL", "HUB-AM", "Trelmo Hub", "1.0"), true, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Firmware update failed");
  EXPECT_EQ(f.sim->firmwareCommands(),
            (std::vector<int>{0xF0, 0xF1, 0xF2, 0xF1, 0xF2, 0xF1, 0xF2, 0xF3}));

  // One failed page costs one attempt; the second attempt succeeds.
  f.sim->forceStatus(0xF2, 13, 1);
  EXPECT_TRUE(runUpdate(f, *clock, firmwareFile(600, "SABREL", "HUB-AM", "Trelmo Hub", "1.0"), true, &e));
}

}  // namespace
}  // namespace kestra
