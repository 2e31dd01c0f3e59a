#pragma once
// The order header of a sales order: e-mail, phone, customer PO, order type, cancel date,
// terms, payment, ship via, ship date, and by options the Note/Hold switch, the customer
// priority and the sales rep, plus the memo. The item list pushes it; 0.1 s after it loads
// it asks the server for the header of a new order ("GetOrderInfo") or of the order being
// edited ("GetBeforeOrderInfo"), and only once that answer has been applied do the rows and
// the Save button appear. Save (after a confirmation) inserts a new order, edits one the
// server holds, or, after an insert that never came back, first asks the server whether it
// made the order ("CheckOrderProcessing"), so a repeated Save never makes a second order.
// Afterwards the last screen follows (or, for a duplicated order, the last screen it was
// duplicated from). Split over files: the screen and its loading here, the save in
// OrderInfoSave.cpp. Main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/KeyboardAvoidance.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

// Control tags.
enum OrderInfoTag {
  kTagEmail = 705,
  kTagPhone = 706,
  kTagCustomerPo = 707,
  kTagSoStatus = 708,
  kTagOrderType = 715,
  kTagCancelDate = 720,
  kTagTerms = 725,
  kTagPayMethod = 730,
  kTagShipVia = 735,
  kTagShipDate = 738,
  kTagCustomerPriority = 739,
  kTagMemo = 740,
  kTagSalesRep = 760,
};

class OrderInfoViewController : public ui::ViewController,
                                public ui::TableViewDataSource,
                                public ui::TableViewDelegate,
                                public ui::PickerViewDataSource,
                                public ui::PickerViewDelegate,
                                public ui::TextFieldDelegate,
                                public ui::TextViewDelegate {
 public:
  OrderInfoViewController() : OrderInfoViewController("OrderInfoViewController") {}
  explicit OrderInfoViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~OrderInfoViewController() override;

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  // Table.
  int numberOfRowsInSection(ui::TableView&, int) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath) override { allDismissKeyboard(); }
  // The logical row (0..12) of a displayed row.
  int ReturnIndexRow(int row) const;
  void setOrderInfoItemsArray();

  // Wheels.
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView& picker, int) override;
  std::string titleForRow(ui::PickerView& picker, int row, int) override;
  void didSelectRow(ui::PickerView& picker, int row, int) override;
  void selectPicker(int tag, const std::string& content);
  void dateHasChanged(ui::DatePicker& picker);

  // Text.
  bool textFieldShouldReturn(ui::TextField& field) override;
  bool textViewShouldBeginEditing(ui::TextView& view) override;
  void textViewDidChange(ui::TextView& view) override;
  bool textViewShouldEndEditing(ui::TextView& view) override;
  void allDismissKeyboard();

  // Loading the header.
  void getOrderInfo();
  void getBeforeOrderInfo();
  void orderInfoResponseData(const RequestAnswer& answer);
  void beforeOrderInfoResponseData(const RequestAnswer& answer);
  void setOrderInfoFromResponseData(const nlohmann::json& list, bool isPrevOrderInfo);
  void checkFlag();

  // Leaving.
  void logoutButtonClicked();
  void yesAlertLogout();
  void backFunc();
  void moveLastSelectorView();
  void moveLastSelectorViewForDuplicateSO();

  // Values for the save.
  std::string getSoHoldForWS() const;
  std::optional<std::string> getCustomerPriorityCodeForWS() const;
  std::string getMemoForWS() const;
  std::optional<std::string> getSalesRepForWS() const;

  // The save (OrderInfoSave.cpp).
  void btn_saveFunc();
  void yesInsertOrderAlert();
  void insertOrder();
  void editOrder();
  void EditOrderInfo();
  void checkOrderProcessing();
  void insertOrderResponseData(const RequestAnswer& answer);
  void editOrderResponseData(const RequestAnswer& answer);
  void EditOrderInfoResponseData(const RequestAnswer& answer);
  void checkOrderProcessingResponseData(const RequestAnswer& answer);
  void backupOrderProcessingFlag(bool flag);
  void backupSOmemo();
  void yesAfterInsertOrderAlert();
  void showSignatureView();
  void successSignatureForSo(const nlohmann::json& userInfo);
  void yesCheckEmailAddress();
  void yesSoapError();

  // For tests and the demo.
  ui::TableView* tableView() const { return table_.get(); }
  ui::Button* saveButton() const { return btn_Save_.get(); }
  ui::TextField* field(int tag) const;
  ui::TextView* memoView() const { return txt_Memo_.get(); }
  ui::Switch* soStatusSwitch() const { return soStatusSwitch_.get(); }
  ui::PickerView* picker(int tag) const;
  ui::DatePicker* datePicker(int tag) const;
  const std::vector<std::string>& orderInfoItems() const { return orderInfoItemsArray_; }
  bool soStateFlag() const { return soStateFlag_; }
  bool orderProcessFlag() const { return orderProcessFlag_; }
  bool soapErrorFlag() const { return soapErrorFlag_; }

 private:
  void makeControls();
  std::shared_ptr<ui::TextField> makeField(int tag, const std::string& placeholder, const std::string& text);
  std::shared_ptr<ui::PickerView> makePicker(int tag, int preselect);
  std::shared_ptr<ui::DatePicker> makeDatePicker(int tag, const std::string& date);
  const nlohmann::json& listForTag(int tag) const;
  int* preselectForTag(int tag);
  void showSavedAlert(const std::string& message);
  void copyHeaderIntoOrder();
  void saveAnswer(const RequestAnswer& answer, bool insert);
  std::vector<std::pair<std::string, std::string>> headerParams() const;
  std::vector<std::pair<std::string, std::string>> processingCheckValues() const;
  std::string fieldText(int tag) const;

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  // Rows under the keyboard can still be scrolled up to, as on a table view controller.
  std::unique_ptr<ui::KeyboardAvoidance> keyboardAvoidance_;
  std::shared_ptr<ui::Button> btn_Save_;
  std::shared_ptr<ui::Toolbar> mypickerToolbar_;
  std::optional<std::vector<std::string>> orderInfoItems_;
  std::vector<std::string> orderInfoItemsArray_;
  nlohmann::json listContent_ = nlohmann::json::array();
  std::string phone1_, cancelDate_, paymentcode_, shipvia_, term_, orderType_, shipDate_, status_, memo_,
      salesRepCode_, customerPriorityCode_;
  std::shared_ptr<ui::TextField> txt_Email_, txt_Phone1_, txt_CustomerPo_, txt_OrderType_, txt_CancelDate_, txt_Terms_,
      txt_PayMethod_, txt_ShipVia_, txt_ShipDate_, txt_CustomerPriority_, txt_SalesRep_;
  std::shared_ptr<ui::TextView> txt_Memo_;
  std::shared_ptr<ui::Switch> soStatusSwitch_;
  std::shared_ptr<ui::PickerView> ordertypePicker_, termsPicker_, paymethodPicker_, shipviaPicker_,
      customerPriorityPicker_, salesRepPicker_;
  std::shared_ptr<ui::DatePicker> cancelDatePicker_, shipDatePicker_;
  int sOT_ = 0, sT_ = 0, sPC_ = 0, sSV_ = 0, sCP_ = 0, sSR_ = 0;
  bool soStateMode_ = false;
  bool soStateFlag_ = false;
  bool printSoWithSignFlag_ = false;
  bool orderProcessFlag_ = false;
  bool soapErrorFlag_ = false, orderInfoFlag_ = false, beforeOrderInfoFlag_ = false;
  int observerToken_ = 0;
};

}  // namespace orvo
