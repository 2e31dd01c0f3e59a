#include "platform/mail/MailAccount.h"

#include <openssl/evp.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/foundation/UserDefaults.h"
#include "platform/security/KeychainItems.h"

namespace mail {
namespace {

nlohmann::json passwordQuery(const std::string& server, const std::string& user) {
  return {{"class", "inet"}, {"srvr", server}, {"acct", user}, {"ptcl", "smtp"}};
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string decodeBase64(const std::string& text) {
  if (text.empty() || text.size() % 4) return {};
  std::vector<unsigned char> out(text.size() / 4 * 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return {};
  size_t size = static_cast<size_t>(n);
  for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i) --size;
  return std::string(out.begin(), out.begin() + static_cast<long>(size));
}

std::string encodeBase64(const std::string& bytes) {
  std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
  const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  return std::string(out.begin(), out.begin() + n);
}

}  // namespace

int MailAccount::effectivePort() const {
  if (port > 0) return port;
  switch (security) {
    case MailSecurity::Tls: return 465;
    case MailSecurity::StartTls: return 587;
    case MailSecurity::None: return 25;
  }
  return 25;
}

std::string MailAccount::url() const {
  return std::string(security == MailSecurity::Tls ? "smtps://" : "smtp://") + server + ":" +
         std::to_string(effectivePort());
}

std::optional<MailAccount> MailAccount::fromUserDefaults() {
  auto& defaults = foundation::UserDefaults::standard();
  MailAccount a;
  a.server = defaults.stringForKey(kMailServerKey).value_or("");
  if (a.server.empty()) return std::nullopt;
  a.port = static_cast<int>(defaults.integerForKey(kMailPortKey));
  const std::string security = lower(defaults.stringForKey(kMailSecurityKey).value_or("starttls"));
  a.security = security == "tls" ? MailSecurity::Tls : security == "none" ? MailSecurity::None : MailSecurity::StartTls;
  a.user = defaults.stringForKey(kMailUserKey).value_or("");
  a.from = defaults.stringForKey(kMailFromKey).value_or(a.user);
  if (!a.user.empty()) {
    std::vector<nlohmann::json> items;
    if (security::KeychainItems::shared().copyMatching(passwordQuery(a.server, a.user), false, &items) ==
            security::kSecSuccess &&
        !items.empty())
      if (auto data = items.front().find("v_Data"); data != items.front().end() && data->is_string())
        a.password = decodeBase64(data->get<std::string>());
  }
  return a;
}

bool MailAccount::storePassword(const std::string& server, const std::string& user, const std::string& password) {
  auto& keychain = security::KeychainItems::shared();
  const auto query = passwordQuery(server, user);
  keychain.remove(query);
  auto item = query;
  item["v_Data"] = encodeBase64(password);
  return keychain.add(item) == security::kSecSuccess;
}

}  // namespace mail
