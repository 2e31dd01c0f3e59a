#include "sdk/rf/OmniKey.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {

using foundation::Bytes;

namespace {

constexpr uint16_t kSwSuccess = 0x9000;
constexpr uint8_t kMifareAck = 0x0A;
constexpr int kReaderCommandPiece = 255;
// The slot of the key given in an authentication frame.
constexpr uint8_t kFrameKeySlot = 0x01;

struct OmniKeyState {
  std::mutex mutex;
  bool initComplete = false;
  std::array<bool, kRFMaxCards> cardPresent{};
  std::array<uint8_t, 256> cardSlotByChannel{};
  uint8_t ccidSequence = 0;
};

OmniKeyState& omniKeyState() {
  static OmniKeyState* s = new OmniKeyState;
  return *s;
}

int slotOfChannel(int channel) {
  if (channel < 0 || channel > 255) return 0;
  std::lock_guard lock(omniKeyState().mutex);
  return omniKeyState().cardSlotByChannel[size_t(channel)];
}

// An APDU that must be answered 90 00; its data to the answer buffer when `keepData`.
int checkedApdu(int slot, const Bytes& apdu, bool keepData) {
  uint16_t sw = 0;
  Bytes data;
  const int r = iClassAPDU(slot, apdu.data(), int(apdu.size()), &sw, &data);
  if (r < 0 || sw != kSwSuccess) return -20;
  if (keepData) rfSetCmdAnswer(data.data(), data.size());
  return 0;
}

// A Mifare write or authentication done: the card's ACK as the Mifare commands read it.
int acknowledged(int r) {
  if (r < 0) return r;
  rfSetCmdAnswer(&kMifareAck, 1);
  return 0;
}

Bytes escape(const Bytes& body) {
  Bytes apdu{0xFF, 0x68};
  apdu.insert(apdu.end(), body.begin(), body.end());
  return apdu;
}

int readerCommand(int channel, const uint8_t* data, int length) {
  const uint8_t kind = data[4];
  const uint8_t* rest = data + 5;
  const int restLength = length - 5;
  switch (kind) {
    case 3: {
      int r = checkedApdu(0, escape({0x0A, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00}), false);
      for (int at = 0; r == 0 && at < restLength; at += kReaderCommandPiece) {
        const int n = std::min(kReaderCommandPiece, restLength - at);
        Bytes piece = escape({0x0A, 0x01, uint8_t(n)});
        piece.insert(piece.end(), rest + at, rest + at + n);
        r = checkedApdu(0, piece, false);
      }
      if (r == 0) r = checkedApdu(0, escape({0x0A, 0x03, 0x00}), false);
      rfSetCmdAnswer(nullptr, 0);
      return r;
    }
    case 2: {
      uint16_t sw = 0;
      Bytes answer;
      if (iClassAPDU(channel < 0 ? 0 : slotOfChannel(channel), rest, restLength, &sw, &answer) < 0) return -20;
      answer.push_back(uint8_t(sw >> 8));
      answer.push_back(uint8_t(sw));
      rfSetCmdAnswer(answer.data(), answer.size());
      return 0;
    }
    case 1: return checkedApdu(slotOfChannel(channel), escape({0x0D, 0x00, 0x00}), true);
    default: return -20;
  }
}

// ISO 15693 frames: [flags][command][UID when addressed][block][data].
int iso15Frame(int slot, const uint8_t* data, int length) {
  if (length < 3) return -20;
  const int blockAt = (data[0] & 0x20) ? 10 : 2;
  switch (data[1]) {
    case 0x21: {
      if (length <= blockAt) return -20;
      const int count = length - blockAt - 1;
      Bytes apdu{0xFF, 0xD6, 0x00, data[blockAt], uint8_t(count)};
      apdu.insert(apdu.end(), data + blockAt + 1, data + length);
      const int r = checkedApdu(slot, apdu, false);
      if (r == 0) {
        const uint8_t ok = 0x00;  // the tag's flags byte: no error
        rfSetCmdAnswer(&ok, 1);
      }
      return r;
    }
    case 0x20: {
      const int r = checkedApdu(slot, {0xFF, 0xB0, 0x00, data[length - 1], 0x04}, true);
      if (r == 0) {
        Bytes answer{0x00};
        const Bytes block = rfCmdAnswer();
        answer.insert(answer.end(), block.begin(), block.end());
        rfSetCmdAnswer(answer.data(), answer.size());
      }
      return r;
    }
    default: return -20;
  }
}

// Mifare frames of the ISO 14443 commands.
int mifareFrame(int slot, const uint8_t* data, int length) {
  const uint8_t cmd = data[0];
  auto need = [&](int n) { return length >= n; };
  switch (cmd) {
    case 0x93: return 0;
    case 0x30:
      if (!need(2)) return -20;
      return checkedApdu(slot, {0xFF, 0xB0, 0x00, data[1], 0x10}, true);
    case 0xA0: {
      if (!need(18)) return -20;
      Bytes apdu{0xFF, 0xD6, 0x00, data[1], 0x10};
      apdu.insert(apdu.end(), data + 2, data + 18);
      return acknowledged(checkedApdu(slot, apdu, false));
    }
    case 0xA2: {
      if (!need(6)) return -20;
      Bytes apdu{0xFF, 0xD6, 0x00, data[1], 0x04};
      apdu.insert(apdu.end(), data + 2, data + 6);
      return acknowledged(checkedApdu(slot, apdu, false));
    }
    case 0x01: {
      if (!need(9)) return -20;
      Bytes apdu{0xFF, 0x82, 0x00, data[1], 0x06};
      apdu.insert(apdu.end(), data + 3, data + 9);
      return acknowledged(checkedApdu(slot, apdu, false));
    }
    case 0x02: {
      if (!need(4)) return -20;
      // Key A is 60 and key B 61 in GENERAL AUTHENTICATE.
      const uint8_t keyType = data[2] == 0 ? 0x60 : 0x61;
      return acknowledged(
          checkedApdu(slot, {0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, data[1], keyType, data[3]}, false));
    }
    case 0x60:
    case 0x61: {
      if (!need(8)) return -20;
      Bytes load{0xFF, 0x82, 0x00, kFrameKeySlot, 0x06};
      load.insert(load.end(), data + length - 6, data + length);
      int r = checkedApdu(slot, load, false);
      // The key alone proves nothing: the card must accept it.
      if (r == 0)
        r = checkedApdu(slot, {0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, data[1], cmd, kFrameKeySlot}, false);
      return acknowledged(r);
    }
    default: return -20;
  }
}

}  // namespace

int omniKeyParseDataBlock(const uint8_t* answer, size_t length, Bytes* data) {
  if (!answer || length < size_t(kCcidHeaderSize) || answer[0] != kCcidDataBlock) return -1;
  const uint32_t n = uint32_t(answer[1]) | (uint32_t(answer[2]) << 8) | (uint32_t(answer[3]) << 16) |
                     (uint32_t(answer[4]) << 24);
  if (n > length - size_t(kCcidHeaderSize)) return -1;
  if (data) data->assign(answer + kCcidHeaderSize, answer + kCcidHeaderSize + n);
  return int(n);
}

int iClassAPDU(int slot, const uint8_t* apdu, int length, uint16_t* sw, Bytes* out) {
  if (length < 0 || length > kOmniKeyMaxApdu || (length > 0 && !apdu)) return -9;
  uint8_t sequence;
  {
    std::lock_guard lock(omniKeyState().mutex);
    sequence = omniKeyState().ccidSequence++;
  }
  Bytes message{kCcidXfrBlock, uint8_t(length), uint8_t(length >> 8), 0, 0, uint8_t(slot), sequence, 0, 0, 0};
  message.insert(message.end(), apdu, apdu + length);
  Bytes answer;
  const int r = omniKeyWrite(message.data(), int(message.size()), &answer);
  if (r < 0) return r;
  Bytes data;
  if (omniKeyParseDataBlock(answer.data(), answer.size(), &data) < 0 || data.size() < 2) return -1;
  if (sw) *sw = uint16_t((data[data.size() - 2] << 8) | data[data.size() - 1]);
  data.resize(data.size() - 2);
  if (out) *out = data;
  return int(data.size());
}

int omniKeyInit(int /*full*/, int supportedCards) {
  {
    std::lock_guard lock(omniKeyState().mutex);
    omniKeyState().initComplete = false;
    omniKeyState().cardPresent.fill(false);
    omniKeyState().cardSlotByChannel.fill(0);
  }
  {
    RFCmdGuard guard;
    rfInit();
    rfInstallDriver(omniKeyCardTransceive, omniKeyCardTransmit);
  }
  rfSleep(kOmniKeyInitDelayMs);
  auto en = [&](int bit) { return uint8_t((supportedCards >> bit) & 1 ? 0xFF : 0x00); };
  const uint8_t protocols[7][4] = {{0x03, 0x01, 0x01, en(0)}, {0x03, 0x02, 0x02, 0x00}, {0x03, 0x03, 0x02, 0x00},
                                   {0x04, 0x01, 0x01, en(1)}, {0x05, 0x01, 0x01, en(5)}, {0x07, 0x04, 0x01, en(5)},
                                   {0x06, 0x01, 0x01, en(2)}};
  for (const auto& p : protocols) {
    const Bytes apdu{0xFF, 0x68, 0x00, 0x00, 0x0F, 0x02, 0x00, 0x00, 0x0D, 0x07, 0x02, 0x02,
                     0x03, 0x01, p[0], p[1], 0x00, p[2], 0x01, p[3], 0x00};
    iClassAPDU(0, apdu.data(), int(apdu.size()), nullptr, nullptr);  // answers are not needed
  }
  std::lock_guard lock(omniKeyState().mutex);
  omniKeyState().initComplete = true;
  return 0;
}

int omniKeyClose() {
  std::lock_guard lock(omniKeyState().mutex);
  omniKeyState().initComplete = false;
  return 0;
}

int omniKeyResumeLoop(int cardIndex) {
  if (cardIndex < 0 || cardIndex >= kRFMaxCards) return -9;
  std::lock_guard lock(omniKeyState().mutex);
  return omniKeyState().cardPresent[size_t(cardIndex)] ? -20 : 0;
}

int omniKeyInitCard(int) { return 0; }
int omniKeyFelicaSetPollingParams(int, int) { return 0; }

void omniKeyDataAvailable(const uint8_t* data, int length) {
  // Each delivery is looked at on its own: a notification is one short message.
  if (!data || length <= 0 || length > kOmniKeyReadBufSize) return;
  {
    std::lock_guard lock(omniKeyState().mutex);
    if (!omniKeyState().initComplete) return;
  }
  if ((length != 2 && length != 3) || data[0] != kCcidNotifySlotChange) return;
  KXUNISDKGlobals::LOG("HID: RDR_to_PC_NotifySlotChange");
  const uint32_t bits = length == 2 ? data[1] : (uint32_t(data[1]) << 8) | data[2];
  for (int slot = 0; slot < 16; ++slot) {
    if (!(bits & (1u << (2 * slot + 1)))) continue;
    const bool present = bits & (1u << (2 * slot));
    if (slot >= kRFMaxCards) {
      KXUNISDKGlobals::LOG("HID: slot %d change ignored", slot);
      continue;
    }
    if (!present) {
      std::lock_guard lock(omniKeyState().mutex);
      omniKeyState().cardPresent[size_t(slot)] = false;
      continue;
    }
    KXUNISDKGlobals::LOG("HID: Card connected on slot: %d", slot);
    rfUpdateCard(slot, [](RFCardEntry& e) {
      e = RFCardEntry{};
      e.readerType = kRFReaderOmniKey;
      e.channel = kOmniKeyCardChannel;
    });
    {
      std::lock_guard lock(omniKeyState().mutex);
      omniKeyState().cardSlotByChannel[kOmniKeyCardChannel] = uint8_t(slot);
      omniKeyState().cardPresent[size_t(slot)] = true;
    }
    rfCardDetected(slot);
  }
}

int omniKeyCardTransceive(int channel, const uint8_t* data, int length, int /*timeoutMs*/) {
  if (!data || length < 1) return -9;
  if (length >= 5 && std::memcmp(data, "OMNI", 4) == 0) return readerCommand(channel, data, length);
  if (channel == kRFChannelIso15693) return iso15Frame(slotOfChannel(channel), data, length);
  if (channel == kRFChannelIso14443A) return mifareFrame(slotOfChannel(channel), data, length);
  return -20;
}

int omniKeyCardTransmit(int channel, const uint8_t* data, int length) {
  return omniKeyCardTransceive(channel, data, length, 0);
}

}  // namespace kestra
