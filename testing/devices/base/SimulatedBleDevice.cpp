#include "testing/devices/base/SimulatedBleDevice.h"

#include <algorithm>

namespace devices {

namespace {
using bluetooth::Uuid;
const Uuid kDataIn = Uuid::fromString("1F6B14C9-97FA-4F1E-AAA6-7E152FDD04F4");
const Uuid kDataOut = Uuid::fromString("B378DB85-4EC3-4DAA-828E-1B99607BD6A0");
const Uuid kCheckOn = Uuid::fromString("22FFC547-1BEF-48E2-AA87-B87E23AC0BBD");
const Uuid kPowerOn = Uuid::fromString("F953144B-E33A-4079-B202-E3D7C1F3DBB0");
}  // namespace

SimulatedBleDevice::SimulatedBleDevice(std::shared_ptr<bluetooth::SimulatedRadio> radio, Options options)
    : radio_(std::move(radio)) {
  const Uuid service = Uuid::fromString(options.service);
  peripheral_ = std::make_shared<bluetooth::SimulatedPeripheral>(options.name, std::vector<Uuid>{service});
  std::vector<Uuid> chars = {kDataIn, kDataOut};
  if (!options.withoutPowerOn) {
    chars.push_back(kCheckOn);
    chars.push_back(kPowerOn);
  }
  peripheral_->addService(Uuid::fromString("180A"), {Uuid::fromString("2A29")});
  peripheral_->addService(service, chars);
  if (!options.withoutPowerOn) peripheral_->setValue(kCheckOn, {uint8_t(options.startOn ? '1' : '0')});
  if (options.refusePairing)
    peripheral_->setNotifyError(kDataIn, foundation::Error(bluetooth::kBluetoothErrorDomain, 15,
                                                           "Encryption is insufficient."));
  std::weak_ptr<bluetooth::SimulatedPeripheral> weak = peripheral_;
  peripheral_->setOnWrite([this, weak](const Uuid& ch, const foundation::Bytes& value, bool) {
    auto p = weak.lock();
    if (!p) return;
    if (ch == kPowerOn) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++powerOnWrites_;
      }
      p->notify(kCheckOn, {uint8_t('1')});
    } else if (ch == kDataOut) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), value.begin(), value.end());
      }
      onReceive(value);
    }
  });
  radio_->add(peripheral_);
}

SimulatedBleDevice::~SimulatedBleDevice() { shutdown(); }

void SimulatedBleDevice::shutdown() {
  peripheral_->setOnWrite(nullptr);
  radio_->remove(peripheral_);
  radio_->waitIdle();
}

bool SimulatedBleDevice::send(const foundation::Bytes& bytes) {
  bool ok = true;
  for (size_t i = 0; i < bytes.size(); i += 20) {
    const size_t n = std::min<size_t>(20, bytes.size() - i);
    ok = peripheral_->notify(kDataIn, foundation::Bytes(bytes.begin() + ptrdiff_t(i), bytes.begin() + ptrdiff_t(i + n))) && ok;
  }
  return ok;
}

foundation::Bytes SimulatedBleDevice::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

int SimulatedBleDevice::powerOnWrites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return powerOnWrites_;
}

void SimulatedBleDevice::onReceive(const foundation::Bytes&) {}

}  // namespace devices
