// The order item list: extended prices, fresh stock figures of a line, the stock pop-up
// hand-off, the unit-price editor and the totals.
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/Values.h"

namespace orvo {

using nlohmann::json;
using cart::field;

std::string OrderListViewController::getExtPrice(int qty) const {
  return cart::extPrice(itemText(scannedItem_.Kind), itemText(scannedItem_.Price),
                        cart::intOf(itemText(scannedItem_.Sum)), qty);
}

void OrderListViewController::updateItemStocks(const std::string& code, const std::string& ats,
                                               const std::string& atsStatus, const std::string& ots,
                                               const std::string& otsStatus, const std::string& overBookingMsg,
                                               const std::string& overBookingLimit) {
  int i = getItemIdxByBarcode(code);
  if (i < 0) return;
  json line = orderListArray_[size_t(i)];
  line["Ats"] = ats;
  line["AtsStatus"] = atsStatus;
  line["Ots"] = ots;
  line["OtsStatus"] = otsStatus;
  line["OverBookingMsg"] = overBookingMsg;
  line["OverBookingLimit"] = overBookingLimit;
  if (line != orderListArray_[size_t(i)]) cartReplace(size_t(i), std::move(line));
}

void OrderListViewController::btn_ATS() {
  txt_Qty_->resignFirstResponder();
  auto ats = makeScreen("AtsViewController");
  std::string ordered = txt_Qty_->text().empty() ? "0" : txt_Qty_->text();
  std::string bundle, caption;
  if (itemText(scannedItem_.Kind) == "bundle") {
    bundle = itemText(scannedItem_.Bundle);
    caption = "Bundle  ";
  } else {
    bundle = itemText(scannedItem_.SizeCode);
    caption = "SizeCode  ";
    json sizes = json::array();
    for (const auto& line : orderListArray_)
      if (field(line, "Kind") == "upc" && field(line, "Style") == itemText(scannedItem_.Style) &&
          field(line, "Color") == itemText(scannedItem_.Color))
        sizes.push_back(json{{field(line, "SizeCode"), field(line, "Qty")}});
    ordered = JsonClass::setJSONstringFromObj(sizes);
  }
  if (auto* receiver = dynamic_cast<StockPopupReceiver*>(ats.get())) {
    receiver->setBarcode(itemText(scannedItem_.Code));
    receiver->setStyle(itemText(scannedItem_.Style));
    receiver->setColor(itemText(scannedItem_.Color));
    receiver->setOrderedQty(ordered);
    receiver->setBundle(bundle);
    receiver->setBundle_lbl(caption);
  }
  presentInNewNavigation(*this, ats);
}

void OrderListViewController::btn_EditPrice() {
  const std::string qty = txt_Qty_->text();
  if (qty.empty() || qty == "0") {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "Please check you quantity before edit unit price.");
    return;
  }
  NavNoItemBtnForNoScan("Edit Unit Price");
  if (!IsRowEditMode_) UpdateItemQtyInOrderListArray();
  txt_editPrice_->setText(itemText(scannedItem_.Price));
  editPriceNewFlag_ = true;
  ShowViewWithAnimation(*editPriceView_);
  txt_editPrice_->setKeyboardType(ui::KeyboardType::DecimalPad);
  txt_editPrice_->becomeFirstResponder();
  txt_editPrice_->selectAll();
}

void OrderListViewController::btn_editPriceSave() {
  try {
    const double p = cart::doubleOf(txt_editPrice_->text());
    const double m = cart::doubleOf(itemText(scannedItem_.MinPrice));
    if (p < m) {
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                               "The unit price should be $" + foundation::formatDouble(m, 2) + " or more.");
      txt_editPrice_->setText(itemText(scannedItem_.Price));
      return;
    }
    const std::string price = foundation::formatDouble(p, 2);
    txt_editPrice_->setText(price);
    const std::string style = itemText(scannedItem_.Style), color = itemText(scannedItem_.Color);
    json record{{"Style", style}, {"Color", color}, {"EditedPrice", price}};
    bool found = false;
    for (auto& e : editedPriceArray_)
      if (field(e, "Style") == style && field(e, "Color") == color) {
        editPriceNewFlag_ = false;
        e = record;
        found = true;
        break;
      }
    if (!found) editedPriceArray_.push_back(record);
    scannedItem_.Price = price;
    lbl_price_->setText("$" + price);
    PriceClass::SetStyledDiscountPrice(*lbl_price_, price, itemText(scannedItem_.OrgPrice));
    setEditPriceOrderListArray();
    txt_editPrice_->resignFirstResponder();
    if (orvoDelegate_->settings().realtimeSoFlag)
      updateItemInfoForRealTime(orvoDelegate_->globalSO().orderNumber, itemText(scannedItem_.Code), price,
                                txt_Qty_->text());
    editPriceView_->setHidden(true);
    if (IsRowEditMode_)
      NavItemDeleteNextForEdit();
    else
      NavItemDeleteNextForScan();
    reloadTableInfo();
  } catch (const std::exception& e) {
    AlertClass::exceptionAlert(self<ui::ViewController>(), "-[OrderListViewController btn_editPriceSave:]", e);
    txt_editPrice_->setText(itemText(scannedItem_.Price));
  }
}

void OrderListViewController::btn_editPriceClose() { closeEditPriceView(); }

void OrderListViewController::closeEditPriceView() {
  if (IsRowEditMode_)
    NavItemDeleteNextForEdit();
  else
    NavItemDeleteNextForScan();
  txt_editPrice_->resignFirstResponder();
  HideViewWithAnimation(*editPriceView_);
  txt_Qty_->becomeFirstResponder();
}

void OrderListViewController::setEditPriceOrderListArray() {
  for (const auto& e : editedPriceArray_) {
    const std::string style = field(e, "Style"), color = field(e, "Color"), price = field(e, "EditedPrice");
    const std::vector<size_t> ofStyle = cartIndex_.linesOfStyle(style);
    for (size_t i : ofStyle) {
      const json& current = orderListArray_[i];
      if (field(current, "Color") != color) continue;
      if (field(current, "Price") != price) cartChanged();
      json line = current;
      line["Price"] = price;
      line["extPrice"] = cart::extPrice(field(line, "Kind"), price, cart::intOf(field(line, "Sum")),
                                        cart::intOf(field(line, "Qty")));
      if (line != current) cartReplace(i, std::move(line));
    }
  }
}

void OrderListViewController::editPriceArrayDelete(const std::string& style, const std::string& color) {
  for (size_t i = editedPriceArray_.size(); i-- > 0;)
    if (field(editedPriceArray_[i], "Style") == style && field(editedPriceArray_[i], "Color") == color) {
      editedPriceArray_.erase(editedPriceArray_.begin() + long(i));
      break;
    }
  beforeBarcode_.clear();
}

void OrderListViewController::getTotal() {
  const cart::Totals t = cartIndex_.totals();
  GlobalSO& so = orvoDelegate_->globalSO();
  so.orderTotalQty = std::to_string(t.units);
  so.orderTotalExtPrice = centsToDecimal(t.cents);
  lbl_tUnites_->setText(PriceClass::stringToComma(so.orderTotalQty));
  lbl_tPrice_->setText(PriceClass::stringToCurrency(so.orderTotalExtPrice));
  AutoSaveFuncDataSave();
}

}  // namespace orvo
