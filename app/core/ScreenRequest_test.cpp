// The screens' request helper against the back-office test server on loopback.
#include "app/core/ScreenRequest.h"

#include <gtest/gtest.h>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "testing/app/AppTestSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Values.h"
#include "testing/backoffice/BackOfficeServer.h"

namespace orvo {
namespace {

class Screen : public ui::ViewController {
 public:
  Screen() : ui::ViewController("ProbeScreen") {}
  std::vector<RequestAnswer> answers;
  std::vector<ServiceFailure> failures;
  bool answerOnMainThread = true;
};

class ScreenRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    app.fresh.defaults().setString(defaults::serverIP, "127.0.0.1");
    app.fresh.defaults().setString(defaults::serverPort, std::to_string(server.port()));
    app.launch();
    screen = std::make_shared<Screen>();
    app.delegate->navigationController->pushViewController(screen, false);
  }
  void TearDown() override { server.stop(); }

  // Sends `op` with the default failure handling, recording the answers.
  void send(const std::string& op, std::function<void(const RequestAnswer&)> extra = nullptr) {
    ScreenRequest r;
    r.operation = op;
    r.requestMethod = "-[ProbeScreen request]";
    r.answerMethod = "-[ProbeScreen requestResponseData:]";
    auto* s = screen.get();
    sendScreenRequest(*screen, std::move(r), [s, extra](const RequestAnswer& a) {
      s->answerOnMainThread = s->answerOnMainThread && foundation::MainQueue::isMainThread();
      s->answers.push_back(a);
      if (extra) extra(a);
    });
  }
  bool viewerGone() {
    return app.runUntil([&] { return !app.delegate->isActivityViewerShown(); }) && (app.drain(), true);
  }

  foundation::ScopedManualClock clock;
  backoffice::BackOfficeServer server;
  test_support::AppHarness app;
  std::shared_ptr<Screen> screen;
};

TEST_F(ScreenRequestTest, AnswerIsReadAsJsonAndTheViewerGoes) {
  send("GetWarehouse");
  EXPECT_TRUE(app.delegate->isActivityViewerShown());
  ASSERT_TRUE(viewerGone());
  ASSERT_EQ(screen->answers.size(), 1u);
  ASSERT_TRUE(screen->answers[0].object);
  EXPECT_TRUE(screen->answers[0].object->is_array());
  EXPECT_TRUE(app.alerts().empty());
  EXPECT_FALSE(ui::Application::shared().isNetworkActivityIndicatorVisible());
}

TEST_F(ScreenRequestTest, AnHttpErrorIsTheFailureAloneNeverAnAnswer) {
  server.setFault("GetWarehouse", backoffice::Fault::serverError());
  send("GetWarehouse");
  ASSERT_TRUE(viewerGone());
  // Let anything that might still come (a second outcome) arrive.
  ASSERT_TRUE(app.runUntil([&] { return !app.alerts().empty(); }));
  app.drain();
  EXPECT_TRUE(screen->answers.empty());
  auto alerts = app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].message, "Webservice Server Error : 500\n Please check your server.");
}

TEST_F(ScreenRequestTest, ExceptionsOfTheAnswerMethodAndOfSendingAreReported) {
  // A missing result text is an exception only where the screen asks for the object.
  server.setFault("GetWarehouse", backoffice::Fault::result(""));
  send("GetWarehouse", [](const RequestAnswer& a) { a.requireObject(); });
  ASSERT_TRUE(viewerGone());
  auto alerts = app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Error");
  EXPECT_EQ(alerts[0].message, AlertClass::exceptionMessage("-[ProbeScreen requestResponseData:]",
                                                            "NSInvalidArgumentException",
                                                            "data parameter is nil"));
  app.dismissAlerts();

  ScreenRequest r;
  r.operation = "GetWarehouse";
  r.requestMethod = "-[ProbeScreen request]";
  r.prepare = [](ScreenRequest&) { throw AppException("NSRangeException", "no such row"); };
  EXPECT_EQ(sendScreenRequest(*screen, std::move(r), nullptr), nullptr);
  app.drain();
  EXPECT_FALSE(app.delegate->isActivityViewerShown());
  alerts = app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].message, AlertClass::exceptionMessage("-[ProbeScreen request]", "NSRangeException",
                                                            "no such row"));
  EXPECT_EQ(server.requests().size(), 1u);  // only the first request went out
}

TEST_F(ScreenRequestTest, ALargeAnswerIsReadOffTheMainThreadAndArrivesWhole) {
  nlohmann::json rows = nlohmann::json::array();
  for (size_t i = 0; i < 2 * kOffMainThreadAnswerSize / 50; ++i)
    rows.push_back({{"Code", std::string(1, 'W').append(std::to_string(i))},
                    {"Name", "Warehouse & <yard>"},
                    {"Response", "True"}});
  server.setFault("GetWarehouse", backoffice::Fault::result(rows.dump()));
  send("GetWarehouse");
  ASSERT_TRUE(viewerGone());
  ASSERT_EQ(screen->answers.size(), 1u);
  EXPECT_TRUE(screen->answerOnMainThread);
  ASSERT_TRUE(screen->answers[0].object);
  EXPECT_EQ(*screen->answers[0].object, rows);
}

TEST_F(ScreenRequestTest, AScreenThatIsGoneHearsNothingAndTheViewerStillGoes) {
  server.setFault("GetWarehouse", backoffice::Fault::held());
  send("GetWarehouse");
  ASSERT_TRUE(app.runUntil([&] { return server.heldCount() == 1; }));
  app.delegate->navigationController->popViewControllerAnimated(false);
  std::weak_ptr<Screen> gone = screen;
  screen.reset();
  ASSERT_TRUE(gone.expired());
  server.releaseHeld();
  ASSERT_TRUE(viewerGone());
  EXPECT_TRUE(app.alerts().empty());
}

}  // namespace
}  // namespace orvo
