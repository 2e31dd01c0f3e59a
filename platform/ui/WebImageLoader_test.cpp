#include "platform/ui/WebImageLoader.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/foundation/RunLoop.h"
#include "platform/net/HttpClient.h"
#include "platform/ui/ImageView.h"

namespace ui {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A picture server on loopback: "/red.png" is a picture, "/text" is not, "/held" answers
// only once released. Counts the picture requests.
class PictureServer {
 public:
  PictureServer() {
    const auto png = Image::filled({4, 3}, Color::red())->pngData();
    http_.Get("/red.png", [this, body = std::string(png.begin(), png.end())](const httplib::Request&,
                                                                              httplib::Response& res) {
      ++pictures;
      res.set_content(body, "image/png");
    });
    http_.Get("/text", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello", "text/plain"); });
    port_ = http_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { http_.listen_after_bind(); });
  }
  ~PictureServer() { stop(); }
  void stop() {
    http_.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::atomic<int> pictures{0};

 private:
  httplib::Server http_;
  int port_ = 0;
  std::thread thread_;
};

struct Result {
  bool done = false;
  std::shared_ptr<Image> image;
  foundation::Error error;
  ImageCacheType type = ImageCacheType::None;
};

class WebImageLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvo-images-XXXXXX";
    folder = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(folder); }

  Result load(WebImageLoader& loader, const std::string& url) {
    Result r;
    loader.load(url, [&r](std::shared_ptr<Image> image, const foundation::Error& error, ImageCacheType type) {
      r = {true, std::move(image), error, type};
    });
    EXPECT_TRUE(foundation::RunLoop::main().runUntil([&] { return r.done; }));
    return r;
  }

  fs::path folder;
};

TEST_F(WebImageLoaderTest, FetchedOnceThenServedFromMemoryAndFromDiskWhileTheServerIsDown) {
  PictureServer server;
  const std::string url = server.url("/red.png");
  {
    WebImageLoader loader(folder);
    auto first = load(loader, url);
    ASSERT_TRUE(first.image);
    EXPECT_EQ(first.type, ImageCacheType::None);
    EXPECT_EQ(first.image->pixelWidth(), 4);
    EXPECT_EQ(first.image->pixelAt(1, 1), Color::red());
    EXPECT_TRUE(fs::exists(loader.diskPathFor(url)));

    auto second = load(loader, url);
    EXPECT_EQ(second.type, ImageCacheType::Memory);
    EXPECT_EQ(second.image, first.image);
    server.stop();

    loader.clearMemory();
    auto third = load(loader, url);
    ASSERT_TRUE(third.image);
    EXPECT_EQ(third.type, ImageCacheType::Disk);
  }
  // A new loader over the same folder (the next start of the application).
  WebImageLoader again(folder);
  auto fourth = load(again, url);
  ASSERT_TRUE(fourth.image);
  EXPECT_EQ(fourth.type, ImageCacheType::Disk);
  EXPECT_EQ(server.pictures, 1);

  bool cleared = false;
  again.clearDisk([&] { cleared = true; });
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return cleared; }));
  again.clearMemory();
  auto gone = load(again, url);
  EXPECT_FALSE(gone.image);
  EXPECT_EQ(gone.error.code, net::kUrlErrorCannotConnectToHost);
}

TEST_F(WebImageLoaderTest, WhatIsNotAPictureIsAnErrorAndNotKept) {
  PictureServer server;
  WebImageLoader loader(folder);
  struct Case {
    const char* path;
    int code;
  } cases[] = {{"/text", -1}, {"/missing.png", 404}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto r = load(loader, server.url(c.path));
    EXPECT_FALSE(r.image);
    EXPECT_EQ(r.error.code, c.code);
    EXPECT_FALSE(fs::exists(loader.diskPathFor(server.url(c.path))));
  }
}

TEST_F(WebImageLoaderTest, LoadsInFlightTogetherShareOneFetch) {
  PictureServer server;
  WebImageLoader loader(folder);
  int done = 0;
  for (int i = 0; i < 3; ++i)
    loader.load(server.url("/red.png"), [&](std::shared_ptr<Image> image, const foundation::Error&, ImageCacheType) {
      if (image) ++done;
    });
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return done == 3; }));
  EXPECT_EQ(server.pictures, 1);
}

TEST_F(WebImageLoaderTest, ASlowServerTimesOutOnTheClockWithoutHoldingTheMainThread) {
  foundation::ScopedManualClock clock;
  // Listens but never answers.
  httplib::Server silent;
  std::atomic<bool> release{false};
  silent.Get("/slow.png", [&](const httplib::Request&, httplib::Response&) {
    while (!release) std::this_thread::sleep_for(1ms);
  });
  const int port = silent.bind_to_any_port("127.0.0.1");
  std::thread t([&] { silent.listen_after_bind(); });
  // A stop() before the server runs is lost, and the join below would wait for ever.
  while (!silent.is_running()) std::this_thread::yield();
  WebImageLoader loader(folder);
  loader.setTimeouts(15s, 60s);
  Result r;
  loader.load("http://127.0.0.1:" + std::to_string(port) + "/slow.png",
              [&](std::shared_ptr<Image> image, const foundation::Error& error, ImageCacheType type) {
                r = {true, std::move(image), error, type};
              });
  EXPECT_FALSE(r.done);  // returned at once
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] {
    clock->advance(1s);
    return r.done;
  }));
  EXPECT_EQ(r.error.code, net::kUrlErrorTimedOut);
  release = true;
  silent.stop();
  t.join();
}

TEST_F(WebImageLoaderTest, ImageViewsLoadThroughTheInstalledLoader) {
  PictureServer server;
  WebImageLoader loader(folder);
  loader.installForImageViews();
  auto view = makeView<ImageView>(Rect(0, 0, 40, 30));
  bool done = false;
  view->setImageWithURL(server.url("/red.png"), nullptr, [&](std::shared_ptr<Image>) { done = true; });
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return done; }));
  ASSERT_TRUE(view->image());
  EXPECT_EQ(view->image()->pixelAt(0, 0), Color::red());
  ImageView::setImageLoader(nullptr);
}

}  // namespace
}  // namespace ui
