#include "platform/ui/SegmentedControl.h"

namespace ui {

void SegmentedControl::insertSegmentWithTitle(std::string title, int index) {
  index = std::clamp(index, 0, numberOfSegments());
  titles_.insert(titles_.begin() + index, std::move(title));
  if (selected_ >= index) ++selected_;
}

std::string SegmentedControl::titleForSegmentAtIndex(int i) const {
  if (i < 0 || i >= numberOfSegments()) return {};
  return titles_[static_cast<size_t>(i)];
}

void SegmentedControl::setTitle(std::string title, int index) {
  if (index >= 0 && index < numberOfSegments()) titles_[static_cast<size_t>(index)] = std::move(title);
}

Rect SegmentedControl::segmentRect(int index) const {
  if (titles_.empty()) return {};
  double w = frame().width() / titles_.size();
  return {w * index, 0, w, frame().height()};
}

void SegmentedControl::tapped(Point p) {
  if (titles_.empty()) return;
  int i = std::clamp(static_cast<int>(p.x / (frame().width() / titles_.size())), 0, numberOfSegments() - 1);
  if (i == selected_) return;
  selected_ = i;
  sendActionsForControlEvents(ValueChanged);
}

std::string SegmentedControl::describe() const {
  std::string out = " [";
  for (size_t i = 0; i < titles_.size(); ++i) {
    if (i) out += "|";
    out += static_cast<int>(i) == selected_ ? "*" + titles_[i] + "*" : titles_[i];
  }
  return out + "]" + Control::describe();
}

}  // namespace ui
