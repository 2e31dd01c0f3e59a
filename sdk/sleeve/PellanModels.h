#pragma once
// The sleeve models the driver knows by name: which accessory names it claims, which
// models get the model-dependent features, and which model quirks apply. One table, shared
// by the driver and the simulated sleeve, so that both agree on names.
//
// Names are compared in lower case by prefix.

#include <array>
#include <string_view>

namespace kestra::pellan {

// Protocol strings of the sleeve: channel 0 (barcode and system) and channel 1 (magnetic
// reader), and the one-channel updater link.
inline constexpr const char* kProtocolBarcode = "com.sabrel.pellan.pro.bar";
inline constexpr const char* kProtocolMagnetic = "com.sabrel.pellan.pro.msr";
inline constexpr const char* kProtocolUpdater = "com.apple.accessory.updater.app";
// The driver's name towards the accessory manager (presence test).
inline constexpr const char* kDriverName = "Pellan";

// Model prefixes claimed with any number of protocol strings.
inline constexpr std::array<std::string_view, 16> kClaimedModels = {
    "zizorid",      "rudoziravozoz", "kestra x",     "pellan pro",
    "pellan mini",  "pellan slim",   "pellan max",   "pellan kiosk",
    "pellan health", "pellan rf",    "pellan lite",  "pellan one",
    "pellan duo",   "pellan go",     "pellan bt",    "pellan ultra"};
// The family prefix and the card-reader model: claimed only with exactly two protocol
// strings.
inline constexpr std::string_view kFamilyPrefix = "pellan";
inline constexpr std::string_view kCardReaderPrefix = "kestra card";
// The card reader's display name; it selects the universal Bluetooth module.
inline constexpr std::string_view kCardReaderDisplayName = "Kestra Card";

// Feature 4: a model and the firmware number it must be above.
struct FirmwareGate {
  std::string_view prefix;
  int aboveFirmware;
};
inline constexpr std::array<FirmwareGate, 3> kFeature4Models = {
    FirmwareGate{"pellan pro", 2092}, FirmwareGate{"pellan max", 5007},
    FirmwareGate{"pellan ultra", 5007}};
inline constexpr std::array<std::string_view, 6> kFeature11Models = {
    "zizorid", "rudoziravozoz", "pellan pro", "pellan max", "pellan ultra", "pellan health"};
inline constexpr std::array<std::string_view, 2> kFeature12Models = {"zizorid",
                                                                     "rudoziravozoz"};

// Models that switch the phone's charging through the settings command.
inline constexpr std::array<std::string_view, 2> kSettingsChargingModels = {"rudoziravozoz",
                                                                            "zizorid"};

// The older model whose track data arrives bit-reversed below firmware 5022.
inline constexpr std::string_view kReverseTrackModel = "pellan one";
inline constexpr int kReverseTrackBelowFirmware = 5022;

// True when `name`, lower-cased, begins with `prefix` (which is lower case).
bool nameHasPrefix(std::string_view name, std::string_view prefix);

}  // namespace kestra::pellan
