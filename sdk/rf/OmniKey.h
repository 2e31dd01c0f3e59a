#pragma once
// The omniKey reader (reader type 4): a smart-card reader speaking USB CCID messages,
// reached through the host device like the other readers. It answers every request
// synchronously: `omniKeyWrite` returns the reader's answer bytes. The driver configures the
// reader's contactless protocols with escape APDUs, learns about cards from slot-change
// notifications (RDR_to_PC_NotifySlotChange), and turns the card protocols' frames into
// the PC/SC storage-card APDUs of the reader, plus a pass-through for raw APDUs and reader
// escape commands (frames beginning "OMNI").
//
// Cards found on slot n take entry n of the card table with channel 255; slots the table
// cannot hold (4 and above) are logged and ignored. Answers that are not a whole
// RDR_to_PC_DataBlock (shorter than ten bytes, another message type, fewer bytes than
// announced) fail with -1; an APDU the reader refuses (status other than 90 00) gives -20.
//
// Threads: input (`omniKeyDataAvailable`) arrives on a reader thread under `rfMemLock`;
// exchanges run on the caller's thread.

#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra {

inline constexpr uint8_t kCcidXfrBlock = 0x6F;
inline constexpr uint8_t kCcidDataBlock = 0x80;
inline constexpr uint8_t kCcidNotifySlotChange = 0x50;
inline constexpr int kCcidHeaderSize = 10;
inline constexpr int kOmniKeyMaxApdu = 502;
inline constexpr int kOmniKeyReadBufSize = 128;
inline constexpr int kOmniKeyInitDelayMs = 200;
inline constexpr int kOmniKeyCardChannel = 255;

int omniKeyInit(int full, int supportedCards);
int omniKeyClose();
// -20 while the card's slot holds a card, else 0.
int omniKeyResumeLoop(int cardIndex);
int omniKeyInitCard(int cardIndex);
int omniKeyFelicaSetPollingParams(int requestCode, int systemCode);
int omniKeyCardTransceive(int channel, const uint8_t* data, int length, int timeoutMs);
int omniKeyCardTransmit(int channel, const uint8_t* data, int length);
void omniKeyDataAvailable(const uint8_t* data, int length);

// One APDU to `slot` in a PC_to_RDR_XfrBlock: the answer's data (without the status word)
// to `out`, the status word to `sw`; the data length, or -1 for an answer that is not a
// whole data block.
int iClassAPDU(int slot, const uint8_t* apdu, int length, uint16_t* sw, foundation::Bytes* out);
// Reads one RDR_to_PC_DataBlock: its data (status word included) to `data`; -1 when the
// bytes are not one.
int omniKeyParseDataBlock(const uint8_t* answer, size_t length, foundation::Bytes* data);

}  // namespace kestra
