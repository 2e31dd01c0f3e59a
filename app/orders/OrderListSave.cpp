// The order item list: putting the item on display into the cart, the booking limit, the
// detail panel's save and delete, and the screen's request-failure prompt.
#include <nlohmann/json.hpp>

#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/Values.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/Text.h"

namespace orvo {

using nlohmann::json;
using cart::field;

void OrderListViewController::saveItem(bool keep) {
  json line = getItemDicByBarcode(itemText(scannedItem_.Code));
  if (field(line, "NewItem") == "True") {
    AddNewItemIntoOrderListArray();
    return;
  }
  scannedItem_.Qty = field(line, "Qty");
  int q = cart::intOf(field(line, "Qty"));
  checkOverBookingLimit(keep ? q : cart::clampedInt(q + 1LL));
}

bool OrderListViewController::checkOverBookingLimit(int newQty) {
  const int q = cart::intOf(itemText(scannedItem_.Qty));
  auto r = cart::checkOverBooking(q, itemText(scannedItem_.OverBookingLimit), newQty, overBookingMsgFlag_);
  if (r.refused) {
    stopBarcode();
    showQty(itemText(scannedItem_.Qty));
  } else {
    if (r.clearMsg) scannedItem_.OverBookingMsg = "";
    scannedItem_.OverBookingLimit = r.limit;
    showQty(std::to_string(r.qty));
    scannedItem_.Qty = txt_Qty_->text();
    if (r.changed) updateQtyAndOverbookingLimit();
  }
  if (r.prompt) {
    stopBarcode();
    AlertView(0, 1, kAppAlertTitle, "All ATS has been booked. \nYou can't order this item more.",
              [this] { yesOverbookingStartBarcode(); });
  }
  if (r.limited) overBookingMsgFlag_ = false;
  return false;
}

bool OrderListViewController::shouldChangeCharactersInRange(ui::TextField& field, ui::Range range,
                                                             const std::string& replacement) {
  if (&field != txt_Qty_.get()) return true;
  const std::string proposed = ui::replacingUtf16Range(field.text(), range, replacement);
  for (char c : proposed)
    if (c < '0' || c > '9') return false;  // a quantity is digits only
  // While a quantity is typed only the device's line follows it; the line reaches a
  // real-time order's server when it is saved (an emptied field is no deletion).
  typingQty_ = true;
  const bool accepted = checkOverBookingLimit(proposed.empty() ? 0 : cart::intOf(proposed));
  typingQty_ = false;
  return accepted;
}

void OrderListViewController::updateQtyAndOverbookingLimit() {
  updateItemInfo(itemText(scannedItem_.Qty), std::nullopt, itemText(scannedItem_.OverBookingLimit));
  if (!orvoDelegate_->settings().realtimeSoFlag) return;
  if (typingQty_) {
    realTimeOutOfStep_ = true;
    return;
  }
  const std::string& number = orvoDelegate_->globalSO().orderNumber;
  if (cart::intOf(itemText(scannedItem_.Qty)) < 1)
    deleteItemForRealTime(number, itemText(scannedItem_.Code));
  else
    updateItemInfoForRealTime(number, itemText(scannedItem_.Code), itemText(scannedItem_.Price),
                              itemText(scannedItem_.Qty));
}

void OrderListViewController::replaceLineOfCurrentItem(const std::function<void(json&)>& change) {
  int i = getItemIdxByBarcode(itemText(scannedItem_.Code));
  if (i < 0) return;
  json line = orderListArray_[size_t(i)];
  change(line);
  if (line != orderListArray_[size_t(i)]) cartReplace(size_t(i), std::move(line));
}

void OrderListViewController::updateItemInfo(const std::optional<std::string>& qty,
                                             const std::optional<std::string>& beforeOrderNum,
                                             const std::optional<std::string>& overBookingLimit) {
  replaceLineOfCurrentItem([&](json& line) {
    if (qty) {
      if (line["Qty"] != *qty) cartChanged();
      line["Qty"] = *qty;
      line["extPrice"] = getExtPrice(cart::intOf(*qty));
    }
    if (beforeOrderNum) line["BeforeOrderNum"] = *beforeOrderNum;
    if (overBookingLimit) line["OverBookingLimit"] = *overBookingLimit;
  });
}

json OrderListViewController::newLineFromScannedItem() const {
  const ScannedItem& s = scannedItem_;
  json line = json::object();
  auto put = [&](const char* key, const json& v) { line[key] = itemText(v); };
  put("Kind", s.Kind);
  put("Barcode", s.Code);
  put("Descript", s.Descript);
  put("Ats", s.Ats);
  put("AtsStatus", s.AtsStatus);
  put("Ots", s.Ots);
  put("OtsStatus", s.OtsStatus);
  line["Id"] = "0";
  put("Eta", s.Eta);
  put("EtaForPrint", s.EtaForPrint);
  put("Qty", s.Qty);
  put("Price", s.Price);
  put("OrgPrice", s.OrgPrice);
  put("MinPrice", s.MinPrice);
  line["extPrice"] = getExtPrice(cart::intOf(itemText(s.Qty)));
  put("Sum", s.Sum);
  put("Color", s.Color);
  put("MultiColor", s.MultiColor);
  put("Style", s.Style);
  put("SizeCode", s.SizeCode);
  put("Bundle", s.Bundle);
  put("BeforeOrderNum", s.BeforeOrderNum);
  put("OverBookingMsg", s.OverBookingMsg);
  put("OverBookingLimit", s.OverBookingLimit);
  return line;
}

bool OrderListViewController::AddNewItemIntoOrderListArray() {
  const std::string limit = itemText(scannedItem_.OverBookingLimit);
  if (limit != "False") {
    const int L = cart::intOf(limit);
    if (L < 1) {
      showQty("0");
      scannedItem_.Qty = "0";
      return false;
    }
    scannedItem_.OverBookingLimit = std::to_string(L - 1);
  }
  showQty("1");
  scannedItem_.Qty = txt_Qty_->text();
  InsertNewItemDicIntoOrderListArray(newLineFromScannedItem());
  return true;
}

void OrderListViewController::InsertNewItemDicIntoOrderListArray(json line) {
  cartChanged();
  // Right after the last line of its style, or at the end (as cart::insertAfterStyle).
  const int last = cartIndex_.lastIndexOfStyle(field(line, "Style"));
  cartInsert(last < 0 ? orderListArray_.size() : size_t(last) + 1, std::move(line));
}

void OrderListViewController::UpdateItemQtyInOrderListArray() {
  json line = getItemDicByBarcode(itemText(scannedItem_.Code));
  if (field(line, "NewItem") == "True") return;
  const std::string text = txt_Qty_->text();
  if (text.empty() || text == "0") {
    RemoveCurrentItemFromOrderListArray();
    return;
  }
  // Quantity and limit move together, so that their sum stays what the server allowed.
  const std::string limit = cart::limitAfterQuantityChange(field(line, "OverBookingLimit"),
                                                           cart::intOf(field(line, "Qty")),
                                                           cart::intOf(text));
  updateItemInfo(text, std::nullopt, limit);
}

void OrderListViewController::SaveTempItem() {
  if (isDetailShowing()) UpdateItemQtyInOrderListArray();
}

void OrderListViewController::RemoveCurrentItemFromOrderListArray() {
  editPriceArrayDelete(itemText(scannedItem_.Style), itemText(scannedItem_.Color));
  int i = getItemIdxByBarcode(itemText(scannedItem_.Code));
  if (i >= 0) {
    cartChanged();
    cartErase(size_t(i));
  }
}

void OrderListViewController::btn_NextForSaveItem() {
  if (!IsRowEditMode_) {
    UpdateItemQtyInOrderListArray();
  } else {
    const std::string text = txt_Qty_->text();
    if (text.empty() || text == "0")
      RemoveCurrentItemFromOrderListArray();
    else
      UpdateItemQtyInOrderListArray();
    IsRowEditMode_ = false;
  }
  NavItemBackManualAndCameraForOrderListScan();
  reloadTableInfo();
  if (orvoDelegate_->settings().realtimeSoFlag) updateAllItemsForRealTime();
  OrderDetailView_->setHidden(true);
  txt_Qty_->resignFirstResponder();
}

void OrderListViewController::DeleteCurrentItemByDeleteNavBtn() {
  RemoveCurrentItemFromOrderListArray();
  if (orvoDelegate_->settings().realtimeSoFlag) {
    if (IsRowEditMode_)
      deleteItemForRealTime(orvoDelegate_->globalSO().orderNumber, itemText(scannedItem_.Code));
    else
      updateAllItemsForRealTime();
  }
  if (IsRowEditMode_) {
    IsRowEditMode_ = false;
    startBarcode();
  }
  NavItemBackManualAndCameraForOrderListScan();
  OrderDetailView_->setHidden(true);
  txt_Qty_->resignFirstResponder();
  reloadTableInfo();
}

void OrderListViewController::errorResponseData(const ServiceFailure& failure) {
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  if (failure.notSent) {
    // Nothing was sent and the user has been told; restore as after the prompt's OK.
    yesSoapError();
    return;
  }
  std::string message;
  if (failure.error) {
    const foundation::Error& e = *failure.error;
    if (e.code == net::kUrlErrorCannotConnectToHost || e.code == net::kUrlErrorCannotFindHost)
      message = e.text + "\nPlease check your Server IP.";
    else if (e.code == net::kUrlErrorTimedOut)
      message = e.text + "\nPlease try it again.";
    else
      message = e.text;
  } else {
    message = "Webservice Server Error : " + std::to_string(failure.httpStatus) + "\n Please check your server.";
  }
  AlertView(0, 1, kAppAlertTitle, message, [this] { yesSoapError(); });
}

}  // namespace orvo
