#include "sdk/agent/VexaExtension.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/UserDefaults.h"

namespace kestra {

namespace {

using nlohmann::json;

std::string withoutSpaces(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

foundation::UserDefaults& defaults() { return foundation::UserDefaults::standard(); }

}  // namespace

VexaExtension::VexaExtension(std::string name) : name_(std::move(name)), pluginName_(composeKeyFromPrettyName(name_)) {}

std::string VexaExtension::composeKeyFromPrettyName(const std::string& name) {
  std::string key;
  size_t start = 0;
  bool first = true;
  for (;;) {
    const size_t at = name.find(' ', start);
    std::string word = name.substr(start, at == std::string::npos ? std::string::npos : at - start);
    for (size_t i = 0; i < word.size(); ++i) {
      const auto c = static_cast<unsigned char>(word[i]);
      word[i] = char(!first && i == 0 ? std::toupper(c) : std::tolower(c));
    }
    key += word;
    first = false;
    if (at == std::string::npos) break;
    start = at + 1;
  }
  std::replace(key.begin(), key.end(), '_', '-');
  return key;
}

std::string VexaExtension::displayType(uint64_t type) {
  switch (type) {
    case kBool: return "bool";
    case kString: return "string";
    case kInt: return "int";
    case kList: return "list";
    case kFile: return "file";
    default: return "";
  }
}

std::string VexaExtension::pluginVersion() const {
  std::lock_guard lock(mutex_);
  return version_.size() >= 5 ? version_ : "1.0.1";
}

void VexaExtension::setPluginVersion(std::string version) {
  std::lock_guard lock(mutex_);
  version_ = std::move(version);
}

void VexaExtension::setPluginVersionMajor(int64_t major, int64_t minor, int64_t build) {
  setPluginVersion(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build));
}

std::string VexaExtension::detailKey(const std::string& field) const { return pluginName_ + "_" + withoutSpaces(field); }

json VexaExtension::stored() const {
  auto dictionary = defaults().dictionaryForKey(pluginName_);
  return dictionary && dictionary->is_object() ? *dictionary : json::object();
}

void VexaExtension::store(const json& dictionary) {
  defaults().setObject(pluginName_, dictionary);
  defaults().synchronize();
}

void VexaExtension::setValue(const json& value, const std::string& field, const std::string& title,
                             uint64_t displayTypeNumber, uint64_t configTypeNumber,
                             const std::optional<std::string>& section, bool passive,
                             const std::optional<std::string>& regEx, const std::optional<json>& defaultValue,
                             const std::optional<json>& values, uint64_t min, uint64_t max, int64_t order) {
  json record = json::object();
  record["extension"] = name_;
  record["field"] = detailKey(field);
  record["name"] = title;
  record["displayType"] = displayType(displayTypeNumber);
  record["configurable"] = "true";
  if (section) record["section"] = *section;
  record["passive"] = passive ? "true" : "false";
  record["type"] = configType(configTypeNumber);
  if (regEx) record["regEx"] = *regEx;
  if (defaultValue) record["defaultValue"] = *defaultValue;
  if (values) record["value"] = *values;
  if (min != 0 && max != 0) {
    // Sent as the signed decimal text of the number given.
    record["min"] = std::to_string(int64_t(min));
    record["max"] = std::to_string(int64_t(max));
  }
  record["order"] = std::to_string(order);
  setField(record);
  setDetail(value, field);
}

void VexaExtension::setValue(const json& value, const std::string& field, const std::string& title,
                             uint64_t displayTypeNumber, int64_t order) {
  setField({{"extension", name_},
            {"field", detailKey(field)},
            {"name", title},
            {"displayType", displayType(displayTypeNumber)},
            {"configurable", "false"},
            {"order", std::to_string(order)}});
  setDetail(value, field);
}

void VexaExtension::setField(const json& record) {
  std::lock_guard lock(mutex_);
  json dictionary = stored();
  json& fields = dictionary["fields"];
  if (!fields.is_array()) fields = json::array();
  const bool known = std::any_of(fields.begin(), fields.end(), [&](const json& f) {
    return f.is_object() && record.contains("field") && f.value("field", json()) == record["field"];
  });
  if (!known) fields.push_back(record);
  dictionary["extension"] = name_;
  store(dictionary);
}

void VexaExtension::setDetail(const json& value, const std::string& field) {
  std::lock_guard lock(mutex_);
  json dictionary = stored();
  json& details = dictionary["details"];
  if (!details.is_object()) details = json::object();
  details[detailKey(field)] = value;
  store(dictionary);
}

bool VexaExtension::updateValue(const json& value, const std::string& field) {
  std::lock_guard lock(mutex_);
  json dictionary = stored();
  auto details = dictionary.find("details");
  if (details == dictionary.end() || !details->is_object() || !details->contains(detailKey(field))) return false;
  (*details)[detailKey(field)] = value;
  store(dictionary);
  return true;
}

std::optional<json> VexaExtension::getValueForField(const std::string& field) const {
  std::lock_guard lock(mutex_);
  const json dictionary = stored();
  const auto details = dictionary.find("details");
  if (details == dictionary.end() || !details->is_object()) return std::nullopt;
  const auto it = details->find(detailKey(field));
  if (it == details->end()) return std::nullopt;
  return *it;
}

json VexaExtension::getExtensionDetails() {
  std::lock_guard lock(mutex_);
  const json dictionary = stored();
  const auto details = dictionary.find("details");
  return details != dictionary.end() && details->is_object() ? *details : json::object();
}

std::optional<json> VexaExtension::getExtensionPluginData() {
  json fields;
  {
    std::lock_guard lock(mutex_);
    const json dictionary = stored();
    const auto it = dictionary.find("fields");
    // An extension without fields still announces itself, with an empty list.
    fields = it != dictionary.end() && it->is_array() ? *it : json::array();
  }
  return json{{"serviceType", "device_plugin"},
              {"payload",
               {{"type", pluginType()},
                {"version", pluginVersion()},
                {"plugin", pluginName_},
                {"name", name_},
                {"fields", fields}}}};
}

void VexaExtension::clearData() {
  if (pluginName_.empty()) return;
  std::lock_guard lock(mutex_);
  defaults().removeObjectForKey(pluginName_);
  defaults().synchronize();
}

}  // namespace kestra
