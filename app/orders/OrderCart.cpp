#include "app/orders/OrderCart.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include "app/orders/PriceClass.h"
#include "platform/foundation/Values.h"

namespace orvo::cart {

using nlohmann::json;

int intOf(const std::string& text) { return foundation::intValue(std::string_view(text)); }
int intOf(const json& value) { return foundation::intValue(value); }
double doubleOf(const std::string& text) { return foundation::doubleValue(std::string_view(text)); }
double doubleOf(const json& value) { return foundation::doubleValue(value); }

std::string lineText(const json& v) {
  if (v.is_null()) return {};
  return foundation::textValue(v);
}

std::string field(const json& line, const char* key) { return lineText(foundation::valueForKey(line, key)); }

int itemIdxByBarcode(const json& cart, const std::string& code) {
  for (size_t i = 0; i < cart.size(); ++i)
    if (field(cart[i], "Barcode") == code) return int(i);
  return -1;
}

json itemDicByBarcode(const json& cart, const std::string& code) {
  int i = itemIdxByBarcode(cart, code);
  if (i < 0) return json{{"NewItem", "True"}};
  return cart[size_t(i)];
}

int itemIdxByStyle(const json& cart, const std::string& style) {
  for (size_t i = cart.size(); i-- > 0;)
    if (field(cart[i], "Style") == style) return int(i);
  return -1;
}

void insertAfterStyle(json& cart, json line) {
  int i = itemIdxByStyle(cart, field(line, "Style"));
  if (i < 0)
    cart.push_back(std::move(line));
  else
    cart.insert(cart.begin() + (i + 1), std::move(line));
}

std::vector<std::string> styleIndex(const json& cart) {
  std::vector<std::string> out;
  for (const auto& line : cart) {
    std::string s = field(line, "Style");
    bool seen = false;
    for (const auto& t : out) seen = seen || t == s;
    if (!seen) out.push_back(std::move(s));
  }
  return out;
}

std::vector<json> linesOfStyle(const json& cart, const std::string& style) {
  std::vector<json> out;
  for (const auto& line : cart)
    if (field(line, "Style") == style) out.push_back(line);
  return out;
}

long long lineUnits(const json& line) {
  long long qty = intOf(field(line, "Qty"));
  if (field(line, "Kind") == "bundle") qty *= intOf(field(line, "Sum"));
  return qty;
}

long long centsOf(const std::string& text) {
  if (auto c = decimalToCents(text)) return *c;
  return std::llround(doubleOf(text) * 100);
}

std::string extPrice(const std::string& kind, const std::string& price, int sum, int n) {
  const long long units = kind == "bundle" ? static_cast<long long>(sum) * n : n;
  return centsToDecimal(centsOf(price) * units);
}

Totals totals(const json& cart) {
  Totals t;
  for (const auto& line : cart) {
    t.units += lineUnits(line);
    t.cents += centsOf(field(line, "extPrice"));
  }
  return t;
}

OverBooking checkOverBooking(int q, const std::string& limit, int n, bool overBookingMsgShown) {
  OverBooking r;
  r.qty = q;
  r.limit = limit;
  if (limit == "False") {
    r.qty = n;
    r.changed = n != q;
    return r;
  }
  r.limited = true;
  const int L = intOf(limit);
  if (L >= 0 && n <= q + L) {
    r.clearMsg = true;
    r.limit = std::to_string(L - (n - q));
    r.qty = n;
    r.changed = n != q;
  } else if (L < 0 && n > q) {
    r.refused = true;
    r.prompt = true;
  } else if (L < 0) {
    r.qty = n;
    r.changed = n != q;
  } else {
    r.qty = q + L;
    r.limit = std::to_string(0);
    r.changed = r.qty != q;
    r.prompt = !overBookingMsgShown;
  }
  return r;
}

std::string limitAfterQuantityChange(const std::string& limit, int oldQty, int newQty) {
  if (limit == "False" || limit.empty() || newQty == oldQty) return limit;
  return std::to_string(intOf(limit) - (newQty - oldQty));
}

}  // namespace orvo::cart
