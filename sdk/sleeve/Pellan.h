#pragma once
// The driver of the barcode and magnetic-stripe sleeve.
//
// One driver object serves one sleeve. `sharedDevice()` is the process-wide driver over the
// shared accessory manager; `create()` makes one over a manager of the caller's (tests).
// Creating a driver does not register it: whoever owns it registers it with the manager
// (`manager.setDelegate(pellan)`; the device API's driver factory does so for all drivers in
// their fixed order). The driver claims a sleeve the accessory manager offers once `connect()`
// (or `managedConnect()`) was called, identifies it, and reports `connectionState` changes
// to its delegates on the main queue; sleeve events (barcodes, buttons, magnetic cards)
// reach the delegates on the main queue too (see PellanDelegate.h).
//
// Commands: every command method runs on the caller's thread and blocks it until the
// sleeve answers (at most 30 s for the command lock and 7 s for the reply), so commands
// must not be called on the common run-loop thread. They return false, nullopt or nullptr
// on failure and fill the optional `error` with the SDK's error (domain
// "com.sabrel.errors", negative code). Nothing throws.
//
// Bad input from the sleeve (garbage, corrupt lengths, oversized frames, short answers) is
// dropped or reported as an error; it never reads or writes past a buffer. Card data is
// never logged.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/sleeve/PellanDelegate.h"
#include "sdk/sleeve/PellanEngineCodec.h"
#include "sdk/sleeve/PellanFirmwareFile.h"
#include "sdk/transport/CommStream.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

struct KXBatteryInfo;
struct KXEMV2Info;

// Scan modes and scan-button modes of the sleeve.
inline constexpr int MODE_SINGLE_SCAN = 0;
inline constexpr int MODE_MULTI_SCAN = 1;
inline constexpr int MODE_MOTION_DETECT = 2;
inline constexpr int MODE_SINGLE_SCAN_RELEASE = 3;
inline constexpr int BUTTON_DISABLED = 0;
inline constexpr int BUTTON_ENABLED = 1;
// Barcode type numbering handed to the barcode notifier.
inline constexpr int BARCODE_TYPE_DEFAULT = 0;
inline constexpr int BARCODE_TYPE_EXTENDED = 1;
inline constexpr int BARCODE_TYPE_ISO15424 = 2;

// Where the sleeve's RF reader and iClass SAM frames go. The RF reader stack installs one
// with `Pellan::setModuleSink`; without one the frames are consumed and dropped.
class PellanModuleSink {
 public:
  virtual ~PellanModuleSink() = default;
  // RF reader data (events 0x1F and 0x26: the data after the two status bytes), on the
  // sleeve's own RF delivery thread (a serial queue, one per sleeve), one frame at a time in
  // the order the sleeve sent them, never on the thread that delivered the sleeve's bytes. A
  // call that blocks holds up the frames behind it.
  virtual void rfDataAvailable(const Bytes& data) { (void)data; }
  // An iClass answer (event 0x3D whose first data byte is 5: the bytes after it, at most
  // `Pellan::kIClassAnswerMax`), on the thread that delivered the sleeve's bytes. It must not
  // block.
  virtual void iClassDataAvailable(const uint8_t* data, int length) { (void)data; (void)length; }
};

class btModule;
class btBT301;
class btUniversal;

class Pellan final : public AccessoryManagerDelegate,
                     public CommStreamDelegate,
                     public BTModuleHost,
                     public std::enable_shared_from_this<Pellan> {
 public:
  // The process-wide driver over `EAManager::sharedManager()`; made on first use.
  static Pellan& sharedDevice();
  // A driver of its own over `manager` (which must outlive it), registered with it.
  static std::shared_ptr<Pellan> create(EAManager& manager);
  ~Pellan() override;

  // ---- Connection --------------------------------------------------------------------
  // From state 0: state 1, and asks the accessory manager to search.
  void connect();
  // From state 0: state 1 only (the caller starts the managers itself).
  void managedConnect();
  // State 0, and closes the link.
  void disconnect();
  // Talks to a sleeve over a stream pair; true once it is identified (within 10 s).
  bool connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                          std::shared_ptr<accessory::OutputStream> output,
                          Error* error = nullptr);
  bool isPresent() const;

  int connstate() const;
  int connectionType() const;
  void setConnectionType(int type);
  std::string deviceName() const;
  std::string deviceModel() const;
  std::string firmwareRevision() const;
  std::string hardwareRevision() const;
  std::string serialNumber() const;
  int sdkVersion() const { return 207; }
  // major x 1000 + minor.
  int getFWVER() const;
  // major x 100 + minor (263 for firmware 2.63).
  int getFirmwareVersion() const;

  // ---- Delegates ------------------------------------------------------------------------
  void addDelegate(const std::shared_ptr<PellanDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<PellanDelegate>& delegate);
  // Replaces the first delegate (or adds one to an empty list).
  void setDelegate(const std::shared_ptr<PellanDelegate>& delegate);
  std::shared_ptr<PellanDelegate> delegate();
  std::vector<std::shared_ptr<PellanDelegate>> delegates();
  bool clientsRespondToSelector(std::string_view selector) override;
  // Passes a Bluetooth module's pass-key notice on to every delegate that takes it.
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override;

  // ---- Bluetooth module (PellanBluetooth.cpp) ------------------------------------------------
  // The module in use (its own input and output stream): the sleeve's own module on the
  // card-reader model, the AT-command module on every other sleeve (chosen when it connects).
  std::shared_ptr<btModule> btInputStream() const;
  std::shared_ptr<btModule> btOutputStream() const { return btInputStream(); }
  std::shared_ptr<btBT301> bt301Module() const;
  std::shared_ptr<btUniversal> btUniModule() const;
  // Whether the AT-command module's read thread runs (sleeve firmware before 2.81 does not
  // push the module's bytes, so they are fetched every 0.1 s while the module is on).
  bool bt301ReadThreadActive() const;
  bool btGetConnected(bool* connected, Error* error = nullptr);
  bool btGetEnabled(bool* enabled, Error* error = nullptr);
  // Needs the sleeve's Bluetooth feature (2); switching off drops every link.
  bool btSetEnabled(bool enabled, Error* error = nullptr);
  bool btWrite(const uint8_t* data, int length, Error* error = nullptr);
  bool btWrite(const std::string& text, Error* error = nullptr);
  int btRead(uint8_t* buffer, int length, double timeoutSeconds, Error* error = nullptr);
  std::optional<std::string> btReadLine(double timeoutSeconds, Error* error = nullptr);
  bool btSetDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence, Error* error = nullptr);
  bool btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                          Error* error = nullptr);
  std::optional<std::vector<std::string>> btDiscoverDevices(int maxDevices, double maxTime, int codTypes,
                                                            Error* error = nullptr);
  bool btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes, int filter, Error* error = nullptr);
  bool btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes, Error* error = nullptr);
  bool btDiscoverSupportedDevicesInBackground(int maxDevices, double maxTime, int filter, Error* error = nullptr);
  bool btDiscoverPrintersInBackground(int maxDevices, double maxTime, Error* error = nullptr);
  bool btDiscoverPinpadsInBackground(int maxDevices, double maxTime, Error* error = nullptr);
  // (address, name, address, name, ...) of the devices whose names pass the test.
  std::optional<std::vector<std::string>> btDiscoverPrinters(int maxDevices, double maxTime, Error* error = nullptr);
  std::optional<std::vector<std::string>> btDiscoverPinpads(int maxDevices, double maxTime, Error* error = nullptr);
  std::optional<std::string> btGetDeviceName(const std::string& address, Error* error = nullptr);
  bool btConnect(const std::string& address, const std::string& pin, Error* error = nullptr);
  bool btDisconnect(const std::string& address, Error* error = nullptr);
  bool btEnableWriteCaching(bool enabled, Error* error = nullptr);
  std::optional<std::string> btGetLocalAddress(Error* error = nullptr);
  bool btSetMicGain(int gain, Error* error = nullptr);

  // BTModuleHost: the module's transport (commands 18-20 and 29) and its events, passed on
  // to the delegates on the calling thread.
  bool _bt301Write(const uint8_t* data, int* length, Error* error) override;
  bool _bt301SetEnabled(bool enabled, Error* error) override;
  // Switches the AT-command module to data mode (command 18 [00][02]); true when answered.
  bool _bt301EnableDataMode(Error* error = nullptr);
  std::optional<Bytes> _btUniCommand(const uint8_t* data, int length, Error* error) override;
  void bluetoothDeviceConnected(const std::string& address) override;
  void bluetoothDeviceDisconnected(const std::string& address) override;
  bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) override;
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& address,
                                                            const std::string& name) override;

  // ---- RF and iClass frames -------------------------------------------------------------------
  // Longest iClass answer taken; a longer one is dropped.
  static constexpr int kIClassAnswerMax = 515;
  // Installs (or with nullptr removes) the receiver of RF and iClass frames. Any thread.
  void setModuleSink(std::shared_ptr<PellanModuleSink> sink);
  std::shared_ptr<PellanModuleSink> moduleSink() const;

  // ---- Contactless reader inside the sleeve ------------------------------------------------
  // Reader types: 1 pn544, 2 rc663, 4 omniKey. The reader's answers of three bytes or more go
  // to the module sink on the global queue and the write itself answers empty data; the
  // omniKey's answer is the write's result instead.
  bool rfReaderInit(int readerType, Error* error = nullptr);
  bool rfReaderClose(int readerType, Error* error = nullptr);
  std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error = nullptr);

  // ---- SAM slot (command 60) and the iClass SAM --------------------------------------------------
  // The slot as a smart-card slot: power, and APDUs answered with a status word
  // (SW1 x 256 + SW2 to `status`; the result is the answer without it).
  std::optional<Bytes> samPowerOn(Error* error = nullptr);
  bool samPowerOff(Error* error = nullptr);
  std::optional<Bytes> samRawAPDU(const Bytes& apdu, uint16_t* status, Error* error = nullptr);
  // `data` absent sends Lc 00, empty sends no Lc; `outLength` -1 sends no Le. Data longer
  // than 255 bytes is refused (-9).
  std::optional<Bytes> samCAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data,
                                int outLength, uint16_t* status, Error* error = nullptr);
  bool samAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data, uint16_t* status,
               Error* error = nullptr);
  // Command 60 with `data` unchanged.
  std::optional<Bytes> iClassCommand(const Bytes& data, Error* error = nullptr);
  // iClass SAM message commands run through this sleeve (its SAM slot and its RF reader).
  std::optional<Bytes> hidGetVersionInfo(Error* error = nullptr);
  std::optional<Bytes> hidGetSerialNumber(Error* error = nullptr);
  std::optional<Bytes> hidGetContentElement(int element, const std::optional<Bytes>& pin,
                                            const std::optional<Bytes>& rootSoOID, Error* error = nullptr);
  std::optional<Bytes> hidProcessKeyRollerCard(Error* error = nullptr);
  std::optional<Bytes> hidProcessConfigCard(Error* error = nullptr);

  // ---- Command transport -------------------------------------------------------------------
  std::optional<Bytes> sendCommand(int channel, int command, const uint8_t* data,
                                   uint64_t length, bool forced, Error* error = nullptr);
  std::optional<Bytes> sendCommand(int channel, int command, const uint8_t* data,
                                   uint64_t length, Error* error = nullptr);
  // Pinpad pass-through: command 0x42 with [sub-command][data].
  std::optional<Bytes> ppadCommand(int subCommand, const uint8_t* data, uint64_t length,
                                   Error* error = nullptr);
  // Runs a pass-through packet [x][sub-command][x][length BE 2][data] and builds the answer
  // packet [0x00][status][length BE 2][result][LRC].
  Bytes ppadPassThrough(const Bytes& packet);

  // ---- Features --------------------------------------------------------------------------
  int getSupportedFeature(int feature, Error* error = nullptr);
  bool featCheck(std::string_view code) const;

  // ---- Scan commands -------------------------------------------------------------------------
  bool barcodeStartScan(Error* error = nullptr);
  bool barcodeStopScan(Error* error = nullptr);
  bool barcodeGetScanTimeout(int* timeout, Error* error = nullptr);
  bool barcodeSetScanTimeout(int timeout, Error* error = nullptr);
  bool barcodeGetScanButtonMode(int* mode, Error* error = nullptr);
  bool barcodeSetScanButtonMode(int mode, Error* error = nullptr);
  bool barcodeGetScanMode(int* mode, Error* error = nullptr);
  bool barcodeSetScanMode(int mode, Error* error = nullptr);
  // `beepData` holds frequency (Hz) / duration (ms) pairs; `length` is its size in bytes.
  bool barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length,
                          Error* error = nullptr);
  bool barcodeGetTypeMode(int* mode, Error* error = nullptr);
  int barcodeGetTypeMode() const;
  bool barcodeSetTypeMode(int mode, Error* error = nullptr);
  // The sleeve-side barcode numbering (set when the sleeve connects).
  bool _barcodeSetTypeMode(int mode, Error* error = nullptr);
  std::string barcodeType2Text(int type) const;
  bool barcodeSetUVLights(bool on, Error* error = nullptr);
  bool barcodeGetUVLights(bool* on, Error* error = nullptr);
  bool barcodeSetBeepOnReady(bool on, Error* error = nullptr);
  bool barcodeGetBeepOnReady(bool* on, Error* error = nullptr);
  bool barcodeEngineCheckReady(bool* ready, Error* error = nullptr);

  // ---- Kiosk and battery -------------------------------------------------------------------
  bool setKioskMode(bool on, Error* error = nullptr);
  bool getKioskMode(bool* on, Error* error = nullptr);
  bool setBatteryMaxCapacity(int capacity, Error* error = nullptr);
  bool setInternalBatteryChargeCurrentMode(bool on, Error* error = nullptr);
  bool getInternalBatteryChargeCurrentMode(bool* on, Error* error = nullptr);
  bool getBatteryCapacity(int* percent, float* volts, Error* error = nullptr);
  std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* error = nullptr);

  // ---- System and settings -------------------------------------------------------------------
  bool sysPowerOff(Error* error = nullptr);
  bool sysSaveSettingsToFlash(Error* error = nullptr);
  // Sets the sleeve's clock to `date` (now when absent), in UTC.
  bool rtcSetDate(std::optional<std::chrono::system_clock::time_point> date,
                  Error* error = nullptr);
  std::optional<std::chrono::system_clock::time_point> rtcGetDate(Error* error = nullptr);
  // The identification texts: serial number, -, name, model, firmware, ...
  std::optional<std::vector<std::string>> sysGetIdent(Error* error = nullptr);
  bool sysMute(Error* error = nullptr);
  bool sysEnterPassThrough(Error* error = nullptr);
  bool playSound(int volume, const int* beepData, int length, Error* error = nullptr);
  bool getCharging(bool* charging, Error* error = nullptr);
  bool setCharging(bool enabled, Error* error = nullptr);
  bool getSyncButtonMode(int* mode, Error* error = nullptr);
  bool setSyncButtonMode(int mode, Error* error = nullptr);
  bool getPassThroughSync(bool* enabled, Error* error = nullptr);
  bool setPassThroughSync(bool enabled, Error* error = nullptr);
  bool uiControlLEDsWithBitMask(uint32_t mask, Error* error = nullptr);
  bool uiEnableVibrationForTime(float seconds, Error* error = nullptr);
  bool setUSBChargeCurrent(int current, Error* error = nullptr);
  bool getUSBChargeCurrent(int* current, Error* error = nullptr);
  bool uiEnableSpeaker(bool on, Error* error = nullptr);
  bool uiIsSpeakerEnabled(bool* on, Error* error = nullptr);
  bool uiEnableSpeakerAutoControl(bool on, Error* error = nullptr);
  bool uiIsSpeakerAutoControlEnabled(bool* on, Error* error = nullptr);
  bool uiEnableSpeakerButton(bool on, Error* error = nullptr);
  bool uiIsSpeakerButtonEnabled(bool* on, Error* error = nullptr);
  bool setAutoOffWhenIdle(double idleSeconds, double disconnectedSeconds,
                          Error* error = nullptr);
  bool getAutoOffWhenIdle(double* idleSeconds, Error* error = nullptr);
  bool getAutoOffWhenIdle(double* idleSeconds, double* disconnectedSeconds,
                          Error* error = nullptr);
  bool getTimeRemainingToPowerOff(double* seconds, Error* error = nullptr);
  std::optional<Bytes> voltageCommand(const uint8_t* data, int length, Error* error = nullptr);
  std::optional<Bytes> taCommand(const Bytes& data, Error* error = nullptr);
  std::optional<Bytes> handleCommand(const Bytes& data, Error* error = nullptr);

  // ---- Magnetic-stripe reader -------------------------------------------------------------------
  bool msEnable(Error* error = nullptr);
  bool msDisable(Error* error = nullptr);
  bool msGetCardDataMode(int* mode, Error* error = nullptr);
  bool msSetCardDataMode(int mode, Error* error = nullptr);
  std::optional<KXFinancialCardDictionary> msProcessFinancialCard(
      std::optional<std::string_view> track1, std::optional<std::string_view> track2) const;

  // ---- Encrypted magnetic head (PellanEmsr.cpp) ----------------------------------------------
  // The head's command library reaches the head through this driver (the driver registers
  // itself as a library owner): one library packet is sent unchanged as the data of sleeve
  // command 33 (the real head) or 62 (the head emulated by the sleeve, `emsrSetActiveHead`
  // 1). The answer is copied into `out` and its length returned; -1 when the sleeve did not
  // answer, -6 when the answer does not fit `outCapacity` (nothing is written past it).
  int emsrCommand(const uint8_t* in, int inLength, uint8_t* out, int outCapacity);
  // 0 the real head, 1 the emulated head (needs bit 16 of feature 0). Nothing is sent.
  bool emsrSetActiveHead(int head, Error* error = nullptr);
  // The library's calls with this driver as owner; a negative library result becomes the
  // SDK error of that code.
  bool emsrIsTampered(bool* tampered, Error* error = nullptr);
  bool emsrGetKeyVersion(int keyID, int* keyVersion, Error* error = nullptr);
  bool emsrLoadInitialKey(const Bytes& keyData, Error* error = nullptr);
  bool emsrLoadKey(const Bytes& keyData, Error* error = nullptr);
  std::optional<Bytes> emsrGetDUKPTSerialForKeyID(int keyID, Error* error = nullptr);
  // Of key 32.
  std::optional<Bytes> emsrGetDUKPTSerial(Error* error = nullptr);
  std::optional<std::string> emsrGetDeviceModel(Error* error = nullptr);
  bool emsrGetFirmwareVersion(int* version, Error* error = nullptr);
  bool emsrGetSecurityVersion(int* version, Error* error = nullptr);
  std::optional<Bytes> emsrGetSerialNumber(Error* error = nullptr);
  // "deviceModel", "firmwareRevision" ("%d.%02d") and "firmwareRevisionNumber" of a head
  // firmware file; nothing is sent.
  std::optional<nlohmann::json> emsrGetFirmwareInformation(const Bytes& file, Error* error = nullptr);
  bool emsrUpdateFirmware(const Bytes& file, Error* error = nullptr);
  // One number per algorithm, in the head's order.
  std::optional<std::vector<int>> emsrGetSupportedEncryptions(Error* error = nullptr);
  // `params` may hold "keyID", which replaces `keyID`; nothing else of it is sent.
  bool emsrSetEncryption(int algorithm, int keyID, const nlohmann::json* params, Error* error = nullptr);
  bool emsrSetEncryption(int algorithm, const nlohmann::json* params, Error* error = nullptr);
  bool emsrConfigMaskedDataShowExpiration(bool showExpiration, int unmaskedDigitsAtStart,
                                          int unmaskedDigitsAtEnd, Error* error = nullptr);
  // The masked tracks of the last card: [x][L1][L2][L3][track 1][track 2][track 3].
  std::optional<Bytes> emsrGetMaskedData(Error* error = nullptr);
  // Card data under the demonstration key (`key`, 32 bytes) as a plain track event record
  // [01][02][00][00][track buffer]; nothing when it does not decrypt to a track block.
  static std::optional<Bytes> decryptDummyData(const Bytes& data, const Bytes& key);

  // ---- Crypto keys and authentication (PellanCrypto.cpp) -----------------------------------
  // The sleeve's two 32-byte AES keys: 0 authentication, 1 encryption.
  static constexpr int KEY_AUTHENTICATION = 0;
  static constexpr int KEY_ENCRYPTION = 1;
  // 16 random bytes from the sleeve.
  std::optional<Bytes> cryptoRawGenerateRandomData(Error* error = nullptr);
  // Version 0 for a key that is not set. Needs firmware 2.43.
  bool cryptoGetKeyVersion(int keyID, uint32_t* keyVersion, Error* error = nullptr);
  bool cryptoDeleteKey(int keyID, Error* error = nullptr);
  // `encryptedData`: the 48-byte key-load block (16 random bytes from the sleeve and the
  // key, encrypted under the previous key when there is one).
  bool cryptoRawSetKey(int keyID, const Bytes& encryptedData, uint32_t keyVersion, uint32_t keyFlags,
                       Error* error = nullptr);
  // Loads a 32-byte key; `oldKey` is the key it replaces (nothing when none is set).
  bool cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, uint32_t keyVersion,
                    uint32_t keyFlags, Error* error = nullptr);
  // The sleeve's answer to a 16-byte challenge (the challenge encrypted with its key).
  std::optional<Bytes> cryptoRawAuthenticateDevice(const Bytes& randomData, Error* error = nullptr);
  bool cryptoRawAuthenticateHost(const Bytes& encryptedData, Error* error = nullptr);
  // The sleeve proves that it holds `key`.
  bool cryptoAuthenticateDevice(const Bytes& key, Error* error = nullptr);
  // The host proves to the sleeve that it holds `key`.
  bool cryptoAuthenticateHost(const Bytes& key, Error* error = nullptr);

  // ---- EMV kernel and contactless passes (PellanEmv2.cpp) -----------------------------------
  // One kernel packet [sub-command][00][payload] through the sleeve (command 55, or the
  // pinpad pass-through 0x3E on sleeves whose feature 10 has bit 4); the answer without its
  // first two bytes.
  std::optional<Bytes> emv2Command(const uint8_t* data, int length, Error* error = nullptr);
  bool emv2LoadContactlessConfiguration(const Bytes& configuration, Error* error = nullptr);
  std::shared_ptr<KXEMV2Info> emv2GetInfo(Error* error = nullptr);
  // Stored for the next start; nothing is sent.
  bool emv2SetTransactionType(int type, int amount, int currencyCode, Error* error = nullptr);
  // With `enabled` the card read of a transaction is delivered as encrypted magnetic card
  // data (source 1), in `encryption` under key `keyID`. Nothing is sent.
  bool emv2SetCardEmulationMode(bool enabled, int encryption, int keyID, Error* error = nullptr);
  bool emv2SelectApplication(int application, Error* error = nullptr);
  // `flags` is not used.
  bool emv2StartTransactionWithFlags(int flags, const std::optional<Bytes>& initData, Error* error = nullptr);
  bool emv2SetOnlineResult(const Bytes& result, Error* error = nullptr);
  bool emv2CancelTransaction(Error* error = nullptr);
  std::optional<Bytes> emv2GetCardTracksEncryptedWithFormat(int format, int keyID, Error* error = nullptr);
  std::optional<Bytes> emv2GetTagsEncrypted(const Bytes& tagList, int format, int keyType, int keyIndex,
                                            uint32_t packetID, Error* error = nullptr);
  std::optional<Bytes> emv2GetTagsPlain(const Bytes& tagList, Error* error = nullptr);
  bool emv2Initialise(Error* error = nullptr);
  bool emv2Deinitialise(Error* error = nullptr);
  // The current transaction's TLV data (empty before the first start).
  Bytes emvTags() const;

  // Contactless passes (command 72 on sleeves with "GV" in their model, else 70).
  bool vasInitWIthData(const Bytes& data, Error* error = nullptr);
  bool vasClose(Error* error = nullptr);
  bool vasGoogleGenerateVASKeys(Error* error = nullptr);
  bool vasLoadECCPrivateKeyAtSlot(int slot, const Bytes& keyData, uint32_t version, Error* error = nullptr);
  bool vasGetECCPrivateKeyVersionAtSlot(int slot, uint32_t* version, Error* error = nullptr);
  bool vasSetActiveECCPrivateKeyAtSlot(int slot, Error* error = nullptr);
  bool vasSetCollectorID(uint32_t collectorID, Error* error = nullptr);

  // ---- Firmware (PellanFirmware.cpp) ---------------------------------------------------------
  // The header of a sleeve firmware file (-21 for a file that is none).
  std::optional<pellan::FirmwareFileInfo> getFirmwareFileInformation(const Bytes& image,
                                                                     Error* error = nullptr);
  // Sends `image` to the sleeve's boot loader (F0, then up to three attempts of F1 and the
  // F2 pages, then F3), checking first with `validate` that the file is for this sleeve
  // (-9). Blocks the caller for the whole transfer; progress goes to the delegates'
  // `firmwareUpdateProgress` on the caller's thread. While it runs only forced commands
  // reach the sleeve; others fail with -20.
  bool updateFirmwareData(const Bytes& image, bool validate, Error* error = nullptr);
  bool updateFirmwareData(const Bytes& image, Error* error = nullptr) {
    return updateFirmwareData(image, true, error);
  }
  bool isDeviceNameEqual(const std::string& name) const;
  bool isDeviceModelEqual(const std::string& model) const;
  // `firmwareUpdateProgress` to every delegate that takes it, last registered first.
  void updateNotify(int phase, int percent);

  // ---- Barcode engine, external serial port and UHF pass-through (PellanPassThrough.cpp) ----
  // Waits of the pass-through: a write gives up 5 s after its last accepted chunk, an idle
  // engine is polled every 50 ms, a busy one or a full serial port retried after 100 ms.
  static constexpr std::chrono::seconds kEngineWriteTimeout{5};
  static constexpr std::chrono::milliseconds kEnginePollPause{50};
  static constexpr std::chrono::milliseconds kBusyPause{100};
  static constexpr std::chrono::seconds kSerialWriteTimeout{5};
  std::optional<Bytes> _barcodeEngineRead(Error* error = nullptr);
  std::optional<Bytes> _barcodeEngineWrite(const uint8_t* data, int length, Error* error = nullptr);
  bool barcodeEnginePowerControl(bool on, Error* error = nullptr);
  bool barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error = nullptr);
  std::optional<Bytes> _barcodeEngineGetInitData(Error* error = nullptr);
  bool _barcodeEngineSetInitData(const Bytes& data, Error* error = nullptr);
  bool _barcodeEngineDownloadModeEnable(bool on, Error* error = nullptr);
  std::optional<Bytes> _barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error = nullptr);
  bool barcodeEngineResetToDefaults(Error* error = nullptr);
  bool _barcodeEngineChangeBaudRate(int baud, Error* error = nullptr);
  // Writes all bytes to the engine in 256-byte chunks.
  bool barcodeEngineWrite(const uint8_t* data, int length, Error* error = nullptr);
  // The text's ASCII bytes (at most 256), under the engine lock.
  bool barcodeEngineWrite(const std::string& text, Error* error = nullptr);
  // Reads what the engine sent: `length` bytes, or up to and including `stopByte` (-1:
  // none), or with length 0 whatever arrived; after `timeoutSeconds` what there is, and
  // -6 "Timeout waiting for engine" when nothing came.
  std::optional<Bytes> barcodeEngineRead(int length, double timeoutSeconds, int stopByte,
                                         Error* error = nullptr);
  std::optional<Bytes> barcodeEngineRead(int length, double timeoutSeconds, Error* error = nullptr) {
    return barcodeEngineRead(length, timeoutSeconds, -1, error);
  }
  // Engine bytes held and not yet read; setting 0 throws them away.
  int barReadLen() const;
  void setBarReadLen(int length);
  bool extOpenSerialPort(int port, int baudRate, int parity, int dataBits, int stopBits,
                         int flowControl, Error* error = nullptr);
  bool extCloseSerialPort(int port, Error* error = nullptr);
  bool extWriteSerialPort(int port, const Bytes& data, Error* error = nullptr);
  // Up to `length` bytes; ends early when nothing arrived for `timeoutSeconds`.
  std::optional<Bytes> extReadSerialPort(int port, int length, double timeoutSeconds,
                                         Error* error = nullptr);
  std::optional<Bytes> uhfCommand(const uint8_t* data, int length, Error* error = nullptr);
  bool uhfInit(int value, Error* error = nullptr);
  bool uhfClose(Error* error = nullptr);
  bool uhfStartAutoReadForTagType(int tagType, int maxNumberOfTags, int maxTimeForTagging,
                                  int repeatCycleCount, Error* error = nullptr);
  bool uhfStopAutoRead(Error* error = nullptr);

  // ---- Barcode engine configuration per family (PellanBarcodeEngine.cpp) -----------------
  bool barcodeOpticonSetInitString(const std::string& text, Error* error = nullptr);
  bool barcodeOpticonSetParams(const std::string& params, bool saveToFlash, Error* error = nullptr);
  std::optional<std::string> barcodeOpticonGetIdent(Error* error = nullptr);
  bool barcodeHoneywelSetParam(const std::string& params, bool saveToFlash, Error* error = nullptr);
  bool barcodeIntermecSetInitData(const Bytes& data, Error* error = nullptr);
  std::optional<Bytes> barcodeIntermecGetInitData(Error* error = nullptr);
  bool barcodeZebraSetInitData(const Bytes& data, Error* error = nullptr);
  std::optional<Bytes> barcodeZebraGetInitData(Error* error = nullptr);
  bool barcodeHoneywellSetInitString(const Bytes& data, Error* error = nullptr);
  std::optional<Bytes> barcodeHoneywellGetInitData(Error* error = nullptr);
  bool barcodeNewlandSetInitString(const std::string& text, Error* error = nullptr);
  std::optional<Bytes> barcodeNewlandQuery(const Bytes& query, Error* error = nullptr);
  std::optional<std::string> newlandSendCommand(const std::string& command, bool response,
                                                Error* error = nullptr);
  bool newlandSendCommandAck(const std::string& command, Error* error = nullptr);
  std::optional<std::string> codeCommand(char command, const Bytes& data, bool needResponse,
                                         Error* error = nullptr);
  std::optional<std::string> codeCommand(char command, std::string_view text, bool needResponse,
                                         Error* error = nullptr);
  std::optional<std::string> codeReadResponseWithTimeout(double seconds, Error* error = nullptr);
  bool codeSendY(int sequence, Error* error = nullptr);
  bool barcodeCodeGetParam(int param, uint64_t* value, Error* error = nullptr);
  bool barcodeCodeSetParam(int param, uint64_t value, Error* error = nullptr);
  std::optional<pellan::EngineInformation> barcodeCodeGetInformation(Error* error = nullptr);

  // ---- Barcode engine firmware (PellanEngineFirmware.cpp) ---------------------------------
  bool barcodeOpticonUpdateFirmware(const Bytes& image, bool bootLoader, Error* error = nullptr);
  bool barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image,
                                 Error* error = nullptr);
  bool _barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image,
                                  Error* error = nullptr);
  // `length` when the engine took the image, 0 on failure.
  int codeLoadFirmwareData(const uint8_t* data, int offset, int length, Error* error = nullptr);
  bool codeUploadFile(const std::string& fileName, const uint8_t* data, int length,
                      Error* error = nullptr);
  bool barcodeNewlandUpdateFirmware(const Bytes& image, Error* error = nullptr);
  bool newlandDownloadFirmware(const Bytes& image, Error* error = nullptr);

  // ---- Events -----------------------------------------------------------------------------
  // Main queue. One event record [channel][code][st1][st2][payload...] to the delegates.
  void processData(Bytes record);
  // Delivering thread. A Bluetooth-module event record [channel][0x1E][st1][st2][sub][...].
  void processBTEvents(const Bytes& record);

  // ---- Accessory manager and stream-pair contracts -------------------------------------------
  std::optional<std::vector<std::string>> accessoryShouldConnect(
      const std::string& name, std::vector<std::string> channels) override;
  void accessoryConnected(const std::shared_ptr<EAStream>& stream) override;
  int accessoryData(int channel, const uint8_t* buffer, int length) override;
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;
  void streamConnected(CommStream& stream) override;
  int streamData(CommStream& stream, const uint8_t* buffer, int length) override;
  void streamDisconnected(CommStream& stream) override;

  // The reply wait of every command (7 s); identification lowers it for its attempts.
  static constexpr std::chrono::seconds kResponseTimeout{7};
  static constexpr std::chrono::milliseconds kIdentResponseTimeout{100};
  static constexpr std::chrono::seconds kStreamConnectTimeout{10};

  struct Impl;

 private:
  int rfCloseCommand() const;
  // Makes this sleeve the transport of the iClass SAM message layer.
  void useAsIClassTransport();
  explicit Pellan(EAManager& manager);
  void setConnState(int state);
  // Stores a new state and runs the set-up of a connected sleeve; false when unchanged.
  // The commands that prepare a newly connected sleeve; they stop once the state changed
  // again (`generation` no longer current).
  void setUpConnected(uint64_t generation);
  // Chooses the Bluetooth module for the sleeve just identified, and leaves it off.
  void chooseBluetoothModule();
  static void bt301ReadThread(const std::weak_ptr<Pellan>& weak);
  void startBT301ReadThread();
  void stopBT301ReadThread();
  void notifyConnState();
  bool identify();
  // Handlers of the events that need further sleeve commands (PellanSecureEvents.cpp);
  // main queue, with the record's payload.
  void processVASEvent(uint8_t code, const uint8_t* payload, size_t n);
  void processEncryptedHeadEvent(const uint8_t* payload, size_t n);
  void processEMVEvent(const uint8_t* payload, size_t n);
  void emulateMagneticCard();
  // Sends encrypted card data to the delegates: the device API's form (first taker only for
  // the head, every taker for emulated data), then the older forms. True when the device
  // API's form had a taker.
  bool deliverEncryptedCard(int algorithm, int tracks, const Bytes& data, const std::optional<std::string>& t1,
                            const std::optional<std::string>& t2, const std::optional<std::string>& t3,
                            int source, bool firstTakerOnly);

  std::unique_ptr<Impl> d_;
};

}  // namespace kestra
