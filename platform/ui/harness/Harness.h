#pragma once
// A test harness over the screen model, for tests of screens: find views by text, tag or
// accessibility label among what is visible; tap them through the window's hit testing
// (so a covered or hidden view cannot be tapped); type into fields through the same path
// as the renderer's keys (so delegate vetoes apply); choose table rows, picker rows and
// alert buttons; advance the manual clock and run the main queue; dump the visible screen
// as indented text; save a screenshot through the Qt renderer. Test code only; main thread.

#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/AlertPanel.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Window.h"

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

  // Taps the centre of `view` through the window. False when the view is not visible or
  // something else would take the touch there.
  bool tap(View* view);
  bool tapText(const std::string& text) { return tap(findText(text)); }
  // Focuses `field` by a tap (unless it is first responder) and types `text` one
  // character at a time. False when the field could not be focused.
  bool type(View* field, const std::string& text);
  // Types into whatever is first responder.
  void typeText(const std::string& text);
  void deleteBackward(int times = 1);
  void pressReturn();

  // Scrolls `ip` into view and taps it.
  bool chooseRow(TableView& table, IndexPath ip);
  bool choosePickerRow(PickerView& picker, int row, int component = 0);
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
  Window* window_;
};

}  // namespace ui::harness
