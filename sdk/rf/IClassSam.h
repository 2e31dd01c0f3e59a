#pragma once
// The HID iClass SAM message layer. The host talks to a secure access module (SAM) for
// iClass and PicoPass credentials with BER-TLV messages wrapped in one extended-length APDU;
// the SAM may in turn ask the host to exchange RF frames with the card, and the host
// answers with the card's reply. This file holds the frame, the TLV parser and builder, the
// dispatcher that waits for SAM messages and routes them, and the SAM commands.
//
// Frame to the SAM: [A0 DA 02 63][00][length BE 2][44 0A 44 00 00 00][message][00 00].
// Frame from the SAM: byte 1 the source node (01 core, 14 RF, 44 application), bytes 6 to
// the end less two the message, and the status 90 00 at the end.
//
// The transport belongs to the host device (the sleeve's SAM slot): `IClassTransport`,
// installed with `iClassSetTransport`. SAM bytes arrive through `iClassDataAvailable` on the
// device's input thread, which must not block; the dispatcher runs on the caller's thread
// and waits on the `Clock` (2 s after the last SAM message). One SAM command at a time.
//
// Bad input: a message whose status is not 90 00 gives -2, an unexpected RF message -1,
// silence -1; SAM input beyond the 512-byte receive buffer is dropped and the waiting
// command fails with -9; a message that would not fit the 1,024-byte frame, or a tree
// beyond 100 nodes or 22 children, is refused with -9 before anything is sent. TLVs are
// read only within the bytes received.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace kestra {

inline constexpr int kSamFrameSize = 1024;
inline constexpr int kSamRxBufSize = 512;
inline constexpr int kSamMaxTlvLength = 4096;
inline constexpr int kSamMaxNodes = 100;
inline constexpr int kSamMaxChildren = 22;
inline constexpr int kSamDispatchWindowMs = 2000;
inline constexpr uint8_t kSamNodeCore = 0x01;
inline constexpr uint8_t kSamNodeRF = 0x14;
inline constexpr uint8_t kSamNodeApplication = 0x44;

class IClassTransport {
 public:
  virtual ~IClassTransport() = default;
  // Sends one frame to the SAM: 0, or -6 when the device gave no answer.
  virtual int iClassWrite(const uint8_t* data, int length) = 0;
  // One RF exchange with the card for the SAM: the answer length (answer in `out`) or a
  // negative code.
  virtual int iClassRFCommand(int protocol, int parameter, int flags, const uint8_t* data, int length,
                              foundation::Bytes* out, int timeoutMs) = 0;
  virtual void iClassReset() {}
};

void iClassSetTransport(std::shared_ptr<IClassTransport> transport);
// SAM bytes as they arrive (any thread; never blocks).
void iClassDataAvailable(const uint8_t* data, int length);

// ---- BER-TLV ---------------------------------------------------------------------------------

struct SamTlv {
  uint16_t tag = 0;  // one byte, or two when the first byte's low five bits are all set
  bool constructed = false;
  foundation::Bytes value;
};

// Reads one TLV at the front of `data`; the bytes it took in `consumed`. Nothing when the
// bytes are not one whole TLV or its length is above 4,096.
std::optional<SamTlv> tlvParse(const uint8_t* data, size_t length, size_t* consumed = nullptr);
// The first TLV with `tag`, in document order, descending into constructed values.
std::optional<SamTlv> tlvFind1(const uint8_t* data, size_t length, uint16_t tag);

// A tree of TLVs built for one message.
class TlvStore {
 public:
  // Adds a node under `parent` (-1: a root); its index, or -9 when the tree is full.
  // A node with children is constructed (0x20 in its first tag byte).
  int tlvStoreAdd(uint16_t tag, const uint8_t* value, size_t length, int parent);
  int tlvStoreAdd(uint16_t tag, const foundation::Bytes& value, int parent) {
    return tlvStoreAdd(tag, value.data(), value.size(), parent);
  }
  // Every root in order: tag, length (one byte below 128, else 82 and two bytes), value.
  foundation::Bytes tlvStoreExport() const;
  bool failed() const { return failed_; }

 private:
  struct Node {
    uint16_t tag;
    foundation::Bytes value;
    std::vector<int> children;
  };
  void exportNode(int index, foundation::Bytes& out) const;
  std::vector<Node> nodes_;
  std::vector<int> roots_;
  bool failed_ = false;
};

// The frame around a message (nothing when it does not fit).
std::optional<foundation::Bytes> samFrame(const foundation::Bytes& message);

// ---- SAM commands (the SAM's answer message to `out`; its length, or a negative code) --------

int samCommandGetVersionInfo(foundation::Bytes* out);
int samCommandGetSerialNumber(foundation::Bytes* out);
int samCommandTrackCard(foundation::Bytes* out);
int samCommandGetContentElement(int element, const uint8_t* pin, int pinLength, const uint8_t* rootOid,
                                int rootOidLength, foundation::Bytes* out);
int samCommandSetContentElement(int element, const uint8_t* first, int firstLength, const uint8_t* second,
                                int secondLength, const uint8_t* third, int thirdLength, foundation::Bytes* out);
int samCommandSetDetectedCardInfo(int kind, const uint8_t* id, int idLength, const uint8_t* extra, int extraLength,
                                  int a, int b);
int samCommandProcessSNMPMessage(const uint8_t* message, int length, foundation::Bytes* out);
// 0 when the SAM answers A5 { 82 ... }, -20 for another answer.
int samCommandProcessKeyRollerCard();
int samCommandProcessConfigCard();

// Host answers to the SAM's requests.
int hfCommandResponseRxData(const uint8_t* data, int length, uint16_t status);
int samResponseAcknowledge();

}  // namespace kestra
