// Messages of the agent other than the check-in: device tag, location, transaction receipt
// and metrics.

#include <cinttypes>
#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaLog.h"
#include "sdk/agent/VexaMetrics.h"
#include "sdk/agent/VexaTransactionReceipt.h"

namespace kestra {

using nlohmann::json;

namespace {

constexpr const char* kLastLocationUploadKey = "OKTVEXA_LAST_LOCATION_UPLOAD";
constexpr const char* kMetricObjectsKey = "OKTVEXA_METRIC_OBJECTS";

foundation::UserDefaults& defaults() { return foundation::UserDefaults::standard(); }

std::string f(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

json companyCode() {
  auto code = OKTVexa::getCompanyCode();
  return code ? json(*code) : json(nullptr);
}

json metricList() {
  auto list = defaults().objectForKey(kMetricObjectsKey);
  if (!list.is_array()) {
    list = json::array();
    defaults().setObject(kMetricObjectsKey, list);
  }
  return list;
}

}  // namespace

void OKTVexa::setDeviceTag(const std::string& tag) {
  const json body = {{"serviceType", "set_tags"}, {"payload", {{"serial", getUUID()}, {"tags", {{"deviceOwner", tag}}}}}};
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  networkQueue_.addOperation([weak, body] {
    VexaNetworkAction::postJSON(body, std::nullopt, [weak](const VexaPostResult& r) {
      auto self = weak.lock();
      if (!self) return;
      if (!r.success) {
        self->performDelegateSelector(vexasel::deviceTagStatus_error, false, r.error);
        return;
      }
      auto answer = foundation::parseJson(r.data.value_or(""));
      const json& message = answer ? foundation::valueForKey(*answer, "message") : json();
      if (!message.is_string() || message.get<std::string>().find("Success") != std::string::npos) {
        self->performDelegateSelector(vexasel::deviceTagStatus_error, true, std::nullopt);
        self->checkIn(true);
      } else {
        self->performDelegateSelector(
            vexasel::deviceTagStatus_error, false,
            KestraSDKError::generateErrorForDomain(kOKTVexaErrorDomain, kVexaErrorDeviceTag, message.get<std::string>()));
      }
    });
  });
}

void OKTVexa::requestNewLocation() {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  // The location service does its work on the main queue.
  if (auto self = weak.lock()) self->vexaLocator().requestNewLocation();
}

bool OKTVexa::shouldUploadLocation() {
  if (requestLocation_.exchange(false)) {
    kestra::VexaLog("<OKTVexa> Request location update: YES");
    return true;
  }
  auto text = UICKeyChainStore::sharedStore().stringForKey(std::string(kLastLocationUploadKey));
  auto last = text ? VexaHelper::systemDate(*text) : std::nullopt;
  if (!last) return true;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(VexaHelper::systemNow() - *last).count();
  return elapsed < 0 || elapsed >= getLocationUploadInterval();
}

void OKTVexa::didUpdateLocation(const LocationFix& location) {
  if (!shouldUploadLocation()) return;
  const std::string now = VexaHelper::systemDateString(foundation::Clock::current().wallNow());
  std::string serials = getUUID();
  Error error;
  for (const auto& info : device().getConnectedDevicesInfo(&error))
    if (info) serials += "," + info->serialNumber;
  const json body = {{"serviceType", "device_gps"},
                     {"companyCode", companyCode()},
                     {"payload", {{"lat", f(location.latitude)}, {"long", f(location.longitude)}, {"serials", serials}}}};
  networkQueue_.addOperation([body, now] {
    VexaNetworkAction::postJSON(body, std::nullopt, [now](const VexaPostResult& r) {
      if (!r.success) return;
      // Only an upload the server took holds the next one back for an interval.
      UICKeyChainStore::sharedStore().setString(now, std::string(kLastLocationUploadKey));
      kestra::VexaLog("<OKTVexa> Location uploaded %s", now.c_str());
    });
  });
}

void OKTVexa::uploadTransactionReceipt(const VexaTransactionReceipt& receipt) {
  requestLocation_ = true;
  VexaLocator& locator = vexaLocator();
  locator.requestNewLocation();
  const nlohmann::ordered_json fields = receipt.getTransactionReceipt();
  json receiptJson = json::object();
  for (const auto& [k, v] : fields.items()) receiptJson[k] = v;
  const json body = {{"serviceType", "upload_receipt"},
                     {"payload",
                      {{"serial", getUUID()},
                       {"companyCode", companyCode()},
                       {"location",
                        {{"lat", f(locator.lastLatitude())},
                         {"long", f(locator.lastLongitude())},
                         {"alt", f(locator.lastAltitude())}}},
                       {"receipt", receiptJson}}}};
  networkQueue_.addOperation([body] { VexaNetworkAction::postJSON(body, std::nullopt, nullptr); });
}

// ---- Metrics ----------------------------------------------------------------------------------------

void OKTVexa::addMetric(const VexaMetrics& metric) {
  static std::mutex listMutex;
  std::lock_guard lock(listMutex);
  json list = metricList();
  for (const auto& m : list)
    if (foundation::textForKey(m, "name") == metric.name() && foundation::textForKey(m, "category") == metric.category())
      return;
  list.push_back({{"name", metric.name()}, {"category", metric.category()}});
  defaults().setObject(kMetricObjectsKey, list);
  defaults().synchronize();
}

void OKTVexa::removeMetric(const VexaMetrics& metric) {
  json list = metricList();
  for (auto it = list.begin(); it != list.end(); ++it)
    if (foundation::textForKey(*it, "name") == metric.name() && foundation::textForKey(*it, "category") == metric.category()) {
      list.erase(it);
      break;
    }
  defaults().setObject(kMetricObjectsKey, list);
  defaults().synchronize();
}

void OKTVexa::metricCheckin(VexaMetrics& metric) {
  const int64_t n = metric.numeratorCount();
  const int64_t d = metric.denominatorCount();
  const json body = VexaPayload::metric(metric, n, d, foundation::Clock::current().wallNow());
  kestra::VexaLog("<OKTVexa> Uploading metric: %s:%s %" PRId64 "/%" PRId64, metric.category().c_str(),
                  metric.name().c_str(), n, d);
  const std::string name = metric.name(), category = metric.category();
  VexaNetworkAction::postJSON(body, VexaNetworkAction::origin() + kVexaMetricPath,
                              [name, category, n, d](const VexaPostResult& r) {
                                if (!r.success) {
                                  kestra::VexaLog("<OKTVexa> Metric failed to upload code: %i", r.statusCode());
                                  return;
                                }
                                kestra::VexaLog("<OKTVexa> Upload metric success: %s:%s %" PRId64 "/%" PRId64,
                                                category.c_str(), name.c_str(), n, d);
                                VexaMetrics m(name, category);
                                m.subtractUploaded(n, d);
                                kestra::VexaLog("<OKTVexa> Metric: [%s:%s] %" PRId64 "/%" PRId64, category.c_str(),
                                                name.c_str(), m.numeratorCount(), m.denominatorCount());
                              });
}

}  // namespace kestra
