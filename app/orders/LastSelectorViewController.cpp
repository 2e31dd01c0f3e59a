#include "app/orders/LastSelectorViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

namespace {
constexpr const char* kCardCaptureTitle = "CREDIT CARD CAPTURE";
}

void LastSelectorViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  Settings& settings = orvoDelegate_->settings();
  setTitle(ui::localizedString("Confirm"));
  view().setBackgroundColor(ui::Color::whiteColor());
  firstViewDidLoadFlag_ = true;
  printSoAndEmailFlag_ = printAllandEmailFlag_ = skipGetOrderCustomerInfoFlag_ = setEmailFlag_ = false;
  settings.authorizeSuccessFlag = false;
  sOrderNumberArray_.clear();
  printFileNameDic_.clear();
  attachmentFileNameDic_.clear();

  navigationItem().setHidesBackButton(true);
  navigationItem().setRightBarButtonItem(barImageButton("unlock.png", "Logout", [this] { logoutButtonClicked(); }));
  if (!settings.multiSoFlag)
    navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
        ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  companyName_ = foundation::UserDefaults::standard().stringForKey(defaults::companyName).value_or("");

  lbl_so_ = ui::makeView<ui::Label>({10, 10, 220, 30});
  lbl_so_->setAdjustsFontSizeToFitWidth(true);
  lbl_so_->setFont(ui::Font::boldSystemFont(20));
  view().addSubview(lbl_so_);
  btn_www_ = ui::Button::make("WWW", {240, 10, 70, 30});
  btn_www_->addTarget(this, [this](ui::Control&) { btn_wwwFunc(); }, ui::TouchUpInside);
  view().addSubview(btn_www_);
  if (!settings.WebNewCustomerFlag) {
    btn_www_->setHidden(true);
    lbl_so_->setFrame({10, 10, 300, 30});
    lbl_so_->setTextAlignment(ui::TextAlignment::Center);
  }

  struct ButtonLayout {
    const char* title;
    void (LastSelectorViewController::*action)();
    std::shared_ptr<ui::Button>* outlet;
  };
  const ButtonLayout buttons[] = {
      {"PRINT SO", &LastSelectorViewController::btn_PrintFunc, nullptr},
      {"PRINT CC FORM", &LastSelectorViewController::btn_printCcFunc, &btn_cc_},
      {"E-MAIL SO", &LastSelectorViewController::btn_eMailFunc, nullptr},
      {"PRINT SO & E-MAIL", &LastSelectorViewController::btn_printAndEmail, &btn_printSoAndEmail_},
      {"PRINT ALL & E-MAIL", &LastSelectorViewController::btn_printAllandEmail, &btn_printAllAndEmail_},
      {kCardCaptureTitle, &LastSelectorViewController::btn_ccFunc, &btn_ccCapture_},
      {"LINE SHEET", &LastSelectorViewController::btn_linesheetFunc, &btn_linesheet_},
      {"DUPLICATE SO", &LastSelectorViewController::btn_duplicateSOfunc, nullptr},
      {"INVOICE", &LastSelectorViewController::btn_invoiceFunc, nullptr},
      {"MAIN", &LastSelectorViewController::btn_mainFunc, nullptr},
  };
  double y = 50;
  for (const auto& button : buttons) {
    // "PRINT ALL & E-MAIL" takes the place of "PRINT SO & E-MAIL" once a card is on file.
    if (button.outlet == &btn_printAllAndEmail_) y -= 42;
    auto b = ui::Button::make(button.title, {20, y, 280, 36});
    auto action = button.action;
    b->addTarget(this, [this, action](ui::Control&) { (this->*action)(); }, ui::TouchUpInside);
    view().addSubview(b);
    buttons_.push_back(b);
    if (button.outlet) *button.outlet = b;
    y += 42;
  }
  if (!settings.isLineSheetMode) btn_linesheet_->setHidden(true);
}

void LastSelectorViewController::viewWillAppear(bool) {
  Settings& settings = orvoDelegate_->settings();
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  // Back from the card screen: a capture counts only when that visit stored a card; a
  // visit that stored nothing leaves the flag as it was before it.
  bool newCapture = false;
  if (ccVisit_) {
    ccVisit_ = false;
    newCapture = settings.authorizeSuccessFlag;
    if (!newCapture && authorizedBeforeVisit_) settings.authorizeSuccessFlag = true;
  }
  if (settings.authorizeSuccessFlag) {
    btn_cc_->setEnabled(true);
    btn_cc_->setAlpha(1.0);
    btn_printAllAndEmail_->setHidden(false);
    btn_printSoAndEmail_->setHidden(true);
    if (newCapture) {
      ++ccCaptureCount_;
      btn_ccCapture_->setTitle(std::string(kCardCaptureTitle) + " (" + std::to_string(ccCaptureCount_) + ")");
    }
    skipGetOrderCustomerInfoFlag_ = true;
  } else {
    btn_cc_->setEnabled(false);
    btn_cc_->setAlpha(0.5);
    btn_printAllAndEmail_->setHidden(true);
    btn_printSoAndEmail_->setHidden(false);
    btn_ccCapture_->setEnabled(true);
    btn_ccCapture_->setAlpha(1.0);
    if (!firstViewDidLoadFlag_) skipGetOrderCustomerInfoFlag_ = true;
  }
  firstViewDidLoadFlag_ = false;
  if (settings.duplicateSoFlag) {
    skipGetOrderCustomerInfoFlag_ = false;
    settings.duplicateSoFlag = false;
    navigationItem().setLeftBarButtonItem(nullptr);
  }
  if (settings.realtimeSoFlag) settings.realtimeSoLastViewFlag = true;
  const std::string& orderNumber = orvoDelegate_->globalSO().orderNumber;
  if (!skipGetOrderCustomerInfoFlag_) {
    sOrderNumberArray_.clear();
    for (size_t at = 0;;) {
      const size_t comma = orderNumber.find(',', at);
      sOrderNumberArray_.push_back(orderNumber.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    printFileNameDic_.clear();
    attachmentFileNameDic_.clear();
    createSOpdf();
  } else {
    skipGetOrderCustomerInfoFlag_ = false;
  }
  lbl_so_->setText("SO# " + orderNumber);
}

ui::Button* LastSelectorViewController::button(const std::string& title) const {
  for (const auto& b : buttons_)
    if (b->titleForState(ui::ControlState::Normal).rfind(title, 0) == 0) return b.get();
  return nullptr;
}

std::string LastSelectorViewController::soTitle() const { return "SO# " + orvoDelegate_->globalSO().orderNumber; }

// ----- Buttons

void LastSelectorViewController::btn_PrintFunc() {
  if (orvoDelegate_->settings().printUsingServerFlag) {
    printSObyServer();
    return;
  }
  orvoDelegate_->networkActivityStarted();
  orvoDelegate_->showActivityViewer("PrintSO");
  startDevicePrint(kPrintKindSO);
}

void LastSelectorViewController::btn_printCcFunc() {
  if (orvoDelegate_->settings().printUsingServerFlag) {
    printCCbyServer();
    return;
  }
  orvoDelegate_->networkActivityStarted();
  orvoDelegate_->showActivityViewer("PrintCC");
  startDevicePrint(kPrintKindCC);
}

void LastSelectorViewController::btn_eMailFunc() {
  if (orvoDelegate_->settings().printUsingServerFlag) {
    checkEmail(kEmailGateSendSOEmail, false);
    return;
  }
  orvoDelegate_->networkActivityStarted();
  orvoDelegate_->showActivityViewer("E-Mail");
  std::weak_ptr<LastSelectorViewController> weak = self<LastSelectorViewController>();
  foundation::MainQueue::post([weak] {
    if (auto s = weak.lock()) s->eMailFunc();
  });
}

void LastSelectorViewController::btn_printAndEmail() {
  if (orvoDelegate_->settings().printUsingServerFlag) {
    checkEmail(kEmailGatePrintSOandEmail, false);
    return;
  }
  printSoAndEmailFlag_ = true;
  orvoDelegate_->networkActivityStarted();
  orvoDelegate_->showActivityViewer("Print & Email");
  startDevicePrint(printAllandEmailFlag_ ? kPrintKindAll : kPrintKindSO);
}

void LastSelectorViewController::btn_printAllandEmail() {
  if (orvoDelegate_->settings().printUsingServerFlag) {
    checkEmail(kEmailGatePrintALLandEmail, false);
    return;
  }
  printAllandEmailFlag_ = true;
  btn_printAndEmail();
}

void LastSelectorViewController::btn_ccFunc() {
  Settings& settings = orvoDelegate_->settings();
  authorizedBeforeVisit_ = settings.authorizeSuccessFlag;
  settings.authorizeSuccessFlag = false;
  ccVisit_ = true;
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("CcViewController"), true);
}

void LastSelectorViewController::btn_wwwFunc() { checkEmail(kEmailGateWebShopCustomer, false); }

void LastSelectorViewController::btn_linesheetFunc() {
  auto sheets = makeScreen("LineSheetViewController");
  if (!sheets) return;
  if (auto* receiver = dynamic_cast<LineSheetReceiver*>(sheets.get()))
    receiver->setLinesheetSOnumber(orvoDelegate_->globalSO().orderNumber);
  presentInNewNavigation(*this, sheets);
}

void LastSelectorViewController::btn_duplicateSOfunc() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Are you sure you want to duplicate SO?", [this] { yesDuplicateSO(); },
                        nullptr);
}

void LastSelectorViewController::btn_mainFunc() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Are you sure?", [this] { yesMain(); }, nullptr);
}

void LastSelectorViewController::logoutButtonClicked() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?", [this] { yesAlertLogout(); }, nullptr);
}

void LastSelectorViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void LastSelectorViewController::yesDuplicateSO() {
  auto customers = makeScreen("CustomerView");
  GlobalSO& so = orvoDelegate_->globalSO();
  Settings& settings = orvoDelegate_->settings();
  so.bcFrontImageBase64.clear();
  so.bcBackImageBase64.clear();
  settings.soEditSelectFlag = false;
  settings.duplicateSoFlag = true;
  so.pDupNum = so.orderNumber;
  if (settings.realtimeSoFlag) settings.realtimeSoLastViewFlag = false;
  if (auto* nav = navigationController()) nav->pushViewController(customers, true);
}

// Back to the order selector: the screen below the order type screen on this stack.
void LastSelectorViewController::yesMain() {
  orvoDelegate_->networkActivityStarted();
  orvoDelegate_->showActivityViewer("LastSelectorMAIN");
  orvoDelegate_->initFlag();
  auto* nav = navigationController();
  if (!nav) return;
  for (const auto& vc : nav->viewControllers())
    if (vc->nibName() == "SoSelectorViewController") {
      nav->popToViewController(vc.get(), true);
      return;
    }
  if (nav->viewControllers().size() > 1) nav->popToViewController(nav->viewControllers()[1].get(), true);
}

void LastSelectorViewController::yesAlertLogout() {
  orvoDelegate_->initFlag();
  if (auto* nav = navigationController())
    if (auto* presenter = nav->presentingViewController()) presenter->dismissViewControllerAnimated(true);
}

}  // namespace orvo
