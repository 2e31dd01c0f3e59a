#include "platform/crypto/Cipher.h"

#include <openssl/evp.h>

#include <memory>
#include <string>

namespace crypto {
namespace {

struct CtxDeleter {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

bool failWith(Error* error, int code, std::string text) {
  return foundation::fail(error, Error(kCryptoErrorDomain, code, std::move(text)));
}

// Runs one whole EVP operation. The caller has already checked key, IV and data sizes.
std::optional<Bytes> run(const EVP_CIPHER* cipher, const uint8_t* key, const Bytes& data,
                         const Bytes& iv, size_t blockSize, bool encrypt, Padding padding,
                         Error* error) {
  std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) {
    failWith(error, kCipherFailure, "Cipher context could not be created");
    return std::nullopt;
  }
  Bytes zeroIv(blockSize, 0);
  const uint8_t* ivp = nullptr;
  if (EVP_CIPHER_iv_length(cipher) > 0) ivp = iv.empty() ? zeroIv.data() : iv.data();
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, ivp, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), padding == Padding::PKCS7 ? 1 : 0) != 1) {
    failWith(error, kCipherFailure, "Cipher could not be initialised");
    return std::nullopt;
  }
  Bytes out(data.size() + blockSize);
  int len1 = 0;
  int len2 = 0;
  if (!data.empty() &&
      EVP_CipherUpdate(ctx.get(), out.data(), &len1, data.data(), int(data.size())) != 1) {
    failWith(error, kCipherFailure, "Cipher operation failed");
    return std::nullopt;
  }
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + len1, &len2) != 1) {
    foundation::secureClear(out);
    if (!encrypt && padding == Padding::PKCS7)
      failWith(error, kDecodeError, "Invalid padding");
    else
      failWith(error, kCipherFailure, "Cipher operation failed");
    return std::nullopt;
  }
  out.resize(size_t(len1 + len2));
  return out;
}

bool checkCommon(const Bytes& data, Mode mode, Padding padding, const Bytes& iv, size_t block,
                 bool encrypt, Error* error) {
  if (mode == Mode::CBC && !iv.empty() && iv.size() != block)
    return failWith(error, kParamError,
                    "IV must be " + std::to_string(block) + " bytes, got " + std::to_string(iv.size()));
  // Decryption with padding needs whole blocks too; encryption with padding takes any length.
  if ((padding == Padding::None || !encrypt) && data.size() % block != 0)
    return failWith(error, kAlignmentError,
                    "Data length " + std::to_string(data.size()) + " is not a multiple of " +
                        std::to_string(block));
  if (padding == Padding::PKCS7 && !encrypt && data.empty())
    return failWith(error, kAlignmentError, "Padded data cannot be empty");
  return true;
}

std::optional<Bytes> aes(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                         const Bytes& iv, bool encrypt, Error* error) {
  const EVP_CIPHER* cipher = nullptr;
  switch (key.size()) {
    case 16: cipher = mode == Mode::ECB ? EVP_aes_128_ecb() : EVP_aes_128_cbc(); break;
    case 24: cipher = mode == Mode::ECB ? EVP_aes_192_ecb() : EVP_aes_192_cbc(); break;
    case 32: cipher = mode == Mode::ECB ? EVP_aes_256_ecb() : EVP_aes_256_cbc(); break;
    default:
      failWith(error, kParamError,
               "AES key must be 16, 24 or 32 bytes, got " + std::to_string(key.size()));
      return std::nullopt;
  }
  if (!checkCommon(data, mode, padding, iv, kAesBlockSize, encrypt, error)) return std::nullopt;
  return run(cipher, key.data(), data, iv, kAesBlockSize, encrypt, padding, error);
}

std::optional<Bytes> des(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                         const Bytes& iv, bool encrypt, Error* error) {
  // Every key size runs as three-key EDE: single DES is EDE with K1 = K2 = K3 and two-key
  // Triple-DES is K1 K2 K1. This keeps to ciphers of OpenSSL's default provider.
  Bytes k3;
  switch (key.size()) {
    case 8: k3.reserve(24); for (int i = 0; i < 3; ++i) k3.insert(k3.end(), key.begin(), key.end()); break;
    case 16: k3 = key; foundation::append(k3, key.data(), 8); break;
    case 24: k3 = key; break;
    default:
      failWith(error, kParamError,
               "DES key must be 8, 16 or 24 bytes, got " + std::to_string(key.size()));
      return std::nullopt;
  }
  std::optional<Bytes> out;
  if (checkCommon(data, mode, padding, iv, kDesBlockSize, encrypt, error)) {
    const EVP_CIPHER* cipher = mode == Mode::ECB ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc();
    out = run(cipher, k3.data(), data, iv, kDesBlockSize, encrypt, padding, error);
  }
  foundation::secureClear(k3);
  return out;
}

}  // namespace

std::optional<Bytes> aesEncrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv, Error* error) {
  return aes(key, data, mode, padding, iv, true, error);
}
std::optional<Bytes> aesDecrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv, Error* error) {
  return aes(key, data, mode, padding, iv, false, error);
}
std::optional<Bytes> desEncrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv, Error* error) {
  return des(key, data, mode, padding, iv, true, error);
}
std::optional<Bytes> desDecrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv, Error* error) {
  return des(key, data, mode, padding, iv, false, error);
}

}  // namespace crypto
