#pragma once
// Reader-independent commands for ISO 14443 cards: classification of a type A card from
// its ATQA and SAK, RATS/ATS, ATTRIB for type B, ISO 14443-4 block transport with chaining,
// APDUs, halt, and the Mifare Classic, Ultralight and Ultralight C commands. Every command
// addresses a card by its index in the card table and goes out through `rfCardTransceive`
// on the card's channel; answers are read from the front's answer buffer. A frame whose
// first byte is 0 is a standard ISO 14443 frame given from its second byte; answers keep
// the card's two CRC bytes at the end.
//
// Threads: the caller's; one command at a time (`rfCmdLock`). Results: 0 (or a count) on
// success, a negative SDK error code on failure; an index outside the table gives -9.

#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra {

inline constexpr int kIsoMaxIBlock = 253;

int iso14InitCard(int cardIndex);
int iso14Attrib(int cardIndex, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4);
int iso14GetATS(int cardIndex, foundation::Bytes* out);
int iso14Halt(int cardIndex);
int iso14Transieve(int cardIndex, const uint8_t* data, int length, foundation::Bytes* out, uint8_t* status);
int iso14APDU(int cardIndex, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const foundation::Bytes& data,
              foundation::Bytes* out, int le, uint16_t* sw);
int iso14IsPresent(int cardIndex);

int mfHalt(int cardIndex);
int mfSelect(int cardIndex, bool force);
int mfLoadKey(int keyIndex, char keyType, const uint8_t key[6]);
int mfAuth(int cardIndex, char keyType, int block, const uint8_t key[6]);
int mfAuthByLoadedKey(int cardIndex, char keyType, int block, int keyIndex);
int mfRead16(int cardIndex, int block, uint8_t out[16]);
int mfWrite16(int cardIndex, int block, const uint8_t data[16]);
int mfWrite4(int cardIndex, int page, const uint8_t data[4]);
int mfIncrement(int cardIndex, int block, uint32_t value);
int mfDecrement(int cardIndex, int block, uint32_t value);
int mfTransfer(int cardIndex, int block);
int mfRestore(int cardIndex, int block);
int mfUlcSetKey(int cardIndex, const uint8_t key[16]);
int mfUlcAuth(int cardIndex, const uint8_t key[16]);

// Forgets which card is selected (a new reader session).
void mfResetSelection();

}  // namespace kestra
