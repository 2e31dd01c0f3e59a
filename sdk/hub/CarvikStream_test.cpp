// The serial adapter over a pseudo-terminal: the SDK opens the terminal as a serial
// accessory, so the stream's bytes go through termios as with a real adapter.
#include "sdk/hub/CarvikStream.h"

#include <gtest/gtest.h>

#include "platform/foundation/IdleTimer.h"
#include <stdlib.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/hub/SimulatedSerialAdapter.h"

namespace kestra {
namespace {

namespace fs = std::filesystem;

struct Control final : CarvikControlDelegate, CarvikStreamDelegate {
  std::shared_ptr<devices::CallRecorder> log = std::make_shared<devices::CallRecorder>();
  void carvikConnected() override { log->add("connected"); }
  void carvikDisconnected() override { log->add("disconnected"); }
  void bluetoothDeviceDiscovered(const std::string& a, const std::string& n) override {
    log->add("found:" + a + ":" + n, true);
  }
  void bluetoothDiscoverComplete(bool ok) override { log->add(std::string("complete:") + (ok ? "yes" : "no"), true); }
  void bluetoothDeviceDisconnected() override { log->add("btDisconnected"); }
  void handleEvent(int event) override { log->add("event:" + std::to_string(event)); }
  // Progress reported while the phone could still lock its screen.
  std::atomic<int> progressWithIdleTimerOn{0};
  void firmwareUpdateProgress(int phase, int percent) override {
    if (!foundation::IdleTimer::disabled()) ++progressWithIdleTimerOn;
    log->add("progress:" + std::to_string(phase) + ":" + std::to_string(percent));
  }
};

struct AdapterFixture {
  explicit AdapterFixture(const std::string& model, const std::string& revision = "1.24.0") {
    std::string tmpl = (fs::temp_directory_path() / "kestra-adapter-XXXXXX").string();
    dir = mkdtemp(tmpl.data());
    const fs::path config = dir / "serial-accessories.json";
    nlohmann::json j = {{"accessories",
                         {{{"name", "Carvik Adapter"},
                           {"modelNumber", model},
                           {"serialNumber", "C42"},
                           {"firmwareRevision", revision},
                           {"protocolStrings", {"com.sabrel.carvik.communication"}},
                           {"devices", {sim.slavePath()}},
                           {"baudRate", 115200}}}}};
    std::ofstream(config) << j.dump();
    registry = std::make_unique<accessory::AccessoryManager>(dir / "accessories", config);
    comm = std::make_unique<KXUNISDKCommRunLoop>();
    manager = EAManager::create(*registry, *comm);
    adapter->setControlDelegate(control);
    adapter->setDelegate(control);
    manager->setDelegate(adapter);
    pump([&] { return registry->connectedAccessories().size() == 1; });
    manager->tryConnect();
    EXPECT_TRUE(control->log->waitForLine("connected"));
  }
  ~AdapterFixture() {
    // No search starts any more, and the manager stops hearing this registry, whose address
    // the next fixture's registry may take.
    manager->disconnect();
    manager->onUnregister();
    for (const auto& s : manager->devices()) s->disconnect();
    pump([&] { return GlobalQueue::running() == 0 && comm->requestCounter() == 0; });
    // The adapter's streams are scheduled on the run-loop thread's loop: they close their
    // sessions there when they go, so they must go before that loop does.
    manager.reset();
    adapter.reset();
    comm.reset();
    registry.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  static bool pump(const std::function<bool()>& c) { return foundation::RunLoop::main().runUntil(c, std::chrono::milliseconds(20000)); }

  devices::SimulatedSerialAdapter sim;
  fs::path dir;
  std::unique_ptr<accessory::AccessoryManager> registry;
  std::unique_ptr<KXUNISDKCommRunLoop> comm;
  std::shared_ptr<EAManager> manager;
  std::shared_ptr<CarvikStream> adapter = CarvikStream::create();
  std::shared_ptr<Control> control = std::make_shared<Control>();
};

TEST(CarvikStream, SerialPortOverAPseudoTerminal) {
  AdapterFixture f("R");
  EXPECT_TRUE(f.adapter->serialSupported());
  EXPECT_FALSE(f.adapter->bluetoothSupported());
  EXPECT_EQ(f.adapter->serialNumber(), "C42");

  EXPECT_TRUE(f.adapter->serialSetSettings(9600, 1, 1, 1, 0));
  EXPECT_EQ(f.sim.serialSettings(), (Bytes{0x00, 0x00, 0x25, 0x80, 0x07, 0x00, 0x14, 0x00, 0x14}));

  f.adapter->open();
  EXPECT_EQ(f.adapter->streamStatus(), 1);
  ASSERT_TRUE(f.adapter->serialConnect());
  EXPECT_EQ(f.adapter->streamStatus(), 2);
  EXPECT_EQ(f.control->log->count("event:1"), 1u);

  Bytes out(300);
  for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i * 7);
  EXPECT_EQ(f.adapter->write(out.data(), int(out.size())), 300);
  EXPECT_EQ(f.sim.serialOut(), out);

  f.sim.serialIn({'h', 'e', 'l', 'l', 'o'});
  ASSERT_TRUE(f.control->log->waitForLine("event:2"));
  uint8_t got[16];
  EXPECT_EQ(f.adapter->read(got, sizeof got), 5);
  EXPECT_EQ(std::string(got, got + 5), "hello");

  // Too much for one frame: refused before anything is written.
  Error e;
  EXPECT_FALSE(f.adapter->sendCommand(0, 5, Bytes(507, 0), &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_EQ(e.text, "Input length is too big");
}

TEST(CarvikStream, FullAdapterIsAskedAgain) {
  AdapterFixture f("R");
  f.sim.setTake(50);
  const Bytes out(120, 0x5A);
  EXPECT_EQ(f.adapter->write(out.data(), int(out.size())), 120);
  EXPECT_EQ(f.sim.serialOut(), out);
}

TEST(CarvikStream, SplitAndMergedPacketsFromTheAdapter) {
  auto adapter = CarvikStream::create();
  auto control = std::make_shared<Control>();
  adapter->setDelegate(control);
  // A serial-in packet, then a second one cut short: exactly the first is consumed.
  Bytes bytes{0x00, 0x00, 0x04, 0x06, 0x02, 0x00, 0x00, 0x00, 'a', 'b'};
  const Bytes second{0x00, 0x00, 0x04, 0x06, 0x02, 0x00, 0x00, 0x00, 'c'};
  bytes.insert(bytes.end(), second.begin(), second.end());
  EXPECT_EQ(adapter->accessoryData(0, bytes.data(), int(bytes.size())), 10);
  EXPECT_TRUE(adapter->hasBytesAvailable());
  // A length no frame has is skipped up to the next 00, not waited for; what follows may
  // be the start of a frame and is kept.
  const Bytes junk{0x00, 0xFF, 0xFF, 0x06, 0x02, 0x00, 0x01};
  EXPECT_EQ(adapter->accessoryData(0, junk.data(), int(junk.size())), 5);
}

// Serial data nobody reads stays bounded; what is kept is the newest.
TEST(CarvikStream, UnreadSerialDataStaysBounded) {
  auto adapter = CarvikStream::create();
  for (int i = 0; i < 700; ++i) {
    Bytes frame{0x00, 0x00, 0x66, 0x06, 0x02, 0x00, 0x00, 0x00};  // serial in, 100 bytes
    frame.resize(frame.size() + 100, uint8_t(i));
    ASSERT_EQ(adapter->accessoryData(0, frame.data(), int(frame.size())), int(frame.size()));
  }
  Bytes all;
  uint8_t buf[4096];
  for (int n; (n = adapter->read(buf, sizeof buf)) > 0;) all.insert(all.end(), buf, buf + n);
  ASSERT_EQ(all.size(), CarvikStream::kMaxUnread);
  EXPECT_EQ(all.back(), uint8_t(699));
}

TEST(CarvikStream, BluetoothConnectWriteAndEvents) {
  AdapterFixture f("B");
  ASSERT_TRUE(f.adapter->bluetoothSupported());
  EXPECT_TRUE(f.adapter->btUniSetEnabled(true));
  EXPECT_TRUE(f.adapter->btUniSetEnabled(true));  // already on: no second 01
  int ons = 0;
  for (const auto& c : f.sim.bluetoothCommands()) ons += c == Bytes{0x01};
  EXPECT_EQ(ons, 1);
  EXPECT_EQ(f.adapter->btUniGetLocalName(), "Carvik");
  EXPECT_EQ(f.adapter->btUniGetLocalAddress(), "00A0B1C2D3E4");

  Error e;
  for (const char* bad : {"00a0b1c2d3e4ff", "00a0b1c2d3", "00a0b1c2d3zz"}) {
    SCOPED_TRACE(bad);
    const size_t before = f.sim.bluetoothCommands().size();
    EXPECT_FALSE(f.adapter->btUniConnect(bad, "0000", &e));
    EXPECT_EQ(e.code, -9);
    EXPECT_EQ(f.sim.bluetoothCommands().size(), before);
  }

  ASSERT_TRUE(f.adapter->btUniConnect("00a0b1c2d3e4", "1234", &e)) << e.text;
  const auto cmds = f.sim.bluetoothCommands();
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), Bytes{0x0B, 0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4}), cmds.end());
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), Bytes{0x06, '1', '2', '3', '4', 0x00}), cmds.end());
  EXPECT_EQ(f.adapter->btConnectedDevices(), std::vector<std::string>{"00A0B1C2D3E4"});
  EXPECT_EQ(f.adapter->streamStatus(), 2);

  Bytes out(500);
  for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i);
  EXPECT_TRUE(f.adapter->btUniWrite(out.data(), int(out.size())));
  EXPECT_EQ(f.sim.bluetoothOut(), out);
  int writes = 0;
  for (const auto& c : f.sim.bluetoothCommands()) writes += !c.empty() && c[0] == 0x0F;
  EXPECT_EQ(writes, 3);

  f.sim.btEvent(10, {'o', 'k'});
  ASSERT_TRUE(f.control->log->waitForLine("event:2"));
  uint8_t got[4];
  EXPECT_EQ(f.adapter->read(got, 4), 2);

  // The link drops: the stream ends and the radio goes off without holding up the input.
  f.sim.btEvent(6);
  EXPECT_TRUE(f.control->log->waitForLine("event:16"));
  EXPECT_TRUE(AdapterFixture::pump([&] { return !f.sim.radioOn(); }));
}

// A manual clock that tells the adapter's command waits (for the command lock and for a
// reply, which share one condition: the first the write waits on) from the write's pause after
// a "0 taken" reply (which waits on a condition of its own). A test then moves the clock only
// in the pauses, never while a reply is on its way: a loaded machine that is slow to hand the
// reply over must not make it look lost.
class PauseClock final : public foundation::Clock {
 public:
  foundation::MonoTime now() const override {
    std::lock_guard lock(mutex_);
    return mono_;
  }
  foundation::WallTime wallNow() const override { return std::chrono::system_clock::now(); }
  bool isManual() const override { return true; }

  void advance(foundation::Duration d) {
    {
      std::lock_guard lock(mutex_);
      mono_ += d;
      for (auto& w : waits_) {
        w.moved = true;
        w.cv->notify_all();
      }
    }
    foundation::RunLoop::wakeAll();
  }
  // Blocks until a pause waits that the clock has not yet moved for (real time, a safety
  // net); true when one does.
  bool waitForPause(std::chrono::milliseconds realTimeout = std::chrono::milliseconds(20000)) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, realTimeout, [&] {
      return std::any_of(waits_.begin(), waits_.end(),
                         [&](const Wait& w) { return w.cv != commandCv_ && !w.moved; });
    });
  }

 protected:
  void beginWait(const void* id, std::condition_variable* cv) const override {
    std::lock_guard lock(mutex_);
    if (!commandCv_) commandCv_ = cv;
    waits_.push_back({id, cv, false});
    changed_.notify_all();
  }
  void endWait(const void* id) const override {
    std::lock_guard lock(mutex_);
    std::erase_if(waits_, [&](const Wait& w) { return w.id == id; });
    changed_.notify_all();
  }

 private:
  struct Wait {
    const void* id;
    std::condition_variable* cv;
    bool moved;  // the clock moved since the wait began
  };
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable std::vector<Wait> waits_;
  mutable std::condition_variable* commandCv_ = nullptr;
  foundation::MonoTime mono_{std::chrono::hours(1000)};
};

// An adapter that keeps answering "0 taken" fails the write once its time is up, with no
// byte sent twice or lost silently.
TEST(CarvikStream, AWriteTheAdapterNeverTakesEndsAtItsDeadline) {
  AdapterFixture f("R");
  f.sim.setTake(0);
  auto clock = std::make_shared<PauseClock>();
  foundation::Clock::setCurrent(clock);
  const auto start = clock->now();
  Error e;
  auto write = std::async(std::launch::async, [&] {
    const Bytes out(200, 0x42);
    return f.adapter->btWrite(out.data(), int(out.size()), &e);
  });
  while (clock->now() - start < CarvikStream::kSerialWriteTimeout) {
    if (!clock->waitForPause()) break;
    clock->advance(CarvikStream::kFullPause);
  }
  // Past its deadline the write ends without another command (real time: a safety net).
  const bool endedInTime = write.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  f.sim.setTake(-1);  // lets a write that did not give up finish
  while (write.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    clock->advance(std::chrono::milliseconds(10));
    std::this_thread::yield();
  }
  const bool ok = write.get();
  const auto took = clock->now() - start;
  foundation::Clock::setCurrent(nullptr);
  ASSERT_TRUE(endedInTime);
  EXPECT_FALSE(ok);
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout writing data");
  EXPECT_GE(took, CarvikStream::kSerialWriteTimeout);
  EXPECT_TRUE(f.sim.serialOut().empty());
}

// Unplugging the adapter ends its Bluetooth links: none is reported as connected after it.
TEST(CarvikStream, UnplugEmptiesTheLinkList) {
  AdapterFixture f("B");
  Error e;
  ASSERT_TRUE(f.adapter->btUniConnect("00a0b1c2d3e4", "1234", &e)) << e.text;
  ASSERT_EQ(f.adapter->btConnectedDevices(), std::vector<std::string>{"00A0B1C2D3E4"});
  for (const auto& s : f.manager->devices()) s->disconnect();
  ASSERT_TRUE(f.control->log->waitForLine("disconnected"));
  EXPECT_FALSE(f.adapter->connected());
  EXPECT_EQ(f.adapter->btConnectedDevices(), std::vector<std::string>{});
}

TEST(CarvikStream, FailedConnectSwitchesTheRadioOff) {
  AdapterFixture f("B");
  f.sim.setConnectOutcome(false);
  Error e;
  EXPECT_FALSE(f.adapter->btUniConnect("00A0B1C2D3E4", "0000", &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Failed connecting to the device");
  EXPECT_FALSE(f.sim.radioOn());
}

TEST(CarvikStream, DiscoveryReportsOnlyWhatTheFilterAsksFor) {
  AdapterFixture f("B");
  f.adapter->discoverFilter = 1;  // printers only
  f.sim.setDiscovered({{{1, 2, 3, 4, 5, 6}, "Shop KXP-58"}, {{0xA, 0xB, 0xC, 0xD, 0xE, 0xF}, "Headset"}});
  ASSERT_TRUE(f.adapter->btUniDiscoverDevices(5, 10, 0));
  ASSERT_TRUE(f.control->log->waitForLine("complete:yes"));
  const auto lines = f.control->log->lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "found:010203040506:Shop KXP-58"), lines.end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("found:", 0) == 0; }), 1);
  EXPECT_TRUE(AdapterFixture::pump([&] { return !f.adapter->btDiscoverInProgress(); }));
  // The module base keeps every device found, whatever the filter passed on.
  EXPECT_EQ(f.adapter->btDeviceAddresses(), (std::vector<std::string>{"010203040506", "0A0B0C0D0E0F"}));
  EXPECT_EQ(f.adapter->btDeviceNames(), (std::vector<std::string>{"Shop KXP-58", "Headset"}));

  // A discovery that finds nothing ends with the inquiry's own reply: it is not left in
  // progress, whichever of the two the adapter's reader takes first.
  f.sim.setDiscovered({}, true);
  ASSERT_TRUE(f.adapter->btUniDiscoverDevices(5, 10, 0));
  EXPECT_TRUE(f.control->log->waitForLine("complete:no"));
  EXPECT_TRUE(AdapterFixture::pump([&] { return !f.adapter->btDiscoverInProgress(); }));
  EXPECT_TRUE(f.control->log->allOnMainThread());
}

// A firmware file: model and name in their fields, version 2.5, a blank page at 384, and a
// trailing CRC-16 that makes the whole file check.
Bytes adapterFirmware(size_t size, const std::string& model, const std::string& name) {
  Bytes f(size, 0x33);
  std::fill(f.begin() + 272, f.begin() + 272 + 16, 0);
  std::copy(model.begin(), model.end(), f.begin() + 272);
  std::fill(f.begin() + 288, f.begin() + 288 + 18, 0);
  std::copy(name.begin(), name.end(), f.begin() + 288);
  f[306] = 2;
  f[307] = 5;
  if (size >= 640) std::fill(f.begin() + 384, f.begin() + 512, 0xFF);
  const uint16_t crc = KXUNISDKGlobals::crc16ccit(f.data(), uint32_t(size - 2), 0);
  f[size - 2] = uint8_t(crc >> 8);
  f[size - 1] = uint8_t(crc);
  return f;
}

TEST(CarvikStreamFirmware, FileInformation) {
  auto adapter = CarvikStream::create();
  Error e;
  EXPECT_FALSE(adapter->getFirmwareFileInformation(Bytes(511, 0), &e));
  EXPECT_EQ(e.text, "Data is nil or invalid");
  Bytes file = adapterFirmware(640, "R", "Carvik Adapter");
  auto info = adapter->getFirmwareFileInformation(file);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->deviceModel, "R");
  EXPECT_EQ(info->deviceName, "Carvik Adapter");
  EXPECT_EQ(info->firmwareRevisionNumber, 205);
  EXPECT_EQ(info->firmwareRevision, "2.5.0");
  file[10] ^= 0x01;  // one bit off: the checksum no longer holds
  EXPECT_FALSE(adapter->getFirmwareFileInformation(file, &e));
  EXPECT_EQ(e.text, "Invalid firmware checksum");
}

TEST(CarvikStreamFirmware, UpdateSendsEveryNonBlankPageWithProgress) {
  AdapterFixture f("R");
  foundation::ScopedManualClock clock;
  const Bytes file = adapterFirmware(640, "R", "Carvik Adapter");
  std::atomic<bool> done{false};
  bool ok = false;
  Error e;
  std::thread t([&] {
    ok = f.adapter->updateFirmwareData(file, &e);
    done = true;
  });
  // Only the pause before each attempt needs the clock: it is moved on once per attempt.
  for (size_t attempts = 0; !done;) {
    AdapterFixture::pump([&] { return done || f.control->log->count("progress:0:0") > attempts; });
    if (f.control->log->count("progress:0:0") > attempts) {
      ++attempts;
      clock->advance(CarvikStream::kFirmwareAttemptPause);
    }
  }
  t.join();
  ASSERT_TRUE(ok) << e.text;
  EXPECT_EQ(f.sim.firmwareCommands(), (std::vector<int>{240, 241, 242, 242, 242, 242, 243}));
  const auto pages = f.sim.firmwarePages();
  std::vector<uint32_t> offsets;
  for (const auto& [offset, bytes] : pages) offsets.push_back(offset);
  EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 128, 256, 512}));
  EXPECT_EQ(pages.at(512), Bytes(file.begin() + 512, file.end()));
  // The screen stayed on through the transfer and may lock again after it.
  EXPECT_EQ(f.control->progressWithIdleTimerOn, 0);
  EXPECT_FALSE(foundation::IdleTimer::disabled());
}

TEST(CarvikStreamFirmware, RefusedBeforeAnythingIsSent) {
  struct Case {
    const char* revision;
    Bytes file;
    int code;
    std::string text;
  } cases[] = {
      {"1.23.9", adapterFirmware(640, "R", "Carvik Adapter"), -7, "Firmware update not supported on this firmware version"},
      {"1.24.0", adapterFirmware(640, "B", "Carvik Adapter"), -9, "Invalid device model in the firmware file, expected R, got B"},
      {"2.0.0", adapterFirmware(640, "R", "Other"), -9, "Invalid device name in the firmware file, expected Carvik Adapter, got Other"},
      {"1.24.0", Bytes(100, 0), -9, "Invalid device model in the firmware file, expected R, got "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.revision);
    AdapterFixture f("R", c.revision);
    Error e;
    EXPECT_FALSE(f.adapter->updateFirmwareData(c.file, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
    EXPECT_TRUE(f.sim.firmwareCommands().empty());
  }
}

}  // namespace
}  // namespace kestra
