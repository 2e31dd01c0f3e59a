#include "platform/media/Capture.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/Image.h"

using namespace media;

namespace {

// Writes a frame as a PNG file, as a camera test image would be.
std::string writePng(const Frame& f, const std::string& name) {
  std::vector<uint8_t> rgba(size_t(f.width) * f.height * 4);
  for (size_t i = 0; i < f.luma.size(); ++i) {
    rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = f.luma[i];
    rgba[i * 4 + 3] = 255;
  }
  ui::Image image(f.width, f.height, rgba);
  auto bytes = image.pngData();
  auto path = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()) + ".png");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

}  // namespace

TEST(Capture, ReadsTheHandledSymbologiesFromImageFiles) {
  struct Case {
    const char* type;
    std::string text;
  };
  const Case cases[] = {
      {kMetadataObjectTypeEAN13Code, "0012345678905"},
      {kMetadataObjectTypeEAN13Code, "4006381333931"},
      {kMetadataObjectTypeCode128Code, "0STYLE-42/RED"},
      {kMetadataObjectTypeQRCode, "SO#100234"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto drawn = renderBarcode(c.type, c.text, 480, 240);
    ASSERT_TRUE(drawn);
    auto path = writePng(*drawn, "code");
    auto frame = frameFromImageFile(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(frame);
    auto objects = readBarcodes(*frame, supportedMetadataObjectTypes());
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].type, c.type);
    EXPECT_EQ(objects[0].stringValue, c.text);
    EXPECT_GT(objects[0].bounds.width, 0.3);
    EXPECT_GT(objects[0].bounds.height, 0.0);
  }
}

TEST(Capture, UnreadableInputGivesNothing) {
  EXPECT_TRUE(readBarcodes(Frame{}, supportedMetadataObjectTypes()).empty());
  Frame inconsistent{10, 10, std::vector<uint8_t>(5)};
  EXPECT_TRUE(readBarcodes(inconsistent, supportedMetadataObjectTypes()).empty());
  Frame blank{64, 64, std::vector<uint8_t>(64 * 64, 255)};
  EXPECT_TRUE(readBarcodes(blank, supportedMetadataObjectTypes()).empty());
  auto path = std::filesystem::temp_directory_path() / "not-an-image.png";
  std::ofstream(path) << "hello";
  foundation::Error error;
  EXPECT_FALSE(frameFromImageFile(path, &error));
  EXPECT_TRUE(error.isError());
  std::filesystem::remove(path);
  // Only the requested types are reported.
  auto qr = renderBarcode(kMetadataObjectTypeQRCode, "X", 200, 200);
  ASSERT_TRUE(qr);
  EXPECT_TRUE(readBarcodes(*qr, {kMetadataObjectTypeEAN13Code}).empty());
}

namespace {

struct Recorder : MetadataOutputObjectsDelegate {
  std::mutex m;
  std::vector<std::vector<MetadataObject>> calls;
  std::vector<std::string> threads;
  void didOutputMetadataObjects(CaptureMetadataOutput&, const std::vector<MetadataObject>& objects) override {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::lock_guard<std::mutex> lock(m);
    calls.push_back(objects);
    threads.push_back(name);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(m);
    return calls.size();
  }
};

bool waitFor(const std::function<bool()>& cond) {
  for (int i = 0; i < 500 && !cond(); ++i) usleep(10000);
  return cond();
}

}  // namespace

TEST(Capture, SessionReportsCodesOnItsQueueAndOneEmptyReportWhenTheyLeave) {
  auto source = std::make_shared<ScriptedFrameSource>();
  auto device = std::make_shared<CaptureDevice>(source);
  CaptureSession session;
  session.addInput(device);
  auto output = std::make_shared<CaptureMetadataOutput>();
  session.addOutput(output);
  auto recorder = std::make_shared<Recorder>();
  output->setMetadataObjectsDelegate(recorder, "scanQueue");
  output->setMetadataObjectTypes(output->availableMetadataObjectTypes());
  session.startRunning();
  ASSERT_TRUE(session.isRunning());

  Frame blank{64, 64, std::vector<uint8_t>(64 * 64, 255)};
  source->push(blank);  // nothing seen, nothing reported
  source->push(*renderBarcode(kMetadataObjectTypeEAN13Code, "4006381333931", 400, 200));
  source->push(blank);  // the code left: one empty report
  source->push(blank);  // still nothing: no report
  source->pushMetadata({{kMetadataObjectTypeQRCode, "Q", {}}});
  ASSERT_TRUE(waitFor([&] { return source->taken() == 5 && recorder->count() == 3; }));
  session.stopRunning();
  EXPECT_FALSE(session.isRunning());

  std::lock_guard<std::mutex> lock(recorder->m);
  ASSERT_EQ(recorder->calls.size(), 3u);
  ASSERT_EQ(recorder->calls[0].size(), 1u);
  EXPECT_EQ(recorder->calls[0][0].stringValue, "4006381333931");
  EXPECT_TRUE(recorder->calls[1].empty());
  EXPECT_EQ(recorder->calls[2][0].type, kMetadataObjectTypeQRCode);
  for (auto& t : recorder->threads) EXPECT_EQ(t, "scanQueue");
}

TEST(Capture, TorchNeedsADeviceThatHasOneAndTheConfigurationLock) {
  auto source = std::make_shared<ScriptedFrameSource>();
  CaptureDevice device(source);
  EXPECT_FALSE(device.isTorchAvailable());
  EXPECT_FALSE(device.lockForConfiguration());
  device.setTorchMode(TorchMode::On);
  EXPECT_FALSE(device.isTorchActive());

  source->setTorchAvailable(true);
  device.setTorchMode(TorchMode::On);  // not locked
  EXPECT_FALSE(device.isTorchActive());
  ASSERT_TRUE(device.lockForConfiguration());
  device.setTorchMode(TorchMode::On);
  EXPECT_TRUE(device.isTorchActive());
  EXPECT_TRUE(source->torchOn());
  device.setTorchMode(TorchMode::Off);
  device.unlockForConfiguration();
  EXPECT_FALSE(device.isTorchActive());
  EXPECT_FALSE(source->torchOn());
}

TEST(Capture, DefaultDeviceFollowsTheCameraSetting) {
  auto drawn = renderBarcode(kMetadataObjectTypeEAN13Code, "4006381333931", 300, 150);
  auto path = writePng(*drawn, "camera");
  ::setenv("KESTRA_CAMERA", path.c_str(), 1);
  auto device = CaptureDevice::defaultVideoDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(device->source().open(nullptr));
  auto frame = device->source().nextFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 300);
  device->source().close();
  ::setenv("KESTRA_CAMERA", "/nonexistent/camera", 1);
  EXPECT_EQ(CaptureDevice::defaultVideoDevice(), nullptr);
  ::unsetenv("KESTRA_CAMERA");
  std::filesystem::remove(path);
}
