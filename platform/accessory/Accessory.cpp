#include "platform/accessory/Accessory.h"

#include <nlohmann/json.hpp>

namespace accessory {

namespace {
bool readText(const nlohmann::json& j, const char* key, std::string& out) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) {
    out.clear();
    return true;
  }
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}
}  // namespace

bool identityFromJson(const nlohmann::json& j, AccessoryIdentity& out) {
  if (!j.is_object()) return false;
  AccessoryIdentity id;
  if (!readText(j, "name", id.name) || !readText(j, "manufacturer", id.manufacturer) ||
      !readText(j, "modelNumber", id.modelNumber) ||
      !readText(j, "serialNumber", id.serialNumber) ||
      !readText(j, "firmwareRevision", id.firmwareRevision) ||
      !readText(j, "hardwareRevision", id.hardwareRevision))
    return false;
  auto it = j.find("protocolStrings");
  if (it != j.end() && !it->is_null()) {
    if (!it->is_array()) return false;
    for (const auto& p : *it) {
      if (!p.is_string()) return false;
      id.protocolStrings.push_back(p.get<std::string>());
    }
  }
  out = std::move(id);
  return true;
}

nlohmann::json identityToJson(const AccessoryIdentity& id) {
  return nlohmann::json{{"name", id.name},
                        {"manufacturer", id.manufacturer},
                        {"modelNumber", id.modelNumber},
                        {"serialNumber", id.serialNumber},
                        {"firmwareRevision", id.firmwareRevision},
                        {"hardwareRevision", id.hardwareRevision},
                        {"protocolStrings", id.protocolStrings}};
}

Accessory::Accessory(uint32_t connectionID, AccessoryIdentity identity, AccessoryEndpoint endpoint)
    : connectionID_(connectionID), identity_(std::move(identity)), endpoint_(std::move(endpoint)) {}

void Accessory::setDelegate(std::weak_ptr<AccessoryDelegate> delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<AccessoryDelegate> Accessory::delegate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegate_.lock();
}

nlohmann::json Accessory::toJson() const {
  nlohmann::json j = identityToJson(identity_);
  j["connectionID"] = connectionID_;
  return j;
}

}  // namespace accessory
