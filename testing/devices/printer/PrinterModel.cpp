#include "testing/devices/printer/PrinterModel.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace devices {
namespace {

constexpr uint32_t kPlainBytes = 0x100;
constexpr size_t kMaxPayload = 380;

Bytes aes(const Bytes& key, const Bytes& data, bool encrypt) {
  const bool wide = key.size() > 16;
  Bytes k(wide ? 32 : 16, 0);
  std::copy(key.begin(), key.begin() + long(std::min(key.size(), k.size())), k.begin());
  const uint8_t iv[16] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 32);
  int n1 = 0, n2 = 0;
  EVP_CipherInit_ex(ctx, wide ? EVP_aes_256_cbc() : EVP_aes_128_cbc(), nullptr, k.data(), iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n1, data.data(), int(data.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n1, &n2);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n1 + n2));
  return out;
}

Bytes withZero(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

}  // namespace

Bytes simAesEncrypt(const Bytes& key, const Bytes& data) { return aes(key, data, true); }
Bytes simAesDecrypt(const Bytes& key, const Bytes& data) { return aes(key, data, false); }

uint16_t simCrc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= uint16_t(data[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

// ---- Personas --------------------------------------------------------------------------------

PrinterPersona PrinterPersona::receipt() { return PrinterPersona{}; }

PrinterPersona PrinterPersona::scanner() {
  PrinterPersona p;
  p.name = "RPX-255B";
  p.firmware = "120";
  p.byte28 = 0x00;
  p.paperWidth = 384;
  return p;
}

PrinterPersona PrinterPersona::persona257() {
  PrinterPersona p;
  p.name = "VKP-255";
  p.firmware = "257";
  p.byte28 = 0x44;
  p.byte30 = 0x20;
  p.paperWidth = 384;
  return p;
}

PrinterPersona PrinterPersona::plain() {
  PrinterPersona p;
  p.kind = Kind::Plain;
  p.name = "RPX-100";
  p.firmware = "100";
  p.byte28 = 0;
  p.paperWidth = 384;
  return p;
}

PrinterPersona PrinterPersona::generic() {
  PrinterPersona p;
  p.kind = Kind::Generic;
  p.name = "POS-80";
  p.paperWidth = 384;
  return p;
}

PrinterPersona PrinterPersona::label() {
  PrinterPersona p;
  p.kind = Kind::Label;
  p.name = "ZLP-2";
  p.firmware = "V60.1.2";
  p.paperWidth = 832;
  p.serial = "ZL000417";
  return p;
}

std::string PrinterPersona::protocolString() const {
  switch (kind) {
    case Kind::Generic: return "com.generic.printer.escpos";
    case Kind::Label: return "com.sabrel.printer.label.zpl";
    default: return "com.sabrel.printer.escpos";
  }
}

Bytes PrinterPersona::identification() const {
  Bytes r(32, ' ');
  std::copy(name.begin(), name.begin() + long(std::min<size_t>(name.size(), 22)), r.begin());
  for (size_t i = 0; i < 3; ++i) r[22 + i] = i < firmware.size() ? uint8_t(firmware[i]) : '0';
  r[28] = byte28;
  r[30] = byte30;
  return r;
}

// ---- The model --------------------------------------------------------------------------------

PrinterModel::PrinterModel(PrinterPersona persona) : persona_(std::move(persona)), renderer_(persona_.paperWidth) {
  renderer_.onQuery = [this](const Bytes& c) { query(c); };
}

FrameParser PrinterModel::parser() const {
  if (persona_.kind != PrinterPersona::Kind::Framed)
    return [](const uint8_t*, size_t n) { return FrameScan::frame(n, kPlainBytes); };
  return [](const uint8_t* p, size_t n) {
    if (n < 4) return FrameScan::needMore();
    const size_t len = foundation::readBE16(p + 2);
    if (len > kMaxPayload) return FrameScan::skip(n);  // not a frame this printer takes
    if (n < 4 + len) return FrameScan::needMore();
    return FrameScan::frame(4 + len, p[1]);
  };
}

void PrinterModel::setBusyReplies(int n) { std::lock_guard<std::mutex> l(mutex_); busy_ = n; }
void PrinterModel::setPaperOut(bool on) { std::lock_guard<std::mutex> l(mutex_); paperOut_ = on; }
void PrinterModel::setCoverOpen(bool on) { std::lock_guard<std::mutex> l(mutex_); coverOpen_ = on; }
void PrinterModel::setJobRunning(int n) { std::lock_guard<std::mutex> l(mutex_); jobRunning_ = n; }
void PrinterModel::setBattery(int raw) { std::lock_guard<std::mutex> l(mutex_); battery_ = 0x20 + raw; }
void PrinterModel::setTemperature(int raw) { std::lock_guard<std::mutex> l(mutex_); temperature_ = 0x20 + raw; }

void PrinterModel::queueBarcode(int type, const std::string& code) {
  const std::string t = std::to_string(type);
  Bytes b(t.begin(), t.end());
  b.push_back(' ');
  for (unsigned char c : code) {
    if (c == 0xFF) {
      b.push_back(0xFF);
      b.push_back(0xFF);
    } else if (c < 0x20) {
      b.push_back(0xFF);
      b.push_back(uint8_t(c + 0x20));
    } else {
      b.push_back(c);
    }
  }
  b.push_back(0);
  std::lock_guard<std::mutex> l(mutex_);
  barcodes_.push_back(b);
}

void PrinterModel::queueCard(const std::string& t1, const std::string& t2, const std::string& t3) {
  Bytes b;
  for (auto [marker, t] : {std::pair<uint8_t, const std::string*>{0xF1, &t1}, {0xF2, &t2}, {0xF3, &t3}}) {
    if (t->empty()) continue;
    b.push_back(marker);
    b.insert(b.end(), t->begin(), t->end());
  }
  b.push_back(0);
  std::lock_guard<std::mutex> l(mutex_);
  cards_.push_back(b);
}

void PrinterModel::setKey(int id, const Bytes& key32) {
  std::lock_guard<std::mutex> l(mutex_);
  keys_[size_t(id & 1)] = key32;
}

std::optional<Bytes> PrinterModel::key(int id) const {
  std::lock_guard<std::mutex> l(mutex_);
  return keys_[size_t(id & 1)];
}

Bytes PrinterModel::printData() const {
  std::lock_guard<std::mutex> l(mutex_);
  return printData_;
}

std::vector<Bytes> PrinterModel::moduleRequests(int channel) const {
  std::lock_guard<std::mutex> l(mutex_);
  auto it = moduleRequests_.find(channel);
  return it == moduleRequests_.end() ? std::vector<Bytes>{} : it->second;
}

Bytes PrinterModel::event(uint8_t flags) { return {0x00, 0x00, 0x00, flags}; }

Bytes PrinterModel::reply(uint8_t channel, uint8_t status, const Bytes& data) const {
  Bytes r = {uint8_t(channel | 0x80), status};
  foundation::appendBE16(r, uint16_t(data.size()));
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

uint8_t PrinterModel::status() {
  return uint8_t((paperOut_ ? 0x20 : 0) | (coverOpen_ ? 0x04 : 0));
}

void PrinterModel::printBytes(const uint8_t* data, size_t length) {
  printData_.insert(printData_.end(), data, data + length);
  renderer_.feed(data, length);
}

void PrinterModel::query(const Bytes& c) {
  if (!answers_ || c.size() < 2) return;
  Bytes a;
  switch (c[1]) {
    case 'Z':
      if (persona_.kind != PrinterPersona::Kind::Generic) a = persona_.identification();
      break;
    case '`': a = {uint8_t(battery_), uint8_t(temperature_)}; break;
    case 'N': a = withZero(persona_.serial); break;
    case 's': a = withZero(persona_.labelSettings); break;
    case 'B':
      if (!barcodes_.empty()) {
        a = barcodes_.front();
        barcodes_.pop_front();
      }
      break;
    case '?':
      if (!cards_.empty()) {
        a = cards_.front();
        cards_.pop_front();
      }
      break;
    case 'C':
      if (c.size() >= 5) {
        if (c[4] == 1) a = {uint8_t(blackMark_)};
        else if (c[4] == 3) a = {0x55};
        else {
          blackMark_ = c[4];
          a = {c[4]};
        }
      }
      break;
    case '4':
      if (c.size() >= 4) {
        if (c[2] == 0 && c[3] == 0) {
          foundation::appendLE16(a, uint16_t(maxLabelLength_));
        } else {
          maxLabelLength_ = foundation::readLE16(c.data() + 2);
          a = {c[2], c[3]};
        }
      }
      break;
    default: break;
  }
  answers_->insert(answers_->end(), a.begin(), a.end());
}

Bytes PrinterModel::moduleAnswer(int channel, const Bytes& req) {
  moduleRequests_[channel].push_back(req);
  const uint8_t cmd = req[0];
  const Bytes data(req.begin() + 4, req.end());
  Bytes body;
  if (channel == 2) {
    switch (cmd) {
      case 16: body = {0x3B, 0x8F, 0x80, 0x01}; break;
      case 3: body = {1}; break;
      case 19: body = {0x90, 0x00}; break;
      default: body = {0}; break;
    }
  } else {
    uint8_t status = 0;
    Bytes result;
    switch (cmd) {
      case 1: { const std::string id = "MF-SIM 1.0"; result.assign(id.begin(), id.end()); break; }
      case 2: result = {0x04, 0x00}; break;
      case 3: foundation::appendBE32(result, 0xA1B2C3D4); break;
      case 4: result = {0x08}; break;
      case 6:
        if (data.empty()) status = 1;
        else {
          auto it = mifareBlocks_.find(data[0]);
          result = it == mifareBlocks_.end() ? Bytes(16, 0) : it->second;
        }
        break;
      case 7:
        if (data.size() < 2) status = 1;
        else mifareBlocks_[data[0]] = Bytes(data.begin() + 1, data.end());
        break;
      case 10: foundation::appendBE32(result, 0x00C0FFEE); break;
      default: break;
    }
    body = {0, 0, status};
    body.insert(body.end(), result.begin(), result.end());
  }
  Bytes out = {cmd, 0};
  foundation::appendBE16(out, uint16_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<FrameCommandDevice::Reply> PrinterModel::handle(const HostFrame& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Bytes& f = frame.bytes;
  if (persona_.kind == PrinterPersona::Kind::Label) {
    zplPending_.insert(zplPending_.end(), f.begin(), f.end());
    printData_.insert(printData_.end(), f.begin(), f.end());
    std::string s(zplPending_.begin(), zplPending_.end());
    std::string out;
    size_t at;
    while ((at = s.find('~')) != std::string::npos) {
      if (s.compare(at, 5, "~HQSN") == 0) {
        out += "SERIAL NUMBER\r\n" + persona_.serial + "\r\n";
        s.erase(0, at + 5);
      } else if (s.compare(at, 3, "~HI") == 0) {
        out += persona_.name + "," + persona_.firmware + ",8,8192KB\r\n";
        s.erase(0, at + 3);
      } else if (s.size() - at < 5) {
        break;  // maybe the start of a command not yet complete
      } else {
        s.erase(0, at + 1);
      }
    }
    zplPending_.assign(s.begin(), s.end());
    if (out.empty()) return {};
    return {{Bytes(out.begin(), out.end()), -1}};
  }
  if (persona_.kind != PrinterPersona::Kind::Framed) {
    Bytes direct;
    answers_ = &direct;
    printBytes(f.data(), f.size());
    answers_ = nullptr;
    if (direct.empty()) return {};
    return {{direct, -1}};
  }
  if (f.size() < 4) return {};
  const uint8_t ch = f[0], op = f[1];
  const Bytes data(f.begin() + 4, f.end());
  if (busy_ > 0) {
    --busy_;
    return {{reply(ch, 0x02, {}), -1}};
  }
  uint8_t st = status();
  switch (op) {
    case 0:
      if (ch == 2 && !persona_.smartCardModule) return {{reply(ch, 0x01, {}), -1}};
      return {{reply(ch, st, {}), -1}};
    case 1: return {{reply(ch, st, {}), -1}};
    case 2: {
      if (st & 0x05) return {{reply(ch, st, {}), -1}};
      if (data.empty() && jobRunning_ > 0) {
        --jobRunning_;
        st |= 0x80;
      }
      if (ch == 1) {
        answers_ = &outq_[1];
        printBytes(data.data(), data.size());
        answers_ = nullptr;
      } else if (ch == 15) {
        const Bytes r = head_.handle(data);
        outq_[15].insert(outq_[15].end(), r.begin(), r.end());
      } else if (ch == 2 || ch == 16) {
        Bytes& pend = modulePending_[ch];
        pend.insert(pend.end(), data.begin(), data.end());
        while (pend.size() >= 4 && pend.size() >= 4 + size_t(foundation::readBE16(pend.data() + 2))) {
          const size_t n = 4 + foundation::readBE16(pend.data() + 2);
          const Bytes a = moduleAnswer(ch, Bytes(pend.begin(), pend.begin() + long(n)));
          outq_[ch].insert(outq_[ch].end(), a.begin(), a.end());
          pend.erase(pend.begin(), pend.begin() + long(n));
        }
      }
      return {{reply(ch, st, {}), -1}};
    }
    case 3: {
      Bytes& q = outq_[ch];
      const size_t n = std::min(q.size(), kMaxPayload);
      const Bytes out(q.begin(), q.begin() + long(n));
      q.erase(q.begin(), q.begin() + long(n));
      return {{reply(ch, st, out), -1}};
    }
    case 16: {
      lastRandom_.clear();
      for (int i = 0; i < 16; ++i) {
        randomState_ = randomState_ * 1103515245u + 12345u;
        lastRandom_.push_back(uint8_t(randomState_ >> 16));
      }
      return {{reply(ch, st, lastRandom_), -1}};
    }
    case 17: {
      bool ok = data.size() == 51 && simCrc16(data.data(), 49) == foundation::readBE16(data.data() + 49) &&
                data[0] <= 1 && !lastRandom_.empty();
      if (ok) {
        Bytes block(data.begin() + 1, data.begin() + 49);
        if (keys_[data[0]]) block = simAesDecrypt(*keys_[data[0]], block);
        ok = std::equal(lastRandom_.begin(), lastRandom_.end(), block.begin());
        if (ok) keys_[data[0]] = Bytes(block.begin() + 16, block.end());
      }
      lastRandom_.clear();
      return {{reply(ch, ok ? st : uint8_t(st | 0x01), {}), -1}};
    }
    case 18: {
      if (data.size() != 16 || !keys_[0]) return {{reply(ch, uint8_t(st | 0x01), {}), -1}};
      return {{reply(ch, st, simAesEncrypt(*keys_[0], data)), -1}};
    }
    default: return {{reply(ch, 0x01, {}), -1}};
  }
}

}  // namespace devices
