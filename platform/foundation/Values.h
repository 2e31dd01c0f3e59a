#pragma once
// The platform's conversions for values in open key/value records (server answers, cart
// lines, user defaults): text to number and Boolean as the platform's string methods do
// them, and the text form of any value, which is "(null)" for an absent one.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace foundation {

// Text conversions: leading white space and a sign are accepted, reading stops at the
// first character that does not belong to a number, and no digits give 0.
int intValue(std::string_view text);
long long longLongValue(std::string_view text);
double doubleValue(std::string_view text);
// True for text starting (after white space) with Y, y, T, t or a non-zero digit, after an
// optional sign and leading zeros.
bool boolValue(std::string_view text);

// The same for a record value: numbers convert, text is read as above, Booleans give 0/1,
// absent (null) and other kinds give 0 / false.
int intValue(const nlohmann::json& v);
long long longLongValue(const nlohmann::json& v);
double doubleValue(const nlohmann::json& v);
bool boolValue(const nlohmann::json& v);

// Text arguments take the text forms even where the full JSON header is visible (text
// converts to both std::string_view and nlohmann::json, which would be ambiguous).
inline int intValue(const std::string& t) { return intValue(std::string_view(t)); }
inline long long longLongValue(const std::string& t) { return longLongValue(std::string_view(t)); }
inline double doubleValue(const std::string& t) { return doubleValue(std::string_view(t)); }
inline bool boolValue(const std::string& t) { return boolValue(std::string_view(t)); }
inline int intValue(const char* t) { return intValue(std::string_view(t)); }
inline long long longLongValue(const char* t) { return longLongValue(std::string_view(t)); }
inline double doubleValue(const char* t) { return doubleValue(std::string_view(t)); }
inline bool boolValue(const char* t) { return boolValue(std::string_view(t)); }

// The text form: text as it is, integers in decimal, other numbers in the shortest form
// that reads back the same ("1.5", "0.1"), Booleans "1"/"0", null "(null)", arrays and
// objects as compact JSON.
std::string textValue(const nlohmann::json& v);
// Member `key` of an object, or null when `v` is not an object or lacks the key.
const nlohmann::json& valueForKey(const nlohmann::json& v, std::string_view key);
// textValue(valueForKey(v, key)).
std::string textForKey(const nlohmann::json& v, std::string_view key);

// Number formatting as the platform's "%d" and "%.2f" style helpers need it.
std::string formatDouble(double v, int decimals);
std::string shortestDouble(double v);

}  // namespace foundation
