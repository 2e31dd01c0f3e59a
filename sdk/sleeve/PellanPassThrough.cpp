// The sleeve's raw channels to the modules inside or behind it: the barcode engine
// (commands 22-24, 35, 36, 51, 67), the external serial port (48-50) and the UHF reader (68).

#include <algorithm>

#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {
constexpr uint8_t kCmdEngineRead = 22;
constexpr uint8_t kCmdEngineWrite = 23;
constexpr uint8_t kCmdEnginePower = 24;
constexpr uint8_t kPassThroughCmdEngineInitData = 35;
constexpr uint8_t kCmdEngineDownload = 36;
constexpr uint8_t kCmdSerialPort = 48;
constexpr uint8_t kCmdSerialWrite = 49;
constexpr uint8_t kCmdSerialRead = 50;
constexpr uint8_t kCmdEngineDefaults = 51;
constexpr uint8_t kCmdEngineBaudRate = 67;
constexpr uint8_t kCmdUhf = 68;
constexpr size_t kEngineChunk = 256;
constexpr size_t kSerialChunk = 240;

foundation::Duration seconds(double s) {
  return std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(s));
}
foundation::MonoTime now() { return foundation::Clock::current().now(); }
}  // namespace

std::optional<Bytes> Pellan::_barcodeEngineRead(Error* error) {
  return sendCommand(0, kCmdEngineRead, nullptr, 0, true, error);
}

std::optional<Bytes> Pellan::_barcodeEngineWrite(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length)) {
    pellanFail(error, -9, "Invalid argument passed");
    return std::nullopt;
  }
  return sendCommand(0, kCmdEngineWrite, data, uint64_t(length), true, error);
}

bool Pellan::barcodeEnginePowerControl(bool on, Error* error) {
  return d_->command(0, kCmdEnginePower, {uint8_t(on ? 1 : 0)}, error).has_value();
}

bool Pellan::barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error) {
  std::lock_guard lock(d_->btLock);
  Bytes data = {uint8_t(on ? 1 : 0)};
  if (on && d_->fwVer >= 2064) foundation::appendBE16(data, uint16_t(maxTimeMinutes));
  return d_->command(0, kCmdEnginePower, data, error).has_value();
}

std::optional<Bytes> Pellan::_barcodeEngineGetInitData(Error* error) {
  auto answer = d_->command(0, kPassThroughCmdEngineInitData, {}, error);
  if (!answer) return std::nullopt;
  // The first byte is the sleeve's own; an answer without it is malformed.
  if (answer->empty()) {
    pellanFail(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  return Bytes(answer->begin() + 1, answer->end());
}

bool Pellan::_barcodeEngineSetInitData(const Bytes& data, Error* error) {
  return d_->command(0, kPassThroughCmdEngineInitData, data, error).has_value();
}

bool Pellan::_barcodeEngineDownloadModeEnable(bool on, Error* error) {
  if (!on) d_->transport.firmwareUpdate = false;
  if (!d_->command(0, kCmdEngineDownload, {uint8_t(on ? 1 : 0)}, error)) return false;
  d_->transport.firmwareUpdate = on;
  return true;
}

std::optional<Bytes> Pellan::_barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length)) {
    pellanFail(error, -9, "Invalid argument passed");
    return std::nullopt;
  }
  return sendCommand(0, kCmdEngineDownload, data, uint64_t(length), true, error);
}

bool Pellan::barcodeEngineResetToDefaults(Error* error) {
  return d_->command(0, kCmdEngineDefaults, {}, error).has_value();
}

bool Pellan::_barcodeEngineChangeBaudRate(int baud, Error* error) {
  Bytes data;
  foundation::appendBE32(data, uint32_t(baud));
  return sendCommand(0, kCmdEngineBaudRate, data.data(), data.size(), true, error).has_value();
}

bool Pellan::barcodeEngineWrite(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length)) return pellanFail(error, -9, "Invalid argument passed");
  auto last = now();
  size_t done = 0;
  while (done < size_t(length)) {
    if (now() - last > kEngineWriteTimeout)
      return pellanFail(error, -6, "Timeout waiting for barcode data");
    const size_t n = std::min(kEngineChunk, size_t(length) - done);
    Error e;
    if (!_barcodeEngineWrite(data + done, int(n), &e)) {
      if (e.code != -5) return foundation::fail(error, e);
      pellanPause(kBusyPause);  // the engine is busy: the same chunk again
      continue;
    }
    done += n;
    last = now();
  }
  return true;
}

bool Pellan::barcodeEngineWrite(const std::string& text, Error* error) {
  std::lock_guard lock(d_->btLock);
  if (text.size() > kEngineChunk ||
      std::any_of(text.begin(), text.end(), [](char c) { return uint8_t(c) > 0x7F; }))
    return false;
  return barcodeEngineWrite(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()), error);
}

int Pellan::barReadLen() const {
  std::lock_guard lock(d_->passThroughMutex);
  return int(d_->barRead.size());
}

void Pellan::setBarReadLen(int length) {
  std::lock_guard lock(d_->passThroughMutex);
  d_->barRead.truncate(size_t(std::max(length, 0)));
}

std::optional<Bytes> Pellan::barcodeEngineRead(int length, double timeout, int stopByte, Error* error) {
  const auto start = now();
  for (;;) {
    {
      std::lock_guard lock(d_->passThroughMutex);
      if (d_->barRead.satisfies(length, stopByte) || now() - start > seconds(timeout)) break;
    }
    auto answer = _barcodeEngineRead(nullptr);
    if (answer && !answer->empty()) {
      std::lock_guard lock(d_->passThroughMutex);
      if (const size_t dropped = d_->barRead.append(answer->data(), answer->size()))
        KXUNISDKGlobals::LOG("PN:Engine buffer full, %zu bytes dropped", dropped);
    } else {
      pellanPause(kEnginePollPause);
    }
  }
  std::lock_guard lock(d_->passThroughMutex);
  Bytes out = d_->barRead.take(length, stopByte);
  if (out.empty()) {
    pellanFail(error, -6, "Timeout waiting for engine");
    return std::nullopt;
  }
  KXUNISDKGlobals::LOG("PN:Bar read %d bytes, left %d", int(out.size()), int(d_->barRead.size()));
  return out;
}

bool Pellan::extOpenSerialPort(int, int baudRate, int, int, int, int, Error* error) {
  Bytes data = {0x01};
  foundation::appendBE32(data, uint32_t(baudRate));
  data.push_back(0x00);
  if (!d_->command(0, kCmdSerialPort, data, error)) return false;
  std::lock_guard lock(d_->passThroughMutex);
  d_->extSerial.truncate(0);
  return true;
}

bool Pellan::extCloseSerialPort(int, Error* error) {
  if (!d_->command(0, kCmdSerialPort, {0x00}, error)) return false;
  std::lock_guard lock(d_->passThroughMutex);
  d_->extSerial.truncate(0);
  return true;
}

bool Pellan::extWriteSerialPort(int, const Bytes& data, Error* error) {
  const auto start = now();
  size_t done = 0;
  while (done < data.size()) {
    if (now() - start > kSerialWriteTimeout)
      return pellanFail(error, -6, "Timeout writing data to external serial port");
    const size_t n = std::min(kSerialChunk, data.size() - done);
    auto answer = d_->command(0, kCmdSerialWrite, Bytes(data.begin() + long(done), data.begin() + long(done + n)), error);
    if (!answer) return false;
    if (answer->size() < 2) return pellanFail(error, -6, "Invalid data length received");
    // The port never takes more than it was given; a larger count is read as all of it.
    const size_t taken = std::min<size_t>(foundation::readBE16(answer->data()), n);
    if (taken == 0) pellanPause(kBusyPause);
    done += taken;
  }
  return true;
}

std::optional<Bytes> Pellan::extReadSerialPort(int, int length, double timeout, Error* error) {
  Bytes collected;
  const size_t wanted = size_t(std::max(length, 0));
  auto last = now();
  for (;;) {
    {
      std::lock_guard lock(d_->passThroughMutex);
      const size_t n = std::min(wanted - collected.size(), d_->extSerial.size());
      if (n) {
        KXUNISDKGlobals::LOG("PN:toread %d", int(n));
        foundation::append(collected, d_->extSerial.take(int(n), -1));
      }
    }
    if (collected.size() >= wanted || now() - last > seconds(timeout)) break;
    auto answer = d_->command(0, kCmdSerialRead, {}, error);
    if (!answer) return std::nullopt;
    if (!answer->empty()) {
      std::lock_guard lock(d_->passThroughMutex);
      if (const size_t dropped = d_->extSerial.append(answer->data(), answer->size()))
        KXUNISDKGlobals::LOG("PN:Serial buffer full, %zu bytes dropped", dropped);
      last = now();
    }
  }
  if (collected.empty()) {
    KXUNISDKGlobals::LOG("PN:Exit 1");
    pellanFail(error, -6, "Timeout reading data from external serial port");
    return std::nullopt;
  }
  KXUNISDKGlobals::LOG("PN:Exit 2");
  return collected;
}

std::optional<Bytes> Pellan::uhfCommand(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length)) {
    pellanFail(error, -9, "Invalid argument passed");
    return std::nullopt;
  }
  return sendCommand(0, kCmdUhf, data, uint64_t(length), false, error);
}

bool Pellan::uhfInit(int value, Error* error) {
  if (!d_->command(0, kCmdUhf, {0x00, 0x01}, error)) return false;
  return d_->command(0, kCmdUhf, {0x07, uint8_t(value)}, error).has_value();
}

bool Pellan::uhfClose(Error* error) { return d_->command(0, kCmdUhf, {0x00, 0x00}, error).has_value(); }

bool Pellan::uhfStartAutoReadForTagType(int tagType, int maxNumberOfTags, int maxTimeForTagging,
                                        int repeatCycleCount, Error* error) {
  Bytes data = {0x36, uint8_t(tagType), uint8_t(maxNumberOfTags), uint8_t(maxTimeForTagging)};
  foundation::appendBE16(data, uint16_t(repeatCycleCount));
  return d_->command(0, kCmdUhf, data, error).has_value();
}

bool Pellan::uhfStopAutoRead(Error* error) { return d_->command(0, kCmdUhf, {0x37}, error).has_value(); }

}  // namespace kestra
