#include "app/orders/SubtotalViewController.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/orders/OrderCart.h"
#include "app/orders/OrderCells.h"
#include "app/orders/PriceClass.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;
using cart::field;

namespace {

constexpr const char* kImmediate = " (Immediate)";
constexpr double kFooterHeight = 60;

bool digits(const std::string& s, size_t from, size_t n) {
  for (size_t i = from; i < from + n; ++i)
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  return true;
}

}  // namespace

std::string SubtotalViewController::getSortCancelDate(const std::string& cancelDate) {
  std::string date = cancelDate;
  const bool immediate = date.find(kImmediate) != std::string::npos;
  if (immediate) date = date.substr(0, date.size() >= 12 ? date.size() - 12 : 0);
  if (date.size() != 10 || date[2] != '/' || date[5] != '/' || !digits(date, 0, 2) || !digits(date, 3, 2) ||
      !digits(date, 6, 4))
    return "";
  using namespace std::chrono;
  year_month_day ymd{year(std::stoi(date.substr(6, 4))), month(unsigned(std::stoi(date.substr(0, 2)))),
                     day(unsigned(std::stoi(date.substr(3, 2))))};
  if (!ymd.ok()) return "";
  if (immediate) ymd = year_month_day{sys_days(ymd) - days(1)};
  char out[16];
  std::snprintf(out, sizeof out, "%04d/%02u/%02u", int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
  return out;
}

int SubtotalViewController::isInCanceldate(const std::string& cancelDate) const {
  for (size_t i = 0; i < listContent_.size(); ++i)
    if (field(listContent_[i], "EtaForPrint") == cancelDate) return int(i);
  return -1;
}

void SubtotalViewController::viewDidLoad() {
  setTitle(ui::localizedString("Subtotal"));
  listContent_ = json::array();
  ui::View& root = view();
  root.setBackgroundColor(ui::Color::whiteColor());
  const double height = ui::Window::kScreenHeight - 64;
  table_ = ui::makeView<ui::TableView>({0, 0, ui::Window::kScreenWidth, height - kFooterHeight});
  table_->setAllowsSelection(false);
  table_->registerCellFactory("SubtotalCell", [] { return std::make_shared<CustomCellForSubtotal>(); });
  root.addSubview(table_);
  auto footer = ui::makeView<ui::View>({0, height - kFooterHeight, ui::Window::kScreenWidth, kFooterHeight});
  footer->setBackgroundColor(ui::Color::white(0.15));
  auto caption = ui::makeView<ui::Label>(ui::Rect{10, 5, 100, 20});
  caption->setText(ui::localizedString("Total"));
  caption->setTextColor(ui::Color::whiteColor());
  footer->addSubview(caption);
  totalQty_ = ui::makeView<ui::Label>(ui::Rect{10, 25, 120, 30});
  totalExtPrice_ = ui::makeView<ui::Label>(ui::Rect{140, 25, 170, 30});
  for (auto* l : {totalQty_.get(), totalExtPrice_.get()}) {
    l->setFont(ui::Font::boldSystemFont(17));
    l->setTextColor(ui::Color::whiteColor());
  }
  totalExtPrice_->setTextAlignment(ui::TextAlignment::Right);
  footer->addSubview(totalQty_);
  footer->addSubview(totalExtPrice_);
  root.addSubview(footer);
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Close"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  setSubtotalData();
}

void SubtotalViewController::setSubtotalData() {
  long long totalUnits = 0, totalCents = 0;
  listContent_ = json::array();
  for (const auto& line : orderListArray_) {
    const std::string date = field(line, "EtaForPrint");
    const long long packs = cart::intOf(field(line, "Qty"));
    const long long units = packs * cart::intOf(field(line, "Sum"));
    const long long cents = cart::centsOf(field(line, "extPrice"));
    totalUnits += units;
    totalCents = cart::centsPlus(totalCents, cents);
    json entry{{"CancelDateForSort", getSortCancelDate(date)},
               {"Eta", field(line, "Eta")},
               {"EtaForPrint", date},
               {"Sum", field(line, "Sum")}};
    const int at = isInCanceldate(date);
    if (at < 0) {
      entry["Qty"] = field(line, "Qty");
      entry["extPrice"] = field(line, "extPrice");
      entry["Units"] = std::to_string(units);
      listContent_.push_back(std::move(entry));
    } else {
      const json& old = listContent_[size_t(at)];
      entry["Qty"] = std::to_string(cart::intOf(field(old, "Qty")) + packs);
      entry["extPrice"] = centsToDecimal(cart::centsPlus(cart::centsOf(field(old, "extPrice")), cents));
      entry["Units"] = std::to_string(cart::intOf(field(old, "Units")) + units);
      listContent_[size_t(at)] = std::move(entry);
    }
  }
  std::stable_sort(listContent_.begin(), listContent_.end(), [](const json& a, const json& b) {
    return field(a, "CancelDateForSort") < field(b, "CancelDateForSort");
  });
  totalQty_->setText(PriceClass::stringToComma(std::to_string(totalUnits)));
  totalExtPrice_->setText(PriceClass::stringToCurrency(centsToDecimal(totalCents)));
  table_->reloadData();
}

std::shared_ptr<ui::TableViewCell> SubtotalViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                  ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForSubtotal>(table.dequeueReusableCellWithIdentifier("SubtotalCell"));
  if (!cell) cell = std::make_shared<CustomCellForSubtotal>();
  if (ip.row >= 0 && ip.row < int(listContent_.size())) cell->fill(listContent_[size_t(ip.row)]);
  return cell;
}

void SubtotalViewController::backFunc() { dismissViewControllerAnimated(true); }

}  // namespace orvo
