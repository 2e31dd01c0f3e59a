// The activity viewer, answer reading, request-error wording and the inactivity time-out.
#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/OverlayViewController.h"
#include "app/core/SoapAnswer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/net/HttpClient.h"

namespace orvo {

void OrvoMobileAppDelegate::showOV() {
  if (!window) return;
  if (!ovController_) {
    ovController_ = ui::viewControllerFromInterface<OverlayViewController>("OverlayView");
    if (!ovController_) ovController_ = std::make_shared<OverlayViewController>();
    auto& v = ovController_->view();
    v.setFrame(ui::Rect(0, 0, window->bounds().size.width, window->bounds().size.height));
    v.setBackgroundColor(ui::Color::black());
    v.setAlpha(0.5);
  }
  window->addSubview(ovController_->viewPtr());
}

void OrvoMobileAppDelegate::hideOV() {
  if (ovController_ && ovController_->isViewLoaded()) ovController_->view().removeFromSuperview();
}

void OrvoMobileAppDelegate::showActivityViewer(const std::string& text) {
  if (indicatorOn_ || !window) return;
  showOV();
  actLabel_->setNumberOfLines(3);
  actLabel_->setFont(ui::Font::boldSystemFont(17));
  actLabel_->setText("");
  actLabel_->setTextColor(ui::Color::whiteColor());
  actLabel_->setTextAlignment(ui::TextAlignment::Center);
  window->addSubview(actLabel_);
  actLabelText_->setNumberOfLines(10);
  actLabelText_->setFont(ui::Font::systemFont(10));
  actLabelText_->setText(text);
  actLabelText_->setTextColor(ui::Color::whiteColor());
  actLabelText_->setBackgroundColor(ui::Color::clear());
  actLabelText_->setTextAlignment(ui::TextAlignment::Left);
  window->addSubview(actLabelText_);
  activityWheel_->startAnimating();
  window->addSubview(activityWheel_);
  indicatorOn_ = true;
}

void OrvoMobileAppDelegate::hideActivityViewer() {
  if (!indicatorOn_) return;
  activityWheel_->stopAnimating();
  activityWheel_->removeFromSuperview();
  actLabel_->removeFromSuperview();
  actLabelText_->removeFromSuperview();
  indicatorOn_ = false;
  hideOV();
}

void OrvoMobileAppDelegate::networkActivityStarted() {
  ui::Application::shared().setNetworkActivityIndicatorVisible(true);
}

void OrvoMobileAppDelegate::networkActivityStopped() {
  ui::Application::shared().setNetworkActivityIndicatorVisible(false);
}

std::optional<std::string> OrvoMobileAppDelegate::parseXmlData(const std::string& answer,
                                                               const std::string& funcName) {
  SoapAnswerFailure failure;
  auto text = soapResultText(answer, funcName, &failure);
  if (failure.failed)
    AlertClass::showLegacy("Error",
                           AlertClass::exceptionMessage("-[OrvoMobileAppDelegate parseXmlData:funcName:]",
                                                        failure.name, failure.reason),
                           "OK", weak_from_this());
  return text;
}

void OrvoMobileAppDelegate::errorResponseData(const ServiceFailure& failure) {
  hideActivityViewer();
  networkActivityStopped();
  if (failure.notSent) {
    // The request was never sent and the user has already been told; nothing more.
    globalSO_.currSoapFuncName.clear();
    return;
  }
  std::string message;
  if (failure.error) {
    const foundation::Error& e = *failure.error;
    const std::string& func = globalSO_.currSoapFuncName;
    switch (e.code) {
      case net::kUrlErrorCannotConnectToHost:
      case net::kUrlErrorCannotFindHost:
        message = e.text + "\nPlease check your Server IP.";
        break;
      case net::kUrlErrorTimedOut:
        // The e-mail operations are given a short wait on purpose: a server that took the
        // request and is still working has scheduled the job. One never reached has not.
        if (!failure.requestSent)
          message = e.text + "\nPlease try it again.";
        else if (func == "SendSOEmail")
          message = "The email job has been scheduled in the server.";
        else if (func == "PrintSOandEmailbyServer")
          message = "'Print SO & E-mail' has been done successfully.\n(email job has been scheduled in the server)";
        else if (func == "PrintALLandEmailbyServer")
          message = "'Print ALL & E-mail' has been done successfully.\n(email job has been scheduled in the server)";
        else
          message = e.text + "\nPlease try it again.";
        break;
      default:
        message = e.text;
    }
  } else {
    message = "Webservice Server Error : " + std::to_string(failure.httpStatus) +
              "\n Please check your server.";
  }
  globalSO_.currSoapFuncName.clear();
  AlertClass::showLegacy(kRequestFailureTitle, message, "OK", weak_from_this());
}

void OrvoMobileAppDelegate::timeOutInit() {
  if (timeOutTimer_) timeOutTimer_->invalidate();
  timeOutTimer_.reset();
  timeOutStart();
}

void OrvoMobileAppDelegate::timeOutStart() {
  const nlohmann::json stored = foundation::UserDefaults::standard().objectForKey(defaults::timeOut);
  timeOut_ = stored.is_null() ? std::string() : foundation::textValue(stored);
  // Minutes as a single-precision number. An absent, non-numeric or non-positive value
  // arms nothing: the time-out is treated as off rather than firing at once.
  const float minutes = float(foundation::doubleValue(std::string_view(timeOut_)));
  if (!(minutes > 0)) return;
  if (timeOutTimer_) timeOutTimer_->invalidate();
  std::weak_ptr<OrvoMobileAppDelegate> weak = shared_from_this();
  const auto interval = std::chrono::duration_cast<foundation::Duration>(
      std::chrono::duration<double>(double(minutes) * 60.0));
  timeOutTimer_ = foundation::Timer::scheduled(
      interval, false,
      [weak](foundation::Timer&) {
        if (auto self = weak.lock()) self->timeOutGoLogin();
      },
      &foundation::RunLoop::main());
}

void OrvoMobileAppDelegate::timeOutEnd() {
  if (timeOutTimer_) timeOutTimer_->invalidate();
  timeOutTimer_.reset();
}

void OrvoMobileAppDelegate::timeOutGoLogin() {
  if (timeOutTimer_) timeOutTimer_->invalidate();
  timeOutTimer_.reset();
  AlertClass::displayAlert(shared_from_this(), kTimeOutAlertTag, 2, kAppAlertTitle,
                           "Orvo Mobile will be shut down.\n If you want to cancel it\n Please press 'NO'.");
  exitTimerStart();
}

void OrvoMobileAppDelegate::exitTimerStart() {
  if (exitTimer_) exitTimer_->invalidate();
  std::weak_ptr<OrvoMobileAppDelegate> weak = shared_from_this();
  exitTimer_ = foundation::Timer::scheduled(
      std::chrono::seconds(1), true,
      [weak](foundation::Timer&) {
        if (auto self = weak.lock()) self->timeOutExitUpdater();
      },
      &foundation::RunLoop::main());
}

void OrvoMobileAppDelegate::timeOutExitUpdater() {
  ++exitSeconds_;
  ovOn(std::to_string(kExitCountdownSeconds - exitSeconds_));
  if (exitSeconds_ >= kExitCountdownSeconds) {
    if (exitTimer_) exitTimer_->invalidate();
    exitTimer_.reset();
    ui::Application::shared().exit(0);
  }
}

void OrvoMobileAppDelegate::ovOn(const std::string& text) {
  timerLabel_->setNumberOfLines(3);
  timerLabel_->setFont(ui::Font::boldSystemFont(100));
  timerLabel_->setText(text);
  timerLabel_->setBackgroundColor(ui::Color::clear());
  timerLabel_->setTextColor(ui::Color::red());
  timerLabel_->setTextAlignment(ui::TextAlignment::Center);
  if (window) window->addSubview(timerLabel_);
}

void OrvoMobileAppDelegate::yesTimeout() {
  if (exitTimer_) exitTimer_->invalidate();
  exitTimer_.reset();
  ui::Application::shared().exit(0);
}

void OrvoMobileAppDelegate::noTimeout() {
  if (exitTimer_) exitTimer_->invalidate();
  exitTimer_.reset();
  timerLabel_->removeFromSuperview();
  exitSeconds_ = 0;
  timeOutInit();
}

void OrvoMobileAppDelegate::clickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) {
  if (alert.tag() != kTimeOutAlertTag) return;
  if (buttonIndex == 0)
    yesTimeout();
  else
    noTimeout();
}

}  // namespace orvo
