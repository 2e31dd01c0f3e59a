// Runs a simulated charging case as an accessory of this machine, so that the demo (or any
// program of the SDK) finds it like a real one. Lines typed drive it:
//   !press N / !release N      case switch N (1..5)
//   !battery PERCENT MILLIVOLTS the battery's charge, sent to the host
//   !charging on|off            the power source, sent with the next battery report
//   !quit                       detach and end (end of input does the same)
// Option: --folder DIR (the accessory folder; the SDK's default otherwise).

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "testing/devices/chargingcase/SimulatedChargingCase.h"

int main(int argc, char** argv) {
  std::filesystem::path folder;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  devices::SimulatedChargingCase chargingCase(devices::SimulatedChargingCase::defaultIdentity(), folder);
  if (!chargingCase.attach()) {
    std::fprintf(stderr, "could not attach the simulated charging case\n");
    return 1;
  }
  std::fprintf(stderr, "simulated charging case attached\n");
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "!quit") break;
    if (command == "!press" || command == "!release") {
      int sw = 0;
      if (!(in >> sw) || sw < 1 || sw > 5) {
        std::fprintf(stderr, "not a switch number: %s\n", line.c_str());
        continue;
      }
      command == "!press" ? chargingCase.press(sw) : chargingCase.release(sw);
    } else if (command == "!battery") {
      int percent = 0, millivolts = 0;
      if (!(in >> percent >> millivolts) || percent < 0 || percent > 100 || millivolts < 0 || millivolts > 65535) {
        std::fprintf(stderr, "usage: !battery PERCENT MILLIVOLTS\n");
        continue;
      }
      auto b = chargingCase.battery();
      b.capacity = uint8_t(percent);
      b.voltage = uint16_t(millivolts);
      chargingCase.setBattery(b);
      chargingCase.sendControl({devices::SimulatedChargingCase::capacityMessage(b.capacity, b.voltage)});
    } else if (command == "!charging") {
      std::string on;
      in >> on;
      auto b = chargingCase.battery();
      b.powerSource = on == "on" ? 2 : 1;
      chargingCase.setBattery(b);
    } else if (!command.empty()) {
      std::fprintf(stderr, "unknown command: %s\n", line.c_str());
    }
  }
  chargingCase.detach();
  return 0;
}
