#include "testing/devices/rf/SimulatedPn544.h"

#include <algorithm>

#include "sdk/rf/Pn544.h"

namespace devices {

namespace {

constexpr uint8_t kPn544Ok = 0x80;    // response ANY_OK
constexpr uint8_t kNok = 0x83;        // response ANY_E_NOK
constexpr uint8_t kTimeout = 0x89;    // response ANY_E_TIMEOUT
constexpr uint8_t kDiscovered = 0x50;  // event: target discovered
constexpr int kGateA = 0x13, kGateB = 0x11, kGateF = 0x14, kGate15 = 0x12, kGateSys = 0x90, kGatePoll = 0x94;

int gateOfChannel(int channel) {
  switch (channel) {
    case 1: return kGateA;
    case 2: return kGateB;
    case 3: return kGate15;
    case 4: return kGateF;
    default: return -1;
  }
}

Bytes pn544Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}


}  // namespace

void SimulatedPn544::emit(const std::vector<Bytes>& out) {
  for (const auto& b : out)
    if (onOutput) onOutput(b);
}

void SimulatedPn544::receive(const Bytes& bytes) {
  std::vector<Bytes> out;
  {
    std::lock_guard lock(mutex_);
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    while (!rx_.empty() && rx_.size() > rx_[0]) {
      const Bytes frame(rx_.begin(), rx_.begin() + rx_[0] + 1);
      rx_.erase(rx_.begin(), rx_.begin() + rx_[0] + 1);
      frameLocked(frame, out);
    }
  }
  emit(out);
}

void SimulatedPn544::frameLocked(const Bytes& frame, std::vector<Bytes>& out) {
  if (frame.size() < 4) return;
  const uint16_t crc = kestra::pn544Crc(frame.data(), frame.size() - 2, 0xFFFF, true);
  if (frame[frame.size() - 2] != uint8_t(crc) || frame.back() != uint8_t(crc >> 8)) return;
  framesIn_.push_back(frame);
  const uint8_t header = frame[1];
  if ((header & 0xE0) == 0xE0) {  // RSET
    ns_ = 0;
    assembling_.clear();
    return;
  }
  if ((header & 0xC0) != 0x80) return;  // an acknowledgement
  out.push_back(kestra::pn544Frame(uint8_t(0xC0 | (((header >> 3) + 1) & 7)), {}));
  const Bytes payload(frame.begin() + 2, frame.end() - 2);
  if (payload.empty()) return;
  const int pipe = payload[0] & 0x7F;
  Bytes& pending = assembling_[pipe];
  pending.insert(pending.end(), payload.begin() + 1, payload.end());
  if (!(payload[0] & 0x80)) return;
  const Bytes message = pending;
  assembling_.erase(pipe);
  messages_.push_back(pn544Cat({uint8_t(pipe)}, message));
  if (!message.empty()) messageLocked(pipe, message, out);
}

void SimulatedPn544::sendLocked(int pipe, const Bytes& message, std::vector<Bytes>& out) {
  for (size_t at = 0; at < message.size(); at += 28) {
    const size_t n = std::min<size_t>(28, message.size() - at);
    const bool last = at + n >= message.size();
    Bytes payload{uint8_t((last ? 0x80 : 0) | pipe)};
    payload.insert(payload.end(), message.begin() + long(at), message.begin() + long(at + n));
    out.push_back(kestra::pn544Frame(uint8_t(0x80 | (ns_ << 3) | 1), payload));
    ns_ = uint8_t((ns_ + 1) & 7);
  }
}

int SimulatedPn544::gateOfPipe(int pipe) const {
  auto it = pipeGate_.find(pipe);
  return it == pipeGate_.end() ? -1 : it->second;
}

std::shared_ptr<RfCard> SimulatedPn544::cardOnGateLocked(int gate) {
  for (const auto& c : announced_)
    if (gateOfChannel(c->channel) == gate && std::find(field_.begin(), field_.end(), c) != field_.end()) return c;
  return nullptr;
}

void SimulatedPn544::announceLocked(const std::shared_ptr<RfCard>& card, std::vector<Bytes>& out) {
  const int gate = gateOfChannel(card->channel);
  if (gate < 0 || !readerRequests_[gate] || !params_.count({kGatePoll, 0x06})) return;
  if (std::find(announced_.begin(), announced_.end(), card) != announced_.end()) return;
  for (const auto& [pipe, g] : pipeGate_) {
    if (g != gate) continue;
    announced_.push_back(card);
    sendLocked(pipe, {kDiscovered}, out);
    return;
  }
}

void SimulatedPn544::messageLocked(int pipe, const Bytes& m, std::vector<Bytes>& out) {
  const uint8_t type = m[0] >> 6;
  if (type == 1) {  // an event
    const int gate = gateOfPipe(pipe);
    if (m[0] == 0x50) {
      ++readerRequests_[gate];
      for (const auto& c : field_) announceLocked(c, out);
    } else if (m[0] == 0x75) {
      ++resumes_;
      announced_.erase(std::remove_if(announced_.begin(), announced_.end(),
                                      [&](const auto& c) { return gateOfChannel(c->channel) == gate; }),
                       announced_.end());
      for (const auto& c : field_) announceLocked(c, out);
    }
    return;
  }
  auto respond = [&](uint8_t code, const Bytes& data = {}) {
    if (failNext_ >= 0) {
      code = uint8_t(failNext_);
      failNext_ = -1;
    }
    sendLocked(pipe, pn544Cat({code}, data), out);
  };
  const Bytes p(m.begin() + 1, m.end());
  if (pipe == 1) {
    switch (m[0]) {
      case 0x03: return respond(kPn544Ok);
      case 0x14:
        pipeGate_.clear();
        return respond(kPn544Ok);
      case 0x10: {
        if (p.size() < 3) return respond(kNok);
        const int id = nextPipe_++;
        pipeGate_[id] = p[2];
        return respond(kPn544Ok, {0x00, p[0], 0x00, p[2], uint8_t(id)});
      }
      default: return respond(kNok);
    }
  }
  if (pipe == 0) return respond(kPn544Ok);
  const int gate = gateOfPipe(pipe);
  if (gate < 0) return respond(0x86);  // pipe not opened
  switch (m[0]) {
    case 0x03: return respond(kPn544Ok);
    case 0x01:
      if (p.empty()) return respond(kNok);
      params_[{gate, p[0]}] = Bytes(p.begin() + 1, p.end());
      if (gate == kGatePoll && p[0] == 0x06)
        for (const auto& c : field_) announceLocked(c, out);
      return respond(kPn544Ok);
    case 0x02: {
      if (p.empty()) return respond(kNok);
      auto card = cardOnGateLocked(gate);
      if (!card) return respond(0x81);  // not connected
      const uint8_t reg = p[0];
      if (gate == kGateA && reg == 0x02) return respond(kPn544Ok, card->uid);
      if (gate == kGateA && reg == 0x03) return respond(kPn544Ok, {card->sak});
      if (gate == kGateA && reg == 0x04) return respond(kPn544Ok, {uint8_t(card->atqa >> 8), uint8_t(card->atqa)});
      if (gate == kGateB && reg == 0x02) return respond(kPn544Ok, Bytes(card->uid.begin(), card->uid.begin() + 4));
      if (gate == kGateB && (reg == 0x03 || reg == 0x04)) return respond(kPn544Ok, {0x00, 0x00});
      if (gate == kGate15 && reg == 0x01) return respond(kPn544Ok, pn544Cat({0x00, card->dsfid}, card->uid));
      if (gate == kGateF && reg == 0x04) return respond(kPn544Ok, card->uid);
      if (gate == kGateF && reg == 0x05) return respond(kPn544Ok, card->pmm);
      return respond(0x85);  // unknown register
    }
    case 0x3E:
    case 0x3F: {
      if (gate != kGateSys || p.size() < 3) return respond(kNok);
      const uint32_t address = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
      if (m[0] == 0x3F) {
        if (p.size() < 4) return respond(kNok);
        registers_[address] = p[3];
        return respond(kPn544Ok);
      }
      return respond(kPn544Ok, {registers_[address]});
    }
    default: break;
  }
  auto card = cardOnGateLocked(gate);
  if (!card) return respond(kTimeout);
  std::optional<Bytes> answer;
  if (gate == kGateA) {
    if (m[0] == 0x20 && p.size() >= 4 && p[0] == 0x05) {
      const Bytes raw(p.begin() + 2, p.end() - 2);
      const uint16_t crc = kestra::pn544Crc(raw.data(), raw.size(), 0x6363, false);
      if (p[p.size() - 2] != uint8_t(crc) || p.back() != uint8_t(crc >> 8)) return respond(kNok);
      answer = card->answer(raw);
      if (answer) answer = pn544Cat({0x00}, *answer);
    } else if (m[0] == 0x21) {
      answer = card->answer(p);
    } else if (m[0] == 0x32) {
      answer = p == card->uid ? std::optional<Bytes>(Bytes{card->sak}) : std::nullopt;
    } else if (m[0] == 0x22 && p.size() >= 3) {
      // A key the host wrote to the controller's registers.
      const uint32_t base = (p[1] == 0 ? 0x9F38 : 0x9F3E) + 12u * p[2];
      Bytes key;
      for (uint32_t i = 0; i < 6; ++i) key.push_back(registers_[base + i]);
      answer = card->authenticate(p[1] == 0 ? 0x60 : 0x61, p[0], key);
    } else if (m[0] == 0x12 || m[0] == 0x30) {
      answer = Bytes{};
    }
  } else if (gate == kGateB) {
    answer = card->answer(m[0] == 0x00 ? p : m);
  } else if (gate == kGate15 && m[0] == 0x20) {
    answer = card->answer(p);
  } else if (gate == kGateF && m[0] == 0x20 && p.size() >= 2) {
    answer = card->answer(Bytes(p.begin() + 2, p.end()));
    if (answer) answer = pn544Cat({0x00}, *answer);  // status, then the frame with its length
  }
  if (!answer) return respond(kTimeout);
  respond(kPn544Ok, *answer);
}

void SimulatedPn544::place(const std::shared_ptr<RfCard>& card) {
  std::vector<Bytes> out;
  {
    std::lock_guard lock(mutex_);
    if (std::find(field_.begin(), field_.end(), card) == field_.end()) field_.push_back(card);
    announceLocked(card, out);
  }
  emit(out);
}

void SimulatedPn544::remove(const std::shared_ptr<RfCard>& card) {
  std::lock_guard lock(mutex_);
  field_.erase(std::remove(field_.begin(), field_.end(), card), field_.end());
  card->leaveField();
}

std::vector<Bytes> SimulatedPn544::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<Bytes> SimulatedPn544::framesIn() const {
  std::lock_guard lock(mutex_);
  return framesIn_;
}

std::map<uint32_t, uint8_t> SimulatedPn544::registers() const {
  std::lock_guard lock(mutex_);
  return registers_;
}

std::map<int, int> SimulatedPn544::pipes() const {
  std::lock_guard lock(mutex_);
  std::map<int, int> r;
  for (const auto& [pipe, gate] : pipeGate_) r[gate] = pipe;
  return r;
}

Bytes SimulatedPn544::parameter(int gate, int reg) const {
  std::lock_guard lock(mutex_);
  auto it = params_.find({gate, reg});
  return it == params_.end() ? Bytes{} : it->second;
}

int SimulatedPn544::readerRequests(int gate) const {
  std::lock_guard lock(mutex_);
  auto it = readerRequests_.find(gate);
  return it == readerRequests_.end() ? 0 : it->second;
}

int SimulatedPn544::resumes() const {
  std::lock_guard lock(mutex_);
  return resumes_;
}

void SimulatedPn544::failNext(uint8_t responseCode) {
  std::lock_guard lock(mutex_);
  failNext_ = responseCode;
}

}  // namespace devices
