#include "sdk/rf/RFWrapper.h"

#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/RFTestSupport.h"
#include "sdk/rf/Rc663.h"
#include "platform/foundation/RunLoop.h"

namespace kestra {
namespace {

using devices::RfCard;
using foundation::fromHex;
using foundation::toHex;
using rftest::RfBench;

Bytes hex(const char* h) { return *fromHex(h); }

TEST(RFReader, TypeACardsAreClassifiedFromAtqaAndSak) {
  struct Case {
    uint16_t atqa;
    uint8_t sak;
    int type;
  };
  const Case cases[] = {
      {0x0400, 0x08, kCardMifareClassic1K}, {0x4400, 0x08, kCardMifareClassic1K}, {0x0200, 0x08, kCardMifarePlus},
      {0x0800, 0x08, kCardUnknown},         {0x4400, 0x00, kCardMifareUltralight}, {0x0200, 0x18, kCardMifareClassic4K},
      {0x0400, 0x09, kCardMifareMini},      {0x0400, 0x20, kCardEmvPaymentA},     {0x0400, 0x28, kCardEmvPaymentA},
      {0x0400, 0x60, kCardEmvPaymentA},     {0x0300, 0x60, kCardIso14443A},       {0x0300, 0x21, kCardIso14443A},
  };
  RfBench bench;
  ASSERT_TRUE(bench.init());
  for (const auto& c : cases) {
    SCOPED_TRACE(toHex(Bytes{uint8_t(c.atqa >> 8), uint8_t(c.atqa), c.sak}));
    auto card = RfCard::mifareClassic1K(hex("A1B2C3D4"));
    card->atqa = c.atqa;
    card->sak = c.sak;
    const int index = bench.present(card);
    ASSERT_GE(index, 0);
    EXPECT_EQ(rfCard(index)->type, c.type);
    bench.module->remove(card);
  }
}

TEST(RFReader, CardsFillTheTableInTurnAndAreNamed) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  std::vector<int> indexes;
  for (int i = 0; i < 5; ++i) {
    auto card = RfCard::mifareClassic1K(Bytes{0x10, uint8_t(i), 0x30, 0x40});
    indexes.push_back(bench.present(card));
    bench.module->remove(card);
  }
  EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, 3, 0}));
  EXPECT_STREQ(rfGetCardTypeName(0), "Mifare Classic 1K");
  const RFCardEntry first = *rfCard(0);
  EXPECT_EQ(toHex(Bytes(first.UID, first.UID + first.uidLen)), "10043040");
  EXPECT_STREQ(rfGetCardTypeName(7), "Unknown");  // outside the table
  EXPECT_FALSE(rfCard(4));
  // UIDs of 7 and 10 bytes are kept whole.
  for (const char* uid : {"04112233445566", "04112233445566778899"}) {
    auto card = RfCard::ultralight(hex(uid));
    const int index = bench.present(card);
    ASSERT_GE(index, 0);
    const RFCardEntry entry = *rfCard(index);
    EXPECT_EQ(toHex(Bytes(entry.UID, entry.UID + entry.uidLen)), uid);
    bench.module->remove(card);
  }
}

TEST(RFReader, MifareClassicReadsWritesAndCountsWithTheRightKeyOnly) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  auto card = RfCard::mifareClassic1K(hex("CAFE0001"));
  const uint8_t keyA[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  const uint8_t wrong[6] = {1, 2, 3, 4, 5, 6};
  card->setKeys(1, Bytes(keyA, keyA + 6), Bytes(6, 0xB0));
  card->blocks[5] = RfCard::valueBlock(100, 5);
  const int index = bench.present(card);
  ASSERT_GE(index, 0);

  EXPECT_LT(mfAuth(index, 'A', 4, wrong), 0);
  uint8_t block[16];
  EXPECT_LT(mfRead16(index, 4, block), 0);  // not authenticated: refused
  ASSERT_EQ(mfAuth(index, 'A', 4, keyA), 0);
  const Bytes data = hex("00112233445566778899AABBCCDDEEFF");
  ASSERT_EQ(mfWrite16(index, 4, data.data()), 0);
  ASSERT_EQ(mfRead16(index, 4, block), 0);
  EXPECT_EQ(Bytes(block, block + 16), data);
  EXPECT_EQ(card->blocks[4], data);

  ASSERT_EQ(mfIncrement(index, 5, 25), 0);
  ASSERT_EQ(mfTransfer(index, 5), 0);
  ASSERT_EQ(mfDecrement(index, 5, 5), 0);
  ASSERT_EQ(mfTransfer(index, 5), 0);
  EXPECT_EQ(card->blocks[5], RfCard::valueBlock(120, 5));

  // A key stored in the reader authenticates as well.
  ASSERT_EQ(mfLoadKey(2, 'B', Bytes(6, 0xB0).data()), 0);
  EXPECT_EQ(mfAuthByLoadedKey(index, 'B', 4, 2), 0);
  // Another sector's block is refused with the card's NAK.
  EXPECT_EQ(mfRead16(index, 8, block), -9);
}

TEST(RFReader, UltralightPagesAndUltralightCAuthentication) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  auto card = RfCard::ultralight(hex("04A1B2C3D4E5F6"));
  int index = bench.present(card);
  ASSERT_GE(index, 0);
  const Bytes page = hex("DEADBEEF");
  ASSERT_EQ(mfWrite4(index, 4, page.data()), 0);
  uint8_t out[16];
  ASSERT_EQ(mfRead16(index, 4, out), 0);
  EXPECT_EQ(Bytes(out, out + 4), page);
  EXPECT_EQ(mfWrite4(index, 1, page.data()), -20);  // a locked page: the Ultralight NAK 4
  bench.module->remove(card);

  // The key of the card's data sheet.
  const Bytes key = hex("49454D4B41455242214E4143554F5946");
  auto ulc = RfCard::ultralightC(hex("04C1C2C3C4C5C6"), key);
  index = bench.present(ulc);
  ASSERT_GE(index, 0);
  EXPECT_EQ(mfUlcAuth(index, key.data()), 0);
  EXPECT_TRUE(ulc->ulcAuthenticated);
  const Bytes other = hex("00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(mfUlcAuth(index, other.data()), -6);  // the card stays silent to a wrong key
  // A new key written by the host authenticates afterwards.
  ASSERT_EQ(mfUlcSetKey(index, other.data()), 0);
  EXPECT_EQ(mfUlcAuth(index, other.data()), 0);
}

TEST(RFReader, Iso14443FourApdusAndChainedAnswers) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  auto card = RfCard::desfire(hex("04DE5F1122334455"));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  EXPECT_EQ(rfCard(index)->type, kCardMifareDesfire);
  EXPECT_EQ(rfCard(index)->dfHardwareVersion, 0x0100);
  EXPECT_EQ(rfCard(index)->atsValid, 1);

  Bytes out;
  uint16_t sw = 0;
  ASSERT_EQ(iso14APDU(index, 0x00, 0xA4, 0x04, 0x00, hex("A0000000031010"), &out, 0, &sw), 7);
  EXPECT_EQ(sw, 0x9000);
  EXPECT_EQ(toHex(out), "A0000000031010");
  // 300 bytes come back over several chained blocks.
  ASSERT_EQ(iso14APDU(index, 0x00, 0xCA, 0x00, 0x00, {}, &out, 0, &sw), 300);
  EXPECT_EQ(out[299], uint8_t(299 & 0xFF));
  EXPECT_EQ(sw, 0x9000);
  EXPECT_EQ(iso14IsPresent(index), 1);
  // A command longer than one block goes out chained.
  const Bytes big(260, 0x5A);
  uint8_t status = 0;
  ASSERT_EQ(iso14Transieve(index, big.data(), int(big.size()), &out, &status), 0);
  // The card took it as one APDU (Lc 0x5A) and echoed its data.
  EXPECT_EQ(status, 0x5A);
  EXPECT_EQ(out.size(), size_t(0x5A + 2));
  EXPECT_EQ(out[out.size() - 2], 0x90);
}

TEST(RFReader, TypeBCardsGetAttribAndDetectionWorksOnRequest) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  auto card = RfCard::typeB(hex("11223344"));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  EXPECT_EQ(rfCard(index)->type, kCardEmvPaymentB);
  EXPECT_EQ(rfCard(index)->atsValid, 1);
  Bytes out;
  uint16_t sw = 0;
  EXPECT_EQ(iso14APDU(index, 0x00, 0xB0, 0x00, 0x00, {}, &out, 0, &sw), 0);
  EXPECT_EQ(sw, 0x9000);

  foundation::Error error;
  auto record = RFWrapper::detectCard(kRFChannelIso14443B, {}, 1.0, &error);
  ASSERT_TRUE(record) << error.text;
  EXPECT_EQ(rfCard(0)->type, kCardEmvPaymentB);
  EXPECT_FALSE(RFWrapper::detectCard(kRFChannelIso14443A, {}, 1.0, &error));
}

TEST(RFReader, ASilentModuleTimesOutAndUnknownReadersAreRefused) {
  foundation::ScopedManualClock clock;
  RfBench bench;
  bench.module->setSilent(true);
  foundation::Error error;
  std::atomic<bool> done{false};
  bool ok = true;
  std::thread t([&] {
    ok = bench.init(&error);
    done = true;
  });
  while (!done) {
    if (bench.module->commandsOf(kRc663Init) == 1) clock->advance(std::chrono::seconds(2));
    std::this_thread::yield();
  }
  t.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error.code, -6);
  RFWrapper::setReaderType(3);
  EXPECT_FALSE(RFWrapper::init(1, 300, &error));
  EXPECT_EQ(error.code, -16);
  EXPECT_FALSE(RFWrapper::fieldControl(1, true) && false);
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

// Older modules leave it to the host to keep a card lying on the reader from being
// reported again: the same UID within half a second of its last sighting is not reported,
// and each sighting renews that time.
TEST(RFReader, ACardLyingOnAnOlderReaderIsReportedOnceUntilItHasBeenAway) {
  foundation::ScopedManualClock clock;
  rftest::RfBench bench;
  bench.module->version = 0x0100;
  ASSERT_TRUE(bench.init());
  auto card = devices::RfCard::mifareClassic1K(*foundation::fromHex("DEADBEEF"));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  foundation::Error error;
  EXPECT_FALSE(RFWrapper::resumeCardDetection(index, &error));  // remembered; still waiting
  EXPECT_EQ(error.code, -21);
  const int resumes = bench.module->commandsOf(kRc663ResumeLoop);
  // The module sees the card again 400 ms later: not reported, sighting renewed.
  clock->advance(std::chrono::milliseconds(400));
  bench.module->place(card);
  ASSERT_TRUE(foundation::RunLoop::main().runUntil(
      [&] { return bench.module->commandsOf(kRc663ResumeLoop) > resumes; }));
  EXPECT_EQ(bench.cards->log.size(), 1u);
  // 501 ms after the last sighting the card counts as new.
  clock->advance(std::chrono::milliseconds(501));
  EXPECT_GE(bench.present(card), 0);
  EXPECT_EQ(bench.cards->log.size(), 2u);
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

Bytes cardEvent(const std::shared_ptr<RfCard>& card) {
  const Bytes record = card->detectionRecord();
  Bytes e{0x80, uint8_t(card->channel), 0x00, uint8_t(record.size())};
  e.insert(e.end(), record.begin(), record.end());
  return e;
}

// A reply that comes after its command gave up is dropped; it does not stop the module's
// card events behind it from being read.
TEST(RFReader, AReplyNobodyWaitsForDoesNotStopCardDetection) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  RFWrapper::dataAvaiable(Bytes{0x00, 0x00, 0x00, 0x02, 0xAB, 0xCD});  // late, and alone
  for (const char* uid : {"C0FFEE01", "C0FFEE02", "C0FFEE03"}) {
    SCOPED_TRACE(uid);
    auto card = RfCard::mifareClassic1K(hex(uid));
    EXPECT_GE(bench.present(card), 0);
    bench.module->remove(card);
  }
  EXPECT_EQ(bench.cards->log.size(), 3u);
}

// A card event that is half in when a command starts is not thrown away with the buffer:
// its second half completes it and the card is reported while the command still waits.
TEST(RFReader, ACommandDropsNoCardEventOnItsWay) {
  RfBench bench;
  ASSERT_TRUE(bench.init());
  foundation::ScopedManualClock clock;
  bench.module->setSilent(true);
  const Bytes event = cardEvent(RfCard::iClass(hex("A1B2C3D4E5F60712")));
  const size_t half = event.size() / 2;
  RFWrapper::dataAvaiable(Bytes(event.begin(), event.begin() + long(half)));
  std::atomic<int> result{1};
  std::thread command([&] { result = rc663FieldControl(1, true); });
  ASSERT_TRUE(clock->waitForWaiters(1));  // the command is out and waits for its reply
  RFWrapper::dataAvaiable(Bytes(event.begin() + long(half), event.end()));
  EXPECT_TRUE(bench.cards->log.waitForCount(1));
  EXPECT_EQ(result.load(), 1);  // still waiting: the event was not taken for its reply
  clock->advance(std::chrono::seconds(2));
  command.join();
  EXPECT_EQ(result.load(), -6);
  bench.module->setSilent(false);
}

}  // namespace
}  // namespace kestra
