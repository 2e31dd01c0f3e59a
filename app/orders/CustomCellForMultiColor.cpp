#include "app/orders/CustomCellForMultiColor.h"

#include <cmath>
#include <cstdio>

#include "app/orders/OrderCart.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Text.h"
#include "platform/ui/Toolbar.h"

namespace orvo {

namespace {

std::shared_ptr<ui::Label> addLabel(ui::View& to, ui::Rect frame, double size, bool bold = false) {
  auto l = ui::makeView<ui::Label>(frame);
  l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
  to.addSubview(l);
  return l;
}

}  // namespace

CustomCellForMultiColor::CustomCellForMultiColor() : ui::TableViewCell(ui::CellStyle::Default, "MultiColorCell") {
  ui::View& c = contentView();
  color_ = addLabel(c, {5, 4, 70, 22}, 14, true);
  color_->setTextColor(ui::Color::whiteColor());
  color_->setTextAlignment(ui::TextAlignment::Center);
  bundleUpc_ = addLabel(c, {80, 4, 110, 22}, 13, true);
  packOrUpc_ = addLabel(c, {195, 4, 120, 22}, 12, true);
  packOrUpc_->setTextColor(ui::Color::whiteColor());
  packOrUpc_->setTextAlignment(ui::TextAlignment::Center);
  price_ = addLabel(c, {5, 30, 120, 18}, 12);
  eta_ = addLabel(c, {130, 30, 90, 18}, 11);
  atsStatus_ = addLabel(c, {5, 50, 30, 18}, 11, true);
  atsStatus_->setText("ATS");
  ats_ = addLabel(c, {35, 50, 40, 18}, 11);
  otsStatus_ = addLabel(c, {80, 50, 30, 18}, 11, true);
  otsStatus_->setText("OTS");
  ots_ = addLabel(c, {110, 50, 40, 18}, 11);
  unitQty_ = addLabel(c, {150, 50, 40, 18}, 11);
  extPrice_ = addLabel(c, {5, 68, 150, 18}, 12, true);
  qty_ = ui::makeView<ui::TextField>({195, 30, 50, 30});
  qty_->setKeyboardType(ui::KeyboardType::NumberPad);
  qty_->setTextAlignment(ui::TextAlignment::Center);
  qty_->setBorderStyle(ui::BorderStyle::RoundedRect);
  qty_->setAccessibilityLabel("Quantity");
  c.addSubview(qty_);
  stepper_ = std::make_shared<ui::Stepper>();
  stepper_->setFrame({222, 56, ui::Stepper::kWidth, ui::Stepper::kHeight});
  stepper_->setMaximumValue(9999);
  stepper_->addTarget(this, [this](ui::Control&) { stepperQtyFunc(); }, ui::ValueChanged);
  c.addSubview(stepper_);
  warning1_ = addLabel(c, {5, 89, 310, 14}, 10);
  warning2_ = addLabel(c, {5, 103, 310, 14}, 10);
  for (auto* w : {warning1_.get(), warning2_.get()}) {
    w->setTextColor(ui::Color::whiteColor());
    w->setBackgroundColor(ui::Color::orange());
    w->setHidden(true);
  }
  // The number pad's "Done" bar.
  auto bar = std::make_shared<ui::Toolbar>();
  bar->setItems({ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
                 ui::BarButtonItem::withTitle(ui::localizedString("Done"), ui::BarButtonItemStyle::Plain,
                                              [this](ui::BarButtonItem&) { doneClicked(); })});
  qty_->setInputAccessoryView(bar);
}

void CustomCellForMultiColor::doneClicked() {
  updateItemInfo();
  qty_->resignFirstResponder();
}

void CustomCellForMultiColor::layoutSubviews() {
  ui::TableViewCell::layoutSubviews();
  oldValue_ = cart::doubleOf(qty_->text());
  stepper_->setValue(oldValue_);
  updateItemInfo();
}

void CustomCellForMultiColor::stepperQtyFunc() {
  qty_->resignFirstResponder();
  const double cur = cart::doubleOf(qty_->text());
  if (stepper_->value() > oldValue_) {
    if (info_.overbookingLimitFlag && (info_.overbookingLimit <= 0 || double(info_.overbookingLimit) <= cur)) {
      stepper_->setValue(cur);
      foundation::NotificationCenter::defaultCenter().post(kShowOverbookedWarning, nullptr);
    } else {
      oldValue_ += 1;
      stepper_->setValue(cur + 1);
    }
  } else {
    oldValue_ -= 1;
    stepper_->setValue(cur - 1);
  }
  oldValue_ = stepper_->value();
  char text[32];
  std::snprintf(text, sizeof text, "%.f", stepper_->value());
  qty_->setText(text);
  updateItemInfo();
}

void CustomCellForMultiColor::updateItemInfo() {
  const int qty = cart::intOf(qty_->text());
  const long long units = static_cast<long long>(info_.unitSum) * qty;
  qty_->setText(std::to_string(qty));
  unitQty_->setText(units == qty ? std::string() : std::to_string(units));
  extPrice_->setText(PriceClass::stringToCurrency(centsToDecimal(cart::centsTimes(cart::centsOf(info_.price), units))));
  const ui::Color blue = ui::Color::blue(), red = ui::Color::red();
  atsStatus_->setTextColor(info_.ats_status ? blue : red);
  otsStatus_->setTextColor(info_.ots_status ? blue : red);
}

}  // namespace orvo
