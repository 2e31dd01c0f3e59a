#include "app/orders/OrderCart.h"
#include "app/orders/SoOrderTypeViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;
using foundation::UserDefaults;

namespace {

constexpr const char* kRequestSettingsMessage = "Please go back to Orvo setting and click 'Request' of Orvo Settings.";

// A stored server list, decoded. Throws when the key is missing or the text holds no
// list; a text that is not JSON gives an empty list (the reading alert has been shown).
json storedList(const char* key) {
  auto text = UserDefaults::standard().stringForKey(key);
  if (!text) throw AppException("NSInvalidArgumentException", std::string("no stored list \"") + key + "\"");
  auto list = JsonClass::getJSONobj(text);
  if (!list) return json::array();
  if (!list->is_array()) throw AppException("NSInvalidArgumentException", std::string("\"") + key + "\" is not a list");
  return *list;
}

std::string rowText(const json& row, const char* key) {
  const json& v = foundation::valueForKey(row, key);
  if (v.is_null()) throw AppException("NSUnknownKeyException", std::string("a row without \"") + key + "\"");
  return foundation::textValue(v);
}

}  // namespace

void SoOrderTypeViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void SoOrderTypeViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  listContent_ = json::array();
  setTitle("SO Type");
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  navigationItem().setLeftBarButtonItem(
      ui::BarButtonItem::withTitle("Back", ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  logoutBarButtonItem_ = barImageButton("unlock.png", "Logout", [this] { logoutButtonClicked(); });
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  setOrvoMethods();
  getSoOrderType();
}

bool SoOrderTypeViewController::setOrvoMethods() {
  auto& d = UserDefaults::standard();
  Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();
  settings.print2CopiesFlag = d.boolForKey(defaults::Print2Copies);
  settings.realtimeSoFlag = d.boolForKey(defaults::RealtimeSoStatus);
  settings.multiColorSoFlag = d.boolForKey(defaults::MultiColorSoStatus);
  settings.dupItemHandlingFlag = d.boolForKey(defaults::DupItemStatus);
  settings.previousOrderFlag = d.boolForKey(defaults::previousOrderFunc);
  settings.overBookingFlag = d.boolForKey(defaults::overBooking);
  settings.printUsingServerFlag = d.boolForKey(defaults::PrintUsingServer);
  if (auto printer = d.stringForKey(defaults::printerName); printer && !printer->empty())
    so.printerNum = cart::intOf(*printer);
  settings.multiSoFlag = d.boolForKey(defaults::MultiSo);
  auto level = d.stringForKey(defaults::priceLevel);
  so.fixedPriceLevel = !level || *level == "AUTO" ? std::string("AUTO") : *level;

  // Each of the remaining steps stands on its own: one that cannot be read leaves its
  // target as it was, and the others still run.
  bool ok = true;
  auto step = [&](const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception&) {
      ok = false;
    }
  };
  step([&] { so.termsArray = storedList(defaults::terms); });
  step([&] { so.shipViaArray = storedList(defaults::shipvia); });
  step([&] { so.paymentCodeArray = storedList(defaults::paymentcode); });
  if (settings.isNewCustomerSalesRepOption)
    step([&] {
      json codes = json::array();
      for (const auto& row : storedList(defaults::salesrep)) codes.push_back(rowText(row, "Code"));
      so.salesRepArray = std::move(codes);
    });
  if (settings.isCustomerPriorityOption)
    step([&] {
      json entries = json::array();
      for (const auto& row : storedList(defaults::customerpriority)) {
        const std::string code = foundation::textForKey(row, "Code");
        entries.push_back(code.empty() ? std::string()
                                       : "[" + code + "] " + foundation::textForKey(row, "Description"));
      }
      so.customerPriorityArray = std::move(entries);
    });
  step([&] {
    json names = json::array();
    for (const auto& row : storedList(defaults::state)) names.push_back(rowText(row, "Description"));
    so.stateArray = std::move(names);
  });
  step([&] {
    json names = json::array();
    for (const auto& row : storedList(defaults::country)) names.push_back(rowText(row, "Description"));
    so.countryArray = std::move(names);
  });
  step([&] {
    if (!d.boolForKey(defaults::warehouseState)) {
      so.warehouseCode.clear();
      return;
    }
    auto code = d.stringForKey(defaults::warehouseCode);
    if (!code) throw AppException("NSInvalidArgumentException", "no stored warehouse");
    so.warehouseCode = *code;
  });
  step([&] {
    auto code = d.stringForKey(defaults::divisionCode);
    if (!code) throw AppException("NSInvalidArgumentException", "no stored division");
    so.divisionCode = *code;
  });
  if (!ok) presentAlertWhenOnScreen(*this, 0, "Error", kRequestSettingsMessage, nullptr);
  return ok;
}

void SoOrderTypeViewController::viewWillAppear(bool) {
  if (UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  multiDivisionFlag_ = UserDefaults::standard().stringForKey(defaults::divisionStatus) == std::optional<std::string>("Y");
}

void SoOrderTypeViewController::viewDidAppear(bool) {
  if (!multiDivisionFlag_) return;
  const std::string company = UserDefaults::standard().stringForKey(defaults::companyName).value_or("");
  presentAlertWhenOnScreen(*this, 0, kAppAlertTitle,
                           "This iPod is setup for \u201c" + company +
                               "\u201d division.\nPlease use \u201cSetting\u201d if you need to change your division.",
                           nullptr);
}

void SoOrderTypeViewController::getSoOrderType() {
  ScreenRequest r;
  r.operation = "GetSoOrderType";
  r.requestMethod = "-[SoOrderTypeViewController getSoOrderType]";
  r.answerMethod = "-[SoOrderTypeViewController soOrderTypeResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { soOrderTypeResponseData(a); });
}

void SoOrderTypeViewController::soOrderTypeResponseData(const RequestAnswer& a) {
  const auto& rows = a.requireObject();
  if (!rows) return;  // not JSON: reported by the reading, the list stays empty
  if (!rows->is_array()) throw AppException("NSInvalidArgumentException", "the order types are not a list");
  listContent_ = *rows;
  orvoDelegate_->globalSO().orderTypeArray = *rows;
  table_->reloadData();
}

std::shared_ptr<ui::TableViewCell> SoOrderTypeViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                     ui::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) {
    cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Subtitle, "Cell");
    cell->setAccessoryType(ui::AccessoryType::DisclosureIndicator);
  }
  const json& row = listContent_.at(size_t(ip.row));
  cell->textLabel().setText(foundation::textForKey(row, "Code"));
  cell->detailTextLabel().setText(foundation::textForKey(row, "Descript"));
  return cell;
}

void SoOrderTypeViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  if (ip.row < 0 || ip.row >= int(listContent_.size())) return;
  orvoDelegate_->globalSO().orderTypeCode = foundation::textForKey(listContent_[size_t(ip.row)], "Code");
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("SoSelectorViewController"), true);
}

void SoOrderTypeViewController::backFunc() { dismissViewControllerAnimated(true); }

void SoOrderTypeViewController::logoutButtonClicked() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?", [this] { yesAlertLogout(); }, nullptr);
}

void SoOrderTypeViewController::yesAlertLogout() {
  orvoDelegate_->initFlag();
  dismissViewControllerAnimated(true);
}

}  // namespace orvo
