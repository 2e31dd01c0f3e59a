// The pick-up screen's size/quantity grids: a row cell's strip, or (with no cell) the scan
// overlay's grid.
#include <nlohmann/json.hpp>

#include "app/picking/PickUpViewController.h"

namespace orvo {

using nlohmann::json;

namespace {

SizeQtyColumns* gridOf(PickUpTableViewCell* cell, SizeQtyViewController* overlay) {
  if (cell) return &cell->grid;
  return overlay ? &overlay->grid() : nullptr;
}

}  // namespace

void PickUpViewController::updateQtyView(PickUpTableViewCell& cell, const json& sizes, const json& units,
                                         long long count) {
  setQtyViewHide(count, &cell);
  ui::ScrollView& strip = cell.scview_qtyRow1();
  strip.setContentOffset({0, 0});
  strip.setContentSize({contentWidth(cell.grid, count), strip.frame().size.height});
  setQtyViewSize(sizes, &cell);
  setQtyViewUnit(units, &cell);
}

void PickUpViewController::setQtyViewHide(long long count, PickUpTableViewCell* cell) {
  if (auto* g = gridOf(cell, view_scanSizeQty_.get())) setColumnsShown(*g, count);
}

void PickUpViewController::setQtyViewSize(const json& sizes, PickUpTableViewCell* cell) {
  if (auto* g = gridOf(cell, view_scanSizeQty_.get())) writeSizes(*g, sizes);
}

void PickUpViewController::setQtyViewUnit(const json& units, PickUpTableViewCell* cell) {
  if (auto* g = gridOf(cell, view_scanSizeQty_.get())) writeUnits(*g, units);
}

void PickUpViewController::setQtyViewScannedUnitTxt(const json& scanned) {
  if (view_scanSizeQty_) writeScanned(view_scanSizeQty_->grid(), scanned);
}

void PickUpViewController::setQtyViewScannedQtyColor(const json& units, const json& scanned) {
  if (view_scanSizeQty_) colourScanned(view_scanSizeQty_->grid(), units, scanned);
}

}  // namespace orvo
