#pragma once
// Reading what a pinpad says about itself: the identification reply, the system
// information record (two layouts), the model table that decides display and user-interface
// generation, the supported-feature tables, the firmware file header, and the pinpad's
// single-byte text form.
//
// Pure functions over bytes and values; safe on any thread. Replies of any length are
// accepted: fields the reply does not reach stay zero or empty, nothing is read beyond it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/pinpad/KXPinpadInfo.h"

namespace kestra::ppad {

// "%d.%02d.%02d.%02d" from the most significant byte down.
std::string versionText(uint32_t version);

// The identification record (`devInfo`), from the reply of group 0x01.
struct Identification {
  uint32_t header = 0;           // reply byte 0
  uint32_t firmwareVersion = 0;  // reply bytes 1-4, least significant first
  std::string featureString;     // from reply byte 41, only when the reply has 46 bytes or more
};
Identification parseIdentification(const foundation::Bytes& reply);
// The firmware version at which the newer user interface starts (2.4.39.64).
inline constexpr uint32_t kUiexFirmware = 33826624;

// The system information record, 100 bytes, little-endian numbers.
struct SystemInfo {
  static constexpr size_t kSize = 100;
  std::array<uint8_t, kSize> raw{};

  foundation::Bytes cpuSerial() const;         // 16 bytes at 2
  uint32_t cpuVersion() const;                 // 20
  uint32_t cpuLoaderVersion() const;           // 24
  uint32_t cpuHALVersion() const;              // 28
  uint32_t serialNumber() const;               // 32
  std::string loaderName() const;              // 36, zero-terminated
  uint32_t loaderVersion() const;              // 52
  std::string firmwareName() const;            // 56, zero-terminated
  uint32_t firmwareVersion() const;            // 72
  bool isDevelopmentUnit() const { return raw[91] == 0; }
  KXPinpadInfo info() const;
};
// The record from a `sysGetSystemInfo` reply: the 132-byte older layout is mapped, any
// other reply is the record itself (its first two bytes give its size; at most 100 bytes
// and never more than the reply holds are taken).
SystemInfo parseSystemInfo(const foundation::Bytes& reply);

// What the model name decides (identification's model step).
struct Model {
  int deviceType = 0;
  int displayWidth = 0, displayHeight = 0;
  int statusHeight = 0;
  bool displayAtBottom = false;
  enum class Flag { Unchanged, Set, Cleared };
  Flag uiex = Flag::Unchanged;
  Flag uicolor = Flag::Unchanged;
  bool builtInStatusLine = true;
  bool enablePrinter = false;     // "skyrik55" names: enable the printer in the model step
  bool clearDeviceModel = false;  // the model text is emptied
  bool cachingMode = false;       // commands are cached for the rest of the model step
};
// The first row whose text the lower-cased `deviceName` contains; nothing when none does.
std::optional<Model> modelFor(std::string_view deviceName);

// What the feature query needs to know of the driver.
struct FeatureContext {
  std::string featureString;
  std::string deviceName;
  int deviceType = 0;
  int displayWidth = 0, displayHeight = 0;
  bool uicolor = false;
  uint32_t identificationFirmware = 0;
};
// Answers feature `feature` from the feature string, or from the fallback table when the
// string is empty. Feature 10 is answered only from the feature string; with an empty
// string `needsEmvDetection` is set and the caller detects the kernel. `emvKernelFound` is
// set when the feature string names the kernel ("PE"). An unsupported feature returns 0
// and fills `error` (code 0, "Feature not supported on the connected device(s)").
int supportedFeature(const FeatureContext& context, int feature, foundation::Error* error,
                     bool* needsEmvDetection = nullptr, bool* emvKernelFound = nullptr);
foundation::Error featureNotSupportedError();

// The pinpad firmware file: at least 512 bytes with the magic 1F DB 26 D6 at offset 508.
struct FirmwareFileInfo {
  std::string deviceModel;  // "I"
  std::string deviceName;   // "FW PPAD1"
  int firmwareRevisionNumber = 0;
  std::string firmwareRevision;
};
std::optional<FirmwareFileInfo> firmwareFileInformation(const foundation::Bytes& file);

}  // namespace kestra::ppad

namespace kestra {
// The pinpad's single-byte text: each UTF-16 code unit of `text` (UTF-8) becomes its low
// byte, the euro sign becomes 0x80, and a zero byte ends it.
foundation::Bytes getTextBytes(std::string_view text);
}  // namespace kestra
