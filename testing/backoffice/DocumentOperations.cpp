#include "testing/backoffice/DocumentOperations.h"

#include "platform/foundation/Values.h"
#include "testing/backoffice/OrderSaveOperations.h"

namespace backoffice {
namespace {

using nlohmann::json;

json refusal(const std::string& text) { return {{"Response", "False"}, {"Error", text}}; }

std::string upper(std::string s) {
  for (auto& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

// The orders an "orderNumber" names: one number, or several joined by "," (the orders of
// one multi-order save). Nothing when any of them is not known.
std::vector<json*> namedOrders(State& s, const std::string& numbers) {
  std::vector<json*> out;
  size_t from = 0;
  while (true) {
    const size_t comma = numbers.find(',', from);
    auto order = s.salesOrders.find(numbers.substr(from, comma == std::string::npos ? comma : comma - from));
    if (order == s.salesOrders.end()) return {};
    out.push_back(&*order);
    if (comma == std::string::npos) return out;
    from = comma + 1;
  }
}

// Parameters: orderNumber (one, or a multi-order save's "10001,10002"), lineSheetForm
// ("default" or "detail"). One line sheet holds the lines of every order named.
Answer createLineSheetPdf(const Call& c, State& s) {
  const std::string number = c.param("orderNumber");
  const std::string form = c.param("lineSheetForm");
  if (form != "default" && form != "detail") return refusal("Unknown line sheet form \"" + form + "\".");
  const auto orders = namedOrders(s, number);
  if (number.empty() || orders.empty()) return refusal("SO# " + number + " is not found.");
  const std::string name = "LINESHEET-" + upper(form) + number;
  std::vector<std::string> lines = {"Line sheet (" + form + ") SO# " + number};
  for (json* order : orders)
    if (order->contains("Items"))
      for (const auto& line : (*order)["Items"]) {
        std::string row = foundation::textForKey(line, "Style") + " " + foundation::textForKey(line, "Color");
        if (form == "detail")
          row += " " + foundation::textForKey(line, "SizeCode") + " x " + foundation::textForKey(line, "Qty");
        lines.push_back(row);
      }
  s.documents["pdf/" + name + ".pdf"] = simplePdf(lines);
  return json{{"Response", "True"}, {"PrintFileName", json{{name, name}}.dump()}, {"Error", ""}};
}

// Parameters: orderNumber, linesheetForm ("DEFAULT" or "DETAIL"), printFileName, toEmails.
Answer sendLineSheetEmail(const Call& c, State& s) {
  const std::string number = c.param("orderNumber");
  const auto orders = namedOrders(s, number);
  if (orders.empty()) return refusal("SO# " + number + " is not found.");
  if (!s.documents.contains("pdf/" + c.param("printFileName") + ".pdf"))
    return refusal("The line sheet " + c.param("printFileName") + " has not been made.");
  if (c.param("toEmails").empty()) return refusal("No e-mail address was given.");
  json entry = json::object();
  for (const auto& [k, v] : c.params) entry[k] = v;
  for (json* order : orders) (*order)["LineSheetEmails"].push_back(entry);
  return json{{"Response", "True"}, {"Error", ""}};
}

}  // namespace

std::optional<Answer> printLineSheet(const Call& c, State& s) {
  const std::string name = c.param("orderNumber");
  if (name.rfind("LINESHEET-", 0) != 0 || !s.documents.contains("pdf/" + name + ".pdf")) return std::nullopt;
  for (auto& [number, order] : s.salesOrders.items())
    if (name.size() > number.size() && name.compare(name.size() - number.size(), number.size(), number) == 0) {
      json entry{{"Operation", "PrintSObyServer"}};
      for (const auto& [k, v] : c.params) entry[k] = v;
      order["LineSheetPrints"].push_back(entry);
      return Answer(json{{"Response", "True"}, {"SO", name}, {"Error", ""}});
    }
  return std::nullopt;
}

json orderAttachmentNames(const State& s, const std::string& number) {
  json names = json::array();
  const std::string archives = "SOimgZip/SO" + number, pictures = "resizeImages/SO" + number + "/";
  for (const auto& [path, bytes] : s.documents) {
    if (path.rfind(archives, 0) == 0) names.push_back(path.substr(std::string("SOimgZip/").size()));
    else if (path.rfind(pictures, 0) == 0 && path.find('/', pictures.size()) == std::string::npos)
      names.push_back(path.substr(pictures.size()));
  }
  return names;
}

std::vector<Operation> documentOperations() {
  using SK = ServiceKind;
  return {
      {"CreateLineSheetPdf", SK::Mobile, {"orderNumber", "lineSheetForm"}, createLineSheetPdf},
      {"SendLineSheetEmail", SK::Mobile, {"orderNumber", "linesheetForm", "printFileName", "toEmails"},
       sendLineSheetEmail},
  };
}

}  // namespace backoffice
