#pragma once
// Controls: views that send actions to targets on control events. Several targets may
// listen to one event; they are called in the order they were added (screens rely on
// that order, e.g. a stepper's cell handler before its grid handler). A touch that
// begins and ends inside an enabled control sends TouchDown and then TouchUpInside;
// subclasses add their value events. An action receives its sender: capturing the control
// itself (or its owner) by shared pointer in its own action would keep both alive forever.
// Main thread.

#include <functional>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

enum ControlEvent : unsigned {
  TouchDown = 1u << 0,
  TouchDownRepeat = 1u << 1,
  TouchDragInside = 1u << 2,
  TouchUpInside = 1u << 6,
  TouchUpOutside = 1u << 7,
  TouchCancel = 1u << 8,
  ValueChanged = 1u << 12,
  EditingDidBegin = 1u << 16,
  EditingChanged = 1u << 17,
  EditingDidEnd = 1u << 18,
  EditingDidEndOnExit = 1u << 19,
  AllEvents = 0xFFFFFFFFu,
};

enum class ControlState { Normal, Highlighted, Disabled, Selected };

class Control : public View {
 public:
  using Action = std::function<void(Control& sender)>;

  const char* kind() const override { return "Control"; }

  // `target` only identifies the registration for `removeTarget`; it is never used.
  void addTarget(const void* target, Action action, unsigned events);
  void removeTarget(const void* target, unsigned events = AllEvents);
  // Calls every action registered for any of `events`, in the order they were added.
  void sendActionsForControlEvents(unsigned events);
  size_t actionCount(unsigned events) const;

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool e) { enabled_ = e; }
  bool isSelected() const { return selected_; }
  void setSelected(bool s) { selected_ = s; }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h) { highlighted_ = h; }
  ControlState state() const;

  View* hitTest(Point p) override;
  void touchesBegan(const Touches& t) override;
  void touchesMoved(const Touches& t) override;
  void touchesEnded(const Touches& t) override;
  void touchesCancelled(const Touches& t) override;
  std::string describe() const override;

 protected:
  // A completed tap at `p` (bounds coordinates), after TouchUpInside was sent.
  virtual void tapped(Point) {}

 private:
  struct Entry {
    const void* target;
    Action action;
    unsigned events;
  };
  std::vector<Entry> entries_;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
  bool tracking_ = false;
};

}  // namespace ui
