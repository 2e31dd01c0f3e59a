#include "app/core/CoreImages.h"

#include <cmath>
#include <functional>

#include "platform/ui/Image.h"

namespace orvo {

namespace {

using ui::Color;
using ui::ImageContext;
using ui::Point;

void drawIfMissing(const char* name, double side, const std::function<void(ImageContext&, double)>& draw) {
  if (ui::Image::named(name)) return;
  ImageContext ctx({side, side}, false, 2);
  draw(ctx, side);
  ui::Image::registerNamed(name, ctx.image());
}

void circle(ImageContext& c, Point centre, double r, double width, Color color) {
  std::vector<Point> pts;
  for (int i = 0; i <= 48; ++i) {
    double a = 2 * M_PI * i / 48;
    pts.push_back({centre.x + r * std::cos(a), centre.y + r * std::sin(a)});
  }
  c.strokePath(pts, width, color);
}

}  // namespace

void registerCoreImages() {
  const Color white = Color::whiteColor();
  // The login screen's bar is light with a black tint: its two icons are dark.
  const Color dark = Color::rgb(0.15, 0.15, 0.15);
  drawIfMissing("info.png", 30, [&](ImageContext& c, double s) {
    circle(c, {s / 2, s / 2}, s / 2 - 2, 2, dark);
    c.fillRect({s / 2 - 1.5, s * 0.42, 3, s * 0.34}, dark);
    c.fillRect({s / 2 - 1.5, s * 0.25, 3, 3}, dark);
  });
  drawIfMissing("tools.png", 30, [&](ImageContext& c, double s) {
    circle(c, {s / 2, s / 2}, s * 0.22, 4, dark);
    for (int i = 0; i < 8; ++i) {
      double a = 2 * M_PI * i / 8;
      c.strokeLine({s / 2 + s * 0.28 * std::cos(a), s / 2 + s * 0.28 * std::sin(a)},
                   {s / 2 + s * 0.42 * std::cos(a), s / 2 + s * 0.42 * std::sin(a)}, 4, dark);
    }
  });
  drawIfMissing("back.png", 30, [&](ImageContext& c, double s) {
    c.strokePath({{s * 0.62, s * 0.2}, {s * 0.32, s * 0.5}, {s * 0.62, s * 0.8}}, 3, white);
  });
  drawIfMissing("save.png", 30, [&](ImageContext& c, double s) {
    c.strokePath({{s * 0.18, s * 0.18}, {s * 0.7, s * 0.18}, {s * 0.82, s * 0.3}, {s * 0.82, s * 0.82},
                  {s * 0.18, s * 0.82}, {s * 0.18, s * 0.18}},
                 2.5, white);
    c.fillRect({s * 0.32, s * 0.18, s * 0.34, s * 0.2}, white);
    c.fillRect({s * 0.3, s * 0.56, s * 0.4, s * 0.2}, white);
  });
  drawIfMissing("unlock.png", 30, [&](ImageContext& c, double s) {
    c.fillRect({s * 0.22, s * 0.46, s * 0.56, s * 0.4}, white);
    c.strokePath({{s * 0.34, s * 0.46}, {s * 0.34, s * 0.28}, {s * 0.5, s * 0.16}, {s * 0.66, s * 0.28}}, 3, white);
  });
  auto flash = [&](ImageContext& c, double s, bool on) {
    const Color colour = on ? Color::yellow() : Color::lightGray();
    c.strokePath({{s * 0.56, s * 0.1}, {s * 0.3, s * 0.55}, {s * 0.52, s * 0.55}, {s * 0.42, s * 0.9},
                  {s * 0.72, s * 0.42}, {s * 0.5, s * 0.42}, {s * 0.56, s * 0.1}},
                 3, colour);
  };
  drawIfMissing("flash-on-70.png", 70, [&](ImageContext& c, double s) { flash(c, s, true); });
  drawIfMissing("flash-off-70.png", 70, [&](ImageContext& c, double s) { flash(c, s, false); });
  drawIfMissing("barcode-reader-96.png", 96, [&](ImageContext& c, double s) {
    const double widths[] = {2, 4, 2, 6, 2, 3, 5, 2, 4, 2, 6, 3};
    double x = s * 0.12;
    for (int i = 0; i < 12 && x < s * 0.88; ++i) {
      c.fillRect({x, s * 0.2, widths[i], s * 0.6}, white);
      x += widths[i] + 3;
    }
    c.fillRect({s * 0.08, s * 0.49, s * 0.84, 2}, Color::red());
  });
}

}  // namespace orvo
