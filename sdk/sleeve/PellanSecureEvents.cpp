// The sleeve events whose delivery needs more sleeve commands: card data from the encrypted
// head (channel 1, 0x05), EMV kernel events (0x38) and contactless pass results (0x47,
// 0x49). They run on the main queue inside `processData`, and the commands they send block
// it until the sleeve answers (replies are read on the common run-loop thread).
//
// Card data (tracks, masked tracks, EMV tags) is never logged, only its presence or length,
// and every copy made here is cleared once the delegates have had it.

#include <algorithm>

#include "sdk/foundation/DemoCardData.h"
#include "sdk/foundation/KXTLV.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {

using OptText = std::optional<std::string>;

constexpr int kTrackMaskBits = 0x07;
constexpr int kAlgorithmShift = 3;
constexpr int kHeaderByteFirmware = 2043;
constexpr int kDemoKeyHeadFirmware = 2000;
constexpr uint8_t kEmvOnlineRequest = 0x81;
constexpr uint8_t kEmvUserInterface = 0x82;
constexpr uint8_t kEmvFinished = 0x83;
constexpr int kUiCardRemoved = 0x0018;
// Last C1 value of a transaction whose card read may stand in for a swipe.
constexpr uint32_t kEmulationApproved = 0x0800;

void wipe(OptText& t) {
  if (t) foundation::secureClear(*t);
}

// The masked block [x][L1][L2][L3][track 1][track 2][track 3]: each track as text, nothing
// for a length of 0 or a track that runs past the block.
void maskedTracks(const Bytes& block, size_t from, OptText* t1, OptText* t2, OptText* t3) {
  if (block.size() < from + 4) return;
  size_t pos = from + 4;
  OptText* out[3] = {t1, t2, t3};
  for (int k = 0; k < 3; ++k) {
    const size_t len = block[from + 1 + size_t(k)];
    if (pos + len > block.size()) return;
    if (len) *out[k] = std::string(block.begin() + long(pos), block.begin() + long(pos + len));
    pos += len;
  }
}

std::optional<std::string> tagText(const std::vector<KXTLV>& tags, uint32_t tag) {
  auto t = KXTLV::findLastTag(tag, tags);
  if (!t || !t->data) return std::nullopt;
  return std::string(t->data->begin(), t->data->end());
}

// The online answer the driver gives itself in magnetic-card emulation: approved ("00").
Bytes approvedOnlineResult() {
  return KXTLV::encodeTags(
      {KXTLV::tlvWithHexString("01", 0xC2),
       KXTLV::tlvWithData(KXTLV::encodeTags({KXTLV::tlvWithHexString("30 30", 0x8A)}), 0xE6)});
}

}  // namespace

bool Pellan::deliverEncryptedCard(int algorithm, int tracks, const Bytes& data, const OptText& t1,
                                  const OptText& t2, const OptText& t3, int source, bool firstTakerOnly) {
  const size_t limit = firstTakerOnly ? 1 : SIZE_MAX;
  if (d_->delegates.fanOut(
          sel::kxdev_magneticCardEncryptedData,
          [&](PellanDelegate& d) { d.kxdev_magneticCardEncryptedData(algorithm, tracks, data, t1, t2, t3, source); },
          KXFanOutOrder::LastFirst, limit) > 0)
    return true;
  if (d_->fanOut(sel::magneticCardEncryptedData_masked_source, [&](PellanDelegate& d) {
        d.magneticCardEncryptedData(algorithm, tracks, data, t1, t2, t3, source);
      }) > 0)
    return false;
  if (d_->fanOut(sel::magneticCardEncryptedData_masked, [&](PellanDelegate& d) {
        d.magneticCardEncryptedData(algorithm, tracks, data, t1, t2, t3);
      }) > 0)
    return false;
  if (d_->fanOut(sel::magneticCardEncryptedData_tracks,
                 [&](PellanDelegate& d) { d.magneticCardEncryptedData(algorithm, tracks, data); }) > 0)
    return false;
  d_->fanOut(sel::magneticCardEncryptedData_data,
             [&](PellanDelegate& d) { d.magneticCardEncryptedData(algorithm, data); });
  return false;
}

std::optional<Bytes> Pellan::decryptDummyData(const Bytes& data, const Bytes& key) {
  auto tracks = decryptDemoTrackBlock(data, key);
  if (!tracks) return std::nullopt;
  Bytes record = {0x01, 0x02, 0x00, 0x00};
  foundation::append(record, *tracks);
  foundation::secureClear(*tracks);
  return record;
}

// ---- Contactless passes ---------------------------------------------------------------------------

void Pellan::processVASEvent(uint8_t code, const uint8_t* p, size_t n) {
  vasClose(nullptr);
  auto send = [&](const Bytes& event) {
    d_->fanOut(sel::kxdev_emv2Event, [&](PellanDelegate& d) { d.kxdev_emv2Event(event); });
  };
  if (n < 3) {
    send({kEmvFinished, 0x00, 0xC1, 0x02, 0x10, 0x00});
    return;
  }
  static const uint8_t kGooglePass[] = {0xDF, 0x81, 0xC9, 0x06};
  const bool google = code == 0x49 || std::search(p, p + n, std::begin(kGooglePass), std::end(kGooglePass)) != p + n;
  Bytes event = {uint8_t(google ? 0x89 : 0x88), 0, 0, 0, 0, 0};
  event.insert(event.end(), p, p + n);
  send(event);
  send({kEmvFinished, 0x00, 0xC1, 0x02, p[0], p[1]});
  foundation::secureClear(event);
}

// ---- Encrypted head -----------------------------------------------------------------------------------

void Pellan::processEncryptedHeadEvent(const uint8_t* p, size_t n) {
  int tracks = 0, algorithm = 0;
  if (d_->fwVer >= kHeaderByteFirmware) {
    if (n < 1) return;
    tracks = p[0] & kTrackMaskBits;
    algorithm = p[0] >> kAlgorithmShift;
    ++p;
    --n;
  }
  if (algorithm == 0) {
    KXTrackDictionary parsed = KXUNISDKGlobals::msExtractTracks(p, int(n), false);
    auto text = [&](const char* key) -> OptText {
      auto it = parsed.texts.find(key);
      return it == parsed.texts.end() ? std::nullopt : OptText(it->second);
    };
    OptText t1 = text(trackkey::track1), t2 = text(trackkey::track2), t3 = text(trackkey::track3),
            jis = text(trackkey::trackJIS);
    bool plain = true;
    // A head that encrypts may still say algorithm 0: data that does not read as a payment
    // card's tracks is taken as encrypted.
    if (d_->feature(0) == 2 &&
        ((!t1 && !t2) || (t1 && t1->rfind("%B", 0) != 0) || (t2 && t2->rfind(";", 0) != 0))) {
      plain = false;
      algorithm = 2;
    }
    if (plain) {
      if (jis)
        d_->fanOut(sel::magneticJISCardData, [&](PellanDelegate& d) { d.magneticJISCardData(*jis); });
      else
        d_->fanOut(sel::magneticCardData, [&](PellanDelegate& d) { d.magneticCardData(t1, t2, t3); });
    }
    for (auto* t : {&t1, &t2, &t3, &jis}) wipe(*t);
    for (auto& [key, value] : parsed.texts) foundation::secureClear(value);
    for (auto& [key, value] : parsed.bytes) foundation::secureClear(value);
    if (plain) return;
  }

  Bytes data(p, p + n);
  OptText t1, t2, t3;
  if (algorithm == 3 || algorithm == 11) {
    maskedTracks(data, 1, &t1, &t2, &t3);
  } else if (auto masked = emsrGetMaskedData(nullptr)) {
    maskedTracks(*masked, 0, &t1, &t2, &t3);
    foundation::secureClear(*masked);
  }
  KXUNISDKGlobals::LOG("PN:algorithm: %d, tracks: %d", algorithm, tracks);
  struct Clear {
    Bytes& data;
    OptText *t1, *t2, *t3;
    ~Clear() {
      foundation::secureClear(data);
      wipe(*t1);
      wipe(*t2);
      wipe(*t3);
    }
  } clear{data, &t1, &t2, &t3};

  if (d_->delegates.fanOut(
          sel::kxdev_magneticCardEncryptedData,
          [&](PellanDelegate& d) { d.kxdev_magneticCardEncryptedData(algorithm, tracks, data, t1, t2, t3, 0); },
          KXFanOutOrder::LastFirst, 1) > 0)
    return;
  if (algorithm == 2 && d_->fwVerEmsr >= kDemoKeyHeadFirmware) {
    if (auto record = decryptDummyData(data, KEY_AES256_DUMMY())) {
      processData(std::move(*record));
      return;
    }
  }
  deliverEncryptedCard(algorithm, tracks, data, t1, t2, t3, 0, false);
}

// ---- EMV kernel ---------------------------------------------------------------------------------------

void Pellan::processEMVEvent(const uint8_t* p, size_t n) {
  {
    const Bytes event(p, p + n);
    d_->fanOut(sel::kxdev_emv2Event, [&](PellanDelegate& d) { d.kxdev_emv2Event(event); });
  }
  if (n < 1) return;
  Bytes t = n > 2 ? Bytes(p + 2, p + n) : Bytes();
  auto appendTags = [&] {
    std::lock_guard<std::mutex> lock(d_->emvMutex);
    if (!d_->emvTags) return;
    // A kernel that keeps sending does not grow one transaction's tags without end.
    if (d_->emvTags->size() + t.size() > pellan::kMaxEmvTagBytes) {
      KXUNISDKGlobals::LOG("PN:emvTags full, %zu bytes dropped", t.size());
      return;
    }
    foundation::append(*d_->emvTags, t);
  };
  switch (p[0]) {
    case kEmvOnlineRequest: {
      KXUNISDKGlobals::LOG("PN:processData: emv_event_online_authorization_request (%zu bytes)", t.size());
      appendTags();
      const size_t taken =
          d_->fanOut(sel::emv2OnOnlineProcessing, [&](PellanDelegate& d) { d.emv2OnOnlineProcessing(t); });
      if (taken == 0 && d_->emvMSEmulation) emv2SetOnlineResult(approvedOnlineResult(), nullptr);
      break;
    }
    case kEmvUserInterface: {
      int code = 0, status = -1, hold = -1;
      if (!t.empty() && t[0] == 0xC1) {
        const auto tags = KXTLV::decodeTags(t);
        if (!tags) break;
        const auto c1 = KXTLV::findLastTag(0xC1, *tags);
        if (!c1 || !c1->data || c1->data->size() < 2) break;
        code = foundation::readBE16(c1->data->data());
        const auto c2 = KXTLV::findLastTag(0xC2, *tags);
        if (c2 && c2->data && c2->data->size() >= 7) {
          status = (*c2->data)[2];
          hold = foundation::readBE16(c2->data->data() + 5);
        }
      } else {
        // Too short to carry a message code: nothing to report.
        if (n < 4) break;
        code = foundation::readBE16(p + 2);
        if (n >= 7) {
          status = p[4];
          hold = foundation::readBE16(p + 5);
        }
      }
      KXUNISDKGlobals::LOG("PN:processData: emv_event_user_interface: %x", unsigned(code));
      if (code == kUiCardRemoved) {
        d_->fanOut(sel::emv2OnTransactionFinished,
                   [&](PellanDelegate& d) { d.emv2OnTransactionFinished(std::nullopt); });
      } else {
        d_->fanOut(sel::emv2OnUserInterfaceCode,
                   [&](PellanDelegate& d) { d.emv2OnUserInterfaceCode(code, status, double(hold)); });
      }
      break;
    }
    case kEmvFinished: {
      KXUNISDKGlobals::LOG("PN:processData: emv_event_transaction_finished (%zu bytes)", t.size());
      appendTags();
      std::optional<Bytes> tags;
      {
        std::lock_guard<std::mutex> lock(d_->emvMutex);
        if (d_->emvTags) {
          KXUNISDKGlobals::LOG("PN:emvTags: %zu bytes", d_->emvTags->size());
          if (d_->emvMSEmulation) {
            // Only an approved card read stands in for a swipe.
            const auto list = KXTLV::decodeTags(*d_->emvTags);
            const auto c1 = list ? KXTLV::findLastTag(0xC1, *list) : std::nullopt;
            if (!c1 || !c1->data || c1->data->size() != 2 ||
                foundation::readBE16(c1->data->data()) != kEmulationApproved) {
              foundation::secureClear(*d_->emvTags);
              d_->emvTags.reset();
            }
          }
        }
        tags = d_->emvTags;
      }
      d_->fanOut(sel::emv2OnTransactionFinished, [&](PellanDelegate& d) { d.emv2OnTransactionFinished(tags); });
      const bool emulate = d_->emvMSEmulation && tags.has_value();
      if (tags) foundation::secureClear(*tags);
      if (emulate) emulateMagneticCard();
      break;
    }
    default:
      break;
  }
  foundation::secureClear(t);
}

void Pellan::emulateMagneticCard() {
  KXUNISDKGlobals::LOG("PN:processData: cmd_scanner_cs_encryptedMSRData received, st1:%d, st2:%d", 0, 0);
  auto answer = emv2GetCardTracksEncryptedWithFormat(d_->emvAlgorithm, d_->emvKeyID, nullptr);
  if (!answer || answer->empty()) {
    // The kernel is closed whatever the read gave, so that it is not left initialised.
    emv2Deinitialise(nullptr);
    return;
  }
  const int tracks = (*answer)[0] & kTrackMaskBits;
  const int algorithm = (*answer)[0] >> kAlgorithmShift;
  Bytes data(answer->begin() + 1, answer->end());
  foundation::secureClear(*answer);
  OptText t1, t2;
  if (auto plain = emv2GetTagsPlain({0xD3, 0xD4}, nullptr)) {
    if (auto tags = KXTLV::decodeTags(*plain)) {
      t1 = tagText(*tags, 0xD3);
      t2 = tagText(*tags, 0xD4);
      for (auto& tag : *tags)
        if (tag.data) foundation::secureClear(*tag.data);
    }
    foundation::secureClear(*plain);
  }
  KXUNISDKGlobals::LOG("PN:T1masked: %s", t1 ? "(present)" : "(null)");
  KXUNISDKGlobals::LOG("PN:T2masked: %s", t2 ? "(present)" : "(null)");
  KXUNISDKGlobals::LOG("PN:algorithm: %d, tracks: %d", algorithm, tracks);
  emv2Deinitialise(nullptr);
  deliverEncryptedCard(algorithm, tracks, data, t1, t2, std::nullopt, 1, false);
  foundation::secureClear(data);
  wipe(t1);
  wipe(t2);
}

}  // namespace kestra
