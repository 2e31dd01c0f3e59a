#pragma once
// Images of the screen model: RGBA bitmaps (8 bits a channel, not premultiplied) with a
// scale (points = pixels / scale). They come from named resources, from PNG or JPEG bytes
// (decoded with libpng and libjpeg, no Qt), or from drawing into an `ImageContext`.
// Images are immutable once made and may be shared between threads.
//
// Bad input: bytes that are neither a valid PNG nor a valid JPEG give nullptr, never a
// crash or a partial image.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

using ImageBytes = std::vector<uint8_t>;

class Image {
 public:
  // A transparent image of the given pixel size.
  Image(int pixelWidth, int pixelHeight, double scale = 1);
  Image(int pixelWidth, int pixelHeight, std::vector<uint8_t> rgba, double scale = 1);

  // An image registered under `name`, or read from a resource directory ("info.png"; a
  // name without extension tries ".png"). nullptr when there is none. Main thread.
  static std::shared_ptr<Image> named(const std::string& name);
  static void registerNamed(const std::string& name, std::shared_ptr<Image> image);
  static void addResourceDirectory(const std::string& path);

  // Decodes PNG or JPEG bytes; nullptr when they are neither.
  static std::shared_ptr<Image> fromData(const ImageBytes& data, double scale = 1);
  static std::shared_ptr<Image> fromFile(const std::string& path);
  // A plain image filled with `color`.
  static std::shared_ptr<Image> filled(Size size, Color color);

  Size size() const { return {width_ / scale_, height_ / scale_}; }
  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  double scale() const { return scale_; }
  const std::vector<uint8_t>& rgba() const { return rgba_; }
  Color pixelAt(int x, int y) const;
  // The resource name it was loaded by, if any.
  const std::string& name() const { return name_; }
  uint64_t identity() const { return identity_; }

  // Encodings. `quality` is 0..1 as on the platform (0.4 becomes libjpeg quality 40).
  ImageBytes jpegData(double quality) const;
  ImageBytes pngData() const;
  // This image stretched to `size` (points, at this image's scale), bilinear.
  std::shared_ptr<Image> scaledTo(Size size) const;

 private:
  int width_;
  int height_;
  double scale_;
  std::vector<uint8_t> rgba_;
  std::string name_;
  uint64_t identity_;
};

enum class LineCap { Butt, Round, Square };

// A bitmap to draw into, then take as an image (the platform's image context). Drawing is
// antialiased source-over compositing; coordinates are points.
class ImageContext {
 public:
  explicit ImageContext(Size size, bool opaque = false, double scale = 1);

  void fillRect(Rect r, Color c);
  // Draws `image` stretched into `r`.
  void drawImage(const Image& image, Rect r);
  void strokeLine(Point from, Point to, double width, Color color, LineCap cap = LineCap::Round);
  // One path through `points`, stroked at once (joins are not painted twice).
  void strokePath(const std::vector<Point>& points, double width, Color color, LineCap cap = LineCap::Round);
  std::shared_ptr<Image> image() const;

 private:
  void compositeCoverage(const std::vector<float>& cov, int x0, int y0, int w, int h, Color c);
  int w_, h_;
  double scale_;
  std::vector<uint8_t> rgba_;
};

}  // namespace ui
