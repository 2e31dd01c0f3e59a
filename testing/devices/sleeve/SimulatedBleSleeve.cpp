#include "testing/devices/sleeve/SimulatedBleSleeve.h"

namespace devices {

SleeveProtocol::Config SimulatedBleSleeve::config() {
  SleeveProtocol::Config c;
  c.channels = 1;  // one stream: the magnetic reader's frames are folded onto it
  return c;
}

SimulatedBleSleeve::SimulatedBleSleeve(std::shared_ptr<bluetooth::SimulatedRadio> radio, Options options)
    : SimulatedBleDevice(std::move(radio), std::move(options)), protocol_(config()) {}

SimulatedBleSleeve::~SimulatedBleSleeve() { shutdown(); }

void SimulatedBleSleeve::onReceive(const foundation::Bytes& bytes) {
  std::vector<SleeveProtocol::Output> replies;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    replies = protocol_.feed(0, bytes.data(), bytes.size());
  }
  for (const auto& r : replies) send(r.frame);
}

void SimulatedBleSleeve::sendBarcode(const std::string& text, uint8_t engineCode) {
  foundation::Bytes frame;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame = protocol_.barcodeEvent(engineCode, text).frame;
  }
  send(frame);
}

}  // namespace devices
