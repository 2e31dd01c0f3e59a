#include "app/payments/CcManualAndCameraTableViewController.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenSupport.h"
#include "app/core/Util.h"
#include "app/payments/AESExtention.h"
#include "app/payments/PaymentNames.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Animation.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

namespace {

constexpr int kYearRows = 10;
constexpr const char* kNameCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLKMNOPQRSTUVWXYZ0123456789 -_'.";

int currentYear() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  return utc.tm_year + 1900;
}

std::string withoutBlanks(std::string s) {
  std::erase(s, ' ');
  return s;
}

bool digitsOrBackspace(const std::string& s) {
  for (char c : s)
    if (!(c >= '0' && c <= '9') && c != '\b') return false;
  return true;
}

}  // namespace

CcManualAndCameraTableViewController::~CcManualAndCameraTableViewController() {
  for (auto& f : fields_) {
    std::string t = f->text();
    wipe(t);
    f->setText("");
  }
}

void CcManualAndCameraTableViewController::loadView() {
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Grouped);
  table_->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  setView(table_);
}

bool CcManualAndCameraTableViewController::zipOn() const { return orvoDelegate_->settings().ccZipcodeFlag; }

void CcManualAndCameraTableViewController::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(ui::localizedString(isCcCameraMode ? "Scan Your Credit Card" : "Add CC Manually"));
  std::weak_ptr<CcManualAndCameraTableViewController> weak = self<CcManualAndCameraTableViewController>();
  auto call = [weak](void (CcManualAndCameraTableViewController::*action)()) {
    return [weak, action] { if (auto s = weak.lock()) ((*s).*action)(); };
  };
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Close"), ui::BarButtonItemStyle::Plain,
      [f = call(&CcManualAndCameraTableViewController::closeFunc)](ui::BarButtonItem&) { f(); }));
  if (CardIOUtilities::canReadCardWithCamera())
    navigationItem().setRightBarButtonItem(
        barImageButton("camera2-70.png", "Camera", call(&CcManualAndCameraTableViewController::OpenCameraCcView)));
  accessoryToolbar_ = std::make_shared<ui::Toolbar>();
  accessoryToolbar_->setFrame({10, 0, 320, 44});
  accessoryToolbar_->setItems(
      {ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
       ui::BarButtonItem::withTitle(ui::localizedString("Done"), ui::BarButtonItemStyle::Done,
                                    [f = call(&CcManualAndCameraTableViewController::btn_next_tf)](ui::BarButtonItem&) {
                                      f();
                                    })});

  // The five fields, in section order.
  struct FieldLayout { const char* placeholder; int tag; ui::KeyboardType keyboard; };
  const FieldLayout fields[] = {{"Enter a new credit card #", 100, ui::KeyboardType::DecimalPad},
                        {"Select expiration date", 0, ui::KeyboardType::Default},
                        {"Enter cardholder name", 101, ui::KeyboardType::ASCIICapable},
                        {"Enter CVV #", 102, ui::KeyboardType::DecimalPad},
                        {"Enter Billing Zipcode", 103, ui::KeyboardType::DecimalPad}};
  for (const FieldLayout& s : fields) {
    auto f = ui::makeView<ui::TextField>(ui::Rect{0, 0, 260, 21});
    f->setPlaceholder(ui::localizedString(s.placeholder));
    f->setInputAccessoryView(accessoryToolbar_);
    if (s.tag) {
      f->setTag(s.tag);
      f->setKeyboardType(s.keyboard);
      f->setClearButtonMode(ui::TextFieldViewMode::WhileEditing);
      f->setDelegate(self<ui::TextFieldDelegate>());
    }
    fields_.push_back(f);
  }
  // The expiry takes no keystrokes (its wheels write it); the delegate refuses them.
  tf_expDate().setDelegate(self<ui::TextFieldDelegate>());
  tf_name().setAutocapitalizationType(ui::AutocapitalizationType::AllCharacters);
  tf_name().setAutocorrection(false);
  tf_name().addTarget(this, [f = call(&CcManualAndCameraTableViewController::checkInvalidCharactersForCCname)](
                                ui::Control&) { f(); },
                      ui::EditingChanged);
  expDateListArray_ = {{"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"},
                       getCCyearArray(kYearRows)};
  picker_ = std::make_shared<ui::PickerView>();
  picker_->setDataSource(self<ui::PickerViewDataSource>());
  picker_->setDelegate(self<ui::PickerViewDelegate>());
  tf_expDate().setInputView(picker_);

  header_ = ui::makeView<ui::ImageView>(ui::Rect{0, 0, ui::Window::kScreenWidth, 60});
  header_->setContentMode(ui::ContentMode::ScaleAspectFit);
  cardImageView_ = ui::makeView<ui::ImageView>(ui::Rect{0, 189, ui::Window::kScreenWidth, 190});
  cardImageView_->setContentMode(ui::ContentMode::ScaleAspectFit);
  cardView_ = ui::makeView<ui::View>(ui::Rect{0, 64, ui::Window::kScreenWidth, ui::Window::kScreenHeight - 64});
  cardView_->setBackgroundColor(ui::Color::black());
  cardIOView_ = ui::makeView<CardIOView>(ui::Rect{0, 0, ui::Window::kScreenWidth, 380});
  cardView_->addSubview(cardIOView_);
  btnCcManually_ = ui::Button::make(ui::localizedString("Enter Manually"), {20, 400, 280, 44});
  btnCcManually_->addTarget(this, [f = call(&CcManualAndCameraTableViewController::btn_CcManually)](ui::Control&) { f(); },
                            ui::TouchUpInside);
  cardView_->addSubview(btnCcManually_);

  // The form's Next control, below the fields.
  auto footer = ui::makeView<ui::View>(ui::Rect{0, 0, ui::Window::kScreenWidth, 60});
  btnNext_ = ui::Button::make(ui::localizedString("Next"), {20, 10, 280, 40});
  btnNext_->addTarget(this, [f = call(&CcManualAndCameraTableViewController::btn_next)](ui::Control&) { f(); },
                      ui::TouchUpInside);
  footer->addSubview(btnNext_);
  table_->setTableFooterView(footer);

  table_->registerCellFactory("Cell", [] { return std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "Cell"); });
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
}

void CcManualAndCameraTableViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  if (CardIOUtilities::canReadCardWithCamera()) CardIOUtilities::preloadCardIO();
  if (isCcCameraMode) OpenCameraCcView();
  else InitManualCcTableHeader();
}

void CcManualAndCameraTableViewController::viewDidDisappear(bool animated) {
  ui::ViewController::viewDidDisappear(animated);
  // Closed: nothing typed stays in the fields.
  if (!presentingViewController() && !navigationController()) resetTextFieldText();
}

void CcManualAndCameraTableViewController::setCClogo(int digit) {
  switch (digit) {
    case 3: headerImage_ = "icon_cc_amex.png"; break;
    case 4: headerImage_ = "icon_cc_visa.png"; break;
    case 5: headerImage_ = "icon_cc_master.png"; break;
    case 6: headerImage_ = "icon_cc_discover.png"; break;
    default: headerImage_ = "icon_cc_list.png";
  }
  header_->setImage(ui::Image::named(headerImage_));
}

void CcManualAndCameraTableViewController::InitManualCcTableHeader() {
  setCClogo(-1);
  table_->setTableHeaderView(header_);
}

void CcManualAndCameraTableViewController::OpenCameraCcView() {
  setTitle(ui::localizedString("Scan Your Credit Card"));
  resetTextFieldText();
  dismissKeyboard();
  ui::Rect r = cardImageView_->frame();
  cardImageView_->setFrame({0, 189, r.size.width, r.size.height});
  cardImageView_->setImage(nullptr);
  ui::View* host = navigationController() ? &navigationController()->view() : &view();
  if (cardView_->superview() != host) {
    cardIOView_->setDelegate(self<CardIOViewDelegate>());
    cardIOView_->scanExpiry = true;
    cardIOView_->useCardIOLogo = true;
    host->addSubview(cardView_);
    cardIOView_->startReading();
  }
}

void CcManualAndCameraTableViewController::btn_CcManually() {
  setTitle(ui::localizedString("Add CC Manually"));
  InitManualCcTableHeader();
  cardView_->removeFromSuperview();
}

void CcManualAndCameraTableViewController::closeFunc() {
  dismissKeyboard();
  if (auto* nav = navigationController()) nav->dismissViewControllerAnimated(true);
  else dismissViewControllerAnimated(true);
}

ui::TextField* CcManualAndCameraTableViewController::focused() {
  for (auto& f : fields_)
    if (f->isFirstResponder()) return f.get();
  return nullptr;
}

void CcManualAndCameraTableViewController::btn_next_tf() {
  ui::TextField* f = focused();
  if (!f) return;
  f->resignFirstResponder();
  if (f == &tf_ccnum()) tf_expDate().becomeFirstResponder();
  else if (f == &tf_expDate()) tf_name().becomeFirstResponder();
  else if (f == &tf_name()) tf_cvv().becomeFirstResponder();
  else if (f == &tf_cvv() && zipOn()) tf_zipcode().becomeFirstResponder();
}

void CcManualAndCameraTableViewController::dismissKeyboard() {
  for (auto& f : fields_)
    if (f->isFirstResponder()) f->resignFirstResponder();
}

void CcManualAndCameraTableViewController::resetTextFieldText() {
  for (auto& f : fields_) f->setText("");
}

bool CcManualAndCameraTableViewController::isAMEX(const std::string& text) { return !text.empty() && text[0] == '3'; }

void CcManualAndCameraTableViewController::alert(const std::string& message,
                                                  void (CcManualAndCameraTableViewController::*then)()) {
  std::weak_ptr<CcManualAndCameraTableViewController> weak = self<CcManualAndCameraTableViewController>();
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, message, [weak, then] {
    if (auto s = weak.lock()) ((*s).*then)();
  }, nullptr);
}

bool CcManualAndCameraTableViewController::checkCCdata() {
  // An expiry not in the wheels' form ("MM/YYYY" and a line feed) counts as none: the
  // field is emptied and takes the focus, so the wheels write it again.
  if (!tf_expDate().text().empty() && !isExpiryText(tf_expDate().text())) tf_expDate().setText("");
  for (int i = 0; i < (zipOn() ? 5 : 4); ++i)
    if (fields_[size_t(i)]->text().empty()) {
      fields_[size_t(i)]->becomeFirstResponder();
      return false;
    }
  if (!Util::isValidCVV(tf_cvv().text(), isAMEX(tf_ccnum().text()) ? "AMEX" : "")) {
    alert("Please enter a valid CVV #.", &CcManualAndCameraTableViewController::resetCVV);
    return false;
  }
  return true;
}

bool CcManualAndCameraTableViewController::isExpiryText(const std::string& text) {
  if (text.size() != 8 || text[2] != '/' || text[7] != '\n') return false;
  for (size_t i : {0, 1, 3, 4, 5, 6})
    if (text[i] < '0' || text[i] > '9') return false;
  const int month = (text[0] - '0') * 10 + (text[1] - '0');
  return month >= 1 && month <= 12;
}

bool CcManualAndCameraTableViewController::setCCformat(ui::TextField& field, ui::Range range,
                                                       const std::string& replacement) {
  std::string text = field.text();
  const std::string clean = withoutBlanks(replacement);
  if (!digitsOrBackspace(clean)) return false;
  const size_t at = std::min(range.location, text.size());
  const size_t len = std::min(range.length, text.size() - at);
  std::string digits = withoutBlanks(text.replace(at, len, clean));
  if (digits.size() == 1) setCClogo(digits[0] - '0');
  const bool amex = isAMEX(digits);
  std::string grouped;
  int g = 0;
  while (!digits.empty()) {
    size_t n = 4;
    if (amex) {
      if (g == 1) n = 6;
      else if (g == 2) n = 5;
      ++g;
    }
    const std::string chunk = digits.substr(0, n);
    grouped += chunk;
    if (chunk.size() == n) grouped += ' ';
    digits.erase(0, chunk.size());
  }
  while (!grouped.empty() && !digitsOrBackspace(grouped.substr(grouped.size() - 1))) grouped.pop_back();
  if (grouped.size() >= (amex ? 18u : 20u)) {
    btn_next_tf();
    return false;
  }
  field.setText(grouped);
  if (grouped.size() >= (amex ? 17u : 19u)) btn_next_tf();
  return false;
}

std::vector<std::string> CcManualAndCameraTableViewController::getCCyearArray(int count) {
  std::vector<std::string> years;
  const int first = currentYear();
  for (int i = 0; i < count; ++i) years.push_back(std::to_string(first + i));
  return years;
}

int CcManualAndCameraTableViewController::getIdxOfCCyear(int year) {
  const int d = year - currentYear();
  return d < 1 ? 0 : d;
}

void CcManualAndCameraTableViewController::checkInvalidCharactersForCCname() {
  const std::string allowed = kNameCharacters;
  for (char c : tf_name().text())
    if (allowed.find(c) == std::string::npos) {
      alert("The cardholder name contains invalid characters.", &CcManualAndCameraTableViewController::yesCCname);
      return;
    }
}

void CcManualAndCameraTableViewController::yesCCname() {
  // The last character, all of its UTF-8 bytes: never half of one.
  std::string t = tf_name().text();
  while (!t.empty() && (static_cast<unsigned char>(t.back()) & 0xC0) == 0x80) t.pop_back();
  if (!t.empty()) t.pop_back();
  tf_name().setText(t);
}

void CcManualAndCameraTableViewController::yesCCnum() { tf_ccnum().becomeFirstResponder(); }

void CcManualAndCameraTableViewController::resetCVV() {
  tf_cvv().setText("");
  tf_cvv().becomeFirstResponder();
}

void CcManualAndCameraTableViewController::btn_next() {
  dismissKeyboard();
  if (!checkCCdata()) return;
  // A name that came in without a keystroke (pasted, or changed since) is checked again:
  // it goes to the server as it is.
  const std::string allowed = kNameCharacters;
  for (char c : tf_name().text())
    if (allowed.find(c) == std::string::npos) {
      alert("The cardholder name contains invalid characters.", &CcManualAndCameraTableViewController::yesCCname);
      return;
    }
  std::string number = withoutBlanks(tf_ccnum().text());
  if (number.size() != (isAMEX(number) ? 15u : 16u)) {
    wipe(number);
    alert("Please enter a valid credit card #.", &CcManualAndCameraTableViewController::yesCCnum);
    return;
  }
  nlohmann::json card = {{"track1", ""},
                         {"track2", ""},
                         {"lastCardName", tf_name().text()},
                         {"lastCardNumber", number},
                         {"lastExpDate", tf_expDate().text()},
                         {"cvv", tf_cvv().text()},
                         {"zipcode", zipOn() ? tf_zipcode().text() : std::string()}};
  wipe(number);
  foundation::NotificationCenter::defaultCenter().post(kSetCCdata, nullptr, std::move(card));
  resetTextFieldText();
  if (auto* nav = navigationController()) nav->dismissViewControllerAnimated(true);
  else dismissViewControllerAnimated(true);
}

int CcManualAndCameraTableViewController::numberOfSectionsInTableView(ui::TableView&) { return zipOn() ? 5 : 4; }

std::optional<std::string> CcManualAndCameraTableViewController::titleForHeaderInSection(ui::TableView&, int section) {
  static const char* titles[] = {"Credit Card #", "Expiration Date", "Cardholder Name", "Card Verification # (CVV)",
                                 "Billing Zipcode"};
  if (section < 0 || section > 4) return std::nullopt;
  return ui::localizedString(titles[section]);
}

std::shared_ptr<ui::TableViewCell> CcManualAndCameraTableViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                              ui::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "Cell");
  cell->setSelectionStyle(ui::SelectionStyle::None);
  if (ip.section >= 0 && ip.section < int(fields_.size())) cell->setAccessoryView(fields_[size_t(ip.section)]);
  return cell;
}

int CcManualAndCameraTableViewController::numberOfRowsInComponent(ui::PickerView&, int component) {
  return component >= 0 && component < 2 ? int(expDateListArray_[size_t(component)].size()) : 0;
}

std::string CcManualAndCameraTableViewController::titleForRow(ui::PickerView&, int row, int component) {
  if (component < 0 || component > 1 || row < 0 || row >= int(expDateListArray_[size_t(component)].size())) return {};
  return expDateListArray_[size_t(component)][size_t(row)];
}

void CcManualAndCameraTableViewController::didSelectRow(ui::PickerView& picker, int, int) {
  const int m = picker.selectedRowInComponent(0), y = picker.selectedRowInComponent(1);
  tf_expDate().setText(titleForRow(picker, m, 0) + "/" + titleForRow(picker, y, 1) + "\n");
}

bool CcManualAndCameraTableViewController::shouldChangeCharactersInRange(ui::TextField& field, ui::Range range,
                                                                         const std::string& text) {
  if (field.tag() == 100) return setCCformat(field, range, text);
  if (&field == &tf_expDate()) return false;
  return true;
}

void CcManualAndCameraTableViewController::didScanCard(CardIOView&, const std::optional<CardIOCreditCardInfo>& info) {
  if (info) {
    tf_ccnum().setText(info->cardNumber);
    setCCformat(tf_ccnum(), {0, info->cardNumber.size()}, info->cardNumber);
    if (info->expiryMonth != 0) {
      char text[32];
      std::snprintf(text, sizeof text, "%02u/%02u\n", info->expiryMonth, info->expiryYear);
      tf_expDate().setText(text);
      picker_->selectRow(int(info->expiryMonth) - 1, 0, true);
      // A year beyond the wheel's last row selects that row; the text keeps the year read.
      picker_->selectRow(std::min(getIdxOfCCyear(int(info->expiryYear)), kYearRows - 1), 1, true);
    }
    table_->setTableHeaderView(cardImageView_);
    cardImageView_->setImage(info->cardImage);
    ui::Rect r = cardImageView_->frame();
    cardImageView_->setFrame({r.origin.x, 65, r.size.width, r.size.height});
  }
  table_->setContentOffset({0, 0}, true);
  cardView_->removeFromSuperview();
}

}  // namespace orvo
