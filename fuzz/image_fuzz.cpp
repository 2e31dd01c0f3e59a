// Feeds arbitrary bytes to the image decoders (PNG through libpng, JPEG through libjpeg).
// Bytes that are not a valid image give nothing; an image that decodes has exactly its
// pixels' bytes, and encodes and decodes again to the same size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ui/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ui::ImageBytes bytes(data, data + size);
  auto image = ui::Image::fromData(bytes);
  if (!image) return 0;
  const int w = image->pixelWidth(), h = image->pixelHeight();
  if (w <= 0 || h <= 0 || image->rgba().size() != size_t(w) * size_t(h) * 4) std::abort();
  (void)image->pixelAt(w - 1, h - 1);
  // Re-encoding is only worth its time for small images.
  if (size_t(w) * size_t(h) <= 4096) {
    auto png = ui::Image::fromData(image->pngData());
    if (!png || png->pixelWidth() != w || png->pixelHeight() != h || png->rgba() != image->rgba())
      std::abort();
  }
  return 0;
}
