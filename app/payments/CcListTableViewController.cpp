#include "app/payments/CcListTableViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/payments/PaymentNames.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;

namespace {

constexpr const char* kCellId = "CclistCell";

std::string text(const json& row, const char* key) {
  const json& v = foundation::valueForKey(row, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

std::shared_ptr<ui::Image> brandImage(const std::string& type) {
  if (type == "VISA") return ui::Image::named("visa.png");
  if (type == "MASTERCARD") return ui::Image::named("master.png");
  if (type == "AMEX") return ui::Image::named("amex.png");
  if (type == "DISCOVER") return ui::Image::named("discover.png");
  return nullptr;
}

}  // namespace

CcListTableViewCell::CcListTableViewCell() : ui::TableViewCell(ui::CellStyle::Default, kCellId) {
  auto label = [this](ui::Rect frame, double size) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(ui::Font::systemFont(size));
    l->setAdjustsFontSizeToFitWidth(true);
    contentView().addSubview(l);
    return l;
  };
  iv_ccType = ui::makeView<ui::ImageView>(ui::Rect{8, 8, 40, 26});
  contentView().addSubview(iv_ccType);
  lbl_ccNum = label({56, 6, 200, 22}, 16);
  lbl_ccNum->setTextColor(ui::Color::whiteColor());
  lbl_name = label({56, 30, 200, 18}, 13);
  lbl_expDate = label({56, 50, 80, 18}, 13);
  lbl_cvv = label({140, 50, 50, 18}, 13);
  lbl_accountId = label({200, 50, 70, 18}, 13);
  lbl_memo = label({8, 70, 260, 18}, 12);
}

void CcListTableViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  table_->setRowHeight(92);
  table_->registerCellFactory(kCellId, [] { return std::make_shared<CcListTableViewCell>(); });
  setView(table_);
}

void CcListTableViewController::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  if (title().empty()) setTitle(ui::localizedString("Select a default CC"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  listContent_ = json::array();
  std::weak_ptr<CcListTableViewController> weak = self<CcListTableViewController>();
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [weak](ui::BarButtonItem&) {
        if (auto s = weak.lock()) s->backFunc();
      }));
  auto done = ui::BarButtonItem::withTitle(ui::localizedString("Done"), ui::BarButtonItemStyle::Plain,
                                           [weak](ui::BarButtonItem&) {
                                             if (auto s = weak.lock()) s->doneFunc();
                                           });
  done->setTintColor(ui::Color::green());
  navigationItem().setRightBarButtonItem(done);
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
}

void CcListTableViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  callGetCcList();
}

void CcListTableViewController::finish(bool done) {
  foundation::NotificationCenter::defaultCenter().post(kSetDefaultCcDone, nullptr, {{kIsDone, done ? "true" : "false"}});
  if (auto* nav = navigationController()) nav->dismissViewControllerAnimated(true);
  else dismissViewControllerAnimated(true);
}

void CcListTableViewController::backFunc() { finish(false); }
void CcListTableViewController::doneFunc() { finish(true); }

std::shared_ptr<ui::TableViewCell> CcListTableViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                  ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CcListTableViewCell>(table.dequeueReusableCellWithIdentifier(kCellId));
  if (!cell) cell = std::make_shared<CcListTableViewCell>();
  if (ip.row < 0 || ip.row >= int(listContent_.size())) return cell;
  const json& row = listContent_[size_t(ip.row)];
  if (text(row, "Response") == "False") return cell;  // announced once, when the answer came
  cell->lbl_accountId->setText(text(row, "AccountId"));
  cell->lbl_ccNum->setText(text(row, "AccountNumber"));
  cell->lbl_expDate->setText(text(row, "ExpDate"));
  cell->lbl_cvv->setText(text(row, "CVV"));
  cell->lbl_name->setText(text(row, "Name"));
  cell->lbl_memo->setText(text(row, "Memo"));
  const bool isDefault = foundation::boolValue(foundation::valueForKey(row, "IsDefault"));
  cell->lbl_ccNum->setBackgroundColor(isDefault ? ui::Color::blue() : ui::Color::white(0.33));
  cell->setAccessoryType(isDefault ? ui::AccessoryType::Checkmark : ui::AccessoryType::None);
  cell->iv_ccType->setImage(brandImage(text(row, "CardType")));
  return cell;
}

void CcListTableViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath) {
  std::weak_ptr<CcListTableViewController> weak = self<CcListTableViewController>();
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Are you sure you want to update default credit card?", [weak] {
    if (auto s = weak.lock()) s->yesUpdateDefCC();
  }, nullptr);
}

void CcListTableViewController::yesUpdateDefCC() {
  auto ip = table_->indexPathForSelectedRow();
  if (!ip || ip->row < 0 || ip->row >= int(listContent_.size())) return;
  callSetDefaultCC(text(listContent_[size_t(ip->row)], "AccountId"));
}

void CcListTableViewController::callGetCcList() {
  ScreenRequest r;
  r.operation = "GetCClist";
  r.params = {{"customer", orvoDelegate_->globalSO().customerID}};
  r.requestMethod = "-[CcListTableViewController callGetCcList]";
  r.answerMethod = "-[CcListTableViewController getCClistResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { getCClistResponseData(a); });
}

void CcListTableViewController::getCClistResponseData(const RequestAnswer& a) {
  const auto& rows = a.requireObject();
  if (!rows) return;
  // Rows are read as dictionaries: anything else never reaches the list.
  bool cards = rows->is_array();
  for (const auto& row : *rows) cards = cards && row.is_object();
  if (!cards) throw AppException("NSInvalidArgumentException", "GetCClist answer is not a list of cards");
  listContent_ = *rows;
  table_->reloadData();
  bool refused = false;
  for (const auto& row : listContent_) refused = refused || text(row, "Response") == "False";
  if (refused)
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "It can not be opend on iPod. Please check on Orvo.");
}

void CcListTableViewController::callSetDefaultCC(const std::string& accountId) {
  ScreenRequest r;
  r.operation = "SetDefaultCC";
  r.params = {{"customer", orvoDelegate_->globalSO().customerID}, {"accountId", accountId}};
  r.requestMethod = "-[CcListTableViewController callSetDefaultCC:]";
  r.answerMethod = "-[CcListTableViewController setDefaultCCResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) {
    try {
      setDefaultCCResponseData(a);
    } catch (...) {
      table_->reloadData();
      throw;
    }
    table_->reloadData();
  });
}

void CcListTableViewController::setDefaultCCResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer) return;
  if (answer->is_object() && text(*answer, "Response") == "True") {
    const int old = getIdxByDefaultCC();
    if (old >= 0) updateDefaultCC(old, false);
    if (auto ip = table_->indexPathForSelectedRow()) updateDefaultCC(ip->row, true);
    return;
  }
  AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error",
                           "There is an issue. Please update the default CC on Orvo");
}

int CcListTableViewController::getIdxByDefaultCC() const {
  for (size_t i = 0; i < listContent_.size(); ++i)
    if (text(listContent_[i], "IsDefault") == "True") return int(i);
  return -1;
}

void CcListTableViewController::updateDefaultCC(int index, bool value) {
  if (index < 0 || index >= int(listContent_.size())) return;
  listContent_[size_t(index)]["IsDefault"] = value ? "True" : "False";
}

}  // namespace orvo
