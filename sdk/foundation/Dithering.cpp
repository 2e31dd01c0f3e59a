#include "sdk/foundation/Dithering.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace kestra {
namespace {

struct Placement {
  int width = 0;   // W
  int height = 0;  // H
  int offset = 0;
  int rowBytes = 0;  // R
};

std::optional<Placement> place(const KXImage& image, int alignment, int maxWidth) {
  Placement p;
  p.width = std::min(image.width, maxWidth);
  p.height = image.height;
  if (p.width <= 0 || p.height <= 0 || !image.valid()) return std::nullopt;
  if (alignment == 1)
    p.offset = (maxWidth - p.width) / 2;
  else if (alignment == 2)
    p.offset = maxWidth - p.width;
  // offset + W is at most the maximum width; rows wider than an int can count are refused.
  const int64_t rowBytes = (int64_t(p.offset) + p.width + 7) / 8;
  if (rowBytes > std::numeric_limits<int>::max() / 8) return std::nullopt;
  p.rowBytes = int(rowBytes);
  return p;
}

}  // namespace

std::optional<foundation::Bytes> getDitheredData(const KXImage& image, int alignment,
                                                 int maxWidth, int* rowLength) {
  const auto pl = place(image, alignment, maxWidth);
  if (!pl) return std::nullopt;
  const int W = pl->width, H = pl->height;
  const std::vector<uint8_t> grey = image.renderGrey(W, H);
  if (grey.empty()) return std::nullopt;

  // Working raster of signed values with one spare row of zeros below the image, so that
  // accumulated errors may leave 0..255 without wrapping.
  std::vector<int16_t> work(size_t(W) * size_t(H + 1), 0);
  std::copy(grey.begin(), grey.end(), work.begin());
  auto at = [&](int x, int y) -> int16_t& { return work[size_t(y) * size_t(W) + size_t(x)]; };

  for (int y = 0; y < H; ++y) {
    for (int x = 1; x <= W - 3; ++x) {
      const int p = at(x, y);
      int e;
      if (p <= 128) {
        at(x, y) = 0;
        e = p;
      } else {
        at(x, y) = 255;
        e = p - 255;
      }
      at(x + 1, y) = int16_t(at(x + 1, y) + ((e * 7) >> 4));
      at(x - 1, y + 1) = int16_t(at(x - 1, y + 1) + ((e * 3) >> 4));
      at(x, y + 1) = int16_t(at(x, y + 1) + ((e * 5) >> 4));
      at(x + 1, y + 1) = int16_t(at(x + 1, y + 1) + ((e * 1) >> 4));
    }
  }

  const size_t rowDots = size_t(pl->rowBytes) * 8;
  foundation::Bytes out(rowDots * size_t(H), 0);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      out[size_t(y) * rowDots + size_t(pl->offset + x)] = at(x, y) < 128 ? 1 : 0;
  if (rowLength) *rowLength = pl->rowBytes;
  return out;
}

std::optional<foundation::Bytes> getDitheredPinpadData(const KXImage& image, int alignment,
                                                       int maxWidth) {
  int rowBytes = 0;
  const auto raster = getDitheredData(image, alignment, maxWidth, &rowBytes);
  if (!raster) return std::nullopt;
  const auto pl = place(image, alignment, maxWidth);
  const int H = pl->height;
  const int WI = image.width;
  const size_t rowDots = size_t(rowBytes) * 8;
  const size_t pages = size_t(H + 7) / 8;
  const size_t stride = size_t(WI);
  // Room for every page even when WI is wider than the raster's rows.
  foundation::Bytes out(std::max(rowDots, stride) * pages, 0);
  // Page column x shows the image's column x, which the raster holds at offset + x.
  const size_t columns = std::min(stride, rowDots - size_t(pl->offset));
  for (int y = 0; y < H; ++y)
    for (size_t x = 0; x < columns; ++x)
      if ((*raster)[size_t(y) * rowDots + size_t(pl->offset) + x])
        out[size_t(y / 8) * stride + x] |= uint8_t(1u << (y % 8));
  return out;
}

}  // namespace kestra
