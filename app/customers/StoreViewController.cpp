#include "app/customers/StoreViewController.h"

#include <cctype>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;

namespace {

std::string text(const json& row, const char* key) {
  const json& v = foundation::valueForKey(row, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

std::string lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool isStoreRow(const json& row) { return text(row, "Response") != "False"; }

}  // namespace

CustomCellForStore::CustomCellForStore() : ui::TableViewCell(ui::CellStyle::Default, "StoreCell") {
  auto label = [this](ui::Rect frame, double size, bool bold = false) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
    l->setAdjustsFontSizeToFitWidth(true);
    contentView().addSubview(l);
    return l;
  };
  name_ = label({10, 4, 270, 22}, 17, true);
  phone_ = label({10, 26, 270, 16}, 13);
  addr_ = label({10, 42, 270, 16}, 13);
  setAccessoryType(ui::AccessoryType::DisclosureIndicator);
}

void StoreViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  table_->setRowHeight(64);
  table_->registerCellFactory("StoreCell", [] { return std::make_shared<CustomCellForStore>(); });
  setView(table_);
}

void StoreViewController::viewDidLoad() {
  setTitle(ui::localizedString("Stores"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  docListArray_ = json::array();
  copyDocListArray_ = json::array();
  searching_ = false;
  searchBar_ = ui::makeView<ui::SearchBar>({0, 0, ui::Window::kScreenWidth, 44});
  searchBar_->setPlaceholder("Store name");
  searchBar_->searchField().setAutocorrection(false);
  searchBar_->setDelegate(self<ui::SearchBarDelegate>());
  table_->setTableHeaderView(searchBar_);
  logoutBarButtonItem_ = barImageButton("unlock.png", "Logout", [this] { logoutButtonClicked(); });
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  getStoreForCustomer();
}

void StoreViewController::viewWillAppear(bool) {
  if (orvoDelegate_->settings().duplicateSoFlag) {
    GlobalSO& so = orvoDelegate_->globalSO();
    so.orderNumber = so.pDupNum;
    if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::purple());
  }
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
}

void StoreViewController::getStoreForCustomer() {
  ScreenRequest r;
  r.operation = "GetStoreForCustomer";
  r.params = {{"customerCode", orvoDelegate_->globalSO().customerID}};
  r.requestMethod = "-[StoreViewController viewDidLoad]";
  r.answerMethod = "-[StoreViewController storeListResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { storeListResponseData(a); });
}

void StoreViewController::storeListResponseData(const RequestAnswer& a) {
  const auto& rows = a.requireObject();
  if (!rows) return;
  if (!rows->is_array()) throw AppException("NSInvalidArgumentException", "GetStoreForCustomer answer is not a list");
  bool noStore = false;
  for (const auto& row : *rows) {
    noStore = noStore || !isStoreRow(row);
    docListArray_.push_back(row);
  }
  table_->reloadData();
  // Announced once, when the answer arrives; its OK goes back to the customer list.
  if (noStore) {
    std::weak_ptr<StoreViewController> weak = self<StoreViewController>();
    presentAlertWhenOnScreen(*this, 0, kAppAlertTitle, "You don't have active store list.", [weak] {
      if (auto s = weak.lock()) s->backFunc();
    });
  }
}

std::optional<std::string> StoreViewController::titleForHeaderInSection(ui::TableView&, int) {
  return std::string(searching_ ? "Search Results" : "Stores List");
}

std::shared_ptr<ui::TableViewCell> StoreViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForStore>(table.dequeueReusableCellWithIdentifier("StoreCell"));
  if (!cell) cell = std::make_shared<CustomCellForStore>();
  const json& list = shownList();
  if (ip.row < 0 || ip.row >= int(list.size())) return cell;
  const json& row = list[size_t(ip.row)];
  if (!isStoreRow(row)) {
    cell->storeName().setText("");
    cell->storePhone1().setText("");
    cell->storeAddr1().setText("");
    return cell;
  }
  cell->storeName().setText(text(row, "StoreName"));
  cell->storePhone1().setText(text(row, "StoreId"));
  cell->storeAddr1().setText(text(row, "Addr1"));
  return cell;
}

std::optional<ui::IndexPath> StoreViewController::willSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  const json& list = shownList();
  if (ip.row < 0 || ip.row >= int(list.size()) || !isStoreRow(list[size_t(ip.row)])) return std::nullopt;
  return ip;
}

void StoreViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  const json& list = shownList();
  if (ip.row < 0 || ip.row >= int(list.size()) || !isStoreRow(list[size_t(ip.row)])) return;
  orvoDelegate_->globalSO().storeID = text(list[size_t(ip.row)], "StoreId");
  const char* next = orvoDelegate_->settings().soEditSelectFlag ? "LoadOrderListViewController" : "OrderListView";
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen(next), true);
}

void StoreViewController::showOverlay() {
  if (!ovController_) ovController_ = std::make_shared<OverlayViewController>();
  ui::View& v = ovController_->view();
  v.setFrame({0, searchBar_->frame().size.height, view().frame().size.width, view().frame().size.height});
  v.setBackgroundColor(ui::Color::black());
  v.setAlpha(0.7);
  ovController_->setViewController(self<ui::ViewController>());
  table_->addSubview(ovController_->viewPtr());
}

void StoreViewController::searchBarTextDidBeginEditing(ui::SearchBar&) {
  if (searching_) return;
  showOverlay();
  searching_ = true;
  table_->setScrollEnabled(false);
  navigationItem().setRightBarButtonItem(ui::BarButtonItem::withSystemItem(
      ui::BarButtonSystemItem::Done, [this](ui::BarButtonItem&) { doneSearching_Clicked(this); }));
}

void StoreViewController::textDidChange(ui::SearchBar&, const std::string& searchText) {
  copyDocListArray_ = json::array();
  if (!searchText.empty()) {
    if (ovController_ && ovController_->isViewLoaded()) ovController_->view().removeFromSuperview();
    searching_ = true;
    table_->setScrollEnabled(true);
    searchText_ = searchText;
    searchTableView();
  } else {
    showOverlay();
    searching_ = false;
    table_->setScrollEnabled(false);
  }
  table_->reloadData();
}

void StoreViewController::searchTableView() {
  const std::string key = lower(searchText_);
  for (const auto& row : docListArray_)
    if (isStoreRow(row) && lower(text(row, "StoreName")).find(key) != std::string::npos) copyDocListArray_.push_back(row);
}

void StoreViewController::doneSearching_Clicked(const void*) {
  searchBar_->setText("");
  searchBar_->resignFirstResponder();
  searching_ = false;
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  table_->setScrollEnabled(true);
  if (ovController_ && ovController_->isViewLoaded()) ovController_->view().removeFromSuperview();
  ovController_.reset();
  table_->reloadData();
}

void StoreViewController::logoutButtonClicked() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?", [this] { yesAlertLogout(); }, nullptr);
}

void StoreViewController::yesAlertLogout() {
  orvoDelegate_->initFlag();
  if (auto* nav = navigationController())
    nav->dismissViewControllerAnimated(true);
  else
    dismissViewControllerAnimated(true);
}

void StoreViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
