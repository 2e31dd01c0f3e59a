#include "app/orders/OrderImages.h"

#include <functional>

#include "platform/ui/Image.h"

namespace orvo {

namespace {

using ui::Color;
using ui::ImageContext;

void drawOnce(const char* name, double side, const std::function<void(ImageContext&, double)>& draw) {
  if (ui::Image::named(name)) return;
  ImageContext ctx({side, side}, false, 2);
  draw(ctx, side);
  ui::Image::registerNamed(name, ctx.image());
}

void camera(ImageContext& c, double s, Color colour) {
  c.strokePath({{s * 0.12, s * 0.3}, {s * 0.34, s * 0.3}, {s * 0.4, s * 0.2}, {s * 0.6, s * 0.2}, {s * 0.66, s * 0.3},
                {s * 0.88, s * 0.3}, {s * 0.88, s * 0.8}, {s * 0.12, s * 0.8}, {s * 0.12, s * 0.3}},
               2, colour);
  c.strokePath({{s * 0.4, s * 0.42}, {s * 0.6, s * 0.42}, {s * 0.6, s * 0.66}, {s * 0.4, s * 0.66}, {s * 0.4, s * 0.42}},
               2, colour);
}

}  // namespace

void registerOrderImages() {
  const Color white = Color::whiteColor();
  drawOnce("manual-plus2-70.png", 35, [&](ImageContext& c, double s) {
    c.strokePath({{s * 0.15, s * 0.15}, {s * 0.85, s * 0.15}, {s * 0.85, s * 0.85}, {s * 0.15, s * 0.85},
                  {s * 0.15, s * 0.15}},
                 2, white);
    c.fillRect({s * 0.46, s * 0.28, s * 0.08, s * 0.44}, white);
    c.fillRect({s * 0.28, s * 0.46, s * 0.44, s * 0.08}, white);
  });
  drawOnce("camera2-70.png", 35, [&](ImageContext& c, double s) { camera(c, s, white); });
  drawOnce("key-camera-70.png", 35, [&](ImageContext& c, double s) { camera(c, s, Color::black()); });
  drawOnce("key-clear-60.png", 30, [&](ImageContext& c, double s) {
    c.strokePath({{s * 0.1, s * 0.5}, {s * 0.3, s * 0.25}, {s * 0.9, s * 0.25}, {s * 0.9, s * 0.75}, {s * 0.3, s * 0.75},
                  {s * 0.1, s * 0.5}},
                 2, Color::black());
    c.strokeLine({s * 0.45, s * 0.38}, {s * 0.7, s * 0.62}, 2, Color::black());
    c.strokeLine({s * 0.7, s * 0.38}, {s * 0.45, s * 0.62}, 2, Color::black());
  });
}

}  // namespace orvo
