#pragma once
// The front of the contactless card stack. The stack drives an RF reader chip that sits in
// a host device (the sleeve or the pinpad) but owns no transport: every frame for the
// reader goes to a comm delegate (`RFReaderTransport`), and the reader's bytes come back
// through `RFWrapper::dataAvaiable`. The front also keeps the process-wide card table that
// the reader drivers fill and the card commands address by index, the card-type names, and
// the last answer of an exchange (`rfCmdBuf`).
//
// Reader types: 1 pn544 (Pn544.h), 2 rc663 (Rc663.h), 4 omniKey (OmniKey.h); any other
// type fails with -16.
//
// Threads: card operations run on the caller's thread and block until the reader answers;
// reader input arrives on another thread (`dataAvaiable`). The table and the answer
// buffer are guarded by one lock; card commands are serialised by `rfCmdLock`. Card indexes
// and types from outside are bounded: an index outside the table gives -9, a type outside
// the names gives "Unknown".

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra {

using foundation::Bytes;

inline constexpr int kRFReaderPn544 = 1;
inline constexpr int kRFReaderRc663 = 2;
inline constexpr int kRFReaderOmniKey = 4;
inline constexpr int kRFMaxCards = 4;
inline constexpr size_t kRFCmdBufSize = 2058;

// Card-table channels.
inline constexpr int kRFChannelIso14443A = 1;
inline constexpr int kRFChannelIso14443B = 2;
inline constexpr int kRFChannelIso15693 = 3;
inline constexpr int kRFChannelFelica = 4;
inline constexpr int kRFChannelStSri = 5;
inline constexpr int kRFChannelPicoPass = 6;

// Card types (indexes into the names).
enum RFCardType : int {
  kCardUnknown = 0,
  kCardMifareMini = 1,
  kCardMifareClassic1K = 2,
  kCardMifareClassic4K = 3,
  kCardMifareUltralight = 4,
  kCardMifareUltralightC = 5,
  kCardIso14443A = 6,
  kCardMifarePlus = 7,
  kCardIso15693 = 8,
  kCardMifareDesfire = 9,
  kCardIso14443B = 10,
  kCardFelica = 11,
  kCardStSri = 12,
  kCardEmvPaymentA = 13,
  kCardPicoPass15693 = 14,
  kCardPicoPass14443B = 15,
  kCardEPassport = 16,
  kCardEmvPaymentB = 17,
  kCardLfc = 18,
};

// One detected card.
struct RFCardEntry {
  int32_t readerType = 0;
  int32_t channel = 0;
  int32_t type = 0;
  uint8_t UID[12] = {};
  int32_t uidLen = 0;
  int32_t size = 0;
  uint16_t ATQA = 0;
  uint16_t SAK = 0;
  uint8_t AFI = 0;
  uint8_t DSFID = 0;
  int32_t blockSize = 0;
  int32_t nBlocks = 0;
  uint8_t atsValid = 0;
  uint8_t ATS[35] = {};
  int32_t atsLen = 0;
  uint8_t PMm[8] = {};
  uint8_t requestData[2] = {};
  uint8_t requestDataLen = 0;
  int32_t dfHardwareVersion = 0;
};

// The host device that carries reader frames.
class RFReaderTransport {
 public:
  virtual ~RFReaderTransport() = default;
  // Writes `data` to the reader of `readerType`; nothing (and `error` filled) when it
  // failed. Answers come back through `RFWrapper::dataAvaiable`.
  virtual std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length,
                                             foundation::Error* error) = 0;
};

class RFWrapperDelegate {
 public:
  virtual ~RFWrapperDelegate() = default;
  // A card was found and is in entry `cardIndex`. Called on the reader-input thread.
  virtual void rfCardDetected(int cardIndex) = 0;
};

class RFWrapper {
 public:
  static void setCommDelegate(std::shared_ptr<RFReaderTransport> transport);
  static void setDelegate(std::shared_ptr<RFWrapperDelegate> delegate);
  static int getReaderType();
  static void setReaderType(int type);

  static bool init(int supportedCards, int sleepTimeoutMs, foundation::Error* error = nullptr) {
    return init(supportedCards, sleepTimeoutMs, 0, error);
  }
  static bool init(int supportedCards, int sleepTimeoutMs, int fieldGain, foundation::Error* error);
  static void close();
  // Reader bytes from the host device (any thread).
  static void dataAvaiable(const Bytes& data);
  static void rfMemLock();
  static void rfMemUnlock();

  static std::optional<Bytes> detectCard(int channel, const Bytes& additionalData, double timeoutSeconds,
                                         foundation::Error* error = nullptr);
  static bool resumeCardDetection(int cardIndex, foundation::Error* error = nullptr);
  // The omniKey's removal check, whatever the reader type.
  static bool omniResumeCardDetection(int cardIndex, foundation::Error* error = nullptr);
  static bool initCard(int cardIndex);
  static bool fieldControl(int channel, bool enabled, foundation::Error* error = nullptr);
  static bool setCustomSettings(int channel, const Bytes& settings, foundation::Error* error = nullptr);
  static std::optional<Bytes> readPaymentCardTracks(int cardIndex, const Bytes& tagList,
                                                    foundation::Error* error = nullptr);

  // The version of the rc663 module (0x0100 until a successful init says otherwise).
  static uint16_t rc663Version();
};

// ---- Services shared by the reader drivers and card commands -----------------------------

int rfInit();
// The active driver's exchange with the card on `channel`; the answer is in `rfCmdBuf`.
int rfCardTransceive(int channel, const uint8_t* data, int length);
int rfCardTransmit(int channel, const uint8_t* data, int length);
const char* rfGetCardTypeName(int cardIndex);
int rfCardDetected(int cardIndex);
int rc663Write(const uint8_t* data, int length);
int pn544Write(const uint8_t* data, int length);
// Sends to the omniKey reader; its answer (the comm delegate's result) goes to `answer`.
int omniKeyWrite(const uint8_t* data, int length, Bytes* answer);
void rfCmdLock();
void rfCmdUnlock();
// Holds `rfCmdLock` for a scope: one card command at a time, for its whole exchange.
struct RFCmdGuard {
  RFCmdGuard() { rfCmdLock(); }
  ~RFCmdGuard() { rfCmdUnlock(); }
  RFCmdGuard(const RFCmdGuard&) = delete;
  RFCmdGuard& operator=(const RFCmdGuard&) = delete;
};
// Sleeps the calling thread (on the `Clock`); the tick count in milliseconds.
void rfSleep(int ms);
int64_t rfGetTickCount();
// Debug log lines of the RF layer.
void rfDbg(const char* text);
void rfDbgData(const char* label, const uint8_t* data, int length);

// A copy of card entry `cardIndex` (nothing for an index outside the table) and a way to
// change one in place under the table's lock.
std::optional<RFCardEntry> rfCard(int cardIndex);
bool rfUpdateCard(int cardIndex, const std::function<void(RFCardEntry&)>& change);
int rfNextCardIndex();
void rfSetNextCardIndex(int index);
// The last exchange's answer.
Bytes rfCmdAnswer();
void rfSetCmdAnswer(const uint8_t* data, size_t length);

// Installed by a reader driver's init.
using RFTransceiveFunction = int (*)(int channel, const uint8_t* data, int length, int timeoutMs);
using RFTransmitFunction = int (*)(int channel, const uint8_t* data, int length);
void rfInstallDriver(RFTransceiveFunction transceive, RFTransmitFunction transmit);

}  // namespace kestra
