#pragma once
// One server request: a SOAP 1.1 POST to a back-office web service (or a plain GET), whose
// outcome is handed to the requesting screen through three callbacks on the main queue.
//
// Lifetime: create it with `Service::create`; while a request is in flight the request
// keeps the object alive, so the caller need not. The target (the requesting screen) is
// held weakly: once it is gone, nothing is called back.
//
// Outcomes, each reported once per request:
//  - an answer with HTTP status 200-299: `didReceive` with the body, then `didFinish`;
//  - an answer with any other status: `didFail` with the status, and nothing more (the
//    body of the error page is not handed on);
//  - a connection failure (time-out, refused, host not found): `didFail` with the error;
//  - no network: the "Network is disconnected" alert, the activity viewer hidden, nothing
//    sent, and `didFail` with the error -1009 marked `notSent` so the screen can restore
//    its state (the application's request-error wording shows no second alert for it);
//  - a failure while building or sending: `didFail` with an error, so no activity viewer
//    is left up.
// The envelope is sent unchanged: build it with `soapEnvelope`, which escapes values.
// Main thread.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/net/HttpClient.h"

namespace ui { class ViewController; }

namespace orvo {

// What `didFail` receives: the connection's error, or the HTTP status of the answer.
struct ServiceFailure {
  std::optional<foundation::Error> error;
  int httpStatus = 0;
  // The request was never sent because the network was down, and the user has been told
  // so already ("Network is disconnected ..."). A connection that fails with the same
  // error code after it was sent is not this.
  bool notSent = false;
  // The whole request had reached the server before the failure: a time-out then means
  // the server took the request and did not answer in time (not that it was never reached).
  bool requestSent = false;

  static ServiceFailure ofError(foundation::Error e) { return {std::move(e), 0, false}; }
  static ServiceFailure ofStatus(int status) { return {std::nullopt, status, false}; }
  static ServiceFailure networkDown();
};

// What `didFinish` receives: the body, and with `isJson` the parsed object (nothing when
// the body is not JSON).
struct ServiceAnswer {
  std::string data;
  std::optional<nlohmann::json> json;
};

class Service : public std::enable_shared_from_this<Service> {
 public:
  using Finished = std::function<void(const ServiceAnswer&)>;
  using Failed = std::function<void(const ServiceFailure&)>;
  using Received = std::function<void(const std::string& soFar)>;

  // `target` may be nullptr (no callbacks at all); any callback may be empty.
  static std::shared_ptr<Service> create(std::shared_ptr<ui::ViewController> target,
                                         Finished didFinish, Failed didFail,
                                         Received didReceive = nullptr);

  void setIsJson(bool isJson) { isJson_ = isJson; }
  bool isJson() const { return isJson_; }

  // Posts `envelope` to `url` with the "SOAPAction" of `operationName` and the
  // operation's time-out.
  void sendSoapRequestWithStringUrl(const std::string& url, const std::string& envelope,
                                    const std::string& operationName);
  // A GET of `url` with a 60 s time-out and the same callbacks.
  void sendRequestWithStringUrl(const std::string& url);
  // Stops the request in flight; nothing more is called back.
  void stop();
  // Whether the network is reachable now; when not, shows the alert and hides the viewer.
  bool checkNetwork();

  bool isStopped() const { return isStopped_; }

  // The time-out of an operation: 60 s, 5 s or 10 s. It bounds each wait for the server
  // (connecting, the next bytes of the answer).
  static foundation::Duration timeoutFor(const std::string& operationName);
  // The bound on a whole request with that time-out (three times it), so that a server
  // that keeps sending cannot hold a request for good. Answers are also bounded in size
  // (`net::kDefaultMaxResponseSize`); past either, `didFail` gets the error.
  static foundation::Duration totalTimeoutFor(foundation::Duration timeout);

  // Use `create`.
  Service(std::shared_ptr<ui::ViewController> target, Finished didFinish, Failed didFail,
          Received didReceive);

 private:
  void start(net::HttpRequest request);
  void onComplete(std::optional<net::HttpResponse> response, foundation::Error error);
  void reportFailure(ServiceFailure failure);
  bool targetAlive() const { return hasTarget_ && !target_.expired(); }

  std::weak_ptr<ui::ViewController> target_;
  bool hasTarget_ = false;
  Finished didFinish_;
  Failed didFail_;
  Received didReceive_;
  bool isJson_ = true;
  bool isStopped_ = true;
  std::optional<foundation::MonoTime> start_;
  std::optional<net::HttpClient::RequestId> connection_;
  bool sent_ = false;
};

}  // namespace orvo
