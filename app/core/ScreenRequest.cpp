#include "app/core/ScreenRequest.h"

#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/SoapAnswer.h"
#include "app/core/Util.h"
#include "platform/foundation/BackgroundQueue.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Values.h"
#include "platform/ui/ViewController.h"

namespace orvo {

namespace {

// What the reading step found, before any alert is shown: computed off the main thread for
// large answers, then reported on it.
struct Reading {
  RequestAnswer answer;
  // The server answered with a SOAP Fault or an error page instead of a result: its words.
  std::optional<std::string> serverFault;
  SoapAnswerFailure xmlFailure;
  std::optional<foundation::Error> jsonError;
};

Reading readQuietly(std::string data, const std::string& funcName, AnswerReading mode) {
  Reading r;
  r.answer.data = std::move(data);
  if (mode == AnswerReading::Raw) return r;
  r.answer.text = soapResultText(r.answer.data, funcName, &r.xmlFailure);
  if (!r.answer.text) {
    r.serverFault = soapFaultText(r.answer.data);
    if (r.serverFault) {
      r.xmlFailure = SoapAnswerFailure();
      return r;
    }
  }
  if (mode == AnswerReading::Json && r.answer.text) {
    foundation::Error e;
    r.answer.object = JsonClass::readJSON(*r.answer.text, &e);
    if (!r.answer.object) r.jsonError = e;
  }
  return r;
}

// The alerts of the reading step, in the order the reading meets them.
void showReadingAlerts(const Reading& r) {
  if (r.xmlFailure.failed) {
    std::weak_ptr<ui::AlertViewDelegate> delegate;
    if (auto* app = OrvoMobileAppDelegate::shared()) delegate = app->weak_from_this();
    AlertClass::showLegacy("Error",
                           AlertClass::exceptionMessage("-[OrvoMobileAppDelegate parseXmlData:funcName:]",
                                                        r.xmlFailure.name, r.xmlFailure.reason),
                           "OK", delegate);
  }
  if (r.jsonError) AlertClass::showLegacy("JSON Error", r.jsonError->description(), "OK");
}

void activityStopped() {
  if (auto* app = OrvoMobileAppDelegate::shared()) {
    app->hideActivityViewer();
    app->networkActivityStopped();
  }
}

// Requests sent so far; an answer method that sends the next request of its road leaves
// the viewer to that request.
unsigned requestsSent = 0;

// Runs the answer method (catching what it throws) and then hides the viewer, unless the
// answer method sent another request, whose end hides it.
void deliver(const std::weak_ptr<ui::ViewController>& weakScreen, const Reading& reading,
             const AnswerHandler& onAnswer, const std::string& answerMethod,
             const std::function<void(const ServiceFailure&)>& onFailed) {
  auto screen = weakScreen.lock();
  if (!screen) {
    activityStopped();
    return;
  }
  if (reading.serverFault) {
    // No answer to read: the request failed with the server's own text, and the screen's
    // failure handler keeps what the user has (an order stays to be saved again).
    ServiceFailure failure = ServiceFailure::ofError(foundation::Error(kServerFaultDomain, kServerFaultCode,
                                                                       *reading.serverFault));
    failure.requestSent = true;
    onFailed(failure);
    return;
  }
  try {
    showReadingAlerts(reading);
    const unsigned before = requestsSent;
    if (onAnswer) onAnswer(reading.answer);
    if (requestsSent == before) activityStopped();
  } catch (const std::exception& e) {
    activityStopped();
    AlertClass::exceptionAlert(screen, answerMethod, e);
  }
}

}  // namespace

const std::optional<nlohmann::json>& RequestAnswer::requireObject() const {
  if (!text) throw AppException("NSInvalidArgumentException", "data parameter is nil");
  return object;
}

RequestAnswer readRequestAnswer(std::string data, const std::string& funcName, AnswerReading reading) {
  Reading r = readQuietly(std::move(data), funcName, reading);
  showReadingAlerts(r);
  return std::move(r.answer);
}

std::shared_ptr<Service> sendScreenRequest(ui::ViewController& screen, ScreenRequest request,
                                           AnswerHandler onAnswer, FailureHandler onFailure) {
  auto* app = OrvoMobileAppDelegate::shared();
  const bool activity = request.showActivity;
  auto shared = std::make_shared<ScreenRequest>(std::move(request));
  try {
    if (activity && app) {
      app->showActivityViewer(shared->activityText.empty() ? shared->operation : shared->activityText);
      app->networkActivityStarted();
    }
    if (shared->prepare) shared->prepare(*shared);
    std::weak_ptr<ui::ViewController> weakScreen = screen.self<ui::ViewController>();
    auto answerHandler = std::make_shared<AnswerHandler>(std::move(onAnswer));

    auto failed = std::make_shared<std::function<void(const ServiceFailure&)>>(
        [weakScreen, activity, onFailure = std::move(onFailure)](const ServiceFailure& f) {
          if (weakScreen.expired()) return;
          if (onFailure) {
            onFailure(f);
            if (activity) activityStopped();
          } else if (auto* a = OrvoMobileAppDelegate::shared()) {
            a->errorResponseData(f);  // hides the viewer itself
          }
        });
    auto finished = [weakScreen, shared, answerHandler, failed](const ServiceAnswer& a) {
      if (a.data.size() < kOffMainThreadAnswerSize) {
        deliver(weakScreen, readQuietly(a.data, shared->operation, shared->reading), *answerHandler,
                shared->answerMethod, *failed);
        return;
      }
      // A large answer: the XML and JSON reading run on a worker; the alerts and the
      // answer method follow on the main queue.
      foundation::BackgroundQueue::post([weakScreen, shared, answerHandler, failed, data = a.data]() mutable {
        auto reading = std::make_shared<Reading>(readQuietly(std::move(data), shared->operation, shared->reading));
        foundation::MainQueue::post([weakScreen, shared, answerHandler, failed, reading] {
          deliver(weakScreen, *reading, *answerHandler, shared->answerMethod, *failed);
        });
      });
    };

    auto service = Service::create(screen.self<ui::ViewController>(), finished,
                                   [failed](const ServiceFailure& f) { (*failed)(f); });
    service->setIsJson(false);
    const std::string url = shared->url.empty() ? Util::getServerInfo() : shared->url;
    if (shared->get) {
      service->sendRequestWithStringUrl(url);
    } else {
      const std::string envelope =
          shared->envelope ? *shared->envelope
                           : soapEnvelope(shared->operation, shared->params, shared->lineFeedAfterEachChild);
      service->sendSoapRequestWithStringUrl(url, envelope, shared->operation);
    }
    ++requestsSent;
    return service;
  } catch (const std::exception& e) {
    if (activity) activityStopped();
    if (shared->onSendException)
      shared->onSendException(e);
    else
      AlertClass::exceptionAlert(screen.self<ui::ViewController>(), shared->requestMethod, e);
    return nullptr;
  }
}

const nlohmann::json* acceptedAnswer(ui::ViewController& screen, const RequestAnswer& answer) {
  const auto& object = answer.requireObject();
  if (!object) return nullptr;
  if (foundation::textForKey(*object, "Response") != "True") {
    AlertClass::displayAlert(screen.self<ui::ViewController>(), 0, 1, "Error",
                             foundation::textForKey(*object, "Error"));
    return nullptr;
  }
  return &*object;
}

}  // namespace orvo
