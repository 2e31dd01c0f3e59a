#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/ui/Animation.h"

namespace ui {

void ScrollView::setContentOffset(Point p, bool animated) {
  if (animated) AnimationLog::shared().record("scroll", 0.3, kind());
  if (p == boundsOrigin_) return;
  boundsOrigin_ = p;
  offsetChanged();
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock()) {
    d->scrollViewDidScroll(*this);
    if (animated) d->scrollViewDidEndScrollingAnimation(*this);
  }
}

Point ScrollView::minimumOffset() const { return {-inset_.left, -inset_.top}; }

Point ScrollView::maximumOffset() const {
  Point lo = minimumOffset();
  return {std::max(lo.x, contentSize_.width + inset_.right - frame().width()),
          std::max(lo.y, contentSize_.height + inset_.bottom - frame().height())};
}

void ScrollView::beginDrag() {
  pull_ = 0;
  if (auto d = delegate_.lock()) d->scrollViewWillBeginDragging(*this);
}

void ScrollView::dragBy(double dx, double dy) {
  Point lo = minimumOffset(), hi = maximumOffset();
  double wantY = boundsOrigin_.y - dy;
  // How far the finger pulls down past the top (the content itself stays at the top).
  if (bounces_ && dy > 0 && wantY < lo.y)
    pull_ += std::min(dy, lo.y - wantY);
  else if (dy < 0 && pull_ > 0)
    pull_ = std::max(0.0, pull_ + dy);
  Point p{std::clamp(boundsOrigin_.x - dx, lo.x, hi.x), std::clamp(wantY, lo.y, hi.y)};
  setContentOffset(p, false);
}

void ScrollView::endDrag() {
  if (paging_ && frame().width() > 0 && frame().height() > 0) {
    Point lo = minimumOffset(), hi = maximumOffset();
    double px = std::round(boundsOrigin_.x / frame().width()) * frame().width();
    double py = std::round(boundsOrigin_.y / frame().height()) * frame().height();
    setContentOffset({std::clamp(px, lo.x, hi.x), std::clamp(py, lo.y, hi.y)}, false);
  }
  auto keep = weak_from_this().lock();
  if (pull_ > 0) pulledDown(pull_);
  pull_ = 0;
  if (auto d = delegate_.lock()) {
    d->scrollViewDidEndDragging(*this, true);
    d->scrollViewDidEndDecelerating(*this);
  }
}

void ScrollView::applyZoom(double scale) {
  auto d = delegate_.lock();
  View* target = d ? d->viewForZoomingInScrollView(*this) : nullptr;
  scale = std::clamp(scale, minZoom_, maxZoom_);
  if (target) {
    if (zoom_ == 1 || zoomBase_.width == 0) zoomBase_ = {target->frame().width() / zoom_, target->frame().height() / zoom_};
    Rect f = target->frame();
    target->setFrame({f.x(), f.y(), zoomBase_.width * scale, zoomBase_.height * scale});
    contentSize_ = {zoomBase_.width * scale, zoomBase_.height * scale};
  }
  zoom_ = scale;
  if (d) d->scrollViewDidZoom(*this);
}

void ScrollView::setZoomScale(double scale, bool animated) {
  if (animated) AnimationLog::shared().record("zoom", 0.3, kind());
  applyZoom(scale);
  auto d = delegate_.lock();
  if (d) d->scrollViewDidEndZooming(*this, d->viewForZoomingInScrollView(*this), zoom_);
}

void ScrollView::zoomToRect(Rect rect, bool animated) {
  if (rect.isEmpty()) return;
  double scale = std::min(frame().width() / rect.width(), frame().height() / rect.height());
  setZoomScale(scale, animated);
  Point lo = minimumOffset(), hi = maximumOffset();
  setContentOffset({std::clamp(rect.x() * zoom_, lo.x, hi.x), std::clamp(rect.y() * zoom_, lo.y, hi.y)}, animated);
}

void ScrollView::scrollRectToVisible(Rect rect, bool animated) {
  Point o = boundsOrigin_;
  if (rect.maxY() > o.y + frame().height()) o.y = rect.maxY() - frame().height();
  if (rect.minY() < o.y) o.y = rect.minY();
  if (rect.maxX() > o.x + frame().width()) o.x = rect.maxX() - frame().width();
  if (rect.minX() < o.x) o.x = rect.minX();
  Point lo = minimumOffset(), hi = maximumOffset();
  setContentOffset({std::clamp(o.x, lo.x, hi.x), std::clamp(o.y, lo.y, hi.y)}, animated);
}

std::string ScrollView::describe() const {
  std::string out;
  if (boundsOrigin_.x != 0 || boundsOrigin_.y != 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " offset=%g,%g", boundsOrigin_.x, boundsOrigin_.y);
    out += buf;
  }
  return out + View::describe();
}

}  // namespace ui
