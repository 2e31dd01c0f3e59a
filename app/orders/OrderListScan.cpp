// The order item list: a code arrives, is priced on the server ("GetPrice"), and passes
// the stock warnings and the earlier-order questions on its way to the save.
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/ScreenRequest.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/OrderScreens.h"
#include "app/orders/ServerValues.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"

namespace orvo {

using nlohmann::json;
using cart::field;

std::string OrderListViewController::itemText(const json& v) const { return cart::lineText(v); }

void OrderListViewController::showQty(const std::string& qty) { txt_Qty_->setText(qty); }

void OrderListViewController::scanedBarcode(const foundation::Notification& note) {
  scanedCode(foundation::textForKey(note.userInfo, kLastBarcode));
}

void OrderListViewController::scanedCode(const std::string& code) {
  if (code.empty() || code == "(null)") return;
  const Settings& settings = orvoDelegate_->settings();
  if (settings.isCameraScannerMode)
    txt_Qty_ = CustomKeyboardClass::SetNumberPadWithCameraScan(self<CameraScanTarget>(), txt_Qty_);
  SaveTempItem();
  if (!settings.realtimeSoFlag) AutoSaveFuncDataSave();

  if (code == beforeBarcode_) {
    if (!isDetailShowing()) {
      OrderDetailView_->setHidden(false);
      NavItemDeleteNext();
      if (!settings.isUpcSizeMode) txt_Qty_->becomeFirstResponder();
    }
    if (usesUpcColourEntry()) {
      // A size item in size mode: its colour and sizes are entered on the grid.
      showQty(itemText(scannedItem_.Qty));
      btn_multiColorFunc();
      return;
    }
    // One more unit or pack of the item on display, without asking the server.
    updateDisplayQtyInOrderView();
    checkAlarmThenSaveItem();
    return;
  }
  beforeBarcode_ = code;
  getPrice();
  txt_Qty_->resignFirstResponder();
}

void OrderListViewController::btn_Manual() {
  // A size grid opened from the search hands its rows back as from the multi-colour button.
  std::weak_ptr<OrderListViewController> weak = self<OrderListViewController>();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      &multiColorToken_, kMultiColorNextBtn, nullptr, [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->updateMultiColorItems(n);
      });
  scannedItem_.initScannedItem();
  orvoDelegate_->globalSO().manualBarcode.clear();
  auto search = makeScreen("StyleInfoTableViewController");
  if (auto* receiver = dynamic_cast<OrderLinesReceiver*>(search.get())) {
    receiver->setIsOrderScanMode(true);
    receiver->setOrderListArray(orderListArray_);
  }
  presentInNewNavigation(*this, search);
}

void OrderListViewController::callManualBarcode() {
  std::string& code = orvoDelegate_->globalSO().manualBarcode;
  std::string pending = code;
  foundation::NotificationCenter::defaultCenter().post(kChangeBarcode, nullptr, json{{kLastBarcode, pending}});
  code.clear();
}

// The real-time order's items for the price request: the head of a new order, the line
// already holding the code (one more of it), or the code alone.
std::string OrderListViewController::jsonItemsForRealtime() const {
  const GlobalSO& so = orvoDelegate_->globalSO();
  nlohmann::ordered_json item;
  if (orderListArray_.empty() && so.orderNumber.empty()) {
    item["NEWSO"] = {{"DivisionCode", so.divisionCode}, {"WarehouseCode", so.warehouseCode},
                     {"LoginUser", so.loginID},         {"CustomerCode", so.customerID},
                     {"StoreCode", so.storeID},         {"OrderType", so.orderTypeCode}};
  } else if (int i = getItemIdxByBarcode(beforeBarcode_); i >= 0) {
    const json& line = orderListArray_[size_t(i)];
    int q = cart::clampedInt(cart::intOf(field(line, "Qty")) + 1LL);
    const std::string limit = field(line, "OverBookingLimit");
    if (limit != "False" && cart::intOf(limit) < 1) --q;
    item[so.orderNumber] = {{"Barcode", field(line, "Barcode")}, {"Qty", std::to_string(q)}, {"Price", field(line, "Price")}};
  } else {
    item[so.orderNumber] = {{"Barcode", beforeBarcode_}};
  }
  return foundation::prettyJson(nlohmann::ordered_json::array({item}));
}

void OrderListViewController::getPrice() {
  stopBarcode();
  const Settings& settings = orvoDelegate_->settings();
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "GetPrice";
  r.requestMethod = "-[OrderListViewController getPrice]";
  r.answerMethod = "-[OrderListViewController getPriceResponseData:]";
  r.params = {{"ItemCode", beforeBarcode_},
              {"CustomerCode", so.customerID},
              {"StoreCode", so.storeID},
              SoapParam::integer("PriceEditLevel", so.priceEditLevel),
              {"PriceLevel", so.priceLevel},
              SoapParam::rate("OrderDiscountRate", so.orderDiscountRate),
              SoapParam::integer("DupItemHandlingMode", settings.dupItemHandlingFlag ? 1 : 0),
              {"EditOrderNum", so.orderNumber}};
  if (settings.realtimeSoFlag) r.params.emplace_back("JsonItemsForRealtime", jsonItemsForRealtime());
  r.params.emplace_back("WH", settings.isStockWHMode ? so.warehouseCode : std::string());
  r.onSendException = [this](const std::exception& e) {
    beforeBarcode_.clear();
    AlertClass::exceptionAlert(self<ui::ViewController>(), "-[OrderListViewController getPrice]", e);
    startBarcode();
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { getPriceResponseData(a); },
                    [this](const ServiceFailure& f) { errorResponseData(f); });
}

namespace {

// A price answer must name the item and its price; anything less cannot become a line.
void requireItemKeys(const json& answer) {
  for (const char* key : {"Code", "Kind", "Style", "Color", "Price", "Sum"}) {
    const json& v = foundation::valueForKey(answer, key);
    if (v.is_null() || (v.is_string() && v.get<std::string>().empty()))
      throw AppException("NSInvalidArgumentException", std::string("GetPrice answer without \"") + key + "\"");
  }
  // Prices and pack sizes must read as numbers before they reach a line or a total: a
  // price of "abc" is not $0, nor "1e400" an infinite one. No price may be negative.
  for (const char* key : {"Price", "OrgPrice", "MinPrice"}) {
    const json& v = foundation::valueForKey(answer, key);
    if (std::string(key) != "Price" && (v.is_null() || (v.is_string() && v.get<std::string>().empty()))) continue;
    if (!server_values::moneyText(v))
      throw AppException("NSInvalidArgumentException",
                         std::string("GetPrice answer: \"") + key + "\" is not a price: " + foundation::textValue(v));
  }
  if (!server_values::countText(foundation::valueForKey(answer, "Sum")))
    throw AppException("NSInvalidArgumentException",
                       "GetPrice answer: \"Sum\" is not a number of units: " +
                           foundation::textValue(foundation::valueForKey(answer, "Sum")));
}

// Prices as the cart holds them: a text as sent, a number with two decimals.
std::string priceText(const json& v) {
  if (v.is_number()) return foundation::formatDouble(v.get<double>(), 2);
  return cart::lineText(v);
}

}  // namespace

void OrderListViewController::getPriceResponseData(const RequestAnswer& a) {
  const Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();
  bool upcColourEntry = false;
  try {
    const auto& object = a.requireObject();
    if (object && !object->is_object())
      throw AppException("NSInvalidArgumentException", "GetPrice answer is not a dictionary");
    if (!object) {
      // Not readable (the reading alert has been shown): the item is not taken, and the
      // item on display keeps its code.
      beforeBarcode_ = itemText(scannedItem_.Code);
      startBarcode();
    } else {
      const json& r = *object;
      const json& error = foundation::valueForKey(r, "Error");
      if (!error.is_null()) {
        stopBarcode();
        AlertView(0, 1, kAppAlertTitle, itemText(error), [this] { yesGetPrice(); });
      } else if (settings.multiSoFlag && !so.orderNumber.empty() &&
                 sohCancelDate_ != foundation::textForKey(r, "Eta")) {
        AlertView(0, 1, kAppAlertTitle,
                  "You can add only ETA[" + sohCancelDate_ + "]\nThis item is ETA[" + foundation::textForKey(r, "Eta") + "]",
                  [this] { yesDiffEtaAlert(); });
        beforeBarcode_.clear();
      } else {
        requireItemKeys(r);
        if (settings.realtimeSoFlag && so.orderNumber.empty()) {
          so.orderNumber = itemText(foundation::valueForKey(r, "RealTime"));
          SetTopOrderInfoMsg();
        }
        auto v = [&](const char* key) { return json(itemText(foundation::valueForKey(r, key))); };
        scannedItem_.initScannedItem();
        scannedItem_.Code = v("Code");
        scannedItem_.Kind = v("Kind");
        scannedItem_.Style = v("Style");
        scannedItem_.Color = v("Color");
        scannedItem_.MultiColor = v("MultiColor");
        scannedItem_.Sum = v("Sum");
        scannedItem_.Price = priceText(foundation::valueForKey(r, "Price"));
        for (const auto& e : editedPriceArray_)
          if (field(e, "Style") == itemText(scannedItem_.Style) && field(e, "Color") == itemText(scannedItem_.Color))
            scannedItem_.Price = foundation::formatDouble(cart::doubleOf(field(e, "EditedPrice")), 2);
        scannedItem_.OrgPrice = priceText(foundation::valueForKey(r, "OrgPrice"));
        scannedItem_.MinPrice = priceText(foundation::valueForKey(r, "MinPrice"));
        scannedItem_.Ats = v("Ats");
        scannedItem_.AtsStatus = v("AtsStatus");
        scannedItem_.Ots = v("Ots");
        scannedItem_.OtsStatus = v("OtsStatus");
        scannedItem_.Eta = v("Eta");
        scannedItem_.EtaForPrint = v("EtaForPrint");
        scannedItem_.SizeCode = v("SizeCode");
        scannedItem_.Descript = v("Descript");
        scannedItem_.BeforeTotal = cart::intOf(foundation::valueForKey(r, "BeforeTotal"));
        scannedItem_.BeforeTime = cart::intOf(foundation::valueForKey(r, "BeforeTime"));
        scannedItem_.BeforeOrderNum = v("BeforeOrderNum");
        scannedItem_.InvDateAndQtyJson = v("InvDateAndQtyJson");
        // The booking limit comes as JSON text of its own; without it the item has none.
        scannedItem_.OverBookingMsg = "";
        scannedItem_.OverBookingLimit = "False";
        const json& overBooking = foundation::valueForKey(r, "OverBooking");
        if (overBooking.is_string())
          if (auto ob = JsonClass::readJSON(overBooking.get<std::string>()); ob && ob->is_object()) {
            scannedItem_.OverBookingMsg = itemText(foundation::valueForKey(*ob, "OverBookingMsg"));
            const json& limit = foundation::valueForKey(*ob, "OverBookingLimit");
            if (!limit.is_null()) scannedItem_.OverBookingLimit = itemText(limit);
          }
        scannedItem_.Bundle = v("Bundle");

        const std::string kind = itemText(scannedItem_.Kind);
        SetStockColorStyle();
        if (kind == "upc") {
          SetUpcLabelStyle();
          scannedItem_.Sum = "1";
        } else if (kind == "bundle") {
          SetBundleLabelStyle();
        }
        lbl_units_->setText(itemText(scannedItem_.Sum));
        lbl_color_->setText(itemText(scannedItem_.Color));
        lbl_sizecode_->setText(itemText(scannedItem_.SizeCode));
        lbl_bundle_->setText(itemText(scannedItem_.Bundle));
        lbl_style_->setText(itemText(scannedItem_.Style));
        lbl_ats_->setText(itemText(scannedItem_.Ats));
        lbl_ots_->setText(itemText(scannedItem_.Ots));
        lbl_cancelDate_->setText(itemText(scannedItem_.EtaForPrint));
        lbl_price_->setText("$" + itemText(scannedItem_.Price));
        PriceClass::SetStyledDiscountPrice(*lbl_price_, itemText(scannedItem_.Price), itemText(scannedItem_.OrgPrice));

        OrderDetailView_->setHidden(false);
        ShowMultiColorBtn();
        NavItemDeleteNext();
        updateDisplayQtyInOrderView();
        upcColourEntry = usesUpcColourEntry();
        if (!upcColourEntry) {
          txt_Qty_->becomeFirstResponder();
          checkAlarmThenSaveItem();
        }
      }
    }
  } catch (const std::exception& e) {
    // Nothing of the answer was taken: the item on display and its code stay as they were.
    beforeBarcode_ = itemText(scannedItem_.Code);
    AlertClass::exceptionAlert(self<ui::ViewController>(), "-[OrderListViewController getPriceResponseData:]", e);
    startBarcode();
  }
  if (settings.realtimeSoFlag) AutoSaveFuncDataSave();
  // The colour entry saves the item itself.
  if (upcColourEntry) btn_multiColorFunc();
}

bool OrderListViewController::usesUpcColourEntry() const {
  return orvoDelegate_->settings().isUpcSizeMode && itemText(scannedItem_.Kind) == "upc";
}

void OrderListViewController::updateDisplayQtyInOrderView() {
  const bool upcSize = usesUpcColourEntry();
  json line = getItemDicByBarcode(itemText(scannedItem_.Code));
  if (field(line, "NewItem") == "True") {
    showQty(upcSize ? "0" : "1");
  } else {
    int q = cart::intOf(field(line, "Qty"));
    showQty(upcSize ? field(line, "Qty") : std::to_string(cart::clampedInt(q + 1LL)));
    scannedItem_.BeforeTotal = 0;
    if (!orvoDelegate_->settings().realtimeSoFlag && itemText(scannedItem_.OverBookingLimit) != "False")
      scannedItem_.OverBookingLimit = field(line, "OverBookingLimit");
  }
  scannedItem_.Qty = txt_Qty_->text();
}

void OrderListViewController::checkAlarmThenSaveItem() {
  std::string message;
  if (negativeStocksAlarmFlag_) {
    if (otsWarningFlag_) {
      if (itemText(scannedItem_.OtsStatus) == "False") message += "This item is negative OTS.";
    } else if (itemText(scannedItem_.AtsStatus) == "False") {
      message += "This item is negative ATS.";
    }
  }
  const std::string overBookingMsg = itemText(scannedItem_.OverBookingMsg);
  if (orvoDelegate_->settings().overBookingFlag && !overBookingMsg.empty()) {
    if (!message.empty()) message += "\n";
    message += overBookingMsg;
    overBookingMsgFlag_ = true;
  }
  if (!message.empty()) {
    stopBarcode();
    AlertView(0, 1, kAppAlertTitle, message, [this] { alertPrevOrderAndDupItemHandling(); });
  } else {
    alertPrevOrderAndDupItemHandling();
  }
}

void OrderListViewController::alertPrevOrderAndDupItemHandling() {
  startBarcode();
  const Settings& settings = orvoDelegate_->settings();
  const int beforeTotal = scannedItem_.BeforeTotal;
  const int beforeTime = scannedItem_.BeforeTime;
  auto save = [this] {
    popupForStopBarcodeFlag_ = false;
    saveItem(false);
  };
  if (!settings.previousOrderFlag && !settings.dupItemHandlingFlag) return save();
  if (beforeTotal < 1) {
    std::string purchases;
    if (auto list = JsonClass::readJSON(itemText(scannedItem_.InvDateAndQtyJson)); list && list->is_array())
      for (const auto& e : *list)
        purchases += foundation::textForKey(e, "InvDate") + " : " + foundation::textForKey(e, "InvBundleQty") + " packs\n";
    if (purchases.empty() || !settings.isPrevOrderNotiWithInvDate) return save();
    stopBarcode();
    AlertView(0, 2, kAppAlertTitle,
              "The customer purchased this item on\n" + purchases + "\n Would you like to purchase again?",
              [this] { yesPrevOrderAlert(); }, [this] { noAlert(); });
    return;
  }
  stopBarcode();
  const std::string t = std::to_string(beforeTime), n = std::to_string(beforeTotal);
  if (settings.dupItemHandlingFlag && itemText(scannedItem_.Kind) == "bundle") {
    std::string message =
        settings.isPrevOrderNotiWithInvDate
            ? "The customer has Open Order(" + t + ") of " + n + " packs\n Would you like to replace?"
            : "The customer has open Sales Order(" + t + ") for the same Style/Color.\n[Qty:" + n +
                  "]\n Do you want to change your quantity for the Style/Color?";
    AlertView(0, 2, kAppAlertTitle, message, [this] { yesDupItemHandlingAlert(); }, [this] { noAlert(); });
    return;
  }
  AlertView(0, 2, kAppAlertTitle,
            "Existing " + std::string(settings.PrevOrderNotiOpenFlag ? "Open " : "") + "Sales Order : " + t +
                " \n Total Qty : " + n + " \n Are you sure you want to order?",
            [this] { yesPrevOrderAlert(); }, [this] { noAlert(); });
}

void OrderListViewController::yesDupItemHandlingAlert() {
  popupForStopBarcodeFlag_ = false;
  if (scannedItem_.BeforeTotal > cart::intOf(itemText(scannedItem_.Qty))) {
    showQty(std::to_string(scannedItem_.BeforeTotal));
    scannedItem_.Qty = txt_Qty_->text();
  }
  saveDupNewItemInOrderListArray();
  const GlobalSO& so = orvoDelegate_->globalSO();
  if (!orvoDelegate_->settings().realtimeSoFlag) {
    saveItem(true);
  } else {
    // The server takes the line with the open order that already holds it; a new order's
    // head goes with it when the order has no number yet.
    std::string head;
    if (so.orderNumber.empty()) {
      nlohmann::ordered_json info;
      info["NEWSO"] = {{"DivisionCode", so.divisionCode}, {"WarehouseCode", so.warehouseCode},
                       {"LoginUser", so.loginID},         {"CustomerCode", so.customerID},
                       {"StoreCode", so.storeID},         {"OrderType", so.orderTypeCode},
                       {"PriceLevel", so.priceLevel}};
      head = foundation::prettyJson(info);
    }
    updateDupItemHandlingForRealTime(so.orderNumber, itemText(scannedItem_.Code), itemText(scannedItem_.Qty),
                                     itemText(scannedItem_.Price), itemText(scannedItem_.BeforeOrderNum), head);
  }
  startBarcode();
}

void OrderListViewController::saveDupNewItemInOrderListArray() {
  if (field(getItemDicByBarcode(itemText(scannedItem_.Code)), "NewItem") != "True") return;
  json line = newLineFromScannedItem();
  line["extPrice"] = getExtPrice(cart::intOf(itemText(scannedItem_.Qty)));
  cartInsert(orderListArray_.size(), std::move(line));
  cartChanged();
}

void OrderListViewController::yesPrevOrderAlert() {
  popupForStopBarcodeFlag_ = false;
  scannedItem_.BeforeTotal = 0;
  scannedItem_.InvDateAndQtyJson = "[]";
  startBarcode();
  txt_Qty_->becomeFirstResponder();
  saveItem(false);
}

void OrderListViewController::noAlert() {
  startBarcode();
  btn_BackOrDeleteFunc();
}

void OrderListViewController::yesDiffEtaAlert() {
  popupForStopBarcodeFlag_ = false;
  startBarcode();
  txt_Qty_->becomeFirstResponder();
}

}  // namespace orvo
