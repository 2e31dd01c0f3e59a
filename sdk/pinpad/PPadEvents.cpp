// Pinpad events: the packets the pinpad sends on its own, turned into delegate calls.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/crypto/Digest.h"
#include "platform/foundation/Values.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {

constexpr uint8_t kEventButton0Down = 0x01;
constexpr uint8_t kEventButton0Up = 0x02;
constexpr uint8_t kEventButton1Down = 0x03;
constexpr uint8_t kEventButton1Up = 0x04;
constexpr uint8_t kEventBarcode = 0x05;
constexpr uint8_t kEventCard = 0x06;
constexpr uint8_t kEventSmartCardIn = 0x07;
constexpr uint8_t kEventSmartCardOut = 0x08;
constexpr uint8_t kEventEmv = 0x0B;
constexpr uint8_t kEventKeypad = 0x0D;
constexpr uint8_t kEventSecureReader = 0x11;
constexpr uint8_t kEventEncryptedCard = 0x6A;

}  // namespace

// The keypad's key byte as the code passed to the delegates.
int ppadKeyCode(uint8_t key) {
  if (key <= 9) return 10 + key;
  switch (key) {
    case 'a': return 20;
    case 'b': return 21;
    case 'A': return 23;
    case 'C': return 24;
    case 'c': return 25;
    default: return 0;
  }
}

void PPad::simulateEvent(int type, const std::optional<Bytes>& payload) {
  Bytes packet;
  packet.push_back(uint8_t(type));
  if (payload) packet.insert(packet.end(), payload->begin(), payload->end());
  processData(std::move(packet));
}

void PPad::processData(Bytes packet) {
  if (packet.empty()) return;
  d_->transport.touchLastCommandTime();
  const uint8_t type = packet[0];
  // The event data: everything after the four header bytes (none in a shorter packet).
  const uint8_t* data = packet.size() > 4 ? packet.data() + 4 : nullptr;
  const size_t n = packet.size() > 4 ? packet.size() - 4 : 0;
  auto& d = *d_;

  switch (type) {
    case kEventButton0Down:
    case kEventButton1Down: {
      const int button = type == kEventButton0Down ? 0 : 1;
      d.fanOut(ppsel::ppadButtonPressed, [&](PPadDelegate& del) { del.ppadButtonPressed(button); });
      break;
    }
    case kEventButton0Up:
    case kEventButton1Up: {
      const int button = type == kEventButton0Up ? 0 : 1;
      d.fanOut(ppsel::ppadButtonReleased, [&](PPadDelegate& del) { del.ppadButtonReleased(button); });
      break;
    }
    case kEventBarcode: {
      Bytes barcode;
      if (n >= 1)
        barcode.assign(data, data + n);
      else if (barGetBarcodeData(&barcode) != 0)
        barcode.clear();
      if (barcode.empty() || d.pinThreadActive) break;
      if (d.fanOut(ppsel::kxdev_barcodeData, [&](PPadDelegate& del) { del.kxdev_barcodeData(barcode); }) > 0)
        break;
      const auto list = d.delegates.weakSnapshot<KXBarcodeDelegate>();
      KXUNISDKGlobals::notifyBarcode(list, barcode, 0, d.barcodeScanMode, getSupportedFeature(1), true);
      break;
    }
    case kEventCard: {
      Bytes card;
      if (msGetCardData(&card) == 0 && card.size() > 5) {
        processPlainCardData(card.data() + 1, card.size() - 1, 0);
        foundation::secureClear(card);
        msStart();
        break;
      }
      foundation::secureClear(card);
      cardEncryptedEvent();
      break;
    }
    case kEventEncryptedCard:
      cardEncryptedEvent();
      break;
    case kEventSmartCardIn: {
      KXUNISDKGlobals::LOG("PPad: EVENT_SCRIN, present=%d", int(d.smartCardPresent.load()));
      if (d.smartCardPresent.exchange(true)) break;
      if (d.pinThreadActive) break;
      const int slot = d.smartCardSlot;
      d.fanOut(ppsel::smartCardInserted_slot, [&](PPadDelegate& del) { del.smartCardInserted(slot); });
      d.fanOut(ppsel::smartCardInserted, [&](PPadDelegate& del) { del.smartCardInserted(); });
      break;
    }
    case kEventSmartCardOut: {
      KXUNISDKGlobals::LOG("PPad: EVENT_SCROUT");
      if (d.smartCardPresent.exchange(false)) {
        const int slot = d.smartCardSlot;
        d.fanOut(ppsel::smartCardRemoved_slot, [&](PPadDelegate& del) { del.smartCardRemoved(slot); });
        d.fanOut(ppsel::smartCardRemoved, [&](PPadDelegate& del) { del.smartCardRemoved(); });
      }
      scInit(0, 5, 0);
      break;
    }
    case kEventEmv: {
      const Bytes event(data, data + n);
      d.fanOut(ppsel::kxdev_emv2Event, [&](PPadDelegate& del) { del.kxdev_emv2Event(event); });
      break;
    }
    case kEventKeypad: {
      if (n < 1) {
        KXUNISDKGlobals::LOG("PPad: keypad event without a key, dropped");
        break;
      }
      const int code = ppadKeyCode(data[0]);
      d.fanOut(ppsel::ppadButtonPressed, [&](PPadDelegate& del) { del.ppadButtonPressed(code); });
      d.fanOut(ppsel::ppadButtonReleased, [&](PPadDelegate& del) { del.ppadButtonReleased(code); });
      break;
    }
    case kEventSecureReader: {
      if (n < 2) {
        KXUNISDKGlobals::LOG("PPad: secure-reader event too short, dropped");
        break;
      }
      const int event = data[0], status = data[1];
      const std::string rest(reinterpret_cast<const char*>(data + 2), n - 2);
      d.fanOut(ppsel::kxdev_srEvent, [&](PPadDelegate& del) { del.kxdev_srEvent(event, status, rest); });
      break;
    }
    default:
      break;
  }
  foundation::secureClear(packet);
}

void PPad::cardEncryptedEvent() {
  auto& d = *d_;
  if (d.msEncryption == -1) {
    bool keepStopped = false;
    if (!d.pinThreadActive) {
      auto first = d.firstDelegate();
      if (first && first->responds(ppsel::kxdev_magneticCardDetected)) {
        try {
          keepStopped = first->kxdev_magneticCardDetected();
        } catch (...) {
        }
      }
    }
    if (!keepStopped) msStart();
    return;
  }

  nlohmann::json params = {{"uniqueID", d.msUniqueID.load()}, {"randomSeed", d.msRandomSeed.load()}};
  Bytes block;
  if (msUniversalGetEncryptedCardDataWithAlgorithm(d.msEncryption, d.msKeyID, &params, &block) == 0 &&
      !block.empty()) {
    const int algorithm = block[0] >> 3, tracks = block[0] & 7;
    OptText t1, t2, t3;
    if (algorithm != 0) lastCardMaskedTracks(&t1, &t2, &t3);
    if (!d.pinThreadActive) {
      const Bytes payload(block.begin() + 1, block.end());
      const int taken = d.fanOut(ppsel::kxdev_magneticCardEncryptedData, [&](PPadDelegate& del) {
        del.kxdev_magneticCardEncryptedData(algorithm, tracks, payload, t1, t2, t3, 0);
      });
      if (taken == 0)
        d.fanOut(ppsel::magneticCardEncryptedData, [&](PPadDelegate& del) {
          del.magneticCardEncryptedData(algorithm, tracks, payload);
        });
    }
    for (auto* t : {&t1, &t2, &t3})
      if (*t) foundation::secureClear(**t);
  }
  foundation::secureClear(block);
  msStart();
}

void PPad::processPlainCardData(const uint8_t* data, size_t length, int) {
  if (!data || length == 0 || data[0] == 0xF5) return;
  long last[3] = {-1, -1, -1};
  for (size_t i = 0; i < length; ++i)
    if (data[i] >= 0xF1 && data[i] <= 0xF3) last[data[i] - 0xF1] = long(i);
  // A track ends at the nearest other track marker after its start, else at the end.
  auto track = [&](int k) -> OptText {
    if (last[k] < 0) return std::nullopt;
    const size_t start = size_t(last[k]) + 1;
    size_t end = length;
    for (int j = 0; j < 3; ++j)
      if (j != k && last[j] >= long(start) && size_t(last[j]) < end) end = size_t(last[j]);
    return std::string(reinterpret_cast<const char*>(data + start), end - start);
  };
  OptText t1 = track(0), t2 = track(1), t3 = track(2);
  if (!d_->pinThreadActive)
    d_->fanOut(ppsel::magneticCardData, [&](PPadDelegate& del) { del.magneticCardData(t1, t2, t3); });
  for (auto* t : {&t1, &t2, &t3})
    if (*t) foundation::secureClear(**t);
}

int PPad::msUniversalGetEncryptedCardDataWithAlgorithm(int algorithm, int keyID,
                                                       const nlohmann::json* params, Bytes* out) {
  uint32_t seed = 0, uniqueID;
  if (params && params->is_object()) {
    seed = uint32_t(foundation::intValue(params->value("randomSeed", nlohmann::json())));
    uniqueID = uint32_t(foundation::intValue(params->value("uniqueID", nlohmann::json())));
  } else {
    const Bytes r = crypto::randomBytes(4);
    uniqueID = r.size() == 4 ? foundation::readLE32(r.data()) : 0;
  }
  Bytes block;
  int result;
  switch (algorithm) {
    case 3: case 4: case 8: case 13: case 14: case 15: case 16: case 17: case 18: case 19: case 20:
      result = msGetEncryptedCardDataWithAlgorithm(algorithm, keyID, seed, uniqueID, &block);
      break;
    case 6:
      result = msGetEncryptedCardDataRSA(&block);
      if (result == 0 && !block.empty()) block[0] |= 0x30;
      break;
    case 7:
      result = msGetEncryptedCardData3DES(keyID, uniqueID, &block);
      if (result == 0 && !block.empty()) block[0] |= 0x38;
      break;
    case 10: {
      Bytes ksn;
      result = dukptGenerateKeyOnline(keyID, &ksn);
      if (result != 0) return result;
      result = msGetEncryptedCardData3DES(255, uniqueID, &block);
      if (result == 0 && !block.empty()) {
        block.insert(block.end(), ksn.begin(), ksn.end());
        block[0] |= 0x50;
      }
      break;
    }
    default: {
      const int r = emsrGetEncryptedCardData(ppadEmsrOwner(), d_->emsrTracks, &block);
      result = r < 1 ? ppad::kNoData : 0;
      break;
    }
  }
  if (result == 0 && !block.empty() && out) *out = block;
  foundation::secureClear(block);
  return result;
}

std::optional<KXFinancialCardDictionary> PPad::msProcessFinancialCard(
    std::optional<std::string_view> track1, std::optional<std::string_view> track2) const {
  return KXUNISDKGlobals::msProcessFinancialCard(track1, track2);
}

std::string PPad::barcodeType2Text(int type) const { return KXUNISDKGlobals::barcodeType2Text(type, 0); }

}  // namespace kestra
