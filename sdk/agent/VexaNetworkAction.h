#pragma once
// How the agent talks to the management server: every message is a JSON object POSTed over
// HTTPS with the one header "content-type: application/json" (the log upload, a multipart
// form, goes through `postMultipart`). Success is an answer with status 200 and no transport
// error; any other answer is a failure that still carries the answer's body and status.
//
// The server's origin is built in ("https://mdm.kestra-devices.com") and may be replaced by
// the environment (KESTRA_MDM_ORIGIN) or `setServer`; the server's certificate is always
// verified, against the system's authorities or the CA file given by KESTRA_MDM_CA_FILE or
// `setServer`. The check-in address is the secret store's "checkInServer" when that is at
// least 11 characters long, otherwise the origin plus "/api/DepricatedServices"; the fixed
// endpoints always use the origin.
//
// Nothing goes in clear: every post and every redirect it follows is https, and a redirect
// never carries a body to another origin (the post then fails). A server address that is not
// https, from any source (the environment, `setServer`, the stored "checkInServer", a
// caller), is refused with a line in the agent's log, and the address in force before stays.
//
// Threads: posts may start on any thread; completions run on the main queue, exactly once
// per post (also when the object cannot be sent).

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/net/HttpClient.h"

namespace kestra {

using foundation::Error;

inline constexpr const char* kKestraSDKErrorDomain = "com.okt.KestraSDK";
inline constexpr const char* kOKTVexaErrorDomain = "com.okt.OKTVexa";
inline constexpr int kVexaErrorDataNil = -1003;
inline constexpr int kVexaErrorCheckInNotPermitted = -1004;
inline constexpr int kVexaErrorDeviceTag = 8;

inline constexpr const char* kVexaCheckInPath = "/api/DepricatedServices";
inline constexpr const char* kVexaMetricPath = "/api/v1/device/metric/upload";
inline constexpr const char* kVexaLogPath = "/api/v1/device/log/upload";
inline constexpr const char* kVexaConfigurationPath = "/api/v1/device/configuration";
inline constexpr const char* kVexaFirmwarePath = "/api/v1/device/firmware";
inline constexpr foundation::Duration kVexaRequestTimeout = std::chrono::seconds(10);
inline constexpr foundation::Duration kVexaResourceTimeout = std::chrono::seconds(15);
// What the agent tells its log and its delegates when a server address is not https.
inline constexpr const char* kVexaInsecureServerRefused = "Server address refused: only https:// addresses are used.";

class KestraSDKError {
 public:
  static Error generateErrorForDomain(const std::string& domain, int code, const std::string& message) {
    return Error(domain, code, message);
  }
};

// The outcome of one post. `response` is there whenever the server answered; `error` when
// the post failed before an answer (or could not be sent at all).
struct VexaPostResult {
  bool success = false;
  std::optional<std::string> data;
  std::optional<net::HttpResponse> response;
  std::optional<Error> error;
  int statusCode() const { return response ? response->status : 0; }
};
using VexaPostCompletion = std::function<void(const VexaPostResult&)>;

// What a check-in answer (status 200) says: accepted unless its "message" is missing or
// holds "Error"; `detail` is the text to report when it is not accepted.
struct VexaCheckInAnswer {
  bool accepted = false;
  std::optional<std::string> message;  // JSON null reads as ""
  std::string detail;
};
VexaCheckInAnswer readCheckInAnswer(std::string_view body, int statusCode);
// The job list of a configuration answer: a JSON array, or nothing.
std::optional<nlohmann::json> readConfigAnswer(std::string_view body);

class VexaNetworkAction {
 public:
  static VexaNetworkAction& sharedNetworkAction();

  // `origin` like "https://host:port"; `caFile` a PEM file of trusted authorities ("" for
  // the system's). An origin that is not https is refused (false, logged); the origin and
  // authorities in force stay.
  static bool setServer(std::string origin, std::string caFile);
  // Whether `address` is an https URL with a host, the only kind the agent sends to.
  static bool isSecureAddress(const std::string& address);
  static std::string origin();
  static std::string caFile();
  // The default check-in address (see above).
  static std::string checkInAddress();

  // Posts `object` (which must be a JSON object or array) to `address`, or to the check-in
  // address when none is given or it is not a URL. An http:// `address` is refused: the
  // completion gets error -1022 and nothing is sent.
  static void postJSON(const std::optional<nlohmann::json>& object, const std::optional<std::string>& address,
                       VexaPostCompletion completion);
  // Posts a ready body with its content type to origin + `path`, with `timeout`.
  static void postMultipart(const std::string& path, std::string body, const std::string& contentType,
                            foundation::Duration timeout, VexaPostCompletion completion);
  // Posts sent whose completion has not finished yet.
  static int postsInFlight();
};

}  // namespace kestra
