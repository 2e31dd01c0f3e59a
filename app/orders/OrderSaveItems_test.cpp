// The item and header texts the order header sends: the style list of the header request,
// the insert and edit forms of the save, the priority code and the memo.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/OrderSaveItems.h"

namespace orvo {
namespace {

using nlohmann::json;

json line(std::string kind, std::string id, std::optional<std::string> beforeOrderNum, std::string qty = "2") {
  json l{{"Kind", kind},   {"Id", id},        {"Barcode", "B" + id}, {"Style", "TS100"}, {"Color", "BLK"},
         {"SizeCode", "S"}, {"Bundle", "PP1"}, {"Qty", qty},          {"Price", "7.87"},  {"Descript", "Tee"}};
  if (beforeOrderNum) l["BeforeOrderNum"] = *beforeOrderNum;
  return l;
}

TEST(OrderSaveItems, InsertAndEditFormsCarryEveryLineAsTheServerExpects) {
  const json cart = json::array({line("upc", "0", std::nullopt), line("bundle", "17", "SO9", "0")});
  const json insert = json::parse(insertOrderItemsJson(cart, false));
  ASSERT_EQ(insert.size(), 2u);
  EXPECT_EQ(insert[0], (json{{"Barcode", "B0"},
                             {"Style", "TS100"},
                             {"Color", "BLK"},
                             {"SizeCode", "S"},
                             {"Prepack", ""},
                             {"Qty", "2"},
                             {"Price", "7.87"},
                             {"DupItemHandling", "False"}}));
  EXPECT_EQ(insert[1]["Prepack"], "PP1");      // only a prepack line sends its bundle
  EXPECT_EQ(insert[1]["Qty"], "0");            // a line of 0 is sent like any other
  EXPECT_EQ(insert[1]["BeforeOrderNum"], "SO9");
  EXPECT_FALSE(insert[1].contains("Id"));

  const json edit = json::parse(editOrderItemsJson(cart, true));
  EXPECT_EQ(edit[0]["Id"], "0");
  EXPECT_EQ(edit[0]["BeforeOrderNum"], "[]");  // the two characters, not an empty array
  EXPECT_EQ(edit[1]["Id"], "17");
  EXPECT_EQ(edit[1]["BeforeOrderNum"], "SO9");
  for (const auto& o : edit) EXPECT_EQ(o["DupItemHandling"], "True");

  EXPECT_EQ(json::parse(insertOrderItemsJson(json::array(), true)), json::array());
  EXPECT_EQ(json::parse(editOrderItemsJson(json::array(), true)), json::array());
}

TEST(OrderSaveItems, StyleListEndsEachLineAtItsFirstMissingKey) {
  const json cart = json::array({json{{"Style", "A"}, {"Color", "R"}, {"SizeCode", "S"}, {"Bundle", ""}, {"Qty", "1"}},
                                 json{{"Style", "B"}, {"SizeCode", "M"}}, json{{"Color", "R"}}});
  EXPECT_EQ(json::parse(orderItemsStyleColorJson(cart)),
            json::parse(R"([{"Style":"A","Color":"R","SizeCode":"S","Bundle":""},{"Style":"B"},{}])"));
  EXPECT_EQ(json::parse(orderItemsStyleColorJson(json::array())), json::array());
}

TEST(OrderSaveItems, PriorityCodeAndMemoAsSent) {
  const std::vector<std::pair<std::string, std::string>> priorities = {
      {"[A1] Rush", "A1"}, {"", ""}, {"[B] Slow] ok", "B"}, {"A1 Rush", "A1 Rush"}, {"] x", ""}};
  for (const auto& [text, code] : priorities) EXPECT_EQ(customerPriorityCodeFromText(text), code) << text;
  EXPECT_EQ(memoForSending("a<b>c"), "a[b]c");
  EXPECT_EQ(memoForSending("Enter Memo"), "");
  EXPECT_EQ(memoForSending("ship & <hold>"), "ship & [hold]");
}

}  // namespace
}  // namespace orvo
