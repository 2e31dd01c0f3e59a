// The sleeve's SAM slot: APDUs to the SAM, and iClass credentials read through the SAM's
// message layer, which asks the host to exchange frames with the card on the sleeve's RF
// reader.

#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"
#include "sdk/rf/IClassSam.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra {
namespace {

using devices::RfCard;
using devices::SimulatedSam;
using devices::SleeveProtocol;
using foundation::fromHex;
using foundation::toHex;

Bytes hex(const char* h) { return *fromHex(h); }

// The RF stack carried by the sleeve under test, and the SAM's answers handed to its layer.
class SleeveReader final : public RFReaderTransport, public RFWrapperDelegate, public PellanModuleSink {
 public:
  explicit SleeveReader(std::shared_ptr<Pellan> p) : pellan(std::move(p)) {}
  std::optional<Bytes> rfReaderWrite(int type, const uint8_t* data, int length, foundation::Error* error) override {
    return pellan->rfReaderWrite(type, data, length, error);
  }
  void rfCardDetected(int index) override { cards.add("card:" + std::to_string(index)); }
  void rfDataAvailable(const Bytes& data) override { RFWrapper::dataAvaiable(data); }
  void iClassDataAvailable(const uint8_t* data, int length) override { kestra::iClassDataAvailable(data, length); }
  std::shared_ptr<Pellan> pellan;
  devices::CallRecorder cards;
};

struct SamBench {
  devices::SleeveTestBench bench{[] {
    devices::SimulatedSleeve::Options o;
    o.config.model = "XBCMR6";
    return o;
  }()};
  std::shared_ptr<SimulatedSam> sam = std::make_shared<SimulatedSam>();
  std::shared_ptr<devices::SimulatedRc663> module = std::make_shared<devices::SimulatedRc663>();
  std::shared_ptr<SleeveReader> reader;

  SamBench() {
    bench.sleeve->attachSam(sam);
    bench.sleeve->attachRfReader(module);
    EXPECT_TRUE(bench.connect());
    reader = std::make_shared<SleeveReader>(bench.pellan);
    bench.pellan->setModuleSink(reader);
  }
  ~SamBench() {
    if (RFWrapper::getReaderType() == kRFReaderRc663) RFWrapper::close();
    GlobalQueue::waitIdle();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
    iClassSetTransport(nullptr);
    bench.pellan->setModuleSink(nullptr);
  }
  // Opens the sleeve's rc663 reader for PicoPass cards.
  bool openReader() {
    RFWrapper::setCommDelegate(reader);
    RFWrapper::setDelegate(reader);
    RFWrapper::setReaderType(kRFReaderRc663);
    return bench.pellan->rfReaderInit(kRFReaderRc663) && RFWrapper::init(0x180, 300);
  }
  Bytes lastSamCommand() {
    return *bench.sleeve->withProtocol([](SleeveProtocol& p) { return p.lastCommand(0, 60); });
  }
};

TEST(PellanSam, SlotPowerAndApdus) {
  SamBench s;
  auto& pellan = *s.bench.pellan;
  auto atr = pellan.samPowerOn();
  ASSERT_TRUE(atr);
  EXPECT_EQ(*atr, s.sam->atr);
  EXPECT_TRUE(s.sam->powered());

  struct Case {
    const char* name;
    std::optional<Bytes> data;
    int outLength;
    const char* sent;
  };
  const Case cases[] = {
      {"data and Le", hex("A0000000031010"), 0, "0600A4040007A000000003101000"},
      {"no data", std::nullopt, -1, "0600A4040000"},
      {"empty data", Bytes{}, -1, "0600A40400"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint16_t status = 0;
    pellan.samCAPDU(0x00, 0xA4, 0x04, 0x00, c.data, c.outLength, &status);
    EXPECT_EQ(toHex(s.lastSamCommand()), c.sent);
  }
  // An answer of 90 00 alone: no data, status 9000.
  uint16_t status = 0;
  auto answer = pellan.samCAPDU(0x00, 0xA4, 0x04, 0x00, hex("A0000000031010"), 0, &status);
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->empty());
  EXPECT_EQ(status, 0x9000);
  EXPECT_TRUE(pellan.samAPDU(0x00, 0xA4, 0x04, 0x00, hex("A000000003"), &status));
  answer = pellan.samRawAPDU(hex("80CA000008"), &status);
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, s.sam->serial);
  EXPECT_EQ(status, 0x9000);
  // More data than one APDU can say is refused before anything is sent.
  const size_t before = s.sam->apdus().size();
  Error error;
  EXPECT_FALSE(pellan.samCAPDU(0x00, 0xD6, 0x00, 0x00, Bytes(256, 1), -1, &status, &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_EQ(s.sam->apdus().size(), before);

  ASSERT_TRUE(pellan.samPowerOff());
  EXPECT_FALSE(s.sam->powered());
  answer = pellan.samRawAPDU(hex("80CA000008"), &status);
  EXPECT_EQ(status, 0x6985);
  s.sam->atr.clear();
  EXPECT_FALSE(pellan.samPowerOn(&error));
  EXPECT_EQ(error.code, -6);
}

TEST(PellanSam, IClassCredentialIsReadThroughTheSamAndTheRfReader) {
  SamBench s;
  ASSERT_TRUE(s.openReader());
  auto card = RfCard::iClass(hex("A1B2C3D4E5F60712"));
  card->blocks[7] = hex("000000000612A5C3");
  s.module->place(card);
  ASSERT_TRUE(s.reader->cards.waitForCount(1));
  EXPECT_EQ(rfCard(0)->type, kCardPicoPass15693);

  auto& pellan = *s.bench.pellan;
  auto version = pellan.hidGetVersionInfo();
  ASSERT_TRUE(version);
  EXPECT_EQ(toHex(*version), "A505820301" "0422");
  auto serial = pellan.hidGetSerialNumber();
  ASSERT_TRUE(serial);
  EXPECT_EQ(toHex(*serial), "8A08" + toHex(s.sam->serial));

  auto content = pellan.hidGetContentElement(4, std::nullopt, std::nullopt);
  ASSERT_TRUE(content);
  EXPECT_EQ(toHex(*content), "A10A8008000000000612A5C3");
  // The SAM asked for block 7; the host answered with the card's bytes and status 0.
  const auto messages = s.sam->messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(toHex(messages[messages.size() - 2]), "A005A1038001" "04");
  EXPECT_EQ(toHex(messages.back()), "BD12A010A00E8008000000000612A5C381020000");

  // A configuration card: acknowledge, RF read, then A5 { 82 }: an empty result, not nothing.
  auto config = pellan.hidProcessConfigCard();
  ASSERT_TRUE(config);
  EXPECT_TRUE(config->empty());
  EXPECT_EQ(toHex(s.sam->messages()[s.sam->messages().size() - 2]), "BD028A00");
  auto roller = pellan.hidProcessKeyRollerCard();
  ASSERT_TRUE(roller);
  EXPECT_EQ(toHex(s.sam->messages().back()), "A0039F2600");

  // The card leaves: the RF exchange fails and the SAM is told so, with no data.
  s.module->remove(card);
  content = pellan.hidGetContentElement(4, hex("1234"), std::nullopt);
  ASSERT_TRUE(content);
  EXPECT_EQ(toHex(*content), "85020020");
  EXPECT_EQ(toHex(s.sam->messages().back()), "BD08A006A00481020020");
  EXPECT_EQ(toHex(s.sam->messages()[s.sam->messages().size() - 2]), "A00BA1038001" "04AD0483021234");

  // A SAM status other than 90 00 fails the command with -6.
  s.sam->setNextStatus(0x6A, 0x82);
  Error error;
  EXPECT_FALSE(pellan.hidGetVersionInfo(&error));
  EXPECT_EQ(error.code, -6);
}

}  // namespace
}  // namespace kestra
