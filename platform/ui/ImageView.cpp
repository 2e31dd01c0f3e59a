#include "platform/ui/ImageView.h"

#include <algorithm>

namespace ui {
namespace {
ImageView::ImageLoader& loader() {
  static ImageView::ImageLoader l;
  return l;
}
}  // namespace

void ImageView::setImageLoader(ImageLoader l) { loader() = std::move(l); }

void ImageView::setImageWithURL(const std::string& url, std::shared_ptr<Image> placeholder, Completion completion) {
  url_ = url;
  image_ = std::move(placeholder);
  if (!loader() || url.empty()) {
    if (completion) completion(nullptr);
    return;
  }
  std::weak_ptr<ImageView> self = std::static_pointer_cast<ImageView>(shared_from_this());
  loader()(url, [self, url, completion](std::shared_ptr<Image> img) {
    auto me = self.lock();
    if (!me || me->url_ != url) return;
    if (img) me->image_ = img;
    if (completion) completion(img);
  });
}

Rect ImageView::imageRect() const {
  Rect b{0, 0, frame().width(), frame().height()};
  if (!image_) return {};
  Size s = image_->size();
  if (s.width <= 0 || s.height <= 0) return {};
  switch (mode_) {
    case ContentMode::ScaleToFill: return b;
    case ContentMode::ScaleAspectFit:
    case ContentMode::ScaleAspectFill: {
      double kx = b.width() / s.width, ky = b.height() / s.height;
      double k = mode_ == ContentMode::ScaleAspectFit ? std::min(kx, ky) : std::max(kx, ky);
      double w = s.width * k, h = s.height * k;
      return {(b.width() - w) / 2, (b.height() - h) / 2, w, h};
    }
    case ContentMode::Center: return {(b.width() - s.width) / 2, (b.height() - s.height) / 2, s.width, s.height};
    case ContentMode::TopLeft: return {0, 0, s.width, s.height};
  }
  return b;
}

std::string ImageView::describe() const {
  std::string out;
  if (image_) {
    out += " image=" + (image_->name().empty() ? std::to_string(image_->pixelWidth()) + "x" + std::to_string(image_->pixelHeight())
                                               : image_->name());
  }
  return out + View::describe();
}

}  // namespace ui
