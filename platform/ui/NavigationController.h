#pragma once
// A stack of screens under a navigation bar. Push and pop call the appearance methods of
// the screen going and the screen coming (ViewController.h gives the order); the bar shows
// the top screen's navigation item, with a back button titled after the screen below
// unless the item hides it or has a left item. Main thread.

#include <memory>
#include <vector>

#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace ui {

class NavigationBar : public View {
 public:
  static constexpr double kHeight = 44;
  const char* kind() const override { return "NavigationBar"; }

  std::optional<Color> barTintColor() const { return barTint_; }
  void setBarTintColor(std::optional<Color> c) { barTint_ = c; }
  bool isTranslucent() const { return translucent_; }
  void setTranslucent(bool t) { translucent_ = t; }
  Color titleColor() const { return titleColor_; }
  Font titleFont() const { return titleFont_; }
  // The title text attributes (colour and font).
  void setTitleTextAttributes(Color color, Font font) { titleColor_ = color; titleFont_ = font; ++revision_; }
  // The bar's look: the bar tint, or the default light grey.
  Color effectiveBackground() const;
  // Whether the bar's background reaches up behind the status bar: the bar sits right
  // below it, at the top of a window that shows it.
  bool extendsUnderStatusBar() const;
  void layoutSubviews() override;
  bool layoutIsStale() const override;
  std::string describe() const override;

 private:
  friend class NavigationController;
  NavigationController* owner_ = nullptr;
  std::optional<Color> barTint_;
  bool translucent_ = true;
  Color titleColor_ = Color::black();
  Font titleFont_ = Font::boldSystemFont(17);
  uint64_t revision_ = 0;
  uint64_t builtFor_ = ~0ull;
};

class NavigationController : public ViewController {
 public:
  NavigationController();
  explicit NavigationController(std::shared_ptr<ViewController> root);

  void loadView() override;

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> vcs, bool animated = false);
  ViewController* topViewController() const { return stack_.empty() ? nullptr : stack_.back().get(); }
  ViewController* visibleViewController() override;

  void pushViewController(std::shared_ptr<ViewController> vc, bool animated);
  // Returns the screen popped (nullptr at the root).
  std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToRootViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToViewController(const ViewController* vc, bool animated);

  NavigationBar& navigationBar();
  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);
  // Bumped whenever the stack or a navigation item may have changed; the bar rebuilds on it.
  uint64_t barRevision() const;

  ViewController* appearanceChild() const override { return topViewController(); }

  // The frame of the content below the bar.
  Rect contentFrame() const;
  void viewWillLayoutSubviews() override;

 private:
  void transition(std::shared_ptr<ViewController> going, std::shared_ptr<ViewController> coming,
                  bool animated, const char* kind);
  void placeTop();
  std::vector<std::shared_ptr<ViewController>> stack_;
  std::shared_ptr<NavigationBar> bar_;
  bool barHidden_ = false;
  uint64_t stackRevision_ = 1;
};

}  // namespace ui
