#include "sdk/pinpad/PPadIdentity.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra::ppad {

namespace {

uint32_t le32At(const foundation::Bytes& b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4 && at + i < b.size(); ++i) v |= uint32_t(b[at + i]) << (8 * i);
  return v;
}

std::string zeroText(const uint8_t* p, size_t max) {
  size_t n = 0;
  while (n < max && p[n]) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

bool contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string versionText(uint32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d.%02d.%02d", int(v >> 24), int((v >> 16) & 0xFF),
                int((v >> 8) & 0xFF), int(v & 0xFF));
  return buf;
}

Identification parseIdentification(const foundation::Bytes& reply) {
  Identification id;
  if (!reply.empty()) id.header = reply[0];
  id.firmwareVersion = le32At(reply, 1);
  if (reply.size() >= 46) {
    // At most 36 bytes of text fit the record, the terminating zero included.
    const size_t max = std::min<size_t>(reply.size() - 41, 35);
    id.featureString = zeroText(reply.data() + 41, max);
  }
  return id;
}

// ---- System information ----------------------------------------------------------------

namespace {
uint32_t rawLE32(const std::array<uint8_t, SystemInfo::kSize>& r, size_t at) {
  return foundation::readLE32(r.data() + at);
}
}  // namespace

foundation::Bytes SystemInfo::cpuSerial() const { return foundation::Bytes(raw.begin() + 2, raw.begin() + 18); }
uint32_t SystemInfo::cpuVersion() const { return rawLE32(raw, 20); }
uint32_t SystemInfo::cpuLoaderVersion() const { return rawLE32(raw, 24); }
uint32_t SystemInfo::cpuHALVersion() const { return rawLE32(raw, 28); }
uint32_t SystemInfo::serialNumber() const { return rawLE32(raw, 32); }
std::string SystemInfo::loaderName() const { return zeroText(raw.data() + 36, 16); }
uint32_t SystemInfo::loaderVersion() const { return rawLE32(raw, 52); }
std::string SystemInfo::firmwareName() const { return zeroText(raw.data() + 56, 16); }
uint32_t SystemInfo::firmwareVersion() const { return rawLE32(raw, 72); }

KXPinpadInfo SystemInfo::info() const {
  KXPinpadInfo i;
  i.cpuSerial = cpuSerial();
  i.cpuSerialString = KXUNISDKGlobals::toHexString(i.cpuSerial.data(), i.cpuSerial.size(), false);
  i.cpuVersion = cpuVersion();
  i.cpuLoaderVersion = cpuLoaderVersion();
  i.cpuHALVersion = cpuHALVersion();
  const uint32_t serial = serialNumber();
  foundation::appendBE32(i.pinpadSerial, serial);
  i.pinpadSerialString = std::to_string(serial);
  i.loaderName = loaderName();
  i.loaderVersion = loaderVersion();
  i.fwName = firmwareName();
  i.fwVersion = firmwareVersion();
  return i;
}

SystemInfo parseSystemInfo(const foundation::Bytes& reply) {
  SystemInfo info;
  auto& r = info.raw;
  if (reply.size() == 132) {
    auto copy = [&](size_t to, size_t from, size_t n) {
      std::copy(reply.begin() + long(from), reply.begin() + long(from + n), r.begin() + long(to));
    };
    r[0] = uint8_t(SystemInfo::kSize);
    copy(2, 0, 16);    // CPU serial
    copy(36, 16, 16);  // loader name
    copy(56, 32, 16);  // firmware name
    copy(76, 64, 4);
    copy(20, 68, 8);   // CPU version, CPU loader version
    copy(28, 76, 4);   // CPU HAL version
    copy(52, 80, 4);   // loader version
    copy(72, 84, 4);   // firmware version
    copy(32, 92, 4);   // serial number
    copy(80, 116, 4);
    copy(88, 120, 8);
    copy(96, 128, 4);
    return info;
  }
  size_t size = reply.size() >= 2 ? foundation::readLE16(reply.data()) : reply.size();
  size = std::min({size, reply.size(), SystemInfo::kSize});
  std::copy(reply.begin(), reply.begin() + long(size), r.begin());
  return info;
}

// ---- Models -----------------------------------------------------------------------------

std::optional<Model> modelFor(std::string_view deviceName) {
  const std::string name = lower(deviceName);
  using F = Model::Flag;
  Model m;
  if (contains(name, "vantorix")) {
    m.deviceType = 5;
    m.uiex = F::Set;
    m.uicolor = F::Cleared;
    return m;
  }
  if (contains(name, "skyrik550")) {
    m.deviceType = 4;
    m.displayWidth = 320;
    m.displayHeight = 240;
    m.statusHeight = 22;
    m.uiex = F::Set;
    return m;
  }
  if (contains(name, "skyrik5000g") || contains(name, "skyrik5000m") || contains(name, "skyrik55")) {
    m.deviceType = 4;
    m.displayWidth = 320;
    m.displayHeight = 240;
    m.statusHeight = 22;
    m.uiex = F::Set;
    m.uicolor = F::Set;
    m.enablePrinter = contains(name, "skyrik55");
    return m;
  }
  m.displayWidth = 128;
  m.displayHeight = 32;
  m.statusHeight = 6;
  m.builtInStatusLine = false;
  if (contains(name, "cq-nine") || contains(name, "sk500m")) {
    m.deviceType = 2;
    m.uiex = F::Set;
    return m;
  }
  if (contains(name, "skyrik500")) {
    m.deviceType = 3;
    m.displayAtBottom = true;
    return m;
  }
  if (contains(name, "skyrik") || contains(name, "ppad2")) {
    m.deviceType = 2;
    m.clearDeviceModel = true;
    m.cachingMode = true;
    return m;
  }
  return std::nullopt;
}

// ---- Features ----------------------------------------------------------------------------

foundation::Error featureNotSupportedError() {
  return KXUNISDKGlobals::makeError(0, "Feature not supported on the connected device(s)");
}

int supportedFeature(const FeatureContext& c, int feature, foundation::Error* error,
                     bool* needsEmvDetection, bool* emvKernelFound) {
  auto has = [&](std::string_view code) { return KXUNISDKGlobals::featCheck(code, c.featureString); };
  auto unsupported = [&] {
    const auto e = featureNotSupportedError();
    KXUNISDKGlobals::LOG("PPad: ERROR: %s", e.text.c_str());
    if (error) *error = e;
    return 0;
  };
  auto printer = [&] { return contains(c.deviceName, "SKYRIK5000") ? 1 : 0; };
  auto feature9 = [&] {
    if (c.deviceType == 5) return 0;
    return contains(c.deviceName, "Kestra") ? 0 : 1;
  };
  auto display = [&] {
    if (c.displayWidth == 128 && c.displayHeight == 32) return 4;
    if (c.displayWidth == 320 && c.displayHeight == 240) return c.uicolor ? 2 : 3;
    return feature9();
  };

  if (!c.featureString.empty()) {
    switch (feature) {
      case 0: {
        int mask = 0;
        if (has("CM")) mask |= 0x06;
        if (has("AM")) mask |= 0x02;
        if (has("PM")) mask |= 0x01;
        if (has("VM")) mask |= 0x08;
        if (has("EV")) mask |= 0x10;
        if (has("tM") || has("TM")) mask |= 0x20;
        return mask ? mask : unsupported();
      }
      case 1:
        for (auto code : {"OB", "XB", "1B", "2B", "BM"})
          if (has(code)) return 1;
        if (has("CB")) return 2;
        if (has("IB")) return 4;
        if (has("NB")) return 3;
        if (has("MB")) return 5;
        if ((contains(c.deviceName, "SKYRIK500") || contains(c.deviceName, "SK500")) &&
            !contains(c.deviceName, "SKYRIK5000"))
          return 1;
        return unsupported();
      case 2:
        return has("BL") ? 3 : unsupported();
      case 3:
      case 8:
        return 1;
      case 5: {
        int mask = 0;
        if (has("RF")) mask |= 0x01;
        if (has("R6") || has("R7")) mask |= 0x02;
        if (has("RH")) mask |= 0x04;
        return mask;
      }
      case 7:
        return printer();
      case 9:
        return feature9();
      case 10:
        if (has("PE")) {
          if (emvKernelFound) *emvKernelFound = true;
          return 5;
        }
        return 1;
      case 14:
        return has("HD") ? 1 : unsupported();
      case 15:
        return has("SC") ? 1 : unsupported();
      case 17:
        return display();
      default:
        return unsupported();
    }
  }

  switch (feature) {
    case 0: {
      int mask = 0x04;
      if (c.identificationFirmware >= 0x2042300) mask |= 0x20;
      if (c.identificationFirmware >= 0x2042606) mask |= 0x08;
      return mask;
    }
    case 1:
      return c.deviceType == 1 ? 1 : 3;
    case 2:
      return (c.deviceType == 1 || c.deviceType == 3) ? 3 : unsupported();
    case 5:
    case 8:
    case 9:
      return 1;
    case 7:
      return printer();
    case 10:
      if (needsEmvDetection) *needsEmvDetection = true;
      return 0;
    case 17:
      return display();
    default:
      return unsupported();
  }
}

// ---- Firmware file ------------------------------------------------------------------------

std::optional<FirmwareFileInfo> firmwareFileInformation(const foundation::Bytes& file) {
  static constexpr uint8_t kMagic[4] = {0x1F, 0xDB, 0x26, 0xD6};
  if (file.size() < 512 || !std::equal(kMagic, kMagic + 4, file.begin() + 508)) return std::nullopt;
  KXUNISDKGlobals::LOGDATA("PPad: FILE", file.data() + 500, 64 < file.size() - 500 ? 64 : file.size() - 500, false);
  FirmwareFileInfo info;
  info.deviceModel = "I";
  info.deviceName = "FW PPAD1";
  info.firmwareRevisionNumber = file[503] * 1000000 + file[502] * 10000 + file[501] * 100 + file[500];
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d.%02d.%02d", file[503], file[502], file[501], file[500]);
  info.firmwareRevision = buf;
  return info;
}

}  // namespace kestra::ppad

namespace kestra {

std::string KXKeyInfo::typeString() const {
  switch (type) {
    case 0: return "DUKPT_3DES_112";
    case 1: return "DUKPT_3DES_168";
    case 2: return "DUKPT_AES_128";
    case 3: return "DUKPT_AES_192";
    case 4: return "DUKPT_AES_256";
    case 64: return "AES_192";
    case 65: return "AES_128";
    case 72: return "HMAC";
    case 84: return "3DES_112";
    case 97: return "AES_256";
    case 116: return "3DES_168";
    default: return "Unknown";
  }
}

foundation::Bytes getTextBytes(std::string_view text) {
  foundation::Bytes out;
  out.reserve(text.size() + 1);
  auto unit = [&](uint32_t u) { out.push_back(u == 0x20AC ? 0x80 : uint8_t(u)); };
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = uint8_t(text[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else { cp = '?'; n = 1; }  // a stray byte stands for one replacement character
    if (i + n > text.size()) { cp = '?'; n = text.size() - i; }
    else
      for (size_t k = 1; k < n; ++k) cp = cp << 6 | (uint8_t(text[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {  // two UTF-16 units
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  out.push_back(0);
  return out;
}

}  // namespace kestra
