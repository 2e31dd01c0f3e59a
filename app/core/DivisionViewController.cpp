#include "app/core/DivisionViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/SoapEnvelope.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace orvo {

using foundation::UserDefaults;
using nlohmann::json;

// ----- Cells

CustomCellForList::CustomCellForList(std::string reuseIdentifier)
    : ui::TableViewCell(ui::CellStyle::Default, std::move(reuseIdentifier)) {
  const double ys[4] = {4, 22, 40, 58};
  for (int i = 0; i < 4; ++i) {
    labels_[i] = ui::makeView<ui::Label>(ui::Rect(15, ys[i], 270, 18));
    labels_[i]->setFont(i == 0 ? ui::Font::boldSystemFont(15) : ui::Font::systemFont(13));
    labels_[i]->setTextColor(i == 0 ? ui::Color::black() : ui::Color::darkGray());
    contentView().addSubview(labels_[i]);
  }
}

void CustomCellForList::prepareForReuse() {
  ui::TableViewCell::prepareForReuse();
  for (auto& l : labels_) l->setText("");
}

// ----- Shared list screen

void ListChoiceViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void ListChoiceViewController::setUpList(const std::string& title, const std::string& operation) {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(title);
  listContent_ = json::array();
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  navigationItem().setLeftBarButtonItem(barImageButton("back.png", "Back", [this] { backFunc(); }));
  ScreenRequest r;
  r.operation = operation;
  r.requestMethod = "-[" + nibName() + " viewDidLoad]";
  r.answerMethod = operation == "GetDivision" ? "-[DivisionViewController divisionListResponseData:]"
                                              : "-[WarehouseViewController warehouseListResponseData:]";
  sendScreenRequest(*this, std::move(r), [this, operation](const RequestAnswer& a) {
    if (operation == "GetDivision")
      static_cast<DivisionViewController*>(this)->divisionListResponseData(a);
    else
      static_cast<WarehouseViewController*>(this)->warehouseListResponseData(a);
  });
}

void ListChoiceViewController::appendList(const RequestAnswer& answer) {
  // An answer without a result text is an exception of the answer method, which the
  // request's "Error" alert reports.
  const auto& rows = answer.requireObject();
  std::optional<std::string> announce;
  if (rows && rows->is_array()) {
    for (auto& row : *rows) {
      if (!isValidRow(row) && !announce) announce = errorMessage(row);
      listContent_.push_back(row);
    }
  }
  table_->reloadData();
  if (announce) {
    std::weak_ptr<ListChoiceViewController> w = self<ListChoiceViewController>();
    AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, *announce, [w] {
      if (auto s = w.lock()) s->backFunc();
    }, nullptr);
  }
}

std::optional<ui::IndexPath> ListChoiceViewController::willSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  // An error row holds nothing to store.
  if (ip.row < 0 || ip.row >= int(listContent_.size()) || !isValidRow(listContent_[ip.row])) return std::nullopt;
  return ip;
}

void ListChoiceViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

namespace {

// Stores a row's text under `key`; an absent or null value removes the key.
void storeText(UserDefaults& d, const char* key, const json& row, const char* member) {
  const json& v = foundation::valueForKey(row, member);
  if (v.is_null())
    d.removeObjectForKey(key);
  else
    d.setString(key, foundation::textValue(v));
}

}  // namespace

// ----- Division

void DivisionViewController::viewDidLoad() { setUpList("Division Setting", "GetDivision"); }

bool DivisionViewController::isValidRow(const json& row) const {
  return foundation::textForKey(row, "Response") != "False";
}

void DivisionViewController::divisionListResponseData(const RequestAnswer& answer) { appendList(answer); }

std::shared_ptr<ui::TableViewCell> DivisionViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForDivision>(table.dequeueReusableCellWithIdentifier("DivisionCell"));
  if (!cell) {
    cell = std::make_shared<CustomCellForDivision>();
    cell->setAccessoryType(ui::AccessoryType::DisclosureIndicator);
    cell->divisionDescript().setAdjustsFontSizeToFitWidth(true);
    cell->divisionAddress().setAdjustsFontSizeToFitWidth(true);
  }
  const json& row = listContent_.at(ip.row);
  if (!isValidRow(row)) return cell;
  auto text = [&](const char* k) {
    const json& v = foundation::valueForKey(row, k);
    return v.is_null() ? std::string() : foundation::textValue(v);
  };
  cell->divisionCode().setText(text("Code"));
  cell->divisionDescript().setText(text("Descript"));
  cell->divisionCompany().setText(text("Company"));
  cell->divisionAddress().setText(text("Addr1"));
  return cell;
}

void DivisionViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  if (ip.row < 0 || ip.row >= int(listContent_.size())) return;
  const json& row = listContent_[ip.row];
  if (!isValidRow(row)) return;
  auto& d = UserDefaults::standard();
  storeText(d, defaults::divisionCode, row, "Code");
  storeText(d, defaults::companyName, row, "Company");
  storeText(d, defaults::divisionStatus, row, "MultiDivision");
  storeText(d, defaults::printSoWithSignStatus, row, "PrintSoWithSignature");
  d.setBool(defaults::overBooking, foundation::textForKey(row, "Overbook") == "Y");
  storeText(d, defaults::soAddShipDay, row, "AddShipDay");
  d.synchronize();
  getLogoFunc(d.stringForKey(defaults::divisionCode).value_or(""));
}

void DivisionViewController::getLogoFunc(const std::string& divisionCode) {
  ScreenRequest r;
  r.operation = "GetDivisionLogo";
  r.params = {{"code", divisionCode}};
  r.lineFeedAfterEachChild = true;
  r.requestMethod = "-[DivisionViewController getLogoFunc:]";
  r.answerMethod = "-[DivisionViewController divisionLogoResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { divisionLogoResponseData(a); });
}

void DivisionViewController::divisionLogoResponseData(const RequestAnswer& answer) {
  // In every case, an answer without a result text included (reported as the answer
  // method's exception), the screen goes back afterwards.
  try {
    const auto& obj = answer.requireObject();
    if (obj && foundation::textForKey(*obj, "Response") == "True") {
      auto& d = UserDefaults::standard();
      d.setString(defaults::companyLogo, foundation::textForKey(*obj, "Id"));
      d.synchronize();
    } else if (obj) {
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, foundation::textForKey(*obj, "Error"));
    }
  } catch (const std::exception& e) {
    AlertClass::exceptionAlert(self<ui::ViewController>(), "-[DivisionViewController divisionLogoResponseData:]", e);
  }
  backFunc();
}

// ----- Warehouse

void WarehouseViewController::viewDidLoad() { setUpList("Warehouse Setting", "GetWarehouse"); }

bool WarehouseViewController::isValidRow(const json& row) const {
  return foundation::textForKey(row, "Response") == "True";
}

std::string WarehouseViewController::errorMessage(const json& row) const {
  const json& v = foundation::valueForKey(row, "Error");
  return v.is_null() ? std::string() : foundation::textValue(v);
}

void WarehouseViewController::warehouseListResponseData(const RequestAnswer& answer) { appendList(answer); }

std::shared_ptr<ui::TableViewCell> WarehouseViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForWarehouse>(table.dequeueReusableCellWithIdentifier("WarehouseCell"));
  if (!cell) {
    cell = std::make_shared<CustomCellForWarehouse>();
    cell->setAccessoryType(ui::AccessoryType::DisclosureIndicator);
    cell->warehouseDescript().setAdjustsFontSizeToFitWidth(true);
    cell->warehouseName().setAdjustsFontSizeToFitWidth(true);
    cell->warehouseAddr1().setAdjustsFontSizeToFitWidth(true);
  }
  const json& row = listContent_.at(ip.row);
  if (!isValidRow(row)) return cell;
  auto text = [&](const char* k) {
    const json& v = foundation::valueForKey(row, k);
    return v.is_null() ? std::string() : foundation::textValue(v);
  };
  cell->warehouseCode().setText(text("Code"));
  cell->warehouseDescript().setText(text("Descript"));
  cell->warehouseName().setText(text("Name"));
  cell->warehouseAddr1().setText(text("Addr1"));
  return cell;
}

void WarehouseViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  if (ip.row < 0 || ip.row >= int(listContent_.size())) return;
  const json& row = listContent_[ip.row];
  if (!isValidRow(row)) return;
  auto& d = UserDefaults::standard();
  storeText(d, defaults::warehouseCode, row, "Code");
  d.synchronize();
  backFunc();
}

}  // namespace orvo
