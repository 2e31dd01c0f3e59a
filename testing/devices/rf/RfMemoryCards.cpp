// The memory-card families of the card models: ISO 15693 tags, FeliCa cards with the
// e-paper smart tag, ST SRI memories and iClass credentials.

#include <algorithm>

#include "testing/devices/rf/RfCardModels.h"

namespace devices {

namespace {

constexpr uint8_t kIso15Ok = 0x00;
constexpr uint8_t kIso15Error = 0x01;
constexpr uint8_t kIso15NotSupported = 0x01;
constexpr uint8_t kIso15BlockUnavailable = 0x10;
constexpr uint8_t kIso15AlreadyLocked = 0x11;
constexpr uint8_t kIso15Locked = 0x12;

constexpr uint16_t kSmartTagService = 0x0900;
constexpr int kSriLockRegister = 255;

Bytes felicaAnswer(uint8_t code, const Bytes& idm, const Bytes& rest) {
  Bytes a{0, code};
  a.insert(a.end(), idm.begin(), idm.end());
  a.insert(a.end(), rest.begin(), rest.end());
  a[0] = uint8_t(a.size());
  return a;
}

}  // namespace

std::shared_ptr<RfCard> RfCard::iso15693(Bytes uid, int nBlocks, int blockSize) {
  auto c = std::make_shared<RfCard>();
  c->family = Iso15693;
  c->channel = 3;
  c->uid = std::move(uid);
  c->blocks.assign(size_t(nBlocks), Bytes(size_t(blockSize), 0));
  c->lockedBlocks.assign(size_t(nBlocks), false);
  return c;
}

std::shared_ptr<RfCard> RfCard::felica(Bytes idm, bool smartTag) {
  auto c = std::make_shared<RfCard>();
  c->family = Felica;
  c->channel = 4;
  c->uid = std::move(idm);
  c->pmm = {0x01, 0x20, 0x22, 0x04, 0x27, 0x67, 0x4E, 0xFF};
  c->services[0x1009] = std::vector<Bytes>(8, Bytes(16, 0));
  c->services[0x0B00] = std::vector<Bytes>(8, Bytes(16, 0x5A));
  c->readOnlyServices.insert(0x0B00);
  c->smartTag = smartTag;
  return c;
}

std::shared_ptr<RfCard> RfCard::stSri(Bytes uid, int nBlocks) {
  auto c = std::make_shared<RfCard>();
  c->family = StSri;
  c->channel = 5;
  c->uid = std::move(uid);
  c->blocks.assign(size_t(nBlocks), Bytes(4, 0xFF));
  c->lockedBlocks.assign(size_t(nBlocks), false);
  return c;
}

std::shared_ptr<RfCard> RfCard::iClass(Bytes serial) {
  auto c = std::make_shared<RfCard>();
  c->family = IClass;
  c->channel = 6;
  c->uid = std::move(serial);
  c->blocks.assign(32, Bytes(8, 0));
  return c;
}

std::optional<Bytes> RfCard::answerIso15693(const Bytes& f) {
  if (f.size() < 2) return std::nullopt;
  size_t at = 2;
  if (f[0] & 0x20) {
    if (f.size() < 2 + uid.size() || !std::equal(uid.begin(), uid.end(), f.begin() + 2)) return std::nullopt;
    at += uid.size();
  }
  const Bytes p(f.begin() + long(at), f.end());
  auto error = [](uint8_t code) { return Bytes{kIso15Error, code}; };
  const size_t n = blocks.size();
  switch (f[1]) {
    case 0x2B: {
      Bytes a{kIso15Ok, uint8_t(systemInfoHasMemory ? 0x0F : 0x0B)};
      a.insert(a.end(), uid.begin(), uid.end());
      a.push_back(dsfid);
      a.push_back(afi);
      if (systemInfoHasMemory) a.insert(a.end(), {uint8_t(n - 1), uint8_t(blocks.empty() ? 0 : blocks[0].size() - 1)});
      a.push_back(0x01);
      a.resize(a.size() - std::min(a.size(), size_t(systemInfoCut)));
      return a;
    }
    case 0x20: {
      if (p.empty() || p[0] >= n) return error(kIso15BlockUnavailable);
      Bytes a{kIso15Ok};
      a.insert(a.end(), blocks[p[0]].begin(), blocks[p[0]].end());
      return a;
    }
    case 0x21: {
      if (p.empty() || p[0] >= n) return error(kIso15BlockUnavailable);
      if (lockedBlocks[p[0]]) return error(kIso15Locked);
      Bytes& b = blocks[p[0]];
      if (p.size() < 1 + b.size()) return std::nullopt;
      std::copy(p.begin() + 1, p.begin() + 1 + long(b.size()), b.begin());
      return Bytes{kIso15Ok};
    }
    case 0x22:
      if (p.empty() || p[0] >= n) return error(kIso15BlockUnavailable);
      if (lockedBlocks[p[0]]) return error(kIso15AlreadyLocked);
      lockedBlocks[p[0]] = true;
      return Bytes{kIso15Ok};
    case 0x27:
      if (p.empty()) return std::nullopt;
      if (afiLocked) return error(kIso15Locked);
      afi = p[0];
      return Bytes{kIso15Ok};
    case 0x28:
      if (afiLocked) return error(kIso15AlreadyLocked);
      afiLocked = true;
      return Bytes{kIso15Ok};
    case 0x29:
      if (p.empty()) return std::nullopt;
      if (dsfidLocked) return error(kIso15Locked);
      dsfid = p[0];
      return Bytes{kIso15Ok};
    case 0x2A:
      if (dsfidLocked) return error(kIso15AlreadyLocked);
      dsfidLocked = true;
      return Bytes{kIso15Ok};
    case 0x2C: {
      if (p.size() < 2 || size_t(p[0]) + p[1] >= n) return error(kIso15BlockUnavailable);
      Bytes a{kIso15Ok};
      for (size_t i = p[0]; i <= size_t(p[0]) + p[1]; ++i) a.push_back(lockedBlocks[i] ? 0x01 : 0x00);
      return a;
    }
    case 0x25:
    case 0x26:
    case 0x02: return Bytes{kIso15Ok};
    default: return error(kIso15NotSupported);
  }
}

void RfCard::smartTagCommand(const Bytes& b, const Bytes& data) {
  tag.commandBlocks.push_back(b);
  if (b[4] != 0) tag.sequence = b[4];
  const Bytes header(b.begin() + 8, b.end());
  const int address = (header[0] << 8) | header[1];
  const int count = (header[2] << 8) | header[3];
  switch (b[0]) {
    case 0xA0:
      if (std::all_of(header.begin(), header.begin() + 5, [](uint8_t x) { return x == 0; }) && header[5] == 3 &&
          header[7] == 1) {
        tag.displayedLayout = header[6];
      } else {
        tag.screen.insert(tag.screen.end(), data.begin(), data.end());
        tag.busyReads = tag.busyAfterCommand;
      }
      break;
    case 0xA1:
      tag.screen.clear();
      tag.busyReads = tag.busyAfterCommand;
      break;
    case 0xB0:
      for (int i = 0; i < count && i < int(data.size()) && address + i < int(tag.memory.size()); ++i)
        tag.memory[size_t(address + i)] = data[size_t(i)];
      tag.busyReads = tag.busyAfterCommand;
      break;
    case 0xB2: tag.layouts[header[0]] = tag.screen; break;
    case 0xC0:
      tag.readBack.assign(size_t(count), 0);
      for (int i = 0; i < count && address + i < int(tag.memory.size()); ++i)
        tag.readBack[size_t(i)] = tag.memory[size_t(address + i)];
      break;
    default: break;
  }
}

std::optional<Bytes> RfCard::answerFelica(const Bytes& f) {
  if (f.size() < 2 || f[0] != f.size()) return std::nullopt;
  if (f[1] == 0x00) {  // polling
    Bytes rest = pmm;
    return felicaAnswer(0x01, uid, rest);
  }
  if (f.size() < 10 || !std::equal(uid.begin(), uid.end(), f.begin() + 2)) return std::nullopt;
  const Bytes p(f.begin() + 10, f.end());
  if (p.size() < 4 || p[0] != 1) return std::nullopt;
  const uint16_t service = uint16_t((p[1] << 8) | p[2]);
  const size_t count = p[3];
  if (p.size() < 4 + 2 * count) return std::nullopt;
  std::vector<int> list;
  for (size_t i = 0; i < count; ++i) list.push_back(p[5 + 2 * i]);
  const bool tagService = smartTag && service == kSmartTagService;
  if (f[1] == 0x06) {
    if (felicaSilentReads > 0) {
      --felicaSilentReads;
      return std::nullopt;
    }
    Bytes rest{0x00, 0x00, uint8_t(count)};
    for (int b : list) {
      if (tagService) {
        if (b == 0) {
          Bytes status(16, 0);
          status[3] = tag.busyReads > 0 ? 0xF2 : 0xF0;
          if (tag.busyReads > 0) --tag.busyReads;
          status[4] = tag.sequence;
          status[6] = tag.battery;
          rest.insert(rest.end(), status.begin(), status.end());
        } else {
          Bytes block(16, 0);
          for (size_t i = 0; i < 16; ++i) {
            const size_t at = size_t(b - 1) * 16 + i;
            if (at < tag.readBack.size()) block[i] = tag.readBack[at];
          }
          rest.insert(rest.end(), block.begin(), block.end());
        }
        continue;
      }
      auto it = services.find(service);
      if (it == services.end()) return felicaAnswer(0x07, uid, {0x01, 0xA6});
      if (size_t(b) >= it->second.size()) return felicaAnswer(0x07, uid, {0x01, 0xA8});
      rest.insert(rest.end(), it->second[size_t(b)].begin(), it->second[size_t(b)].end());
    }
    return felicaAnswer(0x07, uid, rest);
  }
  if (f[1] == 0x08) {
    const Bytes data(p.begin() + 4 + long(2 * count), p.end());
    if (data.size() < 16 * count) return std::nullopt;
    if (tagService) {
      smartTagCommand(Bytes(data.begin(), data.begin() + 16), Bytes(data.begin() + 16, data.end()));
      return felicaAnswer(0x09, uid, {0x00, 0x00});
    }
    auto it = services.find(service);
    if (it == services.end()) return felicaAnswer(0x09, uid, {0x01, 0xA6});
    if (readOnlyServices.count(service)) return felicaAnswer(0x09, uid, {0x01, 0xA8});
    for (size_t i = 0; i < count; ++i) {
      if (size_t(list[i]) >= it->second.size()) return felicaAnswer(0x09, uid, {0x01, 0xA8});
      it->second[size_t(list[i])].assign(data.begin() + long(16 * i), data.begin() + long(16 * (i + 1)));
    }
    return felicaAnswer(0x09, uid, {0x00, 0x00});
  }
  return std::nullopt;
}

std::optional<Bytes> RfCard::answerSri(const Bytes& f) {
  const size_t n = blocks.size();
  switch (f[0]) {
    case 0x08:
      if (f.size() < 2) return std::nullopt;
      if (f[1] == kSriLockRegister) {
        uint8_t reg = 0;
        for (size_t i = 0; i < 8 && 7 + i < n; ++i)
          if (lockedBlocks[7 + i]) reg = uint8_t(reg | (1 << i));
        return Bytes{reg, 0xFF, 0xFF, 0xFF};
      }
      if (f[1] >= n) return std::nullopt;
      return blocks[f[1]];
    case 0x09:
      if (f.size() < 6) return std::nullopt;
      if (f[1] == kSriLockRegister) {
        // Each bit set locks one block from 7 on, for good.
        for (size_t i = 0; i < 8 && 7 + i < n; ++i)
          if (f[2] & (1 << i)) lockedBlocks[7 + i] = true;
        return Bytes{};
      }
      if (f[1] >= n || lockedBlocks[f[1]]) return std::nullopt;  // the card ignores it
      blocks[f[1]].assign(f.begin() + 2, f.begin() + 6);
      return Bytes{};
    case 0x0B: return uid;
    case 0x0F:
    case 0x0C: return Bytes{};
    default: return std::nullopt;
  }
}

std::optional<Bytes> RfCard::answerIClass(const Bytes& frame) {
  Bytes f = frame;
  // A request of the reader's iClass channel: [FF][parameter 2][flags][time-out 2][card data].
  if (f.size() >= 6 && f[0] == 0xFF) f.erase(f.begin(), f.begin() + 6);
  if (f.empty()) return std::nullopt;
  switch (f[0]) {
    case 0x81: return uid;
    case 0x0C:
      if (f.size() < 2 || f[1] >= blocks.size()) return std::nullopt;
      return blocks[f[1]];
    default: return std::nullopt;
  }
}

}  // namespace devices
