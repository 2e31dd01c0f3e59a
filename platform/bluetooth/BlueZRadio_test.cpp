// The BlueZ back end against python3-dbusmock's BlueZ template on a private bus started by
// the test: the adapter, discovery, devices and their links. (The template has no GATT
// objects, so services, characteristics, reads, writes and notifications are covered by the
// simulated radio's tests only.)
#include "platform/bluetooth/BlueZRadio.h"

#include <gtest/gtest.h>

#include "platform/bluetooth/Central.h"
#include "testing/dbus/PrivateBus.h"

namespace bluetooth {
namespace {

using testing_dbus::Child;
using testing_dbus::kPython;
using testing_dbus::PrivateBus;
using namespace std::chrono_literals;

// Records the central's reports; `waitFor` waits (real time, a safety net) for one.
class Recorder final : public CentralManagerDelegate {
 public:
  void centralManagerDidUpdateState(CentralManager& c) override { add("state:" + std::to_string(int(c.state()))); }
  void didDiscoverPeripheral(CentralManager&, const std::shared_ptr<Peripheral>& p, const Advertisement&) override {
    add("discovered:" + p->name());
  }
  void didConnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>& p) override {
    add("connected:" + p->name());
  }
  void didFailToConnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>& p, const Error&) override {
    add("failed:" + p->name());
  }
  void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>& p,
                               const std::optional<Error>& e) override {
    add("disconnected:" + p->name() + (e ? ":lost" : ""));
  }
  bool waitFor(const std::string& line, size_t times = 1) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, 20s, [&] { return size_t(std::count(lines_.begin(), lines_.end(), line)) >= times; });
  }
  size_t count(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_);
    return size_t(std::count(lines_.begin(), lines_.end(), line));
  }

 private:
  void add(std::string line) {
    std::lock_guard<std::mutex> lock(m_);
    lines_.push_back(std::move(line));
    cv_.notify_all();
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
};

class BlueZRadioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kPython, X_OK) != 0 || ::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
      GTEST_SKIP() << "python3-dbusmock is not installed (scripts/install-deps installs it)";
    ASSERT_FALSE(bus.address().empty());
  }
  void startBlueZ() {
    bluez = std::make_unique<Child>(std::vector<std::string>{kPython, "-m", "dbusmock", "--template", "bluez5"},
                                    std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(bluez->started());
    ASSERT_TRUE(bus.waitForName("org.bluez"));
    ASSERT_TRUE(mock("AddAdapter", "string:hci0 string:showroom-phone"));
  }
  bool mock(const std::string& method, const std::string& args) {
    return bus.call("org.bluez", "/org/bluez", "org.bluez.Mock." + method, args);
  }

  PrivateBus bus;
  std::unique_ptr<Child> bluez;
};

TEST_F(BlueZRadioTest, WithoutBlueZTheCentralIsUnsupported) {
  auto radio = BlueZRadio::create(bus.address());
  EXPECT_EQ(radio->state(), CentralState::Unsupported);
  auto none = BlueZRadio::create("unix:path=/nonexistent/bus");
  EXPECT_EQ(none->state(), CentralState::Unsupported);
}

TEST_F(BlueZRadioTest, DiscoveryReportsKnownAndNewDevicesAndLinksComeAndGo) {
  startBlueZ();
  ASSERT_TRUE(mock("AddDevice", "string:hci0 string:AA:BB:CC:DD:EE:01 string:'Pellan BLE 1'"));
  auto radio = BlueZRadio::create(bus.address());
  ASSERT_EQ(radio->state(), CentralState::PoweredOn);
  auto recorder = std::make_shared<Recorder>();
  auto central = CentralManager::create(recorder, "test.queue", radio);
  ASSERT_TRUE(recorder->waitFor("state:5"));

  central->scanForPeripherals({Uuid::fromString("227DAF10-3127-402A-9907-0485AF3468CE")});
  ASSERT_TRUE(recorder->waitFor("discovered:Pellan BLE 1"));
  ASSERT_TRUE(mock("AddDevice", "string:hci0 string:AA:BB:CC:DD:EE:02 string:'Pellan BLE 2'"));
  ASSERT_TRUE(recorder->waitFor("discovered:Pellan BLE 2"));
  central->stopScan();
  ASSERT_TRUE(radio->waitIdle());
  EXPECT_EQ(recorder->count("discovered:Pellan BLE 1"), 1u);

  const Uuid id = BlueZRadio::identifierForAddress("AA:BB:CC:DD:EE:01");
  EXPECT_EQ(id.string(), "00000000-0000-0000-0000-AABBCCDDEE01");
  auto known = central->retrievePeripherals({id, Uuid::random()});
  ASSERT_EQ(known.size(), 1u);
  auto p = known[0];
  EXPECT_EQ(p->name(), "Pellan BLE 1");

  central->connectPeripheral(p);
  ASSERT_TRUE(recorder->waitFor("connected:Pellan BLE 1"));
  EXPECT_EQ(p->state(), PeripheralState::Connected);
  central->cancelPeripheralConnection(p);
  ASSERT_TRUE(recorder->waitFor("disconnected:Pellan BLE 1"));
  EXPECT_EQ(p->state(), PeripheralState::Disconnected);

  // The device goes away on its own.
  central->connectPeripheral(p);
  ASSERT_TRUE(recorder->waitFor("connected:Pellan BLE 1", 2));
  ASSERT_TRUE(mock("DisconnectDevice", "string:hci0 string:AA:BB:CC:DD:EE:01"));
  ASSERT_TRUE(recorder->waitFor("disconnected:Pellan BLE 1", 2));
}

}  // namespace
}  // namespace bluetooth
