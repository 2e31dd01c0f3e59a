#pragma once
// A scroll view: its bounds origin is the content offset, so subviews placed in content
// coordinates move as it scrolls. A drag that starts inside it scrolls it (the window
// hands it the touch once the finger moved), clamped to the content, snapping to pages
// when paging is on; the delegate hears every offset change and the end of deceleration.
// Zoom scales the view returned by `viewForZoomingInScrollView`. Main thread.

#include <memory>

#include "platform/ui/View.h"

namespace ui {

class ScrollView;

class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(ScrollView&) {}
  virtual void scrollViewWillBeginDragging(ScrollView&) {}
  virtual void scrollViewDidEndDragging(ScrollView&, bool willDecelerate) { (void)willDecelerate; }
  virtual void scrollViewDidEndDecelerating(ScrollView&) {}
  virtual void scrollViewDidEndScrollingAnimation(ScrollView&) {}
  virtual View* viewForZoomingInScrollView(ScrollView&) { return nullptr; }
  virtual void scrollViewDidZoom(ScrollView&) {}
  virtual void scrollViewDidEndZooming(ScrollView&, View*, double scale) { (void)scale; }
};

class ScrollView : public View {
 public:
  const char* kind() const override { return "ScrollView"; }

  Size contentSize() const { return contentSize_; }
  void setContentSize(Size s) { contentSize_ = s; }
  Point contentOffset() const { return boundsOrigin_; }
  // Sets the offset as given (no clamping, as from code on the platform).
  void setContentOffset(Point p, bool animated = false);
  EdgeInsets contentInset() const { return inset_; }
  void setContentInset(EdgeInsets i) { inset_ = i; }
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool e) { scrollEnabled_ = e; }
  bool isPagingEnabled() const { return paging_; }
  void setPagingEnabled(bool p) { paging_ = p; }
  bool bounces() const { return bounces_; }
  void setBounces(bool b) { bounces_ = b; }
  bool showsHorizontalScrollIndicator() const { return showsH_; }
  void setShowsHorizontalScrollIndicator(bool s) { showsH_ = s; }
  bool showsVerticalScrollIndicator() const { return showsV_; }
  void setShowsVerticalScrollIndicator(bool s) { showsV_ = s; }
  double minimumZoomScale() const { return minZoom_; }
  void setMinimumZoomScale(double z) { minZoom_ = z; }
  double maximumZoomScale() const { return maxZoom_; }
  void setMaximumZoomScale(double z) { maxZoom_ = z; }
  double zoomScale() const { return zoom_; }
  void setZoomScale(double scale, bool animated = false);
  // Zooms so that `rect` (in the zoomed view's unscaled coordinates) fills the bounds.
  void zoomToRect(Rect rect, bool animated);
  void scrollRectToVisible(Rect rect, bool animated);

  std::weak_ptr<ScrollViewDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<ScrollViewDelegate> d) { delegate_ = std::move(d); }

  // Scrolling by the user (the window calls these for a drag it handed over).
  void beginDrag();
  void dragBy(double dx, double dy);
  void endDrag();
  // The offsets a user may reach.
  Point minimumOffset() const;
  Point maximumOffset() const;

  std::string describe() const override;

 protected:
  virtual void offsetChanged() {}
  // The user pulled the content this far down past its top during the drag that ended.
  virtual void pulledDown(double distance) { (void)distance; }
  ScrollViewDelegate* scrollDelegate() const { return delegate_.lock().get(); }

 private:
  void applyZoom(double scale);
  Size contentSize_;
  EdgeInsets inset_;
  bool scrollEnabled_ = true;
  bool paging_ = false;
  bool bounces_ = true;
  bool showsH_ = true, showsV_ = true;
  double minZoom_ = 1, maxZoom_ = 1, zoom_ = 1;
  Size zoomBase_;
  double pull_ = 0;
  std::weak_ptr<ScrollViewDelegate> delegate_;
};

}  // namespace ui
