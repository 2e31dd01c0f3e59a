#include "platform/ui/harness/Harness.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextField.h"
#include "platform/ui/qt/Offscreen.h"
#include "platform/ui/qt/Painter.h"

namespace ui::harness {
namespace {

bool shown(const View& v) { return !v.isHidden() && v.alpha() > 0.01; }

Rect intersection(const Rect& a, const Rect& b) {
  const double x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
  const double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

// Depth-first, front to back.
void collect(Window& w, View& v, std::vector<View*>& out) {
  if (!shown(v)) return;
  const auto& subs = v.subviews();
  for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
    if (&v == &w && w.isCovered(it->get())) continue;
    collect(w, **it, out);
  }
  out.push_back(&v);
}

bool worthDumping(const View& v) {
  if (auto* l = dynamic_cast<const Label*>(&v)) return !l->text().empty();
  if (auto* i = dynamic_cast<const ImageView*>(&v)) return i->image() != nullptr;
  return true;
}

void dumpView(Window& w, const View& v, int depth, std::string& out) {
  if (!shown(v) || !worthDumping(v)) return;
  std::string children;
  const auto& subs = v.subviews();
  // A keyboard is one line, not fifty keys.
  const bool keyboard = std::string(v.kind()) == "Keyboard";
  for (auto& s : subs) {
    if (keyboard) break;
    if (&v == &w && w.isCovered(s.get())) continue;
    dumpView(w, *s, depth + 1, children);
  }
  std::string desc = v.describe();
  // Plain containers without anything to show leave no line.
  if (std::string(v.kind()) == "View" && desc.empty() && children.empty() && !v.backgroundColor()) return;
  out += std::string(static_cast<size_t>(depth) * 2, ' ') + v.kind() + desc + "\n" + children;
}

}  // namespace

Window& Harness::window() const {
  Window* w = window_ ? window_ : Window::keyWindow();
  if (!w) throw std::logic_error("no window to drive");
  return *w;
}

std::vector<View*> Harness::visibleViews() const {
  Window& w = window();
  w.layoutIfNeeded();
  std::vector<View*> out;
  collect(w, w, out);
  // `collect` lists a view after its subviews; fronts stay ahead of what is behind them.
  return out;
}

View* Harness::findText(const std::string& text) const {
  for (View* v : visibleViews())
    for (auto& t : v->texts())
      if (t == text) return v;
  return nullptr;
}

View* Harness::findTag(int tag) const {
  for (View* v : visibleViews())
    if (v->tag() == tag) return v;
  return nullptr;
}

View* Harness::findLabel(const std::string& label) const {
  for (View* v : visibleViews())
    if (v->accessibilityLabel() == label) return v;
  return nullptr;
}

bool Harness::reaches(View* view, Point p) const {
  View* hit = window().hitTest(p);
  return hit && (hit == view || hit->isDescendantOf(view) || view->isDescendantOf(hit));
}

std::optional<Point> Harness::touchPoint(View* view) const {
  if (!view) return std::nullopt;
  Window& w = window();
  w.layoutIfNeeded();
  if (!view->isVisibleOnScreen() || view->window() != &w) return std::nullopt;
  // What shows of the view: its bounds inside every ancestor's bounds (a touch outside a
  // superview never reaches its subviews) and inside the screen.
  Rect shown = view->convertRectToWindow(view->bounds());
  for (View* a = view->superview(); a; a = a->superview()) shown = intersection(shown, a->convertRectToWindow(a->bounds()));
  if (shown.isEmpty()) return std::nullopt;
  const Point centre = shown.center();
  if (reaches(view, centre)) return centre;
  // Partly covered (the keyboard over the lower half of a button): the nearest point of a
  // grid over the shown part that still reaches it, as a finger would aim for what shows.
  constexpr int kSteps = 8;
  std::optional<Point> best;
  double bestDistance = 0;
  for (int i = 0; i <= kSteps; ++i)
    for (int j = 0; j <= kSteps; ++j) {
      const Point p{shown.minX() + (shown.width() - 1) * i / kSteps + 0.5,
                    shown.minY() + (shown.height() - 1) * j / kSteps + 0.5};
      const double d = std::hypot(p.x - centre.x, p.y - centre.y);
      if ((!best || d < bestDistance) && reaches(view, p)) {
        best = p;
        bestDistance = d;
      }
    }
  return best;
}

bool Harness::tap(View* view) {
  auto p = touchPoint(view);
  if (!p) return false;
  window().tap(*p);
  return true;
}

bool Harness::tapAt(View* view, Point point) {
  if (!view) return false;
  Window& w = window();
  w.layoutIfNeeded();
  if (!view->isVisibleOnScreen() || view->window() != &w) return false;
  const Point at = view->convertToWindow(point);
  View* hit = w.hitTest(at);
  if (!hit || !(hit == view || hit->isDescendantOf(view))) return false;
  w.tap(at);
  return true;
}

bool Harness::chooseScope(SearchBar& bar, int index) {
  for (auto& v : bar.subviews())
    if (auto* scope = dynamic_cast<SegmentedControl*>(v.get())) {
      if (index < 0 || index >= scope->numberOfSegments()) return false;
      return tapAt(scope, scope->segmentRect(index).center());
    }
  return false;
}

bool Harness::tapBarItem(const BarButtonItem* item) {
  if (!item) return false;
  window().layoutIfNeeded();
  return tap(item->barView());
}

bool Harness::swipe(View* view, SwipeDirection direction, double distance) {
  auto from = touchPoint(view);
  if (!from) return false;
  Point to = *from;
  switch (direction) {
    case SwipeRight: to.x += distance; break;
    case SwipeLeft: to.x -= distance; break;
    case SwipeUp: to.y -= distance; break;
    case SwipeDown: to.y += distance; break;
  }
  window().drag(*from, to, 6);
  return true;
}

bool Harness::scrollIntoReach(ScrollView& scroller, View* view) {
  if (!view) return false;
  Window& w = window();
  bool down = true;  // towards the end of the content
  int turns = 0;
  for (int i = 0; i < 64 && !isReachable(view); ++i) {
    w.layoutIfNeeded();
    if (view->window() == &w && view->isDescendantOf(&scroller)) {
      const double middle = scroller.convertToWindow({0, scroller.contentOffset().y + scroller.frame().height() / 2}).y;
      down = view->convertToWindow({0, view->bounds().height() / 2}).y > middle;
    }
    const double before = scroller.contentOffset().y;
    if (!swipe(&scroller, down ? SwipeUp : SwipeDown, 150)) return false;
    runPending();
    if (scroller.contentOffset().y == before) {
      if (++turns > 1) break;  // both ends seen
      down = !down;
    }
  }
  w.layoutIfNeeded();
  return isReachable(view);
}

bool Harness::scrollToEdge(ScrollView& scroller, bool toEnd) {
  for (int i = 0; i < 64; ++i) {
    const double before = scroller.contentOffset().y;
    if (!swipe(&scroller, toEnd ? SwipeUp : SwipeDown, 150)) return false;
    runPending();
    if (scroller.contentOffset().y == before) break;
  }
  window().layoutIfNeeded();
  return true;
}

bool Harness::swipeRow(TableView& table, IndexPath ip, SwipeDirection direction) {
  window().layoutIfNeeded();
  if (ip.section < 0 || ip.section >= table.numberOfSections() || ip.row < 0 ||
      ip.row >= table.numberOfRowsInSection(ip.section))
    return false;
  table.scrollToRowAtIndexPath(ip, ScrollPosition::None, false);
  table.layoutIfNeeded();
  auto* cell = table.cellForRowAtIndexPath(ip);
  if (!cell) return false;
  // From the row's middle, so that the finger stays on the screen either way.
  auto p = touchPoint(cell);
  if (!p) return false;
  const double travel = 120;
  Point from{direction == SwipeRight ? std::max(10.0, p->x - travel / 2) : std::min(window().bounds().width() - 10, p->x + travel / 2), p->y};
  if (direction != SwipeLeft && direction != SwipeRight) return swipe(cell, direction);
  if (!reaches(cell, from)) from = *p;
  Point to{from.x + (direction == SwipeRight ? travel : -travel), from.y};
  window().drag(from, to, 6);
  return true;
}

bool Harness::stroke(View* view, const std::vector<Point>& points, bool lift) {
  if (!view || points.empty() || finger_) return false;
  Window& w = window();
  w.layoutIfNeeded();
  if (!view->isVisibleOnScreen() || view->window() != &w) return false;
  std::vector<Point> at;
  for (const Point& p : points) at.push_back(view->convertToWindow(p));
  // The finger goes down on the view itself (or a view inside it), not beside it.
  View* hit = w.hitTest(at.front());
  if (!hit || !(hit == view || hit->isDescendantOf(view))) return false;
  w.sendTouch(TouchPhase::Began, at.front());
  for (size_t i = 1; i < at.size(); ++i) w.sendTouch(TouchPhase::Moved, at[i]);
  finger_ = at.back();
  if (lift) liftFinger();
  return true;
}

void Harness::liftFinger() {
  if (!finger_) return;
  const Point p = *finger_;
  finger_.reset();
  window().sendTouch(TouchPhase::Ended, p);
}

void Harness::cancelTouch() {
  if (!finger_) return;
  const Point p = *finger_;
  finger_.reset();
  window().sendTouch(TouchPhase::Cancelled, p);
}

bool Harness::longPress(View* view, foundation::Duration d) {
  auto p = touchPoint(view);
  if (!p) return false;
  Window& w = window();
  w.sendTouch(TouchPhase::Began, *p);
  if (dynamic_cast<foundation::ManualClock*>(&foundation::Clock::current())) advance(d);
  w.sendTouch(TouchPhase::Ended, *p);
  return true;
}

bool Harness::type(View* field, const std::string& text) {
  if (!field) return false;
  if (!field->isFirstResponder() && !tap(field)) return false;
  if (!field->isFirstResponder()) return false;
  typeText(text);
  return true;
}

void Harness::typeText(const std::string& text) {
  Window& w = window();
  // One character (one UTF-8 sequence) per keystroke, as a keyboard types.
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0xF0) n = 4;
    else if (c >= 0xE0) n = 3;
    else if (c >= 0xC0) n = 2;
    w.insertText(text.substr(i, n));
    i += n;
  }
}

void Harness::paste(const std::string& text) { window().insertText(text); }

void Harness::deleteBackward(int times) {
  for (int i = 0; i < times; ++i) window().deleteBackward();
}

void Harness::pressReturn() { window().pressReturn(); }

void Harness::shake() { window().shake(); }

bool Harness::chooseRow(TableView& table, IndexPath ip) {
  window().layoutIfNeeded();
  if (ip.section < 0 || ip.section >= table.numberOfSections() || ip.row < 0 ||
      ip.row >= table.numberOfRowsInSection(ip.section))
    return false;
  table.scrollToRowAtIndexPath(ip, ScrollPosition::None, false);
  table.layoutIfNeeded();
  return tap(table.cellForRowAtIndexPath(ip));
}

bool Harness::choosePickerRow(PickerView& picker, int row, int component) {
  if (!picker.isVisibleOnScreen() || row < 0 || row >= picker.numberOfRowsInComponent(component)) return false;
  picker.userSelectRow(row, component);
  return true;
}

bool Harness::chooseDate(DatePicker& picker, std::chrono::system_clock::time_point date) {
  return chooseDate(picker, std::chrono::floor<DatePicker::Date::duration>(date));
}

bool Harness::chooseDate(DatePicker& picker, DatePicker::Date date) {
  if (!picker.isVisibleOnScreen()) return false;
  picker.userSetDate(date);
  return true;
}

AlertPanel* Harness::topAlert() const {
  for (View* v : visibleViews())
    if (auto* a = dynamic_cast<AlertPanel*>(v)) return a;
  return nullptr;
}

bool Harness::pressAlertButton(const std::string& title) {
  AlertPanel* alert = topAlert();
  if (!alert) return false;
  alert->layoutIfNeeded();
  for (auto& b : alert->buttons())
    if (b->currentTitle() == title) return tap(b.get());
  return false;
}

void Harness::runPending() {
  auto& loop = foundation::RunLoop::main();
  for (int i = 0; i < 10000 && loop.runOnce(foundation::Duration::zero()); ++i) {
  }
}

void Harness::advance(foundation::Duration d) {
  auto* clock = dynamic_cast<foundation::ManualClock*>(&foundation::Clock::current());
  if (!clock) throw std::logic_error("advance needs a manual clock (ScopedManualClock)");
  runPending();
  // From one due timer to the next, so that work due earlier runs before later work.
  auto& loop = foundation::RunLoop::main();
  const auto target = clock->now() + d;
  for (int guard = 0; guard < 1000000; ++guard) {
    auto next = loop.nextTimerDeadline();
    auto now = clock->now();
    if (!next || *next > target) {
      if (target > now) clock->advance(target - now);
      runPending();
      return;
    }
    if (*next > now) clock->advance(*next - now);
    runPending();
  }
  throw std::logic_error("the main queue keeps scheduling timers that are already due");
}

std::string Harness::dump() const {
  Window& w = window();
  w.layoutIfNeeded();
  std::string out;
  dumpView(w, w, 0, out);
  return out;
}

bool Harness::saveScreenshot(const std::string& path, double scale) const {
  qt::ensureGuiApplication();
  return qt::saveScreenshot(window(), path, scale);
}

}  // namespace ui::harness
