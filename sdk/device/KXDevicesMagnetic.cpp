// Magnetic cards: the driver events (plain track buffers, data under the dummy keys,
// TransArmor and Voltage blobs, passbook and failed reads) and the reader's control calls.
// Track texts are card data: nothing here logs them.

#include <algorithm>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesInternal.h"
#include "sdk/foundation/DemoCardData.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/foundation/KXBase64.h"
#include "platform/foundation/MainQueue.h"

namespace kestra {

namespace {

constexpr uint8_t kTrack1 = 0xF1, kTrack2 = 0xF2, kTrack3 = 0xF3, kJIS = 0xF5;
constexpr int kFailedSource = 99;
constexpr int kReasonEmptyRead = 0x62;
constexpr int kReasonPassbookFailed = 0x61;

// Clears a buffer that held card data.
void wipe(Bytes& b) { std::fill(b.begin(), b.end(), uint8_t(0)); }

}  // namespace

const Bytes& KXDevices::dummyAESKey() { return KEY_AES256_DUMMY(); }

const Bytes& KXDevices::dummy3DESKey() {
  static const Bytes key(16, 0x5A);
  return key;
}

// ---- Track events --------------------------------------------------------------------------

void KXDevices::magneticCardData(const OptText& track1, const OptText& track2, const OptText& track3) {
  magneticCardData(track1, track2, track3, 0);
}

void KXDevices::magneticCardData(const OptText& track1, const OptText& track2, const OptText& track3,
                                 int source) {
  if (!track1 && !track2 && !track3 && source == 0) {
    fanOut(kxsel::magneticCardReadFailed_reason,
           [](KXDeviceDelegate& d) { d.magneticCardReadFailed(kFailedSource, kReasonEmptyRead); });
    return;
  }
  fanOut(kxsel::magneticCardData, [&](KXDeviceDelegate& d) { d.magneticCardData(track1, track2, track3); });
  fanOut(kxsel::magneticCardData_source,
         [&](KXDeviceDelegate& d) { d.magneticCardData(track1, track2, track3, source); });
}

void KXDevices::processPlainCardData(const uint8_t* data, int length, int source) {
  const int L = data && length > 0 ? length : 0;
  auto isMarker = [](uint8_t b) { return b == kTrack1 || b == kTrack2 || b == kTrack3 || b == kJIS; };
  int s = 0;
  for (int i = 0; i < L; ++i)
    if (isMarker(data[i])) {
      s = i;
      break;
    }
  int E = L;
  for (int i = s; i < L; ++i)
    if (data[i] == 0x00) {
      E = i;
      break;
    }
  if (L > 0 && data[0] == kJIS) {
    magneticJISCardData(std::string(reinterpret_cast<const char*>(data) + 1, size_t(std::max(E - 1, 0))));
    return;
  }
  OptText tracks[3];
  if (E >= 1) {
    int start[3] = {-1, -1, -1};
    if (data[0] >= kTrack1 && data[0] <= kTrack3) start[data[0] - kTrack1] = 0;
    for (int i = 1; i < E; ++i)
      if (data[i] >= kTrack1 && data[i] <= kTrack3) start[data[i] - kTrack1] = i;
    for (int k = 0; k < 3; ++k) {
      if (start[k] < 0) continue;
      // A track ends at the next marker that follows it, else at the end of the buffer, so
      // markers out of order never give a negative length.
      int end = E;
      for (int j = 0; j < 3; ++j)
        if (start[j] > start[k] && start[j] < end) end = start[j];
      tracks[k] = std::string(reinterpret_cast<const char*>(data) + start[k] + 1, size_t(end - start[k] - 1));
    }
  }
  magneticCardData(tracks[0], tracks[1], tracks[2], source);
}

std::optional<Bytes> KXDevices::decryptDummyData(int encryption, const Bytes& data, const Bytes& key) {
  if (encryption == 0 || encryption == 2) return decryptDemoTrackBlock(data, key);
  if (encryption == 7) {
    auto plain = KXUNISDKGlobals::desDecrypt(data, dummy3DESKey(), true);
    if (!plain || plain->size() < 10) return std::nullopt;
    const Bytes& b = *plain;
    const size_t n = foundation::readBE16(&b[8]);
    std::optional<Bytes> result;
    if (10 + n + 2 <= b.size() &&
        KXUNISDKGlobals::crc16ccit(b.data(), uint32_t(n + 10), 0xFFFF) == foundation::readBE16(&b[n + 10]))
      result = Bytes(b.begin() + 10, b.begin() + long(10 + n));
    wipe(*plain);
    return result;
  }
  return std::nullopt;
}

void KXDevices::kxdev_magneticCardEncryptedData(int encryption, int tracks, const Bytes& data,
                                                const OptText& track1masked, const OptText& track2masked,
                                                const OptText& track3, int source) {
  // The masked texts show only what the head lets through; they are logged by presence.
  KXUNISDKGlobals::LOG("T1Masked: %s", track1masked ? "(present)" : "(null)");
  KXUNISDKGlobals::LOG("T2Masked: %s", track2masked ? "(present)" : "(null)");
  KXUNISDKGlobals::LOG("T3Masked: %s", track3 ? "(present)" : "(null)");
  if (encryption == 0) {
    processPlainCardData(data.data(), int(data.size()), source);
    return;
  }
  Bytes out = data;
  if (encryption == 8) {
    KXUNISDKGlobals::LOG("Voltage: %zu bytes", data.size());
  } else if (encryption == 13 || encryption == 16) {
    Bytes list;
    list.reserve(data.size() + 1);
    list.push_back(uint8_t(tracks));
    list.insert(list.end(), data.begin(), data.end());
    std::string text;
    size_t pos = 0;
    while (pos + 3 <= list.size()) {
      const size_t len = foundation::readBE16(&list[pos + 1]);
      if (pos + 3 + len > list.size()) break;
      if (!text.empty()) text += '|';
      text += std::to_string(list[pos] & 7) + ",";
      text += KXBase64::encodeBase64WithData(Bytes(list.begin() + long(pos + 3), list.begin() + long(pos + 3 + len)))
                  .value_or("");
      pos += 3 + len;
    }
    KXUNISDKGlobals::LOG("TransArmor: %zu records", size_t(std::count(text.begin(), text.end(), '|') + (text.empty() ? 0 : 1)));
    out = foundation::bytesOf(text);
  } else if (encryption == 3 || encryption == 11) {
    if (out.size() >= 7 && out[2] != 0x00 && out[5] == 0x25 && out[6] == 0x42) out[6] = 0x2A;
  } else if (encryption == 2 || encryption == 7) {
    if (auto plain = decryptDummyData(encryption, data, dummyAESKey())) {
      processPlainCardData(plain->data(), int(plain->size()), source);
      wipe(*plain);
      return;
    }
  }
  // The most specific form that anybody implements, and only that one.
  if (fanOut(kxsel::magneticCardEncryptedData_masked_source, [&](KXDeviceDelegate& d) {
        d.magneticCardEncryptedData(encryption, tracks, out, track1masked, track2masked, track3, source);
      }) > 0)
    return;
  if (fanOut(kxsel::magneticCardEncryptedData_masked, [&](KXDeviceDelegate& d) {
        d.magneticCardEncryptedData(encryption, tracks, out, track1masked, track2masked, track3);
      }) > 0)
    return;
  fanOut(kxsel::magneticCardEncryptedData,
         [&](KXDeviceDelegate& d) { d.magneticCardEncryptedData(encryption, tracks, out); });
}

void KXDevices::magneticCardRawData(const Bytes& data) {
  fanOut(kxsel::magneticCardRawData, [&](KXDeviceDelegate& d) { d.magneticCardRawData(data); });
}

void KXDevices::magneticCardEncryptedRawData(int encryption, const Bytes& data) {
  fanOut(kxsel::magneticCardEncryptedRawData,
         [&](KXDeviceDelegate& d) { d.magneticCardEncryptedRawData(encryption, data); });
}

void KXDevices::magneticF2FCardData(const std::string& data) {
  fanOut(kxsel::magneticF2FCardData, [&](KXDeviceDelegate& d) { d.magneticF2FCardData(data); });
}

void KXDevices::magneticJISCardData(const std::string& data) {
  fanOut(kxsel::magneticJISCardData, [&](KXDeviceDelegate& d) { d.magneticJISCardData(data); });
}

void KXDevices::kxdev_magneticCTDOTData(const Bytes& data) {
  fanOut(kxsel::magneticCTDOTData, [&](KXDeviceDelegate& d) { d.magneticCTDOTData(data); });
}

void KXDevices::kxdev_magneticPassbookData(const std::optional<Bytes>& data) {
  if (data && *data == Bytes{0x00, 0x02, 0x00}) {
    fanOut(kxsel::magneticCardReadFailed_reason,
           [](KXDeviceDelegate& d) { d.magneticCardReadFailed(kFailedSource, kReasonPassbookFailed); });
    return;
  }
  if (data && (data->size() < 63 || data->size() > 65)) return;
  fanOut(kxsel::magneticPassbookData, [&](KXDeviceDelegate& d) { d.magneticPassbookData(data); });
}

bool KXDevices::kxdev_magneticCardDetected() {
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self] {
    if (auto api = self.lock())
      api->fanOut(kxsel::magneticCardDetected, [](KXDeviceDelegate& d) { d.magneticCardDetected(); });
  });
  return clientsRespondToSelector(kxsel::magneticCardDetected);
}

void KXDevices::kxdev_magneticCardReadFailed(int source, int reason) {
  fanOut(kxsel::magneticCardReadFailed_reason,
         [=](KXDeviceDelegate& d) { d.magneticCardReadFailed(source, reason); });
  fanOut(kxsel::magneticCardReadFailed, [=](KXDeviceDelegate& d) { d.magneticCardReadFailed(source); });
}

void KXDevices::kxdev_pogdata(int solution, int command, const Bytes& data) {
  fanOut(kxsel::pogEventDataForSolution,
         [&](KXDeviceDelegate& d) { d.pogEventDataForSolution(solution, command, data); });
}

void KXDevices::firmwareUpdateProgress(int phase, int percent) {
  fanOut(kxsel::firmwareUpdateProgress, [=](KXDeviceDelegate& d) { d.firmwareUpdateProgress(phase, percent); });
}

// ---- Reader control ---------------------------------------------------------------------------

namespace {

bool headResult(int r, Error* error) {
  if (r >= 0) return true;
  return foundation::fail(error, emsrError(r));
}

std::optional<std::string_view> view(const OptText& t) {
  return t ? std::optional<std::string_view>(*t) : std::nullopt;
}

}  // namespace

bool KXDevices::msEnable(Error* error) {
  if (auto kind = route({Kind::Sleeve, Kind::Pinpad})) {
    if (*kind == Kind::Sleeve) return sleeve_->msEnable(error);
    return ppadResult(pinpad_->msStart(), error);
  }
  if (computeSupportedFeature(kFeatureMagneticReader) & 4)
    return headResult(emsrCall(this, [](void* owner) { return emsrEnable(owner, 1); }), error);
  return routeError(error);
}

bool KXDevices::msDisable(Error* error) {
  if (auto kind = route({Kind::Sleeve, Kind::Pinpad})) {
    if (*kind == Kind::Sleeve) return sleeve_->msDisable(error);
    return ppadResult(pinpad_->msStop(), error);
  }
  if (computeSupportedFeature(kFeatureMagneticReader) & 4)
    return headResult(emsrCall(this, [](void* owner) { return emsrEnable(owner, 0); }), error);
  return routeError(error);
}

bool KXDevices::msSetCardDataMode(int mode, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->msSetCardDataMode(mode, error);
  return routeError(error);
}

bool KXDevices::msSimulateCardDataTrack1(const OptText& track1, const OptText& track2, const OptText& track3,
                                         Error* error) {
  if (route({Kind::Pinpad})) return ppadResult(pinpad_->msSimulateCardData(track1, track2, track3), error);
  return routeError(error);
}

std::optional<Bytes> KXDevices::msGetLoyaltyDataForID(int id, Error* error) {
  if (!route({Kind::Pinpad})) return routeError(error), std::nullopt;
  Bytes data;
  if (!ppadResult(pinpad_->msGetLoyaltyNumber(id, &data), error)) return std::nullopt;
  return data;
}

std::optional<nlohmann::json> KXDevices::msGetLastCardMaskedData(Error* error) {
  if (!route({Kind::Pinpad})) return routeError(error), std::nullopt;
  return pinpad_->msGetLastCardMaskedData(error);
}

std::optional<Bytes> KXDevices::msGetCardTracksEncryptedWithFormat(int format, int keyID,
                                                                   const Bytes& additionalData, Error* error) {
  if (!route({Kind::Pinpad})) return routeError(error), std::nullopt;
  Bytes data;
  if (!ppadResult(pinpad_->msUniversalGetEncryptedCardData(format, keyID, additionalData, &data), error))
    return std::nullopt;
  return data;
}

std::optional<KXFinancialCardDictionary> KXDevices::msProcessFinancialCard(const OptText& track1,
                                                                          const OptText& track2) {
  return KXUNISDKGlobals::msProcessFinancialCard(view(track1), view(track2));
}

std::optional<KXFinancialCardInfo> KXDevices::msExtractFinancialCard(const OptText& track1, const OptText& track2) {
  const auto card = msProcessFinancialCard(track1, track2);
  if (!card) return std::nullopt;
  auto text = [&](const char* key) {
    auto it = card->find(key);
    return it == card->end() ? std::string() : it->second;
  };
  auto number = [&](const char* key) {
    try {
      return std::stoi(text(key));
    } catch (...) {
      return 0;
    }
  };
  KXFinancialCardInfo info;
  info.cardholderName = text(trackkey::cardholderName);
  info.cardholderFirstName = text(trackkey::firstName);
  info.cardholderLastName = text(trackkey::lastName);
  info.accountNumber = text(trackkey::accountNumber);
  info.serviceCode = text(trackkey::serviceCode);
  info.discretionaryData = text(trackkey::discretionaryData);
  info.expirationMonth = number(trackkey::expirationMonth);
  info.expirationYear = number(trackkey::expirationYear);
  return info;
}

}  // namespace kestra
