// Server requests over real HTTP on loopback against the back-office test server, read
// as the screens read them.
#include "app/core/Service.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/core/AlertClass.h"
#include "testing/app/AppTestSupport.h"
#include "app/core/JsonClass.h"
#include "app/core/SoapEnvelope.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/foundation/Values.h"
#include "testing/net/HttpTestServers.h"
#include "testing/backoffice/BackOfficeServer.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;

// A screen with one request pair, written the way the application's screens write theirs.
class ProbeScreen : public ui::ViewController {
 public:
  ProbeScreen() : ui::ViewController("ProbeScreen") {}

  void request(const std::string& op, const std::vector<SoapParam>& params) {
    auto* app = OrvoMobileAppDelegate::shared();
    try {
      app->networkActivityStarted();
      app->showActivityViewer(op);
      std::weak_ptr<ProbeScreen> weak = self<ProbeScreen>();
      auto service = Service::create(
          self<ProbeScreen>(),
          [weak, op](const ServiceAnswer& a) {
            if (auto s = weak.lock()) s->responseData(op, a.data);
          },
          [weak](const ServiceFailure& f) {
            if (auto s = weak.lock()) s->errorResponseData(f);
          });
      service->setIsJson(false);
      service->sendSoapRequestWithStringUrl(Util::getServerInfo(), soapEnvelope(op, params), op);
    } catch (const std::exception& e) {
      app->hideActivityViewer();
      AlertClass::exceptionAlert(self<ProbeScreen>(), "-[ProbeScreen request]", e);
    }
  }

  void responseData(const std::string& op, const std::string& data) {
    auto* app = OrvoMobileAppDelegate::shared();
    try {
      answer = JsonClass::getJSONobj(app->parseXmlData(data, op));
      if (answer && answer->is_object() && foundation::textForKey(*answer, "Response") != "True")
        AlertClass::displayAlert(self<ProbeScreen>(), 0, 1, "Orvo Mobile",
                                 foundation::textForKey(*answer, "Message"));
    } catch (const std::exception& e) {
      AlertClass::exceptionAlert(self<ProbeScreen>(), "-[ProbeScreen responseData:]", e);
    }
    app->hideActivityViewer();
    app->networkActivityStopped();
    ++finished;
  }

  void errorResponseData(const ServiceFailure& f) {
    failures.push_back(f);
    OrvoMobileAppDelegate::shared()->errorResponseData(f);
  }

  std::optional<nlohmann::json> answer;
  int finished = 0;
  std::vector<ServiceFailure> failures;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    app.fresh.defaults().setString(defaults::serverIP, "127.0.0.1");
    app.fresh.defaults().setString(defaults::serverPort, std::to_string(server.port()));
    app.launch();
    probe = std::make_shared<ProbeScreen>();
    app.delegate->navigationController->pushViewController(probe, false);
  }
  void TearDown() override {
    server.releaseHeld();
    server.stop();
  }
  // Waits until the request has ended one way or another.
  bool settle() {
    return app.runUntil([&] { return probe->finished > 0 || !probe->failures.empty(); }) &&
           (app.drain(), true);
  }
  std::vector<std::pair<std::string, std::string>> shown() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& a : app.alerts()) out.emplace_back(a.title, a.message);
    return out;
  }

  foundation::ScopedManualClock clock;
  backoffice::BackOfficeServer server;
  test_support::AppHarness app;
  std::shared_ptr<ProbeScreen> probe;
};

TEST_F(ServiceTest, RequestCarriesTheSoapHeadersAndEscapedValuesInOrder) {
  const std::vector<SoapParam> params = {
      {"userName", "picker"},  {"password", "p&<ck>"},         {"uuid", "U-1"},
      {"device_version", "x86_64 (iOS 9.3)"}, {"device_name", "Ann's pod"}, {"orvomobile_version", "1.0"},
      {"division", "01"},      {"clientIp", ""}};
  probe->request("AuthenticateUser", params);
  EXPECT_TRUE(app.delegate->isActivityViewerShown());
  ASSERT_TRUE(settle());

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.path, "/Webservice/OrvoMobileWebService.asmx");
  EXPECT_EQ(r.soapAction, "http://tempuri.org/AuthenticateUser");
  EXPECT_EQ(r.contentType, "text/xml; charset=utf-8");
  EXPECT_EQ(r.contentLength, std::to_string(r.body.size()));
  EXPECT_NE(r.body.find("<password>p&amp;&lt;ck&gt;</password>"), std::string::npos);
  ASSERT_EQ(r.params.size(), params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    EXPECT_EQ(r.params[i].first, params[i].name);
    EXPECT_EQ(r.params[i].second, params[i].value);
  }
  ASSERT_TRUE(probe->answer);
  EXPECT_EQ((*probe->answer)["Response"], "True");
  EXPECT_EQ((*probe->answer)["Id"], "0");
  EXPECT_TRUE(app.alerts().empty());
  EXPECT_FALSE(app.delegate->isActivityViewerShown());
  EXPECT_FALSE(ui::Application::shared().isNetworkActivityIndicatorVisible());
}

TEST_F(ServiceTest, ValuesWithControlCharactersAndCarriageReturnsAreAccepted) {
  // XML 1.0 cannot carry 0x01 at all; it is left out rather than turning the request into
  // a SOAP fault. A carriage return arrives as a carriage return.
  probe->request("AuthenticateUser", {{"userName", "pick\x01" "er"}, {"password", "line1\r\nline2\r"},
                                      {"uuid", "U-1"}, {"device_version", "x"}, {"device_name", "pod\x1f"},
                                      {"orvomobile_version", "1.0"}, {"division", "01"}, {"clientIp", ""}});
  ASSERT_TRUE(settle());
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].status, 200);
  ASSERT_EQ(requests[0].params.size(), 8u);
  EXPECT_EQ(requests[0].params[0].second, "picker");
  EXPECT_EQ(requests[0].params[1].second, "line1\r\nline2\r");
  EXPECT_EQ(requests[0].params[4].second, "pod");
  EXPECT_TRUE(probe->failures.empty());
  EXPECT_EQ(probe->finished, 1);
}

TEST_F(ServiceTest, FailuresReachTheUserAsWordedAndTheViewerGoes) {
  const std::string nilText = AlertClass::exceptionMessage(
      "-[ProbeScreen responseData:]", "NSInvalidArgumentException", "data parameter is nil");
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::function<void()> whileInFlight;
    std::vector<std::pair<std::string, std::string>> alerts;
  };
  const std::vector<Case> cases = {
      {"time-out",
       [&] { server.setFault("GetMethods", backoffice::Fault::held()); },
       [&] {
         ASSERT_TRUE(app.runUntil([&] { return server.heldCount() == 1; }));
         ASSERT_TRUE(app.outwaitHeldRequest(10s, [&] { return probe->finished > 0 || !probe->failures.empty(); }));
       },
       {{"OrvoMobile", net::urlError(net::kUrlErrorTimedOut).text + "\nPlease try it again."}}},
      {"refused connection",
       [&] { app.fresh.defaults().setString(defaults::serverPort, std::to_string(net::testing::closedPort())); },
       nullptr,
       {{"OrvoMobile", net::urlError(net::kUrlErrorCannotConnectToHost).text + "\nPlease check your Server IP."}}},
      {"HTTP 500 page",
       [&] { server.setFault("GetMethods", backoffice::Fault::serverError()); },
       nullptr,
       {{"OrvoMobile", "Webservice Server Error : 500\n Please check your server."}}},
      {"malformed XML",
       [&] { server.setFault("GetMethods", backoffice::Fault::badXml()); },
       nullptr,
       {{"Error", AlertClass::exceptionMessage("-[OrvoMobileAppDelegate parseXmlData:funcName:]",
                                               "NSRangeException",
                                               "element GetMethodsResult not found in GetMethodsResponse")},
        {"Error", nilText}}},
      {"malformed JSON",
       [&] { server.setFault("GetMethods", backoffice::Fault::badJson()); },
       nullptr,
       {{"JSON Error", ""}}},
      {"no server stored",
       [&] {
         app.fresh.defaults().removeObjectForKey(defaults::serverIP);
         app.fresh.defaults().removeObjectForKey(defaults::serverPort);
       },
       nullptr,
       {{"OrvoMobile", ""}}},
      {"Response other than True",
       [&] { server.setFault("GetMethods", backoffice::Fault::responseValue("False")); },
       nullptr,
       {{"Orvo Mobile", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearFaults();
    app.fresh.defaults().setString(defaults::serverIP, "127.0.0.1");
    app.fresh.defaults().setString(defaults::serverPort, std::to_string(server.port()));
    probe->finished = 0;
    probe->failures.clear();
    c.arrange();
    probe->request("GetMethods", {});
    if (c.whileInFlight) c.whileInFlight();
    ASSERT_TRUE(settle());
    app.drain();
    // An HTTP error reaches the screen once, as the failure; the error page is not an answer.
    if (std::string(c.name) == "HTTP 500 page") {
      EXPECT_EQ(probe->failures.size(), 1u);
      EXPECT_EQ(probe->finished, 0);
    }
    auto got = shown();
    ASSERT_EQ(got.size(), c.alerts.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].first, c.alerts[i].first);
      if (!c.alerts[i].second.empty()) {
        EXPECT_EQ(got[i].second, c.alerts[i].second);
      } else {
        EXPECT_FALSE(got[i].second.empty());
      }
    }
    EXPECT_FALSE(app.delegate->isActivityViewerShown());
    EXPECT_EQ(app.delegate->ovController()->view().superview(), nullptr);
    app.dismissAlerts();
    server.releaseHeld();
  }
}

TEST_F(ServiceTest, AnAnswerForAScreenThatIsGoneStillTakesTheViewerDown) {
  server.setFault("GetMethods", backoffice::Fault::held());
  probe->request("GetMethods", {});
  ASSERT_TRUE(app.runUntil([&] { return server.heldCount() == 1; }));
  EXPECT_TRUE(app.delegate->isActivityViewerShown());
  app.delegate->navigationController->popViewControllerAnimated(false);
  std::weak_ptr<ProbeScreen> gone = probe;
  probe.reset();
  ASSERT_TRUE(gone.expired());
  server.releaseHeld();
  ASSERT_TRUE(app.runUntil([&] { return !app.delegate->isActivityViewerShown(); }));
  EXPECT_FALSE(ui::Application::shared().isNetworkActivityIndicatorVisible());
  EXPECT_TRUE(app.alerts().empty());
}

TEST_F(ServiceTest, NothingIsSentWhileTheNetworkIsDown) {
  net::Reachability::setProbe([] { return net::NotReachable; });
  probe->request("GetWarehouse", {});
  ASSERT_TRUE(settle());
  EXPECT_TRUE(server.requests().empty());
  ASSERT_EQ(probe->failures.size(), 1u);
  ASSERT_TRUE(probe->failures[0].error);
  EXPECT_EQ(probe->failures[0].error->code, net::kUrlErrorNotConnectedToInternet);
  EXPECT_TRUE(probe->failures[0].notSent);
  EXPECT_EQ(probe->finished, 0);
  // One alert only: the application's wording adds none for this failure.
  auto got = shown();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], std::make_pair(std::string("Orvo Mobile"),
                                   std::string("Network is disconnected. Please check network connection.")));
  EXPECT_FALSE(app.delegate->isActivityViewerShown());
}

TEST_F(ServiceTest, ServerLogIsSentWithoutATarget) {
  Util::SetServerLog(std::nullopt);
  Util::SetServerLog("scanner <ok> & charged");
  ASSERT_TRUE(app.runUntil([&] { return server.serverLog().size() == 2; }));
  auto log = server.serverLog();  // two requests in flight at once may arrive in any order
  std::sort(log.begin(), log.end());
  EXPECT_EQ(log, (std::vector<std::string>{"NULL", "scanner <ok> & charged"}));
}

TEST_F(ServiceTest, PlainGetHandsOnTheBodyOrTheStatusAlone) {
  struct Result {
    std::vector<int> statuses;
    std::optional<ServiceAnswer> answer;
  };
  auto get = [&](const std::string& path, bool isJson) {
    auto result = std::make_shared<Result>();
    auto service = Service::create(
        probe, [result](const ServiceAnswer& a) { result->answer = a; },
        [result](const ServiceFailure& f) { result->statuses.push_back(f.httpStatus); });
    service->setIsJson(isJson);
    service->sendRequestWithStringUrl(server.baseUrl() + path);
    EXPECT_TRUE(app.runUntil([&] { return result->answer.has_value() || !result->statuses.empty(); }));
    return result;
  };
  auto image = get("/styleimages/TS100_BLK_front.jpg", false);
  EXPECT_TRUE(image->statuses.empty());
  ASSERT_TRUE(image->answer);
  EXPECT_EQ(image->answer->data.substr(0, 2), "\xFF\xD8");
  EXPECT_FALSE(image->answer->json);

  auto missing = get("/styleimages/NOPE.jpg", false);
  EXPECT_EQ(missing->statuses, std::vector<int>{404});
  app.drain();
  EXPECT_FALSE(missing->answer);

  // With JSON reading on, a body that is not JSON gives the "ERROR" alert and no object.
  auto notJson = get("/styleimages/TS100_BLK_back.jpg", true);
  ASSERT_TRUE(notJson->answer);
  EXPECT_FALSE(notJson->answer->json);
  auto alerts = app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "ERROR");
  // The reader's full description: domain, code and text.
  EXPECT_EQ(alerts[0].message.rfind(std::string(foundation::kJsonErrorDomain) + " ", 0), 0u) << alerts[0].message;
}

TEST(ServiceTimeoutTest, PerOperation) {
  EXPECT_EQ(Service::timeoutFor("GetPrice"), 10s);
  EXPECT_EQ(Service::timeoutFor("EditOrder"), 60s);
  EXPECT_EQ(Service::timeoutFor("CreateLineSheetPdf"), 60s);
  EXPECT_EQ(Service::timeoutFor("SendSOEmail"), 5s);
  EXPECT_EQ(Service::timeoutFor("PrintALLandEmailbyServer"), 5s);
}

class ErrorWordingTest : public ::testing::Test {
 protected:
  void SetUp() override { app.launch(); }
  std::string wording(const ServiceFailure& f) {
    app.delegate->errorResponseData(f);
    auto alerts = app.alerts();
    EXPECT_EQ(alerts.size(), 1u);
    std::string message = alerts.empty() ? "" : alerts[0].message;
    if (!alerts.empty()) {
      EXPECT_EQ(alerts[0].title, "OrvoMobile");
      EXPECT_EQ(alerts[0].buttons, std::vector<std::string>{"OK"});
    }
    app.dismissAlerts();
    return message;
  }
  test_support::AppHarness app;
};

TEST_F(ErrorWordingTest, WordsEachFailure) {
  auto err = [](int code) { return ServiceFailure::ofError(net::urlError(code)); };
  const std::string timedOut = net::urlError(net::kUrlErrorTimedOut).text;
  EXPECT_EQ(wording(err(net::kUrlErrorCannotConnectToHost)),
            net::urlError(net::kUrlErrorCannotConnectToHost).text + "\nPlease check your Server IP.");
  EXPECT_EQ(wording(err(net::kUrlErrorCannotFindHost)),
            net::urlError(net::kUrlErrorCannotFindHost).text + "\nPlease check your Server IP.");
  EXPECT_EQ(wording(err(net::kUrlErrorSecureConnectionFailed)),
            net::urlError(net::kUrlErrorSecureConnectionFailed).text);
  EXPECT_EQ(wording(ServiceFailure::ofStatus(404)), "Webservice Server Error : 404\n Please check your server.");
  // A connection that fails for want of a network after it was sent is worded like any
  // other error; only a request that was never sent (already announced) gets no alert.
  EXPECT_EQ(wording(err(net::kUrlErrorNotConnectedToInternet)),
            net::urlError(net::kUrlErrorNotConnectedToInternet).text);
  app.delegate->showActivityViewer("GetPrice");
  app.delegate->errorResponseData(ServiceFailure::networkDown());
  EXPECT_TRUE(app.alerts().empty());
  EXPECT_FALSE(app.delegate->isActivityViewerShown());

  // A time-out of an e-mail operation after the request reached the server reads as a
  // scheduled job; one while connecting or sending does not.
  auto sentThenTimedOut = [&] {
    auto f = err(net::kUrlErrorTimedOut);
    f.requestSent = true;
    return f;
  };
  auto& func = app.delegate->globalSO().currSoapFuncName;
  func = "SendSOEmail";
  EXPECT_EQ(wording(sentThenTimedOut()), "The email job has been scheduled in the server.");
  EXPECT_EQ(func, "");
  EXPECT_EQ(wording(sentThenTimedOut()), timedOut + "\nPlease try it again.");
  func = "SendSOEmail";
  EXPECT_EQ(wording(err(net::kUrlErrorTimedOut)), timedOut + "\nPlease try it again.");
  EXPECT_EQ(func, "");
  func = "PrintSOandEmailbyServer";
  EXPECT_EQ(wording(sentThenTimedOut()),
            "'Print SO & E-mail' has been done successfully.\n(email job has been scheduled in the server)");
  func = "PrintALLandEmailbyServer";
  EXPECT_EQ(wording(sentThenTimedOut()),
            "'Print ALL & E-mail' has been done successfully.\n(email job has been scheduled in the server)");
}

}  // namespace
}  // namespace orvo
