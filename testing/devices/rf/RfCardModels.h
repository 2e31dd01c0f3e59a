#pragma once
// Contactless cards as plain data, for the simulated RF readers: a card answers the frames
// a reader hands it (the ISO 14443 frames of the card, without the reader's own framing)
// the way the real card family does, and keeps its memory.
//
// Families: Mifare Classic 1K (sectors with keys A and B in their trailers, value blocks;
// a wrong key refuses the authentication), Mifare Ultralight and Ultralight C (pages of 4
// bytes; Ultralight C authenticates with two-key Triple-DES), ISO 14443-4 cards that answer
// APDUs (DESFire-style), and ISO 14443-B cards. Answers end with two CRC bytes as a reader
// passes them on.
//
// Threads: a card is used by one reader at a time; tests read its memory afterwards.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

struct RfCard {
  enum Family { MifareClassic, Ultralight, UltralightC, Iso14443_4, Iso14443B };
  Family family = MifareClassic;
  int channel = 1;  // 1 type A, 2 type B
  Bytes uid;
  uint16_t atqa = 0x0400;
  uint8_t sak = 0x08;
  std::vector<Bytes> blocks;  // Classic: 16-byte blocks; Ultralight: 4-byte pages
  Bytes ats;                  // ISO 14443-4
  std::function<Bytes(const Bytes& apdu)> apdu;  // ISO 14443-4: the answer with SW1 SW2
  Bytes ulcKey;               // Ultralight C: 16 bytes as the card holds them

  // Card state, reset when the card leaves the field.
  int authenticatedSector = -1;
  uint32_t valueRegister = 0;
  bool protocolActive = false;  // RATS or ATTRIB done
  Bytes ulcRndB;
  Bytes ulcIv;
  bool ulcAuthenticated = false;
  Bytes incoming;    // ISO 14443-4: a chained command being received
  Bytes pendingOut;  // ISO 14443-4: the rest of a chained answer
  int frames = 0;  // frames the card received

  static std::shared_ptr<RfCard> mifareClassic1K(Bytes uid);
  static std::shared_ptr<RfCard> ultralight(Bytes uid);
  static std::shared_ptr<RfCard> ultralightC(Bytes uid, Bytes key);
  static std::shared_ptr<RfCard> desfire(Bytes uid);
  static std::shared_ptr<RfCard> typeB(Bytes pupi);

  // Mifare Classic: the value block form of `value` (value, ~value, value, address bytes).
  static Bytes valueBlock(int32_t value, uint8_t address);
  // Sets both keys of `sector` (access bits stay the transport ones: either key works).
  void setKeys(int sector, const Bytes& keyA, const Bytes& keyB);

  // The detection record a reader reports for this card: [ATQA 2][SAK][UID] for type A,
  // [0][PUPI 4][...] for type B.
  Bytes detectionRecord() const;

  // The card's answer to one frame (nothing: the card stays silent).
  std::optional<Bytes> answer(const Bytes& frame);
  // Its answer to a key loaded in the reader, addressed by the reader (Mifare only).
  std::optional<Bytes> authenticate(uint8_t command, uint8_t block, const Bytes& key);
  void leaveField();

 private:
  std::optional<Bytes> nextBlock(uint8_t blockBit);
};

// CRC_A of ISO 14443-3 over `data`, appended as the card sends it (least significant first).
Bytes withCrcA(Bytes data);

}  // namespace devices
