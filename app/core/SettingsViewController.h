#pragma once
// The administrator's settings screen: a grouped table in which the server address and
// port, the company division, the warehouse, the price level, the order-mode switches, the
// inactivity time-out, the print options and the two sleeve options are set. Every option
// lives in the standard user defaults: a switch is stored the moment it changes; the texts
// (server IP, port, time-out, price level) are stored by the save button, which also saves
// the set as the current Wi-Fi network's profile. It also asks the server for its lists of
// order-header choices ("GetMethods") and for the company logo ("InsertLogo").
//
// Presented by the login screen, as the root of its own navigation controller; the
// division, warehouse and printer screens are pushed on it. Main thread only.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/ScreenRequest.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

class SettingsViewController : public ui::ViewController,
                               public ui::TableViewDataSource,
                               public ui::TableViewDelegate,
                               public ui::TextFieldDelegate,
                               public ui::PickerViewDataSource,
                               public ui::PickerViewDelegate {
 public:
  // Switch tags.
  enum Tag : int {
    kAutoConnect = 51, kTimeOutFunc = 52, kAutoCharge = 53, kPassSync = 54, kWarehouse = 55,
    kPreviousOrder = 56, kNegativeStocks = 57, kOtsWarning = 58, kMultiSo = 59, kRealtimeSo = 60,
    kMultiColorSo = 61, kSoStatus = 62, kDupItem = 63, kPrint2Copies = 65, kUsingServer = 66,
  };
  // Options of `setScannerSettings`.
  static constexpr int kOptionCharging = 150;
  static constexpr int kOptionPassSync = 151;

  SettingsViewController() : ui::ViewController("SettingsView") {}
  explicit SettingsViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  void switchChanged(ui::Switch& sender);
  void setScannerSettings(int option, bool status);
  void saveSettings();
  bool checkSettingOption();
  void saveIPnPort();
  void yesInvalid(int tag);
  void selectRequiredField(ui::TextField& field);
  void dismissKeyboard();
  void backButtonClicked();
  void backFunc();

  // Server requests.
  void GetMethods();
  void GetMethodsResponseData(const RequestAnswer& answer);
  void getLogoFunc();
  void InsertLogoResponseData(const RequestAnswer& answer);

  // ui::TableViewDataSource / Delegate.
  int numberOfSectionsInTableView(ui::TableView&) override { return 7; }
  int numberOfRowsInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  // ui::TextFieldDelegate.
  bool textFieldShouldReturn(ui::TextField& field) override;
  bool textFieldShouldEndEditing(ui::TextField&) override { return true; }
  // Price-level picker.
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView&, int) override { return int(priceLevelListArray_.size()); }
  std::string titleForRow(ui::PickerView&, int row, int) override;
  void didSelectRow(ui::PickerView&, int row, int) override;

  // For tests.
  ui::TableView* tableView() const { return table_.get(); }
  ui::Switch* switchWithTag(int tag) const;
  ui::TextField* serverIPTextField() const { return serverIPTextField_.get(); }
  ui::TextField* portTextField() const { return portTextField_.get(); }
  ui::TextField* timeOutTextField() const { return timeOutTextField_.get(); }
  ui::TextField* priceLevelTextField() const { return priceLevelTextField_.get(); }
  bool state(int tag) const;

  // The user-defaults key a switch stores (nullptr for other tags).
  static const char* keyForTag(int tag);

 private:
  struct Row {
    std::string title;
    int tag = 0;        // switch rows
    int dependsOn = 0;  // greyed and inert while this switch is off
  };
  std::vector<Row> rowsOfSection(int section) const;
  std::shared_ptr<ui::Switch> switchFor(int tag);
  std::shared_ptr<ui::TextField> makeField(const std::string& placeholder, const std::string& text, double width);
  std::string fieldText(const std::shared_ptr<ui::TextField>& field, const std::string& loaded) const;
  void pushScreen(const std::string& interfaceName);
  void storeBool(const char* key, bool value);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::Toolbar> accessoryToolbar_;
  std::map<int, bool> states_;
  std::map<int, std::shared_ptr<ui::Switch>> switches_;
  std::string serverIP_, serverPort_, divisionCode_, warehouseCode_, timeOut_, printerName_, priceLevel_;
  std::vector<std::string> priceLevelListArray_{"AUTO", "1", "2", "3", "4", "5"};
  std::shared_ptr<ui::PickerView> priceLevelPickerView_;
  std::shared_ptr<ui::TextField> serverIPTextField_, portTextField_, timeOutTextField_, priceLevelTextField_;
  std::shared_ptr<ui::View> btnGetMethods_;
  std::map<std::pair<int, std::string>, std::shared_ptr<ui::TableViewCell>> cells_;
};

}  // namespace orvo
