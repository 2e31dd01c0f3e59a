// The Bluetooth Low Energy stream against simulated devices on a simulated radio, with the
// discovery and connect waits on a manual clock.
#include "sdk/transport/BTLEStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/foundation/MainQueue.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/base/SimulatedBleDevice.h"

namespace kestra {
namespace {

using bluetooth::SimulatedPeripheral;
using bluetooth::SimulatedRadio;
using bluetooth::Uuid;
using devices::SimulatedBleDevice;
using namespace std::chrono_literals;

const Uuid kSleeveService = Uuid::fromString("227DAF10-3127-402A-9907-0485AF3468CE");

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

struct Control final : BTLEDelegate {
  std::atomic<int> connected{0}, disconnected{0};
  void btleDeviceConnected(const std::shared_ptr<bluetooth::Peripheral>&) override { ++connected; }
  void btleDeviceDisconnected(const std::shared_ptr<bluetooth::Peripheral>&) override { ++disconnected; }
};

struct Events final : accessory::StreamDelegate {
  std::mutex m;
  std::vector<accessory::StreamEvent> seen;
  void handleEvent(accessory::Stream&, accessory::StreamEvent e) override {
    std::lock_guard<std::mutex> lock(m);
    seen.push_back(e);
  }
  int count(accessory::StreamEvent e) {
    std::lock_guard<std::mutex> lock(m);
    return int(std::count(seen.begin(), seen.end(), e));
  }
};

class BTLEStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream = BTLEStream::create(radio);
    stream->setControlDelegate(control);
    stream->manager();  // powered on before any test waits on the clock
  }
  void TearDown() override {
    stream->close();
    GlobalQueue::waitIdle();
  }

  // Runs `f` on a thread while moving the clock on in 50 ms steps, each taken once the radio
  // and the central have delivered what they had and every waiting thread has seen the last
  // step; returns `f`'s result and the clock time it took.
  template <class F>
  auto drive(F f) {
    auto start = clock->now();
    auto future = std::async(std::launch::async, f);
    while (future.wait_for(0ms) != std::future_status::ready) {
      if (clock->waitForWaiters(1, 5ms)) {
        for (int round = 0; round < 3; ++round) {
          radio->waitIdle();
          stream->manager()->waitUntilIdle();
        }
        clock->advance(50ms);
        clock->waitUntilWaitersSawNow();
      }
    }
    auto result = future.get();
    return std::make_pair(result, clock->now() - start);
  }

  std::pair<bool, Error> connect(const std::shared_ptr<bluetooth::Peripheral>& p) {
    Error e;
    bool ok = drive([&] { return stream->connectToDevice(p, &e); }).first;
    return {ok, e};
  }

  std::shared_ptr<bluetooth::Peripheral> find(const std::string& name) {
    auto found = stream->discoverSupportedDevices(3, true);
    if (!found) return nullptr;
    for (auto& p : *found)
      if (p->name() == name) return p;
    return nullptr;
  }

  foundation::ScopedManualClock clock;
  std::shared_ptr<SimulatedRadio> radio = SimulatedRadio::create();
  std::shared_ptr<Control> control = std::make_shared<Control>();
  std::shared_ptr<BTLEStream> stream;
};

TEST_F(BTLEStreamTest, DiscoveryStopsAtTheFirstNamedPeripheralAndIgnoresNamelessOnes) {
  auto nameless = std::make_shared<SimulatedPeripheral>("", std::vector<Uuid>{kSleeveService});
  radio->add(nameless);
  SimulatedBleDevice device(radio, {});
  auto found = stream->discoverSupportedDevices(0, true);  // no clock time needed
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 1u);
  EXPECT_EQ((*found)[0]->name(), "Pellan BLE");
}

TEST_F(BTLEStreamTest, DiscoveryWithoutStopAtFirstTakesFourSecondsAndASecondOneIsRefused) {
  SimulatedBleDevice sleeve(radio, {});
  SimulatedBleDevice printer(radio, {"Printer BLE", "65311AB6-D92E-4CE5-A515-F9CD53167F18"});
  auto other = std::make_shared<SimulatedPeripheral>("Other", std::vector<Uuid>{Uuid::fromString("180F")});
  radio->add(other);
  auto running = std::async(std::launch::async, [&] { return stream->discoverSupportedDevices(1, false); });
  ASSERT_TRUE(clock->waitForWaiters(1));
  Error e;
  EXPECT_FALSE(stream->discoverSupportedDevices(1, false, &e));
  EXPECT_EQ(e.code, -5);
  EXPECT_EQ(e.text, "Another scan is already in progres");
  // Everything in range has been seen before the scan's time runs out.
  radio->waitIdle();
  stream->manager()->waitUntilIdle();
  clock->advance(3900ms);
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(running.wait_for(0ms), std::future_status::timeout);
  clock->advance(100ms);
  auto found = running.get();
  ASSERT_TRUE(found);
  std::set<std::string> names;
  for (auto& p : *found) names.insert(p->name());
  EXPECT_EQ(names, (std::set<std::string>{"Pellan BLE", "Printer BLE"}));
  // Bit 1 alone does not scan for the pinpads' services.
  EXPECT_EQ(BTLEStream::serviceUUIDsForTypes(1).size(), 6u);
  EXPECT_EQ(BTLEStream::serviceUUIDsForTypes(3).size(), 12u);
}

TEST_F(BTLEStreamTest, DiscoveryOnTheMainThreadKeepsTheMainQueueRunning) {
  ASSERT_TRUE(foundation::MainQueue::isMainThread());
  // The device comes into range from a block on the main queue: only a discovery that runs
  // the main queue while it waits can see it.
  std::unique_ptr<SimulatedBleDevice> device;
  foundation::MainQueue::post([&] { device = std::make_unique<SimulatedBleDevice>(radio, SimulatedBleDevice::Options{}); });
  auto found = stream->discoverSupportedDevices(0, true);
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 1u);
  EXPECT_EQ((*found)[0]->name(), "Pellan BLE");
}

TEST_F(BTLEStreamTest, KnownDeviceByIdentifier) {
  SimulatedBleDevice device(radio, {});
  auto p = stream->btleGetKnownDeviceWithUUID(device.peripheral()->identifier());
  ASSERT_TRUE(p);
  EXPECT_EQ(p->name(), "Pellan BLE");
  Error e;
  EXPECT_FALSE(stream->btleGetKnownDeviceWithUUID(Uuid::random(), &e));
  EXPECT_EQ(e.code, -16);
  EXPECT_EQ(e.text, "No device found with that indentifier");
}

TEST_F(BTLEStreamTest, ConnectTurnsTheDeviceOnPairsAndReportsTheLink) {
  SimulatedBleDevice device(radio, {});
  auto p = find("Pellan BLE");
  ASSERT_TRUE(p);
  auto [ok, e] = connect(p);
  ASSERT_TRUE(ok) << e.text;
  EXPECT_EQ(device.powerOnWrites(), 1);
  EXPECT_EQ(device.peripheral()->writes()[0].value, (Bytes{'P', 'e', 'l', 'l', 'a', 'n', ' ', 'B', 'L', 'E'}));
  EXPECT_TRUE(device.peripheral()->notifying(BTLEStream::kDataIn()));
  EXPECT_EQ(control->connected.load(), 1);
  EXPECT_EQ(stream->peripheral(), p);
}

TEST_F(BTLEStreamTest, ADeviceThatIsAlreadyOnGetsNoPowerOnWrite) {
  for (char status : {'1', '4'}) {
    SCOPED_TRACE(status);
    SimulatedBleDevice device(radio, {.name = std::string("On ") + status, .startOn = true});
    device.peripheral()->setValue(BTLEStream::kCheckOn(), {uint8_t(status)});
    auto p = find(device.peripheral()->name());
    ASSERT_TRUE(p);
    auto [ok, e] = connect(p);
    ASSERT_TRUE(ok) << e.text;
    EXPECT_EQ(device.powerOnWrites(), 0);
    stream->close();
  }
}

TEST_F(BTLEStreamTest, ConnectFailures) {
  struct Case {
    const char* name;
    SimulatedBleDevice::Options options;
    std::function<void(SimulatedBleDevice&)> arrange;
    int code;
    const char* text;
    foundation::Duration atMost;
  };
  const std::vector<Case> cases = {
      {"refused pairing ends at once",
       {.name = "Refuses", .refusePairing = true},
       {},
       -20,
       "Bluetooth pairing required",
       10s},
      {"no link", {.name = "Asleep"}, [](SimulatedBleDevice& d) { d.peripheral()->setConnectable(false); }, -6,
       "Device connect timeout", 30s},
      {"never powers on",
       {.name = "Dead"},
       [](SimulatedBleDevice& d) { d.peripheral()->setOnWrite(nullptr); },
       -6,
       "Power on timeout",
       60s},
      {"pairing never answered",
       {.name = "Silent", .startOn = true},
       [](SimulatedBleDevice& d) { d.peripheral()->setSilentNotify(BTLEStream::kDataIn(), true); },
       -20,
       "Bluetooth pairing required",
       100s},
      {"the platform refuses the link",
       {.name = "Refused"},
       [](SimulatedBleDevice& d) {
         d.peripheral()->setConnectError(Error(bluetooth::kBluetoothErrorDomain, 14, "Peer removed pairing information"));
       },
       14,
       "Peer removed pairing information",
       5s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedBleDevice device(radio, c.options);
    if (c.arrange) c.arrange(device);
    auto p = stream->btleGetKnownDeviceWithUUID(device.peripheral()->identifier());
    ASSERT_TRUE(p);
    Error e;
    auto [ok, took] = drive([&] { return stream->connectToDevice(p, &e); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
    EXPECT_LT(took, c.atMost);
    EXPECT_FALSE(stream->peripheral());
    EXPECT_EQ(control->connected.load(), 0);
  }
}

class BTLEStreamLinkTest : public BTLEStreamTest {
 protected:
  void SetUp() override {
    BTLEStreamTest::SetUp();
    device = std::make_unique<SimulatedBleDevice>(radio, SimulatedBleDevice::Options{.startOn = true});
    auto p = find("Pellan BLE");
    ASSERT_TRUE(p);
    auto [ok, e] = connect(p);
    ASSERT_TRUE(ok) << e.text;
    device->peripheral()->clearWrites();
    stream->inputStream()->setDelegate(events);
    stream->outputStream()->setDelegate(events);
  }
  void TearDown() override {
    BTLEStreamTest::TearDown();
    device.reset();
  }
  std::unique_ptr<SimulatedBleDevice> device;
  std::shared_ptr<Events> events = std::make_shared<Events>();
};

TEST_F(BTLEStreamLinkTest, WritesGoOutInTwentyBytePiecesWithAResponseEveryTwentySeventhPiece) {
  Error e;
  EXPECT_FALSE(stream->btWrite(Bytes(5, 1).data(), 5, &e));  // not open yet
  EXPECT_EQ(e.code, -20);
  stream->inputStream()->open();
  stream->outputStream()->open();
  EXPECT_EQ(events->count(accessory::StreamEvent::OpenCompleted), 2);

  Bytes small(45);
  for (size_t i = 0; i < small.size(); ++i) small[i] = uint8_t(i);
  EXPECT_EQ(stream->outputStream()->write(small.data(), small.size()), 45);
  ASSERT_TRUE(eventually([&] { return device->received().size() == 45; }));
  auto writes = device->peripheral()->writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].value.size(), 20u);
  EXPECT_EQ(writes[1].value.size(), 20u);
  EXPECT_EQ(writes[2].value.size(), 5u);
  for (auto& w : writes) EXPECT_FALSE(w.withResponse);
  EXPECT_EQ(device->received(), small);

  device->peripheral()->clearWrites();
  Bytes large(1100);
  for (size_t i = 0; i < large.size(); ++i) large[i] = uint8_t(i * 3);
  EXPECT_TRUE(stream->btWrite(large.data(), int(large.size())));
  ASSERT_TRUE(eventually([&] { return device->peripheral()->writes().size() == 55; }));
  writes = device->peripheral()->writes();
  for (size_t k = 0; k < writes.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(writes[k].withResponse, k == 27 || k == 54);
  }
  EXPECT_EQ(writes[27].value, Bytes(large.begin() + 540, large.begin() + 560));
}

TEST_F(BTLEStreamLinkTest, NotifiedBytesAreAnnouncedAndRead) {
  stream->inputStream()->open();
  stream->outputStream()->open();
  ASSERT_TRUE(device->send(Bytes{1, 2, 3}));
  ASSERT_TRUE(eventually([&] { return events->count(accessory::StreamEvent::HasBytesAvailable) == 1; }));
  ASSERT_TRUE(device->send(Bytes(25, 9)));  // two values, each announced
  ASSERT_TRUE(eventually([&] { return events->count(accessory::StreamEvent::HasBytesAvailable) == 3; }));
  uint8_t buf[64];
  EXPECT_EQ(stream->inputStream()->read(buf, sizeof buf), 28);
  EXPECT_EQ(buf[0], 1);
  EXPECT_FALSE(stream->hasBytesAvailable());
}

TEST_F(BTLEStreamLinkTest, LosingTheLinkEndsTheStreamTellsTheControlDelegateAndFailsWrites) {
  stream->inputStream()->open();
  stream->outputStream()->open();
  device->peripheral()->drop();
  ASSERT_TRUE(eventually([&] { return control->disconnected.load() == 1; }));
  EXPECT_GE(events->count(accessory::StreamEvent::EndEncountered), 1);
  EXPECT_EQ(stream->streamStatus(), accessory::StreamStatus::Closed);
  EXPECT_FALSE(stream->peripheral());
  Error e;
  EXPECT_FALSE(stream->btWrite(Bytes(3, 1).data(), 3, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(stream->outputStream()->write(Bytes(3, 1).data(), 3), -1);
}

TEST_F(BTLEStreamLinkTest, AWriteThatCannotGoOutIsReportedAndFailsTheNextWrite) {
  stream->inputStream()->open();
  stream->outputStream()->open();
  device->peripheral()->setRefuseWrites(true);
  EXPECT_TRUE(stream->btWrite(Bytes(30, 7).data(), 30));  // taken; the sender finds the radio refusing
  ASSERT_TRUE(eventually([&] { return events->count(accessory::StreamEvent::ErrorOccurred) == 1; }));
  device->peripheral()->setRefuseWrites(false);
  Error e;
  EXPECT_FALSE(stream->btWrite(Bytes(3, 1).data(), 3, &e));  // the next write hears of it
  EXPECT_EQ(e.code, -20);
  EXPECT_TRUE(stream->btWrite(Bytes(3, 2).data(), 3));  // and the one after goes out
  ASSERT_TRUE(eventually([&] { return device->received() == Bytes(3, 2); }));
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

TEST_F(BTLEStreamLinkTest, TheRadioPoweringOffEndsAnOpenLink) {
  stream->inputStream()->open();
  stream->outputStream()->open();
  radio->setState(bluetooth::CentralState::PoweredOff);
  ASSERT_TRUE(eventually([&] { return control->disconnected.load() == 1; }));
  EXPECT_EQ(events->count(accessory::StreamEvent::EndEncountered), 1);
  EXPECT_FALSE(stream->peripheral());
  radio->setState(bluetooth::CentralState::PoweredOn);
}

}  // namespace
}  // namespace kestra
