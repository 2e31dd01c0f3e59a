#pragma once
// The order selector, between the order type and the order itself. From here the user
// starts a new order or edits one by customer (both open the customer list), opens an
// order by its SO number once the server confirms it, reprints an order on a server
// printer or on the device from the server's PDF, opens the line sheets of an order, or
// looks up a style. The SO number comes from the sleeve, the camera (shake, the bar button
// or the number pad's camera key) or the keyboard; nothing is sent until a button is
// tapped. Each time the screen comes on screen a backup of an unfinished order 20 minutes
// old or older is discarded, and a younger one is offered ("Do you want to load previous
// order list?"; Yes opens the item list, which restores it; No discards it). Main thread.

#include <memory>

#include "app/orders/PriceClass.h"
#include "platform/ui/Button.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class SoapPrint;

class OrvoMobileAppDelegate;
struct RequestAnswer;

// A backup this old or older is discarded without asking.
inline constexpr double kBackupExpiryMinutes = 20.0;

class SoSelectorViewController : public ui::ViewController, public CameraScanTarget {
 public:
  SoSelectorViewController() : SoSelectorViewController("SoSelectorViewController") {}
  explicit SoSelectorViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~SoSelectorViewController() override;

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  bool canBecomeFirstResponder() const override { return true; }
  void motionEnded(ui::MotionType motion) override;

  void btn_NewFunc();
  void btn_EditFunc();
  void btn_styleLookupFunc();
  void btn_OrderNumberNextFunc();
  void btn_PrintFunc();
  void btn_LineSheetFunc();
  void OpenCameraScanView() override;
  void yesAlertBackupOrderList();
  void noAlertBackupOrderList();
  void yesStartScan();
  void backFunc();
  // YES, after telling the user, when the SO number field is empty.
  bool IsEmptyOrderNumber();

  void checkOrderNumber(const std::string& number);
  void CheckOrderNumberResponseData(const RequestAnswer& answer, const std::string& number);
  void printSOdirectly(const std::string& number);
  void printSOdirectlyResponseData(const RequestAnswer& answer, const std::string& number);
  void CreateSOpdf(const std::string& number);
  void CreateSOpdfResponseData(const RequestAnswer& answer, const std::string& number);

  ui::Button* newButton() const { return new_.get(); }
  ui::Button* editButton() const { return edit_.get(); }
  ui::Button* nextButton() const { return next_.get(); }
  ui::Button* printButton() const { return print_.get(); }
  ui::Button* lineSheetButton() const { return lineSheet_.get(); }
  ui::Button* styleLookupButton() const { return styleLookup_.get(); }
  ui::TextField* orderNumberField() const { return txt_beforeOrderNumber_.get(); }

 private:
  void ready();
  void scanedBarcode(const std::string& code);
  void requestEnded();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<SoapPrint> soapPrint_;
  std::shared_ptr<ui::Button> new_, edit_, next_, print_, lineSheet_, styleLookup_;
  std::shared_ptr<ui::TextField> txt_beforeOrderNumber_;
  int observerToken_ = 0;
};

}  // namespace orvo
