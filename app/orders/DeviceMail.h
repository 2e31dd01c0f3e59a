#pragma once
// E-mail composed on the device: the documents of a message are fetched from the back
// office one after the other (never on the main thread), then the mail composer opens
// with the recipients, the subject, the HTML body and each fetched document attached in
// the given order, over `screen`, its result going to `delegate`. A document that is
// optional (a picture or an archive that may be missing) is left out when it cannot be
// fetched; a required one (an order's PDF) that cannot be fetched does not stop the mail:
// the composer opens without it and the user is told which one is missing. Without a
// mail account the composer does not open and the user is told how to set one up.
// Main thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/MailComposeViewController.h"

namespace ui { class ViewController; }

namespace orvo {

struct MailDocument {
  std::string url;       // fetched as given
  std::string mimeType;
  std::string fileName;
  bool optional = false;  // fetched within kMailProbeTimeout, left out quietly when missing
};

// How long an optional attachment may take to answer.
inline constexpr foundation::Duration kMailProbeTimeout = std::chrono::seconds(3);

inline constexpr const char* kNoMailAccountMessage =
    "No e-mail account is set up on this device, so nothing was sent.\nAsk your administrator to set up "
    "the mail account, then try again.";

struct DeviceMail {
  std::vector<std::string> toRecipients;
  std::string subject;
  std::string htmlBody;
  std::vector<MailDocument> documents;
};

// Fetches and composes `mail`; `presented` (optional) runs once the composer is up, or with
// false when it did not open. Nothing is called back once `screen` is gone.
void composeDeviceMail(ui::ViewController& screen, DeviceMail mail,
                       std::weak_ptr<ui::MailComposeViewControllerDelegate> delegate,
                       std::function<void(bool presented)> presented = nullptr);

// `text` with the characters that mean something in HTML written as entities.
std::string htmlEscaped(const std::string& text);

}  // namespace orvo
