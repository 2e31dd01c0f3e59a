// The order item list in real-time mode: the server keeps the order line by line. The whole
// cart ("UpdateAllItemsForRealTime", after a number for a new order,
// "GetNewSOnumberWithSOH"), one line ("UpdateItemInfoForRealTime", "DeleteItemForRealTime"),
// a duplicate item ("UpdateDupItemHandlingForRealTime"), and the whole order when it is left
// unsaved ("DeleteSoForRealTime").
//
// A per-line call that fails, times out or is refused changes nothing on the device; the
// server is then taken to be behind, and the next whole-cart send (the save of a line, a
// pull to refresh, or "Next" to the header, which waits for it) replaces the server's lines
// with the device's.
//
// A delete of the whole order that fails or goes unanswered keeps the user on the order;
// the server may have deleted it all the same, so when the next whole-cart send is refused
// the device's lines go to a new order.
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"

namespace orvo {

using nlohmann::json;
using cart::field;

namespace {

// An object read from a JSON text held in an answer ({} when it is not one).
json objectOfText(const json& v) {
  if (!v.is_string()) return json::object();
  auto o = JsonClass::readJSON(v.get<std::string>());
  return o && o->is_object() ? *o : json::object();
}

}  // namespace

void OrderListViewController::cartChanged() {
  if (orvoDelegate_->settings().realtimeSoFlag) realTimeOutOfStep_ = true;
}

// The server is behind the device: the device's lines are what counts, so its backup is
// brought up to them (a count raised by a rescan has not been written yet).
void OrderListViewController::realTimeBehind() {
  realTimeOutOfStep_ = true;
  pushHeaderAfterSend_ = false;
  AutoSaveFuncDataSave();
}

void OrderListViewController::realTimeFailed(const ServiceFailure& failure) {
  realTimeBehind();
  errorResponseData(failure);
}

bool OrderListViewController::realTimeAnswerOk(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (answer && answer->is_object() && foundation::textForKey(*answer, "Response") != "False") return true;
  realTimeBehind();
  if (answer && answer->is_object())
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", itemText(foundation::valueForKey(*answer, "Error")));
  else if (answer)
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", "The server's answer could not be read.");
  return false;
}

// ----- The whole cart

void OrderListViewController::updateAllItemsForRealTime() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  if (so.orderNumber.empty()) {
    GetNewSOnumberWithSOH();
    return;
  }
  const bool dup = orvoDelegate_->settings().dupItemHandlingFlag;
  ScreenRequest r;
  r.operation = "UpdateAllItemsForRealTime";
  r.requestMethod = "-[OrderListViewController updateAllItemsForRealTime]";
  r.answerMethod = "-[OrderListViewController updateAllItemsForRealTimeResponseData:]";
  r.prepare = [this, dup](ScreenRequest& req) {
    const std::string& number = orvoDelegate_->globalSO().orderNumber;
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const auto& line : orderListArray_) {
      nlohmann::ordered_json o;
      o["Barcode"] = field(line, "Barcode");
      o["Qty"] = field(line, "Qty");
      o["Price"] = field(line, "Price");
      if (dup) {
        o["DupItemHandling"] = "true";
        o["BeforeOrderNum"] = line.contains("BeforeOrderNum") ? field(line, "BeforeOrderNum") : std::string("[]");
      }
      nlohmann::ordered_json e;
      e[number] = std::move(o);
      items.push_back(std::move(e));
    }
    const GlobalSO& g = orvoDelegate_->globalSO();
    req.params = {{"OrderNum", number},
                  {"JsonItemsForRealtime", foundation::prettyJson(items)},
                  {"WH", orvoDelegate_->settings().isStockWHMode ? g.warehouseCode : std::string()}};
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { updateAllItemsForRealTimeResponseData(a); },
                    [this](const ServiceFailure& f) { realTimeFailed(f); });
}

void OrderListViewController::updateAllItemsForRealTimeResponseData(const RequestAnswer& a) {
  if (orderMayBeGone_ && a.object && a.object->is_object()) {
    orderMayBeGone_ = false;
    if (foundation::textForKey(*a.object, "Response") == "False") {
      // The server no longer takes the order that the user had asked it to delete: the
      // device's lines start a new one.
      orvoDelegate_->globalSO().orderNumber.clear();
      SetTopOrderInfoMsg();
      GetNewSOnumberWithSOH();
      return;
    }
  }
  if (!realTimeAnswerOk(a)) return;
  realTimeOutOfStep_ = false;
  const json& answer = *a.object;
  if (answer.contains("Stocks") && orvoDelegate_->settings().realtimeSoFlag) {
    const json stocks = objectOfText(foundation::valueForKey(answer, "Stocks"));
    for (auto it = stocks.begin(); it != stocks.end(); ++it) {
      const json s = objectOfText(it.value());
      const json ob = objectOfText(foundation::valueForKey(s, "OverBooking"));
      updateItemStocks(it.key(), foundation::textForKey(s, "Ats"), foundation::textForKey(s, "AtsStatus"),
                       foundation::textForKey(s, "Ots"), foundation::textForKey(s, "OtsStatus"),
                       foundation::textForKey(ob, "OverBookingMsg"), foundation::textForKey(ob, "OverBookingLimit"));
    }
  }
  if (pushHeaderAfterSend_) {
    pushHeaderAfterSend_ = false;
    btn_NextToGoToOrderInfoView();
  }
}

void OrderListViewController::GetNewSOnumberWithSOH() {
  // One new order per cart: a second send while the number is on its way waits for it.
  if (newNumberPending_) return;
  const GlobalSO& so = orvoDelegate_->globalSO();
  nlohmann::ordered_json head;
  head["DivisionCode"] = so.divisionCode;
  head["WarehouseCode"] = so.warehouseCode;
  head["LoginUser"] = so.loginID;
  head["CustomerCode"] = so.customerID;
  head["StoreCode"] = so.storeID;
  head["OrderType"] = so.orderTypeCode;
  head["PriceLevel"] = so.priceLevel;
  ScreenRequest r;
  r.operation = "GetNewSOnumberWithSOH";
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[OrderListViewController GetNewSOnumberWithSOH]";
  r.answerMethod = "-[OrderListViewController GetNewSOnumberWithSOHResponseData:]";
  r.params = {{"JsonSOHinfo", foundation::prettyJson(head)}};
  newNumberPending_ = true;
  auto sent = sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { GetNewSOnumberWithSOHResponseData(a); },
                                [this](const ServiceFailure& f) {
                                  newNumberPending_ = false;
                                  realTimeFailed(f);
                                });
  if (!sent) newNumberPending_ = false;
}

void OrderListViewController::GetNewSOnumberWithSOHResponseData(const RequestAnswer& a) {
  newNumberPending_ = false;
  if (!a.text) throw AppException("NSInvalidArgumentException", "data parameter is nil");
  const std::string number = *a.text;
  if (number == "0" || number.empty()) {
    realTimeBehind();
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error",
                             "There are some issues so your order will be saved after you tap the 'Save' button.");
    return;
  }
  orvoDelegate_->globalSO().orderNumber = number;
  reloadTableInfo();
  SetTopOrderInfoMsg();
  updateAllItemsForRealTime();
}

// ----- One line

void OrderListViewController::updateItemInfoForRealTime(const std::string& orderNumber, const std::string& barcode,
                                                         const std::string& price, const std::string& qty) {
  stopBarcode();
  if (txt_Qty_->isFirstResponder()) txt_Qty_->resignFirstResponder();
  if (orderNumber.empty()) {
    // No order on the server yet: the line goes with the whole cart once there is one.
    realTimeOutOfStep_ = true;
    return;
  }
  ScreenRequest r;
  r.operation = "UpdateItemInfoForRealTime";
  r.requestMethod = "-[OrderListViewController updateItemInfoForRealTime:Barcode:Price:Qty:]";
  r.answerMethod = "-[OrderListViewController updateItemInfoForRealTimeResponseData:]";
  const GlobalSO& so = orvoDelegate_->globalSO();
  r.params = {{"OrderNumber", orderNumber},
              {"Barcode", barcode},
              {"Price", price},
              {"Qty", qty},
              {"WH", orvoDelegate_->settings().isStockWHMode ? so.warehouseCode : std::string()}};
  sendScreenRequest(*this, std::move(r),
                    [this, barcode](const RequestAnswer& a) { updateItemInfoForRealTimeResponseData(a, barcode); },
                    [this](const ServiceFailure& f) { realTimeFailed(f); });
}

void OrderListViewController::updateItemInfoForRealTimeResponseData(const RequestAnswer& a, const std::string& barcode) {
  if (realTimeAnswerOk(a)) {
    const json& answer = *a.object;
    if (answer.contains("Stocks") && orvoDelegate_->settings().realtimeSoFlag) {
      const json s = objectOfText(foundation::valueForKey(answer, "Stocks"));
      const json ob = objectOfText(foundation::valueForKey(s, "OverBooking"));
      updateStockInfo(barcode, foundation::textForKey(s, "Ats"), foundation::textForKey(s, "AtsStatus"),
                      foundation::textForKey(s, "Ots"), foundation::textForKey(s, "OtsStatus"),
                      foundation::textForKey(ob, "OverBookingMsg"), foundation::textForKey(ob, "OverBookingLimit"));
    }
  }
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  txt_Qty_->becomeFirstResponder();
  if (!IsRowEditMode_ && !popupForStopBarcodeFlag_) startBarcode();
}

void OrderListViewController::deleteItemForRealTime(const std::string& orderNumber, const std::string& barcode) {
  if (txt_Qty_->isFirstResponder()) txt_Qty_->resignFirstResponder();
  if (orderNumber.empty()) {
    realTimeOutOfStep_ = true;
    return;
  }
  ScreenRequest r;
  r.operation = "DeleteItemForRealTime";
  r.requestMethod = "-[OrderListViewController deleteItemForRealTime:Barcode:]";
  r.answerMethod = "-[OrderListViewController deleteItemForRealTimeResponseData:]";
  r.params = {{"OrderNumber", orderNumber}, {"Barcode", barcode}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { deleteItemForRealTimeResponseData(a); },
                    [this](const ServiceFailure& f) { realTimeFailed(f); });
}

void OrderListViewController::deleteItemForRealTimeResponseData(const RequestAnswer& a) {
  realTimeAnswerOk(a);
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  if (isDetailShowing()) txt_Qty_->becomeFirstResponder();
}

void OrderListViewController::updateDupItemHandlingForRealTime(const std::string& orderNumber,
                                                               const std::string& barcode, const std::string& qty,
                                                               const std::string& price,
                                                               const std::string& prevOrderNum,
                                                               const std::string& newSOinfo) {
  txt_Qty_->resignFirstResponder();
  ScreenRequest r;
  r.operation = "UpdateDupItemHandlingForRealTime";
  r.requestMethod =
      "-[OrderListViewController updateDupItemHandlingForRealTime:Barcode:Qty:Price:PrevOrderNum:NewSOinfo:]";
  r.answerMethod = "-[OrderListViewController updateDupItemHandlingForRealTimeResponseData:]";
  const GlobalSO& so = orvoDelegate_->globalSO();
  r.params = {{"OrderNumber", orderNumber}, {"Barcode", barcode},        {"Qty", qty},
              {"Price", price},             {"PrevOrderNum", prevOrderNum}, {"NewSOinfo", newSOinfo},
              {"WH", orvoDelegate_->settings().isStockWHMode ? so.warehouseCode : std::string()}};
  sendScreenRequest(*this, std::move(r),
                    [this, barcode](const RequestAnswer& a) { updateDupItemHandlingForRealTimeResponseData(a, barcode); },
                    [this](const ServiceFailure& f) { realTimeFailed(f); });
}

void OrderListViewController::updateDupItemHandlingForRealTimeResponseData(const RequestAnswer& a,
                                                                           const std::string& barcode) {
  if (realTimeAnswerOk(a)) {
    const json& answer = *a.object;
    const json ob = objectOfText(foundation::valueForKey(answer, "OverBooking"));
    GlobalSO& so = orvoDelegate_->globalSO();
    if (so.orderNumber.empty()) {
      so.orderNumber = itemText(foundation::valueForKey(answer, "OrderNumber"));
      SetTopOrderInfoMsg();
    }
    updateStockInfo(barcode, foundation::textForKey(answer, "Ats"), foundation::textForKey(answer, "AtsStatus"),
                    foundation::textForKey(answer, "Ots"), foundation::textForKey(answer, "OtsStatus"),
                    foundation::textForKey(ob, "OverBookingMsg"), foundation::textForKey(ob, "OverBookingLimit"));
  }
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  txt_Qty_->becomeFirstResponder();
  saveItem(true);
}

void OrderListViewController::updateStockInfo(const std::string& barcode, const std::string& ats,
                                              const std::string& atsStatus, const std::string& ots,
                                              const std::string& otsStatus, const std::string& overBookingMsg,
                                              const std::string& overBookingLimit) {
  // The figures are the code's that was sent; the item on display takes them only when it
  // is still that item.
  if (itemText(scannedItem_.Code) == barcode) {
    scannedItem_.Ats = ats;
    scannedItem_.AtsStatus = atsStatus;
    scannedItem_.Ots = ots;
    scannedItem_.OtsStatus = otsStatus;
    scannedItem_.OverBookingMsg = overBookingMsg;
    scannedItem_.OverBookingLimit = overBookingLimit;
    lbl_ats_->setText(ats);
    lbl_ots_->setText(ots);
    SetStockColorStyle();
  }
  updateItemStocks(barcode, ats, atsStatus, ots, otsStatus, overBookingMsg, overBookingLimit);
}

// ----- The whole order

void OrderListViewController::DeleteSoForRealTime(const std::string& orderNumber) {
  ScreenRequest r;
  r.operation = "DeleteSoForRealTime";
  r.requestMethod = "-[OrderListViewController DeleteSoForRealTime:]";
  r.answerMethod = "-[OrderListViewController DeleteSoForRealTimeResponseData:]";
  r.params = {{"OrderNumber", orderNumber}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { DeleteSoForRealTimeResponseData(a); },
                    [this](const ServiceFailure& f) {
                      deleteSoUnsettled(!f.notSent);
                      errorResponseData(f);
                    });
}

void OrderListViewController::deleteSoUnsettled(bool mayHaveReachedServer) {
  // The user stays on the order: its backup, cleared on the way out, is written again, and
  // the server may hold the order or not, so the next whole-cart send settles it.
  realTimeBehind();
  if (mayHaveReachedServer) orderMayBeGone_ = true;
}

void OrderListViewController::DeleteSoForRealTimeResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer || !answer->is_object()) {
    // Nobody knows whether the server still holds the order: its number stays, so "Back"
    // can ask again.
    deleteSoUnsettled(true);
    AlertView(0, 1, kAppAlertTitle, "The order could not be deleted on the server. Please try again.",
              [this] { noAlertBackFunc(); });
    return;
  }
  if (foundation::textForKey(*answer, "Response") != "False") {
    deleteSoFinalAction();
    return;
  }
  AlertView(0, 1, kAppAlertTitle, itemText(foundation::valueForKey(*answer, "Error")), [this] { deleteSoFinalAction(); });
}

void OrderListViewController::deleteSoFinalAction() {
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  orvoDelegate_->globalSO().orderNumber.clear();
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
