#include "app/orders/OrderCart.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/core/JsonClass.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/Values.h"

namespace orvo::cart {

using nlohmann::json;

int intOf(const std::string& text) { return foundation::intValue(std::string_view(text)); }
int intOf(const json& value) { return foundation::intValue(value); }
int clampedInt(long long v) {
  return int(std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
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

namespace {

long long clampedCents(double v) {
  constexpr double kLimit = 9.0e18;
  if (!std::isfinite(v)) return 0;
  if (v >= kLimit) return std::numeric_limits<long long>::max();
  if (v <= -kLimit) return std::numeric_limits<long long>::min();
  return std::llround(v);
}

}  // namespace

long long centsOf(const std::string& text) {
  if (auto c = decimalToCents(text)) return *c;
  return clampedCents(doubleOf(text) * 100);
}

long long centsTimes(long long cents, long long n) {
  long long out;
  if (!__builtin_mul_overflow(cents, n, &out)) return out;
  return (cents < 0) != (n < 0) ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
}

long long centsPlus(long long a, long long b) {
  long long out;
  if (!__builtin_add_overflow(a, b, &out)) return out;
  return a < 0 ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
}

std::string extPrice(const std::string& kind, const std::string& price, int sum, int n) {
  const long long units = kind == "bundle" ? static_cast<long long>(sum) * n : n;
  return centsToDecimal(centsTimes(centsOf(price), units));
}

Totals totals(const json& cart) {
  Totals t;
  for (const auto& line : cart) {
    t.units += lineUnits(line);
    t.cents = centsPlus(t.cents, centsOf(field(line, "extPrice")));
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
  const long long L = intOf(limit);
  if (L >= 0 && n <= q + L) {
    r.clearMsg = true;
    r.limit = std::to_string(clampedInt(L - (static_cast<long long>(n) - q)));
    r.qty = n;
    r.changed = n != q;
  } else if (L < 0 && n > q) {
    r.refused = true;
    r.prompt = true;
  } else if (L < 0) {
    r.qty = n;
    r.changed = n != q;
  } else {
    r.qty = clampedInt(q + L);
    r.limit = std::to_string(0);
    r.changed = r.qty != q;
    r.prompt = !overBookingMsgShown;
  }
  return r;
}

std::string limitAfterQuantityChange(const std::string& limit, int oldQty, int newQty) {
  if (limit == "False" || limit.empty() || newQty == oldQty) return limit;
  return std::to_string(clampedInt(static_cast<long long>(intOf(limit)) - (static_cast<long long>(newQty) - oldQty)));
}

// A cart line of an item object of an existing order (23 keys, in their order).
json lineOfOrderItem(const json& item) {
  auto text = [&](const char* key) { return lineText(foundation::valueForKey(item, key)); };
  json line = json::object();
  line["Barcode"] = text("Code");
  for (const char* key : {"Id", "Kind", "Descript", "Ats", "AtsStatus", "Ots", "OtsStatus", "Sum"}) line[key] = text(key);
  const int qty = intOf(foundation::valueForKey(item, "Qty"));
  line["Qty"] = std::to_string(qty);
  // The price as the line keeps it, in cents from the answer's decimal.
  const json& p = foundation::valueForKey(item, "Price");
  const std::string price = centsToDecimal(p.is_number() ? clampedCents(p.get<double>() * 100) : centsOf(text("Price")));
  line["Price"] = price;
  line["OrgPrice"] = text("OrgPrice");
  line["MinPrice"] = text("MinPrice");
  line["extPrice"] = extPrice(text("Kind"), price, intOf(text("Sum")), qty);
  for (const char* key : {"Color", "MultiColor", "Bundle", "Style"}) line[key] = text(key);
  line["Eta"] = text("CancelDate");
  line["EtaForPrint"] = text("CancelDate");
  line["SizeCode"] = text("SizeCode");
  std::string limit = "False", message;
  const json& ob = foundation::valueForKey(item, "OverBooking");
  if (ob.is_string())
    if (auto o = JsonClass::readJSON(ob.get<std::string>()); o && o->is_object()) {
      const json& l = foundation::valueForKey(*o, "OverBookingLimit");
      if (!l.is_null()) limit = lineText(l);
      message = lineText(foundation::valueForKey(*o, "OverBookingMsg"));
    }
  line["OverBookingLimit"] = limit;
  line["OverBookingMsg"] = message;
  return line;
}
// ----- CartIndex

namespace {

const std::string& textOf(const json& line, const char* key, std::string& scratch) {
  const json& v = foundation::valueForKey(line, key);
  if (v.is_string()) return v.get_ref<const std::string&>();
  scratch = lineText(v);
  return scratch;
}

long long clamped(__int128 v) {
  if (v > std::numeric_limits<long long>::max()) return std::numeric_limits<long long>::max();
  if (v < std::numeric_limits<long long>::min()) return std::numeric_limits<long long>::min();
  return static_cast<long long>(v);
}

}  // namespace

CartIndex::Key CartIndex::keyOf(const json& line) {
  std::string a, b;
  Key k;
  k.barcode = textOf(line, "Barcode", a);
  k.style = textOf(line, "Style", b);
  return k;
}

void CartIndex::add(const json& line, int sign) {
  units_ += sign * static_cast<__int128>(lineUnits(line));
  cents_ += sign * static_cast<__int128>(centsOf(field(line, "extPrice")));
}

void CartIndex::assign(const json& cart) {
  keys_.clear();
  units_ = cents_ = 0;
  byStyleValid_ = false;
  if (!cart.is_array()) return;
  keys_.reserve(cart.size());
  for (const auto& line : cart) {
    keys_.push_back(keyOf(line));
    add(line, 1);
  }
}

void CartIndex::insert(std::size_t pos, const json& line) {
  keys_.insert(keys_.begin() + std::ptrdiff_t(std::min(pos, keys_.size())), keyOf(line));
  add(line, 1);
  byStyleValid_ = false;
}

void CartIndex::replace(std::size_t pos, const json& before, const json& after) {
  if (pos >= keys_.size()) return;
  Key k = keyOf(after);
  if (k.style != keys_[pos].style) byStyleValid_ = false;
  keys_[pos] = std::move(k);
  add(before, -1);
  add(after, 1);
}

void CartIndex::erase(std::size_t pos, const json& line) {
  if (pos >= keys_.size()) return;
  keys_.erase(keys_.begin() + std::ptrdiff_t(pos));
  add(line, -1);
  byStyleValid_ = false;
}

int CartIndex::indexOfBarcode(std::string_view code) const {
  for (std::size_t i = 0; i < keys_.size(); ++i)
    if (keys_[i].barcode == code) return int(i);
  return -1;
}

int CartIndex::lastIndexOfStyle(std::string_view style) const {
  for (std::size_t i = keys_.size(); i-- > 0;)
    if (keys_[i].style == style) return int(i);
  return -1;
}

std::vector<std::string> CartIndex::styles() const {
  std::vector<std::string> out;
  std::unordered_map<std::string_view, bool> seen;
  seen.reserve(keys_.size());
  for (const auto& k : keys_)
    if (seen.emplace(k.style, true).second) out.push_back(k.style);
  return out;
}

const std::vector<std::size_t>& CartIndex::linesOfStyle(const std::string& style) const {
  if (!byStyleValid_) {
    byStyle_.clear();
    for (std::size_t i = 0; i < keys_.size(); ++i) byStyle_[keys_[i].style].push_back(i);
    byStyleValid_ = true;
  }
  static const std::vector<std::size_t> kNone;
  auto it = byStyle_.find(style);
  return it == byStyle_.end() ? kNone : it->second;
}

Totals CartIndex::totals() const { return Totals{clamped(units_), clamped(cents_)}; }

}  // namespace orvo::cart
