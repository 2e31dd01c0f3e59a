#pragma once
// The pn544 NFC controller (reader type 1), spoken to at two layers: a link layer of
// numbered frames ([length][header][payload][CRC-16/X-25, least significant byte first])
// and above it the host controller interface of ETSI TS 102 622 with its pipes, gates,
// commands, events and responses. The driver sets the controller up (link reset, admin
// pipe, one pipe per reader gate, polling loop), turns a target-discovered event into a
// card table entry, reads the card's identity from the gate's registers, exchanges card
// frames through the gates, and keeps a card from being reported again while it stays in
// the field.
//
// Link input (`pn544DataAvailable`) is taken on the reader thread under `rfMemLock`; it
// acknowledges every I-frame, drops a frame whose check fails (with the rest of the
// buffer), skips a length byte that cannot start a frame, and never holds more than
// `kPn544ReadBufSize` bytes. Commands run on the caller's thread, one at a time
// (`rfCmdLock` for the whole exchange), and wait on the `Clock` for the answer.

#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra {

inline constexpr int kPn544ReadBufSize = 128;
inline constexpr int kPn544DataBufSize = 512;
inline constexpr int kPn544FragmentSize = 28;
inline constexpr int kPn544AnswerWaitMs = 10010;  // 1,001 polls of 10 ms
inline constexpr int kPn544EventAckWaitMs = 100;
inline constexpr int kPn544ResetDelayMs = 100;

// Pipes the init creates (0 until then).
struct Pn544Pipes {
  int sysmgmt = 0, A = 0, B = 0, F = 0, NFCInit = 0, Jewel = 0, ISO15 = 0, PLMng = 0;
};
Pn544Pipes pn544GetPipes();

int pn544Init(int full, int supportedCards, int sleepTimeout);
int pn544Close();
// 1 when the card got a type, else 0.
int pn544InitCard(int cardIndex);
// -21 while the card still answers; else polling resumes and 0.
int pn544ResumeLoop(int cardIndex);
int pn544ResumeLoopCommand(int cardIndex);
int pn544CardTransceive(int channel, const uint8_t* data, int length, int timeoutMs);
int pn544CardTransmit(int channel, const uint8_t* data, int length);
void pn544DataAvailable(const uint8_t* data, int length);
int pn544GetRegister(uint32_t address, uint8_t* out);
int pn544SetRegister(uint32_t address, uint8_t value);
int pn544FelicaSetPollingParams(int requestCode, int systemCode);
// A raw ISO 14443A frame (at most 29 bytes) with its CRC_A; the answer without its status.
int mfRaw(int channel, const uint8_t* data, int length);
int mfActivate(int cardIndex);
int checkCardPresent();
int readFwVer();

// The link layer's pieces, for the controller's simulator and the fuzz target.
// CRC of ISO/IEC 14443: `init` 0x6363 (CRC_A) or 0xFFFF complemented (CRC_B, X-25).
uint16_t pn544Crc(const uint8_t* data, size_t length, uint16_t init, bool complement);
// [length][header][payload][check].
foundation::Bytes pn544Frame(uint8_t header, const foundation::Bytes& payload);

}  // namespace kestra
