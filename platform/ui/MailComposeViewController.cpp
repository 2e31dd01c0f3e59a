#include "platform/ui/MailComposeViewController.h"

#include <cmath>

#include "platform/ui/AlertController.h"
#include "platform/ui/Label.h"
#include "platform/ui/Text.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

std::shared_ptr<MailTransport>& transport() {
  static std::shared_ptr<MailTransport> t;
  return t;
}

constexpr int kToTag = 1, kCcTag = 2, kSubjectTag = 3, kBodyTag = 4, kAttachmentsTag = 5;

std::string joined(const std::vector<std::string>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + v[i];
  return out;
}

// The body as it reads: HTML without its tags and with its common entities, white space
// run together as a browser does, lines at breaks and paragraph ends.
std::string readable(const std::string& body, bool html) {
  if (!html) return body;
  std::string out;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == ' ' || body[i] == '\t' || body[i] == '\n' || body[i] == '\r') {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
      continue;
    }
    if (body[i] == '<') {
      size_t end = body.find('>', i);
      if (end == std::string::npos) break;
      std::string tag = body.substr(i + 1, end - i - 1);
      for (auto& c : tag) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (tag.rfind("br", 0) == 0 || tag == "/p" || tag == "/div" || tag == "/tr") {
        if (!out.empty() && out.back() == ' ') out.pop_back();
        out += '\n';
      }
      i = end;
      continue;
    }
    if (body[i] == '&') {
      static const std::pair<const char*, const char*> entities[] = {
          {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&nbsp;", " "}};
      bool replaced = false;
      for (auto& [name, text] : entities)
        if (body.compare(i, std::char_traits<char>::length(name), name) == 0) {
          out += text;
          i += std::char_traits<char>::length(name) - 1;
          replaced = true;
          break;
        }
      if (replaced) continue;
    }
    out += body[i];
  }
  return out;
}

}  // namespace

MailComposeViewController::MailComposeViewController() : ViewController("MailComposeViewController") {
  setModalPresentationStyle(ModalPresentationStyle::FullScreen);
}

bool MailComposeViewController::canSendMail() { return transport() && transport()->canSend(); }

void MailComposeViewController::setMailTransport(std::shared_ptr<MailTransport> t) { transport() = std::move(t); }

void MailComposeViewController::setMessageBody(std::string body, bool isHTML) {
  message_.body = std::move(body);
  message_.bodyIsHTML = isHTML;
  refresh();
}

void MailComposeViewController::addAttachmentData(ImageBytes data, std::string mimeType, std::string fileName) {
  message_.attachments.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
  refresh();
}

void MailComposeViewController::loadView() {
  auto v = std::make_shared<View>(Rect{0, 0, Window::kScreenWidth, Window::kScreenHeight});
  v->setBackgroundColor(Color::whiteColor());
  auto bar = makeView<Toolbar>(Rect{0, Window::kStatusBarHeight, Window::kScreenWidth, Toolbar::kHeight});
  std::weak_ptr<MailComposeViewController> weak = self<MailComposeViewController>();
  auto title = std::make_shared<Label>();
  title->setText("New Message");
  title->setFont(Font::boldSystemFont(17));
  title->setFrame({0, 0, std::ceil(measureText(title->text(), title->font()).width), Toolbar::kHeight});
  title->setTextAlignment(TextAlignment::Center);
  bar->setItems({BarButtonItem::withSystemItem(BarButtonSystemItem::Cancel,
                                               [weak](BarButtonItem&) {
                                                 if (auto me = weak.lock()) me->userCancel();
                                               }),
                 BarButtonItem::withSystemItem(BarButtonSystemItem::FlexibleSpace),
                 BarButtonItem::withCustomView(title),
                 BarButtonItem::withSystemItem(BarButtonSystemItem::FlexibleSpace),
                 BarButtonItem::withTitle("Send", BarButtonItemStyle::Done, [weak](BarButtonItem&) {
                   if (auto me = weak.lock()) me->userSend();
                 })});
  v->addSubview(bar);
  double y = Window::kStatusBarHeight + Toolbar::kHeight;
  for (int tag : {kToTag, kCcTag, kSubjectTag}) {
    auto l = makeView<Label>(Rect{15, y, Window::kScreenWidth - 30, 32});
    l->setTag(tag);
    l->setFont(Font::systemFont(15));
    // A long subject or list of addresses shrinks a little before it is cut.
    l->setAdjustsFontSizeToFitWidth(true);
    l->setMinimumScaleFactor(0.75);
    v->addSubview(l);
    y += 32;
  }
  auto attachments = makeView<Label>(Rect{15, y, Window::kScreenWidth - 30, 0});
  attachments->setTag(kAttachmentsTag);
  attachments->setNumberOfLines(0);
  attachments->setFont(Font::systemFont(13));
  attachments->setTextColor(Color::gray());
  v->addSubview(attachments);
  auto body = makeView<TextView>(Rect{10, y, Window::kScreenWidth - 20, Window::kScreenHeight - y - 10});
  body->setTag(kBodyTag);
  body->setEditable(false);
  v->addSubview(body);
  setView(v);
  refresh();
}

void MailComposeViewController::refresh() {
  if (!isViewLoaded()) return;
  View& v = view();
  if (auto* l = dynamic_cast<Label*>(v.viewWithTag(kToTag))) l->setText("To: " + joined(message_.toRecipients));
  if (auto* l = dynamic_cast<Label*>(v.viewWithTag(kCcTag))) l->setText("Cc: " + joined(message_.ccRecipients));
  if (auto* l = dynamic_cast<Label*>(v.viewWithTag(kSubjectTag))) l->setText("Subject: " + message_.subject);
  double bodyTop = Window::kStatusBarHeight + Toolbar::kHeight + 3 * 32;
  if (auto* l = dynamic_cast<Label*>(v.viewWithTag(kAttachmentsTag))) {
    std::string text;
    for (auto& a : message_.attachments) {
      if (!text.empty()) text += '\n';
      text += "\U0001F4CE ";
      text += a.fileName;
    }
    l->setText(text);
    const double h = 18.0 * static_cast<double>(message_.attachments.size());
    l->setFrame({15, bodyTop, l->frame().width(), h});
    bodyTop += h;
  }
  if (auto* t = dynamic_cast<TextView*>(v.viewWithTag(kBodyTag))) {
    t->setText(readable(message_.body, message_.bodyIsHTML));
    t->setFrame({10, bodyTop, Window::kScreenWidth - 20, Window::kScreenHeight - bodyTop - 10});
  }
}

void MailComposeViewController::userSend() {
  if (finished_ || sending_) return;
  auto t = transport();
  if (!t || !t->canSend())
    return finish(MailComposeResult::Failed,
                  foundation::Error("MFMailComposeErrorDomain", 1, "No mail account is set up to send from"));
  sending_ = true;
  std::weak_ptr<MailComposeViewController> weak = self<MailComposeViewController>();
  t->send(message_, [weak](std::optional<foundation::Error> error) {
    auto me = weak.lock();
    if (!me) return;
    me->sending_ = false;
    me->finish(error ? MailComposeResult::Failed : MailComposeResult::Sent, std::move(error));
  });
}

void MailComposeViewController::userCancel() {
  if (finished_ || sending_ || presentedViewController()) return;
  std::weak_ptr<MailComposeViewController> weak = self<MailComposeViewController>();
  auto choice = AlertController::make("", "", AlertControllerStyle::ActionSheet);
  choice->addAction(AlertAction::make("Delete Draft", AlertActionStyle::Destructive, [weak](AlertAction&) {
    if (auto me = weak.lock()) me->userDeleteDraft();
  }));
  choice->addAction(AlertAction::make("Save Draft", AlertActionStyle::Default, [weak](AlertAction&) {
    if (auto me = weak.lock()) me->userSaveDraft();
  }));
  choice->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel));
  presentViewController(choice, true);
}

void MailComposeViewController::userDeleteDraft() {
  if (finished_ || sending_) return;
  finish(MailComposeResult::Cancelled, std::nullopt);
}

void MailComposeViewController::userSaveDraft() {
  if (finished_ || sending_) return;
  auto t = transport();
  std::optional<foundation::Error> error =
      t ? t->saveDraft(message_)
        : std::optional<foundation::Error>(foundation::Error("MFMailComposeErrorDomain", 1, "No mail account is set up to save drafts in"));
  finish(error ? MailComposeResult::Failed : MailComposeResult::Saved, std::move(error));
}

void MailComposeViewController::finish(MailComposeResult result, std::optional<foundation::Error> error) {
  if (finished_) return;
  finished_ = true;
  auto keep = self<MailComposeViewController>();
  if (auto d = delegate_.lock()) d->mailComposeControllerDidFinishWithResult(*this, result, error);
}

}  // namespace ui
