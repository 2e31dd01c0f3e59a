#include "app/orders/SoSelectorViewController.h"

#include <chrono>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CameraScanViewController.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrderBackup.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/OrderScreens.h"
#include "app/orders/SoapPrint.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"

namespace orvo {

SoSelectorViewController::~SoSelectorViewController() {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
}

void SoSelectorViewController::viewDidLoad() {
  setTitle(ui::localizedString("SO Selector"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  soapPrint_ = std::make_shared<SoapPrint>(*this);
  const Settings& settings = orvoDelegate_->settings();
  view().setBackgroundColor(ui::Color::whiteColor());
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  auto make = [this](const char* title, ui::Rect frame, void (SoSelectorViewController::*action)()) {
    auto b = ui::Button::make(title, frame);
    b->addTarget(this, [this, action](ui::Control&) { (this->*action)(); }, ui::TouchUpInside);
    view().addSubview(b);
    return b;
  };
  // Everything sits above the keyboard (or number pad), which is up whenever the SO number
  // field is focused: the screen's view ends at 288 points above it.
  new_ = make("New", {40, 10, 240, 44}, &SoSelectorViewController::btn_NewFunc);
  edit_ = make("Edit", {40, 62, 240, 44}, &SoSelectorViewController::btn_EditFunc);
  txt_beforeOrderNumber_ = ui::makeView<ui::TextField>({10, 120, 230, 40});
  txt_beforeOrderNumber_->setPlaceholder("SO#");
  txt_beforeOrderNumber_->setAccessibilityLabel("SO#");
  txt_beforeOrderNumber_->setBorderStyle(ui::BorderStyle::RoundedRect);
  view().addSubview(txt_beforeOrderNumber_);
  lineSheet_ = make("LS", {250, 120, 60, 40}, &SoSelectorViewController::btn_LineSheetFunc);
  next_ = make("Next", {10, 170, 145, 44}, &SoSelectorViewController::btn_OrderNumberNextFunc);
  print_ = make("Print", {165, 170, 145, 44}, &SoSelectorViewController::btn_PrintFunc);
  styleLookup_ = make("Style Lookup", {40, 228, 240, 44}, &SoSelectorViewController::btn_styleLookupFunc);
  if (settings.isCameraScannerMode) {
    navigationItem().setRightBarButtonItem(barImageButton("camera2-70.png", "Camera", [this] { OpenCameraScanView(); }));
    CustomKeyboardClass::SetNumberPadWithCameraScan(self<CameraScanTarget>(), txt_beforeOrderNumber_);
  }
  if (!settings.isLineSheetMode) {
    lineSheet_->setHidden(true);
    ui::Rect f = txt_beforeOrderNumber_->frame();
    f.origin.x = 10.0;
    f.size.width += 30.0;
    txt_beforeOrderNumber_->setFrame(f);
  }
}

void SoSelectorViewController::viewWillAppear(bool) {
  std::weak_ptr<SoSelectorViewController> weak = self<SoSelectorViewController>();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      &observerToken_, kChangeBarcode, nullptr, [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->scanedBarcode(foundation::textForKey(n.userInfo, kLastBarcode));
      });
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  orvoDelegate_->networkActivityStopped();
  orvoDelegate_->hideActivityViewer();
  txt_beforeOrderNumber_->setText("");
  GlobalSO& so = orvoDelegate_->globalSO();
  if (!so.manualBarcode.empty()) {
    txt_beforeOrderNumber_->setText(so.manualBarcode);
    so.manualBarcode.clear();
  }
}

void SoSelectorViewController::viewDidAppear(bool) {
  OrderBackup& backup = OrderBackup::standard();
  if (auto saved = backup.savedAt()) {
    const double minutes =
        std::chrono::duration<double>(foundation::Clock::current().wallNow() - *saved).count() / 60.0;
    if (minutes >= kBackupExpiryMinutes) orvoDelegate_->AutoSaveFuncDataInit();
  }
  if (backup.hasLines()) {
    AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you want to load previous order list?",
                          [this] { yesAlertBackupOrderList(); }, [this] { noAlertBackupOrderList(); });
    return;
  }
  ready();
}

void SoSelectorViewController::viewWillDisappear(bool) {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_, kChangeBarcode);
  orvoDelegate_->stopBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
  if (txt_beforeOrderNumber_->isFirstResponder()) txt_beforeOrderNumber_->resignFirstResponder();
}

void SoSelectorViewController::ready() {
  orvoDelegate_->startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
  txt_beforeOrderNumber_->becomeFirstResponder();
}

void SoSelectorViewController::scanedBarcode(const std::string& code) { txt_beforeOrderNumber_->setText(code); }

void SoSelectorViewController::motionEnded(ui::MotionType motion) {
  if (motion == ui::MotionType::Shake && orvoDelegate_->settings().isCameraScannerMode) OpenCameraScanView();
}

void SoSelectorViewController::OpenCameraScanView() {
  auto camera = makeScreen("CameraScanViewController");
  if (auto* scanner = dynamic_cast<CameraScanViewController*>(camera.get())) scanner->isScanSOnumber = true;
  presentInNewNavigation(*this, camera);
}

void SoSelectorViewController::yesAlertBackupOrderList() {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderListView"), true);
}

void SoSelectorViewController::noAlertBackupOrderList() {
  orvoDelegate_->startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
  orvoDelegate_->AutoSaveFuncDataInit();
  txt_beforeOrderNumber_->becomeFirstResponder();
}

void SoSelectorViewController::yesStartScan() {
  txt_beforeOrderNumber_->becomeFirstResponder();
  orvoDelegate_->startBarcode();
}

void SoSelectorViewController::btn_NewFunc() {
  orvoDelegate_->settings().soEditSelectFlag = false;
  orvoDelegate_->globalSO().orderNumber.clear();
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("CustomerView"), true);
}

void SoSelectorViewController::btn_EditFunc() {
  orvoDelegate_->settings().soEditSelectFlag = true;
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("CustomerView"), true);
}

void SoSelectorViewController::btn_styleLookupFunc() {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("StyleLookupViewController"), true);
}

void SoSelectorViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

bool SoSelectorViewController::IsEmptyOrderNumber() {
  if (!txt_beforeOrderNumber_->text().empty()) return false;
  orvoDelegate_->stopBarcode();
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, "Please scan or enter your order number.\n before tap the button.",
                        [this] { yesStartScan(); }, nullptr);
  return true;
}

// ----- Open by SO number

void SoSelectorViewController::btn_OrderNumberNextFunc() {
  if (IsEmptyOrderNumber()) return;
  txt_beforeOrderNumber_->resignFirstResponder();
  checkOrderNumber(txt_beforeOrderNumber_->text());
}

void SoSelectorViewController::checkOrderNumber(const std::string& number) {
  orvoDelegate_->stopBarcode();
  ScreenRequest r;
  r.operation = "CheckOrderNumber";
  r.params = {{"orderNumber", number}};
  r.requestMethod = "-[SoSelectorViewController checkOrderNumber:]";
  r.answerMethod = "-[SoSelectorViewController CheckOrderNumberResponseData:]";
  sendScreenRequest(*this, std::move(r),
                    [this, number](const RequestAnswer& a) { CheckOrderNumberResponseData(a, number); });
}

void SoSelectorViewController::CheckOrderNumberResponseData(const RequestAnswer& a, const std::string& number) {
  requestEnded();
  const auto& answer = a.requireObject();
  if (answer && foundation::textForKey(*answer, "Response") == "True") {
    orvoDelegate_->globalSO().orderNumber = number;
    if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderListView"), true);
    return;
  }
  std::string message;
  if (answer)
    if (auto it = answer->find("Message"); it != answer->end() && !it->is_null()) message = foundation::textValue(*it);
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, message, [this] { yesStartScan(); }, nullptr);
}

void SoSelectorViewController::requestEnded() {
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
}

// ----- Reprint

void SoSelectorViewController::btn_PrintFunc() {
  if (IsEmptyOrderNumber()) return;
  txt_beforeOrderNumber_->resignFirstResponder();
  const std::string number = txt_beforeOrderNumber_->text();
  if (orvoDelegate_->settings().printUsingServerFlag)
    printSOdirectly(number);
  else
    CreateSOpdf(number);
}

void SoSelectorViewController::printSOdirectly(const std::string& number) {
  orvoDelegate_->stopBarcode();
  ScreenRequest r;
  r.operation = "PrintSOdirectly";
  r.params = {{"orderNumber", number},
              SoapParam::integer("copyMode", orvoDelegate_->settings().print2CopiesFlag ? 1 : 0),
              SoapParam::integer("printerNo", orvoDelegate_->globalSO().printerNum)};
  r.requestMethod = "-[SoSelectorViewController printSOdirectly:]";
  r.answerMethod = "-[SoSelectorViewController printSOdirectlyResponseData:]";
  sendScreenRequest(*this, std::move(r),
                    [this, number](const RequestAnswer& a) { printSOdirectlyResponseData(a, number); });
}

void SoSelectorViewController::printSOdirectlyResponseData(const RequestAnswer& a, const std::string& number) {
  // However it went, the field is emptied for the next number.
  struct Empty {
    SoSelectorViewController* s;
    ~Empty() {
      s->requestEnded();
      s->txt_beforeOrderNumber_->setText("");
    }
  } empty{this};
  const auto& answer = a.requireObject();
  if (!answer) return;
  if (foundation::textForKey(*answer, "Response") == "True")
    AlertClass::AlertView(*this, 0, 1, "SO# " + number, "SO#" + number + " has been printed successfully.",
                          [this] { yesStartScan(); }, nullptr);
  else
    AlertClass::AlertView(*this, 0, 1, "Error", foundation::textForKey(*answer, "Error"), [this] { yesStartScan(); },
                          nullptr);
}

void SoSelectorViewController::CreateSOpdf(const std::string& number) {
  orvoDelegate_->stopBarcode();
  ScreenRequest r;
  r.operation = "CreateSOpdf";
  r.params = {{"orderNumber", number}};
  r.requestMethod = "-[SoSelectorViewController CreateSOpdf:]";
  r.answerMethod = "-[SoSelectorViewController CreateSOpdfResponseData:]";
  sendScreenRequest(*this, std::move(r), [this, number](const RequestAnswer& a) { CreateSOpdfResponseData(a, number); });
}

void SoSelectorViewController::CreateSOpdfResponseData(const RequestAnswer& a, const std::string& number) {
  const auto& answer = a.requireObject();
  requestEnded();
  if (!answer) return;
  if (foundation::textForKey(*answer, "Response") != "True") {
    AlertClass::AlertView(*this, 0, 1, "Error", foundation::textForKey(*answer, "Error"), [this] { yesStartScan(); },
                          nullptr);
    return;
  }
  std::string fileName;
  if (auto names = JsonClass::getJSONobj(foundation::textForKey(*answer, "PrintFileName")); names && names->is_object())
    if (auto it = names->find(number); it != names->end() && !it->is_null()) fileName = foundation::textValue(*it);
  soapPrint_->setAfterBarcodeFlag(true);
  soapPrint_->airPrintFunc(fileName);
}

// ----- Line sheets

void SoSelectorViewController::btn_LineSheetFunc() {
  if (IsEmptyOrderNumber()) return;
  txt_beforeOrderNumber_->resignFirstResponder();
  auto sheets = makeScreen("LineSheetViewController");
  if (auto* receiver = dynamic_cast<LineSheetReceiver*>(sheets.get()))
    receiver->setLinesheetSOnumber(txt_beforeOrderNumber_->text());
  presentInNewNavigation(*this, sheets);
}

}  // namespace orvo
