#include "testing/backoffice/PickingOperations.h"

#include <algorithm>

namespace backoffice {

namespace {

using nlohmann::json;

// Every per-size array of a pick item has one entry per grid column.
constexpr size_t kGridColumns = 15;

const json& tickets(const State& s) {
  static const json none = json::array();
  auto it = s.catalogue.pickTickets.find("PickTickets");
  return it != s.catalogue.pickTickets.end() && it->is_array() ? *it : none;
}

const json* findStyle(const State& s, const std::string& style) {
  for (const auto& st : s.catalogue.styles)
    if (st.value("Style", std::string()) == style) return &st;
  return nullptr;
}

std::string text(const json& row, const char* key) {
  auto it = row.find(key);
  return it != row.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Parameters: customer (a code, or "" for every customer), orderbyCustomer (1 or 0). The
// tickets in the file's order, or ordered by customer; none gives the error row.
Answer getPickList(const Call& c, State& s) {
  const std::string customer = c.param("customer");
  const bool byCustomer = std::atoi(c.param("orderbyCustomer").c_str()) != 0;
  json rows = json::array();
  for (const auto& t : tickets(s)) {
    if (!customer.empty() && text(t, "Customer") != customer) continue;
    json row{{"Response", "True"}};
    for (const char* key : {"PickNo", "PickDate", "Customer", "So", "Warehouse", "Memo", "Shipvia", "IsChecked"})
      row[key] = text(t, key);
    rows.push_back(std::move(row));
  }
  if (byCustomer)
    std::stable_sort(rows.begin(), rows.end(), [](const json& a, const json& b) {
      return a["Customer"].get<std::string>() < b["Customer"].get<std::string>();
    });
  if (rows.empty())
    rows.push_back({{"Response", "False"},
                    {"Error", customer.empty() ? "There is no pick ticket."
                                               : "There is no pick ticket for " + customer + "."}});
  return rows;
}

// Parameter: jsonPickNo, a JSON array of pick numbers. The items of those tickets, in the
// order of the numbers and of each ticket's items; an item of the same bin, style and
// colour on several tickets is one item with the units added and its tickets listed. The
// text "False" when the parameter is not such an array or names no known ticket.
Answer getPickupItems(const Call& c, State& s) {
  json numbers = json::parse(c.param("jsonPickNo"), nullptr, false);
  if (!numbers.is_array()) return std::string("False");
  json items = json::array();
  for (const auto& number : numbers) {
    if (!number.is_string()) return std::string("False");
    for (const auto& t : tickets(s)) {
      if (text(t, "PickNo") != number.get<std::string>()) continue;
      for (const auto& it : t.value("Items", json::array())) {
        const std::string bin = text(it, "Bin"), style = text(it, "Style"), color = text(it, "Color");
        json units = it.value("Units", json::array());
        auto same = std::find_if(items.begin(), items.end(), [&](const json& i) {
          return i["Bin"] == bin && i["Style"] == style && i["Color"] == color;
        });
        if (same == items.end()) {
          json sizes = json::array();
          if (const json* st = findStyle(s, style)) sizes = st->value("SizeList", json::array());
          json item{{"Bin", bin}, {"Style", style}, {"Color", color}, {"PickNOs", number},
                    {"SizeCount", std::max(sizes.size(), units.size())},
                    {"SizeArray", json::array()}, {"UnitArray", json::array()},
                    {"TotalUnit", 0}, {"IsChecked", "False"}};
          for (size_t i = 0; i < kGridColumns; ++i) {
            item["SizeArray"].push_back(i < sizes.size() ? sizes[i] : json(""));
            item["UnitArray"].push_back(0);
          }
          items.push_back(std::move(item));
          same = items.end() - 1;
        } else {
          (*same)["PickNOs"] = (*same)["PickNOs"].get<std::string>() + ", " + number.get<std::string>();
        }
        for (size_t i = 0; i < units.size() && i < kGridColumns; ++i) {
          int n = units[i].is_number_integer() ? units[i].get<int>() : 0;
          (*same)["UnitArray"][i] = (*same)["UnitArray"][i].get<int>() + n;
          (*same)["TotalUnit"] = (*same)["TotalUnit"].get<int>() + n;
        }
      }
    }
  }
  if (items.empty()) return std::string("False");
  return items;
}

// Parameter: barcode. The style and colour it belongs to and the units one scan counts per
// size ("BarcodeUnitArray", itself JSON text, one entry per grid column): a size barcode counts one unit of its size;
// the extra barcodes of pickTickets.json count what they list. "False" for any other code.
Answer getQtyByBarcode(const Call& c, State& s) {
  const std::string code = c.param("barcode");
  auto record = [](const std::string& style, const std::string& color, json units) {
    while (units.size() < kGridColumns) units.push_back(0);
    return json{{"Style", style}, {"Color", color}, {"BarcodeUnitArray", units.dump()}};
  };
  for (const auto& b : s.catalogue.pickTickets.value("Barcodes", json::array()))
    if (text(b, "Barcode") == code)
      return record(text(b, "Style"), text(b, "Color"), b.value("Units", json::array()));
  for (const auto& st : s.catalogue.styles) {
    const json sizes = st.value("SizeList", json::array());
    for (const auto& color : st.value("Colors", json::array())) {
      for (const auto& size : color.value("Sizes", json::array())) {
        if (text(size, "Barcode") != code) continue;
        json units = json::array();
        for (const auto& name : sizes) units.push_back(name == size.value("Size", json()) ? 1 : 0);
        return record(text(st, "Style"), text(color, "Color"), units);
      }
    }
  }
  return std::string("False");
}

}  // namespace

std::vector<Operation> pickingOperations() {
  using SK = ServiceKind;
  return {
      {"GetPickList", SK::ScanPack, {"customer", "orderbyCustomer"}, getPickList},
      {"GetPickupItems", SK::ScanPack, {"jsonPickNo"}, getPickupItems},
      {"GetQtyByBarcode", SK::ScanPack, {"barcode"}, getQtyByBarcode},
  };
}

}  // namespace backoffice
