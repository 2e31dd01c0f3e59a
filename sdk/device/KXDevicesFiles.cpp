// Two small routines of the device API: which connected receipt printer is the active one,
// and the Triple-DES CBC primitive of the contactless card routines.

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesInternal.h"

#include <cstring>

#include "platform/crypto/Cipher.h"

namespace kestra {

void KXDevices::updateActivePrinter() {
  // The chosen index counts connected printers only, in slot order; an index that names no
  // connected printer (negative, or past the connected ones) falls back to slot 0.
  int connected[2];
  int count = 0;
  for (int i = 0; i < 2; ++i)
    if (printers_[size_t(i)]->connstate() == CONN_CONNECTED) connected[count++] = i;
  const int index = activePrinterIndex_.load();
  activePrinter_ = index >= 0 && index < count ? connected[index] : 0;
}

int trides_crypto(int operation, const uint8_t* in, size_t length, uint8_t* out, size_t outCapacity,
                  const uint8_t* key, uint8_t* iv) {
  constexpr size_t kBlock = crypto::kDesBlockSize;
  if (!in || !out || !key || length == 0 || length % kBlock != 0 || length > outCapacity) return -9;
  // K1 K2 used as K1 K2 K1.
  const Bytes key24 = [&] {
    Bytes k(key, key + 16);
    k.insert(k.end(), key, key + 8);
    return k;
  }();
  const Bytes data(in, in + length);
  const Bytes ivBytes = iv ? Bytes(iv, iv + kBlock) : Bytes(kBlock, 0);
  const auto result = operation == kTridesDecrypt
                          ? crypto::desDecrypt(key24, data, crypto::Mode::CBC, crypto::Padding::None, ivBytes)
                          : crypto::desEncrypt(key24, data, crypto::Mode::CBC, crypto::Padding::None, ivBytes);
  if (!result || result->size() != length) return -6;
  std::memcpy(out, result->data(), length);
  // Only sizes: the data may be key material or card data.
  KXUNISDKGlobals::LOG("3DES %s %zu bytes", operation == kTridesDecrypt ? "decrypt" : "encrypt", length);
  if (iv) {
    // The IV area goes on as the last ciphertext block, so consecutive calls chain.
    const uint8_t* last = (operation == kTridesDecrypt ? in : out) + length - kBlock;
    std::memcpy(iv, last, kBlock);
  }
  return 0;
}

}  // namespace kestra
