#include "sdk/transport/bluetooth/btUniversal.h"

#include <algorithm>
#include <cstdio>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

using foundation::Bytes;
using foundation::Clock;
using foundation::Error;

std::optional<BTModuleEvent> parseBTModuleEvent(const uint8_t* data, size_t length) {
  if (!data || length < 1) return std::nullopt;
  BTModuleEvent e;
  e.code = data[0];
  switch (e.code) {
    case kBTEventReady: case kBTEventConnectFailed: case kBTEventConnected: case kBTEventClosed:
    case kBTEventDisconnected: case kBTEventLinkLost: case kBTEventDiscoverDone: case kBTEventDiscoverFailed:
      return e;
    case kBTEventFound: {
      if (length < 7) return std::nullopt;
      char address[13];
      std::snprintf(address, sizeof address, "%02X%02X%02X%02X%02X%02X", data[1], data[2], data[3], data[4],
                    data[5], data[6]);
      e.address = address;
      const auto* name = reinterpret_cast<const char*>(data + 7);
      e.name.assign(name, std::find(name, name + (length - 7), '\0'));
      return e;
    }
    case kBTEventData:
      e.data.assign(data + 1, data + length);
      return e;
    default:
      return std::nullopt;
  }
}

std::optional<Bytes> btUniversal::command(uint8_t sub, const Bytes& payload, Error* error) {
  auto host = controlDelegate();
  if (!host) {
    moduleError(error, -20, "No device connected");
    return std::nullopt;
  }
  Bytes packet;
  packet.reserve(payload.size() + 1);
  packet.push_back(sub);
  packet.insert(packet.end(), payload.begin(), payload.end());
  return host->_btUniCommand(packet.data(), int(packet.size()), error);
}

namespace {
// The text as ASCII, at most 254 characters; nothing when it does not convert.
std::optional<Bytes> asciiText(const std::string& text) {
  if (text.size() > btUniversal::kMaxText) return std::nullopt;
  if (std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c > 0x7F || c == 0; }))
    return std::nullopt;
  return Bytes(text.begin(), text.end());
}
}  // namespace

bool btUniversal::_btSetEnabled(bool on, Error* error) {
  if (!on) return command(2, {}, error).has_value();
  return command(1, {}, error) && btGetLocalName(error);
}

bool btUniversal::_btGetEnabled(bool* on, Error* error) {
  auto r = command(3, {}, error);
  if (!r) return false;
  if (on) *on = !r->empty() && (*r)[0] != 0;
  return true;
}

std::optional<std::string> btUniversal::btGetLocalName(Error* error) {
  auto r = command(4, {}, error);
  if (!r) return std::nullopt;
  return std::string(r->begin(), r->end());
}

std::optional<std::string> btUniversal::btGetLocalAddress(Error* error) {
  auto r = command(7, {}, error);
  if (!r) return std::nullopt;
  return std::string(r->begin(), r->end());
}

bool btUniversal::_btSetLocalName(const std::string& name, Error* error) {
  auto text = asciiText(name);
  return text && command(5, *text, error);
}

bool btUniversal::_btSetPIN(const std::string& pin, Error* error) {
  auto text = asciiText(pin);
  return text && command(6, *text, error);
}

bool btUniversal::btSetDiscoverable(bool on, Error* error) { return command(on ? 8 : 9, {}, error).has_value(); }

bool btUniversal::_btUniStartInquiry(Error* error) { return command(10, {}, error).has_value(); }

int btUniversal::waitResult(const std::atomic<int>& result, foundation::Duration poll, foundation::Duration timeout) {
  auto& clock = Clock::current();
  const auto deadline = clock.now() + timeout;
  for (;;) {
    const int r = result.load();
    if (r == 0 || r == 1) return r;
    if (clock.now() >= deadline) return -1;
    pause(poll);
  }
}

bool btUniversal::_btConnect(const std::string& address, const std::string& pin, Error* error) {
  if (!_btSetPIN(pin, error)) return false;
  connectResult_ = -1;
  if (!command(11, _btAddressToData(address), error)) return false;
  switch (waitResult(connectResult_, kConnectPoll, kConnectTimeout)) {
    case 1:
      addConnectedDevice(address);
      return true;
    case 0:
      return moduleError(error, -20, "Failed connecting to the device");
    default:
      return moduleError(error, -6, "Timeout waiting for the connect to complete");
  }
}

bool btUniversal::_btDiscoverDevices(int, double maxTime, unsigned, Error* error) {
  clearFoundDevices();
  inquiryResult_ = -1;
  if (!_btUniStartInquiry(error)) return false;
  const auto limit = std::chrono::duration_cast<foundation::Duration>(
      std::chrono::duration<double>(std::max(0.0, maxTime) + 1.0));
  switch (waitResult(inquiryResult_, kInquiryPoll, limit)) {
    case 1:
      return true;
    case 0:
      return moduleError(error, -20, "Inquiry failed");
    default:
      return moduleError(error, -6, "Timeout waiting for the inquiry to complete");
  }
}

void btUniversal::_btDisconnect(const std::string&) { command(12, {}, nullptr); }

bool btUniversal::_btWrite(const uint8_t*, int* length, Error*) {
  if (length) *length = 0;
  return false;
}

void btUniversal::processEvent(const uint8_t* data, size_t length) {
  auto e = parseBTModuleEvent(data, length);
  if (!e) return;
  switch (e->code) {
    case kBTEventConnectFailed: connectResult_ = 0; break;
    case kBTEventConnected: connectResult_ = 1; break;
    case kBTEventDiscoverDone: inquiryResult_ = 1; break;
    case kBTEventDiscoverFailed: inquiryResult_ = 0; break;
    case kBTEventFound: addFoundDevice(e->address, e->name); break;
    case kBTEventClosed: close(); break;
    case kBTEventDisconnected:
    case kBTEventLinkLost: {
      const auto connected = btConnectedDevices();
      btDeviceDisconnected(connected.empty() ? std::string() : connected.front());
      break;
    }
    case kBTEventData: btAppendData(e->data.data(), e->data.size()); break;
    default: break;
  }
}

}  // namespace kestra
