#include "platform/ui/Toolbar.h"

#include "platform/ui/Button.h"
#include "platform/ui/Text.h"

namespace ui {
namespace {

const char* systemTitle(BarButtonSystemItem s) {
  switch (s) {
    case BarButtonSystemItem::Done: return "Done";
    case BarButtonSystemItem::Cancel: return "Cancel";
    case BarButtonSystemItem::Edit: return "Edit";
    case BarButtonSystemItem::Save: return "Save";
    case BarButtonSystemItem::Add: return "+";
    case BarButtonSystemItem::Search: return "\U0001F50D";
    case BarButtonSystemItem::Refresh: return "\u21BB";
    case BarButtonSystemItem::Action: return "\u2197";
    case BarButtonSystemItem::Camera: return "Camera";
    case BarButtonSystemItem::Trash: return "Trash";
    default: return "";
  }
}

// The button a bar shows for an item.
class BarItemButton : public Button {
 public:
  const char* kind() const override { return "BarButton"; }
};

}  // namespace

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style, Action action) {
  auto i = std::make_shared<BarButtonItem>();
  i->title_ = std::move(title);
  i->style_ = style;
  i->action_ = std::move(action);
  return i;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(std::shared_ptr<Image> image, BarButtonItemStyle style,
                                                        Action action) {
  auto i = std::make_shared<BarButtonItem>();
  i->image_ = std::move(image);
  i->style_ = style;
  i->action_ = std::move(action);
  return i;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem item, Action action) {
  auto i = std::make_shared<BarButtonItem>();
  i->system_ = item;
  if (item == BarButtonSystemItem::Done) i->style_ = BarButtonItemStyle::Done;
  i->action_ = std::move(action);
  return i;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
  auto i = std::make_shared<BarButtonItem>();
  i->customView_ = std::move(view);
  return i;
}

std::string BarButtonItem::title() const {
  if (!title_.empty()) return title_;
  return systemTitle(system_);
}

void BarButtonItem::trigger() {
  if (enabled_ && action_) action_(*this);
}

void layoutBarItems(View& bar, const std::vector<std::shared_ptr<BarButtonItem>>& items, double left, double right,
                    std::vector<std::shared_ptr<View>>& made) {
  const double h = bar.frame().height();
  const double gap = 8;
  // Widths first; flexible spaces share what is left.
  std::vector<double> widths;
  double fixed = 0;
  int flexible = 0;
  for (auto& item : items) {
    double w = 0;
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace) {
      ++flexible;
    } else if (item->systemItem() == BarButtonSystemItem::FixedSpace) {
      w = item->width();
    } else if (auto cv = item->customView()) {
      w = cv->frame().width();
    } else if (item->image()) {
      w = item->width() > 0 ? item->width() : std::max(30.0, item->image()->size().width + 8);
    } else {
      Font f = item->style() == BarButtonItemStyle::Done ? Font::boldSystemFont(17) : Font::systemFont(17);
      w = item->width() > 0 ? item->width() : measureText(item->title(), f).width + 8;
    }
    widths.push_back(w);
    fixed += w;
  }
  double spare = std::max(0.0, (right - left) - fixed - gap * (items.empty() ? 0 : items.size() - 1));
  double x = left;
  for (size_t i = 0; i < items.size(); ++i) {
    auto& item = items[i];
    double w = widths[i];
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace) w = flexible ? spare / flexible : 0;
    if (item->systemItem() == BarButtonSystemItem::FlexibleSpace || item->systemItem() == BarButtonSystemItem::FixedSpace) {
      x += w + gap;
      continue;
    }
    std::shared_ptr<View> v;
    if (auto cv = item->customView()) {
      Rect f = cv->frame();
      cv->setFrame({x, (h - f.height()) / 2, f.width(), f.height()});
      v = cv;
    } else {
      auto b = std::make_shared<BarItemButton>();
      b->setTitle(item->image() ? std::string() : item->title());
      b->setImage(item->image());
      b->setAccessibilityLabel(item->title());
      b->setTag(item->tag());
      b->setEnabled(item->isEnabled());
      if (item->tintColor()) b->setTintColor(item->tintColor());
      if (item->style() == BarButtonItemStyle::Done) b->setTitleFont(Font::boldSystemFont(17));
      b->setFrame({x, 0, w, h});
      std::weak_ptr<BarButtonItem> weak = item;
      b->addTarget(&bar, [weak](Control&) {
        if (auto i = weak.lock()) i->trigger();
      }, TouchUpInside);
      v = b;
    }
    bar.addSubview(v);
    item->setBarView(v);
    made.push_back(v);
    x += w + gap;
  }
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool) {
  items_ = std::move(items);
  setNeedsLayout();
}

void Toolbar::layoutSubviews() {
  for (auto s : std::vector<std::shared_ptr<View>>(subviews())) s->removeFromSuperview();
  std::vector<std::shared_ptr<View>> made;
  layoutBarItems(*this, items_, 8, frame().width() - 8, made);
}

}  // namespace ui
