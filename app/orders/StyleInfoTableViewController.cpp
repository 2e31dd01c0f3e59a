#include "app/orders/StyleInfoTableViewController.h"

#include <unordered_map>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/SearchOverlay.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;

namespace {

// The least number of characters the search key searches with.
constexpr size_t kMinimumSearchLength = 3;

std::string text(const json& row, const char* key) {
  const json& v = foundation::valueForKey(row, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

bool isDataRow(const json& row) { return row.is_object() && text(row, "Response") == "True"; }

}  // namespace

// ----- Cell

CustomCellForStyleInfo::CustomCellForStyleInfo()
    : ui::TableViewCell(ui::CellStyle::Default, kReuseIdentifier) {
  auto label = [this](ui::Rect frame, double size, bool bold = false) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
    contentView().addSubview(l);
    return l;
  };
  barcode_ = label({10, 4, 150, 18}, 13, true);
  price_ = label({160, 4, 130, 18}, 13);
  style_ = label({10, 24, 100, 18}, 13);
  style_->setAdjustsFontSizeToFitWidth(true);
  color_ = label({110, 24, 70, 18}, 13, true);
  color_->setTextColor(ui::Color::whiteColor());
  color_->setTextAlignment(ui::TextAlignment::Center);
  color_->setAdjustsFontSizeToFitWidth(true);
  sizecode_ = label({185, 24, 50, 18}, 13);
  bundle_ = label({10, 44, 120, 18}, 12);
  eta_ = label({130, 44, 90, 18}, 12);
  ats_ = label({225, 44, 45, 18}, 12, true);
  ats_->setAdjustsFontSizeToFitWidth(true);
  atsStatus_ = label({272, 46, 12, 12}, 12);
  setAccessoryType(ui::AccessoryType::DisclosureIndicator);
}

// The price, the stock and its mark keep to the right edge of the content view, which the
// chevron and the section index (as wide as its longest style) narrow.
void CustomCellForStyleInfo::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double right = contentView().frame().width() - 2;
  auto at = [](ui::Label& l, double x, double maxX) {
    const ui::Rect f = l.frame();
    l.setFrame({x, f.y(), std::max(0.0, maxX - x), f.height()});
  };
  at(*atsStatus_, right - 12, right);
  at(*ats_, right - 14 - 26, right - 14);  // a stock count; shrinks past three digits
  at(*eta_, 130, std::min(220.0, ats_->frame().x() - 2));
  at(*price_, 160, right);
}

// ----- Screen

void StyleInfoTableViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  table_->setRowHeight(66);
  table_->registerCellFactory(CustomCellForStyleInfo::kReuseIdentifier,
                              [] { return std::make_shared<CustomCellForStyleInfo>(); });
  setView(table_);
}

void StyleInfoTableViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(ui::localizedString("Add a Style Manually"));
  listContent_.clear();
  indexTitle_.clear();
  navigationItem().setRightBarButtonItem(
      ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Search, [this](ui::BarButtonItem&) { searchBar(); }));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  searchBar_ = ui::makeView<ui::SearchBar>({0, 0, ui::Window::kScreenWidth, 44});
  searchBar_->setPlaceholder("Style");
  // The scope is sent as the search's kind: 0 prepacks, 1 sizes (UPC).
  searchBar_->setScopeButtonTitles({"Prepack", "UPC"});
  searchBar_->setShowsScopeBar(true);
  searchBar_->searchField().setAutocorrection(false);
  searchBar_->setDelegate(self<ui::SearchBarDelegate>());
  table_->setTableHeaderView(searchBar_);
  searchBar_->setContentInset({5, 0, 5, 70});
  if (orvoDelegate_->settings().isUpcSizeMode) searchBar_->setSelectedScopeButtonIndex(1);
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
}

void StyleInfoTableViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  setOV();
}

void StyleInfoTableViewController::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  searchBar();
}

void StyleInfoTableViewController::viewDidDisappear(bool animated) {
  ui::ViewController::viewDidDisappear(animated);
  dropSearchOverlay(ovController_);
}

void StyleInfoTableViewController::searchBar() { focusSearch(*table_, *searchBar_); }

void StyleInfoTableViewController::setOV() { makeSearchOverlay(ovController_, *this, *searchBar_); }

void StyleInfoTableViewController::searchBarTextDidBeginEditing(ui::SearchBar&) {
  showSearchOverlay(ovController_, *this, *table_, *searchBar_);
}

void StyleInfoTableViewController::delOv() { hideSearchOverlay(ovController_, *table_, *searchBar_); }

void StyleInfoTableViewController::searchBarSearchButtonClicked(ui::SearchBar& bar) {
  bar.resignFirstResponder();
  if (bar.text().size() < kMinimumSearchLength) {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, kTooShortMessage);
    return;
  }
  getStylesInfo(bar.text(), bar.selectedScopeButtonIndex());
}

void StyleInfoTableViewController::selectedScopeButton(int index) {
  const std::string t = searchBar_->text();
  if (!t.empty()) getStylesInfo(t, index);
}

void StyleInfoTableViewController::getStylesInfo(const std::string& searchText, int option) {
  const GlobalSO& so = orvoDelegate_->globalSO();
  const Settings& settings = orvoDelegate_->settings();
  ScreenRequest r;
  r.operation = "GetStylesInfo";
  r.requestMethod = "-[StyleInfoTableViewController getStylesInfo:Option:]";
  r.answerMethod = "-[StyleInfoTableViewController getStylesInfoResponseData:]";
  r.params = {{"Style", searchText},
              SoapParam::integer("Bundle", option),
              {"PriceLevel", so.priceLevel},
              SoapParam::rate("OrderDiscountRate", so.orderDiscountRate),
              SoapParam::integer("IsOrderScanMode", isOrderScanMode_ ? 1 : 0),
              {"WH", settings.isStockWHMode ? so.warehouseCode : std::string()}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { getStylesInfoResponseData(a); });
}

void StyleInfoTableViewController::getStylesInfoResponseData(const RequestAnswer& a) {
  listContent_.clear();
  indexTitle_.clear();
  sectionRows_.clear();
  // Text that is not JSON (its alert shown by the reading) empties the list; an answer
  // that is not a list of rows shows the exception alert with an empty list.
  const auto& rows = a.object;
  if (rows && !rows->is_array()) {
    table_->reloadData();
    throw AppException("NSInvalidArgumentException", "GetStylesInfo answer is not a list");
  }
  if (rows) {
    listContent_.reserve(rows->size());
    for (const json& row : *rows) {
      Row& r = listContent_.emplace_back();
      r.isData = isDataRow(row);
      if (!row.is_object()) continue;
      r.code = text(row, "Code");
      r.style = text(row, "Style");
      r.color = text(row, "Color");
      r.price = text(row, "Price");
      r.orgPrice = text(row, "OrgPrice");
      r.sizeCode = text(row, "SizeCode");
      r.eta = text(row, "Eta");
      r.ats = text(row, "Ats");
      r.bundle = text(row, "Bundle");
      r.kind = text(row, "Kind");
      r.atsStatus = text(row, "AtsStatus");
    }
  }
  std::unordered_map<std::string, std::size_t> sectionOf;
  for (std::size_t i = 0; i < listContent_.size(); ++i) {
    const Row& row = listContent_[i];
    if (!row.isData) continue;
    std::string style = row.style;
    auto [it, added] = sectionOf.emplace(style, indexTitle_.size());
    if (added) {
      indexTitle_.push_back(std::move(style));
      sectionRows_.emplace_back();
    }
    sectionRows_[it->second].push_back(i);
  }
  delOv();
  table_->reloadData();
}

std::vector<json> StyleInfoTableViewController::rowsOfSection(int section) const {
  std::vector<json> out;
  if (section < 0 || section >= int(sectionRows_.size())) return out;
  for (std::size_t i : sectionRows_[size_t(section)]) out.push_back(listContent_[i].toJson());
  return out;
}

json StyleInfoTableViewController::Row::toJson() const {
  return {{"Response", isData ? "True" : "False"}, {"Code", code}, {"Style", style}, {"Color", color},
          {"Price", price}, {"OrgPrice", orgPrice}, {"SizeCode", sizeCode}, {"Eta", eta},
          {"Ats", ats}, {"Bundle", bundle}, {"Kind", kind}, {"AtsStatus", atsStatus}};
}

const StyleInfoTableViewController::Row* StyleInfoTableViewController::rowAt(ui::IndexPath ip) const {
  if (ip.section < 0 || ip.section >= int(sectionRows_.size())) return nullptr;
  const auto& rows = sectionRows_[size_t(ip.section)];
  if (ip.row < 0 || ip.row >= int(rows.size())) return nullptr;
  return &listContent_[rows[size_t(ip.row)]];
}

std::optional<std::string> StyleInfoTableViewController::titleForHeaderInSection(ui::TableView&, int section) {
  if (section < 0 || section >= int(indexTitle_.size())) return std::nullopt;
  return indexTitle_[size_t(section)];
}

std::shared_ptr<ui::TableViewCell> StyleInfoTableViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                      ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForStyleInfo>(
      table.dequeueReusableCellWithIdentifier(CustomCellForStyleInfo::kReuseIdentifier));
  if (!cell) cell = std::make_shared<CustomCellForStyleInfo>();
  const Row* found = rowAt(ip);
  if (!found) return cell;
  const Row& row = *found;
  const bool upc = row.kind == "UPC";
  cell->lbl_barcode().setText(row.code);
  cell->lbl_style().setText(row.style);
  cell->lbl_color().setText(row.color);
  // An empty colour shows nothing, not a bare dark bar.
  cell->lbl_color().setBackgroundColor(row.color.empty() ? ui::Color::clear()
                                       : upc             ? ui::Color::gray()
                                                         : ui::Color::black());
  cell->lbl_price().setText(row.price);
  PriceClass::SetStyledDiscountPrice(cell->lbl_price(), row.price, row.orgPrice);
  cell->lbl_sizecode().setText(row.sizeCode);
  cell->lbl_eta().setText(row.eta);
  cell->lbl_ats().setText(row.ats);
  cell->lbl_bundle().setText(upc ? "-" : row.bundle);
  cell->lbl_atsStatus().setText("");
  cell->lbl_atsStatus().setBackgroundColor(row.atsStatus == "True" ? ui::Color::blue() : ui::Color::red());
  return cell;
}

void StyleInfoTableViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  const Row* found = rowAt(ip);
  if (!found) return;
  const Row row = *found;
  if (isOrderScanMode_ && row.kind == "UPC") {
    showUpcSizeView(row);
    return;
  }
  orvoDelegate_->globalSO().manualBarcode = row.code;
  backFunc();
}

void StyleInfoTableViewController::showUpcSizeView(const Row& row) {
  json lines = json::array();
  if (orderListArray_.is_array())
    for (const auto& line : orderListArray_)
      if (text(line, "Style") == row.style && text(line, "Color") == row.color)
        lines.push_back({{"Barcode", text(line, "Barcode")},
                         {"Color", text(line, "Color")},
                         {"SizeCode", text(line, "SizeCode")},
                         {"Price", text(line, "Price")},
                         {"Qty", text(line, "Qty")}});
  showUpcSizeView(row, lines);
}

void StyleInfoTableViewController::showUpcSizeView(const Row& row, const json& colorInfo) {
  auto grid = makeScreen("MultiColorTableView");
  if (auto* receiver = dynamic_cast<MultiColorReceiver*>(grid.get())) {
    receiver->setKind(row.kind);
    receiver->setColor(row.color);
    receiver->setStyle(row.style);
    receiver->setOrderListArray(colorInfo);
    receiver->setIsFromStyleInfoView(true);
  }
  if (auto* nav = navigationController()) nav->pushViewController(grid, true);
}

void StyleInfoTableViewController::backFunc() {
  if (auto* nav = navigationController())
    nav->dismissViewControllerAnimated(true);
  else
    dismissViewControllerAnimated(true);
}

}  // namespace orvo
