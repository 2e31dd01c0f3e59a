#include "testing/backoffice/StyleOperations.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace backoffice {

namespace {

using nlohmann::json;

std::string str(const json& row, const char* key) {
  auto it = row.find(key);
  if (it == row.end() || it->is_null()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump();
}

// The list under `key` of a catalogue record, by reference (an empty one when absent), so
// that pointers into it stay valid.
const json& listOf(const json& record, const char* key) {
  static const json empty = json::array();
  auto it = record.find(key);
  return it != record.end() && it->is_array() ? *it : empty;
}

std::string folded(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string twoDecimals(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

// "2026/09/01" as "09/01/2026"; other texts unchanged.
std::string monthDayYear(const std::string& ymd) {
  if (ymd.size() != 10) return ymd;
  return ymd.substr(5, 2) + "/" + ymd.substr(8, 2) + "/" + ymd.substr(0, 4);
}

// The stock of one size, with the figures the catalogue does not hold derived from it.
struct SizeStock {
  std::string size;
  long oh = 0, orders = 0, po = 0, ats = 0, ots = 0, ata = 0;
};

SizeStock stockOf(const json& size) {
  SizeStock s;
  s.size = str(size, "Size");
  s.ats = size.value("Ats", 0L);
  s.ots = size.value("Ots", 0L);
  s.ata = size.value("Ata", 0L);
  s.orders = s.ats < 0 ? 2 - s.ats : 2;
  s.oh = s.ats + s.orders;
  s.po = std::max(0L, s.ots - s.ats);
  return s;
}

// The stock rows and totals of one colour, as both stock answers carry them.
void putStock(json& out, const json& color) {
  std::string sizes, oh, orders, po, ats, ots, ata;
  long tOh = 0, tOrders = 0, tPo = 0, tAts = 0, tOts = 0, tAta = 0;
  for (const auto& z : listOf(color, "Sizes")) {
    const SizeStock s = stockOf(z);
    sizes += stockColumn(s.size);
    oh += stockColumn(std::to_string(s.oh));
    orders += stockColumn(std::to_string(s.orders));
    po += stockColumn(std::to_string(s.po));
    ats += stockColumn(std::to_string(s.ats));
    ots += stockColumn(std::to_string(s.ots));
    ata += stockColumn(std::to_string(s.ata));
    tOh += s.oh, tOrders += s.orders, tPo += s.po, tAts += s.ats, tOts += s.ots, tAta += s.ata;
  }
  out["SizeList"] = sizes;
  out["OhList"] = oh;
  out["OrderList"] = orders;
  out["PoList"] = po;
  out["AtsList"] = ats;
  out["OtsList"] = ots;
  out["AtaList"] = ata;
  out["Ohs"] = tOh;
  out["Orders"] = tOrders;
  out["Pos"] = tPo;
  out["Atses"] = tAts;
  out["Otses"] = tOts;
  out["Atas"] = tAta;
}

// What a looked-up code names: a style, and a prepack of it when the code is a prepack's.
struct Found {
  const json* style = nullptr;
  const json* prepack = nullptr;
  std::string color;  // the colour of a size's code; empty for a style code or a prepack
};

Found findCode(const State& s, const std::string& code) {
  Found f;
  for (const auto& st : s.catalogue.styles) {
    if (folded(str(st, "Style")) == folded(code)) return {&st, nullptr, {}};
    for (const auto& co : listOf(st, "Colors"))
      for (const auto& z : listOf(co, "Sizes"))
        if (str(z, "Barcode") == code) return {&st, nullptr, str(co, "Color")};
    for (const auto& pp : listOf(st, "Prepacks"))
      if (str(pp, "Barcode") == code) return {&st, &pp, {}};
  }
  return f;
}

std::string statusText(const json& st) {
  const std::string s = str(st, "Status");
  return s == "A" ? "ACTIVE" : s;
}

// Parameters: Barcode, WH. One record per colour of the style the code belongs to (the
// scanned colour first); an unknown code gets one record whose "Error" says so.
Answer getStyleLookup(const Call& c, State& s) {
  const std::string code = c.param("Barcode");
  const Found f = findCode(s, code);
  if (!f.style) return json::array({{{"Error", "No style information was found for " + code + "."}}});
  const json& st = *f.style;
  json colors = listOf(st, "Colors");
  for (size_t i = 0; i < colors.size(); ++i)
    if (!f.color.empty() && str(colors[i], "Color") == f.color && i > 0) {
      json first = colors[i];
      colors.erase(colors.begin() + long(i));
      colors.insert(colors.begin(), first);
      break;
    }
  json records = json::array();
  for (const auto& co : colors) {
    json r{{"Error", nullptr},
           {"Type", f.prepack ? "Prepack" : "UPC"},
           {"Style", str(st, "Style")},
           {"Color", str(co, "Color")},
           {"Descript", str(st, "Descript")},
           {"AvailDate", monthDayYear(str(st, "AvailDate"))},
           {"Status", statusText(st)},
           {"Season", str(st, "Season")},
           {"Coo", str(st, "Coo")},
           {"Bin", st.value("Bin", "A-" + str(st, "Style").substr(0, 2))},
           {"SizeCode", str(st, "SizeCode")},
           {"Bundle", f.prepack ? str(*f.prepack, "Bundle") : ""},
           {"Units", f.prepack ? f.prepack->value("Units", 1) : 1},
           {"Eta", monthDayYear(str(st, "Eta"))}};
    for (const char* k : {"Price1", "Price2", "Price3", "Price4", "Price5", "Msrp"}) r[k] = st.value(k, 0.0);
    putStock(r, co);
    r["AtsStatus"] = r["Atses"].get<long>() > 0;
    r["EtaOption"] = r["Atses"].get<long>() > 0 ? "Immediate" : "";
    records.push_back(std::move(r));
  }
  return records;
}

// Parameters: Barcode, Style, Color, SizeCode, OrderedQty, WH. The stock of the style and
// colour (found by their codes, else through the item code).
Answer getAts(const Call& c, State& s) {
  json color;  // null until found
  auto findColor = [&](const json& st, const std::string& name) {
    for (const auto& co : listOf(st, "Colors"))
      if (str(co, "Color") == name) color = co;
  };
  for (const auto& st : s.catalogue.styles)
    if (str(st, "Style") == c.param("Style")) findColor(st, c.param("Color"));
  if (color.is_null()) {
    const Found f = findCode(s, c.param("Barcode"));
    if (f.style && !f.color.empty()) findColor(*f.style, f.color);
  }
  if (color.is_null())
    return json{{"Response", "False"},
                {"Error", "No stock was found for " + c.param("Style") + " " + c.param("Color") + "."}};
  json a{{"Response", "True"}, {"Error", nullptr}};
  putStock(a, color);
  return a;
}

// Parameters: Style, Bundle (0 prepacks, 1 sizes), PriceLevel, OrderDiscountRate,
// IsOrderScanMode, WH. Items of the styles whose code holds the text, ignoring case;
// nothing found: one row with "Response" "False".
Answer getStylesInfo(const Call& c, State& s) {
  const std::string key = folded(c.param("Style"));
  const bool sizes = std::atoi(c.param("Bundle").c_str()) == 1;
  int level = std::atoi(c.param("PriceLevel").c_str());
  if (level < 1 || level > 5) level = 1;
  const double rate = std::atof(c.param("OrderDiscountRate").c_str());
  const json& bundleColors = s.catalogue.pricing.value("bundleColors", json::object());
  json rows = json::array();
  for (const auto& st : s.catalogue.styles) {
    const std::string style = str(st, "Style");
    if (key.empty() || folded(style).find(key) == std::string::npos) continue;
    const double levelPrice = st.value("Price" + std::to_string(level), 0.0);
    const double price = std::round(levelPrice * (100.0 - rate)) / 100.0;
    json base{{"Response", "True"},
              {"Style", style},
              {"Price", twoDecimals(price)},
              {"OrgPrice", twoDecimals(levelPrice)},
              {"Eta", monthDayYear(str(st, "Eta"))}};
    if (sizes) {
      for (const auto& co : listOf(st, "Colors"))
        for (const auto& z : listOf(co, "Sizes")) {
          json row = base;
          const long ats = z.value("Ats", 0L);
          row.update({{"Code", str(z, "Barcode")}, {"Color", str(co, "Color")}, {"SizeCode", str(z, "Size")},
                      {"Ats", std::to_string(ats)}, {"Kind", "UPC"}, {"Bundle", ""},
                      {"AtsStatus", ats > 0 ? "True" : "False"}});
          rows.push_back(std::move(row));
        }
    } else {
      for (const auto& pp : listOf(st, "Prepacks")) {
        json row = base;
        const std::string bundle = str(pp, "Bundle");
        row.update({{"Code", str(pp, "Barcode")}, {"Color", bundleColors.value(bundle, std::string())},
                    {"SizeCode", str(st, "SizeCode")}, {"Ats", "0"}, {"Kind", "Prepack"}, {"Bundle", bundle},
                    {"AtsStatus", "False"}});
        // Packs available: the fewest packs the stock of each size of the pack's colour allows.
        const json ratio = pp.value("Ratio", json::array());
        for (const auto& co : listOf(st, "Colors")) {
          if (str(co, "Color") != row["Color"]) continue;
          long packs = -1;
          const json& zs = listOf(co, "Sizes");
          for (size_t i = 0; i < zs.size() && i < ratio.size(); ++i) {
            const long n = zs[i].value("Ats", 0L) / std::max(1L, ratio[i].get<long>());
            packs = packs < 0 ? n : std::min(packs, n);
          }
          if (packs >= 0) {
            row["Ats"] = std::to_string(packs);
            row["AtsStatus"] = packs > 0 ? "True" : "False";
          }
        }
        rows.push_back(std::move(row));
      }
    }
  }
  if (rows.empty()) rows.push_back({{"Response", "False"}, {"Message", "No style was found."}});
  return rows;
}

}  // namespace

std::string stockColumn(const std::string& value) {
  if (value.size() >= 5) return value.substr(value.size() - 5);
  return std::string(5 - value.size(), ' ') + value;
}

std::vector<Operation> styleOperations() {
  using SK = ServiceKind;
  return {
      {"GetStyleLookup", SK::Mobile, {"Barcode", "WH"}, getStyleLookup},
      {"getATS", SK::Mobile, {"Barcode", "Style", "Color", "SizeCode", "OrderedQty", "WH"}, getAts},
      {"GetStylesInfo", SK::Mobile, {"Style", "Bundle", "PriceLevel", "OrderDiscountRate", "IsOrderScanMode", "WH"},
       getStylesInfo},
  };
}

}  // namespace backoffice
