#include "platform/foundation/XmlReader.h"

#include <expat.h>

#include <climits>
#include <exception>

namespace foundation {

namespace {
struct Context {
  XmlReader* reader;
  XML_Parser parser;
  std::exception_ptr thrown;
};

template <class F>
void guarded(Context* c, F&& f) {
  if (c->thrown) return;
  try {
    f();
  } catch (...) {
    c->thrown = std::current_exception();
    XML_StopParser(c->parser, XML_FALSE);
  }
}

void onStart(void* data, const XML_Char* name, const XML_Char** atts) {
  auto* c = static_cast<Context*>(data);
  if (!c->reader->onStartElement) return;
  guarded(c, [&] {
    XmlReader::Attributes attributes;
    for (int i = 0; atts && atts[i]; i += 2) attributes.emplace_back(atts[i], atts[i + 1]);
    c->reader->onStartElement(name, attributes);
  });
}

void onEnd(void* data, const XML_Char* name) {
  auto* c = static_cast<Context*>(data);
  if (c->reader->onEndElement) guarded(c, [&] { c->reader->onEndElement(name); });
}

void onText(void* data, const XML_Char* s, int len) {
  auto* c = static_cast<Context*>(data);
  if (c->reader->onCharacters)
    guarded(c, [&] { c->reader->onCharacters(std::string_view(s, size_t(len))); });
}
}  // namespace

namespace {

// The length of the well-formed UTF-8 sequence at `p` that XML 1.0 allows, or 0.
size_t xmlCharLength(const unsigned char* p, size_t left) {
  const unsigned c = p[0];
  auto cont = [&](size_t i) { return i < left && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    const unsigned cp = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    const unsigned cp = ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    return cp >= 0x10000 && cp <= 0x10FFFF ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string xmlEscape(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\'': out += quotes ? "&apos;" : "'"; break;
        case '"': out += quotes ? "&quot;" : "\""; break;
        // A literal carriage return would be read back as a line feed.
        case '\r': out += "&#13;"; break;
        case '\t': out += quotes ? "&#9;" : "\t"; break;
        case '\n': out += quotes ? "&#10;" : "\n"; break;
        default:
          // Other control characters cannot be carried by XML 1.0 at all, not even as
          // character references: they are left out rather than breaking the document.
          if (c >= 0x20) out += char(c);
      }
      ++i;
      continue;
    }
    if (size_t len = xmlCharLength(p + i, n - i)) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";  // a byte that is not UTF-8 becomes U+FFFD
      ++i;
    }
  }
  return out;
}

bool XmlReader::parse(std::string_view document, Error* error) {
  errorLine_ = errorColumn_ = 0;
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) return fail(error, Error(kXmlErrorDomain, 1, "Out of memory"));
  Context context{this, parser, nullptr};
  XML_SetUserData(parser, &context);
  XML_SetElementHandler(parser, onStart, onEnd);
  XML_SetCharacterDataHandler(parser, onText);

  constexpr size_t kPiece = size_t(INT_MAX / 2);
  bool ok = true;
  size_t offset = 0;
  do {
    size_t chunk = std::min(document.size() - offset, kPiece);
    bool last = offset + chunk == document.size();
    if (XML_Parse(parser, document.data() + offset, int(chunk), last) == XML_STATUS_ERROR) {
      ok = false;
      break;
    }
    offset += chunk;
  } while (offset < document.size());

  if (!ok && !context.thrown) {
    errorLine_ = int(XML_GetCurrentLineNumber(parser));
    errorColumn_ = int(XML_GetCurrentColumnNumber(parser)) + 1;
    XML_Error code = XML_GetErrorCode(parser);
    fail(error, Error(kXmlErrorDomain, int(code),
                      std::string(XML_ErrorString(code)) + " at line " +
                          std::to_string(errorLine_) + ", column " +
                          std::to_string(errorColumn_)));
  }
  XML_ParserFree(parser);
  if (context.thrown) std::rethrow_exception(context.thrown);
  return ok;
}

}  // namespace foundation
