#pragma once
// The card capture screen: takes a customer's credit card for the order just saved (a swipe
// on the sleeve, "getMagneticCardData", or a typed card, "setCCdata"), shows the cardholder
// name, the masked number and the expiry, asks for the CVV and ZIP code when the server's
// options require them, has the cardholder sign on the signature pad, then enciphers the
// number and track 1 and stores the card with "InsertCC". Success sets
// `Settings::authorizeSuccessFlag` and pops the screen. Pushed from "CcViewController" by the
// order's last screen, which gives it nothing: it reads `GlobalSO` and `Settings`.
//
// Card data is held only in this screen's fields, never written anywhere; the fields are
// wiped once the request is built, when a card is dropped or replaced, and when the screen
// goes. A card whose number is not 15 or 16 digits, or whose expiry cannot be read, is
// refused with "Please re-swipe the credit card!"; a card that cannot be enciphered is not
// sent. An answer to "InsertCC" that cannot be read is told in one alert whose OK leaves the
// screen, as a refusal does. Main thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class CcViewController : public ui::ViewController {
 public:
  CcViewController() : CcViewController("CcViewController") {}
  explicit CcViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~CcViewController() override;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  // A shake opens the camera card reader when the server offers camera scanning.
  void motionEnded(ui::MotionType motion) override;

  void scannerStatus(const nlohmann::json& userInfo);
  void btn_reconnectCardReader();
  void initCCdata();
  // A card from a swipe (`typed` false) or from the typed entry (`typed` true).
  void scanedMagneticCardData(const nlohmann::json& userInfo, bool typed);
  void CheckCCtype();
  void enterCvvZipcodePopup(const std::string& message);
  void yesCVVandZIPcode(const std::string& cvv, const std::optional<std::string>& zip);
  void showSignatureView();
  void successSignature(const nlohmann::json& userInfo);
  void OpenCcManualAndCameraView(bool camera);
  void btn_addCCmanually() { OpenCcManualAndCameraView(false); }
  void btn_CcList();
  void closeCcView(const nlohmann::json& userInfo);
  void logoutButtonClicked();
  void yesAlertLogout();
  void backFunc();

  // Storing the card.
  void checkCCandEncryptCC() { AESencrypt(); }
  void AESencrypt();
  void InsertCcFunc(const std::string& ccNumber, const std::string& ccTrack1);
  void insertCcResponseData(const RequestAnswer& answer);
  void yesPaymentSuccess();

  // The expiry as sent: month and the year's last two digits.
  static std::string ccExpText(const std::string& lastExpDate);
  // The number label's mask for a number of `ccType`.
  static std::string maskedNumber(const std::string& number, const std::string& ccType);

  const std::string& ccType() const { return ccType_; }
  const std::string& ccCvv() const { return ccCvv_; }
  const std::string& ccZipcode() const { return ccZipcode_; }
  const std::string& lastCardName() const { return lastCardName_; }
  const std::string& lastCardNumber() const { return lastCardNumber_; }
  const std::string& lastExpDate() const { return lastExpDate_; }
  const std::string& lastCardTrack1() const { return lastCardTrack1_; }
  ui::Label* lbl_extTotalPrice() const { return lblTotal_.get(); }
  ui::Label* lbl_cardNumber() const { return lblNumber_.get(); }
  ui::Label* lbl_expirationDate() const { return lblExp_.get(); }
  ui::Label* lbl_cardholderName() const { return lblName_.get(); }
  ui::Label* lbl_cardreaderStatus() const { return lblReader_.get(); }
  ui::Label* lbl_cvv() const { return lblCvv_.get(); }
  ui::Label* lbl_cvv_label() const { return lblCvvCaption_.get(); }
  ui::Button* btn_CcListButton() const { return btnCcList_.get(); }

 private:
  void wipeCard();
  void refuseCard(const std::string& message);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::string ccType_, ccCvv_, ccZipcode_, lastCardName_, lastCardNumber_, lastExpDate_, lastCardTrack1_,
      lastCardTrack2_;
  std::shared_ptr<ui::Label> lblTotal_, lblNumber_, lblExp_, lblName_, lblReader_, lblCvv_, lblCvvCaption_;
  std::shared_ptr<ui::Button> btnCcList_, btnManual_, btnLogout_;
  bool storing_ = false;
};

}  // namespace orvo
