#pragma once
// A test harness over the screen model, for tests of screens: find views by text, tag or
// accessibility label among what is visible; tap, swipe and hold them like a finger, at a
// point of the window where the view shows, through the window's hit testing (so a view
// covered by the keyboard, the number pad, an alert or an overlay, clipped away by a
// scroll view or hidden cannot be reached); type into fields through the same path
// as the renderer's keys (so delegate vetoes apply); choose table rows, picker rows and
// alert buttons; advance the manual clock and run the main queue; dump the visible screen
// as indented text; save a screenshot through the Qt renderer. Test code only; main thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/AlertPanel.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Window.h"

namespace ui {
class SearchBar;
}

namespace ui::harness {

class Harness {
 public:
  // Drives `window`, or the key window when nullptr.
  explicit Harness(Window* window = nullptr) : window_(window) {}
  Window& window() const;

  // Visible views, front-most first (a view in front of another comes before it).
  std::vector<View*> visibleViews() const;
  // The front-most visible view showing exactly `text` (label text, button title, field
  // text or placeholder, ...); nullptr when none.
  View* findText(const std::string& text) const;
  View* findTag(int tag) const;
  View* findLabel(const std::string& accessibilityLabel) const;
  template <class T>
  T* findFirst() const {
    for (View* v : visibleViews())
      if (auto* t = dynamic_cast<T*>(v)) return t;
    return nullptr;
  }

  // Where a finger would touch `view`: the centre of the part of it that shows (inside
  // every ancestor and the window), or, when something covers that centre, the point of
  // that part nearest to it that still reaches the view. Nothing when no such point exists.
  std::optional<Point> touchPoint(View* view) const;
  // Whether a tap could reach `view` now.
  bool isReachable(View* view) const { return touchPoint(view).has_value(); }
  // Taps `view` through the window at its touch point. False (and nothing is touched) when
  // the view is not visible or something else would take the touch wherever it shows.
  bool tap(View* view);
  bool tapText(const std::string& text) { return tap(findText(text)); }
  // Taps `view` at `point` of its own coordinates (a segment of a segmented control, a
  // scope button of a search bar). False (and nothing is touched) when a touch there would
  // not reach `view`.
  bool tapAt(View* view, Point point);
  // Taps scope `index` of a search bar's scope bar. False when it cannot be reached.
  bool chooseScope(SearchBar& bar, int index);
  // Taps the view a navigation bar or toolbar shows for `item`.
  bool tapBarItem(const BarButtonItem* item);
  bool tapBarItem(const std::shared_ptr<BarButtonItem>& item) { return tapBarItem(item.get()); }
  // Drags a finger across `view` from its touch point, `distance` points in `direction`
  // (one of SwipeLeft, SwipeRight, SwipeUp, SwipeDown). False when the view cannot be reached.
  bool swipe(View* view, SwipeDirection direction, double distance = 120);
  // Drags `scroller` with a finger, up or down, until `view` (inside it) can be reached; a
  // view not laid out yet is looked for further down first. False when no drag brings it
  // (the keyboard or something else covers it wherever it can be scrolled to).
  bool scrollIntoReach(ScrollView& scroller, View* view);
  // Drags `scroller` with a finger to its top (`toEnd` false) or its end, so that what it
  // holds has been laid out on the way. False when it cannot be dragged.
  bool scrollToEdge(ScrollView& scroller, bool toEnd);
  // Swipes the row `ip` (scrolled into view first).
  bool swipeRow(TableView& table, IndexPath ip, SwipeDirection direction);
  // Puts a finger down on `view` at the first of `points` (in `view`'s coordinates), moves
  // it through the others and lifts it; with `lift` false the finger stays down until
  // `liftFinger` or `cancelTouch`. Hit-tested like a tap: false, and nothing is touched,
  // when the first point does not reach `view` (outside it, covered or hidden).
  bool stroke(View* view, const std::vector<Point>& points, bool lift = true);
  // Lifts the finger a stroke left down, where it is.
  void liftFinger();
  // The system takes the finger a stroke left down (a call coming in): the touch is cancelled.
  void cancelTouch();
  // Holds a finger on `view` for `d` (the manual clock advances meanwhile, running what
  // falls due), then lifts it. False when the view cannot be reached.
  bool longPress(View* view, foundation::Duration d);
  // Focuses `field` by a tap (unless it is first responder) and types `text` one
  // character at a time. False when the field could not be focused.
  bool type(View* field, const std::string& text);
  // Types into whatever is first responder.
  void typeText(const std::string& text);
  // Pastes `text` into whatever is first responder: one change, through the same delegate
  // calls as typing.
  void paste(const std::string& text);
  void deleteBackward(int times = 1);
  void pressReturn();
  // Shakes the device: the motion goes down the responder chain from the first responder.
  void shake();

  // Scrolls `ip` into view and taps it.
  bool chooseRow(TableView& table, IndexPath ip);
  bool choosePickerRow(PickerView& picker, int row, int component = 0);
  // Turns the wheels of a date picker on screen to `date`. False when it is not shown.
  bool chooseDate(DatePicker& picker, std::chrono::system_clock::time_point date);
  bool chooseDate(DatePicker& picker, DatePicker::Date date);
  // The alert on top (an alert view or an alert controller's box), or nullptr.
  AlertPanel* topAlert() const;
  // Taps the top alert's button titled `title`.
  bool pressAlertButton(const std::string& title);

  // Advances the manual clock (one must be installed) and runs what fell due.
  void advance(foundation::Duration d);
  // Runs the main queue until nothing is ready.
  void runPending();

  // The visible screen as indented lines: kind, then what it shows.
  std::string dump() const;
  bool saveScreenshot(const std::string& path, double scale = 1) const;

 private:
  // Whether a touch at `p` (window points) lands on `view`, a view inside it, or a view
  // that contains it (a label inside a button).
  bool reaches(View* view, Point p) const;
  Window* window_;
  std::optional<Point> finger_;  // where a finger left down by `stroke` is
};

}  // namespace ui::harness
