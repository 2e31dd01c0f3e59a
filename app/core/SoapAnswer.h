#pragma once
// Reading the result text out of a SOAP answer: the text of
// soap:Envelope / soap:Body / <op>Response / <op>Result, element names compared as written
// (prefix included). This is the walk behind `OrvoMobileAppDelegate::parseXmlData`, which
// adds the user-facing alert; it has no user interface of its own and may run anywhere.

#include <optional>
#include <string>
#include <string_view>

namespace orvo {

struct SoapAnswerFailure {
  bool failed = false;  // an envelope whose path to the result element is broken
  std::string name;     // exception-style name of the failure
  std::string reason;
};

// The result element's text, or nothing. Nothing without a failure when the answer is not
// a "soap:Envelope" (an error page, no XML at all) or the result element holds no text;
// nothing with `failure->failed` when an element on the path is missing.
std::optional<std::string> soapResultText(std::string_view answer, std::string_view funcName,
                                          SoapAnswerFailure* failure = nullptr);

// The server's own words when an answer carries no result but says why: the faultstring
// of a SOAP 1.1 Fault (the Reason text of a 1.2 one), or, for an HTML page, its visible
// text with white space collapsed (its title when the body has none), at most
// `kFaultTextLimit` characters. Nothing for any other answer, an ordinary result included.
inline constexpr size_t kFaultTextLimit = 400;
std::optional<std::string> soapFaultText(std::string_view answer);

}  // namespace orvo
