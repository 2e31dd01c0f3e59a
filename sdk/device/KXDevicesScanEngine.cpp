// The device API's scan-engine calls: engine control and the make-specific configuration
// routed to the sleeve or the pinpad, the raw pass-through to the engine, and the exchanges
// built on it (chunked writes, buffered reads with a stop byte, the Intermec command frame
// and query, the Zebra command exchange).
//
// The bytes an engine sent that no read has taken yet stay in this object's read buffer
// (4,112 bytes; what arrives beyond that is dropped and logged) for the next read. Only the
// text write takes the engine lock: callers that interleave engine dialogues from several
// threads serialise them themselves.

#include "sdk/device/KXDevices.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/Clock.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/sleeve/PellanTransport.h"

namespace kestra {

namespace {

constexpr size_t kEngineChunk = 256;
constexpr auto kEngineWriteStall = std::chrono::seconds(5);
constexpr auto kEngineBusyPause = std::chrono::milliseconds(100);
constexpr auto kEnginePollPause = std::chrono::milliseconds(50);
// Statuses of a busy engine line: the sleeve's and the pinpad's (status 38).
constexpr int kSleeveBusy = -5;
constexpr int kPinpadBusy = -16538;
constexpr size_t kIntermecQueryMax = 512;
constexpr int kIntermecAck = 0x32;
constexpr int kIntermecDone = 0x31;
constexpr int kSleeveNewQueryFirmware = 5058;

foundation::MonoTime now() { return foundation::Clock::current().now(); }
foundation::Duration seconds(double s) {
  return std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(s));
}

bool engineFail(Error* error, int code, const std::string& text) {
  const Error e = KXUNISDKGlobals::makeError(code, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

bool notSupported(Error* error) { return engineFail(error, -7, KXErrors::getErrorDescription(-7)); }

}  // namespace

int KXDevices::engineValue(Kind kind) {
  switch (kind) {
    case Kind::Sleeve: return sleeve_->getSupportedFeature(kFeatureBarcodeEngine, nullptr);
    case Kind::Pinpad: return pinpad_->getSupportedFeature(kFeatureBarcodeEngine, nullptr);
    default: return 0;
  }
}

// ---- Control and configuration per make --------------------------------------------------------

bool KXDevices::barcodeEngineResetToDefaults(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Pinpad) return ppadResult(pinpad_->barReset(), error);
  const bool ok = sleeve_->barcodeEngineResetToDefaults(error);
  // An Opticon engine's own defaults differ from the sleeve's: "A0" puts them back in step.
  if (engineValue(Kind::Sleeve) & 1) sleeve_->barcodeOpticonSetParams("A0", true, nullptr);
  return ok;
}

bool KXDevices::barcodeEngineCheckReady(bool* ready, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeEngineCheckReady(ready, error);
}

bool KXDevices::barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeEnginePowerControl(on, maxTimeMinutes, error);
}

bool KXDevices::barcodeOpticonSetInitString(const std::string& text, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (!(engineValue(*kind) & 1)) return notSupported(error);
  if (*kind == Kind::Pinpad) return ppadResult(pinpad_->barOpticonSetInitString(text), error);
  return sleeve_->barcodeOpticonSetInitString(text, error);
}

bool KXDevices::barcodeOpticonSetParams(const std::string& params, bool saveToFlash, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeOpticonSetParams(params, saveToFlash, error);
}

std::optional<std::string> KXDevices::barcodeOpticonGetIdent(Error* error) {
  if (!route({Kind::Sleeve})) {
    routeError(error);
    return std::nullopt;
  }
  return sleeve_->barcodeOpticonGetIdent(error);
}

bool KXDevices::barcodeOpticonUpdateFirmware(const Bytes& image, bool bootLoader, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeOpticonUpdateFirmware(image, bootLoader, error);
}

bool KXDevices::barcodeCodeSetParam(int param, uint64_t value, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeCodeSetParam(param, value, error);
}

bool KXDevices::barcodeCodeGetParam(int param, uint64_t* value, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeCodeGetParam(param, value, error);
}

bool KXDevices::barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeCodeUpdateFirmware(fileName, image, error);
}

std::optional<KXEngineInformation> KXDevices::barcodeCodeGetInformation(Error* error) {
  if (!route({Kind::Sleeve})) {
    routeError(error);
    return std::nullopt;
  }
  return sleeve_->barcodeCodeGetInformation(error);
}

bool KXDevices::barcodeHoneywellSetInitString(const Bytes& data, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeHoneywellSetInitString(data, error);
}

bool KXDevices::barcodeIntermecSetInitData(const Bytes& data, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeIntermecSetInitData(data, error);
}

std::optional<Bytes> KXDevices::barcodeIntermecGetInitData(Error* error) {
  if (!route({Kind::Sleeve})) {
    routeError(error);
    return std::nullopt;
  }
  return sleeve_->barcodeIntermecGetInitData(error);
}

std::optional<Bytes> KXDevices::barcodeNewlandQuery(const Bytes& query, Error* error) {
  if (!route({Kind::Sleeve})) {
    routeError(error);
    return std::nullopt;
  }
  return sleeve_->barcodeNewlandQuery(query, error);
}

bool KXDevices::barcodeNewlandSetInitString(const std::string& text, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Pinpad) return ppadResult(pinpad_->barSetInitData(Bytes(text.begin(), text.end())), error);
  return sleeve_->barcodeNewlandSetInitString(text, error);
}

bool KXDevices::barcodeNewlandUpdateFirmware(const Bytes& image, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeNewlandUpdateFirmware(image, error);
}

bool KXDevices::barcodeZebraSetInitData(const Bytes& data, Error* error) {
  if (getSupportedFeature(kFeatureBarcodeEngine, nullptr) != 5)
    return engineFail(error, -7, "No zebra barcode engine present");
  return _barcodeEngineSetInitData(data, error);
}

// ---- Raw pass-through ------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::engineExchange(int (KXPinpadDriver::*pinpad)(const uint8_t*, int, Bytes*),
                                               std::optional<Bytes> (KXSleeveDriver::*sleeve)(const uint8_t*, int,
                                                                                             Error*),
                                               const uint8_t* data, int length, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Sleeve) return ((*sleeve_).*sleeve)(data, length, error);
  Bytes out;
  if (!ppadResult(((*pinpad_).*pinpad)(data, length, &out), error)) return std::nullopt;
  return out;
}

std::optional<Bytes> KXDevices::_barcodeEngineWrite(const uint8_t* data, int length, Error* error) {
  return engineExchange(&KXPinpadDriver::_barcodeEngineWrite, &KXSleeveDriver::_barcodeEngineWrite, data, length,
                        error);
}

std::optional<Bytes> KXDevices::_barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error) {
  return engineExchange(&KXPinpadDriver::_barcodeEngineSpecialWrite, &KXSleeveDriver::_barcodeEngineSpecialWrite,
                        data, length, error);
}

std::optional<Bytes> KXDevices::_barcodeEngineRead(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Sleeve) return sleeve_->_barcodeEngineRead(error);
  Bytes out;
  if (!ppadResult(pinpad_->_barcodeEngineRead(&out), error)) return std::nullopt;
  return out;
}

bool KXDevices::_barcodeEngineDownloadModeEnable(bool on, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->_barcodeEngineDownloadModeEnable(on, error);
  return ppadResult(pinpad_->_barcodeEngineDownloadModeEnable(on), error);
}

bool KXDevices::_barcodeEngineChangeBaudRate(int baud, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->_barcodeEngineChangeBaudRate(baud, error);
  return ppadResult(pinpad_->_barcodeEngineChangeBaudRate(baud), error);
}

std::optional<Bytes> KXDevices::_barcodeEngineGetInitData(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Sleeve) return sleeve_->_barcodeEngineGetInitData(error);
  Bytes out;
  if (!ppadResult(pinpad_->_barcodeEngineGetInitData(&out), error)) return std::nullopt;
  return out;
}

bool KXDevices::_barcodeEngineSetInitData(const Bytes& data, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->_barcodeEngineSetInitData(data, error);
  return ppadResult(pinpad_->_barcodeEngineSetInitData(data), error);
}

// ---- Writes and reads ---------------------------------------------------------------------------------

bool KXDevices::barcodeEngineWrite(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length > 0)) return engineFail(error, -9, "Invalid argument passed");
  auto progress = now();
  int done = 0;
  while (done < length) {
    if (now() - progress > kEngineWriteStall) return engineFail(error, -6, "Timeout waiting for barcode data");
    const int n = int(std::min(kEngineChunk, size_t(length - done)));
    Error e;
    if (!_barcodeEngineWrite(data + done, n, &e)) {
      if (e.code != kSleeveBusy && e.code != kPinpadBusy) return foundation::fail(error, e);
      pellanPause(kEngineBusyPause);  // the line is busy: the same chunk again
      continue;
    }
    done += n;
    progress = now();
  }
  return true;
}

bool KXDevices::barcodeEngineWrite(const std::string& text, Error* error) {
  std::lock_guard lock(barLock_);
  if (text.size() >= kEngineChunk || std::any_of(text.begin(), text.end(), [](char c) { return uint8_t(c) > 0x7F; }))
    return false;
  return barcodeEngineWrite(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()), error);
}

std::optional<Bytes> KXDevices::barcodeEngineRead(int length, double timeoutSeconds, int stopByte, Error* error) {
  const auto start = now();
  for (;;) {
    {
      std::lock_guard lock(barReadMutex_);
      if (barRead_.satisfies(length, stopByte)) break;
    }
    if (now() - start >= seconds(timeoutSeconds)) break;
    auto answer = _barcodeEngineRead(nullptr);
    if (answer && !answer->empty()) {
      std::lock_guard lock(barReadMutex_);
      if (const size_t dropped = barRead_.append(answer->data(), answer->size()))
        KXUNISDKGlobals::LOG("Engine buffer full, %zu bytes dropped", dropped);
    } else {
      pellanPause(kEnginePollPause);
    }
  }
  std::lock_guard lock(barReadMutex_);
  Bytes out = barRead_.take(length, stopByte);
  if (out.empty()) {
    engineFail(error, -6, "Timeout waiting for engine");
    return std::nullopt;
  }
  KXUNISDKGlobals::LOG("Bar read %d bytes, left %d", int(out.size()), int(barRead_.size()));
  return out;
}

std::optional<Bytes> KXDevices::barcodeEngineRead(int length, double timeoutSeconds, Error* error) {
  return barcodeEngineRead(length, timeoutSeconds, -1, error);
}

int KXDevices::barReadByteTimeout(double timeoutSeconds, Error* error) {
  const auto answer = barcodeEngineRead(1, timeoutSeconds, error);
  return answer && answer->size() == 1 ? (*answer)[0] : -1;
}

bool KXDevices::barWriteByte(uint8_t byte, Error* error) { return barcodeEngineWrite(&byte, 1, error); }

// ---- Intermec ----------------------------------------------------------------------------------------

bool KXDevices::intermecSendCommand(int command, const uint8_t* data, int length, bool waitDone, Error* error) {
  uint8_t frame[14] = {};
  frame[1] = uint8_t(command);
  if (data && length > 0) std::memcpy(frame + 2, data, size_t(std::min(length, 8)));
  uint32_t sum = 0;
  for (int i = 0; i < 10; ++i) sum += uint32_t(frame[i]) * uint32_t(10 - i);
  for (int i = 0; i < 4; ++i) frame[10 + i] = uint8_t(sum >> (24 - 8 * i));
  KXUNISDKGlobals::LOG("Intermec command: %02X", command & 0xFF);
  if (!barcodeEngineWrite(frame, int(sizeof frame), error)) return false;
  if (barReadByteTimeout(1.0, error) != kIntermecAck) {
    KXUNISDKGlobals::LOG("Intermec command: %02X failed: no ACK", command & 0xFF);
    return false;
  }
  if (waitDone && barReadByteTimeout(30.0, error) != kIntermecDone) {
    KXUNISDKGlobals::LOG("Intermec command: %02X failed: no DONE", command & 0xFF);
    return false;
  }
  return true;
}

std::optional<Bytes> KXDevices::barcodeIntermecQuery(const Bytes& query, Error* error) {
  if (query.size() > kIntermecQueryMax) {
    engineFail(error, -9, "Invalid argument passed");
    return std::nullopt;
  }
  {
    std::lock_guard lock(barReadMutex_);
    barRead_.truncate(0);
  }
  const int type = activeDeviceType_.load();
  const bool sleeveCarries =
      type == DEVICE_TYPE_SLEEVE || (type == DEVICE_TYPE_AUTOMATIC && kindConnected(Kind::Sleeve));
  if (sleeveCarries && sleeve_->getFWVER() < kSleeveNewQueryFirmware) {
    // Older sleeves only open the engine line once a scan has run.
    if (!sleeve_->barcodeStartScan(error)) return std::nullopt;
    sleeve_->barcodeStopScan(nullptr);
  }
  if (!barcodeEngineWrite(query.data(), int(query.size()), error)) return std::nullopt;
  return barcodeEngineRead(0, 1.0, error);
}

// ---- Zebra -------------------------------------------------------------------------------------------

bool KXDevices::motorolaSendCommand(int opcode, const Bytes& data, bool permanent, Error* error) {
  Bytes frame{uint8_t(opcode), uint8_t(permanent ? 0x08 : 0x00)};
  frame.insert(frame.end(), data.begin(), data.end());
  return barcodeEngineWrite(frame.data(), int(frame.size()), error);
}

std::optional<Bytes> KXDevices::motorolaReadResponse(Error* error) { return barcodeEngineRead(0, 3.0, error); }

std::optional<Bytes> KXDevices::zebraCommand(int opcode, const Bytes& data, bool permanent, Error* error) {
  if (!motorolaSendCommand(opcode, data, permanent, error)) return std::nullopt;
  return motorolaReadResponse(error);
}

bool KXDevices::barcodeZebraSetParam(int param, const Bytes& value, bool permanent, Error* error) {
  if (param < 0 || param > 0xFFFF) return engineFail(error, -9, "Invalid argument passed");
  Bytes payload{0xFF};
  if (param >= 256) payload.push_back(uint8_t(param >> 8));
  payload.push_back(uint8_t(param));
  payload.insert(payload.end(), value.begin(), value.end());
  const auto reply = zebraCommand(0xC6, payload, permanent, error);
  if (!reply || reply->empty() || (*reply)[0] != 0xD0) return engineFail(error, -20, "Barcode command failed");
  return true;
}

std::optional<std::string> KXDevices::barcodeZebraGetVersion(Error* error) {
  const auto reply = zebraCommand(0xA3, {}, false, error);
  if (reply && reply->size() > 2 && (*reply)[0] == 0xA4) {
    const auto space = std::find(reply->begin() + 2, reply->end(), uint8_t(' '));
    if (space != reply->end()) return std::string(reply->begin() + 2, space);
  }
  engineFail(error, -20, "Barcode command failed");
  return std::nullopt;
}

}  // namespace kestra
