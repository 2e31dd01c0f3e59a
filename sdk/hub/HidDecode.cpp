#include "sdk/hub/HidDecode.h"

#include <array>

namespace kestra {

namespace {

std::array<HidKey, 256> buildTable() {
  std::array<HidKey, 256> t{};
  auto put = [&](uint8_t usage, uint8_t vk, uint8_t plain, uint8_t shifted) {
    t[usage] = HidKey{usage, vk, plain, shifted};
  };
  for (int i = 0; i < 26; ++i) put(uint8_t(0x04 + i), uint8_t(0x41 + i), uint8_t('a' + i), uint8_t('A' + i));
  const char* shiftedDigits = "!@#$%^&*(";
  for (int i = 0; i < 9; ++i) put(uint8_t(0x1E + i), uint8_t(0x31 + i), uint8_t('1' + i), uint8_t(shiftedDigits[i]));
  put(0x27, 0x30, '0', ')');
  put(0x28, 0x0D, 0x0D, 0x0D);
  put(0x29, 0x1B, 0x1B, 0x1B);
  put(0x2A, 0x08, 0x08, 0x08);
  put(0x2B, 0x09, 0x09, 0x09);
  put(0x2C, 0x20, ' ', ' ');
  put(0x2D, 0xBD, '-', '_');
  put(0x2E, 0xBB, '=', '+');
  put(0x2F, 0xDB, '[', '{');
  put(0x30, 0xDD, ']', '}');
  put(0x31, 0xDC, '\\', '|');
  put(0x32, 0xC0, '#', '~');
  put(0x33, 0xBA, ';', ':');
  put(0x34, 0xDE, '\'', '"');
  put(0x35, 0xC0, '`', '~');
  put(0x36, 0xBC, ',', '<');
  put(0x37, 0xBE, '.', '>');
  put(0x38, 0xBF, '/', '?');
  put(0x39, 0x14, 0, 0);
  for (int i = 0; i < 12; ++i) put(uint8_t(0x3A + i), uint8_t(0x70 + i), 0, 0);
  put(0x46, 0x2A, 0, 0);
  put(0x47, 0x91, 0, 0);
  put(0x48, 0x13, 0, 0);
  put(0x49, 0x2D, 0, 0);
  put(0x4A, 0x24, 0, 0);
  put(0x4B, 0x21, 0, 0);
  put(0x4C, 0x2E, 0, 0);
  put(0x4D, 0x23, 0, 0);
  put(0x4E, 0x22, 0, 0);
  put(0x4F, 0x27, 0, 0);
  put(0x50, 0x25, 0, 0);
  put(0x51, 0x28, 0, 0);
  put(0x52, 0x26, 0, 0);
  put(0x53, 0x90, 0, 0);
  put(0x54, 0x6F, '/', '/');
  put(0x55, 0x6A, '*', '*');
  put(0x56, 0x6D, '-', '-');
  put(0x57, 0x6B, '+', '+');
  put(0x58, 0x0D, 0x0D, 0x0D);
  for (int i = 0; i < 9; ++i) put(uint8_t(0x59 + i), uint8_t(0x61 + i), uint8_t('1' + i), uint8_t('1' + i));
  put(0x62, 0x60, '0', '0');
  put(0x63, 0x6E, '.', '.');
  put(0x64, 0xDC, '\\', '|');
  for (int i = 0; i < 12; ++i) put(uint8_t(0x68 + i), uint8_t(0x7C + i), 0, 0);
  return t;
}

const std::array<HidKey, 256>& table() {
  static const std::array<HidKey, 256> t = buildTable();
  return t;
}

template <class F>
void eachKey(const uint8_t* data, int length, F&& f) {
  if (!data) return;
  for (int off = 0; off < length; off += 8) {
    const uint8_t mods = data[off];
    for (int i = 2; i < 8 && off + i < length; ++i)
      if (const HidKey* k = hidKeyForUsage(data[off + i])) f(*k, mods);
  }
}

}  // namespace

const HidKey* hidKeyForUsage(uint8_t usage) {
  const HidKey& k = table()[usage];
  return k.vk ? &k : nullptr;
}

std::string processHIDData(const uint8_t* data, int length) {
  std::string text;
  eachKey(data, length, [&](const HidKey& k, uint8_t mods) {
    const uint8_t c = (mods & kHidShiftMask) ? k.shifted : k.plain;
    if (c && text.size() < kHidMaxText) text.push_back(char(c));
  });
  return text;
}

void processHIDEvents(HidKeyReceiver* receiver, const uint8_t* data, int length) {
  if (!receiver || length < 1) return;
  eachKey(data, length, [&](const HidKey& k, uint8_t mods) {
    const uint8_t c = (mods & kHidShiftMask) ? k.shifted : k.plain;
    receiver->keyboardButtonPressed(true, k.vk, static_cast<signed char>(c), mods);
  });
}

}  // namespace kestra
