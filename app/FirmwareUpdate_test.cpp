// A firmware job from the management server, end to end inside the application: the screens
// are up over the SDK's own facade and agent (as the program installs them), a simulated
// charging case is attached, and the management server of testing/mdm answers the agent's
// configuration check-in with a firmware job. While the case takes the image the
// application's "Updating Firmware" cover is on screen and takes every touch; once the case
// has restarted with the new image the cover is gone.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "app/core/KestraDevices.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Button.h"
#include "platform/ui/harness/Harness.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/agent/VexaNetworkAction.h"
#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/OKTKXDevices.h"
#include "testing/app/AppTestSupport.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"
#include "testing/mdm/MdmServer.h"
#include "testing/services/ServiceProcess.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The process's folders (accessory endpoints, keychain) and the agent's server, set before
// the SDK's process-wide objects read them.
class Folders {
 public:
  Folders() : folder_("orvo-firmware"), path(folder_.path()) {
    ::setenv("XDG_RUNTIME_DIR", (path / "runtime").c_str(), 1);
    ::setenv("KESTRA_KEYCHAIN_FILE", (path / "keychain.json").c_str(), 1);
  }

 private:
  services::TempFolder folder_;

 public:
  const fs::path path;
};

// An image the simulated case takes (its name where the case looks for it).
std::string caseImage(size_t size) {
  std::string image(size, '\0');
  for (size_t i = 0; i < size; ++i) image[i] = char(uint8_t(i * 13 + 1));
  const foundation::Bytes packed = kestra::chargingcase::packCaseName("Toravel");
  std::copy(packed.begin(), packed.end(), image.begin() + 12);
  return image;
}

TEST(FirmwareUpdate, TheUpdatingFirmwareViewCoversTheScreensWhileAJobFromTheServerFlashesTheCase) {
  Folders folders;
  ASSERT_FALSE(folders.path.empty());
  mdm::MdmServer server(folders.path / "mdm");
  ASSERT_TRUE(server.ready());
  ASSERT_TRUE(server.start());
  ::setenv("KESTRA_MDM_ORIGIN", server.origin().c_str(), 1);
  ::setenv("KESTRA_MDM_CA_FILE", server.certificates().caCert.c_str(), 1);
  ::setenv("KESTRA_PUBLIC_IP_URL", (server.origin() + mdm::kPublicAddressPath).c_str(), 1);
  const std::string image = caseImage(4096);
  server.script("/files/case.bin", {200, image, "application/octet-stream"});
  server.setDefault(mdm::kConfigurationPath,
                    {200, nlohmann::json::array({{{"key", "toravel_firmware"},
                                                  {"value", server.origin() + "/files/case.bin"}}})
                              .dump()});

  foundation::ScopedManualClock clock;
  devices::SimulatedChargingCase sim(devices::SimulatedChargingCase::defaultIdentity(),
                                     folders.path / "runtime" / "kestra-accessories");
  test_support::AppHarness app;
  KestraDevices::install();  // the program's facade, agent and firmware view
  ASSERT_TRUE(sim.attach());
  // Something of the application's own to touch: it must not be reachable under the cover.
  int taps = 0;
  auto button = ui::Button::make("Save", {20, 100, 200, 44});
  button->addTarget(&taps, [&taps](ui::Control&) { ++taps; }, ui::TouchUpInside);
  app.root->view().addSubview(button);
  app.launch();  // launching makes the application active: the agent checks in by itself
  ui::harness::Harness h(app.delegate->window.get());
  auto& facade = kestra::OKTKXDevices::sharedDevice();
  ASSERT_TRUE(app.runUntil([&] { return facade.connstate() == 2; }));

  // The agent's waits run on the manual clock: it is moved on while the agent waits and
  // nothing is on the wire, until the server has been asked for its jobs. The job itself
  // runs on its own time.
  auto agent = kestra::OKTVexa::registerOKTVexa();
  auto& runner = kestra::VexaConfiguration::sharedConfiguration();
  const auto limit = std::chrono::steady_clock::now() + 60s;
  auto& loop = foundation::RunLoop::main();
  while (server.count(mdm::kConfigurationPath) == 0 && std::chrono::steady_clock::now() < limit) {
    const bool waiting = agent->sleepingOperations() > 0 || loop.nextTimerDeadline().has_value();
    if (waiting && kestra::VexaNetworkAction::postsInFlight() == 0) clock->advance(1s);
    loop.runOnce(5ms);
  }
  ASSERT_GT(server.count(mdm::kConfigurationPath), 0u) << "no configuration check-in";

  // While the case takes the image, the cover is up and nothing under it can be touched.
  bool seenWhileFlashing = false;
  ASSERT_TRUE(app.runUntil([&] {
    if (!sim.chunkSizes().empty() && sim.restarts() == 0 && h.findText("Updating Firmware")) {
      seenWhileFlashing = true;
      EXPECT_FALSE(h.tap(button.get()));
    }
    return seenWhileFlashing || sim.restarts() > 0;
  }));
  EXPECT_TRUE(seenWhileFlashing) << h.dump();

  // Once the case has restarted with the image and the job is recorded, the cover is gone.
  ASSERT_TRUE(app.runUntil([&] {
    return sim.restarts() > 0 && runner.pendingJobs() == 0 && !agent->isPause() && !h.findText("Updating Firmware");
  })) << h.dump();
  EXPECT_EQ(sim.storedImage(), foundation::Bytes(image.begin(), image.end()));
  EXPECT_TRUE(h.tap(button.get()));
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(server.count("/files/case.bin"), 1u);
  sim.detach();
}

}  // namespace
}  // namespace orvo
