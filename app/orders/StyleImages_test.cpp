// Style picture addresses and the two picture functions.
#include <gtest/gtest.h>

#include "app/orders/ImageViewClass.h"
#include "platform/foundation/UserDefaults.h"
#include "testing/app/LoginTestSupport.h"

namespace orvo {
namespace {

TEST(StyleImages, CandidatesComeInTheirProbingOrderWithSafeEscapedNames) {
  test_support::FreshDefaults fresh;
  fresh.defaults().setString("serverIP", "10.0.0.5");
  fresh.defaults().setString("serverPort", "8080");
  const std::string base = "http://10.0.0.5:8080/styleimages/";
  struct Case {
    const char* style;
    const char* color;
    bool back, resized;
    std::vector<std::string> urls;
  };
  const Case cases[] = {
      {"A/B", "RED", false, false,
       {base + "A-B_RED_front.jpg", base + "A-B_RED.jpg", base + "A-B_front.jpg", base + "A-B.jpg"}},
      {"A/B", "RED", true, true, {base + "resizeImages/A-B_RED_back.jpg", base + "resizeImages/A-B_back.jpg"}},
      {"T 1", "a:b*c?d\"e<f>g|h", true, false,
       {base + "T%201_a-b-c-d-e-f-g-h_back.jpg", base + "T%201_back.jpg"}},
      {"X\\Y", "", true, false, {base + "X%5CY__back.jpg", base + "X%5CY_back.jpg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.style) + " " + c.color);
    EXPECT_EQ(ImageViewClass::candidateUrls(c.style, c.color, c.back, c.resized), c.urls);
  }
}

TEST(StyleImages, ResizingGivesExactPixelsAndScalingKeepsTheImagesScale) {
  auto source = ui::Image::filled({30, 10}, ui::Color::red());
  auto resized = ImageViewClass::resizeImage(*source, 600, 400);
  ASSERT_NE(resized, nullptr);
  EXPECT_EQ(resized->pixelWidth(), 600);
  EXPECT_EQ(resized->pixelHeight(), 400);
  auto scaled = ImageViewClass::imageWithImage(*source, {60, 15});
  EXPECT_EQ(scaled->size().width, 60);
  EXPECT_EQ(scaled->size().height, 15);
  EXPECT_EQ(scaled->pixelAt(30, 7), ui::Color::red());
}

}  // namespace
}  // namespace orvo
