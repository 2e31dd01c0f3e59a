// Triple-DES helpers of KXUNISDKGlobals.
#include "platform/crypto/Cipher.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

Bytes desExpandKey(const Bytes& key) {
  if (key.size() < 16) return {};
  if (key.size() >= 24) return Bytes(key.begin(), key.begin() + 24);
  Bytes out(key.begin(), key.begin() + 16);
  out.insert(out.end(), key.begin(), key.begin() + 8);
  return out;
}

namespace {

std::optional<Bytes> des(const Bytes& data, const Bytes& key, bool encrypt, bool ecbNoPad,
                         const Bytes& iv, Error* error) {
  Bytes k = desExpandKey(key);
  if (k.empty()) {
    foundation::fail(error, KXUNISDKGlobals::makeError(
                                -9, "Triple-DES key must be at least 16 bytes, got %zu", key.size()));
    return std::nullopt;
  }
  if (!iv.empty() && iv.size() != 8) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-9, "IV must be 8 bytes, got %zu", iv.size()));
    foundation::secureClear(k);
    return std::nullopt;
  }
  const crypto::Mode mode = ecbNoPad ? crypto::Mode::ECB : crypto::Mode::CBC;
  const crypto::Padding padding =
      (encrypt && !ecbNoPad) ? crypto::Padding::PKCS7 : crypto::Padding::None;
  Error cipherError;
  auto out = encrypt ? crypto::desEncrypt(k, data, mode, padding, iv, &cipherError)
                     : crypto::desDecrypt(k, data, mode, padding, iv, &cipherError);
  foundation::secureClear(k);
  if (!out) foundation::fail(error, KXUNISDKGlobals::makeError(-9, cipherError.text));
  return out;
}

}  // namespace

std::optional<Bytes> KXUNISDKGlobals::desEncrypt(const Bytes& data, const Bytes& key, bool cbc,
                                                 const Bytes& iv, Error* error) {
  return des(data, key, true, cbc, iv, error);
}

std::optional<Bytes> KXUNISDKGlobals::desDecrypt(const Bytes& data, const Bytes& key, bool cbc,
                                                 const Bytes& iv, Error* error) {
  (void)cbc;
  return des(data, key, false, false, iv, error);
}

}  // namespace kestra
