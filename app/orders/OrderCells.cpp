#include "app/orders/OrderCells.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/orders/OrderCart.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/Values.h"

namespace orvo {

using cart::field;

namespace {

std::shared_ptr<ui::Label> addLabel(ui::View& to, ui::Rect frame, double size, bool bold = false) {
  auto l = ui::makeView<ui::Label>(frame);
  l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
  to.addSubview(l);
  return l;
}

}  // namespace

CustomCellForOrderList::CustomCellForOrderList() : ui::TableViewCell(ui::CellStyle::Default, "customCell") {
  styleColor_ = addLabel(contentView(), {}, 17, true);
  qty_ = addLabel(contentView(), {}, 24, true);
  qty_->setTextAlignment(ui::TextAlignment::Center);
  qty_->setTextColor(ui::Color::whiteColor());
  qty_->setAdjustsFontSizeToFitWidth(true);
  prepackQty_ = addLabel(contentView(), {}, 12);
  prepackQty_->setTextAlignment(ui::TextAlignment::Center);
  detail_ = addLabel(contentView(), {}, 11);
  detail_->setNumberOfLines(3);  // prices and the bundle code whole beside the quantity column
  setAccessoryType(ui::AccessoryType::DisclosureIndicator);
  // The quantity and its pieces are a column at the right edge of the content, left of the
  // chevron (the content narrows for the accessory and the section index); the style and
  // the price detail take what is left of it, so nothing lies over anything else.
  contentView().setFrameChangeHandler([this](ui::View& content, ui::Rect) { layoutLabels(content.frame().size); });
  layoutLabels(contentView().frame().size);
}

void CustomCellForOrderList::layoutLabels(ui::Size content) {
  constexpr double kMargin = 10, kQtyWidth = 60, kGap = 6;
  const double column = std::max(kMargin, content.width - kQtyWidth - kGap);
  styleColor_->setFrame({kMargin, 6, std::max(0.0, column - kGap - kMargin), 22});
  qty_->setFrame({column, 8, kQtyWidth, 40});
  prepackQty_->setFrame({column, 50, kQtyWidth, 20});
  detail_->setFrame({kMargin, 30, std::max(0.0, column - kGap - kMargin), 48});
}

void CustomCellForOrderList::prepareForReuse() {
  ui::TableViewCell::prepareForReuse();
  for (auto* l : {styleColor_.get(), qty_.get(), detail_.get(), prepackQty_.get()}) l->setText("");
}

void CustomCellForOrderList::fill(const nlohmann::json& line) {
  const bool upc = field(line, "Kind") == "upc";
  styleColor_->setText(field(line, "Style") + " / " + field(line, "Color"));
  qty_->setText(field(line, "Qty"));
  const std::string code = upc ? field(line, "SizeCode") : field(line, "Bundle");
  detail_->setText("Unit Price:$" + field(line, "Price") + " | Ext.Price:$" + field(line, "extPrice") +
                   (upc ? " | SizeCode:" : " | Bundle:") + code);
  if (upc) {
    qty_->setBackgroundColor(ui::Color::gray());
    styleColor_->setTextColor(ui::Color::rgb(0, 0.88, 0));
    prepackQty_->setText("");
  } else {
    qty_->setBackgroundColor(ui::Color::black());
    styleColor_->setTextColor(ui::Color::blue());
    prepackQty_->setText(std::to_string(cart::intOf(field(line, "Sum")) *
                                        cart::intOf(field(line, "Qty"))));
  }
  if (auto styled = PriceClass::GetTableCellStyledDiscountPrice(field(line, "Price"), field(line, "OrgPrice"),
                                                                field(line, "extPrice"), code, !upc))
    detail_->setAttributedText(std::move(*styled));
}

CustomCellForSubtotal::CustomCellForSubtotal() : ui::TableViewCell(ui::CellStyle::Default, "SubtotalCell") {
  cancelDate_ = addLabel(contentView(), {10, 10, 130, 24}, 14);
  cancelDate_->setAdjustsFontSizeToFitWidth(true);  // "MM/dd/yyyy (Immediate)" whole
  unitQty_ = addLabel(contentView(), {140, 10, 50, 24}, 14);
  packQty_ = addLabel(contentView(), {190, 10, 40, 24}, 14);
  subtotal_ = addLabel(contentView(), {230, 10, 85, 24}, 14);
  for (auto* l : {unitQty_.get(), packQty_.get(), subtotal_.get()}) l->setTextAlignment(ui::TextAlignment::Right);
}

void CustomCellForSubtotal::prepareForReuse() {
  ui::TableViewCell::prepareForReuse();
  for (auto* l : {cancelDate_.get(), unitQty_.get(), packQty_.get(), subtotal_.get()}) l->setText("");
}

void CustomCellForSubtotal::fill(const nlohmann::json& row) {
  cancelDate_->setText(field(row, "EtaForPrint"));
  const long long qty = cart::intOf(field(row, "Qty"));
  // A row of several lines carries its pieces counted line by line.
  const std::string units = row.contains("Units") ? field(row, "Units")
                                                  : std::to_string(qty * cart::intOf(field(row, "Sum")));
  unitQty_->setText(PriceClass::stringToComma(units));
  packQty_->setText(PriceClass::stringToComma(field(row, "Qty")));
  subtotal_->setText(PriceClass::stringToCurrency(field(row, "extPrice")));
}

}  // namespace orvo
