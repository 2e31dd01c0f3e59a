#include "sdk/foundation/KXTLV.h"

#include <cstdio>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

KXTLV KXTLV::tlvWithData(const foundation::Bytes& data, uint32_t tag) { return KXTLV(tag, data); }

KXTLV KXTLV::tlvWithInt(uint64_t value, int nBytes, uint32_t tag) {
  foundation::Bytes b(nBytes > 0 ? size_t(nBytes) : 0, 0);
  for (size_t i = 0; i < b.size() && i < 8; ++i) b[b.size() - 1 - i] = uint8_t(value >> (8 * i));
  return KXTLV(tag, std::move(b));
}

KXTLV KXTLV::tlvWithBCD(uint64_t value, int nBytes, uint32_t tag) {
  foundation::Bytes b(nBytes > 0 ? size_t(nBytes) : 0, 0);
  for (size_t i = 0; i < b.size(); ++i) {
    const uint8_t lo = uint8_t(value % 10);
    value /= 10;
    const uint8_t hi = uint8_t(value % 10);
    value /= 10;
    b[b.size() - 1 - i] = uint8_t(hi << 4 | lo);
  }
  return KXTLV(tag, std::move(b));
}

KXTLV KXTLV::tlvWithString(std::string_view text, uint32_t tag) {
  return KXTLV(tag, foundation::Bytes(text.begin(), text.end()));
}

KXTLV KXTLV::tlvWithHexString(std::string_view hex, uint32_t tag) {
  return KXTLV(tag, KXUNISDKGlobals::stringToData(hex));
}

uint32_t KXTLV::tagFromHexString(std::string_view hex) {
  uint32_t tag = 0;
  for (uint8_t b : KXUNISDKGlobals::stringToData(hex)) tag = tag << 8 | b;
  return tag;
}

std::vector<KXTLV> KXTLV::findTag(uint32_t tag, const std::vector<KXTLV>& tags) {
  std::vector<KXTLV> out;
  for (const auto& t : tags)
    if (t.tag == tag) out.push_back(t);
  return out;
}

std::optional<KXTLV> KXTLV::findLastTag(uint32_t tag, const std::vector<KXTLV>& tags) {
  for (auto it = tags.rbegin(); it != tags.rend(); ++it)
    if (it->tag == tag) return *it;
  return std::nullopt;
}

std::optional<std::vector<KXTLV>> KXTLV::decodeTags(const foundation::Bytes& data) {
  return decodeTags(data.data(), data.size());
}

std::optional<std::vector<KXTLV>> KXTLV::decodeTags(const uint8_t* data, size_t length) {
  if (!data || length == 0) return std::nullopt;
  std::vector<KXTLV> out;
  size_t pos = 0;
  while (pos < length) {
    // Tag: one byte, more while the first has all five low bits set and each following one
    // has bit 7 set; four bytes at most.
    uint32_t tag = data[pos++];
    if ((tag & 0x1F) == 0x1F) {
      for (int n = 1; n < 4; ++n) {
        if (pos >= length) return std::nullopt;
        const uint8_t b = data[pos++];
        tag = tag << 8 | b;
        if (!(b & 0x80)) break;
      }
    }
    // Length: short form, 0x80 as zero, or long form.
    if (pos >= length) return std::nullopt;
    const uint8_t l = data[pos++];
    size_t len = 0;
    if (l < 0x80) {
      len = l;
    } else if (l > 0x80) {
      const size_t n = l & 0x7F;
      if (n > length - pos) return std::nullopt;
      for (size_t i = 0; i < n; ++i) {
        len = len << 8 | data[pos++];
        if (len > kMaxValueLength) return std::nullopt;
      }
    }
    if (len > kMaxValueLength) return std::nullopt;
    if (len > length - pos) return std::nullopt;
    out.emplace_back(tag, foundation::Bytes(data + pos, data + pos + len));
    pos += len;
  }
  return out;
}

foundation::Bytes KXTLV::encodeTags(const std::vector<KXTLV>& tags) {
  foundation::Bytes out;
  for (const auto& t : tags) {
    for (int shift = 24; shift >= 8; shift -= 8)
      if (uint8_t(t.tag >> shift)) out.push_back(uint8_t(t.tag >> shift));
    out.push_back(uint8_t(t.tag));
    const size_t len = t.data ? t.data->size() : 0;
    if (len <= 127) {
      out.push_back(uint8_t(len));
    } else if (len <= 0xFFFF) {
      out.push_back(0x82);
      foundation::appendBE16(out, uint16_t(len));
    } else if (len <= 0xFFFFFF) {
      out.push_back(0x83);
      out.push_back(uint8_t(len >> 16));
      foundation::appendBE16(out, uint16_t(len));
    } else {
      out.push_back(0x84);
      foundation::appendBE32(out, uint32_t(len));
    }
    if (len) out.insert(out.end(), t.data->begin(), t.data->end());
  }
  return out;
}

bool KXTLV::constructed() const {
  uint32_t t = tag;
  while (t > 0xFF) t >>= 8;
  return (t & 0x20) != 0;
}

std::string KXTLV::tagAsString() const {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02X", unsigned(tag));
  return buf;
}

std::string KXTLV::valueAsString() const {
  return data ? std::string(data->begin(), data->end()) : std::string();
}

std::string KXTLV::valueAsHexString() const {
  return data ? KXUNISDKGlobals::toHexString(data->data(), data->size(), false) : std::string();
}

int64_t KXTLV::valueAsInt64() const {
  uint64_t v = 0;
  if (data)
    for (uint8_t b : *data) v = v << 8 | b;
  return int64_t(v);
}

std::string KXTLV::description() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Tag: %x (", unsigned(tag));
  std::string out = buf;
  if (tag == 0xD3 || tag == 0xD4) {
    out += valueAsString();
  } else if (!data) {
    out += "(null)";
  } else {
    // The byte buffer's own form: "<" lower-case hex in groups of four bytes ">".
    static const char* kDigits = "0123456789abcdef";
    out += '<';
    for (size_t i = 0; i < data->size(); ++i) {
      if (i && i % 4 == 0) out += ' ';
      out += kDigits[(*data)[i] >> 4];
      out += kDigits[(*data)[i] & 15];
    }
    out += '>';
  }
  out += ')';
  return out;
}

}  // namespace kestra
