#pragma once
// The mail composer: a screen that a screen fills in (recipients, subject, body as text or
// HTML, attachments) and presents. It shows the message with "Cancel" and "Send" in its
// bar; the user (or a test) answers, and the mail delegate hears the result once:
//   - "Send" hands the message to the mail transport; Sent once it took it, Failed with
//     its error otherwise;
//   - "Cancel" offers "Delete Draft" (Cancelled) and "Save Draft" (Saved, the message is
//     handed to the transport's drafts).
// As on the platform, the delegate dismisses the composer. Mail goes out only through an
// installed transport (SMTP in the application, a fake in tests): without one
// `canSendMail` answers false. Main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"
#include "platform/ui/ViewController.h"

namespace ui {

class MailComposeViewController;

enum class MailComposeResult { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

struct MailAttachment {
  ImageBytes data;
  std::string mimeType;
  std::string fileName;
};

struct MailMessage {
  std::vector<std::string> toRecipients, ccRecipients, bccRecipients;
  std::string subject;
  std::string body;
  bool bodyIsHTML = false;
  std::vector<MailAttachment> attachments;
};

class MailTransport {
 public:
  virtual ~MailTransport() = default;
  // Whether an account is set up to send from.
  virtual bool canSend() = 0;
  // Sends `message`; calls `done` once on the main queue with nullopt or the failure.
  virtual void send(const MailMessage& message, std::function<void(std::optional<foundation::Error>)> done) = 0;
  // Keeps `message` as a draft; nullopt or the failure.
  virtual std::optional<foundation::Error> saveDraft(const MailMessage& message) { (void)message; return std::nullopt; }
};

class MailComposeViewControllerDelegate {
 public:
  virtual ~MailComposeViewControllerDelegate() = default;
  virtual void mailComposeControllerDidFinishWithResult(MailComposeViewController& controller,
                                                        MailComposeResult result,
                                                        const std::optional<foundation::Error>& error) = 0;
};

class MailComposeViewController : public ViewController {
 public:
  MailComposeViewController();

  static bool canSendMail();
  // Installs the mail transport (nullptr: none).
  static void setMailTransport(std::shared_ptr<MailTransport> transport);

  void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> d) { delegate_ = std::move(d); }
  void setToRecipients(std::vector<std::string> to) { message_.toRecipients = std::move(to); refresh(); }
  void setCcRecipients(std::vector<std::string> cc) { message_.ccRecipients = std::move(cc); refresh(); }
  void setBccRecipients(std::vector<std::string> bcc) { message_.bccRecipients = std::move(bcc); }
  void setSubject(std::string subject) { message_.subject = std::move(subject); refresh(); }
  void setMessageBody(std::string body, bool isHTML);
  void addAttachmentData(ImageBytes data, std::string mimeType, std::string fileName);
  const MailMessage& message() const { return message_; }

  // The user's answers (the bar's buttons and the draft choice do the same).
  void userSend();
  void userCancel();                 // offers the draft choice
  void userDeleteDraft();            // Cancelled
  void userSaveDraft();              // Saved (or Failed)
  bool isFinished() const { return finished_; }

  void loadView() override;

 private:
  void finish(MailComposeResult result, std::optional<foundation::Error> error);
  void refresh();
  MailMessage message_;
  std::weak_ptr<MailComposeViewControllerDelegate> delegate_;
  bool finished_ = false;
  bool sending_ = false;
};

}  // namespace ui
