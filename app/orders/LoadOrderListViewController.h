#pragma once
// The saved orders of the chosen customer and store, when the selector was set to edit an
// order: one row per order (number, order date, and the update date when it differs),
// asked of the server once ("GetBeforeOrderNumberList"). A tap opens the order on the item
// list; a swipe prints it on a server printer or on the device from the server's PDF. A
// customer and store without orders are told so once, and OK goes back to the customer
// list. Main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class SoapPrint;

class OrvoMobileAppDelegate;
struct RequestAnswer;

class LoadOrderListViewController : public ui::ViewController,
                                    public ui::TableViewDataSource,
                                    public ui::TableViewDelegate {
 public:
  LoadOrderListViewController() : LoadOrderListViewController("LoadOrderListViewController") {}
  explicit LoadOrderListViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override {
    return "Previous Order Number List";
  }
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return 61.0; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  bool canEditRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return true; }
  std::string titleForDeleteConfirmationButtonForRowAtIndexPath(ui::TableView&, ui::IndexPath) override {
    return "PRINT";
  }
  void commitEditingStyle(ui::TableView&, ui::EditingStyle style, ui::IndexPath ip) override;

  void beforeOrderListResponseData(const RequestAnswer& answer);
  void printSOdirectly(const std::string& number);
  void printSOdirectlyResponseData(const RequestAnswer& answer);
  void CreateSOpdf(const std::string& number);
  void CreateSOpdfResponseData(const RequestAnswer& answer);
  void logoutButtonClicked();
  void yesAlertLogout();
  void backFunc();
  void yesAlertNoList();

  const nlohmann::json& listContent() const { return listContent_; }
  ui::TableView* tableView() const { return table_.get(); }
  // The texts of a row's three labels: SO number, order date, update date.
  static std::vector<std::string> rowTexts(const nlohmann::json& row);

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<SoapPrint> soapPrint_;
  std::shared_ptr<ui::TableView> table_;
  nlohmann::json listContent_ = nlohmann::json::array();
  std::string tempPrintSO_;
};

}  // namespace orvo
