#include "platform/ui/Toast.h"

#include <chrono>

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
constexpr double kPadding = 10;

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
  toast->setCornerRadius(10);
  double x = kPadding, y = kPadding, width = 0;
  if (image) {
    auto iv = std::make_shared<ImageView>(image);
    iv->setFrame({kPadding, kPadding, 40, 40});
    iv->setContentMode(ContentMode::ScaleAspectFit);
    toast->addSubview(iv);
    x += 50;
  }
  const double textWidth = kMaxWidth - x - kPadding;
  if (!title.empty()) {
    auto l = std::make_shared<Label>(title);
    l->setFont(style.titleFont);
    l->setTextColor(style.titleColor);
    l->setNumberOfLines(0);
    Size s = measureText(title, style.titleFont, textWidth);
    l->setFrame({x, y, s.width, s.height});
    toast->addSubview(l);
    y += s.height + 4;
    width = std::max(width, s.width);
  }
  if (!message.empty()) {
    auto l = std::make_shared<Label>(message);
    l->setFont(style.messageFont);
    l->setTextColor(style.messageColor);
    l->setNumberOfLines(0);
    Size s = measureText(message, style.messageFont, textWidth);
    l->setFrame({x, y, s.width, s.height});
    toast->addSubview(l);
    y += s.height;
    width = std::max(width, s.width);
  }
  Size size{x + width + kPadding, std::max(y + kPadding, image ? 60.0 : 0.0)};
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
