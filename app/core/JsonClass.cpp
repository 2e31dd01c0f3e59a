// The user-facing half of JsonClass: the "JSON Error" alert.
#include "app/core/JsonClass.h"

#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"

namespace orvo {

std::optional<nlohmann::json> JsonClass::getJSONobj(const std::optional<std::string>& text) {
  if (!text) throw AppException("NSInvalidArgumentException", "data parameter is nil");
  foundation::Error error;
  auto value = readJSON(*text, &error);
  if (!value) AlertClass::showLegacy("JSON Error", error.description(), "OK");
  return value;
}

}  // namespace orvo
