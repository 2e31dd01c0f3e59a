#include "sdk/printer/PrinterCommands.h"

#include <gtest/gtest.h>

namespace kestra::printer {
namespace {

using foundation::Bytes;

TEST(PrinterCommands, FeedIsSplitIntoStepsOf255) {
  EXPECT_EQ(feedCommands(600, 110, false),
            (Bytes{0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x5A}));
  EXPECT_EQ(feedCommands(0, 90, false), (Bytes{0x1B, 0x4A, 90}));
  EXPECT_EQ(feedCommands(0, 90, true), (Bytes{0x0C}));
  EXPECT_TRUE(feedCommands(-1, 90, false).empty());
}

TEST(PrinterCommands, DensitySteps) {
  struct Case {
    int percent;
    int step;
  } cases[] = {{50, 0}, {69, 0}, {70, 1}, {85, 2}, {100, 3}, {110, 4}, {130, 5}, {149, 5}, {150, 6}, {200, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    EXPECT_EQ(densityStep(c.percent), c.step);
  }
}

TEST(PrinterCommands, BarcodeHeaders) {
  Bytes h;
  ASSERT_TRUE(barcodeHeader(kBarcodeCode128, foundation::bytesOf("12345"), &h));
  EXPECT_EQ(h, (Bytes{0x1D, 0x6B, 0x49, 0x07, '{', 'B'}));
  ASSERT_TRUE(barcodeHeader(kBarcodeCode128, foundation::bytesOf("{A12"), &h));
  EXPECT_EQ(h, (Bytes{0x1D, 0x6B, 0x49, 0x04}));
  ASSERT_TRUE(barcodeHeader(kBarcodeLongType, Bytes(300, '1'), &h));
  EXPECT_EQ(h, (Bytes{0x1D, 0x6B, 0x4A, 0x00, 0x2C, 0x01}));
  EXPECT_FALSE(barcodeHeader(12, foundation::bytesOf("1"), &h));
  EXPECT_FALSE(barcodeHeader(0, {}, &h));
  // A one-byte length cannot describe 256 bytes (nor 254 plus the code-set prefix).
  EXPECT_FALSE(barcodeHeader(4, Bytes(256, '1'), &h));
  EXPECT_FALSE(barcodeHeader(kBarcodeCode128, Bytes(254, '1'), &h));
  EXPECT_EQ(barcodeSettingsCommand(BarcodeSettings{}),
            (Bytes{0x1D, 0x77, 3, 0x1D, 0x48, 2, 0x1D, 0x68, 77, 0x1B, 0x61, 0, 0x1D, 0x66, 0}));
  ASSERT_TRUE(qrCodeHeader(6, 2, 300, &h));
  EXPECT_EQ(h, (Bytes{0x1D, 0x51, 0x06, 6, 2, 0x2C, 0x01}));
  ASSERT_TRUE(pdf417Header(true, true, 3, 5, 10, &h));
  EXPECT_EQ(h, (Bytes{0x1D, 0x51, 0x02, 1, 0, 3, 5, 10, 0}));
  for (int s : {1, 4, 6, 8, 10, 12, 14}) EXPECT_TRUE(qrCodeSizeValid(s));
  for (int s : {0, 2, 3, 5, 15}) EXPECT_FALSE(qrCodeSizeValid(s));
}

TEST(PrinterCommands, RowsPackInBothBitOrders) {
  const Bytes dots = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1,  // row 0: dots 0 and 9
                      0, 0, 0, 0, 0, 0, 0, 1, 0, 0};  // row 1: dot 7
  EXPECT_EQ(packRows(dots, 10, 2, false), (Bytes{0x01, 0x02, 0x80, 0x00}));
  EXPECT_EQ(packRows(dots, 10, 2, true), (Bytes{0x80, 0x40, 0x01, 0x00}));
}

TEST(PrinterCommands, BandCompressionRoundTrips) {
  struct Case {
    const char* name;
    Bytes in;
    Bytes out;
  } cases[] = {
      {"run", Bytes(5, 0x00), {0xC5, 0x00}},
      {"long run splits at 63", Bytes(70, 0xFF), {0xFF, 0xFF, 0xC7, 0xFF}},
      {"single high byte", {0xC3}, {0xC1, 0xC3}},
      {"plain bytes", {0x01, 0x02, 0xBF}, {0x01, 0x02, 0xBF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes z = compressBand(c.in.data(), c.in.size());
    EXPECT_EQ(z, c.out);
    Bytes back;
    ASSERT_TRUE(expandBand(z.data(), z.size(), &back));
    EXPECT_EQ(back, c.in);
  }
  Bytes back;
  EXPECT_FALSE(expandBand(Bytes{0xC5}.data(), 1, &back));
  EXPECT_EQ(makerBandHeader(1, 48, 24), (Bytes{0x1B, 0x61, 1, 0x1B, 0x2A, 0x12, 48, 24, 0}));
  const Bytes g = genericBand(0, 2, Bytes{0xAA, 0xBB}.data(), 2);
  ASSERT_EQ(g.size(), 11u + 48u);
  EXPECT_EQ(Bytes(g.begin(), g.begin() + 13),
            (Bytes{0x1B, 0x61, 0, 0x1D, 0x76, 0x30, 0, 2, 0, 24, 0, 0xAA, 0xBB}));
}

TEST(PrinterCommands, PageCommandsAndRotation) {
  EXPECT_EQ(pageWorkingAreaCommand(1, 2, 300, 400, 1),
            (Bytes{0x1B, 0x57, 1, 0, 2, 0, 0x2C, 1, 0x90, 1, 0x1D, 0x54, 1}));
  EXPECT_EQ(pageFillCommand(0, 0, 10, 10, 1).size(), 11u);
  EXPECT_EQ(pageFrameCommand(0, 0, 10, 10, 2, 1).size(), 12u);
  EXPECT_EQ(pagePositionCommand(3, 4), (Bytes{0x1B, 0x24, 3, 0, 0x1D, 0x24, 4, 0}));

  PageGeometry g{576, 2432, 576, 1000, 0, false};
  int l = 100, t = 0, w = 0, h = 5000;
  rotateCoords(g, &l, &t, &w, &h);
  EXPECT_EQ(std::make_tuple(l, t, w, h), std::make_tuple(100, 0, 476, 2432));
  g.orientation = 2;
  g.rotateCoords = true;
  l = 10, t = 20, w = 100, h = 50;
  rotateCoords(g, &l, &t, &w, &h);
  EXPECT_EQ(std::make_tuple(l, t, w, h), std::make_tuple(576 - 10 - 100, 1000 - 20 - 50, 100, 50));
  g.orientation = 3;
  l = 10, t = 20, w = 100, h = 50;
  rotateCoords(g, &l, &t, &w, &h);
  EXPECT_EQ(std::make_tuple(l, t, w, h), std::make_tuple(576 - 20 - 50, 10, 50, 100));
  g.orientation = 1;
  l = 10, t = 20, w = 100, h = 50;
  rotateCoords(g, &l, &t, &w, &h);
  EXPECT_EQ(std::make_tuple(l, t, w, h), std::make_tuple(20, 1000 - 10 - 100, 50, 100));
}

TEST(PrinterCommands, TableOpensWithItsWidthAndRefusesAWideTable) {
  TableLayout t;
  t.columns = {{100, 0, 0, 2}, {100, 0, 2, 2}, {50, 0, 1, 4}};
  t.cells = {{0, 0, 0, "Item", 0}, {0, 0, 2, "1.00", 0}, {0, 0, 1, "x", 0}};
  t.flags = 3;
  Bytes out;
  ASSERT_TRUE(tableCommands(t, 384, &out));
  const Bytes open = {0x13, 0x41, 0x13, 0x01, 0x4D, 0x13, 0x2B, 0x13, 0x43, 0x13, 0x4C, 0x00};
  ASSERT_GT(out.size(), open.size() + 6);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 12), open);
  // 100 + 1 + 100 + 1 + 50 + 2 = 254; 130 left over for the two stretchable columns:
  // 64 each, so the table is 382 dots wide.
  EXPECT_EQ(foundation::readLE16(out.data() + 12), 382);
  EXPECT_EQ(Bytes(out.begin() + 14, out.begin() + 18), (Bytes{0x13, 0x41, 0x13, 0x50}));
  EXPECT_EQ(Bytes(out.end() - 9, out.end()), (Bytes{0x13, 0x41, 0x13, 0x50, 0x13, 0x2D, 0x1B, 0x21, 0}));
  t.columns[0].width = 300;
  EXPECT_FALSE(tableCommands(t, 384, &out));
}

}  // namespace
}  // namespace kestra::printer
