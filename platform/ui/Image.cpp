#include "platform/ui/Image.h"

#include <png.h>
// jpeglib.h needs size_t and FILE declared first.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace ui {
namespace {

std::atomic<uint64_t> nextIdentity{1};

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Image>> images;
  std::vector<std::string> directories;
};
Registry& registry() {
  static Registry r;
  return r;
}

std::shared_ptr<Image> decodePng(const ImageBytes& data, double scale) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, data.data(), data.size())) return nullptr;
  img.format = PNG_FORMAT_RGBA;
  if (img.width == 0 || img.height == 0 || img.width > 16384 || img.height > 16384) {
    png_image_free(&img);
    return nullptr;
  }
  std::vector<uint8_t> px(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr)) {
    png_image_free(&img);
    return nullptr;
  }
  return std::make_shared<Image>(static_cast<int>(img.width), static_cast<int>(img.height), std::move(px), scale);
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  std::longjmp(err->jump, 1);
}
void jpegSilent(j_common_ptr) {}

// Decodes into `out` (RGBA); false on any error. Only plain data lives across setjmp.
bool decodeJpegInto(const ImageBytes& data, int& w, int& h, std::vector<uint8_t>& out) {
  jpeg_decompress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegErrorExit;
  err.mgr.output_message = jpegSilent;
  std::vector<uint8_t> row;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  w = static_cast<int>(cinfo.output_width);
  h = static_cast<int>(cinfo.output_height);
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  out.assign(static_cast<size_t>(w) * h * 4, 255);
  row.resize(static_cast<size_t>(w) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = row.data();
    size_t y = cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &r, 1);
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) out[(y * w + x) * 4 + c] = row[x * 3 + c];
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool encodeJpeg(int w, int h, const std::vector<uint8_t>& rgba, int quality, ImageBytes& result) {
  jpeg_compress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegErrorExit;
  err.mgr.output_message = jpegSilent;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    size_t y = cinfo.next_scanline;
    for (int x = 0; x < w; ++x) {
      // JPEG has no alpha: composite over white, as the platform does for images drawn
      // on a transparent context.
      const uint8_t* p = &rgba[(y * w + x) * 4];
      double a = p[3] / 255.0;
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = static_cast<uint8_t>(std::lround(p[c] * a + 255 * (1 - a)));
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  result.assign(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  free(buffer);
  return true;
}

double segmentDistance(double px, double py, Point a, Point b, LineCap cap) {
  double vx = b.x - a.x, vy = b.y - a.y;
  double len2 = vx * vx + vy * vy;
  double t = len2 > 0 ? ((px - a.x) * vx + (py - a.y) * vy) / len2 : 0;
  if (cap == LineCap::Butt && len2 > 0 && (t < 0 || t > 1)) return 1e9;
  if (cap == LineCap::Square && len2 > 0 && (t < 0 || t > 1)) {
    double len = std::sqrt(len2);
    double along = t < 0 ? -t * len : (t - 1) * len;
    double across = std::fabs((px - a.x) * vy - (py - a.y) * vx) / len;
    return std::max(along, across);
  }
  t = std::clamp(t, 0.0, 1.0);
  double dx = px - (a.x + t * vx), dy = py - (a.y + t * vy);
  return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

Image::Image(int w, int h, double scale)
    : width_(std::max(0, w)), height_(std::max(0, h)), scale_(scale > 0 ? scale : 1),
      rgba_(static_cast<size_t>(width_) * height_ * 4, 0), identity_(nextIdentity++) {}

Image::Image(int w, int h, std::vector<uint8_t> rgba, double scale)
    : width_(std::max(0, w)), height_(std::max(0, h)), scale_(scale > 0 ? scale : 1),
      rgba_(std::move(rgba)), identity_(nextIdentity++) {
  rgba_.resize(static_cast<size_t>(width_) * height_ * 4, 0);
}

std::shared_ptr<Image> Image::named(const std::string& name) {
  auto& r = registry();
  std::vector<std::string> dirs;
  {
    std::lock_guard lock(r.mutex);
    auto it = r.images.find(name);
    if (it != r.images.end()) return it->second;
    dirs = r.directories;
  }
  std::vector<std::string> candidates{name};
  if (name.find('.') == std::string::npos) candidates.push_back(name + ".png");
  for (auto& d : dirs)
    for (auto& c : candidates)
      if (auto img = fromFile(d + "/" + c)) {
        img->name_ = name;
        std::lock_guard lock(r.mutex);
        r.images[name] = img;
        return img;
      }
  return nullptr;
}

void Image::registerNamed(const std::string& name, std::shared_ptr<Image> image) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (image) image->name_ = name;
  r.images[name] = std::move(image);
}

void Image::addResourceDirectory(const std::string& path) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.directories.push_back(path);
}

std::shared_ptr<Image> Image::fromData(const ImageBytes& data, double scale) {
  static const uint8_t kPng[] = {0x89, 'P', 'N', 'G'};
  if (data.size() >= 8 && std::equal(std::begin(kPng), std::end(kPng), data.begin())) return decodePng(data, scale);
  if (data.size() >= 4 && data[0] == 0xFF && data[1] == 0xD8) {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
    if (!decodeJpegInto(data, w, h, px)) return nullptr;
    return std::make_shared<Image>(w, h, std::move(px), scale);
  }
  return nullptr;
}

std::shared_ptr<Image> Image::fromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  ImageBytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return fromData(data);
}

std::shared_ptr<Image> Image::filled(Size size, Color c) {
  ImageContext ctx(size);
  ctx.fillRect({0, 0, size.width, size.height}, c);
  return ctx.image();
}

Color Image::pixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return Color::clear();
  const uint8_t* p = &rgba_[(static_cast<size_t>(y) * width_ + x) * 4];
  return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0};
}

ImageBytes Image::jpegData(double quality) const {
  ImageBytes out;
  if (width_ == 0 || height_ == 0) return out;
  int q = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
  if (!encodeJpeg(width_, height_, rgba_, std::max(q, 1), out)) out.clear();
  return out;
}

ImageBytes Image::pngData() const {
  ImageBytes out;
  if (width_ == 0 || height_ == 0) return out;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(width_);
  img.height = static_cast<png_uint_32>(height_);
  img.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&img, nullptr, &size, 0, rgba_.data(), 0, nullptr)) return {};
  out.resize(size);
  if (!png_image_write_to_memory(&img, out.data(), &size, 0, rgba_.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

std::shared_ptr<Image> Image::scaledTo(Size size) const {
  ImageContext ctx(size, false, scale_);
  ctx.drawImage(*this, {0, 0, size.width, size.height});
  return ctx.image();
}

// ---- ImageContext

ImageContext::ImageContext(Size size, bool opaque, double scale)
    : w_(std::max(0, static_cast<int>(std::lround(size.width * scale)))),
      h_(std::max(0, static_cast<int>(std::lround(size.height * scale)))),
      scale_(scale > 0 ? scale : 1),
      rgba_(static_cast<size_t>(w_) * h_ * 4, 0) {
  if (opaque)
    for (size_t i = 3; i < rgba_.size(); i += 4) rgba_[i] = 255;
}

void ImageContext::compositeCoverage(const std::vector<float>& cov, int x0, int y0, int w, int h, Color c) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float k = cov[static_cast<size_t>(y) * w + x];
      if (k <= 0) continue;
      int px = x0 + x, py = y0 + y;
      if (px < 0 || py < 0 || px >= w_ || py >= h_) continue;
      uint8_t* d = &rgba_[(static_cast<size_t>(py) * w_ + px) * 4];
      double sa = c.a * k;
      double da = d[3] / 255.0;
      double oa = sa + da * (1 - sa);
      const double src[3] = {c.r, c.g, c.b};
      for (int i = 0; i < 3; ++i) {
        double v = oa > 0 ? (src[i] * sa + d[i] / 255.0 * da * (1 - sa)) / oa : 0;
        d[i] = static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
      }
      d[3] = static_cast<uint8_t>(std::lround(std::clamp(oa, 0.0, 1.0) * 255));
    }
}

void ImageContext::fillRect(Rect r, Color c) {
  int x0 = std::max(0, static_cast<int>(std::floor(r.minX() * scale_)));
  int y0 = std::max(0, static_cast<int>(std::floor(r.minY() * scale_)));
  int x1 = std::min(w_, static_cast<int>(std::ceil(r.maxX() * scale_)));
  int y1 = std::min(h_, static_cast<int>(std::ceil(r.maxY() * scale_)));
  if (x1 <= x0 || y1 <= y0) return;
  std::vector<float> cov(static_cast<size_t>(x1 - x0) * (y1 - y0), 1.0f);
  compositeCoverage(cov, x0, y0, x1 - x0, y1 - y0, c);
}

void ImageContext::drawImage(const Image& image, Rect r) {
  if (image.pixelWidth() == 0 || image.pixelHeight() == 0 || r.isEmpty()) return;
  int x0 = std::max(0, static_cast<int>(std::floor(r.minX() * scale_)));
  int y0 = std::max(0, static_cast<int>(std::floor(r.minY() * scale_)));
  int x1 = std::min(w_, static_cast<int>(std::ceil(r.maxX() * scale_)));
  int y1 = std::min(h_, static_cast<int>(std::ceil(r.maxY() * scale_)));
  const double sx = image.pixelWidth() / (r.width() * scale_);
  const double sy = image.pixelHeight() / (r.height() * scale_);
  const auto& src = image.rgba();
  const int iw = image.pixelWidth(), ih = image.pixelHeight();
  auto at = [&](int x, int y, int c) {
    x = std::clamp(x, 0, iw - 1);
    y = std::clamp(y, 0, ih - 1);
    return src[(static_cast<size_t>(y) * iw + x) * 4 + c] / 255.0;
  };
  for (int py = y0; py < y1; ++py)
    for (int px = x0; px < x1; ++px) {
      // Bilinear sample at the pixel's centre.
      double fx = (px + 0.5 - r.minX() * scale_) * sx - 0.5;
      double fy = (py + 0.5 - r.minY() * scale_) * sy - 0.5;
      int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
      double tx = fx - ix, ty = fy - iy;
      double v[4];
      for (int c = 0; c < 4; ++c) {
        // Interpolate premultiplied colour so transparent edges do not darken.
        auto pm = [&](int x, int y) { return c == 3 ? at(x, y, 3) : at(x, y, c) * at(x, y, 3); };
        v[c] = (pm(ix, iy) * (1 - tx) + pm(ix + 1, iy) * tx) * (1 - ty) +
               (pm(ix, iy + 1) * (1 - tx) + pm(ix + 1, iy + 1) * tx) * ty;
      }
      if (v[3] <= 0) continue;
      Color c{v[0] / v[3], v[1] / v[3], v[2] / v[3], v[3]};
      std::vector<float> one{1.0f};
      compositeCoverage(one, px, py, 1, 1, c);
    }
}

void ImageContext::strokeLine(Point from, Point to, double width, Color color, LineCap cap) {
  strokePath({from, to}, width, color, cap);
}

void ImageContext::strokePath(const std::vector<Point>& points, double width, Color color, LineCap cap) {
  if (points.size() < 2 || w_ == 0 || h_ == 0) return;
  const double half = width * scale_ / 2;
  double minX = 1e18, minY = 1e18, maxX = -1e18, maxY = -1e18;
  std::vector<Point> pts;
  for (auto p : points) {
    Point q{p.x * scale_, p.y * scale_};
    pts.push_back(q);
    minX = std::min(minX, q.x);
    minY = std::min(minY, q.y);
    maxX = std::max(maxX, q.x);
    maxY = std::max(maxY, q.y);
  }
  int x0 = std::max(0, static_cast<int>(std::floor(minX - half - 1)));
  int y0 = std::max(0, static_cast<int>(std::floor(minY - half - 1)));
  int x1 = std::min(w_, static_cast<int>(std::ceil(maxX + half + 1)));
  int y1 = std::min(h_, static_cast<int>(std::ceil(maxY + half + 1)));
  if (x1 <= x0 || y1 <= y0) return;
  const int w = x1 - x0, h = y1 - y0;
  std::vector<float> cov(static_cast<size_t>(w) * h, 0.0f);
  for (size_t i = 0; i + 1 < pts.size(); ++i) {
    // Interior joins are round whatever the cap; only the path's ends take the cap.
    LineCap segCap = LineCap::Round;
    if (pts.size() == 2) segCap = cap;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double d = segmentDistance(x0 + x + 0.5, y0 + y + 0.5, pts[i], pts[i + 1], segCap);
        float k = static_cast<float>(std::clamp(half + 0.5 - d, 0.0, 1.0));
        float& c = cov[static_cast<size_t>(y) * w + x];
        c = std::max(c, k);
      }
  }
  compositeCoverage(cov, x0, y0, w, h, color);
}

std::shared_ptr<Image> ImageContext::image() const { return std::make_shared<Image>(w_, h_, rgba_, scale_); }

}  // namespace ui
