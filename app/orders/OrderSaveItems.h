#pragma once
// The texts that the order header sends with the order: its items as JSON (the style and
// colour list of the header request, the insert and edit forms of the save) and the
// header values that need reading from their fields (customer priority, memo). Pure
// functions of the cart lines (JSON objects of texts).

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace orvo {

// [{"Style","Color","SizeCode","Bundle"}] per line; a line's pairs end at the first key it lacks.
std::string orderItemsStyleColorJson(const nlohmann::json& cart);

// The items of an insert ("InsertOrder") or of an edit ("EditOrder", with "Id" and "[]" for a
// missing "BeforeOrderNum"). Every line is sent, whatever its quantity.
std::string insertOrderItemsJson(const nlohmann::json& cart, bool dupItemHandling);
std::string editOrderItemsJson(const nlohmann::json& cart, bool dupItemHandling);

// The priority code of a "[CODE] Description" text: the text before the first "] " without
// its first character; a text without "] " is sent as it is; empty stays empty.
std::string customerPriorityCodeFromText(const std::string& text);

// The memo as sent: the placeholder counts as empty; "<" and ">" become "[" and "]".
inline constexpr const char* kMemoPlaceholder = "Enter Memo";
std::string memoForSending(const std::string& text);

}  // namespace orvo
