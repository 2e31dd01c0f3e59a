#pragma once
// The SOAP 1.1 request envelope of one operation of the back-office services, and the
// namespace that requests, the "SOAPAction" header and the back-office server share.
//
// Every value is XML-escaped ("&", "<", ">") as it is put into its element, so a password,
// memo or JSON text can hold any character; values without those characters appear byte
// for byte. Envelopes are built only here: `Service` sends the text it is given unchanged.

#include <string>
#include <string_view>
#include <vector>

namespace orvo {

// The services' namespace URI: "http://", the namespace's host and "/".
inline constexpr const char* kServiceNamespace = "http://tempuri.org/";

struct SoapParam {
  std::string name;
  std::string value;

  SoapParam(std::string n, std::string v) : name(std::move(n)), value(std::move(v)) {}
  SoapParam(std::string n, const char* v) : name(std::move(n)), value(v ? v : "NULL") {}
  // "%d".
  static SoapParam integer(std::string n, long long v) { return {std::move(n), std::to_string(v)}; }
  // "%f" (six decimals).
  static SoapParam rate(std::string n, double v);
};

// `lineFeedAfterEachChild` puts a line feed after each parameter element, as some
// operations' templates do. An operation without parameters gets an empty element
// (opening tag, line feed, closing tag).
std::string soapEnvelope(std::string_view operation, const std::vector<SoapParam>& params,
                         bool lineFeedAfterEachChild = false);

// "&" "<" ">" as entities; everything else as it is.
std::string xmlEscapeText(std::string_view text);

// The "SOAPAction" header value of `operation`.
inline std::string soapAction(std::string_view operation) {
  return std::string(kServiceNamespace) + std::string(operation);
}

}  // namespace orvo
