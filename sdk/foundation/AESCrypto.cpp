#include "sdk/foundation/AESCrypto.h"

#include "platform/crypto/Cipher.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

AESCrypto AESCrypto::cryptoWithKey(const foundation::Bytes& key) {
  AESCrypto c;
  c.key = key;
  return c;
}

std::optional<foundation::Bytes> AESCrypto::encryptData(const foundation::Bytes& data,
                                                        foundation::Error* error) {
  return AESOperation(0, data, error);
}

std::optional<foundation::Bytes> AESCrypto::decryptData(const foundation::Bytes& data,
                                                        foundation::Error* error) {
  return AESOperation(1, data, error);
}

std::optional<foundation::Bytes> AESCrypto::AESOperation(int operation,
                                                         const foundation::Bytes& data,
                                                         foundation::Error* error) {
  if (key.size() > 32) {
    foundation::fail(error, KXUNISDKGlobals::makeError(
                                -9, "AES key must be at most 32 bytes, got %zu", key.size()));
    return std::nullopt;
  }
  if (iv && iv->size() != 16) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-9, "AES IV must be 16 bytes, got %zu",
                                                       iv->size()));
    return std::nullopt;
  }
  foundation::Bytes k(key.size() > 16 ? 32 : 16, 0);
  std::copy(key.begin(), key.end(), k.begin());
  const foundation::Bytes ivBytes = iv ? *iv : foundation::Bytes(16, 0);
  foundation::Error cipherError;
  auto out = operation == 0
                 ? crypto::aesEncrypt(k, data, crypto::Mode::CBC, crypto::Padding::None, ivBytes,
                                      &cipherError)
                 : crypto::aesDecrypt(k, data, crypto::Mode::CBC, crypto::Padding::None, ivBytes,
                                      &cipherError);
  foundation::secureClear(k);
  if (!out) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-9, cipherError.text));
    return std::nullopt;
  }
  if (keepIV && data.size() >= 16) {
    const foundation::Bytes& chained = operation == 0 ? *out : data;
    iv = foundation::Bytes(chained.end() - 16, chained.end());
  }
  return out;
}

}  // namespace kestra
