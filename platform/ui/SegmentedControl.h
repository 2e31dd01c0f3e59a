#pragma once
// A segmented control: equal-width segments with titles; a tap on another segment
// selects it and sends ValueChanged. Main thread.

#include <string>
#include <vector>

#include "platform/ui/Control.h"

namespace ui {

class SegmentedControl : public Control {
 public:
  static constexpr int kNoSegment = -1;
  explicit SegmentedControl(std::vector<std::string> titles = {}) : titles_(std::move(titles)) {}
  const char* kind() const override { return "SegmentedControl"; }
  int numberOfSegments() const { return static_cast<int>(titles_.size()); }
  const std::vector<std::string>& titles() const { return titles_; }
  void insertSegmentWithTitle(std::string title, int index);
  void removeAllSegments() { titles_.clear(); selected_ = kNoSegment; }
  std::string titleForSegmentAtIndex(int i) const;
  void setTitle(std::string title, int index);
  int selectedSegmentIndex() const { return selected_; }
  // From code: no ValueChanged.
  void setSelectedSegmentIndex(int i) { selected_ = i; }
  Rect segmentRect(int index) const;
  std::string describe() const override;
  std::vector<std::string> texts() const override { return titles_; }

 protected:
  void tapped(Point p) override;

 private:
  std::vector<std::string> titles_;
  int selected_ = kNoSegment;
};

}  // namespace ui
