#include "app/core/FirmwareProgressView.h"

#include <algorithm>

#include "platform/ui/Window.h"

namespace orvo {

void FirmwareProgressView::showBlockView(const std::string& warning) {
  ui::Window* window = ui::Window::keyWindow();
  if (!window) return;
  const ui::Rect screen = window->bounds();
  const ui::Point centre = screen.center();
  if (!block_) {
    block_ = ui::makeView<ui::View>(screen);
    block_->setBackgroundColor(ui::Color::whiteColor());
    warning_ = ui::makeView<ui::Label>(ui::Rect{centre.x - 140, centre.y - 60 - 30, 280, 60});
    warning_->setFont(ui::Font::boldSystemFont(14));
    warning_->setTextAlignment(ui::TextAlignment::Center);
    warning_->setNumberOfLines(0);
    warning_->setTextColor(ui::Color::red());
    block_->addSubview(warning_);
    track_ = ui::makeView<ui::View>(ui::Rect{centre.x - kBarWidth / 2, centre.y + 20 - kBarHeight / 2, kBarWidth, kBarHeight});
    track_->setBackgroundColor(ui::Color::lightGray());
    bar_ = ui::makeView<ui::View>(ui::Rect{0, 0, 0, kBarHeight});
    bar_->setBackgroundColor(ui::Color::black());
    track_->addSubview(bar_);
    block_->addSubview(track_);
    label_ = ui::makeView<ui::Label>(ui::Rect{0, centre.y + 20 - 35 - 15, screen.width(), 30});
    label_->setFont(ui::Font::named("HelveticaNeue", 12));
    label_->setTextAlignment(ui::TextAlignment::Center);
    label_->setNumberOfLines(0);
    label_->setTextColor(ui::Color::black());
    block_->addSubview(label_);
  }
  block_->setFrame(screen);
  warning_->setText(warning);
  if (block_->superview() != window) window->addSubview(block_);
}

void FirmwareProgressView::setProgress(const std::optional<std::string>& text, float fraction) {
  fraction_ = std::clamp(double(fraction), 0.0, 1.0);
  if (!block_) return;
  if (text) label_->setText(*text);
  bar_->setFrame({0, 0, kBarWidth * fraction_, kBarHeight});
}

void FirmwareProgressView::removeBlockView() {
  if (block_) block_->removeFromSuperview();
}

}  // namespace orvo
