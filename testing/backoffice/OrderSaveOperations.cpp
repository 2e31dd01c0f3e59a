#include "testing/backoffice/OrderSaveOperations.h"

#include "testing/backoffice/DocumentOperations.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

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

std::string money(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

std::string now() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%m/%d/%Y %H:%M:%S", &tm);
  return b;
}

std::vector<std::string> splitNumbers(const std::string& numbers) {
  std::vector<std::string> out;
  std::stringstream in(numbers);
  for (std::string part; std::getline(in, part, ',');) out.push_back(part);
  return out;
}

const json* findCustomer(const State& s, const std::string& code) {
  for (const auto& cu : s.catalogue.customers)
    if (text(cu, "Code") == code) return &cu;
  return nullptr;
}

// Units of one line: a prepack's units, else 1.
int unitsOf(const State& s, const std::string& barcode) {
  for (const auto& st : s.catalogue.styles)
    for (const auto& pp : st.value("Prepacks", json::array()))
      if (text(pp, "Barcode") == barcode) return pp.value("Units", 1);
  return 1;
}

struct Totals {
  long qty = 0;
  double ext = 0;
};

Totals totalsOf(const State& s, const json& items) {
  Totals t;
  for (const auto& line : items) {
    const long qty = std::atol(text(line, "Qty").c_str()) * unitsOf(s, text(line, "Barcode"));
    t.qty += qty;
    t.ext += double(qty) * std::atof(text(line, "Price").c_str());
  }
  return t;
}

// The header elements every save carries, by element name.
const std::vector<std::string>& headerNames() {
  static const std::vector<std::string> names = {"canceldate", "shipdate", "term",  "paymentcode", "shipvia",
                                                 "ordertype",  "email1",   "phone1", "pono",       "soHold",
                                                 "customerPriority", "memo", "salesRepCode"};
  return names;
}

json headerOf(const Call& c) {
  json h = json::object();
  for (const auto& name : headerNames()) h[name] = c.param(name);
  return h;
}

// Reads the items text; nothing when it is not a JSON array.
std::optional<json> itemsOf(const std::string& itemsText) {
  json items = json::parse(itemsText, nullptr, false);
  if (!items.is_array()) return std::nullopt;
  return items;
}

json saveAnswer(const std::string& numbers, const Totals& t) {
  return json{{"Error", nullptr},
              {"OrderNumber", numbers},
              {"Id", "1"},
              {"TotalQty", std::to_string(t.qty)},
              {"TotalExtPrice", money(t.ext)}};
}

// Parameters: multiSO, priceLevel, divisionCode, warehouseCode, loginId, customerCode, store,
// the header, pdupnum, orderitems.
Answer insertOrder(const Call& c, State& s) {
  auto items = itemsOf(c.param("orderitems"));
  if (!items) return json{{"Error", "The order items could not be read."}};
  if (items->empty()) return json{{"Error", "The order has no items."}};
  if (!findCustomer(s, c.param("customerCode")))
    return json{{"Error", "Customer " + c.param("customerCode") + " is not found."}};
  // Multi SO: one order per style, in the order the styles first come.
  std::vector<json> groups;
  if (c.param("multiSO") == "1") {
    std::vector<std::string> styles;
    for (const auto& line : *items) {
      const std::string style = text(line, "Style");
      size_t at = 0;
      while (at < styles.size() && styles[at] != style) ++at;
      if (at == styles.size()) {
        styles.push_back(style);
        groups.push_back(json::array());
      }
      groups[at].push_back(line);
    }
  } else {
    groups.push_back(*items);
  }
  std::string numbers;
  const std::string stamp = now();
  for (auto& group : groups) {
    const std::string number = std::to_string(s.nextSalesOrder++);
    json order{{"OrderNumber", number},
               {"LoginId", c.param("loginId")},
               {"DivisionCode", c.param("divisionCode")},
               {"WarehouseCode", c.param("warehouseCode")},
               {"PriceLevel", c.param("priceLevel")},
               {"CustomerId", c.param("customerCode")},
               {"StoreId", c.param("store")},
               {"PDupNum", c.param("pdupnum")},
               {"Header", headerOf(c)},
               {"Items", group},
               {"InsertedOrderType", c.param("ordertype")},
               {"InsertedMemo", c.param("memo")},
               {"InsertedTotalQty", std::to_string(totalsOf(s, *items).qty)},
               {"InsertedTotalExtPrice", money(totalsOf(s, *items).ext)},
               {"OrderDate", stamp},
               {"UpdateDate", stamp},
               {"Signature", ""},
               {"PrintCount", 0},
               {"Printed", json::array()},
               {"Emailed", json::array()}};
    s.salesOrders[number] = std::move(order);
    numbers += (numbers.empty() ? "" : ",") + number;
  }
  return saveAnswer(numbers, totalsOf(s, *items));
}

// Parameters: orderNumber, loginId, the header, editorderitems.
Answer editOrder(const Call& c, State& s) {
  auto it = s.salesOrders.find(c.param("orderNumber"));
  if (it == s.salesOrders.end()) return json{{"Error", "SO# " + c.param("orderNumber") + " is not found."}};
  auto items = itemsOf(c.param("editorderitems"));
  if (!items) return json{{"Error", "The order items could not be read."}};
  (*it)["Header"] = headerOf(c);
  (*it)["Items"] = *items;
  (*it)["UpdateDate"] = now();
  json answer = saveAnswer(c.param("orderNumber"), totalsOf(s, *items));
  answer["CustomerId"] = (*it)["CustomerId"];
  answer["StoreId"] = (*it)["StoreId"];
  return answer;
}

// Parameters: orderNumber, loginId, the header.
Answer editOrderInfo(const Call& c, State& s) {
  auto it = s.salesOrders.find(c.param("orderNumber"));
  if (it == s.salesOrders.end()) return failure("SO# " + c.param("orderNumber") + " is not found.");
  (*it)["Header"] = headerOf(c);
  (*it)["UpdateDate"] = now();
  return json{{"Response", "True"}, {"Error", ""}};
}

// Parameters: loginId, divisionCode, customerId, storeId, pDupNum, orderType, memo, totalQty,
// totalExtPrice. The bare text "FALSE", or the numbers of the matching orders. An order is
// matched by what its insert carried, so a later edit of it does not hide it.
Answer checkOrderProcessing(const Call& c, State& s) {
  json numbers = json::array();
  for (const auto& [number, o] : s.salesOrders.items()) {
    const json& h = o["Header"];
    const std::string orderType = o.contains("InsertedOrderType") ? text(o, "InsertedOrderType") : text(h, "ordertype");
    const std::string memo = o.contains("InsertedMemo") ? text(o, "InsertedMemo") : text(h, "memo");
    if (text(o, "LoginId") == c.param("loginId") && text(o, "DivisionCode") == c.param("divisionCode") &&
        text(o, "CustomerId") == c.param("customerId") && text(o, "StoreId") == c.param("storeId") &&
        text(o, "PDupNum") == c.param("pDupNum") && orderType == c.param("orderType") &&
        memo == c.param("memo") && text(o, "InsertedTotalQty") == c.param("totalQty") &&
        text(o, "InsertedTotalExtPrice") == c.param("totalExtPrice"))
      numbers.push_back(number);
  }
  if (numbers.empty()) return std::string("FALSE");
  return numbers;
}

json headerAnswer(json row) { return json::array({std::move(row)}); }

// Parameters: customerID, divisionCode, orderItems. The customer's defaults.
Answer getOrderInfo(const Call& c, State& s) {
  const json* cu = findCustomer(s, c.param("customerID"));
  if (!cu) return json::array();
  return headerAnswer({{"Canceldate", "09/30/2026"},
                       {"Shipdate", "09/01/2026"},
                       {"Email1", text(*cu, "Email")},
                       {"Phone1", text(*cu, "Phone")},
                       {"Paymentcode", cu->contains("PaymentCode") ? text(*cu, "PaymentCode") : "CHK"},
                       {"Shipvia", cu->contains("ShipVia") ? text(*cu, "ShipVia") : "UPS"},
                       {"Term", text(*cu, "Terms")},
                       {"SalesRepCode", cu->contains("SalesRep") ? text(*cu, "SalesRep") : "R1"},
                       {"CustomerPriority", text(*cu, "Priority")},
                       {"Status", "Open"},
                       {"Po", ""},
                       {"Ordertype", ""},
                       {"Memo", ""},
                       {"CcSign", ""}});
}

// Parameters: orderNumber, divisionCode, orderItems. The saved header; an empty memo is null.
Answer getBeforeOrderInfo(const Call& c, State& s) {
  auto it = s.salesOrders.find(c.param("orderNumber"));
  if (it == s.salesOrders.end()) return json::array();
  const json& h = (*it)["Header"];
  const std::string priority = text(h, "customerPriority");
  return headerAnswer({{"Canceldate", text(h, "canceldate")},
                       {"Shipdate", text(h, "shipdate")},
                       {"Email1", text(h, "email1")},
                       {"Phone1", text(h, "phone1")},
                       {"Paymentcode", text(h, "paymentcode")},
                       {"Shipvia", text(h, "shipvia")},
                       {"Term", text(h, "term")},
                       {"SalesRepCode", text(h, "salesRepCode")},
                       {"CustomerPriority", priority == "(null)" ? "" : priority},
                       {"Status", text(h, "soHold")},
                       {"Po", text(h, "pono")},
                       {"Ordertype", text(h, "ordertype")},
                       {"Memo", text(h, "memo").empty() ? json(nullptr) : json(text(h, "memo"))},
                       {"CcSign", text(*it, "Signature")}});
}

// Parameters: customerID, storeID. A customer and store without orders: one row of nulls.
Answer getBeforeOrderNumberList(const Call& c, State& s) {
  json rows = json::array();
  for (const auto& [number, o] : s.salesOrders.items())
    if (text(o, "CustomerId") == c.param("customerID") && text(o, "StoreId") == c.param("storeID"))
      rows.push_back({{"OrderNumber", number}, {"OrderDate", o["OrderDate"]}, {"UpdateDate", o["UpdateDate"]}});
  if (rows.empty()) rows.push_back({{"OrderNumber", nullptr}, {"OrderDate", nullptr}, {"UpdateDate", nullptr}});
  return rows;
}

// Parameter: orderNumber.
Answer checkOrderNumber(const Call& c, State& s) {
  if (s.salesOrders.contains(c.param("orderNumber"))) return json{{"Response", "True"}, {"Message", ""}};
  return json{{"Response", "False"}, {"Message", "SO# " + c.param("orderNumber") + " does not exist."}};
}

// The saved orders named by an order-number text ("1,2"); nothing when one is not known.
std::optional<std::vector<std::string>> knownOrders(const State& s, const std::string& numbers) {
  auto list = splitNumbers(numbers);
  if (list.empty()) return std::nullopt;
  for (const auto& n : list)
    if (!s.salesOrders.contains(n)) return std::nullopt;
  return list;
}

// Parameters: orderNumber[, airPrintFlag]. Makes "pdf/SO<n>.pdf" per SO and the card form
// "pdf/CC<orderNumber>.pdf".
Answer createSOpdf(const Call& c, State& s) {
  auto list = knownOrders(s, c.param("orderNumber"));
  if (!list) return failure("SO# " + c.param("orderNumber") + " is not found.");
  json names = json::object(), attachments = json::object();
  for (const auto& n : *list) {
    const json& o = s.salesOrders[n];
    std::vector<std::string> lines = {"Sales Order SO# " + n, "Customer " + text(o, "CustomerId") + " / " +
                                                                  text(o, "StoreId")};
    for (const auto& line : o["Items"])
      lines.push_back(text(line, "Style") + " " + text(line, "Color") + " " + text(line, "SizeCode") + " x " +
                      text(line, "Qty") + " @ " + text(line, "Price"));
    s.documents["pdf/SO" + n + ".pdf"] = simplePdf(lines);
    names[n] = n;
    attachments[n] = orderAttachmentNames(s, n).dump();
  }
  s.documents["pdf/CC" + c.param("orderNumber") + ".pdf"] =
      simplePdf({"Credit card authorization", "SO# " + c.param("orderNumber")});
  return json{{"Response", "True"},
              {"PrintFileName", names.dump()},
              {"AttachmentFileNames", attachments.dump()},
              {"Error", ""}};
}

bool knownPrinter(const State& s, const std::string& no) {
  for (const auto& p : s.catalogue.printers)
    if (text(p, "PrinterNo") == no) return true;
  return false;
}

// Records a print or e-mail on every SO of `numbers`.
Answer recordOn(const Call& c, State& s, const char* what, bool print, bool email) {
  auto list = knownOrders(s, c.param("orderNumber"));
  if (!list) return failure("SO# " + c.param("orderNumber") + " is not found.");
  if (print && !knownPrinter(s, c.param("printerNo")))
    return failure("Printer " + c.param("printerNo") + " is not set up on the server.");
  if (email && c.param("customerEmail").empty()) return failure("The customer has no e-mail address.");
  for (const auto& n : *list) {
    json entry{{"Operation", what}};
    for (const auto& [k, v] : c.params) entry[k] = v;
    s.salesOrders[n][email && !print ? "Emailed" : "Printed"].push_back(entry);
    if (email && print) s.salesOrders[n]["Emailed"].push_back(entry);
  }
  return json{{"Response", "True"}, {"SO", c.param("orderNumber")}, {"Error", ""}};
}

Answer printSOdirectly(const Call& c, State& s) { return recordOn(c, s, "PrintSOdirectly", true, false); }
Answer printSObyServer(const Call& c, State& s) {
  if (auto lineSheet = printLineSheet(c, s)) return *lineSheet;
  return recordOn(c, s, "PrintSObyServer", true, false);
}
Answer printCCbyServer(const Call& c, State& s) { return recordOn(c, s, "PrintCCbyServer", true, false); }
Answer sendSOEmail(const Call& c, State& s) { return recordOn(c, s, "SendSOEmail", false, true); }
Answer printSOandEmail(const Call& c, State& s) { return recordOn(c, s, "PrintSOandEmailbyServer", true, true); }
Answer printALLandEmail(const Call& c, State& s) { return recordOn(c, s, "PrintALLandEmailbyServer", true, true); }

// Parameters: orderNumber, copyMode.
Answer setPrintCountInSOH(const Call& c, State& s) {
  auto list = knownOrders(s, c.param("orderNumber"));
  if (!list) return failure("SO# " + c.param("orderNumber") + " is not found.");
  for (const auto& n : *list) {
    json& o = s.salesOrders[n];
    o["PrintCount"] = o.value("PrintCount", 0) + (c.param("copyMode") == "1" ? 2 : 1);
  }
  return json{{"Response", "True"}};
}

// Parameters: customerCode, email. A sentence.
Answer setMagentoNewCustomer(const Call& c, State& s) {
  if (!findCustomer(s, c.param("customerCode"))) return "Customer " + c.param("customerCode") + " is not found.";
  return "Customer " + c.param("customerCode") + " has been created in the web shop" +
         (c.param("email").empty() ? std::string(".") : " with " + c.param("email") + ".");
}

}  // namespace

std::string simplePdf(const std::vector<std::string>& lines) {
  std::string content = "BT /F1 12 Tf 40 780 Td 16 TL\n";
  for (const auto& line : lines) {
    std::string escaped;
    for (char ch : line) {
      if (ch == '(' || ch == ')' || ch == '\\') escaped += '\\';
      escaped += ch;
    }
    content += "(" + escaped + ") Tj T*\n";
  }
  content += "ET\n";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
      "/Contents 5 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char b[24];
    std::snprintf(b, sizeof b, "%010zu 00000 n \n", off);
    pdf += b;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::vector<Operation> orderSaveOperations() {
  using SK = ServiceKind;
  const std::vector<std::string>& header = headerNames();
  auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<std::string> email = {"orderNumber", "copyMode", "printerNo", "company",
                                          "customerName", "customerEmail", "setEmailFlag"};
  return {
      {"GetOrderInfo", SK::Mobile, {"customerID", "divisionCode", "orderItems"}, getOrderInfo},
      {"GetBeforeOrderInfo", SK::Mobile, {"orderNumber", "divisionCode", "orderItems"}, getBeforeOrderInfo},
      {"GetBeforeOrderNumberList", SK::Mobile, {"customerID", "storeID"}, getBeforeOrderNumberList},
      {"CheckOrderNumber", SK::Mobile, {"orderNumber"}, checkOrderNumber},
      {"InsertOrder", SK::Mobile,
       with(with({"multiSO", "priceLevel", "divisionCode", "warehouseCode", "loginId", "customerCode", "store"},
                 header),
            {"pdupnum", "orderitems"}),
       insertOrder},
      {"EditOrder", SK::Mobile, with(with({"orderNumber", "loginId"}, header), {"editorderitems"}), editOrder},
      {"EditOrderInfo", SK::Mobile, with({"orderNumber", "loginId"}, header), editOrderInfo},
      {"CheckOrderProcessing", SK::Mobile,
       {"loginId", "divisionCode", "customerId", "storeId", "pDupNum", "orderType", "memo", "totalQty",
        "totalExtPrice"},
       checkOrderProcessing},
      {"CreateSOpdf", SK::Mobile, {"orderNumber", "airPrintFlag?"}, createSOpdf},
      {"PrintSOdirectly", SK::Mobile, {"orderNumber", "copyMode", "printerNo"}, printSOdirectly},
      {"PrintSObyServer", SK::Mobile, {"orderNumber", "copyMode", "printerNo", "type?"}, printSObyServer},
      {"PrintCCbyServer", SK::Mobile, {"orderNumber", "printerNo"}, printCCbyServer},
      {"SendSOEmail", SK::Mobile, {"orderNumber", "company", "customerName", "customerEmail", "setEmailFlag"},
       sendSOEmail},
      {"PrintSOandEmailbyServer", SK::Mobile, email, printSOandEmail},
      {"PrintALLandEmailbyServer", SK::Mobile, email, printALLandEmail},
      {"setPrintCountInSOH", SK::Mobile, {"orderNumber", "copyMode"}, setPrintCountInSOH},
      {"SetMagentoNewCustomer", SK::Mobile, {"customerCode", "email"}, setMagentoNewCustomer},
  };
}

}  // namespace backoffice
