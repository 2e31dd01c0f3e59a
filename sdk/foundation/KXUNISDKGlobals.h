#pragma once
// SDK-wide helpers that every driver, stream and record of the SDK calls: logging hooks,
// hex text, CRC-16, a millisecond tick count, model-name tests, the error factory, barcode
// type conversion and delivery, magnetic-track parsing and Triple-DES. All members are static;
// the class is never instantiated.
//
// Threads: every function may be called from any thread at the same time. The only state is
// the barcode duplicate filter (guarded internally) and the optional log handler.
//
// Bad input: nothing here reads outside the buffers it is given; parsers return an empty or
// absent result for data they cannot read, and nothing throws.

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXBarcodeDelegate.h"

#if defined(__GNUC__)
#define KX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KX_PRINTF_FORMAT(fmt, args)
#endif

namespace kestra {

using foundation::Bytes;
using foundation::Error;

// The error domain of every error the SDK reports.
inline constexpr const char* kSDKErrorDomain = "com.sabrel.errors";

// Scan mode in which repeated codes are dropped (see notifyBarcode).
inline constexpr int MODE_MULTI_SCAN_NO_DUPLICATES = 4;

// Keys of the dictionaries returned by the track parsers.
namespace trackkey {
inline constexpr const char* track1 = "track1";
inline constexpr const char* track2 = "track2";
inline constexpr const char* track3 = "track3";
inline constexpr const char* trackF2F = "trackF2F";
inline constexpr const char* trackJIS = "trackJIS";
inline constexpr const char* trackPassBook = "trackPassBook";
inline constexpr const char* trackCTDOT = "trackCTDOT";
inline constexpr const char* accountNumber = "accountNumber";
inline constexpr const char* cardholderName = "cardholderName";
inline constexpr const char* lastName = "lastName";
inline constexpr const char* firstName = "firstName";
inline constexpr const char* expirationYear = "expirationYear";
inline constexpr const char* expirationMonth = "expirationMonth";
inline constexpr const char* serviceCode = "serviceCode";
inline constexpr const char* discretionaryData = "discretionaryData";
}  // namespace trackkey

// Tracks split out of a raw magnetic-head buffer. `texts` holds "track1", "track2",
// "track3", "trackF2F" and "trackJIS" (ASCII); `bytes` holds "trackPassBook" and
// "trackCTDOT". Both empty when nothing could be read.
struct KXTrackDictionary {
  std::map<std::string, std::string> texts;
  std::map<std::string, Bytes> bytes;
  bool empty() const { return texts.empty() && bytes.empty(); }
};

// The fields of a payment card, keyed by the `trackkey` names; every value is text.
using KXFinancialCardDictionary = std::map<std::string, std::string>;

class KXUNISDKGlobals {
 public:
  KXUNISDKGlobals() = delete;

  // ---- Logging hooks -------------------------------------------------------------------
  // Components log through these with a short prefix of their own ("PN:", "TRELMO:", ...).
  // By default they write nothing; no behaviour of the SDK depends on them. A handler
  // installed with setLogHandler receives each formatted line. Callers never pass card
  // data to them.
  static void LOG(const char* format, ...) KX_PRINTF_FORMAT(1, 2);
  static void LOGDATA(const char* tag, const void* buf, uint64_t len, bool ascii);
  static void LOGBLOCK(const char* tag, const void* buf, uint64_t len, int splitLen);
  static void logFileFlush();
  // Installs (or with an empty function removes) the receiver of log lines.
  static void setLogHandler(std::function<void(const std::string&)> handler);

  // ---- Hex, CRC, time --------------------------------------------------------------------
  // Upper-case hex of the bytes without separators; with `ascii` each byte is preceded by
  // "(c)" (bytes below 32 shown as "."). At most 12,800 bytes are shown; "..." follows when
  // there are more. A length of 0 gives "".
  static std::string toHexString(const uint8_t* data, uint64_t length, bool ascii);
  // CRC-16/CCITT (polynomial 0x1021, MSB first, no final XOR) from the start value `crc`;
  // a length of 0 returns 0.
  static uint16_t crc16ccit(const uint8_t* data, uint32_t length, uint16_t crc);
  // Milliseconds of the monotonic clock in force (foundation::Clock), truncated to 32 bits.
  static uint32_t getTickCount();
  static float getCPUUsage() { return 0.0f; }

  // ---- Model names -------------------------------------------------------------------------
  // Whether `name` ends with one of the receipt-printer model suffixes (compared case-
  // sensitively, in list order); false for nothing.
  static bool isPrinter(std::optional<std::string_view> name);
  // The 24 model-name suffixes of receipt printers that announce themselves by name.
  static const std::vector<std::string_view>& printerModelSuffixes();
  // Whether `name` begins with "PP"; false for nothing.
  static bool isPinpad(std::optional<std::string_view> name);
  // Whether the two-character `feature` occurs among the two-character codes of
  // `deviceModel`, read as pairs from its start (an odd last character pairs with NUL).
  static bool featCheck(std::string_view feature, std::string_view deviceModel);
  // Hex text to bytes: case-insensitive; any character that is not a hex digit drops a
  // pending half byte; a trailing half byte is dropped ("0A1 B2" gives 0A B2).
  static Bytes stringToData(std::string_view text);

  // ---- Errors ------------------------------------------------------------------------------
  // An error of the domain "com.sabrel.errors" with `code` unchanged and the printf-style
  // formatted message as its text; logs "ERROR <code>: <message>".
  static Error makeError(int code, const char* format, ...) KX_PRINTF_FORMAT(2, 3);
  // The same with a message that is not formatted.
  static Error makeError(int code, const std::string& message);

  // ---- Barcodes ----------------------------------------------------------------------------
  // Delivers one scan to `delegates`. `barcode` begins with the engine's symbology code, or
  // with a three-character ISO/IEC 15424 identifier ("]E0"). `barTypeMode`: 0 normal, 1 the
  // SDK's numbering, 2 ISO identifiers, -1 deliver nothing. In scan mode 4 a code already
  // seen since the last filterBarcodeReset is dropped. Each live delegate gets exactly one
  // callback, synchronously, in list order; an exception thrown by a delegate is caught and
  // logged. The list is indexed afresh on each step, so a delegate may remove itself from a
  // list the caller passed by reference; lists shared with other threads must be passed as
  // a snapshot.
  static void notifyBarcode(const std::vector<std::weak_ptr<KXBarcodeDelegate>>& delegates,
                            const Bytes& barcode, int barTypeMode, int barScanMode,
                            int barcodeEngine, bool stripUPCZero);
  static void filterBarcodeReset();
  static std::string barcodeType2Text(int type, int barcodeTypeMode);
  static int opticonBarType2Extended(signed char code);
  static int motorolaBarType2Extended(unsigned char code);
  static int intermecBarType2Extended(int code);
  static std::string extendedBarType2ISO(int type);
  // `iso` is the three-character identifier ("]" letter modifier); -1 when unknown.
  static int isoBarType2Normal(std::string_view iso, std::string_view barcode);

  // ---- Magnetic tracks -----------------------------------------------------------------------
  // Splits a raw head buffer at its track markers (0xF1-0xF3, and 0xF5-0xF8 as the first or
  // second byte); falls back to msExtractIDTECH for buffers without markers. With `reverse`
  // tracks 1 and 3 swap keys.
  static KXTrackDictionary msExtractTracks(const uint8_t* data, int dataLen, bool reverse);
  // Reads the length-prefixed layout (byte 1 is 1 or 3, bytes 3-5 track lengths, texts from
  // byte 6). Empty when the buffer is shorter than the layout it announces.
  static KXTrackDictionary msExtractIDTECH(const uint8_t* data, int dataLen);
  // Splits ISO/IEC 7813 track 1 (format B) and track 2 into their fields; nothing for tracks
  // that do not have the expected form. Track 2 values replace track 1 values.
  static std::optional<KXFinancialCardDictionary> msProcessFinancialCard(
      std::optional<std::string_view> track1, std::optional<std::string_view> track2);

  // ---- Triple-DES ------------------------------------------------------------------------
  // `cbc` false: CBC with PKCS#7 padding and `iv`; `cbc` true: ECB without padding (the
  // name of the flag is historical; callers rely on this meaning). An empty `iv` means
  // zeros, any other must be 8 bytes. Keys of 16 to 23 bytes are two-key (K1 K2 K1), 24 or
  // more three-key (the first 24 bytes); shorter keys are refused. Nothing on failure.
  static std::optional<Bytes> desEncrypt(const Bytes& data, const Bytes& key, bool cbc,
                                         const Bytes& iv = {}, Error* error = nullptr);
  // Always CBC without padding with `iv`; the flag is not used. The output has the input's
  // length (padding is left in place).
  static std::optional<Bytes> desDecrypt(const Bytes& data, const Bytes& key, bool cbc,
                                         const Bytes& iv = {}, Error* error = nullptr);
};

// The 24-byte Triple-DES key for `key`: K1 K2 K1 for keys of 16 to 23 bytes, the first 24
// bytes of longer ones; empty for keys shorter than 16 bytes.
Bytes desExpandKey(const Bytes& key);

// Whether `other` occurs as one contiguous run inside `receiver`. An empty `other` is found
// in any non-empty receiver; an empty receiver contains nothing.
bool containsData(const Bytes& receiver, const Bytes& other);

}  // namespace kestra
