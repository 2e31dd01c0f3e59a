#pragma once
// The packet formats of the barcode engines behind the sleeve's engine pass-through, as
// pure functions over bytes: building what the host sends (Code packets and load chunks,
// Newland queries, command frames and firmware frames, Opticon firmware blocks) and
// reading what the engine answers.
//
// The readers take the engine's bytes through an `EngineRead`, which behaves as the
// driver's `barcodeEngineRead`: at most `length` bytes, or up to and including `stopByte`
// (-1: none), or with length 0 whatever has arrived; fewer bytes when the time runs out,
// and nothing at all (with `error` filled) when none came. `EngineBuffer` holds the bytes
// the engine sent and not yet read, with the same take rules, so the driver, the fuzz
// target and the tests share them.
//
// Bad input: every reader checks each length against what it got and never reads past a
// buffer; a malformed answer is an error (-6, or the text the engine's road names), never
// a crash. No state, no locks (except what the caller's `EngineRead` holds); any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra::pellan {

using EngineRead = std::function<std::optional<foundation::Bytes>(
    int length, double timeoutSeconds, int stopByte, foundation::Error* error)>;

// The bytes an engine sent and nobody has read yet. Bytes beyond `capacity` are dropped.
class EngineBuffer {
 public:
  explicit EngineBuffer(size_t capacity) : capacity_(capacity) {}
  // Appends what fits; returns how many bytes were dropped.
  size_t append(const uint8_t* data, size_t length);
  size_t size() const { return bytes_.size(); }
  // Keeps the first `n` bytes (0 throws everything away).
  void truncate(size_t n);
  // Whether a read of `length` / `stopByte` may end now (before its time runs out).
  bool satisfies(int length, int stopByte) const;
  // Takes what such a read returns from the front (everything when `length` <= 0, when it
  // is not smaller than the held count, or up to the stop byte when one is held). Empty
  // when nothing is held.
  foundation::Bytes take(int length, int stopByte);

 private:
  size_t capacity_;
  foundation::Bytes bytes_;
};

// ---- Code engine ----------------------------------------------------------------------------
inline constexpr size_t kCodeMaxData = 255;
inline constexpr size_t kCodeChunk = 236;
// EE EE EE EE, command, n, data, 00, then the CRC-16/XMODEM of bytes 4..6+n with each byte
// ANDed with 0x7F, high byte first. `length` above 255 is cut to 255.
foundation::Bytes codePacket(char command, const uint8_t* data, size_t length);
// Data of a Code 'S' load packet: the image offset just past this chunk (big-endian 32 bits)
// and the chunk; `codeLoadEnd` is FF FF FF FF alone.
foundation::Bytes codeLoadChunk(const uint8_t* image, size_t offset, size_t length);
foundation::Bytes codeLoadEnd();

struct CodeAnswer {
  std::string text;
  int sequence = 0;
};
// Reads one Code answer: SOH, 'X', then 'R' and a 12-byte header with the sequence number
// and length L, then L+2 bytes (text when they begin 01 'X' 1E); or RS, 3 bytes and text up
// to EOT. Every failure is -6 ("Timeout waiting for the engine", or "Invalid response
// received" for an unknown kind).
std::optional<CodeAnswer> readCodeAnswer(const EngineRead& read, double timeoutSeconds,
                                         foundation::Error* error);
// "d" followed by hexadecimal digits; false for anything else.
bool parseCodeParamAnswer(std::string_view answer, uint64_t* value);
// The fields of an 'I' answer by position; nullopt when it does not start with 'i' (-21
// "Invalid response received") or is shorter than its fixed fields (-6 "Invalid data length
// received").
using EngineInformation = std::map<std::string, std::string>;
std::optional<EngineInformation> parseCodeInformation(std::string_view answer,
                                                      foundation::Error* error);

// ---- Newland engine -------------------------------------------------------------------------
inline constexpr size_t kNewlandMaxCommand = 508;
inline constexpr size_t kNewlandFrameData = 1024;
// 7E 00, length (big-endian 16), the query, LRC (0xFF XOR every byte from the length on).
foundation::Bytes newlandQueryPacket(const foundation::Bytes& query);
// 02 05, length (big-endian 16), the text, CRC-32 (zlib's) of everything before, big-endian.
foundation::Bytes newlandCommandFrame(std::string_view text);
// 02, 1024 image bytes from `offset` (zero-filled past the end), CRC-32 of those 1025 bytes.
foundation::Bytes newlandFirmwareFrame(const foundation::Bytes& image, size_t offset);
// The answer to a query: a 5-byte header holding length L at bytes 2-3, then L bytes whose
// last is a check byte; the result is the L-1 bytes before it.
std::optional<foundation::Bytes> readNewlandQueryAnswer(const EngineRead& read,
                                                        foundation::Error* error);
// The answer to a command frame: 02 05, length 1..16, text, 4 check bytes (not verified).
std::optional<std::string> readNewlandCommandAnswer(const EngineRead& read,
                                                    foundation::Error* error);

// ---- Opticon engine -------------------------------------------------------------------------
inline constexpr size_t kOpticonBlockData = 0x2000;
inline constexpr size_t kOpticonBlockSize = kOpticonBlockData + 6;
// Block number (LE 16), 0x2000 (LE 16), 8192 image bytes from `offset` (zero-filled), sum of
// those bytes modulo 65536 (LE 16).
foundation::Bytes opticonBlock(const foundation::Bytes& image, size_t offset, uint16_t number);
// 'E' 'D' and zeros, 8198 bytes.
foundation::Bytes opticonEndBlock();

}  // namespace kestra::pellan
