#pragma once
// A sleeve reached over Bluetooth Low Energy: the sleeve protocol (SleeveProtocol.h) on one
// channel, behind a simulated peripheral with the SDK's Bluetooth Low Energy service and
// characteristics (testing/devices/base/SimulatedBleDevice.h). Frames the host writes to
// data out are answered on data in; tests inject events (`sendBarcode`) from any thread and
// drop the link through `peripheral()->drop()`.
//
// Threads: any thread; the protocol runs on the radio's thread, under the sleeve's lock.

#include <mutex>
#include <string>

#include "testing/devices/base/SimulatedBleDevice.h"
#include "testing/devices/sleeve/SleeveProtocol.h"

namespace devices {

class SimulatedBleSleeve final : public SimulatedBleDevice {
 public:
  SimulatedBleSleeve(std::shared_ptr<bluetooth::SimulatedRadio> radio, Options options = {});
  ~SimulatedBleSleeve() override;

  void sendBarcode(const std::string& text, uint8_t engineCode = 'T');

 protected:
  void onReceive(const foundation::Bytes& bytes) override;

 private:
  static SleeveProtocol::Config config();
  std::mutex mutex_;
  SleeveProtocol protocol_;
};

}  // namespace devices
