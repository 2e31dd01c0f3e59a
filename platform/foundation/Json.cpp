#include "platform/foundation/Json.h"

#include <algorithm>
#include <nlohmann/json.hpp>

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

namespace {

// Builds the value from the reader's events as the library's own builder does, but puts each
// key in place with a hint (writers send keys in sorted order, so most keys go to the end
// without a search), which makes reading large answers faster. Texts are copied, not moved:
// the reader reuses its token buffer. Duplicate keys keep the last value, as the library's
// builder does. Iterative: nesting depth costs heap, not stack.
class DomBuilder {
 public:
  using json = nlohmann::json;
  explicit DomBuilder(json& root) : root_(root) {}

  bool null() { return put(nullptr); }
  bool boolean(bool v) { return put(v); }
  bool number_integer(json::number_integer_t v) { return put(v); }
  bool number_unsigned(json::number_unsigned_t v) { return put(v); }
  bool number_float(json::number_float_t v, const json::string_t&) { return put(v); }
  bool string(json::string_t& v) { return put(v); }
  bool binary(json::binary_t& v) { return put(json::binary(std::move(v))); }
  bool start_object(std::size_t) {
    stack_.push_back(put(json::value_t::object));
    return true;
  }
  bool key(json::string_t& k) {
    auto& object = stack_.back()->get_ref<json::object_t&>();
    // Writers mostly send keys in sorted order: try the end first.
    auto it = object.emplace_hint(object.end(), k, json());
    it->second = json();  // a repeated key: the later value wins
    slot_ = &it->second;
    return true;
  }
  bool end_object() {
    stack_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    stack_.push_back(put(json::value_t::array));
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    error_ = e.what();
    return false;
  }
  const std::string& error() const { return error_; }

 private:
  template <class V>
  json* put(V&& v) {
    if (stack_.empty()) {
      root_ = json(std::forward<V>(v));
      return &root_;
    }
    json* top = stack_.back();
    if (top->is_array()) {
      auto& array = top->get_ref<json::array_t&>();
      array.emplace_back(std::forward<V>(v));
      return &array.back();
    }
    *slot_ = json(std::forward<V>(v));
    return slot_;
  }

  json& root_;
  std::vector<json*> stack_;
  json* slot_ = nullptr;
  std::string error_;
};

}  // namespace

std::optional<nlohmann::json> parseJson(std::string_view text, Error* error) {
  nlohmann::json value;
  DomBuilder builder(value);
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder);
  } catch (const std::exception& e) {
    fail(error, Error(kJsonErrorDomain, 3840, e.what()));
    return std::nullopt;
  }
  if (!ok) {
    fail(error, Error(kJsonErrorDomain, 3840,
                      "The data couldn't be read because it isn't in the correct format. (" + builder.error() + ")"));
    return std::nullopt;
  }
  return value;
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

size_t jsonNestingDepth(std::string_view text) {
  size_t depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

}  // namespace foundation
