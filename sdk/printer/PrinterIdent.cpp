// Identification, status queries, label language and the key commands.
#include <cstring>
#include <random>

#include "sdk/foundation/AESCrypto.h"
#include "sdk/printer/PrinterImpl.h"
#include "sdk/printer/PrinterModels.h"

namespace kestra {

using foundation::Bytes;

namespace {
constexpr int kInfoCodes = 7;
bool secureRandom(uint8_t* out, size_t n) {
  std::random_device rd;
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(rd());
  return true;
}
}  // namespace

bool Printer::initCheck(Error* error) {
  PrinterShared& shared = PrinterShared::get();
  // Protocol-mode probe: four zero bytes; a printer that speaks frames answers them.
  static const uint8_t probe[4] = {0, 0, 0, 0};
  d_->packetmode = false;
  prnWrite(probe, printer::kChannelPrint, 4, 10, nullptr);
  uint8_t answer[32];
  if (prnRead(answer, printer::kChannelPrint, 4, 1.0, kNoStopByte, nullptr) == 4) {
    d_->packetmode = true;
    clearReceive(printer::kChannelPrint);
  }
  static const uint8_t ident[2] = {0x1B, 0x5A};
  prnWrite(ident, printer::kChannelPrint, 2, 5, nullptr);
  const int n = prnRead(answer, printer::kChannelPrint, 32, 0.7, kNoStopByte, nullptr);
  KXUNISDKGlobals::LOG("PRN:ident %d bytes", n);
  const auto id = printer::parseIdentification(answer, n > 0 ? size_t(n) : 0);
  if (!id) return Impl::fail(error, -6, "Printer did not respond to the identification");

  KXPrinterInfo info;
  d_->fwver = id->fwver;
  info.labelModeSupported = id->labelModeSupported;
  d_->printer = printer::kUnknownModel;
  const int cls = printer::modelClassForName(id->name);
  {
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    d_->deviceName = id->name;
  }
  if (cls == printer::kUnknownModel) {
    std::lock_guard<std::mutex> lock(d_->infoMutex);
    d_->info = info;
    return Impl::fail(error, -7, "The printer model is not supported");
  }
  int feed = shared.feedlines;
  printer::applyModelClass(cls, *id, id->name, &info, &feed);
  d_->printer = cls;
  shared.feedlines = feed;

  if (info.labelModeSupported && printer::asksLabelSettings(id->name)) {
    static const uint8_t settings[3] = {0x1B, 0x73, 0x30};
    if (prnWrite(settings, printer::kChannelPrint, 3, 10, nullptr)) {
      uint8_t text[128];
      const int m = prnRead(text, printer::kChannelPrint, int(sizeof text), 200, 0, nullptr);
      if (m > 0) {
        const std::string s(reinterpret_cast<const char*>(text), strnlen(reinterpret_cast<const char*>(text), size_t(m)));
        const auto ls = printer::parseLabelSettings(s);
        if (ls.labelModeActive) info.labelModeActive = *ls.labelModeActive;
        if (ls.autoOffMinutes) info.autoOffTime = *ls.autoOffMinutes * 60.0;
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(d_->infoMutex);
    d_->info = info;
  }
  shared.pagewidth = info.paperWidthPx;
  bool needSerial;
  {
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    d_->deviceModel.clear();
    d_->firmwareRevision = printer::firmwareText(id->fwver);
    if (d_->hardwareRevision.empty()) d_->hardwareRevision = "1.0.0";
    needSerial = d_->serialNumber.empty();
  }
  if (needSerial) {
    const std::string serial = getPrinterSerialNumber(nullptr).value_or("");
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    d_->serialNumber = serial;
  }
  KXUNISDKGlobals::LOG("PRN(%d):Printer connected!", d_->index);
  return true;
}

bool Printer::initCheckZPL(Error* error) {
  try {
    d_->initVariables(*this);
    if (!prnWrite("~HI", printer::kChannelLabel, nullptr))
      return Impl::fail(error, -6, "Label printer did not respond to the identification");
    const auto line = prnReadLineFromChannel(printer::kChannelLabel, 1.0, nullptr);
    const auto id = line ? printer::parseLabelIdentity(*line) : std::nullopt;
    if (!id) return Impl::fail(error, -6, "Label printer did not respond to the identification");
    {
      std::lock_guard<std::mutex> lock(d_->linkMutex);
      d_->deviceName = id->name;
      d_->deviceModel.clear();
      d_->firmwareRevision = id->firmware;
    }
    if (!prnWrite("~HQSN", printer::kChannelLabel, nullptr) ||
        !prnReadLineFromChannel(printer::kChannelLabel, 1.0, nullptr))
      return Impl::fail(error, -6, "Label printer did not respond to the serial number query");
    const auto serial = prnReadLineFromChannel(printer::kChannelLabel, 1.0, nullptr);
    if (!serial) return Impl::fail(error, -6, "Label printer did not respond to the serial number query");
    std::string s = *serial;
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    d_->serialNumber = s;
    return true;
  } catch (...) {
    return Impl::fail(error, -6, "Label printer did not respond to the identification");
  }
}

std::optional<KXPrinterInfo> Printer::getPrinterInfo(Error* error) {
  if (d_->connstate != 2) {
    Impl::fail(error, -20, "Device not connected");
    return std::nullopt;
  }
  std::lock_guard<std::mutex> lock(d_->infoMutex);
  d_->info.paperPresent = !d_->packetmode || !(d_->laststatus & printer::kStatusPaperOut);
  return d_->info;
}

namespace {
// ESC ` : battery and temperature, two bytes.
bool readBatteryTemperature(Printer& p, bool escpos, uint8_t out[2], Error* error) {
  if (escpos) return Printer::Impl::fail(error, -7, "Function not supported on the connected device");
  static const uint8_t q[2] = {0x1B, 0x60};
  if (!p.prnWrite(q, printer::kChannelPrint, 2, 10, error)) return false;
  if (p.prnRead(out, printer::kChannelPrint, 2, 10, kNoStopByte, nullptr) != 2)
    return Printer::Impl::fail(error, -6, "Timeout waiting for data");
  return true;
}
}  // namespace

int Printer::getBattery(Error* error) {
  uint8_t b[2];
  return readBatteryTemperature(*this, d_->escpos, b, error) ? b[0] - 0x20 : 0;
}

int Printer::getTemperature(Error* error) {
  uint8_t b[2];
  return readBatteryTemperature(*this, d_->escpos, b, error) ? b[1] - 0x20 : 0;
}

bool Printer::getInfo(int infoCode, int* data, Error* error) {
  if (d_->escpos) return Impl::fail(error, -7, "Function not supported on the connected device");
  if (!data) return Impl::fail(error, -9, "Data cannot be nil");
  if (infoCode < 0 || infoCode > kInfoCodes) return Impl::fail(error, -9, "Invalid info code");
  const KXPrinterInfo info = d_->infoCopy();
  switch (infoCode) {
    case 0: {
      const int v = getBattery(error);
      *data = v;
      return v != 0;
    }
    case 1: {
      Error e;
      const int v = getBattery(&e);
      if (e.isError()) return foundation::fail(error, e);
      *data = printer::batteryPercent(d_->printer, v);
      return true;
    }
    case 2:
    case 3: {
      Error e;
      const int v = getTemperature(&e);
      if (e.isError()) return foundation::fail(error, e);
      *data = infoCode == 2 ? v : printer::temperatureFahrenheit(v);
      return true;
    }
    case 4: *data = d_->fwver; return true;
    case 5: *data = d_->printer; return true;
    case 6: *data = info.paperWidthPx; return true;
    default: *data = info.maxPageModeHeightPx; return true;
  }
}

std::optional<std::string> Printer::getPrinterSerialNumber(Error* error) {
  const int cls = d_->printer;
  if (cls < 1 || cls > 7) {
    Impl::fail(error, -7, "Function not supported on the connected device");
    return std::nullopt;
  }
  static const uint8_t q[2] = {0x1B, 0x4E};
  if (!prnWrite(q, printer::kChannelPrint, 2, 10, error)) return std::nullopt;
  uint8_t buf[50];
  const int n = prnRead(buf, printer::kChannelPrint, int(sizeof buf), 10, 0, nullptr);
  if (n <= 0) {
    Impl::fail(error, -6, "Timeout wiating for data");
    return std::nullopt;
  }
  if (n == 1) return std::string();
  return std::string(reinterpret_cast<const char*>(buf), strnlen(reinterpret_cast<const char*>(buf), size_t(n)));
}

namespace {
bool blackMark(Printer& p, bool labelActive, uint8_t n, int* out, bool readAnswer, Error* error) {
  if (!labelActive)
    return Printer::Impl::fail(error, -7, "The conencted printer does not support blackmark");
  const uint8_t q[5] = {0x1B, 0x43, 0x41, 0x4C, n};
  if (!p.prnWrite(q, printer::kChannelPrint, 5, 10, error)) return false;
  uint8_t a = 0;
  if (p.prnRead(&a, printer::kChannelPrint, 1, 10, kNoStopByte, nullptr) != 1) {
    if (!readAnswer) return true;
    return Printer::Impl::fail(error, -6, "Timeout waiting for data");
  }
  if (out) *out = a;
  return true;
}
}  // namespace

bool Printer::getBlackMarkTreshold(int* threshold, Error* error) {
  return blackMark(*this, d_->infoCopy().labelModeActive, 1, threshold, true, error);
}

bool Printer::setBlackMarkTreshold(int threshold, Error* error) {
  if (!d_->infoCopy().labelModeActive)
    return Impl::fail(error, -7, "The conencted printer does not support blackmark");
  if (threshold < 0x20 || threshold > 0xC0)
    return Impl::fail(error, -9, "Treshold value must be between 0x20 and 0xC0");
  return blackMark(*this, true, uint8_t(threshold), nullptr, false, error);
}

bool Printer::calibrateBlackMark(int* threshold, Error* error) {
  return blackMark(*this, d_->infoCopy().labelModeActive, 3, threshold, true, error);
}

int Printer::prnGetMaxLabelLength(Error* error) {
  if (d_->printer != 11 || d_->fwver <= 256) {
    Impl::fail(error, -7, "Function requires VKP-255 2.57 or later");
    return 0;
  }
  static const uint8_t q[4] = {0x1B, 0x34, 0x00, 0x00};
  if (!prnWrite(q, printer::kChannelPrint, 4, 10, error)) return 0;
  uint8_t a[2];
  if (prnRead(a, printer::kChannelPrint, 2, 1.0, kNoStopByte, nullptr) != 2) {
    Impl::fail(error, -6, "Timeout waiting for data");
    return 0;
  }
  return foundation::readLE16(a);
}

bool Printer::prnSetMaxLabelLength(int length, Error* error) {
  if (d_->printer != 11 || d_->fwver <= 256)
    return Impl::fail(error, -7, "Function requires VKP-255 2.57 or later");
  if (length < 0 || length > 0xFFFF) return Impl::fail(error, -9, "Invalid label length");
  const uint8_t q[4] = {0x1B, 0x34, uint8_t(length), uint8_t(length >> 8)};
  if (!prnWrite(q, printer::kChannelPrint, 4, 10, error)) return false;
  uint8_t a[2];
  if (prnRead(a, printer::kChannelPrint, 2, 2.0, kNoStopByte, nullptr) != 2)
    return Impl::fail(error, -6, "Timeout waiting for data");
  return true;
}

bool Printer::prnSetAutoOffTime(int seconds, Error* error) {
  const int minutes = std::clamp(seconds / 60, 0, 255);
  const uint8_t q[5] = {0x1B, 0x78, uint8_t(minutes), 0x1B, 0x5E};
  if (!prnWrite(q, printer::kChannelPrint, 3, 10, error)) return false;
  if (!prnWrite(q + 3, printer::kChannelPrint, 2, 10, error)) return false;
  Impl::pause(std::chrono::milliseconds(500));
  return true;
}

bool Printer::setGenericPrinterSettingsPageWidth(int pageWidth, int feedLines, Error*) {
  if (d_->escpos) {
    PrinterShared::get().pagewidth = pageWidth;
    PrinterShared::get().feedlines = feedLines;
  }
  return true;
}

// ---- Keys ------------------------------------------------------------------------------------

namespace {
constexpr const char* kNoHead = "No encrypted magnetic head present or printer is not in protocol mode";
}

std::optional<Bytes> Printer::cryptoRawGenerateRandomData(Error* error) {
  if (d_->printer != 3 || !d_->packetmode) {
    Impl::fail(error, -7, kNoHead);
    return std::nullopt;
  }
  const uint8_t q = 16;
  Bytes out;
  if (sendCommand(printer::kChannelPrint, printer::kOpGenerateRandom, &q, 1, &out, 10, error) < 0)
    return std::nullopt;
  if (out.size() != 16) {
    Impl::fail(error, -6, "Invalid random data length received");
    return std::nullopt;
  }
  return out;
}

bool Printer::cryptoRawSetKey(int keyID, const Bytes& encryptedData, Error* error) {
  if (d_->printer != 3 || !d_->packetmode) return Impl::fail(error, -7, kNoHead);
  if (keyID != KEY_AUTHENTICATION && keyID != KEY_ENCRYPTION)
    return Impl::fail(error, -9, "KeyID must be between KEY_AUTHENTICATION or KEY_ENCRYPTION");
  if (encryptedData.size() != 48) return Impl::fail(error, -9, "Encrypted key data must be 48 bytes long");
  Bytes payload;
  payload.push_back(uint8_t(keyID));
  payload.insert(payload.end(), encryptedData.begin(), encryptedData.end());
  foundation::appendBE16(payload, KXUNISDKGlobals::crc16ccit(payload.data(), 49, 0));
  const bool ok = sendCommand(printer::kChannelPrint, printer::kOpSetKey, payload.data(), payload.size(),
                              nullptr, 10, error) >= 0;
  foundation::secureClear(payload);
  return ok;
}

bool Printer::cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, Error* error) {
  if (keyID != KEY_AUTHENTICATION && keyID != KEY_ENCRYPTION)
    return Impl::fail(error, -9, "KeyID must be between KEY_AUTHENTICATION or KEY_ENCRYPTION");
  if (key.size() != 32 || (oldKey && oldKey->size() != 32))
    return Impl::fail(error, -9, "Key must be 32 bytes long");
  // The key commands are offered to this call whatever model class identification found;
  // the class itself stays as identified.
  const int cls = d_->printer;
  const bool packetmode = d_->packetmode;
  d_->printer = 3;
  d_->packetmode = true;
  auto random = cryptoRawGenerateRandomData(error);
  bool ok = false;
  if (random) {
    Bytes block = *random;
    block.insert(block.end(), key.begin(), key.end());
    std::optional<Bytes> sent = block;
    if (oldKey) sent = AESCrypto::cryptoWithKey(*oldKey).encryptData(block, error);
    if (sent) ok = cryptoRawSetKey(keyID, *sent, error);
    foundation::secureClear(block);
    if (sent) foundation::secureClear(*sent);
  }
  d_->printer = cls;
  // A printer that did not take the key in protocol mode is not spoken to in it afterwards:
  // every later print would wait for framed answers that never come.
  if (!ok) d_->packetmode = packetmode;
  return ok;
}

std::optional<Bytes> Printer::cryptoRawAuthenticatePrinter(const Bytes& randomData, Error* error) {
  if (d_->printer != 3 || !d_->packetmode) {
    Impl::fail(error, -7, kNoHead);
    return std::nullopt;
  }
  if (randomData.size() != 16) {
    Impl::fail(error, -9, "randomData must be 16 bytes long");
    return std::nullopt;
  }
  Bytes out;
  if (sendCommand(printer::kChannelPrint, printer::kOpAuthenticate, randomData.data(), 16, &out, 10,
                  error) < 0)
    return std::nullopt;
  if (out.size() != 16) {
    Impl::fail(error, -6, "Invalid random data length received");
    return std::nullopt;
  }
  return out;
}

bool Printer::cryptoAuthenticatePrinter(const Bytes& key, Error* error) {
  if (key.size() != 32) return Impl::fail(error, -9, "Key must be 32 bytes long");
  Bytes challenge(16);
  secureRandom(challenge.data(), challenge.size());
  const auto expected = AESCrypto::cryptoWithKey(key).encryptData(challenge, error);
  if (!expected) return false;
  Bytes out;
  if (sendCommand(printer::kChannelPrint, printer::kOpAuthenticate, challenge.data(), 16, &out, 10,
                  error) < 0)
    return false;
  if (out.size() != 16) return Impl::fail(error, -6, "Invalid data size received");
  uint8_t diff = 0;
  for (size_t i = 0; i < 16; ++i) diff |= uint8_t(out[i] ^ (*expected)[i]);
  if (diff != 0) return Impl::fail(error, -20, "Keys do not match");
  return true;
}

}  // namespace kestra
