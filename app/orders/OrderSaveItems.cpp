#include "app/orders/OrderSaveItems.h"

#include <nlohmann/json.hpp>

#include "app/core/JsonClass.h"

namespace orvo {

using nlohmann::json;

namespace {

std::string field(const json& line, const char* key) {
  auto it = line.find(key);
  if (it == line.end() || it->is_null()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump();
}

std::string saveItems(const json& cart, bool dupItemHandling, bool edit) {
  json out = json::array();
  for (const auto& line : cart) {
    if (!line.is_object()) continue;
    json o{{"Barcode", field(line, "Barcode")},
           {"Style", field(line, "Style")},
           {"Color", field(line, "Color")},
           {"SizeCode", field(line, "SizeCode")},
           {"Prepack", field(line, "Kind") == "bundle" ? field(line, "Bundle") : std::string()},
           {"Qty", field(line, "Qty")},
           {"Price", field(line, "Price")},
           {"DupItemHandling", dupItemHandling ? "True" : "False"}};
    if (edit) o["Id"] = field(line, "Id");
    if (line.contains("BeforeOrderNum"))
      o["BeforeOrderNum"] = field(line, "BeforeOrderNum");
    else if (edit)
      o["BeforeOrderNum"] = "[]";
    out.push_back(std::move(o));
  }
  return JsonClass::setJSONstringFromObj(out);
}

}  // namespace

std::string orderItemsStyleColorJson(const json& cart) {
  json out = json::array();
  for (const auto& line : cart) {
    json o = json::object();
    if (line.is_object())
      for (const char* key : {"Style", "Color", "SizeCode", "Bundle"}) {
        auto it = line.find(key);
        if (it == line.end() || it->is_null()) break;
        o[key] = *it;
      }
    out.push_back(std::move(o));
  }
  return JsonClass::setJSONstringFromObj(out);
}

std::string insertOrderItemsJson(const json& cart, bool dupItemHandling) {
  return saveItems(cart, dupItemHandling, false);
}

std::string editOrderItemsJson(const json& cart, bool dupItemHandling) { return saveItems(cart, dupItemHandling, true); }

std::string customerPriorityCodeFromText(const std::string& text) {
  const size_t end = text.find("] ");
  if (end == std::string::npos) return text;
  return end == 0 ? std::string() : text.substr(1, end - 1);
}

std::string memoForSending(const std::string& text) {
  if (text == kMemoPlaceholder) return {};
  std::string out = text;
  for (auto& ch : out) {
    if (ch == '<') ch = '[';
    else if (ch == '>') ch = ']';
  }
  return out;
}

}  // namespace orvo
