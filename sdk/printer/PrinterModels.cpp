#include "sdk/printer/PrinterModels.h"

#include <cstdio>
#include <vector>

namespace kestra::printer {
namespace {

enum class Match { End, Start, Content };
struct ModelName {
  int modelClass;
  Match match;
  std::string_view text;
};

// In the order the classes are tried; a later match replaces an earlier one.
constexpr ModelName kModelNames[] = {
    {0, Match::End, "RPX-100"},
    {1, Match::End, "RPX-350"},   {1, Match::End, "RPX-450"},
    {2, Match::End, "RPX-255"},   {2, Match::End, "RPX-260"},
    {11, Match::End, "VKP-250"},  {11, Match::Start, "VKP-255"},
    {3, Match::End, "RPX-255B"},  {3, Match::End, "RPX-260B"},
    {7, Match::End, "RPX-300"},
    {4, Match::End, "LPX-400"},   {4, Match::End, "LPX-410"},   {4, Match::End, "LPX-420"},
    {5, Match::End, "RPX-205"},
    {6, Match::Content, "KPT-80"},
    {8, Match::Content, "KSK-80A"}, {8, Match::Content, "KSK-80B"}, {8, Match::Content, "KSK-80P"},
    {9, Match::Content, "PNL-80"},
    {10, Match::End, "RPX-500"},
};

// Label printers whose settings are read at connection.
constexpr std::string_view kLabelSettingNames[] = {"LPX-400", "LPX-410", "LPX-420",
                                                   "VKP-250", "VKP-255", "VKP-260"};

bool endsWith(std::string_view s, std::string_view e) {
  return s.size() >= e.size() && s.substr(s.size() - e.size()) == e;
}

}  // namespace

std::optional<Identification> parseIdentification(const uint8_t* data, size_t length) {
  if (!data || length < kIdentificationSize) return std::nullopt;
  Identification id;
  std::string name(reinterpret_cast<const char*>(data), 22);
  const size_t zero = name.find('\0');
  if (zero != std::string::npos) name.resize(zero);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '\r' ||
                           name.back() == '\n'))
    name.pop_back();
  id.name = name;
  auto digit = [&](size_t i) { return data[i] >= '0' && data[i] <= '9' ? data[i] - '0' : 0; };
  id.fwver = 100 * digit(22) + 10 * digit(23) + digit(24);
  id.labelModeSupported = data[28] & 0x04;
  id.pageModeBit = data[28] & 0x40;
  id.labelModeActiveBit = data[30] & 0x20;
  id.narrowPaper = data[30] & 0x40;
  return id;
}

std::string firmwareText(int fwver) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.0", fwver / 100, fwver % 100);
  return buf;
}

int modelClassForName(std::string_view name) {
  int cls = kUnknownModel;
  for (const auto& m : kModelNames) {
    bool hit = false;
    switch (m.match) {
      case Match::End: hit = endsWith(name, m.text); break;
      case Match::Start: hit = name.substr(0, m.text.size()) == m.text; break;
      case Match::Content: hit = name.find(m.text) != std::string_view::npos; break;
    }
    if (hit) cls = m.modelClass;
  }
  return cls;
}

bool asksLabelSettings(std::string_view name) {
  for (auto n : kLabelSettingNames)
    if (name == n) return true;
  return false;
}

void applyModelClass(int modelClass, const Identification& id, std::string_view name,
                     KXPrinterInfo* info, int* defaultFeed) {
  int width = 384, inches = 2, maxHeight = 2432, feed = 110;
  bool labelFromBit = id.labelModeSupported;
  bool page = id.pageModeBit;
  switch (modelClass) {
    case 0:
      width = 384;
      inches = 0;
      feed = 90;
      labelFromBit = false;
      page = false;
      maxHeight = 0;
      break;
    case 1:
      feed = 90;
      if (id.narrowPaper) {
        width = 408;
        inches = 2;
      } else {
        width = 576;
        inches = 3;
      }
      page = id.pageModeBit && id.fwver >= 140;
      break;
    case 2: case 3: case 5: case 7: case 11:
      break;
    case 4:
      width = 832;
      inches = 4;
      labelFromBit = false;
      break;
    case 6: case 9:
      width = 576;
      inches = 3;
      labelFromBit = false;
      page = false;
      break;
    case 8:
      width = 576;
      inches = 3;
      labelFromBit = false;
      page = name.find("KSK-80P") != std::string_view::npos;
      break;
    case 10:
      width = 576;
      inches = 3;
      page = id.pageModeBit && id.fwver >= 140;
      maxHeight = 2240;
      break;
    default:
      return;
  }
  info->resolutionDPI = kResolutionDPI;
  info->paperWidthPx = width;
  if (modelClass != 0) info->paperWidthInch = inches;
  info->maxPageModeWidthPx = width;
  if (modelClass != 0) {
    info->maxPageModeHeightPx = maxHeight;
    info->pageModeSupported = page;
  }
  info->labelModeSupported = id.labelModeSupported;
  info->labelModeActive = labelFromBit && id.labelModeActiveBit;
  *defaultFeed = feed;
}

LabelSettings parseLabelSettings(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  LabelSettings s;
  if (!fields.empty() && fields[0].size() >= 10) s.labelModeActive = fields[0][6] == '1';
  if (fields.size() > 6) {
    int minutes = 0;
    bool digits = !fields[6].empty();
    for (char c : fields[6]) {
      if (c < '0' || c > '9' || minutes > 100000) {
        digits = false;
        break;
      }
      minutes = minutes * 10 + (c - '0');
    }
    if (digits) s.autoOffMinutes = minutes;
  }
  return s;
}

std::optional<LabelIdentity> parseLabelIdentity(std::string_view line) {
  const size_t comma = line.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  LabelIdentity id;
  id.name = std::string(line.substr(0, comma));
  std::string_view rest = line.substr(comma + 1);
  const size_t next = rest.find(',');
  std::string_view field1 = rest.substr(0, next);
  id.firmware = field1.empty() ? std::string() : std::string(field1.substr(1));
  return id;
}

int batteryPercent(int modelClass, int raw) {
  static constexpr int kLabelThresholds[] = {72, 73, 74, 75, 76, 77, 78, 79, 80, 81};
  static constexpr int kLabelPercents[] = {10, 20, 40, 50, 62, 72, 78, 85, 90, 100};
  static constexpr int kThresholds[] = {65, 70, 73, 74, 74, 75, 75, 79, 82, 84};
  static constexpr int kPercents[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  const bool label = modelClass == 4 || modelClass == 11;
  const int v = modelClass == 4 ? raw / 2 : raw;
  const int* t = label ? kLabelThresholds : kThresholds;
  const int* p = label ? kLabelPercents : kPercents;
  for (int i = 0; i < 10; ++i)
    if (v <= t[i]) return p[i];
  return 100;
}

int temperatureFahrenheit(int raw) { return raw * 18 / 10 + 32; }

bool supportsTables(int modelClass, int fwver) {
  return (modelClass == 1 && fwver >= 148) || (modelClass >= 2 && modelClass <= 5);
}

}  // namespace kestra::printer
