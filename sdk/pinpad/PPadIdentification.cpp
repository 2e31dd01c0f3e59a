// Identification of a pinpad when its link opens, and the feature query.
#include <algorithm>
#include <cctype>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {

std::string trimmed(std::string s) {
  auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!s.empty() && space(s.back())) s.pop_back();
  size_t i = 0;
  while (i < s.size() && space(s[i])) ++i;
  return s.substr(i);
}

}  // namespace

int PPad::getIdentification(ppad::Identification* out) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupIdentification, {}, &reply);
  if (r == 0 && out) *out = ppad::parseIdentification(reply);
  return r;
}

KXPinpadInfo PPad::sysGetInfo() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->sysInfo.info();
}

bool PPad::featCheck(std::string_view code) const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return !d_->devInfo.featureString.empty() && KXUNISDKGlobals::featCheck(code, d_->devInfo.featureString);
}

int PPad::getSupportedFeature(int feature, Error* error) {
  auto& d = *d_;
  ppad::FeatureContext c;
  {
    std::lock_guard<std::mutex> lock(d.identityMutex);
    c.featureString = d.devInfo.featureString;
    c.deviceName = d.deviceName;
    c.identificationFirmware = d.devInfo.firmwareVersion;
  }
  c.deviceType = d.deviceType;
  c.displayWidth = d.displayWidth;
  c.displayHeight = d.displayHeight;
  c.uicolor = d.uicolor;
  bool detect = false, kernel = false;
  const int value = ppad::supportedFeature(c, feature, error, &detect, &kernel);
  if (kernel) {
    d.emvKernelType = 4;
    d.emvDetected = true;
  }
  if (!detect) return value;
  if (d.emvDetected) return d.emvKernelType;
  // The kernel answers its status query on the group of its own generation.
  d.emvDetected = true;
  const Bytes query = {0x02, 0x00};
  int type = 0;
  for (int candidate : {4, 2}) {
    d.emvKernelType = candidate;
    Bytes reply;
    if (emv2Command(query.data(), int(query.size()), &reply) == 0) {
      type = candidate;
      break;
    }
  }
  d.emvKernelType = type | 1;
  return d.emvKernelType;
}

int PPad::sysTest() { return d_->command(ppad::kGroupTest, {0x57}); }

void PPad::test() {
  const bool was = d_->transport.fakeConnected.exchange(true);
  auto& clock = foundation::Clock::current();
  const auto start = clock.now();
  for (int i = 1; i <= 100; ++i) {
    if (sysTest() != 0) break;
    const double taken = std::chrono::duration<double>(clock.now() - start).count();
    KXUNISDKGlobals::LOG("PPad: Time taken: %f, average: %f", taken, taken / i);
  }
  KXUNISDKGlobals::LOG("PPad: Done");
  d_->transport.fakeConnected = was;
}

bool PPad::initCheck() {
  auto& d = *d_;
  auto& t = d.transport;
  // 1. A fresh start: commands may go out before the state is 2.
  t.fakeConnected = true;
  d.emvInitDone = false;
  d.emvDetected = false;
  d.smartCardPresent = false;
  d.uiex = false;
  d.uicolor = false;
  d.prnRemovable = false;
  t.setTunnel(nullptr);
  t.setCaching(false);
  t.resetCache();

  auto failSilently = [&] {
    // Identification failed: "connecting" again, without telling anyone (the link layer
    // retries), and no command goes out on the strength of this attempt any more. A
    // disconnect made meanwhile stands.
    int state = t.connState;
    while (state != 0 && !t.connState.compare_exchange_weak(state, 1)) {
    }
    t.fakeConnected = false;
    t.setCaching(false);
    return false;
  };
  auto initFailed = [&] {
    KXUNISDKGlobals::LOG("PPad: INIT FAILED");
    return failSilently();
  };

  // 2-3. The system information, timed to choose the command mode.
  ppadPause(kIdentifyPause);
  const uint32_t before = KXUNISDKGlobals::getTickCount();
  ppad::SystemInfo info;
  if (sysGetSystemInfo(&info) != 0) return failSilently();
  const uint32_t took = KXUNISDKGlobals::getTickCount() - before;
  const bool caching = took > kCachingThresholdMs;
  t.setCaching(caching);
  KXUNISDKGlobals::LOG("PPad: COMM CACHING: %d, time took: %d", caching ? 1 : 0, int(took));

  // 4. Identity from the system information.
  std::string name = trimmed(info.firmwareName());
  if (name.rfind("FW ", 0) == 0) name = name.substr(3);
  {
    std::lock_guard<std::mutex> lock(d.identityMutex);
    d.sysInfo = info;
    d.serialNumber = std::to_string(info.serialNumber());
    d.deviceName = name;
    d.hardwareRevision = ppad::versionText(info.firmwareVersion());
    d.serialNumberCPU = info.cpuSerial();
  }

  // 5. The identification record.
  ppad::Identification id;
  if (getIdentification(&id) != 0) id = {};
  {
    std::lock_guard<std::mutex> lock(d.identityMutex);
    d.devInfo = id;
    d.firmwareRevision = ppad::versionText(id.firmwareVersion);
  }
  if (id.firmwareVersion >= ppad::kUiexFirmware) d.uiex = true;

  // 6. What the model name decides.
  using F = ppad::Model::Flag;
  if (const auto m = ppad::modelFor(name)) {
    d.deviceType = m->deviceType;
    d.displayWidth = m->displayWidth;
    d.displayHeight = m->displayHeight;
    d.statusHeight = m->statusHeight;
    d.topMargin = m->statusHeight;
    d.displayAtBottom = m->displayAtBottom;
    if (m->uiex == F::Set) d.uiex = true;
    if (m->uicolor == F::Set) d.uicolor = true;
    if (m->uicolor == F::Cleared) d.uicolor = false;
    if (m->clearDeviceModel) {
      std::lock_guard<std::mutex> lock(d.identityMutex);
      d.deviceModel.clear();
    }
    if (m->cachingMode) t.setCaching(true);
    if (m->enablePrinter && prnEnable(true) == 0) d.prnRemovable = true;
  }
  const bool builtInStatusLine = ppad::modelFor(name) ? ppad::modelFor(name)->builtInStatusLine : true;

  // 7. Connected pinpads run in direct mode.
  t.setCaching(false);
  KXUNISDKGlobals::LOG("PPad: CACHING DISABLED");

  // 8-9.
  int idle = 0;
  const int autoOff = sysGetAutoOffTimeSec(&idle);
  if (autoOff == 0) d.idleTimeout = idle;
  if (!id.featureString.empty()) {
    std::lock_guard<std::mutex> lock(d.identityMutex);
    d.deviceModel = id.featureString;
  }

  // 10. A known state; only a local failure (9) ends identification.
  if (autoOff == ppad::kFailed) return initFailed();
  if (!builtInStatusLine && sysStatusLine(false) == ppad::kFailed) return initFailed();
  if (msStart() == ppad::kFailed) return initFailed();
  if (uiKeyboardControl(true) == ppad::kFailed) return initFailed();
  if (sysSetDate(foundation::Clock::current().wallNow()) == ppad::kFailed) return initFailed();

  // 11. The printer of models that have one.
  if (getSupportedFeature(7) != 0) {
    if (!d.prnRemovable && prnEnable(true) == ppad::kFailed) return initFailed();
    int width = 0;
    if (prnGetCapability(1, &width)) d.pagewidth = width;
    if (d.prnRemovable) prnEnable(false);
    d.feedlines = 1;
  }

  // 12. Connected.
  if (t.caching()) t.startCacheWriteThread();
  KXUNISDKGlobals::LOG("PPad: INIT COMPLETE");
  setConnState(2);
  if (sysEnableEvents(0xFFFFFFFF) == ppad::kFailed) {
    // The connection was announced: its loss is announced too.
    t.fakeConnected = false;
    setConnState(1);
    return false;
  }
  t.fakeConnected = false;
  return true;
}

}  // namespace kestra
