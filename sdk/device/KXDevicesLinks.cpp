// Classic Bluetooth links through the sleeve's, the pinpad's or the serial adapter's module,
// supported devices behind such a link, TCP printers and the sleeve's external serial port.
// Each call routes with the device API's rule over the candidates of its own (sleeve, pinpad,
// serial adapter, in that order) and returns the driver's result unchanged.

#include <nlohmann/json.hpp>

#include "platform/accessory/SocketStreams.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/device/KXDevices.h"
#include "sdk/hub/CarvikStream.h"
#include "sdk/hub/CarvikStreams.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/bluetooth/BTModuleStreams.h"

namespace kestra {

namespace {
constexpr const char* kDevicesKey = "__SDK__bluetoothDevices";
constexpr int kDefaultTcpPort = 9100;
constexpr int kClassPrinterPinpad = 0x600;
constexpr int kConnectionTcp = 1;
constexpr int kConnectionBluetooth = 2;

bool readTimeout(Error* error) {
  const Error e = KXUNISDKGlobals::makeError(-6, std::string("Timeout reading data from bluetooth device"));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}
}  // namespace

// Candidates of every Bluetooth call: the sleeve, the pinpad, the serial adapter.
#define KX_BT_ROUTE(...) const auto kind = route({__VA_ARGS__})

bool KXDevices::btGetEnabled(bool* enabled, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btGetEnabled(enabled, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) return ppadResult(pinpad_->securePad()->btGetEnabled(enabled), error);
  if (kind == Kind::Adapter) {
    if (enabled) *enabled = true;
    return true;
  }
  return routeError(error);
}

std::optional<std::vector<std::string>> KXDevices::btDiscoverDevices(int maxDevices, double maxTime, int codTypes,
                                                                     Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btDiscoverDevices(maxDevices, maxTime, codTypes, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    std::vector<std::string> devices;
    if (!ppadResult(pinpad_->securePad()->btDiscoverDevices(maxDevices, maxTime, codTypes, &devices), error))
      return std::nullopt;
    return devices;
  }
  routeError(error);
  return std::nullopt;
}

std::optional<std::string> KXDevices::btGetDeviceName(const std::string& address, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btGetDeviceName(address, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    std::string name;
    if (!ppadResult(pinpad_->securePad()->btGetDeviceName(address, &name), error)) return std::nullopt;
    return name;
  }
  routeError(error);
  return std::nullopt;
}

namespace {
// The adapter's discovery: its filter, then its own inquiry.
bool adapterDiscover(CarvikStream* adapter, int filter, int maxDevices, double maxTime, int cod, Error* error) {
  adapter->discoverFilter = filter;
  return adapter->btUniDiscoverDevices(maxDevices, maxTime, cod, error);
}
}  // namespace

bool KXDevices::btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btDiscoverDevicesInBackground(maxDevices, maxTime, codTypes, error);
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return ppadResult(pinpad_->securePad()->btDiscoverDevicesInBackground(maxDevices, maxTime, codTypes), error);
  if (kind == Kind::Adapter && adapter_->linkAdapter())
    return adapterDiscover(adapter_->linkAdapter(), 0, maxDevices, maxTime, codTypes, error);
  return routeError(error);
}

bool KXDevices::btDiscoverSupportedDevicesInBackground(int maxDevices, double maxTime, int filter, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btDiscoverSupportedDevicesInBackground(maxDevices, maxTime, filter, error);
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return ppadResult(pinpad_->securePad()->btDiscoverSupportedDevicesInBackground(maxDevices, maxTime, filter), error);
  if (kind == Kind::Adapter && adapter_->linkAdapter())
    return adapterDiscover(adapter_->linkAdapter(), filter, maxDevices, maxTime, 0, error);
  return routeError(error);
}

bool KXDevices::btDiscoverPrintersInBackground(int maxDevices, double maxTime, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btDiscoverPrintersInBackground(maxDevices, maxTime, error);
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return ppadResult(pinpad_->securePad()->btDiscoverPrintersInBackground(maxDevices, maxTime), error);
  if (kind == Kind::Adapter && adapter_->linkAdapter())
    return adapterDiscover(adapter_->linkAdapter(), 1, maxDevices, maxTime, kClassPrinterPinpad, error);
  return routeError(error);
}

bool KXDevices::btDiscoverPrintersInBackground(Error* error) { return btDiscoverPrintersInBackground(10, 12.0, error); }

bool KXDevices::btDiscoverPinpadsInBackground(int maxDevices, double maxTime, Error* error) {
  // The pinpad's own module is not a candidate.
  KX_BT_ROUTE(Kind::Sleeve, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btDiscoverPinpadsInBackground(maxDevices, maxTime, error);
  if (kind == Kind::Adapter && adapter_->linkAdapter())
    return adapterDiscover(adapter_->linkAdapter(), 2, maxDevices, maxTime, kClassPrinterPinpad, error);
  return routeError(error);
}

bool KXDevices::btDiscoverPinpadsInBackground(Error* error) { return btDiscoverPinpadsInBackground(10, 12.0, error); }

bool KXDevices::btConnect(const std::string& address, const std::string& pin, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btConnect(address, pin, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) return ppadResult(pinpad_->securePad()->btConnect(address, pin), error);
  if (kind == Kind::Adapter && adapter_->linkAdapter()) return adapter_->linkAdapter()->btUniConnect(address, pin, error);
  return routeError(error);
}

bool KXDevices::btDisconnect(const std::string& address, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btDisconnect(address, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) return ppadResult(pinpad_->securePad()->btDisconnect(address), error);
  if (kind == Kind::Adapter && adapter_->linkAdapter()) return adapter_->linkAdapter()->btUniDisconnect(error);
  return routeError(error);
}

bool KXDevices::btWrite(const uint8_t* data, int length, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btWrite(data, length, error);
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return ppadResult(pinpad_->securePad()->btWrite(length > 0 && data ? Bytes(data, data + length) : Bytes{}), error);
  return routeError(error);
}

bool KXDevices::btWrite(const std::string& text, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btWrite(text, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    // ASCII, with characters it cannot hold replaced.
    Bytes ascii;
    for (unsigned char c : text) ascii.push_back(c < 0x80 ? c : '?');
    return ppadResult(pinpad_->securePad()->btWrite(ascii), error);
  }
  return routeError(error);
}

int KXDevices::btRead(uint8_t* buffer, int length, double timeout, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btRead(buffer, length, timeout, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    auto data = pinpad_->securePad()->btRead(length, timeout);
    if (!data) {
      readTimeout(error);
      return -1;
    }
    const size_t n = std::min(data->size(), size_t(std::max(length, 0)));
    if (buffer) std::copy(data->begin(), data->begin() + long(n), buffer);
    return int(n);
  }
  routeError(error);
  return 0;
}

std::optional<std::string> KXDevices::btReadLine(double timeout, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btReadLine(timeout, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    auto line = pinpad_->securePad()->btReadLine(timeout);
    if (!line) readTimeout(error);
    return line;
  }
  routeError(error);
  return std::nullopt;
}

bool KXDevices::btEnableWriteCaching(bool enabled, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btEnableWriteCaching(enabled, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) return ppadResult(pinpad_->securePad()->btEnableWriteCaching(enabled), error);
  return routeError(error);
}

bool KXDevices::btSetInitData(const Bytes& data, Error* error) {
  KX_BT_ROUTE(Kind::Pinpad);
  if (kind == Kind::Pinpad && pinpad_->securePad()) return ppadResult(pinpad_->securePad()->btSetInitData(data), error);
  return routeError(error);
}

bool KXDevices::btSetDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btSetDataNotificationMaxTime(maxTime, maxLength, sequence, error);
  return routeError(error);
}

bool KXDevices::btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                                   Error* error) {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->btListenForDevices(listen, discoverable, localName, cod, error);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    auto module = std::dynamic_pointer_cast<btModule>(pinpad_->securePad()->btInputStream());
    if (module) return module->btListenForDevices(listen, discoverable, localName, cod, error);
  }
  return routeError(error);
}

std::optional<std::string> KXDevices::btGetLocalAddress(Error* error) {
  KX_BT_ROUTE(Kind::Sleeve);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btGetLocalAddress(error);
  routeError(error);
  return std::nullopt;
}

bool KXDevices::btSetMicGain(int gain, Error* error) {
  KX_BT_ROUTE(Kind::Sleeve);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return sleeve_->linkSleeve()->btSetMicGain(gain, error);
  return routeError(error);
}

bool KXDevices::btConfirmPassKey(bool accept, Error* error) {
  // With both connected and the automatic type, the pinpad's module answers.
  std::optional<Kind> kind;
  if (activeDeviceType_.load() == DEVICE_TYPE_AUTOMATIC && kindConnected(Kind::Pinpad))
    kind = Kind::Pinpad;
  else
    kind = route({Kind::Sleeve, Kind::Pinpad});
  std::shared_ptr<btModule> module;
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) module = sleeve_->linkSleeve()->btInputStream();
  if (kind == Kind::Pinpad && pinpad_->securePad())
    module = std::dynamic_pointer_cast<btModule>(pinpad_->securePad()->btInputStream());
  if (module) return module->_btConfirmPassKey(accept, error);
  return routeError(error);
}

bool KXDevices::btFirmwareUpdate(const Bytes& file, const Bytes& additionalData, Error* error) {
  KX_BT_ROUTE(Kind::Pinpad);
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return ppadResult(pinpad_->securePad()->btFirmwareUpdate(file, additionalData), error);
  return routeError(error);
}

std::optional<std::string> KXDevices::btGetFirmwareVersion(Error* error) {
  KX_BT_ROUTE(Kind::Pinpad);
  if (kind == Kind::Pinpad && pinpad_->securePad()) {
    std::string version;
    const int status = pinpad_->securePad()->btGetFirmwareVersion(&version);
    if (status == 0) return version;
    ppadResult(status, error);
    if (status == 8) return std::string("Unknown");
    return std::nullopt;
  }
  routeError(error);
  return std::nullopt;
}

std::vector<std::string> KXDevices::btConnectedDevices() {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve() && sleeve_->linkSleeve()->btInputStream())
    return sleeve_->linkSleeve()->btInputStream()->btConnectedDevices();
  if (kind == Kind::Pinpad && pinpad_->securePad() && pinpad_->securePad()->btInputStream())
    return pinpad_->securePad()->btInputStream()->btConnectedDevices();
  if (kind == Kind::Adapter && adapter_->linkAdapter()) return adapter_->linkAdapter()->btConnectedDevices();
  return {};
}

std::shared_ptr<accessory::InputStream> KXDevices::btInputStream() {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return btModuleStreams(sleeve_->linkSleeve()->btInputStream()).input;
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return btModuleStreams(std::dynamic_pointer_cast<btModule>(pinpad_->securePad()->btInputStream())).input;
  if (kind == Kind::Adapter && adapter_->linkAdapter())
    return carvikStreams(adapter_->linkAdapter()->shared_from_this()).input;
  return nullptr;
}

std::shared_ptr<accessory::OutputStream> KXDevices::btOutputStream() {
  KX_BT_ROUTE(Kind::Sleeve, Kind::Pinpad, Kind::Adapter);
  if (kind == Kind::Sleeve && sleeve_->linkSleeve()) return btModuleStreams(sleeve_->linkSleeve()->btInputStream()).output;
  if (kind == Kind::Pinpad && pinpad_->securePad())
    return btModuleStreams(std::dynamic_pointer_cast<btModule>(pinpad_->securePad()->btInputStream())).output;
  if (kind == Kind::Adapter && adapter_->linkAdapter())
    return carvikStreams(adapter_->linkAdapter()->shared_from_this()).output;
  return nullptr;
}

#undef KX_BT_ROUTE

// ---- Supported devices and TCP printers ------------------------------------------------------------

bool KXDevices::btConnectSupportedDevice(const std::string& address, const std::string& pin, Error* error) {
  if (!btConnect(address, pin, error)) return false;
  btEnableWriteCaching(false, nullptr);
  // The link that `btConnect` made (the same routing): a pair of stream ends over it reaches
  // the printer or the pinpad.
  const BTModuleStreamPair pair{btInputStream(), btOutputStream()};
  const BTModuleStreamPair* streams = pair.input && pair.output ? &pair : nullptr;
  auto& defaults = foundation::UserDefaults::standard();
  nlohmann::json known = defaults.dictionaryForKey(kDevicesKey).value_or(nlohmann::json::object());
  const std::string kindText = known.contains(address) && known[address].is_string() ? known[address].get<std::string>() : "";
  bool ok = false;
  if (streams) {
    if (kindText.empty()) {
      if (printer().connectWithStreams(streams->input, streams->output, nullptr)) {
        printer().setConnectionType(kConnectionBluetooth);
        known[address] = "printer";
        ok = true;
      } else if (pinpad_->connectWithStreams(streams->input, streams->output) == 0) {
        pinpad_->setConnectionType(kConnectionBluetooth);
        known[address] = "pinpad";
        ok = true;
      }
      if (ok) defaults.setObject(kDevicesKey, known);
    } else if (kindText == "printer") {
      ok = printer().connectWithStreams(streams->input, streams->output, error);
      if (ok) printer().setConnectionType(kConnectionBluetooth);
    } else if (kindText == "pinpad") {
      ok = pinpad_->connectWithStreams(streams->input, streams->output) == 0;
      if (ok) pinpad_->setConnectionType(kConnectionBluetooth);
    }
  }
  if (!ok) {
    btDisconnect(address, nullptr);
    const Error e = KXUNISDKGlobals::makeError(-20, std::string("Failed connecting to device"));
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    return foundation::fail(error, e);
  }
  std::weak_ptr<KXDevices> weak = weak_from_this();
  foundation::MainQueue::post([weak] {
    if (auto self = weak.lock()) self->notifySupportedFeatures();
  });
  return true;
}

bool KXDevices::tcpConnectSupportedDevice(const std::string& host, Error*) {
  KXUNISDKGlobals::LOG("TCP Connect to %s", host.c_str());
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = host.find(':', start);
    parts.push_back(host.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  int port = kDefaultTcpPort;
  if (parts.size() == 2) port = std::atoi(parts[1].c_str());
  if (port <= 0 || port > 65535) return false;
  auto streams = accessory::connectTcpStreamPair(parts[0], uint16_t(port), nullptr);
  if (!streams) return false;
  if (!printer().connectWithStreams(streams->input, streams->output, nullptr)) return false;
  printer().setConnectionType(kConnectionTcp);
  std::lock_guard l(tcpMutex_);
  tcpDevices_.push_back(parts[0]);
  return true;
}

bool KXDevices::tcpDisconnect(const std::string&, Error*) {
  {
    std::lock_guard l(tcpMutex_);
    if (tcpDevices_.empty()) return true;
    tcpDevices_.clear();
  }
  printer().disconnect();
  printer().managedConnect();
  return true;
}

std::vector<std::string> KXDevices::tcpConnectedDevices() {
  std::lock_guard l(tcpMutex_);
  return tcpDevices_;
}

// ---- The sleeve's external serial port -------------------------------------------------------------

bool KXDevices::extOpenSerialPort(int port, int baudRate, int parity, int dataBits, int stopBits, int flowControl,
                                  Error* error) {
  if (route({Kind::Sleeve}) == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->extOpenSerialPort(port, baudRate, parity, dataBits, stopBits, flowControl, error);
  return routeError(error);
}

bool KXDevices::extCloseSerialPort(int port, Error* error) {
  if (route({Kind::Sleeve}) == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->extCloseSerialPort(port, error);
  return routeError(error);
}

bool KXDevices::extWriteSerialPort(int port, const Bytes& data, Error* error) {
  if (route({Kind::Sleeve}) == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->extWriteSerialPort(port, data, error);
  return routeError(error);
}

std::optional<Bytes> KXDevices::extReadSerialPort(int port, int length, double timeout, Error* error) {
  if (route({Kind::Sleeve}) == Kind::Sleeve && sleeve_->linkSleeve())
    return sleeve_->linkSleeve()->extReadSerialPort(port, length, timeout, error);
  routeError(error);
  return std::nullopt;
}

}  // namespace kestra
