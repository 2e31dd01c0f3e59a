#pragma once
// Commands for ISO 15693 tags and for ST SRI (ISO 14443B-based short-range) memory cards.
// Cards are addressed by their index in the card table; frames go out through
// `rfCardTransceive` on the card's channel and answers are read from the front's answer
// buffer. ISO 15693 frames are sent addressed at high data rate ([22][command][UID][...])
// and their answers start with the response flags byte; an answer whose error flag is set
// is the tag's refusal (a locked block, an unknown block) and fails with -20.
//
// Threads: the caller's; one command at a time (`rfCmdLock`). Results: 0 (or a count) on
// success, a negative SDK error code on failure; an index outside the table gives -9, a
// caller's buffer too small for what it asks for gives -9 and nothing is sent.

#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra {

// Accepts a tag a reader reported: 1 usable, 0 not.
int iso15InitCard(int cardIndex);
int iso15GetSystemInformation(int cardIndex);
// Reads `*count` blocks from `startBlock` into `out` (appended, blockSize bytes each). On
// return `*count` holds the blocks read; the first block that fails stops the read and its
// error is returned.
int iso15Read(int cardIndex, int startBlock, int* count, foundation::Bytes* out);
// Writes `*count` blocks from `startBlock` (`data` holds count x blockSize bytes); the
// first failure stops, `*count` = blocks written.
int iso15Write(int cardIndex, int startBlock, int* count, const foundation::Bytes& data);
int iso15LockBlock(int cardIndex, int block);
int iso15Select(int cardIndex);
int iso15ResetToReady(int cardIndex);
int iso15Halt(int cardIndex);
int iso15WriteAFI(int cardIndex, uint8_t afi);
int iso15LockAFI(int cardIndex);
int iso15WriteDSFID(int cardIndex, uint8_t dsfid);
int iso15LockDSFID(int cardIndex);
// The security status of `n` blocks from `first` (one byte each) into `out`; the count.
int iso15GetBlocksSecurityStatus(int cardIndex, int first, int n, foundation::Bytes* out);

int stInitCard(int cardIndex);
int stSRIReadBlock(int cardIndex, int block, uint8_t out[4]);
int stSRIWriteBlock(int cardIndex, int block, const uint8_t data[4]);
int stSRIGetUID(int cardIndex, uint8_t out[8]);
int stSRICompletion(int cardIndex);
int stSRIReset(int cardIndex);

}  // namespace kestra
