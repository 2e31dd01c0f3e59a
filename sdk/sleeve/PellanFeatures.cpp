#include "sdk/sleeve/PellanFeatures.h"

#include <cctype>

#include "sdk/sleeve/PellanModels.h"
#include "sdk/sleeve/PellanTransport.h"

namespace kestra::pellan {

bool nameHasPrefix(std::string_view name, std::string_view prefix) {
  if (name.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
  return true;
}

bool featCheck(std::string_view model, std::string_view code) {
  if (code.size() != 2) return false;
  for (size_t i = 0; i + 1 < model.size(); i += 2)
    if (model[i] == code[0] && model[i + 1] == code[1]) return true;
  return false;
}

namespace {

template <class List>
bool nameInList(std::string_view name, const List& list) {
  for (std::string_view prefix : list)
    if (nameHasPrefix(name, prefix)) return true;
  return false;
}

int unsupported(foundation::Error* error) {
  pellanFail(error, 0, "Feature not supported on the connected device(s)");
  return 0;
}

}  // namespace

int supportedFeature(const FeatureContext& c, int feature, foundation::Error* error) {
  const std::string_view m = c.deviceModel;
  switch (feature) {
    case 0: {
      if (m == "BM") return 1;
      int v = 0;
      if (featCheck(m, "CM")) v = 6;
      if (featCheck(m, "AM")) v |= 2;
      if (featCheck(m, "PM")) v |= 1;
      if (featCheck(m, "VM")) v |= 0x0A;
      if (featCheck(m, "EV")) v |= 0x10;
      if (featCheck(m, "tM") || featCheck(m, "TM")) return v | 0x24;
      return v ? v : unsupported(error);
    }
    case 1: {
      static constexpr struct {
        const char* code;
        int kind;
      } kEngines[] = {{"OB", 1}, {"XB", 1}, {"1B", 1}, {"2B", 1}, {"BM", 1}, {"CB", 2},
                      {"IB", 4}, {"NB", 3}, {"MB", 5}, {"HB", 7}, {"ZB", 6}};
      for (const auto& e : kEngines)
        if (featCheck(m, e.code)) return e.kind;
      return unsupported(error);
    }
    case 2:
      return c.btFeature ? 3 : 0;
    case 3:
      return 1;
    case 4:
      for (const auto& gate : kFeature4Models)
        if (nameHasPrefix(c.deviceName, gate.prefix) && c.fwVer > gate.aboveFirmware) return 1;
      return unsupported(error);
    case 5: {
      int v = 0;
      if (featCheck(m, "RF")) v = 1;
      if (featCheck(m, "R6") || featCheck(m, "R7")) v += 2;
      if (featCheck(m, "RH")) v += 4;
      return v;
    }
    case 6:
      return featCheck(m, "UH") ? 1 : unsupported(error);
    case 10:
      if (featCheck(m, "EV")) return 2;
      if (featCheck(m, "PE")) return 4;
      if (featCheck(m, "AV") || featCheck(m, "GV") || featCheck(m, "VA")) return 8;
      return unsupported(error);
    case 11:
      return nameInList(c.deviceName, kFeature11Models) ? 1 : unsupported(error);
    case 12:
    case 13:
      return nameInList(c.deviceName, kFeature12Models) ? 1 : unsupported(error);
    case 14:
      return featCheck(m, "HD") ? 1 : unsupported(error);
    case 15:
      return featCheck(m, "SC") ? 1 : unsupported(error);
    default:
      return unsupported(error);
  }
}

}  // namespace kestra::pellan
