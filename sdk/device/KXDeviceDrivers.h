#pragma once
// The drivers the device API owns, seen through the operations it uses of each, and the
// factory that makes them.
//
// Every call has a "no device" body: state 0, not connected, not present, no features, and a
// command fails as a driver without a device fails (false with -20 "No device connected",
// nothing for a query, the pinpad's status 16). A driver, a stand-in or a test fake therefore
// overrides only what it changes; a driver that is not part of a build is the interface
// itself (`std::make_shared<KXPrinterDriver>()`).
//
// A new driver (a printer, the pinpad, the hub, ...):
//  - derives from its interface below and overrides the calls it serves;
//  - returns itself (or its accessory-side object) from `accessoryDriver()` when it takes
//    accessories; it does not register itself with the accessory manager: the factory does,
//    for all drivers at once and in the fixed order of `KXDriverFactory::makeDrivers`;
//  - keeps its own delegates in a `KXDelegateList` (sdk/foundation/KXDelegateList.h) and
//    reports to the device API through the `KXDevices` it was given in `attach`.
// The device API routes a call to a driver in one place (`KXDevices::route`).
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
#include "sdk/foundation/KXColor.h"
#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXImage.h"

namespace accessory {
class InputStream;
class OutputStream;
}  // namespace accessory

namespace kestra {

class KXDevices;
class EAManager;
class Pellan;
class CarvikStream;
class PPad;
class AccessoryManagerDelegate;
struct KXBatteryInfo;

using foundation::Bytes;
using foundation::Error;

// The error of a command sent to a driver without a device: -20 "No device connected".
Error noDeviceError();
// Marks the arguments of a "no device" body as used.
template <class... T>
inline void kxUnused(const T&...) {}

// What every driver kind answers about itself.
class KXDriverBase {
 public:
  virtual ~KXDriverBase() = default;
  // The device API the driver reports to; held weakly. A driver without events ignores it.
  virtual void attach(std::weak_ptr<KXDevices> /*api*/) {}
  // What the accessory manager should ask about attached accessories on this driver's
  // behalf, or nothing for a driver that takes none.
  virtual std::shared_ptr<AccessoryManagerDelegate> accessoryDriver() { return nullptr; }
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
  virtual int connstate() { return 0; }
  // From state 0: state 1 (reported through the connection callback); returns at once.
  virtual void managedConnect() {}
  virtual void disconnect() {}
  virtual bool isPresent() { return false; }
  // 3 is a Bluetooth Low Energy link.
  virtual int connectionType() { return 0; }
  // The encrypted head's transport. `capacity` is the size of `reply`; the transport never
  // writes more. Returns the reply length, or a negative error.
  virtual int emsrCommand(const uint8_t* /*packet*/, int /*length*/, uint8_t* /*reply*/,
                          int /*capacity*/) {
    return -7;
  }
};

// The sleeve (`Pellan`): the operations the device API forwards unchanged.
class KXSleeveDriver : public KXManagedDriver {
 public:
  virtual bool msEnable(Error* error);
  virtual bool msDisable(Error* error);
  virtual bool msSetCardDataMode(int mode, Error* error);
  virtual bool barcodeStartScan(Error* error);
  virtual bool barcodeStopScan(Error* error);
  virtual bool barcodeGetScanMode(int* mode, Error* error);
  virtual bool barcodeSetScanMode(int mode, Error* error);
  virtual bool barcodeGetScanButtonMode(int* mode, Error* error);
  virtual bool barcodeSetScanButtonMode(int mode, Error* error);
  virtual bool barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length,
                                  Error* error);
  virtual bool barcodeGetBeepOnReady(bool* on, Error* error);
  virtual bool barcodeSetBeepOnReady(bool on, Error* error);
  virtual bool barcodeGetUVLights(bool* on, Error* error);
  virtual bool barcodeSetUVLights(bool on, Error* error);
  virtual bool playSound(int volume, const int* beepData, int length, Error* error);
  virtual bool getCharging(bool* charging, Error* error);
  virtual bool setCharging(bool enabled, Error* error);
  virtual bool getSyncButtonMode(int* mode, Error* error);
  virtual bool setSyncButtonMode(int mode, Error* error);
  virtual bool getKioskMode(bool* on, Error* error);
  virtual bool getBatteryCapacity(int* percent, float* volts, Error* error);
  virtual std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* error);
  virtual bool getUSBChargeCurrent(int* current, Error* error);
  virtual bool setUSBChargeCurrent(int current, Error* error);
  virtual bool uiControlLEDsWithBitMask(uint32_t mask, Error* error);
  // Vibration and the speaker, which only the sleeve has.
  virtual bool uiEnableVibrationForTime(float /*seconds*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uiEnableSpeaker(bool /*on*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uiIsSpeakerEnabled(bool* /*on*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uiEnableSpeakerButton(bool /*on*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uiIsSpeakerButtonEnabled(bool* /*on*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uiEnableSpeakerAutoControl(bool /*on*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uiIsSpeakerAutoControlEnabled(bool* /*on*/, Error* error) { return foundation::fail(error, noDeviceError()); }
  // The contactless reader inside the device: power, close and one frame for the reader.
  // Answers of the reader reach the RF stack on their own (`RFWrapper::dataAvaiable`).
  virtual bool rfReaderInit(int readerType, Error* error);
  virtual bool rfReaderClose(int readerType, Error* error);
  virtual std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error);
  // The device's own firmware: a file's information (nothing for a file of another
  // device), and the whole update (blocks the caller; progress through the callbacks).
  virtual std::optional<nlohmann::json> getFirmwareFileInformation(const Bytes& data, Error* error);
  virtual bool updateFirmwareData(const Bytes& data, bool validate, Error* error);
  // The EMV kernel (its reply without the driver's 2-byte header), the contactless-pass
  // session and keys, and the choice of encrypted head (0 real, 1 emulated).
  virtual std::optional<Bytes> emv2Command(const uint8_t* data, int length, Error* error) {
    kxUnused(data, length);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual bool vasInitWIthData(const Bytes& data, Error* error) { kxUnused(data); return foundation::fail(error, noDeviceError()); }
  virtual bool vasClose(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool vasLoadECCPrivateKeyAtSlot(int slot, const Bytes& key, uint32_t version, Error* error) {
    kxUnused(slot, key, version);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool vasGetECCPrivateKeyVersionAtSlot(int slot, uint32_t* version, Error* error) {
    kxUnused(slot, version);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool vasSetActiveECCPrivateKeyAtSlot(int slot, Error* error) { kxUnused(slot); return foundation::fail(error, noDeviceError()); }
  virtual bool vasSetCollectorID(uint32_t id, Error* error) { kxUnused(id); return foundation::fail(error, noDeviceError()); }
  virtual bool emsrSetActiveHead(int head, Error* error) { kxUnused(head); return foundation::fail(error, noDeviceError()); }
  // The sleeve driver itself, for the device API's Bluetooth and external serial port
  // calls (which pass its operations through one for one); nullptr without one.
  virtual Pellan* linkSleeve() { return nullptr; }
};

// A receipt printer (`Printer`, one of two).
class KXPrinterDriver : public KXManagedDriver {
 public:
  virtual bool beep(Error* error);
  // One scan of the printer's engine within `timeoutSeconds`: the code and its type, or
  // nothing.
  virtual std::optional<std::string> scanBarcode(double timeoutSeconds, int* type, Error* error);
  // Stores `image` as the printer's logo.
  virtual bool loadLogo(const KXImage& /*image*/, int /*align*/, Error* error) {
    return foundation::fail(error, noDeviceError());
  }

  // The printing calls (KXPrinterAPI.inc), under the printer's own names.
#define KX_PRN(R, API, DRV, P, A, F) \
  virtual R DRV P {                  \
    kxUnused A;                      \
    foundation::fail(error, noDeviceError()); \
    return F;                        \
  }
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F) KX_PRN(R, API, DRV, P, A, F)
#include "sdk/device/KXPrinterAPI.inc"
  // The status word, or -1.
  virtual int getPrinterStatus(Error* error) {
    foundation::fail(error, noDeviceError());
    return -1;
  }
  virtual void prnStartTransaction() {}
  virtual void prnEndStransaction() {}
  virtual bool pageIsSupported() { return false; }
  virtual bool tableIsSupported() { return false; }
  // Colours: -1 none, 0 white, 1 black.
  virtual bool pageFillRectangle(int color, Error* error);
  virtual bool pageFillRectangle(int left, int top, int width, int height, int color, Error* error);
  virtual bool pageRectangleFrame(int left, int top, int width, int height, int frameWidth, int color,
                                  Error* error);

  // Links: a stream pair (Bluetooth, TCP) instead of the accessory, and the kind of link
  // (1 TCP, 2 classic Bluetooth, 3 Bluetooth Low Energy).
  virtual bool connectWithStreams(std::shared_ptr<accessory::InputStream> /*input*/,
                                  std::shared_ptr<accessory::OutputStream> /*output*/, Error* error) {
    return foundation::fail(error, noDeviceError());
  }
  virtual void setConnectionType(int /*type*/) {}
};

// The pinpad (`PPad`). Integer results are pinpad statuses: 0 success, 16 not connected.
class KXPinpadDriver : public KXManagedDriver {
 public:
  static constexpr int kNotConnected = 16;
  virtual int msStart() { return kNotConnected; }
  virtual int msStop() { return kNotConnected; }
  virtual int msSimulateCardData(const std::optional<std::string>& /*track1*/,
                                 const std::optional<std::string>& /*track2*/,
                                 const std::optional<std::string>& /*track3*/) {
    return kNotConnected;
  }
  virtual int msGetLoyaltyNumber(int /*id*/, Bytes* /*data*/) { return kNotConnected; }
  virtual std::optional<nlohmann::json> msGetLastCardMaskedData(Error* error);
  virtual int msUniversalGetEncryptedCardData(int /*format*/, int /*keyID*/, const Bytes& /*params*/,
                                              Bytes* /*data*/) {
    return kNotConnected;
  }
  virtual int barStart() { return kNotConnected; }
  virtual int barStop() { return kNotConnected; }
  virtual int barGetScanMode(int* /*mode*/) { return kNotConnected; }
  virtual int barSetScanMode(int /*mode*/) { return kNotConnected; }
  virtual int barSetScanBeep(bool /*enabled*/, int /*volume*/, const int* /*beepData*/,
                             int /*length*/) {
    return kNotConnected;
  }
  virtual int sysGetEnabledEvents(uint32_t* /*mask*/) { return kNotConnected; }
  virtual int sysEnableEvents(uint32_t /*mask*/) { return kNotConnected; }
  virtual int sysPlaySound(const int* /*beepData*/, int /*length*/, int /*volume*/) {
    return kNotConnected;
  }
  // The contactless reader inside the pinpad, as the sleeve's above.
  virtual bool rfReaderInit(int readerType, Error* error);
  virtual bool rfReaderClose(int readerType, Error* error);
  virtual std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error);
  virtual int displayWidth() { return 0; }
  virtual int displayHeight() { return 0; }
  virtual bool displayAtBottom() { return false; }

  // The printer channel's calls (KXPrinterAPI.inc) that a pinpad with a printer serves.
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F) \
  virtual R PIN P {                              \
    kxUnused A;                                  \
    foundation::fail(error, noDeviceError());    \
    return F;                                    \
  }
#include "sdk/device/KXPrinterAPI.inc"

  // The pinpad driver itself, for the device API's key, crypto and EMV calls (which pass
  // its operations through one for one); nullptr without one.
  virtual PPad* securePad() { return nullptr; }
  // Links through a stream pair: the pinpad's status (0 connected), and the kind of link.
  virtual int connectWithStreams(std::shared_ptr<accessory::InputStream> /*input*/,
                                 std::shared_ptr<accessory::OutputStream> /*output*/) {
    return kNotConnected;
  }
  virtual void setConnectionType(int /*type*/) {}
  // The EMV kernel's channel: status, and on 0 the reply without its 2-byte header.
  virtual int emv2Command(const uint8_t* /*data*/, int /*length*/, Bytes* /*result*/) { return kNotConnected; }
  // A fresh DUKPT key serial number for `keyID`.
  virtual int dukptGenerateKeyOnline(int /*keyID*/, Bytes* /*keySerial*/) { return kNotConnected; }
};

// Drivers that are either attached and open or not: the serial adapter (`CarvikStream`),
// the hub (`USBManager`) and the hub's port devices (`BarcodeHID`, `KeyboardHID`, `Magtek`).
class KXStreamDriver : public KXDriverBase {
 public:
  virtual bool connected() { return false; }
  virtual void connect() {}
  virtual void disconnect() {}
  virtual bool isPresent() { return false; }
};

// The serial adapter.
class KXSerialAdapterDriver : public KXStreamDriver {
 public:
  virtual bool serialSupported() { return false; }
  virtual bool serialSetSettings(int /*baud*/, int /*parity*/, int /*dataBits*/, int /*stopBits*/,
                                 int /*flowControl*/, Error* error);
  virtual bool serialConnect(Error* error);
  // The adapter itself, for the device API's Bluetooth calls; nullptr without one.
  virtual CarvikStream* linkAdapter() { return nullptr; }
};

// The Bluetooth Low Energy stream: only its link matters here.
class KXBLEStreamDriver {
 public:
  virtual ~KXBLEStreamDriver() = default;
  virtual void attach(std::weak_ptr<KXDevices> /*api*/) {}
  virtual bool linkOpen() { return false; }
  virtual void close() {}
};

// One driver of every kind, as the factory made them.
struct KXDriverSet {
  std::shared_ptr<KXSleeveDriver> sleeve;
  std::shared_ptr<KXPrinterDriver> printers[2];
  std::shared_ptr<KXPinpadDriver> pinpad;
  std::shared_ptr<KXSerialAdapterDriver> adapter;
  std::shared_ptr<KXStreamDriver> hub;
  std::shared_ptr<KXStreamDriver> barcodeHID;
  std::shared_ptr<KXStreamDriver> keyboardHID;
  std::shared_ptr<KXStreamDriver> magtek;
  std::shared_ptr<KXBLEStreamDriver> ble;
};

// Makes the device API's drivers. Each `make...` call makes (or hands out) one driver; the
// device API calls `makeDrivers` once. A `make...` that is not overridden gives a driver
// without a device.
class KXDriverFactory {
 public:
  virtual ~KXDriverFactory() = default;
  virtual std::shared_ptr<KXSleeveDriver> makeSleeve();
  virtual std::shared_ptr<KXPrinterDriver> makePrinter(int index);
  virtual std::shared_ptr<KXPinpadDriver> makePinpad();
  virtual std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapter();
  virtual std::shared_ptr<KXStreamDriver> makeHub();
  virtual std::shared_ptr<KXStreamDriver> makeBarcodeHID();
  virtual std::shared_ptr<KXStreamDriver> makeKeyboardHID();
  virtual std::shared_ptr<KXStreamDriver> makeMagtek();
  virtual std::shared_ptr<KXBLEStreamDriver> makeBLEStream();
  // The accessory manager the drivers register with; none for a factory of fakes.
  virtual EAManager* accessoryManager() { return nullptr; }
  // Starts the accessory search that offers attached accessories to the drivers.
  virtual void tryConnect() {}

  // Makes every driver once, then registers those that take accessories with
  // `accessoryManager()`, in the order the manager asks them: the sleeve, printer 0,
  // printer 1, the pinpad, the serial adapter, the hub. An accessory two drivers would take
  // goes to the earlier one. The hub's port devices are the hub's to offer, not the
  // manager's.
  KXDriverSet makeDrivers();

  // The production factory: the sleeve driver over the shared accessory manager, and
  // drivers without a device for those that are not part of this build.
  static std::shared_ptr<KXDriverFactory> standard();
};

}  // namespace kestra
