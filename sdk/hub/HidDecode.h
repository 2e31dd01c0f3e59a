#pragma once
// Decoding of USB HID keyboard boot reports (8 bytes: modifier bits, a reserved byte, up
// to six key usage IDs of the keyboard page) with a US keyboard layout.
//
// Threads: pure functions; any thread. Bad input: reports are read only within `length`;
// a trailing partial report is read as far as it goes; the text is bounded.

#include <cstdint>
#include <string>

namespace kestra {

struct HidKey {
  uint8_t usage;      // keyboard page usage ID
  uint8_t vk;         // Windows virtual-key code
  uint8_t plain;      // character without shift (0: none)
  uint8_t shifted;    // character with shift (0: none)
};

// The key table entry of a usage ID, or nullptr.
const HidKey* hidKeyForUsage(uint8_t usage);

// Either shift key.
inline constexpr uint8_t kHidShiftMask = 0x22;
// The longest text `processHIDData` returns.
inline constexpr size_t kHidMaxText = 1023;

// The characters the reports type, in order.
std::string processHIDData(const uint8_t* data, int length);

// Receives one call per recognised key of each report.
class HidKeyReceiver {
 public:
  virtual ~HidKeyReceiver() = default;
  virtual void keyboardButtonPressed(bool pressed, int vk, signed char character, int modifiers) = 0;
};
void processHIDEvents(HidKeyReceiver* receiver, const uint8_t* data, int length);

}  // namespace kestra
