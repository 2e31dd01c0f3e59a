#pragma once
// KXDevices: the SDK's device API. It owns one driver of every kind (the sleeve, two
// receipt printers, the pinpad, the serial adapter, the hub, the hub's HID barcode reader,
// keyboard and magnetic reader, and the Bluetooth Low Energy stream), is the delegate of
// each, merges their connection states into one, keeps the type of the active device,
// routes every call to the driver that can serve it, and passes driver events on to its
// own delegates (`KXDeviceDelegate`).
//
// Routing: a call has its own list of candidate drivers. When the active device type names
// one of them, that driver is used without a connection test; with the automatic type (-1)
// the first connected candidate is used. When none fits the call fails with -20 "No device
// connected" while the merged state is not 2, else with -7 "Function not supported on the
// connected device". Driver results and errors come back unchanged; pinpad statuses become
// errors through `ppadError`, encrypted-head results through `emsrError`. An error is
// stored only when the caller gives a place for it.
//
// Ownership and life: one process-wide object (`sharedDevice`), made on first use and never
// destroyed; `create` makes a separate one over a driver factory of the caller's (tests).
// Drivers are made once and kept; delegates are held weakly.
//
// Threads: calls run on the caller's thread and block in the driver until its reply or
// time-out. Events are passed on synchronously on the thread that delivered them; each
// delegate call is wrapped so that an exception thrown by a delegate is caught, logged and
// does not stop delivery to the others. Delegate-list changes are locked; walks go over a
// snapshot of the list, from the last delegate added to the first. The active device type is
// shared by all threads; nothing changes it temporarily.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/device/KXDeviceDelegate.h"
#include "sdk/device/KXDeviceDrivers.h"
#include "sdk/foundation/KXBatteryInfo.h"
#include "sdk/foundation/KXDelegateList.h"
#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
// Records of the encrypted head and the fingerprint calls.
#include "sdk/foundation/EMSRDeviceInfo.h"
#include "sdk/foundation/KXTouchFormatAnsiIso.h"
#include "sdk/foundation/KXTouchIdentity.h"
#include "sdk/pinpad/KXPinpadInfo.h"
#include "sdk/sleeve/PellanEngineCodec.h"

namespace kestra {

struct KXEmv2State;

// Device types of `setActiveDeviceType`, `isPresent`, `getDeviceConnectionState` and the
// device records.
enum KXDeviceType : int {
  DEVICE_TYPE_AUTOMATIC = -1,
  DEVICE_TYPE_SLEEVE = 0,
  DEVICE_TYPE_PRINTER = 1,
  DEVICE_TYPE_PINPAD = 2,
  DEVICE_TYPE_SERIAL_ADAPTER = 3,
  DEVICE_TYPE_PRINTER_ALIAS = 4,
  DEVICE_TYPE_HUB = 5,
  DEVICE_TYPE_HID_BARCODE = 6,
  DEVICE_TYPE_USB_MSR = 7,
  DEVICE_TYPE_USB_KEYBOARD = 8,
  DEVICE_TYPE_UNCHECKED = 9,
  DEVICE_TYPE_CHARGING_CASE = 100,  // known to the facade only
};

// Connection states of every driver, the device API and the facade.
enum KXConnState : int { CONN_DISCONNECTED = 0, CONN_CONNECTING = 1, CONN_CONNECTED = 2 };

// Scan-button modes.
inline constexpr int kButtonDisabled = 0;
inline constexpr int kButtonEnabled = 1;

// A pinpad status as an SDK error: code -16500 - status (status 41 reports as 8).
Error ppadError(int status);
// An encrypted-head result as an SDK error with the same code.
Error emsrError(int code);

class KXDevices : public std::enable_shared_from_this<KXDevices> {
 public:
  static constexpr int kSdkVersion = 207;
  static constexpr const char* kSdkBuildDate = "Oct 19 2020";
  static constexpr int kFeatureCount = 19;
  static constexpr int kFeatureMagneticReader = 0;
  static constexpr int kFeatureBarcodeEngine = 1;
  // The printer scan loop: scans of one second each, at most this many.
  static constexpr double kPrinterScanTimeoutSeconds = 1.0;
  static constexpr int kPrinterScanAttempts = 20;
  // Dummy keys of heads that encrypt with a built-in key.
  static const Bytes& dummyAESKey();
  static const Bytes& dummy3DESKey();

  // The process-wide device API over the standard driver factory; made once, thread-safely.
  static KXDevices& sharedDevice();
  // A device API of its own over `factory`.
  static std::shared_ptr<KXDevices> create(std::shared_ptr<KXDriverFactory> factory);
  ~KXDevices();
  KXDevices(const KXDevices&) = delete;
  KXDevices& operator=(const KXDevices&) = delete;

  // ---- Delegates ------------------------------------------------------------------------
  // Adds `delegate` unless it is in the list already. Nothing for nullptr.
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate);
  // Drops freed entries, then the first entry of `delegate`, if any.
  void removeDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate);
  // Replaces the first entry (adds to an empty list).
  void setDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate);
  // The first live delegate, after dropping freed entries.
  std::shared_ptr<KXDeviceDelegate> delegate();
  // The live delegates in list order.
  std::vector<std::shared_ptr<KXDeviceDelegate>> delegates() const;

  // ---- Connection -----------------------------------------------------------------------
  // Asks every driver to start, then lets the accessory search offer attached accessories.
  void connect();
  // On the main queue (re-posted there from any other thread): disconnects every driver,
  // then merges the connection state once.
  void disconnect();
  bool isPresent(int type);
  int connstate() const { return connstate_.load(); }
  // 0 while nothing is connected; else 2 when a device of `type` could be made active, 1 when
  // not.
  int getDeviceConnectionState(int type);
  bool setActiveDeviceType(int type, Error* error = nullptr);
  bool setActiveDeviceIndexForType(int type, int index, Error* error = nullptr);
  int activeDeviceType() const { return activeDeviceType_.load(); }
  int activePrinterIndex() const { return activePrinterIndex_.load(); }

  // ---- Identity -------------------------------------------------------------------------
  // Nothing when no candidate is connected (or for a type without a driver).
  std::optional<std::string> deviceName();
  std::optional<std::string> deviceModel();
  std::optional<std::string> firmwareRevision();
  std::optional<std::string> hardwareRevision();
  std::optional<std::string> serialNumber();
  int deviceType();
  int connectionType();
  // The firmware text without its dots, as a number (0 when it is none).
  int firmwareRevisionNumber();
  int sdkVersion() const { return kSdkVersion; }
  std::chrono::system_clock::time_point sdkBuildDate() const;
  bool uiDisplayAtBottom() const { return uiDisplayAtBottom_.load(); }
  int uiDisplayWidth() const { return uiDisplayWidth_.load(); }
  int uiDisplayHeight() const { return uiDisplayHeight_.load(); }
  int16_t emvLastStatus() const { return emvLastStatus_.load(); }

  // The connected device of `type` (its record), or nothing.
  std::shared_ptr<KXDeviceInfo> getConnectedDeviceInfo(int type, Error* error = nullptr);
  // One record per connected device (types 0, 1 at indexes 0 and 1, 2, 3, 5, 6, 7).
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error* error = nullptr);

  // ---- Calls the facade serves from the charging case while it is connected ---------------
  bool getBatteryCapacity(int* capacity, float* voltage, Error* error = nullptr);
  std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* error = nullptr);
  std::shared_ptr<KXBatteryInfo> getConnectedDeviceBatteryInfo(int kind, Error* error = nullptr);
  bool getCharging(bool* charging, Error* error = nullptr);
  bool setCharging(bool enabled, Error* error = nullptr);
  bool getUSBChargeCurrent(int* current, Error* error = nullptr);
  bool setUSBChargeCurrent(int current, Error* error = nullptr);
  bool uiControlLEDsWithBitMask(uint32_t mask, Error* error = nullptr);
  // Flashes the connected device's own firmware (the facade sends a charging case's first).
  bool updateFirmwareData(const Bytes& data, Error* error = nullptr);
  bool updateFirmwareData(const Bytes& data, bool validate, Error* error = nullptr);

  // ---- The calls the facade forwards unchanged ----------------------------------------------
#define KX_API(R, N, P, A) R N P;
#define KX_OWN(R, N, P, A) R N P;
#include "sdk/device/KXDevicesAPI.inc"
#undef KX_OWN
#undef KX_API

  // ---- Features -------------------------------------------------------------------------
  // On the main queue: announces every feature whose value changed, or that is marked dirty.
  void notifySupportedFeatures();

  // ---- Driver callbacks: connection ----------------------------------------------------------
  // The sleeve and the hub's port devices.
  void connectionState(int state);
  void prnConnectionState(int state);
  void ppadConnectionState(int state);
  void carvikConnected();
  void carvikDisconnected();
  void TrelmoConnected();
  void TrelmoDisconnected();
  void deviceFeatureSupported(int feature, int value);

  // ---- Driver callbacks: events, passed on to the delegates ----------------------------------
  void pellanButtonPressed(int button);
  void pellanButtonReleased(int button);
  void ppadButtonPressed(int button);
  void ppadButtonReleased(int button);
  void keyboardButtonPressed(bool pressed, int vk, signed char character, int modifiers);
  void TrelmoDeviceConnected(const std::shared_ptr<TrelmoDevice>& device);
  void TrelmoDeviceDisconnected(const std::shared_ptr<TrelmoDevice>& device);
  void kxdev_debug(const std::string& text, int source);
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey);
  // ---- Driver callbacks: a classic Bluetooth module's events (KXDevicesBluetoothEvents.cpp) ---
  void bluetoothDiscoverComplete(bool success);
  void bluetoothDeviceDiscovered(const std::string& address, const std::string& name);
  void bluetoothDeviceConnected(const std::string& address);
  void bluetoothDeviceDisconnected(const OptText& address);
  // The answer of the last delegate asked; NO / nothing when none answers.
  bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name);
  OptText bluetoothDevicePINCodeRequired(const std::string& address, const std::string& name);
  // ---- (end of the Bluetooth module events) ----
  void kxdev_uhfCard(uint16_t pc, const Bytes& epc);
  void rfImplCardDetected(int cardIndex, const std::shared_ptr<KXRFCardInfo>& info);
  void rfImplCardRemoved(int cardIndex);
  void smartCardInserted(int slot);
  void smartCardRemoved(int slot);
  void PINEntryComplete(int status);
  void paperStatus(bool present);
  // The engine's symbology byte followed by the code.
  void kxdev_barcodeData(const Bytes& barcode);
  // An EMV kernel event: byte 0 the event code, TLV data from byte 2.
  void kxdev_emv2Event(const Bytes& event);

  // ---- Driver callbacks: magnetic cards ---------------------------------------------------------
  void magneticCardData(const OptText& track1, const OptText& track2, const OptText& track3);
  void magneticCardData(const OptText& track1, const OptText& track2, const OptText& track3,
                        int source);
  // A plain track buffer (tracks after the markers F1, F2, F3; F5 first for a JIS card).
  void processPlainCardData(const uint8_t* data, int length, int source);
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const Bytes& data,
                                       const OptText& track1masked, const OptText& track2masked,
                                       const OptText& track3, int source);
  // The plain track buffer inside data encrypted with a dummy key, or nothing.
  std::optional<Bytes> decryptDummyData(int encryption, const Bytes& data, const Bytes& key);
  void magneticCardRawData(const Bytes& data);
  void magneticCardEncryptedRawData(int encryption, const Bytes& data);
  void magneticF2FCardData(const std::string& data);
  void magneticJISCardData(const std::string& data);
  void kxdev_magneticCTDOTData(const Bytes& data);
  void kxdev_magneticPassbookData(const std::optional<Bytes>& data);
  // Schedules `magneticCardDetected` on the main queue; answers whether anybody listens.
  bool kxdev_magneticCardDetected();
  void kxdev_magneticCardReadFailed(int source, int reason);
  void kxdev_pogdata(int solution, int command, const Bytes& data);
  void firmwareUpdateProgress(int phase, int percent);
  bool clientsRespondToSelector(std::string_view selector) const;

  // ---- Flags shared with the EMV kernel part ---------------------------------------------------
  bool emvInit() const { return emvInit_.load(); }
  void setEmvInit(bool on) { emvInit_ = on; }
  bool emvActive() const { return emvActive_.load(); }
  void setEmvActive(bool on) { emvActive_ = on; }

  // ---- Application state -----------------------------------------------------------------------
  // Whether the application keeps Bluetooth Low Energy links in the background.
  void setBluetoothCentralBackgroundMode(bool on) { bleBackground_ = on; }
  void applicationDidEnterBackground();

  // The encrypted head's transport, routed by the active device type.
  // `capacity` is the size of `reply`.
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity);

  // Cancels nothing: manual card entry runs on the pinpad until it ends. Always false.
  bool ppadCancelMagneticCardEntry(Error* error = nullptr);

  // ---- Contactless calls the facade does not offer (KXDevicesRF.cpp, KXDevicesRFCards.cpp) ----
  // Hands the FeliCa polling parameters set by `felicaSetPollingParamsRequestCode` to the
  // reader (nothing to do when none were set).
  bool felicaExecutePollingParams(Error* error = nullptr);
  // The sleeve's HID SAM module reads a key-roller or configuration card: an empty result
  // when the SAM took it.
  std::optional<Bytes> hidProcessKeyRollerCard(Error* error = nullptr);
  std::optional<Bytes> hidProcessConfigCard(Error* error = nullptr);

  // The EMV kernel's host state (KXDevicesEmv2.h), made on first use.
  KXEmv2State& emv2State();

  // ---- Scan engine: the calls the facade does not offer (KXDevicesScanEngine*.cpp) ------------
  // Raw pass-through to the engine of the sleeve, else the pinpad (replies as they come).
  std::optional<Bytes> _barcodeEngineWrite(const uint8_t* data, int length, Error* error = nullptr);
  std::optional<Bytes> _barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error = nullptr);
  std::optional<Bytes> _barcodeEngineRead(Error* error = nullptr);
  bool _barcodeEngineDownloadModeEnable(bool on, Error* error = nullptr);
  bool _barcodeEngineChangeBaudRate(int baud, Error* error = nullptr);
  std::optional<Bytes> _barcodeEngineGetInitData(Error* error = nullptr);
  bool _barcodeEngineSetInitData(const Bytes& data, Error* error = nullptr);
  bool barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error = nullptr);
  std::optional<Bytes> barcodeIntermecGetInitData(Error* error = nullptr);
  // All bytes in chunks of 256; a stall of 5 s fails with -6 "Timeout waiting for barcode data".
  bool barcodeEngineWrite(const uint8_t* data, int length, Error* error = nullptr);
  // The text's ASCII bytes (at most 255 characters; other text is refused without an error).
  bool barcodeEngineWrite(const std::string& text, Error* error = nullptr);
  // `length` bytes, or up to and including `stopByte` (-1: none), or with length 0 whatever
  // arrived; at the time-out what there is, -6 "Timeout waiting for engine" when nothing.
  // Bytes not taken stay for the next read.
  std::optional<Bytes> barcodeEngineRead(int length, double timeoutSeconds, int stopByte, Error* error);
  std::optional<Bytes> barcodeEngineRead(int length, double timeoutSeconds, Error* error = nullptr);
  // One byte 0..255, or -1.
  int barReadByteTimeout(double timeoutSeconds, Error* error = nullptr);
  bool barWriteByte(uint8_t byte, Error* error = nullptr);
  // The 14-byte Intermec command frame; acknowledged with "2", and with `waitDone` done with "1".
  bool intermecSendCommand(int command, const uint8_t* data, int length, bool waitDone, Error* error = nullptr);
  bool motorolaSendCommand(int opcode, const Bytes& data, bool permanent, Error* error = nullptr);
  std::optional<Bytes> motorolaReadResponse(Error* error = nullptr);
  bool intermecDownloadDriver(const Bytes& loader, Error* error = nullptr);
  bool intermecDownloadFirmware(const Bytes& file, Error* error = nullptr);
  // Reads `length` bytes of the engine's firmware back into "intermec.bin" in the documents.
  bool intermecGetFirmware(int length, Error* error = nullptr);
  bool _barcodeZebraUpdateFirmware(const Bytes& file, Error* error = nullptr);
  bool _motoFWSendPacket(const uint8_t* body, int length, Error* error = nullptr);
  std::optional<Bytes> _motoFWReadPacketWithTimeout(double timeoutSeconds, Error* error = nullptr);
  std::optional<Bytes> _motoFWSendCommand(const uint8_t* body, int length, double timeoutSeconds,
                                          Error* error = nullptr);
  // `firmwareUpdateProgress` to every delegate that takes it, last added first.
  void updateNotify(int phase, int percent);

  // ---- System settings and device records: the calls the facade does not offer ----------------
  uint64_t sysCommTest(int repetitions, int nBytes, Error* error = nullptr);
  bool sysMute(Error* error = nullptr);
  // 0 sleeve, 1 printer, 2 pinpad, 5 hub, 6 HID barcode, 8 HID keyboard, 7 USB magnetic reader:
  // the first of these that is connected, else -1.
  int getFistConnectedDeviceType();
  // The record of the connected device of `type` at `index` (only printers have index 1).
  std::shared_ptr<KXDeviceInfo> getConnectedDeviceInfo(int type, int index, Error* error);

  // Drivers, for the parts of the SDK that talk to them directly.
  KXSleeveDriver& sleeve() const { return *sleeve_; }
  KXPinpadDriver& pinpad() const { return *pinpad_; }
  KXPrinterDriver& printer() const;

 private:
  explicit KXDevices(std::shared_ptr<KXDriverFactory> factory);
  void init();

  // Driver kinds a call may be routed to.
  enum class Kind { Sleeve, Printer, Pinpad, Adapter, Hub, HidBarcode, Magtek, Keyboard };
  bool kindConnected(Kind kind) const;
  // The driver kind a call with `candidates` goes to, or nothing (see the header comment).
  std::optional<Kind> route(std::initializer_list<Kind> candidates) const;
  // The routing failure: -20 or -7 into `error`, logged. Always false.
  bool routeError(Error* error) const;
  // A call only the sleeve serves: `call` on the sleeve driver, or the routing error and an
  // empty answer (false, nothing) when the call is not the sleeve's.
  template <class Call>
  auto sleeveOnly(Error* error, Call&& call) const -> decltype(call(std::declval<KXSleeveDriver&>())) {
    if (!route({Kind::Sleeve})) {
      routeError(error);
      return {};
    }
    return call(*sleeve_);
  }
  bool ppadResult(int status, Error* error) const;
  // The pinpad for its key, crypto and EMV calls, or nullptr with the routing error (logged
  // only when the caller gave a place for it).
  PPad* securePinpad(Error* error) const;
  std::optional<Kind> identityKind();
  std::optional<std::string> identityText(std::string (KXDriverBase::*getter)(), const char* hid,
                                          const char* msr);
  bool canActivate(int type) const;
  void updateActivePrinter();
  void setConnState();
  // The connection key: one character per driver, the printers as a count.
  static std::string buildConnState(int sleeveState, int printersUp, int pinpadState, bool hub, bool adapter,
                                    bool barcodeHID, bool magtek, bool keyboardHID);
  int computeSupportedFeature(int feature);
  void observeApplication();

  // Delegate walk, last added first; `call` runs for each live delegate that responds.
  // Returns how many were called.
  size_t fanOut(std::string_view selector, const std::function<void(KXDeviceDelegate&)>& call) const;
  std::vector<std::shared_ptr<KXDeviceDelegate>> snapshot() const;
  std::vector<std::weak_ptr<KXBarcodeDelegate>> barcodeSnapshot() const;
  void printerScanLoop();

  // EMV kernel host side (KXDevicesEmv2*.cpp).
  bool emv2SleeveRoute() const;
  bool emv2PinpadRoute() const;
  bool emv2Failure(Error* error, int code, const std::string& text) const;
  void emv2StopTimer();
  void emv2StartTimer(double seconds, bool vas);
  void emv2CancelTimerFunc();
  void emv2VASCancelTimerFunc();
  void emv2SimulateCard(const std::optional<Bytes>& tlv);
  void emv2Finished(const Bytes& payload);
  size_t emv2FanOut(std::string_view selector, const std::function<void(KXDeviceDelegate&)>& call) const;
  std::shared_ptr<KXEmv2State> emv2_;
  std::once_flag emv2Once_;

  // Scan engine (KXDevicesScanEngine*.cpp): the engine value of a driver kind, the routed
  // pass-through, and the bytes the engine sent that no read has taken yet.
  int engineValue(Kind kind);
  std::optional<Bytes> engineExchange(int (KXPinpadDriver::*pinpad)(const uint8_t*, int, Bytes*),
                                      std::optional<Bytes> (KXSleeveDriver::*sleeve)(const uint8_t*, int, Error*),
                                      const uint8_t* data, int length, Error* error);
  std::optional<Bytes> zebraCommand(int opcode, const Bytes& data, bool permanent, Error* error);
  std::mutex barReadMutex_;
  pellan::EngineBuffer barRead_{4112};

  std::shared_ptr<KXDriverFactory> factory_;
  std::shared_ptr<KXSleeveDriver> sleeve_;
  std::array<std::shared_ptr<KXPrinterDriver>, 2> printers_;
  std::shared_ptr<KXPinpadDriver> pinpad_;
  std::shared_ptr<KXSerialAdapterDriver> adapter_;
  std::shared_ptr<KXStreamDriver> hub_;
  std::shared_ptr<KXStreamDriver> barcodeHID_;
  std::shared_ptr<KXStreamDriver> keyboardHID_;
  std::shared_ptr<KXStreamDriver> magtek_;
  std::shared_ptr<KXBLEStreamDriver> ble_;

  KXDelegateList<KXDeviceDelegate> delegates_{"KXDevices"};

  std::atomic<int> activeDeviceType_{DEVICE_TYPE_AUTOMATIC};
  std::atomic<int> activePrinterIndex_{0};
  std::atomic<int> activePrinter_{0};  // index of the active printer object
  std::atomic<int> connstate_{CONN_DISCONNECTED};
  std::atomic<bool> disableConnState_{false};
  std::atomic<bool> emvInit_{false};
  std::atomic<bool> emvActive_{false};
  std::atomic<bool> scinsert_{false};
  std::atomic<bool> uiDisplayAtBottom_{false};
  std::atomic<int> uiDisplayWidth_{0};
  std::atomic<int> uiDisplayHeight_{0};
  std::atomic<int16_t> emvLastStatus_{0};
  std::atomic<bool> bleBackground_{false};

  std::mutex connStateMutex_;  // the connection key and the feature cache
  std::string currentConnState_;
  std::array<int, kFeatureCount> supportedFeatures_{};
  std::array<bool, kFeatureCount> supportedFeaturesDirty_{};

  std::mutex barLock_;  // scan-engine commands
  std::mutex btLock_;   // Bluetooth module commands
  std::atomic<int> barcodeTypeMode_{1};
  std::atomic<int> barcodeScanMode_{0};
  std::atomic<bool> stripUPCZero_{true};
  std::atomic<bool> ppScanning_{false};
  std::atomic<bool> ppScanStop_{false};

  uint64_t backgroundObserver_ = 0;

  // ---- Fingerprint transport and encrypted-head routing ----------------------------------------
 public:
  // The transport behind `touchTransmit`: request bytes in, reply bytes (or nothing) out.
  // None is part of this build, so without one every fingerprint command ends with its
  // failure result and no error.
  using KXTouchTransport = std::function<std::optional<Bytes>(const Bytes& request, Error* error)>;
  void setTouchTransport(KXTouchTransport transport);
  // Accepted and ignored: no fingerprint module is reached over the network.
  static void debugTCPSetAddress(const std::string& /*address*/, int /*port*/) {}

 private:
  // Whether the sleeve's key calls go to its encrypted head.
  bool keysOnHead();
  std::mutex touchMutex_;
  KXTouchTransport touchTransport_;
  // ---- Bluetooth Low Energy links (KXDevicesBluetoothLE.cpp) ----------------------------------
 public:
  // The stream's reports of a link made (inside its connect) and lost (from its queue).
  void btleDeviceConnected(const std::shared_ptr<CBPeripheral>& peripheral);
  void btleDeviceDisconnected(const std::shared_ptr<CBPeripheral>& peripheral);

 private:
  bool _btleConnectToDevice(const std::shared_ptr<CBPeripheral>& peripheral, Error* error);
  void btleFanOut(bool connected, const std::shared_ptr<CBPeripheral>& peripheral) const;
  std::mutex bleLock_;  // the connected peripherals and the hand-out of the streams
  std::optional<std::vector<std::shared_ptr<CBPeripheral>>> btleConnectedDevices_;
  std::atomic<bool> btleCanNotifyConnection_{true};
  // Links (KXDevicesLinks.cpp): hosts connected over TCP.
  mutable std::mutex tcpMutex_;
  std::vector<std::string> tcpDevices_;
};

}  // namespace kestra
