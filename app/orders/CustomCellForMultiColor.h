#pragma once
// One row of the multi-colour grid: a colour and pack ("bundle" items) or one size of a
// colour (other items) of a style. It shows the row's identity, price, extended price,
// arrival date and stock, holds the quantity in a text field with a stepper beside it, and
// recomputes pieces and extended price whenever the quantity changes. A step up past the
// row's booking limit is refused, and the cell posts "showOverbookedWarning" so its grid
// warns the user. The grid configures the cell and stores quantities; the cell keeps only
// its `cellItemInfo` and the stepper's last value. Reuse identifier "MultiColorCell".
// Main thread.

#include <memory>

#include "platform/ui/Label.h"
#include "platform/ui/Stepper.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"

namespace orvo {

// What the cell needs of its row. The price is kept as the row's text, so the extended
// price is computed in cents as everywhere else.
struct MultiColorCellInfo {
  int unitSum = 1;                   // pieces per pack ("Sum")
  std::string price = "0";           // unit price ("Price")
  bool ats_status = true;            // "AtsStatus"
  bool ots_status = true;            // "OtsStatus"
  bool overbookingLimitFlag = false;  // the row has a booking limit
  int overbookingLimit = 0;           // the largest quantity the row may reach
};

inline constexpr const char* kShowOverbookedWarning = "showOverbookedWarning";

class CustomCellForMultiColor : public ui::TableViewCell {
 public:
  CustomCellForMultiColor();

  const MultiColorCellInfo& cellItemInfo() const { return info_; }
  void setCellItemInfo(const MultiColorCellInfo& info) { info_ = info; }

  // Takes the field's quantity as the stepper's value and refreshes the derived texts.
  void layoutSubviews() override;
  // The stepper's rule: a step up within the limit, a step down, then the field and texts.
  void stepperQtyFunc();
  // Pieces, extended price and the stock captions' colours from the field's quantity.
  void updateItemInfo();
  void doneClicked();

  ui::Label& lbl_color() { return *color_; }
  ui::Label& lbl_bundle_upc() { return *bundleUpc_; }
  ui::Label& lbl_PackOrUpcQty() { return *packOrUpc_; }
  ui::TextField& txt_packQty() { return *qty_; }
  ui::Stepper& stepper_qty() { return *stepper_; }
  ui::Label& lbl_unitQty() { return *unitQty_; }
  ui::Label& lbl_price() { return *price_; }
  ui::Label& lbl_extPrice() { return *extPrice_; }
  ui::Label& lbl_eta() { return *eta_; }
  ui::Label& lbl_ats() { return *ats_; }
  ui::Label& lbl_ots() { return *ots_; }
  ui::Label& lbl_warning1() { return *warning1_; }
  ui::Label& lbl_warning2() { return *warning2_; }
  ui::Label& lbl_ats_status() { return *atsStatus_; }
  ui::Label& lbl_ots_status() { return *otsStatus_; }
  std::shared_ptr<ui::TextField> quantityField() const { return qty_; }

 private:
  MultiColorCellInfo info_;
  double oldValue_ = 0;
  std::shared_ptr<ui::Label> color_, bundleUpc_, packOrUpc_, unitQty_, price_, extPrice_, eta_, ats_, ots_, warning1_,
      warning2_, atsStatus_, otsStatus_;
  std::shared_ptr<ui::TextField> qty_;
  std::shared_ptr<ui::Stepper> stepper_;
};

}  // namespace orvo
