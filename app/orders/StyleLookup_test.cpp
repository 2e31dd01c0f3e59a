// The style look-up against the back office on loopback: paging the colours, the stock
// grid, records that are errors, and the pictures of the record shown.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/StyleInfoTableViewController.h"
#include "app/orders/StyleLookupViewController.h"
#include "app/orders/ZMImageSliderViewController.h"
#include "platform/ui/Animation.h"
#include "testing/app/StyleTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using test_support::StyleHarness;

std::string text(StyleLookupViewController* s, const char* outlet) { return s->label(outlet)->text(); }

// A left swipe (content from the right) or a right swipe over the upper part of the screen.
void swipe(StyleHarness& f, bool left) {
  ui::Point a{260, 150}, b{60, 150};
  f.t.h->window().drag(left ? a : b, left ? b : a);
  f.t.settle();
}

json record(const std::string& color, const std::string& sizes) {
  return {{"Error", nullptr}, {"Type", "UPC"},   {"Style", "ZZ1"}, {"Color", color}, {"Status", "ACTIVE"},
          {"SizeList", sizes}, {"Atses", 1},     {"Otses", 1},     {"Atas", 1},      {"AtsStatus", true}};
}

TEST(StyleLookup, ThreeColoursArePagedBySwipesWithoutWrapping) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  f.scan("400000000026");  // PL300 WHT S
  const auto call = f.t.server.received("GetStyleLookup").back();
  EXPECT_EQ(call.params, (std::vector<std::pair<std::string, std::string>>{{"Barcode", "400000000026"}, {"WH", ""}}));
  ASSERT_EQ(lookup->itemsArray().size(), 3u);
  EXPECT_EQ(lookup->lbl_more()->text(), "1/3");
  EXPECT_FALSE(lookup->btn_more()->isHidden());
  EXPECT_EQ(text(lookup, "lbl_content_style"), "PL300");
  EXPECT_EQ(text(lookup, "lbl_content_color"), "WHT");
  EXPECT_EQ(text(lookup, "lbl_content_status"), "ACTIVE");
  EXPECT_EQ(lookup->label("lbl_content_status")->backgroundColor(), ui::Color::blue());
  EXPECT_EQ(text(lookup, "lbl_title_type"), "Size  ");
  EXPECT_EQ(text(lookup, "lbl_content_type_bundle_sizecat"), "S5");
  EXPECT_EQ(text(lookup, "lbl_content_price1"), "17.00");
  EXPECT_EQ(text(lookup, "lbl_content_sizelist"), "   XS    S    M    L   XL");
  EXPECT_EQ(text(lookup, "lbl_content_atslist"), "   14   17   20   23   21");
  EXPECT_EQ(text(lookup, "lbl_content_atses"), "95");
  EXPECT_EQ(text(lookup, "lbl_content_warehouse"), "");
  EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 1);  // listening again

  swipe(f, false);  // nothing before the first colour
  EXPECT_EQ(lookup->itemIdx(), 0);
  ui::AnimationLog::shared().clear();
  swipe(f, true);
  EXPECT_EQ(lookup->lbl_more()->text(), "2/3");
  EXPECT_EQ(text(lookup, "lbl_content_color"), "GRN");
  ASSERT_FALSE(ui::AnimationLog::shared().records().empty());
  EXPECT_EQ(ui::AnimationLog::shared().records().back().subject, "showSecondViewController");
  swipe(f, true);
  swipe(f, true);  // nothing after the last
  EXPECT_EQ(lookup->lbl_more()->text(), "3/3");
  EXPECT_EQ(text(lookup, "lbl_content_color"), "NVY");

  // The colour picker: swipes do nothing while it is open; Done on another colour shows it.
  ASSERT_TRUE(f.t.h->tap(lookup->btn_more()));
  f.t.settle();
  EXPECT_FALSE(lookup->gestureFlag());
  EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 0);
  swipe(f, false);
  EXPECT_EQ(lookup->itemIdx(), 2);
  EXPECT_EQ(lookup->colorPickerView()->titleForRow(0, 0), "WHT");
  f.t.h->choosePickerRow(*lookup->colorPickerView(), 0);
  ASSERT_TRUE(f.t.h->tapText("Done"));
  f.t.settle();
  EXPECT_EQ(lookup->lbl_more()->text(), "1/3");
  EXPECT_TRUE(lookup->gestureFlag());
  EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 1);
  EXPECT_EQ(ui::AnimationLog::shared().records().back().subject, "animateOpacity");
  // Done on the colour already shown only closes the picker.
  ASSERT_TRUE(f.t.h->tap(lookup->btn_more()));
  f.t.settle();
  ui::AnimationLog::shared().clear();
  ASSERT_TRUE(f.t.h->tapText("Done"));
  f.t.settle();
  EXPECT_EQ(lookup->itemIdx(), 0);
  for (const auto& r : ui::AnimationLog::shared().records()) EXPECT_NE(r.subject, "animateOpacity");

  // A style of one colour: no counter, no More, swipes do nothing.
  f.scan("HD400");
  EXPECT_EQ(lookup->itemsArray().size(), 2u);
  f.t.server.setFault("GetStyleLookup", backoffice::Fault::result(json::array({record("ONE", "")}).dump()));
  f.scan("ZZ1");
  EXPECT_TRUE(lookup->lbl_more()->isHidden());
  EXPECT_TRUE(lookup->btn_more()->isHidden());
  swipe(f, true);
  EXPECT_EQ(text(lookup, "lbl_content_color"), "ONE");
}

TEST(StyleLookup, StockGridTakesFiftyPointsPerSizeAndPointsAtMoreSizes) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  struct Case {
    const char* name;
    std::string sizes;
    double width;
    bool arrow;
  };
  const Case cases[] = {{"25 characters", std::string(25, 'x'), 250, false},
                        {"27 characters", std::string(27, 'x'), 250, false},
                        {"30 characters", std::string(30, 'x'), 300, true},
                        {"none", "", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.t.server.setFault("GetStyleLookup", backoffice::Fault::result(json::array({record("C", c.sizes)}).dump()));
    f.scan("ZZ1");
    EXPECT_EQ(lookup->getSizeCount(c.sizes), int(c.width / 50));
    EXPECT_EQ(lookup->sv_stock()->contentSize().width, c.width);
    EXPECT_EQ(lookup->iv_stock_arrow()->isHidden(), !c.arrow);
    if (c.arrow) {
      EXPECT_EQ(lookup->iv_stock_arrow()->image()->name(), "stock-forward-100.png");
    }
  }
  f.t.server.clearFaults();

  // Six sizes from the catalogue: scrolled to the end the arrow turns back, and forward again.
  f.scan("400000000013");  // TS200 RED
  ASSERT_EQ(text(lookup, "lbl_content_sizelist").size(), 30u);
  auto* grid = lookup->sv_stock();
  const ui::Point mid = grid->convertToWindow({grid->bounds().midX(), grid->bounds().midY()});
  f.t.h->window().drag(mid, {mid.x - 120, mid.y});
  f.t.settle();
  EXPECT_EQ(grid->contentOffset().x, 50);
  EXPECT_EQ(lookup->iv_stock_arrow()->image()->name(), "stock-back-100.png");
  f.t.h->window().drag(mid, {mid.x + 30, mid.y});
  f.t.settle();
  EXPECT_EQ(lookup->iv_stock_arrow()->image()->name(), "stock-forward-100.png");
}

TEST(StyleLookup, FiguresAreColouredByTheirSign) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  struct Case {
    json otses, atas, atsStatus;
    const char* status;
    const char* type;
    ui::Color ots, ata, ats, statusColor;
    const char* caption;
  };
  const ui::Color blue = ui::Color::blue(), red = ui::Color::red();
  const Case cases[] = {{0, -1, false, "active", "upc", red, red, red, red, "Bundle  "},
                        {1, "1", true, "ACTIVE", "UPC", blue, blue, blue, blue, "Size  "},
                        {-3, 0, "False", "INACTIVE", "Prepack", red, red, red, red, "Bundle  "}};
  for (const auto& c : cases) {
    json r = record("C", "");
    r.update({{"Otses", c.otses}, {"Atas", c.atas}, {"AtsStatus", c.atsStatus}, {"Status", c.status},
              {"Type", c.type}, {"Bundle", "PK1"}, {"SizeCode", "S4"}});
    f.t.server.setFault("GetStyleLookup", backoffice::Fault::result(json::array({r}).dump()));
    f.scan("ZZ1");
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(lookup->label("lbl_content_otses")->backgroundColor(), c.ots);
    EXPECT_EQ(lookup->label("lbl_content_atas")->backgroundColor(), c.ata);
    EXPECT_EQ(lookup->label("lbl_content_atses")->backgroundColor(), c.ats);
    EXPECT_EQ(lookup->label("lbl_content_status")->backgroundColor(), c.statusColor);
    EXPECT_EQ(text(lookup, "lbl_title_type"), c.caption);
    EXPECT_EQ(text(lookup, "lbl_content_type_bundle_sizecat"), std::string(c.caption) == "Size  " ? "S4" : "PK1");
  }
}

TEST(StyleLookup, AnErrorRecordClearsTheScreenAndShowsItsText) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  f.scan("400000000002");
  ASSERT_EQ(text(lookup, "lbl_content_style"), "TS100");
  ASSERT_TRUE(f.waitFor([&] { return lookup->iv_image_front()->image() != nullptr; }));

  f.scan("999");
  ASSERT_EQ(f.t.alertMessages(), std::vector<std::string>{"No style information was found for 999."});
  EXPECT_EQ(f.t.app.alerts()[0].title, "Orvo Mobile");
  EXPECT_EQ(text(lookup, "lbl_content_style"), "");
  EXPECT_EQ(text(lookup, "lbl_content_sizelist"), "");
  EXPECT_EQ(lookup->label("lbl_content_status")->backgroundColor(), ui::Color::black());
  EXPECT_EQ(lookup->iv_image_front()->image(), nullptr);
  EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 0);  // until OK
  f.t.press("OK");
  EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 1);

  // A record without "Error" counts as one; paging to it clears the screen as well.
  json good = record("A", "");
  json bad = record("B", "");
  bad.erase("Error");
  f.t.server.setFault("GetStyleLookup", backoffice::Fault::result(json::array({good, bad}).dump()));
  f.scan("ZZ1");
  EXPECT_EQ(text(lookup, "lbl_content_color"), "A");
  swipe(f, true);
  EXPECT_EQ(text(lookup, "lbl_content_color"), "");
  EXPECT_EQ(f.t.app.alerts().size(), 1u);
  f.t.press("OK");

  // An answer that is no list of records empties the screen without an alert of its own.
  for (const std::string result : {"[]", "{\"Error\":null}", "[1,2]"}) {
    SCOPED_TRACE(result);
    f.t.server.clearFaults();
    f.scan("400000000002");
    ASSERT_EQ(text(lookup, "lbl_content_style"), "TS100");
    f.t.server.setFault("GetStyleLookup", backoffice::Fault::result(result));
    f.scan("ZZ1");
    EXPECT_EQ(text(lookup, "lbl_content_style"), "");
    EXPECT_TRUE(f.t.app.alerts().empty());
    EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 1);
  }
}

TEST(StyleLookup, WarehouseModeSendsAndShowsTheOrdersWarehouse) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  f.t.app.delegate->settings().isStockWHMode = true;
  f.t.app.delegate->globalSO().warehouseCode = "WH1";
  f.scan("400000000002");
  EXPECT_EQ(f.t.server.received("GetStyleLookup").back().param("WH"), "WH1");
  EXPECT_EQ(text(lookup, "lbl_content_warehouse"), "WH1");
}

TEST(StyleLookup, PicturesAreProbedInOrderAndTheSliderOpensOnTheOnesFound) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  f.scan("400000000019");  // TS200 BLK: only the style-wide front picture exists
  ASSERT_TRUE(f.waitFor([&] { return lookup->iv_image_front()->image() != nullptr; }));
  // Front and back are probed side by side, each in its own order.
  ASSERT_TRUE(f.waitFor([&] { return f.pictureRequests("TS200_back").size() == 1; }));
  std::vector<std::pair<std::string, int>> front, back;
  for (const auto& r : f.pictureRequests("TS200")) (r.first.find("_back") == std::string::npos ? front : back).push_back(r);
  using Seen = std::vector<std::pair<std::string, int>>;
  EXPECT_EQ(front, (Seen{{"TS200_BLK_front.jpg", 404},
                         {"TS200_BLK.jpg", 404},
                         {"TS200_front.jpg", 200},
                         {"TS200_front.jpg", 200}}));  // the probe, then the picture's load
  EXPECT_EQ(back, (Seen{{"TS200_BLK_back.jpg", 404}, {"TS200_back.jpg", 404}}));
  EXPECT_EQ(lookup->iv_image_back()->image(), nullptr);
  // The picture shown is the server's bytes, decoded.
  const auto* served = lookup->iv_image_front()->image().get();
  auto file = ui::Image::fromFile(std::string(KESTRA_BACKOFFICE_DATA) + "/styleimages/TS200_front.jpg");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(served->pixelWidth(), file->pixelWidth());
  EXPECT_EQ(served->rgba(), file->rgba());

  // A tap on the empty back view: the one picture there is, at its first page.
  ASSERT_TRUE(f.t.h->tap(lookup->iv_image_back()));
  ASSERT_TRUE(f.waitFor([&] { return f.t.top<ZMImageSliderViewController>() != nullptr; }));
  auto* slider = f.t.top<ZMImageSliderViewController>();
  EXPECT_EQ(slider->title(), "TS200");
  EXPECT_EQ(slider->imageSliderView()->sliderCells().size(), 1u);
  EXPECT_EQ(slider->displayLabel()->text(), "1\xEF\xBC\x8F" "1");
  ASSERT_TRUE(f.t.h->tapBarItem(slider->navigationItem().leftBarButtonItem()));  // Close
  f.t.settle();
  EXPECT_EQ(f.t.topScreen(), lookup);

  // A style and colour without any picture: the toast, no slider.
  f.scan("400000000044");  // HD400 BLK
  ASSERT_TRUE(f.t.h->tap(lookup->iv_image_front()));
  ASSERT_TRUE(f.waitFor([&] { return f.t.h->findText("There are no style images.") != nullptr; }));
  EXPECT_EQ(f.t.topScreen(), lookup);
  f.t.h->advance(1100ms);
  EXPECT_EQ(f.t.h->findText("There are no style images."), nullptr);
}

TEST(StyleLookup, ACodeChosenOnTheStyleSearchIsLookedUpWhenTheScreenReturns) {
  StyleHarness f;
  auto* lookup = f.openLookup();
  ASSERT_NE(lookup, nullptr);
  ASSERT_TRUE(f.t.h->tap(f.t.h->findLabel("Manual")));
  f.t.settle();
  auto* search = f.t.topScreen();
  ASSERT_EQ(search->nibName(), "StyleInfoTableViewController");
  EXPECT_EQ(f.t.app.devices->scanButtonModes().back(), 0);  // covered
  // Searched by style; the chosen row's code comes back and the search closes.
  auto& bar = *static_cast<StyleInfoTableViewController*>(search)->searchBarView();
  ASSERT_TRUE(f.t.h->chooseScope(bar, 1)) << f.t.h->dump();
  f.t.settle();
  ASSERT_TRUE(f.t.h->tapBarItem(search->navigationItem().rightBarButtonItem()));  // the search key
  f.t.h->deleteBackward(20);
  f.t.h->typeText("pl300");
  f.t.h->pressReturn();
  f.t.waitForRequests();
  ASSERT_TRUE(f.t.h->chooseRow(*static_cast<StyleInfoTableViewController*>(search)->tableView(), {0, 1}));
  f.t.settle();
  ASSERT_EQ(f.t.topScreen(), lookup);
  ASSERT_EQ(f.t.app.delegate->globalSO().manualBarcode, "400000000026");
  EXPECT_EQ(f.t.calls("GetStyleLookup"), 0);
  f.t.h->advance(200ms);
  f.t.waitForRequests();
  EXPECT_EQ(f.t.server.received("GetStyleLookup").back().param("Barcode"), "400000000026");
  EXPECT_TRUE(f.t.app.delegate->globalSO().manualBarcode.empty());
  EXPECT_EQ(text(lookup, "lbl_content_style"), "PL300");

  // Without camera mode there is no camera button and a shake does nothing; Back leaves.
  EXPECT_EQ(lookup->navigationItem().rightBarButtonItems().size(), 1u);
  f.t.h->shake();
  f.t.settle();
  EXPECT_EQ(f.t.topScreen(), lookup);
  // In camera-scanner mode a shake opens the camera scanner (a stand-in here, closed by the
  // test: it has no controls of its own).
  f.t.app.delegate->settings().isCameraScannerMode = true;
  f.t.h->shake();
  f.t.settle();
  EXPECT_EQ(f.t.topScreen()->nibName(), "CameraScanViewController");
  f.t.topScreen()->dismissViewControllerAnimated(false);
  f.t.settle();
  ASSERT_EQ(f.t.topScreen(), lookup);
  f.t.app.delegate->settings().newCustomerFlag = true;
  ASSERT_TRUE(f.t.h->tapBarItem(lookup->navigationItem().leftBarButtonItem()));  // Back
  f.t.settle();
  EXPECT_FALSE(f.t.app.delegate->settings().newCustomerFlag);
  EXPECT_NE(f.t.topScreen(), lookup);
}

}  // namespace
}  // namespace orvo
