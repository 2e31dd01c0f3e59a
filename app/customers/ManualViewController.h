#pragma once
// The form on which a new customer is typed by hand, or completed after a trade-show badge
// was scanned: one section per group of customer data, each row a text field in the cell's
// accessory view (state, country and sales representative chosen from pickers). The string
// properties seed the fields; from then on the fields hold the input. Saving checks the
// required fields and limits, asks the server for existing customers that resemble the new
// one ("GetExistCustomerInfo"), and creates it ("InsertNewCustomerForManual") or shows the
// matches ("ExistedCustomerViewController"), from which the user may come back to create it
// anyway. A created customer becomes the order's customer and store and the item list opens.
//
// Made from "ManualViewController" by the new-customer menu and pushed. Main thread.

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

// The form's fields, in the order of its sections.
enum class CustomerField {
  Code, Name, Address1, Address2, City, Zip, State, Country, Phone1, Phone2, Fax1, Fax2,
  Email1, Email2, Contact1, Contact2, Memo, SalesRep1,
};
inline constexpr int kCustomerFieldCount = 18;

class ManualViewController : public ui::ViewController,
                             public ui::TableViewDataSource,
                             public ui::TableViewDelegate,
                             public ui::TextFieldDelegate,
                             public ui::PickerViewDataSource,
                             public ui::PickerViewDelegate {
 public:
  // Alert tags that name a field; their OK scrolls the form and focuses it.
  static constexpr int kTagCode = 70, kTagName = 71, kTagAddress1 = 72, kTagState = 73, kTagPhone1 = 76;
  // Picker tags.
  static constexpr int kStatePicker = 73, kSalesRepPicker = 74, kCountryPicker = 75;
  static constexpr int kCodeFieldTag = 80;

  ManualViewController() : ManualViewController("ManualViewController") {}
  explicit ManualViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  // The fields' first texts (unset: empty; country "USA").
  std::optional<std::string> customerCode, name, address1, address2, city, zip, state, country, phone1, phone2, fax1,
      fax2, email1, email2, contact1, contact2, memo, salesRep1;

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

  // Table.
  int numberOfSectionsInTableView(ui::TableView&) override;
  int numberOfRowsInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;

  // Fields.
  bool shouldChangeCharactersInRange(ui::TextField& f, ui::Range range, const std::string& replacement) override;
  bool textFieldShouldReturn(ui::TextField& f) override;

  // Pickers.
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView& picker, int component) override;
  std::string titleForRow(ui::PickerView& picker, int row, int component) override;
  void didSelectRow(ui::PickerView& picker, int row, int component) override;

  void dismissKeyboard();
  void trimAllTextField();
  bool checkIllegalCharactersForCustomerCode();
  void yesAlertEnterText(int tag);
  void selectRequiredField(ui::TextField& field);
  void backFunc();

  // Saving.
  void btn_saveNewCustomer();
  void GetExistCustomerInfo();
  void GetExistCustomerInfoResponseData(const RequestAnswer& answer);
  void InsertNewCustomerForManual();
  void InsertNewCustomerForManualResponseData(const RequestAnswer& answer);

  // The field (made from its property when it has not been shown yet).
  ui::TextField& textField(CustomerField f);
  ui::TableView* tableView() const { return table_.get(); }
  ui::PickerView* picker(int tag);
  ui::Toolbar* accessoryToolbar() const { return accessoryToolbar_.get(); }
  ui::Button* saveButton() const { return saveButton_.get(); }

 private:
  struct Row {
    CustomerField field;
    const char* label;
    const char* placeholder;
  };
  static const std::vector<Row>& rowsOf(int section);
  std::optional<std::string>& property(CustomerField f);
  void showFieldAlert(int tag, const std::string& message);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::PickerView> statePicker_, countryPicker_, salesRepPicker_;
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
  std::shared_ptr<ui::Button> saveButton_;
  std::shared_ptr<ui::Toolbar> accessoryToolbar_;
  std::array<std::shared_ptr<ui::TextField>, kCustomerFieldCount> fields_;
};

}  // namespace orvo
