#pragma once
// The drivers the device API owns, seen through the operations it uses of each, and the
// factory that makes them.
//
// `KXDevices` makes every driver once, through a `KXDriverFactory`, and keeps it for its own
// life. The production factory wraps the real drivers where they exist (the sleeve) and
// stand-ins elsewhere: a stand-in reports no device (state 0, not connected, not present)
// and fails every command as a driver without a device does, so that routing, fall-back and
// the routing errors behave now as they will with the real drivers. Tests install their own
// factory of fakes.
//
// Threads: every member may be called from any thread; commands block the caller until the
// device answers. A driver reports its events by calling the driver callbacks of the
// `KXDevices` it was given (`attach`), on the thread the driver's own documentation names
// (connection changes and sleeve events on the main queue).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra {

class KXDevices;
struct KXBatteryInfo;

using foundation::Bytes;
using foundation::Error;

// What every driver kind answers about itself.
class KXDriverBase {
 public:
  virtual ~KXDriverBase() = default;
  // The device API the driver reports to; held weakly.
  virtual void attach(std::weak_ptr<KXDevices> api) = 0;
  virtual std::string deviceName() { return {}; }
  virtual std::string deviceModel() { return {}; }
  virtual std::string firmwareRevision() { return {}; }
  virtual std::string hardwareRevision() { return {}; }
  virtual std::string serialNumber() { return {}; }
  virtual int getSupportedFeature(int /*feature*/, Error* /*error*/ = nullptr) { return 0; }
};

// The sleeve, a printer and the pinpad: drivers with a connection state of their own.
class KXManagedDriver : public KXDriverBase {
 public:
  // 0 disconnected, 1 connecting, 2 connected.
  virtual int connstate() = 0;
  // From state 0: state 1 (reported through the connection callback); returns at once.
  virtual void managedConnect() = 0;
  virtual void disconnect() = 0;
  virtual bool isPresent() = 0;
  // 3 is a Bluetooth Low Energy link.
  virtual int connectionType() { return 0; }
  // The encrypted head's transport: reply length, or a negative error.
  virtual int emsrCommand(const uint8_t* /*packet*/, int /*length*/, uint8_t* /*reply*/) { return -7; }
};

// The sleeve (`Pellan`): the operations the device API forwards unchanged.
class KXSleeveDriver : public KXManagedDriver {
 public:
  virtual bool msEnable(Error* error) = 0;
  virtual bool msDisable(Error* error) = 0;
  virtual bool msSetCardDataMode(int mode, Error* error) = 0;
  virtual bool barcodeStartScan(Error* error) = 0;
  virtual bool barcodeStopScan(Error* error) = 0;
  virtual bool barcodeGetScanMode(int* mode, Error* error) = 0;
  virtual bool barcodeSetScanMode(int mode, Error* error) = 0;
  virtual bool barcodeGetScanButtonMode(int* mode, Error* error) = 0;
  virtual bool barcodeSetScanButtonMode(int mode, Error* error) = 0;
  virtual bool barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length,
                                  Error* error) = 0;
  virtual bool barcodeGetBeepOnReady(bool* on, Error* error) = 0;
  virtual bool barcodeSetBeepOnReady(bool on, Error* error) = 0;
  virtual bool barcodeGetUVLights(bool* on, Error* error) = 0;
  virtual bool barcodeSetUVLights(bool on, Error* error) = 0;
  virtual bool playSound(int volume, const int* beepData, int length, Error* error) = 0;
  virtual bool getCharging(bool* charging, Error* error) = 0;
  virtual bool setCharging(bool enabled, Error* error) = 0;
  virtual bool getSyncButtonMode(int* mode, Error* error) = 0;
  virtual bool setSyncButtonMode(int mode, Error* error) = 0;
  virtual bool getKioskMode(bool* on, Error* error) = 0;
  virtual bool getBatteryCapacity(int* percent, float* volts, Error* error) = 0;
  virtual std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* error) = 0;
  virtual bool getUSBChargeCurrent(int* current, Error* error) = 0;
  virtual bool setUSBChargeCurrent(int current, Error* error) = 0;
  virtual bool uiControlLEDsWithBitMask(uint32_t mask, Error* error) = 0;
};

// A receipt printer (`Printer`, one of two).
class KXPrinterDriver : public KXManagedDriver {
 public:
  virtual bool beep(Error* error) = 0;
  // One scan of the printer's engine within `timeoutSeconds`: the code and its type, or
  // nothing.
  virtual std::optional<std::string> scanBarcode(double timeoutSeconds, int* type, Error* error) = 0;
};

// The pinpad (`PPad`). Integer results are pinpad statuses: 0 success, 16 not connected.
class KXPinpadDriver : public KXManagedDriver {
 public:
  virtual int msStart() = 0;
  virtual int msStop() = 0;
  virtual int msSimulateCardData(const std::optional<std::string>& track1,
                                 const std::optional<std::string>& track2,
                                 const std::optional<std::string>& track3) = 0;
  virtual int msGetLoyaltyNumber(int id, Bytes* data) = 0;
  virtual std::optional<nlohmann::json> msGetLastCardMaskedData(Error* error) = 0;
  virtual int msUniversalGetEncryptedCardData(int format, int keyID, const Bytes& params,
                                              Bytes* data) = 0;
  virtual int barStart() = 0;
  virtual int barStop() = 0;
  virtual int barGetScanMode(int* mode) = 0;
  virtual int barSetScanMode(int mode) = 0;
  virtual int barSetScanBeep(bool enabled, int volume, const int* beepData, int length) = 0;
  virtual int sysGetEnabledEvents(uint32_t* mask) = 0;
  virtual int sysEnableEvents(uint32_t mask) = 0;
  virtual int sysPlaySound(const int* beepData, int length, int volume) = 0;
  virtual int displayWidth() { return 0; }
  virtual int displayHeight() { return 0; }
  virtual bool displayAtBottom() { return false; }
};

// Drivers that are either attached and open or not: the serial adapter (`CarvikStream`),
// the hub (`USBManager`) and the hub's port devices (`BarcodeHID`, `KeyboardHID`, `Magtek`).
class KXStreamDriver : public KXDriverBase {
 public:
  virtual bool connected() = 0;
  virtual void connect() {}
  virtual void disconnect() {}
  virtual bool isPresent() { return false; }
};

// The serial adapter.
class KXSerialAdapterDriver : public KXStreamDriver {
 public:
  virtual bool serialSupported() { return false; }
  virtual bool serialSetSettings(int /*baud*/, int /*parity*/, int /*dataBits*/, int /*stopBits*/,
                                 int /*flowControl*/, Error* /*error*/) {
    return false;
  }
  virtual bool serialConnect(Error* /*error*/) { return false; }
};

// The Bluetooth Low Energy stream: only its link matters here.
class KXBLEStreamDriver {
 public:
  virtual ~KXBLEStreamDriver() = default;
  virtual void attach(std::weak_ptr<KXDevices> api) = 0;
  virtual bool linkOpen() = 0;
  virtual void close() = 0;
};

// Makes the device API's drivers. Each call makes (or hands out) one driver; the device
// API calls each once.
class KXDriverFactory {
 public:
  virtual ~KXDriverFactory() = default;
  virtual std::shared_ptr<KXSleeveDriver> makeSleeve() = 0;
  virtual std::shared_ptr<KXPrinterDriver> makePrinter(int index) = 0;
  virtual std::shared_ptr<KXPinpadDriver> makePinpad() = 0;
  virtual std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapter() = 0;
  virtual std::shared_ptr<KXStreamDriver> makeHub() = 0;
  virtual std::shared_ptr<KXStreamDriver> makeBarcodeHID() = 0;
  virtual std::shared_ptr<KXStreamDriver> makeKeyboardHID() = 0;
  virtual std::shared_ptr<KXStreamDriver> makeMagtek() = 0;
  virtual std::shared_ptr<KXBLEStreamDriver> makeBLEStream() = 0;
  // Starts the accessory search that offers attached accessories to the drivers.
  virtual void tryConnect() {}

  // The production factory: the sleeve driver over the shared accessory manager, and
  // stand-ins for the drivers that are not part of this build.
  static std::shared_ptr<KXDriverFactory> standard();
};

}  // namespace kestra
