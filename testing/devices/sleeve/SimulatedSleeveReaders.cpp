// The contactless readers and the SAM a simulated sleeve can hold besides the rc663 module.

#include "testing/devices/sleeve/SimulatedSleeve.h"

namespace devices {

namespace {
constexpr uint8_t kReaderRfEvent = 0x1F;
constexpr uint8_t kIClassEvent = 0x3D;
constexpr uint8_t kIClassAnswer = 0x05;

Bytes rfEventData(const Bytes& bytes) {
  Bytes data{0x00, 0x00};
  data.insert(data.end(), bytes.begin(), bytes.end());
  return data;
}
}  // namespace

void SimulatedSleeve::attachPn544(std::shared_ptr<SimulatedPn544> controller) {
  controller->onOutput = [this](const Bytes& bytes) { moduleEvent(kReaderRfEvent, rfEventData(bytes)); };
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_.rfReader = [controller](uint8_t code, const Bytes& data) -> std::optional<Bytes> {
    if (code != 32 || data.empty()) return std::nullopt;
    if (data[0] == 0x02) {  // reader bytes behind their prefix; power commands are 00 xx
      answeringCommand_ = true;
      controller->receive(Bytes(data.begin() + 1, data.end()));
      answeringCommand_ = false;
    }
    return Bytes{};
  };
}

void SimulatedSleeve::attachOmniKey(std::shared_ptr<SimulatedOmniKey> reader) {
  reader->onNotify = [this](const Bytes& bytes) { moduleEvent(kReaderRfEvent, rfEventData(bytes)); };
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_.rfReader = [reader](uint8_t code, const Bytes& data) -> std::optional<Bytes> {
    if (code != 34 && code != 57) return std::nullopt;
    if (data.size() <= 1) return Bytes{};  // power on [01], off [00]
    return reader->transfer(data);         // nothing: the sleeve does not answer either
  };
}

void SimulatedSleeve::attachSam(std::shared_ptr<SimulatedSam> sam) {
  sam->onOutput = [this](const Bytes& frame) {
    Bytes data{kIClassAnswer};
    data.insert(data.end(), frame.begin(), frame.end());
    moduleEvent(kIClassEvent, data);
  };
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_.modules[60] = [sam](const Bytes& data, uint8_t*) -> std::optional<Bytes> {
    answeringCommand_ = true;
    auto reply = sam->command(data);
    answeringCommand_ = false;
    return reply;
  };
}

}  // namespace devices
