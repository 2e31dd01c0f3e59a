#pragma once
// The size/quantity grid of a pick item: 15 equal columns side by side in a horizontally
// scrolling strip, each with the size name, the quantity to pick and, in the scan overlay,
// an editable field for the scanned quantity. The pick-up row cell and the scan overlay
// hold one `SizeQtyColumns` each; the functions below fill either from an item's arrays
// and keep no state of their own, so a grid may be refilled for another item at any time.
//
// Bad input: arrays are read entry by entry (see PickItem.h): a short array leaves the
// missing columns empty (scanned quantities "0"), entries beyond 15 are not shown, and a
// count outside 1 to 15 shows no column. Main thread.

#include <array>
#include <memory>
#include <nlohmann/json_fwd.hpp>

#include "app/picking/PickItem.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"

namespace orvo {

struct SizeQtyColumns {
  std::shared_ptr<ui::ScrollView> strip;
  std::array<std::shared_ptr<ui::Label>, pick::kSizeColumns> sizes;   // lbl_s01 ... lbl_s15
  std::array<std::shared_ptr<ui::Label>, pick::kSizeColumns> units;   // lbl_q01 ... lbl_q15
  // txt_q01 ... txt_q15 (scan overlay only; empty in row cells).
  std::array<std::shared_ptr<ui::TextField>, pick::kSizeColumns> scanned;

  // Makes the strip of `frame` with 15 columns of `columnWidth` (one point apart): a size
  // label over a quantity label, and with `withFields` a field under each.
  static SizeQtyColumns make(ui::Rect frame, double columnWidth, bool withFields);
};

// Column N (1-based) of the grid, as the outlet names write it ("01" ... "15").
inline int columnTag(size_t index) { return int(index) + 100; }  // txt_q tag: 100 + position

// Hides every column, then shows columns 1 to `count` when 1 <= count <= 15.
void setColumnsShown(SizeQtyColumns& grid, long long count);
// Size names and pick quantities into all 15 columns, whatever the count.
void writeSizes(SizeQtyColumns& grid, const nlohmann::json& sizes);
void writeUnits(SizeQtyColumns& grid, const nlohmann::json& units);
// Scanned quantities into the 15 fields: "0" everywhere when `scanned` is not an array.
void writeScanned(SizeQtyColumns& grid, const nlohmann::json& scanned);
// Blue where the scanned quantity equals the pick quantity, red elsewhere (all red without
// scanned quantities), for the columns that `units` has.
void colourScanned(SizeQtyColumns& grid, const nlohmann::json& units, const nlohmann::json& scanned);
// The strip's content width for `count` columns: w x count + count, w the first size
// label's width.
double contentWidth(const SizeQtyColumns& grid, long long count);

}  // namespace orvo
