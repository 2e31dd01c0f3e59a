#include "testing/devices/sleeve/SimulatedSam.h"

#include <algorithm>

namespace devices {

namespace {

constexpr uint8_t kCore = 0x01, kRf = 0x14, kApplication = 0x44;

// One TLV at `at` (tags of one or two bytes, lengths short or 81/82): tag, value.
struct Tlv {
  int tag = -1;
  Bytes value;
  size_t next = 0;
};

Tlv readTlv(const Bytes& b, size_t at) {
  Tlv t;
  if (at + 2 > b.size()) return t;
  size_t i = at;
  int tag = b[i++];
  if ((tag & 0x1F) == 0x1F) tag = (tag << 8) | b[i++];
  if (i >= b.size()) return t;
  size_t n = b[i++];
  if (n == 0x81 && i < b.size()) {
    n = b[i++];
  } else if (n == 0x82 && i + 1 < b.size()) {
    n = (size_t(b[i]) << 8) | b[i + 1];
    i += 2;
  }
  if (i + n > b.size()) return t;
  t.tag = tag;
  t.value.assign(b.begin() + long(i), b.begin() + long(i + n));
  t.next = i + n;
  return t;
}

Bytes tlv(int tag, const Bytes& value) {
  Bytes out;
  if (tag > 0xFF) out.push_back(uint8_t(tag >> 8));
  out.push_back(uint8_t(tag));
  out.push_back(uint8_t(value.size()));
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

}  // namespace

Bytes SimulatedSam::rfRequest(const Bytes& cardData) const {
  // A1 { A1 { 80 data, 81 protocol, 82 time-out (us), 85 parameter and flags } }
  Bytes inner = tlv(0x80, cardData);
  for (const Bytes& part : {tlv(0x81, {0x00, 0x02}), tlv(0x82, {0x00, 0x00, 0x13, 0x88}), tlv(0x85, {0x00, 0x01, 0x00})})
    inner.insert(inner.end(), part.begin(), part.end());
  return tlv(0xA1, tlv(0xA1, inner));
}

void SimulatedSam::sendLocked(uint8_t node, const Bytes& message, std::vector<Bytes>& out) {
  if (silent_) return;
  Bytes frame{0x00, node, 0x0A, 0x44, 0x00, 0x00};
  frame.insert(frame.end(), message.begin(), message.end());
  if (nextStatus_) {
    frame.insert(frame.end(), {nextStatus_->first, nextStatus_->second});
    nextStatus_.reset();
  } else {
    frame.insert(frame.end(), {0x90, 0x00});
  }
  out.push_back(frame);
}

void SimulatedSam::message(const Bytes& m, std::vector<Bytes>& out) {
  messages_.push_back(m);
  const Tlv top = readTlv(m, 0);
  if (top.tag == 0xBD) {  // the host's answer to a request
    const Tlv inner = readTlv(top.value, 0);
    if (inner.tag == 0x8A) {
      if (waiting_ == Waiting::ConfigAck) {
        waiting_ = Waiting::ConfigRf;
        sendLocked(kRf, rfRequest({0x0C, 0x01}), out);
      }
      return;
    }
    // BD { A0 { A0 { 80 data, 81 status } } }
    const Bytes fields = readTlv(inner.value, 0).value;
    Bytes data, status;
    for (size_t at = 0; at < fields.size();) {
      const Tlv t = readTlv(fields, at);
      if (t.tag < 0) break;
      if (t.tag == 0x80) data = t.value;
      if (t.tag == 0x81) status = t.value;
      at = t.next;
    }
    const bool ok = status == Bytes{0x00, 0x00} && !data.empty();
    if (waiting_ == Waiting::ContentRf) {
      waiting_ = Waiting::Nothing;
      // The credential read from the card, or the RF failure the host reported.
      sendLocked(kApplication, ok ? tlv(0xA1, tlv(0x80, data)) : tlv(0x85, status), out);
    } else if (waiting_ == Waiting::ConfigRf) {
      waiting_ = Waiting::Nothing;
      sendLocked(ok ? kCore : kApplication, ok ? tlv(0xA5, tlv(0x82, {0x00})) : tlv(0x85, status), out);
    }
    return;
  }
  if (top.tag != 0xA0) return;
  const Tlv command = readTlv(top.value, 0);
  switch (command.tag) {
    case 0x82: sendLocked(kCore, tlv(0xA5, tlv(0x82, version)), out); break;
    case 0x96: sendLocked(kApplication, tlv(0x8A, serial), out); break;
    case 0xA1:
      waiting_ = Waiting::ContentRf;
      sendLocked(kRf, rfRequest({0x0C, credentialBlock}), out);
      break;
    case 0x9A:
      waiting_ = Waiting::ConfigAck;
      sendLocked(kRf, tlv(0xA1, tlv(0x82, {0x00})), out);
      break;
    case 0x9F26: sendLocked(kCore, tlv(0xA5, tlv(0x82, {0x00})), out); break;
    default: sendLocked(kApplication, tlv(0x9F01, {0x01}), out); break;
  }
}

std::optional<Bytes> SimulatedSam::command(const Bytes& data) {
  if (data.empty()) return std::nullopt;
  std::vector<Bytes> out;
  std::optional<Bytes> reply;
  {
    std::lock_guard lock(mutex_);
    switch (data[0]) {
      case 0x01:
        powered_ = false;
        reply = Bytes{};
        break;
      case 0x02:
        powered_ = true;
        reply = atr;
        break;
      case 0x06: {
        const Bytes apdu(data.begin() + 1, data.end());
        apdus_.push_back(apdu);
        if (!powered_) {
          reply = Bytes{0x69, 0x85};
        } else if (apdu.size() > 5 && apdu[1] == 0xA4) {
          reply = Bytes{0x90, 0x00};
        } else if (apdu.size() >= 5 && apdu[1] == 0xCA) {
          reply = serial;
          reply->insert(reply->end(), {0x90, 0x00});
        } else {
          reply = Bytes{0x6D, 0x00};
        }
        break;
      }
      case 0x04: {
        reply = Bytes{};
        const Bytes f(data.begin() + 1, data.end());
        if (f.size() < 15 || !std::equal(f.begin(), f.begin() + 4, Bytes{0xA0, 0xDA, 0x02, 0x63}.begin())) break;
        const size_t length = (size_t(f[5]) << 8) | f[6];
        if (length < 6 || 7 + length + 2 > f.size()) break;
        message(Bytes(f.begin() + 13, f.begin() + long(7 + length)), out);
        break;
      }
      default: break;
    }
  }
  for (const auto& frame : out)
    if (onOutput) onOutput(frame);
  return reply;
}

void SimulatedSam::setNextStatus(uint8_t sw1, uint8_t sw2) {
  std::lock_guard lock(mutex_);
  nextStatus_ = {sw1, sw2};
}

void SimulatedSam::setSilent(bool silent) {
  std::lock_guard lock(mutex_);
  silent_ = silent;
}

bool SimulatedSam::powered() const {
  std::lock_guard lock(mutex_);
  return powered_;
}

std::vector<Bytes> SimulatedSam::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<Bytes> SimulatedSam::apdus() const {
  std::lock_guard lock(mutex_);
  return apdus_;
}

}  // namespace devices
