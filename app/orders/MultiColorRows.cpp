#include "app/orders/MultiColorRows.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app/core/JsonClass.h"
#include "app/orders/OrderCart.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/Values.h"

namespace orvo::multicolor {

using nlohmann::json;
using cart::field;

namespace {

const json& require(const json& element, const char* key) {
  auto it = element.find(key);
  if (it == element.end()) {
    std::string reason = "the row has no \"";
    reason += key;
    reason += '"';
    throw std::runtime_error(reason);
  }
  return *it;
}

std::string textOf(const json& v) { return cart::lineText(v); }

std::string priceOf(const json& v) { return foundation::formatDouble(cart::doubleOf(v), 2); }

}  // namespace

json rowFromAnswer(const json& element) {
  if (!element.is_object()) throw std::runtime_error("a row of the answer is no dictionary");
  json row = json::object();
  row["Kind"] = textOf(require(element, "Kind"));
  row["Barcode"] = textOf(require(element, "Code"));
  for (const char* key : {"Descript", "Eta", "EtaForPrint", "Ats", "AtsStatus", "Ots", "OtsStatus"})
    row[key] = textOf(require(element, key));
  row["Id"] = "0";
  for (const char* key : {"Price", "OrgPrice", "MinPrice"}) row[key] = priceOf(require(element, key));
  for (const char* key : {"Sum", "Color", "Style", "SizeCode", "Bundle", "PrepackInfo", "MultiColor", "BeforeOrderNum",
                          "BeforeTime", "BeforeTotal"})
    row[key] = textOf(require(element, key));
  const json& overBooking = require(element, "OverBooking");
  std::optional<json> ob;
  if (overBooking.is_string()) ob = JsonClass::readJSON(overBooking.get<std::string>());
  if (!ob || !ob->is_object()) throw std::runtime_error("the row's over-booking text is no dictionary");
  row["OverBookingMsg"] = textOf(foundation::valueForKey(*ob, "OverBookingMsg"));
  const json& limit = foundation::valueForKey(*ob, "OverBookingLimit");
  row["OverBookingLimit"] = limit.is_null() ? std::string("False") : textOf(limit);
  return row;
}

std::string storedLimit(const json& row, bool dupItemHandling, bool realTime) {
  const std::string limit = field(row, "OverBookingLimit");
  if (limit == "False") return limit;
  long long adjusted = cart::intOf(limit);
  const int beforeTotal = cart::intOf(field(row, "BeforeTotal"));
  if (dupItemHandling && beforeTotal > 0) adjusted += beforeTotal;
  if (!realTime) adjusted -= cart::intOf(field(row, "Qty"));
  return std::to_string(cart::clampedInt(adjusted));
}

std::optional<int> largestQty(const json& row) {
  const std::string limit = field(row, "OverBookingLimit");
  if (limit == "False") return std::nullopt;
  return cart::clampedInt(static_cast<long long>(cart::intOf(limit)) + cart::intOf(field(row, "Qty")));
}

Booking checkOverBooking(int old, const std::string& limit, int n) {
  Booking b;
  b.result = n;
  if (limit == "False") {
    b.qty = n;
    return b;
  }
  // In 64 bits: a server limit near the largest int must not wrap into "fully booked".
  const long long L = cart::intOf(limit);
  const long long largest = L + old;
  if (n < old) {
    b.qty = n;
    b.limit = std::to_string(cart::clampedInt(L + (old - static_cast<long long>(n))));
  } else if (n == old) {
    // Nothing changes.
  } else if (n <= largest) {
    b.qty = n;
    b.limit = std::to_string(cart::clampedInt(largest - n));
  } else {
    b.warn = true;
    if (largest > 0) {
      b.qty = cart::clampedInt(largest);
      b.limit.emplace(1, '0');
      b.result = cart::clampedInt(largest);
    } else {
      b.qty = 0;
      b.result = 0;
    }
  }
  return b;
}

void updateQty(json& row, const std::optional<std::string>& qty, const std::optional<std::string>& price,
               const std::optional<std::string>& limit) {
  if (qty) {
    row["Qty"] = *qty;
    if (price) row["Price"] = *price;
    const long long pieces = static_cast<long long>(cart::intOf(field(row, "Sum"))) * cart::intOf(*qty);
    row["extPrice"] = centsToDecimal(cart::centsTimes(cart::centsOf(field(row, "Price")), pieces));
  }
  if (limit) row["OverBookingLimit"] = *limit;
}

Totals totals(const json& rows) {
  Totals t;
  for (const auto& row : rows) {
    long long q = cart::intOf(field(row, "Qty"));
    if (field(row, "Kind") == "bundle") q *= cart::intOf(field(row, "Sum"));
    t.qty += q;
    t.cents = cart::centsPlus(t.cents, cart::centsOf(field(row, "extPrice")));
  }
  return t;
}

std::map<std::string, int> prepackRatio(const std::string& prepackInfo) {
  std::map<std::string, int> out;
  if (prepackInfo.empty()) return out;
  json o = json::parse(prepackInfo, nullptr, false);
  if (!o.is_object()) return out;
  for (auto it = o.begin(); it != o.end(); ++it) out[it.key()] = cart::intOf(*it);
  return out;
}

}  // namespace orvo::multicolor
