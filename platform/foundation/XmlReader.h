#pragma once
// An event-driven XML reader (expat): start element, characters and end element callbacks
// in document order. Character data may arrive in several pieces for one text node.
// Entities and character references are already decoded. Malformed documents stop the
// reading with an error that names the line and column.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"

namespace foundation {

class XmlReader {
 public:
  using Attributes = std::vector<std::pair<std::string, std::string>>;

  std::function<void(const std::string& name, const Attributes& attributes)> onStartElement;
  std::function<void(std::string_view text)> onCharacters;
  std::function<void(const std::string& name)> onEndElement;

  // Reads a whole document. Returns false with `error` filled (domain kXmlErrorDomain, the
  // reader's code, "<message> at line L, column C") on malformed input.
  bool parse(std::string_view document, Error* error = nullptr);

  int errorLine() const { return errorLine_; }
  int errorColumn() const { return errorColumn_; }

 private:
  int errorLine_ = 0;
  int errorColumn_ = 0;
};

// Escapes text for an XML 1.0 document: &, < and > always; quotes, tab and line feed too
// when `quotes` is set (for attribute values). A carriage return becomes "&#13;" so that it
// is read back as itself. What XML 1.0 cannot carry at all is not written: control
// characters other than tab, line feed and carriage return are left out, and bytes that are
// not well-formed UTF-8 (or U+FFFE, U+FFFF, surrogates) become U+FFFD.
std::string xmlEscape(std::string_view text, bool quotes = false);

}  // namespace foundation
