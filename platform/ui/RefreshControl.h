#pragma once
// Pull-to-refresh for a table: pulling the table down past its top by `kTriggerDistance`
// and letting go starts refreshing and sends ValueChanged; the owner calls
// `endRefreshing` when done. Main thread.

#include <string>

#include "platform/ui/Control.h"

namespace ui {

class RefreshControl : public Control {
 public:
  static constexpr double kTriggerDistance = 60;
  RefreshControl() { setFrame({0, -kTriggerDistance, 320, kTriggerDistance}); }
  const char* kind() const override { return "RefreshControl"; }
  bool isRefreshing() const { return refreshing_; }
  void beginRefreshing() { refreshing_ = true; }
  void endRefreshing() { refreshing_ = false; }
  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); }
  std::string describe() const override { return std::string(refreshing_ ? " refreshing" : "") + Control::describe(); }
  std::vector<std::string> texts() const override { return {title_}; }

 private:
  bool refreshing_ = false;
  std::string title_;
};

}  // namespace ui
