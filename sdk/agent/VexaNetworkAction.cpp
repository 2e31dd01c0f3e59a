#include "sdk/agent/VexaNetworkAction.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Values.h"
#include "sdk/agent/UICKeyChainStore.h"

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

bool isHttpUrl(const std::string& s) {
  for (const char* scheme : {"https://", "http://"}) {
    const std::string p = scheme;
    if (s.size() > p.size() && s.compare(0, p.size(), p) == 0 && s[p.size()] != '/') return true;
  }
  return false;
}

void deliver(const VexaPostCompletion& completion, VexaPostResult result) {
  if (!completion) return;
  foundation::MainQueue::post([completion, result = std::move(result)] { completion(result); });
}

std::atomic<int> gInFlight{0};

void send(net::HttpRequest request, VexaPostCompletion completion) {
  request.caFile = VexaNetworkAction::caFile();
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

void VexaNetworkAction::setServer(std::string origin, std::string caFile) {
  auto& s = serverState();
  std::lock_guard lock(s.mutex);
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  s.origin = std::move(origin);
  s.caFile = std::move(caFile);
}

std::string VexaNetworkAction::origin() {
  auto& s = serverState();
  std::lock_guard lock(s.mutex);
  if (!s.origin) {
    const char* env = std::getenv("KESTRA_MDM_ORIGIN");
    s.origin = env && *env ? env : "https://mdm.kestra-devices.com";
  }
  return *s.origin;
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
  if (stored && stored->size() >= 11 && isHttpUrl(*stored)) return *stored;
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
