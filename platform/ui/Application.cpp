#include "platform/ui/Application.h"

#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Uuid.h"
#include "platform/ui/Window.h"

namespace ui {

Application& Application::shared() {
  static Application app;
  return app;
}

bool Application::launch(std::shared_ptr<ApplicationDelegate> delegate) {
  delegate_ = std::move(delegate);
  launched_ = true;
  bool ok = true;
  if (delegate_) {
    ok = delegate_->didFinishLaunchingWithOptions(*this, nlohmann::json::object());
    delegate_->applicationDidBecomeActive(*this);
  }
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

void Application::enterBackground() {
  if (!delegate_) return;
  delegate_->applicationWillResignActive(*this);
  delegate_->applicationDidEnterBackground(*this);
}

void Application::enterForeground() {
  if (!delegate_) return;
  delegate_->applicationWillEnterForeground(*this);
  delegate_->applicationDidBecomeActive(*this);
}

void Application::terminate() {
  if (delegate_) delegate_->applicationWillTerminate(*this);
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
