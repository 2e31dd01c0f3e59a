// The last screen's e-mail address prompt (the gate before the e-mail operations of the
// server and the web-shop customer) and the e-mail composed on the device.
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/Util.h"
#include "app/orders/DeviceMail.h"
#include "app/orders/LastSelectorViewController.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Text.h"
#include "platform/ui/TextField.h"

namespace orvo {

namespace {

// The blanks between the paragraphs of the order e-mail's body.
const std::string kBodyGap(29, ' ');
constexpr auto kWaitViewDelay = std::chrono::milliseconds(300);

bool isGateTag(int tag) { return tag >= kEmailGateSendSOEmail && tag <= kEmailGateWebShopCustomer; }

}  // namespace

void LastSelectorViewController::checkEmail(int tag, bool reEnterEmailFlag) {
  if (!orvoDelegate_->globalSO().orderEmail1.empty()) {
    emailGate(tag);
    return;
  }
  setEmailFlag_ = true;
  auto prompt = std::make_shared<ui::AlertView>(
      ui::localizedString(kAppAlertTitle),
      reEnterEmailFlag ? "Please enter valid email address." : "Please enter email address",
      self<ui::AlertViewDelegate>(), "", std::vector<std::string>{"Ok", "Cancel"});
  prompt->setAlertViewStyle(ui::AlertViewStyle::PlainTextInput);
  prompt->textFieldAtIndex(0)->setKeyboardType(ui::KeyboardType::EmailAddress);
  prompt->setTag(tag);
  prompt->show();
}

void LastSelectorViewController::clickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) {
  const int tag = alert.tag();
  if (buttonIndex != 0 || !isGateTag(tag)) return;
  auto field = alert.textFieldAtIndex(0);
  const std::string typed = field ? field->text() : std::string();
  if (!Util::validEmail(typed)) {
    checkEmail(tag, true);
    return;
  }
  orvoDelegate_->globalSO().orderEmail1 = typed;
  emailGate(tag);
}

DeviceMail LastSelectorViewController::deviceMail() const {
  const GlobalSO& so = orvoDelegate_->globalSO();
  const std::string pdfFolder = Util::getPdfUrl();
  const std::string imageBase = Util::getImgUrl();
  DeviceMail mail;
  for (const auto& number : sOrderNumberArray_) {
    auto name = printFileNameDic_.find(number);
    mail.documents.push_back(
        {name == printFileNameDic_.end() ? std::string() : Util::percentEscaped(pdfFolder + "/SO" + name->second + ".pdf"),
         "application/pdf", "SO#" + number + "_from_" + companyName_ + ".pdf"});
    if (!orvoDelegate_->settings().EmailImgZipFlag) continue;
    auto list = attachmentFileNameDic_.find(number);
    if (list == attachmentFileNameDic_.end()) continue;
    auto names = JsonClass::getJSONobj(list->second);
    if (!names || !names->is_array()) continue;
    for (const auto& entry : *names) {
      const std::string file = foundation::textValue(entry);
      const bool archive = file.size() >= 4 && file.compare(file.size() - 4, 4, ".zip") == 0;
      const std::string url = archive ? imageBase + "/SOimgZip/" + file
                                      : imageBase + "/resizeImages/SO" + number + "/" + file;
      mail.documents.push_back({Util::percentEscaped(url), archive ? "application/zip" : "image/jpeg", file, true});
    }
  }
  mail.toRecipients = {so.orderEmail1};
  mail.subject = "SO# " + so.orderNumber + " from " + companyName_;
  mail.htmlBody = "<p>Hello, " + htmlEscaped(so.customerID) + "!</p>" + kBodyGap + "<p>Thank you for your order from " +
                  htmlEscaped(companyName_) + ".</p>" + kBodyGap +
                  "<p>You can check the order list from attached file.</p>" + kBodyGap +
                  "<p>If you have any questions about your order please contact us.</p>" + kBodyGap +
                  "<p>Thank you again for your business.</p><br>";
  return mail;
}

void LastSelectorViewController::eMailFunc() {
  std::weak_ptr<LastSelectorViewController> weak = self<LastSelectorViewController>();
  composeDeviceMail(*this, deviceMail(), self<ui::MailComposeViewControllerDelegate>(), [weak](bool) {
    foundation::MainQueue::postAfter(kWaitViewDelay, [weak] {
      if (auto s = weak.lock()) s->dealyForWaitView();
    });
  });
}

void LastSelectorViewController::mailComposeControllerDidFinishWithResult(ui::MailComposeViewController& controller,
                                                                          ui::MailComposeResult result,
                                                                          const std::optional<foundation::Error>&) {
  controller.dismissViewControllerAnimated(true);
  if (result == ui::MailComposeResult::Failed)
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", "Can not send mail");
}

void LastSelectorViewController::dealyForWaitView() {
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
}

}  // namespace orvo
