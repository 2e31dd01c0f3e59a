#include "app/orders/LineSheetViewController.h"

#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/Util.h"
#include "app/orders/DeviceMail.h"
#include "app/orders/SoapPrint.h"
#include "platform/foundation/Values.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"

namespace orvo {

namespace {

constexpr double kFieldScrollMargin = 140;

std::string lowerCase(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void LineSheetViewController::viewDidLoad() {
  setTitle(ui::localizedString("Line Sheet"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  soapPrint_ = std::make_shared<SoapPrint>(*this);
  printFileNameDic_.clear();
  view().setBackgroundColor(ui::Color::whiteColor());
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));

  sv_background_ = ui::makeView<ui::ScrollView>(view().bounds());
  sv_background_->setDelegate(self<ui::ScrollViewDelegate>());
  view().addSubview(sv_background_);
  lbl_LineSheetSO_ = ui::makeView<ui::Label>({10, 20, 300, 30});
  lbl_LineSheetSO_->setFont(ui::Font::boldSystemFont(20));
  lbl_LineSheetSO_->setTextAlignment(ui::TextAlignment::Center);
  lbl_LineSheetSO_->setText("LINE SHEET SO# " + linesheetSOnumber_);
  sv_background_->addSubview(lbl_LineSheetSO_);
  struct Row {
    const char* title;
    void (LineSheetViewController::*action)();
  };
  const Row rows[] = {{"PRINT DEFAULT FORM", &LineSheetViewController::btn_PrintLineSheetDefaultForm},
                      {"PRINT DETAIL FORM", &LineSheetViewController::btn_PrintLineSheetDetailForm},
                      {"E-MAIL DEFAULT FORM", &LineSheetViewController::btn_EmailLineSheetDefaultForm},
                      {"E-MAIL DETAIL FORM", &LineSheetViewController::btn_EmailLineSheetDetailForm}};
  double y = 70;
  for (const auto& row : rows) {
    auto b = ui::Button::make(row.title, {20, y, 280, 40});
    auto action = row.action;
    b->addTarget(this, [this, action](ui::Control&) { (this->*action)(); }, ui::TouchUpInside);
    sv_background_->addSubview(b);
    y += 50;
    if (action == &LineSheetViewController::btn_PrintLineSheetDetailForm) {
      auto to = ui::makeView<ui::Label>({20, y, 40, 36});
      to->setText("To:");
      sv_background_->addSubview(to);
      txt_ToEmail_ = ui::makeView<ui::TextField>({60, y, 240, 36});
      txt_ToEmail_->setBorderStyle(ui::BorderStyle::RoundedRect);
      txt_ToEmail_->setPlaceholder("E-mail address");
      txt_ToEmail_->setAccessibilityLabel("To");
      txt_ToEmail_->setKeyboardType(ui::KeyboardType::EmailAddress);
      txt_ToEmail_->setDelegate(self<ui::TextFieldDelegate>());
      sv_background_->addSubview(txt_ToEmail_);
      y += 50;
    }
  }
  isFirstLoading_ = true;
}

void LineSheetViewController::viewWillAppear(bool) {
  if (!isFirstLoading_) return;
  sv_background_->setContentSize({320, 500});
  printFileNameDic_.clear();
  createLineSheetPdf("default");
  isFirstLineSheetForm_ = true;
  isFirstLoading_ = false;
}

void LineSheetViewController::textFieldDidBeginEditing(ui::TextField& field) {
  const double centre = field.frame().origin.y + field.frame().size.height / 2;
  sv_background_->setContentOffset({0, centre - kFieldScrollMargin}, true);
}

bool LineSheetViewController::textFieldShouldReturn(ui::TextField& field) {
  field.resignFirstResponder();
  sv_background_->setContentOffset({0, 0}, true);
  return true;
}

std::string LineSheetViewController::getPrintFileName(const std::string& form) const {
  auto it = printFileNameDic_.find("LINESHEET-" + form + linesheetSOnumber_);
  return it == printFileNameDic_.end() ? std::string() : it->second;
}

bool LineSheetViewController::haveFile(const std::string& form, const std::string& fileName) {
  if (!fileName.empty()) return true;
  AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                           "The " + lowerCase(form) + " line sheet of SO# " + linesheetSOnumber_ +
                               " is not ready. Open the line sheets again to have it made.");
  return false;
}

void LineSheetViewController::printLineSheetForm(const std::string& form) {
  const std::string fileName = getPrintFileName(form);
  if (!haveFile(form, fileName)) return;
  if (orvoDelegate_->settings().printUsingServerFlag) {
    printSObyServer(fileName);
    return;
  }
  orvoDelegate_->networkActivityStarted();
  orvoDelegate_->showActivityViewer("Print Line Sheet");
  soapPrint_->airPrintFunc(fileName);
}

void LineSheetViewController::emailLineSheetForm(const std::string& form) {
  if (orvoDelegate_->settings().printUsingServerFlag)
    sendLineSheetEmail(form);
  else
    iOSnativeMailFunc(form);
}

void LineSheetViewController::createLineSheetPdf(const std::string& form) {
  ScreenRequest r;
  r.operation = "CreateLineSheetPdf";
  r.params = {{"orderNumber", linesheetSOnumber_}, {"lineSheetForm", form}};
  r.requestMethod = "-[LineSheetViewController createLineSheetPdf:]";
  r.answerMethod = "-[LineSheetViewController createLineSheetPdfResponseData:]";
  std::weak_ptr<LineSheetViewController> weak = self<LineSheetViewController>();
  // A failure inside the answer closes the screen, as a refusal does; the "detail" form is
  // asked for after the "default" answer whatever it held.
  sendScreenRequest(*this, std::move(r), [weak](const RequestAnswer& a) {
    auto s = weak.lock();
    if (!s) return;
    try {
      s->createLineSheetPdfResponseData(a);
    } catch (const std::exception& e) {
      s->orvoDelegate_->hideActivityViewer();
      s->orvoDelegate_->networkActivityStopped();
      AlertClass::AlertView(*s, 0, 1, "Error",
                            AlertClass::exceptionMessage("-[LineSheetViewController createLineSheetPdfResponseData:]",
                                                         exceptionName(e), e.what()),
                            [weak] {
                              if (auto s = weak.lock()) s->backFunc();
                            },
                            nullptr);
    }
    if (s->isFirstLineSheetForm_) {
      s->isFirstLineSheetForm_ = false;
      s->createLineSheetPdf("detail");
    }
  });
}

void LineSheetViewController::createLineSheetPdfResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer) return;
  std::weak_ptr<LineSheetViewController> weak = self<LineSheetViewController>();
  if (foundation::textForKey(*answer, "Response") != "True") {
    AlertClass::AlertView(*this, 0, 1, "Error", foundation::textForKey(*answer, "Error"),
                          [weak] {
                            if (auto s = weak.lock()) s->backFunc();
                          },
                          nullptr);
    return;
  }
  const std::string key = (isFirstLineSheetForm_ ? "LINESHEET-DEFAULT" : "LINESHEET-DETAIL") + linesheetSOnumber_;
  auto names = JsonClass::getJSONobj(foundation::textForKey(*answer, "PrintFileName"));
  if (!names || !names->is_object()) return;
  if (auto it = names->find(key); it != names->end() && !it->is_null())
    printFileNameDic_[key] = foundation::textValue(*it);
}

void LineSheetViewController::printSObyServer(const std::string& fileName) {
  ScreenRequest r;
  r.operation = "PrintSObyServer";
  r.params = {{"orderNumber", fileName},
              SoapParam::integer("copyMode", 0),
              SoapParam::integer("printerNo", orvoDelegate_->globalSO().printerNum),
              {"type", std::string()}};
  r.requestMethod = "-[LineSheetViewController printSObyServer:]";
  r.answerMethod = "-[LineSheetViewController printSObyServerResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) {
    const auto& answer = a.requireObject();
    if (!answer) return;
    if (foundation::textForKey(*answer, "Response") == "True")
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "LINE SHEET SO# " + linesheetSOnumber_,
                               "LINE SHEET SO#" + linesheetSOnumber_ + " has been printed successfully.");
    else
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", foundation::textForKey(*answer, "Error"));
  });
}

void LineSheetViewController::sendLineSheetEmail(const std::string& form) {
  const std::string fileName = getPrintFileName(form);
  if (!haveFile(form, fileName)) return;
  ScreenRequest r;
  r.operation = "SendLineSheetEmail";
  r.params = {{"orderNumber", linesheetSOnumber_},
              {"linesheetForm", form},
              {"printFileName", fileName},
              {"toEmails", txt_ToEmail_->text()}};
  r.requestMethod = "-[LineSheetViewController sendLineSheetEmail:]";
  r.answerMethod = "-[LineSheetViewController sendLineSheetEmailResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) {
    const auto& answer = a.requireObject();
    if (!answer) return;
    if (foundation::textForKey(*answer, "Response") == "True")
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Line Sheet SO# " + linesheetSOnumber_,
                               "The line sheet email has been sent successfully.");
    else
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", foundation::textForKey(*answer, "Error"));
  });
}

void LineSheetViewController::iOSnativeMailFunc(const std::string& form) {
  const std::string fileName = getPrintFileName(form);
  if (!haveFile(form, fileName)) return;
  const std::string division = orvoDelegate_->globalSO().divisionCode;
  DeviceMail mail;
  mail.documents.push_back({Util::percentEscaped(Util::getPdfUrl() + "/" + fileName + ".pdf"), "application/pdf",
                            "LINE_SHEET_SO#" + linesheetSOnumber_ + "_from_" + division + ".pdf"});
  mail.toRecipients = {txt_ToEmail_->text()};
  mail.subject = "Line Sheet SO# " + linesheetSOnumber_ + " from " + division;
  mail.htmlBody =
      "<p>Hello</p>                             <p>You can find the line sheet from attached file.</p>     "
      "                        <p>If you have any questions, please contact us.</p>                             "
      "<p>Thank you again for your business.</p><br>";
  composeDeviceMail(*this, std::move(mail), self<ui::MailComposeViewControllerDelegate>());
}

void LineSheetViewController::mailComposeControllerDidFinishWithResult(ui::MailComposeViewController& controller,
                                                                       ui::MailComposeResult result,
                                                                       const std::optional<foundation::Error>&) {
  controller.dismissViewControllerAnimated(true);
  if (result == ui::MailComposeResult::Failed)
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", "Can not send mail");
}

void LineSheetViewController::backFunc() {
  if (auto* nav = navigationController(); nav && nav->presentingViewController())
    nav->presentingViewController()->dismissViewControllerAnimated(true);
  else
    dismissViewControllerAnimated(true);
}

}  // namespace orvo
