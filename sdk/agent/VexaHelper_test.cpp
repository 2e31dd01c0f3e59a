// The agent's small services, the receipt record and the location service.

#include <gtest/gtest.h>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/MainQueue.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaTransactionReceipt.h"

namespace kestra::agenttest {
namespace {

TEST(VexaHelper, Base36) {
  EXPECT_EQ(VexaAppSettings::base36(0), "0");
  EXPECT_EQ(VexaAppSettings::base36(35), "Z");
  EXPECT_EQ(VexaAppSettings::base36(36), "10");
  EXPECT_EQ(VexaAppSettings::base36(INT64_MAX), "1Y2P0IJ32E8E7");
}

TEST(VexaHelper, DaysCountCalendarDaysAndNamesMatchLoosely) {
  const auto late = *foundation::parseDate("2026-03-01 23:59", "yyyy-MM-dd HH:mm");
  const auto early = *foundation::parseDate("2026-03-02 00:01", "yyyy-MM-dd HH:mm");
  EXPECT_EQ(VexaHelper::daysBetweenOlderDate(late, early), 1);
  EXPECT_EQ(VexaHelper::daysBetweenOlderDate(early, early + std::chrono::hours(23)), 0);
  EXPECT_TRUE(VexaHelper::string("XABCX", "ab c"));
  EXPECT_TRUE(VexaHelper::string("Pellan Pro 7", "pellanpro"));
  EXPECT_FALSE(VexaHelper::string("Pellan Tab", "pellanpro"));
  EXPECT_EQ(VexaHelper::getDeviceNameFromRawName("PellanPro"), "PELLAN PRO");
  EXPECT_EQ(VexaHelper::getDeviceNameFromRawName("My Toravel 2"), "TORAVEL");
  EXPECT_EQ(VexaHelper::getDeviceNameFromRawName("widget x"), "WIDGET X");
}

TEST(VexaHelper, DateForms) {
  const auto t = *foundation::parseDate("2026-12-10 15:04", "yyyy-MM-dd HH:mm");
  const std::string stored = VexaHelper::systemDateString(t);
  EXPECT_EQ(VexaHelper::systemDate(stored), t);
  EXPECT_EQ(VexaHelper::ISODateTimeStringFromDate(t).substr(0, 19), "2026-12-10T15:04:00");
  EXPECT_TRUE(VexaHelper::ISODateFromDateTimeString("2026-12-10T15:04:00+0000").has_value());
  EXPECT_FALSE(VexaHelper::ISODateFromDateTimeString("yesterday").has_value());
  EXPECT_EQ(VexaSecret::encodeSecret(std::string("secret")), "c2VjcmV0");
  EXPECT_EQ(VexaSecret::decodeSecret(std::string("c2VjcmV0")), "secret");
  EXPECT_FALSE(VexaSecret::decodeSecret(std::string("!!!")).has_value());
  EXPECT_FALSE(VexaSecret::encodeSecret(std::nullopt).has_value());
}

TEST(VexaTransactionReceipt, FourteenFieldsAndAbsentOnesAsEmptyText) {
  VexaTransactionReceipt r;
  auto fresh = r.getTransactionReceipt();
  ASSERT_EQ(fresh.size(), 14u);
  EXPECT_EQ(fresh.begin().key(), "merchantName");
  for (const auto& [k, v] : fresh.items()) EXPECT_EQ(v, "") << k;
  r.cardBrand = std::nullopt;
  r.aidName = "VISA CREDIT";
  auto filled = r.getTransactionReceipt();
  EXPECT_EQ(filled.size(), 14u);
  EXPECT_EQ(filled["cardBrand"], "");
  EXPECT_EQ(filled["aidName"], "VISA CREDIT");
}

class LocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wipeStores();
    foundation::UserDefaults::standard().setBool("locationEnabled", true);
  }
  std::shared_ptr<system_info::SimulatedLocationProvider> provider =
      std::make_shared<system_info::SimulatedLocationProvider>();
};

TEST_F(LocatorTest, OneRequestAtATimeAndTheFixIsSaved) {
  VexaLocator locator(provider);
  locator.requestNewLocation();
  locator.requestNewLocation();
  ASSERT_TRUE(runMainUntil([&] { return provider->requestCount() >= 1; }));
  EXPECT_EQ(provider->requestCount(), 1u);
  EXPECT_TRUE(locator.isRequestingLocation());
  LocationFix fix;
  fix.latitude = 48.85;
  fix.longitude = 2.35;
  fix.altitude = 35;
  provider->deliver(fix);
  ASSERT_TRUE(runMainUntil([&] { return !locator.isRequestingLocation(); }));
  EXPECT_EQ(locator.lastLatitude(), 48.85);
  EXPECT_EQ(locator.locationMethod(), "GPS");
  const auto saved = foundation::UserDefaults::standard().objectForKey("OKTVEXA_SAVED_LOCATION");
  EXPECT_EQ(saved["latitute"], "48.850000");
  EXPECT_EQ(saved["method"], "GPS");
  // After a failure the next request goes out.
  locator.requestNewLocation();
  provider->fail();
  ASSERT_TRUE(runMainUntil([&] { return !locator.isRequestingLocation() && provider->requestCount() == 2; }));
  locator.requestNewLocation();
  ASSERT_TRUE(runMainUntil([&] { return provider->requestCount() == 3; }));
}

TEST_F(LocatorTest, WithLocationOffThePlaceholderIsUnknownAtZero) {
  foundation::UserDefaults::standard().setBool("locationEnabled", false);
  VexaLocator locator(provider);
  locator.requestNewLocation();
  foundation::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(20));
  EXPECT_EQ(provider->requestCount(), 0u);
  const LocationFix fix = locator.location();
  EXPECT_EQ(fix.latitude, 0);
  EXPECT_EQ(locator.locationMethod(), "Unknown");
  EXPECT_EQ(foundation::UserDefaults::standard().objectForKey("OKTVEXA_SAVED_LOCATION")["method"], "Unknown");
}

TEST_F(LocatorTest, NoRequestWithoutPermission) {
  struct Case {
    const char* name;
    bool usage;
    bool services;
    system_info::LocationAuthorization status;
    system_info::LocationAuthorization answer;
  };
  using A = system_info::LocationAuthorization;
  const Case cases[] = {{"no usage text", false, true, A::Always, A::Always},
                        {"services off", true, false, A::Always, A::Always},
                        {"denied", true, true, A::Denied, A::Always},
                        {"user says no", true, true, A::NotDetermined, A::Denied}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = std::make_shared<system_info::SimulatedLocationProvider>();
    p->setServicesEnabled(c.services);
    p->setAuthorization(c.status);
    p->setAuthorizationAnswer(c.answer);
    auto bundle = VexaAppSettings::bundleInfo();
    bundle.hasLocationUsageDescription = c.usage;
    VexaAppSettings::setBundleInfo(bundle);
    VexaLocator locator(p);
    locator.startMonitoringLocation();
    foundation::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(10));
    EXPECT_EQ(p->requestCount(), 0u);
    bundle.hasLocationUsageDescription = true;
    VexaAppSettings::setBundleInfo(bundle);
  }
}

}  // namespace
}  // namespace kestra::agenttest
