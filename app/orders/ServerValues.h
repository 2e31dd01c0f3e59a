#pragma once
// Form checks for the numbers and order numbers that the back office sends, before they
// reach a cart line, a total or an alert. The server is outside the process: a price may
// come as "abc", "12.3.4", "1e400" or 1e308, an order number as a list. Each reader gives
// the text the application keeps for a well-formed value, and nothing for any other, so
// that the caller refuses the answer instead of reading it as 0, NaN or "inf". Pure
// functions; any thread.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace orvo::server_values {

// The largest amount or quantity taken from the server; anything beyond is a fault, not
// an order (it also keeps every sum well inside the cents arithmetic of the cart).
inline constexpr double kLargestAmount = 1e12;

// A decimal text ("12", "7.87", "-3.5"; no exponent, no second point, no spaces) or a
// finite JSON number, at most `kLargestAmount` in size and not negative unless
// `allowNegative`. Text is kept as sent; a number becomes "%0.2f".
std::optional<std::string> moneyText(const nlohmann::json& v, bool allowNegative = false);
// The same form for a quantity; a number becomes its shortest text ("12", "12.5").
std::optional<std::string> quantityText(const nlohmann::json& v);
// A whole number of units per pack: digits, or a non-negative whole JSON number.
std::optional<std::string> countText(const nlohmann::json& v);
// An order number: a text without control characters, or a non-negative JSON integer. A
// list, an object, a Boolean, a fraction or an empty text is none.
std::optional<std::string> orderNumberText(const nlohmann::json& v);

}  // namespace orvo::server_values
