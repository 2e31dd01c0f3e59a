#pragma once
// The full-screen view the device-management agent has the application show while it
// flashes firmware into a device: a white cover over every screen of the key window with
// the warning "Updating Firmware" in red, a progress bar (280 by 10 points, light-grey track,
// black progress) and the progress text above it. The cover takes every touch, so nothing
// under it can be reached until the agent removes it. `KestraDevices::install` hands one to
// the agent's job runner.
//
// Called on the main queue (the runner posts there); a call without a key window does
// nothing but remember the state for the next `showBlockView`.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "sdk/agent/VexaConfiguration.h"

namespace orvo {

class FirmwareProgressView final : public kestra::VexaFirmwareProgressView {
 public:
  static constexpr double kBarWidth = 280;
  static constexpr double kBarHeight = 10;

  void showBlockView(const std::string& warning) override;
  void setProgress(const std::optional<std::string>& text, float fraction) override;
  void removeBlockView() override;

  // The cover while it is shown (tests read it), else nullptr.
  ui::View* blockView() const { return block_ && block_->superview() ? block_.get() : nullptr; }
  double progress() const { return fraction_; }

 private:
  std::shared_ptr<ui::View> block_;
  std::shared_ptr<ui::Label> warning_, label_;
  std::shared_ptr<ui::View> track_, bar_;
  double fraction_ = 0;
};

}  // namespace orvo
