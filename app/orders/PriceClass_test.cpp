// Price and quantity texts, the discounted-price styles and the item list's cells.
#include "app/orders/PriceClass.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/OrderCells.h"

namespace orvo {
namespace {

TEST(PriceText, CurrencyAndGroupedNumbersRoundHalfToEvenOnTheExactText) {
  struct Case {
    const char* in;
    const char* currency;
    const char* comma;
  };
  const Case cases[] = {
      {"", "$0.00", "0"},
      {"1234.5", "$1,234.50", "1,234.5"},
      {"1234.5678", "$1,234.57", "1,234.568"},
      {"0.125", "$0.12", "0.125"},
      {"0.135", "$0.14", "0.135"},
      {"2.0005", "$2.00", "2"},
      {"999.995", "$1,000.00", "999.995"},
      {"-5", "-$5.00", "-5"},
      {"2000", "$2,000.00", "2,000"},
      {"1234567.891", "$1,234,567.89", "1,234,567.891"},
      {"abc", "NaN", "NaN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(PriceClass::stringToCurrency(c.in), c.currency);
    EXPECT_EQ(PriceClass::stringToComma(c.in), c.comma);
  }
}

TEST(PriceText, DiscountedPriceShowsTheOldPriceStruckThrough) {
  ui::Label label("$10.00");
  PriceClass::SetStyledDiscountPrice(label, "10.00", "10.00");
  EXPECT_FALSE(label.hasAttributedText());
  PriceClass::SetStyledDiscountPrice(label, "10.00", "12.00");
  ASSERT_EQ(label.attributedText().size(), 3u);
  EXPECT_EQ(label.text(), "$12.00 $10.00");
  EXPECT_TRUE(label.attributedText()[0].strikethrough);
  EXPECT_EQ(label.attributedText()[0].color, ui::Color::darkGray());
  EXPECT_EQ(label.attributedText()[2].text, "$10.00");
  EXPECT_EQ(label.attributedText()[2].color, ui::Color::red());
  // Compared as text: 9.5 and 9.50 are both shown.
  ui::Label other("$9.5");
  PriceClass::SetStyledDiscountPrice(other, "9.5", "9.50");
  EXPECT_EQ(other.text(), "$9.50 $9.5");

  EXPECT_FALSE(PriceClass::GetTableCellStyledDiscountPrice("8.00", "8.00", "16.00", "M", false));
  auto runs = PriceClass::GetTableCellStyledDiscountPrice("10.00", "12.00", "20.00", "PP1", true);
  ASSERT_TRUE(runs);
  std::string text;
  for (auto& r : *runs) text += r.text;
  EXPECT_EQ(text, "Unit Price:$12.00 $10.00 | Ext.Price:$20.00 | Bundle:PP1");
  EXPECT_EQ((*runs)[0].text.size(), 11u);  // the struck price starts right after "Unit Price:"
  EXPECT_TRUE((*runs)[1].strikethrough);
}

TEST(ItemListCells, LinesAndSubtotalRowsShowTheirFigures) {
  CustomCellForOrderList cell;
  cell.fill({{"Kind", "bundle"}, {"Style", "TS100"}, {"Color", "BLK"}, {"Qty", "3"}, {"Sum", "12"},
             {"Price", "7.00"}, {"OrgPrice", "7.00"}, {"extPrice", "252.00"}, {"Bundle", "PP1"}, {"SizeCode", "S4"}});
  EXPECT_EQ(cell.customStyleColor().text(), "TS100 / BLK");
  EXPECT_EQ(cell.customPrepackQty().text(), "36");
  EXPECT_EQ(cell.customDetail().text(), "Unit Price:$7.00 | Ext.Price:$252.00 | Bundle:PP1");
  EXPECT_EQ(cell.customStyleColor().textColor(), ui::Color::blue());
  cell.prepareForReuse();
  cell.fill({{"Kind", "upc"}, {"Style", "TS100"}, {"Color", "BLK"}, {"Qty", "2"}, {"Sum", "1"}, {"Price", "7.00"},
             {"OrgPrice", "8.00"}, {"extPrice", "14.00"}, {"Bundle", ""}, {"SizeCode", "M"}});
  EXPECT_EQ(cell.customPrepackQty().text(), "");
  EXPECT_EQ(cell.customDetail().text(), "Unit Price:$8.00 $7.00 | Ext.Price:$14.00 | SizeCode:M");
  EXPECT_EQ(cell.customStyleColor().textColor(), ui::Color::rgb(0, 0.88, 0));

  CustomCellForSubtotal sub;
  sub.fill({{"EtaForPrint", "09/01/2026"}, {"Qty", "2"}, {"Sum", "1000"}, {"extPrice", "2500"}});
  EXPECT_EQ(sub.lbl_unitQty().text(), "2,000");
  EXPECT_EQ(sub.lbl_packQty().text(), "2");
  EXPECT_EQ(sub.lbl_subtotal().text(), "$2,500.00");
}

}  // namespace
}  // namespace orvo
