// The managed app configuration: read once per new dictionary, applied as jobs or answered
// with a check-in, and reported as the "mobileMDM" phone plug-in while a provider is known.
#include "sdk/agent/VexaMDMConfiguration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaIdentifier.h"

namespace kestra::agenttest {
namespace {

using nlohmann::json;

class ManagedConfiguration : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    mdm_ = std::make_unique<VexaMDMConfiguration>(agent_, [this](const json& jobs) { lists_.push_back(jobs); });
  }
  void TearDown() override {
    advanceUntil([&] { return !agent_->isCheckingIn() && VexaNetworkAction::postsInFlight() == 0; },
                 std::chrono::seconds(1));
    mdm_.reset();
    AgentTest::TearDown();
  }
  // As the host does when the provider's dictionary arrives.
  static void deliver(const json& managed) {
    foundation::UserDefaults::standard().setObject(kManagedConfigurationKey, managed);
    foundation::NotificationCenter::defaultCenter().post(kUserDefaultsDidChangeNotification);
  }

  std::vector<json> lists_;
  std::unique_ptr<VexaMDMConfiguration> mdm_;
};

const json kManaged = {{"mobileMDM_partner", "Provider"},
                       {"mobileMDM_deviceID", "D-77"},
                       {"mobileMDM_deviceUDID", "U-1"},
                       {"mobileMDM_deviceSerial", "SERIAL-123"},
                       {"mobileMDM_phoneNumber", "+1 555 0100"},
                       {"mobileApp_checkInInterval", 3600}};

TEST_F(ManagedConfiguration, ADictionaryIsTakenAndAppliedOnceWhileCheckInIsOff) {
  agent_->setCheckInEnabled(false);
  deliver(kManaged);
  deliver(kManaged);
  foundation::NotificationCenter::defaultCenter().post(kApplicationDidBecomeActiveNotification);
  ASSERT_EQ(lists_.size(), 1u);
  EXPECT_EQ(lists_[0].size(), kManaged.size());
  EXPECT_NE(std::find(lists_[0].begin(), lists_[0].end(), json({{"key", "mobileApp_checkInInterval"}, {"value", 3600}})),
            lists_[0].end());
  EXPECT_TRUE(mdm_->isMDM());
  EXPECT_EQ(mdm_->getMDMAppConfig(), kManaged);
  EXPECT_EQ(VexaIdentifier::getUUID(), "SERIAL-123");
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("phoneNumber")), "+1 555 0100");
  EXPECT_EQ(mdm_->getMobileMDMDetails(), json({{"mobileMDM_partner", "Provider"},
                                               {"mobileMDM_deviceID", "D-77"},
                                               {"mobileMDM_deviceSerial", "SERIAL-123"},
                                               {"mobileMDM_deviceUDID", "U-1"}}));
  // The check-in carries the provider's plug-in, its details and the dictionary.
  agent_->setPhonePlugins({std::shared_ptr<VexaPhonePlugin>(mdm_.get(), [](VexaPhonePlugin*) {})});
  const json entry = agent_->getCheckinPayloadForMobileDeviceJSON();
  EXPECT_EQ(entry["appConfig"], kManaged);
  EXPECT_EQ(entry["details"]["mobileMDM_partner"], "Provider");
  EXPECT_EQ(entry["plugins"], json::array({{{"plugin", "mobileMDM"}, {"version", "1.0.4"}, {"type", "device_plugin"}}}));
  agent_->setPhonePlugins({});
  // A changed dictionary is read again.
  json changed = kManaged;
  changed["mobileApp_checkInInterval"] = 7200;
  deliver(changed);
  EXPECT_EQ(lists_.size(), 2u);
}

TEST_F(ManagedConfiguration, TheLoggedPayloadLandsInADayFileOnlyItsUserCanRead) {
  agent_->setEnableLogging(true);
  agent_->setCheckInEnabled(false);
  deliver(kManaged);
  agent_->setEnableLogging(false);
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(VexaInternalLogger::docFolderPath(), ec), end; !ec && it != end; it.increment(ec))
    files.push_back(it->path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(foundation::readFile(files[0]).value_or("").find("+1 555 0100"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(files[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ManagedConfiguration, WithoutAProviderNothingIsAppliedButIdentifiersAreTaken) {
  const std::string before = VexaIdentifier::getUUID();
  json managed = kManaged;
  managed.erase("mobileMDM_partner");
  managed["mobileMDM_deviceSerial"] = 42;  // not text: ignored
  deliver(managed);
  EXPECT_TRUE(lists_.empty());
  EXPECT_FALSE(mdm_->isMDM());
  EXPECT_EQ(mdm_->mdmProviderName(), "");
  EXPECT_EQ(VexaIdentifier::getUUID(), before);
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("phoneNumber")), "+1 555 0100");
  // Not reported to the server either.
  agent_->setPhonePlugins({std::shared_ptr<VexaPhonePlugin>(mdm_.get(), [](VexaPhonePlugin*) {})});
  const json entry = agent_->getCheckinPayloadForMobileDeviceJSON();
  agent_->setPhonePlugins({});
  EXPECT_FALSE(entry["details"].contains("mobileMDM_partner"));
  EXPECT_FALSE(entry.contains("appConfig"));
  EXPECT_EQ(entry["plugins"], json::array());
}

TEST_F(ManagedConfiguration, WhileCheckInIsOnTheServerDecidesUnlessOverwriteIsSet) {
  agent_->setCheckInEnabled(true);
  agent_->setAllowCheckIn(true);
  deliver(kManaged);
  EXPECT_TRUE(lists_.empty());
  ASSERT_TRUE(advanceUntil([&] { return server_->count(mdm::kCheckInPath) >= 1; }, std::chrono::seconds(1)));

  json overwrite = kManaged;
  overwrite["mobileMDM_overwrite"] = true;
  deliver(overwrite);
  ASSERT_EQ(lists_.size(), 1u);
  EXPECT_EQ(lists_[0].size(), overwrite.size());
}

TEST_F(ManagedConfiguration, ThePlugInHeaderListsTheFourFields) {
  const json header = mdm_->getMobileMDMPluginData();
  EXPECT_EQ(header["serviceType"], "device_plugin");
  EXPECT_EQ(header["payload"]["plugin"], "mobileMDM");
  EXPECT_EQ(header["payload"]["version"], "1.0.4");
  EXPECT_EQ(header["payload"]["name"], "MDM");
  const json& fields = header["payload"]["fields"];
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0], json({{"field", "mobileMDM_partner"}, {"name", "MDM Partner"}, {"displayType", "string"},
                             {"order", "0"}}));
  EXPECT_EQ(fields[3]["field"], "mobileMDM_deviceUDID");
  EXPECT_EQ(fields[3]["order"], "3");
}

}  // namespace
}  // namespace kestra::agenttest
