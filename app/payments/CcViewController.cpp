#include "app/payments/CcViewController.h"

#include <cctype>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/SoapAnswer.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/PriceClass.h"
#include "app/payments/AESExtention.h"
#include "app/payments/CcManualAndCameraTableViewController.h"
#include "app/payments/CcSignatureViewController.h"
#include "app/payments/PaymentNames.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/TextField.h"

namespace orvo {

using nlohmann::json;

namespace {

constexpr auto kSignatureDelay = std::chrono::milliseconds(500);
constexpr auto kEncryptDelay = std::chrono::milliseconds(1000);
constexpr const char* kReswipe = "Please re-swipe the credit card!";

foundation::NotificationCenter& centre() { return foundation::NotificationCenter::defaultCenter(); }

std::string value(const json& info, const char* key) {
  if (!info.is_object()) return {};
  auto it = info.find(key);
  return it == info.end() || it->is_null() ? std::string() : foundation::textValue(*it);
}

bool isTrue(const json& info, const char* key) { return value(info, key) == "true"; }

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == sep) out.emplace_back();
    else out.back() += c;
  }
  return out;
}

bool allDigits(const std::string& s, size_t from, size_t count) {
  if (from + count > s.size()) return false;
  for (size_t i = from; i < from + count; ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

// "M/YYYY\n" or "MM/YYYY\n", the forms the sleeve and the typed entry deliver.
bool readableExpiry(const std::string& e) {
  if (e.size() == 8) return allDigits(e, 0, 2) && e[2] == '/' && allDigits(e, 3, 4) && e[7] == '\n';
  if (e.size() == 7) return allDigits(e, 0, 1) && e[1] == '/' && allDigits(e, 2, 4) && e[6] == '\n';
  return false;
}

}  // namespace

CcViewController::~CcViewController() {
  centre().removeObserver(this);
  wipeCard();
}

void CcViewController::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  setTitle(ui::localizedString("Swipe Credit Card"));
  setCanBecomeFirstResponder(true);
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  auto guarded = [weak](void (CcViewController::*action)()) {
    return [weak, action] { if (auto s = weak.lock()) ((*s).*action)(); };
  };
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [weak](ui::BarButtonItem&) {
        if (auto s = weak.lock()) s->backFunc();
      }));
  auto reset = barImageButton("reset-60.png", "Reset", guarded(&CcViewController::btn_reconnectCardReader));
  if (orvoDelegate_->settings().isCameraScannerMode) {
    auto camera = barImageButton("camera2-70.png", "Camera", [weak] {
      if (auto s = weak.lock()) s->OpenCcManualAndCameraView(true);
    });
    navigationItem().setRightBarButtonItems({camera, reset});
  } else {
    navigationItem().setRightBarButtonItems({reset});
  }

  ui::View& v = view();
  v.setBackgroundColor(ui::Color::whiteColor());
  double y = 80;
  auto row = [&](const char* caption, std::shared_ptr<ui::Label>* captionOut = nullptr) {
    // Captions as wide as "Card Number" needs; the values shrink to what is left.
    auto c = ui::makeView<ui::Label>(ui::Rect{10, y, 115, 24});
    c->setText(ui::localizedString(caption));
    c->setAdjustsFontSizeToFitWidth(true);
    v.addSubview(c);
    if (captionOut) *captionOut = c;
    auto l = ui::makeView<ui::Label>(ui::Rect{130, y, 180, 24});
    l->setAdjustsFontSizeToFitWidth(true);
    l->setText("-");
    v.addSubview(l);
    y += 32;
    return l;
  };
  lblTotal_ = row("Order Total");
  lblName_ = row("Name");
  lblNumber_ = row("Card Number");
  lblExp_ = row("Expiration");
  lblCvv_ = row("CVV", &lblCvvCaption_);
  lblReader_ = ui::makeView<ui::Label>(ui::Rect{10, y + 8, 300, 24});
  lblReader_->setText(ui::localizedString("Please swipe the credit card."));
  v.addSubview(lblReader_);
  y += 48;
  auto button = [&](const char* title, std::function<void()> action) {
    auto b = ui::Button::make(ui::localizedString(title), {10, y, 300, 40});
    b->addTarget(this, [action](ui::Control&) { action(); }, ui::TouchUpInside);
    v.addSubview(b);
    y += 48;
    return b;
  };
  btnManual_ = button("Add Credit Card Manually", guarded(&CcViewController::btn_addCCmanually));
  btnCcList_ = button("Cards on File", guarded(&CcViewController::btn_CcList));
  btnLogout_ = button("Logout", guarded(&CcViewController::logoutButtonClicked));
  const Settings& s = orvoDelegate_->settings();
  if (!s.ccCvvFlag) {
    lblCvv_->setHidden(true);
    lblCvvCaption_->setHidden(true);
  }
  if (!s.ccDefFlag) btnCcList_->setHidden(true);
}

void CcViewController::viewWillAppear(bool animated) {
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  centre().addUniqueObserver(this, kGetMagneticCardData, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->scanedMagneticCardData(n.userInfo, false);
  });
  centre().addUniqueObserver(this, kGetScannerStatus, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->scannerStatus(n.userInfo);
  });
  centre().removeObserver(this, kSetCCdata);
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  orvoDelegate_->startMS();
  lblTotal_->setText(PriceClass::stringToCurrency(orvoDelegate_->globalSO().orderTotalExtPrice));
  ui::ViewController::viewWillAppear(animated);
}

void CcViewController::viewWillDisappear(bool animated) {
  centre().removeObserver(this, kGetMagneticCardData);
  centre().removeObserver(this, kGetScannerStatus);
  orvoDelegate_->stopMS();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
  ui::ViewController::viewWillDisappear(animated);
}

void CcViewController::viewDidDisappear(bool animated) {
  ui::ViewController::viewDidDisappear(animated);
  // Gone from the navigation stack (popped or dismissed with it): nothing of the card stays.
  if (!navigationController() && !presentedViewController()) {
    centre().removeObserver(this);
    wipeCard();
  }
}

void CcViewController::motionEnded(ui::MotionType motion) {
  if (motion == ui::MotionType::Shake && orvoDelegate_->settings().isCameraScannerMode) OpenCcManualAndCameraView(true);
}

void CcViewController::scannerStatus(const json& info) {
  if (value(info, kConnState) == "True") {
    if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
    lblReader_->setText(ui::localizedString("Card reader was connected"));
    lblReader_->setTextColor(ui::Color::blue());
    return;
  }
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, "Card reader was not connected!", [weak] {
    if (auto s = weak.lock()) s->backFunc();
  }, nullptr);
}

void CcViewController::btn_reconnectCardReader() {
  orvoDelegate_->stopMS();
  orvoDelegate_->initKXDevice();
  lblReader_->setText(ui::localizedString("Card reader is refreshed"));
  orvoDelegate_->startMS();
}

void CcViewController::wipeCard() {
  for (std::string* s : {&ccType_, &ccCvv_, &ccZipcode_, &lastCardName_, &lastCardNumber_, &lastExpDate_,
                         &lastCardTrack1_, &lastCardTrack2_})
    wipe(*s);
}

void CcViewController::initCCdata() {
  wipeCard();
  if (!lblNumber_) return;
  for (auto* l : {lblNumber_.get(), lblName_.get(), lblExp_.get(), lblCvv_.get()}) l->setText("-");
}

void CcViewController::refuseCard(const std::string& message) {
  initCCdata();
  AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, message);
}

std::string CcViewController::maskedNumber(const std::string& number, const std::string& type) {
  const bool amex = type == "AMEX";
  const size_t from = amex ? 11 : 12;
  const std::string tail = number.size() > from ? number.substr(from) : std::string();
  return (amex ? "XXXX-XXXXXX-X" : "XXXX-XXXX-XXXX-") + tail;
}

void CcViewController::scanedMagneticCardData(const json& info, bool typed) {
  initCCdata();
  lastCardName_ = value(info, kLastCardName);
  lastCardNumber_ = value(info, kLastCardNumber);
  lastExpDate_ = value(info, kLastExpDate);
  lastCardTrack1_ = value(info, kTrack1);
  lastCardTrack2_ = value(info, kTrack2);
  // Track 1 stands in for what the reader could not split: %B<number>^<name>^<YYMM>...
  if ((lastCardName_.empty() || lastCardNumber_.empty()) && !lastCardTrack1_.empty()) {
    auto f = split(lastCardTrack1_, '^');
    if (f.size() >= 3 && f[0].size() >= 2 && f[2].size() >= 4) {
      wipe(lastCardNumber_);
      wipe(lastCardName_);
      wipe(lastExpDate_);
      lastCardNumber_ = f[0].substr(2);
      lastCardName_ = f[1];
      lastExpDate_ = f[2].substr(2, 2) + "/20" + f[2].substr(0, 2) + "\n";
    }
    for (auto& field : f) wipe(field);
  }
  CheckCCtype();
  if (!lastCardName_.empty()) lblName_->setText(lastCardName_);
  // Only numbers of 15 or 16 digits make one cipher block; anything else goes no further.
  const size_t length = lastCardNumber_.size();
  const bool numberOk = (length == 15 || length == 16) && allDigits(lastCardNumber_, 0, length);
  if (lastCardName_.empty() || lastCardNumber_.empty() || lastExpDate_.empty() || !numberOk ||
      !readableExpiry(lastExpDate_)) {
    refuseCard(kReswipe);
    return;
  }
  lblNumber_->setText(maskedNumber(lastCardNumber_, ccType_));
  lblExp_->setText(lastExpDate_);
  if (length == 15) lastCardNumber_ += " ";

  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  auto signLater = [weak] {
    foundation::MainQueue::postAfter(kSignatureDelay, [weak] {
      if (auto s = weak.lock()) s->showSignatureView();
    });
  };
  const Settings& s = orvoDelegate_->settings();
  if (typed) {
    ccCvv_ = value(info, kCvv);
    lblCvv_->setText(ccCvv_);
    if (s.ccZipcodeFlag) ccZipcode_ = value(info, kZipcode);
    signLater();
  } else if (s.ccCvvFlag) {
    enterCvvZipcodePopup(s.ccZipcodeFlag ? "Please enter CVV# and Zipcode." : "Please enter CVV #.");
  } else {
    signLater();
  }
}

void CcViewController::CheckCCtype() {
  const char first = lastCardNumber_.empty() ? '0' : lastCardNumber_[0];
  switch (first) {
    case '3': ccType_ = "AMEX"; break;
    case '4': ccType_ = "VISA"; break;
    case '5': ccType_ = "MASTERCARD"; break;
    case '6': ccType_ = "DISCOVER"; break;
    default: ccType_.clear();
  }
}

void CcViewController::enterCvvZipcodePopup(const std::string& message) {
  auto alert = ui::AlertController::make(kAppAlertTitle, ui::localizedString(message));
  const bool zip = orvoDelegate_->settings().ccZipcodeFlag;
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  std::weak_ptr<ui::AlertController> weakAlert = alert;
  alert->addAction(ui::AlertAction::make("OK", ui::AlertActionStyle::Default, [weak, weakAlert, zip](ui::AlertAction&) {
    auto s = weak.lock();
    auto a = weakAlert.lock();
    if (!s || !a || a->textFields().empty()) return;
    auto& fields = a->textFields();
    fields.front()->resignFirstResponder();
    std::string cvv = fields.front()->text();
    std::optional<std::string> zipText;
    if (zip) {
      fields.back()->resignFirstResponder();
      zipText = fields.back()->text();
    }
    for (auto& f : fields) f->setText("");
    s->yesCVVandZIPcode(cvv, zipText);
    wipe(cvv);
  }));
  alert->addAction(ui::AlertAction::make("Cancel", ui::AlertActionStyle::Default, [weak](ui::AlertAction&) {
    if (auto s = weak.lock()) s->initCCdata();
  }));
  alert->addTextField([](ui::TextField& f) {
    f.setKeyboardType(ui::KeyboardType::NumberPad);
    f.setPlaceholder("Enter CVV #");
  });
  if (zip)
    alert->addTextField([](ui::TextField& f) {
      f.setKeyboardType(ui::KeyboardType::PhonePad);
      f.setPlaceholder("Enter ZIPCODE");
    });
  presentAlertWhenOnScreen(*this, alert);
}

void CcViewController::yesCVVandZIPcode(const std::string& cvv, const std::optional<std::string>& zip) {
  const bool zipOn = orvoDelegate_->settings().ccZipcodeFlag;
  if (Util::isValidCVV(cvv, ccType_) && Util::isValidZipcode(zip)) {
    ccCvv_ = cvv;
    lblCvv_->setText(ccCvv_);
    if (zipOn) ccZipcode_ = zip.value_or("");
    std::weak_ptr<CcViewController> weak = self<CcViewController>();
    foundation::MainQueue::postAfter(kSignatureDelay, [weak] {
      if (auto s = weak.lock()) s->showSignatureView();
    });
    return;
  }
  // The new prompt comes once this one has gone.
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  const std::string message = zipOn ? "Please enter valid CVV # and ZIPcode." : "Please enter a valid CVV #.";
  foundation::MainQueue::post([weak, message] {
    if (auto s = weak.lock()) s->enterCvvZipcodePopup(message);
  });
}

void CcViewController::showSignatureView() {
  if (lastCardNumber_.empty()) return;  // the card was dropped meanwhile
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  centre().addUniqueObserver(this, kGetSignature, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->successSignature(n.userInfo);
  });
  auto pad = makeScreen(kCcSignatureViewController);
  pad->setModalTransitionStyle(ui::ModalTransitionStyle::FlipHorizontal);
  pad->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
  if (auto* nav = navigationController()) nav->presentViewController(pad, true);
  else presentViewController(pad, true);
}

void CcViewController::successSignature(const json& info) {
  centre().removeObserver(this, kGetSignature);
  if (isTrue(info, kIsClear)) return;
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  foundation::MainQueue::postAfter(kEncryptDelay, [weak] {
    if (auto s = weak.lock()) s->checkCCandEncryptCC();
  });
}

void CcViewController::OpenCcManualAndCameraView(bool camera) {
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  centre().addUniqueObserver(this, kSetCCdata, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->scanedMagneticCardData(n.userInfo, true);
  });
  auto entry = makeScreen(kCcManualAndCameraTableViewController);
  if (auto* form = dynamic_cast<CcManualAndCameraTableViewController*>(entry.get())) form->isCcCameraMode = camera;
  presentInNewNavigation(*this, entry);
}

void CcViewController::btn_CcList() {
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  centre().addUniqueObserver(this, kSetDefaultCcDone, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->closeCcView(n.userInfo);
  });
  presentInNewNavigation(*this, makeScreen(kCcListTableViewController), true, ui::ModalTransitionStyle::CoverVertical);
}

void CcViewController::closeCcView(const json& info) {
  centre().removeObserver(this, kSetDefaultCcDone);
  if (isTrue(info, kIsDone)) backFunc();
}

void CcViewController::logoutButtonClicked() {
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?", [weak] {
    if (auto s = weak.lock()) s->yesAlertLogout();
  }, nullptr);
}

void CcViewController::yesAlertLogout() {
  orvoDelegate_->initFlag();
  wipeCard();
  if (auto* nav = navigationController()) nav->dismissViewControllerAnimated(true);
  else dismissViewControllerAnimated(true);
}

void CcViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

std::string CcViewController::ccExpText(const std::string& e) {
  if (e.size() == 8) return e.substr(0, 2) + e.substr(5, 2);
  if (e.size() >= 7) return "0" + e.substr(0, 1) + e.substr(4, 2);
  return {};
}

void CcViewController::AESencrypt() {
  if (storing_ || lastCardNumber_.empty()) return;
  // Two separate keys, each with its own random number. A value that cannot be made stops
  // the capture here: a card is never stored without its number.
  auto number = encipherCardField(lastCardNumber_, false);
  std::optional<std::string> track = std::string();
  if (number && !lastCardTrack1_.empty()) track = encipherCardField(lastCardTrack1_, true);
  if (!number || !track) {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "The credit card could not be encrypted and was not sent. Please swipe it again.");
    return;
  }
  InsertCcFunc(*number, *track);
}

void CcViewController::InsertCcFunc(const std::string& ccNumber, const std::string& ccTrack1) {
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "InsertCC";
  r.params = {{"orderNumber", so.orderNumber},     {"customer", so.customerID},
              {"ccName", lastCardName_},          {"ccNumber", ccNumber},
              {"ccExp", ccExpText(lastExpDate_)}, {"ccType", ccType_},
              {"ccTrack1", ccTrack1},             {"signBase64String", so.signatureBase64String},
              {"lastFourDigit", lblNumber_->text()}, {"cvv", ccCvv_},
              {"zipcode", ccZipcode_}};
  r.requestMethod = "-[CcViewController InsertCcFunc:CCTRACK1:]";
  r.answerMethod = "-[CcViewController insertCcResponseData:]";
  // The answer method reads the answer itself, so that an unreadable one ends in its one
  // alert and road rather than in the reading's own alerts as well.
  r.reading = AnswerReading::Raw;
  storing_ = true;
  auto done = [this](const RequestAnswer& a) {
    storing_ = false;
    insertCcResponseData(a);
  };
  auto failed = [this](const ServiceFailure& f) {
    storing_ = false;
    orvoDelegate_->errorResponseData(f);
  };
  if (!sendScreenRequest(*this, std::move(r), done, failed)) storing_ = false;
  // The card has gone out (or failed to); storing again needs a new capture.
  wipeCard();
}

void CcViewController::insertCcResponseData(const RequestAnswer& a) {
  std::weak_ptr<CcViewController> weak = self<CcViewController>();
  // An answer that cannot be read (a broken envelope, no result text, a result that is no
  // JSON object) tells the user once and leaves the screen, as a refusal does: whether the
  // server kept the card is not known, and storing again needs a new capture.
  SoapAnswerFailure failure;
  const auto text = soapResultText(a.data, "InsertCC", &failure);
  std::optional<json> answer;
  std::string name = "NSInvalidArgumentException", reason = "data parameter is nil";
  if (failure.failed) {
    name = failure.name;
    reason = failure.reason;
  } else if (text) {
    foundation::Error e;
    answer = JsonClass::readJSON(*text, &e);
    if (!answer) reason = e.description();
    else if (!answer->is_object()) answer.reset(), reason = "the answer is not a dictionary";
  }
  if (!answer) {
    AlertClass::AlertView(*this, 0, 1, kAppAlertTitle,
                          AlertClass::exceptionMessage("-[CcViewController insertCcResponseData:]", name, reason),
                          [weak] { if (auto s = weak.lock()) s->backFunc(); }, nullptr);
    return;
  }
  if (value(*answer, "Response") == "True") {
    AlertClass::AlertView(*this, 0, 1, "Account ID " + value(*answer, "Id"), "Thank you for your credit card capture.",
                          [weak] { if (auto s = weak.lock()) s->yesPaymentSuccess(); }, nullptr);
    return;
  }
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, value(*answer, "Error"),
                        [weak] { if (auto s = weak.lock()) s->backFunc(); }, nullptr);
}

void CcViewController::yesPaymentSuccess() {
  orvoDelegate_->settings().authorizeSuccessFlag = true;
  backFunc();
}

}  // namespace orvo
