#pragma once
// The first screen of sales-order taking: it copies the device's stored settings into the
// session records (`setOrvoMethods`), asks the server for the sales-order types
// ("GetSoOrderType") and lists them; choosing one records it in `GlobalSO` and opens the
// order selector. Root of the navigation controller that the login screen or the main
// menu presents; Back closes that stack, Logout resets the order state first.
//
// A stored setting that cannot be read (a server list never requested, or not a list)
// leaves its target as it was and, once, asks the user to request the server settings; the
// other settings are still loaded. Main thread.

#include <memory>
#include <nlohmann/json.hpp>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class SoOrderTypeViewController : public ui::ViewController,
                                  public ui::TableViewDataSource,
                                  public ui::TableViewDelegate {
 public:
  SoOrderTypeViewController() : SoOrderTypeViewController("SoOrderTypeViewController") {}
  explicit SoOrderTypeViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return "Sales Order Type"; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  // Copies the stored settings into `Settings` and `GlobalSO`; false when a step failed
  // (the user has been asked to request the server settings).
  bool setOrvoMethods();
  void getSoOrderType();
  void soOrderTypeResponseData(const RequestAnswer& answer);
  void backFunc();
  void logoutButtonClicked();
  void yesAlertLogout();

  const nlohmann::json& listContent() const { return listContent_; }
  ui::TableView* tableView() const { return table_.get(); }
  bool multiDivisionFlag() const { return multiDivisionFlag_; }

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  nlohmann::json listContent_ = nlohmann::json::array();
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
  bool multiDivisionFlag_ = false;
};

}  // namespace orvo
