#pragma once
// A full-screen modal screen that reads one barcode or QR code through the default video
// camera and hands its text back through `GlobalSO::manualBarcode` to the screen that
// opened it (that screen picks it up when it reappears). EAN-13, Code 128 and QR codes are
// acted on, in that order of preference; an EAN-13 that begins with "0" is handed back as
// its 12-digit UPC-A form.
//
// The camera's codes arrive on the session's "scanQueue" thread and are applied to the
// views on the main queue, asynchronously (the camera thread never waits for the main
// thread, so stopping the session from the main thread cannot deadlock). Without a camera
// the preview stays empty and the user leaves with "Close". Main thread.

#include <atomic>
#include <memory>
#include <string>

#include "platform/media/Capture.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

class CameraScanViewController : public ui::ViewController {
 public:
  CameraScanViewController() : ui::ViewController("CameraScanViewController") {}
  explicit CameraScanViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~CameraScanViewController() override;

  // Set by the opener before presentation: a sales-order number (true) or an item code.
  bool isScanSOnumber = false;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  void doneButtonPressed();
  void closeFunc();
  void resetCamera();
  void btnFlashOnClicked();
  void loadFlashLightSetting();
  void setupScanningSession();
  void doneBtnOnOff(bool on);
  // Called on the main queue with what one camera delivery carried.
  void captureOutput(const std::vector<media::MetadataObject>& objects);

  // Views and state the tests read.
  ui::View* cameraPreviewView() const { return cameraPreviewView_.get(); }
  ui::TextView* scannedBarcode() const { return scannedBarcode_.get(); }
  ui::View* qrCodeFrameView() const { return qrCodeFrameView_.get(); }
  ui::Button* btn_flashLight() const { return btn_flashLight_.get(); }
  ui::Button* btn_done() const { return btn_done_.get(); }
  media::CaptureSession* captureSession() const { return captureSession_.get(); }
  bool isFlashLightOn() const { return isFlashLightOn_; }

  // The handled types in their order of preference.
  static const std::vector<std::string>& handledTypes();

 private:
  void codeFound(const media::MetadataObject& object, const std::string& type);
  void noCode();
  ui::Rect transformedBounds(const media::NormalizedRect& r) const;

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  bool isFlashLightOn_ = false;
  std::shared_ptr<ui::View> cameraPreviewView_;
  std::shared_ptr<ui::ImageView> previewImage_;
  std::shared_ptr<ui::TextView> scannedBarcode_;
  std::shared_ptr<ui::View> qrCodeFrameView_;
  std::shared_ptr<ui::Button> btn_flashLight_;
  std::shared_ptr<ui::Button> btn_done_;
  std::shared_ptr<media::CaptureSession> captureSession_;
  std::shared_ptr<media::MetadataOutputObjectsDelegate> bridge_;
  std::shared_ptr<std::atomic<bool>> previewPending_ = std::make_shared<std::atomic<bool>>(false);
  int frameWidth_ = 0, frameHeight_ = 0;
};

}  // namespace orvo
