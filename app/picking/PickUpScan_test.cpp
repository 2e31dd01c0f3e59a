// Scan verification on the pick-up screen against the back office on loopback: scans from
// the sleeve counted against the pick quantities, the alerts and the sleeve's scan button,
// typed quantities, closing the overlay, the counters and Check All, and two items of one
// style and colour in two bins.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/KestraDevices.h"
#include "app/picking/PickUpViewController.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/app/PickingTestSupport.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::PickingHarness;

// Barcodes of the sample data. P26101's bin B2 holds TS100 BLK with pick units 2, 1, 0, 0.
constexpr const char* kTs100BlackS = "400000000001";  // one unit of size S
constexpr const char* kTs100BlackPack = "1002795";    // one unit each of S and M
constexpr const char* kNotOnTheTickets = "400000000126";  // LG130 BLK
constexpr const char* kUnknown = "999";

json units(std::vector<int> v) {
  json a = json::array();
  for (size_t i = 0; i < 15; ++i) a.push_back(i < v.size() ? v[i] : 0);
  return a;
}

class PickUpScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.app.delegate->settings().isPickScanVerification = true;
  }
  // Confirms the alert on screen, which must have `title`.
  void confirm(const std::string& title) {
    ASSERT_EQ(t.alertTitles(), std::vector<std::string>{title});
    ASSERT_TRUE(t.h->pressAlertButton("OK"));
    t.app.drain();
  }
  std::vector<int> scanButton() { return t.app.devices->scanButtonModes(); }
  PickingHarness t;
};

TEST_F(PickUpScanTest, ScansGoFromPartialToTrueAndThenAreAllScannedAlready) {
  auto s = t.openPickUp({"P26101"});
  EXPECT_EQ(scanButton(), std::vector<int>{1});  // on while the screen shows
  EXPECT_EQ(t.app.delegate->navigationController->navigationBar().barTintColor(), ui::Color::blue());

  ASSERT_TRUE(t.scan(kTs100BlackPack));
  EXPECT_EQ(t.server.received("GetQtyByBarcode").back().param("barcode"), kTs100BlackPack);
  const json& item = s->listContent()[0];
  EXPECT_EQ(item["IsChecked"], "Partial");
  EXPECT_EQ(item["ScannedUnitArray"], units({1, 1}));
  ASSERT_TRUE(s->isScanViewOpen());
  EXPECT_EQ(s->lbl_scanStyle()->text(), "TS100");
  auto& grid = s->view_scanSizeQty()->grid();
  EXPECT_EQ(grid.scanned[0]->text(), "1");
  EXPECT_EQ(grid.scanned[0]->textColor(), ui::Color::red());   // 1 of 2
  EXPECT_EQ(grid.scanned[1]->textColor(), ui::Color::blue());  // 1 of 1
  EXPECT_EQ(s->lbl_styleQty()->text(), "4");
  EXPECT_EQ(s->lbl_pickQty()->text(), "14");

  ASSERT_TRUE(t.scan(kTs100BlackS));
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "True");
  EXPECT_EQ(s->listContent()[0]["ScannedUnitArray"], units({2, 1}));
  EXPECT_EQ(grid.scanned[0]->textColor(), ui::Color::blue());
  EXPECT_EQ(s->lbl_styleQty()->text(), "4 - 1 checked");
  EXPECT_EQ(s->lbl_pickQty()->text(), "14 - 3 checked");
  EXPECT_TRUE(s->btn_saveButton()->isEnabled());
  EXPECT_TRUE(t.app.alerts().empty());

  // One more: over the pick. The scan button is off while the alert shows.
  ASSERT_TRUE(t.scan(kTs100BlackS));
  EXPECT_EQ(s->listContent()[0]["ScannedUnitArray"], units({2, 1}));
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "True");
  EXPECT_TRUE(s->isScanViewOpen());
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0}));
  confirm("These all items are scanned already.");
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0, 1}));

  // Closing keeps it checked; leaving the screen turns the scan button off.
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "True");
  t.nav().popViewControllerAnimated(false);
  t.app.drain();
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0, 1, 0}));
  EXPECT_EQ(t.app.delegate->navigationController->navigationBar().barTintColor(), ui::Color::black());
}

TEST_F(PickUpScanTest, UnknownStyleOrBarcodeAlertsAndChangesNothing) {
  auto s = t.openPickUp({"P26101"});
  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {1, 0}));
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));
  const json before = s->listContent();
  const json selected = s->selectedItemDic();

  ASSERT_TRUE(t.scan(kNotOnTheTickets));
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0}));
  confirm("The scanned item is not listed. Please check and try again.");
  EXPECT_EQ(s->listContent(), before);
  EXPECT_EQ(s->selectedItemDic(), selected);
  EXPECT_FALSE(s->isScanViewOpen());

  ASSERT_TRUE(t.scan(kUnknown));
  confirm("There are some problems. Please check this barcode on Orvo.");
  EXPECT_EQ(s->listContent(), before);
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0, 1, 0, 1}));

  // The overlay's test scan sends the fixed code as a scan would.
  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {0, 0}));
  ASSERT_TRUE(t.h->tap(s->btn_testScanButton()));
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.server.received("GetQtyByBarcode").back().param("barcode"), "1002795");
  EXPECT_EQ(s->listContent()[0]["ScannedUnitArray"], units({1, 1}));
}

TEST_F(PickUpScanTest, TypedQuantitiesAreCappedAndSettleWhenTheOverlayCloses) {
  auto s = t.openPickUp({"P26101"});
  auto* table = s->pickTableView();
  ASSERT_TRUE(t.h->chooseRow(*table, {1, 0}));  // A1 TS200 RED: 0, 1, 2, 1, 0, 0
  auto& grid = s->view_scanSizeQty()->grid();
  ui::TextField* third = grid.scanned[2].get();
  EXPECT_EQ(third->tag(), 102);
  ASSERT_NE(s->accessoryToolbar(), nullptr);
  EXPECT_EQ(third->inputAccessoryView().get(), s->accessoryToolbar());
  EXPECT_EQ(s->accessoryToolbar()->items().back()->title(), "Done");

  ASSERT_TRUE(t.h->type(third, ""));
  t.h->deleteBackward();  // "" reads 0: allowed
  EXPECT_EQ(third->text(), "");
  t.h->typeText("3");
  EXPECT_EQ(third->text(), "");
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0}));
  confirm("You can enter the maxium Qty of 2");
  EXPECT_EQ(scanButton(), (std::vector<int>{1, 0, 1}));
  ASSERT_TRUE(t.h->type(third, "2"));
  EXPECT_EQ(third->text(), "2");

  // Done takes all fifteen fields; the state waits for the overlay to close.
  EXPECT_TRUE(t.h->tapBarItem(s->accessoryToolbar()->items().back()));
  EXPECT_EQ(s->listContent()[1]["ScannedUnitArray"], units({0, 0, 2}));
  EXPECT_EQ(s->listContent()[1]["IsChecked"], "False");
  EXPECT_EQ(third->textColor(), ui::Color::blue());
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));
  EXPECT_EQ(s->listContent()[1]["IsChecked"], "Partial");
  EXPECT_EQ(s->lbl_pickQty()->text(), "14");  // "Partial" is not checked

  // The rest typed: complete on close.
  ASSERT_TRUE(t.h->chooseRow(*table, {1, 0}));
  EXPECT_EQ(grid.scanned[2]->text(), "2");
  ASSERT_TRUE(t.h->type(grid.scanned[1].get(), "1"));
  ASSERT_TRUE(t.h->type(grid.scanned[3].get(), "1"));
  ASSERT_TRUE(t.h->tapBarItem(s->accessoryToolbar()->items().back()));  // Done
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));
  EXPECT_EQ(s->listContent()[1]["IsChecked"], "True");
  EXPECT_EQ(s->lbl_pickQty()->text(), "14 - 4 checked");

  // Opened on the checked item by a scan that is over, typed back to zeros: unchecked on
  // close, and the zeros stay.
  t.server.withState([](backoffice::State& st) {
    st.catalogue.pickTickets["Barcodes"].push_back(
        json{{"Barcode", "77"}, {"Style", "TS200"}, {"Color", "RED"}, {"Units", {0, 0, 1}}});
  });
  ASSERT_TRUE(t.scan("77"));
  confirm("These all items are scanned already.");
  ASSERT_TRUE(s->isScanViewOpen());
  for (size_t i : {1, 2, 3}) {
    ASSERT_TRUE(t.h->type(grid.scanned[i].get(), ""));
    t.h->deleteBackward(2);
  }
  ASSERT_TRUE(t.h->tapBarItem(s->accessoryToolbar()->items().back()));  // Done
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));
  EXPECT_EQ(s->listContent()[1]["IsChecked"], "False");
  EXPECT_EQ(s->listContent()[1]["ScannedUnitArray"], units({}));
}

TEST_F(PickUpScanTest, CheckAllSetsAndUncheckAllRemovesTheScannedUnits) {
  auto s = t.openPickUp({"P26101"});
  ASSERT_TRUE(t.h->tapBarItem(s->checkAllItem()));
  for (const auto& item : s->listContent()) {
    EXPECT_EQ(item["IsChecked"], "True");
    EXPECT_EQ(item["ScannedUnitArray"], item["UnitArray"]);
  }
  EXPECT_EQ(s->checkAllItem()->title(), "Uncheck All");
  EXPECT_EQ(s->checkAllItem()->tintColor(), ui::Color::red());
  EXPECT_EQ(s->lbl_styleQty()->text(), "4 - 4 checked");
  EXPECT_EQ(s->lbl_pickQty()->text(), "14 - 14 checked");

  ASSERT_TRUE(t.h->tapBarItem(s->checkAllItem()));
  for (const auto& item : s->listContent()) {
    EXPECT_EQ(item["IsChecked"], "False");
    EXPECT_FALSE(item.contains("ScannedUnitArray"));
  }
  EXPECT_EQ(s->checkAllItem()->title(), "Check All");
  EXPECT_EQ(s->checkAllItem()->tintColor(), ui::Color::green());
  EXPECT_EQ(s->lbl_styleQty()->text(), "4");
  EXPECT_FALSE(s->btn_saveButton()->isEnabled());
}

TEST_F(PickUpScanTest, TwoItemsOfOneStyleAndColourInTwoBinsKeepTheirOwnState) {
  // TS100 BLK: bin B2 picks 2, 1, 0, 0 (P26101); bin A.1 picks 1, 0, 1, 0 (P26102).
  auto s = t.openPickUp({"P26101", "P26102"});
  const size_t inB2 = 0, inA1 = 4;
  ASSERT_EQ(s->listContent()[inA1]["Bin"], "A.1");

  ASSERT_TRUE(t.scan(kTs100BlackS));
  ASSERT_TRUE(t.scan(kTs100BlackS));
  // B2 has both its S units: the third goes to A.1.
  ASSERT_TRUE(t.scan(kTs100BlackS));
  EXPECT_TRUE(t.app.alerts().empty());
  EXPECT_EQ(s->listContent().size(), 7u);
  EXPECT_EQ(s->listContent()[inB2]["Bin"], "B2");
  EXPECT_EQ(s->listContent()[inB2]["ScannedUnitArray"], units({2}));
  EXPECT_EQ(s->listContent()[inB2]["IsChecked"], "Partial");
  EXPECT_EQ(s->listContent()[inA1]["ScannedUnitArray"], units({1}));
  EXPECT_EQ(s->listContent()[inA1]["IsChecked"], "Partial");
  EXPECT_EQ(s->lbl_scanStyle()->text(), "TS100");
  EXPECT_EQ(s->selectedIndexPath(), (ui::IndexPath{3, 0}));
  ASSERT_TRUE(t.h->tap(s->btn_closeButton()));

  // Checked by a tap (no verification): only the tapped one changes.
  t.app.delegate->settings().isPickScanVerification = false;
  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {3, 0}));
  EXPECT_EQ(s->listContent()[inA1]["IsChecked"], "True");
  EXPECT_EQ(s->listContent()[inB2]["IsChecked"], "Partial");
  EXPECT_EQ(s->lbl_styleQty()->text(), "7 - 1 checked");

  // Back on B2 by scans: the one on screen takes them first.
  t.app.delegate->settings().isPickScanVerification = true;
  ASSERT_TRUE(t.h->chooseRow(*s->pickTableView(), {0, 0}));
  ASSERT_TRUE(t.scan("400000000002"));  // M
  EXPECT_EQ(s->listContent()[inB2]["IsChecked"], "True");
  EXPECT_EQ(s->listContent()[inB2]["ScannedUnitArray"], units({2, 1}));
  EXPECT_EQ(s->listContent()[inA1]["ScannedUnitArray"], units({1}));
  EXPECT_EQ(s->lbl_styleQty()->text(), "7 - 2 checked");
}

// The whole road of a scan: the simulated sleeve through the SDK and the application
// delegate to the pick-up screen and the back office.
TEST(PickUpSleeve, CodeScannedBySleeveIsCountedOnThePickUpScreen) {
  devices::SleeveTestBench bench;
  auto api = kestra::KXDevices::create(kestra::makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto sdk = kestra::OKTKXDevices::create(api, std::make_shared<kestra::KXChargingCaseStandIn>(),
                                          std::make_shared<kestra::KXDeviceAgentStandIn>());
  PickingHarness t(false);
  ASSERT_TRUE(t.started);
  OKTKXDevices::setShared(std::make_shared<KestraDevices>(sdk));
  ASSERT_TRUE(bench.sleeve->attach());
  t.launch();
  ASSERT_TRUE(t.app.runUntil([&] { return t.app.delegate->scanner().conn == CONN_CONNECTED; }));
  t.app.delegate->settings().isPickScanVerification = true;

  auto s = t.openPickUp({"P26101"});
  bench.sleeve->sendBarcode(kTs100BlackPack);
  ASSERT_TRUE(t.app.runUntil([&] {
    return !t.server.received("GetQtyByBarcode").empty() && !t.app.delegate->isActivityViewerShown();
  }));
  EXPECT_EQ(t.server.received("GetQtyByBarcode")[0].param("barcode"), kTs100BlackPack);
  EXPECT_EQ(s->listContent()[0]["IsChecked"], "Partial");
  EXPECT_TRUE(s->isScanViewOpen());
}

}  // namespace
}  // namespace orvo
