#include "testing/backoffice/PaymentOperations.h"

#include <algorithm>
#include <fstream>

#include "platform/crypto/Cipher.h"

namespace backoffice {

namespace {

using nlohmann::json;

std::string word(const State& s) {
  auto it = s.payments.find("word");
  return it != s.payments.end() && it->is_string() ? it->get<std::string>() : std::string(kSampleCardCipherWord);
}

json& cards(State& s) {
  json& c = s.payments["cards"];
  if (!c.is_array()) c = json::array();
  return c;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parameters: orderNumber, customer, ccName, ccNumber, ccExp, ccType, ccTrack1,
// signBase64String, lastFourDigit, cvv, zipcode.
Answer insertCC(const Call& c, State& s) {
  const std::string w = word(s);
  auto number = decipherCardValue(c.param("ccNumber"), w, false);
  std::optional<std::string> track = std::string();
  if (!c.param("ccTrack1").empty()) track = decipherCardValue(c.param("ccTrack1"), w, true);
  // The number is not padded, so a value enciphered under another word still deciphers, to
  // bytes that are no text; the track's padding alone passes by chance about once in 256.
  const auto text = [](const std::string& v) {
    return std::all_of(v.begin(), v.end(), [](char ch) { return ch >= 0x20 && ch <= 0x7E; });
  };
  if (!number || !track || !text(*number) || !text(*track))
    return json{{"Response", "False"}, {"Id", ""}, {"Error", "The card could not be read."}};
  json& list = cards(s);
  const int id = int(list.size()) + 1;
  while (!number->empty() && number->back() == ' ') number->pop_back();
  list.push_back({{"AccountId", std::to_string(id)},
                  {"Customer", c.param("customer")},
                  {"OrderNumber", c.param("orderNumber")},
                  {"Name", c.param("ccName")},
                  {"Number", *number},
                  {"Track1", *track},
                  {"ExpDate", c.param("ccExp")},
                  {"CardType", c.param("ccType")},
                  {"Mask", c.param("lastFourDigit")},
                  {"CVV", c.param("cvv")},
                  {"Zipcode", c.param("zipcode")},
                  {"Signature", c.param("signBase64String")},
                  {"IsDefault", "False"}});
  return json{{"Response", "True"}, {"Id", std::to_string(id)}, {"Error", ""}};
}

// Parameter: customer. The customer's cards, the number masked; none gives the error row.
Answer getCClist(const Call& c, State& s) {
  json rows = json::array();
  for (const auto& card : cards(s)) {
    if (card.value("Customer", "") != c.param("customer")) continue;
    rows.push_back({{"Response", "True"},
                    {"AccountId", card["AccountId"]},
                    {"AccountNumber", card["Mask"]},
                    {"ExpDate", card["ExpDate"]},
                    {"CVV", ""},
                    {"Name", card["Name"]},
                    {"Memo", "Order " + card.value("OrderNumber", "")},
                    {"IsDefault", card["IsDefault"]},
                    {"CardType", card["CardType"]}});
  }
  if (rows.empty()) rows.push_back({{"Response", "False"}, {"Error", "There is no credit card on file."}});
  return rows;
}

// Parameters: customer, accountId.
Answer setDefaultCC(const Call& c, State& s) {
  bool found = false;
  for (const auto& card : cards(s))
    found = found || (card.value("Customer", "") == c.param("customer") && card.value("AccountId", "") == c.param("accountId"));
  if (!found) return json{{"Response", "False"}, {"Error", "Unknown card."}};
  for (auto& card : cards(s))
    if (card.value("Customer", "") == c.param("customer"))
      card["IsDefault"] = card.value("AccountId", "") == c.param("accountId") ? "True" : "False";
  return json{{"Response", "True"}};
}

// Parameters: orderNumber, signBase64String.
Answer insertSOsign(const Call& c, State& s) {
  s.payments["signatures"][c.param("orderNumber")] = c.param("signBase64String");
  return json{{"Response", "True"}};
}

}  // namespace

bool writeCardCipherConfig(const std::filesystem::path& configFolder, const std::string& w) {
  std::error_code ec;
  std::filesystem::create_directories(configFolder, ec);
  std::ofstream out(configFolder / "card-cipher.conf", std::ios::trunc);
  out << "# SAMPLE value for tests and the demo; a deployment sets its own word.\nword=" << w << "\n";
  return bool(out);
}

std::optional<std::string> decipherCardValue(const std::string& value, const std::string& w, bool padded) {
  if (value.size() < 5 || value[4] != ' ') return std::nullopt;
  int n = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = hexDigit(value[size_t(i)]);
    if (d < 0) return std::nullopt;
    n = n * 16 + d;
  }
  std::string seed = w + std::to_string(n);
  std::string key = seed.size() >= 16 ? seed.substr(0, 16) : seed + seed.substr(0, 16 - seed.size());
  foundation::Bytes cipher;
  for (size_t at = 5; at < value.size(); at += 5) {
    if (at + 5 > value.size() || value.compare(at, 2, "00") != 0 || value[at + 4] != ' ') return std::nullopt;
    const int hi = hexDigit(value[at + 2]), lo = hexDigit(value[at + 3]);
    if (hi < 0 || lo < 0) return std::nullopt;
    cipher.push_back(uint8_t(hi << 4 | lo));
  }
  if (cipher.empty()) return std::nullopt;
  auto plain = crypto::aesDecrypt(foundation::Bytes(key.begin(), key.end()), cipher, crypto::Mode::ECB,
                                  padded ? crypto::Padding::PKCS7 : crypto::Padding::None);
  if (!plain) return std::nullopt;
  return std::string(plain->begin(), plain->end());
}

std::vector<Operation> paymentOperations() {
  using SK = ServiceKind;
  return {
      {"InsertCC", SK::Mobile,
       {"orderNumber", "customer", "ccName", "ccNumber", "ccExp", "ccType", "ccTrack1", "signBase64String",
        "lastFourDigit", "cvv", "zipcode"},
       insertCC},
      {"GetCClist", SK::Mobile, {"customer"}, getCClist},
      {"SetDefaultCC", SK::Mobile, {"customer", "accountId"}, setDefaultCC},
      {"InsertSOsign", SK::Mobile, {"orderNumber", "signBase64String"}, insertSOsign},
  };
}

}  // namespace backoffice
