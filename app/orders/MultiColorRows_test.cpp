// The multi-colour grid's rows as data: the booking rule, the limit kept once per row so
// that the row's largest quantity never drifts, extended prices and totals in cents, and a
// row read from the server's answer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/MultiColorRows.h"

namespace orvo::multicolor {
namespace {

using nlohmann::json;

TEST(MultiColorBooking, TheRuleTable) {
  struct Case {
    const char* name;
    int qty;
    const char* limit;
    int wanted;
    int result;
    std::optional<int> storedQty;
    std::optional<std::string> storedLimit;
    bool warn;
  } cases[] = {
      {"no limit takes anything", 2, "False", 500, 500, 500, std::nullopt, false},
      {"within the limit", 2, "5", 6, 6, 6, "1", false},
      {"up to the limit", 2, "5", 7, 7, 7, "0", false},
      {"beyond the limit is capped", 2, "5", 10, 7, 7, "0", true},
      {"lowering gives back", 7, "0", 1, 1, 1, "6", false},
      {"the same quantity stores nothing", 3, "4", 3, 3, std::nullopt, std::nullopt, false},
      {"fully booked and nothing held", 2, "-3", 4, 0, 0, std::nullopt, true},
      {"fully booked, lowering", 2, "-3", 1, 1, 1, "-2", false},
      {"a limit at the largest number", 1, "2147483647", 15, 15, 15, "2147483633", false},
      {"up to the largest number", 1, "2147483647", 2147483647, 2147483647, 2147483647, "1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Booking b = checkOverBooking(c.qty, c.limit, c.wanted);
    EXPECT_EQ(b.result, c.result);
    EXPECT_EQ(b.qty, c.storedQty);
    EXPECT_EQ(b.limit, c.storedLimit);
    EXPECT_EQ(b.warn, c.warn);
  }
}

TEST(MultiColorBooking, TheLargestQuantityStaysWhateverTheStepsAndInBothModes) {
  for (bool realTime : {false, true}) {
    SCOPED_TRACE(realTime ? "real time" : "normal");
    // The server allows 5 (in real time: 5 beyond the 2 the order holds); 3 are on an
    // open order that duplicate-item handling counts back.
    json row{{"Qty", "2"}, {"Sum", "1"}, {"Price", "2.00"}, {"OverBookingLimit", "5"}, {"BeforeTotal", "3"}};
    updateQty(row, std::nullopt, std::nullopt, storedLimit(row, true, realTime));
    const int largest = realTime ? 10 : 8;
    ASSERT_EQ(largestQty(row), largest);
    // Drawing the row again converts nothing; quantity changes keep the sum.
    for (int wanted : {4, 1, 12, 0, 9}) {
      const Booking b = checkOverBooking(std::stoi(row["Qty"].get<std::string>()), row["OverBookingLimit"], wanted);
      if (b.qty) updateQty(row, std::to_string(*b.qty), std::nullopt, b.limit);
      EXPECT_EQ(largestQty(row), largest) << "after asking " << wanted;
      EXPECT_LE(std::stoi(row["Qty"].get<std::string>()), largest);
    }
  }
  json unlimited{{"Qty", "2"}, {"OverBookingLimit", "False"}};
  EXPECT_EQ(storedLimit(unlimited, true, false), "False");
  EXPECT_EQ(largestQty(unlimited), std::nullopt);
}

TEST(MultiColorRows, ExtendedPricesAndTotalsCountPacksAndCents) {
  json rows = json::array({{{"Kind", "bundle"}, {"Sum", "6"}, {"Price", "2.675"}},
                           {{"Kind", "upc"}, {"Sum", "1"}, {"Price", "0.10"}},
                           {{"Kind", "upc"}, {"Sum", "1"}, {"Price", "9.99"}}});
  updateQty(rows[0], "3", std::nullopt, std::nullopt);
  updateQty(rows[1], "3", std::nullopt, std::nullopt);
  EXPECT_EQ(rows[0]["extPrice"], "48.24");  // 18 pieces at 2.68
  EXPECT_EQ(rows[1]["extPrice"], "0.30");
  const Totals t = totals(rows);
  EXPECT_EQ(t.qty, 21);  // 3 packs of 6, 3 units; the untouched row counts nothing
  EXPECT_EQ(t.cents, 4854);
  updateQty(rows[2], "1", "8.00", "4");
  EXPECT_EQ(rows[2]["Price"], "8.00");
  EXPECT_EQ(rows[2]["OverBookingLimit"], "4");
}

TEST(MultiColorRows, ARowFromTheAnswer) {
  json element{{"Kind", "upc"},          {"Code", "400000000006"}, {"Descript", "Tee"},     {"Eta", "09/01/2026"},
               {"EtaForPrint", "x"},     {"Ats", 8},               {"AtsStatus", "True"},   {"Ots", "19"},
               {"OtsStatus", "True"},    {"Price", 8.5},           {"OrgPrice", "8.5"},     {"MinPrice", "6.8"},
               {"Sum", "1"},             {"Color", "WHT"},         {"Style", "TS100"},      {"SizeCode", "M"},
               {"Bundle", ""},           {"PrepackInfo", ""},      {"MultiColor", "[]"},    {"BeforeOrderNum", ""},
               {"BeforeTime", "0"},      {"BeforeTotal", "0"},
               {"OverBooking", R"({"OverBookingMsg":"Only 5","OverBookingLimit":"5"})"}};
  const json row = rowFromAnswer(element);
  EXPECT_EQ(row["Barcode"], "400000000006");
  EXPECT_EQ(row["Id"], "0");
  EXPECT_EQ(row["Price"], "8.50");
  EXPECT_EQ(row["OrgPrice"], "8.50");
  EXPECT_EQ(row["Ats"], "8");
  EXPECT_EQ(row["OverBookingMsg"], "Only 5");
  EXPECT_EQ(row["OverBookingLimit"], "5");
  EXPECT_EQ(row.size(), 25u);
  EXPECT_FALSE(row.contains("Qty"));  // never had a quantity
  json missing = element;
  missing.erase("Style");
  EXPECT_THROW(rowFromAnswer(missing), std::runtime_error);
  EXPECT_THROW(rowFromAnswer(json::array()), std::runtime_error);
}

}  // namespace
}  // namespace orvo::multicolor
