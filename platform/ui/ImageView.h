#pragma once
// An image view: shows an image by content mode. Taps reach it only when user
// interaction is enabled (off by default, as on the platform). Main thread.

#include <functional>
#include <memory>
#include <string>

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
  // Loading by address. The application installs the loader (HTTP with a cache); it calls
  // `done` on the main queue with the image or nullptr. Without a loader the placeholder
  // stays and the completion gets nullptr. A later address (a reused cell) wins over an
  // earlier one still loading; an empty address only drops the one loading.
  using Completion = std::function<void(std::shared_ptr<Image>)>;
  using ImageLoader = std::function<void(const std::string& url, Completion done)>;
  static void setImageLoader(ImageLoader loader);
  void setImageWithURL(const std::string& url, std::shared_ptr<Image> placeholder = nullptr,
                       Completion completion = nullptr);
  const std::string& imageURL() const { return url_; }

  // Where the image lands in bounds coordinates under the content mode.
  Rect imageRect() const;
  std::string describe() const override;

 private:
  std::shared_ptr<Image> image_;
  ContentMode mode_ = ContentMode::ScaleToFill;
  std::string url_;
};

}  // namespace ui
