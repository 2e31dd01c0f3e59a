// The style search by hand against the back office on loopback: the search key and the
// scope, sections by style, and what choosing a row does from the item list and from the
// style look-up.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/CoreScreens.h"
#include "app/orders/StyleInfoTableViewController.h"
#include "testing/app/StyleTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::StyleHarness;

// What the multi-colour grid is handed when the search pushes it.
class RecordingGrid : public StandInViewController, public MultiColorReceiver {
 public:
  explicit RecordingGrid(std::string nib) : StandInViewController(std::move(nib)) {}
  void setKind(const std::string& v) override { got.push_back({"kind", v}); }
  void setColor(const std::string& v) override { got.push_back({"color", v}); }
  void setStyle(const std::string& v) override { got.push_back({"style", v}); }
  void setOrderListArray(const json& lines) override { got.push_back({"lines", lines}); }
  void setIsFromStyleInfoView(bool v) override { got.push_back({"fromSearch", v}); }
  static inline json got = json::array();
};

class StyleSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ViewControllerRegistry::shared().add<RecordingGrid>("MultiColorTableView");
    RecordingGrid::got = json::array();
  }
  // The item list with `codes` in the cart, then its hand-entry button.
  // The codes are scanned in the ordinary mode (a scan in size mode opens the colour entry);
  // `upcSizeMode` is set after them, before the search opens.
  StyleInfoTableViewController* openFromItemList(const std::vector<std::string>& codes, bool upcSizeMode = false) {
    auto* list = f.t.walkToItemList("harbor o", {0, 0}, 0);
    if (!list) return nullptr;
    for (const auto& code : codes) f.scan(code);
    // The hand search is on the bar once the item on display is saved.
    if (!codes.empty() && !f.t.h->tapBarItem(list->nextBarButtonItem())) return nullptr;
    f.t.settle();
    if (upcSizeMode) f.t.app.delegate->settings().isUpcSizeMode = true;
    if (!f.t.h->tap(f.t.h->findLabel("Manual"))) return nullptr;
    f.t.settle();
    return f.t.top<StyleInfoTableViewController>();
  }
  // A finger on scope `i` of the search bar of the screen on top.
  void chooseScope(int i) {
    auto* s = f.t.top<StyleInfoTableViewController>();
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(f.t.h->chooseScope(*s->searchBarView(), i)) << f.t.h->dump();
    f.t.settle();
  }
  // Types `text` into the search bar of the screen on top and presses the search key.
  void search(const std::string& text) {
    auto* s = f.t.top<StyleInfoTableViewController>();
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(f.t.h->tapBarItem(s->navigationItem().rightBarButtonItem()));  // the search key
    f.t.h->deleteBackward(20);
    f.t.h->typeText(text);
    f.t.h->pressReturn();
    f.t.waitForRequests();
  }
  StyleHarness f;
};

TEST_F(StyleSearch, SearchKeyNeedsThreeCharactersAndAScopeChangeSendsAnyText) {
  auto* s = openFromItemList({});
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->title(), "Add a Style Manually");
  EXPECT_EQ(s->searchBarView()->selectedScopeButtonIndex(), 0);
  f.t.app.delegate->globalSO().orderDiscountRate = 5;
  search("ts");
  ASSERT_EQ(f.t.alertMessages(), std::vector<std::string>{StyleInfoTableViewController::kTooShortMessage});
  EXPECT_EQ(f.t.calls("GetStylesInfo"), 0);
  f.t.press("OK");
  chooseScope(1);
  f.t.waitForRequests();
  ASSERT_EQ(f.t.calls("GetStylesInfo"), 1);
  EXPECT_EQ(f.t.server.received("GetStylesInfo").back().params,
            (std::vector<std::pair<std::string, std::string>>{{"Style", "ts"},
                                                              {"Bundle", "1"},
                                                              {"PriceLevel", "1"},
                                                              {"OrderDiscountRate", "5.000000"},
                                                              {"IsOrderScanMode", "1"},
                                                              {"WH", ""}}));
  // Sizes of TS100 and TS200, one section per style.
  EXPECT_EQ(s->indexTitle(), (std::vector<std::string>{"TS100", "TS200"}));
  EXPECT_EQ(s->tableView()->numberOfRowsInSection(0), 12);
  EXPECT_EQ(s->tableView()->sectionIndexTitles(), s->indexTitle());

  // An empty text and a scope change send nothing.
  ASSERT_TRUE(f.t.h->tapBarItem(s->navigationItem().rightBarButtonItem()));  // the search key
  f.t.h->deleteBackward(20);
  chooseScope(0);
  f.t.waitForRequests();
  EXPECT_EQ(f.t.calls("GetStylesInfo"), 1);
}

TEST_F(StyleSearch, SectionsAndTheirRowsFollowOneLiteralRule) {
  auto* s = openFromItemList({});
  ASSERT_NE(s, nullptr);
  const json rows = json::array({
      {{"Response", "True"}, {"Style", "AB"}, {"Code", "1"}, {"Kind", "Prepack"}, {"Bundle", "P1"}},
      {{"Response", "True"}, {"Style", "ab"}, {"Code", "2"}, {"Kind", "UPC"}, {"Color", "BLK"}},
      {{"Response", "False"}, {"Style", "AB"}, {"Code", "stale"}},
      {{"Response", "True"}, {"Style", "A.B"}, {"Code", "3"}, {"Kind", "UPC"}},
      {{"Response", "True"}, {"Style", "AB"}, {"Code", "4"}, {"Kind", "Prepack"}, {"Bundle", "P2"},
       {"AtsStatus", "True"}},
  });
  f.t.server.setFault("GetStylesInfo", backoffice::Fault::result(rows.dump()));
  search("abc");
  EXPECT_EQ(s->indexTitle(), (std::vector<std::string>{"AB", "ab", "A.B"}));
  auto codes = [&](int section) {
    std::vector<std::string> out;
    for (const auto& r : s->rowsOfSection(section)) out.push_back(r["Code"]);
    return out;
  };
  EXPECT_EQ(codes(0), (std::vector<std::string>{"1", "4"}));  // apart in the answer, one section
  EXPECT_EQ(codes(1), std::vector<std::string>{"2"});          // case makes another style
  EXPECT_EQ(codes(2), std::vector<std::string>{"3"});          // "." is a character, not a pattern
  auto* table = s->tableView();
  EXPECT_EQ(table->numberOfRowsInSection(0), 2);
  auto cell = std::dynamic_pointer_cast<CustomCellForStyleInfo>(s->cellForRowAtIndexPath(*table, {0, 1}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->lbl_barcode().text(), "4");
  EXPECT_EQ(cell->lbl_bundle().text(), "P2");
  EXPECT_EQ(cell->lbl_atsStatus().backgroundColor(), ui::Color::blue());
  EXPECT_EQ(cell->lbl_color().backgroundColor(), ui::Color::clear());  // no colour: no bare dark bar
  cell = std::dynamic_pointer_cast<CustomCellForStyleInfo>(s->cellForRowAtIndexPath(*table, {1, 0}));
  EXPECT_EQ(cell->lbl_bundle().text(), "-");
  EXPECT_EQ(cell->lbl_color().backgroundColor(), ui::Color::gray());
  EXPECT_EQ(cell->lbl_atsStatus().backgroundColor(), ui::Color::red());

  // Text that is not JSON: its alert, and an empty list.
  f.t.server.setFault("GetStylesInfo", backoffice::Fault::badJson());
  search("ddd");
  EXPECT_TRUE(s->indexTitle().empty());
  EXPECT_EQ(table->numberOfSections(), 0);
  ASSERT_EQ(f.t.app.alerts().size(), 1u);
  EXPECT_EQ(f.t.app.alerts()[0].title, "JSON Error");
}

TEST_F(StyleSearch, AnItemListSizeRowOpensTheGridWithTheCartsLinesOfItsColour) {
  auto* s = openFromItemList({"400000000003", "400000000002", "400000000006"}, true);  // BLK L, BLK M, WHT M
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->searchBarView()->selectedScopeButtonIndex(), 1);
  search("TS100");
  ASSERT_EQ(s->indexTitle(), std::vector<std::string>{"TS100"});
  ASSERT_TRUE(f.t.h->chooseRow(*s->tableView(), {0, 1}));  // BLK M
  f.t.settle();
  ASSERT_EQ(f.t.topScreen()->nibName(), "MultiColorTableView");
  EXPECT_EQ(f.t.topScreen()->navigationController(), s->navigationController());  // pushed
  const json lines = json::parse(R"([
      {"Barcode":"400000000003","Color":"BLK","SizeCode":"L","Price":"8.50","Qty":"1"},
      {"Barcode":"400000000002","Color":"BLK","SizeCode":"M","Price":"8.50","Qty":"1"}])");
  EXPECT_EQ(RecordingGrid::got, (json::array({{"kind", "UPC"}, {"color", "BLK"}, {"style", "TS100"},
                                              {"lines", lines}, {"fromSearch", true}})));
  EXPECT_TRUE(f.t.app.delegate->globalSO().manualBarcode.empty());

  // A colour with no line in the cart: the grid gets none.
  s->navigationController()->popViewControllerAnimated(false);
  f.t.settle();
  RecordingGrid::got = json::array();
  ASSERT_TRUE(f.t.h->chooseRow(*s->tableView(), {0, 9}));  // NVY
  f.t.settle();
  EXPECT_EQ(RecordingGrid::got[3], (json{"lines", json::array()}));
}

TEST_F(StyleSearch, FromTheStyleLookUpEveryRowHandsItsCodeBack) {
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  ASSERT_TRUE(f.t.h->tap(f.t.h->findLabel("Manual")));
  f.t.settle();
  auto* s = f.t.top<StyleInfoTableViewController>();
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->isOrderScanMode());
  chooseScope(1);
  search("pl300");
  EXPECT_EQ(f.t.server.received("GetStylesInfo").back().param("IsOrderScanMode"), "0");
  ASSERT_TRUE(f.t.h->chooseRow(*s->tableView(), {0, 0}));  // a size: no grid here
  f.t.settle();
  EXPECT_EQ(f.t.topScreen(), lookup);
  EXPECT_TRUE(RecordingGrid::got.empty());
  EXPECT_EQ(f.t.app.delegate->globalSO().manualBarcode, "400000000025");
}

}  // namespace
}  // namespace orvo
