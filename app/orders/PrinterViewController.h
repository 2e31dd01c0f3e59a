#pragma once
// The settings page on which the user chooses the server printer: the server's printers
// ("GetPrinterList") numbered from 1; a choice stores its number under "printerName" and
// goes back; a row's swipe prints the server's test page on that printer
// ("PrintTestPage") and shows what the server says. Pushed by the settings screen.
// Main thread.

#include <memory>
#include <nlohmann/json.hpp>

#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

struct RequestAnswer;

class PrinterViewController : public ui::ViewController,
                              public ui::TableViewDataSource,
                              public ui::TableViewDelegate {
 public:
  PrinterViewController() : PrinterViewController("PrinterViewController") {}
  explicit PrinterViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;

  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return "Printer List"; }
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return 70; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  bool canEditRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return true; }
  std::string titleForDeleteConfirmationButtonForRowAtIndexPath(ui::TableView&, ui::IndexPath) override {
    return "PRINT TEST PAGE";
  }
  void commitEditingStyle(ui::TableView&, ui::EditingStyle style, ui::IndexPath ip) override;

  void getPrinterList();
  void printerListResponseData(const RequestAnswer& answer);
  void printTestPage(int printerNo);
  void printTestPageResponseData(const RequestAnswer& answer);
  void backFunc();

  const nlohmann::json& listContent() const { return listContent_; }
  ui::TableView* tableView() const { return table_.get(); }

 private:
  std::shared_ptr<ui::TableView> table_;
  nlohmann::json listContent_ = nlohmann::json::array();
};

}  // namespace orvo
