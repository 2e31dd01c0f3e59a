// The real-time order against the back office on loopback: the server keeps the order line
// by line, and after every step its lines are the device's. A connection broken at any step
// leaves the device's cart as the user made it, tells the user, and the next whole-cart send
// brings the server back in step. Leaving the order unsaved deletes it on the server.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <tuple>

#include "platform/foundation/Clock.h"
#include "app/core/OrderBackup.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;
using namespace std::chrono_literals;
using Lines = std::vector<std::tuple<std::string, std::string, std::string>>;

std::string text(const json& o, const char* key) {
  auto it = o.find(key);
  return it == o.end() || !it->is_string() ? std::string("?") : it->get<std::string>();
}

class RealTimeOrder : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.defaults().setBool("RealtimeSoStatus", true);
    t.launch();
    list = t.walkToItemList("harbor o", {0, 0}, 0);
    ASSERT_NE(list, nullptr) << t.h->dump();
  }
  GlobalSO& so() { return t.app.delegate->globalSO(); }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  void next() {
    EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
    t.waitForRequests();
  }
  // Pulls the list down past its top and lets go, as a finger does (the refresh sends the
  // whole cart); the refresh ends half a second later.
  bool pull() {
    const bool pulled = t.h->swipe(list->orderListTableView(), ui::SwipeDown, 150);
    t.settle();
    return pulled;
  }
  void endRefresh() {
    t.h->advance(std::chrono::milliseconds(600));
    EXPECT_FALSE(list->orderListTableView()->refreshControl()->isRefreshing());
  }
  // (code, quantity, price) of every line, in code order.
  Lines deviceLines() {
    Lines out;
    for (const auto& l : list->orderListArray()) out.emplace_back(text(l, "Barcode"), text(l, "Qty"), text(l, "Price"));
    std::sort(out.begin(), out.end());
    return out;
  }
  std::optional<Lines> serverLines(const std::string& number) {
    json orders = t.serverOrders();
    if (!orders.contains(number)) return std::nullopt;
    Lines out;
    for (const auto& l : orders[number]["Items"]) out.emplace_back(text(l, "Barcode"), text(l, "Qty"), text(l, "Price"));
    std::sort(out.begin(), out.end());
    return out;
  }
  void expectInStep(const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_FALSE(so().orderNumber.empty());
    EXPECT_EQ(serverLines(so().orderNumber), deviceLines());
  }
  // One line of 400000000002 that the server holds too.
  void firstLine() {
    scan("400000000002");
    next();
    expectInStep("first line");
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  OrderListViewController* list = nullptr;
};

TEST_F(RealTimeOrder, FromTheFirstLineThroughUpdatesAndDeletesToLeavingItUnsaved) {
  scan("400000000002");
  // The first price request starts the order on the server; its number comes back.
  const std::string number = so().orderNumber;
  ASSERT_FALSE(number.empty());
  EXPECT_EQ(list->lbl_topOrderInfo()->text(), "SO# " + number + " \tPrice Level : 1");
  next();  // saved: the whole cart goes to the server
  ASSERT_EQ(t.calls("UpdateAllItemsForRealTime"), 1);
  const auto all = t.server.received("UpdateAllItemsForRealTime")[0];
  EXPECT_EQ(all.param("OrderNum"), number);
  EXPECT_EQ(json::parse(all.param("JsonItemsForRealtime")),
            json::parse(R"([{")" + number + R"(":{"Barcode":"400000000002","Qty":"1","Price":"8.50"}}])"));
  expectInStep("saved");

  scan("400000000002");  // one more of the line on display: that line alone is sent
  ASSERT_EQ(t.calls("UpdateItemInfoForRealTime"), 1);
  const auto one = t.server.received("UpdateItemInfoForRealTime")[0];
  EXPECT_EQ(one.params, (std::vector<std::pair<std::string, std::string>>{
                            {"OrderNumber", number}, {"Barcode", "400000000002"}, {"Price", "8.50"}, {"Qty", "2"}, {"WH", ""}}));
  expectInStep("per-line update");
  next();

  scan("500000000000");  // a prepack
  next();
  expectInStep("second line");
  ASSERT_EQ(list->orderListArray().size(), 2u);

  // A line deleted by swipe is deleted on the server at once.
  auto* table = list->orderListTableView();
  EXPECT_TRUE(t.h->swipeRow(*table, {0, 0}, ui::SwipeLeft));
  EXPECT_TRUE(t.h->tap(t.h->findLabel("Delete")));
  t.waitForRequests();
  ASSERT_EQ(t.calls("DeleteItemForRealTime"), 1);
  expectInStep("per-line delete");
  ASSERT_EQ(list->orderListArray().size(), 1u);

  // Leaving unsaved: the question names the order, the server deletes it, then the screen goes.
  EXPECT_TRUE(t.h->tapBarItem(list->backBarButtonItem()));
  t.settle();
  ASSERT_EQ(t.alertMessages(),
            std::vector<std::string>{"Are you sure you want to leave this page?\n SO#" + number + " will be deleted."});
  t.press("Yes");
  t.waitForRequests();
  ASSERT_EQ(t.calls("DeleteSoForRealTime"), 1);
  EXPECT_EQ(t.server.received("DeleteSoForRealTime")[0].param("OrderNumber"), number);
  EXPECT_EQ(serverLines(number), std::nullopt);
  EXPECT_EQ(so().orderNumber, "");
  EXPECT_EQ(t.top<OrderListViewController>(), nullptr);
}

TEST_F(RealTimeOrder, WithoutANumberTheSaveAsksForOneOnceThenSendsTheWholeCart) {
  scan("400000000002");
  so().orderNumber.clear();  // as when the price answer brought no number
  t.server.setFault("GetNewSOnumberWithSOH", backoffice::Fault::held());
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));  // a save...
  t.settle();
  // A pull while the number is on its way cannot be made: the activity viewer covers the list.
  EXPECT_FALSE(pull()) << t.h->dump();
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  t.server.clearFaults();
  t.server.releaseHeld();
  t.waitForRequests();
  t.waitForRequests();
  EXPECT_EQ(t.calls("GetNewSOnumberWithSOH"), 1);
  const json head = json::parse(t.server.received("GetNewSOnumberWithSOH")[0].param("JsonSOHinfo"));
  EXPECT_EQ(head, (json{{"DivisionCode", "01"}, {"WarehouseCode", "WH1"}, {"LoginUser", "demo"},
                        {"CustomerCode", "C1001"}, {"StoreCode", "C1001-1"}, {"OrderType", so().orderTypeCode},
                        {"PriceLevel", "1"}}));
  ASSERT_GE(t.calls("UpdateAllItemsForRealTime"), 1);
  EXPECT_EQ(t.server.received("UpdateAllItemsForRealTime")[0].param("OrderNum"), so().orderNumber);
  expectInStep("new number, then all lines");
}

TEST_F(RealTimeOrder, ARefusedNumberKeepsTheCartOnTheDeviceAndSaysSo) {
  scan("400000000002");
  so().orderNumber.clear();
  t.server.setFault("GetNewSOnumberWithSOH", backoffice::Fault::result("0"));
  next();
  EXPECT_EQ(t.alertMessages(),
            std::vector<std::string>{"There are some issues so your order will be saved after you tap the 'Save' button."});
  EXPECT_EQ(so().orderNumber, "");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(t.calls("UpdateAllItemsForRealTime"), 0);
}

// Each step of the order with the connection broken: what the user sees, and that the
// server comes back to the device's lines with the next send.
TEST_F(RealTimeOrder, ABrokenConnectionAtAnyStepLosesNothing) {
  struct Case {
    const char* name;
    const char* operation;
    backoffice::Fault fault;
    std::function<void(RealTimeOrder&)> step;
    const char* alert;  // the start of what the user is told
    bool changesCart = true;  // false: the step leaves the lines as they were
  };
  // Each step only starts its request; the test waits for its end below.
  auto more = [](RealTimeOrder& f) {
    f.t.app.devices->raiseBarcode("400000000002");
    f.t.settle();
  };
  auto swipeDelete = [](RealTimeOrder& f) {
    EXPECT_TRUE(f.t.h->swipeRow(*f.list->orderListTableView(), {0, 0}, ui::SwipeLeft));
    EXPECT_TRUE(f.t.h->tap(f.t.h->findLabel("Delete")));
    f.t.settle();
  };
  auto save = [](RealTimeOrder& f) {
    f.scan("500000000000");
    EXPECT_TRUE(f.t.h->tapBarItem(f.list->nextBarButtonItem()));
    f.t.settle();
  };
  // The save of a new line when the order has no number yet: the number is asked for first.
  auto saveWithoutNumber = [](RealTimeOrder& f) {
    f.scan("500000000000");
    f.so().orderNumber.clear();  // as when the price answer brought none
    EXPECT_TRUE(f.t.h->tapBarItem(f.list->nextBarButtonItem()));
    f.t.settle();
  };
  // Leaving the order unsaved: the server is asked to delete it.
  auto leave = [](RealTimeOrder& f) {
    EXPECT_TRUE(f.t.h->tapBarItem(f.list->backBarButtonItem()));
    f.t.settle();
    f.t.press("Yes");
    f.t.settle();
  };
  const Case cases[] = {
      {"new number, server error", "GetNewSOnumberWithSOH", backoffice::Fault::serverError(), saveWithoutNumber,
       "Webservice Server Error : 500"},
      {"new number, refused", "GetNewSOnumberWithSOH", backoffice::Fault::result("0"), saveWithoutNumber,
       "There are some issues so your order will be saved after you tap the 'Save' button."},
      {"new number, answer lost", "GetNewSOnumberWithSOH", backoffice::Fault::answerHeld(), saveWithoutNumber, ""},
      {"leaving, server error", "DeleteSoForRealTime", backoffice::Fault::serverError(), leave,
       "Webservice Server Error : 500", false},
      {"leaving, unreadable", "DeleteSoForRealTime", backoffice::Fault::badJson(), leave,
       "The order could not be deleted on the server.", false},
      {"leaving, answer lost", "DeleteSoForRealTime", backoffice::Fault::answerHeld(), leave, "", false},
      {"update, server error", "UpdateItemInfoForRealTime", backoffice::Fault::serverError(), more,
       "Webservice Server Error : 500"},
      {"update, refused", "UpdateItemInfoForRealTime", backoffice::Fault::responseValue("False"), more, ""},
      {"update, unreadable", "UpdateItemInfoForRealTime", backoffice::Fault::badJson(), more, ""},
      {"update, answer lost", "UpdateItemInfoForRealTime", backoffice::Fault::answerHeld(), more, ""},
      {"delete, server error", "DeleteItemForRealTime", backoffice::Fault::serverError(), swipeDelete,
       "Webservice Server Error : 500"},
      {"delete, answer lost", "DeleteItemForRealTime", backoffice::Fault::answerHeld(), swipeDelete, ""},
      {"whole cart, server error", "UpdateAllItemsForRealTime", backoffice::Fault::serverError(), save,
       "Webservice Server Error : 500"},
      {"whole cart, answer lost", "UpdateAllItemsForRealTime", backoffice::Fault::answerHeld(), save, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh order of one line, in step.
    list->orderListTableView()->reloadData();
    while (!list->orderListArray().empty()) {
      EXPECT_TRUE(t.h->swipeRow(*list->orderListTableView(), {0, 0}, ui::SwipeLeft));
      EXPECT_TRUE(t.h->tap(t.h->findLabel("Delete")));
      t.waitForRequests();
    }
    t.app.dismissAlerts();
    t.server.withState([&](backoffice::State& s) { s.salesOrders.erase(so().orderNumber); });
    so().orderNumber.clear();
    firstLine();
    const Lines before = deviceLines();

    t.server.setFault(c.operation, c.fault);
    c.step(*this);
    if (c.fault.holdAnswer) {
      ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
      ASSERT_TRUE(t.outwaitHeld(61s));  // the client gives up on the answer
    }
    t.waitForRequests();
    // The device keeps what the user did, in its backup too, and stays on the order; the
    // user is told.
    if (c.changesCart) {
      EXPECT_NE(deviceLines(), before);
    } else {
      EXPECT_EQ(deviceLines(), before);
    }
    EXPECT_EQ(OrderBackup::standard().values().value("backupOrderListArray", json()), json(list->orderListArray()));
    EXPECT_EQ(t.top<OrderListViewController>(), list);
    ASSERT_FALSE(t.app.alerts().empty());
    EXPECT_EQ(t.app.alerts().back().message.rfind(c.alert, 0), 0u) << t.app.alerts().back().message;
    EXPECT_TRUE(list->realTimeOutOfStep());
    const Lines kept = deviceLines();
    t.server.clearFaults();
    t.server.releaseHeld();

    // Whatever the prompt leads to, the next whole-cart send puts the server in step.
    while (!t.app.alerts().empty()) {
      t.press(t.app.alerts().back().buttons.front());
      t.waitForRequests();
    }
    // Next on the bar when it shows (an item on display); otherwise the pull to refresh of
    // the list, however short it is.
    if (list->realTimeOutOfStep()) {
      if (t.h->isReachable(list->nextBarButtonItem()->barView())) {
        next();
      } else {
        ASSERT_TRUE(pull()) << t.h->dump();
        t.waitForRequests();
        t.waitForRequests();  // a new number first, then the lines
        endRefresh();
      }
    }
    EXPECT_FALSE(list->realTimeOutOfStep());
    ASSERT_EQ(t.top<OrderListViewController>(), list);
    EXPECT_EQ(deviceLines(), kept);
    expectInStep(c.name);
  }
}

// The whole cart's answer carries fresh stock figures per code: each goes to the cart's line
// of that code, and a code the cart does not hold adds and changes nothing.
TEST_F(RealTimeOrder, TheWholeCartsStockFiguresReachOnlyTheLinesOfTheirCodes) {
  firstLine();
  scan("500000000000");
  next();
  const auto figures = [](const char* ats, const char* limit) {
    return json{{"Ats", ats},
                {"AtsStatus", "True"},
                {"Ots", "-2"},
                {"OtsStatus", "False"},
                {"OverBooking", json{{"OverBookingMsg", "Booked out"}, {"OverBookingLimit", limit}}.dump()}}
        .dump();
  };
  const json stocks = {{"400000000002", figures("12", "3")}, {"499999999999", figures("99", "9")}};
  t.server.setFault("UpdateAllItemsForRealTime",
                    backoffice::Fault::result(json{{"Response", "True"}, {"Stocks", stocks.dump()}}.dump()));
  json expected = list->orderListArray();
  ASSERT_EQ(expected.size(), 2u);
  for (auto& line : expected) {
    if (text(line, "Barcode") != "400000000002") continue;
    line.update(json{{"Ats", "12"}, {"AtsStatus", "True"}, {"Ots", "-2"}, {"OtsStatus", "False"},
                     {"OverBookingMsg", "Booked out"}, {"OverBookingLimit", "3"}});
  }
  ASSERT_TRUE(pull()) << t.h->dump();  // the pull to refresh sends the whole cart
  t.waitForRequests();
  t.server.clearFaults();
  EXPECT_TRUE(t.app.alerts().empty());
  EXPECT_EQ(list->orderListArray(), expected);
  EXPECT_FALSE(list->realTimeOutOfStep());
}

TEST_F(RealTimeOrder, ALineAddedOnTheDeviceReachesTheServerBeforeTheHeader) {
  firstLine();
  scan("500000000000");  // a new line, put into the cart on the device only
  ASSERT_TRUE(list->realTimeOutOfStep());
  ASSERT_NE(serverLines(so().orderNumber), deviceLines());
  // The line is saved (Next on the bar), then on to the header.
  next();
  t.app.dismissAlerts();
  ASSERT_TRUE(t.h->tap(list->btn_NextToGoToOrderInfoViewButton())) << t.h->dump();
  t.waitForRequests();
  ASSERT_NE(t.top<OrderInfoViewController>(), nullptr);
  expectInStep("header");
}

TEST_F(RealTimeOrder, NextToTheHeaderWaitsUntilTheServerHoldsEveryLine) {
  firstLine();
  t.server.setFault("UpdateItemInfoForRealTime", backoffice::Fault::responseValue("False"));
  scan("400000000002");
  t.app.dismissAlerts();
  t.server.clearFaults();
  ASSERT_TRUE(list->realTimeOutOfStep());  // the server said no: it may not hold the line
  const int sends = t.calls("UpdateAllItemsForRealTime");
  next();  // the panel's save sends the whole cart
  ASSERT_EQ(t.calls("UpdateAllItemsForRealTime"), sends + 1);
  expectInStep("saved");

  // Out of step again, this time by a typed quantity, which is sent only when the line is saved.
  list->orderListTableView()->reloadData();
  t.h->chooseRow(*list->orderListTableView(), {0, 0});
  t.settle();
  ASSERT_TRUE(list->isRowEditMode());
  t.h->deleteBackward();
  t.h->typeText("5");
  t.settle();
  EXPECT_EQ(t.calls("DeleteItemForRealTime"), 0);  // an emptied field is no deletion
  EXPECT_EQ(t.calls("UpdateItemInfoForRealTime"), 1);
  EXPECT_TRUE(list->realTimeOutOfStep());
  next();
  expectInStep("typed quantity saved");

  // A refused delete, then "Next" to the header: the cart goes first, the header follows.
  scan("500000000000");
  next();
  t.server.setFault("DeleteItemForRealTime", backoffice::Fault::responseValue("False"));
  EXPECT_TRUE(t.h->swipeRow(*list->orderListTableView(), {0, 0}, ui::SwipeLeft));
  EXPECT_TRUE(t.h->tap(t.h->findLabel("Delete")));
  t.waitForRequests();
  t.app.dismissAlerts();
  t.server.clearFaults();
  ASSERT_TRUE(list->realTimeOutOfStep());
  const int before = t.calls("UpdateAllItemsForRealTime");
  ASSERT_TRUE(t.h->tap(list->btn_NextToGoToOrderInfoViewButton()));
  t.waitForRequests();
  EXPECT_EQ(t.calls("UpdateAllItemsForRealTime"), before + 1);
  ASSERT_NE(t.top<OrderInfoViewController>(), nullptr);
  expectInStep("header");
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// A prepack the customer already has on an open order, taken again in a real-time order.
class RealTimeDuplicateItem : public RealTimeOrder {
 protected:
  void SetUp() override {
    t.defaults().setBool("DupItemStatus", true);
    t.server.withState([](backoffice::State& s) {
      s.catalogue.pricing["history"]["C1001"]["500000000000"] = {
          {"BeforeTotal", 4}, {"BeforeTime", 2}, {"BeforeOrderNum", "SO10042"}, {"InvDateAndQty", json::array()}};
    });
    RealTimeOrder::SetUp();
  }
  // Scans the prepack and answers Yes to the open-order question.
  void takeAgain() {
    t.app.devices->raiseBarcode("500000000000");
    t.waitForRequests();
    ASSERT_TRUE(t.waitForAlert("The customer has open Sales Order(2) for the same Style/Color.\n[Qty:4]\n Do you "
                               "want to change your quantity for the Style/Color?"));
  }
};

TEST_F(RealTimeDuplicateItem, TheLineGoesWithItsOpenOrderAndAtLeastItsQuantity) {
  takeAgain();
  const std::string number = so().orderNumber;
  ASSERT_FALSE(number.empty());
  t.press("Yes");
  t.waitForRequests();
  ASSERT_EQ(t.calls("UpdateDupItemHandlingForRealTime"), 1);
  const auto call = t.server.received("UpdateDupItemHandlingForRealTime")[0];
  EXPECT_EQ(call.param("OrderNumber"), number);
  EXPECT_EQ(call.param("Qty"), "4");  // raised to what the open order holds
  EXPECT_EQ(call.param("PrevOrderNum"), "SO10042");
  EXPECT_EQ(call.param("NewSOinfo"), "");
  expectInStep("duplicate item");
  next();
  // The whole cart carries the duplicate handling and each line's open order.
  const json items = json::parse(t.server.received("UpdateAllItemsForRealTime").back().param("JsonItemsForRealtime"));
  EXPECT_EQ(items[0][number]["DupItemHandling"], "true");
  EXPECT_EQ(items[0][number]["BeforeOrderNum"], "SO10042");
  expectInStep("saved");
}

TEST_F(RealTimeDuplicateItem, WithoutAnOrderTheHeadGoesAlongAndTheServersNumberIsTaken) {
  takeAgain();
  t.server.withState([&](backoffice::State& s) { s.salesOrders.erase(so().orderNumber); });
  so().orderNumber.clear();
  t.press("Yes");
  t.waitForRequests();
  const auto call = t.server.received("UpdateDupItemHandlingForRealTime").at(0);
  const json head = json::parse(call.param("NewSOinfo"));
  EXPECT_EQ(head["NEWSO"]["CustomerCode"], "C1001");
  EXPECT_EQ(head["NEWSO"]["PriceLevel"], "1");
  ASSERT_FALSE(so().orderNumber.empty());
  expectInStep("order made with the line");
}

}  // namespace
}  // namespace orvo
