#include "sdk/agent/VexaMetrics.h"

#include <cctype>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaIdentifier.h"

namespace kestra {

namespace {

constexpr const char* kStoreKey = "VexaMetrics";

std::mutex& storeMutex() {
  static std::mutex m;
  return m;
}

std::string keyPart(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

nlohmann::json readStore() {
  auto store = foundation::UserDefaults::standard().objectForKey(kStoreKey);
  return store.is_object() ? store : nlohmann::json::object();
}

void writeStore(const nlohmann::json& store) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setObject(kStoreKey, store);
  defaults.synchronize();
}

int64_t count(const nlohmann::json& store, const std::string& key) {
  auto it = store.find(key);
  return it == store.end() ? 0 : foundation::longLongValue(*it);
}

}  // namespace

VexaMetrics::VexaMetrics(std::string name, std::string category)
    : name_(std::move(name)),
      category_(std::move(category)),
      numeratorKey_(keyPart(name_) + "_" + keyPart(category_)),
      denominatorKey_(keyPart(name_)) {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  bool changed = !foundation::UserDefaults::standard().objectForKey(kStoreKey).is_object();
  for (const auto& key : {denominatorKey_, numeratorKey_}) {
    if (!store.contains(key)) {
      store[key] = 0;
      changed = true;
    }
  }
  if (changed) writeStore(store);
}

int64_t VexaMetrics::numeratorCount() const {
  std::lock_guard lock(storeMutex());
  return count(readStore(), numeratorKey_);
}

int64_t VexaMetrics::denominatorCount() const {
  std::lock_guard lock(storeMutex());
  return count(readStore(), denominatorKey_);
}

void VexaMetrics::setNumeratorCount(int64_t value) {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  store[numeratorKey_] = value;
  writeStore(store);
}

void VexaMetrics::setDenominatorCount(int64_t value) {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  store[denominatorKey_] = value;
  writeStore(store);
}

void VexaMetrics::addNumeratorCount(int64_t value) {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  store[numeratorKey_] = count(store, numeratorKey_) + value;
  writeStore(store);
}

void VexaMetrics::addDenominatorCount(int64_t value) {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  store[denominatorKey_] = count(store, denominatorKey_) + value;
  writeStore(store);
}

void VexaMetrics::resetAll() {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  store[numeratorKey_] = 0;
  store[denominatorKey_] = 0;
  writeStore(store);
}

void VexaMetrics::subtractUploaded(int64_t numerator, int64_t denominator) {
  std::lock_guard lock(storeMutex());
  nlohmann::json store = readStore();
  const int64_t n = count(store, numeratorKey_);
  const int64_t d = count(store, denominatorKey_);
  store[numeratorKey_] = n >= numerator ? n - numerator : 0;
  store[denominatorKey_] = d >= denominator ? d - denominator : 0;
  writeStore(store);
}

nlohmann::ordered_json VexaPayload::metric(const VexaMetrics& metric, int64_t numerator, int64_t denominator,
                                           foundation::WallTime now) {
  return {{"metric", metric.name()},
          {"metricCategory", metric.category()},
          {"numerator", numerator},
          {"denominator", denominator},
          {"interval", 1440},
          {"dateTime", VexaHelper::convertTimeToUTC(now)},
          {"serial", VexaIdentifier::getUUID()},
          {"manufacturer", "Apple"},
          {"bundle", VexaAppSettings::bundleIdentifier()}};
}

}  // namespace kestra
