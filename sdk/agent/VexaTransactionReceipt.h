#pragma once
// The record of one card payment that the host fills and hands to the agent for upload.
// Fourteen texts, "" until set; the record neither checks nor masks them (the host decides
// what the card number looks like). A field set to absent is sent as "".

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace kestra {

struct VexaTransactionReceipt {
  using Field = std::optional<std::string>;
  Field merchantName = "";
  Field location = "";
  Field transactionTime = "";
  Field cardBrand = "";
  Field primaryAccountNumber = "";
  Field transactionType = "";
  Field entryMethod = "";
  Field totalAmount = "";
  Field authorizationCode = "";
  Field referenceNumber = "";
  Field signatureImage = "";
  Field emvAuthorizationMode = "";
  Field emvApplicationID = "";
  Field aidName = "";

  // One entry per field, keyed by the field's name, in the order above.
  nlohmann::ordered_json getTransactionReceipt() const;
};

}  // namespace kestra
