#include "testing/devices/sleeve/SleeveTestBench.h"

#include <cstdlib>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/transport/GlobalQueue.h"

namespace devices {

namespace {
std::string hex(const foundation::Bytes& b) { return foundation::toHex(b); }
std::string opt(const std::optional<std::string>& s) { return s ? *s : "(null)"; }
}  // namespace

RecordingPellanDelegate::RecordingPellanDelegate(std::vector<std::string_view> selectors,
                                                 std::string tag)
    : RecordingDelegate(std::make_shared<CallRecorder>(), std::move(tag)) {
  using namespace kestra;
  if (selectors.empty())
    selectors = {sel::connectionState,       sel::deviceFeatureSupported,
                 sel::pellanButtonPressed,   sel::pellanButtonReleased,
                 sel::kxdev_debug,           sel::kxdev_barcodeData,
                 sel::kxdev_uhfCard,         sel::kxdev_magneticPassbookData,
                 sel::kxdev_magneticCTDOTData, sel::magneticCardData,
                 sel::magneticJISCardData,   sel::magneticF2FCardData,
                 sel::magneticCardRawData,   sel::handleEvent,
                 sel::bluetoothDevicePassKeySent};
  for (auto s : selectors) declare({s});
}

void RecordingPellanDelegate::connectionState(int s) { record("connectionState:" + std::to_string(s)); }
void RecordingPellanDelegate::deviceFeatureSupported(int f, int v) {
  record("deviceFeatureSupported:" + std::to_string(f) + "," + std::to_string(v));
}
void RecordingPellanDelegate::pellanButtonPressed(int b) { record("pellanButtonPressed:" + std::to_string(b)); }
void RecordingPellanDelegate::pellanButtonReleased(int b) { record("pellanButtonReleased:" + std::to_string(b)); }
void RecordingPellanDelegate::kxdev_debug(const std::string& t, int s) {
  record("kxdev_debug:" + t + "," + std::to_string(s));
}
void RecordingPellanDelegate::kxdev_barcodeData(const foundation::Bytes& b) { record("kxdev_barcodeData:" + hex(b)); }
void RecordingPellanDelegate::kxdev_uhfCard(int pc, const foundation::Bytes& epc) {
  record("kxdev_uhfCard:" + std::to_string(pc) + "," + hex(epc));
}
void RecordingPellanDelegate::kxdev_magneticPassbookData(const foundation::Bytes& d) {
  record("kxdev_magneticPassbookData:" + hex(d));
}
void RecordingPellanDelegate::kxdev_magneticCTDOTData(const foundation::Bytes& d) {
  record("kxdev_magneticCTDOTData:" + hex(d));
}
void RecordingPellanDelegate::magneticCardData(const std::optional<std::string>& t1,
                                               const std::optional<std::string>& t2,
                                               const std::optional<std::string>& t3) {
  record("magneticCardData:" + opt(t1) + "," + opt(t2) + "," + opt(t3));
}
void RecordingPellanDelegate::magneticJISCardData(const std::string& d) { record("magneticJISCardData:" + d); }
void RecordingPellanDelegate::magneticF2FCardData(const std::string& d) { record("magneticF2FCardData:" + d); }
void RecordingPellanDelegate::magneticCardRawData(const foundation::Bytes& d) {
  record("magneticCardRawData:" + hex(d));
}
void RecordingPellanDelegate::handleEvent(const foundation::Bytes& d) { record("handleEvent:" + hex(d), false); }
void RecordingPellanDelegate::bluetoothDevicePassKeySent(const std::string& address,
                                                          const std::string& passKey) {
  record("bluetoothDevicePassKeySent:" + address + "," + passKey, false);
}
void RecordingPellanDelegate::barcodeNSData(const foundation::Bytes& b, int type) {
  record("barcodeNSData:" + hex(b) + "," + std::to_string(type));
}
void RecordingPellanDelegate::barcodeData(const std::string& b, int type) {
  record("barcodeData:" + b + "," + std::to_string(type));
}

SleeveTestBench::SleeveTestBench(SimulatedSleeve::Options options) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kestra-sleeve-XXXXXX").string();
  if (char* made = mkdtemp(tmpl.data())) folder = made;
  registry = std::make_unique<accessory::AccessoryManager>(folder);
  commRunLoop = std::make_unique<kestra::KXUNISDKCommRunLoop>();
  manager = kestra::EAManager::create(*registry, *commRunLoop);
  pellan = kestra::Pellan::create(*manager);
  manager->setDelegate(pellan);
  delegate = std::make_shared<RecordingPellanDelegate>();
  pellan->addDelegate(delegate);
  options.folder = folder;
  sleeve = std::make_unique<SimulatedSleeve>(options);
}

SleeveTestBench::~SleeveTestBench() {
  // The manager stops searching and stops hearing this registry before anything goes: a
  // search started by a late attach (the power cycle that `unplug` drains) would otherwise
  // outlive the registry, and the notifications it observes are keyed by the registry's
  // address, which the next bench's registry may take - an old driver would then claim the
  // next test's sleeve.
  if (manager) {
    manager->disconnect();
    manager->onUnregister();
  }
  if (pellan) pellan->disconnect();
  if (sleeve) sleeve->unplug();
  // Let queued main-queue work and the global queue's blocks finish before the objects go.
  // A stream that saw its device go disconnects on the global queue, waiting for the main
  // queue: every one must have closed its sessions and left the run-loop thread before
  // that thread and the registry go.
  runUntil(
      [&] { return kestra::GlobalQueue::running() == 0 && commRunLoop->requestCounter() == 0; },
      std::chrono::milliseconds(5000));
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
  sleeve.reset();
  pellan.reset();
  manager.reset();
  registry.reset();
  commRunLoop.reset();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

bool SleeveTestBench::runUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) {
  return foundation::RunLoop::main().runUntil(condition, timeout);
}

bool SleeveTestBench::advanceUntil(foundation::ManualClock& clock,
                                   const std::function<bool()>& condition,
                                   foundation::Duration step, foundation::Duration limit) {
  for (foundation::Duration passed{}; passed <= limit; passed += step) {
    if (runUntil(condition, std::chrono::milliseconds(5))) return true;
    clock.advance(step);
  }
  return runUntil(condition, std::chrono::milliseconds(5));
}

bool SleeveTestBench::connect(std::chrono::milliseconds timeout) {
  if (!sleeve->attached() && !sleeve->attach()) return false;
  pellan->connect();
  return runUntil(
      [&] {
        if (pellan->connstate() != 2) return false;
        for (const auto& c : delegate->calls())
          if (c == "connectionState:2") return true;
        return false;
      },
      timeout);
}

}  // namespace devices
