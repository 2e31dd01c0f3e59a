// The sleeve's Bluetooth module: the transport the module drivers use (commands 18-20 for
// the AT-command module, 29 for the module the sleeve runs itself), the public Bluetooth
// methods (which forward to the module in use), the module's events from the sleeve (0x1E)
// and their fan-out to the delegates.

#include <pthread.h>

#include <algorithm>
#include <cctype>

#include "platform/foundation/ThreadName.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"
#include "sdk/sleeve/PellanModels.h"

namespace kestra {

namespace {
constexpr int kCmdBT301Power = 18;
constexpr int kCmdBT301Read = 19;
constexpr int kCmdBT301Write = 20;
// Firmware from 2.81 pushes the AT-command module's bytes as events; older firmware is polled.
constexpr int kFirmwarePushingModuleData = 2081;
constexpr auto kBT301ReadInterval = std::chrono::milliseconds(100);
constexpr auto kModuleSettle = std::chrono::milliseconds(100);
constexpr int kCmdBTUniversal = 29;
constexpr int kMaxModuleWrite = 240;
constexpr int kFeatureBluetooth = 2;
constexpr unsigned kClassPrinterPinpad = 0x600;

bool standardError(Error* error, int code) {
  const Error e = KXUNISDKGlobals::makeError(code, std::string(KXErrors::getErrorDescription(code)));
  KXUNISDKGlobals::LOG("PN:ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}
}  // namespace

std::shared_ptr<btModule> Pellan::btInputStream() const { return d_->module(); }
std::shared_ptr<btBT301> Pellan::bt301Module() const { return d_->bt301; }
std::shared_ptr<btUniversal> Pellan::btUniModule() const { return d_->btUni; }
bool Pellan::bt301ReadThreadActive() const { return d_->bt301ThreadActive.load(); }

void Pellan::chooseBluetoothModule() {
  std::shared_ptr<btModule> chosen;
  if (deviceName() == pellan::kCardReaderDisplayName)
    chosen = d_->btUni;
  else
    chosen = d_->bt301;
  chosen->setControlDelegate(std::weak_ptr<BTModuleHost>(weak_from_this()));
  // A module that was on (the sleeve came back) is marked off and given a moment to settle.
  const bool wasOn = chosen->enabled();
  chosen->setEnabled(false);
  {
    std::lock_guard<std::mutex> lock(d_->btModuleMutex);
    d_->bt = chosen;
  }
  if (wasOn) pellanPause(kModuleSettle);
}

// ---- The AT-command module's read thread ---------------------------------------------------------

void Pellan::bt301ReadThread(const std::weak_ptr<Pellan>& weak) {
  // Linux keeps 15 characters of a thread name; the logical name is "Pellan BT301 Read Thread".
  foundation::setCurrentThreadName("Pellan BT301");
  auto& clock = foundation::Clock::current();
  // The driver is held for one round at a time: when the last owner lets go here, the
  // driver's end leaves this thread alone and the next round finds it gone.
  for (;;) {
    auto self = weak.lock();
    if (!self) return;
    Impl& d = *self->d_;
    if (d.bt301ThreadShouldClose || self->connstate() != 2) {
      d.bt301ThreadActive = false;
      d.bt301->close();
      return;
    }
    if (auto r = self->sendCommand(0, kCmdBT301Read, nullptr, 0, nullptr); r && !r->empty())
      d.bt301->btAppendData(r->data(), r->size());
    std::unique_lock<std::mutex> lock(d.bt301ThreadMutex);
    clock.waitFor(lock, d.bt301ThreadWake, kBT301ReadInterval, [&] { return d.bt301ThreadShouldClose.load(); });
  }
}

void Pellan::stopBT301ReadThread() {
  std::thread ended;
  {
    std::lock_guard<std::mutex> lock(d_->bt301ThreadMutex);
    d_->bt301ThreadShouldClose = true;
    ended.swap(d_->bt301Thread);
  }
  d_->bt301ThreadWake.notify_all();
  if (ended.joinable()) {
    if (ended.get_id() == std::this_thread::get_id())
      ended.detach();  // the last owner let go on the thread itself; it ends right after
    else
      ended.join();
  }
}

// ---- Transport ---------------------------------------------------------------------------------

bool Pellan::_bt301SetEnabled(bool enabled, Error* error) {
  const uint8_t off[] = {0x00, 0x00}, on[] = {0x00, 0x01};
  if (!enabled) {
    {
      std::lock_guard<std::mutex> lock(d_->bt301ThreadMutex);
      d_->bt301ThreadShouldClose = true;
    }
    d_->bt301ThreadWake.notify_all();
    sendCommand(0, kCmdBT301Power, off, 2, nullptr);
    return true;
  }
  sendCommand(0, kCmdBT301Power, off, 2, nullptr);
  Error e;
  auto r = sendCommand(0, kCmdBT301Power, on, 2, &e);
  if ((!r || r->empty()) && e.code == -16) {
    // A sleeve asleep is woken by a scan start and stop.
    barcodeStartScan(nullptr);
    barcodeStopScan(nullptr);
    e = Error{};
    r = sendCommand(0, kCmdBT301Power, on, 2, &e);
  }
  if (r && !r->empty()) {
    if (d_->fwVer < kFirmwarePushingModuleData) startBT301ReadThread();
    return true;
  }
  if (!e.isError()) e = KXUNISDKGlobals::makeError(-6, std::string("Invalid data length received"));
  return foundation::fail(error, e);
}

void Pellan::startBT301ReadThread() {
  std::thread ended;
  {
    std::lock_guard<std::mutex> lock(d_->bt301ThreadMutex);
    // A thread told to stop but still running goes on instead of a second one.
    d_->bt301ThreadShouldClose = false;
    if (d_->bt301ThreadActive) return;
    ended.swap(d_->bt301Thread);
    d_->bt301ThreadActive = true;
  }
  if (ended.joinable() && ended.get_id() != std::this_thread::get_id()) ended.join();
  else if (ended.joinable()) ended.detach();
  std::thread t([weak = weak_from_this()] { bt301ReadThread(weak); });
  std::lock_guard<std::mutex> lock(d_->bt301ThreadMutex);
  d_->bt301Thread = std::move(t);
}

bool Pellan::_bt301EnableDataMode(Error* error) {
  const uint8_t dataMode[] = {0x00, 0x02};
  return sendCommand(0, kCmdBT301Power, dataMode, 2, error).has_value();
}

bool Pellan::_bt301Write(const uint8_t* data, int* length, Error* error) {
  if (!length || *length < 0 || (!data && *length > 0)) return standardError(error, -9);
  if (*length > kMaxModuleWrite) *length = kMaxModuleWrite;
  auto r = sendCommand(0, kCmdBT301Write, data, uint64_t(*length), error);
  if (!r) return false;
  if (r->size() < 2)
    return foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Invalid data length received")));
  *length = std::min(*length, int(foundation::readBE16(r->data())));
  return true;
}

std::optional<Bytes> Pellan::_btUniCommand(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length > 0)) {
    standardError(error, -9);
    return std::nullopt;
  }
  return sendCommand(0, kCmdBTUniversal, data, uint64_t(length), error);
}

// ---- Events from the sleeve -----------------------------------------------------------------------

void Pellan::processBTEvents(const Bytes& r) {
  if (r.size() < 2 || r[0] != 0x00 || r[1] != 0x1E) return;
  const int st1 = r.size() > 2 ? r[2] : 0, st2 = r.size() > 3 ? r[3] : 0;
  const int sub = r.size() > 4 ? r[4] : -1;
  KXUNISDKGlobals::LOG("PN:cmd_scanner_cs_btevent received, st1:%d, st2:%d, subcmd:%d", st1, st2, sub);
  if (r.size() < 5) return;
  // Data and the end of a link go to the module in use; every other event concerns the
  // sleeve's own module.
  if (sub == kBTEventData) {
    if (auto bt = d_->module()) bt->btAppendData(r.data() + 5, r.size() - 5);
    return;
  }
  if (sub == kBTEventDisconnected || sub == kBTEventLinkLost) {
    if (auto bt = d_->module()) {
      const auto connected = bt->btConnectedDevices();
      bt->btDeviceDisconnected(connected.empty() ? std::string() : connected.front());
    }
    return;
  }
  if (auto uni = d_->btUni) uni->processEvent(r.data() + 4, r.size() - 4);
}

// ---- Module events to the delegates ----------------------------------------------------------------

void Pellan::bluetoothDeviceConnected(const std::string& address) {
  d_->fanOut(btsel::bluetoothDeviceConnected, [&](PellanDelegate& del) { del.bluetoothDeviceConnected(address); });
}

void Pellan::bluetoothDeviceDisconnected(const std::string& address) {
  d_->fanOut(btsel::bluetoothDeviceDisconnected,
             [&](PellanDelegate& del) { del.bluetoothDeviceDisconnected(address); });
}

bool Pellan::bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) {
  // Walked last to first: the answer that stands is the first delegate's in list order.
  bool answer = false;
  d_->fanOut(btsel::bluetoothDeviceRequestedConnection, [&](PellanDelegate& del) {
    answer = del.bluetoothDeviceRequestedConnection(address, name);
  });
  return answer;
}

std::optional<std::string> Pellan::bluetoothDevicePINCodeRequired(const std::string& address,
                                                                  const std::string& name) {
  std::optional<std::string> answer;
  d_->fanOut(btsel::bluetoothDevicePINCodeRequired, [&](PellanDelegate& del) {
    answer = del.bluetoothDevicePINCodeRequired(address, name);
  });
  return answer;
}

// ---- Public methods --------------------------------------------------------------------------------

bool Pellan::btGetConnected(bool* connected, Error*) {
  auto bt = d_->module();
  if (connected) *connected = bt && !bt->btConnectedDevices().empty();
  return true;
}

bool Pellan::btGetEnabled(bool* enabled, Error*) {
  if (enabled) *enabled = d_->module()->enabled();
  return true;
}

bool Pellan::btSetEnabled(bool enabled, Error* error) {
  if (!d_->feature(kFeatureBluetooth)) return standardError(error, -15);
  if (auto bt = d_->module(); !enabled && bt) bt->btDisconnect("", nullptr);
  return true;
}

bool Pellan::btWrite(const uint8_t* data, int length, Error* error) { return d_->module()->btWrite(data, length, error); }
bool Pellan::btWrite(const std::string& text, Error* error) { return d_->module()->btWrite(text, error); }
int Pellan::btRead(uint8_t* buffer, int length, double timeoutSeconds, Error* error) {
  return d_->module()->btRead(buffer, length, timeoutSeconds, error);
}
std::optional<std::string> Pellan::btReadLine(double timeoutSeconds, Error* error) {
  return d_->module()->btReadLine(timeoutSeconds, error);
}
bool Pellan::btSetDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence, Error* error) {
  return d_->module()->setDataNotificationMaxTime(maxTime, maxLength, sequence, error);
}
bool Pellan::btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                                Error* error) {
  return d_->module()->btListenForDevices(listen, discoverable, localName, cod, error);
}

std::optional<std::vector<std::string>> Pellan::btDiscoverDevices(int maxDevices, double maxTime, int codTypes,
                                                                  Error* error) {
  if (!d_->module()->btDiscoverDevices(maxDevices, maxTime, unsigned(codTypes), error)) return std::nullopt;
  return d_->module()->btDeviceAddresses().value_or(std::vector<std::string>{});
}

bool Pellan::btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes, int filter, Error* error) {
  if (!d_->feature(kFeatureBluetooth)) return standardError(error, -15);
  return d_->module()->btDiscoverDevicesInBackground(maxDevices, maxTime, unsigned(codTypes), filter,
                                               d_->delegates.weakSnapshot<BTModuleEvents>(), error);
}
bool Pellan::btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes, Error* error) {
  return btDiscoverDevicesInBackground(maxDevices, maxTime, codTypes, 0, error);
}
bool Pellan::btDiscoverSupportedDevicesInBackground(int maxDevices, double maxTime, int filter, Error* error) {
  return btDiscoverDevicesInBackground(maxDevices, maxTime, 0, filter, error);
}
bool Pellan::btDiscoverPrintersInBackground(int maxDevices, double maxTime, Error* error) {
  return btDiscoverDevicesInBackground(maxDevices, maxTime, int(kClassPrinterPinpad), 1, error);
}
bool Pellan::btDiscoverPinpadsInBackground(int maxDevices, double maxTime, Error* error) {
  return btDiscoverDevicesInBackground(maxDevices, maxTime, int(kClassPrinterPinpad), 2, error);
}

namespace {
std::optional<std::vector<std::string>> namedDevices(Pellan& p, int maxDevices, double maxTime, bool printers,
                                                     Error* error) {
  auto addresses = p.btDiscoverDevices(maxDevices, maxTime, int(kClassPrinterPinpad), error);
  if (!addresses) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& a : *addresses) {
    const auto name = p.btGetDeviceName(a, nullptr);
    if (printers ? KXUNISDKGlobals::isPrinter(name) : KXUNISDKGlobals::isPinpad(name)) {
      out.push_back(a);
      out.push_back(*name);
    }
  }
  return out;
}
}  // namespace

std::optional<std::vector<std::string>> Pellan::btDiscoverPrinters(int maxDevices, double maxTime, Error* error) {
  return namedDevices(*this, maxDevices, maxTime, true, error);
}
std::optional<std::vector<std::string>> Pellan::btDiscoverPinpads(int maxDevices, double maxTime, Error* error) {
  return namedDevices(*this, maxDevices, maxTime, false, error);
}

std::optional<std::string> Pellan::btGetDeviceName(const std::string& address, Error* error) {
  const auto bt = d_->module();
  const auto addresses = bt->btDeviceAddresses();
  if (!addresses) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-20, std::string("Failed getting device name")));
    return std::nullopt;
  }
  const auto it = std::find(addresses->begin(), addresses->end(), address);
  const auto names = bt->btDeviceNames();
  const size_t at = size_t(it - addresses->begin());
  if (it == addresses->end() || at >= names.size()) return std::nullopt;
  return names[at];
}

bool Pellan::btConnect(const std::string& address, const std::string& pin, Error* error) {
  return d_->module()->btConnect(address, pin, error);
}
bool Pellan::btDisconnect(const std::string& address, Error* error) { return d_->module()->btDisconnect(address, error); }
bool Pellan::btEnableWriteCaching(bool enabled, Error*) {
  d_->module()->setWriteCachingEnabled(enabled);
  return true;
}
std::optional<std::string> Pellan::btGetLocalAddress(Error* error) { return d_->module()->btGetLocalAddress(error); }

bool Pellan::btSetMicGain(int gain, Error* error) {
  std::string name = deviceName();
  std::transform(name.begin(), name.end(), name.begin(), [](char c) { return char(std::tolower((unsigned char)c)); });
  if (name.rfind("rudoziravozoz", 0) != 0 && name.rfind("zizorid", 0) != 0)
    return foundation::fail(error, KXUNISDKGlobals::makeError(-7, std::string("Mic gain is supported on Kestra X devices only!")));
  return d_->module()->btCommand("AT+WRMICGAIN=" + std::to_string(gain), error).has_value();
}

}  // namespace kestra
