#include "testing/devices/rf/SimulatedOmniKey.h"

namespace devices {

namespace {

const Bytes kOk{0x90, 0x00};
const Bytes kNoCard{0x62, 0x00};
const Bytes kWrongLength{0x67, 0x00};
const Bytes kNotAllowed{0x69, 0x82};
const Bytes kAuthFailed{0x63, 0x00};
const Bytes kNotSupported{0x6A, 0x81};

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes withoutCrc(const Bytes& b) { return b.size() >= 2 ? Bytes(b.begin(), b.end() - 2) : b; }

}  // namespace

Bytes SimulatedOmniKey::answerApdu(int slot, const Bytes& a) {
  if (a.size() < 4) return kWrongLength;
  if (a[0] == 0xFF && a[1] == 0x68) {
    escapes_.push_back(a);
    // Reader command: FF 68 0A 00 (start), 0A 01 (piece), 0A 03 (end).
    if (a.size() >= 4 && a[2] == 0x0A && a[3] == 0x00) readerCommand_.clear();
    if (a.size() >= 5 && a[2] == 0x0A && a[3] == 0x01) readerCommand_.insert(readerCommand_.end(), a.begin() + 5, a.end());
    if (a[2] == 0x0D) return cat({'O', 'K', '5', '0', '2', '2'}, kOk);
    return kOk;
  }
  auto card = slot >= 0 && slot < kSlots ? slots_[slot] : nullptr;
  if (a[0] == 0xFF && a[1] == 0x82) {
    if (a.size() < 11 || a[3] >= 32) return kWrongLength;
    keys_[a[3]] = Bytes(a.begin() + 5, a.begin() + 11);
    return kOk;
  }
  if (!card) return kNoCard;
  if (a[0] == 0xFF && a[1] == 0x86) {
    if (a.size() < 10 || a[9] >= 32) return kWrongLength;
    if (a[8] != 0x60 && a[8] != 0x61) return kNotSupported;  // key type as PC/SC names it
    return card->authenticate(a[8], a[7], keys_[a[9]]) ? kOk : kAuthFailed;
  }
  if (a[0] == 0xFF && a[1] == 0xB0 && a.size() >= 5) {
    std::optional<Bytes> r;
    if (card->family == RfCard::Iso15693) {
      r = card->answer({0x02, 0x20, a[3]});
      if (!r || r->empty() || ((*r)[0] & 1)) return kNotAllowed;
      return cat(Bytes(r->begin() + 1, r->end()), kOk);
    }
    r = card->answer({0x30, a[3]});
    if (!r || r->size() < 3) return kNotAllowed;
    const Bytes data = withoutCrc(*r);
    return cat(Bytes(data.begin(), data.begin() + std::min<long>(a[4] == 0 ? 256 : a[4], long(data.size()))), kOk);
  }
  if (a[0] == 0xFF && a[1] == 0xD6 && a.size() >= 5) {
    const Bytes data(a.begin() + 5, a.end());
    std::optional<Bytes> r;
    if (card->family == RfCard::Iso15693) {
      r = card->answer(cat({0x02, 0x21, a[3]}, data));
      return r && !r->empty() && !((*r)[0] & 1) ? kOk : kNotAllowed;
    }
    r = card->answer(cat({uint8_t(data.size() == 4 ? 0xA2 : 0xA0), a[3]}, data));
    return r && *r == Bytes{0x0A} ? kOk : kNotAllowed;
  }
  if (card->apdu) return card->apdu(a);
  return kNotSupported;
}

std::optional<Bytes> SimulatedOmniKey::transfer(const Bytes& m) {
  std::lock_guard lock(mutex_);
  if (silent_) return std::nullopt;
  if (nextAnswer_) {
    Bytes a = *nextAnswer_;
    nextAnswer_.reset();
    return a;
  }
  if (m.size() < 10 || m[0] != 0x6F) return Bytes{0x6C, 0, 0, 0, 0, 0, 0, 0x40, 0x0A, 0};  // SlotStatus: error
  const size_t n = size_t(m[1]) | (size_t(m[2]) << 8) | (size_t(m[3]) << 16) | (size_t(m[4]) << 24);
  const int slot = m[5];
  const Bytes apdu(m.begin() + 10, m.begin() + long(std::min(m.size(), 10 + n)));
  received_.push_back({slot, m[6], apdu});
  const Bytes data = answerApdu(slot, apdu);
  Bytes answer{0x80, uint8_t(data.size()), uint8_t(data.size() >> 8), 0, 0, uint8_t(slot), m[6], 0, 0, 0};
  return cat(answer, data);
}

void SimulatedOmniKey::insert(int slot, const std::shared_ptr<RfCard>& card) {
  {
    std::lock_guard lock(mutex_);
    slots_[slot] = card;
  }
  // Slots 0-3 in one byte: bit 2n present, bit 2n+1 changed.
  if (slot < 4) notify({0x50, uint8_t(3 << (2 * slot))});
}

void SimulatedOmniKey::remove(int slot) {
  {
    std::lock_guard lock(mutex_);
    if (slots_[slot]) slots_[slot]->leaveField();
    slots_[slot].reset();
  }
  if (slot < 4) notify({0x50, uint8_t(2 << (2 * slot))});
}

void SimulatedOmniKey::notify(const Bytes& message) {
  if (onNotify) onNotify(message);
}

void SimulatedOmniKey::setNextAnswer(Bytes answer) {
  std::lock_guard lock(mutex_);
  nextAnswer_ = std::move(answer);
}

void SimulatedOmniKey::setSilent(bool silent) {
  std::lock_guard lock(mutex_);
  silent_ = silent;
}

std::vector<SimulatedOmniKey::Received> SimulatedOmniKey::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<Bytes> SimulatedOmniKey::escapes() const {
  std::lock_guard lock(mutex_);
  return escapes_;
}

Bytes SimulatedOmniKey::readerCommand() const {
  std::lock_guard lock(mutex_);
  return readerCommand_;
}

}  // namespace devices
