#pragma once
// The list screens on which the settings screen's user picks the company division and the
// warehouse this device works for. Each asks the server for its list once per instance,
// shows it, and stores what a tap chooses in the user defaults: the division's code and
// options (then its logo reference, "GetDivisionLogo"), or the warehouse code. Rows that
// carry the server's "no list" answer are announced once, when the answer arrives, and
// cannot be chosen. Pushed on the settings screen's navigation controller; main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/core/ScreenRequest.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

// A list row with four labels, one above the other.
class CustomCellForList : public ui::TableViewCell {
 public:
  explicit CustomCellForList(std::string reuseIdentifier);
  ui::Label& label(int i) { return *labels_[i]; }
  void prepareForReuse() override;

 private:
  std::shared_ptr<ui::Label> labels_[4];
};

class CustomCellForDivision : public CustomCellForList {
 public:
  CustomCellForDivision() : CustomCellForList("DivisionCell") {}
  ui::Label& divisionCode() { return label(0); }
  ui::Label& divisionDescript() { return label(1); }
  ui::Label& divisionCompany() { return label(2); }
  ui::Label& divisionAddress() { return label(3); }
};

class CustomCellForWarehouse : public CustomCellForList {
 public:
  CustomCellForWarehouse() : CustomCellForList("WarehouseCell") {}
  ui::Label& warehouseCode() { return label(0); }
  ui::Label& warehouseDescript() { return label(1); }
  ui::Label& warehouseName() { return label(2); }
  ui::Label& warehouseAddr1() { return label(3); }
};

// What the two list screens share: the table, the list request and the back button.
class ListChoiceViewController : public ui::ViewController,
                                 public ui::TableViewDataSource,
                                 public ui::TableViewDelegate {
 public:
  using ui::ViewController::ViewController;
  void loadView() override;

  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::optional<ui::IndexPath> willSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return 80; }

  void backFunc();

  ui::TableView* tableView() const { return table_.get(); }
  const nlohmann::json& listContent() const { return listContent_; }

 protected:
  // Sets the title and back button and sends the list request.
  void setUpList(const std::string& title, const std::string& operation);
  // Appends the answer's rows; announces an error row (once) with `errorMessage(row)`.
  void appendList(const RequestAnswer& answer);
  virtual bool isValidRow(const nlohmann::json& row) const = 0;
  virtual std::string errorMessage(const nlohmann::json& row) const = 0;

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  nlohmann::json listContent_ = nlohmann::json::array();
};

class DivisionViewController : public ListChoiceViewController {
 public:
  DivisionViewController() : ListChoiceViewController("DivisionViewController") {}
  explicit DivisionViewController(std::string nibName) : ListChoiceViewController(std::move(nibName)) {}

  void viewDidLoad() override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return "Division List"; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  void divisionListResponseData(const RequestAnswer& answer);
  void getLogoFunc(const std::string& divisionCode);
  void divisionLogoResponseData(const RequestAnswer& answer);

 protected:
  bool isValidRow(const nlohmann::json& row) const override;
  std::string errorMessage(const nlohmann::json&) const override { return "You don't have division list."; }
};

class WarehouseViewController : public ListChoiceViewController {
 public:
  WarehouseViewController() : ListChoiceViewController("WarehouseViewController") {}
  explicit WarehouseViewController(std::string nibName) : ListChoiceViewController(std::move(nibName)) {}

  void viewDidLoad() override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return "Warehouse List"; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  void warehouseListResponseData(const RequestAnswer& answer);

 protected:
  bool isValidRow(const nlohmann::json& row) const override;
  std::string errorMessage(const nlohmann::json& row) const override;
};

}  // namespace orvo
