// The order item list: the backup of the unfinished order in the user defaults.
#include <nlohmann/json.hpp>

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"

namespace orvo {

using nlohmann::json;

void OrderListViewController::AutoSaveFuncDataSave() {
  auto& d = foundation::UserDefaults::standard();
  GlobalSO& so = orvoDelegate_->globalSO();
  const Settings& settings = orvoDelegate_->settings();
  d.setObject(defaults::backupOrderListArray, orderListArray_);
  d.setObject(defaults::backupEditedPriceArray, editedPriceArray_);
  d.setString(defaults::backupCustomerId, so.customerID);
  d.setString(defaults::backupStoreId, so.storeID);
  d.setString(defaults::backupPriceLevel, so.priceLevel);
  d.setDouble(defaults::backupOrderDiscountRate, so.orderDiscountRate);
  // A duplicate that is not real-time goes on as an order without a number.
  if (settings.duplicateSoFlag && !settings.realtimeSoFlag) so.orderNumber.clear();
  if (!so.orderNumber.empty()) d.setString(defaults::backupOrderNumber, so.orderNumber);
  d.setDate(defaults::backupDateTime, foundation::Clock::current().wallNow());
  d.synchronize();
}

void OrderListViewController::AutoSaveFuncDataLoad() {
  auto& d = foundation::UserDefaults::standard();
  const json lines = d.objectForKey(defaults::backupOrderListArray);
  if (!lines.is_array()) return;
  for (const auto& line : lines) orderListArray_.push_back(line);
  const json prices = d.objectForKey(defaults::backupEditedPriceArray);
  if (prices.is_array())
    for (const auto& e : prices) editedPriceArray_.push_back(e);
  GlobalSO& so = orvoDelegate_->globalSO();
  so.customerID = d.stringForKey(defaults::backupCustomerId).value_or("");
  so.storeID = d.stringForKey(defaults::backupStoreId).value_or("");
  so.priceLevel = d.stringForKey(defaults::backupPriceLevel).value_or("");
  so.orderDiscountRate = d.doubleForKey(defaults::backupOrderDiscountRate);
  so.orderNumber = d.stringForKey(defaults::backupOrderNumber).value_or("");
  reloadTableInfo();
}

}  // namespace orvo
