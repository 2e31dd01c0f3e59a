// The simulated pinpad's user interface (group 0x35) and printer (group 0x42): the screen,
// the scripted keypad with PIN entry, menus and data prompts, and the printer channel.
#include <algorithm>

#include "testing/devices/pinpad/PinpadModel.h"

namespace devices {

namespace {

constexpr uint8_t kOK = 0;
constexpr uint8_t kInvalidCommand = 2;
constexpr uint8_t kInvalidLength = 6;
constexpr uint8_t kNoData = 8;
constexpr uint8_t kTimeout = 9;
constexpr uint8_t kCancelled = 18;
constexpr uint8_t kInvalidSequence = 30;

PinpadModel::Answer ok(Bytes data = {}) { return {kOK, std::move(data)}; }
PinpadModel::Answer status(uint8_t s) { return {s, {}}; }

int le16(const uint8_t* p) { return p[0] | p[1] << 8; }

// The rows of a pinpad raster (leftmost dot in the top bit, `bits` dots a row) placed at dot
// `x`, as the raster command of the receipt printers.
Bytes rasterCommand(int x, int bits, int rows, const uint8_t* data, size_t n) {
  const int lineBytes = (bits + 7) / 8;
  const int outBytes = (x + bits + 7) / 8;
  Bytes out = {0x1B, 0x61, 0x00, 0x1D, 0x76, 0x30, 0x00, uint8_t(outBytes), uint8_t(outBytes >> 8),
               uint8_t(rows), uint8_t(rows >> 8)};
  const size_t start = out.size();
  out.resize(start + size_t(outBytes) * size_t(rows), 0);
  for (int r = 0; r < rows; ++r)
    for (int dot = 0; dot < bits; ++dot) {
      const size_t at = size_t(r) * size_t(lineBytes) + size_t(dot / 8);
      if (at >= n || !(data[at] & (0x80 >> (dot % 8)))) continue;
      const int ox = x + dot;
      out[start + size_t(r) * size_t(outBytes) + size_t(ox / 8)] |= uint8_t(0x80 >> (ox % 8));
    }
  return out;
}

}  // namespace

std::optional<PinpadModel::Answer> PinpadModel::userInterface(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  switch (d[0]) {
    case 0x02: {  // read one key
      if (keypad.empty()) return status(kNoData);
      const uint8_t key = keypad.front();
      keypad.pop_front();
      return ok({key});
    }
    case 0x06:
      if (d.size() < 2) return status(kInvalidLength);
      keyboardEnabled = d[1] != 0;
      return ok();
    case 0x09:
    case 0x0A:
    case 0x20:
    case 0x21:
    case 0x22:
    case 0x26:
      return pinCommand(d);
    case 0x37:
      return menuOrPrompt(d);
    default:
      if (const auto s = screen.handle(d)) return status(*s);
      return status(kInvalidCommand);
  }
}

// One key of a running PIN entry: the entry's status after it (8 while it goes on).
uint8_t PinpadModel::pinKey(uint8_t key) {
  if (key <= 9) {
    if (pin.digits < pin.maxPin) {
      ++pin.digits;
      pin.typed.push_back(char('0' + key));
    }
    return kNoData;
  }
  switch (key) {
    case pinpadkey::kClear:
      pin.digits = 0;
      pin.typed.clear();
      return kNoData;
    case pinpadkey::kEnter:
      if (pin.digits < pin.minPin) return kNoData;
      pin.active = false;
      ++pinsEntered;
      enteredPin = pin.typed;
      pin.typed.clear();
      return kOK;
    case pinpadkey::kCancel:
      pin.active = false;
      return kCancelled;
    case pinpadkey::kTimeout:
      pin.active = false;
      return kTimeout;
    default:
      return kNoData;
  }
}

std::optional<PinpadModel::Answer> PinpadModel::pinCommand(const Bytes& d) {
  switch (d[0]) {
    case 0x09: {  // the blocking entry: it takes keys until it ends (no keys left: time-out)
      if (d.size() < 5) return status(kInvalidLength);
      pin = {true, 0, 4, 12, d, {}};
      while (!keypad.empty()) {
        const uint8_t key = keypad.front();
        keypad.pop_front();
        if (const uint8_t r = pinKey(key); r != kNoData) return status(r);
      }
      pin.active = false;
      return status(kTimeout);
    }
    case 0x20:
    case 0x26: {
      if (!asyncPinCommands) return status(kInvalidCommand);
      const bool limits = d[0] == 0x26;
      if (d.size() < (limits ? 7u : 5u)) return status(kInvalidLength);
      pin = {true, 0, limits ? d[5] : 4, limits ? d[6] : 12, d, {}};
      return ok();
    }
    case 0x21: {
      ++pinChecks;
      if (!pin.active) return status(kInvalidSequence);
      if (keypad.empty()) return status(kNoData);
      const uint8_t key = keypad.front();
      keypad.pop_front();
      return status(pinKey(key));
    }
    case 0x22:
      pin.active = false;
      return ok();
    case 0x0A: {
      if (d.size() < 2) return status(kInvalidLength);
      if (d[1] == 0x00 || d[1] == 0x01) return ok({0x00, 0x90});       // card status 9000
      if (d[1] == 0x64 || d[1] == 0x65) return ok(Bytes(8, 0xE5));      // the encrypted answer
      if (d[1] == 0x02) return pinBlock(d);
      return status(kInvalidCommand);
    }
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::menuOrPrompt(const Bytes& d) {
  if (d.size() < 2) return status(kInvalidLength);
  switch (d[1]) {
    case 0x01: {  // 37 01 timeout(2) title 0A choice 0A ... choice 00
      if (d.size() < 4) return status(kInvalidLength);
      menu = {true, le16(&d[2]), {}, {}};
      std::string current;
      bool inTitle = true;
      for (size_t i = 4; i < d.size(); ++i) {
        if (d[i] == 0x0A || d[i] == 0x00) {
          if (inTitle) menu.title = current;
          else menu.choices.push_back(current);
          inTitle = false;
          current.clear();
          if (d[i] == 0x00) break;
        } else {
          current.push_back(char(d[i]));
        }
      }
      if (inTitle) menu.title = current;
      return ok();
    }
    case 0x02:
      menu.open = false;
      return ok();
    case 0x03: {
      ++menuChecks;
      if (!menu.open) return status(kInvalidSequence);
      if (keypad.empty()) return status(kNoData);
      const uint8_t key = keypad.front();
      keypad.pop_front();
      int choice = -1;
      if (key >= 1 && key <= 9 && size_t(key) <= menu.choices.size()) choice = key;
      else if (key == pinpadkey::kEnter && !menu.choices.empty()) choice = 1;
      if (key == pinpadkey::kCancel || key == pinpadkey::kTimeout) {
        menu.open = false;
        return status(key == pinpadkey::kCancel ? kCancelled : kTimeout);
      }
      if (choice < 0) return status(kNoData);
      menu.open = false;
      return ok({uint8_t(choice), uint8_t(choice >> 8)});
    }
    case 0x11: {  // 37 11 language id 00 00 00 00 maxLength timeout(2) value
      if (d.size() < 11) return status(kInvalidLength);
      prompt = {true, d[3], d[2], d[8], le16(&d[9]), std::string(d.begin() + 11, d.end())};
      return ok();
    }
    case 0x12:
      prompt.open = false;
      ++promptCancels;
      return ok();
    case 0x13: {
      if (!prompt.open) return status(kInvalidSequence);
      if (keypad.empty()) return status(kNoData);
      const uint8_t key = keypad.front();
      keypad.pop_front();
      if (key <= 9) {
        if (int(prompt.value.size()) < prompt.maxLength) prompt.value.push_back(char('0' + key));
        return status(kNoData);
      }
      if (key == pinpadkey::kClear) {
        if (!prompt.value.empty()) prompt.value.pop_back();
        return status(kNoData);
      }
      if (key == pinpadkey::kEnter) {
        prompt.open = false;
        Bytes reply(prompt.value.begin(), prompt.value.end());
        reply.push_back(0);
        return ok(reply);
      }
      if (key == pinpadkey::kCancel || key == pinpadkey::kTimeout) {
        prompt.open = false;
        return status(key == pinpadkey::kCancel ? kCancelled : kTimeout);
      }
      return status(kNoData);
    }
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::printerChannel(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  switch (d[0]) {
    case 0x01:
      if (d.size() < 2) return status(kInvalidLength);
      printerEnabled = d[1] != 0;
      return ok();
    case 0x02:
      if (d.size() > 513) return status(kInvalidLength);
      printSlices.push_back(d.size() - 1);
      receipt.feed(d.data() + 1, d.size() - 1);
      return ok();
    case 0x03: {  // x(2) bits(2) rows(2) raster
      if (d.size() < 7) return status(kInvalidLength);
      receipt.feed(rasterCommand(le16(&d[1]), le16(&d[3]), le16(&d[5]), d.data() + 7, d.size() - 7));
      return ok();
    }
    case 0x04: {
      if (d.size() < 2) return status(kInvalidLength);
      uint32_t value = 0;
      if (d[1] == 1) value = uint32_t(paperWidth);
      else if (d[1] == 2) value = 1;
      else if (d[1] == 3 && busyChecks > 0) value = uint32_t(busyChecks--);
      return ok({uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)});
    }
    case 0x06:
      if (d.size() < 3) {
        if (d.size() == 2 && d[1] == 0) return ok();
        return status(kInvalidLength);
      }
      bandHeight = le16(&d[1]);
      bandRows.clear();
      return ok();
    case 0x07: {  // x(2) row(2) bits(2) rows(2) raster: rows of the band being built
      if (d.size() < 9 || bandHeight <= 0) return status(kInvalidLength);
      const int x = le16(&d[1]), row = le16(&d[3]), bits = le16(&d[5]), rows = le16(&d[7]);
      const Bytes placed = rasterCommand(x, bits, rows, d.data() + 9, d.size() - 9);
      const int outBytes = (x + bits + 7) / 8;
      if (bandRows.empty()) bandRows.assign(11, 0);
      bandRows[7] = uint8_t(outBytes);
      bandRows[8] = uint8_t(outBytes >> 8);
      const size_t need = 11 + size_t(outBytes) * size_t(bandHeight);
      if (bandRows.size() < need) bandRows.resize(need, 0);
      for (int r = 0; r < rows && row + r < bandHeight; ++r)
        std::copy_n(placed.begin() + 11 + std::ptrdiff_t(r) * outBytes, outBytes,
                    bandRows.begin() + 11 + std::ptrdiff_t(row + r) * outBytes);
      return ok();
    }
    case 0x08: {
      if (bandRows.size() < 11) return ok();
      const Bytes head = {0x1B, 0x61, 0x00, 0x1D, 0x76, 0x30, 0x00};
      std::copy(head.begin(), head.end(), bandRows.begin());
      bandRows[9] = uint8_t(bandHeight);
      bandRows[10] = uint8_t(bandHeight >> 8);
      receipt.feed(bandRows);
      bandRows.clear();
      return ok();
    }
    default:
      return status(kInvalidCommand);
  }
}

}  // namespace devices
