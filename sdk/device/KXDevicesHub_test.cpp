// The hub and its HID readers through the device API: a barcode typed on port 2 and a card
// swiped on port 3 reach the application's delegates in the forms they take from a sleeve.
#include <gtest/gtest.h>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/hub/CarvikStream.h"
#include "sdk/hub/USBManager.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/hub/SimulatedHub.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

bool listed(KXDevices& api, int type) {
  for (const auto& info : api.getConnectedDevicesInfo())
    if (info && info->deviceType == type) return true;
  return false;
}

TEST(KXDevicesHub, ReadersOnHubPortsReachTheDelegates) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto events = std::make_shared<CallLog>();
  auto app = std::make_shared<RecordingDelegate>(
      events, "app", std::vector<std::string_view>{kxsel::barcodeData_type, kxsel::magneticCardData});
  api->addDelegate(app);

  devices::SimulatedHub hub(devices::SimulatedHub::identity(), bench.folder, 4);
  ASSERT_TRUE(hub.attach());
  ASSERT_TRUE(bench.runUntil([&] { return bench.registry->connectedAccessories().size() == 1; }));
  api->connect();
  ASSERT_TRUE(bench.runUntil([&] { return listed(*api, DEVICE_TYPE_HUB); }));

  hub.plugIn(2, "Barcode Scanner|USB|hid.barcode");
  hub.plugIn(3, "USB Swipe Reader|USB|com.magtek.msr");
  ASSERT_TRUE(bench.runUntil([&] {
    return listed(*api, DEVICE_TYPE_HID_BARCODE) && listed(*api, DEVICE_TYPE_USB_MSR);
  }));

  hub.typeText(2, "0123456789", true);
  ASSERT_TRUE(events->waitFor([](const auto& l) {
    return std::any_of(l.begin(), l.end(), [](const std::string& s) { return s.rfind("app:barcodeData:", 0) == 0; });
  }));
  // The typed code arrives whole; a keyboard scanner names no symbology.
  const auto lines = events->lines();
  const auto it = std::find_if(lines.begin(), lines.end(), [](const std::string& s) { return s.rfind("app:barcodeData:", 0) == 0; });
  EXPECT_EQ(it->rfind("app:barcodeData:0123456789:", 0), 0u) << *it;

  const std::string track1 = "%B4111111111111111^TEST/CARD^2512101?";
  const std::string track2 = ";4111111111111111=2512101?";
  hub.swipeCard(3, track1, track2, "");
  EXPECT_TRUE(events->waitForLine("app:magneticCardData:" + track1 + "|" + track2 + "|nil"));

  hub.unplug(3);
  EXPECT_TRUE(bench.runUntil([&] { return !listed(*api, DEVICE_TYPE_USB_MSR); }));
  hub.detach();
  EXPECT_TRUE(bench.runUntil([&] { return !listed(*api, DEVICE_TYPE_HUB); }));
  bench.runUntil([] { return GlobalQueue::running() == 0; });
}

TEST(KXDevicesHub, AdapterAndHubAreAskedLastInThatOrder) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  const auto drivers = bench.manager->delegates();
  ASSERT_GE(drivers.size(), 2u);
  EXPECT_TRUE(std::dynamic_pointer_cast<CarvikStream>(drivers[drivers.size() - 2]));
  EXPECT_TRUE(std::dynamic_pointer_cast<USBManager>(drivers.back()));
  EXPECT_EQ(drivers.front(), bench.pellan);
}

}  // namespace
}  // namespace kestra::testing
