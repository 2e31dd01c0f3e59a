// The pinpad's Bluetooth module: the transport the module driver uses (group 0x3A), the
// pinpad-level Bluetooth methods, and the module's events passed on to the delegates.
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {
constexpr int kMaxModuleWrite = 240;
constexpr unsigned kClassPrinter = 0x600;
}  // namespace

int PPad::_ppadBTSetEnabled(bool on) {
  return d_->command(ppad::kGroupBluetooth, {0x01, uint8_t(on ? 1 : 0)});
}

int PPad::_ppadBTWrite(const uint8_t* data, int* length) {
  if (!length || *length < 0 || (!data && *length > 0)) return ppad::kInvalidParameter;
  if (*length > kMaxModuleWrite) *length = kMaxModuleWrite;
  return d_->command(ppad::kGroupBluetooth, withArgs({0x02}, data, size_t(*length)));
}

int PPad::btReadPacket() {
  // Drains what the module holds; other commands may run between the reads.
  for (;;) {
    Bytes reply;
    const int r = d_->command(ppad::kGroupBluetooth, {0x03}, &reply);
    if (r != 0) return r;
    if (auto module = d_->module()) module->btAppendData(reply.data(), reply.size());
  }
}

int PPad::btSetInitData(const Bytes& init) {
  return d_->command(ppad::kGroupSystem, withArgs({0x14, 0x68}, init));
}

bool PPad::_bt301Write(const uint8_t* data, int* length, Error* error) {
  if (_ppadBTWrite(data, length) == 0) return true;
  const auto e = KXUNISDKGlobals::makeError(-20, "Failed writing to bluetooth module");
  KXUNISDKGlobals::LOG("PPad: ERROR: %s", e.text.c_str());
  if (error) *error = e;
  return false;
}

bool PPad::_bt301SetEnabled(bool enabled, Error* error) {
  int r = 0;
  if (enabled) {
    // Power-cycled: off, a pause, then on.
    r = _ppadBTSetEnabled(false);
    ppadPause(kBTPowerCyclePause);
  }
  if (r == 0) r = _ppadBTSetEnabled(enabled);
  if (r == 0) return true;
  const auto e = KXUNISDKGlobals::makeError(-20, "Failed enabling bluetooth module");
  KXUNISDKGlobals::LOG("PPad: ERROR: %s", e.text.c_str());
  if (error) *error = e;
  return false;
}

// ---- Pinpad-level methods ----------------------------------------------------------------

int PPad::btGetEnabled(bool* enabled) {
  auto m = d_->module();
  if (enabled) *enabled = m && m->enabled();
  return 0;
}

int PPad::btSetEnabled(bool) { return 0; }

int PPad::btWrite(const Bytes& data) {
  auto m = d_->module();
  return m && m->btWrite(data.data(), int(data.size()), nullptr) ? 0 : ppad::kFailed;
}

int PPad::btWriteLine(const std::string& line) {
  auto m = d_->module();
  return m && m->btWrite(line + "\r\n", nullptr) ? 0 : ppad::kFailed;
}

std::optional<std::string> PPad::btReadLine(double timeoutSeconds) {
  auto m = d_->module();
  if (!m) return std::nullopt;
  return m->btReadLine(timeoutSeconds, nullptr);
}

std::optional<Bytes> PPad::btRead(int length, double timeoutSeconds) {
  auto m = d_->module();
  if (!m || length < 0) return std::nullopt;
  Bytes buffer(static_cast<size_t>(length), 0);
  const int n = m->btRead(buffer.data(), length, timeoutSeconds, nullptr);
  if (n < 0) return std::nullopt;
  buffer.resize(size_t(std::min(n, length)));
  return buffer;
}

int PPad::btDiscoverDevices(int maxDevices, double maxTime, int codTypes, std::vector<std::string>* devices) {
  auto m = d_->module();
  if (!m || !m->btDiscoverDevices(maxDevices, maxTime, unsigned(codTypes), nullptr)) return ppad::kHardwareError;
  if (devices) *devices = m->btDeviceAddresses().value_or(std::vector<std::string>{});
  return 0;
}

int PPad::btGetDeviceName(const std::string& address, std::string* name) {
  auto m = d_->module();
  const auto addresses = m ? m->btDeviceAddresses() : std::nullopt;
  if (!addresses) return ppad::kNoData;
  const auto it = std::find(addresses->begin(), addresses->end(), address);
  if (it == addresses->end()) return ppad::kNoData;
  const auto names = m->btDeviceNames();
  const size_t at = size_t(it - addresses->begin());
  if (at >= names.size()) return ppad::kNoData;
  if (name) *name = names[at];
  return 0;
}

namespace {
int discoverInBackground(PPad::Impl& d, int maxDevices, double maxTime, unsigned cod, int filter) {
  auto m = d.module();
  if (!m) return ppad::kHardwareError;
  return m->btDiscoverDevicesInBackground(maxDevices, maxTime, cod, filter,
                                         d.delegates.weakSnapshot<BTModuleEvents>(), nullptr)
             ? 0
             : ppad::kHardwareError;
}
}  // namespace

int PPad::btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes) {
  return discoverInBackground(*d_, maxDevices, maxTime, unsigned(codTypes), 0);
}

int PPad::btDiscoverPrintersInBackground(int maxDevices, double maxTime) {
  return discoverInBackground(*d_, maxDevices, maxTime, kClassPrinter, 1);
}

int PPad::btDiscoverSupportedDevicesInBackground(int maxDevices, double maxTime, int filter) {
  return discoverInBackground(*d_, maxDevices, maxTime, 0, filter);
}

int PPad::btConnect(const std::string& address, const std::string& pin) {
  auto m = d_->module();
  return m && m->btConnect(address, pin, nullptr) ? 0 : ppad::kHardwareError;
}

int PPad::btDisconnect(const std::string& address) {
  if (auto m = d_->module()) m->btDisconnect(address, nullptr);
  return 0;
}

int PPad::btEnableWriteCaching(bool on) {
  if (auto m = d_->module()) m->setWriteCachingEnabled(on);
  return 0;
}

int PPad::btSetDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence) {
  if (auto m = d_->module()) m->setDataNotificationMaxTime(maxTime, maxLength, sequence, nullptr);
  return 0;
}

// ---- Module events --------------------------------------------------------------------------

void PPad::bluetoothDeviceConnected(const std::string& address) {
  KXUNISDKGlobals::LOG("PPad: bluetoothDeviceConnected");
  d_->fanOut(btsel::bluetoothDeviceConnected, [&](PPadDelegate& del) { del.bluetoothDeviceConnected(address); });
}

void PPad::bluetoothDeviceDisconnected(const std::string& address) {
  KXUNISDKGlobals::LOG("PPad: bluetoothDeviceDisconnected");
  d_->fanOut(btsel::bluetoothDeviceDisconnected,
             [&](PPadDelegate& del) { del.bluetoothDeviceDisconnected(address); });
}

bool PPad::bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) {
  KXUNISDKGlobals::LOG("PPad: bluetoothDeviceRequestedConnection");
  bool answer = false;
  d_->fanOut(btsel::bluetoothDeviceRequestedConnection, [&](PPadDelegate& del) {
    answer = del.bluetoothDeviceRequestedConnection(address, name);
  });
  return answer;
}

std::optional<std::string> PPad::bluetoothDevicePINCodeRequired(const std::string& address,
                                                                const std::string& name) {
  KXUNISDKGlobals::LOG("PPad: bluetoothDevicePINCodeRequired");
  std::optional<std::string> answer;
  d_->fanOut(btsel::bluetoothDevicePINCodeRequired, [&](PPadDelegate& del) {
    answer = del.bluetoothDevicePINCodeRequired(address, name);
  });
  return answer;
}

void PPad::bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) {
  // The first delegate (the device API) only, and only when it takes the call.
  auto first = d_->firstDelegate();
  if (!first || !first->responds(btsel::bluetoothDevicePassKeySent)) return;
  try {
    first->bluetoothDevicePassKeySent(address, passKey);
  } catch (...) {
  }
}

bool PPad::clientsRespondToSelector(std::string_view selector) {
  auto first = d_->firstDelegate();
  return first ? first->clientsRespondToSelector(selector) : false;
}

void PPad::notifyDiscoverFinish(int result) {
  const bool ok = result == 0;
  d_->fanOut(btsel::bluetoothDiscoverComplete, [&](PPadDelegate& del) { del.bluetoothDiscoverComplete(ok); });
}

void PPad::notifyDiscoverDeviceFound(const std::vector<std::string>& addressAndName) {
  if (addressAndName.size() < 2) return;
  d_->fanOut(btsel::bluetoothDeviceDiscovered, [&](PPadDelegate& del) {
    del.bluetoothDeviceDiscovered(addressAndName[0], addressAndName[1]);
  });
}

}  // namespace kestra
