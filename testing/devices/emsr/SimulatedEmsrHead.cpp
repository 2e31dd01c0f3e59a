#include "testing/devices/emsr/SimulatedEmsrHead.h"

#include <algorithm>
#include <cstring>

#include "sdk/foundation/Emsr.h"

namespace sim {

SimulatedEmsrHead::SimulatedEmsrHead() {
  setIdent("SIM-EMSR HEAD");
  serial_ = Bytes{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                  0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  keys_ = {{0, 1, {}}, {1, 2, {}}, {32, 5, Bytes{0xFF, 0xFF, 0x98, 0x76, 0x54, 0x32, 0x10, 0xE0, 0x00, 0x01}}};
  encryptions_ = {1, 2, 3};
}

int SimulatedEmsrHead::transport(void* owner, const uint8_t* request, int requestLength,
                                 uint8_t* reply, int replyCapacity, int timeoutMs) {
  (void)timeoutMs;
  auto* head = static_cast<SimulatedEmsrHead*>(owner);
  if (!head || !request || requestLength < 0) return -1;
  // The request and reply areas may be the same buffer: read the request first.
  const Bytes answer = head->handle(Bytes(request, request + requestLength));
  if (answer.empty()) return -1;
  // An answer longer than the reply area is a failed exchange; nothing is written past it.
  if (replyCapacity < 0 || answer.size() > size_t(replyCapacity)) return -6;
  std::memcpy(reply, answer.data(), answer.size());
  return int(answer.size());
}

Bytes SimulatedEmsrHead::reply(uint8_t status, const Bytes& data) {
  Bytes out = {0x00, status};
  uint16_t declared = uint16_t(data.size());
  if (shortenNext_) {
    declared = uint16_t(declared + 8);
    shortenNext_ = false;
  }
  foundation::appendBE16(out, declared);
  out.resize(4 + data.size());
  std::copy(data.begin(), data.end(), out.begin() + 4);
  return out;
}

Bytes SimulatedEmsrHead::handle(const Bytes& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(request);
  if (silent_) return {};
  if (request.size() < 4) return reply(kSyntaxError);
  const size_t declared = foundation::readBE16(request.data() + 2);
  if (declared != request.size() - 4) return reply(kInvalidDataLength);
  if (nextStatus_) {
    const uint8_t s = *nextStatus_;
    nextStatus_.reset();
    return reply(s);
  }
  const uint8_t command = request[0];
  const Bytes data(request.begin() + 4, request.end());

  auto ident16 = [&] {
    Bytes b(16, 0);
    std::copy_n(ident_.begin(), std::min<size_t>(16, ident_.size()), b.begin());
    return b;
  };
  switch (command) {
    case 0x01: {
      Bytes b = ident16();
      if (data.empty()) {
        b.push_back(uint8_t(firmware_ / 100));
        b.push_back(uint8_t(firmware_ % 100));
      } else {
        b.push_back(uint8_t(security_ / 100));
        b.push_back(uint8_t(security_ % 100));
        if (infoLength_ >= 20) {
          b.push_back(uint8_t(firmware_ / 100));
          b.push_back(uint8_t(firmware_ % 100));
        }
      }
      return reply(0, b);
    }
    case 0x02:
      if (data.size() == 1 && data[0] == 0x0C) return reply(0, serial_);
      if (data.size() == 1 && data[0] == 0x06) {
        if (!finished_) return reply(kNoPermission);
        committed_ = true;
        return reply(0);
      }
      return reply(kInvalidCommand);
    case 0x51:
      if (data.empty()) return reply(kSyntaxError);
      return handleGroup51(data);
    default:
      return reply(kInvalidCommand);
  }
}

Bytes SimulatedEmsrHead::handleGroup51(const Bytes& data) {
  const uint8_t sub = data[0];
  switch (sub) {
    case 0x01:
      if (data.size() != 2) return reply(kSyntaxError);
      enabled_ = data[1] != 0;
      return reply(0);
    case 0x02:
    case 0x05:
      return reply(0);
    case 0x04:
      return reply(0, Bytes{uint8_t(tracksRead_)});
    case 0x10:
      if (pendingEcc_.empty()) return reply(kNoPermission);
      eccKey_ = pendingEcc_;
      pendingEcc_.clear();
      return reply(0);
    case 0x12:
      if (data.size() != 136 || data[1] != 0x01) return reply(kInvalidDataLength);
      pendingEcc_.assign(data.begin() + 2, data.end());
      return reply(0);
    case 0x13:
      return reply(0, Bytes{0x5A, 0x17, 0xC3, 0x9E, 0x01, 0x44, 0xB2, 0x7D,
                            0x90, 0x0F, 0x6A, 0xE1, 0x23, 0x88, 0xD4, 0x3C});
    case 0x21:
      return data.size() == 54 ? reply(0) : reply(kInvalidDataLength);
    case 0x22:
      if (data.size() != 2) return reply(kSyntaxError);
      if (tracksRead_ == 0) return reply(kNoData);
      return reply(0, Bytes{0x22, data[1], 0xDE, 0xAD, 0xBE, 0xEF});
    case 0x23: {
      if (data.size() != 17) return reply(kInvalidDataLength);
      Bytes answer(data.rbegin(), data.rend() - 1);  // the challenge reversed
      return reply(0, answer);
    }
    case 0x28: {
      if (data.size() == 1) {
        Bytes b = {uint8_t(tampered_ ? 1 : 0)};
        for (const auto& k : keys_) {
          b.push_back(uint8_t(k.id));
          foundation::appendBE32(b, k.version);
        }
        return reply(0, b);
      }
      if (data.size() == 2 && data[1] == 0x10) return reply(0, Bytes{uint8_t(tampered_ ? 1 : 0)});
      if (data.size() == 2) {
        for (const auto& k : keys_)
          if (k.id == data[1]) {
            Bytes b = {uint8_t(k.id), 0};
            foundation::appendBE32(b, k.version);
            return reply(0, b);
          }
        return reply(kNoData);
      }
      return reply(kSyntaxError);
    }
    case 0x30:
      return reply(0, encryptions_);
    case 0x31:
      if (data.size() < 2) return reply(kSyntaxError);
      if (refuseKeyed_ && data.size() > 2) return reply(kNoPermission);
      encryption_ = {data[1], data.size() > 2 ? data[2] : -1};
      return reply(0);
    case 0x32:
      if (data.size() != 2) return reply(kSyntaxError);
      for (const auto& k : keys_)
        if (k.id == data[1] && !k.ksn.empty()) return reply(0, k.ksn);
      return reply(kNoData);
    case 0x34:
      if (data.size() != 4) return reply(kSyntaxError);
      maskedConfig_.assign(data.begin() + 1, data.end());
      return reply(0);
    case 0x36:
      if (tracksRead_ == 0) return reply(kNoData);
      return reply(0, Bytes(masked_.begin(), masked_.end()));
    case 0xF0:
      if (header_.empty()) return reply(kNoPermission);
      started_ = true;
      blocks_.clear();
      blockAttempts_.clear();
      finished_ = committed_ = false;
      return reply(0);
    case 0xF1: {
      if (!started_) return reply(kNoPermission);
      const int index = int(blocks_.size());
      ++blockAttempts_[index];
      auto f = blockFaults_.find(index);
      if (f != blockFaults_.end() && f->second.first > 0) {
        --f->second.first;
        return reply(f->second.second);
      }
      blocks_.emplace_back(data.begin() + 1, data.end());
      return reply(0);
    }
    case 0xF2:
      if (!started_) return reply(kNoPermission);
      finished_ = true;
      started_ = false;
      return reply(0);
    default:
      // The firmware header: 52 bytes led by the head's own sub-command.
      if (data.size() == 52) {
        header_ = data;
        return reply(0);
      }
      // Key loading and other commands are accepted and recorded.
      return reply(0);
  }
}

void SimulatedEmsrHead::setIdent(const std::string& ident) {
  std::lock_guard<std::mutex> lock(mutex_);
  ident_ = ident.substr(0, 16);
}
void SimulatedEmsrHead::setVersions(int firmware, int security) {
  std::lock_guard<std::mutex> lock(mutex_);
  firmware_ = firmware;
  security_ = security;
}
void SimulatedEmsrHead::setInfoDataLength(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  infoLength_ = n;
}
void SimulatedEmsrHead::setSerial(const Bytes& serial16) {
  std::lock_guard<std::mutex> lock(mutex_);
  serial_ = serial16;
}
void SimulatedEmsrHead::setKeys(std::vector<Key> keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  keys_ = std::move(keys);
}
void SimulatedEmsrHead::setTampered(bool tampered) {
  std::lock_guard<std::mutex> lock(mutex_);
  tampered_ = tampered;
}
void SimulatedEmsrHead::setSupportedEncryptions(const Bytes& algorithms) {
  std::lock_guard<std::mutex> lock(mutex_);
  encryptions_ = algorithms;
}
void SimulatedEmsrHead::setMaskedData(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  masked_ = text;
}
void SimulatedEmsrHead::setTracksRead(int mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  tracksRead_ = mask;
}
void SimulatedEmsrHead::failFirmwareBlock(int block, int times, uint8_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  blockFaults_[block] = {times, status};
}
void SimulatedEmsrHead::refuseKeyedEncryption(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseKeyed_ = refuse;
}
void SimulatedEmsrHead::failNextCommand(uint8_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  nextStatus_ = status;
}
void SimulatedEmsrHead::shortenNextReply() {
  std::lock_guard<std::mutex> lock(mutex_);
  shortenNext_ = true;
}
void SimulatedEmsrHead::setSilent(bool silent) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_ = silent;
}
std::vector<Bytes> SimulatedEmsrHead::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}
void SimulatedEmsrHead::clearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}
Bytes SimulatedEmsrHead::firmwareHeader() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return header_;
}
std::vector<Bytes> SimulatedEmsrHead::firmwareBlocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_;
}
bool SimulatedEmsrHead::firmwareStarted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_ || finished_;
}
bool SimulatedEmsrHead::firmwareFinished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}
bool SimulatedEmsrHead::firmwareCommitted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return committed_;
}
int SimulatedEmsrHead::blockAttempts(int block) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = blockAttempts_.find(block);
  return it == blockAttempts_.end() ? 0 : it->second;
}
bool SimulatedEmsrHead::enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_;
}
std::pair<int, int> SimulatedEmsrHead::encryption() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return encryption_;
}
Bytes SimulatedEmsrHead::maskedConfig() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maskedConfig_;
}
Bytes SimulatedEmsrHead::loadedEccKey() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return eccKey_;
}

}  // namespace sim
