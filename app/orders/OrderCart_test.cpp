// The cart's pure rules: the booking limit, placement of new lines, the style index,
// extended prices and totals.
#include "app/orders/OrderCart.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orvo::cart {
namespace {

using nlohmann::json;

TEST(OverBookingRule, QuantityAndLimitMoveTogether) {
  struct Case {
    const char* name;
    int q;
    const char* limit;
    int n;
    bool msgShown;
    int qty;
    const char* after;
    bool prompt;
    bool refused;
  };
  const Case cases[] = {
      {"scan within the limit", 3, "5", 4, false, 4, "4", false, false},
      {"typed past the limit is capped", 3, "2", 9, false, 5, "0", true, false},
      {"capped quietly after the server's own text", 3, "2", 9, true, 5, "0", false, false},
      {"exactly up to the limit", 3, "2", 5, false, 5, "0", false, false},
      {"lowering gives units back", 5, "0", 2, false, 2, "3", false, false},
      {"fully booked may be lowered", 3, "-1", 2, false, 2, "-1", false, false},
      {"fully booked may not be raised", 3, "-1", 4, false, 3, "-1", true, true},
      {"no limit takes anything", 3, "False", 99, false, 99, "False", false, false},
      {"emptied field", 4, "1", 0, false, 0, "5", false, false},
      {"a limit at the largest number", 5, "2147483647", 9, false, 9, "2147483643", false, false},
      {"typed up to the largest number", 5, "2147483647", 2147483647, false, 2147483647, "5", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = checkOverBooking(c.q, c.limit, c.n, c.msgShown);
    EXPECT_EQ(r.qty, c.qty);
    EXPECT_EQ(r.limit, c.after);
    EXPECT_EQ(r.prompt, c.prompt);
    EXPECT_EQ(r.refused, c.refused);
    EXPECT_EQ(r.changed, c.qty != c.q);
    // What the server allowed stays what it was, whenever a limit applies and is not negative.
    if (std::string(c.limit) != "False" && std::string(c.limit) != "-1") {
      EXPECT_EQ(r.qty + std::stoll(r.limit), c.q + std::stoll(c.limit));
    }
  }
}

TEST(OverBookingRule, QuantityWrittenByOtherMeansKeepsTheSum) {
  EXPECT_EQ(limitAfterQuantityChange("4", 1, 3), "2");
  EXPECT_EQ(limitAfterQuantityChange("0", 5, 3), "2");
  EXPECT_EQ(limitAfterQuantityChange("False", 1, 30), "False");
  EXPECT_EQ(limitAfterQuantityChange("3", 2, 2), "3");
}

TEST(CartLines, NewLineFollowsItsStyleAndLookUpsAreLiteral) {
  json cart = json::array({{{"Barcode", "1"}, {"Style", "A.1"}}, {{"Barcode", "2"}, {"Style", "B(2"}}});
  insertAfterStyle(cart, {{"Barcode", "3"}, {"Style", "A.1"}});
  insertAfterStyle(cart, {{"Barcode", "4"}, {"Style", "AX1"}});
  std::vector<std::string> codes;
  for (auto& l : cart) codes.push_back(l["Barcode"]);
  EXPECT_EQ(codes, (std::vector<std::string>{"1", "3", "2", "4"}));
  EXPECT_EQ(styleIndex(cart), (std::vector<std::string>{"A.1", "B(2", "AX1"}));
  EXPECT_EQ(linesOfStyle(cart, "A.1").size(), 2u);  // not "AX1": a style is no pattern
  EXPECT_EQ(linesOfStyle(cart, "B(2").size(), 1u);
  EXPECT_EQ(itemIdxByStyle(cart, "A.1"), 1);
  EXPECT_EQ(itemIdxByBarcode(cart, "4"), 3);
  EXPECT_EQ(itemDicByBarcode(cart, "9"), (json{{"NewItem", "True"}}));
}

TEST(CartMoney, ExtendedPricesAndTotalsAreExactToTheCent) {
  struct Case {
    const char* kind;
    const char* price;
    int sum, n;
    const char* ext;
  } cases[] = {{"upc", "19.99", 1, 3, "59.97"},         {"upc", "0.1", 1, 3, "0.30"},
               {"bundle", "2.675", 6, 1, "16.08"},     {"upc", "99999.99", 1, 999, "99899990.01"},
               {"upc", "12.5x", 1, 2, "25.00"},        {"upc", "", 1, 5, "0.00"},
               {"bundle", "-1.25", 2, 3, "-7.50"},    {"upc", "1e300", 1, 1, "92233720368547758.07"},
               {"upc", "99999999999999.99", 1, 2147483647, "92233720368547758.07"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.price);
    EXPECT_EQ(extPrice(c.kind, c.price, c.sum, c.n), c.ext);
  }
  // Ten lines of ten cents make a dollar, not 0.9999999.
  json dimes = json::array();
  for (int i = 0; i < 10; ++i) dimes.push_back({{"Kind", "upc"}, {"Qty", "1"}, {"extPrice", "0.10"}});
  EXPECT_EQ(totals(dimes).cents, 100);

  EXPECT_EQ(extPrice("upc", "1234.56", 1, 100), "123456.00");
  EXPECT_EQ(extPrice("upc", "1234.56", 1, 144), "177776.64");
  EXPECT_EQ(extPrice("bundle", "10.00", 6, 2), "120.00");
  json cart = json::array({{{"Kind", "bundle"}, {"Qty", "2"}, {"Sum", "6"}, {"extPrice", "120.00"}},
                           {{"Kind", "upc"}, {"Qty", "3"}, {"Sum", "1"}, {"extPrice", "25.50"}}});
  Totals t = totals(cart);
  EXPECT_EQ(t.units, 15);
  EXPECT_EQ(t.cents, 14550);
  EXPECT_EQ(totals(json::array()).units, 0);
}

TEST(CartText, AnswerValuesBecomeText) {
  EXPECT_EQ(lineText(json(nullptr)), "");
  EXPECT_EQ(lineText(json(13)), "13");
  EXPECT_EQ(lineText(json("x")), "x");
  EXPECT_EQ(field(json{{"Qty", 2}}, "Qty"), "2");
  EXPECT_EQ(field(json{{"Qty", 2}}, "Sum"), "");
}

// The index kept beside the cart answers as the whole-cart functions do, after any
// sequence of changes: a pseudo-random walk of inserts, replacements and removals over
// lines with repeated codes and styles, odd prices and bundles, checked at every step.
TEST(CartIndexFollowsTheCart, LookUpsAndTotalsMatchTheWholeCartAtEveryStep) {
  const char* prices[] = {"12.50", "0.01", "1234.56", "7", "12.5x", "", "-3.10", "99999999.99"};
  const char* styles[] = {"HD400", "hd400", "A.B", "A+B", ""};
  unsigned seed = 12345;
  auto next = [&](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  auto makeLine = [&] {
    const bool bundle = next(3) == 0;
    const std::string price = prices[next(8)];
    const int qty = int(next(50)), sum = int(next(12));
    return json{{"Barcode", "40000000000" + std::to_string(next(9))},
                {"Style", styles[next(5)]},
                {"Kind", bundle ? "bundle" : "upc"},
                {"Qty", std::to_string(qty)},
                {"Sum", std::to_string(sum)},
                {"extPrice", extPrice(bundle ? "bundle" : "upc", price, sum, qty)}};
  };
  json cart = json::array();
  CartIndex index;
  index.assign(cart);
  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE(step);
    const unsigned what = cart.empty() ? 0 : next(3);
    if (what == 0) {
      const size_t pos = next(unsigned(cart.size() + 1));
      json line = makeLine();
      index.insert(pos, line);
      cart.insert(cart.begin() + long(pos), line);
    } else if (what == 1) {
      const size_t pos = next(unsigned(cart.size()));
      json line = makeLine();
      index.replace(pos, cart[pos], line);
      cart[pos] = line;
    } else {
      const size_t pos = next(unsigned(cart.size()));
      index.erase(pos, cart[pos]);
      cart.erase(cart.begin() + long(pos));
    }
    const Totals expected = totals(cart);
    ASSERT_EQ(index.totals().units, expected.units);
    ASSERT_EQ(index.totals().cents, expected.cents);
    ASSERT_EQ(index.styles(), styleIndex(cart));
    for (const char* style : styles) {
      ASSERT_EQ(index.lastIndexOfStyle(style), itemIdxByStyle(cart, style));
      std::vector<json> lines;
      for (size_t i : index.linesOfStyle(style)) lines.push_back(cart[i]);
      ASSERT_EQ(lines, linesOfStyle(cart, style));
    }
    for (int code = 0; code < 9; ++code) {
      const std::string c = "40000000000" + std::to_string(code);
      ASSERT_EQ(index.indexOfBarcode(c), itemIdxByBarcode(cart, c));
    }
  }
  CartIndex again;
  again.assign(cart);
  EXPECT_EQ(again.totals().cents, index.totals().cents);
}

}  // namespace
}  // namespace orvo::cart
