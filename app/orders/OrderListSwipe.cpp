// The item list's picture button: a swipe from left to right on a line shows the front
// picture of the line's style and colour as a button; its tap opens the picture slider.
// The button is made when the swipe begins, and its picture is found and loaded off the
// main thread (it shows an empty icon of the same size until then), so rows cost nothing
// until swiped and a slow picture server never holds the screen.
#include <nlohmann/json.hpp>

#include "app/orders/ImageViewClass.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/ImageView.h"

namespace orvo {
namespace {

constexpr double kIconHeight = 75;
constexpr double kPadding = 5;

}  // namespace

void OrderListViewController::willBeginSwipe(ui::TableView&, ui::TableViewCell& cell, ui::IndexPath ip, int direction) {
  if (direction != ui::SwipeRight) return;
  const auto line = getItemInfoByIndex(ip.row, ip.section, false);
  if (!line) {
    cell.leftButtons.clear();
    return;
  }
  const std::string style = cart::field(*line, "Style"), color = cart::field(*line, "Color");
  std::weak_ptr<OrderListViewController> weak = self<OrderListViewController>();
  auto blank = ui::Image::filled({kIconHeight, kIconHeight}, ui::Color::darkGray());
  auto button = ui::SwipeButton::make("", blank, ui::Color::darkGray(), kPadding, [weak, style, color](ui::TableViewCell&) {
    if (auto self = weak.lock()) ImageViewClass::showImageSlider(*self, style, color);
    return true;
  });
  button->setAccessibilityLabel("Picture");
  cell.leftButtons = {button};

  std::weak_ptr<ui::SwipeButton> weakButton = button;
  ImageViewClass::getProductImageUrlString(style, color, false, false, [weakButton](std::optional<std::string> url) {
    if (!url || weakButton.expired()) return;
    auto loader = std::make_shared<ui::ImageView>();
    loader->setImageWithURL(*url, nullptr, [weakButton, loader](std::shared_ptr<ui::Image> image) {
      auto b = weakButton.lock();
      if (!b || !image || image->size().height <= 0) return;
      const ui::Size size{kIconHeight * image->size().width / image->size().height, kIconHeight};
      b->setImage(ImageViewClass::imageWithImage(*image, size));
      if (auto* cell = dynamic_cast<ui::TableViewCell*>(b->superview())) cell->setNeedsLayout();
    });
  });
}

}  // namespace orvo
