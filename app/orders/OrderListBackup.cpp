// The order item list: the backup of the unfinished order (OrderBackup). The cart reaches
// it line by line as it changes (cartInsert, cartReplace, cartErase); a save writes the
// order head values that changed and the time, and the whole cart only when the backup
// does not follow this screen's cart yet (the first save, or after a clearing).
#include <nlohmann/json.hpp>

#include "app/core/OrderBackup.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Values.h"

namespace orvo {

using nlohmann::json;

void OrderListViewController::AutoSaveFuncDataSave() {
  OrderBackup& backup = OrderBackup::standard();
  GlobalSO& so = orvoDelegate_->globalSO();
  const Settings& settings = orvoDelegate_->settings();
  const bool fresh = !backup.attached(backupToken_);
  if (fresh) {
    backupToken_ = backup.attach(orderListArray_);
    backupHead_ = json::object();
  }
  json head = json::object();
  head[defaults::backupEditedPriceArray] = editedPriceArray_;
  head[defaults::backupCustomerId] = so.customerID;
  head[defaults::backupStoreId] = so.storeID;
  head[defaults::backupPriceLevel] = so.priceLevel;
  head[defaults::backupOrderDiscountRate] = so.orderDiscountRate;
  // A duplicate that is not real-time goes on as an order without a number.
  if (settings.duplicateSoFlag && !settings.realtimeSoFlag) so.orderNumber.clear();
  if (!so.orderNumber.empty()) head[defaults::backupOrderNumber] = so.orderNumber;
  // Only what changed since the last save is written, with the time of this one.
  json changes = json::object();
  for (const auto& [key, value] : head.items())
    if (fresh || !backupHead_.contains(key) || backupHead_[key] != value) {
      changes[key] = value;
      backupHead_[key] = value;
    }
  changes[defaults::backupDateTime] = foundation::isoDate(foundation::Clock::current().wallNow());
  backup.update(changes);
}

void OrderListViewController::AutoSaveFuncDataLoad() {
  const json stored = OrderBackup::standard().values();
  auto value = [&](const char* key) -> const json& {
    static const json kNull;
    auto it = stored.find(key);
    return it == stored.end() ? kNull : *it;
  };
  const json& lines = value(defaults::backupOrderListArray);
  if (!lines.is_array()) return;
  for (const auto& line : lines) cartInsert(orderListArray_.size(), line);
  const json& prices = value(defaults::backupEditedPriceArray);
  if (prices.is_array())
    for (const auto& e : prices) editedPriceArray_.push_back(e);
  auto text = [&](const char* key) {
    const json& v = value(key);
    return v.is_string() || v.is_number() || v.is_boolean() ? foundation::textValue(v) : std::string();
  };
  GlobalSO& so = orvoDelegate_->globalSO();
  so.customerID = text(defaults::backupCustomerId);
  so.storeID = text(defaults::backupStoreId);
  so.priceLevel = text(defaults::backupPriceLevel);
  so.orderDiscountRate = foundation::doubleValue(value(defaults::backupOrderDiscountRate));
  so.orderNumber = text(defaults::backupOrderNumber);
  reloadTableInfo();
}

}  // namespace orvo
