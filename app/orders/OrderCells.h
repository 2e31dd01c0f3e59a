#pragma once
// The table cells of the order item list and of the subtotal list, and what each shows of
// its line. `CustomCellForOrderList` is a swipe cell (the item list supplies its buttons)
// under the reuse identifier "customCell"; `CustomCellForSubtotal` uses "SubtotalCell".
// The fill functions take a cart line (or subtotal row) whose values are texts; missing
// values show as empty text. Main thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>

#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"

namespace orvo {

class CustomCellForOrderList : public ui::TableViewCell {
 public:
  CustomCellForOrderList();
  ui::Label& customStyleColor() { return *styleColor_; }
  ui::Label& customQty() { return *qty_; }
  ui::Label& customDetail() { return *detail_; }
  ui::Label& customPrepackQty() { return *prepackQty_; }
  void prepareForReuse() override;

  // Style/colour, quantity (grey for a "upc" line, black otherwise), pieces of a prepack
  // line, and the price detail (styled when the price was discounted).
  void fill(const nlohmann::json& line);

 private:
  void layoutLabels(ui::Size content);
  std::shared_ptr<ui::Label> styleColor_, qty_, detail_, prepackQty_;
};

class CustomCellForSubtotal : public ui::TableViewCell {
 public:
  CustomCellForSubtotal();
  ui::Label& lbl_cancelDate() { return *cancelDate_; }
  ui::Label& lbl_unitQty() { return *unitQty_; }
  ui::Label& lbl_packQty() { return *packQty_; }
  ui::Label& lbl_subtotal() { return *subtotal_; }
  void prepareForReuse() override;

  // Cancel date, pieces ("Units" when the row has them, else Qty × Sum), packs and the
  // subtotal in currency.
  void fill(const nlohmann::json& row);

 private:
  std::shared_ptr<ui::Label> cancelDate_, unitQty_, packQty_, subtotal_;
};

}  // namespace orvo
