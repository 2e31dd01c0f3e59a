#pragma once
// A toolbar: bar button items in a row, flexible spaces sharing what is left. Used as the
// accessory bar above keyboards and pickers ("Cancel", space, "Done"). Main thread.

#include <memory>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"

namespace ui {

class Toolbar : public View {
 public:
  static constexpr double kHeight = 44;
  Toolbar() { setFrame({0, 0, 320, kHeight}); }
  const char* kind() const override { return "Toolbar"; }
  const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);
  std::optional<Color> barTintColor() const { return barTint_; }
  void setBarTintColor(std::optional<Color> c) { barTint_ = c; }
  void layoutSubviews() override;

 private:
  std::vector<std::shared_ptr<BarButtonItem>> items_;
  std::optional<Color> barTint_;
};

// Lays `items` out as buttons in `bar` between x = left and x = right; used by toolbars
// and navigation bars.
void layoutBarItems(View& bar, const std::vector<std::shared_ptr<BarButtonItem>>& items, double left, double right,
                    std::vector<std::shared_ptr<View>>& made);

}  // namespace ui
