#pragma once
// Gesture recognizers: tap (any number of taps), swipe, pinch. The window feeds each touch
// sequence to the recognizers of the touched view and its ancestors; a recognizer calls
// its actions, in the order they were added, when it recognizes. A tap that must wait for
// another recognizer to fail (a single tap beside a double tap) fires once the double-tap
// interval has passed on the clock without the other one recognizing. Main thread.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

enum class GestureState { Possible, Began, Changed, Ended, Cancelled, Failed };

class GestureRecognizer : public std::enable_shared_from_this<GestureRecognizer> {
 public:
  using Action = std::function<void(GestureRecognizer&)>;
  explicit GestureRecognizer(Action action = nullptr);
  virtual ~GestureRecognizer() = default;
  virtual const char* kind() const = 0;

  void addTarget(Action action) { actions_.push_back(std::move(action)); }
  View* view() const { return view_; }
  GestureState state() const { return state_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  bool cancelsTouchesInView() const { return cancelsTouches_; }
  void setCancelsTouchesInView(bool c) { cancelsTouches_ = c; }
  Point locationInView(const View* v) const;
  // This recognizer fires only once `other` has failed to recognize the same touches.
  void requireGestureRecognizerToFail(std::shared_ptr<GestureRecognizer> other) { mustFail_ = other; }

  // Fed by the window.
  virtual void touchBegan(const Touch& t);
  virtual void touchMoved(const Touch& t);
  virtual void touchEnded(const Touch& t);
  virtual void touchCancelled(const Touch& t);
  // Whether it recognized during the touch sequence that just ended (the window then
  // cancels the touches of the view when `cancelsTouchesInView`).
  bool recognizedInSequence() const { return recognizedInSequence_; }
  // How many times it has recognized so far.
  uint64_t recognitionCount() const { return recognitions_; }

 protected:
  // Sets the state and, for Began/Changed/Ended, runs the actions.
  void fire(GestureState s);
  Point start_;
  Point last_;
  bool recognizedInSequence_ = false;
  uint64_t recognitions_ = 0;
  std::weak_ptr<GestureRecognizer> mustFail_;

 private:
  friend class View;
  View* view_ = nullptr;
  GestureState state_ = GestureState::Possible;
  bool enabled_ = true;
  bool cancelsTouches_ = true;
  std::vector<Action> actions_;
};

class TapGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  const char* kind() const override { return "Tap"; }
  int numberOfTapsRequired() const { return taps_; }
  void setNumberOfTapsRequired(int n) { taps_ = n; }
  void touchEnded(const Touch& t) override;

 private:
  int taps_ = 1;
};

enum SwipeDirection { SwipeRight = 1, SwipeLeft = 2, SwipeUp = 4, SwipeDown = 8 };

class SwipeGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  const char* kind() const override { return "Swipe"; }
  int direction() const { return direction_; }
  void setDirection(int d) { direction_ = d; }
  void touchEnded(const Touch& t) override;
  // The least travel that counts as a swipe.
  static constexpr double kMinimumDistance = 40;

 private:
  int direction_ = SwipeRight;
};

class PinchGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;
  const char* kind() const override { return "Pinch"; }
  double scale() const { return scale_; }
  void setScale(double s) { scale_ = s; }
  double velocity() const { return velocity_; }
  // A whole pinch to `scale` (the renderer's ctrl+wheel, the harness): began, changed, ended.
  void pinch(double scale);

 private:
  double scale_ = 1;
  double velocity_ = 0;
};

}  // namespace ui
