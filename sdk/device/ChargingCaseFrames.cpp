#include "sdk/device/ChargingCaseFrames.h"

#include <algorithm>
#include <string>

namespace kestra::chargingcase {

Bytes controlMessage(uint8_t identifier, const Bytes& data) {
  Bytes m(kControlMessageLength, 0);
  m[0] = kControlMarker0;
  m[1] = kControlMarker1;
  m[2] = identifier;
  for (size_t i = 0; i < data.size() && i < 5; ++i) m[3 + i] = data[i];
  return m;
}

size_t scanControlMessage(Bytes& buffer) {
  size_t drop = 0;
  while (buffer.size() - drop >= kControlMessageLength) {
    if (buffer[drop] == kControlMarker0 && buffer[drop + 1] == kControlMarker1) break;
    ++drop;
  }
  buffer.erase(buffer.begin(), buffer.begin() + long(drop));
  if (buffer.size() < kControlMessageLength) return 0;
  return kControlMessageLength;
}

Bytes bootloaderFrame(uint16_t code, const Bytes& payload) {
  const size_t total = kBootHeaderLength + payload.size();
  Bytes f(total, 0);
  f[0] = kBootMarker0;
  f[1] = kBootMarker1;
  f[2] = uint8_t(total & 0xFF);
  f[3] = uint8_t((total >> 8) & 0xFF);
  f[4] = uint8_t(code & 0xFF);
  f[5] = uint8_t(code >> 8);
  for (size_t i = 0; i < payload.size(); ++i) f[kBootHeaderLength + i] = payload[i];
  return f;
}

size_t scanBootloaderFrame(Bytes& buffer) {
  size_t start = 0;
  for (;;) {
    // Move to the next marker; a last byte that may be the first half of one stays.
    while (start < buffer.size()) {
      if (buffer[start] == kBootMarker0 && (start + 1 == buffer.size() || buffer[start + 1] == kBootMarker1)) break;
      ++start;
    }
    if (buffer.size() - start < 4) break;
    const size_t length = size_t(buffer[start + 2]) | (size_t(buffer[start + 3]) << 8);
    if (length >= kBootHeaderLength) break;
    // A header whose length could not hold the header itself is no frame start.
    ++start;
  }
  buffer.erase(buffer.begin(), buffer.begin() + long(start));
  if (buffer.size() < 4) return 0;
  const size_t length = size_t(buffer[2]) | (size_t(buffer[3]) << 8);
  return buffer.size() >= length ? length : 0;
}

uint16_t bootloaderFrameCode(const Bytes& buffer) {
  if (buffer.size() < 6) return 0xFFFF;
  return uint16_t(buffer[4] | (buffer[5] << 8));
}

Bytes bootloaderFramePayload(const Bytes& buffer, size_t length) {
  length = std::min(length, buffer.size());
  if (length <= kBootHeaderLength) return {};
  return Bytes(buffer.begin() + long(kBootHeaderLength), buffer.begin() + long(length));
}

namespace {
uint16_t be16(const Bytes& m, size_t at) { return uint16_t((m[at] << 8) | m[at + 1]); }
}  // namespace

void applyControlReplies(Bytes& buffer, CaseReportedValues& v,
                         const std::function<void(const char* notification)>& received) {
  while (scanControlMessage(buffer) == kControlMessageLength) {
    const Bytes m(buffer.begin(), buffer.begin() + long(kControlMessageLength));
    buffer.erase(buffer.begin(), buffer.begin() + long(kControlMessageLength));
    const char* posted = nullptr;
    switch (m[2]) {
      case kReplyAccessoryInformation:
        v.pim = int8_t(m[7]);
        posted = kDemo1ReceivedAccessoryInformation;
        break;
      case kReplySwitchPositions:
        v.switchPositions = m[3];
        v.batteryMaxCapacity = be16(m, 4);
        v.batteryInquiry = 1;
        posted = kDemo1ReceivedSwitchPositions;
        break;
      case kReplyBatteryHealth:
        v.batteryHealth = m[3];
        v.batteryChargeCount = be16(m, 4);
        v.batteryInquiry = 3;
        posted = kDemo1ReceivedBatteryHealth;
        break;
      case kReplyBatteryCapacity:
        v.batteryCapacity = m[3];
        v.batteryVoltage = be16(m, 4);
        v.batteryInquiry = 5;
        posted = kDemo1ReceivedBatteryCapacity;
        break;
      case kReplyAuxInformation:
        v.batteryFirmwareVersion = m[3];
        v.powerSource = m[4];
        posted = kDemo1ReceivedBatteryAuxInformation;
        break;
      default:
        break;  // consumed and ignored
    }
    if (posted && received) received(posted);
  }
}

Bytes packCaseName(const std::string& name) {
  std::string padded = name.substr(0, 15);
  padded.resize(15, ' ');
  Bytes out;
  for (size_t w = 0; w < 5; ++w) {
    for (size_t c = 0; c < 3; ++c) out.push_back(uint8_t(padded[w * 3 + c]));
    out.push_back(0);
  }
  return out;
}

std::string unpackCaseName(const uint8_t* packed) {
  std::string out;
  for (size_t w = 0; w < 5; ++w)
    for (size_t c = 0; c < 3; ++c) out.push_back(char(packed[w * 4 + c]));
  return out;
}

}  // namespace kestra::chargingcase
