#include "app/payments/CcSignatureViewController.h"

#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/DataAdditions.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/payments/PaymentNames.h"
#include "app/payments/SignatureGeometry.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

namespace {

constexpr double kStrokeWidth = 3.0;
constexpr float kEpsilon = 2.0f;
constexpr int kSegments = 4;
constexpr double kJpegQuality = 0.4;

}  // namespace

void CcSignatureViewController::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setSupportedInterfaceOrientations(ui::InterfaceOrientationMask::LandscapeLeft);
  const ui::Rect bounds = view().bounds();
  view().setBackgroundColor(ui::Color::white(0.85));
  // The pad sits 20 points in from the view's corner: the point a finger touches in the
  // screen's view is drawn 20 points left of and above it, which is that point on the pad.
  imageView_ = ui::makeView<ui::DrawingView>({kOffset, kOffset, bounds.size.width - 2 * kOffset,
                                              bounds.size.height - 2 * kOffset - 50});
  imageView_->setBackgroundColor(ui::Color::whiteColor());
  std::weak_ptr<CcSignatureViewController> weak = self<CcSignatureViewController>();
  imageView_->setTouchHandler([weak](ui::TouchPhase phase, ui::Point at) {
    auto s = weak.lock();
    if (!s) return;
    const ui::Point inView{at.x + kOffset, at.y + kOffset};
    switch (phase) {
      case ui::TouchPhase::Began: s->touchBegan(inView); break;
      case ui::TouchPhase::Moved: s->touchMoved(inView); break;
      // A cancelled touch ends the stroke as a lifted finger does, so no live red stroke
      // is left in the signature.
      case ui::TouchPhase::Ended:
      case ui::TouchPhase::Cancelled: s->touchEnded(); break;
    }
  });
  view().addSubview(imageView_);
  const double y = bounds.size.height - kOffset - 40;
  auto button = [&](const char* title, double x, void (CcSignatureViewController::*action)()) {
    auto b = ui::Button::make(ui::localizedString(title), {x, y, 100, 40});
    b->addTarget(this, [weak, action](ui::Control&) { if (auto s = weak.lock()) ((*s).*action)(); },
                 ui::TouchUpInside);
    view().addSubview(b);
    return b;
  };
  btnCancel_ = button("Cancel", kOffset, &CcSignatureViewController::btn_Cancel);
  btnClear_ = button("Clear", bounds.size.width / 2 - 50, &CcSignatureViewController::btn_Clear);
  btnNext_ = button("Next", bounds.size.width - kOffset - 100, &CcSignatureViewController::btn_Next);
  setSOSignature();
  if (soSignFlag_ && orvoDelegate_->settings().multiSoFlag) btnCancel_->setHidden(true);
}

void CcSignatureViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  sameSignFlag_ = !orvoDelegate_->settings().duplicateSoFlag;
  setPrefersStatusBarHidden(true);
}

void CcSignatureViewController::viewWillDisappear(bool animated) {
  setPrefersStatusBarHidden(false);
  ui::ViewController::viewWillDisappear(animated);
}

void CcSignatureViewController::setSOSignature() {
  imageView_->clear();
  const std::string& text = orvoDelegate_->globalSO().signatureBase64StringForSo;
  if (text.empty()) return;
  if (auto picture = ui::Image::fromData(DataAdditions::dataWithBase64EncodedString(text)))
    imageView_->drawImage(picture, {0, 0, imageView_->frame().size.width, imageView_->frame().size.height});
}

void CcSignatureViewController::touchBegan(ui::Point p) {
  drawnPoints_ = {p};
  previousPoint_ = p;
  stroking_ = false;
  cleanImage_ = imageView_->isEmpty() ? nullptr : imageView_->image();
}

void CcSignatureViewController::touchMoved(ui::Point p) {
  if (drawnPoints_.empty()) return;
  drawnPoints_.push_back(p);
  sameSignFlag_ = false;
  // The live stroke: red straight pieces from point to point.
  if (!stroking_) {
    imageView_->beginStroke(toPad(previousPoint_), kStrokeWidth, ui::Color::red());
    stroking_ = true;
  }
  imageView_->extendStroke(toPad(p));
  previousPoint_ = p;
}

void CcSignatureViewController::touchEnded() {
  if (drawnPoints_.empty()) return;
  const bool moved = stroking_;
  std::vector<ui::Point> curve = catmullRomSpline(douglasPeucker(drawnPoints_, kEpsilon), kSegments);
  drawnPoints_.clear();
  stroking_ = false;
  if (!moved) return;  // a tap draws nothing
  // The live stroke gives way to the simplified, smoothed black one over the picture from
  // before the stroke.
  imageView_->clear();
  const ui::Size size = imageView_->frame().size;
  if (cleanImage_) imageView_->drawImage(cleanImage_, {0, 0, size.width, size.height});
  for (auto& p : curve) p = toPad(p);
  imageView_->addStroke(std::move(curve), kStrokeWidth, ui::Color::black());
  cleanImage_.reset();
}

std::optional<std::string> CcSignatureViewController::signatureText() const {
  if (!imageView_ || imageView_->isEmpty()) return std::nullopt;
  return DataAdditions::base64Encoding(imageView_->image()->jpegData(kJpegQuality));
}

std::string& CcSignatureViewController::modeSignature() {
  GlobalSO& so = orvoDelegate_->globalSO();
  return soSignFlag_ ? so.signatureBase64StringForSo : so.signatureBase64String;
}

void CcSignatureViewController::btn_Next() {
  if (sending_) return;
  auto text = signatureText();
  if (!sameSignFlag_ && text) {
    modeSignature() = *text;
    InsertSOsign(orvoDelegate_->globalSO().orderNumber);
    return;
  }
  if (text) {
    modeSignature() = *text;
  } else if (!soSignFlag_) {
    // No picture: the card must not go out with a signature of an earlier capture.
    modeSignature().clear();
  }
  finish(false);
}

void CcSignatureViewController::btn_Clear() { imageView_->clear(); }

void CcSignatureViewController::btn_Cancel() { finish(true); }

void CcSignatureViewController::finish(bool isClear) {
  foundation::NotificationCenter::defaultCenter().post(soSignFlag_ ? kGetSignatureForSo : kGetSignature, nullptr,
                                                       {{kIsClear, isClear ? "true" : "false"}});
  dismissViewControllerAnimated(true);
}

void CcSignatureViewController::InsertSOsign(const std::string& orderNumber) {
  ScreenRequest r;
  r.operation = "InsertSOsign";
  r.params = {{"orderNumber", orderNumber}, {"signBase64String", orvoDelegate_->globalSO().signatureBase64StringForSo}};
  r.showActivity = false;
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[CcSignatureViewController InsertSOsign:]";
  r.answerMethod = "-[CcSignatureViewController InsertSOsignResponseData:]";
  sending_ = true;
  auto done = [this](const RequestAnswer& a) { sending_ = false; InsertSOsignResponseData(a); };
  auto failed = [this](const ServiceFailure& f) {
    sending_ = false;
    orvoDelegate_->errorResponseData(f);
  };
  if (!sendScreenRequest(*this, std::move(r), done, failed)) sending_ = false;
}

void CcSignatureViewController::InsertSOsignResponseData(const RequestAnswer& a) {
  // An answer without a result is no stored signature: the reading alert has been shown
  // and the pad stays for another "Next" or "Cancel".
  if (!a.text) return;
  // A refusal ("Response" other than "True", or the bare "False") is none either: the
  // server's reason is shown and the pad stays, so "Next" sends again.
  const nlohmann::json result = nlohmann::json::parse(*a.text, nullptr, false);
  const bool refused = *a.text == "False" ||
                       (result.is_object() && result.contains("Response") &&
                        foundation::textForKey(result, "Response") != "True");
  if (refused) {
    std::string reason = result.is_object() ? foundation::textForKey(result, "Error") : std::string();
    if (reason.empty() || reason == "(null)") reason = "The signature was not stored. Please try again.";
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, reason);
    return;
  }
  finish(false);
}

}  // namespace orvo
