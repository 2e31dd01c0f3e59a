#include "sdk/printer/PrinterReaders.h"

namespace kestra::printer {

std::optional<ScannedBarcode> parseBarcodeAnswer(const foundation::Bytes& answer) {
  size_t n = answer.size();
  if (n > 0 && answer[n - 1] == 0) --n;
  if (answer.size() < 3) return std::nullopt;
  size_t space = 0;
  while (space < n && answer[space] != ' ') ++space;
  if (space >= n) return std::nullopt;
  ScannedBarcode out;
  for (size_t i = 0; i < space; ++i) {
    if (answer[i] < '0' || answer[i] > '9' || out.type > 100000) return std::nullopt;
    out.type = out.type * 10 + (answer[i] - '0');
  }
  for (size_t i = space + 1; i < n; ++i) {
    uint8_t c = answer[i];
    if (c == 0xFF && i + 1 < n) {
      const uint8_t x = answer[++i];
      c = x == 0xFF ? 0xFF : uint8_t(x - 0x20);
    }
    out.text.push_back(char(c));
  }
  return out;
}

std::array<std::string, 3> parseCardTracks(const foundation::Bytes& answer) {
  std::array<std::string, 3> tracks;
  const size_t n = answer.size();
  for (int t = 0; t < 3; ++t) {
    const uint8_t marker = uint8_t(0xF1 + t);
    size_t at = n;
    for (size_t i = n; i-- > 0;)
      if (answer[i] == marker) {
        at = i;
        break;
      }
    if (at == n) continue;
    for (size_t i = at + 1; i < n; ++i) {
      const uint8_t c = answer[i];
      if (c == 0 || c == 0xF1 || c == 0xF2 || c == 0xF3) break;
      tracks[size_t(t)].push_back(char(c));
    }
  }
  return tracks;
}

std::array<std::optional<std::string>, 3> parseMaskedBlock(const uint8_t* data, size_t length) {
  std::array<std::optional<std::string>, 3> out;
  if (!data || length < 4) return out;
  size_t pos = 4;
  for (int t = 0; t < 3; ++t) {
    const size_t len = data[1 + t];
    if (len > length - pos) break;
    if (len > 0) out[size_t(t)] = std::string(reinterpret_cast<const char*>(data + pos), len);
    pos += len;
  }
  return out;
}

bool moduleFrame(uint8_t command, const uint8_t* data, size_t length, foundation::Bytes* out) {
  if (length > kModuleMaxData || (length && !data)) return false;
  *out = {command, 0};
  foundation::appendBE16(*out, uint16_t(length));
  if (length) out->insert(out->end(), data, data + length);
  return true;
}

bool buildApdu(int cla, int ins, int p1, int p2, const foundation::Bytes& data, int maxReply,
               foundation::Bytes* out) {
  if (data.size() > kApduMaxData) return false;
  *out = {uint8_t(cla), uint8_t(ins), uint8_t(p1), uint8_t(p2)};
  if (!data.empty()) {
    out->push_back(uint8_t(data.size()));
    out->insert(out->end(), data.begin(), data.end());
    if (maxReply != -1) out->push_back(uint8_t(maxReply));
  } else {
    out->push_back(uint8_t(maxReply == -1 ? 0 : maxReply));
  }
  return true;
}

}  // namespace kestra::printer
