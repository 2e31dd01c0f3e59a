// Style picture addresses and the two picture functions.
#include <gtest/gtest.h>

#include "app/orders/ImageViewClass.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "testing/app/LoginTestSupport.h"
#include "testing/net/HttpTestServers.h"

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

TEST(StyleImages, ASilentPictureServerIsGivenFiveSecondsPerCandidateOffTheMainThread) {
  using namespace std::chrono_literals;
  foundation::ScopedManualClock clock;
  test_support::FreshDefaults fresh;
  net::testing::RawHttpServer silent("");  // reads each request, never answers
  fresh.defaults().setString("serverIP", "127.0.0.1");
  fresh.defaults().setString("serverPort", std::to_string(silent.port()));
  bool done = false;
  std::optional<std::string> found = "unset";
  ImageViewClass::getProductImageUrlString("S1", "RED", false, false, [&](std::optional<std::string> url) {
    done = true;
    found = url;
  });
  EXPECT_FALSE(done);  // returned at once: nothing waits on this thread
  for (size_t asked = 1; asked <= 4; ++asked) {
    ASSERT_TRUE(silent.waitFor([&](net::testing::RawHttpServer& s) { return s.requestCountLocked() == asked; }));
    // Four seconds in, the candidate is still waited for.
    clock->advance(4s);
    foundation::RunLoop::main().runUntil([&] { return done; }, std::chrono::milliseconds(30));
    EXPECT_EQ(silent.requests().size(), asked);
    for (int step = 0; step < 20 && !done && silent.requests().size() == asked; ++step) {
      clock->advance(1s);
      foundation::RunLoop::main().runUntil([&] { return done || silent.requests().size() > asked; },
                                           std::chrono::milliseconds(50));
    }
  }
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(20)));
  EXPECT_FALSE(found.has_value());
  const auto requests = silent.requests();
  ASSERT_EQ(requests.size(), 4u);
  const char* names[] = {"S1_RED_front.jpg", "S1_RED.jpg", "S1_front.jpg", "S1.jpg"};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(requests[i].rfind(std::string("GET /styleimages/") + names[i], 0), 0u) << requests[i];
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
