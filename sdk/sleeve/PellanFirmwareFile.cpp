#include "sdk/sleeve/PellanFirmwareFile.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra::pellan {

namespace {
constexpr size_t kMakerAt = 0x100, kModelAt = 0x110, kNameAt = 0x120, kVersionAt = 0x130;
constexpr size_t kFieldSize = 16;
constexpr const char* kMaker = "SABREL";

std::string field(const foundation::Bytes& image, size_t at) {
  const char* p = reinterpret_cast<const char*>(image.data() + at);
  return std::string(p, strnlen(p, kFieldSize));
}
}  // namespace

nlohmann::json FirmwareFileInfo::toJson() const {
  return {{"deviceModel", deviceModel},
          {"deviceName", deviceName},
          {"firmwareRevisionNumber", firmwareRevisionNumber},
          {"firmwareRevision", firmwareRevision}};
}

std::optional<FirmwareFileInfo> readFirmwareFile(const foundation::Bytes& image,
                                                 foundation::Error* error) {
  if (image.size() < kFirmwareFileMinSize) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-21, std::string("Data is nil or invalid")));
    return std::nullopt;
  }
  const auto invalid = KXUNISDKGlobals::makeError(-21, std::string("Data is invalid"));
  if (field(image, kMakerAt) != kMaker) {
    foundation::fail(error, invalid);
    return std::nullopt;
  }
  FirmwareFileInfo info;
  info.deviceModel = field(image, kModelAt);
  info.deviceName = field(image, kNameAt);
  const int zero = image[kVersionAt], major = image[kVersionAt + 1],
            minor = image[kVersionAt + 2], build = image[kVersionAt + 3];
  info.firmwareRevisionNumber = major * 1000 + minor * 100 + build;
  char text[32];
  if (zero != 0 || major != 0)
    std::snprintf(text, sizeof text, "%d.%02d.%02d", major, minor, build);
  else
    std::snprintf(text, sizeof text, "%d.%02d.0", minor, build);
  info.firmwareRevision = text;
  KXUNISDKGlobals::LOG("PN:Firmware: %s %s %s", info.firmwareRevision.c_str(),
                       info.deviceName.c_str(), info.deviceModel.c_str());
  if (info.deviceName.empty() || info.deviceModel.empty()) {
    foundation::fail(error, invalid);
    return std::nullopt;
  }
  return info;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool firmwareNameEqual(std::string_view sleeveName, std::string_view fileName) {
  std::string a(sleeveName), b(fileName);
  if (a.rfind("ZizoriD", 0) == 0) {
    a = replaceAll(a, "HC", "");
    b = replaceAll(b, "HC", "");
  }
  return a == b;
}

bool firmwareModelEqual(std::string_view sleeveModel, std::string_view model) {
  const std::string own = replaceAll(std::string(sleeveModel), "PM", "AM");
  if (model.size() != own.size()) return false;
  for (size_t i = 0; i < model.size(); i += 2)
    if (own.find(model.substr(i, 2)) == std::string::npos) return false;
  return true;
}

}  // namespace kestra::pellan
