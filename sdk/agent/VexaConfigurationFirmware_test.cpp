// The firmware job end to end: the image comes from the management server (its firmware
// endpoint, or a file address) and is flashed through the facade into a simulated charging
// case, behind the blocking view and with the agent paused until the result is recorded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Bytes.h"
#include "sdk/agent/AgentCaseTestSupport.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/device/ChargingCaseFrames.h"
#include "testing/net/HttpTestServers.h"
#include "testing/services/ServiceProcess.h"

namespace kestra::agenttest {
namespace {

class RecordingView final : public VexaFirmwareProgressView {
 public:
  // The host's view does not own the agent.
  explicit RecordingView(std::weak_ptr<OKTVexa> agent) : agent_(std::move(agent)) {}
  void showBlockView(const std::string& warning) override {
    std::lock_guard lock(mutex_);
    lines_.push_back("show:" + warning);
    const auto agent = agent_.lock();
    pausedWhileShown_ = agent && agent->isPause();
  }
  void setProgress(const std::optional<std::string>& text, float fraction) override {
    std::lock_guard lock(mutex_);
    if (text && !text->empty()) lines_.push_back(*text);
    lastFraction_ = fraction;
  }
  void removeBlockView() override {
    std::lock_guard lock(mutex_);
    lines_.push_back("remove");
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool pausedWhileShown() const {
    std::lock_guard lock(mutex_);
    return pausedWhileShown_;
  }

 private:
  std::weak_ptr<OKTVexa> agent_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  bool pausedWhileShown_ = false;
  float lastFraction_ = 0;
};

// An image the simulated case accepts (its name where the case looks for it).
std::string caseImage(size_t size) {
  std::string image(size, '\0');
  for (size_t i = 0; i < size; ++i) image[i] = char(uint8_t(i * 7));
  const Bytes packed = chargingcase::packCaseName("Toravel");
  std::copy(packed.begin(), packed.end(), image.begin() + 12);
  return image;
}

class FirmwareJobs : public AgentCaseTest {
 protected:
  void SetUp() override {
    AgentCaseTest::SetUp();
    runner_ = std::make_unique<VexaConfiguration>(agent_, [this] { return facade_.get(); });
    runner_->setDelegate(reports_);
    view_ = std::make_shared<RecordingView>(agent_);
    runner_->setProgressView(view_);
  }
  void TearDown() override {
    // Every batch ends with a check-in; let them finish before the stores go away.
    advanceUntil([&] { return !agent_->isCheckingIn() && VexaNetworkAction::postsInFlight() == 0; },
                 std::chrono::seconds(1));
    runner_.reset();
    settlePosts();
    AgentCaseTest::TearDown();
  }
  // The one config of the next report.
  nlohmann::json runJob(const std::string& key, const std::string& value) {
    const size_t before = reports_->all().size();
    runner_->addConfigJobs(nlohmann::json::array({{{"key", key}, {"value", value}}}));
    EXPECT_TRUE(advanceUntil([&] { return reports_->all().size() > before; }, std::chrono::seconds(1)));
    // The view goes away right after the result is recorded.
    EXPECT_TRUE(runMainUntil([&] {
      const auto l = view_->lines();
      return std::count(l.begin(), l.end(), "remove") >= 1;
    }));
    const auto all = reports_->all();
    if (all.size() <= before) return {};
    const auto& batch = all.back().begin().value();
    EXPECT_EQ(batch["configs"].size(), 1u);
    return batch["configs"][0];
  }

  std::shared_ptr<RecordedReports> reports_ = std::make_shared<RecordedReports>();
  std::shared_ptr<RecordingView> view_;
  std::unique_ptr<VexaConfiguration> runner_;
};

TEST_F(FirmwareJobs, AVersionIsAskedOfTheServerAndFlashedIntoTheCase) {
  attachCase();
  // Read now: the case restarts after the update and has no serial until it is back.
  const std::string serial = case_->getAccessorySerialNumber();
  ASSERT_FALSE(serial.empty());
  foundation::UserDefaults::standard().setString("companyCode", "ACME");
  const std::string image = caseImage(1001);
  server_->script(mdm::kFirmwarePath, {200, image, "application/octet-stream"});
  const auto config = runJob("toravel_firmware", "2.0.1");
  EXPECT_EQ(config, nlohmann::json({{"key", "toravel_firmware"},
                                    {"value", "Firmware version 2.0.1 successfully applied."},
                                    {"success", "true"}}));
  EXPECT_EQ(sim_->storedImage(), Bytes(image.begin(), image.end()));

  const auto asked = server_->requests(mdm::kFirmwarePath);
  ASSERT_EQ(asked.size(), 1u);
  ASSERT_TRUE(asked[0].json);
  EXPECT_EQ(asked[0].json->at("field"), "toravel_firmware");
  EXPECT_EQ(asked[0].json->at("version"), "2.0.1");
  EXPECT_EQ(asked[0].json->at("companyCode"), "ACME");
  EXPECT_EQ(asked[0].json->at("serial"), serial);

  const auto lines = view_->lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "show:Updating Firmware");
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const auto& l) { return l.starts_with("Writing data\n"); }));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Update completed\n100%"), lines.end());
  EXPECT_EQ(lines.back(), "remove");
  EXPECT_TRUE(view_->pausedWhileShown());
  EXPECT_FALSE(agent_->isPause());
}

TEST_F(FirmwareJobs, AnImageAtAnAddressIsDownloadedAndFlashed) {
  attachCase();
  const std::string image = caseImage(1500);
  server_->script("/files/case.bin", {200, image, "application/octet-stream"});
  const auto config = runJob("toravel_firmware", server_->origin() + "/files/case.bin");
  EXPECT_EQ(config["value"], "Firmware successfully applied.");
  EXPECT_EQ(config["success"], "true");
  EXPECT_EQ(sim_->storedImage(), Bytes(image.begin(), image.end()));
  EXPECT_EQ(server_->count(mdm::kFirmwarePath), 0u);
  EXPECT_FALSE(agent_->isPause());
}

// Every road that fails records its message, takes the view away and resumes the agent.
TEST_F(FirmwareJobs, FailuresAreRecordedWithTheirMessagesAndTheAgentGoesOn) {
  attachCase();
  struct Case {
    std::string value;
    std::string path;  // scripted path, "" for none
    mdm::Answer answer;
    std::string message;
  };
  const std::string files = server_->origin() + "/files/";
  const Case cases[] = {
      {files + "gone.bin", "/files/gone.bin", {404, "", "text/plain"},
       "Failed to apply firmware. Error: Failed to fetch firmware data. Status code: 404"},
      {files + "small.bin", "/files/small.bin", {200, caseImage(1000), "application/octet-stream"},
       "Failed to apply firmware. Error: Invalid firmware data!"},
      {"1.2.3", mdm::kFirmwarePath, {200, "", "application/octet-stream"}, "No firmware found!"},
      {"1.2.3", mdm::kFirmwarePath, {500, "{}"}, "Failed to fetch firmware data. Status code: 500"},
      {"1.2.4", mdm::kFirmwarePath, {200, std::string(2000, 'x'), "application/octet-stream"},
       "Failed to apply firmware version 1.2.4. Error: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    server_->script(c.path, c.answer);
    const auto config = runJob("toravel_firmware", c.value);
    const std::string value = config.value("value", "");
    EXPECT_EQ(value.substr(0, c.message.size()), c.message);
    EXPECT_EQ(config.value("success", ""), "false");
    EXPECT_FALSE(agent_->isPause());
  }
  EXPECT_TRUE(sim_->storedImage().empty());
}

// An image is taken only over https (or from an ftp:// address), and only when it is what the
// address says: the digest after "#sha256=" and the length the answer declared.
TEST_F(FirmwareJobs, AnImageIsCheckedBeforeAnythingIsFlashed) {
  attachCase();
  net::testing::RawHttpServer clear("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  const std::string image = caseImage(1500);
  const auto digest = crypto::sha256(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  const std::string sha = foundation::toHex(digest.data(), digest.size());
  std::string otherSha = sha;
  otherSha[0] = otherSha[0] == '0' ? '1' : '0';
  const std::string files = server_->origin() + "/files/";
  struct Case {
    std::string value;
    std::string message;
  };
  const Case cases[] = {
      {clear.url("/files/case.bin"), std::string("Failed to apply firmware. Error: ") + kVexaInsecureServerRefused},
      {files + "case.bin#sha256=" + otherSha, "Failed to apply firmware. Error: Firmware checksum does not match!"},
      {files + "case.bin#sha256=xyz", "Failed to apply firmware. Error: Invalid firmware checksum!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    server_->script("/files/case.bin", {200, image, "application/octet-stream"});
    const auto config = runJob("toravel_firmware", c.value);
    EXPECT_EQ(config.value("value", ""), c.message);
    EXPECT_EQ(config.value("success", ""), "false");
    EXPECT_FALSE(agent_->isPause());
  }
  EXPECT_EQ(clear.connections(), 0);
  EXPECT_TRUE(sim_->storedImage().empty());

  // The right digest (in either case) lets it through.
  std::string upper = sha;
  for (auto& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
  server_->script("/files/case.bin", {200, image, "application/octet-stream"});
  const auto config = runJob("toravel_firmware", files + "case.bin#sha256=" + upper);
  EXPECT_EQ(config.value("value", ""), "Firmware successfully applied.");
  EXPECT_EQ(sim_->storedImage(), Bytes(image.begin(), image.end()));
}

// An FTP server (pyftpdlib) on loopback, serving one read-only folder to anonymous users.
constexpr const char* kFtpServer = R"PY(
import signal, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[2])
handler = FTPHandler
handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", int(sys.argv[1])), handler)
signal.signal(signal.SIGTERM, lambda *a: server.close_all())
server.serve_forever()
)PY";

TEST_F(FirmwareJobs, AnImageAtAnFtpAddressIsDownloadedCheckedAndFlashed) {
  services::TempFolder folder("ftp-test");
  const fs::path files = folder.path() / "files";
  fs::create_directories(files);
  services::writeFile(folder.path() / "server.py", kFtpServer);
  const std::string image = caseImage(1200);
  services::writeFile(files / "case.bin", image);
  const int port = services::freeLoopbackPort();
  services::ServiceProcess ftp;
  if (!ftp.start({"/usr/bin/python3", (folder.path() / "server.py").string(), std::to_string(port), files.string()},
                 folder.path() / "server.log", port))
    GTEST_SKIP() << "no FTP server (python3-pyftpdlib): " << ftp.error();
  attachCase();
  const std::string address = "ftp://127.0.0.1:" + std::to_string(port) + "/case.bin";

  const auto refused = runJob("toravel_firmware", address + "#sha256=" + std::string(64, '0'));
  EXPECT_EQ(refused.value("value", ""), "Failed to apply firmware. Error: Firmware checksum does not match!");
  EXPECT_TRUE(sim_->storedImage().empty());

  const auto config = runJob("toravel_firmware", address);
  EXPECT_EQ(config.value("value", ""), "Firmware successfully applied.");
  EXPECT_EQ(config.value("success", ""), "true");
  EXPECT_EQ(sim_->storedImage(), Bytes(image.begin(), image.end()));
  ftp.stop();
}

TEST_F(FirmwareJobs, AnUnreachableServerGivesTheFetchMessage) {
  attachCase();
  server_->script(mdm::kFirmwarePath, {200, "", "application/json", {}, true});
  const auto config = runJob("toravel_firmware", "3.0.0");
  EXPECT_EQ(config.value("value", "").rfind("Failed to fetch firmware version 3.0.0. Error: ", 0), 0u) << config;
  EXPECT_FALSE(agent_->isPause());
}

TEST_F(FirmwareJobs, ARunnerGoneMidFetchLeavesTheAgentRunning) {
  attachCase();
  mdm::Answer late{200, caseImage(1001), "application/octet-stream"};
  late.delay = std::chrono::milliseconds(300);
  server_->script(mdm::kFirmwarePath, late);
  runner_->addConfigJobs(R"([{"key": "toravel_firmware", "value": "4.0.0"}])"_json);
  ASSERT_TRUE(runMainUntil([&] { return agent_->isPause() && server_->count(mdm::kFirmwarePath) == 1; }));
  runner_.reset();
  EXPECT_FALSE(agent_->isPause());
  // The answer finds no runner: nothing is flashed and no report is made.
  ASSERT_TRUE(settlePosts());
  EXPECT_TRUE(sim_->storedImage().empty());
  EXPECT_TRUE(reports_->all().empty());
}

TEST(FirmwareProgress, PhasesHaveTheirTextsAndOthersNone) {
  EXPECT_EQ(VexaConfiguration::firmwareProgressText(0, 0), "Initializing firmware update\n0%");
  EXPECT_EQ(VexaConfiguration::firmwareProgressText(1, 5), "Erasing flash memory\n5%");
  EXPECT_EQ(VexaConfiguration::firmwareProgressText(2, 42), "Writing data\n42%");
  EXPECT_EQ(VexaConfiguration::firmwareProgressText(3, 100), "Update completed\n100%");
  EXPECT_EQ(VexaConfiguration::firmwareProgressText(4, 10), std::nullopt);
}

}  // namespace
}  // namespace kestra::agenttest
