#include "app/core/ImageAdditions.h"

#include "app/core/DataAdditions.h"

namespace orvo {

std::string base64JpegString(const ui::Image& image, double quality) {
  const ui::ImageBytes jpeg = image.jpegData(quality);
  return DataAdditions::base64Encoding(foundation::Bytes(jpeg.begin(), jpeg.end()));
}

std::shared_ptr<ui::Image> imageFromBase64(std::string_view text) {
  const foundation::Bytes bytes = DataAdditions::dataFromBase64String(text);
  return ui::Image::fromData(ui::ImageBytes(bytes.begin(), bytes.end()));
}

std::shared_ptr<ui::Image> resizeImage(const ui::Image& image, int width, int height) {
  ui::ImageContext context({double(width), double(height)}, true, 1);
  context.drawImage(image, {0, 0, double(width), double(height)});
  return context.image();
}

}  // namespace orvo
