#include "testing/devices/sleeve/SleeveProtocol.h"

#include <algorithm>
#include <chrono>

#include "platform/foundation/Clock.h"

namespace devices {

namespace {
constexpr uint8_t kFold = 0xE0;
const Bytes kWake = {'K', 'X', '@', '\r'};
}  // namespace

SleeveProtocol::SleeveProtocol(Config c) : config(std::move(c)) {
  const std::time_t now =
      std::chrono::system_clock::to_time_t(foundation::Clock::current().wallNow());
  gmtime_r(&now, &clock);
  settings[0x02] = {0x01, 0xF4};              // USB charge current 500
  settings[0x03] = {0x00, 0x00, 0x00, 0x3C};  // off when disconnected: 60 s
  settings[0x04] = {0x00, 0x00, 0x0E, 0x10};  // off when idle: 3600 s
  for (uint8_t id : {0x05, 0x06, 0x08, 0x09, 0x0A, 0x0E, 0x0F, 0x10}) settings[id] = {0x00};
  settings[0x07] = {0x05, 0xDC};
  woken = !config.wakeRequired;
}

SleeveProtocol::Output SleeveProtocol::frameFor(int channel, uint8_t code,
                                                const Bytes& data) const {
  // Channel-1 frames travel on channel 0 with a folded code when the link has one channel.
  if (channel == 1 && config.channels == 1) {
    channel = 0;
    code = uint8_t(code + kFold);
  }
  Bytes f = {0x00, uint8_t(data.size() >> 8), uint8_t(data.size()), code, 0x02, 0x00};
  f.insert(f.end(), data.begin(), data.end());
  return {channel, std::move(f)};
}

SleeveProtocol::Output SleeveProtocol::event(int channel, uint8_t code,
                                             const Bytes& payload) const {
  Bytes data = {0x00, 0x00};
  foundation::append(data, payload);
  return frameFor(channel, code, data);
}

SleeveProtocol::Output SleeveProtocol::barcodeEvent(uint8_t engineCode,
                                                    const std::string& text) const {
  Bytes p = {engineCode};
  foundation::append(p, text);
  return event(0, 0x05, p);
}

SleeveProtocol::Output SleeveProtocol::buttonEvent(uint8_t state) const {
  return event(0, 0x06, {state});
}

SleeveProtocol::Output SleeveProtocol::magneticEvent(const std::optional<std::string>& t1,
                                                     const std::optional<std::string>& t2,
                                                     const std::optional<std::string>& t3) const {
  Bytes p;
  auto add = [&](uint8_t marker, const std::optional<std::string>& t) {
    if (!t) return;
    p.push_back(marker);
    foundation::append(p, *t);
  };
  add(0xF1, t1);
  add(0xF2, t2);
  add(0xF3, t3);
  return event(1, 0x02, p);
}

SleeveProtocol::Output SleeveProtocol::rawCardEvent(const Bytes& data) const {
  return event(1, 0x03, data);
}

SleeveProtocol::Output SleeveProtocol::encryptedCardEvent(const Bytes& data) const {
  return event(1, 0x05, data);
}

std::optional<Bytes> SleeveProtocol::lastCommand(int channel, uint8_t code) const {
  for (auto it = hostFrames_.rbegin(); it != hostFrames_.rend(); ++it) {
    int ch = it->channel;
    uint8_t c = it->code;
    if (config.channels == 1 && (c & 0xF0) == kFold) {
      ch = 1;
      c = uint8_t(c - kFold);
    } else if (config.channels == 1) {
      ch = 0;
    }
    if (ch == channel && c == code) return it->data;
  }
  return std::nullopt;
}

FrameScan SleeveProtocol::scanHostFrame(const uint8_t* p, size_t n) {
  // Resynchronise on the marker: wake bytes and noise are skipped.
  if (p[0] != 0x00) return FrameScan::skip(1);
  if (n < 6) return FrameScan::needMore();
  const size_t length = size_t(p[1]) << 8 | p[2];
  if (p[4] != 0x01 || length > 2042) return FrameScan::skip(1);
  if (n < length + 6) return FrameScan::needMore();
  return FrameScan::frame(length + 6, p[3]);
}

void SleeveProtocol::noteBytes(int channel, const uint8_t* data, size_t length) {
  if (woken) return;
  // The wake bytes may arrive split over several reads: keep the last few bytes seen.
  Bytes& tail = wakeTail_[channel];
  tail.insert(tail.end(), data, data + length);
  if (std::search(tail.begin(), tail.end(), kWake.begin(), kWake.end()) != tail.end()) woken = true;
  if (tail.size() > kWake.size()) tail.erase(tail.begin(), tail.end() - long(kWake.size() - 1));
}

std::optional<SleeveProtocol::Output> SleeveProtocol::answer(int channel, const Bytes& frame) {
  if (frame.size() < 6) return std::nullopt;
  const uint8_t code = frame[3], id = frame[5];
  Bytes body(frame.begin() + 6, frame.end());
  hostFrames_.push_back({channel, code, id, body});
  return handle(channel, code, id, body);
}

std::vector<SleeveProtocol::Output> SleeveProtocol::feed(int channel, const uint8_t* data,
                                                         size_t length) {
  std::vector<Output> out;
  noteBytes(channel, data, length);
  Bytes& buf = pending_[channel];
  buf.insert(buf.end(), data, data + length);
  size_t pos = 0;
  while (pos < buf.size()) {
    const FrameScan scan = scanHostFrame(buf.data() + pos, buf.size() - pos);
    if (scan.kind == FrameScan::NeedMore) break;
    if (scan.kind == FrameScan::Frame)
      if (auto r = answer(channel, Bytes(buf.begin() + long(pos), buf.begin() + long(pos + scan.length))))
        out.push_back(std::move(*r));
    pos += scan.length;
  }
  buf.erase(buf.begin(), buf.begin() + long(pos));
  return out;
}

SleeveProtocol::Output SleeveProtocol::reply(int arrival, uint8_t rawCode, uint8_t id,
                                             uint8_t status, const Bytes& result) {
  uint8_t st1 = status, st2 = 0;
  if (nextStatus) {
    std::tie(st1, st2) = *nextStatus;
    nextStatus.reset();
  }
  Bytes data = {st1, st2};
  const Bytes& r = nextResult ? *nextResult : result;
  if (st1 == 0) data.insert(data.end(), r.begin(), r.end());
  nextResult.reset();
  uint8_t code = rawCode;
  if (nextWrongEcho) {
    code = uint8_t(code + 1);
    nextWrongEcho = false;
  }
  size_t declared = data.size();
  if (nextShortLength) {
    declared += 2;
    nextShortLength = false;
  }
  if (nextOversized) {
    data.resize(3000, 0xEE);
    declared = data.size();
    nextOversized = false;
  }
  Bytes f = {0x00, uint8_t(declared >> 8), uint8_t(declared), code, 0x02, id};
  f.insert(f.end(), data.begin(), data.end());
  return {arrival, std::move(f)};
}

std::optional<SleeveProtocol::Output> SleeveProtocol::handle(int arrival, uint8_t rawCode,
                                                             uint8_t id, const Bytes& data) {
  if (unanswered.count(rawCode)) return std::nullopt;
  int channel = arrival;
  uint8_t code = rawCode;
  if (config.channels == 1) {
    channel = (rawCode & 0xF0) == kFold ? 1 : 0;
    if (channel == 1) code = uint8_t(rawCode - kFold);
  }
  uint8_t status = 0;
  std::optional<Bytes> result =
      channel == 1 ? magnetic(code, data, &status) : system(code, data, &status);
  if (!result) return std::nullopt;
  return reply(arrival, rawCode, id, status, *result);
}

std::optional<Bytes> SleeveProtocol::magnetic(uint8_t code, const Bytes& data, uint8_t* status) {
  switch (code) {
    case 0:
      magneticEnabled = true;
      return Bytes{};
    case 1:
      magneticEnabled = false;
      return Bytes{};
    case 4:
      if (!data.empty() && data[0] == 0x01) return Bytes{magneticMode};
      if (data.size() >= 2 && data[0] == 0x00) {
        magneticMode = data[1];
        return Bytes{magneticMode};
      }
      *status = 3;
      return Bytes{};
    default:
      *status = 4;
      return Bytes{};
  }
}

std::optional<Bytes> SleeveProtocol::system(uint8_t code, const Bytes& data, uint8_t* status) {
  auto bad = [&]() {
    *status = 3;
    return Bytes{};
  };
  const bool read = !data.empty() && data[0] == 0x01;
  const bool write = data.size() >= 2 && data[0] == 0x00;
  // The commands that carry a contactless reader's frames, when the sleeve holds one.
  if (rfReader && (code == 32 || code == 34 || code == 57))
    if (auto answer = rfReader(code, data)) return answer;
  if (std::optional<Bytes> answer; passThrough.handle(code, data, &answer, status)) return answer;
  if (auto module = modules.find(code); module != modules.end()) return module->second(data, status);
  switch (code) {
    case 1: {  // system
      if (data.empty()) return bad();
      switch (data[0]) {
        case 0x01: case 0x02: case 0x0D: case 0x10:
          return Bytes{};
        case 0x03:
          if (data.size() < 7) return bad();
          clock.tm_year = data[1] + 100;
          clock.tm_mon = data[2] - 1;
          clock.tm_mday = data[3];
          clock.tm_hour = data[4];
          clock.tm_min = data[5];
          clock.tm_sec = data[6];
          return Bytes{};
        case 0x04:
          return Bytes{uint8_t(clock.tm_year - 100), uint8_t(clock.tm_mon + 1),
                       uint8_t(clock.tm_mday),       uint8_t(clock.tm_hour),
                       uint8_t(clock.tm_min),        uint8_t(clock.tm_sec)};
        case 0x05: {
          if (!woken) return std::nullopt;  // asleep: only the wake bytes get through
          const std::string ident = config.serialNumber + "|" + "1" + "|" + config.name + "|" +
                                    config.model + "|" + config.firmware;
          return Bytes(ident.begin(), ident.end());
        }
        default:
          return bad();
      }
    }
    case 3:
      scanning = true;
      ++scanStarts;
      return Bytes{};
    case 4:
      scanning = false;
      return Bytes{};
    case 8:
      if (read) return Bytes{scanTimeout};
      if (write) scanTimeout = data[1];
      return write ? Bytes{} : bad();
    case 9:
      if (read) return Bytes{scanMode};
      if (write) scanMode = data[1];
      return write ? Bytes{} : bad();
    case 10:
      if (read) return Bytes{scanButtonMode};
      if (write) scanButtonMode = data[1];
      return write ? Bytes{} : bad();
    case 11:  // scan beep: switching off answers the new state
      if (data.size() >= 2 && data[1] == 0x00) return Bytes{0x00};
      return Bytes{};
    case 13:
      return Bytes{batteryTenths};
    case 15: case 24: case 52: case 53: case 59: case 63:
      return Bytes{};
    case 16:
      if (read) return Bytes{chargingState};
      if (write) {
        chargingState = data[1];
        return Bytes{chargingState};
      }
      return bad();
    case 17:
      if (read) return Bytes{syncButtonMode};
      if (write) {
        syncButtonMode = data[1];
        return Bytes{syncButtonMode};
      }
      return bad();
    case 21:
      if (!write) return bad();
      barcodeTypeMode = data[1];
      return Bytes{barcodeTypeMode};
    case 58: {
      if (data.size() >= 2 && data[0] == 0x01) {
        auto it = settings.find(data[1]);
        if (it == settings.end()) return bad();
        return it->second;
      }
      if (data.size() >= 3 && data[0] == 0x00) {
        settings[data[1]] = Bytes(data.begin() + 2, data.end());
        return Bytes{};
      }
      return bad();
    }
    case 64:
      if (!batteryInfo) {
        *status = 4;
        return Bytes{};
      }
      return *batteryInfo;
    case 65: case 80: case 0x42:
      return data;  // pass-through modules answer with what they were sent
    default:
      *status = 4;
      return Bytes{};
  }
}

}  // namespace devices
