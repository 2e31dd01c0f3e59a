#pragma once
// Pictures as the server takes and gives them: JPEG bytes at a quality, in Base64 text
// (signatures, business-card photos), and back. Stateless; any thread.

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/Image.h"

namespace orvo {

// The picture as JPEG at `quality` (0..1), in Base64 on one line.
std::string base64JpegString(const ui::Image& image, double quality);
// The picture in Base64 text (JPEG or PNG, decoded as leniently as other Base64 text);
// nullptr when the bytes are not a picture.
std::shared_ptr<ui::Image> imageFromBase64(std::string_view text);

// A new opaque picture of exactly `width` x `height` pixels at scale 1, into which `image`
// is drawn stretched over the whole area (its aspect ratio is not kept).
std::shared_ptr<ui::Image> resizeImage(const ui::Image& image, int width, int height);

}  // namespace orvo
