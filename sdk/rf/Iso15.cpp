#include "sdk/rf/Iso15.h"

#include <algorithm>
#include <cstring>

#include "sdk/rf/RFWrapper.h"

namespace kestra {

using foundation::Bytes;

namespace {

constexpr uint8_t kIso15Flags = 0x22;  // addressed, high data rate
constexpr uint8_t kIso15ErrorFlag = 0x01;

// Manufacturer code and chip bits of tags that need no system information.
constexpr uint8_t kShortcutManufacturer = 0x16;
constexpr uint8_t kShortcutChip = 0x20;

// One addressed ISO 15693 command; its answer (flags first) is in the answer buffer.
int iso15Command(const RFCardEntry& card, uint8_t command, const Bytes& params = {}) {
  Bytes frame{kIso15Flags, command};
  frame.insert(frame.end(), card.UID, card.UID + std::clamp(card.uidLen, 0, int(sizeof card.UID)));
  frame.insert(frame.end(), params.begin(), params.end());
  const int r = rfCardTransceive(card.channel, frame.data(), int(frame.size()));
  if (r < 0) return r;
  const Bytes answer = rfCmdAnswer();
  // The tag's refusal is not a success, whatever else it holds.
  if (!answer.empty() && (answer[0] & kIso15ErrorFlag)) return -20;
  return 0;
}

int simpleCommand(int cardIndex, uint8_t command, const Bytes& params = {}) {
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  return iso15Command(*card, command, params);
}

int stCommand(const RFCardEntry& card, const Bytes& frame) {
  return rfCardTransceive(card.channel, frame.data(), int(frame.size()));
}

}  // namespace

int iso15InitCard(int cardIndex) {
  const auto card = rfCard(cardIndex);
  if (!card) return 0;
  if (card->uidLen >= 3 && card->UID[card->uidLen - 2] == kShortcutManufacturer &&
      (card->UID[card->uidLen - 3] & 0x7C) == kShortcutChip) {
    rfUpdateCard(cardIndex, [](RFCardEntry& e) {
      e.AFI = 0;
      e.DSFID = 0;
      e.blockSize = 0;
      e.nBlocks = 0;
    });
    return 1;
  }
  return iso15GetSystemInformation(cardIndex) == 0 ? 1 : 0;
}

int iso15GetSystemInformation(int cardIndex) {
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  const int r = iso15Command(*card, 0x2B);
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() < 2) return -6;
  const uint8_t info = a[1];
  size_t at = 10;
  uint8_t dsfid = 0, afi = 0;
  int blockSize = 4, nBlocks = 0;
  // Every optional field must be in the answer.
  if (info & 0x01) {
    if (a.size() < at + 1) return -6;
    dsfid = a[at++];
  }
  if (info & 0x02) {
    if (a.size() < at + 1) return -6;
    afi = a[at++];
  }
  if (info & 0x04) {
    if (a.size() < at + 2) return -6;
    nBlocks = a[at] + 1;
    blockSize = (a[at + 1] & 0x1F) + 1;
  }
  rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
    e.DSFID = dsfid;
    e.AFI = afi;
    e.blockSize = blockSize;
    e.nBlocks = nBlocks;
  });
  return 0;
}

int iso15Read(int cardIndex, int startBlock, int* count, Bytes* out) {
  if (!count) return -9;
  const int wanted = *count;
  *count = 0;
  if (wanted < 1) return -20;
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  for (int i = 0; i < wanted; ++i) {
    const int r = iso15Command(*card, 0x20, {uint8_t(startBlock + i)});
    if (r < 0) return r;
    const Bytes a = rfCmdAnswer();
    if (a.size() < 2) return -6;
    if (out) out->insert(out->end(), a.begin() + 1, a.end());
    *count = i + 1;
  }
  return 0;
}

int iso15Write(int cardIndex, int startBlock, int* count, const Bytes& data) {
  if (!count) return -9;
  const int wanted = *count;
  *count = 0;
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  const size_t blockSize = size_t(std::max(card->blockSize, 0));
  if (wanted < 0 || blockSize == 0 || data.size() < size_t(wanted) * blockSize) return -9;
  int r = 0;
  for (int i = 0; i < wanted; ++i) {
    Bytes params{uint8_t(startBlock + i)};
    params.insert(params.end(), data.begin() + long(size_t(i) * blockSize),
                  data.begin() + long(size_t(i + 1) * blockSize));
    r = iso15Command(*card, 0x21, params);
    if (r < 0) return r;
    *count = i + 1;
  }
  return r;
}

int iso15LockBlock(int cardIndex, int block) { return simpleCommand(cardIndex, 0x22, {uint8_t(block)}); }
int iso15Select(int cardIndex) { return simpleCommand(cardIndex, 0x25); }
int iso15ResetToReady(int cardIndex) { return simpleCommand(cardIndex, 0x26); }
int iso15Halt(int cardIndex) { return simpleCommand(cardIndex, 0x02); }
int iso15LockAFI(int cardIndex) { return simpleCommand(cardIndex, 0x28); }
int iso15LockDSFID(int cardIndex) { return simpleCommand(cardIndex, 0x2A); }

int iso15WriteAFI(int cardIndex, uint8_t afi) {
  const int r = simpleCommand(cardIndex, 0x27, {afi});
  if (r < 0) return r;
  if (rfCmdAnswer().empty()) return -6;
  rfUpdateCard(cardIndex, [&](RFCardEntry& e) { e.AFI = afi; });
  return 0;
}

int iso15WriteDSFID(int cardIndex, uint8_t dsfid) {
  const int r = simpleCommand(cardIndex, 0x29, {dsfid});
  if (r < 0) return r;
  if (rfCmdAnswer().empty()) return -6;
  rfUpdateCard(cardIndex, [&](RFCardEntry& e) { e.DSFID = dsfid; });
  return 0;
}

int iso15GetBlocksSecurityStatus(int cardIndex, int first, int n, Bytes* out) {
  if (n < 1 || n > 256) return -9;
  const int r = simpleCommand(cardIndex, 0x2C, {uint8_t(first), uint8_t(n - 1)});
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() < 2) return -6;
  if (out) out->assign(a.begin() + 1, a.end());
  return int(a.size() - 1);
}

// ---- ST SRI ------------------------------------------------------------------------------------

int stInitCard(int cardIndex) {
  return rfUpdateCard(cardIndex, [](RFCardEntry& e) {
           e.blockSize = 4;
           e.nBlocks = 0;
         })
             ? 1
             : 0;
}

int stSRIReadBlock(int cardIndex, int block, uint8_t out[4]) {
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  const int r = stCommand(*card, {0x08, uint8_t(block)});
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() != 4) return -6;
  if (out) std::memcpy(out, a.data(), 4);
  return 0;
}

int stSRIWriteBlock(int cardIndex, int block, const uint8_t data[4]) {
  if (!data) return -9;
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  return stCommand(*card, {0x09, uint8_t(block), data[0], data[1], data[2], data[3]});
}

int stSRIGetUID(int cardIndex, uint8_t out[8]) {
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  const int r = stCommand(*card, {0x0B});
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() != 8) return -6;
  if (out) std::memcpy(out, a.data(), 8);
  return 0;
}

int stSRICompletion(int cardIndex) {
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  return card ? stCommand(*card, {0x0F}) : -9;
}

int stSRIReset(int cardIndex) {
  RFCmdGuard guard;
  const auto card = rfCard(cardIndex);
  return card ? stCommand(*card, {0x0C}) : -9;
}

}  // namespace kestra
