// The serial adapter's Bluetooth radio: command 29 sub-commands and command 30 events.

#include <algorithm>
#include <cctype>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/CarvikStream.h"
#include "sdk/hub/PagedFirmware.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {
enum Sub : uint8_t {
  kOn = 0x01, kOff = 0x02, kState = 0x03, kGetName = 0x04, kSetName = 0x05, kSetPin = 0x06, kGetAddress = 0x07,
  kDiscoverableOn = 0x08, kDiscoverableOff = 0x09, kInquiry = 0x0A, kConnect = 0x0B, kDisconnect = 0x0C,
  kDataModeOff = 0x0D, kDataModeOn = 0x0E, kWrite = 0x0F,
};
constexpr size_t kMaxText = 254;

bool noBluetooth(Error* error) {
  return foundation::fail(error, KXUNISDKGlobals::makeError(-7, std::string("No bluetooth present on this device")));
}
bool invalidLength(Error* error) {
  return foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Invalid data length received")));
}
}  // namespace

template <class Pred>
bool CarvikStream::waitEvent(foundation::Duration timeout, Pred pred) {
  std::unique_lock lock(eventMutex_);
  return foundation::Clock::current().waitFor(lock, eventCv_, timeout, pred);
}

bool CarvikStream::btCommand(uint8_t sub, const Bytes& data, Error* error, Bytes* reply) {
  Bytes payload;
  payload.reserve(data.size() + 1);
  payload.push_back(sub);
  for (uint8_t b : data) payload.push_back(b);
  auto r = sendCommand(0, kCmdBluetooth, payload, error);
  if (!r || r->empty()) return false;
  if (reply) *reply = std::move(*r);
  return true;
}

bool CarvikStream::btUniSetEnabled(bool on, Error* error) {
  if (!bluetoothSupported_) return noBluetooth(error);
  module_->btDeviceDisconnected("");
  if (on && btEnabled_) return true;
  btDataMode_ = btEnabled_ = btInitResult_ = false;
  if (streamStatus_ == 2) {
    notify(kStreamEndEncountered);
    if (auto c = control()) c->bluetoothDeviceDisconnected();
  }
  streamStatus_ = 6;
  if (!btCommand(on ? kOn : kOff, {}, error)) return false;
  if (on && !waitEvent(kRadioOnTimeout, [&] { return btInitResult_.load(); })) {
    btCommand(kOff, {}, nullptr);
    return foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Timeout writing data to bluetooth engine")));
  }
  clear();
  btEnabled_ = on;
  return true;
}

bool CarvikStream::btUniGetEnabled(bool* on, Error* error) {
  Bytes r;
  if (!btCommand(kState, {}, error, &r)) return false;
  if (r.size() < 3) return invalidLength(error);
  if (on) *on = r[2] != 0;
  return true;
}

std::optional<std::string> CarvikStream::btUniGetLocalName(Error* error) {
  Bytes r;
  if (!btCommand(kGetName, {}, error, &r)) return std::nullopt;
  if (r.size() < 2) {
    invalidLength(error);
    return std::nullopt;
  }
  const std::string text(r.begin() + 2, r.end());
  return text.substr(0, text.find('\0'));
}

std::optional<std::string> CarvikStream::btUniGetLocalAddress(Error* error) {
  Bytes r;
  if (!btCommand(kGetAddress, {}, error, &r)) return std::nullopt;
  if (r.size() < 2) {
    invalidLength(error);
    return std::nullopt;
  }
  const std::string text(r.begin() + 2, r.end());
  return text.substr(0, text.find('\0'));
}

namespace {
std::optional<Bytes> asciiText(const std::string& text) {
  if (text.size() > kMaxText) return std::nullopt;
  if (std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c > 0x7F || c == 0; }))
    return std::nullopt;
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}
}  // namespace

bool CarvikStream::btUniSetLocalName(const std::string& name, Error* error) {
  auto text = asciiText(name);
  return text && btCommand(kSetName, *text, error);
}

bool CarvikStream::btUniSetPIN(const std::string& pin, Error* error) {
  auto text = asciiText(pin);
  return text && btCommand(kSetPin, *text, error);
}

bool CarvikStream::btUniSetDiscoverable(bool on, Error* error) {
  return btCommand(on ? kDiscoverableOn : kDiscoverableOff, {}, error);
}

bool CarvikStream::btUniDiscoverDevices(int maxDevices, double maxTimeSeconds, int codTypes, Error* error) {
  if (!bluetoothSupported_) return noBluetooth(error);
  if (!btUniSetEnabled(false, error) || !btUniSetEnabled(true, error)) return false;
  if (!btUniSetDataMode(false, error)) return false;
  const Bytes data{uint8_t(maxDevices), uint8_t(int(maxTimeSeconds)), uint8_t(codTypes >> 8), uint8_t(codTypes)};
  module_->setBtInquiryResult(-1);
  module_->clearFoundDevices();
  // In progress before the command goes: the inquiry's end may be read (and the flag
  // cleared on a worker) before the command's own reply returns here.
  btDiscoverInProgress_ = true;
  if (!btCommand(kInquiry, data, error)) {
    btDiscoverInProgress_ = false;
    return false;
  }
  return true;
}

bool CarvikStream::btUniConnect(const std::string& address, const std::string& pin, Error* error) {
  if (!bluetoothSupported_) return noBluetooth(error);
  // Exactly six bytes of address, as twelve hexadecimal digits.
  if (address.size() != 12 || !std::all_of(address.begin(), address.end(), [](char c) { return std::isxdigit((unsigned char)c); }))
    return foundation::fail(error, KXUNISDKGlobals::makeError(-9, std::string("Invalid bluetooth address")));
  if (!btUniSetEnabled(true, error) || !btUniSetPIN(pin, error)) return false;
  btConnectResult_ = -1;
  Bytes bytes;
  for (size_t i = 0; i < 12; i += 2) bytes.push_back(uint8_t(std::stoi(address.substr(i, 2), nullptr, 16)));
  if (!btCommand(kConnect, bytes, error)) return false;
  if (!waitEvent(kConnectTimeout, [&] { return btConnectResult_ != -1; })) {
    btUniSetEnabled(false, nullptr);
    return foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Timeout waiting for the connect to complete")));
  }
  if (btConnectResult_ == 0) {
    btUniSetEnabled(false, nullptr);
    return foundation::fail(error, KXUNISDKGlobals::makeError(-20, std::string("Failed connecting to the device")));
  }
  std::string upper = address;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return char(std::toupper((unsigned char)c)); });
  module_->addConnectedDevice(upper);
  btDataMode_ = true;
  streamStatus_ = 2;
  notify(kStreamOpenCompleted);
  return true;
}

bool CarvikStream::btUniDisconnect(Error* error) {
  if (!btCommand(kDisconnect, {}, error)) return false;
  btDataMode_ = btEnabled_ = false;
  clear();
  const int status = streamStatus_;
  if (status == 1 || status == 2) {
    streamStatus_ = 6;
    if (auto c = control()) c->bluetoothDeviceDisconnected();
    notify(kStreamEndEncountered);
    btUniSetEnabled(false, nullptr);
  }
  return true;
}

bool CarvikStream::btUniSetDataMode(bool on, Error* error) {
  if (btDataMode_ == on) return true;
  if (!btCommand(on ? kDataModeOn : kDataModeOff, {}, error)) return false;
  btDataMode_ = on;
  return true;
}

bool CarvikStream::btUniWrite(const uint8_t* data, int length, Error* error) {
  auto& clock = foundation::Clock::current();
  const auto deadline = clock.now() + kBluetoothWriteTimeout;
  int sent = 0;
  while (sent < length) {
    if (clock.now() >= deadline)
      return foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Timeout writing data to bluetooth engine")));
    const int chunk = std::min(length - sent, kBluetoothChunk);
    Bytes r;
    if (!btCommand(kWrite, Bytes(data + sent, data + sent + chunk), error, &r)) return false;
    if (r.size() < 4) return invalidLength(error);
    const int taken = std::min(chunk, (r[2] << 8) | r[3]);
    if (taken == 0) pauseOnClock(kFullPause);
    sent += taken;
  }
  return true;
}

void CarvikStream::discoverFinish(std::optional<Error> error) {
  std::weak_ptr<CarvikStream> weak = weak_from_this();
  // The radio goes off from a worker: its command waits for a reply that only the
  // run-loop thread, which delivered this event, can read.
  GlobalQueue::async([weak, error] {
    auto self = weak.lock();
    if (!self) return;
    self->btUniSetEnabled(false, nullptr);
    self->btDiscoverInProgress_ = false;
    auto c = self->control();
    if (c) foundation::MainQueue::post([c, ok = !error] { c->bluetoothDiscoverComplete(ok); });
  });
}

void CarvikStream::processBTEvents(const uint8_t* data, int length) {
  if (length < 1) return;
  KXUNISDKGlobals::LOG("cmd_scanner_cs_btevent received, event:%d", data[0]);
  const auto e = parseBTModuleEvent(data, size_t(length));
  if (!e) return;
  switch (e->code) {
    case kBTEventReady: btInitResult_ = true; break;
    case kBTEventConnectFailed: btConnectResult_ = 0; break;
    case kBTEventConnected: btConnectResult_ = 1; break;
    case kBTEventLinkLost: {
      btDataMode_ = false;
      std::weak_ptr<CarvikStream> weak = weak_from_this();
      GlobalQueue::async([weak] {
        if (auto self = weak.lock()) self->btUniSetEnabled(false, nullptr);
      });
      const int status = streamStatus_;
      if (status == 1 || status == 2) {
        streamStatus_ = 6;
        notify(kStreamEndEncountered);
        // The radio goes off later, on a worker, and finds the stream closed by then: the
        // link's end is told here, as switching the radio off tells it.
        if (status == 2)
          if (auto c = control()) c->bluetoothDeviceDisconnected();
      }
      break;
    }
    case kBTEventFound: {
      module_->addFoundDevice(e->address, e->name);
      const int filter = discoverFilter;
      const bool wanted = filter == 0 || ((filter & 1) && KXUNISDKGlobals::isPrinter(e->name)) ||
                          ((filter & 2) && KXUNISDKGlobals::isPinpad(e->name));
      if (auto c = control(); c && wanted)
        foundation::MainQueue::post([c, a = e->address, n = e->name] { c->bluetoothDeviceDiscovered(a, n); });
      break;
    }
    case kBTEventDiscoverDone:
      module_->setBtInquiryResult(1);
      discoverFinish(std::nullopt);
      break;
    case kBTEventDiscoverFailed:
      module_->setBtInquiryResult(0);
      discoverFinish(KXUNISDKGlobals::makeError(-6, std::string("Bluetooth discovery timeout")));
      break;
    case kBTEventData: appendStreamData(e->data.data(), int(e->data.size())); break;
    default: break;
  }
  std::lock_guard lock(eventMutex_);
  eventCv_.notify_all();
}

}  // namespace kestra
