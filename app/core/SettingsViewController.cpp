#include "app/core/SettingsViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/LoginClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/SoapEnvelope.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace orvo {

using foundation::UserDefaults;
using nlohmann::json;

namespace {

const ui::Color kGreyedText = ui::Color::lightGray();
// Field widths: the address fields hold a whole address and their placeholders; the
// time-out and price-level fields leave room for their longer row titles.
constexpr double kWideField = 180;
constexpr double kNarrowField = 110;

}  // namespace

const char* SettingsViewController::keyForTag(int tag) {
  switch (tag) {
    case kAutoConnect: return defaults::AutoLogin;
    case kTimeOutFunc: return defaults::timeOutFunc;
    case kAutoCharge: return defaults::ScannerAutoCharge;
    case kPassSync: return defaults::ScannerPassSync;
    case kWarehouse: return defaults::warehouseState;
    case kPreviousOrder: return defaults::previousOrderFunc;
    case kNegativeStocks: return defaults::negativeStocksFunc;
    case kOtsWarning: return defaults::otsWarningFunc;
    case kMultiSo: return defaults::MultiSo;
    case kRealtimeSo: return defaults::RealtimeSoStatus;
    case kMultiColorSo: return defaults::MultiColorSoStatus;
    case kSoStatus: return defaults::SoStatus;
    case kDupItem: return defaults::DupItemStatus;
    case kPrint2Copies: return defaults::Print2Copies;
    case kUsingServer: return defaults::PrintUsingServer;
    default: return nullptr;
  }
}

bool SettingsViewController::state(int tag) const {
  auto it = states_.find(tag);
  return it != states_.end() && it->second;
}

ui::Switch* SettingsViewController::switchWithTag(int tag) const {
  auto it = switches_.find(tag);
  return it == switches_.end() ? nullptr : it->second.get();
}

void SettingsViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Grouped);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void SettingsViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle("Settings");
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  navigationItem().setLeftBarButtonItem(barImageButton("back.png", "Back", [this] { backButtonClicked(); }));
  navigationItem().setRightBarButtonItem(barImageButton("save.png", "Save", [this] { saveSettings(); }));

  accessoryToolbar_ = std::make_shared<ui::Toolbar>();
  accessoryToolbar_->setItems({ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
                               ui::BarButtonItem::withTitle("Done", ui::BarButtonItemStyle::Done,
                                                            [this](ui::BarButtonItem&) { dismissKeyboard(); })});
  priceLevelPickerView_ = std::make_shared<ui::PickerView>();
  priceLevelPickerView_->setDataSource(self<ui::PickerViewDataSource>());
  priceLevelPickerView_->setDelegate(self<ui::PickerViewDelegate>());
}

void SettingsViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  auto& d = UserDefaults::standard();
  serverIP_ = d.stringForKey(defaults::serverIP).value_or("");
  serverPort_ = d.stringForKey(defaults::serverPort).value_or("");
  if (auto division = d.stringForKey(defaults::divisionCode)) {
    divisionCode_ = *division;
    states_[kPreviousOrder] = d.boolForKey(defaults::previousOrderFunc);
    states_[kNegativeStocks] = d.boolForKey(defaults::negativeStocksFunc);
  } else {
    divisionCode_.clear();
    states_[kPreviousOrder] = true;
    states_[kNegativeStocks] = true;
  }
  warehouseCode_ = d.stringForKey(defaults::warehouseCode).value_or("");
  priceLevel_ = d.stringForKey(defaults::priceLevel).value_or("AUTO");
  if (auto printer = d.stringForKey(defaults::printerName)) {
    printerName_ = *printer;
  } else {
    printerName_ = "1";
    d.setString(defaults::printerName, "1");
    d.synchronize();
  }
  for (int tag : {kAutoConnect, kMultiSo, kRealtimeSo, kMultiColorSo, kSoStatus, kDupItem, kWarehouse, kTimeOutFunc})
    states_[tag] = d.boolForKey(keyForTag(tag));
  timeOut_ = d.stringForKey(defaults::timeOut).value_or("");
  for (int tag : {kOtsWarning, kPrint2Copies, kUsingServer, kAutoCharge, kPassSync})
    states_[tag] = d.boolForKey(keyForTag(tag));
  table_->reloadData();
}

// ----- Table

std::vector<SettingsViewController::Row> SettingsViewController::rowsOfSection(int section) const {
  switch (section) {
    case 0:
      return {{"Server IP"}, {"Port"}, {"Orvo Settings"}, {"Auto Connect", kAutoConnect}};
    case 1:
      return {{"Code"},
              {"Multi SO", kMultiSo},
              {"Real time SO", kRealtimeSo},
              {"Multi Color SO", kMultiColorSo},
              {"Note/Hold SO", kSoStatus},
              {"Dup. Item Handling", kDupItem},
              {"Price Level"}};
    case 2:
      return {{"Warehouse", kWarehouse}, {"Code", 0, kWarehouse}};
    case 3: {
      std::vector<Row> rows{{"Time Out Function", kTimeOutFunc},
                            {"Time Out (min)", 0, kTimeOutFunc},
                            {"Previous Order", kPreviousOrder},
                            {"Negative Stocks", kNegativeStocks}};
      if (state(kNegativeStocks)) rows.push_back({" - Negative OTS Warning", kOtsWarning});
      return rows;
    }
    case 4:
      return {{"2 Copies", kPrint2Copies}, {"Using Server", kUsingServer}, {"Printer", 0, kUsingServer}};
    case 5:
      return {{"Automated Charge", kAutoCharge}, {"iTunes Sync", kPassSync}};
    default:
      return {};
  }
}

int SettingsViewController::numberOfRowsInSection(ui::TableView&, int section) {
  return int(rowsOfSection(section).size());
}

std::optional<std::string> SettingsViewController::titleForHeaderInSection(ui::TableView&, int section) {
  static const char* const kHeaders[] = {"Server",        "Company Division / Sales Order",
                                         "Company Warehouse", "Notifications",
                                         "Print",         "Scanner"};
  if (section >= 0 && section < 6) return kHeaders[section];
  return std::nullopt;
}

std::shared_ptr<ui::Switch> SettingsViewController::switchFor(int tag) {
  auto& sw = switches_[tag];
  if (!sw) {
    sw = std::make_shared<ui::Switch>();
    sw->setTag(tag);
    sw->addTarget(this, [this](ui::Control& c) { switchChanged(static_cast<ui::Switch&>(c)); }, ui::ValueChanged);
  }
  sw->setOn(state(tag));
  return sw;
}

std::shared_ptr<ui::TextField> SettingsViewController::makeField(const std::string& placeholder,
                                                                 const std::string& text, double width) {
  auto f = ui::makeView<ui::TextField>(ui::Rect(0, 0, width, 30));
  f->setPlaceholder(placeholder);
  f->setText(text);
  f->setTextAlignment(ui::TextAlignment::Right);
  f->setKeyboardType(ui::KeyboardType::DecimalPad);
  f->setInputAccessoryView(accessoryToolbar_);
  f->setDelegate(self<ui::TextFieldDelegate>());
  return f;
}

std::shared_ptr<ui::TableViewCell> SettingsViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                               ui::IndexPath ip) {
  (void)table;
  auto rows = rowsOfSection(ip.section);
  if (ip.row >= int(rows.size())) return std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "Cell");
  const Row& row = rows[ip.row];
  // Each row keeps its own cell: the row's control lives in it for the life of the screen.
  const bool labelRow = (ip.section == 1 && ip.row == 0) || (ip.section == 2 && ip.row == 1) ||
                        (ip.section == 4 && ip.row == 2);
  auto& cell = cells_[{ip.section, row.title}];
  if (!cell)
    cell = std::make_shared<ui::TableViewCell>(labelRow ? ui::CellStyle::Value1 : ui::CellStyle::Default, "Cell");
  cell->setSelectionStyle(ui::SelectionStyle::None);
  cell->setAccessoryType(ui::AccessoryType::None);
  cell->textLabel().setText(row.title);
  const bool enabled = row.dependsOn == 0 || state(row.dependsOn);
  cell->textLabel().setTextColor(enabled ? ui::Color::black() : kGreyedText);

  // The division code, warehouse code and printer number show as the row's detail text,
  // beside the disclosure indicator that says the row opens a list.
  auto label = [&](const std::string& text) {
    cell->detailTextLabel().setText(text);
    cell->detailTextLabel().setTextColor(enabled ? ui::Color::black() : kGreyedText);
    cell->setAccessoryType(ui::AccessoryType::DisclosureIndicator);
  };

  if (row.tag) {
    cell->setAccessoryView(switchFor(row.tag));
  } else if (ip.section == 0 && ip.row == 0) {
    if (!serverIPTextField_) serverIPTextField_ = makeField("Enter Server IP.", serverIP_, kWideField);
    cell->setAccessoryView(serverIPTextField_);
  } else if (ip.section == 0 && ip.row == 1) {
    if (!portTextField_) portTextField_ = makeField("Enter Port Number.", serverPort_, kWideField);
    cell->setAccessoryView(portTextField_);
  } else if (ip.section == 0 && ip.row == 2) {
    if (!btnGetMethods_) {
      // "Request" asks for the server lists; "Logo" for the company logo.
      btnGetMethods_ = ui::makeView<ui::View>(ui::Rect(0, 0, 150, 30));
      auto request = ui::Button::make("Request", ui::Rect(0, 0, 75, 30));
      request->addTarget(this, [this](ui::Control&) { GetMethods(); }, ui::TouchUpInside);
      auto logo = ui::Button::make("Logo", ui::Rect(80, 0, 70, 30));
      logo->addTarget(this, [this](ui::Control&) { getLogoFunc(); }, ui::TouchUpInside);
      btnGetMethods_->addSubview(request);
      btnGetMethods_->addSubview(logo);
    }
    cell->setAccessoryView(btnGetMethods_);
  } else if (ip.section == 1 && ip.row == 0) {
    label(divisionCode_);
  } else if (ip.section == 1 && ip.row == 6) {
    if (!priceLevelTextField_) {
      priceLevelTextField_ = makeField("", priceLevel_, kNarrowField);
      priceLevelTextField_->setInputView(priceLevelPickerView_);
    }
    for (size_t i = 0; i < priceLevelListArray_.size(); ++i)
      if (priceLevelListArray_[i] == priceLevelTextField_->text()) priceLevelPickerView_->selectRow(int(i), 0, false);
    cell->setAccessoryView(priceLevelTextField_);
  } else if (ip.section == 2 && ip.row == 1) {
    label(warehouseCode_);
  } else if (ip.section == 3 && ip.row == 1) {
    if (!timeOutTextField_) timeOutTextField_ = makeField("Enter Time.", timeOut_, kNarrowField);
    timeOutTextField_->setEnabled(enabled);
    timeOutTextField_->setTextColor(enabled ? ui::Color::black() : kGreyedText);
    cell->setAccessoryView(timeOutTextField_);
  } else if (ip.section == 4 && ip.row == 2) {
    label(printerName_);
  }
  return cell;
}

void SettingsViewController::pushScreen(const std::string& interfaceName) {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen(interfaceName), true);
}

void SettingsViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  auto& d = UserDefaults::standard();
  if (ip.section == 1 && ip.row == 0) {
    saveIPnPort();
    pushScreen("DivisionViewController");
  } else if (ip.section == 2 && ip.row == 1 && state(kWarehouse)) {
    d.setBool(defaults::warehouseState, true);
    d.synchronize();
    saveIPnPort();
    pushScreen("WarehouseViewController");
  } else if (ip.section == 4 && ip.row == 2 && state(kUsingServer)) {
    d.setBool(defaults::PrintUsingServer, true);
    d.synchronize();
    saveIPnPort();
    pushScreen("PrinterViewController");
  }
}

// ----- Switches

void SettingsViewController::storeBool(const char* key, bool value) { UserDefaults::standard().setBool(key, value); }

void SettingsViewController::switchChanged(ui::Switch& sender) {
  const int tag = sender.tag();
  const char* key = keyForTag(tag);
  if (!key) return;
  states_[tag] = sender.isOn();
  storeBool(key, sender.isOn());
  if (tag == kMultiSo && state(kRealtimeSo)) {
    states_[kRealtimeSo] = false;
    if (auto* s = switchWithTag(kRealtimeSo)) s->setOn(false);
    storeBool(defaults::RealtimeSoStatus, false);
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, "Multi SO doesn't support using Realtime SO.");
  } else if (tag == kRealtimeSo && state(kMultiSo)) {
    states_[kMultiSo] = false;
    if (auto* s = switchWithTag(kMultiSo)) s->setOn(false);
    storeBool(defaults::MultiSo, false);
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, "Realtime SO doesn't support using Multi SO.");
  } else if (tag == kAutoCharge || tag == kPassSync) {
    if (orvoDelegate_) orvoDelegate_->startBarcode();
    setScannerSettings(tag == kAutoCharge ? kOptionCharging : kOptionPassSync, sender.isOn());
  }
  UserDefaults::standard().synchronize();
  table_->reloadData();
}

void SettingsViewController::setScannerSettings(int option, bool status) {
  if (!orvoDelegate_ || (option != kOptionCharging && option != kOptionPassSync)) return;
  const bool ok = option == kOptionCharging ? orvoDelegate_->enableCharging(status) : orvoDelegate_->enablePassSync(status);
  if (ok) return;
  const int tag = option == kOptionCharging ? kAutoCharge : kPassSync;
  states_[tag] = !status;
  if (auto* s = switchWithTag(tag)) s->setOn(!status);
  auto& d = UserDefaults::standard();
  d.setBool(keyForTag(tag), !status);
  d.synchronize();
}

// ----- Validation and save

std::string SettingsViewController::fieldText(const std::shared_ptr<ui::TextField>& field,
                                              const std::string& loaded) const {
  return field ? field->text() : loaded;
}

bool SettingsViewController::checkSettingOption() {
  auto& d = UserDefaults::standard();
  int tag = 0;
  std::string message;
  auto isStoredText = [&](const char* key) { return d.objectForKey(key).is_string(); };
  const std::string timeOut = fieldText(timeOutTextField_, timeOut_);
  if (fieldText(serverIPTextField_, serverIP_).empty()) {
    tag = 100, message = "Please enter Server IP.";
  } else if (fieldText(portTextField_, serverPort_).empty()) {
    tag = 101, message = "Please enter Server PORT.";
  } else if (!isStoredText(defaults::terms) || !isStoredText(defaults::shipvia) ||
             !isStoredText(defaults::paymentcode) || !isStoredText(defaults::salesrep) ||
             !isStoredText(defaults::customerpriority) || !isStoredText(defaults::state)) {
    tag = 102, message = "Please request Orvo settings.";
  } else if (divisionCode_.empty()) {
    tag = 103, message = "Please select division code.";
  } else if (state(kWarehouse) && warehouseCode_.empty()) {
    tag = 104, message = "Please select warehouse code.";
  } else if (state(kTimeOutFunc) && !(foundation::doubleValue(std::string_view(timeOut)) > 0)) {
    // Only a positive number of minutes can arm the time-out.
    tag = 105, message = "Please enter valid time for function of time out .";
  } else if (state(kUsingServer) && printerName_.empty()) {
    tag = 106, message = "Please select a printer.";
  }
  if (!tag) return true;
  auto weak = self<SettingsViewController>();
  std::weak_ptr<SettingsViewController> w = weak;
  AlertClass::AlertView(*this, tag, 1, kAppAlertTitle, message, [w, tag] {
    if (auto s = w.lock()) s->yesInvalid(tag);
  }, nullptr);
  return false;
}

void SettingsViewController::yesInvalid(int tag) {
  double y = -1;
  switch (tag) {
    case 100: case 101: y = 0; break;
    case 102: y = 80; break;
    case 103: y = 180; break;
    case 104: y = 430; break;
    case 105: y = 530; break;
    case 106: y = 830; break;
    default: return;
  }
  table_->setContentOffset({0, y}, true);
  std::shared_ptr<ui::TextField> field = tag == 100 ? serverIPTextField_ : tag == 101 ? portTextField_
                                       : tag == 105 ? timeOutTextField_ : nullptr;
  if (!field) return;
  std::weak_ptr<SettingsViewController> w = self<SettingsViewController>();
  std::weak_ptr<ui::TextField> wf = field;
  foundation::MainQueue::postAfter(std::chrono::milliseconds(500), [w, wf] {
    auto s = w.lock();
    auto f = wf.lock();
    if (s && f) s->selectRequiredField(*f);
  });
}

void SettingsViewController::selectRequiredField(ui::TextField& field) { field.becomeFirstResponder(); }

void SettingsViewController::saveSettings() {
  if (!checkSettingOption()) return;
  auto& d = UserDefaults::standard();
  d.setString(defaults::serverIP, fieldText(serverIPTextField_, serverIP_));
  d.setString(defaults::serverPort, fieldText(portTextField_, serverPort_));
  d.setString(defaults::timeOut, fieldText(timeOutTextField_, timeOut_));
  d.setString(defaults::priceLevel, fieldText(priceLevelTextField_, priceLevel_));
  for (int tag : {kAutoConnect, kMultiSo, kRealtimeSo, kMultiColorSo, kSoStatus, kDupItem, kWarehouse, kTimeOutFunc,
                  kPreviousOrder, kNegativeStocks, kOtsWarning, kPrint2Copies, kUsingServer, kAutoCharge, kPassSync})
    d.setBool(keyForTag(tag), state(tag));
  d.synchronize();
  LoginClass::saveSettingsWithBSSID();
  std::weak_ptr<SettingsViewController> w = self<SettingsViewController>();
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, "Settings have been saved successfully.", [w] {
    if (auto s = w.lock()) s->backFunc();
  }, nullptr);
}

void SettingsViewController::saveIPnPort() {
  auto& d = UserDefaults::standard();
  d.setString(defaults::serverIP, fieldText(serverIPTextField_, serverIP_));
  d.setString(defaults::serverPort, fieldText(portTextField_, serverPort_));
  d.setBool(defaults::previousOrderFunc, state(kPreviousOrder));
  d.setBool(defaults::negativeStocksFunc, state(kNegativeStocks));
  d.synchronize();
}

void SettingsViewController::dismissKeyboard() {
  for (auto* f : {serverIPTextField_.get(), portTextField_.get(), timeOutTextField_.get(), priceLevelTextField_.get()})
    if (f && f->isFirstResponder()) f->resignFirstResponder();
}

bool SettingsViewController::textFieldShouldReturn(ui::TextField& field) {
  field.resignFirstResponder();
  return true;
}

std::string SettingsViewController::titleForRow(ui::PickerView&, int row, int) {
  return row >= 0 && row < int(priceLevelListArray_.size()) ? priceLevelListArray_[row] : "";
}

void SettingsViewController::didSelectRow(ui::PickerView&, int row, int) {
  if (priceLevelTextField_ && row >= 0 && row < int(priceLevelListArray_.size()))
    priceLevelTextField_->setText(priceLevelListArray_[row]);
}

void SettingsViewController::backButtonClicked() { backFunc(); }

void SettingsViewController::backFunc() { dismissViewControllerAnimated(true); }

// ----- Server settings and company logo

void SettingsViewController::GetMethods() {
  ScreenRequest r;
  r.operation = "GetMethods";
  r.requestMethod = "-[SettingsViewController GetMethods]";
  r.answerMethod = "-[SettingsViewController GetMethodsResponseData:]";
  r.prepare = [this](ScreenRequest&) {
    dismissKeyboard();
    saveIPnPort();
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { GetMethodsResponseData(a); });
}

void SettingsViewController::GetMethodsResponseData(const RequestAnswer& answer) {
  // No result text at all is the answer method's exception ("Error" alert); nothing is stored.
  const auto& obj = answer.requireObject();
  if (obj && obj->is_object() && obj->contains("Error")) {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", foundation::textForKey(*obj, "Error"));
  } else if (obj && obj->is_object()) {
    static const std::pair<const char*, const char*> kMembers[] = {
        {"Terms", defaults::terms},       {"ShipVia", defaults::shipvia},   {"PaymentCode", defaults::paymentcode},
        {"State", defaults::state},       {"Country", defaults::country},   {"SalesRep", defaults::salesrep},
        {"CustomerPriority", defaults::customerpriority}};
    auto& d = UserDefaults::standard();
    for (auto& [member, key] : kMembers) {
      auto it = obj->find(member);
      if (it == obj->end() || it->is_null())
        d.removeObjectForKey(key);
      else
        d.setString(key, foundation::textValue(*it));
    }
    d.synchronize();
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "Orvo settings have been saved successfully.");
  } else if (obj) {
    // Readable but not the expected record: the stored lists stay as they are.
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error",
                             "The server's settings could not be read. Nothing was changed.");
  }
}

void SettingsViewController::getLogoFunc() {
  ScreenRequest r;
  r.operation = "InsertLogo";
  r.requestMethod = "-[SettingsViewController getLogoFunc:]";
  r.answerMethod = "-[SettingsViewController InsertLogoResponseData:]";
  r.prepare = [this](ScreenRequest& req) {
    req.url = "http://" + fieldText(serverIPTextField_, serverIP_) + ":" + fieldText(portTextField_, serverPort_) +
              "/Webservice/OrvoMobileWebService.asmx";
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { InsertLogoResponseData(a); });
}

void SettingsViewController::InsertLogoResponseData(const RequestAnswer& answer) {
  const auto& obj = answer.requireObject();
  if (!obj) return;  // not JSON: the reading's "JSON Error" alert has said so
  if (foundation::textForKey(*obj, "Response") == "True") {
    auto& d = UserDefaults::standard();
    d.setString(defaults::companyLogo, foundation::textForKey(*obj, "Id"));
    d.synchronize();
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, "Company Logo has been saved successfully.");
  } else {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, foundation::textForKey(*obj, "Error"));
  }
}

}  // namespace orvo
