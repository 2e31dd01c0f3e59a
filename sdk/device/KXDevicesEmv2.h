#pragma once
// The host side of the EMV kernel that runs in the sleeve or the pinpad: the state the
// device API keeps for it, and the pure pieces of its commands (user-interface items, the
// start command's time-out byte, configuration forms and versions, track post-processing).
//
// The state is one per device API (the process-wide one is the SDK's). Option setters write
// it on the caller's thread, the event parser reads it on the thread that delivers kernel
// events (the main queue); a lock guards each access, never a driver call or a delegate
// call.
//
// Bad input: every function here takes outside bytes without trusting them. A blob that
// does not decode is passed on without a version; a version or information value shorter
// than 4 bytes reads as none; a track answer whose blocks do not fit is returned raw.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXTLV.h"

namespace kestra {

using foundation::Bytes;

// The encrypted head's masking settings that the kernel's start command and track requests
// carry.
struct KXEmsrMaskSettings {
  int unmaskedDigitsAtStart = 4;
  int unmaskedDigitsAtEnd = 4;
  int unmaskedDigitsAfter = 4;
  bool showExpiration = true;
  bool showServiceCode = true;
  bool includeSentinels = true;
  uint32_t uniqueID = 0;
};

struct KXEmv2State {
  std::mutex mutex;
  // Session (emvInit and emvActive live in KXDevices, which its connection code shares).
  bool msEmulation = false;
  bool shortEMV = false;
  std::shared_ptr<KXEMV2Info> info;
  // Options, kept until the next transaction start.
  int pinEntryInterface[4] = {0, 0, 0, 0};  // interfaces 1, 2, 4, 8
  uint8_t cardReadOptions[4] = {0, 0, 0, 0};
  bool manualEntryCVV = true;
  bool manualEntryDate = true;
  int transactionType = 0;
  int transactionAmount = 0;
  int transactionCurrency = 0;
  int algorithm = 2;  // the card-data encryption and key last asked for
  int keyID = 1;
  // The card-data encryption in force (0: plain tracks), set with the head's encryption.
  int encryptionAlgorithm = 0;
  std::optional<std::vector<KXTLV>> messages;
  std::optional<std::vector<KXTLV>> messagesSound;
  KXEmsrMaskSettings mask;
  // The running transaction: its TLV bytes (card data: cleared when replaced) and timing.
  Bytes tags;
  uint32_t transactionDate = 0;
  // True once a short emulation flow has ended the transaction: a late finish is ignored.
  bool finishedEarly = false;
  // The one-shot cancel timer and the loop it was set on.
  foundation::RunLoop* timerLoop = nullptr;
  foundation::RunLoop::TimerId timer = 0;
};

// Largest user-interface text (256-byte area less id, font and the closing zero) and sound.
inline constexpr size_t kEmv2MaxMessageBytes = 252;
inline constexpr size_t kEmv2MaxSoundBytes = 254;
inline constexpr size_t kEmv2MaxApplications = 253;
inline constexpr size_t kEmv2MaxCustomData = 1024;
inline constexpr size_t kEmv2ChunkBytes = 1022;

// C0 [id 2][font][text][00]; fonts 3, 4 and 6 take UTF-8, others ASCII ("?" for anything
// else). Nothing when the text is longer than the area allows.
std::optional<KXTLV> emv2MakeUITag(int id, const std::optional<std::string>& message, int font);
// C0 [id 2][sound]; nothing when the sound is longer than the area allows.
std::optional<KXTLV> emv2MakeUISoundTag(int id, const std::optional<Bytes>& sound);
// The start command's time-out byte: seconds up to 240, then 240 + minutes, at most 255.
uint8_t emv2TimeoutByte(double seconds);

// The configuration version (E4 { C1 }), 0xFFFFFFFF when there is none or it cannot be read.
uint32_t emv2GetConfigurationVersion(const Bytes& blob);
// The blob with a CRC-32 version attached when its E4 carries version 0 (see the source).
std::optional<Bytes> emv2AttachConfigurationVersion(const Bytes& blob, uint32_t* version);
// The first 4 value bytes of the last `tag` item, big-endian; 0 when absent or shorter.
uint32_t emv2GetVersion(const std::vector<KXTLV>& tags, uint32_t tag);
// CRC-32 of IEEE 802.3 (reflected, initial 0xFFFFFFFF, final complement).
uint32_t emv2Crc32(const uint8_t* data, size_t length);
// Older (E2) to newer (E1) template form and back, converting the direct children's tags.
Bytes emv2PEProcessConfigurationBytes(const Bytes& blob);
Bytes emv2CCProcessConfigurationBytes(const Bytes& blob);
// Track answers of formats 13 and 16 as [byte 0]["h,base64|h,base64..."]; the raw answer
// when its blocks do not fit.
Bytes emv2PostProcessTracks(const Bytes& answer);

}  // namespace kestra
