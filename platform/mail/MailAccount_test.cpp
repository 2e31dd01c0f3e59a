#include "platform/mail/MailAccount.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/foundation/UserDefaults.h"
#include "testing/services/ServiceProcess.h"

namespace mail {
namespace {

TEST(MailAccount, ComesFromTheUserDefaultsWithItsPasswordFromTheKeychain) {
  services::TempFolder folder("mail-account");
  ::setenv("XDG_CONFIG_HOME", (folder.path() / "config").c_str(), 1);
  ::setenv("KESTRA_KEYCHAIN_FILE", (folder.path() / "login.keychain.json").c_str(), 1);
  foundation::UserDefaults::resetStandard();
  auto& d = foundation::UserDefaults::standard();
  EXPECT_FALSE(MailAccount::fromUserDefaults());  // no server, no account

  struct Case {
    const char* security;
    long long port;
    MailSecurity expected;
    std::string url;
  };
  const Case cases[] = {{nullptr, 0, MailSecurity::StartTls, "smtp://mail.example.com:587"},
                        {"TLS", 0, MailSecurity::Tls, "smtps://mail.example.com:465"},
                        {"none", 2525, MailSecurity::None, "smtp://mail.example.com:2525"}};
  d.setString(kMailServerKey, "mail.example.com");
  d.setString(kMailUserKey, "rep");
  ASSERT_TRUE(MailAccount::storePassword("mail.example.com", "rep", "first"));
  ASSERT_TRUE(MailAccount::storePassword("mail.example.com", "rep", "pa:ss w\xC3\xB6rd"));  // replaces
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    if (c.security) d.setString(kMailSecurityKey, c.security);
    d.setInteger(kMailPortKey, c.port);
    auto a = MailAccount::fromUserDefaults();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->security, c.expected);
    EXPECT_EQ(a->url(), c.url);
    EXPECT_EQ(a->user, "rep");
    EXPECT_EQ(a->from, "rep");  // the login when no sender is set
    EXPECT_EQ(a->password, "pa:ss w\xC3\xB6rd");
  }
  d.setString(kMailFromKey, "orders@example.com");
  EXPECT_EQ(MailAccount::fromUserDefaults()->from, "orders@example.com");
  // The password is not written into the user defaults.
  d.synchronize();
  EXPECT_EQ(services::readFile(folder.path() / "config/OrvoMobile/defaults.json").find("w\xC3\xB6rd"), std::string::npos);
}

}  // namespace
}  // namespace mail
