#include "platform/ui/harness/Harness.h"

#include <stdexcept>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/qt/Offscreen.h"
#include "platform/ui/qt/Painter.h"

namespace ui::harness {
namespace {

bool shown(const View& v) { return !v.isHidden() && v.alpha() > 0.01; }

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

bool Harness::tap(View* view) {
  if (!view) return false;
  Window& w = window();
  w.layoutIfNeeded();
  if (!view->isVisibleOnScreen() || view->window() != &w) return false;
  Rect b = view->bounds();
  Point p = view->convertToWindow({b.midX(), b.midY()});
  View* hit = w.hitTest(p);
  if (!hit || !(hit == view || hit->isDescendantOf(view) || view->isDescendantOf(hit))) return false;
  w.tap(p);
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

void Harness::deleteBackward(int times) {
  for (int i = 0; i < times; ++i) window().deleteBackward();
}

void Harness::pressReturn() { window().pressReturn(); }

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
