// The pick-ticket screen against the back office on loopback: the list by customer and
// order, checking tickets, the counter and the next button, and the hand-over of the
// checked numbers to the pick-up screen.
#include "app/picking/PickTicketViewController.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/MainMenuViewController.h"
#include "app/customers/CustomerScreens.h"
#include "app/customers/CustomerViewController.h"
#include "testing/app/PickingTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::PickingHarness;

std::vector<std::string> pickNumbers(const json& list) {
  std::vector<std::string> out;
  for (const auto& row : list) out.push_back(row.value("PickNo", ""));
  return out;
}

class PickTicketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(t.started); }
  const backoffice::Call& lastPickList() {
    calls = t.server.received("GetPickList");
    return calls.back();
  }
  // A finger on segment `i` of the sort control.
  void tapSegment(PickTicketViewController& screen, int i) {
    auto* seg = screen.seg_sortby();
    ASSERT_TRUE(t.h->tapAt(seg, seg->segmentRect(i).center())) << t.h->dump();
  }
  // The other order of the sort control: the list is asked for again.
  void resort(PickTicketViewController& screen) { tapSegment(screen, screen.seg_sortby()->selectedSegmentIndex() == 0 ? 1 : 0); }
  void checkAll(PickTicketViewController& screen) { ASSERT_TRUE(t.h->tapBarItem(screen.checkAllItem())); }
  PickingHarness t;
  std::vector<backoffice::Call> calls;
};

TEST_F(PickTicketTest, AllPickSendsNoCustomerAndTheSortControlOrdersByCustomer) {
  auto screen = t.openTickets(std::nullopt);
  EXPECT_EQ(screen->title(), "Pick Ticket List");
  ASSERT_EQ(t.server.received("GetPickList").size(), 1u);
  EXPECT_EQ(lastPickList().params,
            (std::vector<std::pair<std::string, std::string>>{{"customer", ""}, {"orderbyCustomer", "0"}}));
  const auto requests = t.server.requests();
  EXPECT_EQ(requests.back().path, "/Webservice/OrvoScanPackWebService.asmx");
  EXPECT_EQ(pickNumbers(screen->listContent()), (std::vector<std::string>{"P26101", "P26102", "P26103", "P26104"}));
  EXPECT_EQ(screen->pickTableView()->numberOfRowsInSection(0), 4);
  // One ticket comes checked from the server.
  EXPECT_EQ(screen->lbl_pickQty()->text(), "4 - 1 checked");
  EXPECT_TRUE(screen->btn_nextButton()->isEnabled());

  // Check all, then the sort control: the list is asked for anew and the toggle is reset.
  checkAll(*screen);
  EXPECT_EQ(screen->checkAllItem()->title(), "Uncheck All");
  tapSegment(*screen, 1);
  EXPECT_EQ(screen->checkAllItem()->title(), "Check All");
  EXPECT_EQ(screen->checkAllItem()->tintColor(), ui::Color::green());
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(lastPickList().param("orderbyCustomer"), "1");
  EXPECT_EQ(pickNumbers(screen->listContent()), (std::vector<std::string>{"P26101", "P26103", "P26104", "P26102"}));
  EXPECT_EQ(screen->lbl_pickQty()->text(), "4 - 1 checked");
  tapSegment(*screen, 0);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(lastPickList().param("orderbyCustomer"), "0");
}

TEST_F(PickTicketTest, TapsAndCheckAllDriveTheCounterAndNextHandsOverTheNumbersInListOrder) {
  auto screen = t.openTickets("C1001");
  EXPECT_EQ(lastPickList().param("customer"), "C1001");
  ASSERT_EQ(pickNumbers(screen->listContent()), (std::vector<std::string>{"P26101", "P26103"}));
  auto* table = screen->pickTableView();
  EXPECT_EQ(screen->lbl_pickQty()->text(), "2 - 1 checked");

  // Unchecking the checked one leaves nothing to pick: Next is off.
  ASSERT_TRUE(t.h->chooseRow(*table, {0, 1}));
  EXPECT_EQ(screen->lbl_pickQty()->text(), "2");
  EXPECT_FALSE(screen->btn_nextButton()->isEnabled());
  EXPECT_EQ(screen->btn_nextButton()->backgroundColor(), ui::Color::rgb(0.5, 0.5, 0.5, 0.3));
  auto* cell = dynamic_cast<PickTicketTableViewCell*>(table->cellForRowAtIndexPath({0, 1}));
  ASSERT_NE(cell, nullptr);
  EXPECT_TRUE(cell->iv_checked->isHidden());
  EXPECT_EQ(cell->lbl_pickTime->backgroundColor(), ui::Color::gray());

  // Check All checks every row; Uncheck All unchecks every row.
  checkAll(*screen);
  EXPECT_EQ(screen->lbl_pickQty()->text(), "2 - 2 checked");
  EXPECT_EQ(screen->checkAllItem()->title(), "Uncheck All");
  EXPECT_EQ(screen->checkAllItem()->tintColor(), ui::Color::red());
  checkAll(*screen);
  EXPECT_EQ(screen->lbl_pickQty()->text(), "2");
  EXPECT_EQ(screen->checkAllItem()->title(), "Check All");

  // Checked one by one (the second first); the toggle stays as it was.
  ASSERT_TRUE(t.h->chooseRow(*table, {0, 1}));
  ASSERT_TRUE(t.h->chooseRow(*table, {0, 0}));
  EXPECT_EQ(screen->lbl_pickQty()->text(), "2 - 2 checked");
  EXPECT_EQ(screen->checkAllItem()->title(), "Check All");
  EXPECT_TRUE(screen->btn_nextButton()->isEnabled());
  EXPECT_EQ(screen->btn_nextButton()->backgroundColor(), ui::Color::rgb(0.15, 0.41, 0.07, 1.0));
  cell = dynamic_cast<PickTicketTableViewCell*>(table->cellForRowAtIndexPath({0, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_FALSE(cell->iv_checked->isHidden());
  EXPECT_EQ(cell->lbl_pickTime->backgroundColor(), ui::Color::rgb(0.15, 0.31, 0.07, 1.0));

  ASSERT_TRUE(t.h->tap(screen->btn_nextButton()));
  auto* pickUp = dynamic_cast<PickUpViewController*>(t.nav().topViewController());
  ASSERT_NE(pickUp, nullptr);
  ASSERT_TRUE(t.waitForRequests());
  auto sent = t.server.received("GetPickupItems");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(json::parse(sent[0].param("jsonPickNo")), json({"P26101", "P26103"}));
  EXPECT_EQ(pickUp->title(), "Pickup");

  // Back on the tickets, the checks are still there.
  t.nav().popViewControllerAnimated(false);
  t.app.drain();
  EXPECT_EQ(screen->lbl_pickQty()->text(), "2 - 2 checked");
}

TEST_F(PickTicketTest, RowWithoutCheckedStateShowsUncheckedAndTheFirstTapChecksIt) {
  t.server.setFault("GetPickList", backoffice::Fault::result(R"([{"Response":"True","PickNo":"P1"}])"));
  auto screen = t.openTickets(std::nullopt);
  EXPECT_EQ(screen->lbl_pickQty()->text(), "1");
  EXPECT_FALSE(screen->btn_nextButton()->isEnabled());
  ASSERT_TRUE(t.h->chooseRow(*screen->pickTableView(), {0, 0}));
  EXPECT_EQ(screen->listContent()[0]["IsChecked"], "True");
  EXPECT_EQ(screen->lbl_pickQty()->text(), "1 - 1 checked");
}

TEST_F(PickTicketTest, ServerErrorRowAlertsWithItsTextAndClosesTheScreen) {
  auto screen = t.openTickets("C1006");
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "There is no pick ticket for C1006.");
  EXPECT_EQ(alerts[0].message, "");
  EXPECT_EQ(alerts[0].buttons, std::vector<std::string>{"OK"});
  EXPECT_TRUE(screen->listContent().empty());
  EXPECT_EQ(screen->pickTableView()->numberOfRowsInSection(0), 0);
  ASSERT_TRUE(t.h->pressAlertButton("OK"));
  t.app.drain();
  EXPECT_NE(t.nav().topViewController(), screen.get());
}

TEST_F(PickTicketTest, AnEmptyOrUnreadableAnswerEmptiesTheListAndNextIsOff) {
  auto screen = t.openTickets(std::nullopt);
  checkAll(*screen);
  ASSERT_EQ(screen->lbl_pickQty()->text(), "4 - 4 checked");

  // An empty list is shown empty, without an alert.
  t.server.setFault("GetPickList", backoffice::Fault::result("[]"));
  resort(*screen);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_TRUE(t.app.alerts().empty());
  EXPECT_EQ(screen->pickTableView()->numberOfRowsInSection(0), 0);
  EXPECT_EQ(screen->lbl_pickQty()->text(), "0");
  EXPECT_FALSE(screen->btn_nextButton()->isEnabled());

  // A list again, then an answer that is not JSON: the old rows are not kept on screen.
  t.server.clearFaults();
  resort(*screen);
  ASSERT_TRUE(t.waitForRequests());
  ASSERT_EQ(screen->pickTableView()->numberOfRowsInSection(0), 4);
  t.server.setFault("GetPickList", backoffice::Fault::badJson());
  resort(*screen);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertTitles(), std::vector<std::string>{"JSON Error"});
  EXPECT_EQ(screen->pickTableView()->numberOfRowsInSection(0), 0);
  EXPECT_EQ(screen->lbl_pickQty()->text(), "0");
  EXPECT_FALSE(screen->btn_nextButton()->isEnabled());
  t.app.dismissAlerts();

  // A failed request leaves the list as it was.
  t.server.clearFaults();
  resort(*screen);
  ASSERT_TRUE(t.waitForRequests());
  t.server.setFault("GetPickList", backoffice::Fault::serverError());
  resort(*screen);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(screen->pickTableView()->numberOfRowsInSection(0), 4);
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].message, "Webservice Server Error : 500\n Please check your server.");
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// The customer list in scan-pack mode, reached from the main menu's pick button, opens the
// tickets of every customer ("All Pick") or of the customer chosen.
TEST(PickTicketRoad, MainMenuPickLeadsThroughTheCustomerListToTheTickets) {
  test_support::PickingHarness t;
  ASSERT_TRUE(t.started);
  registerCustomerScreens();
  t.nav().pushViewController(std::make_shared<MainMenuViewController>(), false);
  t.app.drain();
  t.app.delegate->window->layoutIfNeeded();
  ASSERT_TRUE(t.h->tapText("Pick"));
  ASSERT_TRUE(t.waitForRequests());
  auto* nav = dynamic_cast<ui::NavigationController*>(t.nav().presentedViewController());
  ASSERT_NE(nav, nullptr);
  auto* customers = dynamic_cast<CustomerViewController*>(nav->topViewController());
  ASSERT_NE(customers, nullptr);

  ASSERT_TRUE(t.h->tapText("All Pick"));
  ASSERT_TRUE(t.waitForRequests());
  auto* tickets = dynamic_cast<PickTicketViewController*>(nav->topViewController());
  ASSERT_NE(tickets, nullptr);
  EXPECT_EQ(tickets->customerID(), std::nullopt);
  EXPECT_EQ(tickets->listContent().size(), 4u);
  nav->popViewControllerAnimated(false);
  t.app.drain();
  t.app.delegate->window->layoutIfNeeded();

  t.h->typeText("Harbor");
  t.h->pressReturn();
  ASSERT_TRUE(t.waitForRequests());
  ASSERT_TRUE(t.h->chooseRow(*customers->tableView(), {0, 0}));
  ASSERT_TRUE(t.waitForRequests());
  tickets = dynamic_cast<PickTicketViewController*>(nav->topViewController());
  ASSERT_NE(tickets, nullptr);
  EXPECT_EQ(tickets->customerID(), "C1001");
  EXPECT_EQ(t.server.received("GetPickList").back().param("customer"), "C1001");
  EXPECT_EQ(tickets->listContent().size(), 2u);
}

}  // namespace
}  // namespace orvo
