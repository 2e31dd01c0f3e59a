#include "sdk/pinpad/PPadKeys.h"

#include <algorithm>
#include <string>

namespace kestra::ppad {

KXKeyInfo keyInfoFromRecord(int position, const uint8_t* p) {
  KXKeyInfo info;
  info.position = position;
  info.checkValue.assign(p, p + 3);
  info.type = p[3];
  info.usage = std::string{char(p[4]), char(p[5])};
  info.mode = int8_t(p[6]);
  info.version = p[7];
  return info;
}

std::vector<KXKeyInfo> parseKeysInfo(const foundation::Bytes& reply) {
  std::vector<KXKeyInfo> out;
  size_t i = 0;
  const size_t n = reply.size();
  // Fixed keys.
  while (i < n) {
    if (reply[i] == 0xFF) {
      ++i;
      break;
    }
    if (n - i < 9) return out;  // a cut entry ends both lists
    out.push_back(keyInfoFromRecord(reply[i], reply.data() + i + 1));
    i += 9;
  }
  // DUKPT keys.
  while (i < n && reply[i] != 0xFF) {
    if (n - i < 3) break;
    const size_t ksnLength = reply[i + 2];
    const size_t entry = 3 + ksnLength + (ksnLength < 12 ? 2 : 0);
    if (n - i < 3 + ksnLength) break;
    KXKeyInfo info;
    info.position = reply[i];
    info.type = reply[i + 1];
    info.ksn = foundation::Bytes(reply.begin() + long(i) + 3, reply.begin() + long(i + 3 + ksnLength));
    out.push_back(std::move(info));
    if (n - i < entry) break;
    i += entry;
  }
  return out;
}

namespace {

constexpr size_t kMaxElementLength = 4096;
constexpr std::string_view kRSAEncryption = "1.2.840.113549.1.1.1";

std::string oidText(const uint8_t* p, size_t n) {
  if (n == 0) return {};
  std::string text = std::to_string(p[0] / 40);
  text += '.';
  text += std::to_string(p[0] % 40);
  uint64_t value = 0;
  for (size_t i = 1; i < n; ++i) {
    value = (value << 7) | (p[i] & 0x7F);
    if (value > 0xFFFFFFFFull) return {};  // no arc of a known identifier is this long
    if (!(p[i] & 0x80)) {
      text += '.';
      text += std::to_string(value);
      value = 0;
    }
  }
  return text;
}

}  // namespace

std::optional<RSAPublicKeyParts> rsaKeyFromDER(const uint8_t* data, size_t length) {
  if (!data || length == 0) return std::nullopt;
  RSAPublicKeyParts key;
  bool haveModulus = false, haveExponent = false;
  std::string oid;
  size_t i = 0;
  while (i < length) {
    const uint8_t tag = data[i++];
    if (i >= length) return std::nullopt;
    size_t len = data[i++];
    if (len & 0x80) {
      const size_t count = len & 0x7F;
      if (count > 4 || length - i < count) return std::nullopt;
      len = 0;
      for (size_t k = 0; k < count; ++k) len = len << 8 | data[i++];
    }
    if (len > kMaxElementLength || len > length - i) return std::nullopt;
    const uint8_t* contents = data + i;
    const bool constructed = tag & 0x20;
    const bool bitString = (tag & 0x1F) == 3;
    if (tag == 0x06 || tag == 0x26) {
      oid = oidText(contents, len);
    } else if ((tag == 0x02 || tag == 0x22) && oid == kRSAEncryption) {
      if ((len == 257 && contents[0] == 0 && contents[1] != 0) || (len == 256 && contents[0] != 0)) {
        std::copy(contents + (len - 256), contents + len, key.modulus.begin());
        haveModulus = true;
      } else {
        if (len == 0 || len > 3 || std::all_of(contents, contents + len, [](uint8_t b) { return b == 0; }))
          return std::nullopt;
        key.exponent.fill(0);
        std::copy(contents, contents + len, key.exponent.end() - long(len));
        haveExponent = true;
      }
      if (haveModulus && haveExponent) return key;
    }
    if (bitString) {
      if (len == 0) return std::nullopt;
      i += 1;  // the count of padding bits
    } else if (!constructed) {
      i += len;
    }
  }
  return std::nullopt;
}

std::optional<TR31Header> readTR31Header(std::string_view block) {
  constexpr size_t kHeader = 16;
  if (block.size() < kHeader) return std::nullopt;
  for (char c : block)
    if (c < 0x20 || c > 0x7E) return std::nullopt;
  auto decimal = [&](size_t at, size_t n, size_t* out) {
    size_t v = 0;
    for (size_t k = 0; k < n; ++k) {
      const char c = block[at + k];
      if (c < '0' || c > '9') return false;
      v = v * 10 + size_t(c - '0');
    }
    *out = v;
    return true;
  };
  TR31Header h;
  h.version = block[0];
  if (h.version < 'A' || h.version > 'D') return std::nullopt;
  size_t blocks = 0;
  if (!decimal(1, 4, &h.length) || h.length != block.size() || h.length % 8 != 0) return std::nullopt;
  if (!decimal(12, 2, &blocks)) return std::nullopt;
  h.usage = block.substr(5, 2);
  h.algorithm = block[7];
  h.modeOfUse = block[8];
  h.keyVersion = block.substr(9, 2);
  h.exportability = block[11];
  h.optionalBlocks = int(blocks);
  return h;
}

}  // namespace kestra::ppad
