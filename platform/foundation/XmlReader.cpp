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

std::string xmlEscape(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += quotes ? "&apos;" : "'"; break;
      case '"': out += quotes ? "&quot;" : "\""; break;
      default: out += c;
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

  bool ok = true;
  size_t offset = 0;
  do {
    size_t chunk = std::min(document.size() - offset, size_t(INT_MAX / 2));
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
