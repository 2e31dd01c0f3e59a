#include "platform/ui/Window.h"

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NumberPad.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace ui {
namespace {

Window*& keyWindowSlot() {
  static Window* w = nullptr;
  return w;
}

// A tap within this time and distance of the previous one counts as the next tap.
constexpr double kMultiTapSeconds = 0.35;
constexpr double kMultiTapDistance = 20;
// A finger that moves this far stops being a tap and may start a scroll.
constexpr double kDragThreshold = 10;

nlohmann::json frameJson(Rect r) {
  return {{"x", r.x()}, {"y", r.y()}, {"width", r.width()}, {"height", r.height()}};
}

bool coversScreen(const ViewController* vc) {
  if (!vc || !vc->presentingViewController()) return false;
  auto s = vc->modalPresentationStyle();
  return s == ModalPresentationStyle::FullScreen || s == ModalPresentationStyle::PageSheet ||
         s == ModalPresentationStyle::FormSheet;
}

}  // namespace

Window::Window() : Window(Rect{0, 0, kScreenWidth, kScreenHeight}) {}

Window::Window(Rect frame) : View(frame) { setBackgroundColor(Color::black()); }

Window::~Window() {
  if (keyWindowSlot() == this) keyWindowSlot() = nullptr;
}

Window* Window::keyWindow() { return keyWindowSlot(); }

void Window::ensureLayers() {
  if (keyboardLayer_) return;
  keyboardLayer_ = std::make_shared<View>(Rect{0, frame().height(), frame().width(), 0});
  keyboardLayer_->setHidden(true);
  alertLayer_ = std::make_shared<View>(bounds());
  alertLayer_->setBackgroundColor(Color::black().withAlpha(0.4));
  alertLayer_->setHidden(true);
  toastLayer_ = std::make_shared<View>(bounds());
  toastLayer_->setUserInteractionEnabled(false);
  View::insertSubview(keyboardLayer_, subviews().size());
  View::insertSubview(alertLayer_, subviews().size());
  View::insertSubview(toastLayer_, subviews().size());
}

void Window::makeKeyAndVisible() {
  ensureLayers();
  keyWindowSlot() = this;
  if (!visible_) {
    visible_ = true;
    if (root_) {
      root_->beginAppearance(true, false);
      root_->endAppearance();
    }
  }
}

void Window::setRootViewController(std::shared_ptr<ViewController> vc) {
  ensureLayers();
  if (vc == root_) return;
  auto old = root_;
  root_ = vc;
  if (vc) vc->viewPtr()->setFrame(bounds());
  if (visible_ && old) old->beginAppearance(false, false);
  if (visible_ && vc) vc->beginAppearance(true, false);
  if (old && old->isViewLoaded()) old->view().removeFromSuperview();
  if (vc) {
    screens_.insert(screens_.begin(), vc->viewPtr());
    View::insertSubview(vc->viewPtr(), 0);
  }
  if (visible_ && old) old->endAppearance();
  if (visible_ && vc) vc->endAppearance();
}

ViewController* Window::topViewController() const {
  if (!root_) return nullptr;
  ViewController* v = root_.get();
  while (v->presentedViewController()) v = v->presentedViewController();
  ViewController* inner = v->visibleViewController();
  while (inner && inner != v) {
    v = inner;
    inner = v->visibleViewController();
  }
  return v;
}

std::vector<View*> Window::screenViews() const {
  std::vector<View*> out;
  for (auto& s : subviews())
    for (auto& w : screens_)
      if (w.lock() == s) out.push_back(s.get());
  return out;
}

bool Window::isCovered(const View* view) const {
  auto screens = screenViews();
  bool seen = false;
  for (View* s : screens) {
    if (seen && coversScreen(s->viewController())) return true;
    if (s == view) seen = true;
  }
  return false;
}

void Window::attachScreenView(std::shared_ptr<View> view, const View*) {
  ensureLayers();
  // After the last screen view (screens stay below the application's overlays).
  size_t index = 0;
  auto screens = screenViews();
  if (!screens.empty())
    for (size_t i = 0; i < subviews().size(); ++i)
      if (subviews()[i].get() == screens.back()) index = i + 1;
  screens_.push_back(view);
  View::insertSubview(std::move(view), index);
}

void Window::addSubview(std::shared_ptr<View> view) {
  ensureLayers();
  if (view == keyboardLayer_ || view == alertLayer_ || view == toastLayer_) return;
  for (size_t i = 0; i < subviews().size(); ++i)
    if (subviews()[i] == keyboardLayer_) return View::insertSubview(std::move(view), i);
  View::addSubview(std::move(view));
}

View* Window::keyboardView() const { return keyboardLayer_ && !keyboardLayer_->isHidden() ? shownKeyboard_ : nullptr; }

bool Window::statusBarHidden() const {
  if (Application::shared().isStatusBarHidden()) return true;
  ViewController* top = topViewController();
  return top && top->prefersStatusBarHidden();
}

namespace {

double luminance(Color c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; }

// The front-most opaque background at window point `p` in `v` or its subviews (a
// navigation bar right below the status bar counts as reaching up behind it).
std::optional<Color> backdropAt(const View& v, Point p) {
  if (v.isHidden() || v.alpha() < 0.5) return std::nullopt;
  Rect reach{v.convertToWindow(v.bounds().origin), v.frame().size};
  auto* bar = dynamic_cast<const NavigationBar*>(&v);
  if (bar && bar->extendsUnderStatusBar()) reach = {reach.x(), 0, reach.width(), reach.maxY()};
  const bool inside = reach.contains(p);
  if (inside || !v.clipsToBounds()) {
    const auto& subs = v.subviews();
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
      if (auto c = backdropAt(**it, p)) return c;
  }
  std::optional<Color> own = bar ? std::optional<Color>(bar->effectiveBackground()) : v.backgroundColor();
  if (inside && own && own->a >= 0.5) return own;
  return std::nullopt;
}

}  // namespace

Color Window::statusBarBackdrop() const {
  const Point middle{frame().width() / 2, kStatusBarHeight / 2};
  // The keyboard, alert and toast layers never reach the status bar.
  const View* layers[] = {keyboardLayer_.get(), alertLayer_.get(), toastLayer_.get()};
  const auto& subs = subviews();
  for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
    const View* s = it->get();
    if (std::find(std::begin(layers), std::end(layers), s) != std::end(layers) || isCovered(s)) continue;
    if (auto c = backdropAt(*s, middle)) return *c;
  }
  return backgroundColor().value_or(Color::black());
}

StatusBarStyle Window::effectiveStatusBarStyle() const {
  const double l = luminance(statusBarBackdrop());
  if (l < 0.35) return StatusBarStyle::LightContent;
  if (l > 0.65) return StatusBarStyle::Default;
  return Application::shared().statusBarStyle();
}

void Window::layoutSubviews() {
  ensureLayers();
  alertLayer_->setHidden(alertLayer_->subviews().empty());
  for (auto& s : screenViews()) {
    (void)s;
  }
}

View* Window::hitTest(Point p) {
  if (isHidden() || !pointInside(p)) return nullptr;
  const auto& subs = subviews();
  for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
    View* s = it->get();
    if (isCovered(s)) continue;
    Point q{p.x - s->frame().x() + s->bounds().x(), p.y - s->frame().y() + s->bounds().y()};
    if (View* hit = s->hitTest(q)) return hit;
  }
  return this;
}

// ---- Input

void Window::sendTouch(TouchPhase phase, Point p) {
  layoutIfNeeded();
  if (phase == TouchPhase::Began) {
    if (seq_) sendTouch(TouchPhase::Cancelled, p);
    View* hit = hitTest(p);
    if (!hit || hit == this) return;
    Sequence s;
    s.view = hit->sharedView();
    s.start = p;
    s.last = p;
    // Recognizers of the view and its ancestors; a control keeps its taps to itself.
    for (View* v = hit; v; v = v->superview())
      for (auto& g : v->gestureRecognizers()) {
        if (!g->isEnabled()) continue;
        if (v != hit && dynamic_cast<Control*>(hit) && dynamic_cast<TapGestureRecognizer*>(g.get())) continue;
        s.gestures.push_back(g);
      }
    const auto now = foundation::Clock::current().now().time_since_epoch();
    const int64_t ticks = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    double dist = std::hypot(p.x - lastTapPoint_.x, p.y - lastTapPoint_.y);
    if (tapCount_ > 0 && (ticks - lastTapTicks_) <= kMultiTapSeconds * 1e6 && dist <= kMultiTapDistance)
      ++tapCount_;
    else
      tapCount_ = 1;
    lastTapTicks_ = ticks;
    lastTapPoint_ = p;
    seq_ = s;
    Touch t{p, phase, tapCount_};
    for (auto& g : s.gestures)
      if (auto gl = g.lock()) gl->touchBegan(t);
    hit->touchesBegan({t});
    return;
  }
  if (!seq_) return;
  Sequence s = *seq_;
  auto view = s.view.lock();
  Touch t{p, phase, tapCount_};
  if (phase == TouchPhase::Moved) {
    double dx = p.x - s.start.x, dy = p.y - s.start.y;
    if (!s.scrolling && std::hypot(dx, dy) > kDragThreshold && view) {
      // A scroll view that can move along the finger's main direction takes the drag.
      const bool horizontal = std::fabs(dx) > std::fabs(dy);
      for (View* v = view.get(); v; v = v->superview()) {
        auto* sc = dynamic_cast<ScrollView*>(v);
        if (!sc || !sc->isScrollEnabled()) continue;
        Point lo = sc->minimumOffset(), hi = sc->maximumOffset();
        // A table with a refresh control can be pulled down even when its rows fit.
        auto* table = dynamic_cast<TableView*>(sc);
        const bool pullable = table && table->refreshControl() && sc->bounces();
        bool can = horizontal ? hi.x > lo.x : hi.y > lo.y || pullable;
        if (!can) continue;
        seq_->scrolling = true;
        seq_->scroller = sc->sharedView();
        for (auto& g : s.gestures)
          if (auto gl = g.lock()) gl->touchCancelled(t);
        Touch c = t;
        c.phase = TouchPhase::Cancelled;
        view->touchesCancelled({c});
        sc->beginDrag();
        break;
      }
    }
    if (seq_->scrolling) {
      if (auto sc = std::dynamic_pointer_cast<ScrollView>(seq_->scroller.lock())) {
        sc->dragBy(p.x - seq_->last.x, p.y - seq_->last.y);
      }
      seq_->last = p;
      return;
    }
    seq_->last = p;
    for (auto& g : s.gestures)
      if (auto gl = g.lock()) gl->touchMoved(t);
    if (view) view->touchesMoved({t});
    return;
  }
  seq_.reset();
  if (s.scrolling) {
    if (auto sc = std::dynamic_pointer_cast<ScrollView>(s.scroller.lock())) sc->endDrag();
    tapCount_ = 0;
    return;
  }
  if (std::hypot(p.x - s.start.x, p.y - s.start.y) > kDragThreshold) tapCount_ = 0;
  bool cancelTouches = false;
  for (auto& g : s.gestures)
    if (auto gl = g.lock()) {
      if (phase == TouchPhase::Ended) {
        gl->touchEnded(t);
        if (gl->recognizedInSequence() && gl->cancelsTouchesInView()) cancelTouches = true;
      } else {
        gl->touchCancelled(t);
      }
    }
  if (!view) return;
  if (phase == TouchPhase::Cancelled || cancelTouches) {
    t.phase = TouchPhase::Cancelled;
    view->touchesCancelled({t});
  } else {
    view->touchesEnded({t});
  }
}

void Window::tap(Point p) {
  sendTouch(TouchPhase::Began, p);
  sendTouch(TouchPhase::Ended, p);
}

void Window::drag(Point from, Point to, int steps) {
  sendTouch(TouchPhase::Began, from);
  steps = std::max(1, steps);
  for (int i = 1; i <= steps; ++i) {
    double k = static_cast<double>(i) / steps;
    sendTouch(TouchPhase::Moved, {from.x + (to.x - from.x) * k, from.y + (to.y - from.y) * k});
  }
  sendTouch(TouchPhase::Ended, to);
}

TextInput* Window::activeTextInput() const { return dynamic_cast<TextInput*>(Responder::firstResponder()); }

void Window::insertText(const std::string& text) {
  if (TextInput* in = activeTextInput()) in->insertText(text);
}

void Window::deleteBackward() {
  if (TextInput* in = activeTextInput()) in->deleteBackward();
}

void Window::pressReturn() {
  if (TextInput* in = activeTextInput()) in->pressReturn();
}

void Window::shake() {
  // As the platform routes motion: to the first responder; with none, to the screen the
  // user sees, whose chain leads through its containers to the window and the delegate.
  Responder* r = Responder::firstResponder();
  if (!r) r = topViewController();
  if (!r) r = this;
  r->motionBegan(MotionType::Shake);
  r->motionEnded(MotionType::Shake);
}

void Window::motionEnded(MotionType motion) {
  if (motion != MotionType::Shake) return;
  auto& app = Application::shared();
  if (auto d = app.delegate()) d->motionEnded(app);
}

void Window::firstResponderChanged() { updateKeyboard(); }

void Window::updateKeyboard() {
  ensureLayers();
  Responder* fr = Responder::firstResponder();
  auto* input = dynamic_cast<TextInput*>(fr);
  auto* frView = dynamic_cast<View*>(fr);
  std::shared_ptr<View> kb, accessory;
  if (fr && (input || fr->inputView()) && (!frView || frView->window() == this)) {
    kb = fr->inputView();
    if (!kb && input) {
      KeyboardType type = input->keyboardType();
      if (type == KeyboardType::NumberPad || type == KeyboardType::DecimalPad || type == KeyboardType::PhonePad)
        kb = std::make_shared<NumberPad>(type == KeyboardType::DecimalPad);
      else
        kb = std::make_shared<KeyboardView>(type);
    }
    accessory = fr->inputAccessoryView();
  }
  const bool wasVisible = isKeyboardVisible();
  const Rect oldFrame = keyboardLayer_->frame();
  for (auto s : std::vector<std::shared_ptr<View>>(keyboardLayer_->subviews())) s->removeFromSuperview();
  shownKeyboard_ = nullptr;
  auto& center = foundation::NotificationCenter::defaultCenter();
  if (!kb) {
    shownFor_ = nullptr;
    keyboardLayer_->setHidden(true);
    if (wasVisible) {
      nlohmann::json info = {{kKeyboardAnimationDurationUserInfoKey, kKeyboardAnimationDuration},
                             {kKeyboardFrameBeginUserInfoKey, frameJson(oldFrame)},
                             {kKeyboardFrameEndUserInfoKey, frameJson({0, frame().height(), frame().width(), oldFrame.height()})}};
      center.post(kKeyboardWillHideNotification, nullptr, info);
      center.post(kKeyboardDidHideNotification, nullptr, info);
    }
    return;
  }
  double kbh = kb->frame().height() > 0 ? kb->frame().height() : kKeyboardHeight;
  double acch = accessory ? (accessory->frame().height() > 0 ? accessory->frame().height() : 44) : 0;
  Rect f{0, frame().height() - kbh - acch, frame().width(), kbh + acch};
  keyboardLayer_->setFrame(f);
  keyboardLayer_->setHidden(false);
  if (accessory) {
    accessory->setFrame({0, 0, f.width(), acch});
    keyboardLayer_->addSubview(accessory);
  }
  kb->setFrame({0, acch, f.width(), kbh});
  keyboardLayer_->addSubview(kb);
  shownKeyboard_ = kb.get();
  // Every responder that brings a keyboard announces it, also when the frame stays.
  const bool newResponder = shownFor_ != fr;
  shownFor_ = fr;
  if (!wasVisible || oldFrame != f || newResponder) {
    nlohmann::json info = {{kKeyboardAnimationDurationUserInfoKey, kKeyboardAnimationDuration},
                           {kKeyboardFrameBeginUserInfoKey, frameJson(wasVisible ? oldFrame : Rect{0, frame().height(), f.width(), f.height()})},
                           {kKeyboardFrameEndUserInfoKey, frameJson(f)}};
    center.post(kKeyboardWillShowNotification, nullptr, info);
    center.post(kKeyboardDidShowNotification, nullptr, info);
  }
}

}  // namespace ui
