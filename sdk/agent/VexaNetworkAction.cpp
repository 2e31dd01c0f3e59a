#include "sdk/agent/VexaNetworkAction.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Values.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaLog.h"

namespace kestra {

namespace {

// Never destroyed: posts still on their way when the process exits read it.
struct ServerState {
  std::mutex mutex;
  std::optional<std::string> origin;
  std::optional<std::string> caFile;
};

ServerState& serverState() {
  static ServerState* const s = new ServerState;
  return *s;
}

bool hasScheme(const std::string& s, const std::string& scheme) {
  if (s.size() <= scheme.size() || s[scheme.size()] == '/') return false;
  for (size_t i = 0; i < scheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != scheme[i]) return false;
  return true;
}

bool isHttpUrl(const std::string& s) { return hasScheme(s, "https://") || hasScheme(s, "http://"); }

void logRefused(const std::string& address) {
  // The address without what follows its host: a path or query may hold more than a server.
  const size_t host = address.find("://");
  const size_t end = host == std::string::npos ? std::string::npos : address.find_first_of("/?#", host + 3);
  VexaLog("<OKTVexa> %s (%s)", kVexaInsecureServerRefused, address.substr(0, end).c_str());
}

void deliver(const VexaPostCompletion& completion, VexaPostResult result) {
  if (!completion) return;
  foundation::MainQueue::post([completion, result = std::move(result)] { completion(result); });
}

std::atomic<int> gInFlight{0};

void send(net::HttpRequest request, VexaPostCompletion completion) {
  request.caFile = VexaNetworkAction::caFile();
  // Nothing in clear, nor a body handed on to a server it was not meant for.
  request.protocols = "https";
  request.bodyToOtherOrigin = false;
  ++gInFlight;
  net::HttpClient::shared().send(std::move(request), [completion](std::optional<net::HttpResponse> response, Error error) {
    VexaPostResult r;
    if (error.isError()) {
      r.error = error;
    } else if (response) {
      r.success = response->status == 200;
      r.data = response->body;
      r.response = std::move(response);
    }
    if (completion) completion(r);
    --gInFlight;
  });
}

}  // namespace

int VexaNetworkAction::postsInFlight() { return gInFlight.load(); }

VexaCheckInAnswer readCheckInAnswer(std::string_view body, int statusCode) {
  VexaCheckInAnswer a;
  auto parsed = foundation::parseJson(body);
  if (parsed && parsed->is_object() && parsed->contains("message")) {
    const nlohmann::json& m = (*parsed)["message"];
    a.message = m.is_null() ? std::string() : foundation::textValue(m);
  }
  a.accepted = a.message && a.message->find("Error") == std::string::npos;
  if (!a.accepted)
    a.detail = a.message ? *a.message : parsed ? "Unknown response" : "Response code: " + std::to_string(statusCode);
  return a;
}

std::optional<nlohmann::json> readConfigAnswer(std::string_view body) {
  auto parsed = foundation::parseJson(body);
  if (!parsed || !parsed->is_array()) return std::nullopt;
  return parsed;
}

VexaNetworkAction& VexaNetworkAction::sharedNetworkAction() {
  static VexaNetworkAction* const action = new VexaNetworkAction;  // never destroyed
  return *action;
}

bool VexaNetworkAction::isSecureAddress(const std::string& address) { return hasScheme(address, "https://"); }

bool VexaNetworkAction::setServer(std::string origin, std::string caFile) {
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  if (!isSecureAddress(origin)) {
    logRefused(origin);
    return false;
  }
  auto& s = serverState();
  std::lock_guard lock(s.mutex);
  s.origin = std::move(origin);
  s.caFile = std::move(caFile);
  return true;
}

std::string VexaNetworkAction::origin() {
  constexpr const char* kBuiltInOrigin = "https://mdm.kestra-devices.com";
  std::optional<std::string> refused;
  std::string origin;
  {
    auto& s = serverState();
    std::lock_guard lock(s.mutex);
    if (!s.origin) {
      const char* env = std::getenv("KESTRA_MDM_ORIGIN");
      std::string given = env ? env : "";
      while (!given.empty() && given.back() == '/') given.pop_back();
      if (!given.empty() && !isSecureAddress(given)) refused = given;
      s.origin = !given.empty() && !refused ? given : kBuiltInOrigin;
    }
    origin = *s.origin;
  }
  if (refused) logRefused(*refused);
  return origin;
}

std::string VexaNetworkAction::caFile() {
  auto& s = serverState();
  std::lock_guard lock(s.mutex);
  if (!s.caFile) {
    const char* env = std::getenv("KESTRA_MDM_CA_FILE");
    s.caFile = env ? env : "";
  }
  return *s.caFile;
}

std::string VexaNetworkAction::checkInAddress() {
  auto stored = UICKeyChainStore::sharedStore().stringForKey(std::string("checkInServer"));
  if (stored && stored->size() >= 11 && isHttpUrl(*stored)) {
    if (isSecureAddress(*stored)) return *stored;
    // Kept from before addresses were checked where they are set: not used.
    logRefused(*stored);
  }
  return origin() + kVexaCheckInPath;
}

void VexaNetworkAction::postJSON(const std::optional<nlohmann::json>& object, const std::optional<std::string>& address,
                                 VexaPostCompletion completion) {
  if (!object || object->is_null()) {
    VexaPostResult r;
    r.error = KestraSDKError::generateErrorForDomain(kKestraSDKErrorDomain, kVexaErrorDataNil, "Data cannot be nil.");
    deliver(completion, std::move(r));
    return;
  }
  std::string body;
  try {
    if (!object->is_object() && !object->is_array()) throw std::invalid_argument("not an object");
    body = object->dump();
  } catch (const std::exception&) {
    // The caller still hears of it, so a check-in waiting for the answer never hangs.
    VexaPostResult r;
    r.error = KestraSDKError::generateErrorForDomain(kKestraSDKErrorDomain, kVexaErrorDataNil,
                                                     "Data is not a valid JSON object.");
    deliver(completion, std::move(r));
    return;
  }
  if (address && isHttpUrl(*address) && !isSecureAddress(*address)) {
    logRefused(*address);
    VexaPostResult r;
    r.error = net::urlError(net::kUrlErrorAppTransportSecurityRequiresSecureConnection);
    deliver(completion, std::move(r));
    return;
  }
  net::HttpRequest request;
  request.method = "POST";
  if (address && isHttpUrl(*address))
    request.url = *address;
  else if (address)
    request.url = origin() + kVexaCheckInPath;
  else
    request.url = checkInAddress();
  request.headers = {{"content-type", "application/json"}};
  request.body = std::move(body);
  request.timeout = kVexaRequestTimeout;
  request.resourceTimeout = kVexaResourceTimeout;
  send(std::move(request), std::move(completion));
}

void VexaNetworkAction::postMultipart(const std::string& path, std::string body, const std::string& contentType,
                                      foundation::Duration timeout, VexaPostCompletion completion) {
  net::HttpRequest request;
  request.method = "POST";
  request.url = origin() + path;
  request.headers = {{"Content-Type", contentType}};
  request.body = std::move(body);
  request.timeout = timeout;
  send(std::move(request), std::move(completion));
}

}  // namespace kestra
