#include "app/orders/DeviceMail.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/ViewController.h"

namespace orvo {
namespace {

struct MailRun {
  DeviceMail mail;
  std::weak_ptr<ui::ViewController> screen;
  std::weak_ptr<ui::MailComposeViewControllerDelegate> delegate;
  std::function<void(bool)> presented;
  std::vector<ui::MailAttachment> attachments;
  std::vector<std::string> missing;
  size_t next = 0;
};

void present(const std::shared_ptr<MailRun>& run) {
  auto screen = run->screen.lock();
  if (!screen) return;
  auto composer = std::make_shared<ui::MailComposeViewController>();
  composer->setMailComposeDelegate(run->delegate);
  composer->setToRecipients(run->mail.toRecipients);
  composer->setSubject(run->mail.subject);
  composer->setMessageBody(run->mail.htmlBody, true);
  for (auto& a : run->attachments) composer->addAttachmentData(std::move(a.data), a.mimeType, a.fileName);
  const bool shown = screen->presentViewController(composer, true);
  if (shown && !run->missing.empty()) {
    std::string message = "These documents could not be fetched and are not attached:";
    for (const auto& name : run->missing) message += "\n" + name;
    AlertClass::displayAlert(composer, 0, 1, kAppAlertTitle, message);
  }
  if (run->presented) run->presented(shown);
}

void fetchNext(const std::shared_ptr<MailRun>& run) {
  if (run->screen.expired()) return;
  if (run->next == run->mail.documents.size()) {
    present(run);
    return;
  }
  const MailDocument& doc = run->mail.documents[run->next];
  net::HttpRequest request;
  request.url = doc.url;
  if (doc.optional) request.timeout = request.resourceTimeout = kMailProbeTimeout;
  net::HttpClient::shared().send(request, [run](std::optional<net::HttpResponse> response, const net::Error&) {
    const MailDocument& doc = run->mail.documents[run->next++];
    if (response && response->status == 200 && !response->body.empty())
      run->attachments.push_back({ui::ImageBytes(response->body.begin(), response->body.end()), doc.mimeType,
                                  doc.fileName});
    else if (!doc.optional)
      run->missing.push_back(doc.fileName);
    fetchNext(run);
  });
}

}  // namespace

void composeDeviceMail(ui::ViewController& screen, DeviceMail mail,
                       std::weak_ptr<ui::MailComposeViewControllerDelegate> delegate,
                       std::function<void(bool)> presented) {
  if (!ui::MailComposeViewController::canSendMail()) {
    AlertClass::displayAlert(screen.self<ui::ViewController>(), 0, 1, kAppAlertTitle, kNoMailAccountMessage);
    if (presented) presented(false);
    return;
  }
  auto run = std::make_shared<MailRun>();
  run->mail = std::move(mail);
  run->screen = screen.self<ui::ViewController>();
  run->delegate = std::move(delegate);
  run->presented = std::move(presented);
  fetchNext(run);
}

std::string htmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace orvo
