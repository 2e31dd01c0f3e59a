#pragma once
// The driver of one receipt or label printer (`Printer`).
//
// The device API owns two, made with indexes 0 and 1; each registers with the accessory
// manager it is given and claims a printer accessory ("com.sabrel.printer.escpos",
// "com.generic.printer.escpos", "com.sabrel.printer.label.zpl") while it is connecting, or
// talks over a stream pair handed to `connectWithStreams` (Bluetooth, TCP). It identifies
// the printer (model class, paper, firmware), speaks the framed protocol mode when the
// printer offers it (channels for print data, the encrypted head, the smart-card and Mifare
// modules, the label language) and plain bytes otherwise, gathers print data in a 1,024-byte
// cache that a write thread ("Printer BT Write Thread") flushes after 100 ms of quiet, and
// turns the printer's 4-byte events into delegate calls (PrinterDelegate.h).
//
// Threads: every command runs on the caller's thread and blocks it until the printer answers
// or its time-out passes (all time-outs run on `foundation::Clock`); commands must not be
// called on the common run-loop thread, which delivers the printer's bytes. Connection
// changes and events reach the delegates on the main queue. One framed exchange runs at a
// time (`cmdLock`, 100 s); print jobs of several callers can be kept apart with
// `prnStartTransaction` / `prnEndStransaction`.
//
// Errors: failing calls return false, -1, nullopt or 0 and fill the optional `error`
// (domain "com.sabrel.errors"). Bad input from the printer (short, oversized or corrupt
// replies, events with track data) is bounded by the driver's buffers and reported as an
// error; it never reads or writes past them. Card data is never logged.
//
// Text, page and table state are process-wide, shared by both printers, as are the page
// width and default feed that identification sets.

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessory/Stream.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXImage.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/printer/PrinterDelegate.h"
#include "sdk/transport/CommStream.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

// Accessory protocol strings of printers.
inline constexpr const char* kPrinterProtocolESCPOS = "com.sabrel.printer.escpos";
inline constexpr const char* kPrinterProtocolGeneric = "com.generic.printer.escpos";
inline constexpr const char* kPrinterProtocolLabel = "com.sabrel.printer.label.zpl";

// Barcode text positions and alignments.
inline constexpr int BAR_TEXT_NONE = 0;
inline constexpr int BAR_TEXT_ABOVE = 1;
inline constexpr int BAR_TEXT_BELOW = 2;
inline constexpr int BAR_TEXT_BOTH = 3;
inline constexpr int ALIGN_LEFT = 0;
inline constexpr int ALIGN_CENTER = 1;
inline constexpr int ALIGN_RIGHT = 2;
// Key numbers.
inline constexpr int KEY_AUTHENTICATION = 0;
inline constexpr int KEY_ENCRYPTION = 1;
// Stop byte meaning "none".
inline constexpr int kNoStopByte = -1;

class Printer final : public AccessoryManagerDelegate,
                      public CommStreamDelegate,
                      public std::enable_shared_from_this<Printer> {
 public:
  // Time-outs.
  static constexpr foundation::Duration kLockTimeout = std::chrono::seconds(100);
  static constexpr foundation::Duration kReplyHeaderTimeout = std::chrono::seconds(10);
  static constexpr foundation::Duration kBusyRetryPause = std::chrono::milliseconds(500);
  static constexpr foundation::Duration kCommandTimeout = std::chrono::seconds(10);
  static constexpr foundation::Duration kFlushTimeout = std::chrono::seconds(20);
  static constexpr foundation::Duration kCacheQuiet = std::chrono::milliseconds(100);
  static constexpr foundation::Duration kWriteThreadPeriod = std::chrono::milliseconds(50);
  static constexpr foundation::Duration kStreamConnectTimeout = std::chrono::seconds(10);
  static constexpr foundation::Duration kPollPause = std::chrono::milliseconds(100);
  static constexpr size_t kCacheSize = 1024;
  static constexpr size_t kChannelCacheSize = 380;
  static constexpr int kSdkVersion = 207;

  // A driver of printer `index` (0 or 1) over `manager`, which must outlive it. Whoever
  // makes it registers it with the manager (`accessoryShouldConnect` and the rest).
  static std::shared_ptr<Printer> create(int index, EAManager& manager);
  ~Printer() override;
  Printer(const Printer&) = delete;
  Printer& operator=(const Printer&) = delete;

  int sdkIndex() const;
  int sdkVersion() const { return kSdkVersion; }

  // ---- Delegates ------------------------------------------------------------------------
  void addDelegate(const std::shared_ptr<PrinterDelegate>& d);
  void removeDelegate(const std::shared_ptr<PrinterDelegate>& d);
  void setDelegate(const std::shared_ptr<PrinterDelegate>& d);
  std::shared_ptr<PrinterDelegate> delegate();
  std::vector<std::shared_ptr<PrinterDelegate>> delegates() const;
  bool containsDelegate(const std::shared_ptr<PrinterDelegate>& d) const;
  void cleanDelegates();

  // ---- Connection -----------------------------------------------------------------------
  // From state 0: state 1, then asks the accessory manager to search.
  void connect();
  // From state 0: state 1 only.
  void managedConnect();
  // Flushes the cache, state 0, closes the link.
  void disconnect();
  // Connects over a stream pair (within 10 s), identifies the printer (or, failing that, a
  // label printer); true in state 2.
  bool connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                          std::shared_ptr<accessory::OutputStream> output, Error* error = nullptr);
  bool isPresent();
  int connstate() const;
  int connectionType() const;
  void setConnectionType(int type);
  std::string deviceName() const;
  std::string deviceModel() const;
  std::string firmwareRevision() const;
  std::string hardwareRevision() const;
  std::string serialNumber() const;
  // Model class from identification, -1 while unknown.
  int modelClass() const;
  int firmwareVersion() const;
  bool protocolMode() const;
  bool isLabelPrinter() const;
  bool isGenericESCPOS() const;

  // ---- Bytes and channels ----------------------------------------------------------------
  bool write(const uint8_t* data, size_t length);
  // One framed exchange under the command lock; the summed reply data length, or -1.
  int sendCommand(int channel, int operation, const uint8_t* data, size_t length,
                  foundation::Bytes* out, double timeoutSeconds, Error* error = nullptr);
  // Writes `length` bytes to `channel` (-1 and 50 are the print channel). A length of all
  // ones sends nothing; 0 sends an empty frame and reports success whatever it got.
  bool prnWrite(const uint8_t* data, int channel, uint64_t length, double timeoutSeconds,
                Error* error = nullptr);
  bool prnWrite(const uint8_t* data, uint64_t length, Error* error = nullptr);
  bool prnWrite(const uint8_t* data, uint64_t length, double timeoutSeconds, Error* error = nullptr);
  bool prnWrite(const std::string& text, int channel, Error* error = nullptr);
  bool prnWriteDataToChannel(int channel, const foundation::Bytes& data, Error* error = nullptr);
  // Reads into `out` up to `length` bytes (or up to and including `stop`); the count, or -1.
  int prnRead(uint8_t* out, int channel, int length, double timeoutSeconds, int stop,
              Error* error = nullptr);
  int prnRead(uint8_t* out, int length, double timeoutSeconds, Error* error = nullptr);
  std::optional<std::string> prnReadLineFromChannel(int channel, double timeoutSeconds,
                                                    Error* error = nullptr);
  std::optional<foundation::Bytes> prnReadDataFromChannel(int channel, int length,
                                                          double timeoutSeconds,
                                                          Error* error = nullptr);
  std::optional<foundation::Bytes> prnReadDataFromChannel(int channel, int length, int stopByte,
                                                          double timeoutSeconds,
                                                          Error* error = nullptr);
  bool openChannel(int channel, Error* error = nullptr);
  void closeChannel(int channel);
  void clearReceive(int channel);

  // ---- Cache and transactions --------------------------------------------------------------
  // Returns the previous setting; the cache is flushed (when turning off) and emptied.
  bool setCached(bool on);
  bool flushCache(Error* error = nullptr);
  void prnStartTransaction();
  void prnEndStransaction();

  // ---- Status ----------------------------------------------------------------------------
  int getPrinterStatus(Error* error = nullptr);
  bool isPrinterConnected();
  bool waitPrintJob(double timeoutSeconds, Error* error = nullptr);
  int getSupportedFeature(int feature, Error* error = nullptr);

  // ---- Identification, status and keys -----------------------------------------------------
  // Run by the connect paths: the maker's identification (with protocol mode when the
  // printer offers it), or the label language's.
  bool initCheck(Error* error = nullptr);
  bool initCheckZPL(Error* error = nullptr);
  std::optional<KXPrinterInfo> getPrinterInfo(Error* error = nullptr);
  int getBattery(Error* error = nullptr);
  int getTemperature(Error* error = nullptr);
  bool getInfo(int infoCode, int* data, Error* error = nullptr);
  std::optional<std::string> getPrinterSerialNumber(Error* error = nullptr);
  bool getBlackMarkTreshold(int* threshold, Error* error = nullptr);
  bool setBlackMarkTreshold(int threshold, Error* error = nullptr);
  bool calibrateBlackMark(int* threshold, Error* error = nullptr);
  int prnGetMaxLabelLength(Error* error = nullptr);
  bool prnSetMaxLabelLength(int length, Error* error = nullptr);
  bool prnSetAutoOffTime(int seconds, Error* error = nullptr);
  bool setGenericPrinterSettingsPageWidth(int pageWidth, int feedLines, Error* error = nullptr);
  std::optional<foundation::Bytes> cryptoRawGenerateRandomData(Error* error = nullptr);
  bool cryptoRawSetKey(int keyID, const foundation::Bytes& encryptedData, Error* error = nullptr);
  bool cryptoSetKey(int keyID, const foundation::Bytes& key,
                    const std::optional<foundation::Bytes>& oldKey, Error* error = nullptr);
  std::optional<foundation::Bytes> cryptoRawAuthenticatePrinter(const foundation::Bytes& randomData,
                                                                Error* error = nullptr);
  bool cryptoAuthenticatePrinter(const foundation::Bytes& key, Error* error = nullptr);

  // ---- Events and the printer's readers ------------------------------------------------------
  // Main queue: one 4-byte event.
  void processData(const foundation::Bytes& event);
  std::optional<std::string> scanBarcode(double timeoutSeconds, int* type, Error* error = nullptr);
  bool barcodeSetScanTimeout(int seconds, Error* error = nullptr);
  std::string barcodeType2Text(int type) const;
  std::optional<std::array<std::string, 3>> msReadCard(double timeoutSeconds, Error* error = nullptr);
  std::optional<KXFinancialCardDictionary> msProcessFinancialCard(
      std::optional<std::string_view> track1, std::optional<std::string_view> track2) const;
  void emsrSetTracks(int tracks);
  // The encrypted head's transport: the reply packet's length, or a negative error.
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int replyRoom = 512,
                  int timeoutMs = 2000);
  bool scInit(Error* error = nullptr);
  bool scClose(Error* error = nullptr);
  std::optional<foundation::Bytes> scReset(Error* error = nullptr);
  bool scIsCardPresent(Error* error = nullptr);
  std::optional<foundation::Bytes> scAPDU(int cla, int ins, int p1, int p2,
                                          const foundation::Bytes& data, int maxReply,
                                          Error* error = nullptr);
  std::optional<foundation::Bytes> scAPDU(const foundation::Bytes& apdu, Error* error = nullptr);
  bool mfInit(Error* error = nullptr);
  bool mfClose(Error* error = nullptr);
  std::optional<std::string> mfIdent(Error* error = nullptr);
  bool mfRequestCards(int type, uint8_t* rq1, uint8_t* rq2, Error* error = nullptr);
  bool mfAnticollision(uint32_t* serial, Error* error = nullptr);
  bool mfSelectCard(uint32_t serial, uint8_t* sak, Error* error = nullptr);
  bool mfAuthByKey(char type, int block, const std::optional<foundation::Bytes>& key,
                   Error* error = nullptr);
  std::optional<foundation::Bytes> mfRead(int block, Error* error = nullptr);
  bool mfWrite(int block, const std::optional<foundation::Bytes>& data, Error* error = nullptr);
  bool mfValueOperation(int operation, int sourceBlock, int destinationBlock, uint32_t value,
                        Error* error = nullptr);
  bool mfGetReaderSerial(uint32_t* serial, Error* error = nullptr);
  bool mfWriteValue(int block, uint32_t value, Error* error = nullptr);
  bool mfLoadKey(int keyID, const foundation::Bytes& key, Error* error = nullptr);
  bool mfAuthByLoadedKey(char type, int block, int keyID, Error* error = nullptr);

  // ---- Text ----------------------------------------------------------------------------------
  bool printText(const std::string& text, int encoding, Error* error = nullptr);
  bool printText(const std::string& text, Error* error = nullptr);
  bool printDelimiter(int character, Error* error = nullptr);
  bool setLineSpace(int space, Error* error = nullptr);
  bool setLeftMargin(int margin, Error* error = nullptr);
  bool prnSetCodepage(int codepage, Error* error = nullptr);

  // ---- Commands, barcodes and graphics ---------------------------------------------------------
  bool selfTest(bool shortTest, Error* error = nullptr);
  bool turnOff(Error* error = nullptr);
  bool feedPaper(int dots, Error* error = nullptr);
  bool feedPaperTemporary(int dots, Error* error = nullptr);
  bool retractPaper(Error* error = nullptr);
  bool beep(Error* error = nullptr);
  bool setDensity(int percent, Error* error = nullptr);
  bool printLogo(int mode, Error* error = nullptr);
  bool setBarcodeSettings(int scale, int height, int hriPosition, int hriFont, int align,
                          Error* error = nullptr);
  bool setBarcodeSettings(int scale, int height, int hriPosition, int align, Error* error = nullptr);
  bool printBarcode(int type, const foundation::Bytes& barcode, Error* error = nullptr);
  bool printBarcodePDF417(const foundation::Bytes& barcode, bool truncated, bool autoEncoding,
                          int eccl, int size, Error* error = nullptr);
  bool printBarcodeQRCode(const foundation::Bytes& barcode, int eccl, int size,
                          Error* error = nullptr);
  bool loadLogo(const KXImage& image, int align, Error* error = nullptr);
  bool printImage(const KXImage& image, int align, Error* error = nullptr);

  bool pageIsSupported();
  bool pageSetCoordinatesTranslation(bool on, Error* error = nullptr);
  bool pageSetLabelHeight(int height, Error* error = nullptr);
  bool pageStart(Error* error = nullptr);
  bool pagePrint(Error* error = nullptr);
  bool pageEnd(Error* error = nullptr);
  bool pageSetWorkingArea(int left, int top, int width, int heigth, int orientation,
                          Error* error = nullptr);
  bool pageSetWorkingArea(int left, int top, int width, int height, Error* error = nullptr);
  bool pageFillRectangle(int color, Error* error = nullptr);
  bool pageFillRectangle(int left, int top, int width, int height, int color, Error* error = nullptr);
  bool pageRectangleFrame(int left, int top, int width, int height, int frameWidth, int color,
                          Error* error = nullptr);
  bool pageSetRelativePositionLeft(int left, int top, Error* error = nullptr);

  bool tableIsSupported();
  bool tableCreate(int flags, Error* error = nullptr);
  bool tableCreate(Error* error = nullptr);
  bool tableAddColumn(int width, int style, int alignment, int flags, Error* error = nullptr);
  bool tableAddColumn(int width, int style, int alignment, Error* error = nullptr);
  bool tableAddColumn(int width, Error* error = nullptr);
  bool tableAddCell(const std::string& text, int font, int style, int alignment,
                    Error* error = nullptr);
  bool tableAddCell(const std::string& text, int font, int style, Error* error = nullptr);
  bool tableAddCell(const std::string& text, int font, Error* error = nullptr);
  bool tableAddCell(const std::string& text, Error* error = nullptr);
  bool tableAddDelimiter(Error* error = nullptr);
  bool tableSetRowHeight(int height, Error* error = nullptr);
  bool tablePrint(Error* error = nullptr);

  // ---- Accessory and stream-pair contracts --------------------------------------------------
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
  Printer(int index, EAManager& manager);
  void setConnState(int state);
  void startWriteThread();
  void stopWriteThread();
  void writeThreadMain();
  void linkUp();
  std::unique_ptr<Impl> d_;
};

}  // namespace kestra
