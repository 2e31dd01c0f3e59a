#pragma once
// A small raster image handed to the SDK by applications (printer and pinpad graphics):
// width and height in dots, 8-bit grey or 8-bit RGBA pixels, rows from the top. Stands in
// for the platform's image objects; a plain value, any thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestra {

struct KXImage {
  enum class Format { Grey8, RGBA8 };

  int width = 0;
  int height = 0;
  Format format = Format::Grey8;
  // width × height × (1 or 4) bytes, rows from the top. RGBA is not premultiplied.
  std::vector<uint8_t> pixels;

  static KXImage grey(int width, int height, uint8_t value) {
    return KXImage{width, height, Format::Grey8,
                   std::vector<uint8_t>(size_t(width > 0 ? width : 0) * size_t(height > 0 ? height : 0), value)};
  }

  bool valid() const {
    const size_t per = format == Format::RGBA8 ? 4 : 1;
    return width > 0 && height > 0 && pixels.size() >= size_t(width) * size_t(height) * per;
  }

  // The image scaled into `w` × `h` as 8-bit grey (0 black, 255 white), each target dot the
  // average of the source area it covers. Transparent areas are composited over white.
  // Empty when the image is not valid or the size is not positive.
  std::vector<uint8_t> renderGrey(int w, int h) const;
};

}  // namespace kestra
