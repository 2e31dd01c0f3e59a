// The pn544 controller driver against the simulated controller: set-up, detection of each
// card family, exchanges through the gates, the removal check and the link layer.

#include "sdk/rf/Pn544.h"

#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"
#include "sdk/rf/Felica.h"
#include "sdk/rf/Iso14.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFTestSupport.h"
#include "sdk/rf/RFWrapper.h"
#include "testing/devices/rf/SimulatedPn544.h"

namespace kestra {
namespace {
namespace pn544_test {

using devices::RfCard;
using devices::SimulatedPn544;
using foundation::fromHex;
using foundation::toHex;

Bytes hex(const char* h) { return *fromHex(h); }

// The controller's bytes come back on the thread that caused them, as soon as they are made.
class ControllerTransport final : public RFReaderTransport {
 public:
  explicit ControllerTransport(std::shared_ptr<SimulatedPn544> c) : controller(std::move(c)) {
    controller->onOutput = [](const Bytes& b) { RFWrapper::dataAvaiable(b); };
  }
  std::optional<Bytes> rfReaderWrite(int type, const uint8_t* data, int length, foundation::Error*) override {
    EXPECT_EQ(type, kRFReaderPn544);
    controller->receive(Bytes(data, data + length));
    return Bytes{};
  }
  std::shared_ptr<SimulatedPn544> controller;
};

struct Pn544Bench {
  std::shared_ptr<SimulatedPn544> controller = std::make_shared<SimulatedPn544>();
  std::shared_ptr<rftest::CardRecorder> cards = std::make_shared<rftest::CardRecorder>();
  Pn544Bench() {
    RFWrapper::setCommDelegate(std::make_shared<ControllerTransport>(controller));
    RFWrapper::setDelegate(cards);
    RFWrapper::setReaderType(kRFReaderPn544);
  }
  ~Pn544Bench() {
    RFWrapper::close();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
  }
  // Places `card`; its table index once reported and initialised, or -1.
  int present(const std::shared_ptr<RfCard>& card) {
    const size_t before = cards->log.size();
    controller->place(card);
    if (cards->log.size() != before + 1) return -1;
    const int index = std::stoi(cards->log.lines()[before].substr(5));
    return RFWrapper::initCard(index) ? index : -1;
  }
};

TEST(Pn544, InitCreatesThePipesOfTheSupportedCardsAndStartsPolling) {
  struct Case {
    int mask;
    std::vector<int> gates;
    uint8_t loop;
  };
  const Case cases[] = {
      {0x27, {0x90, 0x13, 0x11, 0x14, 0x12, 0x94}, 0x9F},
      {0x01, {0x90, 0x13, 0x94}, 0x81},
      {0x24, {0x90, 0x14, 0x12, 0x94}, 0x9C},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    Pn544Bench bench;
    ASSERT_TRUE(RFWrapper::init(c.mask, 300));
    const auto pipes = bench.controller->pipes();
    std::vector<int> gates;
    for (const auto& [gate, pipe] : pipes) gates.push_back(gate);
    std::vector<int> want = c.gates;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(gates, want);
    EXPECT_EQ(bench.controller->parameter(0x94, 0x06), Bytes{c.loop});
    EXPECT_EQ(toHex(bench.controller->parameter(0x94, 0x08)), "186A");  // 300 ms in 48 us steps
    for (int gate : c.gates)
      if (gate != 0x90 && gate != 0x94) {
        EXPECT_EQ(bench.controller->readerRequests(gate), 1) << gate;
      }
    const auto regs = bench.controller->registers();
    EXPECT_EQ(regs.count(0x009C31), 1u);
    EXPECT_EQ(regs.count(0x009C32), 1u);
  }
}

TEST(Pn544, FelicaPollingParametersGoToTheControllerAtInit) {
  Pn544Bench bench;
  pn544FelicaSetPollingParams(0x01, 0x12FC);
  ASSERT_TRUE(RFWrapper::init(0x04, 300));
  pn544FelicaSetPollingParams(-1, -1);
  const auto regs = bench.controller->registers();
  EXPECT_EQ(regs.at(0x009F9A), 0x01);
  EXPECT_EQ(regs.at(0x009F9B), 0x12);
  EXPECT_EQ(regs.at(0x009F9C), 0xFC);
}

TEST(Pn544, MifareCardIsDetectedIdentifiedAndUsed) {
  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x27, 300));
  auto card = RfCard::mifareClassic1K(hex("C0FFEE01"));
  const uint8_t keyA[6] = {1, 2, 3, 4, 5, 6};
  card->setKeys(1, Bytes(keyA, keyA + 6), Bytes(6, 0xB1));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  const RFCardEntry e = *rfCard(index);
  EXPECT_EQ(e.readerType, kRFReaderPn544);
  EXPECT_EQ(e.channel, kRFChannelIso14443A);
  EXPECT_EQ(e.type, kCardMifareClassic1K);
  EXPECT_EQ(e.ATQA, 0x0400);
  EXPECT_EQ(e.SAK, 0x08);
  EXPECT_EQ(toHex(Bytes(e.UID, e.UID + e.uidLen)), "C0FFEE01");

  ASSERT_EQ(mfAuth(index, 'A', 4, keyA), 0);
  const Bytes data = hex("0F0E0D0C0B0A09080706050403020100");
  ASSERT_EQ(mfWrite16(index, 5, data.data()), 0);
  uint8_t block[16];
  ASSERT_EQ(mfRead16(index, 5, block), 0);
  EXPECT_EQ(Bytes(block, block + 16), data);
  // A key stored in the controller's registers.
  ASSERT_EQ(mfLoadKey(3, 'B', Bytes(6, 0xB1).data()), 0);
  EXPECT_EQ(bench.controller->registers().at(0x9F3E + 36), 0xB1);
  EXPECT_EQ(mfAuthByLoadedKey(index, 'B', 4, 3), 0);
  EXPECT_LT(mfAuthByLoadedKey(index, 'A', 4, 3), 0);  // key A slot 3 holds nothing

  // The card stays: the removal check says so; once it left, polling resumes.
  EXPECT_EQ(pn544ResumeLoop(index), -21);
  EXPECT_EQ(bench.controller->resumes(), 0);
  bench.controller->remove(card);
  EXPECT_EQ(mfRead16(index, 5, block), -6);  // removed mid-use: the controller's time-out
  EXPECT_TRUE(RFWrapper::resumeCardDetection(index));
  EXPECT_EQ(bench.controller->resumes(), 1);
}

TEST(Pn544, DesfireIsClassifiedAndProbedThroughRawFrames) {
  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x01, 300));
  auto card = RfCard::desfire(hex("04112233445566"));
  const int index = bench.present(card);
  ASSERT_GE(index, 0);
  EXPECT_EQ(rfCard(index)->type, kCardMifareDesfire);
  EXPECT_EQ(rfCard(index)->dfHardwareVersion, 0x0100);
  Bytes out;
  uint16_t sw = 0;
  ASSERT_GE(iso14APDU(index, 0x00, 0xB0, 0x00, 0x00, hex("CAFE"), &out, 0, &sw), 0);
  EXPECT_EQ(sw, 0x9000);
  EXPECT_EQ(toHex(out), "CAFE");
  EXPECT_EQ(pn544ResumeLoop(index), -21);
  bench.controller->remove(card);
  EXPECT_EQ(pn544ResumeLoop(index), 0);
  // A raw frame longer than the controller takes is refused before sending.
  EXPECT_EQ(mfRaw(kRFChannelIso14443A, Bytes(30).data(), 30), -9);
}

TEST(Pn544, FelicaAndIso15693CardsAreIdentifiedAndUsed) {
  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x24, 300));
  auto felica = RfCard::felica(hex("0123456789ABCDEF"));
  int index = bench.present(felica);
  ASSERT_GE(index, 0);
  RFCardEntry e = *rfCard(index);
  EXPECT_EQ(e.type, kCardFelica);
  EXPECT_EQ(toHex(Bytes(e.UID, e.UID + e.uidLen)), "0123456789ABCDEF");
  EXPECT_EQ(toHex(Bytes(e.PMm, e.PMm + 8)), toHex(felica->pmm));
  const Bytes data(16, 0x42);
  ASSERT_EQ(felicaWrite(index, 0x1009, 1, 1, data), 0);
  Bytes out;
  ASSERT_EQ(felicaRead(index, 0x1009, 1, 1, &out), 0);
  EXPECT_EQ(out, data);
  EXPECT_EQ(felicaWrite(index, 0x0B00, 1, 1, data), -20);
  bench.controller->remove(felica);
  EXPECT_EQ(pn544ResumeLoop(index), 0);

  auto tag = RfCard::iso15693(hex("C1C2C3C4C5C604E0"), 8, 4);
  index = bench.present(tag);
  ASSERT_GE(index, 0);
  e = *rfCard(index);
  EXPECT_EQ(e.type, kCardIso15693);
  EXPECT_EQ(e.nBlocks, 8);
  int count = 1;
  ASSERT_EQ(iso15Write(index, 1, &count, hex("01020304")), 0);
  ASSERT_EQ(iso15LockBlock(index, 1), 0);
  count = 1;
  EXPECT_EQ(iso15Write(index, 1, &count, hex("FFFFFFFF")), -20);
  Bytes block;
  count = 1;
  ASSERT_EQ(iso15Read(index, 1, &count, &block), 0);
  EXPECT_EQ(toHex(block), "01020304");
  EXPECT_EQ(pn544ResumeLoop(index), -21);
}

TEST(Pn544, TypeBCardBecomesAPlainIso14443BCard) {
  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x02, 300));
  const int index = bench.present(RfCard::typeB(hex("0A0B0C0D")));
  ASSERT_GE(index, 0);
  const RFCardEntry e = *rfCard(index);
  EXPECT_EQ(e.channel, kRFChannelIso14443B);
  EXPECT_EQ(e.type, kCardIso14443B);
  EXPECT_EQ(toHex(Bytes(e.UID, e.UID + e.uidLen)), "0A0B0C0D");
}

TEST(Pn544, ResponseCodesBecomeDriverCodes) {
  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x01, 300));
  const std::pair<uint8_t, int> cases[] = {{0x81, -3},  {0x82, -9},  {0x83, -20}, {0x84, -19},
                                           {0x85, -16}, {0x86, -3},  {0x87, -17}, {0x88, -1},
                                           {0x89, -6},  {0x8A, -23}, {0x8B, -23}, {0x8C, -1}};
  for (const auto& [code, want] : cases) {
    SCOPED_TRACE(int(code));
    bench.controller->failNext(code);
    EXPECT_EQ(pn544SetRegister(0x9F00, 1), want);
  }
}

TEST(Pn544, LinkFramesAreNumberedFragmentedAndChecked) {
  // Published check values: CRC-16/X-25 of "123456789" and CRC_A of 00 00.
  const char* text = "123456789";
  EXPECT_EQ(pn544Crc(reinterpret_cast<const uint8_t*>(text), 9, 0xFFFF, true), 0x906E);
  const uint8_t zeros[] = {0, 0};
  EXPECT_EQ(pn544Crc(zeros, 2, 0x6363, false), 0x1EA0);

  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x20, 300));
  // I-frames count N(S) 0..7 and wrap; every one carries N(R) 1.
  int expected = 0;
  for (const auto& f : bench.controller->framesIn()) {
    if ((f[1] & 0xC0) != 0x80) continue;
    EXPECT_EQ((f[1] >> 3) & 7, expected % 8);
    EXPECT_EQ(f[1] & 7, 1);
    ++expected;
  }
  EXPECT_GT(expected, 9);

  // A 60-byte message goes as fragments of 28, 28 and 4; only the last is marked.
  auto tag = RfCard::iso15693(hex("D1D2D3D4D5D604E0"), 8, 4);
  ASSERT_GE(bench.present(tag), 0);
  const size_t before = bench.controller->framesIn().size();
  const Bytes frame(59, 0x22);
  rfCardTransceive(kRFChannelIso15693, frame.data(), int(frame.size()));
  std::vector<std::pair<size_t, bool>> pieces;
  const auto frames = bench.controller->framesIn();
  for (size_t i = before; i < frames.size(); ++i)
    if ((frames[i][1] & 0xC0) == 0x80) pieces.push_back({frames[i].size() - 5, (frames[i][2] & 0x80) != 0});
  EXPECT_EQ(pieces, (std::vector<std::pair<size_t, bool>>{{28, false}, {28, false}, {4, true}}));
}

TEST(Pn544, BadLinkInputIsDroppedAndTheReaderResynchronises) {
  Pn544Bench bench;
  ASSERT_TRUE(RFWrapper::init(0x01, 300));
  const int pipeA = bench.controller->pipes().at(0x13);
  const Bytes discovered = pn544Frame(0x80 | (5 << 3) | 1, {uint8_t(0x80 | pipeA), 0x50});
  Bytes bad = discovered;
  bad[bad.size() - 1] ^= 0x01;
  // A frame with a bad check empties the buffer, the good frame behind it too.
  Bytes both = bad;
  both.insert(both.end(), discovered.begin(), discovered.end());
  RFWrapper::dataAvaiable(both);
  EXPECT_EQ(bench.cards->log.size(), 0u);
  // Zero and impossible length bytes are skipped; whole frames split anywhere are taken.
  Bytes noisy{0x00, 0x00, 0xFE, 0x01};
  noisy.insert(noisy.end(), discovered.begin(), discovered.end());
  for (size_t cut = 0; cut <= noisy.size(); ++cut) {
    SCOPED_TRACE(cut);
    const size_t before = bench.cards->log.size();
    RFWrapper::dataAvaiable(Bytes(noisy.begin(), noisy.begin() + long(cut)));
    RFWrapper::dataAvaiable(Bytes(noisy.begin() + long(cut), noisy.end()));
    EXPECT_EQ(bench.cards->log.size(), before + 1);
  }
  // A flood of bytes that never form a frame leaves the reader usable.
  RFWrapper::dataAvaiable(Bytes(1000, 0x7F));
  RFWrapper::dataAvaiable(Bytes(1000, 0x00));
  EXPECT_EQ(pn544SetRegister(0x9F00, 1), 0);
}

}  // namespace pn544_test
}  // namespace
}  // namespace kestra
