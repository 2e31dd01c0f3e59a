#pragma once
// A simulated accessory that sends every byte it receives straight back on the same
// channel (through the fault knobs of `SimulatedAccessory`).

#include "testing/devices/base/SimulatedAccessory.h"

namespace devices {

class EchoAccessory final : public SimulatedAccessory {
 public:
  using SimulatedAccessory::SimulatedAccessory;
  ~EchoAccessory() override { detach(); }

 protected:
  void onReceive(int channel, const uint8_t* data, size_t length) override {
    send(channel, Bytes(data, data + length));
  }
};

}  // namespace devices
