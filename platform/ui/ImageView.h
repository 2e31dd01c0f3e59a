#pragma once
// An image view: shows an image by content mode. Taps reach it only when user
// interaction is enabled (off by default, as on the platform). Main thread.

#include <memory>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Center, TopLeft };

class ImageView : public View {
 public:
  ImageView() { setUserInteractionEnabled(false); }
  explicit ImageView(std::shared_ptr<Image> image) : ImageView() { image_ = std::move(image); }
  const char* kind() const override { return "ImageView"; }
  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> i) { image_ = std::move(i); }
  ContentMode contentMode() const { return mode_; }
  void setContentMode(ContentMode m) { mode_ = m; }
  // Where the image lands in bounds coordinates under the content mode.
  Rect imageRect() const;
  std::string describe() const override;

 private:
  std::shared_ptr<Image> image_;
  ContentMode mode_ = ContentMode::ScaleToFill;
};

}  // namespace ui
