#pragma once
// JSON reading and writing. Records are `nlohmann::json` (keys sorted); where the order of
// keys on the wire matters, build an `nlohmann::ordered_json` and write that.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace foundation {

// Reads JSON text. On malformed text returns nothing and fills `error` with the position.
std::optional<nlohmann::json> parseJson(std::string_view text, Error* error = nullptr);
std::optional<nlohmann::ordered_json> parseOrderedJson(std::string_view text,
                                                       Error* error = nullptr);

// Pretty-printed text with two-space indentation. Invalid UTF-8 in strings is replaced,
// never thrown.
// The deepest nesting of arrays and objects in JSON text (brackets inside strings do not
// count); linear and without recursion, so a caller can refuse text too deep to walk.
size_t jsonNestingDepth(std::string_view text);

std::string prettyJson(const nlohmann::json& value);
std::string prettyJson(const nlohmann::ordered_json& value);
// Compact text.
std::string compactJson(const nlohmann::json& value);
std::string compactJson(const nlohmann::ordered_json& value);

}  // namespace foundation
