#pragma once
// Bar button items (navigation bars and toolbars): a title, an image or a custom view,
// or one of the system items, with one action. Bars make buttons from them; a change to
// an item shows the next time its bar is laid out. Main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

enum class BarButtonSystemItem { None, Done, Cancel, Edit, Save, Add, FlexibleSpace, FixedSpace, Search, Refresh, Action, Camera, Trash };
enum class BarButtonItemStyle { Plain, Bordered, Done };

class BarButtonItem {
 public:
  using Action = std::function<void(BarButtonItem&)>;

  BarButtonItem() = default;
  static std::shared_ptr<BarButtonItem> withTitle(std::string title, BarButtonItemStyle style, Action action);
  static std::shared_ptr<BarButtonItem> withImage(std::shared_ptr<Image> image, BarButtonItemStyle style, Action action);
  static std::shared_ptr<BarButtonItem> withSystemItem(BarButtonSystemItem item, Action action = nullptr);
  // A custom view (for example a button with an image and a frame). Its own targets act.
  static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);

  // The title shown: the given one, or the system item's ("Done", "Cancel", ...).
  std::string title() const;
  void setTitle(std::string t) { title_ = std::move(t); ++revision_; }
  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> i) { image_ = std::move(i); ++revision_; }
  BarButtonSystemItem systemItem() const { return system_; }
  BarButtonItemStyle style() const { return style_; }
  void setStyle(BarButtonItemStyle s) { style_ = s; ++revision_; }
  std::shared_ptr<View> customView() const { return customView_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; ++revision_; }
  std::optional<Color> tintColor() const { return tint_; }
  void setTintColor(std::optional<Color> c) { tint_ = c; ++revision_; }
  // For fixed space; 0 otherwise means "as wide as the content".
  double width() const { return width_; }
  void setWidth(double w) { width_ = w; ++revision_; }
  int tag() const { return tag_; }
  void setTag(int t) { tag_ = t; }
  void setAction(Action a) { action_ = std::move(a); }
  // What a tap on the item does: its action, when enabled.
  void trigger();
  // The view a bar shows for the item now (its button or custom view), nullptr before a
  // bar has laid it out or after that view went. Tests tap it like a finger.
  View* barView() const { return view_.lock().get(); }
  void setBarView(const std::shared_ptr<View>& v) { view_ = v; }
  uint64_t revision() const { return revision_; }

 private:
  std::string title_;
  std::shared_ptr<Image> image_;
  BarButtonSystemItem system_ = BarButtonSystemItem::None;
  BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
  std::shared_ptr<View> customView_;
  bool enabled_ = true;
  std::optional<Color> tint_;
  double width_ = 0;
  int tag_ = 0;
  Action action_;
  std::weak_ptr<View> view_;
  uint64_t revision_ = 1;
};

}  // namespace ui
