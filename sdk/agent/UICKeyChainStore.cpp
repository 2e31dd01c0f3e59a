#include "sdk/agent/UICKeyChainStore.h"

#include <openssl/rand.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/security/KeychainItems.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/foundation/KXBase64.h"

namespace kestra {

using nlohmann::json;

namespace {

const char kKeyMessage[] = "the key must not to be nil";
const char kServerMessage[] =
    "the server property must not to be nil, should use 'keyChainStoreWithServer:protocolType:' initializer to "
    "instantiate keychain store";

constexpr const char* kProtocols[] = {
    "ftp",   "ftpaccount", "http", "irc",      "nntp",       "pop3",     "smtp", "socks", "imap",  "ldap",
    "appletalk", "afp",    "telnet", "ssh",    "ftps",       "https",    "httpproxy", "httpsproxy", "ftpproxy",
    "smb",   "rtsp",       "rtspproxy", "daap", "eppc",       "nntps",    "ldaps", "telnets", "ircs", "pop3s"};
constexpr const char* kAuthTypes[] = {"ntlm", "msn", "dpa", "rpa", "httpbasic", "httpdigest", "htmlform", "default"};
constexpr const char* kAccessibility[] = {"WhenUnlocked",
                                          "AfterFirstUnlock",
                                          "Always",
                                          "WhenPasscodeSetThisDeviceOnly",
                                          "WhenUnlockedThisDeviceOnly",
                                          "AfterFirstUnlockThisDeviceOnly",
                                          "AlwaysThisDeviceOnly"};

template <size_t N>
const char* lookup(const char* const (&table)[N], long long index) {
  return index >= 1 && index <= static_cast<long long>(N) ? table[index - 1] : nullptr;
}

const char* classCode(long long itemClass) {
  if (itemClass == UICKeyChainStoreItemClassGenericPassword) return "genp";
  if (itemClass == UICKeyChainStoreItemClassInternetPassword) return "inet";
  return nullptr;
}

bool argumentError(Error* error, const char* message) {
  return foundation::fail(error, {kUICKeyChainStoreErrorDomain, UICKeyChainStoreErrorInvalidArguments, message});
}
bool securityError(Error* error, int status) {
  return foundation::fail(error, {kUICKeyChainStoreErrorDomain, status, "Security error has occurred."});
}
bool conversionError(Error* error, const char* message) {
  return foundation::fail(error, {kUICKeyChainStoreErrorDomain, UICKeyChainStoreErrorConversion, message});
}

std::string toBase64(const Bytes& b) { return KXBase64::encodeBase64WithData(b).value_or(""); }
std::optional<Bytes> fromBase64(const json& v) {
  if (!v.is_string()) return std::nullopt;
  return KXBase64::decodeBase64WithString(v.get<std::string>());
}

// Host and port of a URL text ("https://host:8443/path").
void splitServer(const std::string& url, std::string* host, std::optional<int>* port) {
  std::string rest = url;
  if (auto p = rest.find("://"); p != std::string::npos) rest = rest.substr(p + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (auto at = rest.rfind('@'); at != std::string::npos) rest = rest.substr(at + 1);
  if (auto colon = rest.rfind(':'); colon != std::string::npos && rest.find(']') == std::string::npos) {
    const std::string digits = rest.substr(colon + 1);
    rest = rest.substr(0, colon);
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 6)
      *port = std::stoi(digits);
  }
  *host = rest;
}

// Never destroyed: the agent's threads may ask for it while the process exits.
struct DefaultService {
  std::mutex mutex;
  std::optional<std::string> service;
};

DefaultService& defaultServiceState() {
  static DefaultService* const s = new DefaultService;
  return *s;
}

}  // namespace

UICKeyChainStore::UICKeyChainStore(OptString service, OptString accessGroup)
    : service_(service ? *service : defaultService()),
      accessGroup_(std::move(accessGroup)),
      items_(&security::KeychainItems::shared()) {}

UICKeyChainStore::UICKeyChainStore(const std::string& server, long long protocolType, long long authenticationType)
    : itemClass_(UICKeyChainStoreItemClassInternetPassword),
      server_(server),
      protocolType_(protocolType),
      authenticationType_(authenticationType),
      items_(&security::KeychainItems::shared()) {}

UICKeyChainStore& UICKeyChainStore::sharedStore() {
  // Lives for the whole process: the agent's threads may still use it while the process exits.
  static UICKeyChainStore* const store = new UICKeyChainStore(std::string("com.okt.OKTVexa"));
  return *store;
}

std::string UICKeyChainStore::defaultService() {
  auto& s = defaultServiceState();
  std::lock_guard lock(s.mutex);
  if (!s.service) s.service = VexaAppSettings::bundleIdentifier();
  return *s.service;
}

void UICKeyChainStore::setDefaultService(std::string service) {
  auto& s = defaultServiceState();
  std::lock_guard lock(s.mutex);
  s.service = std::move(service);
}

json UICKeyChainStore::query() const {
  json q = json::object();
  if (const char* c = classCode(itemClass_)) q["class"] = c;
  q["sync"] = "any";
  if (itemClass_ == UICKeyChainStoreItemClassGenericPassword) {
    q["svce"] = service_;
    if (accessGroup_) q["agrp"] = *accessGroup_;
  } else if (itemClass_ == UICKeyChainStoreItemClassInternetPassword) {
    std::string host;
    std::optional<int> port;
    splitServer(server_, &host, &port);
    if (!host.empty()) q["srvr"] = host;
    if (port) q["port"] = *port;
    if (const char* p = lookup(kProtocols, protocolType_)) q["ptcl"] = p;
    if (const char* a = lookup(kAuthTypes, authenticationType_)) q["atyp"] = a;
  }
  return q;
}

bool UICKeyChainStore::attributesForKey(const OptString& key, const Bytes& value, json* out, Error*) const {
  json a = key ? query() : json::object();
  a.erase("sync");
  if (key) a["acct"] = *key;
  a["v_Data"] = toBase64(value);
  const char* accessible = lookup(kAccessibility, accessibility_);
  if (authenticationPolicy_ == 0 || !accessible) {
    if (accessible) a["pdmn"] = accessible;
  } else {
    a["accc"] = {{"accessibility", accessible}, {"flags", authenticationPolicy_}};
  }
  a["sync"] = synchronizable_;
  *out = std::move(a);
  return true;
}

// ---- Items -----------------------------------------------------------------------------------

std::optional<Bytes> UICKeyChainStore::dataForKey(const OptString& key, Error* error) const {
  if (!key) {
    argumentError(error, kKeyMessage);
    return std::nullopt;
  }
  json q = query();
  q["acct"] = *key;
  std::vector<json> found;
  const int status = items_->copyMatching(q, false, &found);
  if (status == security::kSecItemNotFound) return std::nullopt;
  if (status != security::kSecSuccess) {
    securityError(error, status);
    return std::nullopt;
  }
  auto data = found.front().contains("v_Data") ? fromBase64(found.front()["v_Data"]) : std::nullopt;
  if (!data) foundation::fail(error, {kUICKeyChainStoreErrorDomain, UICKeyChainStoreErrorUnexpected, "Unexpected error has occurred."});
  return data;
}

OptString UICKeyChainStore::stringForKey(const OptString& key, Error* error) const {
  auto data = dataForKey(key, error);
  if (!data) return std::nullopt;
  std::string text(data->begin(), data->end());
  if (!VexaHelper::isValidUtf8(text)) {
    conversionError(error, "failed to convert data to string");
    return std::nullopt;
  }
  return text;
}

bool UICKeyChainStore::setString(const OptString& value, const OptString& key, Error* error) {
  return setString(value, key, std::nullopt, std::nullopt, std::nullopt, error);
}

bool UICKeyChainStore::setString(const OptString& value, const OptString& key, const std::optional<Bytes>& genericAttribute,
                                 const OptString& label, const OptString& comment, Error* error) {
  if (!value) return setData(std::nullopt, key, genericAttribute, label, comment, error);
  if (!VexaHelper::isValidUtf8(*value)) return conversionError(error, "failed to convert string to data");
  return setData(Bytes(value->begin(), value->end()), key, genericAttribute, label, comment, error);
}

bool UICKeyChainStore::setData(const std::optional<Bytes>& data, const OptString& key, Error* error) {
  return setData(data, key, std::nullopt, std::nullopt, std::nullopt, error);
}

bool UICKeyChainStore::setData(const std::optional<Bytes>& data, const OptString& key,
                               const std::optional<Bytes>& genericAttribute, const OptString& label,
                               const OptString& comment, Error* error) {
  if (!key) return argumentError(error, kKeyMessage);
  if (!data) return removeItemForKey(key, error);
  json q = query();
  q["acct"] = *key;
  const int lookupStatus = items_->copyMatching(q, false, nullptr);
  json attributes;
  if (lookupStatus == security::kSecSuccess || lookupStatus == security::kSecInteractionNotAllowed) {
    if (!attributesForKey(std::nullopt, *data, &attributes, error)) return false;
    if (genericAttribute) attributes["gena"] = toBase64(*genericAttribute);
    if (label) attributes["labl"] = *label;
    if (comment) attributes["icmt"] = *comment;
    const int status = items_->update(q, attributes);
    return status == security::kSecSuccess || securityError(error, status);
  }
  if (lookupStatus == security::kSecItemNotFound) {
    if (!attributesForKey(key, *data, &attributes, error)) return false;
    if (genericAttribute) attributes["gena"] = toBase64(*genericAttribute);
    if (label) attributes["labl"] = *label;
    if (comment) attributes["icmt"] = *comment;
    const int status = items_->add(attributes);
    return status == security::kSecSuccess || securityError(error, status);
  }
  return securityError(error, lookupStatus);
}

bool UICKeyChainStore::removeItemForKey(const OptString& key, Error* error) {
  if (!key) return argumentError(error, kKeyMessage);
  json q = query();
  q["acct"] = *key;
  const int status = items_->remove(q);
  return status == security::kSecSuccess || status == security::kSecItemNotFound || securityError(error, status);
}

bool UICKeyChainStore::removeAllItems(Error* error) {
  const int status = items_->remove(query());
  return status == security::kSecSuccess || status == security::kSecItemNotFound || securityError(error, status);
}

bool UICKeyChainStore::contains(const OptString& key) const {
  if (!key) return false;
  json q = query();
  q["acct"] = *key;
  return items_->copyMatching(q, false, nullptr) == security::kSecSuccess;
}

std::optional<json> UICKeyChainStore::items() const {
  std::vector<json> found;
  const int status = items_->copyMatching(query(), true, &found);
  if (status == security::kSecItemNotFound) return json::array();
  if (status != security::kSecSuccess) return std::nullopt;
  return json(found);
}

json UICKeyChainStore::prettify(const json& item) const {
  json p = json::object();
  const std::string cls = item.value("class", "");
  p["class"] = cls == "inet" ? "InternetPassword" : "GenericPassword";
  if (cls == "inet") {
    for (auto [from, to] : {std::pair{"srvr", "server"}, {"ptcl", "protocol"}, {"atyp", "authenticationType"}})
      if (item.contains(from)) p[to] = item[from];
  } else {
    if (item.contains("svce")) p["service"] = item["svce"];
    if (item.contains("agrp")) p["accessGroup"] = item["agrp"];
  }
  if (item.contains("acct")) p["key"] = item["acct"];
  if (auto data = item.contains("v_Data") ? fromBase64(item["v_Data"]) : std::nullopt) {
    std::string text(data->begin(), data->end());
    if (VexaHelper::isValidUtf8(text)) {
      p["value"] = text;
    } else {
      p["value"] = toBase64(*data);
      p["valueIsData"] = true;
    }
  }
  if (item.contains("pdmn")) p["accessibility"] = item["pdmn"];
  if (item.contains("sync")) p["synchronizable"] = item["sync"];
  return p;
}

json UICKeyChainStore::allItems() const {
  json out = json::array();
  if (auto raw = items())
    for (const auto& i : *raw) out.push_back(prettify(i));
  return out;
}

std::vector<std::string> UICKeyChainStore::allKeys() const {
  std::vector<std::string> keys;
  for (const auto& i : allItems())
    if (i.contains("key") && i["key"].is_string()) keys.push_back(i["key"].get<std::string>());
  return keys;
}

std::string UICKeyChainStore::description() const {
  json all = allItems();
  if (all.empty()) return "()";
  std::string out = "(\n";
  for (const auto& i : all) out += "    " + i.dump(4);
  return out + ")";
}

std::string UICKeyChainStore::debugDescription() const {
  auto raw = items();
  return raw ? raw->dump(4) : "(null)";
}

// ---- One-shot operations -----------------------------------------------------------------------

OptString UICKeyChainStore::stringForKeyInService(const OptString& key, const OptString& service, const OptString& accessGroup,
                                         Error* error) {
  if (!key) {
    argumentError(error, kKeyMessage);
    return std::nullopt;
  }
  return UICKeyChainStore(service, accessGroup).stringForKey(key, error);
}

bool UICKeyChainStore::setStringInService(const OptString& value, const OptString& key, const OptString& service,
                                 const OptString& accessGroup, const std::optional<Bytes>& genericAttribute,
                                 Error* error) {
  if (!key) return argumentError(error, kKeyMessage);
  return UICKeyChainStore(service, accessGroup).setString(value, key, genericAttribute, std::nullopt, std::nullopt, error);
}

std::optional<Bytes> UICKeyChainStore::dataForKeyInService(const OptString& key, const OptString& service,
                                                  const OptString& accessGroup, Error* error) {
  if (!key) {
    argumentError(error, kKeyMessage);
    return std::nullopt;
  }
  return UICKeyChainStore(service, accessGroup).dataForKey(key, error);
}

bool UICKeyChainStore::setDataInService(const std::optional<Bytes>& data, const OptString& key, const OptString& service,
                               const OptString& accessGroup, const std::optional<Bytes>& genericAttribute, Error* error) {
  if (!key) return argumentError(error, kKeyMessage);
  return UICKeyChainStore(service, accessGroup).setData(data, key, genericAttribute, std::nullopt, std::nullopt, error);
}

bool UICKeyChainStore::removeItemForKeyInService(const OptString& key, const OptString& service, const OptString& accessGroup,
                                        Error* error) {
  if (!key) return argumentError(error, kKeyMessage);
  return UICKeyChainStore(service, accessGroup).removeItemForKey(key, error);
}

bool UICKeyChainStore::removeAllItemsForService(const OptString& service, const OptString& accessGroup, Error* error) {
  return UICKeyChainStore(service, accessGroup).removeAllItems(error);
}

std::optional<json> UICKeyChainStore::allKeysWithItemClass(long long itemClass) {
  const bool internet = itemClass == UICKeyChainStoreItemClassInternetPassword;
  std::vector<json> found;
  const int status = security::KeychainItems::shared().copyMatching({{"class", internet ? "inet" : "genp"}}, true, &found);
  if (status == security::kSecItemNotFound) return json::array();
  if (status != security::kSecSuccess) return std::nullopt;
  json out = json::array();
  for (const auto& i : found) {
    const char* where = internet ? "srvr" : "svce";
    out.push_back({{internet ? "server" : "service", i.value(where, "")}, {"key", i.value("acct", "")}});
  }
  return out;
}

std::optional<json> UICKeyChainStore::allItemsWithItemClass(long long itemClass) {
  const bool internet = itemClass == UICKeyChainStoreItemClassInternetPassword;
  std::vector<json> found;
  const int status = security::KeychainItems::shared().copyMatching({{"class", internet ? "inet" : "genp"}}, true, &found);
  if (status == security::kSecItemNotFound) return json::array();
  if (status != security::kSecSuccess) return std::nullopt;
  json out = json::array();
  UICKeyChainStore any;
  for (const auto& i : found) out.push_back(any.prettify(i));
  return out;
}

// ---- Shared web credentials ---------------------------------------------------------------------

namespace {
Error credentialsError(const std::string& server) {
  std::string host;
  std::optional<int> port;
  splitServer(server, &host, &port);
  if (host.empty()) return {kUICKeyChainStoreErrorDomain, UICKeyChainStoreErrorInvalidArguments, kServerMessage};
  return {kUICKeyChainStoreErrorDomain, security::kSecUnimplemented, "Security error has occurred."};
}
}  // namespace

void UICKeyChainStore::sharedPasswordWithCompletion(
    const std::function<void(OptString, OptString, Error)>& completion) const {
  if (completion) completion(std::nullopt, std::nullopt, credentialsError(server_));
}
void UICKeyChainStore::sharedPasswordForAccount(const std::string&,
                                                const std::function<void(OptString, Error)>& completion) const {
  if (completion) completion(std::nullopt, credentialsError(server_));
}
void UICKeyChainStore::setSharedPassword(const OptString&, const std::string&,
                                         const std::function<void(Error)>& completion) const {
  if (completion) completion(credentialsError(server_));
}
void UICKeyChainStore::removeSharedPasswordForAccount(const std::string& account,
                                                      const std::function<void(Error)>& completion) const {
  setSharedPassword(std::nullopt, account, completion);
}

std::string UICKeyChainStore::generatePassword() {
  static const char kAlphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  unsigned char random[12];
  if (RAND_bytes(random, sizeof random) != 1) return {};
  std::string out;
  for (size_t i = 0; i < sizeof random; ++i) {
    if (i && i % 3 == 0) out += '-';
    out += kAlphabet[random[i] % (sizeof kAlphabet - 1)];
  }
  return out;
}

}  // namespace kestra
