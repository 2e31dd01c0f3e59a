#include "app/customers/ManualViewController.h"

#include <chrono>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/customers/NewCustomerSupport.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

namespace {

using F = CustomerField;

constexpr const char* kHeaders[] = {"Customer Code", "Name", "Address", "City",   "Zip",  "State",    "Country",
                                    "Phone",         "Fax",  "E-mail",  "Contact", "Memo", "Sales Rep"};
constexpr int kSectionCount = 13;

// Sections whose row labels are drawn in red (they hold a required row).
bool redLabels(int section) { return section <= 2 || section == 7; }

// The picker that stands in for a field's keyboard (0: none).
int pickerTagOf(F f) {
  switch (f) {
    case F::State: return ManualViewController::kStatePicker;
    case F::Country: return ManualViewController::kCountryPicker;
    case F::SalesRep1: return ManualViewController::kSalesRepPicker;
    default: return 0;
  }
}

ui::KeyboardType keyboardOf(F f) {
  switch (f) {
    case F::Zip: return ui::KeyboardType::NumberPad;
    case F::Phone1: case F::Phone2: case F::Fax1: case F::Fax2: return ui::KeyboardType::PhonePad;
    case F::Email1: case F::Email2: case F::Contact1: case F::Contact2: return ui::KeyboardType::EmailAddress;
    default: return ui::KeyboardType::Default;
  }
}

}  // namespace

const std::vector<ManualViewController::Row>& ManualViewController::rowsOf(int section) {
  static const std::vector<Row> kRows[kSectionCount] = {
      {{F::Code, "*", "Enter Customer Code"}},
      {{F::Name, "*", "Enter Name"}},
      {{F::Address1, "*", "Enter Address 1"}, {F::Address2, "", "Enter Address 2"}},
      {{F::City, "", "Enter City"}},
      {{F::Zip, "", "Enter Zip Code"}},
      {{F::State, "", "Select State"}},
      {{F::Country, "", "Select Country"}},
      {{F::Phone1, "*", "Enter Phone Number 1"}, {F::Phone2, "", "Enter Phone Number 2"}},
      {{F::Fax1, "", "Enter Fax Number 1"}, {F::Fax2, "", "Enter Fax Number 2"}},
      {{F::Email1, "", "Enter E-mail Address 1"}, {F::Email2, "", "Enter E-mail Address 2"}},
      {{F::Contact1, "", "Enter Contact 1"}, {F::Contact2, "", "Enter Contact 2"}},
      {{F::Memo, "", "Enter Memo"}},
      {{F::SalesRep1, "", "Select Sales Rep"}},
  };
  static const std::vector<Row> kNone;
  return section >= 0 && section < kSectionCount ? kRows[section] : kNone;
}

std::optional<std::string>& ManualViewController::property(CustomerField f) {
  std::optional<std::string>* all[kCustomerFieldCount] = {
      &customerCode, &name,   &address1, &address2, &city,     &zip,      &state, &country,  &phone1,
      &phone2,       &fax1,   &fax2,     &email1,   &email2,   &contact1, &contact2, &memo, &salesRep1};
  return *all[int(f)];
}

void ManualViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Grouped);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

void ManualViewController::viewDidLoad() {
  if (title().empty()) setTitle("Manual");
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  logoutBarButtonItem_ = logoutBarButton(*this);
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  navigationItem().setLeftBarButtonItem(backBarButton([this] { backFunc(); }));
  for (int i = 0; i < kCustomerFieldCount; ++i)
    if (!property(F(i))) property(F(i)) = F(i) == F::Country ? "USA" : "";
  if (!accessoryToolbar_) {
    accessoryToolbar_ = ui::makeView<ui::Toolbar>({10, 0, 320, 44});
    accessoryToolbar_->setItems(
        {ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
         ui::BarButtonItem::withTitle(ui::localizedString("Done"), ui::BarButtonItemStyle::Done,
                                      [this](ui::BarButtonItem&) { dismissKeyboard(); })});
  }
  // The save control, above the first section.
  saveButton_ = ui::Button::make(ui::localizedString("Save"), {20, 8, 280, 36});
  saveButton_->addTarget(this, [this](ui::Control&) { btn_saveNewCustomer(); }, ui::TouchUpInside);
  auto header = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, 48});
  header->addSubview(saveButton_);
  table_->setTableHeaderView(header);
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
}

void ManualViewController::viewWillAppear(bool) {
  if (orvoDelegate_->settings().duplicateSoFlag)
    if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::purple());
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
}

// ----- Table

int ManualViewController::numberOfSectionsInTableView(ui::TableView&) {
  return orvoDelegate_->settings().isNewCustomerSalesRepOption ? 13 : 12;
}

int ManualViewController::numberOfRowsInSection(ui::TableView&, int section) { return int(rowsOf(section).size()); }

std::optional<std::string> ManualViewController::titleForHeaderInSection(ui::TableView&, int section) {
  if (section < 0 || section >= kSectionCount) return std::nullopt;
  return std::string(kHeaders[section]);
}

ui::PickerView* ManualViewController::picker(int tag) {
  auto& p = tag == kStatePicker ? statePicker_ : tag == kCountryPicker ? countryPicker_ : salesRepPicker_;
  if (!p) {
    p = std::make_shared<ui::PickerView>();
    p->setFrame({});
    p->setTag(tag);
    p->setDataSource(self<ui::PickerViewDataSource>());
    p->setDelegate(self<ui::PickerViewDelegate>());
  }
  return p.get();
}

ui::TextField& ManualViewController::textField(CustomerField f) {
  auto& field = fields_[size_t(f)];
  if (field) return *field;
  const Row* row = nullptr;
  for (int s = 0; s < kSectionCount && !row; ++s)
    for (const auto& r : rowsOf(s))
      if (r.field == f) row = &r;
  field = ui::makeView<ui::TextField>({0, 0, 260, 21});
  field->setPlaceholder(ui::localizedString(row->placeholder));
  field->setText(property(f).value_or(""));
  field->setDelegate(self<ui::TextFieldDelegate>());
  field->setInputAccessoryView(accessoryToolbar_);
  field->setBorderStyle(ui::BorderStyle::None);
  if (int tag = pickerTagOf(f)) {
    picker(tag);
    field->setInputView(tag == kStatePicker ? statePicker_ : tag == kCountryPicker ? countryPicker_ : salesRepPicker_);
    return *field;
  }
  field->setKeyboardType(keyboardOf(f));
  field->setClearButtonMode(ui::TextFieldViewMode::WhileEditing);
  if (f == F::Code || f == F::Name) field->setAutocapitalizationType(ui::AutocapitalizationType::AllCharacters);
  if (f == F::Code) field->setTag(kCodeFieldTag);
  return *field;
}

std::shared_ptr<ui::TableViewCell> ManualViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) {
    cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "Cell");
    cell->setAccessoryType(ui::AccessoryType::None);
    cell->setSelectionStyle(ui::SelectionStyle::None);
  }
  const auto& rows = rowsOf(ip.section);
  if (ip.row < 0 || ip.row >= int(rows.size())) return cell;
  const Row& row = rows[size_t(ip.row)];
  cell->textLabel().setText(row.label);
  if (redLabels(ip.section)) cell->textLabel().setTextColor(ui::Color::red());
  textField(row.field);
  cell->setAccessoryView(fields_[size_t(row.field)]);
  return cell;
}

// ----- Fields

bool ManualViewController::shouldChangeCharactersInRange(ui::TextField& f, ui::Range range,
                                                         const std::string& replacement) {
  if (f.tag() != kCodeFieldTag) return true;
  return upperCaseCodeEdit(f, range, replacement);
}

bool ManualViewController::textFieldShouldReturn(ui::TextField& f) {
  checkIllegalCharactersForCustomerCode();
  f.resignFirstResponder();
  return true;
}

int ManualViewController::numberOfRowsInComponent(ui::PickerView& p, int) {
  const GlobalSO& so = orvoDelegate_->globalSO();
  switch (p.tag()) {
    case kStatePicker: return int(so.stateArray.size());
    case kSalesRepPicker: return int(so.salesRepArray.size());
    case kCountryPicker: return int(so.countryArray.size());
    default: return 0;
  }
}

std::string ManualViewController::titleForRow(ui::PickerView& p, int row, int) {
  const GlobalSO& so = orvoDelegate_->globalSO();
  const nlohmann::json* list = p.tag() == kStatePicker      ? &so.stateArray
                               : p.tag() == kSalesRepPicker ? &so.salesRepArray
                               : p.tag() == kCountryPicker  ? &so.countryArray
                                                            : nullptr;
  if (!list || row < 0 || row >= int(list->size())) return {};
  return foundation::textValue((*list)[size_t(row)]);
}

void ManualViewController::didSelectRow(ui::PickerView& p, int row, int component) {
  const std::string entry = titleForRow(p, row, component);
  switch (p.tag()) {
    case kStatePicker: textField(F::State).setText(entry); break;
    case kSalesRepPicker: textField(F::SalesRep1).setText(entry); break;
    case kCountryPicker: textField(F::Country).setText(entry); break;
    default: break;
  }
}

void ManualViewController::trimAllTextField() {
  for (int i = 0; i < kCustomerFieldCount; ++i) {
    ui::TextField& f = textField(F(i));
    f.setText(trimBlanks(f.text()));
  }
}

void ManualViewController::dismissKeyboard() {
  trimAllTextField();
  ui::TextField& code = textField(F::Code);
  if (code.isFirstResponder()) {
    checkIllegalCharactersForCustomerCode();
    code.resignFirstResponder();
  }
  for (int i = 1; i < kCustomerFieldCount; ++i)
    if (textField(F(i)).isFirstResponder()) textField(F(i)).resignFirstResponder();
}

bool ManualViewController::checkIllegalCharactersForCustomerCode() {
  auto problem = customerCodeProblem(textField(F::Code).text());
  if (!problem) return true;
  showFieldAlert(kTagCode, *problem);
  return false;
}

void ManualViewController::showFieldAlert(int tag, const std::string& message) {
  std::weak_ptr<ManualViewController> weak = self<ManualViewController>();
  AlertClass::AlertView(*this, tag, 1, kAppAlertTitle, message,
                        [weak, tag] {
                          if (auto s = weak.lock()) s->yesAlertEnterText(tag);
                        },
                        nullptr);
}

void ManualViewController::yesAlertEnterText(int tag) {
  F f;
  double offset = 0;
  switch (tag) {
    case kTagCode: f = F::Code; break;
    case kTagName: f = F::Name; break;
    case kTagAddress1: f = F::Address1; break;
    case kTagState: f = F::State; offset = 550; break;
    case kTagPhone1: f = F::Phone1; offset = 550; break;
    default: return;
  }
  table_->setContentOffset({0, offset}, true);
  std::weak_ptr<ManualViewController> weak = self<ManualViewController>();
  foundation::MainQueue::postAfter(std::chrono::milliseconds(500), [weak, f] {
    if (auto s = weak.lock()) s->selectRequiredField(s->textField(f));
  });
}

void ManualViewController::selectRequiredField(ui::TextField& field) { field.becomeFirstResponder(); }

void ManualViewController::backFunc() {
  textField(F::Code).setText("");
  dismissKeyboard();
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
