#include "platform/ui/Toast.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/foundation/MainQueue.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

class ToastView : public View {
 public:
  const char* kind() const override { return "Toast"; }
  const View* owner = nullptr;
  bool activity = false;
};

constexpr double kMaxWidth = 260;

Rect placeIn(const View& view, Size size, ToastPosition position) {
  Rect f = view.convertRectToWindow(view.bounds());
  f.origin = view.convertToWindow({view.bounds().x(), view.bounds().y()});
  double x = f.midX() - size.width / 2;
  double y = f.midY() - size.height / 2;
  if (position == ToastPosition::Top) y = f.minY() + 10 + (f.minY() < Window::kStatusBarHeight ? Window::kStatusBarHeight : 0);
  if (position == ToastPosition::Bottom) y = f.maxY() - size.height - 10;
  return {x, y, size.width, size.height};
}

View* layerOf(View& view) {
  Window* w = view.window();
  if (!w) w = Window::keyWindow();
  return w ? &w->toastLayer() : nullptr;
}

}  // namespace

std::shared_ptr<View> makeToast(View& view, const std::string& message, double duration, ToastPosition position,
                                const std::string& title, std::shared_ptr<Image> image, const ToastStyle& style) {
  View* layer = layerOf(view);
  auto toast = std::make_shared<ToastView>();
  toast->owner = &view;
  toast->setBackgroundColor(style.background);
  toast->setCornerRadius(style.cornerRadius);
  const double padX = std::max(0.0, style.horizontalPadding), padY = std::max(0.0, style.verticalPadding);
  double x = padX, y = padY, width = 0;
  double imageBottom = 0;
  if (image) {
    const Size box{std::max(0.0, style.imageSize.width), std::max(0.0, style.imageSize.height)};
    auto iv = std::make_shared<ImageView>(image);
    iv->setFrame({padX, padY, box.width, box.height});
    iv->setContentMode(ContentMode::ScaleAspectFit);
    toast->addSubview(iv);
    x += box.width + padX;
    imageBottom = padY + box.height;
  }
  const double textWidth = std::max(1.0, kMaxWidth - x - padX);
  std::vector<std::shared_ptr<Label>> labels;
  auto addText = [&](const std::string& text, const Font& font, Color color, TextAlignment alignment) {
    auto l = std::make_shared<Label>(text);
    l->setFont(font);
    l->setTextColor(color);
    l->setTextAlignment(alignment);
    l->setNumberOfLines(0);
    Size s = measureText(text, font, textWidth);
    l->setFrame({x, y, s.width, s.height});
    toast->addSubview(l);
    labels.push_back(l);
    width = std::max(width, s.width);
    return s.height;
  };
  if (!title.empty()) y += addText(title, style.titleFont, style.titleColor, style.titleAlignment) + 4;
  if (!message.empty()) y += addText(message, style.messageFont, style.messageColor, style.messageAlignment);
  // Every text spans the widest one, so that its alignment has room to act.
  for (auto& l : labels) l->setFrame({l->frame().x(), l->frame().y(), width, l->frame().height()});
  Size size{x + width + padX, std::max(y, imageBottom) + padY};
  toast->setFrame(placeIn(view, size, position));
  if (!layer) return toast;
  layer->addSubview(toast);
  std::weak_ptr<View> weak = toast;
  auto ms = std::chrono::milliseconds(static_cast<int64_t>(duration * 1000));
  foundation::MainQueue::postAfter(ms, [weak] {
    if (auto t = weak.lock()) t->removeFromSuperview();
  });
  return toast;
}

void makeToastActivity(View& view, ToastPosition position) {
  View* layer = layerOf(view);
  if (!layer) return;
  for (auto& s : layer->subviews())
    if (auto* t = dynamic_cast<ToastView*>(s.get()); t && t->activity && t->owner == &view) return;
  auto toast = std::make_shared<ToastView>();
  toast->owner = &view;
  toast->activity = true;
  toast->setBackgroundColor(Color::black().withAlpha(0.8));
  toast->setCornerRadius(10);
  toast->setFrame(placeIn(view, {100, 100}, position));
  auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::WhiteLarge);
  spinner->setCenter({50, 50});
  spinner->startAnimating();
  toast->addSubview(spinner);
  layer->addSubview(toast);
}

void hideToastActivity(View& view) {
  View* layer = layerOf(view);
  if (!layer) return;
  auto subs = layer->subviews();
  for (auto& s : subs)
    if (auto* t = dynamic_cast<ToastView*>(s.get()); t && t->activity && t->owner == &view) s->removeFromSuperview();
}

void hideAllToasts(View& view) {
  View* layer = layerOf(view);
  if (!layer) return;
  auto subs = layer->subviews();
  for (auto& s : subs) s->removeFromSuperview();
}

}  // namespace ui
