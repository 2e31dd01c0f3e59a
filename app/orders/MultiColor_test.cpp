// The multi-colour grid against the back office: the rows of a style in its colours
// ("bundle") or sizes of a colour, the quantities the cart holds, the booking limits of the
// rows kept through any number of redraws, the prepack bar's count, and the merge of the
// grid's rows into the item list's cart; the colour picker of size items.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/CustomCellForMultiColor.h"
#include "app/orders/MultiColorTableView.h"
#include "app/orders/StyleInfoTableViewController.h"
#include "app/orders/ZMImageSliderViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Toolbar.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;
using namespace std::chrono_literals;

std::string text(const json& o, const char* key) {
  auto it = o.find(key);
  return it == o.end() || !it->is_string() ? std::string("?") : it->get<std::string>();
}

class MultiColor : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.defaults().setBool("MultiColorSoStatus", true);
    t.launch();
    list = t.walkToItemList("harbor o", {0, 0}, 0);
    ASSERT_NE(list, nullptr) << t.h->dump();
  }
  Settings& settings() { return t.app.delegate->settings(); }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
    t.app.dismissAlerts();
  }
  void save() {
    EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
    t.settle();
  }
  // The grid on top once its rows have come.
  MultiColorTableView* grid() {
    t.h->advance(100ms);
    t.waitForRequests();
    return t.top<MultiColorTableView>();
  }
  CustomCellForMultiColor* cell(MultiColorTableView& g, int row) {
    g.multiColorTableView()->scrollToRowAtIndexPath({0, row}, ui::ScrollPosition::Top, false);
    t.settle();
    return dynamic_cast<CustomCellForMultiColor*>(g.multiColorTableView()->cellForRowAtIndexPath({0, row}));
  }
  // A tap on the plus (or minus) half of a stepper of the grid, dragged into reach.
  bool step(ui::Stepper& stepper, bool plus = true) {
    auto* g = t.top<MultiColorTableView>();
    if (g && !t.h->isReachable(&stepper)) t.h->scrollIntoReach(*g->multiColorTableView(), &stepper);
    return t.h->tapAt(&stepper, {stepper.bounds().width() * (plus ? 0.75 : 0.25), stepper.bounds().height() / 2});
  }
  // Types `qty` over the quantity of `row`, as a user does.
  bool retypeQty(MultiColorTableView& g, int row, const std::string& qty) {
    auto* c = cell(g, row);
    if (!c) return false;
    t.h->scrollIntoReach(*g.multiColorTableView(), &c->txt_packQty());
    if (!t.h->type(&c->txt_packQty(), "")) return false;
    t.h->deleteBackward(int(c->txt_packQty().text().size()));
    t.h->typeText(qty);
    t.settle();
    return true;
  }
  // The grid opened by hand over the item list with these cart lines.
  MultiColorTableView* openGrid(const std::string& kind, const std::string& color, const json& lines) {
    auto screen = makeScreen("MultiColorTableView");
    auto* receiver = dynamic_cast<MultiColorReceiver*>(screen.get());
    if (!receiver) return nullptr;
    receiver->setKind(kind);
    receiver->setColor(color);
    receiver->setStyle("TS100");
    receiver->setOrderListArray(lines);
    presentInNewNavigation(*list, screen);
    t.settle();
    return grid();
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  OrderListViewController* list = nullptr;
};

TEST_F(MultiColor, APrepackIsEnteredInEveryColourOfItsStyleAndMergedIntoTheCart) {
  scan("500000000000");  // TS100 BLK prepack
  ASSERT_TRUE(list->isDetailShowing());
  ASSERT_FALSE(list->btn_multiColorButton()->isHidden());
  ASSERT_TRUE(t.h->tap(list->btn_multiColorButton()));
  t.settle();
  auto* g = grid();
  ASSERT_NE(g, nullptr) << t.h->dump();
  const auto call = t.server.received("GetMultiColorList").at(0);
  std::vector<std::string> names;
  for (auto& [k, v] : call.params) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"Type", "Color", "Style", "CustomerCode", "StoreCode", "PriceEditLevel",
                                             "PriceLevel", "OrderDiscountRate", "DupItemMode", "EditOrderNum",
                                             "OrderList", "WH"}));
  EXPECT_EQ(call.param("Type"), "bundle");
  EXPECT_EQ(call.param("Color"), "BLK");
  EXPECT_EQ(call.param("OrderList"), "");  // outside real-time mode
  const json& rows = g->listContent();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(text(rows[0], "Color"), "BLK");
  EXPECT_EQ(text(rows[0], "Qty"), "1");  // from the cart
  EXPECT_FALSE(rows[1].contains("Qty"));
  EXPECT_FALSE(g->prepackQtyView() && !g->prepackQtyView()->isHidden());

  auto* white = cell(*g, 1);
  ASSERT_NE(white, nullptr);
  EXPECT_EQ(white->lbl_color().text(), "WHT");
  EXPECT_EQ(white->lbl_PackOrUpcQty().text(), "Pack Qty");
  ASSERT_TRUE(t.h->type(&white->txt_packQty(), "2"));
  EXPECT_EQ(text(g->listContent()[1], "Qty"), "2");
  EXPECT_EQ(text(g->listContent()[1], "extPrice"), "102.00");  // 2 packs of 6 at 8.50
  EXPECT_EQ(white->lbl_unitQty().text(), "12");
  EXPECT_EQ(g->lbl_totalQty()->text(), "18");  // (1 + 2) packs of 6
  EXPECT_EQ(g->lbl_totalExtPrice()->text(), "$153.00");

  EXPECT_TRUE(t.h->tapBarItem(g->navigationItem().rightBarButtonItem()));  // NEXT
  t.settle();
  EXPECT_EQ(t.top<OrderListViewController>(), list);
  const json& cart = list->orderListArray();
  ASSERT_EQ(cart.size(), 2u);
  EXPECT_EQ(text(cart[0], "Barcode"), "500000000000");
  EXPECT_EQ(text(cart[1], "Barcode"), "500000000100");
  EXPECT_EQ(text(cart[1], "Qty"), "2");
  EXPECT_FALSE(list->isDetailShowing());

  // Back on the grid from the line: a colour set to 0 leaves the cart; the item on display
  // set to 0 stays at 0 until the save, which takes it out.
  list->orderListTableView()->reloadData();
  t.h->chooseRow(*list->orderListTableView(), {0, 0});
  t.settle();
  ASSERT_TRUE(t.h->tap(list->btn_multiColorButton()));
  t.settle();
  g = grid();
  ASSERT_NE(g, nullptr);
  ASSERT_TRUE(retypeQty(*g, 1, "0")) << t.h->dump();
  ASSERT_TRUE(retypeQty(*g, 2, "3")) << t.h->dump();  // NVY, new
  ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().rightBarButtonItem()));  // NEXT
  t.settle();
  std::vector<std::string> codes;
  for (const auto& l : list->orderListArray()) codes.push_back(text(l, "Barcode") + "x" + text(l, "Qty"));
  EXPECT_EQ(codes, (std::vector<std::string>{"500000000000x1", "500000000101x3"}));
}

TEST_F(MultiColor, SizesEnteredOnTheGridOfATypedSearchReachTheCart) {
  settings().isUpcSizeMode = true;  // the search offers sizes
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Manual")));
  t.settle();
  auto* search = t.top<StyleInfoTableViewController>();
  ASSERT_NE(search, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->type(&search->searchBarView()->searchField(), "TS100"));
  t.h->pressReturn();
  t.waitForRequests();
  ASSERT_EQ(search->indexTitle(), std::vector<std::string>{"TS100"});
  ASSERT_TRUE(t.h->chooseRow(*search->tableView(), {0, 1}));  // BLK M
  t.settle();
  auto* g = grid();
  ASSERT_NE(g, nullptr) << t.h->dump();
  auto* small = cell(*g, 0);
  auto* large = cell(*g, 2);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  ASSERT_TRUE(t.h->type(&small->txt_packQty(), "2"));
  ASSERT_TRUE(t.h->type(&large->txt_packQty(), "3"));
  t.settle();
  ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().rightBarButtonItem()));  // NEXT
  t.settle();
  t.waitForRequests();
  EXPECT_EQ(t.top<OrderListViewController>(), list) << t.h->dump();
  std::vector<std::string> lines;
  for (const auto& l : list->orderListArray())
    lines.push_back(text(l, "Style") + " " + text(l, "Color") + " " + text(l, "SizeCode") + " x" + text(l, "Qty"));
  EXPECT_EQ(lines, (std::vector<std::string>{"TS100 BLK S x2", "TS100 BLK L x3"}));
}

TEST_F(MultiColor, BookingLimitsOfTheRowsHoldThroughRedrawsAndBothWaysOfEntry) {
  for (bool realTime : {false, true}) {
    SCOPED_TRACE(realTime ? "real time" : "normal");
    settings().realtimeSoFlag = realTime;
    // TS100 WHT: S no limit, M 5, L 2, XL fully booked; the cart holds 1 of M.
    auto* g = openGrid("upc", "WHT", json::array({{{"Barcode", "400000000006"}, {"Color", "WHT"}, {"SizeCode", "M"},
                                                   {"Price", "8.50"}, {"Qty", "1"}}}));
    ASSERT_NE(g, nullptr) << t.h->dump();
    ASSERT_EQ(g->listContent().size(), 4u);
    // In real-time mode the server is told the cart's lines of the style.
    const std::string orderList = t.server.received("GetMultiColorList").back().param("OrderList");
    if (realTime)
      EXPECT_EQ(json::parse(orderList)[0]["MULTICOLOR"][0]["Qty"], "1");
    else
      EXPECT_EQ(orderList, "");
    // Normal mode: the server's 5 includes the cart's 1; real time: 5 beyond it.
    const int largestM = realTime ? 6 : 5;
    for (int redraw = 0; redraw < 3; ++redraw) {
      g->multiColorTableView()->reloadData();
      t.settle();
      auto* m = cell(*g, 1);
      ASSERT_NE(m, nullptr);
      EXPECT_TRUE(m->cellItemInfo().overbookingLimitFlag);
      EXPECT_EQ(m->cellItemInfo().overbookingLimit, largestM);
      EXPECT_FALSE(cell(*g, 0)->cellItemInfo().overbookingLimitFlag);
    }
    // Stepping M up to its largest, then once more: refused with the warning.
    auto* m = cell(*g, 1);
    for (int i = 1; i < largestM; ++i) ASSERT_TRUE(step(m->stepper_qty())) << t.h->dump();
    EXPECT_EQ(m->txt_packQty().text(), std::to_string(largestM));
    EXPECT_EQ(text(g->listContent()[1], "Qty"), std::to_string(largestM));
    EXPECT_EQ(text(g->listContent()[1], "OverBookingLimit"), "0");
    EXPECT_TRUE(t.app.alerts().empty());
    ASSERT_TRUE(step(m->stepper_qty()));
    t.settle();
    EXPECT_EQ(m->txt_packQty().text(), std::to_string(largestM));
    ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"All ATS has been booked.\n You can't order this item more."});
    t.press("OK");
    // Typing past L's limit is capped; XL, fully booked, goes back to 0.
    auto* l = cell(*g, 2);
    ASSERT_TRUE(t.h->type(&l->txt_packQty(), "9"));
    t.settle();
    EXPECT_EQ(l->txt_packQty().text(), "2");
    t.app.dismissAlerts();
    ASSERT_TRUE(retypeQty(*g, 3, "1")) << t.h->dump();
    EXPECT_EQ(text(g->listContent()[3], "Qty"), "0");
    t.app.dismissAlerts();
    // Lowering gives the quantity back, and redraws change nothing.
    ASSERT_TRUE(retypeQty(*g, 1, "2")) << t.h->dump();
    g->multiColorTableView()->reloadData();
    EXPECT_EQ(cell(*g, 1)->cellItemInfo().overbookingLimit, largestM);
    EXPECT_EQ(text(g->listContent()[1], "OverBookingLimit"), std::to_string(largestM - 2));
    ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().leftBarButtonItem()));  // Back
    t.settle();
  }
}

TEST_F(MultiColor, ALimitNearTheLargestNumberLeavesTheRowBookable) {
  settings().realtimeSoFlag = true;
  t.server.withState([](backoffice::State& s) {
    s.catalogue.pricing["overBooking"]["400000000006"] = {{"limit", 2147483647}, {"msg", ""}};
  });
  auto* g = openGrid("upc", "WHT", json::array({{{"Barcode", "400000000006"}, {"Color", "WHT"}, {"SizeCode", "M"},
                                                 {"Price", "8.50"}, {"Qty", "1"}}}));
  ASSERT_NE(g, nullptr) << t.h->dump();
  auto* m = cell(*g, 1);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->cellItemInfo().overbookingLimitFlag);
  EXPECT_EQ(m->cellItemInfo().overbookingLimit, 2147483647);
  ASSERT_TRUE(t.h->type(&m->txt_packQty(), "5"));
  t.settle();
  EXPECT_EQ(m->txt_packQty().text(), "15");
  EXPECT_EQ(text(g->listContent()[1], "Qty"), "15");
  EXPECT_TRUE(t.app.alerts().empty()) << t.alertMessages().at(0);
  ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().leftBarButtonItem()));  // Back
  t.settle();
}

TEST_F(MultiColor, ThePrepackBarCountsWholePrepacksOfTheCart) {
  settings().isUpcSizeModeInitialPrepackQty = true;
  struct Case {
    const char* name;
    int s, m, l, xl;
    const char* count;
    bool red;
  } cases[] = {{"even", 2, 4, 4, 2, "2", false},
               {"M no multiple of its ratio", 2, 3, 4, 2, "1", true},
               {"sizes of different counts", 1, 4, 4, 2, "1", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    json lines = json::array();
    const std::pair<const char*, int> sizes[] = {{"S", c.s}, {"M", c.m}, {"L", c.l}, {"XL", c.xl}};
    for (auto [size, qty] : sizes)
      lines.push_back({{"Barcode", "x"}, {"Color", "BLK"}, {"SizeCode", size}, {"Price", "8.50"}, {"Qty", std::to_string(qty)}});
    auto* g = openGrid("upc", "BLK", lines);
    ASSERT_NE(g, nullptr);
    ASSERT_TRUE(g->hasUPCprepackInfo());
    EXPECT_FALSE(g->prepackQtyView()->isHidden());
    EXPECT_EQ(g->lbl_prepackRatio()->text(), "S/M/L/XL (1/2/2/1)");
    EXPECT_EQ(g->txt_prepackQty()->text(), c.count);
    EXPECT_EQ(g->txt_prepackQty()->textColor() == ui::Color::red(), c.red);
    // The prepack stepper sets every size by its ratio.
    ASSERT_TRUE(step(*g->stepper_prepackQty())) << t.h->dump();
    t.settle();
    const int packs = std::stoi(c.count) + 1;
    EXPECT_EQ(text(g->listContent()[1], "Qty"), std::to_string(2 * packs));
    EXPECT_EQ(text(g->listContent()[3], "Qty"), std::to_string(packs));
    ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().leftBarButtonItem()));  // Back
    t.settle();
  }
}

TEST_F(MultiColor, ASizeItemInSizeModeChoosesItsColourFirst) {
  settings().isUpcSizeMode = true;
  scan("400000000006");  // TS100 WHT M: the colour picker comes at once, quantity 0
  ASSERT_NE(list->colorPickerView(), nullptr);
  EXPECT_EQ(list->multiColorUpcArray(), (std::vector<std::string>{"BLK", "WHT", "NVY"}));
  EXPECT_EQ(list->colorPickerView()->selectedRowInComponent(0), 1);
  EXPECT_EQ(list->txt_Qty()->text(), "0");
  EXPECT_TRUE(list->orderListArray().empty());
  // Cancel with quantity 0: the fresh item is dropped.
  ASSERT_TRUE(t.h->tapText("Cancel")) << t.h->dump();  // above the colour wheel
  t.settle();
  EXPECT_TRUE(list->orderListArray().empty());
  EXPECT_FALSE(list->isDetailShowing());

  scan("400000000006");
  ASSERT_TRUE(t.h->choosePickerRow(*list->colorPickerView(), 2, 0));  // NVY: another colour than the item's
  ASSERT_TRUE(t.h->tapText("Done")) << t.h->dump();
  t.settle();
  auto* g = grid();
  ASSERT_NE(g, nullptr) << t.h->dump();
  EXPECT_EQ(t.server.received("GetMultiColorList").back().param("Color"), "NVY");
  ASSERT_TRUE(retypeQty(*g, 0, "2")) << t.h->dump();  // NVY S
  ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().rightBarButtonItem()));  // NEXT
  t.settle();
  // The item on display, WHT M, keeps its quantity (0, so it is not taken); NVY S is added.
  ASSERT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(text(list->orderListArray()[0], "Barcode"), "400000000009");
  EXPECT_EQ(text(list->orderListArray()[0], "Qty"), "2");
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

TEST_F(MultiColor, RowsTellOfEarlierOrdersAndBookingMessages) {
  t.server.withState([](backoffice::State& s) {
    s.catalogue.pricing["history"]["C1001"]["400000000007"] = {
        {"BeforeTotal", 4}, {"BeforeTime", 2}, {"BeforeOrderNum", "SO10042"}, {"InvDateAndQty", json::array()}};
  });
  settings().previousOrderFlag = true;
  settings().overBookingFlag = true;
  auto* g = openGrid("upc", "WHT", json::array());
  ASSERT_NE(g, nullptr);
  auto* table = g->multiColorTableView();
  // WHT L: an earlier order and a booking message; WHT M: neither.
  EXPECT_EQ(g->heightForRowAtIndexPath(*table, {0, 2}), 89 + 14 + 14);
  EXPECT_EQ(g->heightForRowAtIndexPath(*table, {0, 1}), 89);
  auto* l = cell(*g, 2);
  ASSERT_NE(l, nullptr);
  EXPECT_FALSE(l->lbl_warning1().isHidden());
  EXPECT_EQ(l->lbl_warning1().text(), "Existing Sales Order : 2 \n Total Qty : 4");
  EXPECT_EQ(l->lbl_warning1().backgroundColor(), ui::Color::blue());
  EXPECT_EQ(l->lbl_warning2().text(), "TS100 WHT L: only 2 more can be booked.");
  auto* m = cell(*g, 1);
  EXPECT_TRUE(m->lbl_warning1().isHidden());
  EXPECT_TRUE(m->lbl_warning2().isHidden());
}

TEST_F(MultiColor, ChoosingARowOpensThePicturesOfItsStyleAndColour) {
  auto* g = openGrid("bundle", "", json::array());
  ASSERT_NE(g, nullptr);
  auto* table = g->multiColorTableView();
  int blk = -1, other = -1;
  for (int i = 0; i < int(g->listContent().size()); ++i)
    (text(g->listContent()[size_t(i)], "Color") == "BLK" ? blk : other) = i;
  ASSERT_GE(blk, 0);
  ASSERT_GE(other, 0);

  // TS100 BLK has a front and a back picture on the server.
  ASSERT_TRUE(t.h->chooseRow(*table, {0, blk}));
  ASSERT_TRUE(t.app.runUntil([&] { return t.top<ZMImageSliderViewController>() != nullptr; }));
  auto* slider = t.top<ZMImageSliderViewController>();
  EXPECT_EQ(slider->title(), "TS100");
  EXPECT_EQ(slider->imageSliderView()->sliderCells().size(), 2u);
  ASSERT_TRUE(t.h->tapBarItem(slider->navigationItem().leftBarButtonItem()));  // Close
  t.settle();
  EXPECT_EQ(t.topScreen(), g);

  // A colour without pictures: the toast, and the grid stays.
  ASSERT_TRUE(t.h->chooseRow(*table, {0, other}));
  ASSERT_TRUE(t.app.runUntil([&] { return t.h->findText("There are no style images.") != nullptr; }));
  EXPECT_EQ(t.topScreen(), g);
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

TEST_F(MultiColor, RowStepsStopAtTheLimitAndTheTextsFollowTheQuantity) {
  // TS100 WHT: S no limit, M 5, XL fully booked.
  struct Case {
    const char* name;
    int row;
    const char* start;
    int ups;
    const char* shown;
    int warnings;
  } cases[] = {{"limit 5 from 4", 1, "4", 2, "5", 1}, {"limit 0", 3, "0", 3, "0", 3}, {"no limit", 0, "4", 3, "7", 0}};
  auto* g = openGrid("upc", "WHT", json::array());
  ASSERT_NE(g, nullptr) << t.h->dump();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int warnings = 0;
    int token = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(&token, kShowOverbookedWarning, nullptr,
                                                                [&](const foundation::Notification&) { ++warnings; });
    ASSERT_TRUE(retypeQty(*g, c.row, c.start)) << t.h->dump();
    auto* row = cell(*g, c.row);
    ASSERT_NE(row, nullptr);
    for (int i = 0; i < c.ups; ++i) {
      ASSERT_TRUE(step(row->stepper_qty())) << t.h->dump();
      t.settle();
      if (!t.app.alerts().empty()) t.press("OK");
    }
    foundation::NotificationCenter::defaultCenter().removeObserver(&token);
    EXPECT_EQ(row->txt_packQty().text(), c.shown);
    EXPECT_EQ(warnings, c.warnings);
  }
}

TEST_F(MultiColor, RowPiecesExtendedPriceAndStockColours) {
  // Packs of 6 at 8.50: the quantity without its leading zeros, the pieces and their price.
  auto* g = openGrid("bundle", "", json::array());
  ASSERT_NE(g, nullptr) << t.h->dump();
  ASSERT_TRUE(retypeQty(*g, 1, "007")) << t.h->dump();
  auto* pack = cell(*g, 1);
  ASSERT_NE(pack, nullptr);
  EXPECT_EQ(pack->txt_packQty().text(), "7");
  EXPECT_EQ(pack->lbl_unitQty().text(), "42");
  EXPECT_EQ(pack->lbl_extPrice().text(), "$357.00");
  ASSERT_TRUE(t.h->tapBarItem(g->navigationItem().leftBarButtonItem()));  // Back
  t.settle();

  // Single pieces: an emptied quantity is 0 after "Done", and pieces equal to the quantity
  // are not repeated. TS100 BLK S is out of stock and open to sell.
  g = openGrid("upc", "BLK", json::array());
  ASSERT_NE(g, nullptr) << t.h->dump();
  ASSERT_EQ(text(g->listContent()[0], "AtsStatus"), "False");
  ASSERT_EQ(text(g->listContent()[0], "OtsStatus"), "True");
  ASSERT_TRUE(retypeQty(*g, 0, "3")) << t.h->dump();
  auto* small = cell(*g, 0);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(small->lbl_unitQty().text(), "");
  t.h->deleteBackward();
  EXPECT_EQ(small->txt_packQty().text(), "");
  ASSERT_TRUE(t.h->tapText("Done")) << t.h->dump();  // above the number pad
  EXPECT_EQ(small->txt_packQty().text(), "0");
  EXPECT_EQ(small->lbl_unitQty().text(), "");
  EXPECT_EQ(small->lbl_ats_status().textColor(), ui::Color::red());
  EXPECT_EQ(small->lbl_ots_status().textColor(), ui::Color::blue());
}

}  // namespace
}  // namespace orvo
