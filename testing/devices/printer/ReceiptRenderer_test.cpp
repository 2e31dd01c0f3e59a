// The simulated print head: bytes cut anywhere draw the same receipt, and what it answers.
#include "testing/devices/printer/ReceiptRenderer.h"

#include <gtest/gtest.h>

#include "sdk/printer/PrinterCommands.h"
#include "sdk/printer/PrinterText.h"

namespace devices {
namespace {

Bytes sampleBytes() {
  Bytes out;
  kestra::printer::TextState s;
  Bytes prepared;
  EXPECT_TRUE(kestra::printer::prepareText("{=C}{+B}Hello{-B}\n{=R}world 1,250.00\n", 12, &prepared));
  kestra::printer::layoutText(prepared, 12, 384, s, kestra::printer::TextEscapes::standard(), [&](const Bytes& r) {
    out.insert(out.end(), r.begin(), r.end());
    return true;
  });
  // A band of 24 rows, 2 bytes wide, compressed, and a Code 128 barcode.
  const Bytes rows(48, 0xF0);
  const Bytes band = kestra::printer::makerBandHeader(0, 2, 24);
  out.insert(out.end(), band.begin(), band.end());
  const Bytes z = kestra::printer::compressBand(rows.data(), rows.size());
  out.insert(out.end(), z.begin(), z.end());
  out.push_back(10);
  Bytes header;
  EXPECT_TRUE(kestra::printer::barcodeHeader(8, foundation::bytesOf("AB12"), &header));
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), {'A', 'B', '1', '2'});
  return out;
}

TEST(ReceiptRenderer, BytesCutAnywhereDrawTheSameReceipt) {
  const Bytes all = sampleBytes();
  ReceiptRenderer whole;
  whole.feed(all);
  whole.finishLine();
  EXPECT_EQ(whole.lines(), (std::vector<std::string>{"Hello", "world 1,250.00", "[barcode AB12]"}));
  for (size_t cut = 1; cut < all.size(); ++cut) {
    ReceiptRenderer r;
    r.feed(all.data(), cut);
    r.feed(all.data() + cut, all.size() - cut);
    r.finishLine();
    ASSERT_EQ(r.dots(), whole.dots()) << "cut at " << cut;
  }
  // The band: four white dots then four black, per byte (bit 0 is the leftmost dot).
  bool band = false;
  for (int y = 0; y < whole.height() && !band; ++y)
    band = !whole.dot(0, y) && whole.dot(4, y) && whole.dot(7, y) && !whole.dot(8, y) && whole.dot(12, y);
  EXPECT_TRUE(band);
}

TEST(ReceiptRenderer, QueriesAreHandedToTheOwnerAndGarbageIsSkipped) {
  ReceiptRenderer r;
  std::vector<Bytes> queries;
  r.onQuery = [&](const Bytes& q) { queries.push_back(q); };
  r.feed(Bytes{0x1B, 0x5A, 0x1B, 0x60, 0x1B, 0x42, 0x25, 0x1B, 0x42, 0x20, 0x1B, 0x4E});
  ASSERT_EQ(queries.size(), 4u);  // ESC B 0x25 only sets the scan time-out
  EXPECT_EQ(queries[2], (Bytes{0x1B, 0x42, 0x20}));
  // An escape sequence the head does not know is skipped.
  r.feed(Bytes{0x1B, 0x99, 'o', 'k', '\n'});
  EXPECT_EQ(r.lines().back(), "ok");
}

}  // namespace
}  // namespace devices
