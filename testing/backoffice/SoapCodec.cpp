#include "testing/backoffice/SoapCodec.h"

#include "platform/foundation/XmlReader.h"

namespace backoffice {

namespace {

std::string_view localName(std::string_view name) {
  auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

const char kEnvelopeOpen[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>";
const char kEnvelopeClose[] = "</soap:Body></soap:Envelope>";

std::string_view prefixOf(std::string_view name) {
  auto colon = name.find(':');
  return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

// The value of attribute `name`, or "" when it is not there.
std::string attribute(const foundation::XmlReader::Attributes& attrs, const std::string& name) {
  for (const auto& [k, v] : attrs)
    if (k == name) return v;
  return {};
}

}  // namespace

std::optional<Call> parseRequestEnvelope(std::string_view body, std::string* error,
                                         RequestNamespaces* namespaces) {
  RequestNamespaces ns;
  Call call;
  int depth = 0;
  bool sawEnvelope = false, sawBody = false, sawOperation = false;
  std::string* paramText = nullptr;
  foundation::XmlReader reader;
  reader.onStartElement = [&](const std::string& name, const foundation::XmlReader::Attributes& attrs) {
    ++depth;
    std::string_view local = localName(name);
    if (depth == 1) {
      sawEnvelope = local == "Envelope";
      const std::string_view prefix = prefixOf(name);
      ns.envelope = attribute(attrs, prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix));
    } else if (depth == 2 && sawEnvelope && local == "Body") {
      sawBody = true;
    } else if (depth == 3 && sawBody && !sawOperation) {
      sawOperation = true;
      call.operation = std::string(local);
      ns.operation = attribute(attrs, "xmlns");
    } else if (depth == 4 && sawOperation) {
      call.params.emplace_back(std::string(local), std::string());
      paramText = &call.params.back().second;
    }
  };
  reader.onCharacters = [&](std::string_view text) {
    if (depth == 4 && paramText) paramText->append(text);
  };
  reader.onEndElement = [&](const std::string&) {
    if (depth == 4) paramText = nullptr;
    --depth;
  };
  foundation::Error xmlError;
  if (!reader.parse(body, &xmlError)) {
    if (error) *error = xmlError.text;
    return std::nullopt;
  }
  if (!sawOperation) {
    if (error) *error = "The request holds no SOAP body element.";
    return std::nullopt;
  }
  if (namespaces) *namespaces = std::move(ns);
  return call;
}

std::string escapeText(std::string_view text) { return foundation::xmlEscape(text); }

std::string answerEnvelope(const std::string& op, std::string_view resultText) {
  std::string s = kEnvelopeOpen;
  s += "<" + op + "Response xmlns=\"" + kNamespace + "\"><" + op + "Result>";
  s += escapeText(resultText);
  s += "</" + op + "Result></" + op + "Response>";
  s += kEnvelopeClose;
  return s;
}

std::string malformedAnswerEnvelope(const std::string& op, std::string_view resultText) {
  std::string s = kEnvelopeOpen;
  s += "<" + op + "Response xmlns=\"" + kNamespace + "\"></soap:Body><" + op + "Result>";
  s += escapeText(resultText);
  s += "</" + op + "Result>";
  return s;
}

std::string faultEnvelope(const std::string& text) {
  std::string s = kEnvelopeOpen;
  s += "<soap:Fault><faultcode>soap:Client</faultcode><faultstring>" + escapeText(text) +
       "</faultstring><detail /></soap:Fault>";
  s += kEnvelopeClose;
  return s;
}

std::string errorPage(const std::string& op) {
  return "<!DOCTYPE html>\n<html><head><title>Runtime Error</title></head>\n<body>"
         "<h1>Server Error in '/Webservice' Application.</h1>\n<h2><i>Runtime Error</i></h2>\n"
         "<p>An application error occurred on the server while running " + escapeText(op) +
         ".</p>\n</body></html>\n";
}

}  // namespace backoffice
