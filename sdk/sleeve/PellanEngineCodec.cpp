#include "sdk/sleeve/PellanEngineCodec.h"

#include <zlib.h>

#include <algorithm>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra::pellan {

using foundation::Bytes;
using foundation::Error;

namespace {

constexpr uint8_t kSOH = 0x01, kRS = 0x1E, kEOT = 0x04;
// A Code answer never starts after more noise than the engine buffer holds.
constexpr int kCodeMaxNoise = 4112;
// How long a Newland engine has for each part of its answer.
constexpr double kNewlandAnswerTimeout = 1.0;

bool failWith(Error* error, int code, const char* text) {
  return foundation::fail(error, KXUNISDKGlobals::makeError(code, std::string(text)));
}

// A read that must return exactly `length` bytes; a shorter one fails with `text` unless
// the read filled the error itself.
std::optional<Bytes> readExactly(const EngineRead& read, int length, double timeout,
                                 Error* error, const char* text) {
  Error e;
  auto got = read(length, timeout, -1, &e);
  if (!got) {
    foundation::fail(error, e.code ? e : KXUNISDKGlobals::makeError(-6, std::string(text)));
    return std::nullopt;
  }
  if (got->size() != size_t(length)) {
    failWith(error, -6, text);
    return std::nullopt;
  }
  return got;
}

uint32_t zlibCrc32(const uint8_t* data, size_t length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes lengths as uInt; every buffer here is far below that.
  return uint32_t(crc32(crc, data, uInt(length)));
}

}  // namespace

// ---- EngineBuffer -----------------------------------------------------------------------------

size_t EngineBuffer::append(const uint8_t* data, size_t length) {
  const size_t room = capacity_ - std::min(capacity_, bytes_.size());
  const size_t n = std::min(room, length);
  bytes_.insert(bytes_.end(), data, data + n);
  return length - n;
}

void EngineBuffer::truncate(size_t n) {
  if (n < bytes_.size()) bytes_.resize(n);
}

bool EngineBuffer::satisfies(int length, int stopByte) const {
  if (stopByte != -1 && std::find(bytes_.begin(), bytes_.end(), uint8_t(stopByte)) != bytes_.end())
    return true;
  if (length >= 1 && bytes_.size() >= size_t(length)) return true;
  return stopByte == -1 && length <= 0 && !bytes_.empty();
}

Bytes EngineBuffer::take(int length, int stopByte) {
  long wanted = length;
  if (stopByte != -1) {
    auto at = std::find(bytes_.begin(), bytes_.end(), uint8_t(stopByte));
    if (at != bytes_.end()) wanted = long(at - bytes_.begin()) + 1;
  }
  const size_t n = wanted <= 0 || size_t(wanted) >= bytes_.size() ? bytes_.size() : size_t(wanted);
  Bytes out(bytes_.begin(), bytes_.begin() + long(n));
  bytes_.erase(bytes_.begin(), bytes_.begin() + long(n));
  return out;
}

// ---- Code -------------------------------------------------------------------------------------

Bytes codePacket(char command, const uint8_t* data, size_t length) {
  const size_t n = data ? std::min(length, kCodeMaxData) : 0;
  Bytes p = {0xEE, 0xEE, 0xEE, 0xEE, uint8_t(command), uint8_t(n)};
  if (n) p.insert(p.end(), data, data + n);
  p.push_back(0x00);
  const uint16_t crc = KXUNISDKGlobals::crc16ccit(p.data() + 4, uint32_t(p.size() - 4), 0);
  p.push_back(uint8_t(crc >> 8) & 0x7F);
  p.push_back(uint8_t(crc) & 0x7F);
  return p;
}

Bytes codeLoadChunk(const uint8_t* image, size_t offset, size_t length) {
  Bytes data;
  foundation::appendBE32(data, uint32_t(offset + length));
  data.insert(data.end(), image + offset, image + offset + length);
  return data;
}

Bytes codeLoadEnd() { return {0xFF, 0xFF, 0xFF, 0xFF}; }

std::optional<CodeAnswer> readCodeAnswer(const EngineRead& read, double timeout, Error* error) {
  static constexpr const char* kTimeout = "Timeout waiting for the engine";
  // Noise before the start byte is skipped, up to what the engine buffer can hold.
  for (int skipped = 0;; ++skipped) {
    if (skipped > kCodeMaxNoise) {
      failWith(error, -6, kTimeout);
      return std::nullopt;
    }
    auto b = read(1, timeout, -1, nullptr);
    if (!b || b->empty()) {
      failWith(error, -6, kTimeout);
      return std::nullopt;
    }
    if ((*b)[0] == kSOH) break;
  }
  auto kind = read(2, timeout, -1, nullptr);
  if (!kind || kind->size() < 2 || (*kind)[0] != 'X') {
    failWith(error, -6, kTimeout);
    return std::nullopt;
  }
  CodeAnswer answer;
  if ((*kind)[1] == 'R') {
    auto header = read(12, timeout, -1, nullptr);
    if (!header || header->size() < 12) {
      failWith(error, -6, kTimeout);
      return std::nullopt;
    }
    answer.sequence = (*header)[5];
    const int length = foundation::readBE16(header->data() + 10);
    auto body = read(length + 2, timeout, -1, nullptr);
    if (!body || body->size() < size_t(length) + 2) {
      failWith(error, -6, kTimeout);
      return std::nullopt;
    }
    const Bytes& b = *body;
    if (b.size() >= 3 && b[0] == kSOH && b[1] == 'X' && b[2] == kRS && length > 7)
      answer.text.assign(b.begin() + 6, b.begin() + 6 + (length - 7));
    return answer;
  }
  if ((*kind)[1] == kRS) {
    auto skip = read(3, timeout, -1, nullptr);
    if (!skip || skip->size() < 3) {
      failWith(error, -6, kTimeout);
      return std::nullopt;
    }
    auto text = read(0, timeout, kEOT, nullptr);
    if (!text || text->empty()) {
      failWith(error, -6, kTimeout);
      return std::nullopt;
    }
    if (text->back() == kEOT) text->pop_back();
    answer.text.assign(text->begin(), text->end());
    return answer;
  }
  failWith(error, -6, "Invalid response received");
  return std::nullopt;
}

bool parseCodeParamAnswer(std::string_view answer, uint64_t* value) {
  if (answer.empty() || answer[0] != 'd') return false;
  uint64_t v = 0;
  // As strtoull: leading hexadecimal digits, the rest ignored; no digits gives 0.
  for (char c : answer.substr(1)) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else break;
    v = v << 4 | uint64_t(digit);
  }
  if (value) *value = v;
  return true;
}

std::optional<EngineInformation> parseCodeInformation(std::string_view answer, Error* error) {
  if (answer.empty() || answer[0] != 'i') {
    failWith(error, -21, "Invalid response received");
    return std::nullopt;
  }
  if (answer.size() < 50) {
    failWith(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  auto range = [&](size_t from, size_t to) { return std::string(answer.substr(from, to - from + 1)); };
  return EngineInformation{
      {"ApplicationVersion", range(1, 4)},   {"CoreApplicationVersion", range(5, 8)},
      {"SerialNumber", range(13, 22)},        {"OEMIdentifier", range(24, 25)},
      {"HardwareRevision", range(31, 32)},    {"HardwareType", range(33, 36)},
      {"BootApplicationVersion", range(37, 40)}, {"KernelVersion", range(41, 44)},
      {"RootFSVersion", range(45, 48)},       {"OEMDecoderVersion", std::string(answer.substr(50))}};
}

// ---- Newland -----------------------------------------------------------------------------------

Bytes newlandQueryPacket(const Bytes& query) {
  Bytes p = {0x7E, 0x00};
  foundation::appendBE16(p, uint16_t(query.size()));
  foundation::append(p, query);
  uint8_t lrc = 0xFF;
  for (size_t i = 2; i < p.size(); ++i) lrc ^= p[i];
  p.push_back(lrc);
  return p;
}

Bytes newlandCommandFrame(std::string_view text) {
  const size_t n = std::min(text.size(), kNewlandMaxCommand);
  Bytes p = {0x02, 0x05};
  foundation::appendBE16(p, uint16_t(n));
  p.insert(p.end(), text.begin(), text.begin() + long(n));
  foundation::appendBE32(p, zlibCrc32(p.data(), p.size()));
  return p;
}

Bytes newlandFirmwareFrame(const Bytes& image, size_t offset) {
  Bytes p(1 + kNewlandFrameData, 0x00);
  p[0] = 0x02;
  if (offset < image.size()) {
    const size_t n = std::min(kNewlandFrameData, image.size() - offset);
    std::copy(image.begin() + long(offset), image.begin() + long(offset + n), p.begin() + 1);
  }
  foundation::appendBE32(p, zlibCrc32(p.data(), p.size()));
  return p;
}

std::optional<Bytes> readNewlandQueryAnswer(const EngineRead& read, Error* error) {
  static constexpr const char* kShort = "Invalid data length received";
  auto header = readExactly(read, 5, kNewlandAnswerTimeout, error, kShort);
  if (!header) return std::nullopt;
  const int length = foundation::readBE16(header->data() + 2);
  if (length < 1) {
    failWith(error, -6, kShort);
    return std::nullopt;
  }
  auto body = readExactly(read, length, kNewlandAnswerTimeout, error, kShort);
  if (!body) return std::nullopt;
  body->pop_back();
  return body;
}

std::optional<std::string> readNewlandCommandAnswer(const EngineRead& read, Error* error) {
  static constexpr const char* kBad = "Invalid response received";
  auto header = readExactly(read, 4, kNewlandAnswerTimeout, error, kBad);
  if (!header) return std::nullopt;
  const int length = foundation::readBE16(header->data() + 2);
  if ((*header)[0] != 0x02 || (*header)[1] != 0x05 || length < 1 || length > 16) {
    failWith(error, -6, kBad);
    return std::nullopt;
  }
  auto body = readExactly(read, length + 4, kNewlandAnswerTimeout, error, kBad);
  if (!body) return std::nullopt;
  return std::string(body->begin(), body->begin() + length);
}

// ---- Opticon -----------------------------------------------------------------------------------

Bytes opticonBlock(const Bytes& image, size_t offset, uint16_t number) {
  Bytes b;
  b.reserve(kOpticonBlockSize);
  foundation::appendLE16(b, number);
  foundation::appendLE16(b, uint16_t(kOpticonBlockData));
  b.resize(4 + kOpticonBlockData, 0x00);
  uint32_t sum = 0;
  if (offset < image.size()) {
    const size_t n = std::min(kOpticonBlockData, image.size() - offset);
    std::copy(image.begin() + long(offset), image.begin() + long(offset + n), b.begin() + 4);
    for (size_t i = 0; i < n; ++i) sum += image[offset + i];
  }
  foundation::appendLE16(b, uint16_t(sum));
  return b;
}

Bytes opticonEndBlock() {
  Bytes b(kOpticonBlockSize, 0x00);
  b[0] = 'E';
  b[1] = 'D';
  return b;
}

}  // namespace kestra::pellan
