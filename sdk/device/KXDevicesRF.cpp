// The device API's contactless reader: opening and closing the reader in the sleeve or the
// pinpad, carrying the RF stack's frames to it, turning detections into card records for
// the delegates, the card-removal wait, and the card commands by card index.

#include <atomic>
#include <condition_variable>
#include <cstring>

#include "platform/crypto/Cipher.h"
#include "platform/crypto/Digest.h"
#include "platform/foundation/MainQueue.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesRFInternal.h"
#include "sdk/device/TriDES.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/rf/Rc663.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {

// The feature that names the RF readers a device holds (a mask of reader types).
constexpr int kFeatureRFReader = 5;
constexpr int kFeatureFrameProtocol = 14;
// The removal wait asks the reader this often whether the card has gone.
constexpr foundation::Duration kRemovalCheckInterval = std::chrono::milliseconds(500);

// What the RF stack calls back, handed to the device API it was set up for.
class RFBridge final : public RFReaderTransport, public RFWrapperDelegate {
 public:
  explicit RFBridge(std::weak_ptr<KXDevices> api) : api_(std::move(api)) {}
  std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) override {
    auto api = api_.lock();
    if (!api) return std::nullopt;
    return api->rfReaderWrite(readerType, data, length, error);
  }
  void rfCardDetected(int cardIndex) override {
    KXUNISDKGlobals::LOG("rfCardDetected");
    std::weak_ptr<KXDevices> weak = api_;
    foundation::MainQueue::post([weak, cardIndex] {
      auto api = weak.lock();
      if (!api) return;
      KXUNISDKGlobals::LOG("rfInitCard");
      if (!RFWrapper::initCard(cardIndex)) return;
      api->rfImplCardDetected(cardIndex, api->rfParseCard(cardIndex));
    });
  }

 private:
  std::weak_ptr<KXDevices> api_;
};

struct RFState {
  std::mutex mutex;
  std::condition_variable wake;
  std::atomic<bool> resumeInProgress{false};
  // Counts reader closes; a removal wait begun before the latest close ends.
  uint64_t closes = 0;
  bool felicaCustom = false;
  int requestCode = 0, systemCode = 0, timeSlot = 0, detectionTime = 0, intervalTime = 0;
};

RFState& rf() {
  static RFState* s = new RFState;  // the removal wait may outlive a test's device API
  return *s;
}

Bytes rotateLeft(const Bytes& b) {
  if (b.empty()) return b;
  Bytes r(b.begin() + 1, b.end());
  r.push_back(b.front());
  return r;
}

Bytes rotateRight(const Bytes& b) {
  if (b.empty()) return b;
  Bytes r{b.back()};
  r.insert(r.end(), b.begin(), b.end() - 1);
  return r;
}

}  // namespace

bool rfFail(Error* error, int code, const std::string& text) {
  const Error e =
      KXUNISDKGlobals::makeError(code, text.empty() ? std::string(KXErrors::getErrorDescription(code)) : text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

bool rfResult(int code, Error* error) { return code >= 0 ? true : rfFail(error, code); }

bool rfInvalid(Error* error, const std::string& text) { return rfFail(error, -9, text); }

bool rfWrittenTwin(int* bytesWritten, Error* error, const std::function<int(Error*)>& write) {
  if (bytesWritten) *bytesWritten = 0;
  Error failure;
  const int n = write(&failure);
  if (n > 0 && bytesWritten) *bytesWritten = n;
  if (failure.isError()) return foundation::fail(error, failure);
  return n > 0;
}

// ---- The reader --------------------------------------------------------------------------------

bool KXDevices::rfInit(int supportedCards, Error* error) { return rfInit(supportedCards, 0, error); }

bool KXDevices::rfInit(int supportedCards, int fieldGain, Error* error) {
  return rfInitWithPreferredReader(0, supportedCards, fieldGain, 0.3, error);
}

bool KXDevices::rfInitWithPreferredReader(int reader, int supportedCards, int fieldGain, double sleepTimeout,
                                          Error* error) {
  rfClose(nullptr);
  const int mask = getSupportedFeature(kFeatureRFReader, nullptr);
  int type = 0;
  if (reader != 0 && (mask & reader))
    type = reader;
  else if (mask & kRFReaderRc663)
    type = kRFReaderRc663;
  else if (mask & kRFReaderOmniKey)
    type = kRFReaderOmniKey;
  else if (mask & kRFReaderPn544)
    type = kRFReaderPn544;
  if (type == 0) return rfFail(error, -7, "Connected device does not support selected RF reader type");
  auto bridge = std::make_shared<RFBridge>(weak_from_this());
  RFWrapper::setDelegate(bridge);
  RFWrapper::setCommDelegate(bridge);
  RFWrapper::setReaderType(type);
  felicaExecutePollingParams(nullptr);
  bool ok = false;
  bool carried = false;
  if (route({Kind::Sleeve}) == Kind::Sleeve) {
    carried = true;
    ok = sleeve_->rfReaderInit(type, error);
  }
  if (route({Kind::Pinpad}) == Kind::Pinpad) {
    carried = true;
    ok = pinpad_->rfReaderInit(type, error);
  }
  if (!carried) routeError(error);
  if (ok) ok = RFWrapper::init(supportedCards, int(sleepTimeout * 1000), fieldGain, error);
  if (!ok) rfClose(nullptr);
  return ok;
}

bool KXDevices::rfClose(Error* error) {
  {
    // A removal wait has nothing left to wait for once the reader is closed.
    std::lock_guard lock(rf().mutex);
    ++rf().closes;
  }
  rf().wake.notify_all();
  RFWrapper::close();
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  const int type = RFWrapper::getReaderType();
  return *kind == Kind::Sleeve ? sleeve_->rfReaderClose(type, error) : pinpad_->rfReaderClose(type, error);
}

std::optional<Bytes> KXDevices::rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  return *kind == Kind::Sleeve ? sleeve_->rfReaderWrite(readerType, data, length, error)
                               : pinpad_->rfReaderWrite(readerType, data, length, error);
}

std::shared_ptr<KXRFCardInfo> KXDevices::rfParseCard(int cardIndex) {
  const auto entry = rfCard(cardIndex);
  if (!entry) return nullptr;
  auto info = std::make_shared<KXRFCardInfo>();
  info->readerType = entry->readerType;
  info->cardIndex = cardIndex;
  info->type = entry->type;
  info->typeStr = rfGetCardTypeName(cardIndex);
  info->UID.assign(entry->UID, entry->UID + std::clamp(entry->uidLen, 0, int(sizeof entry->UID)));
  info->ATQA = entry->ATQA;
  info->SAK = entry->SAK;
  info->AFI = entry->AFI;
  info->DSFID = entry->DSFID;
  info->blockSize = entry->blockSize;
  info->nBlocks = entry->nBlocks;
  info->felicaPMm.assign(entry->PMm, entry->PMm + sizeof entry->PMm);
  if (entry->requestDataLen > 0)
    info->felicaRequestData = Bytes(entry->requestData, entry->requestData + std::min<int>(entry->requestDataLen, 2));
  info->dfHardwareVersion = entry->dfHardwareVersion;
  KXUNISDKGlobals::LOG("Card type: %d", info->type);
  const int t = info->type;
  if (getSupportedFeature(kFeatureFrameProtocol, nullptr) != 0 &&
      (t == kCardUnknown || t == kCardEmvPaymentA || t == kCardPicoPass15693 || t == kCardPicoPass14443B ||
       t == kCardEmvPaymentB)) {
    const int protocol = t == kCardPicoPass15693 ? 4 : t == kCardPicoPass14443B ? 5 : 2;
    KXUNISDKGlobals::LOG("Frame protocol: %d", protocol);
    if (protocol == 2) {
      if (auto ats = iso14GetATS(cardIndex, nullptr)) KXUNISDKGlobals::LOGDATA("ATS:", ats->data(), ats->size(), false);
    }
  }
  return info;
}

std::shared_ptr<KXRFCardInfo> KXDevices::rfDetectCardOnChannel(int channel, const Bytes& additionalData, Error* error) {
  return rfDetectCardOnChannel(channel, additionalData, 1.0, error);
}

std::shared_ptr<KXRFCardInfo> KXDevices::rfDetectCardOnChannel(int channel, const Bytes& additionalData, double timeout,
                                                               Error* error) {
  if (!RFWrapper::detectCard(channel, additionalData, timeout, error)) return nullptr;
  return rfParseCard(0);
}

bool KXDevices::rfResumeCardDetection(int cardIndex, Error* error) {
  KXUNISDKGlobals::LOG("rfResumeCardDetection, resumeInProgress=%d", int(rf().resumeInProgress.load()));
  const bool ok = RFWrapper::resumeCardDetection(cardIndex, error);
  KXUNISDKGlobals::LOG("rfResumeCardDetection result=%d, resumeInProgress=%d", int(ok),
                       int(rf().resumeInProgress.load()));
  return ok;
}

bool KXDevices::rfRemoveCard(int cardIndex, Error* /*error*/) {
  bool expected = false;
  if (!rf().resumeInProgress.compare_exchange_strong(expected, true)) return true;
  KXUNISDKGlobals::LOG("resumeInProgress=true");
  std::weak_ptr<KXDevices> weak = weak_from_this();
  uint64_t closes;
  {
    std::lock_guard lock(rf().mutex);
    closes = rf().closes;
  }
  GlobalQueue::async([weak, cardIndex, closes] {
    for (;;) {
      {
        std::unique_lock lock(rf().mutex);
        const bool closed = foundation::Clock::current().waitFor(lock, rf().wake, kRemovalCheckInterval,
                                                                 [closes] { return rf().closes != closes; });
        if (closed) break;  // the reader was closed: the wait ends without a report
      }
      auto api = weak.lock();
      if (!api) break;  // the device API has gone: nobody waits for the card any more
      // The device holding the reader went away.
      if (!api->route({Kind::Sleeve, Kind::Pinpad})) break;
      if (api->rfResumeCardDetection(cardIndex, nullptr)) {
        foundation::MainQueue::post([weak, cardIndex] {
          if (auto a = weak.lock()) a->rfImplCardRemoved(cardIndex);
          KXUNISDKGlobals::LOG("resumeInProgress=false");
          rf().resumeInProgress = false;
        });
        return;
      }
    }
    rf().resumeInProgress = false;
  });
  return true;
}

bool KXDevices::rfFieldControlOnChannel(int channel, bool enabled, Error* error) {
  return RFWrapper::fieldControl(channel, enabled, error);
}

bool KXDevices::rfSetCustomSettings(int channel, const Bytes& settings, Error* error) {
  return RFWrapper::setCustomSettings(channel, settings, error);
}

std::optional<Bytes> KXDevices::rfReadPaymentCardTracks(int cardIndex, const Bytes& tagList, Error* error) {
  return RFWrapper::readPaymentCardTracks(cardIndex, tagList, error);
}

bool KXDevices::felicaSetPollingParamsRequestCode(int requestCode, int systemCode, int timeSlot, int detectionTimeMS,
                                                  int intervalTimeMS, Error* /*error*/) {
  std::lock_guard lock(rf().mutex);
  rf().felicaCustom = true;
  rf().requestCode = requestCode;
  rf().systemCode = systemCode;
  rf().timeSlot = timeSlot;
  rf().detectionTime = detectionTimeMS;
  rf().intervalTime = intervalTimeMS;
  return true;
}

bool KXDevices::felicaExecutePollingParams(Error* error) {
  int request, system, slot, detection, interval;
  {
    std::lock_guard lock(rf().mutex);
    if (!rf().felicaCustom) return true;
    request = rf().requestCode;
    system = rf().systemCode;
    slot = rf().timeSlot;
    detection = rf().detectionTime;
    interval = rf().intervalTime;
  }
  return rfResult(rc663FelicaSetPollingParams(request, system, slot, detection, interval), error);
}

// ---- Mifare and ISO 14443 cards -------------------------------------------------------------------

bool KXDevices::mfAuthByKey(int cardIndex, char type, int address, const Bytes& key, Error* error) {
  if (key.size() != 6) return rfInvalid(error, "Key is invalid");
  if (type != 'A' && type != 'B') return rfInvalid(error, "Key type can be A or B");
  return rfResult(mfAuth(cardIndex, type, address, key.data()), error);
}

bool KXDevices::mfStoreKeyIndex(int keyIndex, char type, const Bytes& key, Error* error) {
  if (key.size() != 6) return rfInvalid(error, "Key is invalid");
  if (type != 'A' && type != 'B') return rfInvalid(error, "Key type can be A or B");
  if (keyIndex < 0 || keyIndex > 7) return rfInvalid(error, "Key index can be from 0 to 7");
  return rfResult(mfLoadKey(keyIndex, type, key.data()), error);
}

bool KXDevices::mfAuthByStoredKey(int cardIndex, char type, int address, int keyIndex, Error* error) {
  if (type != 'A' && type != 'B') return rfInvalid(error, "Key type can be A or B");
  if (keyIndex < 0 || keyIndex > 7) return rfInvalid(error, "Key index can be from 0 to 7");
  return rfResult(mfAuthByLoadedKey(cardIndex, type, address, keyIndex), error);
}

std::optional<Bytes> KXDevices::mfRead(int cardIndex, int address, int length, Error* error) {
  if (address < 0 || address >= 256) {
    rfInvalid(error, "Address number is invalid");
    return std::nullopt;
  }
  if (length <= 0 || length % 16 != 0) {
    rfInvalid(error, "Invalid length specified, it can only be mutiple of 16");
    return std::nullopt;
  }
  // A read step gives 16 bytes: one block of a Classic card, four pages of an Ultralight.
  const auto card = rfCard(cardIndex);
  const bool pages = card && (card->type == kCardMifareUltralight || card->type == kCardMifareUltralightC);
  const int step = pages ? 4 : 1;
  Bytes out;
  for (int read = 0; read < length; read += 16) {
    uint8_t block[16];
    const int r = mfRead16(cardIndex, address + (read / 16) * step, block);
    if (r < 0) {
      // What was read before a failure is still the caller's, with the failure that cut the
      // read short (as a partial write reports it): fewer bytes than asked for are never a
      // silent success.
      rfFail(error, r);
      if (out.empty()) return std::nullopt;
      break;
    }
    out.insert(out.end(), block, block + 16);
  }
  return out;
}

int KXDevices::mfWrite(int cardIndex, int address, const std::optional<Bytes>& data, Error* error) {
  if (!data || data->empty()) {
    rfInvalid(error, "Data block is invalid");
    return 0;
  }
  if (address < 0 || address >= 256) {
    rfInvalid(error, "Address number is invalid");
    return 0;
  }
  const auto card = rfCard(cardIndex);
  if (!card) {
    rfFail(error, -9);
    return 0;
  }
  const bool pages = card->type == kCardMifareUltralight || card->type == kCardMifareUltralightC;
  const size_t unit = pages ? 4 : 16;
  if (data->size() % unit != 0) {
    rfInvalid(error, "Data block is invalid");
    return 0;
  }
  int written = 0;
  for (size_t at = 0; at < data->size(); at += unit) {
    const int r = pages ? mfWrite4(cardIndex, address, data->data() + at) : mfWrite16(cardIndex, address, data->data() + at);
    if (r < 0) {
      rfFail(error, r);
      break;
    }
    written += int(unit);
    ++address;
  }
  return written;
}

bool KXDevices::mfWrite(int cardIndex, int address, const std::optional<Bytes>& data, int* bytesWritten, Error* error) {
  return rfWrittenTwin(bytesWritten, error, [&](Error* e) { return mfWrite(cardIndex, address, data, e); });
}

bool KXDevices::mfUlcSetKey(int cardIndex, const Bytes& key, Error* error) {
  if (key.size() != 16) return rfInvalid(error, "Key block is invalid");
  return rfResult(kestra::mfUlcSetKey(cardIndex, key.data()), error);
}

bool KXDevices::mfUlcAuthByKey(int cardIndex, const Bytes& key, Error* error) {
  if (key.size() != 16) return rfInvalid(error, "Key block is invalid");
  return rfResult(mfUlcAuth(cardIndex, key.data()), error);
}

std::optional<Bytes> KXDevices::iso14GetATS(int cardIndex, Error* error) {
  Bytes ats;
  const int r = kestra::iso14GetATS(cardIndex, &ats);
  if (r < 0) {
    rfFail(error, r);
    return std::nullopt;
  }
  return ats;
}

std::optional<Bytes> KXDevices::iso14APDU(int cardIndex, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                          const Bytes& data, uint16_t* apduResult, int maxOutLength, Error* error) {
  Bytes out;
  uint16_t sw = 0;
  const int r = kestra::iso14APDU(cardIndex, cla, ins, p1, p2, data, &out, maxOutLength, &sw);
  if (r < 0) {
    KXUNISDKGlobals::LOG("APDU failed! %d", r);
    rfFail(error, r);
    return std::nullopt;
  }
  if (apduResult) *apduResult = sw;
  KXUNISDKGlobals::LOG("APDU response: %zu bytes", out.size());  // card data: length only
  return out;
}

std::optional<Bytes> KXDevices::iso14APDU(int cardIndex, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                          const Bytes& data, uint16_t* apduResult, Error* error) {
  return iso14APDU(cardIndex, cla, ins, p1, p2, data, apduResult, 0, error);
}

std::optional<Bytes> KXDevices::iso14Transceive(int cardIndex, const Bytes& data, uint8_t* status, Error* error) {
  KXUNISDKGlobals::LOG("iso14Transieve in: %zu bytes", data.size());
  Bytes out;
  const int r = iso14Transieve(cardIndex, data.data(), int(data.size()), &out, status);
  if (r < 0) {
    rfFail(error, r);
    return std::nullopt;
  }
  KXUNISDKGlobals::LOG("iso14Transieve response: %zu bytes", out.size());
  return out;
}

std::optional<Bytes> KXDevices::iso14Transceive(int cardIndex, const Bytes& data, Error* error) {
  return iso14Transceive(cardIndex, data, nullptr, error);
}

bool KXDevices::iso14Halt(int cardIndex, Error* error) { return rfResult(kestra::iso14Halt(cardIndex), error); }

// ---- DESFire -------------------------------------------------------------------------------------

namespace {

// One DESFire frame: the card's status byte and the data after it.
std::optional<Bytes> dfFrame(KXDevices& api, int cardIndex, const Bytes& frame, uint8_t* status, Error* error) {
  Bytes out;
  uint8_t st = 0;
  auto answer = api.iso14Transceive(cardIndex, frame, &st, error);
  if (!answer) return std::nullopt;
  if (status) *status = st;
  // The answer starts with the status byte.
  if (!answer->empty()) answer->erase(answer->begin());
  return answer;
}

bool cardError(Error* error, uint8_t status) {
  char text[32];
  std::snprintf(text, sizeof text, "Card error %02X", status);
  return rfFail(error, -20, text);
}

}  // namespace

std::optional<Bytes> KXDevices::dfAESAuthByFixedKey(int cardIndex, const Bytes& key, int keyIndex, Error* error) {
  if (key.size() != 16) {
    rfInvalid(error, "Key block is invalid");
    return std::nullopt;
  }
  char text[64];
  uint8_t status = 0;
  auto first = dfFrame(*this, cardIndex, {0xAA, uint8_t(keyIndex)}, &status, error);
  if (!first) return std::nullopt;
  if (status != 0xAF || first->size() < 16) {
    std::snprintf(text, sizeof text, "Authentication step 1 failed with %02X", status);
    rfFail(error, -20, text);
    return std::nullopt;
  }
  // The IV chains across the three steps.
  Bytes iv(16, 0);
  const Bytes encB(first->begin(), first->begin() + 16);
  auto rndB = crypto::aesDecrypt(key, encB, crypto::Mode::CBC, crypto::Padding::None, iv);
  iv = encB;
  const Bytes rndA = crypto::randomBytes(16);
  Bytes plain = rndA;
  const Bytes rndB1 = rotateLeft(*rndB);
  plain.insert(plain.end(), rndB1.begin(), rndB1.end());
  auto cipher = crypto::aesEncrypt(key, plain, crypto::Mode::CBC, crypto::Padding::None, iv);
  iv.assign(cipher->end() - 16, cipher->end());
  Bytes second{0xAF};
  second.insert(second.end(), cipher->begin(), cipher->end());
  auto third = dfFrame(*this, cardIndex, second, &status, error);
  if (!third) return std::nullopt;
  if (status != 0 || third->size() < 16) {
    std::snprintf(text, sizeof text, "Authentication step 2 failed with %02X", status);
    rfFail(error, -20, text);
    return std::nullopt;
  }
  auto rndA1 = crypto::aesDecrypt(key, Bytes(third->begin(), third->begin() + 16), crypto::Mode::CBC,
                                  crypto::Padding::None, iv);
  if (!rndA1 || rotateRight(*rndA1) != rndA) {
    rfFail(error, -20, "Authentication step 3 failed");
    return std::nullopt;
  }
  Bytes session(rndA.begin(), rndA.begin() + 4);
  session.insert(session.end(), rndB->begin(), rndB->begin() + 4);
  session.insert(session.end(), rndA.begin() + 12, rndA.end());
  session.insert(session.end(), rndB->begin() + 12, rndB->end());
  return session;
}

bool KXDevices::df3DESAuthByFixedKey(int cardIndex, const Bytes& key, int keyIndex, Error* error) {
  if (key.size() != 16) return rfInvalid(error, "Key block is invalid");
  char text[64];
  uint8_t status = 0;
  auto first = dfFrame(*this, cardIndex, {0x0A, uint8_t(keyIndex)}, &status, error);
  if (!first) return false;
  if (status != 0xAF || first->size() < 8) {
    std::snprintf(text, sizeof text, "Authentication step 1 failed with %02X", status);
    return rfFail(error, -20, text);
  }
  auto rndB = triDESDecrypt(Bytes(first->begin(), first->begin() + 8), key);
  if (!rndB) return rfFail(error, -20, "Authentication step 1 failed");
  const Bytes rndA = crypto::randomBytes(8);
  Bytes plain = rndA;
  const Bytes rndB1 = rotateLeft(*rndB);
  plain.insert(plain.end(), rndB1.begin(), rndB1.end());
  auto cipher = triDESEncrypt(plain, key);
  if (!cipher) return rfFail(error, -20, "Authentication step 2 failed");
  Bytes second{0xAF};
  second.insert(second.end(), cipher->begin(), cipher->end());
  auto third = dfFrame(*this, cardIndex, second, &status, error);
  if (!third) return false;
  if (status != 0 || third->size() < 8) {
    std::snprintf(text, sizeof text, "Authentication step 2 failed with %02X", status);
    return rfFail(error, -20, text);
  }
  auto rndA1 = triDESDecrypt(Bytes(third->begin(), third->begin() + 8), key, Bytes(8, 0));
  if (!rndA1 || rotateRight(*rndA1) != rndA) return rfFail(error, -20, "Authentication step 3 failed");
  return true;
}

bool KXDevices::dfSelectApplication(int cardIndex, uint32_t app, Error* error) {
  uint8_t status = 0;
  if (!dfFrame(*this, cardIndex, {0x5A, uint8_t(app), uint8_t(app >> 8), uint8_t(app >> 16)}, &status, error))
    return false;
  return status == 0 ? true : cardError(error, status);
}

bool KXDevices::dfCreateFile(int cardIndex, int fileID, uint8_t type, uint16_t permissions, uint32_t size, int isoID,
                             Error* error) {
  Bytes frame{0xCD, uint8_t(fileID)};
  if (isoID > 0) frame.insert(frame.end(), {uint8_t(isoID), uint8_t(isoID >> 8)});
  frame.insert(frame.end(), {type, uint8_t(permissions), uint8_t(permissions >> 8), uint8_t(size), uint8_t(size >> 8),
                             uint8_t(size >> 16)});
  uint8_t status = 0;
  if (!dfFrame(*this, cardIndex, frame, &status, error)) return false;
  return status == 0 ? true : cardError(error, status);
}

bool KXDevices::dfWriteFile(int cardIndex, int fileID, const Bytes& data, Error* error) {
  constexpr size_t kPiece = 52;
  const uint32_t n = uint32_t(data.size());
  Bytes frame{0x3D, uint8_t(fileID), 0, 0, 0, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16)};
  size_t at = std::min(kPiece, data.size());
  frame.insert(frame.end(), data.begin(), data.begin() + long(at));
  for (;;) {
    uint8_t status = 0;
    if (!dfFrame(*this, cardIndex, frame, &status, error)) return false;
    if (status != 0 && status != 0xAF) return cardError(error, status);
    if (at >= data.size()) return true;
    const size_t piece = std::min(kPiece, data.size() - at);
    frame = {0xAF};
    frame.insert(frame.end(), data.begin() + long(at), data.begin() + long(at + piece));
    at += piece;
  }
}

std::optional<Bytes> KXDevices::dfReadFile(int cardIndex, int fileID, int length, Error* error) {
  const auto card = rfCard(cardIndex);
  if (!card || length < 0) {
    rfFail(error, -9);
    return std::nullopt;
  }
  const int hw = card->dfHardwareVersion >> 8;
  const uint8_t command = (hw == 0x12 || hw == 0x62 || card->uidLen == 4) ? 0xAD : 0xBD;
  Bytes frame{command, uint8_t(fileID), 0, 0, 0, uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16)};
  Bytes out;
  for (;;) {
    uint8_t status = 0;
    auto part = dfFrame(*this, cardIndex, frame, &status, error);
    if (!part) return std::nullopt;
    out.insert(out.end(), part->begin(), part->end());
    if (status == 0) return out;
    if (status != 0xAF) {
      cardError(error, status);
      return std::nullopt;
    }
    frame = {0xAF};
  }
}

}  // namespace kestra
