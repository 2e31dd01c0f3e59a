#include "app/payments/AESExtention.h"

#include <openssl/crypto.h>

#include <cctype>
#include <fstream>
#include <mutex>

#include "platform/crypto/Cipher.h"
#include "platform/crypto/Digest.h"
#include "platform/foundation/Paths.h"

namespace orvo {

void wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

void wipe(Bytes& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  bytes.clear();
}

namespace {

// The key text as the cipher's 16 key bytes: shorter texts end in zeros; longer ones are
// refused (they would be cut silently otherwise).
std::optional<Bytes> keyBytes(const std::string& key) {
  if (key.size() > crypto::kAesBlockSize) return std::nullopt;
  Bytes k(crypto::kAesBlockSize, 0);
  std::copy(key.begin(), key.end(), k.begin());
  return k;
}

std::optional<Bytes> run(bool encrypt, const std::string& key, const Bytes& data, crypto::Padding padding) {
  auto k = keyBytes(key);
  if (!k) return std::nullopt;
  if (padding == crypto::Padding::None && (data.empty() || data.size() % crypto::kAesBlockSize != 0))
    return std::nullopt;
  auto out = encrypt ? crypto::aesEncrypt(*k, data, crypto::Mode::ECB, padding)
                     : crypto::aesDecrypt(*k, data, crypto::Mode::ECB, padding);
  wipe(*k);
  return out;
}

std::mutex sourceMutex;
std::function<std::optional<int>()>& randomSource() {
  static std::function<std::optional<int>()> source;
  return source;
}

constexpr uint32_t kRandomRange = 501;  // 0 to 500

}  // namespace

std::optional<Bytes> AESExtention::AES128EncryptWithKey(const std::string& key, const Bytes& data) const {
  return run(true, key, data, crypto::Padding::PKCS7);
}
std::optional<Bytes> AESExtention::AES128EncryptEcmWithKey(const std::string& key, const Bytes& data) const {
  return run(true, key, data, crypto::Padding::None);
}
std::optional<Bytes> AESExtention::AES128DecryptWithKey(const std::string& key, const Bytes& data) const {
  return run(false, key, data, crypto::Padding::PKCS7);
}
std::optional<Bytes> AESExtention::AES128DecryptEcmWithKey(const std::string& key, const Bytes& data) const {
  return run(false, key, data, crypto::Padding::None);
}

std::string AESExtention::hexEncode(const Bytes& data) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : data) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

Bytes AESExtention::decodeHexString(const std::string& text) {
  auto value = [](char c) { return unsigned(static_cast<unsigned char>(c) < 65 ? c - 48 : c - 55) & 15u; };
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(uint8_t(value(text[i]) << 4 | value(text[i + 1])));
  return out;
}

std::string hexEncodeRndCnt(int32_t n) {
  static const char* digits = "0123456789ABCDEF";
  const uint32_t v = uint32_t(n) & 0xFFFF;
  std::string out;
  for (int shift : {12, 8, 4, 0}) out += digits[(v >> shift) & 15];
  return out + " ";
}

std::string hexEncodeCardCipher(const Bytes& data) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : data) {
    out += "00";
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

std::string cardKeyText(const std::string& word, int n) {
  std::string seed = word + std::to_string(n);
  if (seed.size() >= crypto::kAesBlockSize) return seed;
  return seed + seed.substr(0, crypto::kAesBlockSize - seed.size());
}

std::optional<int> cardRandomNumber() {
  {
    std::lock_guard<std::mutex> lock(sourceMutex);
    if (randomSource()) return randomSource()();
  }
  // Values at or above the largest multiple of the range are drawn again, so that every
  // number 0..500 is equally likely.
  constexpr uint32_t limit = UINT32_MAX - (UINT32_MAX % kRandomRange);
  for (int attempt = 0; attempt < 64; ++attempt) {
    uint8_t b[4];
    if (!crypto::randomBytes(b, sizeof b)) return std::nullopt;
    const uint32_t v = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    if (v < limit) return int(v % kRandomRange);
  }
  return std::nullopt;
}

void setCardRandomSource(std::function<std::optional<int>()> source) {
  std::lock_guard<std::mutex> lock(sourceMutex);
  randomSource() = std::move(source);
}

std::optional<std::string> cardCipherWord() {
  std::ifstream in(foundation::Paths::configDir() / kCardCipherConfigFile);
  std::string line;
  bool set = false;
  std::optional<std::string> word;
  while (std::getline(in, line)) {
    if (line.rfind("word=", 0) != 0) continue;
    set = true;
    std::string w = line.substr(5);
    while (!w.empty() && std::isspace(static_cast<unsigned char>(w.back()))) w.pop_back();
    bool letters = w.size() == kCardCipherWordLength;
    for (char c : w) letters = letters && std::isalpha(static_cast<unsigned char>(c));
    if (letters) word = w;
    wipe(w);
  }
  wipe(line);
  // No word set: the one the application is built with. A word set but not valid is not
  // replaced by it, since the server would not read cards sent under another word.
  if (!set) return std::string(kBuiltInCardCipherWord);
  return word;
}

std::optional<CardKey> aesKeyGenerate() {
  auto word = cardCipherWord();
  if (!word) return std::nullopt;
  auto n = cardRandomNumber();
  if (!n || *n < 0 || *n >= int(kRandomRange)) {
    wipe(*word);
    return std::nullopt;
  }
  CardKey key;
  key.HexRandomNumber = hexEncodeRndCnt(*n);
  key.RealKey = cardKeyText(*word, *n);
  wipe(*word);
  return key;
}

std::optional<std::string> encipherCardField(const std::string& plain, bool padded) {
  auto key = aesKeyGenerate();
  if (!key) return std::nullopt;
  Bytes data = foundation::bytesOf(plain);
  AESExtention aes;
  auto cipher = padded ? aes.AES128EncryptWithKey(key->RealKey, data) : aes.AES128EncryptEcmWithKey(key->RealKey, data);
  wipe(data);
  if (!cipher || cipher->empty()) return std::nullopt;
  return key->HexRandomNumber + hexEncodeCardCipher(*cipher);
}

}  // namespace orvo
