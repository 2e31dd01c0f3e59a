// The order item list: the lines of an existing order loaded for editing or duplicating
// ("GetPrevOrderList"), and the server copy of a duplicate in real-time mode ("InsertDupSO").
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/Values.h"

namespace orvo {

using nlohmann::json;
using cart::field;


void OrderListViewController::GetPrevOrderList() {
  getPrevOrderListSoapFlag_ = true;
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "GetPrevOrderList";
  r.requestMethod = "-[OrderListViewController GetPrevOrderList]";
  r.answerMethod = "-[OrderListViewController GetPrevOrderListResponseData:]";
  r.params = {{"OrderNumber", so.orderNumber},
              SoapParam::integer("PriceEditLevel", so.priceEditLevel),
              {"WH", orvoDelegate_->settings().isStockWHMode ? so.warehouseCode : std::string()}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { GetPrevOrderListResponseData(a); },
                    [this](const ServiceFailure& f) { errorResponseData(f); });
}

void OrderListViewController::GetPrevOrderListResponseData(const RequestAnswer& a) {
  Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();
  bool loaded = false;
  try {
    const auto& answer = a.requireObject();
    if (!answer || !answer->is_object()) throw std::runtime_error("the order answer is no dictionary");
    const json& r = *answer;
    const json& error = foundation::valueForKey(r, "Error");
    if (!r.contains("Error") || !error.is_null()) {
      stopBarcode();
      AlertView(0, 1, kAppAlertTitle, r.contains("Error") ? itemText(error) : std::string(),
                [this] { yesAlertBackFunc(); });
    } else {
      if (!settings.duplicateSoFlag) {
        so.customerID = foundation::textForKey(r, "CustomerId");
        so.storeID = foundation::textForKey(r, "StoreId");
        so.orderDiscountRate = foundation::doubleValue(foundation::valueForKey(r, "CustomerOrderDiscountRate"));
        if (settings.showOrderDiscountRateFromServer > 0) so.orderDiscountRate = settings.showOrderDiscountRateFromServer;
        const std::string level = itemText(foundation::valueForKey(r, "PriceLevel"));
        so.priceLevel = level == " " ? std::string("1") : level;
        if (settings.multiSoFlag) sohCancelDate_ = itemText(foundation::valueForKey(r, "SohCancelDate"));
        SetTopOrderInfoMsg();
      }
      const json& items = foundation::valueForKey(r, "EditOrderItemList");
      std::vector<json> lines;
      if (items.is_array())
        for (const auto& item : items) lines.push_back(cart::lineOfOrderItem(item));
      for (auto& line : lines) {
        // Prices are compared as the texts they are: "12.50" is no edit of "12.50", of "12.5" it is.
        if (field(line, "Price") != field(line, "OrgPrice"))
          editedPriceArray_.push_back(
              {{"Style", field(line, "Style")}, {"Color", field(line, "Color")}, {"EditedPrice", field(line, "Price")}});
        cartInsert(orderListArray_.size(), std::move(line));
      }
      loaded = true;
    }
  } catch (...) {
    getPrevOrderListSoapFlag_ = false;
    throw;
  }
  getPrevOrderListSoapFlag_ = false;
  // The server's copy of a duplicate is made only from an order that loaded.
  if (loaded && settings.realtimeSoFlag && settings.duplicateSoFlag)
    InsertDupSO();
  else
    reloadTableInfo();
}

void OrderListViewController::InsertDupSO() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "InsertDupSO";
  r.requestMethod = "-[OrderListViewController InsertDupSO]";
  r.answerMethod = "-[OrderListViewController InsertDupSOResponseData:]";
  r.params = {{"login", so.loginID},
              {"pDupNum", so.pDupNum},
              {"customerId", so.customerID},
              {"storeId", so.storeID},
              {"priceLevel", so.priceLevel}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { InsertDupSOResponseData(a); },
                    [this](const ServiceFailure& f) { errorResponseData(f); });
}

void OrderListViewController::InsertDupSOResponseData(const RequestAnswer& a) {
  GlobalSO& so = orvoDelegate_->globalSO();
  const auto& answer = a.requireObject();
  // Only a readable answer that does not say "False" gives the copy's number.
  if (answer && answer->is_object() && foundation::textForKey(*answer, "Response") != "False" &&
      !itemText(foundation::valueForKey(*answer, "SO")).empty()) {
    so.orderNumber = itemText(foundation::valueForKey(*answer, "SO"));
  } else {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error",
                             answer && answer->is_object() ? itemText(foundation::valueForKey(*answer, "Error"))
                                                           : std::string("The duplicate order could not be made."));
  }
  reloadTableInfo();
  SetTopOrderInfoMsg();
}

}  // namespace orvo
