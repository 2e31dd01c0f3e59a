// Firmware through the facade with the simulated sleeve and the simulated charging case both
// attached: the image goes to the case while it is connected, and to the sleeve once the case
// has gone; the device that is not addressed keeps its firmware.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/foundation/RunLoop.h"
#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTCD.h"
#include "sdk/device/OKTEADSessionController.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/sleeve/PellanModulesFixture.h"
#include "testing/devices/base/JoiningThread.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"
#include "testing/devices/sleeve/SleeveModules.h"

namespace kestra::testing {
namespace {

class UnpluggedPhone final : public KXPhoneBattery {
 public:
  int batteryState() override { return kUnplugged; }
  float batteryLevel() override { return 0.5f; }
};

Bytes caseImage() {
  Bytes image(300);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7);
  const Bytes packed = chargingcase::packCaseName("Toravel");
  std::copy(packed.begin(), packed.end(), image.begin() + 12);
  return image;
}

struct BothDevices {
  devices::SleeveTestBench bench{sleeveWith(devices::SimulatedEngine::Family::Code, "CBCM", "2.63")};
  std::shared_ptr<KXDevices> api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  std::shared_ptr<OKTCD> chargingCase =
      OKTCD::create(OKTEADSessionController::create(*bench.registry), std::make_shared<UnpluggedPhone>());
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, chargingCase, std::make_shared<KXDeviceAgentStandIn>());
  std::unique_ptr<devices::SimulatedChargingCase> caseSim;

  ~BothDevices() {
    if (caseSim) caseSim->detach();
    bench.runUntil([&] { return chargingCase->connState() == 0; });
  }
  // The facade's blocking update, on a thread of its own while the main queue serves both.
  bool update(const Bytes& image, Error* error) {
    std::atomic<bool> done{false};
    bool ok = false;
    devices::JoiningThread t([&] {
      ok = facade->updateFirmwareData(image, error);
      done = true;
      foundation::RunLoop::main().wakeUp();
    });
    EXPECT_TRUE(bench.runUntil([&] { return done.load(); }));
    t.join();
    return ok;
  }
  // Initialize messages the case has had: one more each time the host opens its session.
  size_t sessionsOpened() {
    return caseSim->frames().framesOf(devices::SimulatedChargingCase::controlKey(chargingcase::kControlInitialize));
  }
  Bytes sleeveFlash() {
    return bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.passThrough.flash; });
  }
};

TEST(OKTKXDevicesFirmware, TheCaseTakesTheImageWhileConnectedThenTheSleeve) {
  BothDevices d;
  ASSERT_TRUE(d.bench.sleeve->attach());
  d.facade->connect();
  d.caseSim = std::make_unique<devices::SimulatedChargingCase>(devices::SimulatedChargingCase::defaultIdentity(),
                                                               d.bench.folder);
  ASSERT_TRUE(d.caseSim->attach());
  ASSERT_TRUE(d.bench.runUntil([&] {
    return d.api->connstate() == 2 && d.chargingCase->connState() == 2 &&
           d.chargingCase->batteryInfo().contains("Voltage");
  }));
  ASSERT_EQ(d.api->firmwareRevision(), "2.63.0");
  const Bytes sleeveBefore = d.sleeveFlash();

  // Both connected: every image is the case's to take or refuse; the sleeve is not touched.
  struct Case {
    const char* name;
    Bytes image;
    bool ok;
    const char* error;
  };
  const Case cases[] = {
      {"the case's image", caseImage(), true, ""},
      {"the sleeve's image", devices::SleeveModules::firmwareImage(2000, "CBCM", 2, 75), false,
       "Update error: the firmware file is not compatible with connected device."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stored = d.caseSim->storedImage();
    const size_t sessions = d.sessionsOpened();
    const int restarts = d.caseSim->restarts();
    Error e;
    EXPECT_EQ(d.update(c.image, &e), c.ok) << e.text;
    EXPECT_EQ(e.text, c.error);
    EXPECT_EQ(d.caseSim->storedImage(), c.ok ? c.image : stored);
    EXPECT_EQ(d.sleeveFlash(), sleeveBefore);
    EXPECT_EQ(d.api->firmwareRevision(), "2.63.0");
    // The case restarts after an update it took; it is back once the host has opened a new
    // session with it.
    if (c.ok) {
      ASSERT_TRUE(d.bench.runUntil([&] {
        return d.caseSim->restarts() == restarts + 1 && d.sessionsOpened() > sessions &&
               d.chargingCase->connState() == 2;
      }));
    }
  }
  EXPECT_EQ(d.caseSim->restarts(), 1);

  // The case gone, the sleeve's image reaches the sleeve.
  d.caseSim->detach();
  ASSERT_TRUE(d.bench.runUntil([&] { return d.chargingCase->connState() == 0 && d.facade->connstate() == 2; }));
  const Bytes image = devices::SleeveModules::firmwareImage(2000, "CBCM", 2, 75);
  {
    foundation::ScopedManualClock clock;
    ClockPump pump(*clock);
    Error e;
    ASSERT_TRUE(d.update(image, &e)) << e.text;
    ASSERT_TRUE(d.bench.runUntil([&] { return d.api->connstate() == 2 && d.api->firmwareRevision() == "2.75.0"; }));
  }
  Bytes flash = d.sleeveFlash();
  flash.resize(image.size(), 0xFF);
  EXPECT_EQ(flash, image);
  EXPECT_EQ(d.caseSim->storedImage(), caseImage());
}

}  // namespace
}  // namespace kestra::testing
