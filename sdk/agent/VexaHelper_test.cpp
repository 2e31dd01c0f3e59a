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
  drainMain();
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
    drainMain();
    EXPECT_EQ(p->requestCount(), 0u);
    bundle.hasLocationUsageDescription = true;
    VexaAppSettings::setBundleInfo(bundle);
  }
}

}  // namespace
}  // namespace kestra::agenttest

namespace kestra::agenttest {
namespace {

TEST(VexaAnswers, CheckInAndConfigurationAnswersAreReadAsTheServerMeantThem) {
  struct Case {
    const char* body;
    bool accepted;
    const char* detail;
  };
  const Case cases[] = {{R"({"message":"Success"})", true, ""},
                        {R"({"message":null})", true, ""},
                        {R"({"message":"Fatal Error"})", false, "Fatal Error"},
                        {R"({"message":"error, lower case"})", true, ""},
                        {R"({"message":12})", true, ""},
                        {R"({})", false, "Unknown response"},
                        {R"("Success")", false, "Unknown response"},
                        {"<html>", false, "Response code: 200"},
                        {"", false, "Response code: 200"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    auto a = readCheckInAnswer(c.body, 200);
    EXPECT_EQ(a.accepted, c.accepted);
    EXPECT_EQ(a.detail, c.detail);
  }
  EXPECT_TRUE(readConfigAnswer(R"([{"key":"a_b","value":1}])").has_value());
  EXPECT_FALSE(readConfigAnswer(R"({"key":"a_b"})").has_value());
  EXPECT_FALSE(readConfigAnswer("not json").has_value());
}

TEST(GeoClue, LocationPropertiesAreReadOrRefused) {
  auto fix = system_info::parseGeoClueLocation(
      "({'Latitude': <51.5>, 'Longitude': <-0.125>, 'Accuracy': <20.0>, 'Altitude': <-1.7976931348623157e+308>},)");
  ASSERT_TRUE(fix.has_value());
  EXPECT_EQ(fix->latitude, 51.5);
  EXPECT_EQ(fix->longitude, -0.125);
  for (const char* bad : {"", "({'Latitude': <91.0>, 'Longitude': <0.0>},)", "({'Latitude': <nan>, 'Longitude': <1>},)",
                          "({'Longitude': <1.0>},)"})
    EXPECT_FALSE(system_info::parseGeoClueLocation(bad).has_value()) << bad;
}

}  // namespace
}  // namespace kestra::agenttest
