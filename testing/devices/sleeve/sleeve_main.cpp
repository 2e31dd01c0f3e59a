// Runs a simulated sleeve as an accessory of this machine, so that the demo (or any program
// of the SDK) finds it like a real one. Each line typed is scanned as a barcode; a few
// lines starting with "!" drive the rest of the sleeve:
//   !press N / !release N   scan button N (newer firmware form)
//   !swipe TRACK1;TRACK2     a magnetic card (either track may be empty)
//   !firmware                print the firmware the sleeve runs (it changes when a firmware
//                            file is flashed into it through the SDK)
//   !quit                    detach and end (end of input does the same)
//
// Options: --name NAME, --model CODES, --firmware X.Y (0.00: start in the boot loader),
// --engine opticon|code|newland (the barcode engine behind the pass-through; its model code
// takes the place of the model's engine code), --one-channel, --wake (identify only after
// the wake bytes; implies an empty announced firmware revision), --folder DIR.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <iostream>
#include <string>

#include "testing/devices/sleeve/SimulatedSleeve.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace {
// The button number of "!press N"; nullopt (and a note) when N is not a number 0-127.
std::optional<uint8_t> buttonNumber(const std::string& text) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || n < 0 || n > 127) {
    std::fprintf(stderr, "not a button number: %s\n", text.c_str());
    return std::nullopt;
  }
  return uint8_t(n);
}
}  // namespace

int main(int argc, char** argv) {
  devices::SimulatedSleeve::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--name") options.config.name = next();
    else if (a == "--model") options.config.model = next();
    else if (a == "--firmware") options.config.firmware = next();
    else if (a == "--one-channel") options.config.channels = 1;
    else if (a == "--engine") {
      const std::string e = next();
      using Family = devices::SimulatedEngine::Family;
      if (e == "opticon") options.engine = Family::Opticon;
      else if (e == "code") options.engine = Family::Code;
      else if (e == "newland") options.engine = Family::Newland;
      else {
        std::fprintf(stderr, "unknown engine %s (opticon, code or newland)\n", e.c_str());
        return 2;
      }
    }
    else if (a == "--wake") {
      options.config.wakeRequired = true;
      options.announceFirmware = false;
    } else if (a == "--folder") options.folder = next();
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (options.engine) {
    const std::string code = devices::SimulatedEngine::make(*options.engine)->modelCode();
    // The engine's code takes the place of the default model's Opticon code.
    std::string& model = options.config.model;
    if (const size_t at = model.find("XB"); at != std::string::npos) model.replace(at, 2, code);
    else if (model.find(code) == std::string::npos) model = code + model;
  }
  devices::SimulatedSleeve sleeve(options);
  devices::SleeveSecurity security(sleeve);  // encrypted head, key store, EMV kernel
  if (!sleeve.attach()) {
    std::fprintf(stderr, "could not attach the simulated sleeve\n");
    return 1;
  }
  std::fprintf(stderr, "simulated sleeve \"%s\" attached; type a code and press Enter\n",
               options.config.name.c_str());
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "!quit") break;
    if (line == "!firmware") {
      std::printf("%s\n", sleeve.withProtocol([](devices::SleeveProtocol& p) { return p.config.firmware; }).c_str());
      std::fflush(stdout);
      continue;
    }
    if (line.rfind("!press ", 0) == 0) {
      if (auto n = buttonNumber(line.substr(7))) sleeve.pressButton(uint8_t(*n << 1 | 1));
    } else if (line.rfind("!release ", 0) == 0) {
      if (auto n = buttonNumber(line.substr(9))) sleeve.pressButton(uint8_t(*n << 1));
    } else if (line.rfind("!swipe ", 0) == 0) {
      const std::string rest = line.substr(7);
      const size_t semi = rest.find(';');
      const std::string t1 = rest.substr(0, semi);
      const std::string t2 = semi == std::string::npos ? std::string() : rest.substr(semi + 1);
      sleeve.swipe(t1.empty() ? std::nullopt : std::optional<std::string>(t1),
                   t2.empty() ? std::nullopt : std::optional<std::string>(t2));
    } else if (!line.empty()) {
      sleeve.sendBarcode(line);
    }
  }
  sleeve.detach();
  return 0;
}
