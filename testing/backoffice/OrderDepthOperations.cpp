#include "testing/backoffice/OrderDepthOperations.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace backoffice {

namespace {

using nlohmann::json;

json failure(const std::string& text) { return {{"Response", "False"}, {"Error", text}}; }

std::string text(const json& row, const char* key) {
  auto it = row.find(key);
  if (it == row.end() || it->is_null()) return {};
  if (it->is_string()) return it->get<std::string>();
  return it->dump();
}

std::string now() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%m/%d/%Y %H:%M:%S", &tm);
  return b;
}

const json* findCustomer(const State& s, const std::string& code) {
  for (const auto& cu : s.catalogue.customers)
    if (text(cu, "Code") == code) return &cu;
  return nullptr;
}

// The "GetPrice" answer for `code` as the given customer, store and price level would get
// it; an object with "Error" when the code is not known.
json priceOf(State& s, const std::string& code, const std::string& customer, const std::string& store,
             const std::string& priceLevel, const std::string& discountRate = "0") {
  Call c{"GetPrice",
         {{"ItemCode", code},
          {"CustomerCode", customer},
          {"StoreCode", store},
          {"PriceEditLevel", "0"},
          {"PriceLevel", priceLevel},
          {"OrderDiscountRate", discountRate},
          {"DupItemHandlingMode", "0"},
          {"EditOrderNum", ""},
          {"WH", ""}}};
  const Operation* op = findOperation(ServiceKind::Mobile, "GetPrice");
  Answer a = op->handler(c, s);
  if (auto* j = std::get_if<json>(&a)) return *j;
  return json{{"Error", "no price"}};
}

// A new order record of the same form as a saved one, without lines.
json newOrder(const std::string& number, const json& head) {
  const std::string stamp = now();
  json header = json::object();
  for (const char* name : {"canceldate", "shipdate", "term", "paymentcode", "shipvia", "ordertype", "email1", "phone1",
                           "pono", "soHold", "customerPriority", "memo", "salesRepCode"})
    header[name] = "";
  header["ordertype"] = text(head, "OrderType");
  return json{{"OrderNumber", number},
              {"RealTime", true},
              {"LoginId", text(head, "LoginUser")},
              {"DivisionCode", text(head, "DivisionCode")},
              {"WarehouseCode", text(head, "WarehouseCode")},
              {"PriceLevel", text(head, "PriceLevel")},
              {"CustomerId", text(head, "CustomerCode")},
              {"StoreId", text(head, "StoreCode")},
              {"PDupNum", ""},
              {"Header", header},
              {"Items", json::array()},
              {"OrderDate", stamp},
              {"UpdateDate", stamp},
              {"Signature", ""},
              {"PrintCount", 0},
              {"Printed", json::array()},
              {"Emailed", json::array()}};
}

std::string createOrder(State& s, const json& head) {
  const std::string number = std::to_string(s.nextSalesOrder++);
  s.salesOrders[number] = newOrder(number, head);
  return number;
}

json* findOrder(State& s, const std::string& number) {
  if (number.empty() || !s.salesOrders.contains(number)) return nullptr;
  return &s.salesOrders[number];
}

// A line as the order keeps it: the code's style, colour, size and prepack, and what the
// device sent.
json orderLine(State& s, const json& order, const std::string& code, const std::string& qty, const std::string& price) {
  const json p = priceOf(s, code, text(order, "CustomerId"), text(order, "StoreId"), text(order, "PriceLevel"));
  return json{{"Barcode", code},
              {"Style", text(p, "Style")},
              {"Color", text(p, "Color")},
              {"SizeCode", text(p, "SizeCode")},
              {"Prepack", text(p, "Kind") == "bundle" ? text(p, "Bundle") : std::string()},
              {"Qty", qty},
              {"Price", price}};
}

// Puts `line` in place of the order's line of the same code, or at the end.
void upsertLine(json& order, json line) {
  json& items = order["Items"];
  for (auto& l : items)
    if (text(l, "Barcode") == text(line, "Barcode")) {
      l = std::move(line);
      order["UpdateDate"] = now();
      return;
    }
  items.push_back(std::move(line));
  order["UpdateDate"] = now();
}

// The stock figures of `code` for the order's customer: "Ats", "AtsStatus", "Ots",
// "OtsStatus" and "OverBooking" (JSON text of its own).
json stocksOf(State& s, const json& order, const std::string& code) {
  const json p = priceOf(s, code, text(order, "CustomerId"), text(order, "StoreId"), text(order, "PriceLevel"));
  return json{{"Ats", text(p, "Ats")},
              {"AtsStatus", text(p, "AtsStatus")},
              {"Ots", text(p, "Ots")},
              {"OtsStatus", text(p, "OtsStatus")},
              {"OverBooking", p.contains("OverBooking") ? text(p, "OverBooking")
                                                        : R"({"OverBookingMsg":"","OverBookingLimit":"False"})"}};
}

const json* findStyle(const State& s, const std::string& style) {
  for (const auto& st : s.catalogue.styles)
    if (text(st, "Style") == style) return &st;
  return nullptr;
}

// Parameters: Type, Color, Style, CustomerCode, StoreCode, PriceEditLevel, PriceLevel,
// OrderDiscountRate, DupItemMode, EditOrderNum, OrderList, WH. One row per prepack of the
// style in each of its colours ("bundle"), or per size of the colour (any other type). A
// style with prepacks gives its size rows the first prepack's ratio ("PrepackInfo").
Answer getMultiColorList(const Call& c, State& s) {
  json rows = json::array();
  const json* st = findStyle(s, c.param("Style"));
  if (!st) return rows;
  std::vector<std::string> codes;
  const json& prepacks = st->value("Prepacks", json::array());
  std::string prepackInfo;
  if (c.param("Type") == "bundle") {
    for (const auto& pp : prepacks) codes.push_back(text(pp, "Barcode"));
  } else {
    for (const auto& co : st->value("Colors", json::array()))
      if (text(co, "Color") == c.param("Color"))
        for (const auto& z : co.value("Sizes", json::array())) codes.push_back(text(z, "Barcode"));
    if (!prepacks.empty()) {
      json ratio = json::object();
      const json& sizes = st->value("SizeList", json::array());
      const json& r = prepacks[0].value("Ratio", json::array());
      for (size_t i = 0; i < sizes.size() && i < r.size(); ++i) ratio[sizes[i].get<std::string>()] = r[i];
      prepackInfo = ratio.dump();
    }
  }
  for (const auto& code : codes) {
    const json p = priceOf(s, code, c.param("CustomerCode"), c.param("StoreCode"), c.param("PriceLevel"),
                           c.param("OrderDiscountRate"));
    if (p.contains("Error") && !p["Error"].is_null()) continue;
    json row = json::object();
    for (const char* key : {"Kind", "Code", "Descript", "Eta", "EtaForPrint", "Ats", "AtsStatus", "Ots", "OtsStatus",
                            "Price", "OrgPrice", "MinPrice", "Sum", "Color", "Style", "SizeCode", "Bundle"})
      row[key] = p.contains(key) && !p[key].is_null() ? p[key] : json("");
    row["PrepackInfo"] = prepackInfo;
    row["MultiColor"] = text(p, "MultiColor");
    row["BeforeOrderNum"] = text(p, "BeforeOrderNum");
    row["BeforeTime"] = text(p, "BeforeTime");
    row["BeforeTotal"] = text(p, "BeforeTotal");
    row["OverBooking"] = p.contains("OverBooking") ? p["OverBooking"]
                                                   : json(R"({"OverBookingMsg":"","OverBookingLimit":"False"})");
    rows.push_back(std::move(row));
  }
  return rows;
}

// Parameters: OrderNumber, PriceEditLevel, WH. The saved (or real-time) order's head and
// lines; an order that is not known answers its "Error".
Answer getPrevOrderList(const Call& c, State& s) {
  json* order = findOrder(s, c.param("OrderNumber"));
  if (!order) return json{{"Error", "SO# " + c.param("OrderNumber") + " is not found."}};
  const json* cu = findCustomer(s, text(*order, "CustomerId"));
  const std::string level = text(*order, "PriceLevel");
  json lines = json::array();
  int id = 1;
  const json& header = (*order)["Header"];
  for (const auto& item : (*order)["Items"]) {
    const std::string code = text(item, "Barcode");
    const json p = priceOf(s, code, text(*order, "CustomerId"), text(*order, "StoreId"), level);
    json line{{"Code", code}, {"Id", std::to_string(id++)}};
    for (const char* key : {"Kind", "Descript", "Ats", "AtsStatus", "Ots", "OtsStatus", "Sum"}) line[key] = text(p, key);
    line["Qty"] = text(item, "Qty");
    line["Price"] = item.contains("Price") ? item["Price"] : json("");
    for (const char* key : {"OrgPrice", "MinPrice", "Color", "MultiColor", "Bundle", "Style"}) line[key] = text(p, key);
    const std::string cancel = text(header, "canceldate");
    line["CancelDate"] = cancel.empty() ? text(p, "EtaForPrint") : cancel;
    line["SizeCode"] = text(p, "SizeCode");
    line["OverBooking"] = p.contains("OverBooking") ? text(p, "OverBooking")
                                                    : R"({"OverBookingMsg":"","OverBookingLimit":"False"})";
    lines.push_back(std::move(line));
  }
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.2f", cu ? cu->value("OrderDiscountRate", 0.0) : 0.0);
  return json{{"Error", nullptr},
              {"CustomerId", text(*order, "CustomerId")},
              {"StoreId", text(*order, "StoreId")},
              {"CustomerOrderDiscountRate", rate},
              {"PriceLevel", level.empty() ? " " : level},
              {"SohCancelDate", text(header, "canceldate")},
              {"EditOrderItemList", lines}};
}

// Parameters: login, pDupNum, customerId, storeId, priceLevel. A real-time copy of order
// `pDupNum` for the customer and store; "SO" is its number.
Answer insertDupSO(const Call& c, State& s) {
  json* from = findOrder(s, c.param("pDupNum"));
  if (!from) return failure("SO# " + c.param("pDupNum") + " is not found.");
  if (!findCustomer(s, c.param("customerId"))) return failure("Customer " + c.param("customerId") + " is not found.");
  const json items = (*from)["Items"];
  const std::string division = text(*from, "DivisionCode"), warehouse = text(*from, "WarehouseCode");
  const std::string number = createOrder(s, {{"DivisionCode", division},
                                             {"WarehouseCode", warehouse},
                                             {"LoginUser", c.param("login")},
                                             {"CustomerCode", c.param("customerId")},
                                             {"StoreCode", c.param("storeId")},
                                             {"PriceLevel", c.param("priceLevel")}});
  json& order = s.salesOrders[number];
  order["PDupNum"] = c.param("pDupNum");
  order["Items"] = items;
  return json{{"Response", "True"}, {"SO", number}, {"Error", ""}};
}

// Parameter: JsonSOHinfo. The bare number of the new order, or "0" when its head cannot be
// read or names an unknown customer.
Answer getNewSOnumberWithSOH(const Call& c, State& s) {
  json head = json::parse(c.param("JsonSOHinfo"), nullptr, false);
  if (!head.is_object() || !findCustomer(s, text(head, "CustomerCode"))) return std::string("0");
  return createOrder(s, head);
}

// Parameters: OrderNum, JsonItemsForRealtime, WH. The order's lines become the ones sent;
// "Stocks" holds each code's figures.
Answer updateAllItemsForRealTime(const Call& c, State& s) {
  const std::string number = c.param("OrderNum");
  json* order = findOrder(s, number);
  if (!order) return failure("SO# " + number + " is not found.");
  json sent = json::parse(c.param("JsonItemsForRealtime"), nullptr, false);
  if (!sent.is_array()) return failure("The order items could not be read.");
  json items = json::array();
  json stocks = json::object();
  for (const auto& e : sent) {
    if (!e.is_object() || !e.contains(number) || !e[number].is_object()) return failure("An item is not of SO# " + number + ".");
    const json& l = e[number];
    json line = orderLine(s, *order, text(l, "Barcode"), text(l, "Qty"), text(l, "Price"));
    if (l.contains("DupItemHandling")) line["DupItemHandling"] = text(l, "DupItemHandling");
    if (l.contains("BeforeOrderNum")) line["BeforeOrderNum"] = text(l, "BeforeOrderNum");
    stocks[text(l, "Barcode")] = stocksOf(s, *order, text(l, "Barcode")).dump();
    items.push_back(std::move(line));
  }
  (*order)["Items"] = std::move(items);
  (*order)["UpdateDate"] = now();
  return json{{"Response", "True"}, {"Stocks", stocks.dump()}};
}

// Parameters: OrderNumber, Barcode, Price, Qty, WH.
Answer updateItemInfoForRealTime(const Call& c, State& s) {
  json* order = findOrder(s, c.param("OrderNumber"));
  if (!order) return failure("SO# " + c.param("OrderNumber") + " is not found.");
  upsertLine(*order, orderLine(s, *order, c.param("Barcode"), c.param("Qty"), c.param("Price")));
  return json{{"Response", "True"}, {"Stocks", stocksOf(s, *order, c.param("Barcode")).dump()}};
}

// Parameters: OrderNumber, Barcode.
Answer deleteItemForRealTime(const Call& c, State& s) {
  json* order = findOrder(s, c.param("OrderNumber"));
  if (!order) return failure("SO# " + c.param("OrderNumber") + " is not found.");
  json kept = json::array();
  for (const auto& l : (*order)["Items"])
    if (text(l, "Barcode") != c.param("Barcode")) kept.push_back(l);
  (*order)["Items"] = std::move(kept);
  (*order)["UpdateDate"] = now();
  return json{{"Response", "True"}};
}

// Parameters: OrderNumber, Barcode, Qty, Price, PrevOrderNum, NewSOinfo, WH. Without an
// order number the head in "NewSOinfo" ({"NEWSO": {...}}) makes the order first.
Answer updateDupItemHandlingForRealTime(const Call& c, State& s) {
  std::string number = c.param("OrderNumber");
  if (number.empty()) {
    json info = json::parse(c.param("NewSOinfo"), nullptr, false);
    if (!info.is_object() || !info.contains("NEWSO")) return failure("The new order's head could not be read.");
    number = createOrder(s, info["NEWSO"]);
  }
  json* order = findOrder(s, number);
  if (!order) return failure("SO# " + number + " is not found.");
  json line = orderLine(s, *order, c.param("Barcode"), c.param("Qty"), c.param("Price"));
  line["DupItemHandling"] = "true";
  line["BeforeOrderNum"] = c.param("PrevOrderNum");
  upsertLine(*order, std::move(line));
  json answer = stocksOf(s, *order, c.param("Barcode"));
  answer["Response"] = "True";
  answer["OrderNumber"] = number;
  return answer;
}

// Parameter: OrderNumber.
Answer deleteSoForRealTime(const Call& c, State& s) {
  if (!findOrder(s, c.param("OrderNumber"))) return failure("SO# " + c.param("OrderNumber") + " is not found.");
  s.salesOrders.erase(c.param("OrderNumber"));
  return json{{"Response", "True"}};
}

}  // namespace

std::string beginRealTimeOrder(State& s, const Call& priceCall, const std::string& itemsText) {
  json head = json::object();
  json items = json::parse(itemsText, nullptr, false);
  if (items.is_array() && !items.empty() && items[0].is_object() && items[0].contains("NEWSO"))
    head = items[0]["NEWSO"];
  if (!head.contains("PriceLevel")) head["PriceLevel"] = priceCall.param("PriceLevel");
  return createOrder(s, head);
}

std::vector<Operation> orderDepthOperations() {
  using SK = ServiceKind;
  return {
      {"GetMultiColorList", SK::Mobile,
       {"Type", "Color", "Style", "CustomerCode", "StoreCode", "PriceEditLevel", "PriceLevel", "OrderDiscountRate",
        "DupItemMode", "EditOrderNum", "OrderList", "WH"},
       getMultiColorList},
      {"GetPrevOrderList", SK::Mobile, {"OrderNumber", "PriceEditLevel", "WH"}, getPrevOrderList},
      {"InsertDupSO", SK::Mobile, {"login", "pDupNum", "customerId", "storeId", "priceLevel"}, insertDupSO},
      {"GetNewSOnumberWithSOH", SK::Mobile, {"JsonSOHinfo"}, getNewSOnumberWithSOH},
      {"UpdateAllItemsForRealTime", SK::Mobile, {"OrderNum", "JsonItemsForRealtime", "WH"}, updateAllItemsForRealTime},
      {"UpdateItemInfoForRealTime", SK::Mobile, {"OrderNumber", "Barcode", "Price", "Qty", "WH"},
       updateItemInfoForRealTime},
      {"DeleteItemForRealTime", SK::Mobile, {"OrderNumber", "Barcode"}, deleteItemForRealTime},
      {"UpdateDupItemHandlingForRealTime", SK::Mobile,
       {"OrderNumber", "Barcode", "Qty", "Price", "PrevOrderNum", "NewSOinfo", "WH"},
       updateDupItemHandlingForRealTime},
      {"DeleteSoForRealTime", SK::Mobile, {"OrderNumber"}, deleteSoForRealTime},
  };
}

}  // namespace backoffice
