#include "testing/devices/rf/RfCardModels.h"

#include <algorithm>

#include "platform/crypto/Cipher.h"
#include "platform/crypto/Digest.h"

namespace devices {

namespace {

constexpr uint8_t kAck = 0x0A;
constexpr uint8_t kNakNotAllowed = 0x04;
const Bytes kTransportAccess{0xFF, 0x07, 0x80, 0x69};

Bytes rotl(const Bytes& b) {
  Bytes r(b.begin() + 1, b.end());
  r.push_back(b.front());
  return r;
}

int32_t readValue(const Bytes& block, bool* ok) {
  auto v = [&](int at) {
    return int32_t(uint32_t(block[at]) | (uint32_t(block[at + 1]) << 8) | (uint32_t(block[at + 2]) << 16) |
                   (uint32_t(block[at + 3]) << 24));
  };
  *ok = block.size() == 16 && v(0) == v(8) && v(0) == ~v(4);
  return v(0);
}

}  // namespace

Bytes withCrcA(Bytes data) {
  uint16_t crc = 0x6363;
  for (uint8_t b : data) {
    b = uint8_t(b ^ (crc & 0xFF));
    b = uint8_t(b ^ (b << 4));
    crc = uint16_t((crc >> 8) ^ (uint16_t(b) << 8) ^ (uint16_t(b) << 3) ^ (b >> 4));
  }
  data.push_back(uint8_t(crc & 0xFF));
  data.push_back(uint8_t(crc >> 8));
  return data;
}

std::shared_ptr<RfCard> RfCard::mifareClassic1K(Bytes uid) {
  auto c = std::make_shared<RfCard>();
  c->family = MifareClassic;
  c->uid = std::move(uid);
  c->atqa = 0x0400;
  c->sak = 0x08;
  c->blocks.assign(64, Bytes(16, 0));
  std::copy(c->uid.begin(), c->uid.end(), c->blocks[0].begin());
  for (int s = 0; s < 16; ++s) c->setKeys(s, Bytes(6, 0xFF), Bytes(6, 0xFF));
  return c;
}

std::shared_ptr<RfCard> RfCard::ultralight(Bytes uid) {
  auto c = std::make_shared<RfCard>();
  c->family = Ultralight;
  c->uid = std::move(uid);
  c->atqa = 0x4400;
  c->sak = 0x00;
  c->blocks.assign(16, Bytes(4, 0));
  return c;
}

std::shared_ptr<RfCard> RfCard::ultralightC(Bytes uid, Bytes key) {
  auto c = ultralight(std::move(uid));
  c->family = UltralightC;
  c->blocks.assign(48, Bytes(4, 0));
  // Pages 2C..2F hold the key with each 8-byte half reversed.
  for (int p = 0; p < 4; ++p) {
    const int from = p < 2 ? 7 - p * 4 : 15 - (p - 2) * 4;
    for (int i = 0; i < 4; ++i) c->blocks[0x2C + p][i] = key[size_t(from - i)];
  }
  return c;
}

std::shared_ptr<RfCard> RfCard::desfire(Bytes uid) {
  auto c = std::make_shared<RfCard>();
  c->family = Iso14443_4;
  c->uid = std::move(uid);
  c->atqa = 0x4403;  // sent 44 03
  c->sak = 0x20;
  c->ats = {0x06, 0x75, 0x77, 0x81, 0x02, 0x80};
  auto versionFrames = std::make_shared<int>(0);
  c->apdu = [versionFrames](const Bytes& inf) -> Bytes {
    if (inf.size() == 1 && inf[0] == 0x60) {
      *versionFrames = 1;
      return {0xAF, 0x04, 0x01, 0x01, 0x01, 0x00, 0x18, 0x05};
    }
    if (inf.size() == 1 && inf[0] == 0xAF) {
      if (*versionFrames == 1) {
        *versionFrames = 2;
        return {0xAF, 0x04, 0x01, 0x01, 0x01, 0x00, 0x18, 0x05};
      }
      *versionFrames = 0;
      return {0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0xBA, 0x34, 0x14, 0x01, 0x02, 0x03};
    }
    if (inf.size() == 4 && inf[0] == 0x5A) return {0x00};  // native SelectApplication
    if (inf.size() >= 4 && inf[1] == 0xCA) {
      // GET DATA: a long answer, so it comes back in chained blocks.
      Bytes out(300);
      for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i);
      out.insert(out.end(), {0x90, 0x00});
      return out;
    }
    if (inf.size() >= 4) {
      // Any other APDU: its data echoed, then 90 00.
      Bytes out;
      if (inf.size() > 5) out.assign(inf.begin() + 5, inf.begin() + 5 + std::min<size_t>(inf[4], inf.size() - 5));
      out.insert(out.end(), {0x90, 0x00});
      return out;
    }
    return {0x6E, 0x00};
  };
  return c;
}

std::shared_ptr<RfCard> RfCard::typeB(Bytes pupi) {
  auto c = desfire(std::move(pupi));
  c->family = Iso14443B;
  c->channel = 2;
  return c;
}

Bytes RfCard::valueBlock(int32_t value, uint8_t address) {
  Bytes b(16);
  const uint32_t v = uint32_t(value), n = ~v;
  for (int i = 0; i < 4; ++i) {
    b[size_t(i)] = uint8_t(v >> (8 * i));
    b[size_t(4 + i)] = uint8_t(n >> (8 * i));
    b[size_t(8 + i)] = uint8_t(v >> (8 * i));
  }
  b[12] = address;
  b[13] = uint8_t(~address);
  b[14] = address;
  b[15] = uint8_t(~address);
  return b;
}

void RfCard::setKeys(int sector, const Bytes& keyA, const Bytes& keyB) {
  Bytes& t = blocks[size_t(sector * 4 + 3)];
  std::copy(keyA.begin(), keyA.end(), t.begin());
  std::copy(kTransportAccess.begin(), kTransportAccess.end(), t.begin() + 6);
  std::copy(keyB.begin(), keyB.end(), t.begin() + 10);
}

Bytes RfCard::detectionRecord() const {
  if (family == Iso15693) {
    Bytes r{0x00, dsfid};
    r.insert(r.end(), uid.begin(), uid.end());
    return r;
  }
  if (family == Felica) {
    Bytes r{0x12, 0x01};
    r.insert(r.end(), uid.begin(), uid.end());
    r.insert(r.end(), pmm.begin(), pmm.end());
    return r;
  }
  if (family == StSri) return uid;
  if (family == IClass) {
    Bytes r{0x03};
    r.insert(r.end(), uid.begin(), uid.end());
    return r;
  }
  if (channel == 2) {
    Bytes r{0x50};
    r.insert(r.end(), uid.begin(), uid.begin() + 4);
    r.insert(r.end(), {0, 0, 0, 0, 0, 0, 0});
    return r;
  }
  Bytes r{uint8_t(atqa >> 8), uint8_t(atqa), sak};
  r.insert(r.end(), uid.begin(), uid.end());
  return r;
}

std::optional<Bytes> RfCard::nextBlock(uint8_t blockBit) {
  // Answers longer than one block go out chained; the reader fetches the rest with R(ACK).
  constexpr size_t kPiece = 64;
  const bool more = pendingOut.size() > kPiece;
  const size_t n = std::min(kPiece, pendingOut.size());
  Bytes out{uint8_t((more ? 0x12 : 0x02) | blockBit)};
  out.insert(out.end(), pendingOut.begin(), pendingOut.begin() + long(n));
  pendingOut.erase(pendingOut.begin(), pendingOut.begin() + long(n));
  return withCrcA(out);
}

void RfCard::leaveField() {
  authenticatedSector = -1;
  protocolActive = false;
  ulcAuthenticated = false;
  incoming.clear();
  pendingOut.clear();
}

std::optional<Bytes> RfCard::authenticate(uint8_t command, uint8_t block, const Bytes& key) {
  if (family != MifareClassic || block >= blocks.size()) return std::nullopt;
  const Bytes& t = blocks[size_t((block / 4) * 4 + 3)];
  const Bytes expected = command == 0x60 ? Bytes(t.begin(), t.begin() + 6) : Bytes(t.begin() + 10, t.end());
  if (key != expected) {
    authenticatedSector = -1;
    return std::nullopt;
  }
  authenticatedSector = block / 4;
  return Bytes{};
}

std::optional<Bytes> RfCard::answer(const Bytes& f) {
  ++frames;
  if (f.empty()) return std::nullopt;
  switch (family) {
    case Iso15693: return answerIso15693(f);
    case Felica: return answerFelica(f);
    case StSri: return answerSri(f);
    case IClass: return answerIClass(f);
    default: break;
  }
  const uint8_t cmd = f[0];
  const bool classic = family == MifareClassic;
  const bool pages = family == Ultralight || family == UltralightC;
  auto allowed = [&](int block) { return !classic || authenticatedSector == block / 4; };

  if (cmd == 0x93) return withCrcA({sak});
  if (cmd == 0x50) return Bytes{};
  if (classic && (cmd == 0x60 || cmd == 0x61) && f.size() >= 12)
    return authenticate(cmd, f[1], Bytes(f.begin() + 6, f.begin() + 12));
  if (cmd == 0x30 && f.size() >= 2 && (classic || pages)) {
    if (f[1] >= blocks.size() || !allowed(f[1])) return Bytes{kNakNotAllowed};
    Bytes out;
    if (classic) {
      out = blocks[f[1]];
    } else {
      for (int i = 0; i < 4; ++i) {
        const Bytes& p = blocks[(f[1] + size_t(i)) % blocks.size()];
        out.insert(out.end(), p.begin(), p.end());
      }
    }
    return withCrcA(out);
  }
  if (cmd == 0xA0 && f.size() >= 18 && classic) {
    if (f[1] == 0 || f[1] >= blocks.size() || !allowed(f[1])) return Bytes{kNakNotAllowed};
    blocks[f[1]].assign(f.begin() + 2, f.begin() + 18);
    return Bytes{kAck};
  }
  if (cmd == 0xA2 && f.size() >= 6 && pages) {
    if (f[1] < 2 || f[1] >= blocks.size()) return Bytes{kNakNotAllowed};
    blocks[f[1]].assign(f.begin() + 2, f.begin() + 6);
    return Bytes{kAck};
  }
  if ((cmd == 0xC1 || cmd == 0xC0 || cmd == 0xC2) && f.size() >= 6 && classic) {
    if (f[1] >= blocks.size() || !allowed(f[1])) return Bytes{kNakNotAllowed};
    bool ok = false;
    const int32_t current = readValue(blocks[f[1]], &ok);
    if (!ok) return Bytes{kNakNotAllowed};
    const int32_t operand = int32_t(uint32_t(f[2]) | (uint32_t(f[3]) << 8) | (uint32_t(f[4]) << 16) |
                                    (uint32_t(f[5]) << 24));
    valueRegister = uint32_t(cmd == 0xC1 ? current + operand : cmd == 0xC0 ? current - operand : current);
    return Bytes{kAck};
  }
  if (cmd == 0xB0 && f.size() >= 2 && classic) {
    if (f[1] >= blocks.size() || !allowed(f[1])) return Bytes{kNakNotAllowed};
    blocks[f[1]] = valueBlock(int32_t(valueRegister), f[1]);
    return Bytes{kAck};
  }
  if (family == UltralightC && cmd == 0x1A) {
    ulcRndB = crypto::randomBytes(8);
    const Bytes key = [&] {
      Bytes k;
      for (int p = 0x2C; p <= 0x2F; ++p) k.insert(k.end(), blocks[size_t(p)].begin(), blocks[size_t(p)].end());
      return k;
    }();
    auto ek = crypto::desEncrypt(key, ulcRndB, crypto::Mode::CBC, crypto::Padding::None);
    ulcIv = *ek;
    Bytes out{0xAF};
    out.insert(out.end(), ek->begin(), ek->end());
    return withCrcA(out);
  }
  if (family == UltralightC && cmd == 0xAF && f.size() >= 17 && !ulcRndB.empty()) {
    Bytes key;
    for (int p = 0x2C; p <= 0x2F; ++p) key.insert(key.end(), blocks[size_t(p)].begin(), blocks[size_t(p)].end());
    const Bytes cipher(f.begin() + 1, f.begin() + 17);
    auto plain = crypto::desDecrypt(key, cipher, crypto::Mode::CBC, crypto::Padding::None, ulcIv);
    const Bytes rndB = ulcRndB;
    ulcRndB.clear();
    if (!plain || Bytes(plain->begin() + 8, plain->end()) != rotl(rndB)) return std::nullopt;
    const Bytes rndA(plain->begin(), plain->begin() + 8);
    auto ek = crypto::desEncrypt(key, rotl(rndA), crypto::Mode::CBC, crypto::Padding::None,
                                 Bytes(cipher.end() - 8, cipher.end()));
    ulcAuthenticated = true;
    Bytes out{0x00};
    out.insert(out.end(), ek->begin(), ek->end());
    return withCrcA(out);
  }
  if (protocolActive && (cmd & 0xE2) == 0x02) {
    // An I-block: [PCB][CID when bit 3][INF].
    const size_t header = (cmd & 0x08) ? 2 : 1;
    incoming.insert(incoming.end(), f.begin() + long(std::min(header, f.size())), f.end());
    if (cmd & 0x10) return withCrcA({uint8_t(0xA2 | (cmd & 1))});  // R(ACK): send the rest
    pendingOut = apdu ? apdu(incoming) : Bytes{0x6E, 0x00};
    incoming.clear();
    return nextBlock(uint8_t(cmd & 1));
  }
  if (protocolActive && (cmd & 0xF6) == 0xA2) return nextBlock(uint8_t(cmd & 1));
  if (cmd == 0xE0 && (family == Iso14443_4)) {
    protocolActive = true;
    return withCrcA(ats);
  }
  if (cmd == 0x1D && family == Iso14443B) {
    protocolActive = true;
    return withCrcA({0x00});
  }
  return std::nullopt;
}

}  // namespace devices
