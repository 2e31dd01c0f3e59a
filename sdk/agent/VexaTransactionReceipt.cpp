#include "sdk/agent/VexaTransactionReceipt.h"

#include <nlohmann/json.hpp>

namespace kestra {

nlohmann::ordered_json VexaTransactionReceipt::getTransactionReceipt() const {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  const std::pair<const char*, const Field*> fields[] = {
      {"merchantName", &merchantName},
      {"location", &location},
      {"transactionTime", &transactionTime},
      {"cardBrand", &cardBrand},
      {"primaryAccountNumber", &primaryAccountNumber},
      {"transactionType", &transactionType},
      {"entryMethod", &entryMethod},
      {"totalAmount", &totalAmount},
      {"authorizationCode", &authorizationCode},
      {"referenceNumber", &referenceNumber},
      {"signatureImage", &signatureImage},
      {"emvAuthorizationMode", &emvAuthorizationMode},
      {"emvApplicationID", &emvApplicationID},
      {"aidName", &aidName}};
  // An absent field is sent as "" rather than cutting the record short.
  for (const auto& [name, value] : fields) out[name] = value->value_or("");
  return out;
}

}  // namespace kestra
