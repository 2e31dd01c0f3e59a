// Mail through a real SMTP server started for the test (aiosmtpd, testing/services).
#include "platform/mail/SmtpMailTransport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "platform/foundation/RunLoop.h"
#include "testing/net/HttpTestServers.h"
#include "testing/services/SmtpFixture.h"

namespace mail {
namespace {

using namespace std::chrono_literals;

class SmtpSending : public ::testing::Test {
 protected:
  std::optional<foundation::Error> send(SmtpMailTransport& t, const ui::MailMessage& m) {
    bool ended = false;
    std::optional<foundation::Error> outcome;
    t.send(m, [&](std::optional<foundation::Error> e) {
      ended = true;
      outcome = std::move(e);
    });
    EXPECT_TRUE(foundation::RunLoop::main().runUntil([&] { return ended; }, 60s));
    return outcome;
  }
  MailAccount account(int port, std::string user = {}, std::string password = {}) {
    MailAccount a;
    a.server = "127.0.0.1";
    a.port = port;
    a.security = MailSecurity::None;
    a.user = std::move(user);
    a.password = std::move(password);
    a.from = "orders@orvo.test";
    return a;
  }
  services::SmtpFixture smtp;
};

TEST_F(SmtpSending, AMessageArrivesWithItsBodyAndEveryAttachmentByteForByte) {
  ASSERT_TRUE(smtp.start("rep", "s3cret pass")) << smtp.error();
  SmtpMailTransport t([&] { return std::optional<MailAccount>(account(smtp.port(), "rep", "s3cret pass")); });
  ASSERT_TRUE(t.canSend());
  ui::MailMessage m;
  m.toRecipients = {"buyer@example.com"};
  m.ccRecipients = {"boss@example.com"};
  m.subject = "SO# 10001,10002 from Café Nord";
  m.body = "<p>Hello, C&amp;1!</p>                             <p>Thank you</p>";
  m.bodyIsHTML = true;
  std::string binary;
  for (int i = 0; i < 256 * 40; ++i) binary += static_cast<char>(i % 256);
  m.attachments = {{ui::ImageBytes(binary.begin(), binary.end()), "application/pdf", "SO#10001_from_Café Nord.pdf"},
                   {ui::ImageBytes{'P', 'K', 3, 4}, "application/zip", "SO10001.zip"}};
  auto error = send(t, m);
  ASSERT_FALSE(error) << error->text;
  ASSERT_EQ(smtp.waitForMessages(1), 1u);
  auto got = smtp.messages();
  ASSERT_EQ(got.size(), 1u);
  const auto& msg = got[0];
  EXPECT_EQ(msg["envelopeTo"], (nlohmann::json{"buyer@example.com", "boss@example.com"}));
  EXPECT_EQ(msg["from"], "orders@orvo.test");
  EXPECT_EQ(msg["to"], "buyer@example.com");
  EXPECT_EQ(msg["subject"], m.subject);
  EXPECT_EQ(msg["html"].get<std::string>().rfind(m.body, 0), 0u);
  ASSERT_EQ(msg["attachments"].size(), 2u);
  EXPECT_EQ(msg["attachments"][0]["fileName"], "SO#10001_from_Café Nord.pdf");
  EXPECT_EQ(msg["attachments"][0]["mimeType"], "application/pdf");
  EXPECT_EQ(msg["attachments"][0]["data"].get<std::string>(), binary);
  EXPECT_EQ(msg["attachments"][1]["fileName"], "SO10001.zip");
  EXPECT_EQ(msg["attachments"][1]["mimeType"], "application/zip");
  EXPECT_EQ(msg["attachments"][1]["data"].get<std::string>(), std::string("PK\x03\x04", 4));
  // Every byte of the message is 7-bit: the non-ASCII file name and subject went out encoded.
  EXPECT_TRUE(msg["ascii"].get<bool>());
}

TEST_F(SmtpSending, EachMessageHasAMessageIdOfItsOwn) {
  ASSERT_TRUE(smtp.start()) << smtp.error();
  SmtpMailTransport t([&] { return std::optional<MailAccount>(account(smtp.port())); });
  ui::MailMessage m;
  m.toRecipients = {"buyer@example.com"};
  m.subject = "Order";
  m.body = "text";
  m.attachments = {{ui::ImageBytes{'%', 'P', 'D', 'F'}, "application/pdf", "Übersicht \"Q4\"\\Köln ✓.pdf"}};
  ASSERT_FALSE(send(t, m));
  ASSERT_FALSE(send(t, m));
  ASSERT_EQ(smtp.waitForMessages(2), 2u);
  auto got = smtp.messages();
  ASSERT_EQ(got.size(), 2u);
  std::set<std::string> ids;
  for (const auto& msg : got) {
    const std::string id = msg["messageId"];
    EXPECT_EQ(id.front(), '<');
    EXPECT_EQ(id.back(), '>');
    EXPECT_NE(id.find("@orvo.test>"), std::string::npos) << id;
    ids.insert(id);
    EXPECT_TRUE(msg["ascii"].get<bool>());
    ASSERT_EQ(msg["attachments"].size(), 1u);
    EXPECT_EQ(msg["attachments"][0]["fileName"], m.attachments[0].fileName);
  }
  EXPECT_EQ(ids.size(), 2u);
}

TEST(SmtpHeaders, AttachmentNamesAreQuotedOrEncoded) {
  struct Case { const char* name; const char* fileName; const char* disposition; };
  const Case cases[] = {
      {"plain", "SO10001.zip", "attachment; filename=\"SO10001.zip\""},
      {"quote and backslash", "a\"b\\c.pdf", "attachment; filename=\"a\\\"b\\\\c.pdf\""},
      {"non-ASCII", "Café Nord.pdf", "attachment; filename*=UTF-8''Caf%C3%A9%20Nord.pdf"},
      {"line break taken out", "SO\r\n1.pdf", "attachment; filename=\"SO1.pdf\""},
      {"no name", "", "attachment"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(attachmentDisposition(c.fileName), c.disposition);
  }
}

TEST_F(SmtpSending, FailuresComeBackAndNothingIsSentHalfway) {
  ASSERT_TRUE(smtp.start("rep", "right")) << smtp.error();
  ui::MailMessage m;
  m.toRecipients = {"buyer@example.com"};
  m.subject = "Line\r\nBcc: intruder@example.com";
  m.body = "text";
  struct Case {
    const char* name;
    std::optional<MailAccount> account;
    std::vector<std::string> to;
  };
  const Case cases[] = {
      {"no account", std::nullopt, {"buyer@example.com"}},
      {"no recipient", account(smtp.port(), "rep", "right"), {""}},
      {"nobody listening", account(services::freeLoopbackPort(), "rep", "right"), {"buyer@example.com"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpMailTransport t([&] { return c.account; });
    EXPECT_EQ(t.canSend(), c.account.has_value());
    m.toRecipients = c.to;
    auto error = send(t, m);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kSmtpErrorDomain);
    EXPECT_FALSE(error->text.empty());
    EXPECT_TRUE(t.saveDraft(m).has_value());
  }
  // A header value cannot carry another header.
  SmtpMailTransport t([&] { return std::optional<MailAccount>(account(smtp.port(), "rep", "right")); });
  m.toRecipients = {"buyer@example.com"};
  ASSERT_FALSE(send(t, m));
  ASSERT_EQ(smtp.waitForMessages(1), 1u);
  auto got = smtp.messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]["envelopeTo"], (nlohmann::json{"buyer@example.com"}));
  EXPECT_EQ(got[0]["subject"], "LineBcc: intruder@example.com");
}

TEST_F(SmtpSending, TlsProtectsTheLoginAndAStartTlsAccountNeverLogsInInTheClear) {
  services::TempFolder keys("smtp-keys");
  const std::string cert = (keys.path() / "cert.pem").string(), key = (keys.path() / "key.pem").string();
  ASSERT_TRUE(net::testing::makeSelfSignedCertificate(cert, key));
  ui::MailMessage m;
  m.toRecipients = {"buyer@example.com"};
  m.subject = "Order";
  m.body = "text";
  for (auto [tls, security] : {std::pair{services::SmtpTls::StartTls, MailSecurity::StartTls},
                               std::pair{services::SmtpTls::Implicit, MailSecurity::Tls}}) {
    SCOPED_TRACE(static_cast<int>(security));
    services::SmtpFixture server;
    ASSERT_TRUE(server.start("rep", "secret", tls, cert, key)) << server.error();
    MailAccount a = account(server.port(), "rep", "secret");
    a.security = security;
    a.caFile = cert;
    SmtpMailTransport t([&] { return std::optional<MailAccount>(a); });
    auto error = send(t, m);
    ASSERT_FALSE(error) << error->text;
    EXPECT_EQ(server.waitForMessages(1), 1u);
  }
  // A server that offers no STARTTLS: the account asks for it, so nothing is sent.
  services::SmtpFixture plain;
  ASSERT_TRUE(plain.start("rep", "secret")) << plain.error();
  MailAccount a = account(plain.port(), "rep", "secret");
  a.security = MailSecurity::StartTls;
  SmtpMailTransport t([&] { return std::optional<MailAccount>(a); });
  ASSERT_TRUE(send(t, m));
  EXPECT_TRUE(plain.messages().empty());
}

}  // namespace
}  // namespace mail
