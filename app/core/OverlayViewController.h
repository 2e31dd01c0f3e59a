#pragma once
// A view laid over a list or the whole window to catch touches. The activity viewer lays
// it over the window with no owner, so it swallows every touch; the search screens lay it
// over their table with themselves as `viewController`, so that a touch outside the search
// bar ends the search. The owner creates, sizes, colours, adds and removes its view; this
// class is only the touch rule. Touches never reach what lies beneath. Main thread.

#include <memory>

#include "platform/ui/ViewController.h"

namespace orvo {

// The search screens that end their search when their overlay is touched. The screens
// implement the one of these that is theirs.
class CustomerSearchOverlayOwner {
 public:
  virtual ~CustomerSearchOverlayOwner() = default;
  virtual void delOv() = 0;
};
class StoreSearchOverlayOwner {
 public:
  virtual ~StoreSearchOverlayOwner() = default;
  virtual void doneSearching_Clicked(const void* sender) = 0;
};
class StyleInfoSearchOverlayOwner {
 public:
  virtual ~StyleInfoSearchOverlayOwner() = default;
  virtual void delOv() = 0;
};

class OverlayViewController : public ui::ViewController {
 public:
  OverlayViewController() : ui::ViewController("OverlayView") {}
  explicit OverlayViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  // The screen whose search a touch ends; held weakly (the screen owns its overlay).
  std::shared_ptr<ui::ViewController> viewController() const { return owner_.lock(); }
  void setViewController(const std::shared_ptr<ui::ViewController>& owner) { owner_ = owner; }

  // The first touch of a gesture: the customer screen's `delOv`, the store screen's
  // `doneSearching_Clicked` with no sender, or the style information list's `delOv`,
  // tested in that order; nothing for any other owner or none.
  void touchesBegan(const ui::Touches& touches) override;
  void touchesMoved(const ui::Touches&) override {}
  void touchesEnded(const ui::Touches&) override {}
  void touchesCancelled(const ui::Touches&) override {}

 private:
  std::weak_ptr<ui::ViewController> owner_;
};

}  // namespace orvo
