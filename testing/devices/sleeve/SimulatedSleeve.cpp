#include "testing/devices/sleeve/SimulatedSleeve.h"

#include <algorithm>
#include <cstdlib>

#include "sdk/sleeve/PellanModels.h"

namespace devices {

namespace {
// The sleeve event that carries the contactless reader's bytes.
constexpr uint8_t kRfEvent = 0x1F;
}  // namespace

accessory::AccessoryIdentity SimulatedSleeve::identityFor(const Options& o) {
  accessory::AccessoryIdentity id;
  id.name = o.config.name;
  id.manufacturer = o.manufacturer;
  id.modelNumber = o.config.model;
  id.serialNumber = o.config.serialNumber;
  id.firmwareRevision = o.announceFirmware ? o.config.firmware : std::string();
  id.hardwareRevision = "1.0";
  id.protocolStrings = {kestra::pellan::kProtocolBarcode};
  if (o.config.channels >= 2) id.protocolStrings.push_back(kestra::pellan::kProtocolMagnetic);
  if (o.config.firmware == kBootLoaderFirmware) {
    id.protocolStrings = {kestra::pellan::kProtocolBarcode, kestra::pellan::kProtocolUpdater};
    id.firmwareRevision.clear();
  }
  return id;
}

SimulatedSleeve::SimulatedSleeve(Options options)
    : FrameCommandSimulator(identityFor(options), options.folder, &SleeveProtocol::scanHostFrame),
      protocol_(options.config),
      options_(options) {
  if (options.engine) protocol_.passThrough.engine = SimulatedEngine::make(*options.engine);
  protocol_.passThrough.bootLoader = options.config.firmware == kBootLoaderFirmware;
  // Module commands answer at once; the module's events follow the reply (under `mutex_`).
  protocol_.modules[29] = [this](const Bytes& data, uint8_t* status) -> std::optional<Bytes> {
    std::vector<Bytes> events;
    auto answer = bluetooth_.command(data, &events);
    if (!answer) *status = 1;
    for (auto& e : events) protocol_.afterReply.push_back(protocol_.event(0, 0x1E, e));
    return answer ? answer : std::optional<Bytes>(Bytes{});
  };
  // The AT-command module: power and data mode (18), the host's read (19) and write (20).
  protocol_.modules[18] = [this](const Bytes& data, uint8_t* status) -> std::optional<Bytes> {
    const int what = data.size() >= 2 ? data[1] : -1;
    if (what == 1 && bt301InactiveUntilScan_) {
      if (protocol_.scanStarts <= *bt301InactiveUntilScan_) {
        *status = 6;  // module inactive
        return Bytes{};
      }
      bt301InactiveUntilScan_.reset();
    }
    if (what == 0) {
      bt301_.powerOff();
      bt301Pending_.clear();
    } else if (what == 1) {
      // The sleeve answers even when its module stays silent.
      const std::string ready = bt301_.powerOn();
      if (auto e = bt301Output(ready)) protocol_.afterReply.push_back(std::move(*e));
      return Bytes{0x01};
    }
    return Bytes{};
  };
  protocol_.modules[19] = [this](const Bytes&, uint8_t*) -> std::optional<Bytes> {
    ++bt301Polls_;
    const size_t n = std::min<size_t>(bt301Pending_.size(), 240);
    Bytes out(bt301Pending_.begin(), bt301Pending_.begin() + long(n));
    bt301Pending_.erase(0, n);
    return out;
  };
  protocol_.modules[20] = [this](const Bytes& data, uint8_t*) -> std::optional<Bytes> {
    const std::string reply = bt301_.receive(std::string(data.begin(), data.end()));
    if (auto e = bt301Output(reply)) protocol_.afterReply.push_back(std::move(*e));
    return Bytes{uint8_t(data.size() >> 8), uint8_t(data.size())};
  };
  // Called under `mutex_` from a command's handler: the power cycle runs on the power thread.
  protocol_.passThrough.onRestart = [this](const std::string& firmware) {
    protocol_.config.firmware = firmware.empty() ? kBootLoaderFirmware : firmware;
    protocol_.woken = !protocol_.config.wakeRequired;
    Options o = options_;
    o.config.firmware = protocol_.config.firmware;
    queuePowerCycle([this, o] {
      detach();
      setIdentity(identityFor(o));
      attach();
    });
  };
  protocol_.passThrough.onPowerLoss = [this] { queuePowerCycle([this] { detach(); }); };
  frames().onOther([this](const HostFrame& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FrameCommandDevice::Reply> replies;
    if (auto out = protocol_.answer(f.channel, f.bytes)) replies.push_back({std::move(out->frame), out->channel});
    // What the sleeve's modules said while the command ran follows the command's reply.
    for (auto& frame : pendingEvents_) replies.push_back({std::move(frame), 0});
    pendingEvents_.clear();
    for (auto& event : protocol_.afterReply) replies.push_back({std::move(event.frame), event.channel});
    protocol_.afterReply.clear();
    return replies;
  });
}

SimulatedSleeve::~SimulatedSleeve() { unplug(); }

void SimulatedSleeve::unplug() {
  {
    std::lock_guard<std::mutex> lock(powerMutex_);
    unplugged_ = true;
  }
  powerChanged_.notify_all();
  // Only this call joins the power thread, and only once; it drains what was queued first.
  std::thread power;
  {
    std::lock_guard<std::mutex> lock(powerMutex_);
    power.swap(powerThread_);
  }
  if (power.joinable()) power.join();
  detach();
}

void SimulatedSleeve::queuePowerCycle(std::function<void()> cycle) {
  std::lock_guard<std::mutex> lock(powerMutex_);
  if (unplugged_) return;
  powerCycles_.push_back(std::move(cycle));
  ++powerCyclesQueued_;
  if (!powerThread_.joinable()) powerThread_ = std::thread([this] { powerMain(); });
  powerChanged_.notify_all();
}

void SimulatedSleeve::powerMain() {
  std::unique_lock<std::mutex> lock(powerMutex_);
  for (;;) {
    powerChanged_.wait(lock, [&] { return unplugged_ || !powerCycles_.empty(); });
    if (powerCycles_.empty()) return;  // unplugged, and every queued cycle ran
    auto cycle = std::move(powerCycles_.front());
    powerCycles_.pop_front();
    lock.unlock();
    cycle();
    lock.lock();
    ++powerCyclesDone_;
    powerChanged_.notify_all();
  }
}

void SimulatedSleeve::restart(const std::string& firmware) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    protocol_.passThrough.bootLoader = firmware.empty();
    protocol_.passThrough.onRestart(firmware);
  }
  std::unique_lock<std::mutex> lock(powerMutex_);
  const uint64_t mine = powerCyclesQueued_;
  powerChanged_.wait(lock, [&] { return powerCyclesDone_ >= mine || !powerThread_.joinable(); });
}

void SimulatedSleeve::onBytes(int channel, const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_.noteBytes(channel, data, length);
}

void SimulatedSleeve::emit(const SleeveProtocol::Output& out,
                           const std::vector<size_t>& boundaries) {
  if (boundaries.empty())
    send(out.channel, out.frame);
  else
    sendInPieces(out.channel, out.frame, boundaries);
}

void SimulatedSleeve::sendBluetoothEvent(const Bytes& event) {
  emit(withProtocol([&](SleeveProtocol& p) { return p.event(0, 0x1E, event); }));
}

bool SimulatedSleeve::pushesModuleData() const {
  // "2.81" and later: major * 1000 + minor, as the sleeve compares its versions.
  const auto& fw = protocol_.config.firmware;
  const size_t dot = fw.find('.');
  const int major = std::atoi(fw.c_str());
  const int minor = dot == std::string::npos ? 0 : std::atoi(fw.c_str() + dot + 1);
  return major * 1000 + minor >= 2081;
}

std::optional<SleeveProtocol::Output> SimulatedSleeve::bt301Output(const std::string& bytes) {
  if (bytes.empty()) return std::nullopt;
  if (!pushesModuleData()) {
    bt301Pending_ += bytes;
    return std::nullopt;
  }
  Bytes event{10};
  event.insert(event.end(), bytes.begin(), bytes.end());
  return protocol_.event(0, 0x1E, event);
}

void SimulatedSleeve::bt301Sends(const std::string& bytes) {
  std::optional<SleeveProtocol::Output> out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    out = bt301Output(bytes);
  }
  if (out) emit(*out);
}

void SimulatedSleeve::setBT301Inactive(bool inactive) {
  std::lock_guard<std::mutex> lock(mutex_);
  bt301InactiveUntilScan_ = inactive ? std::optional<int>(protocol_.scanStarts) : std::nullopt;
}

int SimulatedSleeve::bt301Polls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bt301Polls_;
}

void SimulatedSleeve::sendBarcode(const std::string& text, uint8_t engineCode) {
  emit(withProtocol([&](SleeveProtocol& p) { return p.barcodeEvent(engineCode, text); }));
}

void SimulatedSleeve::pressButton(uint8_t state) {
  emit(withProtocol([&](SleeveProtocol& p) { return p.buttonEvent(state); }));
}

void SimulatedSleeve::swipe(const std::optional<std::string>& t1,
                            const std::optional<std::string>& t2,
                            const std::optional<std::string>& t3) {
  emit(withProtocol([&](SleeveProtocol& p) { return p.magneticEvent(t1, t2, t3); }));
}

void SimulatedSleeve::sendRawCard(const Bytes& data) {
  emit(withProtocol([&](SleeveProtocol& p) { return p.rawCardEvent(data); }));
}

void SimulatedSleeve::sendEvent(int channel, uint8_t code, const Bytes& payload) {
  emit(withProtocol([&](SleeveProtocol& p) { return p.event(channel, code, payload); }));
}

// Set on the device thread while a command frame is being answered.
thread_local bool SimulatedSleeve::answeringCommand_ = false;

void SimulatedSleeve::moduleEvent(uint8_t code, const Bytes& data) {
  // Channel 0: [00][length BE 2][code][02][00][data].
  Bytes frame{0x00, uint8_t(data.size() >> 8), uint8_t(data.size()), code, 0x02, 0x00};
  frame.insert(frame.end(), data.begin(), data.end());
  if (answeringCommand_) {
    pendingEvents_.push_back(std::move(frame));  // the handler holds the lock and sends it after the reply
    return;
  }
  send(0, frame);
}

void SimulatedSleeve::attachRfReader(std::shared_ptr<SimulatedRc663> module) {
  rfModule_ = module;
  module->onReply = [this](const Bytes& bytes) {
    Bytes data{0x00, 0x00};
    data.insert(data.end(), bytes.begin(), bytes.end());
    moduleEvent(kRfEvent, data);
  };
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_.rfReader = [module](uint8_t, const Bytes& data) -> std::optional<Bytes> {
    answeringCommand_ = true;
    module->receive(data);
    answeringCommand_ = false;
    return Bytes{};
  };
}

}  // namespace devices
