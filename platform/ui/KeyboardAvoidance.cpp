#include "platform/ui/KeyboardAvoidance.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/ScrollView.h"

namespace ui {

KeyboardAvoidance::KeyboardAvoidance(std::weak_ptr<ScrollView> scrollView) : scrollView_(std::move(scrollView)) {
  auto& center = foundation::NotificationCenter::defaultCenter();
  center.addObserver(this, kKeyboardWillShowNotification, nullptr,
                     [this](const foundation::Notification& n) { keyboardWillShow(n.userInfo); });
  center.addObserver(this, kKeyboardWillHideNotification, nullptr,
                     [this](const foundation::Notification&) { keyboardWillHide(); });
}

KeyboardAvoidance::~KeyboardAvoidance() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

void KeyboardAvoidance::setAdded(double added) {
  auto view = scrollView_.lock();
  if (!view) return;
  EdgeInsets inset = view->contentInset();
  inset.bottom += added - added_;
  added_ = added;
  view->setContentInset(inset);
}

void KeyboardAvoidance::keyboardWillShow(const nlohmann::json& userInfo) {
  auto view = scrollView_.lock();
  if (!view || !view->window()) return;
  const nlohmann::json& end = foundation::valueForKey(userInfo, kKeyboardFrameEndUserInfoKey);
  const double keyboardTop = foundation::doubleValue(foundation::valueForKey(end, "y"));
  const Rect inWindow = view->convertRectToWindow(view->bounds());
  setAdded(std::clamp(inWindow.maxY() - keyboardTop, 0.0, inWindow.height()));

  // The field being edited, when it is inside this scroll view, goes where it shows.
  auto* focused = dynamic_cast<View*>(Responder::firstResponder());
  if (!focused || !focused->isDescendantOf(view.get())) return;
  const Rect field = focused->convertRectToWindow(focused->bounds());
  const double shownBottom = std::min(inWindow.maxY(), keyboardTop);
  Point offset = view->contentOffset();
  if (field.maxY() > shownBottom) offset.y += field.maxY() - shownBottom;
  else if (field.minY() < inWindow.minY()) offset.y -= inWindow.minY() - field.minY();
  else return;
  offset.y = std::clamp(offset.y, view->minimumOffset().y, view->maximumOffset().y);
  view->setContentOffset(offset, false);
}

void KeyboardAvoidance::keyboardWillHide() {
  auto view = scrollView_.lock();
  if (!view) return;
  setAdded(0);
  Point offset = view->contentOffset();
  const double clamped = std::clamp(offset.y, view->minimumOffset().y, view->maximumOffset().y);
  if (clamped != offset.y) view->setContentOffset({offset.x, clamped}, false);
}

}  // namespace ui
