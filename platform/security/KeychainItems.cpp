#include "platform/security/KeychainItems.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"

namespace security {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Attributes that make an item's identity: two items may not agree on all of them.
constexpr const char* kIdentity[] = {"class", "svce", "agrp", "acct", "srvr", "port", "ptcl", "atyp", "sync"};

// An advisory lock on a file beside the store, held for one read-change-write.
class FileLock {
 public:
  explicit FileLock(const fs::path& store) {
    std::error_code ec;
    if (store.has_parent_path()) fs::create_directories(store.parent_path(), ec);
    fs::path lockPath = store;
    lockPath += ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FileLock() {
    if (fd_ >= 0) {
      ::flock(fd_, LOCK_UN);
      ::close(fd_);
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

std::optional<std::vector<json>> parseKeychainFile(std::string_view text) {
  auto doc = foundation::parseJson(text);
  if (!doc || !doc->is_object()) return std::nullopt;
  auto it = doc->find("items");
  if (it == doc->end() || !it->is_array()) return std::nullopt;
  std::vector<json> items;
  for (const auto& item : *it) {
    if (!item.is_object()) return std::nullopt;
    auto cls = item.find("class");
    if (cls == item.end() || !cls->is_string()) return std::nullopt;
    auto data = item.find("v_Data");
    if (data != item.end() && !data->is_string()) return std::nullopt;
    items.push_back(item);
  }
  return items;
}

std::string writeKeychainFile(const std::vector<json>& items) {
  json doc = {{"version", 1}, {"items", json::array()}};
  for (const auto& i : items) doc["items"].push_back(i);
  return foundation::prettyJson(doc);
}

bool itemMatches(const json& item, const json& query) {
  for (auto it = query.begin(); it != query.end(); ++it) {
    if (it.key() == "sync" && it->is_string() && it->get<std::string>() == "any") continue;
    auto found = item.find(it.key());
    if (it.key() == "sync") {
      const bool mine = found != item.end() && found->is_boolean() && found->get<bool>();
      if (!it->is_boolean() || it->get<bool>() != mine) return false;
      continue;
    }
    if (found == item.end() || *found != *it) return false;
  }
  return true;
}

KeychainItems::KeychainItems(fs::path file) : file_(std::move(file)) {}

fs::path KeychainItems::defaultFile() {
  if (const char* f = std::getenv("KESTRA_KEYCHAIN_FILE"); f && *f) return fs::path(f);
  return foundation::Paths::dataDir("keychains") / "login.keychain.json";
}

KeychainItems& KeychainItems::shared() {
  // Lives for the whole process: threads still at work when the process exits may use it.
  static KeychainItems* const store = new KeychainItems(defaultFile());
  return *store;
}

int KeychainItems::load(std::vector<json>* items) const {
  std::error_code ec;
  if (!fs::exists(file_, ec)) {
    items->clear();
    return kSecSuccess;
  }
  auto text = foundation::readFile(file_);
  if (!text) return kSecIO;
  auto parsed = parseKeychainFile(*text);
  if (!parsed) return kSecDecode;
  *items = std::move(*parsed);
  return kSecSuccess;
}

int KeychainItems::save(const std::vector<json>& items) const {
  return foundation::writeFileAtomically(file_, writeKeychainFile(items), 0600) ? kSecSuccess : kSecIO;
}

int KeychainItems::add(const json& item) {
  if (!item.is_object() || !item.contains("class") || !item["class"].is_string()) return kSecParam;
  std::lock_guard lock(mutex_);
  FileLock fileLock(file_);
  std::vector<json> items;
  if (int s = load(&items)) return s;
  for (const auto& existing : items) {
    bool same = true;
    for (const char* key : kIdentity) {
      const json a = existing.contains(key) ? existing[key] : json();
      const json b = item.contains(key) ? item[key] : json();
      if (a != b) {
        same = false;
        break;
      }
    }
    if (same) return kSecDuplicateItem;
  }
  items.push_back(item);
  return save(items);
}

int KeychainItems::update(const json& query, const json& changes) {
  if (!query.is_object() || !changes.is_object()) return kSecParam;
  std::lock_guard lock(mutex_);
  FileLock fileLock(file_);
  std::vector<json> items;
  if (int s = load(&items)) return s;
  bool found = false;
  for (auto& item : items) {
    if (!itemMatches(item, query)) continue;
    found = true;
    for (auto it = changes.begin(); it != changes.end(); ++it) item[it.key()] = *it;
  }
  if (!found) return kSecItemNotFound;
  return save(items);
}

int KeychainItems::copyMatching(const json& query, bool all, std::vector<json>* out) {
  if (!query.is_object()) return kSecParam;
  std::lock_guard lock(mutex_);
  std::vector<json> items;
  if (int s = load(&items)) return s;
  std::vector<json> found;
  for (const auto& item : items) {
    if (!itemMatches(item, query)) continue;
    found.push_back(item);
    if (!all) break;
  }
  if (found.empty()) return kSecItemNotFound;
  if (out) *out = std::move(found);
  return kSecSuccess;
}

int KeychainItems::remove(const json& query) {
  if (!query.is_object()) return kSecParam;
  std::lock_guard lock(mutex_);
  FileLock fileLock(file_);
  std::vector<json> items;
  if (int s = load(&items)) return s;
  const size_t before = items.size();
  std::erase_if(items, [&](const json& i) { return itemMatches(i, query); });
  if (items.size() == before) return kSecItemNotFound;
  return save(items);
}

}  // namespace security
