#include "app/core/Service.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/SoapEnvelope.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/net/Reachability.h"

namespace orvo {

std::shared_ptr<Service> Service::create(std::shared_ptr<ui::ViewController> target,
                                         Finished didFinish, Failed didFail, Received didReceive) {
  return std::make_shared<Service>(std::move(target), std::move(didFinish), std::move(didFail),
                                   std::move(didReceive));
}

Service::Service(std::shared_ptr<ui::ViewController> target, Finished didFinish, Failed didFail,
                 Received didReceive)
    : target_(target),
      hasTarget_(target != nullptr),
      didFinish_(std::move(didFinish)),
      didFail_(std::move(didFail)),
      didReceive_(std::move(didReceive)) {}

ServiceFailure ServiceFailure::networkDown() {
  ServiceFailure f = ofError(net::urlError(net::kUrlErrorNotConnectedToInternet));
  f.notSent = true;
  return f;
}

foundation::Duration Service::timeoutFor(const std::string& op) {
  using namespace std::chrono_literals;
  for (const char* slow : {"InsertOrder", "EditOrder", "GetPrevOrderList", "CreateSOpdf",
                           "CreateLineSheetPdf"})
    if (op == slow) return 60s;
  for (const char* quick : {"SendSOEmail", "PrintSOandEmailbyServer", "PrintALLandEmailbyServer"})
    if (op == quick) return 5s;
  return 10s;
}

foundation::Duration Service::totalTimeoutFor(foundation::Duration timeout) { return 3 * timeout; }

bool Service::checkNetwork() {
  auto reachability = net::Reachability::reachabilityForInternetConnection();
  if (reachability->currentReachabilityStatus() == net::NotReachable) {
    isStopped_ = true;
    if (auto* app = OrvoMobileAppDelegate::shared()) {
      app->hideActivityViewer();
      app->networkActivityStopped();
    }
    AlertTarget alertTarget;
    if (auto t = target_.lock()) alertTarget = AlertTarget(t);
    AlertClass::displayAlert(alertTarget, 0, 1, kAppAlertTitle,
                             "Network is disconnected. Please check network connection.");
    return false;
  }
  isStopped_ = false;
  return true;
}

void Service::sendSoapRequestWithStringUrl(const std::string& url, const std::string& envelope,
                                           const std::string& operationName) {
  try {
    if (!start_) start_ = foundation::Clock::current().now();
    if (!checkNetwork()) {
      // Nothing is sent while the network is down: the screen hears of it as a failure.
      reportFailure(ServiceFailure::networkDown());
      return;
    }
    net::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.timeout = timeoutFor(operationName);
    request.resourceTimeout = totalTimeoutFor(request.timeout);
    request.body = envelope;
    request.headers = {{"Content-Type", "text/xml; charset=utf-8"},
                       {"SOAPAction", soapAction(operationName)},
                       {"Content-Length", std::to_string(request.body.size())}};
    start(std::move(request));
  } catch (const std::exception& e) {
    reportFailure(ServiceFailure::ofError({foundation::kUrlErrorDomain, net::kUrlErrorUnknown, e.what()}));
  }
}

void Service::sendRequestWithStringUrl(const std::string& url) {
  try {
    if (!start_) start_ = foundation::Clock::current().now();
    if (!checkNetwork()) {
      reportFailure(ServiceFailure::networkDown());
      return;
    }
    net::HttpRequest request;
    request.method = "GET";
    request.url = url;
    request.timeout = std::chrono::seconds(60);
    request.resourceTimeout = totalTimeoutFor(request.timeout);
    start(std::move(request));
  } catch (const std::exception& e) {
    reportFailure(ServiceFailure::ofError({foundation::kUrlErrorDomain, net::kUrlErrorUnknown, e.what()}));
  }
}

void Service::start(net::HttpRequest request) {
  auto self = shared_from_this();
  sent_ = false;
  std::weak_ptr<Service> weak = self;
  request.sent = [weak] {
    if (auto s = weak.lock()) s->sent_ = true;
  };
  connection_ = net::HttpClient::shared().send(
      std::move(request), [self](std::optional<net::HttpResponse> response, foundation::Error error) {
        self->onComplete(std::move(response), std::move(error));
      });
}

void Service::stop() {
  isStopped_ = true;
  if (connection_) net::HttpClient::shared().cancel(*connection_);
  connection_.reset();
}

void Service::reportFailure(ServiceFailure failure) {
  // Reported from the main queue, after the request method that called us has returned.
  auto self = shared_from_this();
  foundation::MainQueue::post([self, failure = std::move(failure)] {
    if (self->targetAlive() && self->didFail_) self->didFail_(failure);
  });
}

void Service::onComplete(std::optional<net::HttpResponse> response, foundation::Error error) {
  connection_.reset();
  if (isStopped_) return;
  if (hasTarget_ && target_.expired()) {
    // The screen that asked is gone and will never hide the activity viewer it showed.
    if (auto* app = OrvoMobileAppDelegate::shared()) {
      app->hideActivityViewer();
      app->networkActivityStopped();
    }
    return;
  }
  if (!response) {
    ServiceFailure failure = ServiceFailure::ofError(std::move(error));
    failure.requestSent = sent_;
    if (targetAlive() && didFail_) didFail_(failure);
    return;
  }
  if (response->status < 200 || response->status >= 300) {
    // The failure is the whole outcome: an error page is never handed on as an answer.
    if (targetAlive() && didFail_) didFail_(ServiceFailure::ofStatus(response->status));
    return;
  }
  if (targetAlive() && didReceive_) didReceive_(response->body);
  ServiceAnswer answer;
  answer.data = std::move(response->body);
  if (isJson_) {
    foundation::Error jsonError;
    answer.json = foundation::parseJson(answer.data, &jsonError);
    if (!answer.json) AlertClass::showLegacy("ERROR", jsonError.description(), "OK");
  }
  if (targetAlive() && didFinish_) didFinish_(answer);
}

}  // namespace orvo
