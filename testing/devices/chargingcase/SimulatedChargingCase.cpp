#include "testing/devices/chargingcase/SimulatedChargingCase.h"

#include <zlib.h>

#include <algorithm>

#include "sdk/device/ChargingCaseFrames.h"

namespace devices {

using namespace kestra::chargingcase;

namespace {

// What the host's bytes hold at their front: a control message, a boot-loader frame or
// noise, one byte at a time.
FrameScan scanCaseFrame(const uint8_t* data, size_t length) {
  if (length < 2) return FrameScan::needMore();
  if (data[0] == kControlMarker0 && data[1] == kControlMarker1) {
    if (length < kControlMessageLength) return FrameScan::needMore();
    return FrameScan::frame(kControlMessageLength, SimulatedChargingCase::controlKey(data[2]));
  }
  if (data[0] == kBootMarker0 && data[1] == kBootMarker1) {
    if (length < 6) return FrameScan::needMore();
    const size_t total = size_t(data[2]) | (size_t(data[3]) << 8);
    if (total < kBootHeaderLength) return FrameScan::skip(1);
    if (length < total) return FrameScan::needMore();
    return FrameScan::frame(total, uint32_t(data[4]) | (uint32_t(data[5]) << 8));
  }
  return FrameScan::skip(1);
}

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

std::vector<FrameCommandDevice::Reply> reply(Bytes bytes) { return {{std::move(bytes), -1}}; }

}  // namespace

accessory::AccessoryIdentity SimulatedChargingCase::defaultIdentity() {
  accessory::AccessoryIdentity id;
  id.name = "Toravel";
  id.manufacturer = "Corvanta, Inc.";
  id.modelNumber = "TORAVEL-PH7";
  id.serialNumber = "TRV000000012345BAT000000067890";  // case serial, then the battery's
  id.firmwareRevision = "v1.2.3";
  id.hardwareRevision = "Rev A";
  id.protocolStrings = {"com.okt.toravel.controls", "com.okt.toravel.bootloader"};
  return id;
}

SimulatedChargingCase::SimulatedChargingCase(accessory::AccessoryIdentity identity, std::filesystem::path folder)
    : FrameCommandSimulator(std::move(identity), std::move(folder), scanCaseFrame) {
  registerHandlers();
}

SimulatedChargingCase::~SimulatedChargingCase() {
  {
    std::lock_guard lock(restartMutex_);
    closing_ = true;
  }
  if (restartThread_.joinable()) restartThread_.join();
  detach();
}

Bytes SimulatedChargingCase::controlState(uint8_t identifier) const {
  std::lock_guard lock(mutex_);
  const Battery& b = battery_;
  switch (identifier) {
    case kReplyAccessoryInformation: return controlMessage(identifier, {0, 0, 0, 0, uint8_t(pim_)});
    case kReplySwitchPositions:
      return controlMessage(identifier, {switches_, uint8_t(b.maxCapacity >> 8), uint8_t(b.maxCapacity)});
    case kReplyBatteryHealth: return controlMessage(identifier, {b.health, uint8_t(b.cycles >> 8), uint8_t(b.cycles)});
    case kReplyBatteryCapacity: return capacityMessage(b.capacity, b.voltage);
    case kReplyAuxInformation: return controlMessage(identifier, {b.firmware, b.powerSource});
    default: return controlMessage(identifier);
  }
}

Bytes SimulatedChargingCase::capacityMessage(uint8_t percent, uint16_t millivolts) {
  return controlMessage(kReplyBatteryCapacity, {percent, uint8_t(millivolts >> 8), uint8_t(millivolts)});
}

void SimulatedChargingCase::registerHandlers() {
  auto& f = frames();
  f.on(controlKey(kControlInitialize), [this](const HostFrame&) {
    Bytes all;
    for (uint8_t id : {kReplyAccessoryInformation, kReplySwitchPositions, kReplyBatteryHealth,
                       kReplyBatteryCapacity, kReplyAuxInformation}) {
      const Bytes m = controlState(id);
      all.insert(all.end(), m.begin(), m.end());
    }
    return reply(all);
  });
  f.on(controlKey(kControlLEDs), [this](const HostFrame& frame) {
    ledMask_ = frame.bytes[3];
    return std::vector<FrameCommandDevice::Reply>{};
  });
  f.on(controlKey(kControlCurrent), [this](const HostFrame& frame) {
    current_ = int(frame.bytes[3] | (frame.bytes[4] << 8));
    return std::vector<FrameCommandDevice::Reply>{};
  });
  f.on(controlKey(kControlInquiry), [this](const HostFrame& frame) {
    if (frame.bytes[3] == 0x80) {
      poweredOff_ = true;
      restart();  // goes away; a power button would bring it back
    }
    return std::vector<FrameCommandDevice::Reply>{};
  });

  f.on(kBootTargetInformation, [this](const HostFrame&) {
    std::lock_guard lock(mutex_);
    // Firmware id 0x00C0FFEE, version 1.2.3, one unused byte.
    Bytes info(faults_.targetInfoLength, 0);
    const uint8_t known[] = {0xEE, 0xFF, 0xC0, 0x00, 3, 2, 1, 0};
    std::copy_n(known, std::min(info.size(), sizeof known), info.begin());
    return reply(bootloaderFrame(kBootTargetInformation, info));
  });
  f.on(kBootCreateStore, [this](const HostFrame& frame) {
    std::lock_guard lock(mutex_);
    const Bytes p = bootloaderFramePayload(frame.bytes, frame.bytes.size());
    storeSize_ = p.size() >= 4 ? uint32_t(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24)) : 0;
    stored_.clear();
    chunks_.clear();
    return reply(bootloaderFrame(kBootCreateStore, {uint8_t(faults_.refuseStore ? 0 : 1)}));
  });
  f.on(kBootDataChunk, [this](const HostFrame& frame) {
    std::lock_guard lock(mutex_);
    const Bytes p = bootloaderFramePayload(frame.bytes, frame.bytes.size());
    stored_.insert(stored_.end(), p.begin(), p.end());
    chunks_.push_back(p.size());
    return reply(bootloaderFrame(kBootDataChunk, {uint8_t(faults_.writeError ? 0 : 1)}));
  });
  f.on(kBootEndOfData, [](const HostFrame&) { return reply(bootloaderFrame(kBootEndOfData, {1})); });
  f.on(kBootVerify, [this](const HostFrame&) {
    std::lock_guard lock(mutex_);
    uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), stored_.data(), uInt(stored_.size())));
    if (faults_.wrongCrc) crc += 1;
    return reply(bootloaderFrame(kBootVerify, le32(crc)));
  });
  f.on(kBootInstall, [this](const HostFrame&) {
    bool restartAfter;
    bool ack;
    {
      std::lock_guard lock(mutex_);
      ack = !faults_.nack;
      restartAfter = ack && !faults_.noRestart;
    }
    // The acknowledgement goes out before the case restarts.
    send(kBootloaderChannel, bootloaderFrame(kBootInstall, {uint8_t(ack ? 1 : 0)}));
    if (restartAfter) restart();
    return std::vector<FrameCommandDevice::Reply>{};
  });
}

void SimulatedChargingCase::restart() {
  // Detaching joins the device thread, which runs this handler: do it from another thread.
  std::lock_guard lock(restartMutex_);
  if (closing_) return;
  if (restartThread_.joinable()) restartThread_.join();
  restartThread_ = std::thread([this] {
    detach();
    ++restarts_;
    if (!poweredOff_.load()) attach();
  });
}

void SimulatedChargingCase::setPIM(int8_t pim) {
  {
    std::lock_guard lock(mutex_);
    pim_ = pim;
  }
  send(kControlChannel, controlState(kReplyAccessoryInformation));
}

void SimulatedChargingCase::setBattery(const Battery& battery) {
  std::lock_guard lock(mutex_);
  battery_ = battery;
}

SimulatedChargingCase::Battery SimulatedChargingCase::battery() const {
  std::lock_guard lock(mutex_);
  return battery_;
}

void SimulatedChargingCase::press(int sw) {
  {
    std::lock_guard lock(mutex_);
    if (sw >= 1 && sw <= 5) switches_ = uint8_t(switches_ | (1u << (sw - 1)));
  }
  sendSwitches();
}

void SimulatedChargingCase::release(int sw) {
  {
    std::lock_guard lock(mutex_);
    if (sw >= 1 && sw <= 5) switches_ = uint8_t(switches_ & ~(1u << (sw - 1)));
  }
  sendSwitches();
}

void SimulatedChargingCase::sendSwitches() { send(kControlChannel, controlState(kReplySwitchPositions)); }

void SimulatedChargingCase::sendControl(const std::vector<Bytes>& messages) {
  Bytes all;
  for (const auto& m : messages) all.insert(all.end(), m.begin(), m.end());
  send(kControlChannel, all);
}

void SimulatedChargingCase::setBootFaults(const BootFaults& faults) {
  std::lock_guard lock(mutex_);
  faults_ = faults;
}

Bytes SimulatedChargingCase::storedImage() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

std::vector<size_t> SimulatedChargingCase::chunkSizes() const {
  std::lock_guard lock(mutex_);
  return chunks_;
}

}  // namespace devices
