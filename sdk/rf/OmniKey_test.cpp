// The omniKey CCID reader driver against the simulated reader: protocol set-up, slot
// notifications, the CCID answer checks, reader commands and the storage-card APDUs.

#include "sdk/rf/OmniKey.h"

#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFTestSupport.h"
#include "sdk/rf/RFWrapper.h"
#include "testing/devices/rf/SimulatedOmniKey.h"

namespace kestra {
namespace {
namespace omnikey_test {

using devices::RfCard;
using devices::SimulatedOmniKey;
using foundation::fromHex;
using foundation::toHex;

Bytes hex(const char* h) { return *fromHex(h); }

// The host device hands the reader's answer back as the write's result; notifications
// arrive as reader input.
class CcidTransport final : public RFReaderTransport {
 public:
  explicit CcidTransport(std::shared_ptr<SimulatedOmniKey> r) : reader(std::move(r)) {
    reader->onNotify = [](const Bytes& b) { RFWrapper::dataAvaiable(b); };
  }
  std::optional<Bytes> rfReaderWrite(int type, const uint8_t* data, int length, foundation::Error* error) override {
    EXPECT_EQ(type, kRFReaderOmniKey);
    auto answer = reader->transfer(Bytes(data, data + length));
    if (!answer && error) *error = foundation::Error{"com.sabrel.errors", -6, "Timeout"};
    return answer;
  }
  std::shared_ptr<SimulatedOmniKey> reader;
};

struct OmniKeyBench {
  std::shared_ptr<SimulatedOmniKey> reader = std::make_shared<SimulatedOmniKey>();
  std::shared_ptr<rftest::CardRecorder> cards = std::make_shared<rftest::CardRecorder>();
  explicit OmniKeyBench(int mask = 0x27) {
    RFWrapper::setCommDelegate(std::make_shared<CcidTransport>(reader));
    RFWrapper::setDelegate(cards);
    RFWrapper::setReaderType(kRFReaderOmniKey);
    EXPECT_TRUE(RFWrapper::init(mask, 300));
  }
  ~OmniKeyBench() {
    RFWrapper::close();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
  }
};

TEST(OmniKey, InitEnablesTheProtocolsOfTheMask) {
  struct Case {
    int mask;
    const char* enables;  // EN byte of each of the seven escapes
  };
  const Case cases[] = {{0x01, "FF00000000000000"}, {0x27, "FF0000FFFFFFFF"}, {0x04, "000000000000FF"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    OmniKeyBench bench(c.mask);
    const auto received = bench.reader->received();
    ASSERT_EQ(received.size(), 7u);
    std::string enables;
    for (size_t i = 0; i < received.size(); ++i) {
      const Bytes& a = received[i].apdu;
      EXPECT_EQ(received[i].slot, 0);
      EXPECT_EQ(received[i].sequence, (received[0].sequence + int(i)) % 256);
      ASSERT_EQ(a.size(), 21u);
      EXPECT_EQ(toHex(Bytes(a.begin(), a.begin() + 14)), "FF6800000F0200000D0702020301");
      enables += toHex(Bytes{a[19]});
    }
    EXPECT_EQ(enables, std::string(c.enables).substr(0, 14));
    EXPECT_EQ(toHex(Bytes{received[3].apdu[14], received[6].apdu[14]}), "0406");
  }
}

TEST(OmniKey, SlotNotificationsReportCardsAndRemovals) {
  OmniKeyBench bench;
  auto card = RfCard::mifareClassic1K(hex("11223344"));
  bench.reader->insert(0, card);  // 50 03
  ASSERT_EQ(bench.cards->log.lines(), std::vector<std::string>{"card:0"});
  RFCardEntry e = *rfCard(0);
  EXPECT_EQ(e.readerType, kRFReaderOmniKey);
  EXPECT_EQ(e.channel, 255);
  EXPECT_TRUE(RFWrapper::initCard(0));
  EXPECT_EQ(omniKeyResumeLoop(0), -20);
  EXPECT_FALSE(RFWrapper::omniResumeCardDetection(0));
  bench.reader->remove(0);  // 50 02
  EXPECT_EQ(omniKeyResumeLoop(0), 0);
  EXPECT_TRUE(RFWrapper::resumeCardDetection(0));

  bench.reader->insert(2, card);  // 50 30
  EXPECT_EQ(bench.cards->log.lines().back(), "card:2");
  // Slots the card table cannot hold are ignored; so are messages that are no notification.
  const size_t before = bench.cards->log.size();
  for (const char* message : {"500C00", "50C000", "50", "51030000", "5003000000"}) {
    SCOPED_TRACE(message);
    RFWrapper::dataAvaiable(hex(message));
  }
  EXPECT_EQ(bench.cards->log.size(), before);
  EXPECT_EQ(omniKeyResumeLoop(5), -9);
  RFWrapper::close();
  RFWrapper::dataAvaiable(hex("5003"));  // not initialised: nothing
  EXPECT_EQ(bench.cards->log.size(), before);
}

TEST(OmniKey, AnswersThatAreNoWholeDataBlockAreRefused) {
  OmniKeyBench bench;
  const Bytes apdu = hex("FFCA000000");
  const struct {
    const char* name;
    const char* answer;
  } cases[] = {
      {"nine bytes", "800200000000000000"},
      {"empty", ""},
      {"another message", "81020000000000000000" "9000"},
      {"slot status", "6C000000000000000000"},
      {"longer than held", "80040000000000000000" "9000"},
      {"no status word", "80010000000000000000" "90"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bench.reader->setNextAnswer(hex(c.answer));
    uint16_t sw = 0;
    Bytes out;
    EXPECT_EQ(iClassAPDU(0, apdu.data(), int(apdu.size()), &sw, &out), -1);
  }
  uint16_t sw = 0;
  Bytes out;
  bench.reader->setNextAnswer(hex("80040000000000000000" "AABB9000" "FFFF"));  // extra bytes after it
  EXPECT_EQ(iClassAPDU(0, apdu.data(), int(apdu.size()), &sw, &out), 2);
  EXPECT_EQ(sw, 0x9000);
  EXPECT_EQ(toHex(out), "AABB");
  EXPECT_EQ(iClassAPDU(0, Bytes(503).data(), 503, &sw, &out), -9);  // too long for a message
  bench.reader->setSilent(true);
  EXPECT_EQ(iClassAPDU(0, apdu.data(), int(apdu.size()), &sw, &out), -6);
}

TEST(OmniKey, ReaderCommandsGoAsEscapes) {
  OmniKeyBench bench;
  Bytes command = {'O', 'M', 'N', 'I', 3};
  Bytes body(600);
  for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i);
  command.insert(command.end(), body.begin(), body.end());
  const size_t before = bench.reader->escapes().size();
  ASSERT_EQ(rfCardTransceive(kOmniKeyCardChannel, command.data(), int(command.size())), 0);
  const auto escapes = bench.reader->escapes();
  ASSERT_EQ(escapes.size() - before, 5u);
  EXPECT_EQ(toHex(escapes[before]), "FF680A000400000000");
  EXPECT_EQ(toHex(Bytes(escapes[before + 1].begin(), escapes[before + 1].begin() + 5)), "FF680A01FF");
  EXPECT_EQ(escapes[before + 2][4], 255);
  EXPECT_EQ(escapes[before + 3][4], 90);
  EXPECT_EQ(toHex(escapes[before + 4]), "FF680A0300");
  EXPECT_EQ(bench.reader->readerCommand(), body);
  EXPECT_TRUE(rfCmdAnswer().empty());

  const Bytes info = {'O', 'M', 'N', 'I', 1};
  ASSERT_EQ(rfCardTransceive(kOmniKeyCardChannel, info.data(), int(info.size())), 0);
  EXPECT_EQ(rfCmdAnswer(), (Bytes{'O', 'K', '5', '0', '2', '2'}));
  const Bytes other = {'O', 'M', 'N', 'I', 9};
  EXPECT_EQ(rfCardTransceive(kOmniKeyCardChannel, other.data(), int(other.size())), -20);
  const Bytes unknownChannel = {0x30, 0x04};
  EXPECT_EQ(rfCardTransceive(kRFChannelFelica, unknownChannel.data(), 2), -20);
}

TEST(OmniKey, RawApdusReachTheCardInTheSlot) {
  OmniKeyBench bench;
  bench.reader->insert(1, RfCard::desfire(hex("04AABBCCDDEEFF")));
  Bytes command = {'O', 'M', 'N', 'I', 2};
  const Bytes apdu = hex("00A4040003112233");
  command.insert(command.end(), apdu.begin(), apdu.end());
  ASSERT_EQ(rfCardTransceive(kOmniKeyCardChannel, command.data(), int(command.size())), 0);
  EXPECT_EQ(toHex(rfCmdAnswer()), "1122339000");
  EXPECT_EQ(bench.reader->received().back().slot, 1);
}

TEST(OmniKey, MifareFramesBecomeStorageCardApdus) {
  OmniKeyBench bench;
  auto card = RfCard::mifareClassic1K(hex("DEADBEEF"));
  const uint8_t keyA[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  card->setKeys(2, Bytes(keyA, keyA + 6), Bytes(6, 0xBB));
  bench.reader->insert(0, card);
  // The card protocols address it on the Mifare channel.
  rfUpdateCard(0, [&](RFCardEntry& e) {
    e.channel = kRFChannelIso14443A;
    e.type = kCardMifareClassic1K;
    std::memcpy(e.UID, card->uid.data(), 4);
    e.uidLen = 4;
  });
  const uint8_t wrong[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(mfAuth(0, 'A', 8, wrong), -20);  // the card refuses the key: not a success
  ASSERT_EQ(mfAuth(0, 'A', 8, keyA), 0);
  const auto sent = bench.reader->received();
  EXPECT_EQ(toHex(sent[sent.size() - 2].apdu), "FF82000106A0A1A2A3A4A5");
  EXPECT_EQ(toHex(sent.back().apdu), "FF860000050100086001");
  const Bytes data = hex("00112233445566778899AABBCCDDEEFF");
  ASSERT_EQ(mfWrite16(0, 9, data.data()), 0);
  uint8_t block[16];
  ASSERT_EQ(mfRead16(0, 9, block), 0);
  EXPECT_EQ(Bytes(block, block + 16), data);
  // A key loaded into the reader, then used by its slot.
  ASSERT_EQ(mfLoadKey(4, 'B', Bytes(6, 0xBB).data()), 0);
  ASSERT_EQ(mfAuthByLoadedKey(0, 'B', 8, 4), 0);
  EXPECT_EQ(toHex(bench.reader->received().back().apdu), "FF860000050100086104");
  // The card leaves in the middle of its use.
  bench.reader->remove(0);
  EXPECT_EQ(mfRead16(0, 9, block), -20);
  EXPECT_EQ(omniKeyResumeLoop(0), 0);
}

TEST(OmniKey, Iso15693FramesBecomeStorageCardApdus) {
  OmniKeyBench bench;
  auto tag = RfCard::iso15693(hex("E1E2E3E4E5E604E0"), 8, 4);
  bench.reader->insert(0, tag);
  rfUpdateCard(0, [&](RFCardEntry& e) {
    e.channel = kRFChannelIso15693;
    std::memcpy(e.UID, tag->uid.data(), 8);
    e.uidLen = 8;
    e.blockSize = 4;
  });
  int count = 2;
  ASSERT_EQ(iso15Write(0, 3, &count, hex("0102030405060708")), 0);
  EXPECT_EQ(toHex(bench.reader->received().back().apdu), "FFD6000404" "05060708");
  Bytes out;
  count = 2;
  ASSERT_EQ(iso15Read(0, 3, &count, &out), 0);
  EXPECT_EQ(toHex(out), "0102030405060708");
  EXPECT_EQ(toHex(bench.reader->received().back().apdu), "FFB0000404");
  tag->lockedBlocks[4] = true;
  count = 1;
  EXPECT_EQ(iso15Write(0, 4, &count, hex("FFFFFFFF")), -20);
  EXPECT_EQ(iso15LockBlock(0, 4), -20);  // no APDU for it
}

}  // namespace omnikey_test
}  // namespace
}  // namespace kestra
