// A card swiped on the simulated sleeve travels through the device SDK, the application and
// the back office; afterwards none of its number, track, CVV or expiry is found in the
// configuration folder, the data folder, the accessory folder or any log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/core/KestraDevices.h"
#include "app/payments/AESExtention.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/app/PaymentTestSupport.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using test_support::PaymentHarness;

constexpr const char* kNumber = "378282246310005";
constexpr const char* kTrack1 = "%B378282246310005^CANARY/BIRD^2903101000000";
constexpr const char* kTrack2 = ";378282246310005=29031010000000?";
constexpr const char* kCvv = "7391";

// Every place `needle` occurs as a whole (no digit right before or after it).
bool holds(const std::string& text, const std::string& needle) {
  return std::regex_search(text, std::regex("(^|[^0-9])" + needle + "([^0-9]|$)"));
}

std::vector<std::string> filesHolding(const fs::path& root, const std::vector<std::string>& needles) {
  std::vector<std::string> found;
  std::error_code ec;
  if (!fs::exists(root, ec)) return found;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec || !it->is_regular_file(ec)) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    for (const auto& n : needles)
      if (holds(s.str(), n)) found.push_back(it->path().string() + " holds " + n);
  }
  return found;
}

TEST(CardCanary, SwipedCardLeavesNoTraceInFilesOrLogs) {
  devices::SleeveTestBench bench;
  auto api = kestra::KXDevices::create(kestra::makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto sdk = kestra::OKTKXDevices::create(api, std::make_shared<kestra::KXChargingCaseStandIn>(),
                                          std::make_shared<kestra::KXDeviceAgentStandIn>());
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  std::string serverLog;
  std::string out, err;
  {
    PaymentHarness t(false);
    ASSERT_TRUE(t.started);
    t.server.setLogSink([&](const std::string& line) { serverLog += line + "\n"; });
    OKTKXDevices::setShared(std::make_shared<KestraDevices>(sdk));
    ASSERT_TRUE(bench.sleeve->attach());
    t.launch();
    ASSERT_TRUE(t.app.runUntil([&] { return t.app.delegate->scanner().conn == CONN_CONNECTED; }));
    t.app.delegate->settings().ccCvvFlag = true;
    auto screen = t.openCardScreen();
    t.app.dismissAlerts();

    bench.sleeve->swipe(kTrack1, kTrack2);
    ASSERT_TRUE(t.app.runUntil([&] { return t.alertController() != nullptr; }));
    EXPECT_EQ(screen->lbl_cardNumber()->text(), "XXXX-XXXXXX-X0005");
    EXPECT_EQ(screen->lbl_cardholderName()->text(), "CANARY/BIRD");
    ASSERT_TRUE(t.h->type(t.alertController()->textFields()[0].get(), kCvv)) << t.h->dump();
    ASSERT_TRUE(t.h->pressAlertButton("OK"));
    ASSERT_TRUE(t.app.runUntil([&] { return t.pad() != nullptr && t.pad()->isViewLoaded(); }));
    ASSERT_TRUE(t.stroke(*t.pad(), {{60, 60}, {120, 90}, {180, 60}, {240, 100}}));
    ASSERT_TRUE(t.h->tap(t.pad()->nextButton())) << t.h->dump();
    ASSERT_TRUE(t.app.runUntil([&] { return t.calls("InsertCC") == 1 && !t.app.alerts().empty(); }));
    t.waitForRequests();
    t.h->pressAlertButton("OK");
    t.app.drain();
    EXPECT_TRUE(t.app.delegate->settings().authorizeSuccessFlag);
    t.app.delegate->AutoSaveFuncDataInit();

    // The server read the card the sleeve was swiped with.
    std::string number, track;
    t.server.withState([&](backoffice::State& s) {
      number = s.payments["cards"][0].value("Number", "");
      track = s.payments["cards"][0].value("Track1", "");
    });
    EXPECT_EQ(number, kNumber);
    EXPECT_EQ(track, kTrack1);
    EXPECT_EQ(screen->lastCardNumber(), "");

    const std::vector<std::string> needles = {kNumber, "CANARY", "2903", "03/2029", "0329", kCvv};
    for (const auto& root : {foundation::Paths::configDir(), foundation::Paths::dataDir(), bench.folder}) {
      auto found = filesHolding(root, needles);
      // The configuration folder holds only the cipher word, which is no card data.
      EXPECT_TRUE(found.empty()) << found.front();
    }
    for (const auto& line : t.server.serverLog())
      for (const auto& n : needles) EXPECT_FALSE(holds(line, n)) << line;
    t.app.dismissAlerts();
    bench.sleeve->detach();
    out = ::testing::internal::GetCapturedStdout();
    err = ::testing::internal::GetCapturedStderr();
    for (const auto& n : needles) {
      EXPECT_FALSE(holds(serverLog, n)) << "server log holds " << n;
      EXPECT_FALSE(holds(out, n)) << "output holds " << n;
      EXPECT_FALSE(holds(err, n)) << "error output holds " << n;
    }
  }
}

}  // namespace
}  // namespace orvo
