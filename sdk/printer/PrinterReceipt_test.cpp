// A whole receipt through the driver: the simulated printer's picture of it equals the golden
// image, and the codes on it read back with an independent reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#define ZX_USE_UTF8 1
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>

#include "sdk/printer/Printer.h"
#include "testing/devices/printer/PrinterTestBench.h"
#include "testing/devices/printer/SampleReceipt.h"

namespace kestra {
namespace {

using devices::PrinterPersona;
using devices::PrinterTestBench;
using foundation::Bytes;

// The device API's printing names over one printer driver.
struct PrinterAsApi {
  Printer& p;
  bool prnPrintImage(const KXImage& i, int a) { return p.printImage(i, a); }
  bool prnPrintText(const std::string& t) { return p.printText(t); }
  bool prnPrintDelimiter(int c) { return p.printDelimiter(c); }
  bool prnSetBarcodeSettings(int s, int h, int t, int a) { return p.setBarcodeSettings(s, h, t, a); }
  bool prnPrintBarcode(int t, const Bytes& b) { return p.printBarcode(t, b); }
  bool prnPrintBarcodeQRCode(const Bytes& b, int e, int s) { return p.printBarcodeQRCode(b, e, s); }
  bool prnFeedPaper(int n) { return p.feedPaper(n); }
  bool prnFlushCache() { return p.flushCache(); }
};

std::vector<std::string> readCodes(const devices::ReceiptRenderer& r) {
  std::vector<uint8_t> lum(r.dots().size());
  for (size_t i = 0; i < lum.size(); ++i) lum[i] = r.dots()[i] ? 0 : 255;
  // A quiet zone around the picture.
  const int w = r.paperWidth() + 40, h = r.height() + 40;
  std::vector<uint8_t> framed(size_t(w) * size_t(h), 255);
  for (int y = 0; y < r.height(); ++y)
    std::copy_n(lum.begin() + long(y) * r.paperWidth(), r.paperWidth(), framed.begin() + long(y + 20) * w + 20);
  std::vector<std::string> out;
  for (const auto& res : ZXing::ReadBarcodes(ZXing::ImageView(framed.data(), w, h, ZXing::ImageFormat::Lum)))
    if (res.isValid()) out.push_back(res.text());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PrinterReceipt, SampleReceiptMatchesTheGoldenPicture) {
  PrinterTestBench b(PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  PrinterAsApi api{*b.printer};
  ASSERT_TRUE(devices::printSampleReceipt(api));
  const std::filesystem::path golden = std::filesystem::path(KESTRA_PRINTER_GOLDEN) / "sample-receipt.png";
  const std::filesystem::path actual = std::filesystem::temp_directory_path() / "kestra-sample-receipt.png";
  b.sim->model().withRenderer([&](devices::ReceiptRenderer& r) {
    r.finishLine();
    ASSERT_TRUE(r.savePng(actual));
    if (std::getenv("KESTRA_UPDATE_GOLDEN")) r.savePng(golden);
    EXPECT_EQ(readCodes(r), (std::vector<std::string>{devices::kSampleBarcode, devices::kSampleQRCode}));
    const auto& lines = r.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ORVO STORE"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(32, '-')), lines.end());
  });
  const auto want = devices::readGreyPng(golden);
  const auto got = devices::readGreyPng(actual);
  ASSERT_TRUE(want) << "no golden picture at " << golden;
  ASSERT_TRUE(got);
  EXPECT_EQ(got->width, want->width);
  EXPECT_EQ(got->height, want->height);
  EXPECT_TRUE(got->pixels == want->pixels) << "the receipt differs from " << golden << "; see " << actual;
  // Kept only when something failed, for a person to look at.
  std::error_code ec;
  if (!HasFailure()) std::filesystem::remove(actual, ec);
}

TEST(PrinterReceipt, ImagesGoOutAsCompressedBandsOrRasterBands) {
  for (const auto& persona : {PrinterPersona::scanner(), PrinterPersona::generic()}) {
    SCOPED_TRACE(persona.name);
    PrinterTestBench b(persona);
    ASSERT_TRUE(b.connect());
    const size_t start = b.sim->model().printData().size();
    ASSERT_TRUE(b.printer->printImage(devices::sampleLogo(), ALIGN_LEFT));
    ASSERT_TRUE(b.printer->flushCache());
    // Plain bytes have no reply to wait for: wait until the printer has both bands.
    const size_t generic = 2 * (11 + 12 * 24);
    if (persona.kind == PrinterPersona::Kind::Generic) {
      ASSERT_TRUE(b.runUntil([&] { return b.sim->model().printData().size() >= start + generic; }));
    }
    const Bytes all = b.sim->model().printData();
    const Bytes sent(all.begin() + long(start), all.end());
    // Two bands of 24 rows of 12 bytes.
    size_t bands = 0;
    for (size_t i = 0; i + 3 < sent.size(); ++i) {
      if (persona.kind == PrinterPersona::Kind::Generic && sent[i] == 0x1D && sent[i + 1] == 0x76 && sent[i + 2] == 0x30) {
        ++bands;
        EXPECT_EQ(foundation::readLE16(sent.data() + i + 4), 12);
        EXPECT_EQ(foundation::readLE16(sent.data() + i + 6), 24);
      }
      if (persona.kind != PrinterPersona::Kind::Generic && sent[i] == 0x1B && sent[i + 1] == 0x2A && sent[i + 2] == 0x12) {
        ++bands;
        EXPECT_EQ(sent[i + 3], 12);
        EXPECT_EQ(sent[i + 4], 24);
      }
    }
    EXPECT_EQ(bands, 2u);
    // Either way the print head draws the same picture: the frame's corners are black.
    b.sim->model().withRenderer([&](devices::ReceiptRenderer& r) {
      EXPECT_TRUE(r.dot(0, 0));
      EXPECT_TRUE(r.dot(95, 47));
      EXPECT_FALSE(r.dot(48, 10));
    });
  }
}

}  // namespace
}  // namespace kestra
