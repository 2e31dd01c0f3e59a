#include "app/core/LoginViewController.h"

#include <chrono>
#include <thread>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/BundleInfo.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/LoginClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/SoapEnvelope.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Toast.h"
#include "platform/ui/WebImageLoader.h"
#include "platform/ui/Window.h"

namespace orvo {

using foundation::UserDefaults;
using nlohmann::json;

namespace {

std::function<void(double)>& sleepHook() {
  static std::function<void(double)> hook;
  return hook;
}

// Compares dotted version texts numerically ("9.3" < "10.0").
int compareVersions(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    long x = 0, y = 0;
    while (i < a.size() && a[i] != '.') x = x * 10 + (std::isdigit(static_cast<unsigned char>(a[i])) ? a[i] - '0' : 0), ++i;
    while (j < b.size() && b[j] != '.') y = y * 10 + (std::isdigit(static_cast<unsigned char>(b[j])) ? b[j] - '0' : 0), ++j;
    if (x != y) return x < y ? -1 : 1;
    ++i, ++j;
  }
  return 0;
}

}  // namespace

void LoginViewController::setSleepHook(std::function<void(double)> hook) { sleepHook() = std::move(hook); }

LoginViewController::~LoginViewController() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

std::weak_ptr<LoginViewController> LoginViewController::weakSelf() { return self<LoginViewController>(); }

void LoginViewController::performAfter(double seconds, void (LoginViewController::*method)()) {
  auto weak = weakSelf();
  foundation::MainQueue::postAfter(
      std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(seconds)), [weak, method] {
        if (auto s = weak.lock()) ((*s).*method)();
      });
}

void LoginViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Grouped);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void LoginViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(std::string(bundle::kAppName) + "(ver " + bundle::CFBundleVersion + ")");
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  table_->setScrollEnabled(false);

  navigationItem().setLeftBarButtonItem(
      barImageButton("info.png", "Info", [this] { infoButtonClicked(); }));
  navigationItem().setRightBarButtonItem(
      barImageButton("tools.png", "Settings", [this] { settingsButtonClicked(); }));
  if (auto* nav = navigationController()) nav->navigationBar().setTintColor(ui::Color::black());

  if (loginItemsArray_.empty()) loginItemsArray_ = {"User Name :", "Password :"};

  auto& d = UserDefaults::standard();
  userId_ = d.stringForKey(defaults::userId).value_or("");
  adminPw_ = d.stringForKey(defaults::adminPw).value_or(kDefaultAdminPw);
  userPassword_.clear();
  if (d.boolForKey(defaults::AutoLogin)) userPassword_ = d.stringForKey(defaults::userPassword).value_or("");

  const double height = ui::Window::kScreenHeight - ui::Window::kStatusBarHeight;
  scannerStatusLabel_ = ui::makeView<ui::Label>(ui::Rect(0, height - 60, 320, 20));
  scannerStatusLabel_->setNumberOfLines(10);
  scannerStatusLabel_->setFont(ui::Font::systemFont(10));
  scannerStatusLabel_->setTextColor(ui::Color::green());
  scannerStatusLabel_->setBackgroundColor(ui::Color::black());
  scannerStatusLabel_->setTextAlignment(ui::TextAlignment::Left);
  view().addSubview(scannerStatusLabel_);

  subscribeForKeyboardNotification();
  checkOrvoSettings();
  showUpdateIosWarning();
}

void LoginViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  auto weak = weakSelf();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      this, kBtnPressed, nullptr, [weak](const foundation::Notification&) {
        if (auto s = weak.lock()) s->scanButtonPressed();
      });
  // Each time the screen comes up the picture cache is emptied, so that pictures changed on
  // the server are fetched again; the disk half empties in the background.
  ui::WebImageLoader::shared().clearMemory();
  ui::WebImageLoader::shared().clearDisk();
}

void LoginViewController::viewWillLayoutSubviews() {
  // 60 points above the bottom of the application frame (the screen below the status bar),
  // wherever the navigation bar puts this view.
  if (!scannerStatusLabel_) return;
  const double appFrameHeight = ui::Window::kScreenHeight - ui::Window::kStatusBarHeight;
  const double viewTop = view().window() ? view().convertToWindow({0, 0}).y - ui::Window::kStatusBarHeight : 0;
  scannerStatusLabel_->setFrame({0, appFrameHeight - 60 - viewTop, 320, 20});
}

void LoginViewController::viewDidAppear(bool animated) {
  viewWillLayoutSubviews();
  // The form's rows (and with them the two fields) exist once the table has been shown.
  if (!passwordTextField_) {
    table_->reloadData();
    table_->layoutIfNeeded();
  }
  if (passwordTextField_) passwordTextField_->setText("");
  if (orvoDelegate_ && !orvoDelegate_->settings().logoutFlag &&
      UserDefaults::standard().boolForKey(defaults::AutoLogin)) {
    if (passwordTextField_) passwordTextField_->setText(userPassword_);
    loginButtonClicked();
  }
  if (!settingErrorFlag_) performAfter(1.0, &LoginViewController::displayScannerState);
  ui::ViewController::viewDidAppear(animated);
}

void LoginViewController::viewWillDisappear(bool animated) {
  foundation::NotificationCenter::defaultCenter().removeObserver(this, kBtnPressed);
  ui::ViewController::viewWillDisappear(animated);
}

// ----- Settings check

bool LoginViewController::checkOrvoSettings() {
  settingErrorFlag_ = false;
  auto& d = UserDefaults::standard();
  auto missing = [&](const char* key) {
    auto v = d.stringForKey(key);
    return !v || v->empty();
  };
  std::string message;
  if (missing(defaults::serverIP)) {
    d.setBool(defaults::ScannerAutoCharge, false);
    d.synchronize();
    message = "Please check your settings before login.";
  } else if (missing(defaults::divisionCode)) {
    message = "Please check your settings before login.\n You must select Company Division!";
  } else if (missing(defaults::terms)) {
    message = "Please check your settings before login.\n You must request Orvo Settings!";
  } else {
    switch (LoginClass::updateSettingsWithBSSID()) {
      case LoginClass::kSettingsNewNetwork:
        message = "Your iPod has been connected to new Wifi.\nPlease check your OrvoMobile settings before login.";
        break;
      case LoginClass::kSettingsLoaded:
        message =
            "Your Wifi connection has been changed.\n Previous Settings has been automatically loaded. Please "
            "check your OrvoMobile setting before login.";
        break;
      case LoginClass::kSettingsNoWifi:
        message = "Please check your Wifi connection.";
        break;
      default:
        break;
    }
  }
  if (!message.empty()) {
    auto weak = weakSelf();
    presentAlertWhenOnScreen(*this, 0, kAppAlertTitle, message, [weak] {
      if (auto s = weak.lock()) s->displayScannerState();
    });
    settingErrorFlag_ = true;
  }
  return true;
}

// ----- Login request and answer

void LoginViewController::loginButtonClicked() {
  if (passwordTextField_) passwordTextField_->resignFirstResponder();
  ScreenRequest r;
  r.operation = "AuthenticateUser";
  r.answerMethod = "-[LoginViewController loginResponseData:]";
  r.prepare = [this](ScreenRequest& req) {
    auto& device = ui::Device::current();
    const std::string uuid = device.identifierForVendor();
    const std::string deviceVersion = Util::getPlatform() + " (iOS " + Util::getIosVersion() + ")";
    auto& globalSO = orvoDelegate_->globalSO();
    auto division = UserDefaults::standard().stringForKey(defaults::divisionCode);
    globalSO.divisionCode = division.value_or("");
    req.params = {{"userName", usernameTextField_ ? usernameTextField_->text() : std::string()},
                  {"password", passwordTextField_ ? passwordTextField_->text() : std::string()},
                  {"uuid", uuid},
                  {"device_version", deviceVersion},
                  {"device_name", device.name()},
                  {"orvomobile_version", std::string(bundle::CFBundleVersion)},
                  {"division", globalSO.divisionCode},
                  {"clientIp", LoginClass::getIPAddress()}};
  };
  r.onSendException = [this](const std::exception&) { showMessage("Please check your Orvo Settings in your iPod"); };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { loginResponseData(a); });
}

void LoginViewController::loginResponseData(const RequestAnswer& answer) {
  const auto& dic = answer.object;
  if (!dic || foundation::textForKey(*dic, "Response") != "True") {
    // An answer that cannot be read counts as a refusal without a message.
    showMessage(dic ? foundation::textForKey(*dic, "Message") : std::string());
  } else if (foundation::textForKey(*dic, "Message") == "UPDATE") {
    updateOrvoMobile(foundation::textForKey(*dic, "Id"));
  } else {
    if (auto* nav = navigationController(); nav && nav->presentedViewController())
      nav->dismissViewControllerAnimated(true);
    auto& globalSO = orvoDelegate_->globalSO();
    const std::string user = usernameTextField_ ? usernameTextField_->text() : std::string();
    const std::string password = passwordTextField_ ? passwordTextField_->text() : std::string();
    globalSO.loginID = user;
    globalSO.priceEditLevel = foundation::intValue(foundation::valueForKey(*dic, "Id"));
    auto& d = UserDefaults::standard();
    d.setString(defaults::userId, user);
    d.setString(defaults::userPassword, password);
    d.synchronize();
    if (d.boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutStart();

    json options = json::object();
    const json& text = foundation::valueForKey(*dic, "JsonOptions");
    if (!text.is_null()) {
      if (auto parsed = JsonClass::getJSONobj(foundation::textValue(text)); parsed && parsed->is_object())
        options = std::move(*parsed);
    }
    applyLoginOptions(options);
    if (foundation::boolValue(foundation::valueForKey(options, "ScanpackMode")))
      showMainMenuView(true);
    else
      showSoOrderTypeView(true);
  }
}

void LoginViewController::applyLoginOptions(const json& options) {
  Settings& s = orvoDelegate_->settings();
  auto flag = [&](const char* key) { return foundation::boolValue(foundation::valueForKey(options, key)); };
  s.isLineSheetMode = flag("LinesheetMode");
  s.isUpcSizeMode = flag("UpcSizeMode");
  if (s.isUpcSizeMode) s.isUpcSizeModeInitialPrepackQty = flag("UPCSIZE_MODE_INITIAL_PREPACK_QTY");
  s.isCameraScannerMode = flag("CameraScannerMode");
  s.isNewCustomerSalesRepOption = flag("NewCustomerSalesRepOption");
  s.isCustomerPriorityOption = flag("CustomerPriorityOption");
  s.PrevOrderNotiOpenFlag = flag("PREV_ORDER_NOTI_OPEN");
  s.isPrevOrderNotiWithInvDate = flag("PREV_ORDER_NOTI_WITH_INVDATE_INFO");
  s.WebNewCustomerFlag = flag("WEBSITE_NEWCUSTOMER");
  s.ccCvvFlag = flag("CUSTOMER_CC_CVV");
  s.ccZipcodeFlag = flag("CUSTOMER_CC_ZIPCODE");
  s.ccDefFlag = flag("CUSTOMER_CC_DEF_LIST");
  s.EmailImgZipFlag = flag("EMAIL_IMGZIP");
  s.EmailScheduleFlag = flag("EMAIL_SCHEDULE_SHOWSERVER");
  s.isPickScanVerification = flag("PickScanVerification");
  s.isStockWHMode = flag("IpodWHforStockMode");
  // A single-precision value widened to double, as the server's option is read.
  s.showOrderDiscountRateFromServer =
      double(float(foundation::doubleValue(foundation::valueForKey(options, "ShowOrderDiscountRate"))));
}

void LoginViewController::updateOrvoMobile(const std::string& version) {
  std::string v = version;
  for (char& c : v)
    if (c == '.') c = '_';
  const std::string link = std::string("itms-services://?action=download-manifest&amp;url=https://") +
                           bundle::kUpdateHost + "/orvomobile/plist/orvomobile_" + v + ".plist";
  auto& app = ui::Application::shared();
  app.openURL(link);
  if (sleepHook())
    sleepHook()(2.0);
  else
    std::this_thread::sleep_for(std::chrono::seconds(2));
  app.exit(0);
}

void LoginViewController::presentInNavigation(const std::string& interfaceName, bool animated) {
  presentInNewNavigation(*this, makeScreen(interfaceName), animated);
}

void LoginViewController::showMainMenuView(bool animated) { presentInNavigation("MainMenuViewController", animated); }

void LoginViewController::showSoOrderTypeView(bool animated) {
  presentInNavigation("SoOrderTypeViewController", animated);
}

void LoginViewController::infoButtonClicked() {
  disappearAllKeyboard();
  auto about = makeScreen("AboutView");
  about->setModalTransitionStyle(ui::ModalTransitionStyle::CoverVertical);
  presentInNewNavigation(*this, about, true, ui::ModalTransitionStyle::CoverVertical);
}

void LoginViewController::showMessage(const std::string& message) {
  AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, message);
}

// ----- Settings lock

void LoginViewController::settingsButtonClicked() {
  disappearAllKeyboard();
  auto alert = ui::AlertController::make(ui::localizedString("Orvo Mobile"),
                                         ui::localizedString("Enter Administration Password"));
  std::weak_ptr<ui::AlertController> weakAlert = alert;
  auto weak = weakSelf();
  alert->addAction(ui::AlertAction::make(ui::localizedString("OK"), ui::AlertActionStyle::Default,
                                         [weak, weakAlert](ui::AlertAction&) {
                                           auto s = weak.lock();
                                           auto a = weakAlert.lock();
                                           if (!s || !a || a->textFields().empty()) return;
                                           auto field = a->textFields().front();
                                           field->resignFirstResponder();
                                           s->alertSetting(*field, true);
                                         }));
  alert->addAction(ui::AlertAction::make(ui::localizedString("Change"), ui::AlertActionStyle::Default,
                                         [weak, weakAlert](ui::AlertAction&) {
                                           auto s = weak.lock();
                                           auto a = weakAlert.lock();
                                           if (!s || !a || a->textFields().empty()) return;
                                           s->alertSetting(*a->textFields().front(), false);
                                         }));
  alert->addTextField([](ui::TextField& f) {
    f.setPlaceholder(ui::localizedString("Password"));
    f.setSecureTextEntry(true);
  });
  alert->setTransitionDuration(keyboardAnimationDuration_ > 0 ? keyboardAnimationDuration_ : 0.5);
  presentViewController(alert, true);
}

void LoginViewController::alertSetting(ui::TextField& field, bool yesOrNo) {
  const std::string entered = field.text();
  if (entered == kMasterPw || entered == adminPw_) {
    if (yesOrNo) {
      field.resignFirstResponder();
      gotoSettingsView();
    } else {
      settingsChangePw();
    }
    return;
  }
  showMessage("invalid password!");
}

void LoginViewController::settingsChangePw() {
  auto alert = ui::AlertController::make(ui::localizedString("Orvo Mobile"), ui::localizedString("Enter New Password"));
  std::weak_ptr<ui::AlertController> weakAlert = alert;
  auto weak = weakSelf();
  alert->addAction(ui::AlertAction::make(ui::localizedString("OK"), ui::AlertActionStyle::Default,
                                         [weak, weakAlert](ui::AlertAction&) {
                                           auto s = weak.lock();
                                           auto a = weakAlert.lock();
                                           if (!s || !a || a->textFields().size() < 2) return;
                                           s->alertChangePW(*a->textFields().front(), *a->textFields().back());
                                         }));
  alert->addAction(ui::AlertAction::make(ui::localizedString("Cancel"), ui::AlertActionStyle::Default));
  alert->addTextField([](ui::TextField& f) {
    f.setPlaceholder(ui::localizedString("New Password"));
    f.setSecureTextEntry(true);
  });
  alert->addTextField([](ui::TextField& f) {
    f.setPlaceholder(ui::localizedString("Confirm New Password"));
    f.setSecureTextEntry(true);
  });
  alert->setTransitionDuration(keyboardAnimationDuration_ > 0 ? keyboardAnimationDuration_ : 0.5);
  presentAlertWhenOnScreen(*this, alert);
}

void LoginViewController::alertChangePW(ui::TextField& pw1, ui::TextField& pw2) {
  if (pw1.text() == pw2.text()) {
    adminPw_ = pw1.text();
    auto& d = UserDefaults::standard();
    d.setString(defaults::adminPw, adminPw_);
    d.synchronize();
    showMessageWhenOnScreen(*this, "Administrator's password has been saved successfully.");
  } else {
    showMessageWhenOnScreen(*this, "Please make sure your passwords match.");
  }
}

void LoginViewController::gotoSettingsView() {
  auto settings = makeScreen("SettingsView");
  settings->setModalTransitionStyle(ui::ModalTransitionStyle::CoverVertical);
  presentAlertWhenOnScreen(*this, styledNavigation(settings, ui::ModalTransitionStyle::CoverVertical));
}

// ----- Scanner status

std::string LoginViewController::getScannerState(int state) {
  return state == CONN_CONNECTED ? "Scanner was connected" : "Scanner was disconnected";
}

void LoginViewController::scanButtonPressed() { updateScannerStatus(); }

void LoginViewController::updateScannerStatus() {
  scannerStatusLabel_->setTextColor(ui::Color::yellow());
  scannerStatusLabel_->setText(ui::localizedString("Updating scanner status.."));
  performAfter(1.0, &LoginViewController::displayScannerState);
}

void LoginViewController::displayScannerState() {
  settingErrorFlag_ = false;
  if (!orvoDelegate_) return;
  if (orvoDelegate_->scanner().conn == CONN_CONNECTED) {
    orvoDelegate_->updateBattery();
    scannerStatusLabel_->setTextColor(ui::Color::green());
    scannerStatusLabel_->setText(getScannerState(orvoDelegate_->scanner().conn) +
                                 " | Scanner Battery : " + std::to_string(orvoDelegate_->scanner().bat) + "%");
    setChargingMode();
    setPassSyncMode();
  } else {
    scannerStatusLabel_->setTextColor(ui::Color::red());
    scannerStatusLabel_->setText(getScannerState(orvoDelegate_->scanner().conn));
    if (view().window()) {
      ui::ToastStyle style;
      style.verticalPadding = 10;
      style.imageSize = {40, 40};
      ui::makeToast(view(), "Please check your scanner and then restart OrvoMobile.", 10.0,
                    ui::ToastPosition::Center, "", ui::Image::named("barcode-reader-96.png"), style);
    }
  }
}

void LoginViewController::setChargingMode() {
  if (UserDefaults::standard().boolForKey(defaults::ScannerAutoCharge)) {
    if (orvoDelegate_->scanner().bat > 80) {
      orvoDelegate_->enableCharging(true);
    } else {
      orvoDelegate_->enableCharging(false);
      showMessage("Scanner automatic charge mode was disabled.\nIt needs more than 80% scanner battery.");
    }
  } else {
    orvoDelegate_->enableCharging(false);
  }
}

void LoginViewController::setPassSyncMode() {
  orvoDelegate_->enablePassSync(UserDefaults::standard().boolForKey(defaults::ScannerPassSync));
}

void LoginViewController::showUpdateIosWarning() {
  const std::string platform = Util::getPlatform();
  const std::string version = Util::getIosVersion();
  if ((platform == "iPod5,1" && compareVersions(version, "9.0") < 0) ||
      (platform == "iPod7,1" && compareVersions(version, "11.0") < 0)) {
    auto weak = weakSelf();
    foundation::MainQueue::post([weak, version] {
      auto s = weak.lock();
      if (!s || !s->view().window()) return;
      ui::makeToast(s->view(), "Please update your iOS to the latest version before using the OrvoMobile app.", 100.0,
                    ui::ToastPosition::Top, "Your iOS : " + version);
    });
  }
}

// ----- Keyboard and fields

void LoginViewController::subscribeForKeyboardNotification() {
  auto weak = weakSelf();
  foundation::NotificationCenter::defaultCenter().addObserver(
      this, ui::kKeyboardWillShowNotification, nullptr, [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->keyboardWillAppear(n.userInfo);
      });
}

void LoginViewController::keyboardWillAppear(const json& userInfo) {
  keyboardAnimationDuration_ =
      foundation::doubleValue(foundation::valueForKey(userInfo, ui::kKeyboardAnimationDurationUserInfoKey));
  keyboardHeight_ = foundation::doubleValue(
      foundation::valueForKey(foundation::valueForKey(userInfo, ui::kKeyboardFrameEndUserInfoKey), "height"));
}

void LoginViewController::disappearAllKeyboard() {
  if (usernameTextField_ && usernameTextField_->isFirstResponder()) usernameTextField_->resignFirstResponder();
  if (passwordTextField_ && passwordTextField_->isFirstResponder()) passwordTextField_->resignFirstResponder();
}

int LoginViewController::numberOfRowsInSection(ui::TableView&, int) { return int(loginItemsArray_.size()); }

std::shared_ptr<ui::TableViewCell> LoginViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  (void)table;
  // Each row keeps its own cell, which holds the row's field for the life of the screen.
  if (cells_.size() <= size_t(ip.row)) cells_.resize(ip.row + 1);
  auto& cell = cells_[ip.row];
  if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "Cell");
  cell->setAccessoryType(ui::AccessoryType::None);
  cell->setSelectionStyle(ui::SelectionStyle::None);
  cell->textLabel().setText(ip.row < int(loginItemsArray_.size()) ? loginItemsArray_[ip.row] : "");
  auto delegate = self<ui::TextFieldDelegate>();
  if (ip.row == 0) {
    if (!usernameTextField_) {
      usernameTextField_ = ui::makeView<ui::TextField>(ui::Rect(0, 0, 165, 21));
      usernameTextField_->setPlaceholder(ui::localizedString("Enter Username."));
      usernameTextField_->setTextAlignment(ui::TextAlignment::Center);
      usernameTextField_->setTag(0);
      usernameTextField_->setKeyboardType(ui::KeyboardType::Default);
      usernameTextField_->setReturnKeyType(ui::ReturnKeyType::Next);
      usernameTextField_->setText(userId_);
      usernameTextField_->setDelegate(delegate);
    }
    cell->setAccessoryView(usernameTextField_);
  } else if (ip.row == 1) {
    if (!passwordTextField_) {
      passwordTextField_ = ui::makeView<ui::TextField>(ui::Rect(0, 0, 170, 21));
      passwordTextField_->setPlaceholder(ui::localizedString("Enter Password."));
      passwordTextField_->setSecureTextEntry(true);
      passwordTextField_->setTextAlignment(ui::TextAlignment::Center);
      passwordTextField_->setTag(1);
      passwordTextField_->setKeyboardType(ui::KeyboardType::Default);
      passwordTextField_->setReturnKeyType(ui::ReturnKeyType::Done);
      passwordTextField_->setText(userPassword_);
      passwordTextField_->setDelegate(delegate);
    }
    cell->setAccessoryView(passwordTextField_);
  }
  return cell;
}

void LoginViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath) { disappearAllKeyboard(); }

bool LoginViewController::textFieldShouldReturn(ui::TextField& field) {
  if (field.tag() == 0) {
    if (passwordTextField_) passwordTextField_->becomeFirstResponder();
  } else {
    loginButtonClicked();
  }
  return true;
}

}  // namespace orvo
