#pragma once
// Contactless cards as plain data, for the simulated RF readers: a card answers the frames
// a reader hands it (the ISO 14443 frames of the card, without the reader's own framing)
// the way the real card family does, and keeps its memory.
//
// Families: Mifare Classic 1K (sectors with keys A and B in their trailers, value blocks;
// a wrong key refuses the authentication), Mifare Ultralight and Ultralight C (pages of 4
// bytes; Ultralight C authenticates with two-key Triple-DES), ISO 14443-4 cards that answer
// APDUs (DESFire-style), and ISO 14443-B cards. Answers end with two CRC bytes as a reader
// passes them on. The memory cards of RfMemoryCards.cpp: ISO 15693 tags (inventory data,
// single blocks, block/AFI/DSFID locks; a locked block refuses writes with error 12),
// FeliCa cards (polling, Read and Write Without Encryption over services, a read-only
// service refusing writes) with the e-paper smart tag's command service, ST SRI memories
// (4-byte blocks, a lock register at block 255) and iClass (PicoPass) credentials that
// answer the reads a SAM asks for. Their answers carry no CRC; FeliCa answers start with
// their length byte.
//
// Threads: a card is used by one reader at a time; tests read its memory afterwards.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

struct RfCard {
  enum Family { MifareClassic, Ultralight, UltralightC, Iso14443_4, Iso14443B, Iso15693, Felica, StSri, IClass };
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

  // ---- Memory cards (RfMemoryCards.cpp) ----
  // ISO 15693: `blocks` of `blockSize` bytes; locks per block, AFI and DSFID.
  std::vector<bool> lockedBlocks;
  uint8_t afi = 0, dsfid = 0;
  bool afiLocked = false, dsfidLocked = false;
  bool systemInfoHasMemory = true;  // Get System Information tells the memory size
  int systemInfoCut = 0;            // bytes left off the end of that answer
  // FeliCa: the IDm is `uid`; services (as sent, high byte first) of 16-byte blocks.
  Bytes pmm;
  std::map<uint16_t, std::vector<Bytes>> services;
  std::set<uint16_t> readOnlyServices;
  int felicaSilentReads = 0;  // the next reads that get no answer
  // The smart tag's state.
  struct SmartTag {
    uint8_t sequence = 0;
    uint8_t battery = 0x03;
    int busyReads = 0;         // status reads still answered busy
    int busyAfterCommand = 1;  // busy reads after a drawing or memory command
    Bytes memory = Bytes(4096, 0);
    Bytes screen;                    // every image packet's data, in order
    std::vector<Bytes> commandBlocks;  // every command block written
    std::map<int, Bytes> layouts;      // saved layouts
    int displayedLayout = -1;
    Bytes readBack;  // the answer blocks of a read-memory command
  };
  bool smartTag = false;
  SmartTag tag;

  static std::shared_ptr<RfCard> iso15693(Bytes uid, int nBlocks = 28, int blockSize = 4);
  static std::shared_ptr<RfCard> felica(Bytes idm, bool smartTag = false);
  static std::shared_ptr<RfCard> stSri(Bytes uid, int nBlocks = 16);
  static std::shared_ptr<RfCard> iClass(Bytes serial);

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
  std::optional<Bytes> answerIso15693(const Bytes& frame);
  std::optional<Bytes> answerFelica(const Bytes& frame);
  std::optional<Bytes> answerSri(const Bytes& frame);
  std::optional<Bytes> answerIClass(const Bytes& frame);
  void smartTagCommand(const Bytes& commandBlock, const Bytes& data);
};

// CRC_A of ISO 14443-3 over `data`, appended as the card sends it (least significant first).
Bytes withCrcA(Bytes data);

}  // namespace devices
