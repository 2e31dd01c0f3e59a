#include "app/core/SoapEnvelope.h"

#include <cstdio>

#include "platform/foundation/XmlReader.h"

namespace orvo {

SoapParam SoapParam::rate(std::string n, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", v);
  return {std::move(n), std::string(buf)};
}

std::string xmlEscapeText(std::string_view text) { return foundation::xmlEscape(text); }

std::string soapEnvelope(std::string_view operation, const std::vector<SoapParam>& params,
                         bool lineFeedAfterEachChild) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<soap:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n"
      "<soap:Body>\n";
  s += '<';
  s += operation;
  s += " xmlns=\"";
  s += kServiceNamespace;
  s += "\">\n";
  for (const auto& p : params) {
    s += '<' + p.name + '>';
    s += xmlEscapeText(p.value);
    s += "</" + p.name + '>';
    if (lineFeedAfterEachChild) s += '\n';
  }
  if (!params.empty() && !lineFeedAfterEachChild) s += '\n';
  s += "</";
  s += operation;
  s += ">\n</soap:Body>\n</soap:Envelope>\n";
  return s;
}

}  // namespace orvo
