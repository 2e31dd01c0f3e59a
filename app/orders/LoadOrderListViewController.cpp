#include "app/orders/LoadOrderListViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/SoapPrint.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;

void LoadOrderListViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void LoadOrderListViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  soapPrint_ = std::make_shared<SoapPrint>(*this);
  listContent_ = json::array();
  tempPrintSO_.clear();
  setTitle("Previous Order#");
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  navigationItem().setRightBarButtonItem(barImageButton("unlock.png", "Logout", [this] { logoutButtonClicked(); }));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      "Back", ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "GetBeforeOrderNumberList";
  r.params = {{"customerID", so.customerID}, {"storeID", so.storeID}};
  r.requestMethod = "-[LoadOrderListViewController viewDidLoad]";
  r.answerMethod = "-[LoadOrderListViewController beforeOrderListResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { beforeOrderListResponseData(a); });
}

void LoadOrderListViewController::viewWillAppear(bool) {
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
}

// The server marks a customer and store without orders by a row whose number is null: that
// row is no order to open or print, so it is told once here and never listed.
void LoadOrderListViewController::beforeOrderListResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer || !answer->is_array()) return;  // an answer of another shape leaves the list as it is
  bool noOrders = false;
  for (const auto& row : *answer) {
    if (!row.is_object()) continue;
    auto number = row.find("OrderNumber");
    if (number == row.end() || number->is_null()) {
      noOrders = true;
      continue;
    }
    listContent_.push_back(row);
  }
  table_->reloadData();
  if (noOrders && listContent_.empty())
    AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, "You don't have any order list.", [this] { yesAlertNoList(); },
                          nullptr);
}

std::vector<std::string> LoadOrderListViewController::rowTexts(const json& row) {
  const std::string number = foundation::textForKey(row, "OrderNumber");
  const std::string ordered = foundation::textForKey(row, "OrderDate");
  const std::string updated = foundation::textForKey(row, "UpdateDate");
  const size_t blank = ordered.find(' ');
  return {number, blank == std::string::npos ? ordered : ordered.substr(0, blank),
          ordered == updated ? std::string() : updated};
}

std::shared_ptr<ui::TableViewCell> LoadOrderListViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                      ui::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier("CustomCell");
  if (!cell) {
    cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "CustomCell");
    cell->setAccessoryType(ui::AccessoryType::DisclosureIndicator);
    auto add = [&](ui::Rect frame, double size, int tag) {
      auto label = ui::makeView<ui::Label>(frame);
      label->setFont(ui::Font::systemFont(size));
      label->setTag(tag);
      cell->contentView().addSubview(label);
    };
    add({10, 4, 200, 30}, 22, 1);
    add({10, 34, 140, 22}, 14, 2);
    add({150, 34, 140, 22}, 14, 3);
  }
  const auto texts = rowTexts(listContent_.at(size_t(ip.row)));
  for (int tag = 1; tag <= 3; ++tag)
    if (auto* label = dynamic_cast<ui::Label*>(cell->contentView().viewWithTag(tag))) label->setText(texts[size_t(tag - 1)]);
  return cell;
}

void LoadOrderListViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  auto list = makeScreen("OrderListView");
  orvoDelegate_->globalSO().orderNumber = foundation::textForKey(listContent_.at(size_t(ip.row)), "OrderNumber");
  if (auto* nav = navigationController()) nav->pushViewController(list, true);
}

void LoadOrderListViewController::commitEditingStyle(ui::TableView&, ui::EditingStyle style, ui::IndexPath ip) {
  if (style != ui::EditingStyle::Delete) return;
  tempPrintSO_ = foundation::textForKey(listContent_.at(size_t(ip.row)), "OrderNumber");
  if (orvoDelegate_->settings().printUsingServerFlag)
    printSOdirectly(tempPrintSO_);
  else
    CreateSOpdf(tempPrintSO_);
}

void LoadOrderListViewController::printSOdirectly(const std::string& number) {
  ScreenRequest r;
  r.operation = "PrintSOdirectly";
  r.params = {{"orderNumber", number},
              SoapParam::integer("copyMode", orvoDelegate_->settings().print2CopiesFlag ? 1 : 0),
              SoapParam::integer("printerNo", orvoDelegate_->globalSO().printerNum)};
  r.requestMethod = "-[LoadOrderListViewController printSOdirectly:]";
  r.answerMethod = "-[LoadOrderListViewController printSOdirectlyResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { printSOdirectlyResponseData(a); });
}

void LoadOrderListViewController::printSOdirectlyResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer) return;
  if (foundation::textForKey(*answer, "Response") == "True") {
    const std::string so = foundation::textForKey(*answer, "SO");
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "SO# " + so, "SO#" + so + " has been printed successfully.");
  } else {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", foundation::textForKey(*answer, "Error"));
  }
}

void LoadOrderListViewController::CreateSOpdf(const std::string& number) {
  orvoDelegate_->stopBarcode();
  ScreenRequest r;
  r.operation = "CreateSOpdf";
  r.params = {{"orderNumber", number}};
  r.requestMethod = "-[LoadOrderListViewController CreateSOpdf:]";
  r.answerMethod = "-[LoadOrderListViewController CreateSOpdfResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { CreateSOpdfResponseData(a); });
}

void LoadOrderListViewController::CreateSOpdfResponseData(const RequestAnswer& a) {
  const auto* answer = acceptedAnswer(*this, a);
  if (!answer) return;
  // The file of the swiped order, looked up by its number.
  std::string fileName;
  if (auto names = JsonClass::getJSONobj(foundation::textForKey(*answer, "PrintFileName")); names && names->is_object())
    if (auto it = names->find(tempPrintSO_); it != names->end() && !it->is_null()) fileName = foundation::textValue(*it);
  soapPrint_->airPrintFunc(fileName);
}

void LoadOrderListViewController::logoutButtonClicked() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?", [this] { yesAlertLogout(); }, nullptr);
}

void LoadOrderListViewController::yesAlertLogout() {
  orvoDelegate_->initFlag();
  if (auto* nav = navigationController())
    if (auto* presenter = nav->presentingViewController()) presenter->dismissViewControllerAnimated(true);
}

void LoadOrderListViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

// Back to the customer list below, however deep the stack is.
void LoadOrderListViewController::yesAlertNoList() {
  auto* nav = navigationController();
  if (!nav) return;
  const auto& stack = nav->viewControllers();
  for (auto it = stack.rbegin(); it != stack.rend(); ++it)
    if ((*it)->nibName() == "CustomerView") {
      nav->popToViewController(it->get(), true);
      return;
    }
  nav->popViewControllerAnimated(true);
}

}  // namespace orvo
