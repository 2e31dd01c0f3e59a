#include "platform/ui/Gesture.h"

#include <cmath>

#include "platform/foundation/MainQueue.h"

namespace ui {
namespace {
// How long a single tap waits for a double tap that would take precedence.
constexpr auto kDoubleTapWait = std::chrono::milliseconds(350);
// A tap moves less than this.
constexpr double kTapSlop = 10;
}  // namespace

GestureRecognizer::GestureRecognizer(Action action) {
  if (action) actions_.push_back(std::move(action));
}

Point GestureRecognizer::locationInView(const View* v) const { return v ? v->convertFromWindow(last_) : last_; }

void GestureRecognizer::touchBegan(const Touch& t) {
  start_ = last_ = t.windowLocation;
  state_ = GestureState::Possible;
  recognizedInSequence_ = false;
}

void GestureRecognizer::touchMoved(const Touch& t) { last_ = t.windowLocation; }

void GestureRecognizer::touchEnded(const Touch& t) {
  last_ = t.windowLocation;
  if (state_ == GestureState::Possible) state_ = GestureState::Failed;
}

void GestureRecognizer::touchCancelled(const Touch& t) {
  last_ = t.windowLocation;
  state_ = GestureState::Cancelled;
}

void GestureRecognizer::fire(GestureState s) {
  state_ = s;
  if (s == GestureState::Ended || s == GestureState::Began) {
    ++recognitions_;
    recognizedInSequence_ = true;
  }
  if (s == GestureState::Began || s == GestureState::Changed || s == GestureState::Ended) {
    auto keep = shared_from_this();
    auto copy = actions_;
    for (auto& a : copy) a(*this);
  }
}

void TapGestureRecognizer::touchEnded(const Touch& t) {
  last_ = t.windowLocation;
  bool still = std::hypot(last_.x - start_.x, last_.y - start_.y) <= kTapSlop;
  if (!still || t.tapCount != numberOfTapsRequired()) {
    GestureRecognizer::touchEnded(t);
    return;
  }
  auto other = mustFail_.lock();
  if (!other) {
    fire(GestureState::Ended);
    return;
  }
  // Wait to see whether the other recognizer takes these taps.
  std::weak_ptr<TapGestureRecognizer> self = std::static_pointer_cast<TapGestureRecognizer>(shared_from_this());
  std::weak_ptr<GestureRecognizer> weakOther = other;
  uint64_t before = other->recognitionCount();
  recognizedInSequence_ = true;
  foundation::MainQueue::postAfter(kDoubleTapWait, [self, weakOther, before] {
    auto me = self.lock();
    auto o = weakOther.lock();
    if (!me || !me->view()) return;
    if (o && o->recognitionCount() != before) return;
    me->fire(GestureState::Ended);
  });
}

void SwipeGestureRecognizer::touchEnded(const Touch& t) {
  last_ = t.windowLocation;
  double dx = last_.x - start_.x, dy = last_.y - start_.y;
  int dir = 0;
  if (std::fabs(dx) >= kMinimumDistance && std::fabs(dx) > std::fabs(dy) * 2) dir = dx > 0 ? SwipeRight : SwipeLeft;
  if (std::fabs(dy) >= kMinimumDistance && std::fabs(dy) > std::fabs(dx) * 2) dir = dy > 0 ? SwipeDown : SwipeUp;
  if (dir & direction_)
    fire(GestureState::Ended);
  else
    GestureRecognizer::touchEnded(t);
}

void PinchGestureRecognizer::pinch(double scale) {
  if (!isEnabled()) return;
  scale_ = 1;
  velocity_ = 0;
  fire(GestureState::Began);
  velocity_ = scale - 1;
  scale_ = scale;
  fire(GestureState::Changed);
  fire(GestureState::Ended);
}

}  // namespace ui
