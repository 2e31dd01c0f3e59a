// The agent's other messages: device tag, location, receipt and plug-in headers; its
// registrations and delegates.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaTransactionReceipt.h"

namespace kestra::agenttest {
namespace {

using nlohmann::json;

TEST_F(AgentTest, ATagTheServerAcceptsStartsAForcedCheckIn) {
  server_->script(mdm::kCheckInPath, {200, R"({"message":"Success"})"});
  agent_->setDeviceTag("Warehouse 3");
  ASSERT_TRUE(runMainUntil([&] { return recorder_->tags().size() == 1; }));
  EXPECT_TRUE(recorder_->tags()[0].first);
  const json tag = *server_->service("set_tags").at(0).json;
  EXPECT_EQ(tag["payload"]["serial"], VexaIdentifier::getUUID());
  EXPECT_EQ(tag["payload"]["tags"]["deviceOwner"], "Warehouse 3");
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 2));
  EXPECT_EQ(server_->service("check_in").size(), 1u);
  ASSERT_TRUE(runMainUntil([&] { return recorder_->saw("Check-in complete"); }));

  server_->script(mdm::kCheckInPath, {200, R"({"message":"Unknown owner"})"});
  agent_->setDeviceTag("Nobody");
  ASSERT_TRUE(runMainUntil([&] { return recorder_->tags().size() == 2; }));
  EXPECT_FALSE(recorder_->tags()[1].first);
  ASSERT_TRUE(recorder_->tags()[1].second.has_value());
  EXPECT_EQ(recorder_->tags()[1].second->domain, "com.okt.OKTVexa");
  EXPECT_EQ(recorder_->tags()[1].second->code, 8);
  EXPECT_EQ(recorder_->tags()[1].second->text, "Unknown owner");
}

TEST_F(AgentTest, ALocationIsUploadedOncePerIntervalAndAFailedUploadDoesNotCount) {
  devices_->devices = {{"PellanPro", "P-1", 0}, {"VKP80", "V-2", 1}};
  LocationFix fix;
  fix.latitude = 51.5;
  fix.longitude = -0.125;
  server_->script(mdm::kCheckInPath, {500, "{}"});
  agent_->didUpdateLocation(fix);
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 1));
  const json gps = *server_->service("device_gps").at(0).json;
  EXPECT_TRUE(gps["companyCode"].is_null());
  EXPECT_EQ(gps["payload"]["lat"], "51.500000");
  EXPECT_EQ(gps["payload"]["long"], "-0.125000");
  EXPECT_EQ(gps["payload"]["serials"], VexaIdentifier::getUUID() + ",P-1,V-2");
  ASSERT_TRUE(settlePosts());
  EXPECT_FALSE(UICKeyChainStore::sharedStore().contains(std::string("OKTVEXA_LAST_LOCATION_UPLOAD")));

  // The failed upload left no time behind: the next fix goes out, and then the interval holds.
  agent_->didUpdateLocation(fix);
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 2));
  ASSERT_TRUE(runMainUntil([&] {
    return UICKeyChainStore::sharedStore().contains(std::string("OKTVEXA_LAST_LOCATION_UPLOAD"));
  }));
  EXPECT_FALSE(agent_->shouldUploadLocation());
  agent_->setAllowLocationUpload(true);
  EXPECT_TRUE(agent_->shouldUploadLocation());
}

TEST_F(AgentTest, AReceiptGoesWithTheLastKnownLocation) {
  VexaTransactionReceipt receipt;
  receipt.merchantName = "Orvo Showroom";
  receipt.primaryAccountNumber = "************1111";
  receipt.cardBrand = std::nullopt;
  agent_->uploadTransactionReceipt(receipt);
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 1));
  const json body = *server_->service("upload_receipt").at(0).json;
  EXPECT_EQ(body["payload"]["serial"], VexaIdentifier::getUUID());
  EXPECT_EQ(body["payload"]["location"]["lat"], "0.000000");
  EXPECT_EQ(body["payload"]["receipt"].size(), 14u);
  EXPECT_EQ(body["payload"]["receipt"]["merchantName"], "Orvo Showroom");
  EXPECT_EQ(body["payload"]["receipt"]["cardBrand"], "");
  EXPECT_EQ(body["payload"]["receipt"]["aidName"], "");
}

TEST_F(AgentTest, APluginHeaderIsSentForANewVersionAndRecordedOnlyOnceTaken) {
  auto header = [](const char* version) {
    return json{{"serviceType", "device_plugin"},
                {"payload", {{"type", "device_plugin"}, {"version", version}, {"plugin", "pellanPro"}, {"fields", json::array()}}}};
  };
  auto& d = foundation::UserDefaults::standard();
  server_->script(mdm::kCheckInPath, {500, "{}"});
  agent_->sendPluginHeaders(header("1.9"));
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 1));
  ASSERT_TRUE(settlePosts());
  EXPECT_TRUE(d.objectForKey("pellanPro_version").is_null());

  agent_->sendPluginHeaders(header("1.9"));
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 2));
  ASSERT_TRUE(runMainUntil([&] { return d.stringForKey("pellanPro_version") == "1.9"; }));
  EXPECT_TRUE(d.boolForKey("OKTVEXA_PLUGIN_UPLOAD_FLAG"));
  EXPECT_TRUE(server_->service("device_plugin").at(1).json->at("payload").at("companyCode").is_null());

  agent_->sendPluginHeaders(header("1.9"));
  agent_->sendPluginHeaders(header("1.10"));
  ASSERT_TRUE(runMainUntil([&] { return d.stringForKey("pellanPro_version") == "1.10"; }));
  EXPECT_EQ(server_->service("device_plugin").size(), 3u);
  EXPECT_EQ(server_->service("device_plugin").back().json->at("payload").at("version"), "1.10");
}

TEST(VexaVersions, DottedVersionsCompareByPart) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {{"2.0", "1.9", 1}, {"1.10", "1.9", 1}, {"2.0", "1.10", 1}, {"1.9", "1.9", 0},
                        {"1.0", "1", 0},   {"", "0", 0},       {"1.0.1", "1.0.19", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const int r = compareVersions(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
}

class FakeExtension final : public VexaExtensionPlugin {
 public:
  FakeExtension(std::string name, std::string plugin) : name_(std::move(name)), plugin_(std::move(plugin)) {}
  std::string name() const override { return name_; }
  std::string pluginName() const override { return plugin_; }
  std::string pluginVersion() const override { return "1.0.1"; }
  json getExtensionDetails() override { return {{plugin_ + "_field", "value"}}; }

 private:
  std::string name_, plugin_;
};

class FakeCustomDevice final : public VexaCustomDevicePlugin {
 public:
  explicit FakeCustomDevice(std::string serial) : serial_(std::move(serial)) {}
  std::string deviceName() const override { return "Scale"; }
  std::string deviceModel() const override { return "S-1"; }
  std::string deviceSerial() const override { return serial_; }
  std::string deviceManufacturer() const override { return "Weighing Co"; }
  std::string deviceType() const override { return "scale"; }
  std::string pluginName() const override { return "scalePlugin"; }
  std::string pluginVersion() const override { return "2.1"; }
  json getCustomDeviceDetails() override { return {{"scale_capacity", "30kg"}}; }

 private:
  std::string serial_;
};

TEST_F(AgentTest, ExtensionsAndCustomDevicesAreKeptOnceAndReported) {
  agent_->addExtension(std::make_shared<FakeExtension>("Loyalty", "loyalty"));
  agent_->addExtension(std::make_shared<FakeExtension>("Loyalty", "loyalty"));
  agent_->addCustomDevice(std::make_shared<FakeCustomDevice>("S-100"));
  agent_->addCustomDevice(std::make_shared<FakeCustomDevice>("S-100"));
  agent_->addCustomDevice(std::make_shared<FakeCustomDevice>("S-101"));
  EXPECT_EQ(agent_->getExtensions().size(), 1u);
  EXPECT_EQ(agent_->customDevices().size(), 2u);

  ASSERT_TRUE(checkIn().success);
  const json body = *server_->service("check_in").at(0).json;
  ASSERT_EQ(body["payload"].size(), 3u);
  for (const auto& e : body["payload"]) {
    if (e["serial"] == VexaIdentifier::getUUID()) {
      EXPECT_EQ(e["details"]["loyalty_field"], "value");
      EXPECT_EQ(e["plugins"].back()["type"], "extension_plugin");
    } else {
      EXPECT_EQ(e["manufacturer"], "Weighing Co");
      EXPECT_EQ(e["deviceType"], "Scale");
      EXPECT_EQ(e["deviceSubType"], "scale");
      EXPECT_EQ(e["plugins"][0]["plugin"], "scalePlugin");
    }
  }
  agent_->removeCustomDevice(FakeCustomDevice("S-100"));
  agent_->removeExtension(FakeExtension("Loyalty", "loyalty"));
  EXPECT_EQ(agent_->customDevices().size(), 1u);
  EXPECT_TRUE(agent_->getExtensions().empty());
}

TEST_F(AgentTest, AConnectionCollectsTheDevicesFourSecondsLater) {
  devices_->state = 2;
  devices_->devices = {{"PellanPro", "P-1", 0}};
  agent_->connectionState(1);
  agent_->connectionState(2);
  drainMain();
  EXPECT_TRUE(foundation::UserDefaults::standard().objectForKey("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD").is_null());
  clock_->advance(std::chrono::milliseconds(4000));
  ASSERT_TRUE(runMainUntil([&] {
    return !foundation::UserDefaults::standard().objectForKey("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD").is_null();
  }));
  ASSERT_TRUE(runMainUntil([&] { return recorder_->infoCount() == 1; }));
  const auto cached = foundation::parseJson(*foundation::UserDefaults::standard().stringForKey("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD"));
  ASSERT_TRUE(cached.has_value());
  EXPECT_EQ((*cached)["payload"].size(), 2u);
}

// The device queries of a collection take their time off the main thread: the main queue
// goes on meanwhile.
TEST_F(AgentTest, CollectingTheDevicesNeverHoldsTheMainQueue) {
  devices_->state = 2;
  devices_->devices = {{"PellanPro", "P-1", 0}};
  std::mutex mutex;
  std::condition_variable cv;
  bool mainRan = false, queried = false, answeredAfterMain = false;
  std::unique_lock setUp(devices_->mutex);
  devices_->whileQuerying = [&] {
    std::unique_lock lock(mutex);
    queried = true;
    cv.notify_all();
    // A slow device: answers once the main queue has run something meanwhile (or gives up).
    answeredAfterMain = cv.wait_for(lock, std::chrono::seconds(10), [&] { return mainRan; });
  };
  setUp.unlock();
  foundation::NotificationCenter::defaultCenter().post(kOKT_DEVICE_CONNECTED_NOTIFICATION);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return queried; }));
  }
  foundation::MainQueue::post([&] {
    std::lock_guard lock(mutex);
    mainRan = true;
    cv.notify_all();
  });
  ASSERT_TRUE(runMainUntil([&] {
    return !foundation::UserDefaults::standard().objectForKey("OKTVEXA_DEVICES_CHECK_IN_PAYLOAD").is_null();
  }));
  {
    std::lock_guard lock(devices_->mutex);
    devices_->whileQuerying = nullptr;
  }
  std::lock_guard lock(mutex);
  EXPECT_TRUE(answeredAfterMain);
}

TEST_F(AgentTest, BecomingActiveChecksInFiveSecondsLaterAndRecordsTheState) {
  foundation::NotificationCenter::defaultCenter().post(kApplicationDidBecomeActiveNotification);
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("OKTVEXA_APPLICATION_STATE")), "Active");
  EXPECT_EQ(foundation::UserDefaults::standard().stringForKey("OKTVEXA_APPLICATION_STATE"), "Active");
  drainMain();
  EXPECT_EQ(server_->count(), 0u);
  clock_->advance(std::chrono::seconds(5));
  ASSERT_TRUE(runMainUntil([&] { return server_->service("check_in").size() == 1; }))
      << server_->service("check_in").size() << ::testing::PrintToString(recorder_->statuses());
  foundation::NotificationCenter::defaultCenter().post(kVexaApplicationDidEnterBackgroundNotification);
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("OKTVEXA_APPLICATION_STATE")), "Background");
}

}  // namespace
}  // namespace kestra::agenttest

namespace kestra::agenttest {
namespace {

TEST_F(AgentTest, TheStoredCheckInAddressIsUsedWhenLongEnough) {
  auto& keychain = UICKeyChainStore::sharedStore();
  // 11 characters or more: the whole address of every default post.
  keychain.setString(server_->origin() + mdm::kMetricPath, std::string("checkInServer"));
  agent_->setDeviceTag("A");
  ASSERT_TRUE(server_->waitFor(mdm::kMetricPath, 1));
  EXPECT_EQ(server_->requests(mdm::kMetricPath)[0].json->at("serviceType"), "set_tags");
  ASSERT_TRUE(settlePosts());

  // Ten characters are ignored.
  keychain.setString(std::string("https://ab"), std::string("checkInServer"));
  VexaPostResult result;
  bool done = false;
  VexaNetworkAction::postJSON(nlohmann::json{{"serviceType", "probe"}}, std::nullopt, [&](const VexaPostResult& r) {
    result = r;
    done = true;
  });
  ASSERT_TRUE(runMainUntil([&] { return done; }));
  EXPECT_TRUE(result.success);
  EXPECT_EQ(server_->service("probe").size(), 1u);

  // A given address that is no URL goes to the default address, not the stored one.
  keychain.setString(server_->origin() + mdm::kMetricPath, std::string("checkInServer"));
  done = false;
  VexaNetworkAction::postJSON(nlohmann::json{{"serviceType", "probe"}}, std::string("not an address"),
                              [&](const VexaPostResult& r) {
                                result = r;
                                done = true;
                              });
  ASSERT_TRUE(runMainUntil([&] { return done; }));
  EXPECT_EQ(server_->service("probe").size(), 2u);

  // Nothing to send: -1003, and the caller still hears of it.
  done = false;
  VexaNetworkAction::postJSON(std::nullopt, std::nullopt, [&](const VexaPostResult& r) {
    result = r;
    done = true;
  });
  ASSERT_TRUE(runMainUntil([&] { return done; }));
  ASSERT_TRUE(result.error.has_value());
  EXPECT_EQ(result.error->code, -1003);
  EXPECT_EQ(result.error->text, "Data cannot be nil.");
}

}  // namespace
}  // namespace kestra::agenttest
