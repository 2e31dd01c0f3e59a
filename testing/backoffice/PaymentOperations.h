#pragma once
// The mobile service's card operations: a captured card for an order ("InsertCC"), the
// cards on file of a customer ("GetCClist"), the customer's default card ("SetDefaultCC")
// and an order's signature ("InsertSOsign"). The server reads the enciphered card number
// and track 1 with the deployment word it shares with the application and keeps the card
// in `State::payments`:
//   "cards": [{"AccountId", "Customer", "OrderNumber", "Name", "Number", "Track1",
//              "ExpDate", "CardType", "Mask", "CVV", "Zipcode", "Signature", "IsDefault"}]
//   "signatures": {"<order number>": "<Base64 JPEG>"}
//   "word": the deployment word (the sample one unless a test sets another).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

// The word the server reads cards with unless a test sets another: the application's
// built-in word (a deployment may set its own on both sides).
inline constexpr const char* kSampleCardCipherWord = "Orvomobiles";

// Writes the application's card-cipher configuration file with `word` into `configFolder`.
bool writeCardCipherConfig(const std::filesystem::path& configFolder, const std::string& word = kSampleCardCipherWord);

// Reads one enciphered card value ("0XXX " prefix and "00XX " bytes) with `word`; nothing
// when it is not well formed or does not decipher. `padded`: PKCS#7 (track 1) or whole blocks.
std::optional<std::string> decipherCardValue(const std::string& value, const std::string& word, bool padded);

// The payment entries of the operation table.
std::vector<Operation> paymentOperations();

}  // namespace backoffice
