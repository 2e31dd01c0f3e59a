#include "app/core/CameraScanViewController.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/core/AboutViewController.h"
#include "testing/app/LoginScreensTestSupport.h"
#include "app/core/Util.h"
#include "platform/ui/Image.h"

using namespace orvo;
using orvo::test_support::LoginScreensHarness;

namespace {

// The camera is a scripted source; tests show it pictures or deliveries.
struct CameraFixture {
  LoginScreensHarness t;
  std::shared_ptr<media::ScriptedFrameSource> source = std::make_shared<media::ScriptedFrameSource>();
  std::shared_ptr<CameraScanViewController> scanner;

  CameraFixture() {
    media::CaptureDevice::setDefaultVideoDeviceFactory(
        [src = source] { return std::make_shared<media::CaptureDevice>(src, "scripted"); });
    t.storeServer(true);
    t.launch();
  }
  ~CameraFixture() {
    if (scanner && scanner->captureSession()) scanner->captureSession()->stopRunning();
    media::CaptureDevice::setDefaultVideoDeviceFactory(nullptr);
  }
  // Presents the scanner as an opener does.
  void open(bool soNumber = false) {
    scanner = std::make_shared<CameraScanViewController>();
    scanner->isScanSOnumber = soNumber;
    auto nav = std::make_shared<ui::NavigationController>(scanner);
    Util::setDefaultNavTitle(*nav);
    nav->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    t.login->navigationController()->presentViewController(nav, false);
  }
  bool waitForText(const std::string& text) {
    return t.app.runUntil([&] { return scanner->scannedBarcode()->text() == text; });
  }
};

// A picture of a code, written to an image file and read back as the camera would see it.
media::Frame pictureOf(const std::string& type, const std::string& text) {
  auto drawn = media::renderBarcode(type, text, 480, 260);
  std::vector<uint8_t> rgba(drawn->luma.size() * 4);
  for (size_t i = 0; i < drawn->luma.size(); ++i) {
    rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = drawn->luma[i];
    rgba[i * 4 + 3] = 255;
  }
  auto bytes = ui::Image(drawn->width, drawn->height, rgba).pngData();
  auto path = std::filesystem::temp_directory_path() / ("scan-" + std::to_string(::getpid()) + ".png");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  auto frame = media::frameFromImageFile(path);
  std::filesystem::remove(path);
  return *frame;
}

}  // namespace

TEST(CameraScanner, ReadsAnEan13FromAnImageAndHandsItBackOnDone) {
  struct Case {
    std::string code, handedBack;
  };
  for (const Case& c : {Case{"0012345678905", "012345678905"}, Case{"4006381333931", "4006381333931"}}) {
    SCOPED_TRACE(c.code);
    CameraFixture f;
    f.t.app.delegate->globalSO().manualBarcode = "before";
    f.open();
    EXPECT_EQ(f.scanner->title(), "Scan your item");
    EXPECT_FALSE(f.scanner->btn_done()->isEnabled());
    EXPECT_DOUBLE_EQ(f.scanner->btn_done()->alpha(), 0.4);
    f.source->push(pictureOf(media::kMetadataObjectTypeEAN13Code, c.code));
    ASSERT_TRUE(f.waitForText(c.handedBack));
    EXPECT_TRUE(f.scanner->btn_done()->isEnabled());
    EXPECT_DOUBLE_EQ(f.scanner->qrCodeFrameView()->alpha(), 1.0);
    EXPECT_GT(f.scanner->qrCodeFrameView()->frame().size.width, 50);

    // The code leaves the picture: red marker at half opacity, the code stays.
    f.source->push(media::Frame{64, 64, std::vector<uint8_t>(64 * 64, 255)});
    ASSERT_TRUE(f.t.app.runUntil([&] { return f.scanner->qrCodeFrameView()->alpha() == 0.5; }));
    EXPECT_EQ(f.scanner->qrCodeFrameView()->borderColor(), ui::Color::red());
    EXPECT_EQ(f.scanner->scannedBarcode()->text(), c.handedBack);

    ASSERT_TRUE(f.t.h->tap(f.scanner->btn_done()));
    f.t.app.drain();
    EXPECT_EQ(f.t.app.delegate->globalSO().manualBarcode, c.handedBack);
    EXPECT_FALSE(f.scanner->captureSession()->isRunning());
    EXPECT_EQ(f.t.topScreen(), f.t.login.get());
  }
}

TEST(CameraScanner, OnlyEan13LosesALeadingZeroAndTheFirstHandledObjectWins) {
  CameraFixture f;
  f.open(true);
  EXPECT_EQ(f.scanner->title(), "Scan your SO#");
  using media::MetadataObject;
  f.source->pushMetadata({{media::kMetadataObjectTypeCode128Code, std::string("0SO1234"), {0.1, 0.1, 0.5, 0.2}}});
  ASSERT_TRUE(f.waitForText("0SO1234"));
  // Objects of other types are passed over; the first handled one in delivery order wins.
  f.source->pushMetadata({{media::kMetadataObjectTypeEAN8Code, std::string("96385074"), {}},
                          {media::kMetadataObjectTypeQRCode, std::string("0QR"), {}},
                          {media::kMetadataObjectTypeEAN13Code, std::string("0123456789012"), {}}});
  ASSERT_TRUE(f.waitForText("0QR"));
  // Close leaves the hand-back channel as it was.
  f.t.app.delegate->globalSO().manualBarcode = "kept";
  ASSERT_TRUE(f.t.h->tapBarItem(f.scanner->navigationItem().leftBarButtonItem()));  // Close
  f.t.app.drain();
  EXPECT_EQ(f.t.app.delegate->globalSO().manualBarcode, "kept");
}

TEST(CameraScanner, TorchFollowsTheStoredPreferenceAndATapStoresTheOpposite) {
  CameraFixture f;
  f.source->setTorchAvailable(true);
  f.t.defaults().setBool("isFlashLightOn", true);
  f.open();
  EXPECT_TRUE(f.source->torchOn());
  ASSERT_TRUE(f.t.h->tap(f.scanner->btn_flashLight()));
  EXPECT_FALSE(f.source->torchOn());
  EXPECT_FALSE(f.t.defaults().boolForKey("isFlashLightOn"));
}

TEST(CameraScanner, WithoutACameraThePreviewStaysEmptyAndCloseStillWorks) {
  LoginScreensHarness t;
  media::CaptureDevice::setDefaultVideoDeviceFactory([] { return nullptr; });
  t.storeServer(true);
  t.launch();
  auto scanner = std::make_shared<CameraScanViewController>();
  auto nav = std::make_shared<ui::NavigationController>(scanner);
  t.login->navigationController()->presentViewController(nav, false);
  EXPECT_FALSE(scanner->captureSession()->isRunning());
  ASSERT_TRUE(t.h->tapText("Close"));
  t.app.drain();
  EXPECT_EQ(t.topScreen(), t.login.get());
  media::CaptureDevice::setDefaultVideoDeviceFactory(nullptr);
}

TEST(AboutScreen, ShowsVersionAndDeviceIdAndTogglesTheHistory) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.launch();
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Info"))) << t.h->dump();
  t.app.drain();
  auto* about = dynamic_cast<AboutViewController*>(t.topScreen());
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->title(), "Information");
  EXPECT_EQ(about->lbl_version()->text(), "Ver 3.5.2");
  const std::string id = ui::Device::current().identifierForVendor();
  EXPECT_EQ(about->textview_verInfo()->text().rfind("iPod ID : [ " + id + " ]\n\n[OrvoMobile Version LOG]\n", 0), 0u);
  ASSERT_TRUE(t.h->tapText("Version history")) << t.h->dump();
  EXPECT_TRUE(about->textview_verInfo()->isHidden());
  ASSERT_TRUE(t.h->tapText("Version history"));
  EXPECT_FALSE(about->textview_verInfo()->isHidden());
  ASSERT_TRUE(t.h->tapText("E-mail support"));
  EXPECT_EQ(ui::Application::shared().openedURLs().back(), "mailto:support@orvomobile.example");
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Back"))) << t.h->dump();
  t.app.drain();
  EXPECT_EQ(t.topScreen(), t.login.get());
}
