#pragma once
// The command library of the encrypted magnetic head, the secure card-reader chip inside the
// sleeve, the receipt printer and the pinpad. Each function builds one command packet, hands
// it to the transport that the owning driver registered with emsrSetCallbacks, and checks the
// head's reply. Drivers wrap these functions in their own methods and turn the negative
// results into SDK errors (KXErrors has the texts).
//
// Packets. Request: [command][0x00][data length, 2 bytes big-endian][data, at most 508 bytes].
// Reply: [ignored][status][data length, 2 bytes big-endian][data].
//
// Results: 0 or (where a function says so) the reply's data length on success; on failure
//   -11005  no reply, or a reply shorter than 4 bytes (a failed transport lands here too,
//           and so does a call made before any transport was registered);
//   -6      a reply shorter than its declared data, longer than the packet buffer, or too
//           short for the fields the function reads;
//   -(11000 + s)  the head answered with status s;
//   -9      bad arguments (sizes named below), with nothing sent;
//   -7      emsrGetMaskedData on a head whose firmware is older than 2.14.
//
// Threads: any thread. One command runs at a time across all owners (the packet buffer is
// shared); the transport runs on the caller's thread and may block up to its time-out.

#include <cstdint>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra {

// Size of the shared packet buffer; a transport never writes more into its reply area.
inline constexpr int kEmsrPacketSize = 512;
inline constexpr int kEmsrMaxData = kEmsrPacketSize - 4;
// The time-out handed to every transport call.
inline constexpr int kEmsrTimeoutMs = 1000;
// Callback table size; registrations beyond it are ignored.
inline constexpr int kEmsrMaxCallbacks = 10;

// A driver's transport: sends `request` to its head, waits at most `timeoutMs`, writes the
// head's reply packet into `reply` - never more than `replyCapacity` bytes - and returns its
// length, or a negative value when nothing arrived (a reply longer than the capacity is a
// failed exchange, -6). `request` and `reply` may be the same buffer.
using EmsrTransport = int (*)(void* owner, const uint8_t* request, int requestLength,
                              uint8_t* reply, int replyCapacity, int timeoutMs);

// The head's identity and versions (versions hundreds-coded: 214 is 2.14).
struct EMSRInfo {
  char ident[32] = {};
  uint8_t serialNumber[16] = {};
  uint32_t firmwareVersion = 0;
  uint32_t securityVersion = 0;
};

struct EMSRKeyInfoEntry {
  uint32_t keyID = 0;
  uint32_t keyVersion = 0;
  uint8_t dukptKSN[12] = {};  // 10 bytes used, for the DUKPT keys 32-34
};

struct EMSRKeyInfo {
  uint32_t tampered = 0;
  uint32_t count = 0;
  EMSRKeyInfoEntry keys[20];
};

// The SDK error for a negative result of this library (the text from KXErrors).
foundation::Error emsrError(int code);

// Registers `transport` for `owner`. An owner that never registered is served by the first
// registered transport.
void emsrSetCallbacks(void* owner, EmsrTransport transport);
// Removes `owner`'s registrations; an owner that goes away calls it, so that no later command
// reaches a transport with a dangling owner.
void emsrRemoveCallbacks(void* owner);
// Empties the callback table and forgets the remembered firmware version. For tests and
// simulators; drivers never call it.
void emsrResetState();

// `model` receives data bytes 0-15 as text, zero-terminated (17 bytes).
int emsrGetDeviceModel(void* owner, char model[17]);
// byte16 × 100 + byte17 of the identification reply; remembered for emsrGetMaskedData.
int emsrGetFirmwareVersion(void* owner, int* version);
// The security version; remembers the firmware version. A failed query reports 208 and 0.
int emsrGetSecurityVersion(void* owner, int* version);
int emsrGetInfo(void* owner, EMSRInfo* info);
// Result: the data length.
int emsrGetSerialNumber(void* owner, foundation::Bytes* serial);
int emsrEnable(void* owner, int enable);
int emsrCheckCardRead(void* owner);
int emsrGetTracksRead(void* owner, int* tracks);
int emsrEnterTamperMode(void* owner);
// `key` must be exactly 134 bytes (-9 otherwise). `unused` is ignored.
int emsrLoadECCPublicKey(void* owner, int unused, const uint8_t* key, int length);
int emsrGenerateRandom(void* owner, foundation::Bytes* random);
// `keyBlock` must be 48 bytes (-9 otherwise).
int emsrSetKeyOld(void* owner, int keyID, const foundation::Bytes& keyBlock, uint32_t version);
int emsrGetEncryptedCardData(void* owner, int format, foundation::Bytes* data);
// `random` must be 16 bytes (-9 otherwise).
int emsrAuthenticate(void* owner, const foundation::Bytes& random, foundation::Bytes* out);
int emsrGetKeyVersion(void* owner, int keyID, uint32_t* version);
int emsrIsTampered(void* owner, bool* tampered);
int emsrGetKeyInfo(void* owner, EMSRKeyInfo* info);
int emsrGetSupportedEncryptions(void* owner, foundation::Bytes* algorithms);
// `keyID` -1 sends no key id. A refused request is sent once more as [31, algorithm].
int emsrSetEncryption(void* owner, int algorithm, int keyID, const uint8_t* params, int paramsLength);
int emsrGetDUKPTSerial(void* owner, int keyID, foundation::Bytes* ksn);
int emsrConfigMaskedData(void* owner, bool showExpiration, bool showServiceCode, bool showTrack3,
                         int unmaskedDigitsAtStart, int unmaskedDigitsAtEnd);
// `data` receives the masked track text (its length is the result; no terminator is added).
int emsrGetMaskedData(void* owner, foundation::Bytes* data);
// `data` begins with the sub-command; at most 508 bytes.
int emsrLoadInitialKey(void* owner, const uint8_t* data, int length);
int emsrLoadKey(void* owner, const uint8_t* data, int length);
// Sends the 52-byte header, the start command, every block of up to 256 bytes (three tries
// each), then the finish commands. A block the head refuses three times ends the update with
// the head's error; the finish commands are not sent then. A file shorter than its header
// gives -9.
int emsrUpdateFirmware(void* owner, const uint8_t* file, int length);
// No device traffic: `name` is the file's first 16 bytes without trailing spaces, `version`
// byte17 × 100 + byte16. A file shorter than 18 bytes gives -9.
int emsrGetFirmwareInformation(void* owner, const uint8_t* file, int length, char name[17],
                               int* version);

}  // namespace kestra
