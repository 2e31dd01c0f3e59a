// The pick-up screen against the back office on loopback: items grouped by bin, rows and
// their grids, taps, the scan overlay, and the "False" answer.
#include "app/picking/PickUpViewController.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "testing/app/PickingTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::PickingHarness;

class PickUpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(t.started); }
  PickUpTableViewCell* cellAt(PickUpViewController& s, ui::IndexPath ip) {
    s.pickTableView()->scrollToRowAtIndexPath(ip, ui::ScrollPosition::Top, false);
    t.app.delegate->window->layoutIfNeeded();
    return dynamic_cast<PickUpTableViewCell*>(s.pickTableView()->cellForRowAtIndexPath(ip));
  }
  int shownColumns(const SizeQtyColumns& g) {
    int n = 0;
    for (const auto& l : g.sizes) n += !l->isHidden();
    return n;
  }
  PickingHarness t;
};

TEST_F(PickUpTest, ItemsAreGroupedByBinInAnswerOrderAndBinsAreMatchedAsPlainText) {
  // Pictures: the loader finds only "<style>.jpg" of PL300.
  std::vector<std::string> asked;
  auto picture = std::make_shared<ui::Image>(4, 4, std::vector<uint8_t>(64, 255));
  ui::ImageView::setImageLoader([&](const std::string& url, ui::ImageView::Completion done) {
    if (url.find("PL300") != std::string::npos) asked.push_back(url.substr(url.rfind('/') + 1));
    done(url.ends_with("/PL300.jpg") ? picture : nullptr);
  });
  struct Unset {
    ~Unset() { ui::ImageView::setImageLoader(nullptr); }
  } unset;
  auto s = t.openPickUp({"P26101", "P26102"});
  EXPECT_EQ(json::parse(t.server.received("GetPickupItems").at(0).param("jsonPickNo")), json({"P26101", "P26102"}));
  EXPECT_EQ(t.server.requests().back().path, "/Webservice/OrvoScanPackWebService.asmx");
  EXPECT_EQ(s->indexTitle(), (std::vector<std::string>{"B2", "A1", "C3", "A.1", "AX1", "B(2"}));
  auto* table = s->pickTableView();
  ASSERT_EQ(table->numberOfSections(), 6);
  const int rows[] = {2, 1, 1, 1, 1, 1};  // "A.1" does not take the item of "AX1"
  for (int i = 0; i < 6; ++i) EXPECT_EQ(table->numberOfRowsInSection(i), rows[i]) << i;
  EXPECT_TRUE(table->sectionIndexTitles().empty());
  EXPECT_EQ(s->lbl_styleQty()->text(), "7");
  EXPECT_EQ(s->lbl_pickQty()->text(), "20");
  EXPECT_FALSE(s->btn_saveButton()->isEnabled());

  // Row: labels, picture, grid of the item's sizes beside the picture.
  auto* cell = cellAt(*s, {0, 1});
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->lbl_bin->text(), "B2");
  EXPECT_EQ(cell->lbl_styleColor->text(), "PL300 / WHT");
  EXPECT_EQ(cell->lbl_pickNOs->text(), "P26101");
  EXPECT_EQ(cell->iv_image->imageURL(),
            "http://127.0.0.1:" + std::to_string(t.server.port()) + "/styleimages/resizeImages/PL300.jpg");
  EXPECT_EQ(cell->iv_image->image(), picture);
  EXPECT_EQ(asked, (std::vector<std::string>{"PL300_WHT_front.jpg", "PL300_WHT.jpg", "PL300_front.jpg", "PL300.jpg"}));
  EXPECT_EQ(shownColumns(cell->grid), 5);
  EXPECT_EQ(cell->grid.sizes[0]->text(), "XS");
  EXPECT_EQ(cell->grid.units[2]->text(), "1");
  const double w = cell->grid.sizes[0]->frame().size.width;
  EXPECT_EQ(cell->scview_qtyRow1().contentSize().width, w * 5 + 5);
  EXPECT_EQ(cell->scview_qtyRow1().frame().origin.x, cell->iv_image->frame().size.width);
  EXPECT_EQ(cell->scview_qtyRow1().superview(), cell);
  EXPECT_TRUE(cell->iv_picked->isHidden());
  EXPECT_EQ(cell->lbl_styleColor->textColor(), ui::Color::gray());

  // Swipes show and hide the bin index; a tap hides it.
  ASSERT_TRUE(t.h->swipe(s->lbl_styleQty(), ui::SwipeLeft));
  EXPECT_EQ(table->sectionIndexTitles(), s->indexTitle());
  ASSERT_TRUE(t.h->swipe(s->lbl_styleQty(), ui::SwipeRight));
  EXPECT_TRUE(table->sectionIndexTitles().empty());
  ASSERT_TRUE(t.h->swipe(s->lbl_styleQty(), ui::SwipeLeft));
  ASSERT_TRUE(t.h->chooseRow(*table, {2, 0}));
  EXPECT_FALSE(s->isShowIdx());
  EXPECT_TRUE(table->sectionIndexTitles().empty());
}

TEST_F(PickUpTest, BinsDifferingOnlyInCaseEachListTheItemsOfBoth) {
  t.server.withState([](backoffice::State& st) {
    st.catalogue.pickTickets["PickTickets"].push_back(json{
        {"PickNo", "P9"},
        {"Customer", "C1001"},
        {"Items", {{{"Bin", "a1"}, {"Style", "TS100"}, {"Color", "WHT"}, {"Units", {1}}},
                   {{"Bin", "A1"}, {"Style", "TS200"}, {"Color", "RED"}, {"Units", {1}}}}}});
  });
  auto s = t.openPickUp({"P9"});
  EXPECT_EQ(s->indexTitle(), (std::vector<std::string>{"a1", "A1"}));
  EXPECT_EQ(s->pickTableView()->numberOfRowsInSection(0), 2);
  EXPECT_EQ(s->pickTableView()->numberOfRowsInSection(1), 2);

  // Checking one item shows it checked in both sections; the counters count it once.
  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {1, 1}));
  EXPECT_EQ(s->listContent()[1]["IsChecked"], "True");
  EXPECT_EQ(s->lbl_styleQty()->text(), "2 - 1 checked");
  EXPECT_FALSE(cellAt(*s, {0, 1})->iv_picked->isHidden());
  EXPECT_FALSE(cellAt(*s, {1, 1})->iv_picked->isHidden());
}

TEST_F(PickUpTest, FalseAnswerAlertsAndClosesTheScreen) {
  t.server.setFault("GetPickupItems", backoffice::Fault::result("False"));
  auto s = t.openPickUp({"P26101"});
  EXPECT_EQ(t.alertTitles(), std::vector<std::string>{"There are some problems. please check it on Orvo."});
  EXPECT_EQ(s->pickTableView()->numberOfSections(), 0);
  ASSERT_TRUE(t.h->pressAlertButton("OK"));
  t.app.drain();
  EXPECT_NE(t.nav().topViewController(), s.get());
}

TEST_F(PickUpTest, EmptyAnswerGivesAnEmptyTable) {
  t.server.setFault("GetPickupItems", backoffice::Fault::result("[]"));
  auto s = t.openPickUp({"P26101"});
  EXPECT_TRUE(t.app.alerts().empty());
  EXPECT_EQ(s->pickTableView()->numberOfSections(), 0);
  ASSERT_TRUE(t.h->swipe(s->lbl_styleQty(), ui::SwipeLeft));
  EXPECT_TRUE(s->pickTableView()->sectionIndexTitles().empty());
  EXPECT_EQ(s->lbl_styleQty()->text(), "0");
}

TEST_F(PickUpTest, TapChecksOutrightWithoutScanVerificationAndUncheckAsksFirst) {
  t.app.delegate->settings().isPickScanVerification = false;
  auto s = t.openPickUp({"P26101"});
  auto* table = s->pickTableView();
  ASSERT_TRUE(t.h->chooseRow(*table, {0, 0}));  // B2 TS100 BLK
  EXPECT_FALSE(s->isScanViewOpen());
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "True");
  EXPECT_FALSE(s->listContent()[0].contains("ScannedUnitArray"));
  EXPECT_EQ(s->lbl_styleQty()->text(), "4 - 1 checked");
  EXPECT_EQ(s->lbl_pickQty()->text(), "14 - 0 checked");
  EXPECT_TRUE(s->btn_saveButton()->isEnabled());
  auto* cell = cellAt(*s, {0, 0});
  EXPECT_FALSE(cell->iv_picked->isHidden());
  EXPECT_EQ(cell->lbl_styleColor->backgroundColor(), ui::Color::rgb(0.15, 0.31, 0.07, 1.0));
  EXPECT_EQ(cell->lbl_styleColor->textColor(), ui::Color::whiteColor());

  ASSERT_TRUE(t.h->chooseRow(*table, {0, 0}));
  EXPECT_EQ(t.alertTitles(), std::vector<std::string>{"Are you sure want to uncheck this item?"});
  ASSERT_TRUE(t.h->pressAlertButton("No"));
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "True");
  ASSERT_TRUE(t.h->chooseRow(*table, {0, 0}));
  ASSERT_TRUE(t.h->pressAlertButton("Yes"));
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "False");
  EXPECT_EQ(s->lbl_styleQty()->text(), "4");
  EXPECT_FALSE(s->btn_saveButton()->isEnabled());
}

TEST_F(PickUpTest, ScanOverlayOpensOnTheTappedItemAndReusesItsGrid) {
  t.app.delegate->settings().isPickScanVerification = true;
  auto s = t.openPickUp({"P26101"});
  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {1, 0}));  // A1 TS200 RED, six sizes
  ASSERT_TRUE(s->isScanViewOpen());
  EXPECT_EQ(s->lbl_scanStyle()->text(), "TS200");
  EXPECT_EQ(s->lbl_scanColor()->text(), "RED");
  SizeQtyViewController* grid = s->view_scanSizeQty();
  ASSERT_NE(grid, nullptr);
  const double w = grid->grid().sizes[0]->frame().size.width;
  EXPECT_EQ(shownColumns(grid->grid()), 6);
  EXPECT_EQ(grid->scview_qtyRow().contentSize().width, w * 6 + 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(grid->grid().scanned[size_t(i)]->text(), "0");
    EXPECT_EQ(grid->grid().scanned[size_t(i)]->textColor(), ui::Color::red());
  }
  // The overlay covers the screen and its bar: rows can't be tapped under it.
  EXPECT_FALSE(t.h->chooseRow(*s->pickTableView(), {0, 0}));
  grid->scview_qtyRow().setContentOffset({80, 0});
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));
  EXPECT_FALSE(s->isScanViewOpen());
  EXPECT_EQ(s->listContent()[1]["IsChecked"], "False");  // nothing scanned

  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {2, 0}));  // C3 HD400 GRY, four sizes
  ASSERT_TRUE(s->isScanViewOpen());
  EXPECT_EQ(s->view_scanSizeQty(), grid);
  EXPECT_EQ(grid->scview_qtyRow().contentOffset().x, 0);
  EXPECT_EQ(grid->scview_qtyRow().contentSize().width, w * 4 + 4);
  EXPECT_EQ(shownColumns(grid->grid()), 4);
  EXPECT_EQ(s->lbl_scanStyle()->text(), "HD400");
}

}  // namespace
}  // namespace orvo
