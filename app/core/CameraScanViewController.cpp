#include "app/core/CameraScanViewController.h"

#include <algorithm>

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using foundation::UserDefaults;

namespace {

constexpr double kPreviewHeight = 290;

// Forwards the camera thread's deliveries to the screen on the main queue. It holds the
// screen weakly, so the screen is only ever touched (and released) on the main thread.
class MetadataBridge : public media::MetadataOutputObjectsDelegate {
 public:
  explicit MetadataBridge(std::weak_ptr<CameraScanViewController> screen) : screen_(std::move(screen)) {}
  void didOutputMetadataObjects(media::CaptureMetadataOutput&, const std::vector<media::MetadataObject>& objects) override {
    auto screen = screen_;
    foundation::MainQueue::post([screen, objects] {
      if (auto s = screen.lock()) s->captureOutput(objects);
    });
  }

 private:
  std::weak_ptr<CameraScanViewController> screen_;
};

}  // namespace

const std::vector<std::string>& CameraScanViewController::handledTypes() {
  static const std::vector<std::string> types{media::kMetadataObjectTypeEAN13Code,
                                              media::kMetadataObjectTypeCode128Code, media::kMetadataObjectTypeQRCode};
  return types;
}

CameraScanViewController::~CameraScanViewController() {
  if (captureSession_) captureSession_->stopRunning();
}

void CameraScanViewController::viewDidLoad() {
  setTitle(ui::localizedString(isScanSOnumber ? "Scan your SO#" : "Scan your item"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Close"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { closeFunc(); }));
  navigationItem().setRightBarButtonItem(
      ui::BarButtonItem::withTitle("Reset", ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { resetCamera(); }));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();

  view().setBackgroundColor(ui::Color::black());
  // The view starts below the navigation bar.
  const double top = 0;
  cameraPreviewView_ = ui::makeView<ui::View>(ui::Rect(0, top, 320, kPreviewHeight));
  cameraPreviewView_->setBackgroundColor(ui::Color::darkGray());
  cameraPreviewView_->setClipsToBounds(true);
  previewImage_ = ui::makeView<ui::ImageView>(ui::Rect(0, 0, 320, kPreviewHeight));
  previewImage_->setContentMode(ui::ContentMode::ScaleAspectFill);
  cameraPreviewView_->addSubview(previewImage_);
  view().addSubview(cameraPreviewView_);

  scannedBarcode_ = ui::makeView<ui::TextView>(ui::Rect(10, top + kPreviewHeight + 10, 300, 40));
  scannedBarcode_->setEditable(false);
  scannedBarcode_->setFont(ui::Font::boldSystemFont(20));
  scannedBarcode_->setTextAlignment(ui::TextAlignment::Center);
  scannedBarcode_->setBackgroundColor(ui::Color::whiteColor());
  view().addSubview(scannedBarcode_);

  btn_flashLight_ = ui::Button::make("", ui::Rect(20, top + kPreviewHeight + 70, 70, 70), ui::ButtonType::Custom);
  // The image shows what the next tap does; the torch is off when the session starts.
  btn_flashLight_->setBackgroundImage(ui::Image::named("flash-on-70.png"));
  btn_flashLight_->setAccessibilityLabel("Torch");
  btn_flashLight_->addTarget(this, [this](ui::Control&) { btnFlashOnClicked(); }, ui::TouchUpInside);
  view().addSubview(btn_flashLight_);

  btn_done_ = ui::Button::make("Done", ui::Rect(150, top + kPreviewHeight + 80, 150, 50), ui::ButtonType::System);
  btn_done_->setBackgroundColor(ui::Color::systemBlue());
  btn_done_->setTitleColor(ui::Color::whiteColor());
  btn_done_->setCornerRadius(8);
  btn_done_->addTarget(this, [this](ui::Control&) { doneButtonPressed(); }, ui::TouchUpInside);
  view().addSubview(btn_done_);

  setupScanningSession();
  doneBtnOnOff(false);
}

void CameraScanViewController::setupScanningSession() {
  captureSession_ = std::make_shared<media::CaptureSession>();
  auto device = media::CaptureDevice::defaultVideoDevice();
  if (device && captureSession_->canAddInput(device)) {
    captureSession_->addInput(device);
    auto output = std::make_shared<media::CaptureMetadataOutput>();
    captureSession_->addOutput(output);
    bridge_ = std::make_shared<MetadataBridge>(self<CameraScanViewController>());
    output->setMetadataObjectsDelegate(bridge_, "scanQueue");
    output->setMetadataObjectTypes(output->availableMetadataObjectTypes());
    // The live picture: the latest frame is shown; frames that come while one waits for
    // the main queue are skipped.
    std::weak_ptr<CameraScanViewController> weak = self<CameraScanViewController>();
    auto pending = previewPending_;
    captureSession_->setFrameObserver([weak, pending](const media::Frame& f) {
      if (pending->exchange(true)) return;
      std::vector<uint8_t> rgba(f.luma.size() * 4);
      for (size_t i = 0; i < f.luma.size(); ++i) {
        rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = f.luma[i];
        rgba[i * 4 + 3] = 255;
      }
      auto image = std::make_shared<ui::Image>(f.width, f.height, std::move(rgba));
      foundation::MainQueue::post([weak, pending, image] {
        pending->store(false);
        if (auto s = weak.lock()) {
          s->frameWidth_ = image->pixelWidth();
          s->frameHeight_ = image->pixelHeight();
          s->previewImage_->setImage(image);
        }
      });
    });
  }
  qrCodeFrameView_ = ui::makeView<ui::View>(ui::Rect(0, 0, 0, 0));
  qrCodeFrameView_->setBorder(2.0, ui::Color::green());
  cameraPreviewView_->addSubview(qrCodeFrameView_);
  cameraPreviewView_->bringSubviewToFront(qrCodeFrameView_.get());
}

void CameraScanViewController::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  if (captureSession_) captureSession_->startRunning();
  loadFlashLightSetting();
}

ui::Rect CameraScanViewController::transformedBounds(const media::NormalizedRect& r) const {
  // Aspect fill: the frame is scaled to cover the preview and centred.
  const ui::Rect area = cameraPreviewView_->bounds();
  double w = frameWidth_ > 0 ? frameWidth_ : area.size.width;
  double h = frameHeight_ > 0 ? frameHeight_ : area.size.height;
  const double scale = std::max(area.size.width / w, area.size.height / h);
  const double ox = (area.size.width - w * scale) / 2, oy = (area.size.height - h * scale) / 2;
  return {ox + r.x * w * scale, oy + r.y * h * scale, r.width * w * scale, r.height * h * scale};
}

void CameraScanViewController::captureOutput(const std::vector<media::MetadataObject>& objects) {
  if (objects.empty()) {
    noCode();
    return;
  }
  for (const auto& object : objects) {
    for (const auto& type : handledTypes()) {
      if (object.type == type) {
        codeFound(object, type);
        return;
      }
    }
  }
}

void CameraScanViewController::codeFound(const media::MetadataObject& object, const std::string& type) {
  qrCodeFrameView_->setFrame(transformedBounds(object.bounds));
  qrCodeFrameView_->setBorder(2.0, ui::Color::green());
  qrCodeFrameView_->setAlpha(1.0);
  if (!object.stringValue) return;
  std::string text = *object.stringValue;
  if (type == media::kMetadataObjectTypeEAN13Code && !text.empty() && text[0] == '0') text.erase(0, 1);
  scannedBarcode_->setText(text);
  doneBtnOnOff(true);
}

void CameraScanViewController::noCode() {
  qrCodeFrameView_->setBorder(2.0, ui::Color::red());
  qrCodeFrameView_->setAlpha(0.5);
}

void CameraScanViewController::doneBtnOnOff(bool on) {
  btn_done_->setEnabled(on);
  btn_done_->setAlpha(on ? 1.0 : 0.4);
}

void CameraScanViewController::doneButtonPressed() {
  if (captureSession_) captureSession_->stopRunning();
  if (orvoDelegate_) orvoDelegate_->globalSO().manualBarcode = scannedBarcode_->text();
  closeFunc();
}

void CameraScanViewController::closeFunc() { dismissViewControllerAnimated(true); }

void CameraScanViewController::resetCamera() {
  if (captureSession_) captureSession_->startRunning();
}

void CameraScanViewController::loadFlashLightSetting() {
  isFlashLightOn_ = UserDefaults::standard().boolForKey(defaults::isFlashLightOn);
  if (isFlashLightOn_) btnFlashOnClicked();
}

void CameraScanViewController::btnFlashOnClicked() {
  auto device = captureSession_ ? captureSession_->input() : nullptr;
  auto& d = UserDefaults::standard();
  if (device && device->isTorchAvailable() && device->isTorchModeSupported(media::TorchMode::On) &&
      device->lockForConfiguration()) {
    if (device->isTorchActive()) {
      btn_flashLight_->setBackgroundImage(ui::Image::named("flash-on-70.png"));
      device->setTorchMode(media::TorchMode::Off);
      d.setBool(defaults::isFlashLightOn, false);
    } else {
      btn_flashLight_->setBackgroundImage(ui::Image::named("flash-off-70.png"));
      device->setTorchMode(media::TorchMode::On);
      d.setBool(defaults::isFlashLightOn, true);
    }
    device->unlockForConfiguration();
  }
  d.synchronize();
}

}  // namespace orvo
