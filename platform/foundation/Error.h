#pragma once
// One error value for the platform layers, the SDK and the application: a domain, a code
// and a human-readable text. Functions that can fail take an optional `Error*` and fill it
// when they fail; nothing is thrown across a layer's interface for an expected failure.

#include <string>
#include <utility>

namespace foundation {

struct Error {
  std::string domain;
  int code = 0;
  std::string text;

  Error() = default;
  Error(std::string d, int c, std::string t) : domain(std::move(d)), code(c), text(std::move(t)) {}

  bool isError() const { return code != 0 || !domain.empty(); }
  // "<domain> <code>: <text>", for logs.
  std::string description() const;
};

// Fills `out` when it is given. Returns false so that a failing call can `return fail(...)`.
inline bool fail(Error* out, Error e) {
  if (out) *out = std::move(e);
  return false;
}

// Domains used by the platform layers.
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kUrlErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kXmlErrorDomain = "NSXMLParserErrorDomain";
inline constexpr const char* kJsonErrorDomain = "NSCocoaErrorDomain";

}  // namespace foundation
