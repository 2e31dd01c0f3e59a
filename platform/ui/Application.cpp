#include "platform/ui/Application.h"

#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Uuid.h"
#include "platform/ui/Window.h"

namespace ui {

Application& Application::shared() {
  static Application app;
  return app;
}

namespace {

void post(const char* name) { foundation::NotificationCenter::defaultCenter().post(name); }

}  // namespace

bool Application::launch(std::shared_ptr<ApplicationDelegate> delegate) {
  delegate_ = std::move(delegate);
  launched_ = true;
  terminated_ = false;
  bool ok = true;
  if (delegate_) ok = delegate_->didFinishLaunchingWithOptions(*this, nlohmann::json::object());
  post(kApplicationDidFinishLaunchingNotification);
  state_ = ApplicationState::Inactive;
  becomeActive();
  return ok;
}

Window* Application::keyWindow() const { return Window::keyWindow(); }

void Application::setIdleTimerDisabled(bool d) {
  if (d == idleTimerDisabled_) return;
  idleTimerDisabled_ = d;
  if (idleHook_) idleHook_(d);
}

void Application::setIdleTimerHook(IdleTimerHook hook) {
  idleHook_ = std::move(hook);
  if (idleHook_) idleHook_(idleTimerDisabled_);
}

bool Application::openURL(const std::string& url) {
  opened_.push_back(url);
  if (openHook_) return openHook_(url);
  return true;
}

bool Application::canOpenURL(const std::string& url) const { return url.find(':') != std::string::npos; }

void Application::exit(int status) {
  exitStatus_ = status;
  if (exitHook_) return exitHook_(status);
  std::exit(status);
}

void Application::resignActive() {
  if (state_ != ApplicationState::Active) return;
  state_ = ApplicationState::Inactive;
  if (delegate_) delegate_->applicationWillResignActive(*this);
  post(kApplicationWillResignActiveNotification);
}

void Application::becomeActive() {
  if (state_ == ApplicationState::Active) return;
  if (state_ == ApplicationState::Background) return enterForeground();
  state_ = ApplicationState::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  post(kApplicationDidBecomeActiveNotification);
}

void Application::enterBackground() {
  if (state_ == ApplicationState::Background) return;
  resignActive();
  state_ = ApplicationState::Background;
  if (delegate_) delegate_->applicationDidEnterBackground(*this);
  post(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
  if (state_ != ApplicationState::Background) return;
  state_ = ApplicationState::Inactive;
  if (delegate_) delegate_->applicationWillEnterForeground(*this);
  post(kApplicationWillEnterForegroundNotification);
  becomeActive();
}

void Application::terminate() {
  if (terminated_) return;
  terminated_ = true;
  if (delegate_) delegate_->applicationWillTerminate(*this);
  post(kApplicationWillTerminateNotification);
}

void Application::reset() { *this = Application(); }

Device& Device::current() {
  static Device d;
  return d;
}

std::string Device::name() const {
  if (!name_.empty()) return name_;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == 0) return "iPhone";
  return host;
}

std::string Device::identifierForVendor() const {
  if (vendorId_.empty()) vendorId_ = foundation::uuidString();
  return vendorId_;
}

}  // namespace ui
