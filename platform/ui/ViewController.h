#pragma once
// A screen: owns a root view (made on first use by `loadView`, then `viewDidLoad`), a
// title and a navigation item, and receives the appearance calls in the platform's order.
// For every transition (push, pop, present, dismiss, a new root) the screen going away and
// the screen coming in are called:
//   going.viewWillDisappear, coming.viewWillAppear, going.viewDidDisappear, coming.viewDidAppear
// Dismissing a full-screen modal calls the uncovered screen's viewWillAppear and
// viewDidAppear (through its containers to the visible child). Presentations over the full
// screen (alerts) leave the screen beneath appearing, so it gets no calls. Transitions take
// no time: animations are recorded (Animation.h) and completions run before the call
// returns.
//
// Screens are made by interface-file name through `ViewControllerRegistry`, are owned by
// std::shared_ptr (their container, their presenter, the window), and run on the main
// thread only.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"

namespace ui {

class NavigationController;

enum class ModalPresentationStyle { FullScreen, PageSheet, FormSheet, OverFullScreen, OverCurrentContext };
enum class ModalTransitionStyle { CoverVertical, FlipHorizontal, CrossDissolve, PartialCurl };
enum class InterfaceOrientationMask { Portrait, LandscapeLeft, LandscapeRight, Landscape, All, AllButUpsideDown };

// The bar contents a screen shows while it is the top of a navigation controller.
class NavigationItem {
 public:
  const std::string& title() const { return title_; }
  void setTitle(std::string t) { title_ = std::move(t); changed(); }
  std::shared_ptr<View> titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<View> v) { titleView_ = std::move(v); changed(); }
  std::shared_ptr<BarButtonItem> leftBarButtonItem() const { return left_.empty() ? nullptr : left_.front(); }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  const std::vector<std::shared_ptr<BarButtonItem>>& leftBarButtonItems() const { return left_; }
  void setLeftBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items) { left_ = std::move(items); changed(); }
  std::shared_ptr<BarButtonItem> rightBarButtonItem() const { return right_.empty() ? nullptr : right_.front(); }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  // The first item is the rightmost, as on the platform.
  const std::vector<std::shared_ptr<BarButtonItem>>& rightBarButtonItems() const { return right_; }
  void setRightBarButtonItems(std::vector<std::shared_ptr<BarButtonItem>> items) { right_ = std::move(items); changed(); }
  bool hidesBackButton() const { return hidesBack_; }
  void setHidesBackButton(bool h, bool animated = false) { (void)animated; hidesBack_ = h; changed(); }
  // The title of the back button that leads back to this screen (empty: the title).
  const std::string& backTitle() const { return backTitle_; }
  void setBackTitle(std::string t) { backTitle_ = std::move(t); changed(); }
  uint64_t revision() const { return revision_; }

 private:
  void changed() { ++revision_; }
  std::string title_;
  std::shared_ptr<View> titleView_;
  std::vector<std::shared_ptr<BarButtonItem>> left_;
  std::vector<std::shared_ptr<BarButtonItem>> right_;
  bool hidesBack_ = false;
  std::string backTitle_;
  uint64_t revision_ = 1;
};

class ViewController : public Responder {
 public:
  ViewController() = default;
  explicit ViewController(std::string nibName) : nibName_(std::move(nibName)) {}
  ~ViewController() override;
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  const std::string& nibName() const { return nibName_; }
  // The root view, loaded on first use.
  View& view();
  std::shared_ptr<View> viewPtr();
  bool isViewLoaded() const { return view_ != nullptr; }

  // Life cycle. Subclasses override; the base versions do nothing.
  // `loadView` makes a plain white view the size of the screen; override to build another.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) { (void)animated; }
  virtual void viewDidAppear(bool animated) { (void)animated; }
  virtual void viewWillDisappear(bool animated) { (void)animated; }
  virtual void viewDidDisappear(bool animated) { (void)animated; }
  // The root view's size changed or it needs laying out.
  virtual void viewWillLayoutSubviews() {}

  const std::string& title() const { return title_; }
  // Also the navigation item's title.
  void setTitle(std::string t);
  NavigationItem& navigationItem() { return navigationItem_; }

  NavigationController* navigationController() const;
  ViewController* parentViewController() const { return parent_; }
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return children_; }
  void addChildViewController(std::shared_ptr<ViewController> child);
  void removeFromParentViewController();

  // Modal presentation. A screen inside a container presents from its outermost container.
  // A screen that already presents another refuses (the call does nothing, as on the
  // platform, and returns false).
  bool presentViewController(std::shared_ptr<ViewController> vc, bool animated,
                             std::function<void()> completion = nullptr);
  // Called on the presenter: dismisses what it presents (and whatever that presents).
  // Called on a presented screen (or a child of one) that presents nothing: dismisses it.
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion = nullptr);
  ViewController* presentingViewController() const;
  ViewController* presentedViewController() const { return presented_.get(); }
  ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
  void setModalPresentationStyle(ModalPresentationStyle s) { presentationStyle_ = s; }
  ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
  void setModalTransitionStyle(ModalTransitionStyle s) { transitionStyle_ = s; }
  bool isBeingPresented() const { return beingPresented_; }
  bool isBeingDismissed() const { return beingDismissed_; }
  // Between viewWillAppear and viewWillDisappear.
  bool isVisible() const { return appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared; }

  bool prefersStatusBarHidden() const { return statusBarHidden_; }
  void setPrefersStatusBarHidden(bool h) { statusBarHidden_ = h; }
  InterfaceOrientationMask supportedInterfaceOrientations() const { return orientations_; }
  void setSupportedInterfaceOrientations(InterfaceOrientationMask m) { orientations_ = m; }

  Responder* nextResponder() const override;
  // Screens that want shake events say so and become first responder.
  bool canBecomeFirstResponder() const override { return wantsFirstResponder_; }
  void setCanBecomeFirstResponder(bool c) { wantsFirstResponder_ = c; }

  // This screen as a shared pointer of a type it derives from (a delegate interface, for
  // example), for handing to weakly held delegate slots.
  template <class T>
  std::shared_ptr<T> self() {
    return std::dynamic_pointer_cast<T>(shared_from_this());
  }

  // Appearance forwarding, used by containers and the window. `beginAppearance(true)`
  // calls viewWillAppear (once per transition), `endAppearance` the matching did-call.
  void beginAppearance(bool appearing, bool animated);
  void endAppearance();
  // The child that receives this container's appearance calls (none by default).
  virtual ViewController* appearanceChild() const { return nullptr; }
  // The screen the user sees inside this one (the top of a navigation stack, itself otherwise).
  virtual ViewController* visibleViewController();

 protected:
  // For `loadView` overrides: installs the root view.
  void setView(std::shared_ptr<View> v) { view_ = std::move(v); }
  // Called by the presentation machinery; the frame a presented view gets.
  virtual Rect presentedFrame() const;

 private:
  enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
  friend class Window;
  friend class NavigationController;
  void setParent(ViewController* p) { parent_ = p; }
  ViewController* outermost();
  void dismissPresented(bool animated, std::function<void()> completion);

  std::string nibName_;
  std::string title_;
  NavigationItem navigationItem_;
  std::shared_ptr<View> view_;
  ViewController* parent_ = nullptr;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::shared_ptr<ViewController> presented_;
  ViewController* presenting_ = nullptr;
  ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::FullScreen;
  ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
  InterfaceOrientationMask orientations_ = InterfaceOrientationMask::Portrait;
  bool statusBarHidden_ = false;
  bool beingPresented_ = false;
  bool beingDismissed_ = false;
  bool wantsFirstResponder_ = false;
  bool appearanceAnimated_ = false;
  Appearance appearance_ = Appearance::Disappeared;
};

// Makes screens by interface-file name ("OverlayView", "CcSignatureViewController").
class ViewControllerRegistry {
 public:
  using Factory = std::function<std::shared_ptr<ViewController>()>;
  static ViewControllerRegistry& shared();
  void add(const std::string& name, Factory factory);
  template <class T>
  void add(const std::string& name) {
    add(name, [name] { return std::make_shared<T>(name); });
  }
  bool contains(const std::string& name) const;
  // nullptr when no factory has that name.
  std::shared_ptr<ViewController> make(const std::string& name) const;

 private:
  std::map<std::string, Factory> factories_;
};

// `ViewControllerRegistry::shared().make(name)` cast to T (nullptr when it is not a T).
template <class T = ViewController>
std::shared_ptr<T> viewControllerFromInterface(const std::string& name) {
  return std::dynamic_pointer_cast<T>(ViewControllerRegistry::shared().make(name));
}

}  // namespace ui
