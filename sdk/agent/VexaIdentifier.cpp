#include "sdk/agent/VexaIdentifier.h"

#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Uuid.h"
#include "platform/security/KeychainItems.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaHelper.h"

namespace kestra {

namespace {
constexpr const char* kUUIDKey = "UUID";
constexpr size_t kMinimumLength = 6;

bool valid(const std::optional<std::string>& s) { return s && s->size() >= kMinimumLength; }

// The agent's queues ask at the same time; one reconciliation at a time keeps them from
// making two identifiers on a fresh installation.
std::mutex& identityMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

std::string VexaIdentifier::getUUID() {
  std::lock_guard lock(identityMutex());
  auto& defaults = foundation::UserDefaults::standard();
  auto& keychain = UICKeyChainStore::sharedStore();
  const std::optional<std::string> k = keychain.stringForKey(std::string(kUUIDKey));
  const std::optional<std::string> d = defaults.stringForKey(kUUIDKey);
  if (valid(k) && valid(d)) {
    if (*k != *d) {
      defaults.setString(kUUIDKey, *k);
      defaults.synchronize();
    }
    return *k;
  }
  if (valid(k)) {
    defaults.setString(kUUIDKey, *k);
    defaults.synchronize();
    return *k;
  }
  if (valid(d)) {
    keychain.setString(*d, std::string(kUUIDKey));
    return *d;
  }
  const std::string fresh = foundation::uuidString();
  defaults.setString(kUUIDKey, fresh);
  defaults.synchronize();
  keychain.setString(fresh, std::string(kUUIDKey));
  return fresh;
}

void VexaIdentifier::setUUID(const std::string& uuid) {
  std::lock_guard lock(identityMutex());
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setString(kUUIDKey, uuid);
  defaults.synchronize();
  UICKeyChainStore::sharedStore().setString(uuid, std::string(kUUIDKey));
}

void VexaIdentifier::setPhoneNumber(const std::optional<std::string>& number) {
  UICKeyChainStore::sharedStore().setString(number, std::string("phoneNumber"));
}

std::optional<std::string> VexaIdentifier::getPhoneNumber() {
  return UICKeyChainStore::sharedStore().stringForKey(std::string("phoneNumber"));
}

std::optional<std::string> VexaIdentifier::bundleSeedID() {
  auto& defaults = foundation::UserDefaults::standard();
  if (auto team = defaults.stringForKey("TEAM_ID"); team && !team->empty()) return team;
  nlohmann::json item = {{"class", "genp"}, {"acct", "bundleSeedID"}, {"svce", ""}};
  std::vector<nlohmann::json> found;
  int status = security::KeychainItems::shared().copyMatching(item, false, &found);
  if (status == security::kSecItemNotFound) {
    // The publisher's prefix: configured, or made once for this user.
    const char* configured = std::getenv("KESTRA_TEAM_ID");
    std::string prefix = configured && *configured ? configured : foundation::uuidString().substr(0, 10);
    std::erase(prefix, '-');
    item["agrp"] = prefix + "." + VexaAppSettings::bundleIdentifier();
    status = security::KeychainItems::shared().add(item);
    if (status == security::kSecSuccess) found = {item};
  }
  if (status != security::kSecSuccess || found.empty() || !found.front().contains("agrp") ||
      !found.front()["agrp"].is_string())
    return std::nullopt;
  const std::string group = found.front()["agrp"].get<std::string>();
  const std::string team = group.substr(0, group.find('.'));
  if (team.empty()) return std::nullopt;
  defaults.setString("TEAM_ID", team);
  defaults.synchronize();
  return team;
}

}  // namespace kestra
