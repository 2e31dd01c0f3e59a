// The agent's set-up on the way to the application's first frame: the location lookup waits
// for the window's first frame when a host holds start-up work, and starts at once when none
// does (SDK programs); the set-up's switches reach the user defaults without a second write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/foundation/FirstFrame.h"
#include "platform/system/Location.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaLocator.h"

namespace kestra {
namespace {

using namespace agenttest;

struct AgentStartup : ::testing::Test {
  void SetUp() override {
    wipeStores();
    foundation::UserDefaults::standard().setBool("locationEnabled", true);
  }
  void TearDown() override {
    foundation::FirstFrame::painted();  // no hold outlives the test
    drainMain();
  }
  std::shared_ptr<system_info::SimulatedLocationProvider> provider =
      std::make_shared<system_info::SimulatedLocationProvider>();
  VexaLocator locator{provider};
  std::shared_ptr<FakeDevices> devices = std::make_shared<FakeDevices>();
};

TEST_F(AgentStartup, LocationLookupWaitsForTheFirstFrameWhileAHostHoldsStartUpWork) {
  foundation::FirstFrame::hold();
  auto agent = OKTVexa::create(devices, &locator);
  drainMain();
  EXPECT_EQ(provider->requestCount(), 0u) << "the lookup started before the first frame";

  foundation::FirstFrame::painted();
  ASSERT_TRUE(runMainUntil([&] { return provider->requestCount() == 1; }));
  EXPECT_TRUE(locator.isRequestingLocation());
}

TEST_F(AgentStartup, WithoutAWindowTheLocationLookupStartsDuringSetUp) {
  auto agent = OKTVexa::create(devices, &locator);
  // On the main thread the request is made inside the set-up itself, as before.
  EXPECT_EQ(provider->requestCount(), 1u);
}

TEST_F(AgentStartup, TheSwitchesOfAFreshInstallAreStoredAndNotWrittenAgain) {
  wipeStores();
  const auto file = foundation::UserDefaults::standard().file();
  struct stat before {};
  ASSERT_NE(::stat(file.c_str(), &before), 0) << "the stores were not wiped";
  auto agent = OKTVexa::create(devices, &locator);
  struct stat first {};
  ASSERT_EQ(::stat(file.c_str(), &first), 0);
  EXPECT_TRUE(foundation::UserDefaults::standard().boolForKey("checkInEnabled"));
  EXPECT_TRUE(foundation::UserDefaults::standard().boolForKey("locationEnabled"));
  // Each write replaces the file (temporary file, rename): the same file means no write since.
  foundation::UserDefaults::standard().synchronize();
  struct stat after {};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(first.st_ino, after.st_ino);
  // A new instance reads both switches back.
  foundation::UserDefaults again(file);
  EXPECT_TRUE(again.boolForKey("checkInEnabled"));
  EXPECT_TRUE(again.boolForKey("locationEnabled"));
}

}  // namespace
}  // namespace kestra
