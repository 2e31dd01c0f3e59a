#include "platform/ui/View.h"

#include <algorithm>
#include <cstdio>

#include "platform/ui/Animation.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {
std::weak_ptr<Responder>& currentFirstResponder() {
  static std::weak_ptr<Responder> r;
  return r;
}
// True while one responder hands over to the next: the keyboard stays up in between.
bool handingOver = false;

void notifyWindow() {
  if (handingOver) return;
  if (Window* w = Window::keyWindow()) w->firstResponderChanged();
}
}  // namespace

Point Touch::locationIn(const View* view) const {
  return view ? view->convertFromWindow(windowLocation) : windowLocation;
}

// ---- Responder

Responder::~Responder() = default;

Responder* Responder::firstResponder() { return currentFirstResponder().lock().get(); }

bool Responder::isFirstResponder() const { return firstResponder() == this; }

bool Responder::becomeFirstResponder() {
  if (!canBecomeFirstResponder()) return false;
  Responder* old = firstResponder();
  if (old == this) return true;
  std::weak_ptr<Responder> self = weak_from_this();
  if (self.expired()) return false;
  if (old) {
    handingOver = true;
    bool resigned = old->resignFirstResponder();
    handingOver = false;
    if (!resigned) return false;
  }
  currentFirstResponder() = self;
  notifyWindow();
  return true;
}

bool Responder::resignFirstResponder() {
  if (isFirstResponder()) {
    currentFirstResponder().reset();
    notifyWindow();
  }
  return true;
}

void Responder::clearFirstResponder(const Responder* r) {
  if (firstResponder() == r) {
    currentFirstResponder().reset();
    notifyWindow();
  }
}

void Responder::touchesBegan(const Touches& t) { if (auto n = nextResponder()) n->touchesBegan(t); }
void Responder::touchesMoved(const Touches& t) { if (auto n = nextResponder()) n->touchesMoved(t); }
void Responder::touchesEnded(const Touches& t) { if (auto n = nextResponder()) n->touchesEnded(t); }
void Responder::touchesCancelled(const Touches& t) { if (auto n = nextResponder()) n->touchesCancelled(t); }
void Responder::motionBegan(MotionType m) { if (auto n = nextResponder()) n->motionBegan(m); }
void Responder::motionEnded(MotionType m) { if (auto n = nextResponder()) n->motionEnded(m); }

// ---- View

View::View() = default;
View::View(Rect frame) : frame_(frame) {}

View::~View() {
  for (auto& s : subviews_) s->superview_ = nullptr;
  for (auto& g : gestures_) g->view_ = nullptr;
}

namespace {

// One axis of autoresizing: the flexible parts among the leading margin, the size and the
// trailing margin share `delta` in proportion to their sizes (equally when all are zero).
void resizeAxis(double& origin, double& size, double parentSize, double delta, bool flexLead, bool flexSize,
                bool flexTrail) {
  const double lead = origin, trail = parentSize - origin - size;
  double parts[3] = {flexLead ? std::max(0.0, lead) : 0, flexSize ? std::max(0.0, size) : 0,
                     flexTrail ? std::max(0.0, trail) : 0};
  const int count = int(flexLead) + int(flexSize) + int(flexTrail);
  if (count == 0) return;
  double total = parts[0] + parts[1] + parts[2];
  if (total <= 0) {
    parts[0] = flexLead, parts[1] = flexSize, parts[2] = flexTrail;
    total = count;
  }
  origin += delta * parts[0] / total;
  size = std::max(0.0, size + delta * parts[1] / total);
}

}  // namespace

void View::setFrame(Rect frame) {
  const Rect old = frame_;
  bool resized = frame.size != frame_.size;
  frame_ = frame;
  if (resized) {
    needsLayout_ = true;
    if (autoresizesSubviews_) {
      const double dw = frame.width() - old.width(), dh = frame.height() - old.height();
      for (auto& sub : std::vector<std::shared_ptr<View>>(subviews_)) {
        const unsigned m = sub->autoresizingMask_;
        if (m == AutoresizingNone) continue;
        Rect f = sub->frame_;
        double x = f.x(), y = f.y(), w = f.width(), h = f.height();
        resizeAxis(x, w, old.width(), dw, m & FlexibleLeftMargin, m & FlexibleWidth, m & FlexibleRightMargin);
        resizeAxis(y, h, old.height(), dh, m & FlexibleTopMargin, m & FlexibleHeight, m & FlexibleBottomMargin);
        sub->setFrame({x, y, w, h});
      }
    }
    sizeChanged();
  }
  if (frameChanged_ && (resized || frame.origin != old.origin)) frameChanged_(*this, old);
}

void View::setCenter(Point c) {
  setFrame({c.x - frame_.width() / 2, c.y - frame_.height() / 2, frame_.width(), frame_.height()});
}

std::optional<Color> View::tintColor() const {
  for (const View* v = this; v; v = v->superview_)
    if (v->tint_) return v->tint_;
  return Color::systemBlue();
}

void View::addSubview(std::shared_ptr<View> view) { insertSubview(std::move(view), subviews_.size()); }

void View::insertSubview(std::shared_ptr<View> view, size_t index) {
  if (!view || view.get() == this) return;
  if (view->superview_ == this) {
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    size_t old = static_cast<size_t>(it - subviews_.begin());
    subviews_.erase(it);
    if (index > old) --index;
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())), view);
    return;
  }
  Window* oldWindow = view->window();
  if (view->superview_) view->removeFromSuperview();
  view->superview_ = this;
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(std::min(index, subviews_.size())), view);
  needsLayout_ = true;
  if (window() != oldWindow) view->notifyMovedToWindow();
}

void View::insertSubviewAbove(std::shared_ptr<View> view, const View* sibling) {
  for (size_t i = 0; i < subviews_.size(); ++i)
    if (subviews_[i].get() == sibling) return insertSubview(std::move(view), i + 1);
  addSubview(std::move(view));
}

void View::insertSubviewBelow(std::shared_ptr<View> view, const View* sibling) {
  for (size_t i = 0; i < subviews_.size(); ++i)
    if (subviews_[i].get() == sibling) return insertSubview(std::move(view), i);
  insertSubview(std::move(view), 0);
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  auto keep = sharedView();
  bool hadWindow = window() != nullptr;
  auto& s = parent->subviews_;
  s.erase(std::remove(s.begin(), s.end(), keep), s.end());
  superview_ = nullptr;
  if (hadWindow) notifyMovedToWindow();
}

void View::notifyMovedToWindow() {
  if (!window()) {
    // A responder that leaves the screen stops being first responder.
    Responder* fr = firstResponder();
    if (auto* frView = dynamic_cast<View*>(fr); frView && (frView == this || frView->isDescendantOf(this)))
      clearFirstResponder(fr);
  }
  didMoveToWindow();
  auto copy = subviews_;
  for (auto& s : copy) s->notifyMovedToWindow();
}

void View::bringSubviewToFront(const View* view) {
  for (auto it = subviews_.begin(); it != subviews_.end(); ++it)
    if (it->get() == view) {
      auto v = *it;
      subviews_.erase(it);
      subviews_.push_back(v);
      return;
    }
}

void View::sendSubviewToBack(const View* view) {
  for (auto it = subviews_.begin(); it != subviews_.end(); ++it)
    if (it->get() == view) {
      auto v = *it;
      subviews_.erase(it);
      subviews_.insert(subviews_.begin(), v);
      return;
    }
}

View* View::viewWithTag(int tag) {
  if (tag_ == tag) return this;
  for (auto& s : subviews_)
    if (View* v = s->viewWithTag(tag)) return v;
  return nullptr;
}

bool View::isDescendantOf(const View* ancestor) const {
  for (const View* v = this; v; v = v->superview_)
    if (v == ancestor) return true;
  return false;
}

Window* View::window() const {
  const View* v = this;
  while (v->superview_) v = v->superview_;
  return dynamic_cast<Window*>(const_cast<View*>(v));
}

Point View::convertToWindow(Point p) const {
  // From bounds coordinates to the superview's, up to the top of the tree (the window,
  // whose coordinates are the screen's).
  for (const View* v = this; v->superview_; v = v->superview_) {
    p.x += v->frame_.x() - v->boundsOrigin_.x;
    p.y += v->frame_.y() - v->boundsOrigin_.y;
  }
  return p;
}

Point View::convertFromWindow(Point p) const {
  Point zero = convertToWindow({0, 0});
  return {p.x - zero.x, p.y - zero.y};
}

Rect View::convertRectToWindow(Rect r) const { return {convertToWindow(r.origin), r.size}; }

bool View::endEditing(bool force) {
  auto* fr = dynamic_cast<View*>(firstResponder());
  if (!fr || !(fr == this || fr->isDescendantOf(this))) return true;
  if (fr->resignFirstResponder()) return true;
  if (force) clearFirstResponder(fr);
  return force;
}

bool View::isVisibleOnScreen() const {
  Window* w = window();
  if (!w) return false;
  for (const View* v = this; v; v = v->superview_) {
    if (v->hidden_ || v->alpha_ <= 0.01) return false;
    if (v->superview_ == w && w->isCovered(v)) return false;
  }
  return true;
}

bool View::pointInside(Point p) const { return bounds().contains(p); }

View* View::hitTest(Point p) {
  if (hidden_ || !interaction_ || alpha_ <= 0.01) return nullptr;
  if (!pointInside(p)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    View* s = it->get();
    Point q{p.x - s->frame_.x() + s->boundsOrigin_.x, p.y - s->frame_.y() + s->boundsOrigin_.y};
    if (View* hit = s->hitTest(q)) return hit;
  }
  return this;
}

void View::layoutIfNeeded() {
  if (needsLayout_ || layoutIsStale()) {
    if (controller_) controller_->viewWillLayoutSubviews();
    layoutSubviews();
    // Subviews added while laying out do not ask for another pass.
    needsLayout_ = false;
  }
  auto copy = subviews_;
  for (auto& s : copy) s->layoutIfNeeded();
}

void View::addGestureRecognizer(std::shared_ptr<GestureRecognizer> g) {
  if (!g) return;
  g->view_ = this;
  gestures_.push_back(std::move(g));
}

void View::removeGestureRecognizer(const GestureRecognizer* g) {
  for (auto it = gestures_.begin(); it != gestures_.end(); ++it)
    if (it->get() == g) {
      (*it)->view_ = nullptr;
      gestures_.erase(it);
      return;
    }
}

Responder* View::nextResponder() const {
  if (controller_) return controller_;
  return superview_;
}

std::string View::describe() const {
  std::string out;
  if (tag_ != 0) out += " tag=" + std::to_string(tag_);
  if (!accessibilityLabel_.empty()) out += " label=\"" + accessibilityLabel_ + "\"";
  if (alpha_ < 1) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " alpha=%.2f", alpha_);
    out += buf;
  }
  return out;
}

void View::animate(double duration, const std::function<void()>& changes,
                   const std::function<void(bool)>& completion) {
  AnimationLog::shared().record("animate", duration);
  if (changes) changes();
  if (completion) completion(true);
}

// ---- AnimationLog

AnimationLog& AnimationLog::shared() {
  static AnimationLog log;
  return log;
}

void AnimationLog::record(std::string kind, double duration, std::string subject) {
  records_.push_back({std::move(kind), duration, std::move(subject)});
}

}  // namespace ui
