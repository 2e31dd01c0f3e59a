#include "sdk/rf/RFWrapper.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>

#include "platform/foundation/Clock.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/OmniKey.h"
#include "sdk/rf/Pn544.h"
#include "sdk/rf/Rc663.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {

const char* const kCardNames[] = {"Unknown",     "Mifare Mini",  "Mifare Classic 1K", "Mifare Classic 4K",
                                  "Mifare Ultralight", "Mifare Ultralight C", "ISO 14443A", "Mifare Plus",
                                  "ISO 15693",   "Mifare Desfire", "ISO 14443B", "FeliCa", "ST SRI",
                                  "EMV Payment A", "PicoPass 15693", "PicoPass 14443B", "E-Passport",
                                  "EMV Payment B", "LFC"};
constexpr int kCardNameCount = int(sizeof kCardNames / sizeof kCardNames[0]);

// The front's process-wide state.
struct Front {
  std::mutex mutex;  // everything below
  int readerType = 0;
  std::shared_ptr<RFWrapperDelegate> delegate;
  std::shared_ptr<RFReaderTransport> transport;
  RFTransceiveFunction transceive = nullptr;
  RFTransmitFunction transmit = nullptr;
  RFCardEntry cards[kRFMaxCards];
  int nCards = 0;
  Bytes cmdBuf;
  uint16_t rc663Version = 0x0100;
  std::recursive_mutex memLock;
  std::recursive_mutex cmdLock;
};

Front& front() {
  static Front* f = new Front;  // lives for the process; reader threads may outlast main
  return *f;
}

bool failWith(foundation::Error* error, int code) {
  const foundation::Error e = KXUNISDKGlobals::makeError(code, std::string(KXErrors::getErrorDescription(code)));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

}  // namespace

void RFWrapper::setCommDelegate(std::shared_ptr<RFReaderTransport> transport) {
  std::lock_guard lock(front().mutex);
  front().transport = std::move(transport);
}

void RFWrapper::setDelegate(std::shared_ptr<RFWrapperDelegate> delegate) {
  std::lock_guard lock(front().mutex);
  front().delegate = std::move(delegate);
}

int RFWrapper::getReaderType() {
  std::lock_guard lock(front().mutex);
  return front().readerType;
}

void RFWrapper::setReaderType(int type) {
  std::lock_guard lock(front().mutex);
  front().readerType = type;
}

uint16_t RFWrapper::rc663Version() {
  std::lock_guard lock(front().mutex);
  return front().rc663Version;
}

bool RFWrapper::init(int supportedCards, int sleepTimeoutMs, int fieldGain, foundation::Error* error) {
  KXUNISDKGlobals::LOG("RFWrapper: init");
  int code;
  if (getReaderType() == kRFReaderRc663) {
    mfResetSelection();
    code = rc663Init(supportedCards, sleepTimeoutMs, fieldGain);
    uint16_t version = 0;
    if (code >= 0 && rc663GetIdent(nullptr, &version) >= 0) {
      std::lock_guard lock(front().mutex);
      front().rc663Version = version;
    }
  } else if (getReaderType() == kRFReaderPn544) {
    mfResetSelection();
    code = pn544Init(1, supportedCards, sleepTimeoutMs);
  } else if (getReaderType() == kRFReaderOmniKey) {
    mfResetSelection();
    code = omniKeyInit(1, supportedCards);
  } else {
    code = -16;
  }
  KXUNISDKGlobals::LOG("RFWrapper: init done: %d", code);
  if (code < 0) return failWith(error, code);
  return true;
}

void RFWrapper::close() {
  KXUNISDKGlobals::LOG("RFWrapper: close");
  switch (getReaderType()) {
    case kRFReaderRc663: rc663Done(); break;
    case kRFReaderPn544: pn544Close(); break;
    case kRFReaderOmniKey: omniKeyClose(); break;
    default: break;
  }
  KXUNISDKGlobals::LOG("RFWrapper: close done");
}

void RFWrapper::dataAvaiable(const Bytes& data) {
  const int type = getReaderType();
  if (type == kRFReaderRc663) {
    rc663DataAvailable(data.data(), int(data.size()));
  } else if (type == kRFReaderPn544 || type == kRFReaderOmniKey) {
    rfMemLock();
    if (type == kRFReaderPn544)
      pn544DataAvailable(data.data(), int(data.size()));
    else
      omniKeyDataAvailable(data.data(), int(data.size()));
    rfMemUnlock();
  }
}

void RFWrapper::rfMemLock() { front().memLock.lock(); }
void RFWrapper::rfMemUnlock() { front().memLock.unlock(); }

std::optional<Bytes> RFWrapper::detectCard(int channel, const Bytes& additionalData, double timeoutSeconds,
                                           foundation::Error* error) {
  if (getReaderType() != kRFReaderRc663) {
    failWith(error, -16);
    return std::nullopt;
  }
  Bytes out;
  const int r = rc663DetectCard(channel, additionalData.data(), int(additionalData.size()), &out,
                                int(timeoutSeconds * 1000), false);
  if (r <= 0) {
    failWith(error, r < 0 ? r : -6);
    return std::nullopt;
  }
  return out;
}

bool RFWrapper::resumeCardDetection(int cardIndex, foundation::Error* error) {
  auto card = rfCard(cardIndex);
  if (!card) return failWith(error, -9);
  int r;
  const int type = getReaderType();
  if (type == kRFReaderPn544) {
    r = pn544ResumeLoop(cardIndex);
  } else if (type == kRFReaderOmniKey) {
    r = omniKeyResumeLoop(cardIndex);
  } else if (type != kRFReaderRc663) {
    r = -16;
  } else if (rc663Version() >= 0x0101) {
    Bytes out;
    r = rc663DetectCard(card->channel, nullptr, 0, &out, 1000, true);
    if (r < 1) {
      rc663ResumeDetection();
      r = 0;
    } else {
      // The card still answers: not removed yet.
      return foundation::fail(error, KXUNISDKGlobals::makeError(r, std::string()));
    }
  } else {
    r = rc663ResumeLoop(cardIndex);
  }
  if (r != 0) return failWith(error, r);
  return true;
}

bool RFWrapper::omniResumeCardDetection(int cardIndex, foundation::Error* error) {
  const int r = omniKeyResumeLoop(cardIndex);
  if (r != 0) return failWith(error, r);
  return true;
}

bool RFWrapper::initCard(int cardIndex) {
  const int type = getReaderType();
  if (type == kRFReaderRc663 || type == kRFReaderOmniKey) return true;
  if (type != kRFReaderPn544) return false;
  if (pn544InitCard(cardIndex) != 0) return true;
  // Not a card this reader can use: let the controller poll again.
  GlobalQueue::async([cardIndex] { pn544ResumeLoopCommand(cardIndex); });
  return false;
}

bool RFWrapper::fieldControl(int channel, bool enabled, foundation::Error* error) {
  KXUNISDKGlobals::LOG("RFWrapper: fieldControl");
  if (getReaderType() == kRFReaderRc663) {
    const int r = rc663FieldControl(channel, enabled);
    if (r < 0) return failWith(error, r);
  }
  KXUNISDKGlobals::LOG("RFWrapper: fieldControl done");
  return true;
}

bool RFWrapper::setCustomSettings(int channel, const Bytes& settings, foundation::Error* error) {
  KXUNISDKGlobals::LOG("RFWrapper: setCustomSettings");
  if (getReaderType() == kRFReaderRc663) {
    const int r = rc663SetCustomSettings(channel, settings.data(), int(settings.size()));
    if (r < 0) return failWith(error, r);
  }
  return true;
}

std::optional<Bytes> RFWrapper::readPaymentCardTracks(int cardIndex, const Bytes& tagList, foundation::Error* error) {
  KXUNISDKGlobals::LOG("RFWrapper: readPaymentCardTracks");
  int r = -16;
  Bytes out;
  if (getReaderType() == kRFReaderRc663) r = rc663ReadPaymentCardTracks(cardIndex, tagList.data(), int(tagList.size()), &out);
  if (r >= 0) return out;
  KXUNISDKGlobals::LOG("RFWrapper: readPaymentCardTracks done");
  failWith(error, r);
  return std::nullopt;
}

// ---- Services --------------------------------------------------------------------------------

int rfInit() {
  std::lock_guard lock(front().mutex);
  front().nCards = 0;
  return 0;
}

void rfInstallDriver(RFTransceiveFunction transceive, RFTransmitFunction transmit) {
  std::lock_guard lock(front().mutex);
  front().transceive = transceive;
  front().transmit = transmit;
}

int rfCardTransceive(int channel, const uint8_t* data, int length) {
  RFTransceiveFunction f;
  {
    std::lock_guard lock(front().mutex);
    f = front().transceive;
  }
  return f ? f(channel, data, length, 0) : -7;
}

int rfCardTransmit(int channel, const uint8_t* data, int length) {
  RFTransmitFunction f;
  {
    std::lock_guard lock(front().mutex);
    f = front().transmit;
  }
  return f ? f(channel, data, length) : -7;
}

const char* rfGetCardTypeName(int cardIndex) {
  auto card = rfCard(cardIndex);
  if (!card || card->type < 0 || card->type >= kCardNameCount) return kCardNames[0];
  return kCardNames[card->type];
}

int rfCardDetected(int cardIndex) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  KXUNISDKGlobals::LOG("RF card detected type: %d channel: %d", card->type, card->channel);
  std::shared_ptr<RFWrapperDelegate> delegate;
  {
    std::lock_guard lock(front().mutex);
    delegate = front().delegate;
  }
  if (delegate) delegate->rfCardDetected(cardIndex);
  return 0;
}

int rc663Write(const uint8_t* data, int length) {
  std::shared_ptr<RFReaderTransport> transport;
  int type;
  {
    std::lock_guard lock(front().mutex);
    transport = front().transport;
    type = front().readerType;
  }
  if (!transport) return -7;
  foundation::Error error;
  if (transport->rfReaderWrite(type, data, length, &error)) return 0;
  return error.code != 0 ? error.code : -1;
}

int pn544Write(const uint8_t* data, int length) { return rc663Write(data, length); }

int omniKeyWrite(const uint8_t* data, int length, Bytes* answer) {
  std::shared_ptr<RFReaderTransport> transport;
  int type;
  {
    std::lock_guard lock(front().mutex);
    transport = front().transport;
    type = front().readerType;
  }
  if (!transport) return -7;
  foundation::Error error;
  auto result = transport->rfReaderWrite(type, data, length, &error);
  if (!result) return error.code != 0 ? error.code : -1;
  if (answer) *answer = std::move(*result);
  return 0;
}

void rfCmdLock() { front().cmdLock.lock(); }
void rfCmdUnlock() { front().cmdLock.unlock(); }

void rfSleep(int ms) {
  if (ms <= 0) return;
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock lock(m);
  foundation::Clock::current().waitFor(lock, cv, std::chrono::milliseconds(ms), [] { return false; });
}

int64_t rfGetTickCount() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(foundation::Clock::current().now().time_since_epoch())
      .count();
}

void rfDbg(const char* text) { KXUNISDKGlobals::LOG("%s", text ? text : ""); }

// Frames to and from cards carry card numbers, tracks and keys: the label and the length
// are logged, never the bytes.
void rfDbgData(const char* label, const uint8_t* data, int length) {
  if (data && length > 0) KXUNISDKGlobals::LOG("%s %d bytes", label ? label : "", length);
}

std::optional<RFCardEntry> rfCard(int cardIndex) {
  if (cardIndex < 0 || cardIndex >= kRFMaxCards) return std::nullopt;
  std::lock_guard lock(front().mutex);
  return front().cards[cardIndex];
}

bool rfUpdateCard(int cardIndex, const std::function<void(RFCardEntry&)>& change) {
  if (cardIndex < 0 || cardIndex >= kRFMaxCards) return false;
  std::lock_guard lock(front().mutex);
  change(front().cards[cardIndex]);
  return true;
}

int rfNextCardIndex() {
  std::lock_guard lock(front().mutex);
  return front().nCards;
}

void rfSetNextCardIndex(int index) {
  std::lock_guard lock(front().mutex);
  front().nCards = ((index % kRFMaxCards) + kRFMaxCards) % kRFMaxCards;
}

Bytes rfCmdAnswer() {
  std::lock_guard lock(front().mutex);
  return front().cmdBuf;
}

void rfSetCmdAnswer(const uint8_t* data, size_t length) {
  std::lock_guard lock(front().mutex);
  front().cmdBuf.assign(data, data + std::min(length, kRFCmdBufSize));
}

}  // namespace kestra
