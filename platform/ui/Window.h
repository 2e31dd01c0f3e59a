#pragma once
// The window: the phone's screen, 320 by 568 points. It holds, back to front: the root
// screen's view and the views of presented screens; views that the application adds to
// the window itself (overlays, spinners, countdown labels), which stay above every
// screen; the keyboard (or the first responder's input view and accessory bar); alert
// views; toasts.
//
// Input enters the model here: `sendTouch` (one finger, in window points) hit-tests,
// feeds gesture recognizers and hands a drag that starts inside a scroll view to it;
// `insertText`/`deleteBackward`/`pressReturn` go to the first responder; `shake` sends a
// motion event down the responder chain from the first responder, or, when there is none,
// from the screen on top. The renderer and the harness use only these.
// Main thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/View.h"

namespace ui {

class ViewController;
class TextInput;

class Window : public View {
 public:
  static constexpr double kScreenWidth = 320;
  static constexpr double kScreenHeight = 568;
  static constexpr double kStatusBarHeight = 20;
  static constexpr double kKeyboardHeight = 216;
  // Seconds of the keyboard's show and hide animation, given in the keyboard notifications.
  static constexpr double kKeyboardAnimationDuration = 0.25;

  Window();
  explicit Window(Rect frame);
  ~Window() override;
  const char* kind() const override { return "Window"; }

  // The window that input and alerts go to (the last one made key).
  static Window* keyWindow();
  void makeKeyAndVisible();
  bool isKeyWindow() const { return keyWindow() == this; }

  std::shared_ptr<ViewController> rootViewController() const { return root_; }
  // Replaces the root screen (the old one disappears, the new one appears when visible).
  void setRootViewController(std::shared_ptr<ViewController> vc);
  // The screen the user sees: the top of the presented chain, inside its containers.
  ViewController* topViewController() const;

  // Application overlays go above every screen, below the keyboard, alerts and toasts.
  void addSubview(std::shared_ptr<View> view) override;

  // Layers the window keeps on top.
  View& keyboardLayer() { return *keyboardLayer_; }
  View& alertLayer() { return *alertLayer_; }
  View& toastLayer() { return *toastLayer_; }
  // The keyboard or input view shown now (nullptr when none).
  View* keyboardView() const;
  bool isKeyboardVisible() const { return keyboardView() != nullptr; }

  // One-finger input in window points.
  void sendTouch(TouchPhase phase, Point location);
  // A whole tap at `location`: began then ended.
  void tap(Point location);
  // A whole drag from `from` to `to` in `steps` moves.
  void drag(Point from, Point to, int steps = 5);
  void insertText(const std::string& text);
  void deleteBackward();
  void pressReturn();
  void shake();
  TextInput* activeTextInput() const;

  // Called by Responder when the first responder changes: shows or hides the keyboard and
  // posts the keyboard notifications.
  void firstResponderChanged();
  // Called by screens when a presentation adds a screen view (above the other screens,
  // below the application's overlays).
  void attachScreenView(std::shared_ptr<View> view, const View* above);
  // Screen views, back to front.
  std::vector<View*> screenViews() const;
  // Whether `view` (a direct subview) is a screen view hidden by a full-screen
  // presentation above it.
  bool isCovered(const View* view) const;

  bool statusBarHidden() const;
  // What shows behind the status bar: the background of the front-most opaque view under
  // its middle (a navigation bar right below it reaches up behind it), else the window's.
  Color statusBarBackdrop() const;
  // The style the status bar is drawn in, so that its text reads on the backdrop: light
  // text on a dark backdrop, dark text on a light one; on a mid-tone the application's
  // style decides.
  StatusBarStyle effectiveStatusBarStyle() const;

  void layoutSubviews() override;
  View* hitTest(Point p) override;
  // The end of the responder chain: a shake nobody took goes to the application delegate.
  void motionEnded(MotionType motion) override;

 private:
  void ensureLayers();
  void updateKeyboard();

  std::shared_ptr<ViewController> root_;
  bool visible_ = false;
  std::vector<std::weak_ptr<View>> screens_;
  std::shared_ptr<View> keyboardLayer_, alertLayer_, toastLayer_;
  std::shared_ptr<View> systemKeyboard_;
  View* shownKeyboard_ = nullptr;
  const Responder* shownFor_ = nullptr;  // compared only, never used

  // The current touch sequence.
  struct Sequence {
    std::weak_ptr<View> view;
    std::vector<std::weak_ptr<GestureRecognizer>> gestures;
    std::weak_ptr<View> scroller;  // the scroll view that took the drag
    Point start;
    Point last;
    bool scrolling = false;
    bool cancelled = false;
  };
  std::optional<Sequence> seq_;
  Point lastTapPoint_;
  int64_t lastTapTicks_ = 0;
  int tapCount_ = 0;
};

}  // namespace ui
