#pragma once
// The menu from which a sales representative creates a customer the server does not know
// yet: by photos of a business card, by the manual form, or by scanning a trade-show
// badge's two-dimensional barcode with the sleeve, whose fields fill the manual form. While
// the menu is visible the sleeve's scan button is on and every "changeBarcode" is read as a
// badge; a text that is no badge gives "Invalid barcode scanned!" and the scanner starts
// again on OK.
//
// Made from "NewCustomerSelectorViewController" by the customer screen (" NEW ") and pushed.
// Main thread.

#include <memory>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"

namespace foundation { struct Notification; }

namespace orvo {

class OrvoMobileAppDelegate;

class NewCustomerSelectorViewController : public ui::ViewController {
 public:
  NewCustomerSelectorViewController() : NewCustomerSelectorViewController("NewCustomerSelectorViewController") {}
  explicit NewCustomerSelectorViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  void btn_BusinessCardFunc();
  void btn_ManualFunc();
  void btn_2DbarcodeFunc();
  void scanedBarcode(const foundation::Notification& n);
  void send2dInfoToManualView();
  void yesErrorBarcode();
  void backFunc();

  const std::string& string2Dbarcode() const { return string2Dbarcode_; }
  ui::Button* businessCardButton() const { return businessCard_.get(); }
  ui::Button* manualButton() const { return manual_.get(); }
  ui::Button* badgeButton() const { return badge_.get(); }

  // The built-in sample badge of the demonstration button.
  static const char* sampleBadge();

 private:
  // Pushes a manual form filled from `badge`; false when it is no badge.
  bool pushFormFromBadge(const std::string& badge);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
  std::shared_ptr<ui::Button> businessCard_, manual_, badge_;
  std::string string2Dbarcode_;
  int observerToken_ = 0;
};

}  // namespace orvo
