#pragma once
// Reading and writing the JSON text that server answers carry.
//
// `getJSONobj` reads a result text into a dictionary or an array; malformed text, or text
// whose top level is not a dictionary or an array, gives nothing and the alert "JSON Error"
// with the reader's description. Absent text is a programming fault of the caller: it
// throws `AppException` ("NSInvalidArgumentException"), which the answer methods catch and
// report with their exception alert. Main thread (it may show an alert).

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace orvo {

class JsonClass {
 public:
  static std::optional<nlohmann::json> getJSONobj(const std::optional<std::string>& text);
  // Pretty-printed JSON text of a dictionary or array.
  static std::string setJSONstringFromObj(const nlohmann::json& object);

  // The reading rule without the alert: a dictionary or an array, or nothing with `error`.
  static std::optional<nlohmann::json> readJSON(std::string_view text,
                                                foundation::Error* error = nullptr);
};

}  // namespace orvo
