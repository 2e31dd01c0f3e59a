// The user-interface-free half of JsonClass: reading and writing.
#include "app/core/JsonClass.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"

namespace orvo {

std::optional<nlohmann::json> JsonClass::readJSON(std::string_view text, foundation::Error* error) {
  foundation::Error e;
  auto value = foundation::parseJson(text, &e);
  if (!value) {
    if (error) *error = e;
    return std::nullopt;
  }
  if (!value->is_object() && !value->is_array()) {
    foundation::fail(error, {foundation::kJsonErrorDomain, 3840,
                             "JSON text did not start with array or object."});
    return std::nullopt;
  }
  return value;
}

std::string JsonClass::setJSONstringFromObj(const nlohmann::json& object) {
  return foundation::prettyJson(object);
}

}  // namespace orvo
