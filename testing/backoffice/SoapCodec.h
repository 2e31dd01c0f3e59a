#pragma once
// Reading a SOAP 1.1 request envelope and writing the answer envelope, as the back-office
// web services do. Element names are matched by local name, so any prefix for the SOAP
// namespace is accepted on the way in; answers use the prefix "soap".

#include <optional>
#include <string>
#include <string_view>

#include "testing/backoffice/Operations.h"

namespace backoffice {

// The namespaces a request declares: the envelope element's (through its prefix, or the
// default namespace without one) and the operation element's default namespace.
struct RequestNamespaces {
  std::string envelope;
  std::string operation;
};

// The SOAP 1.1 envelope namespace.
inline constexpr const char* kSoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";

// The operation element of the body and its child elements' texts, in document order.
// Nothing (with `error`) when the text is not a well-formed envelope with a body element.
// `namespaces`, when given, receives the namespaces the request declared.
std::optional<Call> parseRequestEnvelope(std::string_view body, std::string* error = nullptr,
                                         RequestNamespaces* namespaces = nullptr);

// "&", "<" and ">" as entities, as the server escapes element text.
std::string escapeText(std::string_view text);

// The answer envelope whose "<op>Result" element holds `resultText`, escaped.
std::string answerEnvelope(const std::string& operation, std::string_view resultText);
// An envelope broken before the result element (mismatched end tag).
std::string malformedAnswerEnvelope(const std::string& operation, std::string_view resultText);
// A SOAP fault envelope with `text` as its fault string.
std::string faultEnvelope(const std::string& text);
// The HTML page of an internal server error.
std::string errorPage(const std::string& operation);

}  // namespace backoffice
