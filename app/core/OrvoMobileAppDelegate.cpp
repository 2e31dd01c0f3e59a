// Launch, the facade's events, scanner and sleeve controls, and the order-state reset.
#include "app/core/OrvoMobileAppDelegate.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/NetworkController.h"
#include "app/core/OrderBackup.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/OverlayViewController.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"

namespace orvo {

namespace {

// The swipe sound: two beeps of 2730 Hz, 150 ms, with a 30 ms pause.
const int32_t kSwipeSound[] = {2730, 150, 0, 30, 2730, 150};
// The short scan beep used when the scanner is not silent: 200 Hz for 20 ms.
const int32_t kShortBeep[] = {200, 20};

}  // namespace

OrvoMobileAppDelegate::OrvoMobileAppDelegate() = default;
OrvoMobileAppDelegate::~OrvoMobileAppDelegate() = default;

OrvoMobileAppDelegate* OrvoMobileAppDelegate::shared() {
  return dynamic_cast<OrvoMobileAppDelegate*>(ui::Application::shared().delegate().get());
}

bool OrvoMobileAppDelegate::didFinishLaunchingWithOptions(ui::Application& app, const nlohmann::json&) {
  app.setIdleTimerDisabled(true);
  app.setApplicationSupportsShakeToEdit(true);
  networkActivityCount_ = 0;
  buildActivityViews();
  if (window) {
    window->setRootViewController(navigationController);
    window->makeKeyAndVisible();
  }
  settings_.initVar();
  globalSO_.initVar();
  globalPick_.initVar();
  timeOut_.clear();
  OKTVexa::registerOKTVexa();
  kxdev_ = OKTKXDevices::sharedDevice();
  kxdev_->addDelegate(std::weak_ptr<KXDeviceDelegate>(shared_from_this()));
  initKXDevice();
  app.setStatusBarStyle(ui::StatusBarStyle::LightContent);
  return true;
}

void OrvoMobileAppDelegate::buildActivityViews() {
  const ui::Rect bounds = window ? window->bounds()
                                 : ui::Rect(0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight);
  const ui::Point c = bounds.center();
  activityWheel_ = ui::makeView<ui::ActivityIndicatorView>(ui::Rect(c.x - 20, c.y - 18, 44, 44),
                                                           ui::ActivityIndicatorStyle::WhiteLarge);
  actLabel_ = ui::makeView<ui::Label>(ui::Rect(0, c.y - 60, 320, 100));
  actLabelText_ = ui::makeView<ui::Label>(ui::Rect(0, c.y - 10, 320, bounds.size.height));
  timerLabel_ = ui::makeView<ui::Label>(ui::Rect(0, 73, 320, 100));
}

void OrvoMobileAppDelegate::postOnMain(std::string name, nlohmann::json userInfo) {
  foundation::MainQueue::post([name = std::move(name), userInfo = std::move(userInfo)] {
    foundation::NotificationCenter::defaultCenter().post(name, nullptr, userInfo);
  });
}

void OrvoMobileAppDelegate::connectionState(int state) {
  std::weak_ptr<OrvoMobileAppDelegate> weak = shared_from_this();
  foundation::MainQueue::post([weak, state] {
    if (auto self = weak.lock()) self->scanner_.conn = state;
  });
}

void OrvoMobileAppDelegate::deviceButtonPressed(int) {
  postOnMain(kBtnPressed, {{kBtnPressed, kBtnPressed}});
}

void OrvoMobileAppDelegate::deviceButtonReleased(int) {}

void OrvoMobileAppDelegate::barcodeData(const std::string& barcode, int) {
  postOnMain(kChangeBarcode, {{kLastBarcode, barcode}});
}

void OrvoMobileAppDelegate::magneticCardData(const std::optional<std::string>& track1,
                                             const std::optional<std::string>& track2,
                                             const std::optional<std::string>&) {
  std::weak_ptr<OrvoMobileAppDelegate> weak = shared_from_this();
  foundation::MainQueue::post([weak, t1 = track1, t2 = track2]() mutable {
    auto self = weak.lock();
    if (!self || !self->kxdev_) return;
    nlohmann::json info = nlohmann::json::object();
    if (t1) info[kTrack1] = *t1;
    if (t2) info[kTrack2] = *t2;
    if (auto card = self->kxdev_->msProcessFinancialCard(t1, t2); card && card->is_object()) {
      auto text = [&](const char* key) -> std::optional<std::string> {
        auto it = card->find(key);
        if (it == card->end() || it->is_null()) return std::nullopt;
        return foundation::textValue(*it);
      };
      if (auto name = text("cardholderName")) info[kLastCardName] = *name;
      if (auto number = text("accountNumber")) info[kLastCardNumber] = *number;
      // The expiry is month and year; half of it is no expiry at all.
      auto month = text("expirationMonth"), year = text("expirationYear");
      if (month && year) info[kLastExpDate] = *month + "/" + *year + "\n";
    }
    if (t1) foundation::secureClear(*t1);
    if (t2) foundation::secureClear(*t2);
    foundation::NotificationCenter::defaultCenter().post(kGetMagneticCardData, nullptr, info);
    self->kxdev_->playSound(100, kSwipeSound, int(sizeof kSwipeSound));
  });
}

void OrvoMobileAppDelegate::startBarcode() {
  if (kxdev_) kxdev_->barcodeSetScanButtonMode(1);
}

void OrvoMobileAppDelegate::stopBarcode() {
  if (kxdev_) kxdev_->barcodeSetScanButtonMode(0);
}

void OrvoMobileAppDelegate::startMS() {
  if (!kxdev_ || kxdev_->connstate() == CONN_DISCONNECTED) return;
  std::weak_ptr<OrvoMobileAppDelegate> weak = shared_from_this();
  foundation::MainQueue::postAfter(std::chrono::milliseconds(500), [weak] {
    if (auto self = weak.lock()) self->msStart();
  });
}

void OrvoMobileAppDelegate::msStart() {
  const bool connected = kxdev_ && kxdev_->connstate() != CONN_DISCONNECTED;
  foundation::NotificationCenter::defaultCenter().post(kGetScannerStatus, nullptr,
                                                       {{kConnState, connected ? "True" : "False"}});
}

void OrvoMobileAppDelegate::initKXDevice() {
  kxdev_->disconnect();
  kxdev_->connect();
}

bool OrvoMobileAppDelegate::enableCharging(bool enabled) {
  kxdev_->setCharging(enabled);
  const bool ok = kxdev_->setCharging(enabled);
  if (!ok)
    AlertClass::displayAlert(nullptr, 0, 1, "SCANNER ERROR", "Charging could not be enabled at the moment");
  else
    stopBarcode();
  return ok;
}

bool OrvoMobileAppDelegate::enablePassSync(bool enabled) {
  foundation::Error error;
  const bool ok = kxdev_->setPassThroughSync(enabled, &error);
  if (!ok)
    AlertClass::displayAlert(nullptr, 0, 1, "SCANNER ERROR", error.text);
  else
    stopBarcode();
  return ok;
}

void OrvoMobileAppDelegate::updateBattery() {
  int capacity = 0;
  float voltage = 0;
  if (!kxdev_->getBatteryCapacity(&capacity, &voltage)) return;
  scanner_.bat = capacity;
  if (capacity < 50)
    AlertClass::displayAlert(nullptr, 0, 1, kAppAlertTitle,
                             "Scanner Battery Capacity : " + std::to_string(capacity) +
                                 "%\n Please charge and use.");
}

void OrvoMobileAppDelegate::changeScanBeep(bool silent) {
  if (silent) {
    kxdev_->barcodeSetScanBeep(true, 0, nullptr, 0);
    return;
  }
  kxdev_->barcodeSetScanBeep(true, 10, kShortBeep, int(sizeof kShortBeep));
  kxdev_->playSound(10, kShortBeep, int(sizeof kShortBeep));
}

void OrvoMobileAppDelegate::testSocket() {
  auto& socket = NetworkController::sharedInstance();
  socket.setConnectionOpenedBlock([](NetworkController&) {});
  socket.setConnectionClosedBlock([](NetworkController&) {});
  socket.setConnectionFailedBlock([](NetworkController&) {});
  std::weak_ptr<OrvoMobileAppDelegate> weak = shared_from_this();
  socket.setMessageReceivedBlock([weak](NetworkController&, const std::string& message) {
    if (auto self = weak.lock()) self->handleDebugMessage(message);
  });
  socket.connect();
  socket.sendMessage(">>> Connection opened with iPod <<<");
}

void OrvoMobileAppDelegate::handleDebugMessage(const std::string& message) {
  if (message.size() < 21)
    barcodeData(message, 0);
  else
    magneticCardData(message, std::nullopt, std::nullopt);
}

void OrvoMobileAppDelegate::initFlag() {
  timeOutEnd();
  settings_.logoutFlag = true;
  settings_.soEditSelectFlag = false;
  settings_.duplicateSoFlag = false;
  settings_.newCustomerFlag = false;
  settings_.existCustomerFlag = false;
  settings_.createNewCustomerFlag = false;
  settings_.authorizeSuccessFlag = false;
  settings_.soHoldFlag = false;
  settings_.realtimeSoLastViewFlag = false;
  globalSO_.customerID.clear();
  globalSO_.storeID.clear();
  globalSO_.orderNumber.clear();
  globalSO_.pDupNum.clear();
  globalSO_.currSoapFuncName.clear();
  globalSO_.manualBarcode.clear();
  globalSO_.orderDiscountRate = 0.0;
  globalSO_.lastOrderListArray = nlohmann::json::array();
  globalSO_.lastEditedPriceArray = nlohmann::json::array();
  globalSO_.bcFrontImageBase64.clear();
  globalSO_.bcBackImageBase64.clear();
  globalSO_.signatureBase64String.clear();
  globalSO_.signatureBase64StringForSo.clear();
}

void OrvoMobileAppDelegate::AutoSaveFuncDataInit() {
  auto& d = foundation::UserDefaults::standard();
  d.removeObjectForKey(defaults::backupOrderListArray);
  d.removeObjectForKey(defaults::backupEditedPriceArray);
  d.removeObjectForKey(defaults::backupCustomerId);
  d.removeObjectForKey(defaults::backupStoreId);
  d.removeObjectForKey(defaults::backupPriceLevel);
  d.setString(defaults::backupOrderNumber, "");
  d.setBool(defaults::OrderProcessingFlag, false);
  d.removeObjectForKey(defaults::OrderProcessingInsert);
  d.removeObjectForKey(defaults::backupSOmemo);
  d.setString(defaults::pDupNum, "");
  globalSO_.pDupNum.clear();
  d.removeObjectForKey(defaults::backupDateTime);
  d.synchronize();
  OrderBackup::standard().update({{defaults::backupOrderListArray, nullptr},
                                  {defaults::backupEditedPriceArray, nullptr},
                                  {defaults::backupCustomerId, nullptr},
                                  {defaults::backupStoreId, nullptr},
                                  {defaults::backupPriceLevel, nullptr},
                                  {defaults::backupOrderNumber, ""},
                                  {defaults::backupDateTime, nullptr}});
}

}  // namespace orvo
