#include "app/orders/OrderInfoViewController.h"

#include <stdexcept>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/OrderSaveItems.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

constexpr const char* kDateFormat = "MM/dd/yyyy";
const ui::Color kPlaceholderGray = ui::Color::white(0.67);

// A text value of the header answer; a missing or null key stops the filling.
std::string need(const json& row, const char* key) {
  auto it = row.find(key);
  if (it == row.end() || it->is_null())
    throw std::invalid_argument(std::string("The header answer has no value for \"") + key + "\".");
  return foundation::textValue(*it);
}

}  // namespace

OrderInfoViewController::~OrderInfoViewController() {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
}

void OrderInfoViewController::loadView() {
  auto root = std::make_shared<ui::View>();
  root->setFrame({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  root->setBackgroundColor(ui::Color::whiteColor());
  // Save sits above the table, where the keyboard and the wheels never cover it.
  table_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  table_->setFrame({0, 48, ui::Window::kScreenWidth, ui::Window::kScreenHeight - 64 - 48});
  root->addSubview(table_);
  btn_Save_ = ui::Button::make("Save", {20, 2, 280, 44});
  btn_Save_->setAccessibilityLabel("Save");
  root->addSubview(btn_Save_);
  setView(root);
}

void OrderInfoViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  listContent_ = json::array();
  soapErrorFlag_ = false;
  sOT_ = sT_ = sPC_ = sSV_ = sSR_ = 0;
  setTitle(ui::localizedString("Order Information"));
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  keyboardAvoidance_ = std::make_unique<ui::KeyboardAvoidance>(table_);
  // Save appears only once the header has been loaded: before that the fields it reads
  // do not hold the order's values.
  btn_Save_->setHidden(true);
  btn_Save_->addTarget(this, [this](ui::Control&) { btn_saveFunc(); }, ui::TouchUpInside);
  navigationItem().setRightBarButtonItem(barImageButton("unlock.png", "Logout", [this] { logoutButtonClicked(); }));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  mypickerToolbar_ = std::make_shared<ui::Toolbar>();
  mypickerToolbar_->setItems({ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
                              ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done,
                                                                [this](ui::BarButtonItem&) { allDismissKeyboard(); })},
                             true);
  std::weak_ptr<OrderInfoViewController> weak = self<OrderInfoViewController>();
  foundation::MainQueue::postAfter(100ms, [weak] {
    auto s = weak.lock();
    if (!s) return;
    if (s->orvoDelegate_->globalSO().orderNumber.empty())
      s->getOrderInfo();
    else
      s->getBeforeOrderInfo();
  });
}

void OrderInfoViewController::viewWillAppear(bool) {
  const Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();
  if (auto* nav = navigationController())
    Util::setNavTitleBgColor(*nav, settings.duplicateSoFlag ? ui::Color::purple() : ui::Color::black());
  auto& d = foundation::UserDefaults::standard();
  if (d.boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  printSoWithSignFlag_ = d.stringForKey(defaults::printSoWithSignStatus).value_or("") == "Y";
  soStateMode_ = d.boolForKey(defaults::SoStatus);
  orderProcessFlag_ = d.boolForKey(defaults::OrderProcessingFlag);
  if (so.pDupNum.empty()) {
    if (auto stored = d.stringForKey(defaults::pDupNum); stored && !stored->empty()) so.pDupNum = *stored;
  } else {
    d.setString(defaults::pDupNum, so.pDupNum);
    d.synchronize();
  }
  if (printSoWithSignFlag_) {
    std::weak_ptr<OrderInfoViewController> weak = self<OrderInfoViewController>();
    foundation::NotificationCenter::defaultCenter().addUniqueObserver(
        &observerToken_, "getSignatureForSo", nullptr, [weak](const foundation::Notification& n) {
          if (auto s = weak.lock()) s->successSignatureForSo(n.userInfo);
        });
  }
}

// ----- Rows

void OrderInfoViewController::setOrderInfoItemsArray() {
  if (orderInfoItems_) return;
  const Settings& settings = orvoDelegate_->settings();
  std::vector<std::string> labels = {"Email:", "Phone#:", "PO#:", "Order Type:", "Cancel Date:",
                                     "Terms:", "Pay Method:", "Ship via:", "Ship Date:"};
  if (soStateMode_) labels.push_back("   Note/Hold:");
  if (settings.isCustomerPriorityOption) labels.push_back("Priority:");
  labels.push_back("Memo:");
  if (settings.isNewCustomerSalesRepOption) labels.push_back("Sales Rep:");
  orderInfoItems_ = labels;
  orderInfoItemsArray_ = std::move(labels);
}

int OrderInfoViewController::ReturnIndexRow(int row) const {
  if (!soStateMode_ && row >= 9) ++row;
  if (!orvoDelegate_->settings().isCustomerPriorityOption && row >= 10) ++row;
  return row;
}

int OrderInfoViewController::numberOfRowsInSection(ui::TableView&, int) {
  return orderInfoItems_ ? int(orderInfoItemsArray_.size()) : 0;
}

std::optional<double> OrderInfoViewController::heightForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  return ReturnIndexRow(ip.row) == 11 ? 80.0 : 44.0;
}

std::shared_ptr<ui::TableViewCell> OrderInfoViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                  ui::IndexPath ip) {
  auto cell = table.dequeueReusableCellWithIdentifier("Cell");
  if (!cell) {
    cell = std::make_shared<ui::TableViewCell>(ui::CellStyle::Default, "Cell");
    cell->setAccessoryType(ui::AccessoryType::None);
    cell->setSelectionStyle(ui::SelectionStyle::None);
    cell->textLabel().setFont(ui::Font::systemFont(15));
    cell->textLabel().setAdjustsFontSizeToFitWidth(true);
  }
  const int row = ReturnIndexRow(ip.row);
  cell->textLabel().setTextAlignment(row == 9 ? ui::TextAlignment::Left : ui::TextAlignment::Right);
  std::shared_ptr<ui::View> control;
  switch (row) {
    case 0: control = txt_Email_; break;
    case 1: control = txt_Phone1_; break;
    case 2: control = txt_CustomerPo_; break;
    case 3: control = txt_OrderType_; break;
    case 4: control = txt_CancelDate_; break;
    case 5: control = txt_Terms_; break;
    case 6: control = txt_PayMethod_; break;
    case 7: control = txt_ShipVia_; break;
    case 8: control = txt_ShipDate_; break;
    case 9: control = soStatusSwitch_; break;
    case 10: control = txt_CustomerPriority_; break;
    case 11: control = txt_Memo_; break;
    case 12: control = txt_SalesRep_; break;
    default: break;
  }
  cell->setAccessoryView(control);
  if (size_t(ip.row) < orderInfoItemsArray_.size()) cell->textLabel().setText(orderInfoItemsArray_[size_t(ip.row)]);
  return cell;
}

// Every control is made once, when the header is first applied, with the header's values:
// the save reads them whether or not their rows have been on screen.
void OrderInfoViewController::makeControls() {
  if (txt_Email_) return;
  const GlobalSO& so = orvoDelegate_->globalSO();
  txt_Email_ = makeField(kTagEmail, "Enter Email Address", so.orderEmail1);
  txt_Email_->setKeyboardType(ui::KeyboardType::EmailAddress);
  txt_Phone1_ = makeField(kTagPhone, "Enter Phone#", phone1_);
  txt_Phone1_->setKeyboardType(ui::KeyboardType::PhonePad);
  txt_CustomerPo_ = makeField(kTagCustomerPo, "Enter Customer PO#", so.orderCustomerPo);
  ordertypePicker_ = makePicker(kTagOrderType, sOT_);
  txt_OrderType_ = makeField(kTagOrderType, "Select Order Type", orderType_);
  cancelDatePicker_ = makeDatePicker(kTagCancelDate, cancelDate_);
  txt_CancelDate_ = makeField(kTagCancelDate, "Select Cancel Date", cancelDate_);
  termsPicker_ = makePicker(kTagTerms, sT_);
  txt_Terms_ = makeField(kTagTerms, "Select Terms", term_);
  paymethodPicker_ = makePicker(kTagPayMethod, sPC_);
  txt_PayMethod_ = makeField(kTagPayMethod, "Select Pay Method", paymentcode_);
  shipviaPicker_ = makePicker(kTagShipVia, sSV_);
  txt_ShipVia_ = makeField(kTagShipVia, "Select Ship via", shipvia_);
  shipDatePicker_ = makeDatePicker(kTagShipDate, shipDate_);
  txt_ShipDate_ = makeField(kTagShipDate, "Select Ship Date", shipDate_);
  customerPriorityPicker_ = makePicker(kTagCustomerPriority, sCP_);
  txt_CustomerPriority_ = makeField(kTagCustomerPriority, "Select Customer Priority", customerPriorityCode_);
  salesRepPicker_ = makePicker(kTagSalesRep, sSR_);
  txt_SalesRep_ = makeField(kTagSalesRep, "Select Sales Rep", salesRepCode_);
  txt_OrderType_->setInputView(ordertypePicker_);
  txt_CancelDate_->setInputView(cancelDatePicker_);
  txt_Terms_->setInputView(termsPicker_);
  txt_PayMethod_->setInputView(paymethodPicker_);
  txt_ShipVia_->setInputView(shipviaPicker_);
  txt_ShipDate_->setInputView(shipDatePicker_);
  txt_CustomerPriority_->setInputView(customerPriorityPicker_);
  txt_SalesRep_->setInputView(salesRepPicker_);
  for (auto* f : {&txt_OrderType_, &txt_CancelDate_, &txt_Terms_, &txt_PayMethod_, &txt_ShipVia_, &txt_ShipDate_,
                  &txt_CustomerPriority_, &txt_SalesRep_})
    (*f)->setInputAccessoryView(mypickerToolbar_);

  soStatusSwitch_ = std::make_shared<ui::Switch>();
  soStatusSwitch_->setOn(soStateFlag_);
  soStatusSwitch_->setTag(kTagSoStatus);
  soStatusSwitch_->setAccessibilityLabel("Note/Hold");
  soStatusSwitch_->addTarget(this, [this](ui::Control& c) { soStateFlag_ = static_cast<ui::Switch&>(c).isOn(); },
                             ui::ValueChanged);

  txt_Memo_ = ui::makeView<ui::TextView>({0, 0, 210, 70});
  txt_Memo_->setTextDelegate(self<ui::TextViewDelegate>());
  txt_Memo_->setBackgroundColor(ui::Color::clear());
  txt_Memo_->setFont(ui::Font::systemFont(17));
  txt_Memo_->setTag(kTagMemo);
  txt_Memo_->setAccessibilityLabel("Memo");
  if (memo_.empty()) {
    txt_Memo_->setText(kMemoPlaceholder);
    txt_Memo_->setTextColor(kPlaceholderGray);
  } else {
    txt_Memo_->setText(memo_);
    txt_Memo_->setTextColor(ui::Color::black());
  }
}

std::shared_ptr<ui::TextField> OrderInfoViewController::makeField(int tag, const std::string& placeholder,
                                                                  const std::string& text) {
  auto f = ui::makeView<ui::TextField>({0, 0, 190, 21});
  f->setPlaceholder(placeholder);
  f->setAccessibilityLabel(placeholder);
  f->setText(text);
  f->setTag(tag);
  f->setAutocorrection(false);
  f->setDelegate(self<ui::TextFieldDelegate>());
  return f;
}

std::shared_ptr<ui::PickerView> OrderInfoViewController::makePicker(int tag, int preselect) {
  auto p = std::make_shared<ui::PickerView>();
  p->setTag(tag);
  p->setDataSource(self<ui::PickerViewDataSource>());
  p->setDelegate(self<ui::PickerViewDelegate>());
  p->setShowsSelectionIndicator(true);
  if (preselect != 0) p->selectRow(preselect, 0, false);
  return p;
}

std::shared_ptr<ui::DatePicker> OrderInfoViewController::makeDatePicker(int tag, const std::string& date) {
  auto p = std::make_shared<ui::DatePicker>();
  p->setDatePickerMode(ui::DatePickerMode::Date);
  p->setTag(tag);
  p->addTarget(this, [this](ui::Control& c) { dateHasChanged(static_cast<ui::DatePicker&>(c)); }, ui::ValueChanged);
  // The wheel holds every date of a four-digit year, a server's "no date" of 12/31/9999
  // included. A text that does not read as a date leaves the wheel where it is; the field
  // keeps the text.
  if (auto when = foundation::parseDate(date, kDateFormat, true)) p->setDate(*when, true);
  return p;
}

// ----- Wheels

const json& OrderInfoViewController::listForTag(int tag) const {
  static const json empty = json::array();
  const GlobalSO& so = orvoDelegate_->globalSO();
  switch (tag) {
    case kTagOrderType: return so.orderTypeArray;
    case kTagTerms: return so.termsArray;
    case kTagPayMethod: return so.paymentCodeArray;
    case kTagShipVia: return so.shipViaArray;
    case kTagCustomerPriority: return so.customerPriorityArray;
    case kTagSalesRep: return so.salesRepArray;
    default: return empty;
  }
}

int* OrderInfoViewController::preselectForTag(int tag) {
  switch (tag) {
    case kTagOrderType: return &sOT_;
    case kTagTerms: return &sT_;
    case kTagPayMethod: return &sPC_;
    case kTagShipVia: return &sSV_;
    case kTagCustomerPriority: return &sCP_;
    case kTagSalesRep: return &sSR_;
    default: return nullptr;
  }
}

int OrderInfoViewController::numberOfRowsInComponent(ui::PickerView& picker, int) {
  const json& list = listForTag(picker.tag());
  return list.is_array() ? int(list.size()) : 0;
}

std::string OrderInfoViewController::titleForRow(ui::PickerView& picker, int row, int) {
  const json& list = listForTag(picker.tag());
  if (!list.is_array() || row < 0 || size_t(row) >= list.size()) return {};
  const json& entry = list[size_t(row)];
  if (picker.tag() == kTagTerms) return foundation::textForKey(entry, "Description");
  if (entry.is_object()) return foundation::textForKey(entry, "Code");
  return foundation::textValue(entry);
}

void OrderInfoViewController::didSelectRow(ui::PickerView& picker, int row, int) {
  const json& list = listForTag(picker.tag());
  if (!list.is_array() || row < 0 || size_t(row) >= list.size()) return;
  const json& entry = list[size_t(row)];
  const std::string value = entry.is_object() ? foundation::textForKey(entry, "Code") : foundation::textValue(entry);
  if (auto* f = field(picker.tag())) f->setText(value);
}

void OrderInfoViewController::selectPicker(int tag, const std::string& content) {
  int* preselect = preselectForTag(tag);
  if (!preselect) return;
  const json& list = listForTag(tag);
  if (!list.is_array()) return;
  for (size_t i = 0; i < list.size(); ++i) {
    const json& entry = list[i];
    const std::string value = entry.is_object() ? foundation::textForKey(entry, "Code") : foundation::textValue(entry);
    if (value == content) *preselect = int(i);
  }
}

void OrderInfoViewController::dateHasChanged(ui::DatePicker& picker) {
  if (auto* f = field(picker.tag())) f->setText(picker.displayText());
}

ui::TextField* OrderInfoViewController::field(int tag) const {
  switch (tag) {
    case kTagEmail: return txt_Email_.get();
    case kTagPhone: return txt_Phone1_.get();
    case kTagCustomerPo: return txt_CustomerPo_.get();
    case kTagOrderType: return txt_OrderType_.get();
    case kTagCancelDate: return txt_CancelDate_.get();
    case kTagTerms: return txt_Terms_.get();
    case kTagPayMethod: return txt_PayMethod_.get();
    case kTagShipVia: return txt_ShipVia_.get();
    case kTagShipDate: return txt_ShipDate_.get();
    case kTagCustomerPriority: return txt_CustomerPriority_.get();
    case kTagSalesRep: return txt_SalesRep_.get();
    default: return nullptr;
  }
}

ui::PickerView* OrderInfoViewController::picker(int tag) const {
  switch (tag) {
    case kTagOrderType: return ordertypePicker_.get();
    case kTagTerms: return termsPicker_.get();
    case kTagPayMethod: return paymethodPicker_.get();
    case kTagShipVia: return shipviaPicker_.get();
    case kTagCustomerPriority: return customerPriorityPicker_.get();
    case kTagSalesRep: return salesRepPicker_.get();
    default: return nullptr;
  }
}

ui::DatePicker* OrderInfoViewController::datePicker(int tag) const {
  return tag == kTagCancelDate ? cancelDatePicker_.get() : tag == kTagShipDate ? shipDatePicker_.get() : nullptr;
}

std::string OrderInfoViewController::fieldText(int tag) const {
  auto* f = field(tag);
  return f ? f->text() : std::string();
}

// ----- Text

bool OrderInfoViewController::textFieldShouldReturn(ui::TextField& f) {
  if (f.isFirstResponder()) f.resignFirstResponder();
  return true;
}

bool OrderInfoViewController::textViewShouldBeginEditing(ui::TextView& v) {
  if (v.text() == kMemoPlaceholder) {
    v.setText("");
    v.setTextColor(ui::Color::black());
  }
  return true;
}

void OrderInfoViewController::textViewDidChange(ui::TextView& v) {
  if (!v.text().empty()) return;
  v.setText(kMemoPlaceholder);
  v.setTextColor(kPlaceholderGray);
  v.resignFirstResponder();
}

bool OrderInfoViewController::textViewShouldEndEditing(ui::TextView& v) {
  if (v.text().empty()) {
    v.setText(kMemoPlaceholder);
    v.setTextColor(kPlaceholderGray);
  }
  return true;
}

void OrderInfoViewController::allDismissKeyboard() {
  for (auto* f : {txt_Email_.get(), txt_Phone1_.get(), txt_CustomerPo_.get(), txt_OrderType_.get(),
                  txt_CancelDate_.get(), txt_Terms_.get(), txt_PayMethod_.get(), txt_ShipVia_.get(),
                  txt_ShipDate_.get()})
    if (f && f->isFirstResponder()) f->resignFirstResponder();
  if (txt_Memo_ && txt_Memo_->isFirstResponder()) txt_Memo_->resignFirstResponder();
  for (auto* f : {txt_SalesRep_.get(), txt_CustomerPriority_.get()})
    if (f && f->isFirstResponder()) f->resignFirstResponder();
}

// ----- Loading the header

void OrderInfoViewController::getOrderInfo() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "GetOrderInfo";
  r.params = {{"customerID", so.customerID},
              {"divisionCode", so.divisionCode},
              {"orderItems", orderItemsStyleColorJson(so.lastOrderListArray)}};
  r.requestMethod = "-[OrderInfoViewController getOrderInfo]";
  r.answerMethod = "-[OrderInfoViewController orderInfoResponseData:]";
  r.onSendException = [this](const std::exception& e) {
    soapErrorFlag_ = true;
    AlertClass::exceptionAlert(self<ui::ViewController>(), "-[OrderInfoViewController getOrderInfo]", e);
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { orderInfoResponseData(a); },
                    [this](const ServiceFailure& f) { orvoDelegate_->errorResponseData(f); });
}

void OrderInfoViewController::getBeforeOrderInfo() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "GetBeforeOrderInfo";
  r.params = {{"orderNumber", so.orderNumber},
              {"divisionCode", so.divisionCode},
              {"orderItems", orvoDelegate_->settings().realtimeSoFlag ? std::string("RealTimeSO")
                                                                      : orderItemsStyleColorJson(so.lastOrderListArray)}};
  r.requestMethod = "-[OrderInfoViewController getBeforeOrderInfo]";
  r.answerMethod = "-[OrderInfoViewController beforeOrderInfoResponseData:]";
  r.onSendException = [this](const std::exception& e) {
    soapErrorFlag_ = true;
    AlertClass::exceptionAlert(self<ui::ViewController>(), "-[OrderInfoViewController getBeforeOrderInfo]", e);
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { beforeOrderInfoResponseData(a); },
                    [this](const ServiceFailure& f) { orvoDelegate_->errorResponseData(f); });
}

void OrderInfoViewController::orderInfoResponseData(const RequestAnswer& a) {
  try {
    const auto& list = a.requireObject();
    if (!list) {
      soapErrorFlag_ = true;
      return;
    }
    setOrderInfoFromResponseData(*list, false);
  } catch (...) {
    soapErrorFlag_ = true;
    throw;
  }
  orderInfoFlag_ = true;
  checkFlag();
}

void OrderInfoViewController::beforeOrderInfoResponseData(const RequestAnswer& a) {
  try {
    const auto& list = a.requireObject();
    if (!list) {
      soapErrorFlag_ = true;
      return;
    }
    setOrderInfoFromResponseData(*list, true);
  } catch (...) {
    soapErrorFlag_ = true;
    throw;
  }
  beforeOrderInfoFlag_ = true;
  checkFlag();
}

void OrderInfoViewController::setOrderInfoFromResponseData(const json& list, bool isPrevOrderInfo) {
  const Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();
  listContent_ = list.is_array() ? list : json::array({list});
  const json& row = listContent_.at(0);
  cancelDate_ = need(row, "Canceldate");
  shipDate_ = need(row, "Shipdate");
  so.orderEmail1 = need(row, "Email1");
  phone1_ = need(row, "Phone1");
  paymentcode_ = need(row, "Paymentcode");
  selectPicker(kTagPayMethod, paymentcode_);
  shipvia_ = need(row, "Shipvia");
  selectPicker(kTagShipVia, shipvia_);
  term_ = need(row, "Term");
  selectPicker(kTagTerms, term_);
  if (settings.isNewCustomerSalesRepOption) {
    salesRepCode_ = need(row, "SalesRepCode");
    selectPicker(kTagSalesRep, salesRepCode_);
  }
  if (settings.isCustomerPriorityOption) {
    const std::string prefix = "[" + need(row, "CustomerPriority") + "] ";
    auto lower = [](std::string s) {
      for (auto& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      return s;
    };
    for (const auto& entry : so.customerPriorityArray) {
      const std::string text = foundation::textValue(entry);
      if (lower(text).rfind(lower(prefix), 0) == 0) {
        customerPriorityCode_ = text;
        selectPicker(kTagCustomerPriority, customerPriorityCode_);
        break;
      }
    }
  }
  status_ = need(row, "Status");
  if (isPrevOrderInfo) {
    so.orderCustomerPo = need(row, "Po");
    orderType_ = need(row, "Ordertype");
    selectPicker(kTagOrderType, orderType_);
    if (status_ == "Hold") soStateFlag_ = true;
    auto memo = row.find("Memo");
    if (memo == row.end()) throw std::invalid_argument("The header answer has no value for \"Memo\".");
    memo_ = memo->is_null() ? std::string() : foundation::textValue(*memo);
    so.signatureBase64StringForSo = need(row, "CcSign");
  } else {
    so.orderCustomerPo.clear();
    orderType_ = so.orderTypeCode;
    selectPicker(kTagOrderType, orderType_);
    soStateFlag_ = false;
    memo_ = foundation::UserDefaults::standard().stringForKey(defaults::backupSOmemo).value_or("");
  }
  setOrderInfoItemsArray();
  makeControls();
  table_->reloadData();
}

void OrderInfoViewController::checkFlag() {
  if (soapErrorFlag_) {
    AlertClass::AlertView(*this, 0, 1, "Error", "Network Error. resave please.", [this] { yesSoapError(); }, nullptr);
    return;
  }
  if (orderInfoFlag_ || beforeOrderInfoFlag_) {
    orvoDelegate_->hideActivityViewer();
    orvoDelegate_->networkActivityStopped();
    if (btn_Save_->isHidden()) btn_Save_->setHidden(false);
  }
}

// ----- Leaving

void OrderInfoViewController::logoutButtonClicked() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?", [this] { yesAlertLogout(); }, nullptr);
}

void OrderInfoViewController::yesAlertLogout() {
  orvoDelegate_->initFlag();
  orvoDelegate_->AutoSaveFuncDataInit();
  if (auto* nav = navigationController())
    if (auto* presenter = nav->presentingViewController()) presenter->dismissViewControllerAnimated(true);
}

void OrderInfoViewController::backFunc() {
  orvoDelegate_->globalSO().signatureBase64StringForSo.clear();
  backupSOmemo();
  allDismissKeyboard();
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void OrderInfoViewController::moveLastSelectorView() {
  orvoDelegate_->settings().newCustomerFlag = false;
  orvoDelegate_->AutoSaveFuncDataInit();
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("LastSelectorViewController"), true);
}

// Back to the last screen that the duplicate was started from: the nearest one below this
// screen, however many screens the customer road put above it.
void OrderInfoViewController::moveLastSelectorViewForDuplicateSO() {
  Settings& settings = orvoDelegate_->settings();
  settings.authorizeSuccessFlag = false;
  settings.newCustomerFlag = false;
  orvoDelegate_->AutoSaveFuncDataInit();
  auto* nav = navigationController();
  if (!nav) return;
  Util::setNavTitleBgColor(*nav, ui::Color::black());
  const auto& stack = nav->viewControllers();
  for (auto it = stack.rbegin(); it != stack.rend(); ++it)
    if ((*it)->nibName() == "LastSelectorViewController") {
      nav->popToViewController(it->get(), true);
      return;
    }
  // No last screen below (the duplicate was not started from one): a new one.
  nav->pushViewController(makeScreen("LastSelectorViewController"), true);
}

// ----- Values for the save

std::string OrderInfoViewController::getSoHoldForWS() const { return soStateFlag_ ? "Hold" : "Open"; }

std::optional<std::string> OrderInfoViewController::getCustomerPriorityCodeForWS() const {
  if (!orvoDelegate_->settings().isCustomerPriorityOption) return std::nullopt;
  return customerPriorityCodeFromText(fieldText(kTagCustomerPriority));
}

std::string OrderInfoViewController::getMemoForWS() const {
  return memoForSending(txt_Memo_ ? txt_Memo_->text() : std::string(kMemoPlaceholder));
}

std::optional<std::string> OrderInfoViewController::getSalesRepForWS() const {
  if (!orvoDelegate_->settings().isNewCustomerSalesRepOption) return std::nullopt;
  return fieldText(kTagSalesRep);
}

}  // namespace orvo
