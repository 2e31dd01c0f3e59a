#pragma once
// The typed card entry: number (grouped 4-4-4-4, or 4-6-5 for a number beginning with 3,
// with the brand's logo), expiry on a month/year picker, cardholder name, CVV and, when the
// server asks for it, the billing ZIP code. "Next" checks the form and posts "setCCdata"
// with the card for the card screen, then closes; "Close" closes without posting. In camera
// mode the camera card reader (CardIO.h) fills the number and expiry first. The expiry is
// written by its wheels (or the camera) only: keystrokes in it are refused, and "Next"
// takes an expiry not in the wheels' form as none. Made from
// "CcManualAndCameraTableViewController" and presented in its own navigation controller by
// the card screen. The form keeps nothing after it closes; its fields are emptied when it
// goes. Main thread.

#include <memory>
#include <string>
#include <vector>

#include "app/payments/CardIO.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

class CcManualAndCameraTableViewController : public ui::ViewController,
                                             public ui::TableViewDataSource,
                                             public ui::TableViewDelegate,
                                             public ui::TextFieldDelegate,
                                             public ui::PickerViewDataSource,
                                             public ui::PickerViewDelegate,
                                             public CardIOViewDelegate {
 public:
  CcManualAndCameraTableViewController() : CcManualAndCameraTableViewController("CcManualAndCameraTableViewController") {}
  explicit CcManualAndCameraTableViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~CcManualAndCameraTableViewController() override;

  bool isCcCameraMode = false;

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  void InitManualCcTableHeader();
  void OpenCameraCcView();
  void btn_CcManually();
  void closeFunc();
  void btn_next_tf();
  void btn_next();
  void dismissKeyboard();
  void resetTextFieldText();
  bool checkCCdata();
  static bool isAMEX(const std::string& text);
  // Whether `text` is an expiry as the wheels write it: "MM/YYYY" and a line feed.
  static bool isExpiryText(const std::string& text);
  void setCClogo(int digit);
  bool setCCformat(ui::TextField& field, ui::Range range, const std::string& replacement);
  static std::vector<std::string> getCCyearArray(int count);
  static int getIdxOfCCyear(int year);
  void checkInvalidCharactersForCCname();
  void yesCCname();
  void yesCCnum();
  void resetCVV();

  int numberOfSectionsInTableView(ui::TableView&) override;
  int numberOfRowsInSection(ui::TableView&, int) override { return 1; }
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath) override { dismissKeyboard(); }

  int numberOfComponentsInPickerView(ui::PickerView&) override { return 2; }
  int numberOfRowsInComponent(ui::PickerView&, int component) override;
  std::string titleForRow(ui::PickerView&, int row, int component) override;
  void didSelectRow(ui::PickerView&, int row, int component) override;

  bool shouldChangeCharactersInRange(ui::TextField& field, ui::Range range, const std::string& text) override;
  bool textFieldShouldReturn(ui::TextField& field) override {
    field.resignFirstResponder();
    return true;
  }

  void didScanCard(CardIOView& view, const std::optional<CardIOCreditCardInfo>& info) override;

  // The five fields (made with the form), the picker and the header.
  ui::TextField& tf_ccnum() { return *fields_[0]; }
  ui::TextField& tf_expDate() { return *fields_[1]; }
  ui::TextField& tf_name() { return *fields_[2]; }
  ui::TextField& tf_cvv() { return *fields_[3]; }
  ui::TextField& tf_zipcode() { return *fields_[4]; }
  ui::PickerView& pv_expDate() { return *picker_; }
  ui::ImageView& iv_header() { return *header_; }
  std::string headerImageName() const { return headerImage_; }
  ui::View* cardView() const { return cardView_.get(); }
  CardIOView* cardIOView() const { return cardIOView_.get(); }
  ui::ImageView& cardImageView() { return *cardImageView_; }
  ui::TableView* tableView() const { return table_.get(); }
  ui::Button* nextButton() const { return btnNext_.get(); }

 private:
  bool zipOn() const;
  ui::TextField* focused();
  void alert(const std::string& message, void (CcManualAndCameraTableViewController::*then)());

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::Toolbar> accessoryToolbar_;
  std::vector<std::shared_ptr<ui::TextField>> fields_;
  std::shared_ptr<ui::PickerView> picker_;
  std::vector<std::vector<std::string>> expDateListArray_;
  std::shared_ptr<ui::ImageView> header_, cardImageView_;
  std::string headerImage_;
  std::shared_ptr<ui::View> cardView_;
  std::shared_ptr<CardIOView> cardIOView_;
  std::shared_ptr<ui::Button> btnCcManually_, btnNext_;
};

}  // namespace orvo
