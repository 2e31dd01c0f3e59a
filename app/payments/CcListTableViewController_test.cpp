// The cards on file against the back office: rows with brand and default mark, the default
// moved by "SetDefaultCC", refusals, answers that are no list, and the way out.
#include <gtest/gtest.h>

#include "app/payments/CcListTableViewController.h"
#include "app/core/ScreenNavigation.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/app/PaymentTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::PaymentHarness;

json card(const char* id, const char* customer, const char* type, const char* isDefault) {
  return {{"AccountId", id}, {"Customer", customer}, {"OrderNumber", "SO-1"}, {"Name", "DOE/JOHN"},
          {"Number", "4111111111111111"}, {"Track1", ""}, {"ExpDate", "1127"}, {"CardType", type},
          {"Mask", std::string("XXXX-XXXX-XXXX-000") + id}, {"CVV", ""}, {"Zipcode", ""}, {"Signature", ""},
          {"IsDefault", isDefault}};
}

class CardsOnFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.server.withState([](backoffice::State& s) {
      s.payments["cards"] = json::array({card("1", "C100", "VISA", "False"), card("2", "C100", "JCB", "True"),
                                         card("3", "C200", "AMEX", "True")});
    });
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, kSetDefaultCcDone, nullptr,
        [this](const foundation::Notification& n) { posts.push_back(n.userInfo.value(kIsDone, std::string())); });
  }
  void TearDown() override { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

  CcListTableViewController* open() {
    auto list = ui::viewControllerFromInterface<CcListTableViewController>(kCcListTableViewController);
    presentInNewNavigation(*t.app.delegate->navigationController, list, false);
    t.waitForRequests();
    return list.get();
  }
  CcListTableViewCell* cell(CcListTableViewController& list, int row) {
    return dynamic_cast<CcListTableViewCell*>(list.tableView()->cellForRowAtIndexPath({0, row}));
  }
  void choose(CcListTableViewController& list, int row, const char* answer) {
    t.h->chooseRow(*list.tableView(), {0, row});
    t.app.drain();
    t.h->pressAlertButton(answer);
    t.waitForRequests();
  }

  PaymentHarness t;
  std::vector<std::string> posts;
};

TEST_F(CardsOnFile, RowsShowBrandAndDefaultAndYesMovesTheMark) {
  auto* list = open();
  ASSERT_EQ(list->listContent().size(), 2u);
  EXPECT_EQ(list->title(), "Select a default CC");
  auto* first = cell(*list, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->lbl_ccNum->text(), "XXXX-XXXX-XXXX-0001");
  EXPECT_EQ(first->accessoryType(), ui::AccessoryType::None);
  EXPECT_EQ(cell(*list, 1)->accessoryType(), ui::AccessoryType::Checkmark);
  EXPECT_EQ(cell(*list, 1)->iv_ccType->image(), nullptr) << "a brand without a picture";

  choose(*list, 0, "No");
  EXPECT_EQ(t.calls("SetDefaultCC"), 0u);
  choose(*list, 0, "Yes");
  ASSERT_EQ(t.calls("SetDefaultCC"), 1u);
  auto call = t.server.received("SetDefaultCC")[0];
  EXPECT_EQ(call.param("customer"), "C100");
  EXPECT_EQ(call.param("accountId"), "1");
  EXPECT_EQ(list->getIdxByDefaultCC(), 0);
  EXPECT_EQ(list->listContent()[1]["IsDefault"], "False");
  EXPECT_EQ(cell(*list, 0)->accessoryType(), ui::AccessoryType::Checkmark);
  EXPECT_EQ(cell(*list, 1)->accessoryType(), ui::AccessoryType::None);

  // A refusal keeps the marks and says so.
  t.server.setFault("SetDefaultCC", backoffice::Fault::responseValue("False"));
  choose(*list, 1, "Yes");
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Error");
  EXPECT_EQ(alerts[0].message, "There is an issue. Please update the default CC on Orvo");
  EXPECT_EQ(list->getIdxByDefaultCC(), 0);
}

TEST_F(CardsOnFile, EachOpeningAsksAgainAndNonListsAddNothing) {
  // The way a user comes back to the list: Back to the card screen, then its button again.
  t.app.delegate->settings().ccDefFlag = true;
  auto screen = t.openCardScreen();
  const auto openFromScreen = [&]() -> CcListTableViewController* {
    if (!t.h->tap(screen->btn_CcListButton())) return nullptr;
    t.waitForRequests();
    auto* nav = dynamic_cast<ui::NavigationController*>(t.nav().presentedViewController());
    return nav ? dynamic_cast<CcListTableViewController*>(nav->topViewController()) : nullptr;
  };
  const auto back = [&](CcListTableViewController& list) {
    ASSERT_TRUE(t.h->tapBarItem(list.navigationItem().leftBarButtonItem()));
    t.app.runUntil([&] { return t.nav().presentedViewController() == nullptr; });
    t.app.drain();
  };
  auto* list = openFromScreen();
  ASSERT_NE(list, nullptr) << t.h->dump();
  EXPECT_EQ(list->listContent().size(), 2u);
  back(*list);

  list = openFromScreen();  // appearing again asks again
  ASSERT_NE(list, nullptr) << t.h->dump();
  EXPECT_EQ(t.calls("GetCClist"), 2u);
  EXPECT_EQ(list->listContent().size(), 2u);
  back(*list);

  t.server.setFault("GetCClist", backoffice::Fault::result("{\"Response\":\"True\"}"));
  list = openFromScreen();
  ASSERT_NE(list, nullptr) << t.h->dump();
  EXPECT_TRUE(list->listContent().empty()) << "an answer that is no list adds nothing";
  ASSERT_FALSE(t.app.alerts().empty());
  EXPECT_EQ(t.app.alerts()[0].title, "Error");
  t.app.dismissAlerts();
  back(*list);

  t.app.delegate->globalSO().customerID = "C999";
  t.server.clearFaults();
  list = openFromScreen();
  ASSERT_NE(list, nullptr) << t.h->dump();
  ASSERT_EQ(list->listContent().size(), 1u);
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u) << "one alert per answer, not per drawing";
  EXPECT_EQ(alerts[0].message, "It can not be opend on iPod. Please check on Orvo.");
}

TEST_F(CardsOnFile, DoneAndBackTellTheCardScreen) {
  t.app.delegate->settings().ccDefFlag = true;  // the screen offers the cards on file
  auto screen = t.openCardScreen();
  ASSERT_TRUE(t.h->tap(screen->btn_CcListButton())) << t.h->dump();
  t.waitForRequests();
  auto* nav = dynamic_cast<ui::NavigationController*>(t.nav().presentedViewController());
  ASSERT_NE(nav, nullptr);
  auto* list = dynamic_cast<CcListTableViewController*>(nav->topViewController());
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(t.h->tapBarItem(list->navigationItem().leftBarButtonItem()));  // Back
  t.app.drain();
  EXPECT_EQ(posts, (std::vector<std::string>{"false"}));
  EXPECT_EQ(t.nav().topViewController(), screen.get());

  ASSERT_TRUE(t.h->tap(screen->btn_CcListButton())) << t.h->dump();
  t.waitForRequests();
  nav = dynamic_cast<ui::NavigationController*>(t.nav().presentedViewController());
  ASSERT_NE(nav, nullptr);
  ASSERT_TRUE(t.h->tapBarItem(nav->topViewController()->navigationItem().rightBarButtonItem()));  // Done
  t.app.runUntil([&] { return t.nav().presentedViewController() == nullptr; });
  t.app.drain();
  EXPECT_EQ(posts, (std::vector<std::string>{"false", "true"}));
  EXPECT_NE(t.nav().topViewController(), screen.get());
  EXPECT_FALSE(t.app.delegate->settings().authorizeSuccessFlag);
}

}  // namespace
}  // namespace orvo
