// The order header's save: the choice of operation, the four requests and their answers,
// the processing flag that guards an interrupted insert, and the way out to the last screen.
#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderSaveItems.h"
#include "app/orders/OrderScreens.h"
#include "app/orders/PriceClass.h"
#include "app/orders/ServerValues.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"

namespace orvo {

using nlohmann::json;

namespace {

// What the platform's string formatting writes for a value that is not there.
constexpr const char* kMissingValueText = "(null)";
constexpr const char* kRecheck = "*Please recheck your order information at Orvo.";

std::string savedMessage(const std::string& qty, const std::string& ext) {
  return "Your sales order has been saved.\nTotal Qty : " + PriceClass::stringToComma(qty) +
         " \nTotal Ext. Price : " + PriceClass::stringToCurrency(ext);
}

std::string markedMessage(const std::string& qty, const std::string& ext, const char* mark) {
  return "Total Qty : " + PriceClass::stringToComma(qty) + "\nTotal Ext. Price : " +
         PriceClass::stringToCurrency(ext) + "\n" + kRecheck + " " + mark;
}

}  // namespace

// ----- Save button and the choice

void OrderInfoViewController::btn_saveFunc() {
  allDismissKeyboard();
  // The fields exist only once the header has been loaded; Save is hidden until then.
  if (!txt_Email_ || btn_Save_->isHidden()) return;
  const std::string email = txt_Email_->text();
  if (email.empty() || Util::validEmail(email)) {
    AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Are you sure you want to save?",
                          [this] { yesInsertOrderAlert(); }, nullptr);
  } else {
    AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, "Your email address is invalid.\nPlease enter a valid address.",
                          [this] { yesCheckEmailAddress(); }, nullptr);
  }
}

void OrderInfoViewController::yesCheckEmailAddress() {
  if (txt_Email_) txt_Email_->becomeFirstResponder();
}

void OrderInfoViewController::yesInsertOrderAlert() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  if (!so.orderNumber.empty()) {
    if (orvoDelegate_->settings().realtimeSoFlag)
      EditOrderInfo();
    else
      editOrder();
  } else if (!orderProcessFlag_) {
    backupOrderProcessingFlag(true);
    insertOrder();
  } else {
    checkOrderProcessing();
  }
}

void OrderInfoViewController::backupOrderProcessingFlag(bool flag) {
  auto& d = foundation::UserDefaults::standard();
  d.setBool(defaults::OrderProcessingFlag, flag);
  d.synchronize();
  orderProcessFlag_ = flag;
  backupSOmemo();
}

void OrderInfoViewController::backupSOmemo() {
  // Before the header has loaded there is no memo on screen: the stored one stays.
  if (!txt_Memo_) return;
  auto& d = foundation::UserDefaults::standard();
  // The memo as typed (only the placeholder is no memo): what goes to the server is
  // adapted when it is sent, not in the backup the header fills itself from again.
  const std::string memo = txt_Memo_->text();
  d.setString(defaults::backupSOmemo, memo == kMemoPlaceholder ? std::string() : memo);
  d.synchronize();
}

// ----- Requests

std::vector<std::pair<std::string, std::string>> OrderInfoViewController::headerParams() const {
  return {{"canceldate", fieldText(kTagCancelDate)},
          {"shipdate", fieldText(kTagShipDate)},
          {"term", fieldText(kTagTerms)},
          {"paymentcode", fieldText(kTagPayMethod)},
          {"shipvia", fieldText(kTagShipVia)},
          {"ordertype", fieldText(kTagOrderType)},
          {"email1", fieldText(kTagEmail)},
          {"phone1", fieldText(kTagPhone)},
          {"pono", fieldText(kTagCustomerPo)},
          {"soHold", getSoHoldForWS()},
          {"customerPriority", getCustomerPriorityCodeForWS().value_or(kMissingValueText)},
          {"memo", getMemoForWS()},
          {"salesRepCode", getSalesRepForWS().value_or(kMissingValueText)}};
}

namespace {

void appendParams(std::vector<SoapParam>& out, const std::vector<std::pair<std::string, std::string>>& in) {
  for (const auto& [k, v] : in) out.emplace_back(k, v);
}

}  // namespace

void OrderInfoViewController::insertOrder() {
  ScreenRequest r;
  r.operation = "InsertOrder";
  r.requestMethod = "-[OrderInfoViewController insertOrder]";
  r.answerMethod = "-[OrderInfoViewController insertOrderResponseData:]";
  r.prepare = [this](ScreenRequest& req) {
    const GlobalSO& so = orvoDelegate_->globalSO();
    const Settings& settings = orvoDelegate_->settings();
    const std::string items = insertOrderItemsJson(so.lastOrderListArray, settings.dupItemHandlingFlag);
    req.params = {SoapParam::integer("multiSO", settings.multiSoFlag ? 1 : 0),
                  {"priceLevel", so.priceLevel},
                  {"divisionCode", so.divisionCode},
                  {"warehouseCode", so.warehouseCode},
                  {"loginId", so.loginID},
                  {"customerCode", so.customerID},
                  {"store", so.storeID}};
    appendParams(req.params, headerParams());
    req.params.emplace_back("pdupnum", so.pDupNum);
    req.params.emplace_back("orderitems", items);
    // Until this insert's outcome is known, the processing check must ask about what it
    // sent, not about the order as the user goes on changing it: stored before it leaves.
    json sent = json::object();
    for (const auto& [k, v] : processingCheckValues()) sent[k] = v;
    auto& d = foundation::UserDefaults::standard();
    d.setObject(defaults::OrderProcessingInsert, std::move(sent));
    d.synchronize();
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { insertOrderResponseData(a); },
                    [this](const ServiceFailure& f) { orvoDelegate_->errorResponseData(f); });
}

void OrderInfoViewController::editOrder() {
  ScreenRequest r;
  r.operation = "EditOrder";
  r.requestMethod = "-[OrderInfoViewController editOrder]";
  r.answerMethod = "-[OrderInfoViewController editOrderResponseData:]";
  r.prepare = [this](ScreenRequest& req) {
    const GlobalSO& so = orvoDelegate_->globalSO();
    const std::string items = editOrderItemsJson(so.lastOrderListArray, orvoDelegate_->settings().dupItemHandlingFlag);
    req.params = {{"orderNumber", so.orderNumber}, {"loginId", so.loginID}};
    appendParams(req.params, headerParams());
    req.params.emplace_back("editorderitems", items);
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { editOrderResponseData(a); },
                    [this](const ServiceFailure& f) { orvoDelegate_->errorResponseData(f); });
}

void OrderInfoViewController::EditOrderInfo() {
  ScreenRequest r;
  r.operation = "EditOrderInfo";
  r.requestMethod = "-[OrderInfoViewController EditOrderInfo]";
  r.answerMethod = "-[OrderInfoViewController EditOrderInfoResponseData:]";
  r.prepare = [this](ScreenRequest& req) {
    const GlobalSO& so = orvoDelegate_->globalSO();
    req.params = {{"orderNumber", so.orderNumber}, {"loginId", so.loginID}};
    appendParams(req.params, headerParams());
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { EditOrderInfoResponseData(a); },
                    [this](const ServiceFailure& f) { orvoDelegate_->errorResponseData(f); });
}

void OrderInfoViewController::checkOrderProcessing() {
  ScreenRequest r;
  r.operation = "CheckOrderProcessing";
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[OrderInfoViewController checkOrderProcessing]";
  r.answerMethod = "-[OrderInfoViewController checkOrderProcessingResponseData:]";
  r.prepare = [this](ScreenRequest& req) {
    // The values the interrupted insert sent; the order as it is now only when no insert
    // has recorded them.
    const json sent = foundation::UserDefaults::standard().objectForKey(defaults::OrderProcessingInsert);
    req.params.clear();
    for (auto& [k, v] : processingCheckValues()) {
      const auto it = sent.is_object() ? sent.find(k) : sent.end();
      req.params.emplace_back(k, it != sent.end() && it->is_string() ? it->get<std::string>() : v);
    }
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { checkOrderProcessingResponseData(a); },
                    [this](const ServiceFailure& f) { orvoDelegate_->errorResponseData(f); });
}

std::vector<std::pair<std::string, std::string>> OrderInfoViewController::processingCheckValues() const {
  const GlobalSO& so = orvoDelegate_->globalSO();
  return {{"loginId", so.loginID},
          {"divisionCode", so.divisionCode},
          {"customerId", so.customerID},
          {"storeId", so.storeID},
          {"pDupNum", so.pDupNum},
          {"orderType", fieldText(kTagOrderType)},
          {"memo", getMemoForWS()},
          {"totalQty", so.orderTotalQty},
          {"totalExtPrice", so.orderTotalExtPrice}};
}

// ----- Answers

void OrderInfoViewController::insertOrderResponseData(const RequestAnswer& a) { saveAnswer(a, true); }
void OrderInfoViewController::editOrderResponseData(const RequestAnswer& a) { saveAnswer(a, false); }

void OrderInfoViewController::copyHeaderIntoOrder() {
  GlobalSO& so = orvoDelegate_->globalSO();
  so.orderEmail1 = fieldText(kTagEmail);
  so.orderCustomerPo = fieldText(kTagCustomerPo);
  orvoDelegate_->settings().soHoldFlag = soStateFlag_;
}

void OrderInfoViewController::saveAnswer(const RequestAnswer& a, bool insert) {
  try {
    GlobalSO& so = orvoDelegate_->globalSO();
    const auto& answer = a.requireObject();
    const json* error = nullptr;
    static const json missing;  // an answer without "Error", or one that could not be read
    if (!answer || !answer->is_object())
      error = &missing;
    else if (auto it = answer->find("Error"); it == answer->end())
      error = &missing;
    else if (!it->is_null())
      error = &*it;
    // A success without a readable order number (absent, empty, a list, an object) is no
    // save the order can go on from; the processing check finds it if the server made one.
    else if (auto n = answer->find("OrderNumber"); n == answer->end() || !server_values::orderNumberText(*n))
      error = &missing;
    if (error) {
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, insert ? "Insert Order Items Error" : "Insert Order Error",
                               error->is_null() ? std::string() : foundation::textValue(*error));
      return;
    }
    const json& o = *answer;
    so.orderNumber = *server_values::orderNumberText(foundation::valueForKey(o, "OrderNumber"));
    if (!insert) {
      so.customerID = foundation::textForKey(o, "CustomerId");
      so.storeID = foundation::textForKey(o, "StoreId");
    }
    copyHeaderIntoOrder();
    const auto serverQty = server_values::quantityText(foundation::valueForKey(o, "TotalQty"));
    const auto serverExt = server_values::moneyText(foundation::valueForKey(o, "TotalExtPrice"));
    std::string message;
    if (!serverQty || !serverExt) {
      // The order is saved, but its totals are missing or no numbers: the application's
      // own totals stand, and the user is asked to check the order.
      message = markedMessage(so.orderTotalQty, so.orderTotalExtPrice, "[T]");
    } else if (foundation::textForKey(o, "Id") == "0") {
      so.orderTotalQty = *serverQty;
      so.orderTotalExtPrice = *serverExt;
      message = markedMessage(so.orderTotalQty, so.orderTotalExtPrice, insert ? "[I]" : "[E]");
    } else if (so.orderTotalQty != *serverQty || so.orderTotalExtPrice != *serverExt) {
      so.orderTotalQty = *serverQty;
      so.orderTotalExtPrice = *serverExt;
      message = markedMessage(so.orderTotalQty, so.orderTotalExtPrice, "[T]");
    } else {
      message = savedMessage(so.orderTotalQty, so.orderTotalExtPrice);
    }
    showSavedAlert(message);
  } catch (...) {
    soapErrorFlag_ = true;
    throw;
  }
}

void OrderInfoViewController::EditOrderInfoResponseData(const RequestAnswer& a) {
  try {
    const auto& answer = a.requireObject();
    // Saved only when the server said so: an answer that could not be read, or one without
    // "Response", is not a save.
    const bool saved = answer && answer->is_object() && answer->contains("Response") &&
                       foundation::textForKey(*answer, "Response") != "False";
    if (!saved) {
      std::string error;
      if (answer && answer->is_object())
        if (auto it = answer->find("Error"); it != answer->end() && !it->is_null()) error = foundation::textValue(*it);
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Insert Order Error", error);
      return;
    }
    copyHeaderIntoOrder();
    const GlobalSO& so = orvoDelegate_->globalSO();
    showSavedAlert(savedMessage(so.orderTotalQty, so.orderTotalExtPrice));
  } catch (...) {
    soapErrorFlag_ = true;
    throw;
  }
}

void OrderInfoViewController::checkOrderProcessingResponseData(const RequestAnswer& a) {
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  // The follow-up request starts on the next turn, after this answer's viewer has gone.
  std::weak_ptr<OrderInfoViewController> weak = self<OrderInfoViewController>();
  auto then = [weak](void (OrderInfoViewController::*request)()) {
    foundation::MainQueue::post([weak, request] {
      if (auto s = weak.lock()) (s.get()->*request)();
    });
  };
  const std::string text = a.text.value_or("");
  if (text == "FALSE") {
    then(&OrderInfoViewController::insertOrder);
    return;
  }
  if (!a.text) return;
  auto numbers = JsonClass::getJSONobj(text);
  if (!numbers || !numbers->is_array() || numbers->empty()) return;
  // Every entry must read as an order number; an answer with any other is not read at all.
  std::vector<std::string> found;
  for (const auto& n : *numbers) {
    auto number = server_values::orderNumberText(n);
    if (!number) return;
    found.push_back(std::move(*number));
  }
  GlobalSO& so = orvoDelegate_->globalSO();
  if (found.size() == 1) {
    so.orderNumber = found[0];
    then(&OrderInfoViewController::editOrder);
    return;
  }
  for (const auto& number : found) so.orderNumber = so.orderNumber.empty() ? number : so.orderNumber + "," + number;
  showSavedAlert(savedMessage(so.orderTotalQty, so.orderTotalExtPrice));
}

void OrderInfoViewController::showSavedAlert(const std::string& message) {
  AlertClass::AlertView(*this, 0, 1, "SO# " + orvoDelegate_->globalSO().orderNumber, message,
                        [this] { yesAfterInsertOrderAlert(); }, nullptr);
}

// ----- After the save

void OrderInfoViewController::yesAfterInsertOrderAlert() {
  if (printSoWithSignFlag_) {
    showSignatureView();
    return;
  }
  if (orvoDelegate_->settings().duplicateSoFlag)
    moveLastSelectorViewForDuplicateSO();
  else
    moveLastSelectorView();
}

void OrderInfoViewController::showSignatureView() {
  auto pad = makeScreen("CcSignatureViewController");
  if (!pad) return;
  pad->setModalTransitionStyle(ui::ModalTransitionStyle::CrossDissolve);
  pad->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
  if (auto* signing = dynamic_cast<SignaturePad*>(pad.get())) signing->setSoSignFlag(true);
  if (auto* nav = navigationController()) nav->presentViewController(pad, true);
}

void OrderInfoViewController::successSignatureForSo(const json& userInfo) {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_, "getSignatureForSo");
  const std::string isClear = foundation::textForKey(userInfo, "isClear");
  if (isClear == "true" || isClear == "1" || isClear == "YES") return;
  if (orvoDelegate_->settings().duplicateSoFlag)
    moveLastSelectorViewForDuplicateSO();
  else
    moveLastSelectorView();
}

void OrderInfoViewController::yesSoapError() { backFunc(); }

}  // namespace orvo
