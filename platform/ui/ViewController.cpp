#include "platform/ui/ViewController.h"

#include "platform/ui/Animation.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

bool coversScreen(ModalPresentationStyle s) {
  return s == ModalPresentationStyle::FullScreen || s == ModalPresentationStyle::PageSheet ||
         s == ModalPresentationStyle::FormSheet;
}

const char* transitionKind(ModalTransitionStyle s) {
  switch (s) {
    case ModalTransitionStyle::FlipHorizontal: return "flip";
    case ModalTransitionStyle::CrossDissolve: return "dissolve";
    case ModalTransitionStyle::PartialCurl: return "curl";
    case ModalTransitionStyle::CoverVertical: break;
  }
  return "cover";
}

}  // namespace

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool) {
  left_.clear();
  if (item) left_.push_back(std::move(item));
  changed();
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool) {
  right_.clear();
  if (item) right_.push_back(std::move(item));
  changed();
}

ViewController::~ViewController() {
  if (view_ && view_->controller_ == this) view_->controller_ = nullptr;
  for (auto& c : children_) c->parent_ = nullptr;
  if (presented_) presented_->presenting_ = nullptr;
}

View& ViewController::view() { return *viewPtr(); }

std::shared_ptr<View> ViewController::viewPtr() {
  if (!view_) {
    loadView();
    if (!view_) view_ = std::make_shared<View>(Rect{0, 0, Window::kScreenWidth, Window::kScreenHeight});
    view_->controller_ = this;
    viewDidLoad();
  }
  return view_;
}

void ViewController::loadView() {
  view_ = std::make_shared<View>(Rect{0, 0, Window::kScreenWidth, Window::kScreenHeight});
  view_->setBackgroundColor(Color::whiteColor());
}

void ViewController::setTitle(std::string t) {
  title_ = t;
  navigationItem_.setTitle(std::move(t));
}

NavigationController* ViewController::navigationController() const {
  for (ViewController* p = parent_; p; p = p->parent_)
    if (auto* nav = dynamic_cast<NavigationController*>(p)) return nav;
  return nullptr;
}

void ViewController::addChildViewController(std::shared_ptr<ViewController> child) {
  if (!child || child->parent_ == this) return;
  child->removeFromParentViewController();
  child->parent_ = this;
  children_.push_back(std::move(child));
}

void ViewController::removeFromParentViewController() {
  if (!parent_) return;
  auto& c = parent_->children_;
  for (auto it = c.begin(); it != c.end(); ++it)
    if (it->get() == this) {
      auto keep = *it;
      c.erase(it);
      parent_ = nullptr;
      return;
    }
  parent_ = nullptr;
}

ViewController* ViewController::outermost() {
  ViewController* v = this;
  while (v->parent_) v = v->parent_;
  return v;
}

ViewController* ViewController::presentingViewController() const {
  for (const ViewController* v = this; v; v = v->parent_)
    if (v->presenting_) return v->presenting_;
  return nullptr;
}

ViewController* ViewController::visibleViewController() {
  if (presented_) return presented_->visibleViewController();
  return this;
}

Rect ViewController::presentedFrame() const { return {0, 0, Window::kScreenWidth, Window::kScreenHeight}; }

Responder* ViewController::nextResponder() const {
  if (view_ && view_->superview()) return view_->superview();
  return parent_;
}

void ViewController::beginAppearance(bool appearing, bool animated) {
  if (appearing) {
    if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) return;
    viewPtr();
    appearance_ = Appearance::Appearing;
    appearanceAnimated_ = animated;
    viewWillAppear(animated);
  } else {
    if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared) return;
    appearance_ = Appearance::Disappearing;
    appearanceAnimated_ = animated;
    viewWillDisappear(animated);
  }
  if (ViewController* c = appearanceChild()) c->beginAppearance(appearing, animated);
}

void ViewController::endAppearance() {
  if (appearance_ == Appearance::Appearing) {
    appearance_ = Appearance::Appeared;
    viewDidAppear(appearanceAnimated_);
  } else if (appearance_ == Appearance::Disappearing) {
    appearance_ = Appearance::Disappeared;
    viewDidDisappear(appearanceAnimated_);
  }
  if (ViewController* c = appearanceChild()) c->endAppearance();
}

bool ViewController::presentViewController(std::shared_ptr<ViewController> vc, bool animated,
                                           std::function<void()> completion) {
  ViewController* host = outermost();
  if (host != this) return host->presentViewController(std::move(vc), animated, std::move(completion));
  if (!vc || vc.get() == this || presented_ || vc->presenting_ || vc->parent_) return false;
  Window* window = view_ ? view_->window() : nullptr;
  if (!window) return false;  // a screen that is not on screen cannot present
  auto keepSelf = shared_from_this();
  presented_ = vc;
  vc->presenting_ = this;
  vc->beingPresented_ = true;
  auto pv = vc->viewPtr();
  pv->setFrame(vc->presentedFrame());
  const bool covers = coversScreen(vc->presentationStyle_);
  if (covers) beginAppearance(false, animated);
  vc->beginAppearance(true, animated);
  window->attachScreenView(pv, view_.get());
  if (animated)
    AnimationLog::shared().record(std::string("present-") + transitionKind(vc->transitionStyle_), 0.3,
                                  vc->nibName_.empty() ? vc->title_ : vc->nibName_);
  if (covers) endAppearance();
  vc->endAppearance();
  vc->beingPresented_ = false;
  if (completion) completion();
  return true;
}

void ViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
  ViewController* host = outermost();
  if (host != this) return host->dismissViewControllerAnimated(animated, std::move(completion));
  if (presented_) return dismissPresented(animated, std::move(completion));
  if (presenting_) return presenting_->dismissPresented(animated, std::move(completion));
}

void ViewController::dismissPresented(bool animated, std::function<void()> completion) {
  if (!presented_) return;
  auto keepSelf = shared_from_this();
  std::vector<std::shared_ptr<ViewController>> chain;
  for (auto p = presented_; p; p = p->presented_) chain.push_back(p);
  const bool uncover = coversScreen(chain.front()->presentationStyle_);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    (*it)->beingDismissed_ = true;
    (*it)->beginAppearance(false, animated);
  }
  if (uncover) beginAppearance(true, animated);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if ((*it)->view_) (*it)->view_->removeFromSuperview();
    (*it)->presenting_ = nullptr;
    (*it)->presented_ = nullptr;
  }
  presented_ = nullptr;
  if (animated)
    AnimationLog::shared().record(std::string("dismiss-") + transitionKind(chain.front()->transitionStyle_), 0.3,
                                  chain.front()->nibName_.empty() ? chain.front()->title_ : chain.front()->nibName_);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    (*it)->endAppearance();
    (*it)->beingDismissed_ = false;
  }
  if (uncover) endAppearance();
  if (completion) completion();
}

ViewControllerRegistry& ViewControllerRegistry::shared() {
  static ViewControllerRegistry r;
  return r;
}

void ViewControllerRegistry::add(const std::string& name, Factory factory) { factories_[name] = std::move(factory); }

bool ViewControllerRegistry::contains(const std::string& name) const { return factories_.count(name) != 0; }

std::shared_ptr<ViewController> ViewControllerRegistry::make(const std::string& name) const {
  auto it = factories_.find(name);
  if (it == factories_.end()) return nullptr;
  return it->second();
}

}  // namespace ui
