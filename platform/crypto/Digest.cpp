#include "platform/crypto/Digest.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

#include "platform/crypto/Cipher.h"

namespace crypto {
namespace {

template <size_t N>
std::array<uint8_t, N> digest(const EVP_MD* md, const uint8_t* data, size_t len) {
  std::array<uint8_t, N> out{};
  unsigned int outLen = 0;
  static const uint8_t kNothing = 0;
  // EVP_Digest is a one-shot over any length; a null pointer with length 0 is allowed here.
  EVP_Digest(len ? data : &kNothing, len, out.data(), &outLen, md, nullptr);
  return out;
}

}  // namespace

Sha1Digest sha1(const uint8_t* data, size_t len) { return digest<20>(EVP_sha1(), data, len); }
Sha256Digest sha256(const uint8_t* data, size_t len) {
  return digest<32>(EVP_sha256(), data, len);
}

bool randomBytes(uint8_t* out, size_t len, foundation::Error* error) {
  while (len > 0) {
    int chunk = len > size_t(INT_MAX) ? INT_MAX : int(len);
    if (RAND_bytes(out, chunk) != 1)
      return foundation::fail(error, foundation::Error(kCryptoErrorDomain, kCipherFailure,
                                                       "Random source failed"));
    out += chunk;
    len -= size_t(chunk);
  }
  return true;
}

foundation::Bytes randomBytes(size_t len) {
  foundation::Bytes b(len);
  if (!randomBytes(b.data(), len)) return {};
  return b;
}

}  // namespace crypto
