#pragma once
// The battery record of a device. `extendedInfo` is a dictionary whose entries depend on the
// battery chip (numbers from the sleeve's gauge, texts from the charging case); null when the
// device reports none.

#include <nlohmann/json.hpp>

namespace kestra {

struct KXBatteryInfo {
  float voltage = 0;  // volts
  int capacity = 0;   // per cent
  int health = 0;
  int maximumCapacity = 0;
  bool charging = false;
  int batteryChipType = 0;
  nlohmann::json extendedInfo;
};

}  // namespace kestra
