#pragma once
// The driver of the PIN pads.
//
// One driver object serves one pinpad. `sharedDevice()` is the process-wide driver over the
// shared accessory manager; `create()` makes one over a manager of the caller's (tests). The driver claims a pinpad the accessory manager offers once
// `connect()` (or `managedConnect()`) was called (the owner registers it with the manager:
// the device API's driver factory, or a test), or talks to one over a stream pair
// (`connectWithStreams`), identifies it (`initCheck`) and reports `ppadConnectionState`
// changes to its delegates on the main queue. Pinpad events reach the delegates as
// PPadDelegate.h says.
//
// Commands: every command method runs on the caller's thread and blocks it until the
// pinpad answers (at most 30 s for the command lock, then the command's time-out, 10 s
// unless stated), so commands must not be called on the common run-loop thread. They
// return the pinpad's result code: 0 success, 1-34 the pinpad's status (`getErrorText`),
// 3 an argument refused before anything is sent, 9 local failure or time-out, 16 not
// connected (also at once after a disconnect). Out values are written only on 0.
//
// Bad input from the pinpad (garbage, corrupt lengths, short replies, malformed events) is
// dropped or reported as a failure; nothing reads or writes past a buffer. Card data is
// never logged.
//
// The class is split by area over several source files (PPad.cpp link and delegates,
// PPadEvents.cpp, PPadIdentification.cpp, PPadSystem.cpp, PPadBarcode.cpp,
// PPadMifare.cpp, PPadBluetooth.cpp, PPadPinEntry.cpp, PPadDisplay.cpp, PPadMenus.cpp,
// PPadPrinter.cpp, and the card commands the link needs).

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXColor.h"
#include "sdk/foundation/KXImage.h"
#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/pinpad/KXPinpadInfo.h"
#include "sdk/pinpad/PPadBluetooth.h"
#include "sdk/pinpad/PPadDelegate.h"
#include "sdk/pinpad/PPadIdentity.h"
#include "sdk/pinpad/PPadTransport.h"
#include "sdk/transport/CommStream.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

using foundation::Bytes;
using foundation::Error;

// The hardware information record (`sysGetHardwareInfo`).
struct PPadHardwareInfo {
  bool charging = false;  // bit 0 of reply byte 1
  bool flag1 = false;     // bits 1-3 of reply byte 1, meaning the pinpad's
  bool flag2 = false;
  bool flag3 = false;
  uint32_t value0 = 0;    // reply byte 0
  uint32_t value2 = 0;    // reply byte 2
};

// One LED entry of `sysBitmaskLEDControl`.
struct PPadLEDEntry {
  int led = 0;
  int period = 0;     // milliseconds
  int bitCount = 0;
  uint32_t pattern = 0;
};

// One application of the legacy EMV kernel's lists.
struct PPadEMVApplication {
  std::array<uint8_t, 16> aid{};
  int32_t aidLength = 0;
  std::array<char, 20> label{};  // text closed by a zero byte
  int32_t matchCriteria = 0;
};

class PPad final : public AccessoryManagerDelegate,
                   public CommStreamDelegate,
                   public BTModuleHost,
                   public std::enable_shared_from_this<PPad> {
 public:
  // The accessory protocol strings a pinpad announces (the first one decides).
  static constexpr std::string_view kProtocols[] = {"com.sabrel.pinpad", "com.sabrel.pengine",
                                                    "com.brevane.cardreader-nine"};
  static constexpr foundation::Duration kIdentifyPause = std::chrono::milliseconds(100);
  static constexpr foundation::Duration kSystemInfoTimeout = std::chrono::milliseconds(2100);
  static constexpr foundation::Duration kBTUpdateTimeout = std::chrono::seconds(20);
  static constexpr foundation::Duration kBTPowerCyclePause = std::chrono::milliseconds(100);
  // Identification switches to caching mode when reading the system information took
  // longer than this.
  static constexpr uint32_t kCachingThresholdMs = 50;

  // The process-wide driver over `EAManager::sharedManager()`; made on first use.
  static PPad& sharedDevice();
  // A driver of its own over `manager` (which must outlive it). It takes accessories once
  // registered with the manager (`manager.setDelegate`).
  static std::shared_ptr<PPad> create(EAManager& manager);
  ~PPad() override;

  // ---- Connection (link) ----------------------------------------------------------------
  void connect();
  void managedConnect();
  void disconnect();
  // 0 once identified over the pair, 9 when identification failed or already connected.
  int connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                         std::shared_ptr<accessory::OutputStream> output);
  bool isPresent() const;
  // Every following command goes through `tunnel` (nullptr: the pinpad's own link).
  void enablePassThrough(std::shared_ptr<PPadTunnel> tunnel);
  void setConnectionType(int type);
  int connectionType() const;

  int connstate() const;
  bool displayAtBottom() const;
  int deviceType() const;
  int displayWidth() const;
  int displayHeight() const;
  std::string deviceName() const;
  std::string deviceModel() const;
  std::string firmwareRevision() const;
  std::string hardwareRevision() const;
  std::string serialNumber() const;
  Bytes serialNumberCPU() const;
  int sdkVersion() const { return 207; }
  // The Bluetooth module (both streams of the module link are the module object).
  std::shared_ptr<BTModule> btInputStream() const;
  std::shared_ptr<BTModule> btOutputStream() const { return btInputStream(); }
  // Where the pinpad's RF reader data goes (the contactless card stack); called on a
  // global-queue thread. Without a sink the data is dropped.
  using RFDataSink = std::function<void(const Bytes&)>;
  void setRFDataSink(RFDataSink sink);
  void rfDataAvailable(const Bytes& data);
  // Replaces the module driver, which is a `btBT301` from `create` on (nullptr: none; 0x09
  // packets then go to event parsing).
  void setBluetoothModule(std::shared_ptr<BTModule> module);

  // ---- Delegates ------------------------------------------------------------------------
  void addDelegate(const std::shared_ptr<PPadDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<PPadDelegate>& delegate);
  // Replaces the first delegate (or adds one to an empty list).
  void setDelegate(const std::shared_ptr<PPadDelegate>& delegate);
  std::shared_ptr<PPadDelegate> delegate();
  std::vector<std::shared_ptr<PPadDelegate>> delegates();

  // ---- Commands (command path) ------------------------------------------------------------
  int sendCommand(uint8_t group, const Bytes& data, Bytes* out = nullptr, bool cached = false,
                  foundation::Duration timeout = PPadTransport::kDefaultTimeout);
  static std::string getErrorText(int status) { return ppad::getErrorText(status); }
  PPadTransport& transport();

  // ---- Events ------------------------------------------------------------------------------
  // Main queue. One event packet from its type byte on: [type][status][length BE][data].
  void processData(Bytes packet);
  // Runs `processData` on the caller's thread with [type] followed by `payload`.
  void simulateEvent(int type, const std::optional<Bytes>& payload);
  void processPlainCardData(const uint8_t* data, size_t length, int source);
  // Reads the last card encrypted with `algorithm`; `params` may hold "uniqueID" and
  // "randomSeed". Returns a result code; `out` receives the block on 0.
  int msUniversalGetEncryptedCardDataWithAlgorithm(int algorithm, int keyID,
                                                   const nlohmann::json* params, Bytes* out);
  std::optional<KXFinancialCardDictionary> msProcessFinancialCard(
      std::optional<std::string_view> track1, std::optional<std::string_view> track2) const;
  std::string barcodeType2Text(int type) const;

  // ---- Identification and features -------------------------------------------------------
  bool initCheck();
  int getIdentification(ppad::Identification* out);
  KXPinpadInfo sysGetInfo() const;
  int getSupportedFeature(int feature, Error* error = nullptr);
  bool featCheck(std::string_view code) const;
  int sysTest();
  void test();

  // ---- System settings, clock, sound, LEDs (group 0x36) ------------------------------------
  int sysGetBatteryWarningLevelPercent(int* percent);
  int sysSetBatteryWarningLevelPercent(int percent);
  int sysGetAutoOffTimeSec(int* seconds);
  int sysSetAutoOffTimeSec(int seconds);
  int uiGetSettingsGlobalVolume(int* volume);
  int uiSetSettingsGlobalVolume(int volume);
  int sysGetUSBChargingCurrent(int* value);
  int sysSetUSBChargingCurrent(int value);
  int sysGetDate(std::chrono::system_clock::time_point* date);
  int sysSetDate(std::chrono::system_clock::time_point date);
  int sysBeep(int frequency, int durationMs, int volume);
  // `data` holds frequency / duration pairs; `length` is its size in bytes.
  int sysPlaySound(const int* data, int length, int volume);
  int sysLEDControl(int led, int pattern);
  int sysBitmaskLEDControl2(uint32_t value);
  int sysBitmaskLEDControl(const std::vector<PPadLEDEntry>& leds);
  int sysStatusLine(bool on);
  int sysMelody(const Bytes& melody);
  int sysEraseFlashPage(uint32_t page);
  int sysWriteFlashPage(uint32_t page, const Bytes& data);
  int sysGetSystemInfo(ppad::SystemInfo* info);
  int sysGetHardwareInfo(PPadHardwareInfo* info);
  int sysTurnOff();
  int sysRestart();
  int sysStartFirmwareUpdate();
  int sysFirmwareUpdateWritePage(const uint8_t* data, size_t length);
  int sysEndFirmwareUpdate();
  int sysEnableEvents(uint32_t mask);
  int sysGetEnabledEvents(uint32_t* mask) const;
  int btUpdate(const std::optional<Bytes>& data);
  int btGetFirmwareVersion(std::string* version);
  int getTimeRemainingToPowerOff(double* seconds) const;
  // Dictionary with "deviceModel", "deviceName", "firmwareRevisionNumber" and
  // "firmwareRevision"; nothing for data that is not a pinpad firmware file.
  std::optional<nlohmann::json> sysGetFirmwareFileInformation(const Bytes& file) const;
  void updateNotify(int phase, int percent);
  int commTest(int repetitions, int nBytes);
  // Firmware update: 256-byte pages padded with 0xFF, progress to the delegates.
  int sysUpdateFile(const std::optional<Bytes>& file);
  int sysFirmwareUpdate(const std::optional<Bytes>& file);
  int btFirmwareUpdate(const std::optional<Bytes>& file, const std::optional<Bytes>& additionalData);

  // ---- Barcode engine (group 0x38) ----------------------------------------------------------
  int barStart();
  int barIsDataReady();
  int barGetBarcodeData(Bytes* data);
  int barStop();
  int _barGetScanMode();
  int barGetScanMode();
  // The scan mode as last read or set, without a command.
  int barcodeScanMode() const;
  int barSetScanMode(int mode);
  int barOpticonSetInitString(std::string_view text);
  int barSetInitData(const Bytes& data);
  int _barcodeEngineSetInitData(const Bytes& data);
  // `beepData` holds frequency / duration pairs; `length` is its size in bytes.
  int barSetScanBeep(bool enabled, int volume, const int* beepData, int length);
  int barReset();
  int _barcodeEngineDownloadModeEnable(bool on);
  int _barcodeEngineRead(Bytes* data);
  int _barcodeEngineWrite(const uint8_t* data, int length, Bytes* out);
  int _barcodeEngineChangeBaudRate(int baud);
  int _barcodeEngineGetInitData();
  int _barcodeEngineSpecialWrite(const uint8_t* data, int length, Bytes* out);

  // ---- Mifare reader (group 0x39) -----------------------------------------------------------
  int mfInit();
  int mfClose();
  int mfRequestCards(bool kind, uint8_t* rq1, uint8_t* rq2);
  int mfAnticollision(uint32_t* serial);
  int mfSelectCard(uint32_t serial, uint8_t* sak);
  int mfAuthByKey(char type, int block, const uint8_t* key);
  int mfRead(int block, uint8_t* data);
  int mfWrite(int block, const uint8_t* data);
  int mfValueOperation(int operation, int srcBlock, int dstBlock, uint32_t value);
  int mfGetReaderSerial(uint32_t* serial);
  int mfWriteValue(int block, uint32_t value);
  int mfLoadKey(int slot, const uint8_t* key);
  int mfAuthByLoadedKey(char type, int block, int slot);

  // ---- Bluetooth module (group 0x3A) ----------------------------------------------------------
  int _ppadBTSetEnabled(bool on);
  int _ppadBTWrite(const uint8_t* data, int* length);
  int btReadPacket();
  int btSetInitData(const Bytes& data);
  int btGetEnabled(bool* enabled);
  int btSetEnabled(bool enabled);
  int btWrite(const Bytes& data);
  int btWriteLine(const std::string& line);
  std::optional<std::string> btReadLine(double timeoutSeconds);
  std::optional<Bytes> btRead(int length, double timeoutSeconds);
  int btDiscoverDevices(int maxDevices, double maxTime, int codTypes, std::vector<std::string>* devices);
  int btGetDeviceName(const std::string& address, std::string* name);
  int btDiscoverDevicesInBackground(int maxDevices, double maxTime, int codTypes);
  int btDiscoverPrintersInBackground(int maxDevices, double maxTime);
  int btDiscoverSupportedDevicesInBackground(int maxDevices, double maxTime, int filter);
  int btConnect(const std::string& address, const std::string& pin);
  int btDisconnect(const std::string& address);
  int btEnableWriteCaching(bool on);
  int btSetDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence);
  void notifyDiscoverFinish(int result);
  void notifyDiscoverDeviceFound(const std::vector<std::string>& addressAndName);
  // BTModuleHost.
  bool _bt301Write(const uint8_t* data, int* length, Error* error) override;
  bool _bt301SetEnabled(bool enabled, Error* error) override;
  void bluetoothDeviceConnected(const std::string& address) override;
  void bluetoothDeviceDisconnected(const std::string& address) override;
  bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) override;
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& address,
                                                            const std::string& name) override;
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override;
  bool clientsRespondToSelector(std::string_view selector) override;

  // ---- Keys and cryptography (groups 0x02, 0x10, 0x11, 0x12, 0x31) ---------------------------
  // Operation bytes and modes pass through unchanged; their meaning is the pinpad's. Key
  // numbers are 1-255 (copying 1-49).
  int getRandomData(Bytes* random);
  // `number` is checked (1-255) but the pinpad takes the key block's own slot.
  int loadTerminalMasterKey(int number, const Bytes& key, const std::string& cpuSerial,
                            const Bytes& randomData, Bytes* keyCheck);
  int AIKWriteKeysToFlash();
  int AIKGetVersion(uint32_t* version);
  // Mode 1-3; the pinpad takes the request empty.
  int management(int mode);
  int crypto3DESECB(int operation, int keyID, const Bytes& inData, Bytes* outData);
  // Without `initVector` eight zero bytes are sent.
  int crypto3DESCBC(int operation, int keyID, const std::optional<Bytes>& initVector, const Bytes& inData,
                    Bytes* outData);
  int cryptoHash(int type, const Bytes& inData, Bytes* digest);
  int cryptoSaveKeysToFlash();
  int crypto3DES(int mode, int keyID, const Bytes& initVector, const Bytes& keyVariant, const Bytes& inData,
                 Bytes* outData);
  int crypto3DESCBCMAK(int operation, int keyID, const Bytes& inData, Bytes* mac);
  int cryptoCopyKey(int targetKeyID, int sourceKeyID);
  int cryptoDeleteKey(int keyID);
  int cryptoGetKeyInfo(int keyID, KXKeyInfo* info);
  int crypto3DESCBCMACExtended(int operation, int keyID, const Bytes& initVector, const Bytes& keyVariant,
                               const Bytes& inData, Bytes* mac);
  // Sets key `keyID` from `inData` protected by key `kekID` (a TR-31 block is ASCII text
  // closed by a zero byte).
  int cryptoExchangeKey(int kekID, int keyID, int usage, int version, const Bytes& inData, bool cbc,
                        Bytes* checkValue);
  // Both inventory forms: the pinpad's list, or key by key (keys 0-9, DUKPT keys 0-7) when
  // the pinpad does not know the list command.
  int cryptoGetKeysInfo(std::vector<KXKeyInfo>* keys);

  // ---- DUKPT, certificate-authority and RSA keys (groups 0x31, 0x32, 0x34) ----------------------
  int cryptoDUKPTInitialKey(int keyType, int keyID, const Bytes& inData);
  int caImportKey(int number, const Bytes& RIDI, const Bytes& modulus, const Bytes& exponent);
  int caWriteKeysToFlash();
  // 29 entries of 8 bytes; what the pinpad did not send is zero.
  int caGetKeysData(std::array<uint8_t, 232>* table);
  int caImportIssuerKey(int number, const Bytes& exponent, const Bytes& remainder, const Bytes& certificate,
                        Bytes* extraData);
  int caImportICCKey(int type, const Bytes& exponent, const Bytes& remainder, const Bytes& certificate,
                     Bytes* extraData);
  int caRSAVerify(int number, const Bytes& inData, Bytes* outData);
  int dukptCalculateMACOnline(const Bytes& first, const Bytes& inData, Bytes* mac);
  // Always 10 bytes (zero-filled when the pinpad sends fewer).
  int cryptoGetDUKPTKSN(int keyID, Bytes* ksn);
  int dukptGetCurrentSerialOnline(int keyID, Bytes* keySerial);
  int cryptoDUKPTCopyKey(int keyID, int keyVariant);
  // A 2048-bit RSA public key in DER for encrypted card data; -9 when the bytes hold none.
  int loadRSAKeyDER(const Bytes& der, int version);
  int loadRSAKey(const Bytes& der, int version) { return loadRSAKeyDER(der, version); }

  // ---- Smart card (group 0x33) -------------------------------------------------------------------
  int scCardPowerOn(int slot, Bytes* atr);
  int scCardPowerOff(int slot);
  int scCAPDU(int slot, const Bytes& apdu, Bytes* response);
  // With encryption 0 a new DUKPT key of `keyID` protects the answer, whose key serial
  // number follows the response.
  int scEncryptedCAPDU(int slot, int encryption, int keyID, const Bytes& apdu, Bytes* response);
  int scClose(int slot);
  int smartCardSlot() const;

  // ---- Magnetic card (group 0x34) ------------------------------------------------------------------
  int msIsDataReady();
  int msGetEncryptedCardData(int keyID, const Bytes& sessionKey, Bytes* cardData);
  int msEnterMagneticCardData(int argument, int timeoutSeconds, Bytes* cardData);
  int msSimulateCardDataTrack1(const OptText& track1, const OptText& track2, const OptText& track3);
  int msGetLoyaltyNumber(int id, std::string* number);
  int crypto3DESGeneratePANMACWithKeyID(int keyID, Bytes* mac);
  void msSetEncryption(int algorithm, int keyID, bool includeSentinels, int includeTracks);
  void msSet3DESParamsKeyID(int keyID, uint32_t uniqueID, uint32_t randomSeed);
  bool msConfigMaskedData(int unmaskedDigitsAtStart, int unmaskedDigitsAtEnd, int unmaskedDigitsAfter,
                          Error* error = nullptr);
  void emsrSetTracks(int tracks);
  // The masked tracks of the last card as a financial-card dictionary; -16 "Invalid card
  // data" when there are none.
  std::optional<KXFinancialCardDictionary> msGetLastCardMaskedData(Error* error = nullptr);

  // ---- Legacy EMV kernel (group 0x37) --------------------------------------------------------------
  // Each step receives the kernel's 16-bit status in `status` on 0 and first initialises
  // the kernel when that has not been done. Tags are 16-bit numbers.
  int emvInit(int16_t* status);
  int emvDone(int16_t* status);
  int emvGetInfo(int16_t* status, std::array<uint8_t, 16>* info);
  int emvATRValidation(int16_t* status, bool warmReset, const Bytes& atr);
  int emvLoadAppList(int16_t* status, int selectionMethod, bool includeBlockedAIDs,
                     const PPadEMVApplication* apps, int count);
  // `count` holds the capacity of `apps` on entry and the entries filled on return.
  int emvGetCommonAppList(int16_t* status, bool* confirmationRequired, PPadEMVApplication* apps, int* count);
  int emvInitialAppProcessing(int16_t* status, const Bytes& aid);
  int emvReadAppData(int16_t* status, const std::vector<int>& tags);
  int emvAuthentication(int16_t* status, bool checkAmount);
  int emvProcessRestrictions(int16_t* status);
  int emvTerminalRisk(int16_t* status, bool forceProcessing);
  int emvGetAuthenticationMethod(int16_t* status);
  int emvSetAuthenticationResult(int16_t* status, int result);
  int emvVerifyPinOffline(int16_t* status);
  int emvGenerateCertificate(int16_t* status, int type, int risk);
  int emvMakeTransactionDecision(int16_t* status);
  int emvMakeDefaultDecision(int16_t* status);
  int emvAuthenticateIssuer(int16_t* status);
  int emvScriptProcessing(int16_t* status, int type);
  int emvUpdateTVR(int16_t* status, int byte, int bit, int value);
  int emvUpdateTSI(int16_t* status, int byte, int bit, int value);
  int emvCheckTVR(int16_t* status, int byte, int bit);
  int emvCheckTSI(int16_t* status, int byte, int bit);
  int emvLoadClearPublicKey(int16_t* status, const Bytes& RID, int caIndex, int hashMethod, int signatureMethod,
                            const Bytes& modulus, const Bytes& exponent, const Bytes& hashData);
  int emvRemovePublicKey(int16_t* status, const Bytes& RID, int caIndex);
  int emvSetDataAsBinary(int16_t* status, int tagID, const Bytes& data);
  int emvSetDataAsString(int16_t* status, int tagID, const std::string& data);
  int emvGetDataAsBinary(int16_t* status, int tagID, Bytes* data);
  int emvGetDataAsString(int16_t* status, int tagID, std::string* data);
  int emvGetDataDetails(int16_t* status, int tagID, int* tagType, int* maxLen, int* currentLen);
  int emvSetBypassMode(int16_t* status, int mode);
  int emvSetTags(int16_t* status, const Bytes& tlv);
  int emvGetTags(int16_t* status, const Bytes& tagList, Bytes* resultData);
  int emvGetTagsEncrypted(int16_t* status, int keyID, uint32_t uniqueID, const Bytes& tagList, Bytes* resultData);

  // ---- Pass-through channels ------------------------------------------------------------------------
  // Each sends the caller's bytes unchanged as the whole request of one command.
  int _rfWrite(const uint8_t* data, int length, Bytes* result);
  int taCommand(const Bytes& request, Bytes* response);
  int boricaCommand(int group, const Bytes& request, Bytes* response);
  int secureReaderCommand(const Bytes& request, Bytes* response, double timeoutSeconds);
  int vivaWalletCommand(const uint8_t* data, int length, Bytes* response, double timeoutSeconds);
  int voltageCommand(const uint8_t* data, int length, Bytes* response);
  // Group `group` with `data` (nothing: an empty request) and the caller's time-out.
  int ppadCustomCommand(int group, double timeoutSeconds, const std::optional<Bytes>& data, Bytes* outData);
  int pogCommand(int module, int command, const Bytes& data, Bytes* outData);
  // The RF reader's transport: nothing to open or close; a write hands a non-empty answer
  // to the RF data sink on a global-queue thread.
  bool rfReaderInit(int readerType, Error* error = nullptr);
  bool rfReaderClose(int readerType, Error* error = nullptr);
  bool rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error = nullptr);
  bool sysIsDevelopmentUnit() const;
  // The encrypted head's firmware version as read when the link came up; 13 when none.
  int emsrGetFirmwareVersion(int* version) const;
  // The encrypted head's library calls on this pinpad; their results are the library's.
  int emsrIsTampered(bool* tampered);
  int emsrGetKeyVersion(int keyID, uint32_t* version);
  int emsrLoadInitialKey(const Bytes& data);
  int emsrLoadKey(const Bytes& data);
  int emsrUpdateFirmware(const Bytes& file);
  int emsrGetDeviceModel(std::string* model);
  int emsrGetDUKPTSerial(Bytes* ksn);
  int emsrGetSerialNumber(Bytes* serial);
  int emsrGetSupportedEncryptions(std::vector<int>* algorithms);
  // "deviceModel", "firmwareRevision" and "firmwareRevisionNumber" of a head firmware file.
  std::optional<nlohmann::json> emsrGetFirmwareInformation(const Bytes& file);
  // `params` may give "keyID", which replaces `keyID`.
  int emsrSetEncryption(int algorithm, int keyID, const nlohmann::json* params);

  // ---- Card, reader and display commands the link itself uses ---------------------------------
  int msStart();
  int msStop();
  int msGetCardData(Bytes* data);
  int msGetMaskedData(std::string* track2);
  int msGetMaskedDataFull(Bytes* data);
  int msGetCardholderName(std::string* name);
  int msGetEncryptedCardDataRSA(Bytes* data);
  int msGetEncryptedCardData3DES(int keyID, uint32_t uniqueID, Bytes* data);
  int msGetEncryptedCardDataWithAlgorithm(int algorithm, int keyID, uint32_t randomSeed,
                                          uint32_t uniqueID, Bytes* data);
  int dukptGenerateKeyOnline(int keyID, Bytes* keySerial);
  int scInit(int slot, int voltage, int protocol);
  int scIsCardPresent(int slot);
  int uiKeyboardControl(bool enabled);
  // The encrypted head's pass-through (group 0x3B): the reply data (at most `outCapacity`
  // bytes) and its length. 13 at once on pinpads whose firmware serves the head itself.
  int emsrCommand(const uint8_t* data, int length, uint8_t* out, int outCapacity, int* outLength);
  // The EMV kernel's command channel (group 0x3C, or 0x3E for kernels of type 4): the reply
  // from its byte 2 on.
  int emv2Command(const uint8_t* data, int length, Bytes* result);
  int prnEnable(bool enabled);
  bool prnGetCapability(int capability, int* value, Error* error = nullptr);

  // ---- PIN entry (group 0x35) ----------------------------------------------------------------
  // The PIN never reaches the host: these start, poll, cancel and conclude entries on the
  // pinpad's keypad and ask for encrypted results. A message (prompt) goes out as UTF-8 when
  // the last text window used font 3, 4 or 6, else in the single-byte form.
  int uiEnterPIN(int x, int y, int timeout, int echo, const OptText& message);
  // With 1 <= minPin <= maxPin the limits go to the pinpad; otherwise it uses its own.
  int uiEnterPINAsyncStart(int x, int y, int timeout, int echo, int minPin, int maxPin, const OptText& message);
  int uiEnterPINAsyncStart(int x, int y, int timeout, int echo, const OptText& message);
  // 8 while entry goes on, 0 once a PIN was entered, else the error.
  int uiEnterPINAsyncCheck();
  int uiEnterPINAsyncCancel();
  // A background entry: returns at once (1 when one runs already); its result reaches the
  // delegates through `PINEntryComplete` on the main queue, after which the magnetic reader
  // is started again. Card, barcode and smart-card events are held back while it runs.
  int uiEnterPINStart(int x, int y, int timeout, int echo, int minPin, int maxPin, const OptText& message);
  int uiEnterPINStart(int x, int y, int timeout, int echo, const OptText& message);
  // Ends the background entry and waits until it has; always 0.
  int uiEnterPINCancel();
  bool pinEntryRunning() const;
  int uiVerifyPINOffline(bool encrypted, uint16_t* cardStatus);
  // Key type 0 takes a new DUKPT key of `keyID` and appends its key serial number.
  int uiVerifyPINOfflinePlainAndEncryptResponse(int keyType, int keyID, Bytes* outData);
  int uiVerifyPINOfflineEncryptedAndEncryptResponse(int keyType, int keyID, Bytes* outData);
  // Kept for the next PIN block in format 4 or 13; always 0.
  int pinSetPAN(const OptText& pan);
  // Key type 1-4, format 4-13, a 16-byte key variant (nothing: zeros).
  int pinGetPINBlock(int keyType, int pinFormat, const std::optional<Bytes>& keyVariant, int keyID,
                     Bytes* encryptedPIN);
  int uiVerifyPINOnline(int keyType, int pinFormat, const std::optional<Bytes>& keyVariant, int keyID,
                        const std::string& pan, Bytes* encryptedPIN);
  int pinGetPINBlockFixedKey(int keyID, const std::optional<Bytes>& keyVariant, int pinFormat, Bytes* encryptedPIN);
  int pinGetPINBlockMasterSession(const Bytes& workingKey, int keyID, int pinFormat, Bytes* encryptedPIN);
  // The PIN block followed by the key serial number of the DUKPT key made for it.
  int pinGetPINBlockDUKPT(int keyID, const std::optional<Bytes>& keyVariant, int pinFormat, Bytes* encryptedPIN);

  // ---- Display and keypad (groups 0x35, 0x36) -------------------------------------------------
  // Coordinates are display pixels; y is shifted below the pinpad's status area where the
  // pinpad expects it. Fonts 0-6.
  int uiReadKey(uint8_t* key);
  int uiEnableNumericMode(int x, int y, int language, const std::string& message);
  int uiDisableNumericMode();
  int _uiOpenTextWindow(int x, int y, int widthChars, int heightChars, int font, int codePage);
  int uiOpenTextWindow(int x, int y, int widthChars, int heightChars, int font, int codePage);
  int uiSetKeyTone(uint16_t tone, uint16_t time, int volume);
  int uiFillRectangle(int x, int y, int width, int height, int mode);
  int uiSetContrast(int contrast);
  int uiPutPixel(int x, int y, const std::optional<KXColor>& color);
  int uiDisplayImage(int x, int y, int width, int height, const Bytes& bitmap);
  int uiDisplayImage(int x, int y, const KXImage& image);
  int uiStartAnimation(int index, int x, int y, bool animated);
  // -1 stops every animation.
  int uiStopAnimation(int index);
  int uiSetButtonCaption(int button, const std::string& caption);
  int uiShowInitScreen();
  int loadLogo(const KXImage& image, int align);
  int uiEnablePowerButton(bool enabled);
  int uiEnableCancelButton(bool enabled);
  int uiGetSettingsMenuMode(int* mode);
  int uiSetSettingsMenuMode(int mode);
  int uiGetSettingsBacklightEnabled(bool* enabled);
  int uiSetSettingsBacklightEnabled(bool enabled);
  int uiGetSettingsInvertDisplay(bool* inverted);
  int uiSetSettingsInvertDisplay(bool inverted);
  int uiDrawText(const std::string& text, int x, int y, int font);
  // The font of the last text window opened.
  int lastFont() const;
  bool extendedDisplay() const;
  bool colorDisplay() const;
  int topMargin() const;

  // ---- Styled text, menus and data prompts (extended displays) ---------------------------------
  // Text with inline tags ({=f6}, {=c}, {=cf255,0,0}, {=cb=d}, ...); the runs' colours are
  // drawn, the whole text in `font`. 1 for an empty text.
  int uiDrawTextEx(const std::string& text, int x, int y, int font);
  int uiDisplayMenu(const std::string& title, const std::vector<std::string>& choices, int font, double timeout);
  // 8 while the menu is open; 0 with the choice.
  int uiCheckMenu(int* choice);
  int uiCancelMenu();
  int uiDisplayDataPromptWithID(int promptID, int language, int maxLength, const std::string& initialValue,
                                int font, double timeout);
  // 8 while the prompt is open; 0 with the text typed.
  int uiCheckDataPrompt(std::string* value);
  int uiCancelDataPrompt();

  // ---- Printer channel (group 0x42; models with a printer) --------------------------------------
  // Print bytes are gathered in a host cache and sent in commands of at most 512 bytes by
  // the "PPadPrinter BT Write Thread" (or `prnFlushCache`).
  bool prnWrite(const uint8_t* data, int length, Error* error = nullptr);
  bool prnAddToCache(const uint8_t* data, int length, Error* error = nullptr);
  bool prnFlushCache(Error* error = nullptr);
  bool prnWriteDataToChannel(int channel, const Bytes& data, Error* error = nullptr);
  bool printText(const std::string& text, int encoding, Error* error = nullptr);
  bool printText(const std::string& text, Error* error = nullptr);
  bool prnPrintText(const std::string& text, int encoding, Error* error = nullptr) {
    return printText(text, encoding, error);
  }
  bool prnPrintText(const std::string& text, Error* error = nullptr);
  bool printDelimiter(int character, Error* error = nullptr);
  bool prnSetLineSpace(int space, Error* error = nullptr);
  bool prnFeedPaper(int lines, Error* error = nullptr);
  bool prnWaitPrintJob(double timeoutSeconds, Error* error = nullptr);
  std::optional<KXPrinterInfo> prnGetPrinterInfo(Error* error = nullptr);
  bool prnPrintImage(const KXImage& image, int align, Error* error = nullptr);
  bool prnPrintImageOld(const KXImage& image, int align, Error* error = nullptr);
  // The packed raster of `image` on the printer's width; `linesize` receives the bytes per row.
  std::optional<Bytes> getImageData(const KXImage& image, int align, bool reversed, int* linesize);
  void prnStartWriteThread();
  void prnStopWriteThread();
  int printerPageWidth() const;
  int printerCacheLength() const;

  // ---- Accessory manager and stream-pair contracts ----------------------------------------------
  std::optional<std::vector<std::string>> accessoryShouldConnect(
      const std::string& name, std::vector<std::string> channels) override;
  void accessoryConnected(const std::shared_ptr<EAStream>& stream) override;
  int accessoryData(int channel, const uint8_t* buffer, int length) override;
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;
  void streamConnected(CommStream& stream) override;
  int streamData(CommStream& stream, const uint8_t* buffer, int length) override;
  void streamDisconnected(CommStream& stream) override;

  struct Impl;

 private:
  explicit PPad(EAManager& manager);
  void setConnState(int state);
  void notifyConnState();
  // The encrypted read of a swiped card and its delegate calls (steps 2 and 3 of a card
  // event).
  void cardEncryptedEvent();
  // The masked tracks of the last card: from the full masked read, else track 2 from the
  // masked read with a track 1 built from it and the cardholder name. False when neither read
  // succeeded.
  bool lastCardMaskedTracks(OptText* track1, OptText* track2, OptText* track3);
  int mfCommand(const Bytes& data, Bytes* reply);
  // One legacy EMV kernel command: the status word from reply bytes 0-1, the data after them.
  int emvStep(int16_t* status, const Bytes& request, Bytes* data = nullptr);

  std::unique_ptr<Impl> d_;
};

}  // namespace kestra
