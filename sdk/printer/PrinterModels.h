#pragma once
// What a receipt printer is, from its own answers: the 32-byte identification reply, the
// model classes and their paper, feed, page and label values, the label printer's host
// identification, the label settings text, and the battery scale.
//
// Pure functions over plain values: any thread. Short or malformed answers give nothing
// (or the neutral value named below); nothing reads outside the bytes given.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXDeviceInfo.h"

namespace kestra::printer {

inline constexpr size_t kIdentificationSize = 32;
inline constexpr int kUnknownModel = -1;
inline constexpr int kResolutionDPI = 203;

struct Identification {
  std::string name;     // bytes 0-21, trailing white space removed
  int fwver = 0;        // digits 22-24 as a number (257)
  bool labelModeSupported = false;  // byte 28 bit 2
  bool pageModeBit = false;         // byte 28 bit 6
  bool labelModeActiveBit = false;  // byte 30 bit 5
  bool narrowPaper = false;         // byte 30 bit 6
};
// Nothing for fewer than 32 bytes. A byte that is not a digit in 22-24 counts as 0.
std::optional<Identification> parseIdentification(const uint8_t* data, size_t length);
// "2.57.0" for 257.
std::string firmwareText(int fwver);

// The model class a name selects (kUnknownModel when none): each class's list is tried in
// table order and a later match replaces an earlier one.
int modelClassForName(std::string_view name);
// The model name the accessory manager is asked about while no printer is connected.
inline constexpr const char* kPresenceModelName = "RPX-350";
// Whether the label settings are read at connection (label printers of classes 4 and 11).
bool asksLabelSettings(std::string_view name);

// The class's values applied to `info` (resolution, paper width in dots and inches, maximum
// page size, page mode, label mode) and the default feed in dots.
void applyModelClass(int modelClass, const Identification& id, std::string_view name,
                     KXPrinterInfo* info, int* defaultFeed);

// The label settings answer ("...,..."): label mode active when the first field has at least
// 10 characters and its character 6 is "1"; field 6 the auto power-off time in minutes.
struct LabelSettings {
  std::optional<bool> labelModeActive;
  std::optional<int> autoOffMinutes;
};
LabelSettings parseLabelSettings(std::string_view text);

// The label language's host identification ("~HI"): name and firmware (field 1 without its
// first character). Nothing with fewer than two fields.
struct LabelIdentity {
  std::string name;
  std::string firmware;
};
std::optional<LabelIdentity> parseLabelIdentity(std::string_view line);

// The battery percentage of a raw battery value on a printer of `modelClass`.
int batteryPercent(int modelClass, int raw);
// Degrees Fahrenheit of a raw temperature in degrees Celsius.
int temperatureFahrenheit(int raw);

// Model classes with commands of their own.
inline bool hasBarcodeEngine(int modelClass) { return modelClass == 3; }
inline bool mayHaveEncryptedHead(int modelClass) { return modelClass >= 1 && modelClass <= 3; }
inline bool mayHaveSmartCard(int modelClass) { return modelClass == 1 || modelClass == 2; }
inline bool supportsDensity(int modelClass) {
  return (modelClass >= 0 && modelClass <= 7) || modelClass == 9;
}
bool supportsTables(int modelClass, int fwver);
// Image and logo rows with the leftmost dot in the top bit.
inline bool logoReversed(int modelClass) { return modelClass >= 1 && modelClass <= 5; }

}  // namespace kestra::printer
