#pragma once
// The phone's secret store as the SDK sees it: password items kept for the user in one
// file outside every application's data folder, so that wiping an application's folders
// (a reinstallation) keeps them. The file is `$KESTRA_KEYCHAIN_FILE` when set, else
// `$XDG_DATA_HOME/keychains/login.keychain.json`; it is created with mode 0600, every change
// is written atomically (temporary file, fsync, rename) under an advisory lock, and every
// operation re-reads it, so two stores on the same file see each other's changes.
//
// An item is a JSON object of attributes named by the platform's short attribute names:
// "class" ("genp" generic password, "inet" internet password), "svce" service, "agrp"
// access group, "acct" account, "srvr" server, "port", "ptcl" protocol, "atyp"
// authentication type, "pdmn" accessibility, "accc" access-control flags, "sync"
// synchronizable, "gena" generic attribute, "labl" label, "icmt" comment, and "v_Data", the
// secret, as base64 text. A query matches an item when every attribute it names is equal;
// "sync": "any" (or no "sync") matches both synchronizable and local items.
//
// Thread-safe. A file that is not a keychain file is never overwritten: every operation on
// it fails with `kSecDecode` and the file stays as it is.

#include <filesystem>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace security {

// Status codes, the platform's own numbers.
enum Status : int {
  kSecSuccess = 0,
  kSecUnimplemented = -4,
  kSecIO = -36,
  kSecParam = -50,
  kSecDuplicateItem = -25299,
  kSecItemNotFound = -25300,
  kSecInteractionNotAllowed = -25308,
  kSecDecode = -26275,
};

class KeychainItems {
 public:
  explicit KeychainItems(std::filesystem::path file);
  // The user's store.
  static KeychainItems& shared();
  // Where `shared()` keeps its file.
  static std::filesystem::path defaultFile();

  // Adds `item` (it must name "class" and may not equal an existing item's identity:
  // class, service/server, access group, account, port, protocol, authentication type).
  int add(const nlohmann::json& item);
  // Changes the attributes of every item matching `query` to those in `changes`.
  int update(const nlohmann::json& query, const nlohmann::json& changes);
  // Items matching `query`: the first (`all` false) or every one, in the order added.
  int copyMatching(const nlohmann::json& query, bool all, std::vector<nlohmann::json>* out);
  // Removes every item matching `query`.
  int remove(const nlohmann::json& query);

  const std::filesystem::path& file() const { return file_; }

 private:
  int load(std::vector<nlohmann::json>* items) const;
  int save(const std::vector<nlohmann::json>& items) const;

  std::filesystem::path file_;
  mutable std::mutex mutex_;
};

// Reads the text of a keychain file: {"version": 1, "items": [ {...}, ... ]}. Nothing when it
// is not one (an item that is not an object, or lacks a text "class").
std::optional<std::vector<nlohmann::json>> parseKeychainFile(std::string_view text);
std::string writeKeychainFile(const std::vector<nlohmann::json>& items);

// Whether `item` matches `query` (see above).
bool itemMatches(const nlohmann::json& item, const nlohmann::json& query);

}  // namespace security
