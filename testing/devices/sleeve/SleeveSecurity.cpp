#include "testing/devices/sleeve/SleeveSecurity.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace devices {

namespace {

constexpr uint8_t kCmdKeys = 25;
constexpr uint8_t kCmdRandom = 26;
constexpr uint8_t kCmdAuthDevice = 27;
constexpr uint8_t kCmdAuthHost = 28;
constexpr uint8_t kCmdHead = 33;
constexpr uint8_t kCmdEmv = 55;
constexpr uint8_t kCmdEmulatedHead = 62;
constexpr uint8_t kCmdPinpad = 0x42;
constexpr uint8_t kCmdVas = 70;
constexpr uint8_t kCmdVasGV = 72;

constexpr uint8_t kStatusRefused = 2;
constexpr uint8_t kStatusBadData = 3;
constexpr uint8_t kEventEmv = 0x38;

// One BER-TLV item with a one-byte length (the kernel's answers are short).
void tlv(Bytes& out, std::initializer_list<uint8_t> tag, const Bytes& value) {
  out.insert(out.end(), tag.begin(), tag.end());
  out.push_back(uint8_t(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

constexpr uint8_t kModuleCommands[] = {kCmdKeys, kCmdRandom, kCmdAuthDevice, kCmdAuthHost, kCmdHead,
                                       kCmdEmv,  kCmdEmulatedHead, kCmdPinpad, kCmdVas, kCmdVasGV};

std::string hex(const Bytes& b) { return foundation::toHex(b); }
std::string opt(const std::optional<std::string>& s) { return s ? *s : "(null)"; }

}  // namespace

// ---- Recording delegate ---------------------------------------------------------------------------

RecordingSecureDelegate::RecordingSecureDelegate(std::vector<std::string_view> selectors, std::string tag)
    : RecordingPellanDelegate({kestra::sel::connectionState}, std::move(tag)) {
  using namespace kestra;
  if (selectors.empty())
    selectors = {sel::kxdev_emv2Event,
                 sel::emv2OnOnlineProcessing,
                 sel::emv2OnUserInterfaceCode,
                 sel::emv2OnTransactionFinished};
  for (auto s : selectors) declare({s});
}

void RecordingSecureDelegate::kxdev_emv2Event(const Bytes& e) { record("kxdev_emv2Event:" + hex(e)); }
void RecordingSecureDelegate::kxdev_magneticCardEncryptedData(int enc, int tracks, const Bytes& data,
                                                              const std::optional<std::string>& t1,
                                                              const std::optional<std::string>& t2,
                                                              const std::optional<std::string>& t3, int source) {
  record("kxdev_magneticCardEncryptedData:" + std::to_string(enc) + "," + std::to_string(tracks) + "," + hex(data) +
         "," + opt(t1) + "," + opt(t2) + "," + opt(t3) + "," + std::to_string(source));
}
void RecordingSecureDelegate::magneticCardEncryptedData(int enc, int tracks, const Bytes& data,
                                                        const std::optional<std::string>& t1,
                                                        const std::optional<std::string>& t2,
                                                        const std::optional<std::string>& t3, int source) {
  record("magneticCardEncryptedData7:" + std::to_string(enc) + "," + std::to_string(tracks) + "," + hex(data) +
         "," + opt(t1) + "," + opt(t2) + "," + opt(t3) + "," + std::to_string(source));
}
void RecordingSecureDelegate::magneticCardEncryptedData(int enc, int tracks, const Bytes& data,
                                                        const std::optional<std::string>& t1,
                                                        const std::optional<std::string>& t2,
                                                        const std::optional<std::string>& t3) {
  record("magneticCardEncryptedData6:" + std::to_string(enc) + "," + std::to_string(tracks) + "," + hex(data) +
         "," + opt(t1) + "," + opt(t2) + "," + opt(t3));
}
void RecordingSecureDelegate::magneticCardEncryptedData(int enc, int tracks, const Bytes& data) {
  record("magneticCardEncryptedData3:" + std::to_string(enc) + "," + std::to_string(tracks) + "," + hex(data));
}
void RecordingSecureDelegate::magneticCardEncryptedData(int enc, const Bytes& data) {
  record("magneticCardEncryptedData2:" + std::to_string(enc) + "," + hex(data));
}
void RecordingSecureDelegate::emv2OnOnlineProcessing(const Bytes& d) { record("emv2OnOnlineProcessing:" + hex(d)); }
void RecordingSecureDelegate::emv2OnUserInterfaceCode(int code, int status, double hold) {
  record("emv2OnUserInterfaceCode:" + std::to_string(code) + "," + std::to_string(status) + "," +
         std::to_string(int(hold)));
}
void RecordingSecureDelegate::emv2OnTransactionFinished(const std::optional<Bytes>& d) {
  record("emv2OnTransactionFinished:" + (d ? hex(*d) : std::string("(null)")));
}

Bytes SleeveSecurity::aes(const Bytes& key, const Bytes& data, bool encrypt) {
  const EVP_CIPHER* cipher = key.size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
  const uint8_t iv[16] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 16);
  int n = 0, m = 0;
  const bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_CipherUpdate(ctx, out.data(), &n, data.data(), int(data.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) throw std::runtime_error("simulated sleeve: AES failed");
  out.resize(size_t(n + m));
  return out;
}

uint16_t SleeveSecurity::crc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= uint16_t(data[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

const Bytes& SleeveSecurity::demoKey() {
  static const Bytes key = {0x8c, 0x1f, 0x4e, 0x07, 0xb2, 0xd9, 0x5a, 0x63, 0xe0, 0xf7, 0x1c,
                            0x48, 0xa9, 0xb2, 0x36, 0xd5, 0xf0, 0x4e, 0x8a, 0x17, 0xc3, 0xb9,
                            0x5d, 0x62, 0xa7, 0xe0, 0x1f, 0x4c, 0x8b, 0x3d, 0x92, 0x65};
  return key;
}

Bytes SleeveSecurity::demoEncrypted(const std::string& track1, const std::string& track2) {
  Bytes block(20, 0xA5);  // a header the reader skips
  block.push_back(0xF1);
  block.insert(block.end(), track1.begin(), track1.end());
  block.push_back(0xF2);
  block.insert(block.end(), track2.begin(), track2.end());
  block.push_back(0x00);
  const uint16_t crc = crc16(block.data(), block.size());
  block.push_back(uint8_t(crc >> 8));
  block.push_back(uint8_t(crc));
  while (block.size() % 16) block.push_back(0x00);
  return aes(demoKey(), block, true);
}

SleeveSecurity::SleeveSecurity(SimulatedSleeve& sleeve) : sleeve_(sleeve) {
  sleeve_.withProtocol([this](SleeveProtocol& p) {
    p.modules[kCmdHead] = [this](const Bytes& data, uint8_t* status) -> std::optional<Bytes> {
      const Bytes reply = head.handle(data);
      if (reply.empty()) *status = kStatusRefused;
      return reply;
    };
    p.modules[kCmdEmulatedHead] = [this](const Bytes& data, uint8_t* status) -> std::optional<Bytes> {
      const Bytes reply = emulatedHead.handle(data);
      if (reply.empty()) *status = kStatusRefused;
      return reply;
    };
    p.modules[kCmdKeys] = [this](const Bytes& d, uint8_t* s) { return keys(d, s); };
    p.modules[kCmdRandom] = [this](const Bytes&, uint8_t* s) { return random(s); };
    p.modules[kCmdAuthDevice] = [this](const Bytes& d, uint8_t* s) { return authenticateDevice(d, s); };
    p.modules[kCmdAuthHost] = [this](const Bytes& d, uint8_t* s) { return authenticateHost(d, s); };
    p.modules[kCmdEmv] = [this, &p](const Bytes& d, uint8_t* s) { return kernel(d, s, p); };
    p.modules[kCmdPinpad] = [this, &p](const Bytes& d, uint8_t* s) -> std::optional<Bytes> {
      if (!d.empty() && d[0] == 0x3E) return kernel(Bytes(d.begin() + 1, d.end()), s, p);
      return d;  // other pass-through modules answer with what they were sent
    };
    p.modules[kCmdVas] = [this](const Bytes& d, uint8_t* s) { return vas(kCmdVas, d, s); };
    p.modules[kCmdVasGV] = [this](const Bytes& d, uint8_t* s) { return vas(kCmdVasGV, d, s); };
  });
}

SleeveSecurity::~SleeveSecurity() {
  sleeve_.withProtocol([](SleeveProtocol& p) {
    for (uint8_t code : kModuleCommands) p.modules.erase(code);
  });
}

// ---- Key store -----------------------------------------------------------------------------------

void SleeveSecurity::setKey(int id, const Bytes& key, uint32_t version) {
  std::lock_guard lock(mutex_);
  keys_[id] = Key{key, version, 0};
}

std::optional<Bytes> SleeveSecurity::key(int id) const {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(id);
  return it == keys_.end() ? std::nullopt : std::optional<Bytes>(it->second.value);
}

uint32_t SleeveSecurity::keyVersion(int id) const {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(id);
  return it == keys_.end() ? 0 : it->second.version;
}

uint32_t SleeveSecurity::keyFlags(int id) const {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(id);
  return it == keys_.end() ? 0 : it->second.flags;
}

bool SleeveSecurity::hostAuthenticated() const {
  std::lock_guard lock(mutex_);
  return hostAuthenticated_;
}

std::optional<Bytes> SleeveSecurity::random(uint8_t*) {
  std::lock_guard lock(mutex_);
  lastRandom_.assign(16, 0);
  RAND_bytes(lastRandom_.data(), 16);
  hostAuthenticated_ = false;
  return lastRandom_;
}

std::optional<Bytes> SleeveSecurity::keys(const Bytes& d, uint8_t* status) {
  std::lock_guard lock(mutex_);
  if (d.empty() || d[0] > 1) {
    *status = kStatusBadData;
    return Bytes{};
  }
  const int id = d[0];
  if (d.size() == 1) {  // version
    auto it = keys_.find(id);
    return it == keys_.end() ? Bytes{0xFF, 0xFF, 0xFF, 0xFF} : be32(it->second.version);
  }
  if (d.size() == 2 && d[1] == 0xFF) {
    keys_.erase(id);
    return Bytes{};
  }
  // [key][48-byte block][version 4]?[flags 4]?: the block is the last random and the new key,
  // encrypted under the key it replaces when there is one.
  if (d.size() != 49 && d.size() != 53 && d.size() != 57) {
    *status = kStatusBadData;
    return Bytes{};
  }
  Bytes block(d.begin() + 1, d.begin() + 49);
  auto it = keys_.find(id);
  if (it != keys_.end()) block = aes(it->second.value, block, false);
  if (lastRandom_.size() != 16 || !std::equal(lastRandom_.begin(), lastRandom_.end(), block.begin())) {
    *status = kStatusRefused;
    return Bytes{};
  }
  Key k;
  k.value.assign(block.begin() + 16, block.end());
  if (d.size() >= 53) k.version = uint32_t(d[49]) << 24 | uint32_t(d[50]) << 16 | uint32_t(d[51]) << 8 | d[52];
  if (d.size() >= 57) k.flags = uint32_t(d[53]) << 24 | uint32_t(d[54]) << 16 | uint32_t(d[55]) << 8 | d[56];
  keys_[id] = k;
  lastRandom_.clear();
  return Bytes{};
}

std::optional<Bytes> SleeveSecurity::authenticateDevice(const Bytes& d, uint8_t* status) {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(0);
  if (d.size() != 16 || it == keys_.end()) {
    *status = kStatusRefused;
    return Bytes{};
  }
  return aes(it->second.value, d, true);
}

std::optional<Bytes> SleeveSecurity::authenticateHost(const Bytes& d, uint8_t* status) {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(0);
  if (d.size() != 16 || it == keys_.end() || lastRandom_.size() != 16 ||
      aes(it->second.value, lastRandom_, true) != d) {
    *status = kStatusRefused;
    return Bytes{};
  }
  hostAuthenticated_ = true;
  lastRandom_.clear();
  return Bytes{};
}

// ---- EMV kernel ---------------------------------------------------------------------------------------

void SleeveSecurity::setCard(Card card) {
  std::lock_guard lock(mutex_);
  card_ = std::move(card);
}

void SleeveSecurity::setFinishedStatus(uint16_t c1) {
  std::lock_guard lock(mutex_);
  finishedStatus_ = c1;
}

void SleeveSecurity::setOnlineRequestOnStart(bool on) {
  std::lock_guard lock(mutex_);
  onlineRequestOnStart_ = on;
}

std::vector<Bytes> SleeveSecurity::kernelPackets() const {
  std::lock_guard lock(mutex_);
  return kernelPackets_;
}

bool SleeveSecurity::kernelInitialised() const {
  std::lock_guard lock(mutex_);
  return scripted_ ? scripted_->initialised() : initialised_;
}

void SleeveSecurity::useScriptedKernel(bool newer) {
  std::lock_guard lock(mutex_);
  scripted_.emplace();
  scripted_->newer = newer;
}

void SleeveSecurity::withKernel(const std::function<std::vector<Bytes>(SimulatedEmv2Kernel&)>& f) {
  std::vector<Bytes> events;
  {
    std::lock_guard lock(mutex_);
    if (!scripted_) scripted_.emplace();
    events = f(*scripted_);
  }
  for (const auto& e : events) sleeve_.sendEvent(0, kEventEmv, e);
}

std::optional<Bytes> SleeveSecurity::kernel(const Bytes& packet, uint8_t* status, SleeveProtocol& protocol) {
  std::lock_guard lock(mutex_);
  kernelPackets_.push_back(packet);
  if (packet.size() < 2) {
    *status = kStatusBadData;
    return Bytes{};
  }
  if (scripted_) {
    std::vector<Bytes> events;
    auto reply = scripted_->handle(packet, events);
    for (const auto& e : events) protocol.afterReply.push_back(protocol.event(0, kEventEmv, e));
    if (!reply) *status = kStatusRefused;
    return reply ? *reply : Bytes{};
  }
  const uint8_t sub = packet[0];
  const Bytes payload(packet.begin() + 2, packet.end());
  Bytes result;
  auto event = [&](uint8_t code, const Bytes& tlvs) {
    Bytes p = {code, 0x00};
    p.insert(p.end(), tlvs.begin(), tlvs.end());
    protocol.afterReply.push_back(protocol.event(0, kEventEmv, p));
  };
  switch (sub) {
    case 0x02:
      tlv(result, {0xC1}, be32(0x00010203));
      tlv(result, {0xC2}, be32(0x00000612));
      break;
    case 0x03:
      initialised_ = true;
      if (onlineRequestOnStart_) {
        Bytes request;
        tlv(request, {0x9F, 0x02}, {0x00, 0x00, 0x00, 0x00, 0x12, 0x34});
        tlv(request, {0x5A}, Bytes(card_.track2.begin(), card_.track2.begin() + long(std::min<size_t>(8, card_.track2.size()))));
        event(0x81, request);
      }
      break;
    case 0x04: {
      Bytes finished;
      tlv(finished, {0xC1}, {uint8_t(finishedStatus_ >> 8), uint8_t(finishedStatus_)});
      event(0x83, finished);
      break;
    }
    case 0x06: {
      // C1 the format, C2 the key id; the answer's first byte: tracks 1 and 2, the format.
      const uint8_t format = payload.size() >= 6 ? payload[5] : 0;
      result.push_back(uint8_t(format << 3 | 0x03));
      const Bytes encrypted = demoEncrypted(card_.track1, card_.track2);
      result.insert(result.end(), encrypted.begin(), encrypted.end());
      break;
    }
    case 0x08:
      tlv(result, {0xD3}, Bytes(card_.track1Masked.begin(), card_.track1Masked.end()));
      tlv(result, {0xD4}, Bytes(card_.track2Masked.begin(), card_.track2Masked.end()));
      break;
    case 0x61:
      initialised_ = true;
      break;
    case 0x62:
      initialised_ = false;
      break;
    default:
      break;
  }
  Bytes answer = {sub, 0x00};
  answer.insert(answer.end(), result.begin(), result.end());
  return answer;
}

// ---- Contactless passes -----------------------------------------------------------------------------

std::vector<Bytes> SleeveSecurity::vasCommands() const {
  std::lock_guard lock(mutex_);
  return vasCommands_;
}

std::optional<Bytes> SleeveSecurity::vas(uint8_t command, const Bytes& d, uint8_t* status) {
  std::lock_guard lock(mutex_);
  Bytes record = {command};
  record.insert(record.end(), d.begin(), d.end());
  vasCommands_.push_back(record);
  if (d.empty()) {
    *status = kStatusBadData;
    return Bytes{};
  }
  switch (d[0]) {
    case 0x10:
      if (d.size() >= 6) vasKeys_[d[1]] = uint32_t(d[d.size() - 4]) << 24 | uint32_t(d[d.size() - 3]) << 16 |
                                          uint32_t(d[d.size() - 2]) << 8 | d[d.size() - 1];
      return Bytes{};
    case 0x11: {
      if (d.size() < 2) return Bytes{};
      auto it = vasKeys_.find(d[1]);
      return it == vasKeys_.end() ? Bytes{} : be32(it->second);
    }
    default:
      return Bytes{};
  }
}

}  // namespace devices
