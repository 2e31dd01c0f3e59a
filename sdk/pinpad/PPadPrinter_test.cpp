// The pinpad's printer channel against the simulated pinpad, whose printer feeds the receipt
// simulator's print head: the cache and its write thread, text, paper, images, status, and
// the same receipt picture as a receipt printer for the same tagged text.
#include <gtest/gtest.h>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "testing/devices/printer/PrinterTestBench.h"

namespace kestra {
namespace {

using devices::PinpadModel;
using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::sentWith;

struct PinpadPrinter : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(b.connect()); }
  std::vector<size_t> slices() {
    return b.device->withModel([](PinpadModel& m) { return m.printSlices; });
  }
  void clearSlices() {
    b.device->withModel([](PinpadModel& m) { m.printSlices.clear(); });
  }
  // What the data commands carried since `from`, joined.
  Bytes printed(size_t from = 0) {
    Bytes out;
    const auto sent = sentWith(*b.device, 0x42, {0x02});
    for (size_t i = from; i < sent.size(); ++i) out.insert(out.end(), sent[i].begin() + 1, sent[i].end());
    return out;
  }
  PinpadTestBench b;
};

TEST_F(PinpadPrinter, TheWriteThreadFlushesTheCacheInCommandsOf512Bytes) {
  clearSlices();
  const Bytes data(1300, 'x');
  ASSERT_TRUE(b.pad->prnWrite(data.data(), int(data.size())));
  ASSERT_TRUE(b.runUntil([&] { return slices().size() == 3; }));
  EXPECT_EQ(slices(), (std::vector<size_t>{512, 512, 276}));
  EXPECT_EQ(b.pad->printerCacheLength(), 0);
  EXPECT_TRUE(b.pad->prnWrite(nullptr, 0));
}

TEST_F(PinpadPrinter, AFailedFlushKeepsWhatWasNotSentAndSaysSo) {
  b.pad->prnStopWriteThread();
  b.device->withModel([](PinpadModel& m) { m.refuse[{0x42, 0x02}] = 13; });
  const Bytes data(600, 'y');
  ASSERT_TRUE(b.pad->prnWrite(data.data(), int(data.size())));
  Error e;
  EXPECT_FALSE(b.pad->prnFlushCache(&e));
  EXPECT_EQ(e.code, -16513);
  EXPECT_EQ(b.pad->printerCacheLength(), 600);
  EXPECT_FALSE(b.pad->prnWaitPrintJob(1, &e));  // the job cannot even be sent

  b.device->withModel([](PinpadModel& m) { m.refuse.clear(); });
  clearSlices();
  const size_t from = sentWith(*b.device, 0x42, {0x02}).size();
  EXPECT_TRUE(b.pad->prnFlushCache(&e)) << e.text;
  EXPECT_EQ(slices(), (std::vector<size_t>{512, 88}));
  EXPECT_EQ(printed(from), data);
}

TEST_F(PinpadPrinter, PaperLineSpacingDelimiterAndStyles) {
  b.pad->prnStopWriteThread();
  const size_t from = sentWith(*b.device, 0x42, {0x02}).size();
  const struct {
    std::function<bool(Error*)> call;
    Bytes bytes;
    int error;
  } cases[] = {
      {[&](Error* e) { return b.pad->prnFeedPaper(0, e); }, {0x1B, 0x4A, 100}, 0},  // printer models feed 100
      {[&](Error* e) { return b.pad->prnFeedPaper(600, e); }, {0x1B, 0x4A, 255, 0x1B, 0x4A, 255, 0x1B, 0x4A, 90}, 0},
      {[&](Error* e) { return b.pad->prnFeedPaper(-1, e); }, {}, -9},
      {[&](Error* e) { return b.pad->prnSetLineSpace(0, e); }, {}, 0},
      {[&](Error* e) { return b.pad->prnSetLineSpace(40, e); }, {0x1B, 0x33, 40}, 0},
      {[&](Error* e) { return b.pad->prnSetLineSpace(256, e); }, {}, -9},
  };
  size_t at = from;
  for (const auto& c : cases) {
    Error e;
    EXPECT_EQ(c.call(&e), c.error == 0);
    EXPECT_EQ(e.code, c.error);
    ASSERT_TRUE(b.pad->prnFlushCache());
    EXPECT_EQ(printed(at), c.bytes);
    at = sentWith(*b.device, 0x42, {0x02}).size();
  }
  Error e;
  b.pad->prnSetLineSpace(-1, &e);
  EXPECT_EQ(e.text, "Invalid linespace (0-255)");
  b.pad->prnFeedPaper(-1, &e);
  EXPECT_EQ(e.text, "Inlid number of lines to feed");

  ASSERT_TRUE(b.pad->printDelimiter('-'));
  ASSERT_TRUE(b.pad->prnFlushCache());
  Bytes line = {0x1B, 0x21, 0x00};
  line.insert(line.end(), 32, '-');
  line.push_back(0x0A);
  EXPECT_EQ(printed(at), line);

  // Inverse and rotation change the state only: no escape for either goes out.
  at = sentWith(*b.device, 0x42, {0x02}).size();
  ASSERT_TRUE(b.pad->printText("{+V}Paid{-V}{=R1}Up\n"));
  ASSERT_TRUE(b.pad->prnFlushCache());
  const Bytes out = printed(at);
  for (const Bytes& escape : {Bytes{0x1D, 0x42}, Bytes{0x1B, 0x56}, Bytes{0x1B, 0x7B}})
    EXPECT_EQ(std::search(out.begin(), out.end(), escape.begin(), escape.end()), out.end());
  EXPECT_NE(std::search(out.begin(), out.end(), std::begin("Paid"), std::end("Paid") - 1), out.end());
}

TEST_F(PinpadPrinter, ImagesGoOutInBandsAtTheirPlace) {
  const KXImage image = KXImage::grey(100, 40, 0);
  ASSERT_TRUE(b.pad->prnPrintImage(image, 1));
  const auto sent = sentWith(*b.device, 0x42, {});
  std::vector<Bytes> image07;
  for (const auto& s : sent)
    if (s[0] == 0x07) image07.push_back(s);
  ASSERT_FALSE(image07.empty());
  EXPECT_EQ(Bytes(image07[0].begin() + 1, image07[0].begin() + 3), (Bytes{142, 0}));  // (384 - 100) / 2
  EXPECT_EQ(sentWith(*b.device, 0x42, {0x06, 0x00}).size(), 2u);
  EXPECT_EQ(sentWith(*b.device, 0x42, {0x06, 40, 0}).size(), 1u);
  EXPECT_EQ(sentWith(*b.device, 0x42, {0x08}).size(), 1u);

  ASSERT_TRUE(b.pad->prnPrintImageOld(KXImage::grey(16, 30, 0), 2));  // two strips: 24 and 6 rows
  const auto strips = sentWith(*b.device, 0x42, {0x03});
  ASSERT_EQ(strips.size(), 2u);
  EXPECT_EQ(Bytes(strips[0].begin(), strips[0].begin() + 7), (Bytes{0x03, 0x70, 0x01, 16, 0, 24, 0}));
  EXPECT_EQ(strips[1][5], 6);
  Error e;
  EXPECT_FALSE(b.pad->prnPrintImage(KXImage{}, 0, &e));
  EXPECT_EQ(e.code, -9);
}

// Where each alignment puts an image: one wider than the paper is scaled down to the paper's
// width and starts at its left edge whatever the alignment.
TEST_F(PinpadPrinter, ImageOffsetsStayOnThePaper) {
  struct Case {
    int width, align, x;
  } cases[] = {{100, 0, 0}, {100, 1, 142}, {100, 2, 284}, {500, 0, 0}, {500, 1, 0}, {500, 2, 0}, {384, 2, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " align " + std::to_string(c.align));
    const size_t before = sentWith(*b.device, 0x42, {0x07}).size();
    ASSERT_TRUE(b.pad->prnPrintImage(KXImage::grey(c.width, 8, 0), c.align));
    const auto bands = sentWith(*b.device, 0x42, {0x07});
    ASSERT_GT(bands.size(), before);
    EXPECT_EQ(bands[before][1] | (bands[before][2] << 8), c.x);
  }
}

TEST_F(PinpadPrinter, StatusAndInformation) {
  Error e;
  const auto info = b.pad->prnGetPrinterInfo(&e);
  ASSERT_TRUE(info) << e.text;
  EXPECT_EQ(info->resolutionDPI, 203);
  EXPECT_EQ(info->paperWidthPx, 384);
  EXPECT_EQ(info->paperWidthInch, 2);
  EXPECT_TRUE(info->paperPresent);
  b.device->withModel([](PinpadModel& m) { m.busyChecks = 2; });
  EXPECT_TRUE(b.pad->prnWaitPrintJob(30, &e)) << e.text;
  b.pad->disconnect();
  EXPECT_FALSE(b.pad->prnGetPrinterInfo(&e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Device not connected");
}

TEST(PinpadPrinterReceipt, TheSameTaggedTextGivesTheSameReceiptAsAReceiptPrinter) {
  const std::string text =
      "{=C}{+DW}{+B}ORVO STORE{-B}{-DW}\n{=C}12 Harbour Road\n{=L}Order {=R}1042\n"
      "{=L}{+U}Total{-U} {=R}{+B}128.80{-B}\n{=F1}{+I}Thank you, come again!{-I}\n{=F0}"
      "{+W}{=J}Goods remain the property of the seller until they are paid in full.\n";
  PinpadTestBench pinpad;
  ASSERT_TRUE(pinpad.connect());
  devices::PrinterTestBench receipt(devices::PrinterPersona::scanner());
  ASSERT_TRUE(receipt.connect());

  ASSERT_TRUE(pinpad.pad->printText(text));
  ASSERT_TRUE(pinpad.pad->printDelimiter('='));
  ASSERT_TRUE(pinpad.pad->prnFlushCache());
  ASSERT_TRUE(receipt.printer->printText(text));
  ASSERT_TRUE(receipt.printer->printDelimiter('='));
  ASSERT_TRUE(receipt.printer->flushCache());

  // The pinpad answers each data command once it has printed it; the receipt printer's
  // picture is complete once it has as many lines.
  const auto pinpadLines = pinpad.device->withModel([](PinpadModel& m) { return m.receipt.lines(); });
  ASSERT_GE(pinpadLines.size(), 7u);
  ASSERT_TRUE(receipt.runUntil([&] {
    return receipt.sim->model().withRenderer([&](devices::ReceiptRenderer& r) { return r.lines().size(); }) >=
           pinpadLines.size();
  }));
  const auto [receiptLines, receiptDots] = receipt.sim->model().withRenderer(
      [](devices::ReceiptRenderer& r) { return std::make_pair(r.lines(), r.dots()); });
  EXPECT_EQ(receiptLines, pinpadLines);
  pinpad.device->withModel([&](PinpadModel& m) {
    EXPECT_EQ(m.receipt.height(), int(receiptDots.size() / 384));
    EXPECT_TRUE(m.receipt.dots() == receiptDots) << "the pictures differ";
  });
}

}  // namespace
}  // namespace kestra
