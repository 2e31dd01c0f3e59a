// The stock pop-up against the back office on loopback: what it asks for in each mode,
// the stock it shows, and its colours and arrow.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/ScreenNavigation.h"
#include "app/orders/AtsViewController.h"
#include "testing/app/StyleTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::StyleHarness;

// The pop-up for one item, presented over the root screen, with its request answered.
AtsViewController* openPopup(StyleHarness& f, const std::string& bundle, const std::string& caption,
                             const std::string& orderedQty = "3", const std::string& style = "TS100",
                             const std::string& color = "BLK", const std::string& barcode = "400000000002") {
  auto screen = std::dynamic_pointer_cast<AtsViewController>(makeScreen("AtsViewController"));
  if (!screen) return nullptr;
  screen->setBarcode(barcode);
  screen->setStyle(style);
  screen->setColor(color);
  screen->setOrderedQty(orderedQty);
  screen->setBundle(bundle);
  screen->setBundle_lbl(caption);
  presentInNewNavigation(*f.t.app.root, screen, false);
  f.t.waitForRequests();
  return screen.get();
}

TEST(StockPopup, RequestCarriesTheSizeTheOrderedQuantityAndTheWarehouseByMode) {
  StyleHarness f;
  struct Case {
    const char* name;
    bool realtime, warehouse;
    std::string bundle, caption, ordered;
    std::vector<std::pair<std::string, std::string>> params;
  };
  const std::string sizes = "[\n  {\n    \"M\": \"2\"\n  }\n]";
  const Case cases[] = {
      {"bundle item", false, false, "TS100-PP1", "Bundle  ", "2",
       {{"Barcode", "400000000002"}, {"Style", "TS100"}, {"Color", "BLK"}, {"SizeCode", ""}, {"OrderedQty", "0"},
        {"WH", ""}}},
      {"size, real time, warehouse", true, true, "M", "SizeCode  ", sizes,
       {{"Barcode", "400000000002"}, {"Style", "TS100"}, {"Color", "BLK"}, {"SizeCode", "M"}, {"OrderedQty", sizes},
        {"WH", "WH1"}}},
      {"size, real time, nothing in the cart", true, false, "M", "SizeCode  ", "[]",
       {{"Barcode", "400000000002"}, {"Style", "TS100"}, {"Color", "BLK"}, {"SizeCode", "M"}, {"OrderedQty", "[]"},
        {"WH", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.t.app.delegate->settings().realtimeSoFlag = c.realtime;
    f.t.app.delegate->settings().isStockWHMode = c.warehouse;
    f.t.app.delegate->globalSO().warehouseCode = "WH1";
    auto* popup = openPopup(f, c.bundle, c.caption, c.ordered);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(f.t.server.received("getATS").back().params, c.params);
    EXPECT_EQ(popup->label("lbl_ATS_bundle")->text(), c.bundle);
    EXPECT_EQ(popup->label("lbl_ATS_bundle_lbl")->text(), c.caption);
    EXPECT_EQ(popup->label("lbl_wh")->text(), c.warehouse ? "WH1" : "");
    ASSERT_TRUE(f.t.h->tapBarItem(popup->navigationItem().leftBarButtonItem()));  // Close
    f.t.settle();
    EXPECT_EQ(f.t.topScreen(), f.t.app.root.get());
  }
}

TEST(StockPopup, ShowsTheStockOfTheStyleAndColourBySize) {
  StyleHarness f;
  auto* popup = openPopup(f, "M", "SizeCode  ");
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->title(), "STOCK");
  EXPECT_EQ(popup->label("lbl_ATS_style")->text(), "TS100");
  EXPECT_EQ(popup->label("lbl_atsTitle")->text(), "    S    M    L   XL");
  EXPECT_EQ(popup->label("lbl_ats1")->text(), "   -5    3    6    9");
  EXPECT_EQ(popup->label("lbl_total_ats")->text(), "13");
  EXPECT_EQ(popup->label("lbl_total_ats")->backgroundColor(), ui::Color::blue());
  EXPECT_EQ(popup->sv_stock()->contentSize().width, 200);
  EXPECT_TRUE(popup->iv_stock_arrow()->isHidden());
  // Its pictures are the style and colour's, probed off the main thread.
  ASSERT_TRUE(f.waitFor([&] { return popup->iv_image_front()->image() && popup->iv_image_back()->image(); }));

  // A style and colour the server does not know: its text in the "Error" alert.
  ASSERT_TRUE(f.t.h->tapBarItem(popup->navigationItem().leftBarButtonItem()));  // Close
  f.t.settle();
  popup = openPopup(f, "M", "SizeCode  ", "0", "NOPE", "RED", "0");
  ASSERT_NE(popup, nullptr);
  ASSERT_EQ(f.t.alertMessages(), std::vector<std::string>{"No stock was found for NOPE RED."});
  EXPECT_EQ(f.t.app.alerts()[0].title, "Error");
  EXPECT_EQ(popup->label("lbl_atsTitle")->text(), "");
}

TEST(StockPopup, TotalsAreBlueAboveZeroAndTheGridFollowsTheSizes) {
  StyleHarness f;
  struct Case {
    json atses;
    std::string sizes;
    ui::Color colour;
    double width;
    bool arrow;
  };
  const ui::Color blue = ui::Color::blue(), red = ui::Color::red();
  const Case cases[] = {{0, std::string(30, 'x'), red, 300, true},
                        {-1, std::string(25, 'x'), red, 250, false},
                        {"x", std::string(29, 'x'), red, 250, false},
                        {1, "", blue, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.atses.dump() + " / " + std::to_string(c.sizes.size()));
    json answer{{"Response", "True"}, {"Atses", c.atses}, {"Otses", c.atses}, {"Atas", 5}, {"SizeList", c.sizes}};
    f.t.server.setFault("getATS", backoffice::Fault::result(answer.dump()));
    auto* popup = openPopup(f, "M", "SizeCode  ");
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->label("lbl_total_ats")->backgroundColor(), c.colour);
    EXPECT_EQ(popup->label("lbl_total_ots")->backgroundColor(), c.colour);
    EXPECT_EQ(popup->label("lbl_total_ata")->backgroundColor(), blue);
    EXPECT_EQ(popup->sv_stock()->contentSize().width, c.width);
    EXPECT_EQ(popup->iv_stock_arrow()->isHidden(), !c.arrow);
    if (c.arrow) {
      auto* grid = popup->sv_stock();
      const ui::Point mid = grid->convertToWindow({grid->bounds().midX(), grid->bounds().midY()});
      f.t.h->window().drag(mid, {mid.x - 120, mid.y});
      f.t.settle();
      EXPECT_EQ(popup->iv_stock_arrow()->image()->name(), "stock-back-100.png");
    }
    ASSERT_TRUE(f.t.h->tapBarItem(popup->navigationItem().leftBarButtonItem()));  // Close
    f.t.settle();
  }
}

}  // namespace
}  // namespace orvo
