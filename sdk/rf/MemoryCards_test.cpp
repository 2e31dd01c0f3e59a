// ISO 15693 tags, FeliCa cards with the e-paper smart tag, and ST SRI memories, read and
// written through the rc663 reader module.

#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"
#include "sdk/rf/Felica.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFTestSupport.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {
namespace {
namespace memory_cards_test {

using devices::RfCard;
using foundation::fromHex;
using foundation::toHex;
using rftest::RfBench;

Bytes hex(const char* h) { return *fromHex(h); }

constexpr int kAllCards = 0x67;  // A, B, FeliCa, ISO 15693, ST SRI

TEST(Iso15693, TagIsDetectedWithItsSystemInformation) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::iso15693(hex("01020304050604E0"), 28, 4);
  tag->dsfid = 0x11;
  tag->afi = 0x22;
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);
  const RFCardEntry e = *rfCard(index);
  EXPECT_EQ(e.channel, kRFChannelIso15693);
  EXPECT_EQ(e.type, kCardIso15693);
  EXPECT_STREQ(rfGetCardTypeName(index), "ISO 15693");
  EXPECT_EQ(toHex(Bytes(e.UID, e.UID + e.uidLen)), toHex(tag->uid));
  EXPECT_EQ(e.blockSize, 4);
  EXPECT_EQ(e.nBlocks, 28);
  EXPECT_EQ(e.DSFID, 0x11);
  EXPECT_EQ(e.AFI, 0x22);
}

TEST(Iso15693, ManufacturerShortcutSkipsSystemInformation) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::iso15693(hex("0A0B0C0D0E201600"), 8, 4);  // manufacturer 0x16, chip 0x20
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);
  EXPECT_EQ(rfCard(index)->blockSize, 0);
  EXPECT_EQ(tag->frames, 0);  // nothing was asked of the tag
}

TEST(Iso15693, ShortSystemInformationIsRefused) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::iso15693(hex("11121314151604E0"), 8, 4);
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);
  // Answers whose flags promise fields that are not there.
  for (int cut : {2, 4, 5, 14}) {
    SCOPED_TRACE(cut);
    tag->systemInfoCut = cut;
    EXPECT_EQ(iso15GetSystemInformation(index), -6);
  }
  tag->systemInfoCut = 0;
  EXPECT_EQ(iso15GetSystemInformation(index), 0);
  EXPECT_EQ(rfCard(index)->nBlocks, 8);
  EXPECT_EQ(iso15GetSystemInformation(7), -9);  // outside the table
}

TEST(Iso15693, BlocksAreReadWrittenAndLockedBlocksRefused) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::iso15693(hex("A1A2A3A4A5A604E0"), 16, 4);
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);

  int count = 3;
  ASSERT_EQ(iso15Write(index, 2, &count, hex("000102031011121320212223")), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(tag->blocks[3], hex("10111213"));
  Bytes out;
  count = 3;
  ASSERT_EQ(iso15Read(index, 2, &count, &out), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(toHex(out), "000102031011121320212223");

  ASSERT_EQ(iso15LockBlock(index, 3), 0);
  Bytes security;
  ASSERT_EQ(iso15GetBlocksSecurityStatus(index, 2, 3, &security), 3);
  EXPECT_EQ(toHex(security), "000100");
  // A write over the locked block stops there and says so.
  count = 3;
  EXPECT_EQ(iso15Write(index, 2, &count, hex("AAAAAAAABBBBBBBBCCCCCCCC")), -20);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(tag->blocks[3], hex("10111213"));
  EXPECT_EQ(iso15LockBlock(index, 3), -20);  // already locked

  // A read past the end stops at the first missing block with what was read before it.
  out.clear();
  count = 3;
  EXPECT_EQ(iso15Read(index, 14, &count, &out), -20);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(out.size(), 8u);
  count = 0;
  EXPECT_EQ(iso15Read(index, 0, &count, &out), -20);
  // Data shorter than the blocks asked for is refused before anything is sent.
  const int before = tag->frames;
  count = 2;
  EXPECT_EQ(iso15Write(index, 0, &count, hex("01020304")), -9);
  EXPECT_EQ(tag->frames, before);
}

TEST(Iso15693, AfiAndDsfidAreWrittenThenLocked) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::iso15693(hex("B1B2B3B4B5B604E0"), 8, 4);
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);
  ASSERT_EQ(iso15WriteAFI(index, 0x33), 0);
  ASSERT_EQ(iso15WriteDSFID(index, 0x44), 0);
  EXPECT_EQ(rfCard(index)->AFI, 0x33);
  EXPECT_EQ(rfCard(index)->DSFID, 0x44);
  ASSERT_EQ(iso15LockAFI(index), 0);
  ASSERT_EQ(iso15LockDSFID(index), 0);
  EXPECT_EQ(iso15WriteAFI(index, 0x55), -20);
  EXPECT_EQ(iso15WriteDSFID(index, 0x66), -20);
  EXPECT_EQ(tag->afi, 0x33);
  EXPECT_EQ(rfCard(index)->AFI, 0x33);
  EXPECT_EQ(rfCard(index)->DSFID, 0x44);
  for (auto f : {iso15Select, iso15ResetToReady, iso15Halt}) EXPECT_EQ(f(index), 0);
  bench.module->remove(tag);
  EXPECT_EQ(iso15Select(index), -6);  // the card left: the module's time-out
}

TEST(StSri, BlocksAreReadWrittenAndLockedBlocksRefused) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto card = RfCard::stSri(hex("D00233AABBCCDDEE"));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  EXPECT_EQ(rfCard(index)->type, kCardStSri);
  EXPECT_EQ(rfCard(index)->blockSize, 4);
  uint8_t uid[8];
  ASSERT_EQ(stSRIGetUID(index, uid), 0);
  EXPECT_EQ(Bytes(uid, uid + 8), card->uid);

  const Bytes data = hex("CAFEBABE");
  ASSERT_EQ(stSRIWriteBlock(index, 7, data.data()), 0);
  uint8_t block[4];
  ASSERT_EQ(stSRIReadBlock(index, 7, block), 0);
  EXPECT_EQ(Bytes(block, block + 4), data);
  // Lock block 7 through the lock register; a later write is refused and changes nothing.
  const Bytes lock = hex("01FFFFFF");
  ASSERT_EQ(stSRIWriteBlock(index, 255, lock.data()), 0);
  const Bytes other = hex("00000000");
  EXPECT_LT(stSRIWriteBlock(index, 7, other.data()), 0);
  ASSERT_EQ(stSRIReadBlock(index, 7, block), 0);
  EXPECT_EQ(Bytes(block, block + 4), data);
  EXPECT_EQ(stSRICompletion(index), 0);
  EXPECT_EQ(stSRIReset(index), 0);
  // A reader answer that is not one block is refused.
  EXPECT_EQ(stSRIReadBlock(index, 200, block), -6);
}

TEST(Felica, CardIsPolledReadAndWritten) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto card = RfCard::felica(hex("0102030405060708"));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  const RFCardEntry e = *rfCard(index);
  EXPECT_EQ(e.type, kCardFelica);
  EXPECT_EQ(e.blockSize, 16);
  EXPECT_EQ(toHex(Bytes(e.PMm, e.PMm + 8)), toHex(card->pmm));

  uint8_t idm[8];
  ASSERT_EQ(felicaPoll(index, idm), 0);
  EXPECT_EQ(Bytes(idm, idm + 8), card->uid);

  Bytes data(32);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  ASSERT_EQ(felicaWrite(index, 0x1009, 2, 2, data), 0);
  Bytes out;
  ASSERT_EQ(felicaRead(index, 0x1009, 2, 2, &out), 0);
  EXPECT_EQ(out, data);
  // A read-only service refuses writes with its status flags.
  EXPECT_EQ(felicaWrite(index, 0x0B00, 0, 1, data), -20);
  EXPECT_EQ(card->services[0x0B00][0], Bytes(16, 0x5A));
  EXPECT_EQ(felicaRead(index, 0x4444, 0, 1, &out), -20);  // no such service
  // Reads are tried again when the card does not answer, up to three times.
  card->felicaSilentReads = 2;
  ASSERT_EQ(felicaRead(index, 0x1009, 2, 1, &out), 0);
  EXPECT_EQ(out, Bytes(data.begin(), data.begin() + 16));
  card->felicaSilentReads = 3;
  EXPECT_EQ(felicaRead(index, 0x1009, 2, 1, &out), -6);
  card->felicaSilentReads = 0;

  Bytes raw;
  const uint8_t params[] = {0x01, 0x10, 0x09, 0x01, 0x80, 0x02};
  ASSERT_EQ(felicaRawCommand(index, 0x06, params, sizeof params, &raw), 0);
  EXPECT_EQ(raw[0], 0x07);  // response code, then the flags without the IDm
  EXPECT_EQ(toHex(Bytes(raw.begin() + 1, raw.begin() + 4)), "000001");
}

TEST(FelicaSmartTag, StatusBatteryAndSequence) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::felica(hex("1112131415161718"), true);
  tag->tag.battery = 2;
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);
  int battery = -1;
  ASSERT_EQ(felicaSmartTagGetBatteryStatus(index, &battery), 0);
  EXPECT_EQ(battery, 2);
  // The status request carries sequence 0; other commands count 1..255 and never 0.
  felicaSetSmartTagSequence(254);
  ASSERT_EQ(felicaSmartTagSaveLayout(index, 1), 0);
  ASSERT_EQ(felicaSmartTagSaveLayout(index, 2), 0);
  ASSERT_EQ(felicaSmartTagSaveLayout(index, 3), 0);
  const auto& blocks = tag->tag.commandBlocks;
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(blocks[0][0], 0xD0);
  EXPECT_EQ(blocks[0][4], 0);
  EXPECT_EQ(blocks[blocks.size() - 3][4], 255);
  EXPECT_EQ(blocks[blocks.size() - 2][4], 1);
  EXPECT_EQ(blocks.back()[4], 2);
  EXPECT_EQ(toHex(Bytes(blocks.back().begin() + 8, blocks.back().end())), "0300000000000000");

  // A tag that stays busy: waiting gives up after eleven status reads.
  tag->tag.busyReads = 100;
  EXPECT_EQ(felicaSmartTagWaitCompletion(index), -20);
  EXPECT_EQ(tag->tag.busyReads, 100 - 11);
  EXPECT_EQ(felicaSmartTagGetStatus(index, nullptr, true, true), 0);  // any status will do
  tag->tag.busyReads = 3;
  Bytes status;
  ASSERT_EQ(felicaSmartTagGetStatus(index, &status, false, true), 0);
  EXPECT_EQ(status[3], 0xF0);
}

TEST(FelicaSmartTag, ImagesLayoutsAndMemory) {
  RfBench bench;
  ASSERT_TRUE(RFWrapper::init(kAllCards, 300));
  auto tag = RfCard::felica(hex("2122232425262728"), true);
  const int index = bench.present(tag);
  ASSERT_GE(index, 0);

  // A 10 x 20 image at x = 3: rows of 2 bytes, 40 bytes, 3 blocks in one packet.
  Bytes image(40);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(0xA0 + i);
  tag->tag.commandBlocks.clear();
  ASSERT_EQ(felicaSmartTagDrawImage(index, 3, 5, 10, 20, 1, 4, image), 0);
  const Bytes draw = tag->tag.commandBlocks[0];
  EXPECT_EQ(toHex(Bytes(draw.begin(), draw.begin() + 4)), "A0010130");
  EXPECT_EQ(toHex(Bytes(draw.begin() + 8, draw.end())), "0106030302010403");
  EXPECT_EQ(Bytes(tag->tag.screen.begin(), tag->tag.screen.begin() + 40), image);
  // An empty image sends only the status request.
  tag->tag.commandBlocks.clear();
  ASSERT_EQ(felicaSmartTagDrawImage(index, 0, 0, 0, 20, 0, 0, {}), 0);
  ASSERT_EQ(tag->tag.commandBlocks.size(), 1u);
  EXPECT_EQ(tag->tag.commandBlocks[0][0], 0xD0);
  // A large image goes in packets of eleven blocks.
  tag->tag.commandBlocks.clear();
  ASSERT_EQ(felicaSmartTagDrawImage(index, 0, 0, 200, 10, 0, 0, Bytes(250, 0x0F)), 0);
  EXPECT_EQ(tag->tag.commandBlocks.size(), 3u);  // 16 blocks: 11 + 5, then the status
  EXPECT_EQ(tag->tag.commandBlocks[1][1], 2);
  EXPECT_EQ(tag->tag.commandBlocks[1][2], 2);
  EXPECT_EQ(felicaSmartTagDrawImage(index, 0, 0, 16, 2, 0, 0, Bytes(3)), -9);  // image too short

  ASSERT_EQ(felicaSmartTagClearScreen(index), 0);
  EXPECT_TRUE(tag->tag.screen.empty());
  ASSERT_EQ(felicaSmartTagDisplayLayout(index, 7), 0);
  EXPECT_EQ(tag->tag.displayedLayout, 7);

  // User memory: 200 bytes written in two packets, read back exactly.
  Bytes memory(200);
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = uint8_t(i * 3);
  tag->tag.busyAfterCommand = 2;
  ASSERT_EQ(felicaSmartTagWrite(index, 0x0100, memory), 0);
  EXPECT_EQ(Bytes(tag->tag.memory.begin() + 0x100, tag->tag.memory.begin() + 0x100 + 200), memory);
  Bytes back;
  ASSERT_EQ(felicaSmartTagRead(index, 0x0100, 200, &back), 0);
  EXPECT_EQ(back, memory);
  ASSERT_EQ(felicaSmartTagRead(index, 0x0105, 3, &back), 0);
  EXPECT_EQ(back, Bytes(memory.begin() + 5, memory.begin() + 8));
}

}  // namespace memory_cards_test
}  // namespace
}  // namespace kestra
