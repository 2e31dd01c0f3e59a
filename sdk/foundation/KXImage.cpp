#include "sdk/foundation/KXImage.h"

#include <algorithm>
#include <cmath>

namespace kestra {
namespace {

// Grey value of one source dot, composited over white.
double greyAt(const KXImage& img, int x, int y) {
  const size_t i = size_t(y) * size_t(img.width) + size_t(x);
  if (img.format == KXImage::Format::Grey8) return img.pixels[i];
  const uint8_t* p = &img.pixels[i * 4];
  // ITU-R BT.601 luma.
  const double luma = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
  const double a = p[3] / 255.0;
  return luma * a + 255.0 * (1.0 - a);
}

}  // namespace

std::vector<uint8_t> KXImage::renderGrey(int w, int h) const {
  if (!valid() || w <= 0 || h <= 0) return {};
  std::vector<uint8_t> out(size_t(w) * size_t(h));
  const double sx = double(width) / w;
  const double sy = double(height) / h;
  for (int ty = 0; ty < h; ++ty) {
    const double y0 = ty * sy, y1 = (ty + 1) * sy;
    for (int tx = 0; tx < w; ++tx) {
      const double x0 = tx * sx, x1 = (tx + 1) * sx;
      double sum = 0, area = 0;
      for (int y = int(y0); y < height && y < y1; ++y) {
        const double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        if (wy <= 0) continue;
        for (int x = int(x0); x < width && x < x1; ++x) {
          const double wx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
          if (wx <= 0) continue;
          sum += greyAt(*this, x, y) * wx * wy;
          area += wx * wy;
        }
      }
      out[size_t(ty) * size_t(w) + size_t(tx)] =
          uint8_t(std::clamp(area > 0 ? std::lround(sum / area) : 255L, 0L, 255L));
    }
  }
  return out;
}

}  // namespace kestra
