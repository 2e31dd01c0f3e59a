#include "testing/devices/pinpad/SimulatedPinpad.h"

#include <cstring>

namespace devices {

namespace {
constexpr uint8_t kMarker = 0x3E;
constexpr uint8_t kEmv2Event = 0x0B;
constexpr uint8_t kBluetoothData = 0x09;
constexpr uint8_t kRfData = 0x0A;
// Set while this thread answers a host frame (the model's lock held).
thread_local bool answeringFrame = false;
}  // namespace

SimulatedPinpad::SimulatedPinpad(accessory::AccessoryIdentity identity, std::filesystem::path folder,
                                 PinpadPersona persona)
    : FrameCommandSimulator(std::move(identity), std::move(folder), &SimulatedPinpad::parseHostFrame),
      model_(std::move(persona)) {
  frames().onOther([this](const HostFrame& f) { return answerHostFrame(model_, mutex_, f, badChecks_); });
}

SimulatedPinpad::~SimulatedPinpad() { detach(); }

accessory::AccessoryIdentity SimulatedPinpad::identityFor(const std::string& name,
                                                          std::vector<std::string> protocols) {
  accessory::AccessoryIdentity id;
  id.name = name;
  id.manufacturer = "SABREL";
  id.modelNumber = name;
  id.serialNumber = "PP-0001";
  id.firmwareRevision = "2.4.39.64";
  id.hardwareRevision = "1.0";
  id.protocolStrings = std::move(protocols);
  return id;
}

FrameScan SimulatedPinpad::parseHostFrame(const uint8_t* data, size_t length) {
  if (data[0] != kMarker) {
    const void* next = std::memchr(data, kMarker, length);
    return FrameScan::skip(next ? size_t(static_cast<const uint8_t*>(next) - data) : length);
  }
  if (length < 5) return FrameScan::needMore();
  const size_t n = size_t(data[3]) << 8 | data[4];
  if (length < n + 6) return FrameScan::needMore();
  return FrameScan::frame(n + 6, data[1]);
}

std::vector<FrameCommandDevice::Reply> answerHostFrame(PinpadModel& model, std::mutex& mutex,
                                                       const HostFrame& frame, std::atomic<int>& badChecks) {
  const Bytes& b = frame.bytes;
  uint8_t x = 0;
  for (size_t i = 0; i + 1 < b.size(); ++i) x ^= b[i];
  if (x != b.back()) {
    ++badChecks;
    return {};
  }
  const Bytes data(b.begin() + 5, b.end() - 1);
  std::optional<PinpadModel::Answer> a;
  std::vector<Bytes> events, module, rf;
  {
    std::lock_guard<std::mutex> lock(mutex);
    answeringFrame = true;
    a = model.handle(b[1], data);
    answeringFrame = false;
    events.swap(model.emv2Events);
    module.swap(model.btPackets);
    rf.swap(model.rfPackets);
  }
  // The Bluetooth module's answer reaches the host before the pinpad confirms the command.
  std::vector<FrameCommandDevice::Reply> replies;
  for (const auto& m : module) replies.push_back({PinpadModel::packet(kBluetoothData, 0, m), -1});
  if (!a) return replies;
  replies.push_back({PinpadModel::responsePacket(a->status, a->data), -1});
  for (const auto& e : events) replies.push_back({PinpadModel::packet(kEmv2Event, 0, e), -1});
  for (const auto& r : rf) replies.push_back({PinpadModel::packet(kRfData, 0, r), -1});
  return replies;
}

void SimulatedPinpad::sendPacket(uint8_t type, uint8_t status, const Bytes& data,
                                 const std::vector<size_t>& boundaries) {
  const Bytes p = PinpadModel::packet(type, status, data);
  if (boundaries.empty())
    send(0, p);
  else
    sendInPieces(0, p, boundaries);
}

std::function<void(const Bytes&)> SimulatedPinpad::attachRfReader(std::function<void(const Bytes&)> reader) {
  withModel([&](PinpadModel& m) { m.rfReader = std::move(reader); });
  return [this](const Bytes& bytes) {
    if (answeringFrame)
      model_.rfPackets.push_back(bytes);  // this thread holds the model's lock
    else
      sendPacket(kRfData, 0, bytes);
  };
}

void SimulatedPinpad::withBluetoothModule(const std::function<std::string(SimulatedBT301&)>& f) {
  std::vector<Bytes> packets;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    model_.btModuleSent(f(model_.btModule));
    packets.swap(model_.btPackets);
  }
  for (const auto& p : packets) sendPacket(kBluetoothData, 0, p);
}

PinpadPeer::PinpadPeer(PinpadPersona persona)
    : StreamPairPeer(&SimulatedPinpad::parseHostFrame), model_(std::move(persona)) {
  frames().onOther([this](const HostFrame& f) { return answerHostFrame(model_, mutex_, f, badChecks_); });
}

PinpadPeer::~PinpadPeer() { stop(); }

}  // namespace devices
