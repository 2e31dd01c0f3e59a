#include "app/customers/CustomerViewController.h"

#include <unordered_map>
#include <unordered_set>

#include <cctype>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/SearchOverlay.h"
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

// Where rows without a name are listed.
constexpr const char* kNoNameTitle = "#";

std::string text(const json& row, const char* key) {
  const json& v = foundation::valueForKey(row, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

// The first character of a UTF-8 text.
std::string firstCharacter(const std::string& s) {
  if (s.empty()) return {};
  size_t n = 1;
  unsigned char c = static_cast<unsigned char>(s[0]);
  if (c >= 0xF0) n = 4;
  else if (c >= 0xE0) n = 3;
  else if (c >= 0xC0) n = 2;
  return s.substr(0, std::min(n, s.size()));
}

std::string trimmed(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

}  // namespace

// ----- Cell

CustomCellForCustomer::CustomCellForCustomer() : ui::TableViewCell(ui::CellStyle::Default, "CustomerCell") {
  auto label = [this](ui::Rect frame, double size, bool bold = false) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
    contentView().addSubview(l);
    return l;
  };
  name_ = label({10, 4, 270, 24}, 18, true);
  name_->setAdjustsFontSizeToFitWidth(true);
  details_ = label({10, 28, 270, 18}, 13);
  details_->setAdjustsFontSizeToFitWidth(true);
  contact_ = label({10, 46, 150, 18}, 13);
  phone_ = label({160, 46, 120, 18}, 13);
  status_ = label({10, 66, 270, 20}, 12, true);
  priority_ = label({10, 88, 270, 16}, 12);
  memo_ = ui::makeView<ui::TextView>({10, 104, 270, 32});
  memo_->setEditable(false);
  contentView().addSubview(memo_);
  setAccessoryType(ui::AccessoryType::DisclosureIndicator);
}

// The texts keep to the content view, which the chevron and the section index narrow, and the
// memo takes the rest of the row below the priority: a long memo wraps inside it and
// scrolls there, never reaching the chevron or the next row.
void CustomCellForCustomer::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  const double right = contentView().frame().width() - 4, rowHeight = contentView().frame().height();
  auto place = [](ui::View& v, double x, double y, double maxX, double height) {
    v.setFrame({x, y, std::max(0.0, maxX - x), std::max(0.0, height)});
  };
  place(*name_, 10, 4, right, 24);
  place(*details_, 10, 28, right, 18);
  place(*contact_, 10, 46, std::min(160.0, right), 18);
  place(*phone_, 160, 46, right, 18);
  place(*status_, 10, 66, right, 20);
  place(*priority_, 10, 88, right, 16);
  place(*memo_, 10, 104, right, rowHeight - 104 - 2);
}

// ----- Screen

void CustomerViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  table_->setRowHeight(140);
  table_->registerCellFactory("CustomerCell", [] { return std::make_shared<CustomCellForCustomer>(); });
  setView(table_);
}

void CustomerViewController::viewDidLoad() {
  setTitle(ui::localizedString("Customers"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  listContent_.clear();
  customerIndexTitle_.clear();
  sectionRows_.clear();
  const Settings& settings = orvoDelegate_->settings();

  if (settings.isScanPackMode) {
    auto allPick = ui::BarButtonItem::withTitle(ui::localizedString("All Pick"), ui::BarButtonItemStyle::Plain,
                                                [this](ui::BarButtonItem&) { gotoPickView(std::nullopt); });
    allPick->setTintColor(ui::Color::green());
    navigationItem().setRightBarButtonItem(allPick);
  } else {
    navigationItem().setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Search, [this](ui::BarButtonItem&) { searchBar(); }));
  }
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));

  searchBar_ = ui::makeView<ui::SearchBar>({0, 0, ui::Window::kScreenWidth, 44});
  searchBar_->setPlaceholder("Customer");
  searchBar_->setScopeButtonTitles({"Name", "Code", "Phone"});
  searchBar_->setShowsScopeBar(true);
  searchBar_->searchField().setAutocorrection(false);
  searchBar_->setDelegate(self<ui::SearchBarDelegate>());
  table_->setTableHeaderView(searchBar_);
  setSearchBarMargin();
  if (!settings.soEditSelectFlag && !settings.isScanPackMode) {
    searchBar_->setShowsCancelButton(true);
    searchBar_->cancelButton().setTitle(" NEW ");
  }
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
}

void CustomerViewController::setSearchBarMargin() { searchBar_->setContentInset({5, 0, 5, 35}); }

void CustomerViewController::viewWillAppear(bool) {
  if (orvoDelegate_->settings().duplicateSoFlag)
    if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::purple());
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  setOV();
  orvoDelegate_->globalSO().orderDiscountRate = 0;
}

void CustomerViewController::viewDidAppear(bool) { searchBar(); }

void CustomerViewController::viewDidDisappear(bool) {
  dropSearchOverlay(ovController_);
}

void CustomerViewController::searchBar() { focusSearch(*table_, *searchBar_); }

void CustomerViewController::setOV() { makeSearchOverlay(ovController_, *this, *searchBar_); }

void CustomerViewController::searchBarTextDidBeginEditing(ui::SearchBar&) {
  showSearchOverlay(ovController_, *this, *table_, *searchBar_);
}

void CustomerViewController::delOv() { hideSearchOverlay(ovController_, *table_, *searchBar_); }

void CustomerViewController::searchBarSearchButtonClicked(ui::SearchBar& bar) {
  bar.resignFirstResponder();
  getCustomer(bar.text(), bar.selectedScopeButtonIndex());
}

void CustomerViewController::searchBarCancelButtonClicked(ui::SearchBar&) {
  if (!orvoDelegate_->settings().soEditSelectFlag && !orvoDelegate_->settings().isScanPackMode) newCustomerFunc();
}

void CustomerViewController::selectedScopeButton(int index) {
  const std::string t = searchBar_->text();
  if (!t.empty()) getCustomer(t, index);
}

void CustomerViewController::getCustomer(const std::string& searchText, int option) {
  ScreenRequest r;
  r.operation = "GetCustomer";
  r.params = {{"customerName", searchText}, SoapParam::integer("optionIndex", option)};
  r.requestMethod = "-[CustomerViewController getCustomer:Option:]";
  r.answerMethod = "-[CustomerViewController getCustomerResponseData:]";
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { getCustomerResponseData(a); });
}

void CustomerViewController::getCustomerResponseData(const RequestAnswer& a) {
  const auto& rows = a.requireObject();
  if (!rows) return;
  if (!rows->is_array()) throw AppException("NSInvalidArgumentException", "GetCustomer answer is not a list");
  listContent_.clear();
  listContent_.reserve(rows->size());
  for (const json& row : *rows) {
    Row& r = listContent_.emplace_back();
    r.isData = text(row, "Response") == "True";
    r.code = text(row, "Code");
    r.name = text(row, "Name");
    r.contact1 = text(row, "Contact1");
    r.phone1 = text(row, "Phone1");
    r.address1 = text(row, "Address1");
    r.priority = text(row, "Priority");
    r.memo = text(row, "Memo");
    r.status = text(row, "Status");
    r.orderDiscountRate = text(row, "OrderDiscountRate");
    r.priceLevel = text(row, "PriceLevel");
    r.discountRate = foundation::doubleValue(foundation::valueForKey(row, "OrderDiscountRate"));
  }
  makeSections();
  delOv();
  table_->reloadData();
}

// Titles from the rows' first characters, in order of first appearance; then each row
// goes to every section whose title its name starts with, ignoring case (a title is one
// character, so at most four bytes), or to "#" when it has no name. One pass each.
void CustomerViewController::makeSections() {
  customerIndexTitle_.clear();
  sectionRows_.clear();
  std::unordered_set<std::string> seen;
  for (const auto& row : listContent_) {
    if (!row.isData) continue;
    const std::string& name = row.name;
    std::string title = name.empty() ? std::string(kNoNameTitle) : firstCharacter(name);
    if (seen.insert(title).second) customerIndexTitle_.push_back(std::move(title));
  }
  sectionRows_.resize(customerIndexTitle_.size());
  auto lower = [](std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::unordered_map<std::string, std::vector<std::size_t>> sectionsOf;  // by lower-case title
  std::optional<std::size_t> noName;
  for (std::size_t s = 0; s < customerIndexTitle_.size(); ++s) {
    if (customerIndexTitle_[s] == kNoNameTitle)
      noName = s;
    else
      sectionsOf[lower(customerIndexTitle_[s])].push_back(s);
  }
  for (std::size_t i = 0; i < listContent_.size(); ++i) {
    const Row& row = listContent_[i];
    const std::string& name = row.name;
    if (name.empty()) {
      if (noName && row.isData) sectionRows_[*noName].push_back(i);
      continue;
    }
    // Sections in title order, as a walk over the sections would list the row.
    std::vector<std::size_t> matched;
    for (std::size_t n = 1; n <= std::min<std::size_t>(4, name.size()); ++n) {
      auto it = sectionsOf.find(lower(name.substr(0, n)));
      if (it != sectionsOf.end()) matched.insert(matched.end(), it->second.begin(), it->second.end());
    }
    for (std::size_t s : matched) sectionRows_[s].push_back(i);
  }
}

std::vector<json> CustomerViewController::rowsOfSection(int section) const {
  std::vector<json> out;
  if (section < 0 || section >= int(sectionRows_.size())) return out;
  for (std::size_t i : sectionRows_[size_t(section)]) out.push_back(listContent_[i].toJson());
  return out;
}

json CustomerViewController::Row::toJson() const {
  return {{"Response", isData ? "True" : "False"}, {"Code", code}, {"Name", name}, {"Contact1", contact1},
          {"Phone1", phone1}, {"Address1", address1}, {"Priority", priority}, {"Memo", memo},
          {"Status", status}, {"OrderDiscountRate", orderDiscountRate}, {"PriceLevel", priceLevel}};
}

const CustomerViewController::Row* CustomerViewController::rowAt(ui::IndexPath ip) const {
  if (ip.section < 0 || ip.section >= int(sectionRows_.size())) return nullptr;
  const auto& rows = sectionRows_[size_t(ip.section)];
  if (ip.row < 0 || ip.row >= int(rows.size())) return nullptr;
  return &listContent_[rows[size_t(ip.row)]];
}

std::optional<std::string> CustomerViewController::titleForHeaderInSection(ui::TableView&, int section) {
  if (section < 0 || section >= int(customerIndexTitle_.size())) return std::nullopt;
  return customerIndexTitle_[size_t(section)];
}

std::shared_ptr<ui::TableViewCell> CustomerViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForCustomer>(table.dequeueReusableCellWithIdentifier("CustomerCell"));
  if (!cell) cell = std::make_shared<CustomCellForCustomer>();
  const Row* found = rowAt(ip);
  if (!found) return cell;
  const Row& row = *found;
  cell->customerName().setText(trimmed(row.name));
  cell->lbl_contact1().setText(row.contact1);
  cell->customerPhone1().setText(row.phone1);
  cell->customerDetails().setText(row.address1);
  cell->customerPriority().setText(row.priority);
  cell->customerMemo().setText(row.memo);

  ui::Label& status = cell->customerStatus();
  const std::string& st = row.status;
  status.setText(st);
  status.setBackgroundColor(st == "ACTIVE" ? ui::Color::blue() : ui::Color::red());
  const std::string& rate = row.orderDiscountRate;
  if (rate == "0.00") {
    status.setTextColor(ui::Color::whiteColor());
  } else {
    status.setText(st + " - Order Discount : " + rate + "%");
    status.setTextColor(ui::Color::green());
  }
  const double fromServer = orvoDelegate_->settings().showOrderDiscountRateFromServer;
  if (fromServer > 0) {
    status.setText(st + " - Show Order Discount : " + foundation::formatDouble(fromServer, 2) + "%");
    status.setTextColor(ui::Color::green());
  }
  return cell;
}

void CustomerViewController::didSelectRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  const Row* found = rowAt(ip);
  if (!found) return;
  const Row row = *found;
  const std::string& status = row.status;
  if (status != "ACTIVE") {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "This is a(n) '" + status + "' customer.\nCustomer Memo is \n" + row.memo);
    table.deselectRowAtIndexPath(ip, true);
    return;
  }
  const Settings& settings = orvoDelegate_->settings();
  if (settings.isScanPackMode) {
    gotoPickView(row.code);
    return;
  }
  GlobalSO& so = orvoDelegate_->globalSO();
  so.customerID = row.code;
  if (so.fixedPriceLevel == "AUTO") {
    so.priceLevel = row.priceLevel.empty() ? std::string("1") : row.priceLevel;
  } else {
    so.priceLevel = so.fixedPriceLevel;
  }
  so.orderDiscountRate = row.discountRate;
  if (settings.showOrderDiscountRateFromServer > 0) so.orderDiscountRate = settings.showOrderDiscountRateFromServer;
  if (so.orderDiscountRate > 0) {
    std::weak_ptr<CustomerViewController> weak = self<CustomerViewController>();
    AlertClass::AlertView(*this, 0, 1, kAppAlertTitle,
                          "The Order Discount Rate " + foundation::formatDouble(so.orderDiscountRate, 2) + "% is applied.",
                          [weak] {
                            if (auto s = weak.lock()) s->PushToStoreView();
                          },
                          nullptr);
  } else {
    PushToStoreView();
  }
}

void CustomerViewController::PushToStoreView() {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("StoreView"), true);
}

void CustomerViewController::gotoPickView(const std::optional<std::string>& customerCode) {
  auto pick = makeScreen("PickTicketViewController");
  if (auto* entry = dynamic_cast<PickTicketEntry*>(pick.get())) entry->setCustomerID(customerCode);
  if (auto* nav = navigationController()) nav->pushViewController(pick, true);
}

void CustomerViewController::newCustomerFunc() {
  delOv();
  if (auto* nav = navigationController())
    nav->pushViewController(makeScreen("NewCustomerSelectorViewController"), true);
}

void CustomerViewController::backFunc() {
  Settings& settings = orvoDelegate_->settings();
  if (settings.isScanPackMode) {
    dismissViewControllerAnimated(true);
    return;
  }
  GlobalSO& so = orvoDelegate_->globalSO();
  if (settings.duplicateSoFlag) {
    settings.duplicateSoFlag = false;
    so.orderNumber = so.pDupNum;
    so.pDupNum.clear();
  }
  so.orderDiscountRate = 0;
  if (auto* nav = navigationController()) {
    Util::setNavTitleBgColor(*nav, ui::Color::black());
    nav->popViewControllerAnimated(true);
  }
}

}  // namespace orvo
