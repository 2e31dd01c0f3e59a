#pragma once
// Sending the mail composer's messages over SMTP (libcurl), behind `ui::MailTransport`.
//
// The account is read when it is needed (each `canSend` and `send`), so a change in the
// user defaults takes effect at once; mail can be sent while an account with a server is
// set. A message goes out as MIME: "multipart/mixed" with the body (HTML or plain text,
// UTF-8, quoted-printable) followed by each attachment (base64, with its MIME type and
// file name, the name encoded when it is not ASCII), the subject encoded when it is not
// ASCII, and a Message-ID of its own. Line breaks are taken out of header values. Sending runs on a thread of its own; `done` runs on the main queue with
// nothing once the server took the message, or the failure (no account, no recipient, the
// server unreachable or refusing, a login refused). Drafts are not kept: saving one fails.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/mail/MailAccount.h"
#include "platform/ui/MailComposeViewController.h"

namespace mail {

inline constexpr const char* kSmtpErrorDomain = "SMTPErrorDomain";
inline constexpr std::chrono::seconds kSmtpConnectTimeout{15};
inline constexpr std::chrono::seconds kSmtpSendTimeout{120};

class SmtpMailTransport : public ui::MailTransport {
 public:
  using AccountSource = std::function<std::optional<MailAccount>()>;
  // `account` gives the account to send from (default: the user defaults' one).
  explicit SmtpMailTransport(AccountSource account = &MailAccount::fromUserDefaults);

  bool canSend() override;
  void send(const ui::MailMessage& message, std::function<void(std::optional<foundation::Error>)> done) override;
  std::optional<foundation::Error> saveDraft(const ui::MailMessage& message) override;

 private:
  AccountSource account_;
};

// The header value as it is sent: line breaks removed, and encoded (RFC 2047) when not ASCII.
std::string headerValue(const std::string& text);

// The Content-Disposition value of an attachment named `fileName`: the name quoted when it
// is printable ASCII, else encoded as RFC 2231 gives ("filename*=UTF-8''..."); line breaks
// removed.
std::string attachmentDisposition(const std::string& fileName);

}  // namespace mail
