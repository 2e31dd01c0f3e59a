#include "sdk/rf/IClassSam.h"

#include <condition_variable>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {

using foundation::Bytes;

namespace {

constexpr uint8_t kFrameHeader[] = {0xA0, 0xDA, 0x02, 0x63};
constexpr uint8_t kRouting[] = {0x44, 0x0A, 0x44, 0x00, 0x00, 0x00};
constexpr size_t kFrameOverhead = sizeof kFrameHeader + 3 + sizeof kRouting + 2;
constexpr size_t kAnswerHeader = 6;
constexpr uint16_t kRfExchangeFailed = 0x0020;

struct SamState {
  std::mutex mutex;  // the fields below
  std::condition_variable received;
  Bytes rx;
  bool overflow = false;
  std::shared_ptr<IClassTransport> transport;
  std::recursive_mutex commandLock;  // one SAM command at a time
};

SamState& samState() {
  static SamState* s = new SamState;
  return *s;
}

std::shared_ptr<IClassTransport> transport() {
  std::lock_guard lock(samState().mutex);
  return samState().transport;
}

void logMessage(const Bytes& message) {
  KXUNISDKGlobals::LOG("result(%02d): ", int(message.size()));
}

bool parseLength(const uint8_t* p, size_t avail, size_t* length, size_t* used) {
  if (avail < 1) return false;
  if (p[0] < 0x80) {
    *length = p[0];
    *used = 1;
    return true;
  }
  const size_t n = p[0] & 0x7F;
  if (n == 0 || n > 3 || avail < 1 + n) return false;
  size_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[1 + i];
  *length = v;
  *used = 1 + n;
  return true;
}

// Sends a message; with `wait` the SAM's answer goes through the dispatcher.
int cmdSend(const Bytes& message, Bytes* out, bool wait);

int dispatcher(Bytes* out) {
  auto& s = samState();
  for (;;) {
    Bytes msg;
    {
      std::unique_lock lock(s.mutex);
      if (!foundation::Clock::current().waitFor(lock, s.received, std::chrono::milliseconds(kSamDispatchWindowMs),
                                                [&] { return !s.rx.empty() || s.overflow; }))
        return -1;
      if (s.overflow) {
        s.overflow = false;
        s.rx.clear();
        return -9;
      }
      msg.swap(s.rx);
    }
    if (msg.size() < kAnswerHeader + 2 || msg[msg.size() - 2] != 0x90 || msg.back() != 0x00) return -2;
    const Bytes body(msg.begin() + kAnswerHeader, msg.end() - 2);
    switch (msg[1]) {
      case kSamNodeCore: {
        KXUNISDKGlobals::LOG("\n+++ Dispatcher: NODE_CORE +++\n");
        size_t used = 0;
        auto outer = tlvParse(body.data(), body.size(), &used);
        if (!outer || outer->tag != 0xA5) break;
        auto inner = tlvParse(outer->value.data(), outer->value.size());
        if (!inner || inner->tag != 0x82) break;
        if (auto t = transport()) t->iClassReset();
        if (out) *out = body;
        return int(body.size());
      }
      case kSamNodeRF: {
        KXUNISDKGlobals::LOG("\n+++ Dispatcher: NODE_RF +++\n");
        auto outer = tlvParse(body.data(), body.size());
        if (!outer || outer->tag != 0xA1) return -1;
        auto inner = tlvParse(outer->value.data(), outer->value.size());
        if (!inner) return -1;
        if (inner->tag == 0xA1) {
          const uint8_t* v = inner->value.data();
          const size_t n = inner->value.size();
          const auto protocolTlv = tlvFind1(v, n, 0x81);
          const auto paramTlv = tlvFind1(v, n, 0x85);
          const auto timeTlv = tlvFind1(v, n, 0x82);
          const auto data = tlvFind1(v, n, 0x80);
          const int protocol = protocolTlv && protocolTlv->value.size() >= 2 ? protocolTlv->value[1] : 2;
          int parameter = 0, flags = 0;
          if (paramTlv && paramTlv->value.size() >= 3) {
            parameter = (paramTlv->value[0] << 8) | paramTlv->value[1];
            flags = paramTlv->value[2];
          }
          int timeoutMs = 0;
          if (timeTlv && timeTlv->value.size() <= 4) {
            uint32_t us = 0;
            for (uint8_t b : timeTlv->value) us = (us << 8) | b;
            timeoutMs = us == 0 ? 0 : int(us / 1000 + 1);
          }
          if (data) {
            Bytes answer;
            auto t = transport();
            const int r = t ? t->iClassRFCommand(protocol, parameter, flags, data->value.data(),
                                                 int(data->value.size()), &answer, timeoutMs)
                            : -7;
            const int sent = r < 0 ? hfCommandResponseRxData(nullptr, 0, kRfExchangeFailed)
                                   : hfCommandResponseRxData(answer.data(), int(answer.size()), 0);
            if (sent < 0) return sent;
          }
        } else if (inner->tag == 0x82) {
          if (const int sent = samResponseAcknowledge(); sent < 0) return sent;
        }
        break;
      }
      case kSamNodeApplication:
        KXUNISDKGlobals::LOG("\n+++ Dispatcher: NODE_APPLICATION +++\n");
        if (out) *out = body;
        return int(body.size());
      default: break;
    }
  }
}

int cmdSend(const Bytes& message, Bytes* out, bool wait) {
  auto frame = samFrame(message);
  if (!frame) return -9;
  logMessage(message);
  {
    std::lock_guard lock(samState().mutex);
    samState().rx.clear();
    samState().overflow = false;
  }
  auto t = transport();
  if (!t) return -7;
  const int r = t->iClassWrite(frame->data(), int(frame->size()));
  if (r < 0) return r;
  if (!wait) return 0;
  return dispatcher(out);
}

// Builds and sends one command whose tree `build` fills.
template <class Build>
int samCommand(Bytes* out, Build build) {
  std::lock_guard guard(samState().commandLock);
  TlvStore store;
  build(store);
  if (store.failed()) return -9;
  return cmdSend(store.tlvStoreExport(), out, true);
}

int expectAnswerA5With82(int r, const Bytes& answer) {
  if (r < 0) return r;
  auto outer = tlvParse(answer.data(), answer.size());
  if (!outer || outer->tag != 0xA5) return -20;
  auto inner = tlvParse(outer->value.data(), outer->value.size());
  return inner && inner->tag == 0x82 ? 0 : -20;
}

}  // namespace

void iClassSetTransport(std::shared_ptr<IClassTransport> t) {
  std::lock_guard lock(samState().mutex);
  samState().transport = std::move(t);
}

void iClassDataAvailable(const uint8_t* data, int length) {
  if (!data || length <= 0) return;
  {
    std::lock_guard lock(samState().mutex);
    if (samState().rx.size() + size_t(length) > size_t(kSamRxBufSize)) {
      KXUNISDKGlobals::LOG("SAM: %d bytes beyond the receive buffer dropped", length);
      samState().overflow = true;
    } else {
      samState().rx.insert(samState().rx.end(), data, data + length);
    }
  }
  samState().received.notify_all();
}

// ---- TLV ------------------------------------------------------------------------------------------

std::optional<SamTlv> tlvParse(const uint8_t* data, size_t length, size_t* consumed) {
  if (!data || length < 2) return std::nullopt;
  SamTlv t;
  size_t at = 1;
  t.tag = data[0];
  t.constructed = data[0] & 0x20;
  if ((data[0] & 0x1F) == 0x1F) {
    t.tag = uint16_t((data[0] << 8) | data[1]);
    at = 2;
  }
  size_t n = 0, used = 0;
  if (!parseLength(data + at, length - at, &n, &used)) return std::nullopt;
  at += used;
  if (n > size_t(kSamMaxTlvLength) || n > length - at) return std::nullopt;
  t.value.assign(data + at, data + at + n);
  if (consumed) *consumed = at + n;
  return t;
}

std::optional<SamTlv> tlvFind1(const uint8_t* data, size_t length, uint16_t tag) {
  size_t at = 0;
  while (at < length) {
    size_t used = 0;
    auto t = tlvParse(data + at, length - at, &used);
    if (!t) return std::nullopt;
    if (t->tag == tag) return t;
    if (t->constructed)
      if (auto inner = tlvFind1(t->value.data(), t->value.size(), tag)) return inner;
    at += used;
  }
  return std::nullopt;
}

int TlvStore::tlvStoreAdd(uint16_t tag, const uint8_t* value, size_t length, int parent) {
  if (nodes_.size() >= size_t(kSamMaxNodes) || (parent >= 0 && size_t(parent) >= nodes_.size()) ||
      length > size_t(kSamMaxTlvLength) || (length > 0 && !value)) {
    failed_ = true;
    return -9;
  }
  if (parent >= 0) {
    Node& p = nodes_[size_t(parent)];
    if (p.children.size() >= size_t(kSamMaxChildren)) {
      failed_ = true;
      return -9;
    }
    if (p.tag > 0xFF)
      p.tag = uint16_t(p.tag | 0x2000);
    else
      p.tag = uint16_t(p.tag | 0x20);
  }
  nodes_.push_back({tag, Bytes(value, value + length), {}});
  const int index = int(nodes_.size() - 1);
  if (parent >= 0)
    nodes_[size_t(parent)].children.push_back(index);
  else
    roots_.push_back(index);
  return index;
}

void TlvStore::exportNode(int index, Bytes& out) const {
  const Node& n = nodes_[size_t(index)];
  Bytes value;
  if (n.children.empty()) {
    value = n.value;
  } else {
    for (int c : n.children) exportNode(c, value);
  }
  if (n.tag > 0xFF) out.push_back(uint8_t(n.tag >> 8));
  out.push_back(uint8_t(n.tag));
  if (value.size() < 128) {
    out.push_back(uint8_t(value.size()));
  } else {
    out.insert(out.end(), {0x82, uint8_t(value.size() >> 8), uint8_t(value.size())});
  }
  out.insert(out.end(), value.begin(), value.end());
}

Bytes TlvStore::tlvStoreExport() const {
  Bytes out;
  for (int r : roots_) exportNode(r, out);
  return out;
}

std::optional<Bytes> samFrame(const Bytes& message) {
  if (message.size() + kFrameOverhead > size_t(kSamFrameSize)) return std::nullopt;
  const size_t length = message.size() + sizeof kRouting;
  Bytes frame(kFrameHeader, kFrameHeader + sizeof kFrameHeader);
  frame.insert(frame.end(), {0x00, uint8_t(length >> 8), uint8_t(length)});
  frame.insert(frame.end(), kRouting, kRouting + sizeof kRouting);
  frame.insert(frame.end(), message.begin(), message.end());
  frame.insert(frame.end(), {0x00, 0x00});
  return frame;
}

// ---- Commands ----------------------------------------------------------------------------------

int samCommandGetVersionInfo(Bytes* out) {
  return samCommand(out, [](TlvStore& s) { s.tlvStoreAdd(0x82, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1)); });
}

int samCommandGetSerialNumber(Bytes* out) {
  return samCommand(out, [](TlvStore& s) { s.tlvStoreAdd(0x96, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1)); });
}

int samCommandTrackCard(Bytes* out) {
  return samCommand(out, [](TlvStore& s) { s.tlvStoreAdd(0x92, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1)); });
}

int samCommandGetContentElement(int element, const uint8_t* pin, int pinLength, const uint8_t* rootOid,
                                int rootOidLength, Bytes* out) {
  if (pinLength < 0 || rootOidLength < 0) return -9;
  return samCommand(out, [&](TlvStore& s) {
    const int root = s.tlvStoreAdd(0xA0, nullptr, 0, -1);
    const uint8_t e = uint8_t(element);
    s.tlvStoreAdd(0x80, &e, 1, s.tlvStoreAdd(0xA1, nullptr, 0, root));
    if (pin || rootOid) {
      const int ad = s.tlvStoreAdd(0xAD, nullptr, 0, root);
      if (pin) s.tlvStoreAdd(0x83, pin, size_t(pinLength), ad);
      if (rootOid) s.tlvStoreAdd(0x84, rootOid, size_t(rootOidLength), ad);
    }
  });
}

int samCommandSetContentElement(int element, const uint8_t* first, int firstLength, const uint8_t* second,
                                int secondLength, const uint8_t* third, int thirdLength, Bytes* out) {
  if (firstLength < 0 || secondLength < 0 || thirdLength < 0) return -9;
  return samCommand(out, [&](TlvStore& s) {
    const int bd = s.tlvStoreAdd(0xBD, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1));
    const uint8_t e = uint8_t(element);
    s.tlvStoreAdd(0x80, &e, 1, bd);
    s.tlvStoreAdd(0x83, first, size_t(first ? firstLength : 0), bd);
    if (second) s.tlvStoreAdd(0x84, second, size_t(secondLength), bd);
    if (third) s.tlvStoreAdd(0x85, third, size_t(thirdLength), bd);
  });
}

int samCommandSetDetectedCardInfo(int kind, const uint8_t* id, int idLength, const uint8_t* extra, int extraLength,
                                  int a, int b) {
  if (idLength < 0 || extraLength < 0) return -9;
  Bytes answer;
  const int r = samCommand(&answer, [&](TlvStore& s) {
    const int ad = s.tlvStoreAdd(0xAD, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1));
    const int card = s.tlvStoreAdd(0xA0, nullptr, 0, ad);
    const uint8_t k[] = {0x00, uint8_t(kind)};
    s.tlvStoreAdd(0x80, k, 2, card);
    s.tlvStoreAdd(0x81, id, size_t(id ? idLength : 0), card);
    if (extra && extraLength > 0) s.tlvStoreAdd(0x82, extra, size_t(extraLength), card);
    const uint8_t av = uint8_t(a), bv = uint8_t(b), one = 0x01;
    if (a != -1) s.tlvStoreAdd(0x83, &av, 1, card);
    if (b != -1) s.tlvStoreAdd(0x84, &bv, 1, card);
    s.tlvStoreAdd(0x87, &one, 1, card);
  });
  return r < 0 ? r : 0;
}

int samCommandProcessSNMPMessage(const uint8_t* message, int length, Bytes* out) {
  if (length < 0) return -9;
  return samCommand(out, [&](TlvStore& s) {
    s.tlvStoreAdd(0x94, message, size_t(message ? length : 0),
                  s.tlvStoreAdd(0xB4, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1)));
  });
}

int samCommandProcessKeyRollerCard() {
  Bytes answer;
  const int r =
      samCommand(&answer, [](TlvStore& s) { s.tlvStoreAdd(0x9F26, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1)); });
  return expectAnswerA5With82(r, answer);
}

int samCommandProcessConfigCard() {
  Bytes answer;
  const int r =
      samCommand(&answer, [](TlvStore& s) { s.tlvStoreAdd(0x9A, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, -1)); });
  return expectAnswerA5With82(r, answer);
}

int hfCommandResponseRxData(const uint8_t* data, int length, uint16_t status) {
  TlvStore s;
  const int inner = s.tlvStoreAdd(0xA0, nullptr, 0, s.tlvStoreAdd(0xA0, nullptr, 0, s.tlvStoreAdd(0xBD, nullptr, 0, -1)));
  if (data && length > 0) s.tlvStoreAdd(0x80, data, size_t(length), inner);
  const uint8_t sw[] = {uint8_t(status >> 8), uint8_t(status)};
  s.tlvStoreAdd(0x81, sw, 2, inner);
  if (s.failed()) return -9;
  return cmdSend(s.tlvStoreExport(), nullptr, false);
}

int samResponseAcknowledge() {
  TlvStore s;
  s.tlvStoreAdd(0x8A, nullptr, 0, s.tlvStoreAdd(0xBD, nullptr, 0, -1));
  return cmdSend(s.tlvStoreExport(), nullptr, false);
}

}  // namespace kestra
