#pragma once
// The card cipher of the card screen: AES-128 in ECB mode under keys built at run time from
// a deployment word and a fresh random number, and the two text forms the back office reads
// (the random-number prefix and the "00XX " form of each cipher byte).
//
// The word is the one the application is built with (`kBuiltInCardCipherWord`), unless the
// configuration file "card-cipher.conf" in the configuration folder sets another (one line
// "word=<11 ASCII letters>"); it is never logged and never kept beyond the call. A word set
// there that is not 11 ASCII letters builds no key, and nothing is enciphered.
//
// Stateless apart from the random source, which tests may replace. Any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace orvo {

using foundation::Bytes;

// Overwrites the text's characters with zeros, then empties it (card data after use).
void wipe(std::string& text);
void wipe(Bytes& bytes);

class AESExtention {
 public:
  // AES-128-ECB with PKCS#7 padding; nothing on failure (a key text longer than 16 bytes
  // is refused rather than cut).
  std::optional<Bytes> AES128EncryptWithKey(const std::string& key, const Bytes& data) const;
  // AES-128-ECB without padding; the data must be whole 16-byte blocks, else nothing.
  std::optional<Bytes> AES128EncryptEcmWithKey(const std::string& key, const Bytes& data) const;
  std::optional<Bytes> AES128DecryptWithKey(const std::string& key, const Bytes& data) const;
  std::optional<Bytes> AES128DecryptEcmWithKey(const std::string& key, const Bytes& data) const;
  // Lower-case hexadecimal, nothing between bytes.
  static std::string hexEncode(const Bytes& data);
  // Pairs of characters to bytes (an odd last character is ignored).
  static Bytes decodeHexString(const std::string& text);
};

// One key record: the 16-character key text and the prefix that carries its random number.
struct CardKey {
  std::string RealKey;
  std::string HexRandomNumber;
  ~CardKey() { wipe(RealKey); }
};

// Card-screen text forms.
std::string hexEncodeRndCnt(int32_t n);           // "012C " for 300
std::string hexEncodeCardCipher(const Bytes& data);  // "002C 00F0 " for 2C F0

// The key text for a word and a random number: the word and the number in decimal, then the
// first characters of that text again up to 16 characters.
std::string cardKeyText(const std::string& word, int n);

// A uniformly drawn number 0..500 from the system's random source (rejection sampling, so
// every value is equally likely); nothing when the source fails.
std::optional<int> cardRandomNumber();
// Tests replace the source of `cardRandomNumber` (nullptr restores it).
void setCardRandomSource(std::function<std::optional<int>()> source);

// The word the keys are built from: the configuration's when it sets one (nothing when
// that is not 11 ASCII letters), else the built-in one.
std::optional<std::string> cardCipherWord();
inline constexpr const char* kCardCipherConfigFile = "card-cipher.conf";
inline constexpr size_t kCardCipherWordLength = 11;
// The word a back office of this scheme reads cards with unless it was given another.
inline constexpr const char* kBuiltInCardCipherWord = "Orvomobiles";

// A fresh key record, or nothing without a word or a random number.
std::optional<CardKey> aesKeyGenerate();

// The wire value of one card field: the prefix followed by the cipher text in the screen's
// form. `padded` selects PKCS#7 (track 1) or whole blocks (the card number). Nothing when
// no key can be made or the cipher refuses the data; nothing is ever sent half-made.
std::optional<std::string> encipherCardField(const std::string& plain, bool padded);

}  // namespace orvo
