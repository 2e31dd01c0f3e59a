#pragma once
// The sleeve's firmware file: its header, read without trusting the file, and the rules
// that match a file's name and model to a connected sleeve.
//
// The header sits at 0x100 of an image of at least 512 bytes: maker word "SABREL" (16
// bytes, NUL-ended), model (16), name (16), then four version bytes at 0x130. The whole
// image, header included, is what the sleeve's boot loader receives.
//
// Pure functions; any thread. A file that is short, from another maker or without name and
// model is refused with -21 and never reads past its end (fields without their NUL end at
// 16 bytes).

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra::pellan {

inline constexpr size_t kFirmwareFileMinSize = 512;

struct FirmwareFileInfo {
  std::string deviceModel;
  std::string deviceName;
  int firmwareRevisionNumber = 0;  // major x 1000 + minor x 100 + build
  std::string firmwareRevision;    // "%d.%02d.%02d", or "%d.%02d.0" for an old-style header
  // The dictionary of the SDK's interface: "deviceModel", "deviceName",
  // "firmwareRevisionNumber", "firmwareRevision".
  nlohmann::json toJson() const;
};

// -21 "Data is nil or invalid" (short), -21 "Data is invalid" (maker word, empty name or
// model).
std::optional<FirmwareFileInfo> readFirmwareFile(const foundation::Bytes& image,
                                                 foundation::Error* error);

// Names match when equal; a sleeve name starting "ZizoriD" is compared with every "HC"
// removed from both.
bool firmwareNameEqual(std::string_view sleeveName, std::string_view fileName);
// The sleeve's model (every "PM" read as "AM") holds every two-letter code of `model`, and
// both have the same length; an empty model matches. A last single character (odd length)
// must occur in the sleeve's model as well.
bool firmwareModelEqual(std::string_view sleeveModel, std::string_view model);
// Every occurrence of `from` replaced by `to`.
std::string replaceAll(std::string text, std::string_view from, std::string_view to);

}  // namespace kestra::pellan
