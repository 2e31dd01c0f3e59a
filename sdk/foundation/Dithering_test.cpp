#include "sdk/foundation/Dithering.h"

#include <gtest/gtest.h>

#include <limits>

namespace kestra {
namespace {

using foundation::Bytes;

// Columns of row `y` that hold a black dot.
std::vector<int> blackColumns(const Bytes& raster, int rowBytes, int y) {
  std::vector<int> out;
  for (int x = 0; x < rowBytes * 8; ++x)
    if (raster[size_t(y) * size_t(rowBytes) * 8 + size_t(x)]) out.push_back(x);
  return out;
}

TEST(DitheringTest, PlacementAndRowLength) {
  struct Case { int width; int maxWidth; int alignment; int offset; int rowBytes; };
  const Case cases[] = {
      {100, 384, 1, 142, 31},  // centred: (384 - 100) / 2
      {100, 384, 0, 0, 13},
      {100, 384, 2, 284, 48},
      {100, 384, 7, 0, 13},    // unknown alignment is left
      {500, 384, 1, 0, 48},    // squeezed to the maximum width
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.alignment);
    int rowBytes = 0;
    auto r = getDitheredData(KXImage::grey(c.width, 4, 0), c.alignment, c.maxWidth, &rowBytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(rowBytes, c.rowBytes);
    ASSERT_EQ(r->size(), size_t(c.rowBytes) * 8 * 4);
    const int drawn = std::min(c.width, c.maxWidth);
    for (int y = 0; y < 4; ++y) {
      const auto cols = blackColumns(*r, rowBytes, y);
      ASSERT_EQ(cols.size(), size_t(drawn));
      EXPECT_EQ(cols.front(), c.offset);
      EXPECT_EQ(cols.back(), c.offset + drawn - 1);
    }
  }
  EXPECT_FALSE(getDitheredData(KXImage::grey(0, 4, 0), 0, 384, nullptr));
  EXPECT_FALSE(getDitheredData(KXImage::grey(10, 0, 0), 0, 384, nullptr));
  EXPECT_FALSE(getDitheredData(KXImage::grey(10, 4, 0), 0, 0, nullptr));
  // A row whose dots an int cannot count is refused rather than wrapped.
  EXPECT_FALSE(getDitheredData(KXImage::grey(10, 4, 0), 2, std::numeric_limits<int>::max(), nullptr));
  EXPECT_FALSE(getDitheredPinpadData(KXImage::grey(10, 4, 0), 2, std::numeric_limits<int>::max()));
}

TEST(DitheringTest, WhiteIsEmptyAndNarrowImagesAreThresholded) {
  int rowBytes = 0;
  auto white = getDitheredData(KXImage::grey(37, 9, 255), 1, 64, &rowBytes);
  ASSERT_TRUE(white);
  EXPECT_EQ(std::count(white->begin(), white->end(), 1), 0);

  // Three dots wide: no diffusion, a dot is black when its grey value is below 128.
  KXImage narrow{3, 1, KXImage::Format::Grey8, {127, 128, 200}};
  auto t = getDitheredData(narrow, 0, 8, &rowBytes);
  ASSERT_TRUE(t);
  EXPECT_EQ(Bytes(t->begin(), t->begin() + 3), Bytes({1, 0, 0}));

  // Transparent pixels count as white.
  KXImage clear{2, 1, KXImage::Format::RGBA8, {0, 0, 0, 0, 0, 0, 0, 255}};
  auto c = getDitheredData(clear, 0, 8, &rowBytes);
  EXPECT_EQ(Bytes(c->begin(), c->begin() + 2), Bytes({0, 1}));
}

TEST(DitheringTest, MidGreyDiffusesToAboutHalfTheDots) {
  int rowBytes = 0;
  auto r = getDitheredData(KXImage::grey(64, 64, 128), 0, 64, &rowBytes);
  ASSERT_TRUE(r);
  long black = std::count(r->begin(), r->end(), 1);
  // The edge columns are not quantised; the interior comes close to a 50 % pattern.
  EXPECT_GT(black, 64 * 64 * 4 / 10);
  EXPECT_LT(black, 64 * 64 * 6 / 10);
}

TEST(DitheringTest, PinpadPagesHoldEightRowsABit) {
  // 16 wide, 10 high, left aligned: WI equals R × 8 and the layout is exact.
  KXImage img = KXImage::grey(16, 10, 255);
  img.pixels[0 * 16 + 5] = 0;   // row 0, column 5
  img.pixels[8 * 16 + 2] = 0;   // row 8, column 2
  img.pixels[9 * 16 + 2] = 0;   // row 9, column 2
  auto pages = getDitheredPinpadData(img, 0, 384);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->size(), 16u * 2);
  Bytes expected(32, 0);
  expected[5] = 0x01;
  expected[16 + 2] = 0x03;
  EXPECT_EQ(*pages, expected);
}

TEST(DitheringTest, PinpadPagesOfWideOrCentredImagesStayInsideTheirBuffers) {
  // Wider than the maximum width: squeezed into 64 dots, pages keep the image's own width.
  auto wide = getDitheredPinpadData(KXImage::grey(200, 20, 0), 0, 64);
  ASSERT_TRUE(wide);
  ASSERT_EQ(wide->size(), 200u * 3);
  for (int page = 0; page < 3; ++page) {
    const uint8_t full = page < 2 ? 0xFF : 0x0F;
    for (int x = 0; x < 200; ++x)
      EXPECT_EQ((*wide)[size_t(page) * 200 + size_t(x)], x < 64 ? full : 0) << page << "," << x;
  }

  // Centred: the page shows the image from its first column, not the raster's margin.
  auto centred = getDitheredPinpadData(KXImage::grey(10, 8, 0), 1, 64);
  ASSERT_TRUE(centred);
  for (int x = 0; x < 10; ++x) EXPECT_EQ((*centred)[size_t(x)], 0xFF) << x;
  for (size_t i = 10; i < centred->size(); ++i) EXPECT_EQ((*centred)[i], 0) << i;
}

}  // namespace
}  // namespace kestra
