#include "app/orders/PrinterViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;

void PrinterViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void PrinterViewController::viewDidLoad() {
  setTitle(ui::localizedString("Printer Setting"));
  listContent_ = json::array();
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  navigationItem().setLeftBarButtonItem(barImageButton("back.png", "Back", [this] { backFunc(); }));
  getPrinterList();
}

void PrinterViewController::getPrinterList() {
  ScreenRequest r;
  r.operation = "GetPrinterList";
  r.requestMethod = "-[PrinterViewController getPrinterList]";
  r.answerMethod = "-[PrinterViewController printerListResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { printerListResponseData(a); });
}

void PrinterViewController::printerListResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (answer && foundation::textForKey(*answer, "Response") == "True") {
    const json& names = foundation::valueForKey(*answer, "ResultValue");
    if (auto list = JsonClass::getJSONobj(names.is_string() ? std::optional(names.get<std::string>()) : std::nullopt);
        list && list->is_array())
      for (const auto& name : *list) listContent_.push_back(name);
  } else if (answer) {
    const json& error = foundation::valueForKey(*answer, "Error");
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error",
                             error.is_null() ? std::string() : foundation::textValue(error));
  }
  table_->reloadData();
}

std::shared_ptr<ui::TableViewCell> PrinterViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) {
    cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Subtitle, "Cell");
    cell->setAccessoryType(ui::AccessoryType::DisclosureIndicator);
    cell->textLabel().setFont(ui::Font::boldSystemFont(25));
    cell->textLabel().setAdjustsFontSizeToFitWidth(true);
    cell->detailTextLabel().setAdjustsFontSizeToFitWidth(true);
  }
  cell->textLabel().setText(std::to_string(ip.row + 1));
  const json& name = listContent_.at(size_t(ip.row));
  cell->detailTextLabel().setText(name.is_string() ? name.get<std::string>() : foundation::textValue(name));
  return cell;
}

void PrinterViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  auto& d = foundation::UserDefaults::standard();
  d.setString(defaults::printerName, std::to_string(ip.row + 1));
  d.synchronize();
  backFunc();
}

void PrinterViewController::commitEditingStyle(ui::TableView&, ui::EditingStyle style, ui::IndexPath ip) {
  if (style == ui::EditingStyle::Delete) printTestPage(ip.row + 1);
}

void PrinterViewController::printTestPage(int printerNo) {
  ScreenRequest r;
  r.operation = "PrintTestPage";
  r.params = {SoapParam::integer("printerNo", printerNo)};
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[PrinterViewController printTestPage:]";
  r.answerMethod = "-[PrinterViewController printTestPageResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { printTestPageResponseData(a); });
}

void PrinterViewController::printTestPageResponseData(const RequestAnswer& a) {
  AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, a.text.value_or(""));
}

void PrinterViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
