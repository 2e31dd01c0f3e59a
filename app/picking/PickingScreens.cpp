#include "app/picking/PickingScreens.h"

#include <cmath>

#include "app/picking/PickTicketViewController.h"
#include "app/picking/PickUpViewController.h"
#include "platform/ui/Image.h"

namespace orvo {

namespace {

using ui::Color;
using ui::Point;

// A disc of `colour` with a white mark drawn by `mark`, for any name no resource provides.
void drawMark(const char* name, Color colour, const std::function<void(ui::ImageContext&, double)>& mark) {
  if (ui::Image::named(name)) return;
  constexpr double side = 96;
  ui::ImageContext c({side, side}, false, 1);
  for (double y = 0; y < side; ++y) {
    const double half = std::sqrt(std::max(0.0, (side / 2) * (side / 2) - (y + 0.5 - side / 2) * (y + 0.5 - side / 2)));
    c.fillRect({side / 2 - half, y, 2 * half, 1}, colour);
  }
  mark(c, side);
  ui::Image::registerNamed(name, c.image());
}

}  // namespace

void registerPickingScreens() {
  drawMark("Checkmark-96.png", Color::rgb(0.15, 0.55, 0.15), [](ui::ImageContext& c, double s) {
    c.strokePath({{s * 0.27, s * 0.52}, {s * 0.43, s * 0.68}, {s * 0.73, s * 0.34}}, 9, Color::whiteColor());
  });
  drawMark("Error-96.png", Color::rgb(0.85, 0.45, 0.1), [](ui::ImageContext& c, double s) {
    c.strokeLine({s / 2, s * 0.24}, {s / 2, s * 0.58}, 10, Color::whiteColor());
    c.fillRect({s / 2 - 5, s * 0.68, 10, 10}, Color::whiteColor());
  });

  auto& r = ui::ViewControllerRegistry::shared();
  r.add<PickTicketViewController>("PickTicketViewController");
  r.add<PickUpViewController>("PickUpViewController");
  r.add<SizeQtyViewController>("SizeQtyViewController");
}

}  // namespace orvo
