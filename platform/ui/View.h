#pragma once
// The view tree of the screen model: rectangles with colour, alpha, tag and subviews,
// hit testing, layout, touches and the responder chain. A view is owned by its superview
// (views are always made with std::make_shared); a view keeps a plain pointer back to its
// superview. Screens and the renderer use the tree on the main thread only.
//
// Kinds: every view class answers `kind()` ("Label", "Button", ...). The renderer paints
// by kind and the harness dumps the tree with it; screens never need it.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

class View;
class ViewController;
class Window;
class GestureRecognizer;

enum class TouchPhase { Began, Moved, Ended, Cancelled };

// One finger. Locations are in window coordinates; `locationIn` converts.
struct Touch {
  Point windowLocation;
  TouchPhase phase = TouchPhase::Began;
  int tapCount = 1;
  Point locationIn(const View* view) const;
};
using Touches = std::vector<Touch>;

enum class MotionType { None, Shake };

// The responder chain: first responder, touches and motion events. A responder's default
// handling passes the event to `nextResponder()`.
class Responder : public std::enable_shared_from_this<Responder> {
 public:
  virtual ~Responder();

  virtual Responder* nextResponder() const { return nullptr; }
  virtual bool canBecomeFirstResponder() const { return false; }
  // Makes this the one first responder (the one before is asked to resign first; when
  // it refuses, nothing changes and this returns false).
  virtual bool becomeFirstResponder();
  virtual bool resignFirstResponder();
  bool isFirstResponder() const;
  static Responder* firstResponder();

  virtual void touchesBegan(const Touches& touches);
  virtual void touchesMoved(const Touches& touches);
  virtual void touchesEnded(const Touches& touches);
  virtual void touchesCancelled(const Touches& touches);
  virtual void motionBegan(MotionType motion);
  virtual void motionEnded(MotionType motion);

  // The keyboard replacement and the bar above it while this is first responder.
  virtual std::shared_ptr<View> inputView() const { return nullptr; }
  virtual std::shared_ptr<View> inputAccessoryView() const { return nullptr; }

 protected:
  // Clears the first responder without asking (used when a responder leaves the screen).
  static void clearFirstResponder(const Responder* r);
};

// How a view follows its superview's size (the platform's autoresizing mask): the flexible
// parts of each axis (margins, size) share the change in proportion to their sizes.
enum AutoresizingMask : unsigned {
  AutoresizingNone = 0,
  FlexibleLeftMargin = 1 << 0,
  FlexibleWidth = 1 << 1,
  FlexibleRightMargin = 1 << 2,
  FlexibleTopMargin = 1 << 3,
  FlexibleHeight = 1 << 4,
  FlexibleBottomMargin = 1 << 5,
};

class View : public Responder {
 public:
  View();
  explicit View(Rect frame);
  ~View() override;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  virtual const char* kind() const { return "View"; }

  Rect frame() const { return frame_; }
  virtual void setFrame(Rect frame);
  // The view's own coordinates: origin is (0, 0) except in scroll views, where it is the
  // content offset.
  Rect bounds() const { return {boundsOrigin_, frame_.size}; }
  Point center() const { return frame_.center(); }
  void setCenter(Point c);

  std::optional<Color> backgroundColor() const { return background_; }
  void setBackgroundColor(std::optional<Color> c) { background_ = c; }
  bool isHidden() const { return hidden_; }
  void setHidden(bool h) { hidden_ = h; }
  double alpha() const { return alpha_; }
  void setAlpha(double a) { alpha_ = a; }
  int tag() const { return tag_; }
  void setTag(int t) { tag_ = t; }
  bool isUserInteractionEnabled() const { return interaction_; }
  void setUserInteractionEnabled(bool e) { interaction_ = e; }
  bool clipsToBounds() const { return clips_; }
  void setClipsToBounds(bool c) { clips_ = c; }
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string l) { accessibilityLabel_ = std::move(l); }
  // The tint that buttons and bar items inherit (nullopt: the superview's).
  std::optional<Color> tintColor() const;
  void setTintColor(std::optional<Color> c) { tint_ = c; }
  // Layer look: rounded corners and a border.
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double r) { cornerRadius_ = r; }
  double borderWidth() const { return borderWidth_; }
  Color borderColor() const { return borderColor_; }
  void setBorder(double width, Color color) { borderWidth_ = width; borderColor_ = color; }

  // Subviews, back to front.
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  View* superview() const { return superview_; }
  virtual void addSubview(std::shared_ptr<View> view);
  void insertSubview(std::shared_ptr<View> view, size_t index);
  void insertSubviewAbove(std::shared_ptr<View> view, const View* sibling);
  void insertSubviewBelow(std::shared_ptr<View> view, const View* sibling);
  void removeFromSuperview();
  void bringSubviewToFront(const View* view);
  void sendSubviewToBack(const View* view);
  // This view or the first descendant (depth first) with `tag`.
  View* viewWithTag(int tag);
  bool isDescendantOf(const View* ancestor) const;
  Window* window() const;
  std::shared_ptr<View> sharedView() { return std::static_pointer_cast<View>(shared_from_this()); }

  Point convertToWindow(Point p) const;
  Point convertFromWindow(Point p) const;
  Rect convertRectToWindow(Rect r) const;
  // Makes the first responder resign when it is this view or inside it (always, when
  // `force`; otherwise it may refuse). Returns whether no responder inside is left.
  bool endEditing(bool force);
  // Visible on screen: in a window, and neither it nor an ancestor hidden or transparent.
  bool isVisibleOnScreen() const;

  // The deepest view under `p` (in this view's bounds coordinates) that takes touches.
  virtual View* hitTest(Point p);
  virtual bool pointInside(Point p) const;

  void setNeedsLayout() { needsLayout_ = true; }
  // Lays out this view and its subviews (the renderer and the harness call it on the
  // window before painting or hit testing).
  void layoutIfNeeded();
  virtual void layoutSubviews() {}
  // Views whose layout depends on state outside them (bars showing items) answer true
  // when that state moved since their last layout.
  virtual bool layoutIsStale() const { return false; }
  // Called whenever the frame's size changed.
  virtual void sizeChanged() {}

  // Autoresizing: when this view's size changes, subviews follow their masks (when
  // `autoresizesSubviews`, the default).
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool a) { autoresizesSubviews_ = a; }
  // Called after every change of the frame (position or size), with the frame before it, so
  // that a screen can lay out a plain view's children without subclassing it.
  using FrameChangeHandler = std::function<void(View& view, Rect oldFrame)>;
  void setFrameChangeHandler(FrameChangeHandler handler) { frameChanged_ = std::move(handler); }

  void addGestureRecognizer(std::shared_ptr<GestureRecognizer> g);
  void removeGestureRecognizer(const GestureRecognizer* g);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return gestures_; }

  // The view controller whose root view this is (the responder chain goes through it).
  ViewController* viewController() const { return controller_; }
  Responder* nextResponder() const override;

  // For dumps: attributes after the kind, such as ` "Login" tag=3`. Subclasses add theirs.
  virtual std::string describe() const;
  // The texts this view shows (labels, titles, field text); the harness finds by them.
  virtual std::vector<std::string> texts() const { return {}; }

  // Runs `changes` now, records the animation (see Animation.h) and calls `completion`
  // with true, after the changes.
  static void animate(double duration, const std::function<void()>& changes,
                      const std::function<void(bool)>& completion = nullptr);

 protected:
  virtual void didMoveToWindow() {}
  Point boundsOrigin_;

 private:
  friend class ViewController;
  void notifyMovedToWindow();

  Rect frame_;
  std::optional<Color> background_;
  std::optional<Color> tint_;
  bool hidden_ = false;
  double alpha_ = 1;
  int tag_ = 0;
  bool interaction_ = true;
  bool clips_ = false;
  bool needsLayout_ = true;
  unsigned autoresizingMask_ = AutoresizingNone;
  bool autoresizesSubviews_ = true;
  FrameChangeHandler frameChanged_;
  double cornerRadius_ = 0;
  double borderWidth_ = 0;
  Color borderColor_ = Color::black();
  std::string accessibilityLabel_;
  std::vector<std::shared_ptr<View>> subviews_;
  View* superview_ = nullptr;
  ViewController* controller_ = nullptr;
  std::vector<std::shared_ptr<GestureRecognizer>> gestures_;
};

// `std::make_shared<T>(args...)` with a frame set, the common way to make a view.
template <class T, class... Args>
std::shared_ptr<T> makeView(Rect frame, Args&&... args) {
  auto v = std::make_shared<T>(std::forward<Args>(args)...);
  v->setFrame(frame);
  return v;
}

}  // namespace ui
