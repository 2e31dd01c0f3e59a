#pragma once
// The account the device sends mail from. It is set in the user defaults:
//   "mailServer"   the SMTP server's host name (no account without it)
//   "mailPort"     its port (default: 587 with STARTTLS, 465 with TLS, 25 without)
//   "mailSecurity" "STARTTLS" (default), "TLS" (a TLS connection from the start) or "None"
//   "mailUser"     the login name (none: no login)
//   "mailFrom"     the sender's address (default: the login name)
// and its password is the keychain's internet password for that server and login
// (class "inet", "srvr" the server, "acct" the login, "ptcl" "smtp").

#include <optional>
#include <string>

namespace mail {

enum class MailSecurity { None, StartTls, Tls };

struct MailAccount {
  std::string server;
  int port = 0;
  MailSecurity security = MailSecurity::StartTls;
  std::string user;
  std::string password;
  std::string from;
  // A CA file to verify the server with (empty: the system's authorities).
  std::string caFile;

  // The port to use: `port`, or the usual one for `security`.
  int effectivePort() const;
  // "smtp://host:port" or "smtps://host:port".
  std::string url() const;

  // The account of the standard user defaults and the user's keychain; nothing when no
  // server is set.
  static std::optional<MailAccount> fromUserDefaults();
  // Stores `password` for `server` and `user` in the user's keychain (replacing any).
  static bool storePassword(const std::string& server, const std::string& user, const std::string& password);
};

// User-defaults keys of the account.
inline constexpr const char* kMailServerKey = "mailServer";
inline constexpr const char* kMailPortKey = "mailPort";
inline constexpr const char* kMailSecurityKey = "mailSecurity";
inline constexpr const char* kMailUserKey = "mailUser";
inline constexpr const char* kMailFromKey = "mailFrom";

}  // namespace mail
