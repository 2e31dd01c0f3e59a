#include "testing/devices/pinpad/PinpadModel.h"

#include <algorithm>

namespace devices {

namespace {

constexpr uint8_t kOK = 0;
constexpr uint8_t kInvalidCommand = 2;
constexpr uint8_t kInvalidLength = 6;
constexpr uint8_t kNoData = 8;
constexpr uint8_t kInvalidSequence = 30;

uint8_t xorOf(const Bytes& b) {
  uint8_t x = 0;
  for (uint8_t v : b) x ^= v;
  return x;
}

void putLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void putText(Bytes& b, size_t at, const std::string& s, size_t max) {
  for (size_t i = 0; i < s.size() && i < max - 1; ++i) b[at + i] = uint8_t(s[i]);
}

PinpadModel::Answer ok(Bytes data = {}) { return {kOK, std::move(data)}; }
PinpadModel::Answer status(uint8_t s) { return {s, {}}; }

}  // namespace

PinpadPersona PinpadPersona::skyrik5000g() {
  PinpadPersona p;
  p.firmwareName = "FW SKYRIK5000G";
  p.firmwareVersion = 0x02042740;
  p.identificationFirmware = 0x02042740;  // 2.4.39.64
  p.featureString = "XBRFCMEVSCBL";
  p.serialNumber = 5000123;
  p.displayWidth = 320;
  p.displayHeight = 240;
  p.colourDisplay = true;
  p.printer = true;
  return p;
}

PinpadPersona PinpadPersona::skyrik500() {
  PinpadPersona p;
  p.firmwareName = "FW SKYRIK500";
  p.firmwareVersion = 0x02042605;
  p.identificationFirmware = 0x02042605;
  p.featureString = "OBCMPE";
  p.serialNumber = 500777;
  p.displayWidth = 128;
  p.displayHeight = 32;
  return p;
}

PinpadPersona PinpadPersona::ppad2() {
  PinpadPersona p;
  p.firmwareName = "FW PPAD2";
  p.firmwareVersion = 0x02030100;
  p.identificationFirmware = 0x02030100;
  p.serialNumber = 42;
  p.olderSystemInfo = true;
  p.displayWidth = 128;
  p.displayHeight = 32;
  return p;
}

PinpadModel::PinpadModel(PinpadPersona p)
    : persona(std::move(p)), screen(persona.displayWidth, persona.displayHeight, persona.colourDisplay) {
  settings[0x02] = {20};
  settings[0x03] = {5, 0};
  settings[0x06] = {1};
  settings[0x07] = {50};
}

Bytes PinpadModel::packet(uint8_t type, uint8_t st, const Bytes& data) {
  Bytes out = {0x3E, type, st, uint8_t(data.size() >> 8), uint8_t(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(xorOf(out));
  return out;
}

Bytes PinpadModel::responsePacket(uint8_t st, const Bytes& data) { return packet(0x00, st, data); }

Bytes PinpadModel::identification() const {
  Bytes r(41, 0);
  r[0] = 0x01;
  putLE32(r, 1, persona.identificationFirmware);
  if (!persona.featureString.empty()) {
    for (char c : persona.featureString) r.push_back(uint8_t(c));
    r.push_back(0);
    while (r.size() < 46) r.push_back(0);
  }
  return r;
}

Bytes PinpadModel::systemInfo() const {
  if (persona.olderSystemInfo) {
    Bytes r(132, 0);
    for (int i = 0; i < 16; ++i) r[size_t(i)] = uint8_t(0x30 + i);
    putText(r, 16, "LOADER", 16);
    putText(r, 32, persona.firmwareName, 16);
    putLE32(r, 84, persona.firmwareVersion);
    putLE32(r, 92, persona.serialNumber);
    return r;
  }
  Bytes r(100, 0);
  r[0] = 100;
  for (int i = 0; i < 16; ++i) r[2 + size_t(i)] = uint8_t(0xA0 + i);
  putLE32(r, 32, persona.serialNumber);
  putText(r, 36, "LOADER", 16);
  putText(r, 56, persona.firmwareName, 16);
  putLE32(r, 72, persona.firmwareVersion);
  r[91] = 1;
  return r;
}

std::optional<PinpadModel::Answer> PinpadModel::handle(uint8_t group, const Bytes& d) {
  const int sub = d.empty() ? -1 : d[0];
  if (auto it = refuse.find({group, sub}); it != refuse.end()) return status(it->second);
  if (std::find(mute.begin(), mute.end(), std::make_pair(int(group), sub)) != mute.end()) return std::nullopt;
  switch (group) {
    case 0x01:
      return ok(identification());
    case 0xFF:
      return ok();
    case 0x36:
      return system(d);
    case 0x38:
      return barcode(d);
    case 0x39:
      if (rfReader) {
        rfReader(d);
        return ok();
      }
      return mifare(d);
    case 0x3A:
      return bluetooth(d);
    case 0x34:
      return magnetic(d);
    case 0x35:
      return userInterface(d);
    case 0x33:
      return smartCardCommand(d);
    case 0x42:
      if (!persona.printer) return status(kInvalidCommand);
      return printerChannel(d);
    case 0x3B: {
      // An encrypted-head packet: [command][0][length BE][data]; the reply [0][status][length BE][data].
      if (d.size() >= 5 && d[0] == 0x51 && d[4] == 0x22 && !encryptedBlock.empty()) {
        Bytes r(4 + encryptedBlock.size());
        r[2] = uint8_t(encryptedBlock.size() >> 8);
        r[3] = uint8_t(encryptedBlock.size());
        std::copy(encryptedBlock.begin(), encryptedBlock.end(), r.begin() + 4);
        return ok(r);
      }
      return ok(Bytes{0x00, 0x01, 0x00, 0x00});
    }
    case 0x02:
      return ok(Bytes(16, 0x5A));
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x31:
      return crypto(group, d);
    case 0x32:
      return keysAndCertificates(d);
    case 0x37:
      return emv(d);
    case 0x3C:
    case 0x3E: {  // the EMV kernel's channel: its two leading bytes, then the request back
      if (emv2Kernel) {
        auto reply = emv2Kernel->handle(d, emv2Events);
        return reply ? ok(*reply) : status(kInvalidSequence);
      }
      if (!emv2Channel) return status(kInvalidCommand);
      Bytes r = {group, 0x00};
      r.insert(r.end(), d.begin(), d.end());
      return ok(r);
    }
    case 0x3F:
    case 0x43:
    case 0x50:
    case 0x60:
      return ok(d);  // the payment channels echo their requests
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::system(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  switch (d[0]) {
    case 0x15:
      if (d.size() < 2) return status(kInvalidLength);
      if (auto it = settings.find(d[1]); it != settings.end()) return ok(it->second);
      return status(5);
    case 0x16:
      if (d.size() < 3) return status(kInvalidLength);
      settings[d[1]] = Bytes(d.begin() + 2, d.end());
      return ok();
    case 0x01:
      return ok(Bytes(clock.begin(), clock.end()));
    case 0x02:
      if (d.size() != 7) return status(kInvalidLength);
      std::copy(d.begin() + 1, d.end(), clock.begin());
      return ok();
    case 0x03:
      beeps.emplace_back(d.begin() + 1, d.end());
      return ok();
    case 0x05:
      if (d.size() >= 2) statusLine = d[1] != 0;
      return ok();
    case 0x09:
      return ok(systemInfo());
    case 0x0A:
      return ok(hardwareInfo);
    case 0x0B:
      return ok();
    case 0x0C:
      ++restarts;
      return ok();
    case 0x0D:
      updating = true;
      updateEnded = false;
      firmwarePages.clear();
      return ok();
    case 0x0E:
      if (!updating) return status(kInvalidSequence);
      firmwarePages.emplace_back(d.begin() + 1, d.end());
      return ok();
    case 0x0F: {
      if (!updating) return status(kInvalidSequence);
      updating = false;
      updateEnded = true;
      // The loader takes an image that carries the firmware magic: its version is the one
      // the pinpad reports from now on.
      Bytes image;
      for (const auto& p : firmwarePages) image.insert(image.end(), p.begin(), p.end());
      if (image.size() >= 512 && image[508] == 0x1F && image[509] == 0xDB && image[510] == 0x26 &&
          image[511] == 0xD6) {
        const uint32_t v = uint32_t(image[500]) | uint32_t(image[501]) << 8 | uint32_t(image[502]) << 16 |
                           uint32_t(image[503]) << 24;
        persona.firmwareVersion = v;
        persona.identificationFirmware = v;
      }
      return ok();
    }
    case 0x10:
      if (d.size() != 5) return status(kInvalidLength);
      events = uint32_t(d[1]) | uint32_t(d[2]) << 8 | uint32_t(d[3]) << 16 | uint32_t(d[4]) << 24;
      return ok();
    case 0x14:
      if (d.size() < 2) return status(kInvalidLength);
      if (d[1] == 0x66) {
        btUpdated = true;
        btUpdateData.assign(d.begin() + 2, d.end());
        return ok();
      }
      if (d[1] == 0x67) {
        Bytes v(btFirmware.begin(), btFirmware.end());
        v.push_back(0);
        v.push_back('x');  // bytes after the zero are not part of the text
        return ok(v);
      }
      if (d[1] == 0x68) {
        btInitData.assign(d.begin() + 2, d.end());
        return ok();
      }
      return status(kInvalidCommand);
    case 0x19:
      if (d.size() != 7 || d[1] != 0x03) return status(kInvalidLength);
      baud = int(uint32_t(d[2]) | uint32_t(d[3]) << 8 | uint32_t(d[4]) << 16 | uint32_t(d[5]) << 24);
      return ok();
    default:
      return ok();
  }
}

std::optional<PinpadModel::Answer> PinpadModel::barcode(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  switch (d[0]) {
    case 0x01:
      scanning = true;
      return ok();
    case 0x02:
      return status(nextBarcode.empty() ? kNoData : kOK);
    case 0x03: {
      if (nextBarcode.empty()) return status(kNoData);
      Bytes b = nextBarcode;
      nextBarcode.clear();
      return ok(b);
    }
    case 0x04:
      scanning = false;
      return ok();
    case 0x05:
      if (d.size() == 1) return ok(Bytes{uint8_t(scanWireMode)});
      scanWireMode = d[1];
      return ok();
    case 0x06:
      initData.assign(d.begin() + 1, d.end());
      return ok();
    case 0x07:
      scanBeep.assign(d.begin() + 1, d.end());
      return ok();
    case 0x0B:
      return ok(Bytes(d.begin() + 1, d.end()));
    default:
      return ok();
  }
}

std::optional<PinpadModel::Answer> PinpadModel::mifare(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  auto be32 = [&](size_t at) {
    return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
  };
  auto serialBytes = [](uint32_t s) {
    return Bytes{uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s)};
  };
  switch (d[0]) {
    case 0x00:
      if (d.size() < 2) return status(kInvalidLength);
      rfField = d[1] != 0;
      return ok();
    case 0x01:
      return ok(Bytes{0x00});
    case 0x02:
      if (requestFailures > 0) {
        --requestFailures;
        return ok(Bytes{0x01});
      }
      if (!card) return ok(Bytes{0x01});
      return ok(Bytes{0x00, card->atq1, card->atq2});
    case 0x03: {
      if (!card) return ok(Bytes{0x01});
      const Bytes s = serialBytes(card->serial);
      return ok(Bytes{0x00, s[0], s[1], s[2], s[3]});
    }
    case 0x04:
      if (d.size() != 5) return status(kInvalidLength);
      if (!card || be32(1) != card->serial) return ok(Bytes{0x02});
      cardSelected = true;
      return ok(Bytes{0x00, card->sak});
    case 0x05:
      if (d.size() != 13) return status(kInvalidLength);
      lastAuthSerial = be32(8);
      lastAuthBlock = d[12];
      return ok(Bytes{uint8_t(card && lastAuthSerial == card->serial ? 0x00 : 0x03)});
    case 0x06: {
      if (d.size() != 2) return status(kInvalidLength);
      if (!card || d[1] >= card->blocks.size()) return ok(Bytes(17, 0x04));
      Bytes r(17, 0x00);
      std::copy(card->blocks[d[1]].begin(), card->blocks[d[1]].end(), r.begin() + 1);
      return ok(r);
    }
    case 0x07:
      if (d.size() != 18) return status(kInvalidLength);
      if (!card || d[1] >= card->blocks.size()) return ok(Bytes{0x04});
      std::copy(d.begin() + 2, d.end(), card->blocks[d[1]].begin());
      return ok(Bytes{0x00});
    case 0x08:
      if (d.size() != 8) return status(kInvalidLength);
      return ok(Bytes{0x00});
    case 0x0A: {
      const Bytes s = serialBytes(readerSerial);
      return ok(Bytes{0x00, s[0], s[1], s[2], s[3]});
    }
    case 0x0C:
      return ok(Bytes{0x00});
    case 0x0D:
      if (d.size() != 8 || d[1] > 31) return status(kInvalidLength);
      std::copy(d.begin() + 2, d.end(), keySlots[d[1]].begin());
      return ok(Bytes{0x00});
    case 0x0E:
      if (d.size() != 8) return status(kInvalidLength);
      lastAuthSerial = be32(2);
      lastAuthBlock = d[7];
      return ok(Bytes{0x00});
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::bluetooth(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  switch (d[0]) {
    case 0x01:
      if (d.size() < 2) return status(kInvalidLength);
      if (!btEnabled && d[1]) ++btPowerCycles;
      btEnabled = d[1] != 0;
      if (btEnabled)
        btModuleSent(btModule.powerOn());
      else
        btModule.powerOff();
      return ok();
    case 0x02:
      if (d.size() - 1 > 240) return status(kInvalidLength);
      btReceived.insert(btReceived.end(), d.begin() + 1, d.end());
      btModuleSent(btModule.receive(std::string(d.begin() + 1, d.end())));
      return ok();
    case 0x03: {
      if (btOut.empty()) return status(kNoData);
      Bytes b = btOut.front();
      btOut.erase(btOut.begin());
      return ok(b);
    }
    default:
      return status(kInvalidCommand);
  }
}

void PinpadModel::btModuleSent(const std::string& bytes) {
  if (bytes.empty()) return;
  Bytes b(bytes.begin(), bytes.end());
  if (btNotifyEmpty) {
    btOut.push_back(std::move(b));
    btPackets.emplace_back();
  } else {
    btPackets.push_back(std::move(b));
  }
}

}  // namespace devices
