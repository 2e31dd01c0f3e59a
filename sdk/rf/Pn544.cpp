#include "sdk/rf/Pn544.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/rf/Felica.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {

using foundation::Bytes;

namespace {

// Host controller interface messages (type in bits 7-6, instruction in bits 5-0).
constexpr uint8_t kSetParameter = 0x01;
constexpr uint8_t kGetParameter = 0x02;
constexpr uint8_t kOpenPipe = 0x03;
constexpr uint8_t kCreatePipe = 0x10;
constexpr uint8_t kClearAllPipes = 0x14;
constexpr uint8_t kReadRegister = 0x3E;
constexpr uint8_t kWriteRegister = 0x3F;
constexpr uint8_t kEvtReaderRequested = 0x50;
constexpr uint8_t kEvtResumePolling = 0x75;
constexpr uint8_t kTargetDiscovered = 0x10;
constexpr uint8_t kTypeEvent = 0x01;

constexpr int kAdminPipe = 1;
constexpr uint8_t kHostGate = 0x20;
constexpr uint8_t kMaxRawFrame = 29;
constexpr uint8_t kFrameRset = 0xF9;
constexpr uint8_t kMinFrameLength = 3;  // header and check
constexpr uint8_t kMaxFrameLength = kPn544ReadBufSize - 1;

struct Pn544State {
  std::mutex mutex;
  std::condition_variable changed;
  Bytes readBuf;
  Bytes dataBuf;
  bool assembling = false;  // a fragmented message is being received
  bool dataReady = false;
  bool packetReady = false;
  int packetResponse = 0;
  uint8_t frameCounterI = 0;
  int supported = 0;
  int felicaRequestCode = -1;
  int felicaSystemCode = -1;
  Pn544Pipes pipes;
};

Pn544State& pn544State() {
  static Pn544State* s = new Pn544State;
  return *s;
}

int mapResponse(uint8_t code) {
  static const int kCodes[] = {0, -3, -9, -20, -19, -16, -3, -17, -1, -6, -23, -23};
  code &= 0x7F;
  return code < sizeof kCodes / sizeof kCodes[0] ? kCodes[code] : -1;
}

int writeFrame(uint8_t header, const Bytes& payload) {
  const Bytes frame = pn544Frame(header, payload);
  return pn544Write(frame.data(), int(frame.size()));
}

int pipeForChannel(int channel) {
  const Pn544Pipes p = pn544GetPipes();
  switch (channel) {
    case kRFChannelIso14443A: return p.A;
    case kRFChannelIso14443B: return p.B;
    case kRFChannelIso15693: return p.ISO15;
    case kRFChannelFelica: return p.F;
    default: return 0;
  }
}

int channelForPipe(int pipe) {
  const Pn544Pipes p = pn544GetPipes();
  if (pipe == 0) return 0;
  if (pipe == p.A) return kRFChannelIso14443A;
  if (pipe == p.B) return kRFChannelIso14443B;
  if (pipe == p.ISO15) return kRFChannelIso15693;
  if (pipe == p.F) return kRFChannelFelica;
  return 0;
}

// One command or event on `pipe`; with `waitAnswer` the answer (without its response
// code) goes to `answer`, else the link acknowledgement is awaited for `timeoutMs`.
int sendCommandTimeout(int pipe, const Bytes& message, bool waitAnswer, int timeoutMs, Bytes* answer = nullptr) {
  RFCmdGuard guard;
  auto& s = pn544State();
  {
    std::lock_guard lock(s.mutex);
    s.packetReady = false;
    s.dataReady = false;
    s.dataBuf.clear();
    s.assembling = false;
  }
  int result = 0;
  for (size_t at = 0; at < message.size() || (at == 0 && message.empty()); at += kPn544FragmentSize) {
    const size_t n = std::min<size_t>(kPn544FragmentSize, message.size() - at);
    const bool last = at + n >= message.size();
    Bytes payload{uint8_t((last ? 0x80 : 0x00) | (pipe & 0x7F))};
    payload.insert(payload.end(), message.begin() + long(at), message.begin() + long(at + n));
    uint8_t header;
    {
      std::lock_guard lock(s.mutex);
      header = uint8_t(0x80 | (s.frameCounterI << 3) | 0x01);
      s.frameCounterI = uint8_t((s.frameCounterI + 1) & 7);
    }
    if (writeFrame(header, payload) < 0) {
      result = -6;
      break;
    }
    if (message.empty()) break;
  }
  if (result == 0) {
    std::unique_lock lock(s.mutex);
    if (waitAnswer) {
      if (!foundation::Clock::current().waitFor(lock, s.changed, std::chrono::milliseconds(kPn544AnswerWaitMs),
                                                [&] { return s.dataReady && !s.dataBuf.empty(); })) {
        result = -6;
      } else {
        result = mapResponse(s.dataBuf[0]);
        if (answer) answer->assign(s.dataBuf.begin() + 1, s.dataBuf.end());
      }
    } else if (!foundation::Clock::current().waitFor(lock, s.changed, std::chrono::milliseconds(timeoutMs / 10 * 10 + 10),
                                                     [&] { return s.packetReady; })) {
      result = -6;
    } else {
      result = s.packetResponse;
    }
  }
  if (result < 0) {
    KXUNISDKGlobals::LOG("sendCommandTimeout: failed");
    std::lock_guard lock(s.mutex);
    s.dataBuf.clear();
  }
  return result;
}

int command(int pipe, const Bytes& message, Bytes* answer = nullptr) {
  return sendCommandTimeout(pipe, message, true, 0, answer);
}

int event(int pipe, uint8_t evt) { return sendCommandTimeout(pipe, {evt}, false, kPn544EventAckWaitMs); }

int createPipe(uint8_t sourceGate, uint8_t destinationGate) {
  KXUNISDKGlobals::LOG("pn544CreatePipe");
  Bytes answer;
  int r = command(kAdminPipe, {kCreatePipe, sourceGate, 0x00, destinationGate}, &answer);
  if (r < 0) return r;
  if (answer.size() < 5) return -6;
  const int pipe = answer[4];
  KXUNISDKGlobals::LOG("pn544OpenPipe");
  r = command(pipe, {kOpenPipe});
  return r < 0 ? r : pipe;
}

int setParam(int pipe, uint8_t reg, const Bytes& value) {
  Bytes message{kSetParameter, reg};
  message.insert(message.end(), value.begin(), value.end());
  return command(pipe, message);
}

int getParam(int pipe, uint8_t reg, Bytes* value) { return command(pipe, {kGetParameter, reg}, value); }

void sendAck(uint8_t receivedHeader) {
  KXUNISDKGlobals::LOG("sendAck");
  writeFrame(uint8_t(0xC0 | ((receivedHeader >> 3) & 7)), {});
}

// One whole, checked frame.
void takeFrame(const Bytes& frame) {
  auto& s = pn544State();
  const uint8_t header = frame[1];
  if ((header & 0xE0) == 0xE0) {
    KXUNISDKGlobals::LOG("FRAME_U");
    return;
  }
  if ((header & 0xE0) == 0xC0) {
    KXUNISDKGlobals::LOG("FRAME_S");
    std::lock_guard lock(s.mutex);
    s.packetResponse = (header & 0x18) ? -20 : 0;
    s.packetReady = true;
    s.changed.notify_all();
    return;
  }
  if ((header & 0xC0) != 0x80) return;
  sendAck(header);  // before anything in it is looked at
  const Bytes payload(frame.begin() + 2, frame.end() - 2);
  if (payload.empty()) return;
  const bool last = payload[0] & 0x80;
  const int pipe = payload[0] & 0x7F;
  int discoveredOn = -1;
  {
    std::lock_guard lock(s.mutex);
    const bool first = !s.assembling;
    if (first && payload.size() >= 2 && (payload[1] >> 6) == kTypeEvent) {
      KXUNISDKGlobals::LOG("FRAME_I: event");
      if ((payload[1] & 0x3F) == kTargetDiscovered) discoveredOn = pipe;
    } else {
      KXUNISDKGlobals::LOG("FRAME_I: data");
      if (s.dataBuf.size() + payload.size() - 1 <= size_t(kPn544DataBufSize)) {
        s.dataBuf.insert(s.dataBuf.end(), payload.begin() + 1, payload.end());
      } else {
        s.dataBuf.clear();  // a message longer than any answer: nothing of it is kept
      }
      s.assembling = !last;
      if (last) {
        s.dataReady = true;
        s.changed.notify_all();
      }
    }
  }
  if (discoveredOn >= 0) {
    const int index = rfNextCardIndex();
    const int channel = channelForPipe(discoveredOn);
    rfUpdateCard(index, [&](RFCardEntry& e) {
      e = RFCardEntry{};
      e.readerType = kRFReaderPn544;
      e.channel = channel;
    });
    rfSetNextCardIndex(index + 1);
    rfCardDetected(index);
  }
}

}  // namespace

uint16_t pn544Crc(const uint8_t* data, size_t length, uint16_t init, bool complement) {
  uint16_t crc = init;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0x8408) : uint16_t(crc >> 1);
  }
  return complement ? uint16_t(~crc) : crc;
}

Bytes pn544Frame(uint8_t header, const Bytes& payload) {
  Bytes frame{uint8_t(payload.size() + 3), header};
  frame.insert(frame.end(), payload.begin(), payload.end());
  const uint16_t crc = pn544Crc(frame.data(), frame.size(), 0xFFFF, true);
  frame.push_back(uint8_t(crc));
  frame.push_back(uint8_t(crc >> 8));
  return frame;
}

Pn544Pipes pn544GetPipes() {
  std::lock_guard lock(pn544State().mutex);
  return pn544State().pipes;
}

void pn544DataAvailable(const uint8_t* data, int length) {
  if (!data || length <= 0) return;
  auto& s = pn544State();
  std::vector<Bytes> frames;
  {
    std::lock_guard lock(s.mutex);
    Bytes& rb = s.readBuf;
    rb.insert(rb.end(), data, data + length);
    for (;;) {
      if (rb.empty()) break;
      const uint8_t L = rb[0];
      if (L < kMinFrameLength || L > kMaxFrameLength) {
        // No frame starts here: skip the byte and look again.
        rb.erase(rb.begin());
        continue;
      }
      if (rb.size() <= L) {
        KXUNISDKGlobals::LOG("Incomplete packet");
        break;
      }
      const uint16_t crc = pn544Crc(rb.data(), L - 1, 0xFFFF, true);
      if (rb[L - 1] != uint8_t(crc) || rb[L] != uint8_t(crc >> 8)) {
        rb.clear();
        break;
      }
      frames.emplace_back(rb.begin(), rb.begin() + L + 1);
      rb.erase(rb.begin(), rb.begin() + L + 1);
      KXUNISDKGlobals::LOG("Consumed: %d, readLen: %d", L + 1, int(rb.size()));
    }
    if (rb.size() > size_t(kPn544ReadBufSize)) rb.clear();
  }
  for (const auto& f : frames) takeFrame(f);
}

int pn544Init(int full, int supportedCards, int sleepTimeout) {
  int requestCode, systemCode;
  {
    RFCmdGuard guard;
    std::lock_guard lock(pn544State().mutex);
    pn544State().frameCounterI = 0;
    pn544State().supported = supportedCards;
    pn544State().readBuf.clear();
    pn544State().pipes = Pn544Pipes{};
    requestCode = pn544State().felicaRequestCode;
    systemCode = pn544State().felicaSystemCode;
  }
  rfInit();
  rfInstallDriver(pn544CardTransceive, pn544CardTransmit);
  writeFrame(kFrameRset, {0x04, 0x00});
  writeFrame(kFrameRset, {0x04, 0x00});
  rfSleep(kPn544ResetDelayMs);

  int r;
  if ((r = command(kAdminPipe, {kOpenPipe})) < 0) return r;
  if ((r = command(kAdminPipe, {kClearAllPipes})) < 0) return r;
  if ((r = command(kAdminPipe, {kOpenPipe})) < 0) return r;
  if ((r = command(0, {kOpenPipe})) < 0) return r;
  const int sys = createPipe(kHostGate, 0x90);
  if (sys < 0) return sys;
  {
    std::lock_guard lock(pn544State().mutex);
    pn544State().pipes.sysmgmt = sys;
  }
  if ((r = pn544SetRegister(0x009C31, 0)) < 0) return r;
  if ((r = pn544SetRegister(0x009C32, 0)) < 0) return r;
  if (full == 0) return 0;

  Pn544Pipes p = pn544GetPipes();
  auto make = [&](int bit, uint8_t source, uint8_t gate, int* pipe) -> int {
    if (!(supportedCards & (1 << bit))) return 0;
    const int id = createPipe(source, gate);
    if (id < 0) return id;
    *pipe = id;
    return 0;
  };
  if ((r = make(0, kHostGate, 0x13, &p.A)) < 0) return r;
  if ((r = make(1, kHostGate, 0x11, &p.B)) < 0) return r;
  if (supportedCards & 0x04) {
    if (requestCode >= 0 && (r = pn544SetRegister(0x009F9A, uint8_t(requestCode))) < 0) return r;
    if (systemCode >= 0) {
      if ((r = pn544SetRegister(0x009F9B, uint8_t(systemCode >> 8))) < 0) return r;
      if ((r = pn544SetRegister(0x009F9C, uint8_t(systemCode))) < 0) return r;
    }
  }
  if ((r = make(2, kHostGate, 0x14, &p.F)) < 0) return r;
  if ((r = make(3, kHostGate, 0x30, &p.NFCInit)) < 0) return r;
  if (p.NFCInit) {
    KXUNISDKGlobals::LOG("pn544SetParamInt");
    if ((r = setParam(p.NFCInit, 0x01, {0x09})) < 0) return r;
  }
  if ((r = make(4, 0x15, 0x15, &p.Jewel)) < 0) return r;
  if ((r = make(5, 0x12, 0x12, &p.ISO15)) < 0) return r;
  p.PLMng = createPipe(kHostGate, 0x94);
  if (p.PLMng < 0) return p.PLMng;
  {
    std::lock_guard lock(pn544State().mutex);
    pn544State().pipes = p;
  }
  const int ticks = sleepTimeout * 1000 / 48;
  if ((r = setParam(p.PLMng, 0x08, {uint8_t(ticks >> 8), uint8_t(ticks)})) < 0) return r;
  if (p.A) {
    if ((r = setParam(p.A, 0x10, {0x00})) < 0) return r;
    if ((r = event(p.A, kEvtReaderRequested)) < 0) return r;
  }
  if (p.B) {
    if ((r = setParam(p.B, 0x02, {0x00})) < 0) return r;
    if ((r = event(p.B, kEvtReaderRequested)) < 0) return r;
  }
  for (int pipe : {p.F, p.NFCInit, p.Jewel, p.ISO15})
    if (pipe && (r = event(pipe, kEvtReaderRequested)) < 0) return r;
  uint8_t mask = 0x80;
  if (supportedCards & 0x01) mask |= 0x01;
  if (supportedCards & 0x02) mask |= 0x02;
  if (supportedCards & 0x04) mask |= 0x0C;
  if (supportedCards & 0x20) mask |= 0x10;
  if (supportedCards & 0x08) mask |= 0x20;
  return setParam(p.PLMng, 0x06, {mask});
}

int pn544Close() { return 0; }

int pn544FelicaSetPollingParams(int requestCode, int systemCode) {
  std::lock_guard lock(pn544State().mutex);
  pn544State().felicaRequestCode = requestCode;
  pn544State().felicaSystemCode = systemCode;
  return 0;
}

int pn544GetRegister(uint32_t address, uint8_t* out) {
  Bytes answer;
  const int r = command(pn544GetPipes().sysmgmt,
                        {kReadRegister, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)}, &answer);
  if (r < 0) return r;
  if (answer.empty()) return -6;
  if (out) *out = answer[0];
  return 0;
}

int pn544SetRegister(uint32_t address, uint8_t value) {
  return command(pn544GetPipes().sysmgmt,
                 {kWriteRegister, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), value});
}

int pn544InitCard(int cardIndex) {
  const auto card = rfCard(cardIndex);
  if (!card) return 0;
  const Pn544Pipes p = pn544GetPipes();
  Bytes v;
  switch (card->channel) {
    case kRFChannelIso14443A: {
      if (!p.A) return 0;
      Bytes uid, atqa, sak;
      if (getParam(p.A, 0x02, &uid) < 0 || uid.empty()) {
        KXUNISDKGlobals::LOG("ISO14A: Failed reading UID!");
        return 0;
      }
      if (getParam(p.A, 0x04, &atqa) < 0 || atqa.empty()) {
        KXUNISDKGlobals::LOG("ISO14A: Failed reading ATQA!");
        return 0;
      }
      if (getParam(p.A, 0x03, &sak) < 0 || sak.empty()) {
        KXUNISDKGlobals::LOG("ISO14A: Failed reading SAK!");
        return 0;
      }
      rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
        e.uidLen = int(std::min(uid.size(), sizeof e.UID));
        std::memcpy(e.UID, uid.data(), size_t(e.uidLen));
        e.ATQA = atqa.size() >= 2 ? uint16_t((atqa[0] << 8) | atqa[1]) : atqa[0];
        e.SAK = sak[0];
        e.type = 0;
        e.size = 0;
      });
      iso14InitCard(cardIndex);
      break;
    }
    case kRFChannelIso14443B: {
      Bytes pupi, atqb, other;
      if (!p.B || getParam(p.B, 0x02, &pupi) < 0 || getParam(p.B, 0x04, &atqb) < 0 ||
          getParam(p.B, 0x03, &other) < 0)
        return 0;
      rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
        e.uidLen = int(std::min(pupi.size(), sizeof e.UID));
        std::memcpy(e.UID, pupi.data(), size_t(e.uidLen));
        e.ATQA = atqb.size() >= 2 ? uint16_t((atqb[0] << 8) | atqb[1]) : (atqb.empty() ? 0 : atqb[0]);
        // A type B card of this controller is a plain ISO 14443B card.
        e.type = kCardIso14443B;
      });
      break;
    }
    case kRFChannelIso15693: {
      if (!p.ISO15 || getParam(p.ISO15, 0x01, &v) < 0 || v.empty()) return 0;
      if (v.size() == 10) v.erase(v.begin(), v.begin() + 2);
      rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
        e.uidLen = int(std::min(v.size(), sizeof e.UID));
        std::memcpy(e.UID, v.data(), size_t(e.uidLen));
        e.type = kCardIso15693;
      });
      if (iso15InitCard(cardIndex) != 1) rfUpdateCard(cardIndex, [](RFCardEntry& e) { e.type = 0; });
      break;
    }
    case kRFChannelFelica: {
      Bytes idm, pmm;
      if (!p.F || getParam(p.F, 0x04, &idm) < 0 || getParam(p.F, 0x05, &pmm) < 0 || idm.size() < 8) return 0;
      rfUpdateCard(cardIndex, [&](RFCardEntry& e) {
        std::memcpy(e.UID, idm.data(), 8);
        e.uidLen = 8;
        std::memcpy(e.PMm, pmm.data(), std::min<size_t>(pmm.size(), 8));
        e.type = kCardFelica;
        e.blockSize = kFelicaBlockSize;
      });
      break;
    }
    default: return 0;
  }
  const auto after = rfCard(cardIndex);
  return after && after->type != 0 ? 1 : 0;
}

int pn544ResumeLoopCommand(int cardIndex) {
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  KXUNISDKGlobals::LOG("pn544ResumeLoopCommand");
  event(pipeForChannel(card->channel), kEvtResumePolling);
  KXUNISDKGlobals::LOG("pn544ResumeLoopCommand end");
  return 0;
}

int pn544ResumeLoop(int cardIndex) {
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  bool present = false;
  switch (card->channel) {
    case kRFChannelIso14443A:
      if (card->type == kCardMifareDesfire && card->atsValid) {
        const uint8_t probe1[] = {0x02, 0x5A, 0x00, 0x00, 0x00};
        const uint8_t probe2[] = {0x03, 0x5A, 0x00, 0x00, 0x00};
        present = mfRaw(card->channel, probe1, sizeof probe1) >= 0 || mfRaw(card->channel, probe2, sizeof probe2) >= 0;
      } else {
        present = mfSelect(cardIndex, true) >= 0;
      }
      break;
    case kRFChannelIso14443B: present = mfSelect(cardIndex, true) >= 0; break;
    case kRFChannelIso15693: present = iso15GetSystemInformation(cardIndex) >= 0; break;
    case kRFChannelFelica: present = felicaRead(cardIndex, kFelicaSmartTagService, 0, 1, nullptr) != -6; break;
    default: break;
  }
  if (present) return -21;
  return pn544ResumeLoopCommand(cardIndex);
}

int mfRaw(int channel, const uint8_t* data, int length) {
  if (length < 0 || length > kMaxRawFrame || (length > 0 && !data)) return -9;
  Bytes message{0x20, 0x05, 0x00};
  message.insert(message.end(), data, data + length);
  const uint16_t crc = pn544Crc(data, size_t(length), 0x6363, false);
  message.push_back(uint8_t(crc));
  message.push_back(uint8_t(crc >> 8));
  Bytes answer;
  const int r = command(pipeForChannel(channel), message, &answer);
  if (r < 0) return r;
  if (answer.empty() || answer[0] != 0) return -20;
  rfSetCmdAnswer(answer.data() + 1, answer.size() - 1);
  return 0;
}

int mfActivate(int cardIndex) {
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  Bytes message{0x12};
  message.insert(message.end(), card->UID, card->UID + std::clamp(card->uidLen, 0, 12));
  return command(pipeForChannel(card->channel), message);
}

int checkCardPresent() { return command(pn544GetPipes().A, {0x30}); }

int readFwVer() {
  const int pipe = createPipe(0x05, 0x05);
  if (pipe < 0) return pipe;
  for (uint8_t reg : {1, 3, 4, 5, 2}) {
    Bytes value;
    getParam(pipe, reg, &value);
  }
  return createPipe(0xA0, 0xA0) >= 0 ? 1 : 0;
}

int pn544CardTransceive(int channel, const uint8_t* data, int length, int /*timeoutMs*/) {
  if (length < 1 || !data) return -9;
  Bytes message;
  int pipe = pipeForChannel(channel);
  size_t skip = 0;
  switch (channel) {
    case kRFChannelIso14443A:
      switch (data[0]) {
        case 0x00: return mfRaw(channel, data + 1, length - 1);
        case 0x01: {
          if (length < 9) return -9;
          const uint32_t base = (data[2] == 'B' ? 0x9F3E : 0x9F38) + 12u * data[1];
          for (int i = 0; i < 6; ++i)
            if (int r = pn544SetRegister(base + uint32_t(i), data[3 + i]); r < 0) return r;
          rfSetCmdAnswer(nullptr, 0);
          return 0;
        }
        case 0x02: message = {0x22}; message.insert(message.end(), data + 1, data + length); break;
        case 0x93: message = {0x32}; message.insert(message.end(), data + 1, data + length); break;
        default: message = {0x21}; message.insert(message.end(), data, data + length); break;
      }
      break;
    case kRFChannelIso14443B: message.assign(data, data + length); break;
    case kRFChannelIso15693: message = {0x20}; message.insert(message.end(), data, data + length); break;
    case kRFChannelFelica:
      message = {0x20, 0x05, 0x00};
      message.insert(message.end(), data, data + length);
      skip = 2;
      break;
    default:
      pipe = 0;
      message.assign(data, data + length);
      break;
  }
  Bytes answer;
  const int r = command(pipe, message, &answer);
  if (r < 0) return r;
  if (answer.size() < skip) return -6;
  rfSetCmdAnswer(answer.data() + skip, answer.size() - skip);
  return 0;
}

int pn544CardTransmit(int channel, const uint8_t* data, int length) {
  return pn544CardTransceive(channel, data, length, 0);
}

}  // namespace kestra
