// The check-in cycle against the management server over HTTPS on loopback.

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <fstream>

#include "platform/foundation/Json.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaPhonePlugins.h"

namespace kestra::agenttest {
namespace {

using nlohmann::json;

std::string lowerCased(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

TEST_F(AgentTest, ASecondCheckInWithinTheIntervalIsRefusedAndAForcedOneIsSent) {
  auto first = checkIn(false);
  EXPECT_TRUE(first.success) << (first.error ? first.error->description() : "");
  ASSERT_EQ(server_->service("check_in").size(), 1u);
  const json body = *server_->service("check_in")[0].json;
  EXPECT_EQ(server_->service("check_in")[0].header("content-type"), "application/json");
  EXPECT_EQ(body["payload"][0]["serial"], VexaIdentifier::getUUID());
  EXPECT_EQ(body["payload"][0]["deviceType"], "iOS");

  auto second = checkIn(false);
  EXPECT_FALSE(second.success);
  ASSERT_TRUE(second.error.has_value());
  EXPECT_EQ(second.error->domain, "com.okt.KestraSDK");
  EXPECT_EQ(second.error->code, -1004);
  EXPECT_EQ(second.error->text, "Check-in is not permitted!");
  EXPECT_EQ(server_->service("check_in").size(), 1u);
  ASSERT_TRUE(runMainUntil([&] { return recorder_->saw("Check-in is not permitted!"); }));

  agent_->checkIn(true);
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 2));
  ASSERT_TRUE(runMainUntil([&] { return !agent_->isCheckingIn() && recorder_->statuses().back() == "Check-in complete"; }));

  // Once the interval has passed a check-in goes out on its own, after dropping the stored
  // serial list.
  ASSERT_TRUE(settlePosts());
  clock_->advance(std::chrono::seconds(28800 + 60));
  auto third = checkIn(false);
  EXPECT_TRUE(third.success);
  EXPECT_EQ(server_->service("check_in").size(), 3u);
}

TEST_F(AgentTest, TheServersAnswerDecidesSuccess) {
  struct Case {
    const char* name;
    mdm::Answer answer;
    bool success;
    const char* status;
    bool cacheKept;
  };
  const Case cases[] = {
      {"success message", {200, R"({"message":"Success"})"}, true, "Check-in complete", false},
      {"null message", {200, R"({"message":null})"}, true, "Check-in complete", false},
      {"error message", {200, R"({"message":"Internal Error: no company"})"}, false, "Internal Error: no company", true},
      {"no message", {200, R"({"result":1})"}, false, "Unknown response", true},
      {"not JSON", {200, "<html>oops</html>", "text/html"}, false, "Response code: 200", true},
      {"server failure", {500, R"({"message":"ok"})"}, false, "Unable to check in", true},
      {"dropped connection", {200, R"({"message":"Success"})", "application/json", {}, true}, false,
       "Unable to check in", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    foundation::UserDefaults::standard().setString("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD", R"({"payload":[]})");
    server_->script(mdm::kCheckInPath, c.answer);
    auto r = checkIn();
    EXPECT_EQ(r.success, c.success);
    ASSERT_TRUE(runMainUntil([&] { return !recorder_->statuses().empty() && recorder_->statuses().back() == c.status; }));
    EXPECT_EQ(!foundation::UserDefaults::standard().objectForKey("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD").is_null(),
              c.cacheKept);
    EXPECT_FALSE(agent_->isCheckingIn());
  }
}

TEST_F(AgentTest, TheCheckInMergesCachedAndFreshEntriesBySerial) {
  // The last collection saw an accessory that is gone now, and an older view of the one
  // still connected.
  const json cached = {{"serviceType", "check_in"},
                       {"payload",
                        {{{"serial", "GONE-1"}, {"deviceSubType", "PellanPro gone"}, {"manufacturer", "Corvanta"}},
                         {{"serial", "SLEEVE-7"}, {"deviceSubType", "old name"}, {"manufacturer", "Corvanta"}}}}};
  foundation::UserDefaults::standard().setString("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD", foundation::prettyJson(cached));
  devices_->state = 2;
  devices_->activeType = 2;  // the host's own choice: the pinpad
  devices_->devices = {{"PellanPro 7", "SLEEVE-7", 0}, {"Mystery box", std::nullopt, 5}};

  ASSERT_TRUE(checkIn().success);
  const json body = *server_->service("check_in").at(0).json;
  std::map<std::string, json> bySerial;
  for (const auto& e : body["payload"]) bySerial[e["serial"].get<std::string>()] = e;
  ASSERT_EQ(bySerial.size(), 3u) << body.dump(2);
  EXPECT_EQ(bySerial["SLEEVE-7"]["deviceSubType"], "PellanPro 7");
  EXPECT_EQ(bySerial["SLEEVE-7"]["parent"], VexaIdentifier::getUUID());
  EXPECT_EQ(bySerial["SLEEVE-7"]["deviceType"], "unknown");
  EXPECT_EQ(bySerial["GONE-1"]["deviceSubType"], "PellanPro gone");
  EXPECT_EQ(bySerial[VexaIdentifier::getUUID()]["manufacturer"], "Apple");
  // No company code: null in every fresh entry.
  EXPECT_TRUE(bySerial["SLEEVE-7"]["companyCode"].is_null());
  EXPECT_TRUE(bySerial[VexaIdentifier::getUUID()]["companyCode"].is_null());
  // The device without a serial is left out alone; the host's device choice is back.
  EXPECT_EQ(devices_->activeType.load(), 2);
  // The accepted check-in dropped the cache.
  EXPECT_TRUE(foundation::UserDefaults::standard().objectForKey("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD").is_null());
}

// An accessory that gives no serial number is still reported, under a stand-in serial.
TEST_F(AgentTest, AnAccessoryWithoutASerialIsStillReported) {
  devices_->state = 2;
  devices_->devices = {{"PellanPro 7", std::nullopt, 0}};
  ASSERT_TRUE(checkIn().success);
  const json body = *server_->service("check_in").at(0).json;
  ASSERT_EQ(body["payload"].size(), 2u) << body.dump(2);
  bool found = false;
  for (const auto& e : body["payload"])
    if (e["deviceSubType"] == "PellanPro 7") {
      found = true;
      EXPECT_EQ(e["serial"], "N/A");
      EXPECT_EQ(e["manufacturer"], "Corvanta");
    }
  EXPECT_TRUE(found);
}

TEST_F(AgentTest, APhoneAloneIsSkippedOnceTwoDevicesWereLastSeenMoreThanAWeekAgo) {
  foundation::UserDefaults::standard().setDate("OKTVEXA_LAST_CHECK_IN_2_DEVICES",
                                               clock_->wallNow() - std::chrono::hours(24 * 8));
  auto r = checkIn();
  EXPECT_FALSE(r.success);
  EXPECT_FALSE(r.error.has_value());
  EXPECT_EQ(server_->count(), 0u);
  EXPECT_FALSE(agent_->isCheckingIn());

  // A week ago at most: the phone checks in alone.
  foundation::UserDefaults::standard().setDate("OKTVEXA_LAST_CHECK_IN_2_DEVICES",
                                               clock_->wallNow() - std::chrono::hours(24 * 6));
  EXPECT_TRUE(checkIn().success);
}

TEST_F(AgentTest, TheConfigurationRequestFollowsThirtySecondsLaterAndHandsNewJobsOnOnce) {
  auto handedJobs = std::make_shared<std::atomic<int>>(0);
  std::atomic<int>& handed = *handedJobs;
  agent_->setConfigJobsHandler([handedJobs](const json& jobs) {
    if (jobs[0]["key"] == "mobileApp_checkInInterval") ++*handedJobs;
  });
  const std::string jobs = R"([{"key":"mobileApp_checkInInterval","value":"900"}])";
  server_->setDefault(mdm::kConfigurationPath, {200, jobs});
  ASSERT_TRUE(checkIn().success);
  EXPECT_EQ(server_->count(mdm::kConfigurationPath), 0u);
  ASSERT_TRUE(advanceUntil([&] { return server_->count(mdm::kConfigurationPath) == 1; }, std::chrono::seconds(30)));
  EXPECT_EQ(server_->service("check_in").size(), 1u);
  const json body = *server_->requests(mdm::kConfigurationPath)[0].json;
  ASSERT_EQ(body["devices"].size(), 1u);
  EXPECT_EQ(body["devices"][0]["serial"], VexaIdentifier::getUUID());
  EXPECT_EQ(body["devices"][0]["bundle"], "com.orvo.OrvoMobile");
  ASSERT_TRUE(runMainUntil([&] { return handed == 1; }));

  // The same list again starts nothing; every path answers its caller.
  Outcome again;
  agent_->configCheckinWithCompletion(again.completion());
  ASSERT_TRUE(runMainUntil([&] { return again.done.load(); }));
  EXPECT_TRUE(again.result.success);
  EXPECT_EQ(server_->count(mdm::kConfigurationPath), 2u);
  EXPECT_EQ(handed, 1);
}

// A configuration request that fails on its way ends the check-in state too, so that a
// check-in that went astray no longer holds later ones back.
TEST_F(AgentTest, AConfigurationTransportErrorEndsTheCheckingInState) {
  // The check-in waits for a location fix (on the clock), checking in all the while.
  agent_->setLocationEnabled(true);
  agent_->setAllowCheckIn(true);
  Outcome checkin;
  agent_->checkInWithCompletionBlock(checkin.completion());
  ASSERT_TRUE(runMainUntil([&] { return agent_->sleepingOperations() == 1; }));
  ASSERT_TRUE(agent_->isCheckingIn());

  server_->script(mdm::kConfigurationPath, {200, "[]", "application/json", {}, true});
  Outcome config;
  agent_->configCheckinWithCompletion(config.completion());
  ASSERT_TRUE(runMainUntil([&] { return config.done.load(); }));
  EXPECT_FALSE(config.result.success);
  EXPECT_TRUE(config.result.error);
  EXPECT_FALSE(agent_->isCheckingIn());
  EXPECT_TRUE(runMainUntil([&] { return recorder_->saw("Unable to check config"); }));
  ASSERT_TRUE(advanceUntil([&] { return checkin.done.load(); }, std::chrono::seconds(5)));
}

TEST_F(AgentTest, IntervalsAreStoredAsTextWithTheirDefaultsAndMinimum) {
  auto& d = foundation::UserDefaults::standard();
  agent_->setCheckInInterval(10);
  EXPECT_EQ(d.stringForKey("checkInInterval"), "600");
  agent_->setConfigCheckInInterval(10);
  EXPECT_EQ(d.stringForKey("configCheckInInterval"), "10");
  for (const char* stored : {"0", "-5", ""}) {
    SCOPED_TRACE(stored);
    d.setString("checkInInterval", stored);
    EXPECT_EQ(agent_->getCheckInInterval(), 28800);
    EXPECT_EQ(d.stringForKey("checkInInterval"), "28800");
  }
  ASSERT_TRUE(runMainUntil([&] { return agent_->timeIntervalConfigCheckin() == 10; }));
}

TEST_F(AgentTest, ACheckInTimeInTheFutureDoesNotHoldCheckInsBack) {
  UICKeyChainStore::sharedStore().setString(
      VexaHelper::systemDateString(clock_->wallNow() + std::chrono::hours(48)), std::string("OKTVEXA_LAST_CHECK_IN_TIME"));
  EXPECT_TRUE(agent_->shouldCheckIn());
}

TEST_F(AgentTest, NoCheckInOnASimulatorUnlessInTestMode) {
  agent_->setTestMode(false);
  system_info::setPhoneFactsOverride(system_info::PhoneFacts{"dev", "iPhone Simulator", "iOS", "17", "x86_64"});
  auto r = checkIn();
  EXPECT_FALSE(r.success);
  EXPECT_EQ(server_->count(), 0u);
  ASSERT_TRUE(runMainUntil([&] { return recorder_->saw("Looks like we are running on simulator. We don't check in."); }));
}

// On this machine, as it is: the check-in goes out (the machine is no simulator) and the
// phone's entry names the machine by its own product name and uname's machine type.
TEST_F(AgentTest, ThisMachineChecksInUnderItsOwnName) {
  system_info::setPhoneFactsOverride(std::nullopt);
  agent_->setTestMode(false);
  agent_->setPhonePlugins({std::make_shared<VexaMobileDevice>([] { return 0; }, locator_.get())});
  struct utsname u {};
  ASSERT_EQ(::uname(&u), 0);
  std::string product;
  std::getline(std::ifstream("/sys/class/dmi/id/product_name"), product);
  const std::string expected = product.empty() ? std::string("Linux (") + u.machine + ")"
                                               : product + " (" + u.machine + ")";

  EXPECT_TRUE(checkIn().success);
  ASSERT_EQ(server_->service("check_in").size(), 1u);
  const json body = *server_->service("check_in")[0].json;
  ASSERT_FALSE(body["payload"].empty());
  EXPECT_EQ(body["payload"][0]["deviceSubType"], expected);
  EXPECT_EQ(lowerCased(body.dump()).find("simulator"), std::string::npos);
}

TEST_F(AgentTest, APausedAgentRefusesCheckIns) {
  agent_->pause();
  auto r = checkIn();
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->code, -1004);
  agent_->resume();
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 1));
}

TEST_F(AgentTest, AServerWhoseCertificateIsNotFromTheTrustedAuthorityIsRefused) {
  mdm::CertificateFiles other;
  ASSERT_TRUE(mdm::makeCertificates(testHome() / "other", "other", &other));
  VexaNetworkAction::setServer(server_->origin(), other.caCert.string());
  auto r = checkIn();
  EXPECT_FALSE(r.success);
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->domain, "NSURLErrorDomain");
  EXPECT_EQ(server_->count(), 0u);
  ASSERT_TRUE(runMainUntil([&] { return recorder_->saw("Unable to check in"); }));
}

}  // namespace
}  // namespace kestra::agenttest

namespace kestra::agenttest {
namespace {

TEST_F(AgentTest, WithLocationOnTheCheckInWaitsFiveSecondsForAFix) {
  agent_->setLocationEnabled(true);
  agent_->setAllowCheckIn(true);
  Outcome outcome;
  agent_->checkInWithCompletionBlock(outcome.completion());
  ASSERT_TRUE(runMainUntil([&] { return provider_->pendingRequests() == 1; }));
  LocationFix fix;
  fix.latitude = 40.4168;
  fix.longitude = -3.7038;
  provider_->deliver(fix);
  ASSERT_TRUE(runMainUntil([&] { return server_->service("device_gps").size() == 1; }));
  EXPECT_EQ(server_->service("check_in").size(), 0u);
  ASSERT_TRUE(advanceUntil([&] { return recorder_->saw("Reading configuration"); }, std::chrono::seconds(5)));
  ASSERT_TRUE(runMainUntil([&] { return outcome.done.load(); }));
  EXPECT_TRUE(outcome.result.success);
  EXPECT_EQ(server_->service("check_in").size(), 1u);
}

}  // namespace
}  // namespace kestra::agenttest
