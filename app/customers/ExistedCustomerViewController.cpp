#include "app/customers/ExistedCustomerViewController.h"

#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/customers/NewCustomerSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

namespace {

constexpr const char* kCellIdentifier = "ExistedCustomerCell";

// A value of a match as text; a value the match lacks shows as nothing.
std::string matchText(const nlohmann::json& match, const char* key) {
  const auto& v = foundation::valueForKey(match, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

}  // namespace

CustomCellForExistedCustomer::CustomCellForExistedCustomer()
    : ui::TableViewCell(ui::CellStyle::Default, kCellIdentifier) {
  auto label = [this](ui::Rect frame, bool bold) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(16) : ui::Font::systemFont(13));
    l->setAdjustsFontSizeToFitWidth(true);
    contentView().addSubview(l);
    return l;
  };
  code_ = label({10, 4, 100, 22}, true);
  name_ = label({115, 4, 170, 22}, true);
  address_ = label({10, 28, 180, 18}, false);
  phone_ = label({195, 28, 90, 18}, false);
  setAccessoryType(ui::AccessoryType::DisclosureIndicator);
}

void ExistedCustomerViewController::loadView() {
  auto root = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  root->setBackgroundColor(ui::Color::whiteColor());
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight - 60});
  table_->setAutoresizingMask(ui::FlexibleWidth | ui::FlexibleHeight);
  table_->setRowHeight(52);
  root->addSubview(table_);
  createButton_ = ui::Button::make(ui::localizedString("Create New Customer"),
                                   {20, ui::Window::kScreenHeight - 52, ui::Window::kScreenWidth - 40, 44});
  createButton_->setAutoresizingMask(ui::FlexibleTopMargin);
  root->addSubview(createButton_);
  setView(root);
}

void ExistedCustomerViewController::viewDidLoad() {
  setTitle(ui::localizedString("Existed Customer"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  orvoDelegate_->settings().createNewCustomerFlag = false;
  logoutBarButtonItem_ = logoutBarButton(*this);
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  navigationItem().setLeftBarButtonItem(backBarButton([this] { backFunc(); }));
  createButton_->addTarget(this, [this](ui::Control&) { btn_CreateNewCustomerFunc(); }, ui::TouchUpInside);
  table_->registerCellFactory(kCellIdentifier, [] { return std::make_shared<CustomCellForExistedCustomer>(); });
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
}

void ExistedCustomerViewController::viewWillAppear(bool) {
  if (orvoDelegate_->settings().duplicateSoFlag)
    if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::purple());
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  table_->reloadData();
}

int ExistedCustomerViewController::numberOfRowsInSection(ui::TableView&, int) {
  return int(orvoDelegate_->globalSO().existedCustomerArray.size());
}

std::shared_ptr<ui::TableViewCell> ExistedCustomerViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                     ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForExistedCustomer>(
      table.dequeueReusableCellWithIdentifier(kCellIdentifier));
  if (!cell) cell = std::make_shared<CustomCellForExistedCustomer>();
  const auto& matches = orvoDelegate_->globalSO().existedCustomerArray;
  if (ip.row < 0 || ip.row >= int(matches.size())) return cell;
  const auto& m = matches[size_t(ip.row)];
  cell->lbl_customerCode().setText(matchText(m, "Code"));
  cell->lbl_name().setText(matchText(m, "Name"));
  cell->lbl_address1().setText(matchText(m, "Address1"));
  cell->lbl_phone1().setText(matchText(m, "Phone1"));
  return cell;
}

void ExistedCustomerViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  GlobalSO& so = orvoDelegate_->globalSO();
  if (ip.row < 0 || ip.row >= int(so.existedCustomerArray.size())) return;
  const nlohmann::json match = so.existedCustomerArray[size_t(ip.row)];
  // A match without a price level takes the default level "1".
  so.orderDiscountRate = foundation::doubleValue(foundation::valueForKey(match, "OrderDiscountRate"));
  takeNewCustomer(*orvoDelegate_, matchText(match, "Code"), matchText(match, "PriceLevel"));
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderListView"), true);
}

void ExistedCustomerViewController::btn_CreateNewCustomerFunc() {
  orvoDelegate_->settings().createNewCustomerFlag = true;
  orvoDelegate_->globalSO().orderDiscountRate = 0;
  backFunc();
}

void ExistedCustomerViewController::backFunc() {
  orvoDelegate_->globalSO().orderDiscountRate = 0;
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
