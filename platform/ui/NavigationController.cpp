#include "platform/ui/NavigationController.h"

#include "platform/ui/Animation.h"
#include "platform/ui/Text.h"
#include "platform/ui/Button.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

// How far a navigation title may shrink to fit between the bar items.
constexpr double kTitleMinimumScale = 0.75;

class BarTitleLabel : public Label {
 public:
  const char* kind() const override { return "NavigationTitle"; }
};

}  // namespace

// ---- NavigationBar

Color NavigationBar::effectiveBackground() const {
  if (barTint_) return *barTint_;
  return Color::white(0.97);
}

bool NavigationBar::extendsUnderStatusBar() const {
  Window* w = window();
  return w && !w->statusBarHidden() && isVisibleOnScreen() &&
         convertToWindow({0, 0}).y == Window::kStatusBarHeight;
}

std::string NavigationBar::describe() const {
  std::string out;
  if (barTint_) out += " bar=" + barTint_->text();
  return out + View::describe();
}

bool NavigationBar::layoutIsStale() const { return owner_ && builtFor_ != owner_->barRevision() + revision_; }

void NavigationBar::layoutSubviews() {
  if (!owner_) return;
  builtFor_ = owner_->barRevision() + revision_;
  for (auto s : std::vector<std::shared_ptr<View>>(subviews())) s->removeFromSuperview();
  ViewController* top = owner_->topViewController();
  if (!top) return;
  NavigationItem& item = top->navigationItem();
  const double w = frame().width(), h = frame().height();
  std::vector<std::shared_ptr<View>> made;

  // Left side: the items, or the back button.
  double left = 8;
  if (!item.leftBarButtonItems().empty()) {
    layoutBarItems(*this, item.leftBarButtonItems(), 8, w / 2 - 40, made);
    for (auto& m : made) left = std::max(left, m->frame().maxX() + 8);
  } else if (owner_->viewControllers().size() > 1 && !item.hidesBackButton()) {
    ViewController* below = owner_->viewControllers()[owner_->viewControllers().size() - 2].get();
    std::string title = below->navigationItem().backTitle();
    if (title.empty()) title = below->navigationItem().title();
    if (title.empty() || title.size() > 12) title = "Back";
    auto back = Button::make("\u2039 " + title, {8, 0, 0, h});
    back->setAccessibilityLabel("Back");
    back->setContentAlignment(TextAlignment::Left);
    double bw = std::min(110.0, measureText(back->currentTitle(), back->titleFont()).width + 8);
    back->setFrame({8, 0, bw, h});
    NavigationController* nav = owner_;
    back->addTarget(this, [nav](Control&) { nav->popViewControllerAnimated(true); }, TouchUpInside);
    addSubview(back);
    left = back->frame().maxX() + 8;
  }
  // Right side, the first item rightmost.
  double right = w - 8;
  if (!item.rightBarButtonItems().empty()) {
    std::vector<std::shared_ptr<BarButtonItem>> reversed(item.rightBarButtonItems().rbegin(),
                                                         item.rightBarButtonItems().rend());
    std::vector<std::shared_ptr<View>> rmade;
    // Lay out from the right edge: measure first, then place.
    double total = 0;
    layoutBarItems(*this, reversed, 0, w, rmade);
    for (auto& m : rmade) total += m->frame().width() + 8;
    double x = w - 8 - total + 8;
    for (auto& m : rmade) {
      Rect f = m->frame();
      m->setFrame({x, f.y(), f.width(), f.height()});
      x += f.width() + 8;
    }
    right = w - 8 - total;
  }
  // Title in the middle.
  double side = std::max(left, w - right);
  if (auto tv = item.titleView()) {
    Rect f = tv->frame();
    tv->setFrame({(w - f.width()) / 2, (h - f.height()) / 2, f.width(), f.height()});
    addSubview(tv);
  } else if (!item.title().empty()) {
    auto title = std::make_shared<BarTitleLabel>();
    title->setText(item.title());
    title->setFont(titleFont_);
    title->setTextColor(titleColor_);
    title->setTextAlignment(TextAlignment::Center);
    // Centred on the bar when it fits there; otherwise moved off the centre only as far as
    // it must to fit between the sides. When the whole space between them is too narrow it
    // shrinks a little (fonts here run wider than the phone's), and only then is cut.
    title->setAdjustsFontSizeToFitWidth(true);
    title->setMinimumScaleFactor(kTitleMinimumScale);
    const double centred = std::max(0.0, w - 2 * side);
    const double needed = measureText(item.title(), titleFont_).width;
    if (needed <= centred) {
      title->setFrame({side, 0, centred, h});
    } else {
      const double width = std::min(needed, std::max(0.0, right - left));
      const double x = std::max(left, std::min((w - width) / 2, right - width));
      title->setFrame({x, 0, width, h});
    }
    addSubview(title);
  }
}

// ---- NavigationController

NavigationController::NavigationController() = default;

NavigationController::NavigationController(std::shared_ptr<ViewController> root) {
  if (root) {
    root->setParent(this);
    stack_.push_back(std::move(root));
  }
}

void NavigationController::loadView() {
  auto v = std::make_shared<View>(Rect{0, 0, Window::kScreenWidth, Window::kScreenHeight});
  v->setBackgroundColor(Color::whiteColor());
  v->setClipsToBounds(true);
  bar_ = std::make_shared<NavigationBar>();
  bar_->owner_ = this;
  v->addSubview(bar_);
  setView(v);
  placeTop();
}

NavigationBar& NavigationController::navigationBar() {
  viewPtr();
  return *bar_;
}

uint64_t NavigationController::barRevision() const {
  uint64_t r = stackRevision_ * 1000003ull;
  if (ViewController* top = topViewController()) {
    NavigationItem& item = top->navigationItem();
    r += item.revision();
    for (auto& i : item.leftBarButtonItems()) r += i->revision() * 31;
    for (auto& i : item.rightBarButtonItems()) r += i->revision() * 37;
  }
  return r;
}

Rect NavigationController::contentFrame() const {
  double top = 0;
  if (!barHidden_) top = Window::kStatusBarHeight + NavigationBar::kHeight;
  double h = isViewLoaded() ? const_cast<NavigationController*>(this)->view().frame().height() : Window::kScreenHeight;
  return {0, top, Window::kScreenWidth, std::max(0.0, h - top)};
}

void NavigationController::viewWillLayoutSubviews() { placeTop(); }

void NavigationController::placeTop() {
  if (!isViewLoaded()) return;
  bar_->setFrame({0, Window::kStatusBarHeight, view().frame().width(), NavigationBar::kHeight});
  bar_->setHidden(barHidden_);
  ViewController* top = topViewController();
  if (!top) return;
  auto tv = top->viewPtr();
  tv->setFrame(contentFrame());
  if (tv->superview() != &view()) view().insertSubviewBelow(tv, bar_.get());
}

ViewController* NavigationController::visibleViewController() {
  if (presentedViewController()) return presentedViewController()->visibleViewController();
  ViewController* top = topViewController();
  if (!top) return this;
  return top->visibleViewController();
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
  barHidden_ = hidden;
  ++stackRevision_;
  placeTop();
}

void NavigationController::transition(std::shared_ptr<ViewController> going, std::shared_ptr<ViewController> coming,
                                      bool animated, const char* kind) {
  ++stackRevision_;
  viewPtr();
  if (coming) coming->viewPtr();  // loads before the appearance calls
  const bool onScreen = isVisible();
  if (onScreen && going) going->beginAppearance(false, animated);
  if (onScreen && coming) coming->beginAppearance(true, animated);
  if (going && going->isViewLoaded() && going.get() != topViewController()) going->view().removeFromSuperview();
  placeTop();
  if (animated) AnimationLog::shared().record(kind, 0.35, coming ? coming->nibName() : std::string());
  if (onScreen && going) going->endAppearance();
  if (onScreen && coming) coming->endAppearance();
}

void NavigationController::pushViewController(std::shared_ptr<ViewController> vc, bool animated) {
  if (!vc || vc->parentViewController()) return;
  auto going = stack_.empty() ? nullptr : stack_.back();
  vc->setParent(this);
  stack_.push_back(vc);
  transition(going, vc, animated, "push");
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
  if (stack_.size() <= 1) return nullptr;
  auto going = stack_.back();
  stack_.pop_back();
  transition(going, stack_.back(), animated, "pop");
  going->setParent(nullptr);
  return going;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToViewController(const ViewController* vc,
                                                                                       bool animated) {
  std::vector<std::shared_ptr<ViewController>> popped;
  size_t i = 0;
  while (i < stack_.size() && stack_[i].get() != vc) ++i;
  if (i >= stack_.size() || i + 1 == stack_.size()) return popped;
  auto going = stack_.back();
  popped.assign(stack_.begin() + static_cast<std::ptrdiff_t>(i + 1), stack_.end());
  stack_.resize(i + 1);
  for (auto& p : popped)
    if (p != going && p->isViewLoaded()) p->view().removeFromSuperview();
  transition(going, stack_.back(), animated, "pop");
  for (auto& p : popped) p->setParent(nullptr);
  return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewControllerAnimated(bool animated) {
  if (stack_.empty()) return {};
  return popToViewController(stack_.front().get(), animated);
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> vcs, bool animated) {
  auto going = stack_.empty() ? nullptr : stack_.back();
  for (auto& old : stack_) {
    bool kept = false;
    for (auto& n : vcs) kept = kept || n == old;
    if (!kept) {
      if (old != going && old->isViewLoaded()) old->view().removeFromSuperview();
      old->setParent(nullptr);
    }
  }
  stack_ = std::move(vcs);
  for (auto& n : stack_) n->setParent(this);
  auto coming = stack_.empty() ? nullptr : stack_.back();
  if (going == coming) {
    ++stackRevision_;
    placeTop();
    return;
  }
  transition(going, coming, animated, "push");
}

}  // namespace ui
