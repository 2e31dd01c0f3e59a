#pragma once
// The one way a screen talks to the back office: `sendScreenRequest` shows the activity
// viewer, sends one SOAP request through `Service` with the screen as a weak target, reads
// the answer and hands it to the screen's answer method, raises the application's error and
// exception alerts, and hides the viewer again.
//
// How a screen uses it (a request method and its answer method, as the screens pair them):
//
//   void SettingsViewController::GetMethods() {
//     ScreenRequest r;
//     r.operation = "GetMethods";                       // SOAPAction, time-out, viewer text
//     r.params = {};                                     // or {{"code", code}, ...}
//     r.requestMethod = "-[SettingsViewController GetMethods]";
//     r.answerMethod = "-[SettingsViewController GetMethodsResponseData:]";
//     sendScreenRequest(*this, std::move(r),
//                       [this](const RequestAnswer& a) { GetMethodsResponseData(a); });
//   }
//   void SettingsViewController::GetMethodsResponseData(const RequestAnswer& a) {
//     if (a.object && foundation::textForKey(*a.object, "Response") == "True") ...
//     // or `a.requireObject()` where a missing result text is an exception (the alert
//     // "[F]...[N]...[M]..." names `answerMethod`).
//   }
//
// Promises:
//  - Each request ends in exactly one of: the answer method, the failure handler, or an
//    exception alert; the activity viewer and the status-bar indicator are hidden after
//    any of them (also when the screen is gone and nothing is called back). An answer
//    method that sends the next request of its road leaves the viewer up for it.
//  - The answer method and the failure handler run on the main queue, only while the
//    screen is alive. An exception thrown by the answer method shows the exception alert
//    naming `answerMethod`; one thrown while building or sending shows it naming
//    `requestMethod` (or runs `onSendException`).
//  - An HTTP status outside 200-299 is a failure only; the error page is never read as an
//    answer. So is an answer with status 200 that holds a SOAP Fault or an HTML page
//    instead of the result: the failure handler gets an error of `kServerFaultDomain`
//    whose text is the server's own (its faultstring, or the page's text).
//  - Reading: the result text of "<op>Response"/"<op>Result" (`parseXmlData`) and, with
//    `AnswerReading::Json`, that text as JSON (`getJSONobj`), with their alerts ("Error",
//    "JSON Error"). Large answers are read on a worker thread; the alerts and the answer
//    method still run on the main queue, in that order.
//  - The default failure handler is the application's `errorResponseData` wording.
// Main thread.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/core/Service.h"
#include "app/core/SoapEnvelope.h"

namespace ui { class ViewController; }

namespace orvo {

enum class AnswerReading {
  Json,        // result text read as JSON (`object`)
  ResultText,  // result text only (answers that are the text "False" or bare JSON)
  Raw,         // the body as it came (a file fetched with GET)
};

// What the answer method receives.
struct RequestAnswer {
  std::string data;                    // the body of a 2xx answer
  std::optional<std::string> text;     // the result element's text; nothing when absent
  std::optional<nlohmann::json> object;  // `text` read as JSON (AnswerReading::Json)

  // The JSON object, throwing as `getJSONobj` does when there was no result text
  // ("NSInvalidArgumentException"), so the answer method's exception alert reports it.
  // Nothing when the text was not JSON (the "JSON Error" alert has been shown).
  const std::optional<nlohmann::json>& requireObject() const;
};

struct ScreenRequest {
  std::string operation;               // operation name: "SOAPAction", time-out, reading
  std::vector<SoapParam> params;       // parameters in the operation's order
  bool lineFeedAfterEachChild = false;
  // A ready envelope for operations whose template is not the common one; when set,
  // `params` is not used.
  std::optional<std::string> envelope;
  // The service address; empty means the mobile service (`Util::getServerInfo()`).
  std::string url;
  // A plain GET of `url` instead of a SOAP POST (`Service::sendRequestWithStringUrl`).
  bool get = false;
  // The activity viewer's text; empty means the operation name. With `showActivity` false
  // neither the viewer nor the status-bar indicator is touched.
  std::string activityText;
  bool showActivity = true;
  AnswerReading reading = AnswerReading::Json;
  // Full method names for the exception alert ("-[LoginViewController loginResponseData:]").
  std::string requestMethod;
  std::string answerMethod;
  // Fills in what may throw (values read from fields or stored settings) inside the
  // request method's exception guard, after the viewer is shown and before sending.
  std::function<void(ScreenRequest&)> prepare;
  // Replaces the exception alert for a failure while building or sending (the viewer is
  // hidden first).
  std::function<void(const std::exception&)> onSendException;
};

using AnswerHandler = std::function<void(const RequestAnswer&)>;
using FailureHandler = std::function<void(const ServiceFailure&)>;

// The error of an answer that is a SOAP Fault or an error page (see the promises above).
inline constexpr const char* kServerFaultDomain = "OrvoMobileServerFault";
inline constexpr int kServerFaultCode = -1;

// Sends `request` for `screen`. `onFailure` empty means the application's
// `errorResponseData`. Returns the `Service` in flight (nothing when sending failed), which
// the caller may keep to `stop()` it; it need not be kept.
std::shared_ptr<Service> sendScreenRequest(ui::ViewController& screen, ScreenRequest request,
                                           AnswerHandler onAnswer, FailureHandler onFailure = nullptr);

// The reading step on its own (used by `sendScreenRequest`, and by screens that read an
// answer they already hold): the result text of `funcName` and, when asked, the JSON;
// shows the reading alerts. Main thread.
RequestAnswer readRequestAnswer(std::string data, const std::string& funcName, AnswerReading reading);

// The answer object when its "Response" is "True". Otherwise nothing: an object that says
// otherwise shows the "Error" alert with its "Error" text on `screen`; a missing object has
// been reported by `requireObject`.
const nlohmann::json* acceptedAnswer(ui::ViewController& screen, const RequestAnswer& answer);

// Answers at least this large are read on a worker thread.
inline constexpr size_t kOffMainThreadAnswerSize = 256 * 1024;

}  // namespace orvo
