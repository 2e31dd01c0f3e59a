// The size/quantity grid of a row cell and of the scan overlay: visible columns, content
// width, reuse for another item, and the colours of scanned quantities.
#include "app/picking/SizeQtyGrid.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/picking/PickUpViewController.h"

namespace orvo {
namespace {

using nlohmann::json;

json sizes(int n) {
  json a = json::array();
  for (int i = 0; i < 15; ++i) {
    std::string size;
    if (i < n) {
      size = "S";
      size += std::to_string(i + 1);
    }
    a.push_back(size);
  }
  return a;
}

int shownColumns(const SizeQtyColumns& g) {
  int n = 0;
  for (size_t i = 0; i < pick::kSizeColumns; ++i) {
    const bool shown = !g.sizes[i]->isHidden();
    EXPECT_EQ(shown, !g.units[i]->isHidden()) << i;
    if (g.scanned[i]) {
      EXPECT_EQ(shown, !g.scanned[i]->isHidden()) << i;
    }
    n += shown;
  }
  return n;
}

TEST(SizeQtyGrid, RowCellShowsItsCountOfColumnsAndSizesItsStrip) {
  auto screen = std::make_shared<PickUpViewController>();
  PickUpTableViewCell cell;
  const double w = cell.grid.sizes[0]->frame().size.width;
  struct Case {
    long long count;
    int shown;
  };
  for (Case c : {Case{0, 0}, Case{3, 3}, Case{15, 15}, Case{16, 0}, Case{-1, 0}, Case{12, 12}, Case{4, 4}}) {
    SCOPED_TRACE(c.count);
    cell.scview_qtyRow1().setContentOffset({40, 0});
    screen->updateQtyView(cell, sizes(int(c.count)), json{1, 2, 3}, c.count);
    EXPECT_EQ(shownColumns(cell.grid), c.shown);
    EXPECT_EQ(cell.scview_qtyRow1().contentSize().width, w * double(c.count) + double(c.count));
    EXPECT_EQ(cell.scview_qtyRow1().contentOffset().x, 0);
  }
  // Hidden columns still hold their entries; a short unit array leaves the rest empty.
  screen->updateQtyView(cell, sizes(15), json{1, "2", 3}, 3);
  EXPECT_EQ(cell.grid.sizes[3]->text(), "S4");
  EXPECT_EQ(cell.grid.units[1]->text(), "2");
  EXPECT_EQ(cell.grid.units[3]->text(), "");
}

TEST(SizeQtyGrid, ScannedFieldsShowZerosUntilScannedAndBlueWhereTheyMatch) {
  SizeQtyViewController overlay;
  overlay.view();
  SizeQtyColumns& g = overlay.grid();
  for (size_t i = 0; i < pick::kSizeColumns; ++i) EXPECT_EQ(g.scanned[i]->tag(), 100 + int(i));

  const json units = json{2, 1, 3};
  writeScanned(g, nullptr);
  colourScanned(g, units, nullptr);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(g.scanned[i]->text(), "0");
    EXPECT_EQ(g.scanned[i]->textColor(), ui::Color::red());
  }
  EXPECT_EQ(g.scanned[14]->text(), "0");

  const json scanned = json{2, 0, 4};  // equal, under, over
  writeScanned(g, scanned);
  colourScanned(g, units, scanned);
  EXPECT_EQ(g.scanned[0]->text(), "2");
  EXPECT_EQ(g.scanned[3]->text(), "0");  // beyond a short array
  EXPECT_EQ(g.scanned[0]->textColor(), ui::Color::blue());
  EXPECT_EQ(g.scanned[1]->textColor(), ui::Color::red());
  EXPECT_EQ(g.scanned[2]->textColor(), ui::Color::red());

  // Units beyond the 15 columns colour nothing and read nothing out of range.
  json many = json::array();
  for (int i = 0; i < 20; ++i) many.push_back(0);
  colourScanned(g, many, json::array());
  EXPECT_EQ(g.scanned[14]->textColor(), ui::Color::blue());
}

}  // namespace
}  // namespace orvo
