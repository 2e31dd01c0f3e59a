#include "platform/ui/ImagePickerController.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

std::shared_ptr<ImagePickerSource>& imageSource() {
  static std::shared_ptr<ImagePickerSource> s;
  return s;
}

constexpr double kThumb = 75, kGap = 4;

}  // namespace

ImagePickerController::ImagePickerController() : ViewController("ImagePickerController") {
  setModalPresentationStyle(ModalPresentationStyle::FullScreen);
}

bool ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType type) {
  return imageSource() && imageSource()->isAvailable(type);
}

void ImagePickerController::setImageSource(std::shared_ptr<ImagePickerSource> s) { imageSource() = std::move(s); }

void ImagePickerController::offer() {
  offered_.clear();
  auto s = imageSource();
  const bool images = std::find(mediaTypes_.begin(), mediaTypes_.end(), kMediaTypeImage) != mediaTypes_.end();
  if (!s || !images || source_ == ImagePickerSourceType::Camera || !s->isAvailable(source_)) return;
  for (auto& img : s->images(source_))
    if (img) offered_.push_back(img);
}

void ImagePickerController::loadView() {
  offer();
  auto v = std::make_shared<View>(Rect{0, 0, Window::kScreenWidth, Window::kScreenHeight});
  v->setBackgroundColor(Color::whiteColor());
  std::weak_ptr<ImagePickerController> weak = self<ImagePickerController>();
  auto bar = makeView<Toolbar>(Rect{0, Window::kStatusBarHeight, Window::kScreenWidth, Toolbar::kHeight});
  bar->setItems({BarButtonItem::withSystemItem(BarButtonSystemItem::FlexibleSpace),
                 BarButtonItem::withSystemItem(BarButtonSystemItem::Cancel, [weak](BarButtonItem&) {
                   if (auto me = weak.lock()) me->userCancel();
                 })});
  v->addSubview(bar);
  const double top = Window::kStatusBarHeight + Toolbar::kHeight;
  if (source_ == ImagePickerSourceType::Camera) {
    v->setBackgroundColor(Color::black());
    auto shutter = Button::make("Take Photo", {60, Window::kScreenHeight - 90, 200, 50});
    shutter->setTitleColor(Color::whiteColor());
    shutter->addTarget(this, [weak](Control&) {
      if (auto me = weak.lock()) me->userTakePhoto();
    }, TouchUpInside);
    shutter->setEnabled(isSourceTypeAvailable(ImagePickerSourceType::Camera));
    v->addSubview(shutter);
  } else {
    auto grid = makeView<ScrollView>(Rect{0, top, Window::kScreenWidth, Window::kScreenHeight - top});
    const int perRow = static_cast<int>((Window::kScreenWidth - kGap) / (kThumb + kGap));
    for (size_t i = 0; i < offered_.size(); ++i) {
      const double x = kGap + static_cast<double>(static_cast<int>(i) % perRow) * (kThumb + kGap);
      const double y = kGap + static_cast<double>(static_cast<int>(i) / perRow) * (kThumb + kGap);
      auto b = std::make_shared<Button>(ButtonType::Custom);
      b->setFrame({x, y, kThumb, kThumb});
      b->setImage(offered_[i]);
      b->setAccessibilityLabel("Photo " + std::to_string(i + 1));
      b->addTarget(this, [weak, i](Control&) {
        if (auto me = weak.lock()) me->userPickImage(i);
      }, TouchUpInside);
      grid->addSubview(b);
    }
    const double rows = std::ceil(static_cast<double>(offered_.size()) / perRow);
    grid->setContentSize({Window::kScreenWidth, kGap + rows * (kThumb + kGap)});
    v->addSubview(grid);
  }
  setView(v);
}

bool ImagePickerController::userPickImage(size_t index) {
  if (finished_ || index >= offered_.size()) return false;
  finished_ = true;
  auto keep = self<ImagePickerController>();
  if (auto d = delegate_.lock()) d->didFinishPickingMediaWithInfo(*this, {kMediaTypeImage, offered_[index]});
  return true;
}

bool ImagePickerController::userTakePhoto() {
  if (finished_ || source_ != ImagePickerSourceType::Camera || !isSourceTypeAvailable(source_)) return false;
  auto photo = imageSource()->takePhoto();
  if (!photo) return false;
  offered_ = {photo};
  return userPickImage(0);
}

void ImagePickerController::userCancel() {
  if (finished_) return;
  finished_ = true;
  auto keep = self<ImagePickerController>();
  if (auto d = delegate_.lock()) d->imagePickerControllerDidCancel(*this);
}

}  // namespace ui
