#include "app/picking/PickTicketViewController.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/Util.h"
#include "app/picking/PickUpViewController.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;

namespace {

const ui::Color kCheckedTime = ui::Color::rgb(0.15, 0.31, 0.07, 1.0);
const ui::Color kNextEnabled = ui::Color::rgb(0.15, 0.41, 0.07, 1.0);
const ui::Color kNextDisabled = ui::Color::rgb(0.5, 0.5, 0.5, 0.3);
constexpr double kSortBarHeight = 44;
constexpr double kTotalBarHeight = 40;

bool isChecked(const json& row) { return foundation::textForKey(row, "IsChecked") == "True"; }

// A row value for a label: its text, "" when absent.
std::string field(const json& row, const char* key) {
  const json& v = foundation::valueForKey(row, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

}  // namespace

// ----- Cell

PickTicketTableViewCell::PickTicketTableViewCell()
    : ui::TableViewCell(ui::CellStyle::Default, kReuseIdentifier) {
  auto label = [this](ui::Rect frame, double size, bool bold = false) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
    l->setAdjustsFontSizeToFitWidth(true);
    contentView().addSubview(l);
    return l;
  };
  lbl_pickno = label({10, 4, 90, 20}, 15, true);
  lbl_pickTime = label({104, 4, 86, 20}, 13);
  lbl_pickTime->setTextAlignment(ui::TextAlignment::Center);
  lbl_pickTime->setTextColor(ui::Color::whiteColor());
  lbl_customer = label({194, 4, 90, 20}, 14, true);
  lbl_so = label({10, 25, 90, 18}, 13);
  lbl_wh = label({104, 25, 60, 18}, 13);
  lbl_shipvia = label({168, 25, 116, 18}, 13);
  lbl_memo = label({10, 44, 274, 18}, 12);
  lbl_memo->setTextColor(ui::Color::darkGray());
  iv_checked = ui::makeView<ui::ImageView>(ui::Rect(288, 19, 28, 28));
  iv_checked->setImage(ui::Image::named("Checkmark-96.png"));
  iv_checked->setContentMode(ui::ContentMode::ScaleAspectFit);
  iv_checked->setAccessibilityLabel("Checked");
  contentView().addSubview(iv_checked);
}

// ----- Screen

PickTicketViewController::PickTicketViewController(std::string nibName)
    : ui::ViewController(std::move(nibName)), listContent_(std::make_unique<json>(json::array())) {}

PickTicketViewController::~PickTicketViewController() = default;

void PickTicketViewController::loadView() {
  pickTableView_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  pickTableView_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});

  view_seg_ = ui::makeView<ui::View>(ui::Rect(0, 0, ui::Window::kScreenWidth, kSortBarHeight));
  view_seg_->setBackgroundColor(ui::Color::white(0.95));
  seg_sortby_ = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{"Pick No", "Customer"});
  seg_sortby_->setFrame({40, 7, 240, 30});
  seg_sortby_->setSelectedSegmentIndex(0);
  seg_sortby_->addTarget(this, [this](ui::Control&) { btn_sortby(); }, ui::ValueChanged);
  view_seg_->addSubview(seg_sortby_);

  view_total_ = ui::makeView<ui::View>(ui::Rect(0, 0, ui::Window::kScreenWidth, kTotalBarHeight));
  view_total_->setBackgroundColor(ui::Color::white(0.85));
  lbl_pickQty_ = ui::makeView<ui::Label>(ui::Rect(12, 8, 180, 24));
  lbl_pickQty_->setFont(ui::Font::boldSystemFont(15));
  lbl_pickQty_->setAccessibilityLabel("Pick ticket count");
  view_total_->addSubview(lbl_pickQty_);
  btn_next_ = ui::Button::make("Next", ui::Rect(230, 5, 80, 30), ui::ButtonType::System);
  btn_next_->setCornerRadius(5);
  btn_next_->addTarget(this, [this](ui::Control&) { btn_next(); }, ui::TouchUpInside);
  view_total_->addSubview(btn_next_);
  setView(pickTableView_);
}

void PickTicketViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(ui::localizedString("Pick Ticket List"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  checkAllItem_ = ui::BarButtonItem::withTitle(ui::localizedString("Check All"), ui::BarButtonItemStyle::Plain,
                                               [this](ui::BarButtonItem&) { checkAllFunc(); });
  checkAllItem_->setTintColor(ui::Color::green());
  navigationItem().setRightBarButtonItem(checkAllItem_);
  *listContent_ = json::array();
  isCheckedAll_ = false;
  pickTableView_->setDataSource(self<ui::TableViewDataSource>());
  pickTableView_->setDelegate(self<ui::TableViewDelegate>());
  pickTableView_->setTableHeaderView(view_seg_);
  listChanged();
  callGetPickList(false);
}

void PickTicketViewController::callGetPickList(bool byCustomer) {
  ScreenRequest r;
  r.operation = "GetPickList";
  r.url = Util::getServerInfo(true);
  r.params = {{"customer", customerID_.value_or("")}, SoapParam::integer("orderbyCustomer", byCustomer ? 1 : 0)};
  r.requestMethod = "-[PickTicketViewController callGetPickList:]";
  r.answerMethod = "-[PickTicketViewController getPickListResponseData:]";
  sendScreenRequest(
      *this, std::move(r), [this](const RequestAnswer& a) { getPickListResponseData(a); },
      [this](const ServiceFailure& f) { errorResponseData(f); });
}

void PickTicketViewController::getPickListResponseData(const RequestAnswer& answer) {
  // Whatever the answer holds, the table never shows rows of an earlier list.
  *listContent_ = json::array();
  struct Refresh {
    PickTicketViewController* self;
    ~Refresh() { self->listChanged(); }
  } refresh{this};

  const auto& rows = answer.requireObject();
  if (!rows) return;  // not JSON: "JSON Error" has been shown
  if (!rows->is_array()) throw AppException("NSInvalidArgumentException", "the pick list is not an array");
  if (!rows->empty() && foundation::textForKey(rows->front(), "Response") == "False") {
    std::weak_ptr<PickTicketViewController> w = self<PickTicketViewController>();
    AlertClass::AlertView(*this, 0, 1, field(rows->front(), "Error"), "", [w] {
      if (auto s = w.lock()) s->backFunc();
    }, nullptr);
    return;
  }
  for (const auto& row : *rows)
    if (row.is_object()) listContent_->push_back(row);
}

void PickTicketViewController::errorResponseData(const ServiceFailure& failure) {
  if (orvoDelegate_) orvoDelegate_->errorResponseData(failure);
}

int PickTicketViewController::numberOfRowsInSection(ui::TableView&, int) { return int(listContent_->size()); }

std::optional<double> PickTicketViewController::heightForHeaderInSection(ui::TableView&, int) {
  return view_total_->frame().size.height;
}

std::shared_ptr<ui::TableViewCell> PickTicketViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                   ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<PickTicketTableViewCell>(
      table.dequeueReusableCellWithIdentifier(PickTicketTableViewCell::kReuseIdentifier));
  if (!cell) cell = std::make_shared<PickTicketTableViewCell>();
  if (ip.row < 0 || ip.row >= int(listContent_->size())) return cell;
  const json& row = (*listContent_)[size_t(ip.row)];
  cell->lbl_pickno->setText(field(row, "PickNo"));
  cell->lbl_pickTime->setText(field(row, "PickDate"));
  cell->lbl_customer->setText(field(row, "Customer"));
  cell->lbl_so->setText(field(row, "So"));
  cell->lbl_wh->setText(field(row, "Warehouse"));
  cell->lbl_memo->setText(field(row, "Memo"));
  cell->lbl_shipvia->setText(field(row, "Shipvia"));
  const bool checked = isChecked(row);
  cell->iv_checked->setHidden(!checked);
  cell->lbl_pickTime->setBackgroundColor(checked ? kCheckedTime : ui::Color::gray());
  updatePickQty();
  updateNextBtn();
  return cell;
}

void PickTicketViewController::didSelectRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  if (ip.row < 0 || ip.row >= int(listContent_->size())) return;
  json& row = (*listContent_)[size_t(ip.row)];
  row["IsChecked"] = isChecked(row) ? "False" : "True";
  table.reloadRowsAtIndexPaths({ip}, ui::RowAnimation::None);
  updatePickQty();
  updateNextBtn();
}

void PickTicketViewController::checkAllFunc() {
  for (auto& row : *listContent_) row["IsChecked"] = isCheckedAll_ ? "False" : "True";
  isCheckedAll_ = !isCheckedAll_;
  updateCheckAllBtn();
  listChanged();
}

void PickTicketViewController::updateCheckAllBtn() {
  checkAllItem_->setTitle(ui::localizedString(isCheckedAll_ ? "Uncheck All" : "Check All"));
  checkAllItem_->setTintColor(isCheckedAll_ ? ui::Color::red() : ui::Color::green());
}

void PickTicketViewController::resetCheckAllBtn() {
  isCheckedAll_ = false;
  updateCheckAllBtn();
}

void PickTicketViewController::btn_sortby() {
  resetCheckAllBtn();
  callGetPickList(seg_sortby_->selectedSegmentIndex() != 0);
  // To the top of the list's section, at once (the new answer comes later).
  const double top = pickTableView_->numberOfSections() > 0 ? pickTableView_->rectForSection(0).origin.y : 0;
  pickTableView_->setContentOffset({0, std::min(top, pickTableView_->maximumOffset().y)});
}

long long PickTicketViewController::getCheckedQty() const {
  long long n = 0;
  for (const auto& row : *listContent_) n += isChecked(row) ? 1 : 0;
  return n;
}

void PickTicketViewController::updatePickQty() {
  const long long n = (long long)listContent_->size(), c = getCheckedQty();
  lbl_pickQty_->setText(c > 0 ? std::to_string(n) + " - " + std::to_string(c) + " checked" : std::to_string(n));
}

void PickTicketViewController::updateNextBtn() {
  const bool any = getCheckedQty() > 0;
  btn_next_->setEnabled(any);
  btn_next_->setBackgroundColor(any ? kNextEnabled : kNextDisabled);
  btn_next_->setTintColor(any ? ui::Color::whiteColor() : ui::Color::gray());
}

void PickTicketViewController::listChanged() {
  pickTableView_->reloadData();
  updatePickQty();
  updateNextBtn();
}

void PickTicketViewController::btn_next() {
  json numbers = json::array();
  for (const auto& row : *listContent_)
    if (isChecked(row)) numbers.push_back(field(row, "PickNo"));
  if (numbers.empty()) return;  // nothing to pick
  auto pickUp = ui::viewControllerFromInterface<PickUpViewController>("PickUpViewController");
  if (!pickUp) pickUp = std::make_shared<PickUpViewController>();
  pickUp->setJsonPickNOs(JsonClass::setJSONstringFromObj(numbers));
  if (auto* nav = navigationController()) nav->pushViewController(pickUp, true);
}

void PickTicketViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
