#include "platform/ui/Image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace ui {
namespace {

// A 2x1 RGBA PNG made by an independent encoder (hand-built chunks over zlib): an opaque
// red pixel, then blue at alpha 128.
const ImageBytes kTwoPixelPng = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
    0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0xf4, 0x22, 0x7f, 0x8a, 0x00, 0x00, 0x00,
    0x0e, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x42, 0x0d, 0x00, 0x0f, 0x7a, 0x03,
    0x7e, 0x77, 0xe9, 0x7f, 0x97, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

int alpha255(const Image& img, int x, int y) { return static_cast<int>(img.pixelAt(x, y).a * 255 + 0.5); }

TEST(ImageTest, DecodesAnIndependentlyEncodedPng) {
  auto img = Image::fromData(kTwoPixelPng);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->pixelWidth(), 2);
  EXPECT_EQ(img->pixelHeight(), 1);
  EXPECT_EQ(img->pixelAt(0, 0), Color::red());
  Color c = img->pixelAt(1, 0);
  EXPECT_EQ(c.b, 1.0);
  EXPECT_EQ(alpha255(*img, 1, 0), 128);
  // Scale divides the size in points.
  EXPECT_EQ(Image::fromData(kTwoPixelPng, 2)->size(), (Size{1, 0.5}));
}

TEST(ImageTest, BadBytesGiveNoImage) {
  struct Case {
    const char* name;
    ImageBytes bytes;
  };
  ImageBytes truncatedPng(kTwoPixelPng.begin(), kTwoPixelPng.begin() + 40);
  ImageBytes corruptPng = kTwoPixelPng;
  corruptPng[50] ^= 0xFF;  // inside the compressed data
  ImageBytes jpeg = Image::filled({8, 8}, Color::green())->jpegData(0.5);
  ImageBytes truncatedJpeg(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 3));
  const Case cases[] = {
      {"empty", {}},
      {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o'}},
      {"png signature only", ImageBytes(kTwoPixelPng.begin(), kTwoPixelPng.begin() + 8)},
      {"truncated png", truncatedPng},
      {"corrupt png data", corruptPng},
      {"jpeg start marker only", {0xFF, 0xD8, 0xFF, 0xE0}},
      {"truncated jpeg", truncatedJpeg},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Image::fromData(c.bytes), nullptr);
  }
}

TEST(ImageTest, PngRoundTripIsExactAndJpegKeepsSizeAndColour) {
  ImageContext ctx({20, 10});
  ctx.fillRect({0, 0, 10, 10}, Color::red());
  ctx.fillRect({10, 0, 10, 10}, Color::blue().withAlpha(0.5));
  auto img = ctx.image();
  auto back = Image::fromData(img->pngData());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->rgba(), img->rgba());

  auto jpeg = Image::fromData(img->jpegData(0.4));
  ASSERT_NE(jpeg, nullptr);
  EXPECT_EQ(jpeg->pixelWidth(), 20);
  EXPECT_EQ(jpeg->pixelHeight(), 10);
  Color red = jpeg->pixelAt(3, 5);
  EXPECT_GT(red.r, 0.9);
  EXPECT_LT(red.g, 0.1);
  // No alpha in JPEG: half-transparent blue lands on white.
  Color pale = jpeg->pixelAt(16, 5);
  EXPECT_NEAR(pale.r, 0.5, 0.06);
  EXPECT_NEAR(pale.b, 1.0, 0.06);
  EXPECT_EQ(jpeg->pixelAt(16, 5).a, 1.0);
  // Lower quality, fewer bytes.
  EXPECT_LT(img->jpegData(0.1).size(), img->jpegData(0.9).size());
}

TEST(ImageTest, StrokesHonourWidthAndCaps) {
  struct Case {
    const char* name;
    LineCap cap;
    bool beyondEndPainted;
  };
  const Case cases[] = {{"round", LineCap::Round, true}, {"square", LineCap::Square, true}, {"butt", LineCap::Butt, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImageContext ctx({40, 20});
    ctx.strokeLine({10, 10}, {30, 10}, 3, Color::red(), c.cap);
    auto img = ctx.image();
    EXPECT_EQ(img->pixelAt(20, 9), Color::red());  // the pixel whose centre is on the line
    EXPECT_EQ(img->pixelAt(20, 10), Color::red());
    EXPECT_EQ(alpha255(*img, 20, 13), 0);          // well off it
    EXPECT_EQ(alpha255(*img, 9, 9) > 0, c.beyondEndPainted);
  }
}

TEST(ImageTest, PathJoinsAreNotPaintedTwice) {
  ImageContext ctx({30, 30});
  ctx.strokePath({{5, 5}, {15, 5}, {15, 25}}, 3, Color::black().withAlpha(0.5));
  auto img = ctx.image();
  EXPECT_EQ(alpha255(*img, 14, 4), 128);  // at the corner
  EXPECT_EQ(alpha255(*img, 8, 4), 128);
}

TEST(ImageTest, DrawingStretchesImagesIntoRects) {
  ImageContext src({2, 2});
  src.fillRect({0, 0, 1, 2}, Color::red());
  src.fillRect({1, 0, 1, 2}, Color::green());
  auto small = src.image();
  auto big = small->scaledTo({20, 10});
  EXPECT_EQ(big->pixelWidth(), 20);
  EXPECT_EQ(big->pixelHeight(), 10);
  EXPECT_EQ(big->pixelAt(1, 5), Color::red());
  EXPECT_EQ(big->pixelAt(18, 5), Color::green());
  // An image drawn at scale 2 covers twice the pixels.
  ImageContext retina({10, 10}, false, 2);
  retina.drawImage(*small, {0, 0, 10, 10});
  EXPECT_EQ(retina.image()->pixelWidth(), 20);
  EXPECT_EQ(retina.image()->size(), (Size{10, 10}));
}

TEST(ImageTest, NamedImagesComeFromTheRegistryOrResourceDirectories) {
  auto dir = std::filesystem::temp_directory_path() / "kestra-ui-image-test";
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "info.png", std::ios::binary);
    out.write(reinterpret_cast<const char*>(kTwoPixelPng.data()), static_cast<std::streamsize>(kTwoPixelPng.size()));
  }
  Image::addResourceDirectory(dir.string());
  auto byName = Image::named("info.png");
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(byName->name(), "info.png");
  EXPECT_EQ(Image::named("info.png"), byName);  // cached
  EXPECT_NE(Image::named("info"), nullptr);      // extension optional
  EXPECT_EQ(Image::named("no-such-image.png"), nullptr);
  auto drawn = Image::filled({4, 4}, Color::red());
  Image::registerNamed("back.png", drawn);
  EXPECT_EQ(Image::named("back.png"), drawn);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ui

#include "platform/ui/ImageView.h"

namespace ui {
namespace {

TEST(ImageViewTest, UrlLoadsThroughTheInstalledLoaderAndTheLatestAddressWins) {
  std::vector<std::pair<std::string, ImageView::Completion>> pending;
  ImageView::setImageLoader([&](const std::string& url, ImageView::Completion done) { pending.push_back({url, done}); });
  auto view = std::make_shared<ImageView>();
  auto placeholder = Image::filled({1, 1}, Color::gray());
  int completions = 0;
  view->setImageWithURL("http://server/styleimages/A.jpg", placeholder, [&](std::shared_ptr<Image>) { ++completions; });
  EXPECT_EQ(view->image(), placeholder);
  view->setImageWithURL("http://server/styleimages/B.jpg", placeholder);  // reused for another row
  auto a = Image::filled({2, 2}, Color::red()), b = Image::filled({2, 2}, Color::blue());
  pending[1].second(b);
  pending[0].second(a);  // late answer for the old address
  EXPECT_EQ(view->image(), b);
  EXPECT_EQ(completions, 0);
  ImageView::setImageLoader(nullptr);
  view->setImageWithURL("http://server/x.jpg", placeholder, [&](std::shared_ptr<Image> img) { completions += img ? 10 : 1; });
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(view->image(), placeholder);
}

}  // namespace
}  // namespace ui
