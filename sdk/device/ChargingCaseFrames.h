#pragma once
// The charging case's two wire formats, as pure functions over bytes.
//
// Control messages are always 8 bytes: 5A A5, an identifier and five data bytes. There is
// no length and no checksum; a reader finds the next message by its two marker bytes.
//
// Boot-loader frames are DE C0, the total length (16-bit little-endian, header included),
// the command code (16-bit little-endian), two zero bytes and the payload.
//
// The scanners take the bytes a reader holds and drop what cannot start a message, so a
// reader never stalls on noise: bytes before a marker, and a boot-loader header whose
// length could not hold the header itself, are discarded. They never read past the end of
// the buffer and never throw.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra::chargingcase {

using foundation::Bytes;

inline constexpr size_t kControlMessageLength = 8;
inline constexpr uint8_t kControlMarker0 = 0x5A;
inline constexpr uint8_t kControlMarker1 = 0xA5;
inline constexpr size_t kBootHeaderLength = 8;
inline constexpr uint8_t kBootMarker0 = 0xDE;
inline constexpr uint8_t kBootMarker1 = 0xC0;

// Phone -> case control identifiers.
inline constexpr uint8_t kControlInitialize = 0x00;
inline constexpr uint8_t kControlLEDs = 0x02;
inline constexpr uint8_t kControlCurrent = 0x09;
inline constexpr uint8_t kControlInquiry = 0x0A;
// Case -> phone control identifiers.
inline constexpr uint8_t kReplyAccessoryInformation = 0x01;
inline constexpr uint8_t kReplySwitchPositions = 0x04;
inline constexpr uint8_t kReplyBatteryHealth = 0x06;
inline constexpr uint8_t kReplyBatteryCapacity = 0x08;
inline constexpr uint8_t kReplyAuxInformation = 0x0B;

// Boot-loader command codes (a reply carries the code of its request).
inline constexpr uint16_t kBootTargetInformation = 0x0010;
inline constexpr uint16_t kBootCreateStore = 0x0020;
inline constexpr uint16_t kBootEndOfData = 0x0028;
inline constexpr uint16_t kBootDataChunk = 0x0030;
inline constexpr uint16_t kBootVerify = 0x0040;
inline constexpr uint16_t kBootInstall = 0x00F0;

// 5A A5 id, then up to five bytes of `data` (the rest zero).
Bytes controlMessage(uint8_t identifier, const Bytes& data = {});

// The length of the complete control message at the front of `buffer` (8), or 0 when none
// is complete yet. Bytes before a marker are dropped from `buffer` as long as at least a
// whole message's worth remains; a message found after them is reported at once.
size_t scanControlMessage(Bytes& buffer);

// DE C0, length, code, 00 00, payload.
Bytes bootloaderFrame(uint16_t code, const Bytes& payload = {});

// The length of the complete boot-loader frame at the front of `buffer`, or 0 when none is
// complete yet. Noise before a marker, and a marker whose length field is below the header
// length, are dropped from `buffer`.
size_t scanBootloaderFrame(Bytes& buffer);

// The command code and payload of a complete frame of `length` bytes at the front.
uint16_t bootloaderFrameCode(const Bytes& buffer);
Bytes bootloaderFramePayload(const Bytes& buffer, size_t length);

// ---- Control replies ------------------------------------------------------------------------

inline constexpr const char* kDemo1ReceivedAccessoryInformation = "Demo1ReceivedAccessoryInformation";
inline constexpr const char* kDemo1ReceivedSwitchPositions = "Demo1ReceivedSwitchPositions";
inline constexpr const char* kDemo1ReceivedBatteryHealth = "Demo1ReceivedBatteryHealth";
inline constexpr const char* kDemo1ReceivedBatteryCapacity = "Demo1ReceivedBatteryCapacity";
inline constexpr const char* kDemo1ReceivedBatteryAuxInformation = "Demo1ReceivedBatteryAuxInformation";

// What the case last reported (initial values until it reports).
struct CaseReportedValues {
  int8_t pim = 0;
  uint8_t switchPositions = 0;
  uint8_t batteryCapacity = 50;
  uint16_t batteryVoltage = 3700;
  uint8_t batteryHealth = 100;
  uint16_t batteryMaxCapacity = 2000;
  uint16_t batteryChargeCount = 0;
  uint8_t batteryInquiry = 0;  // kind of the last battery reply: 1, 3 or 5
  uint8_t batteryFirmwareVersion = 0;
  uint8_t powerSource = 0;  // 1 not charging, 2 charging
  float temperature = 0.0f;
  int potentiometer = 0;
};

// Takes every complete control message out of `buffer`, stores what the understood ones
// carry in `values` and calls `received` with the notification name of each, in order.
void applyControlReplies(Bytes& buffer, CaseReportedValues& values,
                         const std::function<void(const char* notification)>& received);

// ---- The case's firmware file ---------------------------------------------------------------

// The 15-character device name packed into 20 bytes: five 4-byte words, each holding three
// characters and a zero byte, blank-padded.
Bytes packCaseName(const std::string& name);
// The 15 characters of a packed name (the fourth byte of each word is not looked at).
std::string unpackCaseName(const uint8_t* packed);

}  // namespace kestra::chargingcase
