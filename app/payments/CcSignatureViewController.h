#pragma once
// The signature pad: a modal screen on which the customer signs with a finger. Made from
// "CcSignatureViewController". In card mode (`soSignFlag` off, the card screen's use) it
// keeps the cardholder's signature in `GlobalSO::signatureBase64String` and posts
// "getSignature"; in order mode (`setSoSignFlag(true)`, the order header's use) it keeps the
// order's signature in `signatureBase64StringForSo` and posts "getSignatureForSo". Both
// carry {"isClear": "false"} to go on or "true" when the signing was cancelled. The caller
// observes the notification before presenting the pad full screen with the horizontal flip.
//
// A changed signature is stored on the server ("InsertSOsign" with the order number and the
// order's signature) before the pad posts and goes; an answer without a result, or one that
// refuses the signature ("Response" other than "True"), keeps the pad open and posts
// nothing, so "Next" may be pressed again. Main thread.

#include "app/core/SignaturePad.h"
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/DrawingView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class CcSignatureViewController : public ui::ViewController, public SignaturePad {
 public:
  CcSignatureViewController() : CcSignatureViewController("CcSignatureViewController") {}
  explicit CcSignatureViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  bool soSignFlag() const { return soSignFlag_; }
  void setSoSignFlag(bool on) override { soSignFlag_ = on; }
  ui::DrawingView* imageView() const { return imageView_.get(); }
  ui::Button* cancelButton() const { return btnCancel_.get(); }
  ui::Button* nextButton() const { return btnNext_.get(); }
  ui::Button* clearButton() const { return btnClear_.get(); }
  bool sameSignFlag() const { return sameSignFlag_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  void setSOSignature();
  // Touches in the screen's view coordinates (the pad's own locations plus its origin).
  void touchBegan(ui::Point p);
  void touchMoved(ui::Point p);
  void touchEnded();

  void btn_Next();
  void btn_Clear();
  void btn_Cancel();
  void InsertSOsign(const std::string& orderNumber);
  void InsertSOsignResponseData(const RequestAnswer& answer);

  // The pad's picture as the signature text (Base64 of a JPEG of quality 0.4); nothing
  // when the pad holds no picture.
  std::optional<std::string> signatureText() const;

 private:
  void finish(bool isClear);
  std::string& modeSignature();
  ui::Point toPad(ui::Point p) const { return {p.x - kOffset, p.y - kOffset}; }

  static constexpr double kOffset = 20;
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::DrawingView> imageView_;
  std::shared_ptr<ui::Button> btnCancel_, btnNext_, btnClear_;
  std::shared_ptr<ui::Image> cleanImage_;
  std::vector<ui::Point> drawnPoints_;
  ui::Point previousPoint_;
  bool stroking_ = false;
  bool soSignFlag_ = false;
  bool sameSignFlag_ = true;
  bool sending_ = false;
};

}  // namespace orvo
