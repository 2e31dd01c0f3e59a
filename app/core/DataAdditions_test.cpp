#include "app/core/DataAdditions.h"
#include "app/core/ImageAdditions.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

using foundation::bytesOf;
using foundation::textOf;
namespace DA = DataAdditions;

TEST(DataAdditionsTest, DecodesLeniently) {
  struct Case { const char* name; std::string in, out; };
  // RFC 4648 test vectors, then the lenient rules.
  const std::vector<Case> cases = {
      {"empty", "", ""},           {"f", "Zg==", "f"},          {"fo", "Zm8=", "fo"},
      {"foo", "Zm9v", "foo"},       {"foob", "Zm9vYg==", "foob"}, {"fooba", "Zm9vYmE=", "fooba"},
      {"foobar", "Zm9vYmFy", "foobar"},
      {"skips foreign characters", "Zm9v\nYm*Fy", "foobar"},
      {"first = ends decoding", "Zm9v=Zm9v", "foo"},
      {"eight symbols without = give six bytes", "Zm9vYmFy", "foobar"},
      {"unfinished group without = is dropped", "Zm9vYm", "foo"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(textOf(DA::dataWithBase64EncodedString(c.in)), c.out);
    EXPECT_EQ(textOf(DA::dataFromBase64String(c.in)), c.out);
  }
  EXPECT_TRUE(DA::dataWithBase64EncodedString(std::nullopt).empty());
}

TEST(DataAdditionsTest, EncodesWithPaddingAndLineBreaks) {
  EXPECT_EQ(DA::base64Encoding(bytesOf("foobar")), "Zm9vYmFy");
  EXPECT_EQ(DA::base64EncodedString(bytesOf("fooba")), "Zm9vYmE=");
  EXPECT_EQ(DA::base64Encoding(bytesOf("f")), "Zg==");
  EXPECT_EQ(DA::base64EncodingWithLineLength(bytesOf("foobarfoobar"), 8), "Zm9vYmFy\nZm9vYmFy\n");
  EXPECT_EQ(DA::base64EncodingWithLineLength(bytesOf("foobarfoo"), 6), "Zm9vYmFy\nZm9v");
}

TEST(DataAdditionsTest, PrefixAndSuffix) {
  const auto data = bytesOf("%B4111");
  EXPECT_TRUE(DA::hasPrefix(data, bytesOf("%B")));
  EXPECT_FALSE(DA::hasPrefix(data, bytesOf("")));
  EXPECT_FALSE(DA::hasPrefix(bytesOf("%"), bytesOf("%B")));
  EXPECT_TRUE(DA::hasSuffix(data, bytesOf("111")));
  EXPECT_FALSE(DA::hasSuffix(data, bytesOf("4")));
  EXPECT_FALSE(DA::hasSuffixBytes(data, nullptr, 2));
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

TEST(ImageAdditionsTest, PictureTravelsAsBase64JpegAndBack) {
  auto image = ui::Image::filled({16, 8}, ui::Color::blue());
  const std::string text = base64JpegString(*image, 0.4);
  EXPECT_EQ(text.rfind("/9j/", 0), 0u);  // Base64 of the JPEG start marker
  auto back = imageFromBase64(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelWidth(), 16);
  EXPECT_EQ(back->pixelHeight(), 8);
  EXPECT_FALSE(imageFromBase64("bm90IGEgcGljdHVyZQ=="));  // "not a picture"
  auto stretched = back->scaledTo({32, 4});
  EXPECT_EQ(stretched->pixelWidth(), 32);
  EXPECT_EQ(stretched->pixelHeight(), 4);
}

}  // namespace
}  // namespace orvo
