#include "testing/backoffice/OrderOperations.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "testing/backoffice/OrderDepthOperations.h"

namespace backoffice {

namespace {

using nlohmann::json;

std::string lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string text(const json& row, const char* key) {
  auto it = row.find(key);
  if (it == row.end() || it->is_null()) return {};
  if (it->is_string()) return it->get<std::string>();
  return it->dump();
}

std::string money(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

// "2026/09/01" as "09/01/2026".
std::string usDate(const std::string& ymd) {
  if (ymd.size() != 10) return ymd;
  return ymd.substr(5, 2) + "/" + ymd.substr(8, 2) + "/" + ymd.substr(0, 4);
}

bool listed(const json& pricing, const char* form, const std::string& code) {
  const json& forms = pricing.value("answerForms", json::object());
  const json& codes = forms.value(form, json::array());
  return std::find(codes.begin(), codes.end(), json(code)) != codes.end();
}

// Parameters: none. Rows "Code", "Descript".
Answer getSoOrderType(const Call&, State& s) {
  json rows = json::array();
  for (const auto& t : s.catalogue.orderTypes)
    rows.push_back({{"Code", text(t, "Code")}, {"Descript", text(t, "Descript")}});
  return rows;
}

// Parameters: none. "ResultValue" is the JSON text of the printers' names in number order.
Answer getPrinterList(const Call&, State& s) {
  json names = json::array();
  for (const auto& p : s.catalogue.printers) names.push_back(text(p, "Name"));
  return json{{"Response", "True"}, {"ResultValue", names.dump()}, {"Error", nullptr}};
}

// Parameter: printerNo. The answer is a sentence, not JSON.
Answer printTestPage(const Call& c, State& s) {
  const std::string& no = c.param("printerNo");
  for (const auto& p : s.catalogue.printers)
    if (text(p, "PrinterNo") == no) return "The test page was sent to printer " + no + " (" + text(p, "Name") + ").";
  return "Printer " + no + " is not set up on the server.";
}

// Parameters: customerName, optionIndex. Scope 0 finds the text anywhere in the name,
// 1 at the start of the code, 2 in the phone number; all ignore case. An empty text finds
// every customer. Nothing found: one row with "Response" "False".
Answer getCustomer(const Call& c, State& s) {
  const std::string key = lower(c.param("customerName"));
  const int scope = std::atoi(c.param("optionIndex").c_str());
  json rows = json::array();
  for (const auto& cu : s.catalogue.customers) {
    std::string field = scope == 1 ? text(cu, "Code") : scope == 2 ? text(cu, "Phone") : text(cu, "Name");
    field = lower(field);
    bool match = key.empty() || (scope == 1 ? field.rfind(key, 0) == 0 : field.find(key) != std::string::npos);
    if (!match) continue;
    double rate = cu.value("OrderDiscountRate", 0.0);
    std::string status = text(cu, "Status");
    rows.push_back({{"Response", "True"},
                    {"Code", text(cu, "Code")},
                    {"Name", text(cu, "Name")},
                    {"Status", status.empty() ? "ACTIVE" : status},
                    {"PriceLevel", text(cu, "PriceLevel")},
                    {"OrderDiscountRate", money(rate)},
                    {"Contact1", text(cu, "Contact1")},
                    {"Phone1", text(cu, "Phone")},
                    {"Address1", text(cu, "Addr1") + ", " + text(cu, "City") + ", " + text(cu, "State")},
                    {"Memo", text(cu, "Memo")},
                    {"Priority", text(cu, "Priority")}});
  }
  if (rows.empty()) rows.push_back({{"Response", "False"}});
  return rows;
}

const json* findCustomer(const State& s, const std::string& code) {
  for (const auto& cu : s.catalogue.customers)
    if (text(cu, "Code") == code) return &cu;
  return nullptr;
}

// Parameter: customerCode. Rows "StoreName", "StoreId", "Addr1"; a customer without stores
// (or an unknown one) gets one row with "Response" "False".
Answer getStoreForCustomer(const Call& c, State& s) {
  json rows = json::array();
  if (const json* cu = findCustomer(s, c.param("customerCode"))) {
    for (const auto& st : cu->value("Stores", json::array()))
      rows.push_back({{"Response", "True"},
                      {"StoreName", text(st, "Name")},
                      {"StoreId", text(st, "StoreId")},
                      {"Addr1", text(st, "City") + ", " + text(st, "State")}});
  }
  if (rows.empty()) rows.push_back({{"Response", "False"}});
  return rows;
}

// The colours of a style as JSON text (["BLK","WHT"]).
std::string styleColors(const json& st) {
  json colors = json::array();
  for (const auto& co : st.value("Colors", json::array())) colors.push_back(text(co, "Color"));
  return colors.dump();
}

// An item code of the catalogue: one size of one colour ("upc"), or a prepack ("bundle").
struct Item {
  const json* style = nullptr;
  std::string kind, color, sizeCode, bundle;
  int sum = 1;
  long ats = 0, ots = 0;
};

bool findItem(const State& s, const std::string& code, Item& out) {
  for (const auto& st : s.catalogue.styles) {
    for (const auto& co : st.value("Colors", json::array()))
      for (const auto& z : co.value("Sizes", json::array()))
        if (text(z, "Barcode") == code) {
          out = {&st, "upc", text(co, "Color"), text(z, "Size"), "", 1, z.value("Ats", 0L), z.value("Ots", 0L)};
          return true;
        }
    for (const auto& pp : st.value("Prepacks", json::array()))
      if (text(pp, "Barcode") == code) {
        const std::string bundle = text(pp, "Bundle");
        const json& colors = s.catalogue.pricing.value("bundleColors", json::object());
        // A prepack made in another colour than its bundle's names that colour itself.
        std::string color = pp.contains("Color") ? text(pp, "Color") : colors.value(bundle, std::string());
        // Packs available: the fewest packs that the stock of each size allows.
        long ats = 1L << 30, ots = 1L << 30;
        const json ratio = pp.value("Ratio", json::array());
        for (const auto& co : st.value("Colors", json::array())) {
          if (text(co, "Color") != color) continue;
          const json& sizes = co.value("Sizes", json::array());
          for (size_t i = 0; i < sizes.size() && i < ratio.size(); ++i) {
            long r = std::max(1L, ratio[i].get<long>());
            ats = std::min(ats, sizes[i].value("Ats", 0L) / r);
            ots = std::min(ots, sizes[i].value("Ots", 0L) / r);
          }
        }
        if (ats == (1L << 30)) ats = ots = 0;
        out = {&st, "bundle", color, text(st, "SizeCode"), bundle, pp.value("Units", 1), ats, ots};
        return true;
      }
  }
  return false;
}

// Parameters: ItemCode, CustomerCode, StoreCode, PriceEditLevel, PriceLevel,
// OrderDiscountRate, DupItemHandlingMode, EditOrderNum, [JsonItemsForRealtime,] WH.
// The price is the style's price of the level less the order discount; "OrgPrice" the
// price of the level. A real-time call whose items start a new order ("NEWSO") gets a new
// order number in "RealTime".
Answer getPrice(const Call& c, State& s) {
  const std::string code = c.param("ItemCode");
  Item item;
  if (!findItem(s, code, item)) return json{{"Error", "Item " + code + " is not found."}};
  const json& st = *item.style;
  const json& pricing = s.catalogue.pricing;

  int level = std::atoi(c.param("PriceLevel").c_str());
  if (level < 1 || level > 5) level = 1;
  const double levelPrice = st.value("Price" + std::to_string(level), 0.0);
  const double rate = std::atof(c.param("OrderDiscountRate").c_str());
  const double price = std::round(levelPrice * (100.0 - rate)) / 100.0;
  const double minPrice = std::round(levelPrice * pricing.value("minPriceRatio", 0.8) * 100.0) / 100.0;

  std::string realTime = c.param("EditOrderNum");
  const std::string& items = c.param("JsonItemsForRealtime");
  if (items.find("\"NEWSO\"") != std::string::npos) realTime = beginRealTimeOrder(s, c, items);

  json overBooking{{"OverBookingMsg", ""}, {"OverBookingLimit", "False"}};
  const json& limits = pricing.value("overBooking", json::object());
  if (auto it = limits.find(code); it != limits.end())
    overBooking = {{"OverBookingMsg", it->value("msg", std::string())},
                   {"OverBookingLimit", std::to_string(it->value("limit", 0))}};

  json before{{"BeforeTotal", 0}, {"BeforeTime", 0}, {"BeforeOrderNum", ""}, {"InvDateAndQty", json::array()}};
  const json& history = pricing.value("history", json::object());
  if (auto cu = history.find(c.param("CustomerCode")); cu != history.end())
    if (auto it = cu->find(code); it != cu->end()) before.update(*it);

  const bool immediate = item.ats > 0;
  const std::string eta = usDate(text(st, immediate ? "AvailDate" : "Eta"));
  const bool numbers = listed(pricing, "numbers", code);
  auto num = [&](double v, bool isMoney) -> json {
    if (numbers) return v;
    return isMoney ? json(money(v)) : json(std::to_string(long(v)));
  };
  json a{{"Error", nullptr},
         {"RealTime", realTime},
         {"Code", code},
         {"Kind", item.kind},
         {"Style", text(st, "Style")},
         {"Color", item.color},
         {"MultiColor", styleColors(st)},
         {"Sum", num(item.sum, false)},
         {"Price", num(price, true)},
         {"OrgPrice", num(levelPrice, true)},
         {"MinPrice", num(minPrice, true)},
         {"Ats", num(double(item.ats), false)},
         {"AtsStatus", item.ats < 0 ? "False" : "True"},
         {"Ots", num(double(item.ots), false)},
         {"OtsStatus", item.ots < 0 ? "False" : "True"},
         {"Eta", eta},
         {"EtaForPrint", immediate ? eta + " (Immediate)" : eta},
         {"SizeCode", item.sizeCode},
         {"Descript", text(st, "Descript")},
         {"BeforeTotal", before["BeforeTotal"]},
         {"BeforeTime", before["BeforeTime"]},
         {"BeforeOrderNum", before["BeforeOrderNum"]},
         {"InvDateAndQtyJson", before["InvDateAndQty"].dump()},
         {"OverBooking", overBooking.dump()},
         {"Bundle", item.bundle.empty() ? json(nullptr) : json(item.bundle)}};
  if (listed(pricing, "nullPrice", code)) a["Price"] = nullptr;
  if (listed(pricing, "missingKeys", code))
    for (const char* k : {"Ats", "AtsStatus", "Ots", "OtsStatus", "OverBooking", "MinPrice", "OrgPrice"}) a.erase(k);
  return a;
}

}  // namespace

std::vector<Operation> orderOperations() {
  using SK = ServiceKind;
  return {
      {"GetSoOrderType", SK::Mobile, {}, getSoOrderType},
      {"GetPrinterList", SK::Mobile, {}, getPrinterList},
      {"PrintTestPage", SK::Mobile, {"printerNo"}, printTestPage},
      {"GetCustomer", SK::Mobile, {"customerName", "optionIndex"}, getCustomer},
      {"GetStoreForCustomer", SK::Mobile, {"customerCode"}, getStoreForCustomer},
      {"GetPrice", SK::Mobile,
       {"ItemCode", "CustomerCode", "StoreCode", "PriceEditLevel", "PriceLevel", "OrderDiscountRate",
        "DupItemHandlingMode", "EditOrderNum", "JsonItemsForRealtime?", "WH"},
       getPrice},
  };
}

}  // namespace backoffice
