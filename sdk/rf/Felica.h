#pragma once
// Commands for FeliCa cards (polling, raw commands, Read and Write Without Encryption) and,
// on top of them, for FeliCa e-paper smart tags: status and battery, clearing the screen,
// drawing a 1-bit image, saving and showing stored layouts, and the tag's user memory.
//
// Cards are addressed by their index in the card table (the UID field holds the IDm);
// frames ([length][command][IDm][parameters], the length counting itself) go out through
// `rfCardTransceive` on the card's channel. The reader driver removes the FeliCa length
// byte from answers, so an answer in the answer buffer starts with the response code.
// Service codes are given as 16-bit values and sent high byte first (the smart tag's
// service 0x0900 goes out as 09 00).
//
// Threads: the caller's; one command at a time (`rfCmdLock`). Results: 0 (or a count) on
// success, a negative SDK error code on failure: status flags other than 00 00 give -20,
// short answers -6; an index outside the table, or a buffer too small for the request,
// gives -9 and nothing is sent.

#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra {

inline constexpr uint16_t kFelicaSmartTagService = 0x0900;
inline constexpr int kFelicaBlockSize = 16;
// Blocks of image or memory data carried by one smart-tag command.
inline constexpr int kFelicaSmartTagBlocksPerPacket = 11;
inline constexpr int kFelicaSmartTagStatusRetries = 10;
inline constexpr int kFelicaSmartTagRetryDelayMs = 100;

int felicaInitCard(int cardIndex);
// Polling (system code FFFF, request code 0, one slot); the IDm (8 bytes) to `out`.
int felicaPoll(int cardIndex, uint8_t out[8]);
// One frame [length][data]; `cardIndex` with bit 7 set names a reader channel instead.
int felicaTransieve(int cardIndex, const uint8_t* data, int length, foundation::Bytes* out);
// [length][command][IDm][data]; `out` receives the response code followed by what follows
// the IDm.
int felicaRawCommand(int cardIndex, uint8_t command, const uint8_t* data, int length, foundation::Bytes* out);
// Read Without Encryption of `count` blocks from `startBlock` (count x 16 bytes to `out`).
int felicaRead(int cardIndex, uint16_t service, int startBlock, int count, foundation::Bytes* out);
// Write Without Encryption of `count` blocks (`data` holds count x 16 bytes).
int felicaWrite(int cardIndex, uint16_t service, int startBlock, int count, const foundation::Bytes& data);

// The tag's 16-byte status block (byte 3 status F0/F1 ready, F2 busy; byte 4 sequence;
// byte 6 battery). `wait`: retry while busy; `anyStatus`: a tag that stays busy is 0.
int felicaSmartTagGetStatus(int cardIndex, foundation::Bytes* out, bool anyStatus, bool wait);
int felicaSmartTagWaitCompletion(int cardIndex);
int felicaSmartTagGetBatteryStatus(int cardIndex, int* battery);
int felicaSmartTagClearScreen(int cardIndex);
// A 1-bit image, rows of ceil(width / 8) bytes, `height` rows.
int felicaSmartTagDrawImage(int cardIndex, int x, int y, int width, int height, int drawMode, int layout,
                            const foundation::Bytes& image);
int felicaSmartTagSaveLayout(int cardIndex, int layout);
int felicaSmartTagDisplayLayout(int cardIndex, int layout);
int felicaSmartTagWrite(int cardIndex, int address, const foundation::Bytes& data);
// Reads `length` bytes of user memory into `out` (exactly `length` bytes; the tag's whole
// blocks are cut to it).
int felicaSmartTagRead(int cardIndex, int address, int length, foundation::Bytes* out);

// The sequence number of the last smart-tag command.
uint8_t felicaSmartTagSequence();
void felicaSetSmartTagSequence(uint8_t sequence);

}  // namespace kestra
