#include "app/core/SoapAnswer.h"

#include "app/core/APDocument.h"

namespace orvo {

std::optional<std::string> soapResultText(std::string_view answer, std::string_view funcName,
                                          SoapAnswerFailure* failure) {
  const std::string responseName = std::string(funcName) + "Response";
  const std::string resultName = std::string(funcName) + "Result";
  static const std::string bodyName = "soap:Body";
  APDocument doc(answer);
  const APElement* root = doc.rootElement().get();
  if (!root || root->name() != "soap:Envelope") return std::nullopt;
  const APElement* at = root;
  for (const std::string* step : {&bodyName, &responseName, &resultName}) {
    const APElement* next = at->firstChildElementNamed(*step);
    if (!next) {
      if (failure) {
        failure->failed = true;
        failure->name = "NSRangeException";
        failure->reason = "element " + *step + " not found in " + at->name();
      }
      return std::nullopt;
    }
    at = next;
  }
  return at->value();
}

}  // namespace orvo
