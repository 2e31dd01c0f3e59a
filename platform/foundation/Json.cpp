#include "platform/foundation/Json.h"

namespace foundation {

namespace {
template <class J>
std::optional<J> parseAny(std::string_view text, Error* error) {
  try {
    return J::parse(text.begin(), text.end());
  } catch (const nlohmann::json::parse_error& e) {
    fail(error, Error(kJsonErrorDomain, 3840,
                      "The data couldn't be read because it isn't in the correct format. (" +
                          std::string(e.what()) + ")"));
  } catch (const std::exception& e) {
    fail(error, Error(kJsonErrorDomain, 3840, e.what()));
  }
  return std::nullopt;
}
}  // namespace

std::optional<nlohmann::json> parseJson(std::string_view text, Error* error) {
  return parseAny<nlohmann::json>(text, error);
}

std::optional<nlohmann::ordered_json> parseOrderedJson(std::string_view text, Error* error) {
  return parseAny<nlohmann::ordered_json>(text, error);
}

std::string prettyJson(const nlohmann::json& v) {
  return v.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
std::string prettyJson(const nlohmann::ordered_json& v) {
  return v.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
std::string compactJson(const nlohmann::json& v) {
  return v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
std::string compactJson(const nlohmann::ordered_json& v) {
  return v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace foundation
