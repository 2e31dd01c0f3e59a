#pragma once
// UICKeyChainStore: the agent's door to the phone's secret store (platform/security). One
// store is a set of password items that share an item class and either a service (generic
// passwords) or a server, protocol and authentication type (internet passwords); items are
// addressed by key (the account attribute) and hold bytes or UTF-8 text. The agent keeps
// what must outlive a reinstallation of the application in `sharedStore()` (service
// "com.okt.OKTVexa").
//
// Errors are in the domain "com.okt.OKTVexa": 1 for a missing key or server, -67594 for a
// value that is not UTF-8, the store's status for a store failure ("Security error has
// occurred."), -99999 for anything else ("Unexpected error has occurred."). An `Error*`
// is written only on failure and only when given. Reading a missing key gives nothing and no
// error; removing one succeeds.
//
// Threads: any; every call goes to the file store synchronously. The shared store and the
// default service are made once, thread-safely.

#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace security {
class KeychainItems;
}

namespace kestra {

using foundation::Bytes;
using foundation::Error;
using OptString = std::optional<std::string>;

inline constexpr const char* kUICKeyChainStoreErrorDomain = "com.okt.OKTVexa";

enum UICKeyChainStoreItemClass : long long { UICKeyChainStoreItemClassGenericPassword = 1, UICKeyChainStoreItemClassInternetPassword = 2 };
enum UICKeyChainStoreErrorCode : int {
  UICKeyChainStoreErrorInvalidArguments = 1,
  UICKeyChainStoreErrorConversion = -67594,
  UICKeyChainStoreErrorUnexpected = -99999,
};
// Protocols 1..29 and authentication types 1..8 in the platform's order; accessibility 1..7.
inline constexpr long long kUICKeyChainStoreAuthenticationTypeDefault = 8;
inline constexpr long long kUICKeyChainStoreAccessibilityAfterFirstUnlock = 2;

class UICKeyChainStore {
 public:
  // Generic-password store of `service` (the default service when absent).
  explicit UICKeyChainStore(OptString service = std::nullopt, OptString accessGroup = std::nullopt);
  // Internet-password store of `server` (a URL; its host and port become attributes).
  UICKeyChainStore(const std::string& server, long long protocolType,
                   long long authenticationType = kUICKeyChainStoreAuthenticationTypeDefault);
  // The agent's store.
  static UICKeyChainStore& sharedStore();
  static std::shared_ptr<UICKeyChainStore> keyChainStore() { return std::make_shared<UICKeyChainStore>(); }
  static std::shared_ptr<UICKeyChainStore> keyChainStoreWithService(OptString service, OptString accessGroup = std::nullopt) {
    return std::make_shared<UICKeyChainStore>(std::move(service), std::move(accessGroup));
  }
  static std::shared_ptr<UICKeyChainStore> keyChainStoreWithServer(const std::string& server, long long protocolType,
                                                                   long long authenticationType = kUICKeyChainStoreAuthenticationTypeDefault) {
    return std::make_shared<UICKeyChainStore>(server, protocolType, authenticationType);
  }
  // The application's identifier, or "" when there is none, until replaced.
  static std::string defaultService();
  static void setDefaultService(std::string service);

  // ---- Items of this store ------------------------------------------------------------
  OptString stringForKey(const OptString& key, Error* error = nullptr) const;
  OptString objectForKeyedSubscript(const OptString& key) const { return stringForKey(key); }
  // An absent value removes the key.
  bool setString(const OptString& value, const OptString& key, Error* error = nullptr);
  bool setString(const OptString& value, const OptString& key, const std::optional<Bytes>& genericAttribute,
                 const OptString& label, const OptString& comment, Error* error = nullptr);
  void setObject(const OptString& value, const OptString& key) { setString(value, key); }
  std::optional<Bytes> dataForKey(const OptString& key, Error* error = nullptr) const;
  bool setData(const std::optional<Bytes>& data, const OptString& key, Error* error = nullptr);
  bool setData(const std::optional<Bytes>& data, const OptString& key, const std::optional<Bytes>& genericAttribute,
               const OptString& label, const OptString& comment, Error* error = nullptr);
  bool removeItemForKey(const OptString& key, Error* error = nullptr);
  bool removeAllItems(Error* error = nullptr);
  bool contains(const OptString& key) const;
  std::vector<std::string> allKeys() const;
  // Prettified items: "class", "service"/"accessGroup" or "server"/"protocol"/
  // "authenticationType", "key", "value" (text, or base64 of bytes that are not UTF-8 under
  // "value" with "valueIsData": true), "accessibility", "synchronizable".
  nlohmann::json allItems() const;
  // The raw attribute dictionaries; nothing when the store fails.
  std::optional<nlohmann::json> items() const;
  std::string description() const;
  std::string debugDescription() const;

  // ---- One-shot operations on any service (absent service: the default one) ---------------
  static OptString stringForKeyInService(const OptString& key, const OptString& service, const OptString& accessGroup,
                                Error* error = nullptr);
  static bool setStringInService(const OptString& value, const OptString& key, const OptString& service,
                        const OptString& accessGroup, const std::optional<Bytes>& genericAttribute, Error* error = nullptr);
  static std::optional<Bytes> dataForKeyInService(const OptString& key, const OptString& service, const OptString& accessGroup,
                                         Error* error = nullptr);
  static bool setDataInService(const std::optional<Bytes>& data, const OptString& key, const OptString& service,
                      const OptString& accessGroup, const std::optional<Bytes>& genericAttribute, Error* error = nullptr);
  static bool removeItemForKeyInService(const OptString& key, const OptString& service, const OptString& accessGroup,
                               Error* error = nullptr);
  static bool removeAllItemsForService(const OptString& service, const OptString& accessGroup = std::nullopt,
                                       Error* error = nullptr);
  // Every item of a class across services: {"service" or "server", "key"} each.
  static std::optional<nlohmann::json> allKeysWithItemClass(long long itemClass);
  static std::optional<nlohmann::json> allItemsWithItemClass(long long itemClass);

  // ---- Shared web credentials (internet stores) -------------------------------------------
  // The phone has no shared web credentials: completions get nothing and an error (the
  // argument error when the store has no server host).
  void sharedPasswordWithCompletion(const std::function<void(OptString account, OptString password, Error)>& completion) const;
  void sharedPasswordForAccount(const std::string& account, const std::function<void(OptString password, Error)>& completion) const;
  void setSharedPassword(const OptString& password, const std::string& account, const std::function<void(Error)>& completion) const;
  void removeSharedPasswordForAccount(const std::string& account, const std::function<void(Error)>& completion) const;
  // A strong password of the platform's form: four groups of three characters.
  static std::string generatePassword();

  // ---- Options ---------------------------------------------------------------------------
  long long itemClass() const { return itemClass_; }
  const std::string& service() const { return service_; }
  const OptString& accessGroup() const { return accessGroup_; }
  const std::string& server() const { return server_; }
  long long protocolType() const { return protocolType_; }
  long long authenticationType() const { return authenticationType_; }
  bool synchronizable() const { return synchronizable_; }
  void setSynchronizable(bool on) { synchronizable_ = on; }
  long long accessibility() const { return accessibility_; }
  void setAccessibility(long long a) { accessibility_ = a; }
  void setAccessibility(long long a, long long authenticationPolicy) {
    accessibility_ = a;
    authenticationPolicy_ = authenticationPolicy;
  }
  long long authenticationPolicy() const { return authenticationPolicy_; }
  const OptString& authenticationPrompt() const { return authenticationPrompt_; }
  void setAuthenticationPrompt(OptString prompt) { authenticationPrompt_ = std::move(prompt); }
  void synchronize() {}
  bool synchronizeWithError(Error* = nullptr) { return true; }

  // Routes this store to another item file (tests).
  void setItemStore(security::KeychainItems* items) { items_ = items; }

 private:
  nlohmann::json query() const;
  bool attributesForKey(const OptString& key, const Bytes& value, nlohmann::json* out, Error* error) const;
  nlohmann::json prettify(const nlohmann::json& item) const;

  long long itemClass_ = UICKeyChainStoreItemClassGenericPassword;
  std::string service_;
  OptString accessGroup_;
  std::string server_;
  long long protocolType_ = 0;
  long long authenticationType_ = 0;
  bool synchronizable_ = false;
  long long accessibility_ = kUICKeyChainStoreAccessibilityAfterFirstUnlock;
  long long authenticationPolicy_ = 0;
  OptString authenticationPrompt_;
  security::KeychainItems* items_;
};

}  // namespace kestra
