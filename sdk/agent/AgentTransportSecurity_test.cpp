// Nothing the agent sends goes in clear or to a server it was not meant for: redirects to
// http, and redirects that would hand a body to another origin, are not followed; an http
// server address, from a job or from what is stored, is never used.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/net/HttpClient.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/agent/VexaTransactionReceipt.h"
#include "testing/net/HttpTestServers.h"

namespace kestra::agenttest {
namespace {

// A second management server on another origin ("localhost" and its own port) that the
// agent trusts as much as the first, and a plain http listener that must never hear a byte.
class TransportSecurity : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    other_ = std::make_unique<mdm::MdmServer>(testHome() / "certificates-other");
    ASSERT_TRUE(other_->ready());
    ASSERT_TRUE(other_->start());
    bundle_ = testHome() / "trusted-bundle.pem";
    {
      std::ofstream out(bundle_);
      for (const auto& ca : {server_->certificates().caCert, other_->certificates().caCert})
        out << std::ifstream(ca).rdbuf();
    }
    ASSERT_TRUE(VexaNetworkAction::setServer(server_->origin(), bundle_.string()));
  }
  void TearDown() override {
    other_->stop();
    AgentTest::TearDown();
    std::error_code ec;
    fs::remove(bundle_, ec);
  }
  std::string otherOrigin() const { return "https://localhost:" + std::to_string(other_->port()); }
  std::string clearAddress() const { return clear_.url(mdm::kCheckInPath); }

  std::unique_ptr<mdm::MdmServer> other_;
  net::testing::RawHttpServer clear_{"HTTP/1.1 200 OK\r\nContent-Length: 22\r\n\r\n{\"message\":\"Success\"}\n"};
  fs::path bundle_;
};

mdm::Answer redirect(int status, const std::string& location) {
  mdm::Answer a{status, "", "text/plain"};
  a.headers = {{"Location", location}};
  return a;
}

TEST_F(TransportSecurity, ACheckInIsNotFollowedToHttpNorWithItsBodyToAnotherOrigin) {
  struct Case {
    const char* name;
    int status;
    bool toClear;  // else to the other origin
    int code;
  };
  const Case cases[] = {
      {"307 to http", 307, true, net::kUrlErrorAppTransportSecurityRequiresSecureConnection},
      {"308 to http", 308, true, net::kUrlErrorAppTransportSecurityRequiresSecureConnection},
      {"307 to another host", 307, false, net::kUrlErrorBadServerResponse},
      {"308 to another host", 308, false, net::kUrlErrorBadServerResponse},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_->script(mdm::kCheckInPath,
                    redirect(c.status, c.toClear ? clearAddress() : otherOrigin() + mdm::kCheckInPath));
    const VexaPostResult result = checkIn();
    EXPECT_FALSE(result.success);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code, c.code);
    EXPECT_TRUE(runMainUntil([&] { return recorder_->saw("Unable to check in"); }));
    EXPECT_FALSE(agent_->isCheckingIn());
    ASSERT_TRUE(settlePosts());
  }
  EXPECT_EQ(clear_.connections(), 0);
  EXPECT_EQ(other_->count(), 0u);
  // The payload stays cached for the next check-in, which the server takes.
  const VexaPostResult accepted = checkIn();
  EXPECT_TRUE(accepted.success);
}

TEST_F(TransportSecurity, ARedirectOnTheSameOriginIsFollowedWithItsBody) {
  server_->script(mdm::kCheckInPath, redirect(307, server_->origin() + mdm::kCheckInPath + "?again=1"));
  const VexaPostResult result = checkIn();
  EXPECT_TRUE(result.success);
  const auto requests = server_->requests(mdm::kCheckInPath);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, requests[1].body);
}

TEST_F(TransportSecurity, AReceiptRedirectedToHttpIsNeverSentInClear) {
  server_->script(mdm::kCheckInPath, redirect(307, clearAddress()));
  VexaTransactionReceipt receipt;
  receipt.primaryAccountNumber = "4111111111111111";
  agent_->uploadTransactionReceipt(receipt);
  ASSERT_TRUE(server_->waitFor(mdm::kCheckInPath, 1));
  ASSERT_TRUE(settlePosts());
  EXPECT_EQ(clear_.connections(), 0);
}

TEST_F(TransportSecurity, AnHttpCheckInAddressFromAJobIsRefusedAndTheOldOneStays) {
  const std::string kept = server_->origin() + mdm::kCheckInPath;
  UICKeyChainStore::sharedStore().setString(kept, std::string("checkInServer"));
  auto reports = std::make_shared<RecordedReports>();
  auto runner = std::make_unique<VexaConfiguration>(agent_, [] { return nullptr; });
  runner->setDelegate(reports);
  runner->addConfigJobs(nlohmann::json::array({{{"key", "mobileApp_checkInServer"}, {"value", clearAddress()}}}));
  ASSERT_TRUE(advanceUntil([&] { return !reports->all().empty(); }, std::chrono::seconds(1)));
  const auto config = reports->all()[0].begin().value()["configs"][0];
  EXPECT_EQ(config["success"], "false");
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("checkInServer")), kept);
  EXPECT_TRUE(runMainUntil([&] { return recorder_->saw(kVexaInsecureServerRefused); }));
  // The check-in that ends the batch goes to the address in force.
  ASSERT_TRUE(advanceUntil([&] { return server_->count(mdm::kCheckInPath) >= 1 && !agent_->isCheckingIn(); },
                           std::chrono::seconds(1)));
  runner.reset();
  ASSERT_TRUE(settlePosts());
  EXPECT_EQ(clear_.connections(), 0);
}

TEST_F(TransportSecurity, AnHttpAddressFromAnyOtherSourceIsNotUsed) {
  // Stored before addresses were checked where they are set.
  UICKeyChainStore::sharedStore().setString(clearAddress(), std::string("checkInServer"));
  EXPECT_EQ(VexaNetworkAction::checkInAddress(), server_->origin() + mdm::kCheckInPath);
  EXPECT_TRUE(checkIn().success);
  EXPECT_EQ(server_->count(mdm::kCheckInPath), 1u);

  // An origin given in clear leaves the one in force.
  EXPECT_FALSE(VexaNetworkAction::setServer("http://127.0.0.1:" + std::to_string(clear_.port()), ""));
  EXPECT_EQ(VexaNetworkAction::origin(), server_->origin());

  // A caller's own http address: refused, nothing sent.
  std::atomic<bool> done{false};
  VexaPostResult refused;
  VexaNetworkAction::postJSON(nlohmann::json{{"serviceType", "set_tags"}}, clearAddress(), [&](const VexaPostResult& r) {
    refused = r;
    done = true;
  });
  ASSERT_TRUE(runMainUntil([&] { return done.load(); }));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, net::kUrlErrorAppTransportSecurityRequiresSecureConnection);
  EXPECT_EQ(clear_.connections(), 0);
}

}  // namespace
}  // namespace kestra::agenttest
