// The pick item's rules on their own: scans added against the pick quantities, the state
// an item settles in when the scan overlay closes, bins as plain codes, and which of two
// items of one style and colour a scan counts for.
#include "app/picking/PickItem.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orvo::pick {
namespace {

using nlohmann::json;

// A pick item of `units` to pick per size, padded to the 15 grid columns.
json item(std::vector<int> units, std::optional<json> scanned = std::nullopt) {
  json u = json::array();
  for (size_t i = 0; i < kSizeColumns; ++i) u.push_back(i < units.size() ? units[i] : 0);
  json it{{"Bin", "B2"}, {"Style", "TS100"}, {"Color", "BLK"}, {"UnitArray", u}, {"IsChecked", "False"}};
  if (scanned) it["ScannedUnitArray"] = *scanned;
  return it;
}

TEST(PickItemScan, UnitsAddUpToTheirPickQuantityAndNoFurther) {
  // Pick units 2 and 1: a scan of 1+1 is partial, then 1+0 completes, then 1+0 is over.
  json it = item({2, 1});
  json scanned;
  ASSERT_EQ(addScannedUnits(it, json{1, 1}, &scanned), ScanResult::Partial);
  EXPECT_EQ(scanned, json({1, 1}));
  it["ScannedUnitArray"] = scanned;
  ASSERT_EQ(addScannedUnits(it, json{1, 0}, &scanned), ScanResult::Complete);
  EXPECT_EQ(scanned, json({2, 1}));
  it["ScannedUnitArray"] = scanned;
  json untouched = json("unchanged");
  EXPECT_EQ(addScannedUnits(it, json{1, 0}, &untouched), ScanResult::Over);
  EXPECT_EQ(untouched, json("unchanged"));
}

TEST(PickItemScan, EdgeCasesOfArraysAndValues) {
  struct Case {
    const char* name;
    json item;
    json record;
    ScanResult result;
    json scanned;  // null when over
  };
  const Case cases[] = {
      {"first scan over the pick stores nothing", item({1, 1}), json{2, 0}, ScanResult::Over, nullptr},
      {"numeric texts count by their values", item({2, 1}, json{"1", "1"}), json{"1", "0"}, ScanResult::Complete,
       json({2, 1})},
      {"a short record leaves the other sizes as they were", item({1, 2}, json{0, 1}), json{1},
       ScanResult::Partial, json({1, 1})},
      {"a short earlier scan grows to the record", item({1, 1}, json{1}), json{0, 1}, ScanResult::Complete,
       json({1, 1})},
      {"a unit beyond the sizes picked is over", json{{"UnitArray", {1}}}, json{1, 1}, ScanResult::Over, nullptr},
      {"a record of fifteen zeros beyond a short pick list is fine", json{{"UnitArray", {1}}},
       json{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ScanResult::Complete,
       json({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
      {"no unit array: anything scanned is over", json{{"Style", "X"}}, json{1}, ScanResult::Over, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    json scanned;
    EXPECT_EQ(addScannedUnits(c.item, c.record, &scanned), c.result);
    if (c.result != ScanResult::Over) {
      EXPECT_EQ(scanned, c.scanned);
    }
  }
}

TEST(PickItemClose, StateFollowsTheScannedUnits) {
  struct Case {
    const char* name;
    json item;
    CloseState state;
  };
  const Case cases[] = {
      {"never scanned", item({2, 1}), CloseState::None},
      {"all sizes equal", item({2, 1}, json{2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), CloseState::Complete},
      {"all equal in a scan shorter than the grid", item({2, 1}, json{2, 1}), CloseState::Complete},
      {"some scanned", item({2, 1}, json{1, 0}), CloseState::Started},
      {"typed back to zeros", item({2, 1}, json::array({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
       CloseState::None},
      {"over in one size is not complete", item({2, 1}, json{3, 1}), CloseState::Started},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(stateOnClose(c.item), c.state);
  }
}

TEST(PickItemBins, BinsArePlainCodesComparedWithoutCase) {
  EXPECT_TRUE(sameBin("a1", "A1"));
  EXPECT_TRUE(sameBin("B(2", "b(2"));
  EXPECT_TRUE(sameBin("A.1", "A.1"));
  EXPECT_FALSE(sameBin("A.1", "AX1"));
  EXPECT_FALSE(sameBin("A1", "A1 "));
  EXPECT_FALSE(sameBin("[AB]", "A"));
  EXPECT_FALSE(sameBin(".*", "C3"));
}

TEST(PickItemScanTarget, TwoItemsOfOneStyleAndColourEachTakeTheirOwnScans) {
  json list = json::array({item({2, 0}), item({1, 0}), json{{"Style", "TS100"}, {"Color", "WHT"}}});
  list[1]["Bin"] = "A.1";
  const json s = json{1, 0};
  EXPECT_EQ(itemForScan(list, "TS100", "BLK", std::nullopt, s), 0u);
  // The first is complete: its next unit goes to the second.
  list[0]["ScannedUnitArray"] = json{2, 0};
  EXPECT_EQ(itemForScan(list, "TS100", "BLK", std::nullopt, s), 1u);
  // The item on screen is asked first.
  list[0]["ScannedUnitArray"] = json{1, 0};
  EXPECT_EQ(itemForScan(list, "TS100", "BLK", 1, s), 1u);
  // Both complete: the first of them, whose scan is then over.
  list[0]["ScannedUnitArray"] = json{2, 0};
  list[1]["ScannedUnitArray"] = json{1, 0};
  EXPECT_EQ(itemForScan(list, "TS100", "BLK", std::nullopt, s), 0u);
  EXPECT_EQ(itemForScan(list, "TS100", "RED", std::nullopt, s), std::nullopt);
  EXPECT_EQ(itemForScan(json::object(), "TS100", "BLK", std::nullopt, s), std::nullopt);
}

}  // namespace
}  // namespace orvo::pick
