#include "testing/devices/emv2/SimulatedEmv2Kernel.h"

#include <algorithm>

namespace devices {

namespace {

struct Item {
  uint32_t tag = 0;
  Bytes value;
};

// A flat BER-TLV list; nothing when the bytes are not one.
std::optional<std::vector<Item>> items(const Bytes& b) {
  std::vector<Item> out;
  size_t i = 0;
  while (i < b.size()) {
    Item it;
    it.tag = b[i];
    if ((b[i++] & 0x1F) == 0x1F) {
      do {
        if (i >= b.size() || it.tag > 0xFFFFFF) return std::nullopt;
        it.tag = it.tag << 8 | b[i];
      } while (b[i++] & 0x80);
    }
    if (i >= b.size()) return std::nullopt;
    size_t n = b[i++];
    if (n & 0x80) {
      const size_t k = n & 0x7F;
      if (k == 0 || k > 2 || b.size() - i < k) return std::nullopt;
      n = 0;
      for (size_t j = 0; j < k; ++j) n = n << 8 | b[i++];
    }
    if (b.size() - i < n) return std::nullopt;
    it.value.assign(b.begin() + long(i), b.begin() + long(i + n));
    i += n;
    out.push_back(std::move(it));
  }
  return out;
}

const Item* find(const std::vector<Item>& list, uint32_t tag) {
  const Item* last = nullptr;
  for (const auto& i : list)
    if (i.tag == tag) last = &i;
  return last;
}

void put(Bytes& out, uint32_t tag, const Bytes& value) {
  if (tag > 0xFFFF) out.push_back(uint8_t(tag >> 16));
  if (tag > 0xFF) out.push_back(uint8_t(tag >> 8));
  out.push_back(uint8_t(tag));
  if (value.size() > 0xFF) {
    out.push_back(0x82);
    out.push_back(uint8_t(value.size() >> 8));
  } else if (value.size() > 0x7F) {
    out.push_back(0x81);
  }
  out.push_back(uint8_t(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes event(uint8_t code, const Bytes& tlv) {
  Bytes e = {code, 0x00};
  e.insert(e.end(), tlv.begin(), tlv.end());
  return e;
}

uint32_t versionOf(const Bytes& blob) {
  auto top = items(blob);
  if (!top) return 0;
  const Item* e4 = find(*top, 0xE4);
  if (!e4) return 0;
  auto inner = items(e4->value);
  const Item* c1 = inner ? find(*inner, 0xC1) : nullptr;
  if (!c1 || c1->value.size() < 4) return 0;
  return uint32_t(c1->value[0]) << 24 | uint32_t(c1->value[1]) << 16 | uint32_t(c1->value[2]) << 8 | c1->value[3];
}

}  // namespace

uint32_t SimulatedEmv2Kernel::crc32(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

Bytes SimulatedEmv2Kernel::finished(uint16_t status) {
  state_ = State::Idle;
  Bytes tlv;
  put(tlv, 0xC1, {uint8_t(status >> 8), uint8_t(status)});
  if (card_) put(tlv, 0xC3, {uint8_t(card_->interface)});
  return event(0x83, tlv);
}

std::vector<Bytes> SimulatedEmv2Kernel::begin() {
  // Card event interfaces are the kernel's own numbers: 0 contact, 1 contactless, 2 stripe.
  const int kernelInterface = card_->interface == 1 ? 0 : card_->interface == 2 ? 1 : 2;
  std::vector<Bytes> out;
  out.push_back(Bytes{0x85, 0x00, uint8_t(kernelInterface), 0x01});
  selectedApplication_ = -1;
  if (!card_->applications.empty()) {
    out.push_back(event(0x86, card_->applications));
    state_ = State::Selecting;
    return out;
  }
  auto online = goOnline();
  out.insert(out.end(), online.begin(), online.end());
  return out;
}

std::vector<Bytes> SimulatedEmv2Kernel::goOnline() {
  std::vector<Bytes> out;
  Bytes ui;
  put(ui, 0xC1, {0x00, 0x03});
  put(ui, 0xC2, {0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00});
  out.push_back(event(0x82, ui));
  Bytes online = card_->tags;
  if (auto start = items(startTags_))
    if (const Item* amount = find(*start, 0x9F02)) put(online, 0x9F02, amount->value);
  out.push_back(event(0x81, online));
  state_ = State::Online;
  return out;
}

std::vector<Bytes> SimulatedEmv2Kernel::presentCard(Card card) {
  card_ = std::move(card);
  if (state_ != State::WaitingForCard || !(startInterface_ & card_->interface)) return {};
  return begin();
}

std::vector<Bytes> SimulatedEmv2Kernel::removeCard() {
  if (!card_) return {};
  const int kernelInterface = card_->interface == 1 ? 0 : card_->interface == 2 ? 1 : 2;
  std::vector<Bytes> out = {Bytes{0x85, 0x00, uint8_t(kernelInterface), 0x02}};
  if (state_ != State::Idle) out.push_back(finished(kCardRemoved));
  card_.reset();
  return out;
}

std::vector<Bytes> SimulatedEmv2Kernel::timeOut() {
  if (state_ == State::Idle) return {};
  return {finished(kTimedOut)};
}

std::optional<Bytes> SimulatedEmv2Kernel::handle(const Bytes& packet, std::vector<Bytes>& events) {
  packets_.push_back(packet);
  if (packet.size() < 2) return std::nullopt;
  const uint8_t sub = packet[0];
  const Bytes data(packet.begin() + 2, packet.end());
  Bytes reply = {sub, 0x00};
  switch (sub) {
    case 0x61:
      initialised_ = true;
      break;
    case 0x62:
      initialised_ = false;
      state_ = State::Idle;
      break;
    case 0x01:  // older kernels: the contactless configuration in one command
      slots_[1] = Slot{data, versionOf(data), crc32(data)};
      break;
    case 0x02: {
      const auto version = [&](int slot) {
        auto it = slots_.find(slot);
        return be32(it == slots_.end() ? 0 : it->second.version);
      };
      put(reply, 0xC1, version(1));
      if (newer) {
        put(reply, 0xC2, version(0));
        put(reply, 0xC3, version(3));
        put(reply, 0xC4, version(2));
        put(reply, 0xC5, be32(kKernelVersion));
        put(reply, 0xC6, version(4));
      } else {
        put(reply, 0xC2, be32(kKernelVersion));
      }
      break;
    }
    case 0x51:
      // 51 00 [slot] [length 4], or 51 00 [length 4] (the older kernels' CAPK).
      if (data.size() == 5) {
        downloadSlot_ = data[0];
      } else if (data.size() == 4) {
        downloadSlot_ = 3;
      } else {
        return std::nullopt;
      }
      downloadLength_ = uint32_t(data[data.size() - 4]) << 24 | uint32_t(data[data.size() - 3]) << 16 |
                        uint32_t(data[data.size() - 2]) << 8 | data[data.size() - 1];
      download_.clear();
      break;
    case 0x52:
      if (downloadSlot_ < 0 || data.size() > 1022 || download_.size() + data.size() > downloadLength_)
        return std::nullopt;
      download_.insert(download_.end(), data.begin(), data.end());
      break;
    case 0x53:
      if (downloadSlot_ < 0 || download_.size() != downloadLength_) return std::nullopt;
      slots_[downloadSlot_] = Slot{download_, versionOf(download_), crc32(download_)};
      downloadSlot_ = -1;
      break;
    case 0x54:
      slots_.clear();
      break;
    case 0x03: {
      if (!initialised_) return std::nullopt;
      size_t at = 0;
      if (newer) {
        if (data.size() < 2) return std::nullopt;
        startInterface_ = data[0];
        startTimeout_ = data[1];
        at = 2;
      } else {
        startInterface_ = 7;
        startTimeout_ = 0;
      }
      startTags_.assign(data.begin() + long(at), data.end());
      if (!items(startTags_)) return std::nullopt;
      state_ = State::WaitingForCard;
      if (card_ && (startInterface_ & card_->interface)) {
        auto more = begin();
        events.insert(events.end(), more.begin(), more.end());
      }
      break;
    }
    case 0x04: {
      if (state_ != State::Online) return std::nullopt;
      bool approved = false;
      if (auto list = items(data)) {
        const Item* c2 = find(*list, 0xC2);
        const Item* e6 = find(*list, 0xE6);
        auto inner = e6 ? items(e6->value) : std::nullopt;
        const Item* code = inner ? find(*inner, 0x8A) : find(*list, 0x8A);
        approved = c2 && !c2->value.empty() && c2->value[0] == 1 && code && code->value == Bytes{0x30, 0x30};
      }
      events.push_back(finished(approved ? kApproved : kDeclined));
      break;
    }
    case 0x05:
      state_ = State::Idle;
      break;
    case 0x06: {
      if (!card_) return std::nullopt;
      auto list = items(data);
      const Item* c1 = list ? find(*list, 0xC1) : nullptr;
      const uint8_t format = c1 && c1->value.size() == 4 ? c1->value[3] : 0;
      reply.push_back(uint8_t(format << 3 | 3));
      Bytes tracks = {0xF1};
      tracks.insert(tracks.end(), card_->track1.begin(), card_->track1.end());
      tracks.push_back(0xF2);
      tracks.insert(tracks.end(), card_->track2.begin(), card_->track2.end());
      if (format != 0)
        for (auto& b : tracks) b ^= 0x5A;
      reply.insert(reply.end(), tracks.begin(), tracks.end());
      break;
    }
    case 0x08: {
      auto list = items(data);
      const Item* c3 = list ? find(*list, 0xC3) : nullptr;
      if (!c3) return std::nullopt;
      const auto cardTags = card_ ? items(card_->tags) : std::nullopt;
      for (size_t i = 0; i < c3->value.size(); ++i) {
        const uint8_t t = c3->value[i];
        if (t == 0xD3 && card_) {
          put(reply, 0xD3, Bytes(card_->track1Masked.begin(), card_->track1Masked.end()));
        } else if (t == 0xD4 && card_) {
          put(reply, 0xD4, Bytes(card_->track2Masked.begin(), card_->track2Masked.end()));
        } else if (cardTags) {
          if (const Item* it = find(*cardTags, t)) put(reply, t, it->value);
        }
      }
      break;
    }
    case 0x0A:
      // An application chosen for the card (FF: the list shown to the cardholder instead).
      if (state_ == State::Selecting && !data.empty() && data[0] != 0xFF) {
        selectedApplication_ = data[0];
        auto more = goOnline();
        events.insert(events.end(), more.begin(), more.end());
      }
      break;
    case 0x71:
    case 0x72:
      break;
    case 0x0C:
      if (data.size() >= 9 && data[0] == 0x01) {
        // The cardholder takes the default tip.
        Bytes tip = {0x8B, 0x00, 0x00};
        tip.insert(tip.end(), data.begin() + 5, data.begin() + 9);
        events.push_back(tip);
      }
      break;
    default:
      return std::nullopt;
  }
  return reply;
}

}  // namespace devices
