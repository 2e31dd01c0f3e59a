#include "sdk/rf/Rc663.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/rf/Felica.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {

using foundation::Bytes;

struct Rc663State {
  std::mutex mutex;  // guards the receive buffer and the fields below
  std::condition_variable received;
  Bytes rx;
  bool waiting = false;         // a command waits for its reply
  std::optional<Bytes> reply;   // the waiting command's reply frame, once complete
  int supportedCards = 0;
  int sleepTimeout = 0;
  uint16_t identDevice = 0;
  uint16_t identVersion = 0;
  Bytes lastUID;
  int64_t lastUIDTime = 0;  // ms on the clock; 0 = not waiting for a card to leave
};

Rc663State& state() {
  static Rc663State* s = new Rc663State;  // reader threads may outlast main
  return *s;
}

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(foundation::Clock::current().now().time_since_epoch())
      .count();
}

size_t frameLength(const Bytes& rx) { return rx.size() < 4 ? 0 : 4 + ((size_t(rx[2]) << 8) | rx[3]); }

// Sends one command and waits for its reply; the reply's data lands in the answer buffer.
int sendCommandTime(int module, int sub, const uint8_t* data, int length, int timeoutMs, int waitMs) {
  if (length < 0) return -9;
  if (module == 1 || module == 2) {
    // Standard ISO 14443 frames carry a leading 0 that the module does not want.
    if (length > 0 && data[0] == 0) {
      ++data;
      --length;
    }
  }
  Bytes frame{uint8_t(module), uint8_t(sub), 0, 0};
  const bool withTimeout = module != 0 && sub == 10 && state().identVersion > 0x0102;
  const size_t total = size_t(length) + (withTimeout ? 2 : 0);
  if (total > kRc663RxBufSize) return -9;
  frame[2] = uint8_t(total >> 8);
  frame[3] = uint8_t(total);
  if (withTimeout) frame.insert(frame.end(), {uint8_t(timeoutMs >> 8), uint8_t(timeoutMs)});
  frame.insert(frame.end(), data, data + length);
  {
    // Only a reply that arrives from now on answers this command; queued card events stay.
    std::lock_guard lock(state().mutex);
    state().reply.reset();
    state().waiting = true;
  }
  const int written = rc663Write(frame.data(), int(frame.size()));
  std::unique_lock lock(state().mutex);
  if (written < 0) {
    state().waiting = false;
    return written;
  }
  const bool complete = foundation::Clock::current().waitFor(
      lock, state().received, std::chrono::milliseconds(waitMs), [&] { return state().reply.has_value(); });
  state().waiting = false;
  if (!complete) {
    // Whatever part of a frame is held has waited as long as the command: start afresh.
    state().rx.clear();
    return -6;
  }
  const Bytes reply = std::move(*state().reply);
  state().reply.reset();
  const int status = reply[1];
  if (status == 0) {
    const uint8_t* payload = reply.data() + 4;
    size_t n = reply.size() - 4;
    if (module == kRFChannelFelica) {
      if (n == 0) return -6;
      ++payload;
      --n;
    }
    rfSetCmdAnswer(payload, n);
  }
  return -status;
}

// Card events, initialised and reported one at a time in arrival order by one global-queue
// worker at a time (so that tests waiting for the global queue also wait for them).
struct Rc663Events {
  std::mutex mutex;
  std::deque<std::pair<int, Bytes>> queue;  // channel, detection record
  bool draining = false;
};

Rc663Events& events() {
  static Rc663Events* e = new Rc663Events;  // workers may outlast main
  return *e;
}

void handleCardEvent(int channel, const Bytes& record);

void drainCardEvents() {
  auto& e = events();
  for (;;) {
    std::pair<int, Bytes> next;
    {
      std::lock_guard l(e.mutex);
      if (e.queue.empty()) {
        e.draining = false;
        return;
      }
      next = std::move(e.queue.front());
      e.queue.pop_front();
    }
    handleCardEvent(next.first, next.second);
  }
}

void postCardEvent(int channel, Bytes record) {
  auto& e = events();
  std::lock_guard lock(e.mutex);
  e.queue.emplace_back(channel, std::move(record));
  if (e.draining) return;
  e.draining = true;
  GlobalQueue::async(drainCardEvents);
}

int sendCommand(int module, int sub, const Bytes& data = {}, int waitMs = kRc663CommandWaitMs) {
  return sendCommandTime(module, sub, data.data(), int(data.size()), 0, waitMs);
}

}  // namespace

bool rc663ParseCard(int cardIndex, int channel, const uint8_t* rec, int length) {
  bool ok = length >= 0;
  rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
    e = RFCardEntry{};
    e.readerType = kRFReaderRc663;
    e.channel = channel;
    auto setUID = [&](const uint8_t* uid, int n) {
      n = std::clamp(n, 0, int(sizeof e.UID));
      std::memcpy(e.UID, uid, size_t(n));
      e.uidLen = n;
    };
    switch (channel) {
      case kRFChannelIso14443A:
        if (length < 4) { ok = false; break; }
        e.ATQA = uint16_t((rec[0] << 8) | rec[1]);
        e.SAK = rec[2];
        setUID(rec + 3, length - 3);
        break;
      case kRFChannelIso14443B:
        if (length < 5) { ok = false; break; }
        setUID(rec + 1, 4);
        e.type = kCardIso14443B;
        break;
      case kRFChannelIso15693:
        if (length < 3) { ok = false; break; }
        e.DSFID = rec[1];
        setUID(rec + 2, length - 2);
        e.type = kCardIso15693;
        break;
      case kRFChannelFelica:
        if (length < 18) { ok = false; break; }
        setUID(rec + 2, 8);
        std::memcpy(e.PMm, rec + 10, 8);
        if (length >= 20) {
          std::memcpy(e.requestData, rec + 18, 2);
          e.requestDataLen = 2;
        }
        e.type = kCardFelica;
        break;
      case kRFChannelStSri:
        if (length < 8) { ok = false; break; }
        setUID(rec, 8);
        e.type = kCardStSri;
        break;
      case kRFChannelPicoPass:
        if (length < 9) { ok = false; break; }
        setUID(rec + 1, 8);
        e.type = rec[0] == 3 ? kCardPicoPass15693 : kCardPicoPass14443B;
        break;
      default:
        ok = false;
    }
  });
  if (!ok) return false;
  switch (channel) {
    case kRFChannelIso14443A:
    case kRFChannelIso14443B: return iso14InitCard(cardIndex) == 1;
    case kRFChannelIso15693: return iso15InitCard(cardIndex) == 1;
    case kRFChannelFelica: return felicaInitCard(cardIndex) == 1;
    case kRFChannelStSri: return stInitCard(cardIndex) == 1;
    default: return true;
  }
}

int rc663Init(int supportedCards, int sleepTimeout, int fieldGain) {
  KXUNISDKGlobals::LOG("rc663Init");
  {
    std::lock_guard lock(state().mutex);
    state().supportedCards = supportedCards;
    state().sleepTimeout = sleepTimeout;
    state().rx.clear();
    state().identDevice = 0;
    state().identVersion = 0;
    state().lastUID.clear();
    state().lastUIDTime = 0;
  }
  rfSetCmdAnswer(nullptr, 0);
  rfInit();
  rfInstallDriver(rc663Transceive, rc663Transmit);
  const int r = sendCommand(0, kRc663Init,
                            {uint8_t(supportedCards >> 8), uint8_t(supportedCards), uint8_t(sleepTimeout >> 8),
                             uint8_t(sleepTimeout), uint8_t(fieldGain >> 8), uint8_t(fieldGain)});
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() >= 4) {
    std::lock_guard lock(state().mutex);
    state().identDevice = uint16_t((a[0] << 8) | a[1]);
    state().identVersion = uint16_t((a[2] << 8) | a[3]);
    return 0;
  }
  return rc663GetIdent(nullptr, nullptr) < 0 ? -6 : 0;
}

int rc663GetIdent(uint16_t* device, uint16_t* version) {
  KXUNISDKGlobals::LOG("rc663GetIdent");
  {
    std::lock_guard lock(state().mutex);
    if (state().identVersion != 0) {
      if (device) *device = state().identDevice;
      if (version) *version = state().identVersion;
      return 0;
    }
  }
  const int r = sendCommand(0, kRc663GetIdent);
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (a.size() < 4) return -6;
  std::lock_guard lock(state().mutex);
  state().identDevice = uint16_t((a[0] << 8) | a[1]);
  state().identVersion = uint16_t((a[2] << 8) | a[3]);
  if (device) *device = state().identDevice;
  if (version) *version = state().identVersion;
  return 0;
}

int rc663Transceive(int channel, const uint8_t* data, int length, int timeoutMs) {
  return sendCommandTime(channel, kRc663Transceive, data, length, timeoutMs, kRc663CommandWaitMs);
}

int rc663Transmit(int channel, const uint8_t* data, int length) {
  uint16_t version;
  {
    std::lock_guard lock(state().mutex);
    version = state().identVersion;
  }
  return sendCommandTime(channel, version >= 0x0103 ? kRc663Transmit : kRc663Transceive, data, length, 0,
                         kRc663CommandWaitMs);
}

int rc663DetectCard(int channel, const uint8_t* data, int length, foundation::Bytes* out, int timeoutMs, bool noInit) {
  KXUNISDKGlobals::LOG("rc663DetectCard");
  Bytes payload{uint8_t(channel)};
  if (data && length > 0) payload.insert(payload.end(), data, data + std::min(length, 31));
  const int r = sendCommand(0, kRc663DetectCard, payload, std::max(timeoutMs, 1));
  if (r < 0) return r;
  rfSetNextCardIndex(0);
  const Bytes record = rfCmdAnswer();
  if (noInit) {
    rfUpdateCard(0, [&](RFCardEntry& e) {
      e = RFCardEntry{};
      e.channel = channel;
    });
  } else if (!rc663ParseCard(0, channel, record.data(), int(record.size()))) {
    return -20;
  }
  const Bytes answer = rfCmdAnswer();
  if (out) *out = answer;
  return int(answer.size());
}

int rc663ResumeDetection() { return sendCommand(0, kRc663ResumeDetection); }

int _rc663ResumeLoop(int cards, int timeoutMs) {
  Bytes data;
  if (cards != 0) data = {uint8_t(cards >> 8), uint8_t(cards), uint8_t(timeoutMs >> 8), uint8_t(timeoutMs)};
  return sendCommand(0, kRc663ResumeLoop, data);
}

int rc663ResumeLoop(int cardIndex) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  int supported, sleepTimeout;
  bool remembered;
  int64_t since;
  {
    std::lock_guard lock(state().mutex);
    supported = state().supportedCards;
    sleepTimeout = state().sleepTimeout;
    remembered = !state().lastUID.empty();
    since = state().lastUIDTime;
  }
  if (!remembered) {
    int mask;
    switch (card->channel) {
      case 1: mask = 1; break;
      case 2: mask = 2; break;
      case 4: mask = 4; break;
      case 3: mask = 32; break;
      case 5: mask = 64; break;
      case 6: mask = card->type == kCardPicoPass15693 ? 256 : 128; break;
      default: mask = supported;
    }
    {
      std::lock_guard lock(state().mutex);
      state().lastUID.assign(card->UID, card->UID + std::min(card->uidLen, 12));
      state().lastUIDTime = nowMs();
    }
    _rc663ResumeLoop(mask, 200);
    std::lock_guard lock(state().mutex);
    state().lastUIDTime = nowMs();
    return -21;
  }
  if (nowMs() - since >= kRc663RemoveTimeMs) {
    {
      std::lock_guard lock(state().mutex);
      state().lastUID.clear();
      state().lastUIDTime = 0;
    }
    _rc663ResumeLoop(supported, sleepTimeout);
    return 0;
  }
  return -21;
}

int rc663FieldControl(int channel, bool enabled) {
  return sendCommand(0, enabled ? kRc663FieldOn : kRc663FieldOff, {uint8_t(channel)});
}

int rc663SetCustomSettings(int channel, const uint8_t* settings, int length) {
  if (length < 0 || length > 254) return -9;
  Bytes data{uint8_t(channel), uint8_t(length / 3)};
  data.insert(data.end(), settings, settings + length);
  return sendCommand(0, kRc663SetCustomSettings, data);
}

int rc663GetDefaultSettings(int channel, foundation::Bytes* out) {
  const int r = sendCommand(0, kRc663GetDefaultSettings, {uint8_t(channel)});
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (out) *out = a;
  return int(a.size());
}

int rc663FelicaSetPollingParams(int requestCode, int systemCode, int timeSlot, int detectionTimeMs,
                                int intervalTimeMs) {
  return sendCommand(0, kRc663FelicaPolling,
                     {4, uint8_t(systemCode >> 8), uint8_t(systemCode), uint8_t(requestCode), uint8_t(timeSlot),
                      uint8_t(detectionTimeMs >> 8), uint8_t(detectionTimeMs), uint8_t(intervalTimeMs >> 8),
                      uint8_t(intervalTimeMs)});
}

int rc663ReadPaymentCardTracks(int cardIndex, const uint8_t* tagList, int length, foundation::Bytes* out) {
  auto card = rfCard(cardIndex);
  if (!card) return -9;
  if (length < 0 || length > kRc663RxBufSize - 1) return -9;
  Bytes data{uint8_t(card->channel)};
  if (tagList) data.insert(data.end(), tagList, tagList + length);
  const int r = sendCommand(0, kRc663ReadPaymentTracks, data, kRc663PaymentTracksWaitMs);
  if (r < 0) return r;
  const Bytes a = rfCmdAnswer();
  if (out) *out = a;
  return int(a.size());
}

int rc663Done() { return sendCommand(0, kRc663Done); }

void rc663DataAvailable(const uint8_t* data, int length) {
  if (!data || length <= 0) return;
  KXUNISDKGlobals::LOG("R6R %d bytes", length);  // never the bytes: card answers carry tracks
  {
    // Events are queued under the lock, so that inputs on two threads keep their order.
    std::lock_guard lock(state().mutex);
    auto& rx = state().rx;
    rx.insert(rx.end(), data, data + length);
    // Input that cannot be a frame of the module's size is noise: start again at the next read.
    if (rx.size() >= 4 && frameLength(rx) > kRc663RxBufSize + 4) rx.clear();
    if (rx.size() > 2 * (kRc663RxBufSize + 4)) rx.clear();
    while (rx.size() >= 4 && rx.size() >= frameLength(rx)) {
      const size_t len = frameLength(rx);
      Bytes frame(rx.begin(), rx.begin() + long(len));
      rx.erase(rx.begin(), rx.begin() + long(len));
      if (frame[0] & 0x80) {
        postCardEvent(frame[1], Bytes(frame.begin() + 4, frame.end()));
      } else if (state().waiting && !state().reply) {
        state().reply = std::move(frame);
        state().received.notify_all();
      } else {
        KXUNISDKGlobals::LOG("RF reply without a waiting command dropped");
      }
    }
  }
}

namespace {

void handleCardEvent(int channel, const Bytes& record) {
  KXUNISDKGlobals::LOG("RF card detected");
  const int index = rfNextCardIndex();
  if (!rc663ParseCard(index, channel, record.data(), int(record.size()))) {
    _rc663ResumeLoop(0, 0);
    return;
  }
  KXUNISDKGlobals::LOG("RF card init");
  const auto card = rfCard(index);
  bool same;
  {
    std::lock_guard g(state().mutex);
    if (state().lastUIDTime != 0 && nowMs() - state().lastUIDTime >= kRc663RemoveTimeMs) {
      KXUNISDKGlobals::LOG("RF card remove time ended");
      state().lastUID.clear();
      state().lastUIDTime = 0;
    }
    same = card && !state().lastUID.empty() && size_t(card->uidLen) == state().lastUID.size() &&
           std::equal(state().lastUID.begin(), state().lastUID.end(), card->UID);
    if (same) state().lastUIDTime = nowMs();
  }
  if (same) {
    _rc663ResumeLoop(0, 0);
  } else {
    // The next card goes to the next entry, also when it is reported while this one is.
    rfSetNextCardIndex(index + 1);
    rfCardDetected(index);
  }
}

}  // namespace

}  // namespace kestra
