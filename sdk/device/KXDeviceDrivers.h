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

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXColor.h"
#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXImage.h"
#include "sdk/hub/TrelmoRecords.h"

namespace accessory {
class InputStream;
class OutputStream;
}  // namespace accessory
namespace bluetooth {
class Peripheral;
class Uuid;
}  // namespace bluetooth

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
class TrelmoDevice;
struct KXBatteryInfo;

// The fields of a Code engine's information answer, by name.
using KXEngineInformation = std::map<std::string, std::string>;

using foundation::Bytes;
using foundation::Error;

// The error of a command sent to a driver without a device: -20 "No device connected".
Error noDeviceError();
// Marks the arguments of a "no device" body as used.
template <class... T>
inline void kxUnused(const T&...) {}
// Nothing, with the "no device" error.
template <class T>
inline std::optional<T> noneOf(Error* error) {
  foundation::fail(error, noDeviceError());
  return std::nullopt;
}

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
  // ---- Settings, keys, TransArmor, Voltage and the SAM slot --------------------------------
  virtual bool setKioskMode(bool on, Error* error) { kxUnused(on); return foundation::fail(error, noDeviceError()); }
  virtual bool setBatteryMaxCapacity(int capacity, Error* error) { kxUnused(capacity); return foundation::fail(error, noDeviceError()); }
  virtual bool setInternalBatteryChargeCurrentMode(int mode, Error* error) { kxUnused(mode); return foundation::fail(error, noDeviceError()); }
  virtual bool getInternalBatteryChargeCurrentMode(int* mode, Error* error) { kxUnused(mode); return foundation::fail(error, noDeviceError()); }
  virtual bool setAutoOffWhenIdle(double idle, double disconnected, Error* error) {
    kxUnused(idle, disconnected);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool getAutoOffWhenIdle(double* idle, double* disconnected, Error* error) {
    kxUnused(idle, disconnected);
    return foundation::fail(error, noDeviceError());
  }
  // major x 100 + minor; 0 without a device.
  virtual int getFirmwareVersion() { return 0; }
  virtual std::optional<Bytes> cryptoRawGenerateRandomData(Error* error) { foundation::fail(error, noDeviceError()); return std::nullopt; }
  virtual bool cryptoRawSetKey(int keyID, const Bytes& data, uint32_t version, uint32_t flags, Error* error) {
    kxUnused(keyID, data, version, flags);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, uint32_t version,
                            uint32_t flags, Error* error) {
    kxUnused(keyID, key, oldKey, version, flags);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool cryptoGetKeyVersion(int keyID, uint32_t* version, Error* error) {
    kxUnused(keyID, version);
    return foundation::fail(error, noDeviceError());
  }
  virtual std::optional<Bytes> cryptoRawAuthenticateDevice(const Bytes& data, Error* error) {
    kxUnused(data);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual bool cryptoAuthenticateDevice(const Bytes& key, Error* error) { kxUnused(key); return foundation::fail(error, noDeviceError()); }
  virtual bool cryptoRawAuthenticateHost(const Bytes& data, Error* error) { kxUnused(data); return foundation::fail(error, noDeviceError()); }
  virtual bool cryptoAuthenticateHost(const Bytes& key, Error* error) { kxUnused(key); return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> taCommand(const Bytes& data, Error* error) {
    kxUnused(data);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual std::optional<Bytes> voltageCommand(const uint8_t* data, int length, Error* error) {
    kxUnused(data, length);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual std::optional<Bytes> samPowerOn(Error* error) { foundation::fail(error, noDeviceError()); return std::nullopt; }
  virtual bool samPowerOff(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> samRawAPDU(const Bytes& apdu, uint16_t* status, Error* error) {
    kxUnused(apdu, status);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual bool samAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data,
                       uint16_t* status, Error* error) {
    kxUnused(cla, ins, p1, p2, data, status);
    return foundation::fail(error, noDeviceError());
  }
  virtual std::optional<Bytes> samCAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                        const std::optional<Bytes>& data, int outLength, uint16_t* status,
                                        Error* error) {
    kxUnused(cla, ins, p1, p2, data, outLength, status);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  // ---- (end of settings and keys) --------------------------------------------------------------

  // ---- A link over a stream pair (Bluetooth Low Energy) ----
  virtual void setConnectionType(int /*type*/) {}
  virtual bool connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                  std::shared_ptr<accessory::OutputStream> output, Error* error);
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

  // ---- Scan engine: control, configuration per make, raw pass-through and firmware ----------
  // The sleeve firmware version as a number (5058 for 5.58), 0 without a sleeve.
  virtual int getFWVER() { return 0; }
  virtual bool barcodeEngineResetToDefaults(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeEngineCheckReady(bool* ready, Error* error) { kxUnused(ready); return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error) {
    kxUnused(on, maxTimeMinutes);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool barcodeOpticonSetInitString(const std::string& text, Error* error) { kxUnused(text); return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeOpticonSetParams(const std::string& params, bool saveToFlash, Error* error) {
    kxUnused(params, saveToFlash);
    return foundation::fail(error, noDeviceError());
  }
  virtual std::optional<std::string> barcodeOpticonGetIdent(Error* error) { return noneOf<std::string>(error); }
  virtual bool barcodeOpticonUpdateFirmware(const Bytes& image, bool bootLoader, Error* error) {
    kxUnused(image, bootLoader);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool barcodeCodeSetParam(int param, uint64_t value, Error* error) { kxUnused(param, value); return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeCodeGetParam(int param, uint64_t* value, Error* error) { kxUnused(param, value); return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image, Error* error) {
    kxUnused(fileName, image);
    return foundation::fail(error, noDeviceError());
  }
  virtual std::optional<KXEngineInformation> barcodeCodeGetInformation(Error* error) { return noneOf<KXEngineInformation>(error); }
  virtual bool barcodeHoneywellSetInitString(const Bytes& data, Error* error) { kxUnused(data); return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeIntermecSetInitData(const Bytes& data, Error* error) { kxUnused(data); return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> barcodeIntermecGetInitData(Error* error) { return noneOf<Bytes>(error); }
  virtual std::optional<Bytes> barcodeNewlandQuery(const Bytes& query, Error* error) { kxUnused(query); return noneOf<Bytes>(error); }
  virtual bool barcodeNewlandSetInitString(const std::string& text, Error* error) { kxUnused(text); return foundation::fail(error, noDeviceError()); }
  virtual bool barcodeNewlandUpdateFirmware(const Bytes& image, Error* error) { kxUnused(image); return foundation::fail(error, noDeviceError()); }
  // The raw pass-through: the engine's reply to a write (may be empty), what it sent since
  // the last read (may be empty), its download mode and line speed, its stored init data.
  virtual std::optional<Bytes> _barcodeEngineWrite(const uint8_t* data, int length, Error* error) {
    kxUnused(data, length);
    return noneOf<Bytes>(error);
  }
  virtual std::optional<Bytes> _barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error) {
    kxUnused(data, length);
    return noneOf<Bytes>(error);
  }
  virtual std::optional<Bytes> _barcodeEngineRead(Error* error) { return noneOf<Bytes>(error); }
  virtual bool _barcodeEngineDownloadModeEnable(bool on, Error* error) { kxUnused(on); return foundation::fail(error, noDeviceError()); }
  virtual bool _barcodeEngineChangeBaudRate(int baud, Error* error) { kxUnused(baud); return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> _barcodeEngineGetInitData(Error* error) { return noneOf<Bytes>(error); }
  virtual bool _barcodeEngineSetInitData(const Bytes& data, Error* error) { kxUnused(data); return foundation::fail(error, noDeviceError()); }

  // ---- System settings of the sleeve as a whole -----------------------------------------------
  virtual bool getTimeRemainingToPowerOff(double* seconds, Error* error) { kxUnused(seconds); return foundation::fail(error, noDeviceError()); }
  virtual bool sysSaveSettingsToFlash(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool sysPowerOff(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool sysEnterPassThrough(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool sysMute(Error* error) { return foundation::fail(error, noDeviceError()); }
  // The UHF tag reader and the HID SAM module, which only the sleeve has. `uhfInit` takes
  // the reader's region code; the SAM calls give the SAM's answer message.
  virtual std::optional<Bytes> uhfCommand(const uint8_t* data, int length, Error* error) {
    kxUnused(data, length);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual bool uhfInit(int code, Error* error) { kxUnused(code); return foundation::fail(error, noDeviceError()); }
  virtual bool uhfClose(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool uhfStartAutoReadForTagType(int tagType, int maxNumberOfTags, int maxTimeForTagging,
                                          int repeatCycleCount, Error* error) {
    kxUnused(tagType, maxNumberOfTags, maxTimeForTagging, repeatCycleCount);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool uhfStopAutoRead(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> hidGetVersionInfo(Error* error) { return hidNoDevice(error); }
  virtual std::optional<Bytes> hidGetSerialNumber(Error* error) { return hidNoDevice(error); }
  virtual std::optional<Bytes> hidGetContentElement(int element, const std::optional<Bytes>& pin,
                                                    const std::optional<Bytes>& rootSoOID, Error* error) {
    kxUnused(element, pin, rootSoOID);
    return hidNoDevice(error);
  }
  virtual std::optional<Bytes> hidProcessKeyRollerCard(Error* error) { return hidNoDevice(error); }
  virtual std::optional<Bytes> hidProcessConfigCard(Error* error) { return hidNoDevice(error); }

 private:
  static std::optional<Bytes> hidNoDevice(Error* error) {
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
};

// A receipt printer (`Printer`, one of two).
class KXPrinterDriver : public KXManagedDriver {
 public:
  // ---- Settings, battery and the card reader ----------------------------------------------
  // An information item (0 battery voltage in tenths of a volt, 1 battery percent).
  virtual bool getInfo(int item, int* data, Error* error) { kxUnused(item, data); return foundation::fail(error, noDeviceError()); }
  virtual bool setGenericPrinterSettingsPageWidth(int width, int feedLines, Error* error) {
    kxUnused(width, feedLines);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool prnSetAutoOffTime(int seconds, Error* error) { kxUnused(seconds); return foundation::fail(error, noDeviceError()); }
  // The smart-card reader (one slot) and the encrypted head's track choice.
  virtual bool scInit(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual bool scClose(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> scReset(Error* error) { foundation::fail(error, noDeviceError()); return std::nullopt; }
  virtual bool scIsCardPresent(Error* error) { return foundation::fail(error, noDeviceError()); }
  virtual std::optional<Bytes> scAPDU(const Bytes& apdu, Error* error) {
    kxUnused(apdu);
    foundation::fail(error, noDeviceError());
    return std::nullopt;
  }
  virtual void emsrSetTracks(int tracks) { kxUnused(tracks); }
  // ---- (end of settings and the card reader) ----------------------------------------------

  // ---- A link over a stream pair (Bluetooth Low Energy) ----
  virtual void setConnectionType(int /*type*/) {}
  virtual bool connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                  std::shared_ptr<accessory::OutputStream> output, Error* error);
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

};

// The pinpad (`PPad`). Integer results are pinpad statuses: 0 success, 16 not connected.
class KXPinpadDriver : public KXManagedDriver {
 public:
  static constexpr int kNotConnected = 16;
  // ---- A link over a stream pair (Bluetooth Low Energy): a pinpad status (0 connected) ----
  virtual void setConnectionType(int /*type*/) {}
  virtual int connectWithStreams(std::shared_ptr<accessory::InputStream> /*input*/,
                                 std::shared_ptr<accessory::OutputStream> /*output*/) {
    return kNotConnected;
  }
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
  // The EMV kernel's channel: status, and on 0 the reply without its 2-byte header.
  virtual int emv2Command(const uint8_t* /*data*/, int /*length*/, Bytes* /*result*/) { return kNotConnected; }
  // A fresh DUKPT key serial number for `keyID`.
  virtual int dukptGenerateKeyOnline(int /*keyID*/, Bytes* /*keySerial*/) { return kNotConnected; }

  // ---- Scan engine: control and raw pass-through (statuses; replies through `out`) ---------
  virtual int barReset() { return kNotConnected; }
  virtual int barOpticonSetInitString(const std::string& /*text*/) { return kNotConnected; }
  virtual int barSetInitData(const Bytes& /*data*/) { return kNotConnected; }
  virtual int _barcodeEngineWrite(const uint8_t* /*data*/, int /*length*/, Bytes* /*out*/) { return kNotConnected; }
  virtual int _barcodeEngineSpecialWrite(const uint8_t* /*data*/, int /*length*/, Bytes* /*out*/) { return kNotConnected; }
  virtual int _barcodeEngineRead(Bytes* /*data*/) { return kNotConnected; }
  virtual int _barcodeEngineDownloadModeEnable(bool /*on*/) { return kNotConnected; }
  virtual int _barcodeEngineChangeBaudRate(int /*baud*/) { return kNotConnected; }
  virtual int _barcodeEngineGetInitData(Bytes* /*data*/) { return kNotConnected; }
  virtual int _barcodeEngineSetInitData(const Bytes& /*data*/) { return kNotConnected; }

  // ---- System settings, clock and identity ----------------------------------------------------
  virtual int commTest(int /*repetitions*/, int /*nBytes*/) { return kNotConnected; }
  virtual int sysSetBatteryWarningLevelPercent(int /*percent*/) { return kNotConnected; }
  virtual int getTimeRemainingToPowerOff(double* /*seconds*/) { return kNotConnected; }
  virtual int sysTurnOff() { return kNotConnected; }
  virtual bool sysIsDevelopmentUnit() { return false; }
  virtual int sysGetDate(std::chrono::system_clock::time_point* /*date*/) { return kNotConnected; }
  virtual int sysSetDate(std::chrono::system_clock::time_point /*date*/) { return kNotConnected; }
  virtual Bytes serialNumberCPU() { return {}; }
};

// Drivers that are either attached and open or not: the serial adapter (`CarvikStream`),
// the hub (`USBManager`) and the hub's port devices (`BarcodeHID`, `KeyboardHID`, `Magtek`).
class KXStreamDriver : public KXDriverBase {
 public:
  // ---- Firmware of the hub and the serial adapter ------------------------------------------
  // A firmware file's identity ("deviceModel", "deviceName", "firmwareRevision",
  // "firmwareRevisionNumber"), nothing for a file of another device; and the update.
  virtual std::optional<nlohmann::json> getFirmwareFileInformation(const Bytes& data, Error* error);
  virtual bool updateFirmwareData(const Bytes& data, bool validate, Error* error) {
    kxUnused(data, validate);
    return foundation::fail(error, noDeviceError());
  }
  // ---- (end of firmware) -------------------------------------------------------------------

  virtual bool connected() { return false; }
  virtual void connect() {}
  virtual void disconnect() {}
  virtual bool isPresent() { return false; }

  // ---- A port device's USB descriptor (HID readers): nothing when it has none ----------------
  virtual std::optional<TrelmoUSBDeviceDescriptor> usbDeviceDescriptor() { return std::nullopt; }

  // ---- The hub's ports, charging and serial number (the hub only) -----------------------------
  virtual std::shared_ptr<TrelmoDevice> getPortDeviceFormPort(int port, Error* error) {
    kxUnused(port);
    foundation::fail(error, noDeviceError());
    return nullptr;
  }
  virtual std::optional<std::vector<TrelmoPortInfo>> getPortsInfo(Error* error) {
    return noneOf<std::vector<TrelmoPortInfo>>(error);
  }
  virtual bool setPortConfig(const std::string& config, int port, bool recreateConnection, Error* error) {
    kxUnused(config, port, recreateConnection);
    return foundation::fail(error, noDeviceError());
  }
  virtual bool setUSBCharge(bool on, int port, Error* error) { kxUnused(on, port); return foundation::fail(error, noDeviceError()); }
  virtual bool setAppleCharge(int current, Error* error) { kxUnused(current); return foundation::fail(error, noDeviceError()); }
  virtual bool getAppleCharge(int* current, Error* error) { kxUnused(current); return foundation::fail(error, noDeviceError()); }
  virtual bool setSerial(const std::string& serial, Error* error) { kxUnused(serial); return foundation::fail(error, noDeviceError()); }
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

// The Bluetooth Low Energy stream (sdk/transport/BTLEStream.h) as the device API uses it.
// Without a radio: no link, discovery and connect fail with -20 "No device connected".
class KXBLEStreamDriver {
 public:
  virtual ~KXBLEStreamDriver() = default;
  // The device API hears of links made and lost (`btleDeviceConnected`, ...).
  virtual void attach(std::weak_ptr<KXDevices> /*api*/) {}
  virtual bool linkOpen() { return false; }
  virtual void close() {}
  // ---- Bluetooth Low Energy links ----
  virtual std::optional<std::vector<std::shared_ptr<bluetooth::Peripheral>>> discoverSupportedDevices(
      int types, bool stopOnFound, Error* error);
  virtual void discoverStop() {}
  virtual std::shared_ptr<bluetooth::Peripheral> getKnownDevice(const bluetooth::Uuid& identifier, Error* error);
  virtual bool connectToDevice(const std::shared_ptr<bluetooth::Peripheral>& peripheral, Error* error);
  // The stream's two faces (nothing without a stream).
  virtual std::shared_ptr<accessory::InputStream> inputStream() { return nullptr; }
  virtual std::shared_ptr<accessory::OutputStream> outputStream() { return nullptr; }
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
