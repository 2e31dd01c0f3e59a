#include "sdk/rf/Iso14.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/crypto/Cipher.h"
#include "platform/crypto/Digest.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {

using foundation::Bytes;

namespace {

struct Iso14State {
  std::mutex mutex;
  uint8_t blockChain = 0;
  uint8_t selectNeeded = 0;
  Bytes uuidSelected;
};

Iso14State& st() {
  static Iso14State* s = new Iso14State;
  return *s;
}

// One command at a time, for its whole exchange.
struct CmdGuard {
  CmdGuard() { rfCmdLock(); }
  ~CmdGuard() { rfCmdUnlock(); }
};

void clearSelect() {
  std::lock_guard lock(st().mutex);
  st().selectNeeded = 0;
}

bool selectNeeded() {
  std::lock_guard lock(st().mutex);
  return st().selectNeeded == 0;
}

uint8_t nextBlockBit() {
  std::lock_guard lock(st().mutex);
  return st().blockChain & 1;
}

void advanceBlock() {
  std::lock_guard lock(st().mutex);
  ++st().blockChain;
}

int cardExchange(const RFCardEntry& card, const Bytes& frame) {
  return rfCardTransceive(card.channel, frame.data(), int(frame.size()));
}

// The ACK/NAK rule of Mifare writes and value operations.
int mfProcessResponse(const RFCardEntry& card, int result) {
  if (result < 0) {
    clearSelect();
    return result;
  }
  const Bytes answer = rfCmdAnswer();
  if (answer.empty()) return -6;
  if (answer.size() != 1) return 0;
  if (answer[0] == 0x0A) return 0;
  clearSelect();
  const uint8_t nak = answer[0];
  const bool ultralight = card.type == kCardMifareUltralight || card.type == kCardMifareUltralightC;
  static const int kUltralight[] = {-9, -11, -13, -1, -20, -13, -13, -13};
  static const int kClassic[] = {-9, -11, -1, -1, -9, -13};
  if (ultralight) return nak < 8 ? kUltralight[nak] : -1;
  return nak < 6 ? kClassic[nak] : -1;
}

Bytes uid(const RFCardEntry& card) { return Bytes(card.UID, card.UID + std::clamp(card.uidLen, 0, 12)); }

// Selects the card again when a command failed since the last select.
int ensureSelected(int cardIndex) { return mfSelect(cardIndex, selectNeeded()); }

int typeAfterPlusTest(uint16_t atqa) {
  return (atqa == 0x0200 || atqa == 0x0400 || atqa == 0x4200 || atqa == 0x4400) ? kCardMifarePlus : -1;
}

Bytes rotateLeft(const Bytes& b) {
  if (b.empty()) return b;
  Bytes r(b.begin() + 1, b.end());
  r.push_back(b.front());
  return r;
}

Bytes reversedHalves(const uint8_t key[16]) {
  Bytes k(key, key + 16);
  std::reverse(k.begin(), k.begin() + 8);
  std::reverse(k.begin() + 8, k.end());
  return k;
}

}  // namespace

void mfResetSelection() {
  std::lock_guard lock(st().mutex);
  st().selectNeeded = 0;
  st().uuidSelected.clear();
  st().blockChain = 0;
}

int iso14InitCard(int cardIndex) {
  auto card = rfCard(cardIndex);
  if (!card) return 0;
  if (card->channel == kRFChannelIso14443B) {
    rfUpdateCard(cardIndex, [](RFCardEntry& e) { e.type = kCardEmvPaymentB; });
    if (iso14Attrib(cardIndex, 0, 8, 1, 0) < 0) return 0;
    rfUpdateCard(cardIndex, [](RFCardEntry& e) { e.atsValid = 1; });
    return 1;
  }
  if (card->channel != kRFChannelIso14443A) return 1;
  const uint16_t s = card->SAK;
  const uint16_t a = card->ATQA;
  int type = kCardUnknown;
  int size = 0;
  auto generic = [&] { type = (s & 0x3A) == 0x20 ? kCardIso14443A : kCardUnknown; };
  auto plus = [&] {
    if (typeAfterPlusTest(a) >= 0) {
      type = kCardMifarePlus;
      size = 2048;
    } else {
      generic();
    }
  };
  bool desfire = false;
  switch (s) {
    case 0: type = a == 0x4400 ? kCardMifareUltralight : kCardUnknown; break;
    case 9:
      if ((a & 0x0F00) == 0x0400) { type = kCardMifareMini; size = 320; }
      break;
    case 8:
      if ((a & 0x0F00) == 0x0400) { type = kCardMifareClassic1K; size = 1024; } else { plus(); }
      break;
    case 24:
      if ((a & 0x0F00) == 0x0200) { type = kCardMifareClassic4K; size = 4096; } else { plus(); }
      break;
    case 16:
    case 17: plus(); break;
    case 32:
    case 36:
      if ((a | 0x4000) == 0x4403) {
        type = kCardMifareDesfire;
        desfire = true;
      } else if (s == 32 && (a == 0x0400 || a == 0x0800 || a == 0x0803 || a == 0x4400 || a == 0x4800)) {
        type = kCardEmvPaymentA;
      } else if (s == 32) {
        plus();
      } else {
        generic();
      }
      break;
    case 40:
    case 56: type = kCardEmvPaymentA; break;
    case 96: type = (a == 0x0400 || a == 0x0803) ? kCardEmvPaymentA : kCardIso14443A; break;
    default: generic();
  }
  rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
    e.type = type;
    e.size = size;
  });
  if (desfire) {
    Bytes ats;
    iso14GetATS(cardIndex, &ats);
    Bytes answer;
    const uint8_t getVersion = 0x60;
    uint8_t status = 0;
    if (iso14Transieve(cardIndex, &getVersion, 1, &answer, &status) >= 0 && answer.size() == 8 &&
        answer[0] == 0xAF) {
      const int version = (answer[4] << 8) | answer[5];
      rfUpdateCard(cardIndex, [&](RFCardEntry& e) { e.dfHardwareVersion = version; });
    }
    const uint8_t more = 0xAF;
    iso14Transieve(cardIndex, &more, 1, nullptr, nullptr);
    iso14Transieve(cardIndex, &more, 1, nullptr, nullptr);
  }
  return 1;
}

int iso14Attrib(int cardIndex, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  Bytes frame{0x00, 0x1D};
  for (int i = 0; i < 4; ++i) frame.push_back(card->UID[i]);
  frame.insert(frame.end(), {p1, p2, p3, p4});
  return cardExchange(*card, frame);
}

int iso14GetATS(int cardIndex, Bytes* out) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  if (!card->atsValid) {
    const int r = cardExchange(*card, {0x00, 0xE0, 0x80});
    if (r < 0) {
      clearSelect();
      return r;
    }
    const Bytes ats = rfCmdAnswer();
    rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
      e.atsLen = int(std::min(ats.size(), sizeof e.ATS));
      if (e.atsLen > 0) std::memcpy(e.ATS, ats.data(), size_t(e.atsLen));
      e.atsValid = 1;
    });
    std::lock_guard lock(st().mutex);
    st().blockChain = 0;
  }
  // The card may have left while it was asked.
  card = rfCard(cardIndex);
  if (!card) return -9;
  if (out) out->assign(card->ATS, card->ATS + card->atsLen);
  return card->atsLen;
}

int iso14Halt(int cardIndex) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  const uint8_t b = card->atsValid ? 0xC2 : 0x50;
  return rfCardTransmit(card->channel, &b, 1);
}

int iso14Transieve(int cardIndex, const uint8_t* data, int length, Bytes* out, uint8_t* status) {
  auto card = rfCard(cardIndex);
  if (!card || length < 0) return -9;
  CmdGuard g;
  if (out) out->clear();
  if (!card->atsValid) {
    Bytes frame{0x00};
    frame.insert(frame.end(), data, data + length);
    const int r = cardExchange(*card, frame);
    if (r < 0) return r;
    const Bytes a = rfCmdAnswer();
    if (a.empty()) return -6;
    if (status) *status = a[0];
    if (out && a.size() > 3) out->assign(a.begin() + 1, a.end() - 2);
    return 0;
  }
  // ISO 14443-4 I-blocks, chained while more than one block's worth remains.
  int sent = 0;
  do {
    const int piece = std::min(kIsoMaxIBlock, length - sent);
    const bool chaining = length - sent > kIsoMaxIBlock;
    const uint8_t pcb = uint8_t((chaining ? 0x1A : 0x0A) | nextBlockBit());
    Bytes frame{0x00, pcb, 0x00};
    frame.insert(frame.end(), data + sent, data + sent + piece);
    const int r = cardExchange(*card, frame);
    advanceBlock();
    if (r < 0) return r;
    sent += piece;
  } while (sent < length);
  bool first = true;
  for (;;) {
    const Bytes a = rfCmdAnswer();
    if (a.size() < 4) return -6;
    const size_t header = (a[0] & 0x08) ? 2 : 1;
    if (a.size() < header + 2) return -6;
    const size_t dataEnd = a.size() - 2;
    if (first && status && header < dataEnd) *status = a[header];
    if (out && header < dataEnd) out->insert(out->end(), a.begin() + long(header), a.begin() + long(dataEnd));
    first = false;
    if (!(a[0] & 0x10)) break;
    const Bytes ack{0x00, uint8_t(0xAA | nextBlockBit()), 0x00};
    const int r = cardExchange(*card, ack);
    advanceBlock();
    if (r < 0) return r;
  }
  return 0;
}

int iso14APDU(int cardIndex, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const Bytes& data, Bytes* out,
              int le, uint16_t* sw) {
  if (data.size() > 251) return -9;
  Bytes apdu{cla, ins, p1, p2};
  if (!data.empty()) {
    apdu.push_back(uint8_t(data.size()));
    apdu.insert(apdu.end(), data.begin(), data.end());
  }
  if (out) apdu.push_back(uint8_t(le));
  Bytes whole;
  if (iso14Transieve(cardIndex, apdu.data(), int(apdu.size()), &whole, nullptr) < 0) return -6;
  if (whole.size() < 2) return -6;
  if (sw) *sw = uint16_t((whole[whole.size() - 2] << 8) | whole[whole.size() - 1]);
  if (out) out->assign(whole.begin(), whole.end() - 2);
  return int(whole.size() - 2);
}

int iso14IsPresent(int cardIndex) {
  Bytes out;
  uint16_t sw = 0;
  return iso14APDU(cardIndex, 0xFF, 0xFF, 0xFF, 0xFF, {}, nullptr, 0, &sw) >= 0 ? 1 : 0;
}

int mfHalt(int cardIndex) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  clearSelect();
  return cardExchange(*card, {0x50, 0x00});
}

int mfSelect(int cardIndex, bool force) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  const Bytes id = uid(*card);
  {
    std::lock_guard lock(st().mutex);
    if (!force && st().uuidSelected == id) return 0;
  }
  Bytes frame{0x93};
  frame.insert(frame.end(), id.begin(), id.end());
  const int r = cardExchange(*card, frame);
  std::lock_guard lock(st().mutex);
  if (r < 0) {
    st().selectNeeded = 0;
    return r;
  }
  st().uuidSelected = id;
  st().selectNeeded = 1;
  return 0;
}

int mfLoadKey(int keyIndex, char keyType, const uint8_t key[6]) {
  CmdGuard g;
  Bytes frame{0x01, uint8_t(keyIndex), uint8_t(keyType)};
  frame.insert(frame.end(), key, key + 6);
  return rfCardTransceive(kRFChannelIso14443A, frame.data(), int(frame.size()));
}

int mfAuth(int cardIndex, char keyType, int block, const uint8_t key[6]) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  if (int r = ensureSelected(cardIndex); r < 0) return r;
  Bytes frame{uint8_t(keyType == 'A' ? 0x60 : 0x61), uint8_t(block)};
  const Bytes id = uid(*card);
  const size_t from = id.size() >= 4 ? id.size() - 4 : 0;
  frame.insert(frame.end(), id.begin() + long(from), id.end());
  frame.insert(frame.end(), key, key + 6);
  const int r = cardExchange(*card, frame);
  if (r < 0) clearSelect();
  return r;
}

int mfAuthByLoadedKey(int cardIndex, char keyType, int block, int keyIndex) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  if (int r = ensureSelected(cardIndex); r < 0) return r;
  Bytes frame{0x02, uint8_t(block), uint8_t(keyType == 'A' ? 0 : 1), uint8_t(keyIndex)};
  const Bytes id = uid(*card);
  frame.insert(frame.end(), id.begin(), id.end());
  const int r = cardExchange(*card, frame);
  if (r < 0) clearSelect();
  return r;
}

int mfRead16(int cardIndex, int block, uint8_t out[16]) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  if (int r = ensureSelected(cardIndex); r < 0) return r;
  const int r = mfProcessResponse(*card, cardExchange(*card, {0x30, uint8_t(block)}));
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() < 16) return -6;
  std::memcpy(out, a.data(), 16);
  return 0;
}

namespace {
int mfWriteUnit(int cardIndex, uint8_t command, int address, const uint8_t* data, size_t n) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  CmdGuard g;
  if (int r = ensureSelected(cardIndex); r < 0) return r;
  Bytes frame{command, uint8_t(address)};
  frame.insert(frame.end(), data, data + n);
  return mfProcessResponse(*card, cardExchange(*card, frame));
}
}  // namespace

int mfWrite16(int cardIndex, int block, const uint8_t data[16]) { return mfWriteUnit(cardIndex, 0xA0, block, data, 16); }
int mfWrite4(int cardIndex, int page, const uint8_t data[4]) { return mfWriteUnit(cardIndex, 0xA2, page, data, 4); }

int mfIncrement(int cardIndex, int block, uint32_t value) {
  const uint8_t v[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return mfWriteUnit(cardIndex, 0xC1, block, v, 4);
}

int mfDecrement(int cardIndex, int block, uint32_t value) {
  const uint8_t v[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return mfWriteUnit(cardIndex, 0xC0, block, v, 4);
}

int mfTransfer(int cardIndex, int block) { return mfWriteUnit(cardIndex, 0xB0, block, nullptr, 0); }

int mfRestore(int cardIndex, int block) {
  const uint8_t zero[4] = {0, 0, 0, 0};
  return mfWriteUnit(cardIndex, 0xC2, block, zero, 4);
}

int mfUlcSetKey(int cardIndex, const uint8_t key[16]) {
  // Pages 2C..2F take key bytes 7-4, 3-0, 15-12, 11-8.
  static const int kOrder[4][4] = {{7, 6, 5, 4}, {3, 2, 1, 0}, {15, 14, 13, 12}, {11, 10, 9, 8}};
  for (int p = 0; p < 4; ++p) {
    const uint8_t page[4] = {key[kOrder[p][0]], key[kOrder[p][1]], key[kOrder[p][2]], key[kOrder[p][3]]};
    if (int r = mfWrite4(cardIndex, 0x2C + p, page); r < 0) return r;
  }
  return 0;
}

int mfUlcAuth(int cardIndex, const uint8_t key[16]) {
  const Bytes k = reversedHalves(key);
  auto failed = [](int code) {
    clearSelect();
    return code;
  };
  const uint8_t start[2] = {0x1A, 0x00};
  Bytes answer;
  uint8_t status = 0;
  if (int r = iso14Transieve(cardIndex, start, 2, &answer, &status); r < 0) return failed(r);
  if (status != 0xAF || answer.size() < 8) return failed(-20);
  const Bytes ekRndB(answer.begin(), answer.begin() + 8);
  auto rndB = crypto::desDecrypt(k, ekRndB, crypto::Mode::CBC, crypto::Padding::None);
  if (!rndB) return failed(-20);
  // A fresh RndA for every authentication, so an answer cannot be replayed.
  const Bytes rndA = crypto::randomBytes(8);
  Bytes plain = rndA;
  const Bytes rndB1 = rotateLeft(*rndB);
  plain.insert(plain.end(), rndB1.begin(), rndB1.end());
  auto cipher = crypto::desEncrypt(k, plain, crypto::Mode::CBC, crypto::Padding::None, ekRndB);
  if (!cipher || cipher->size() != 16) return failed(-20);
  Bytes second{0xAF};
  second.insert(second.end(), cipher->begin(), cipher->end());
  if (int r = iso14Transieve(cardIndex, second.data(), int(second.size()), &answer, &status); r < 0) return failed(r);
  if (answer.size() < 8) return failed(-20);
  const Bytes iv(cipher->end() - 8, cipher->end());
  auto rndA2 = crypto::desDecrypt(k, Bytes(answer.begin(), answer.begin() + 8), crypto::Mode::CBC,
                                  crypto::Padding::None, iv);
  if (!rndA2 || *rndA2 != rotateLeft(rndA)) return failed(-20);
  return 0;
}

}  // namespace kestra
