// Attaches a simulated accessory from a process of its own, for tests of accessories that
// come and go while the SDK runs. The accessory echoes every byte it receives back on the
// same channel. It prints "attached <id>" once the accessory is in place and detaches
// when the process gets SIGTERM or SIGINT.
//
//   kestra_attach_device --name NAME --protocol P [--protocol P...] [--folder DIR]
//                        [--manufacturer M] [--model M] [--serial S] [--firmware F]
//                        [--hardware H]

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "testing/devices/base/EchoAccessory.h"

int main(int argc, char** argv) {
  accessory::AccessoryIdentity id;
  std::string folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    if (key == "--name") id.name = value;
    else if (key == "--protocol") id.protocolStrings.push_back(value);
    else if (key == "--folder") folder = value;
    else if (key == "--manufacturer") id.manufacturer = value;
    else if (key == "--model") id.modelNumber = value;
    else if (key == "--serial") id.serialNumber = value;
    else if (key == "--firmware") id.firmwareRevision = value;
    else if (key == "--hardware") id.hardwareRevision = value;
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  if (id.name.empty() || id.protocolStrings.empty()) {
    std::fprintf(stderr, "usage: %s --name NAME --protocol P [--folder DIR] ...\n", argv[0]);
    return 2;
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts

  devices::EchoAccessory device(id, folder);
  if (!device.attach()) {
    std::fprintf(stderr, "cannot attach %s\n", id.name.c_str());
    return 1;
  }
  std::printf("attached %s\n", device.id().c_str());
  std::fflush(stdout);

  int sig = 0;
  sigwait(&signals, &sig);
  device.detach();
  return 0;
}
