// The customer search and the store choice against the back office on loopback, reached as
// the order selector reaches them (and the main menu in scan-pack mode).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"
#include "platform/foundation/Clock.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

// The pick-ticket screen as the customer list sees it.
class RecordingPickTickets : public StandInViewController, public PickTicketEntry {
 public:
  explicit RecordingPickTickets(std::string nib) : StandInViewController(std::move(nib)) {}
  void setCustomerID(std::optional<std::string> code) override {
    customerID = std::move(code);
    told = true;
  }
  std::optional<std::string> customerID;
  bool told = false;
};

class Customers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    ui::ViewControllerRegistry::shared().add<RecordingPickTickets>("PickTicketViewController");
    t.launch();
    t.app.delegate->globalSO().fixedPriceLevel = "AUTO";
  }
  // The customer list pushed on the root's navigation, as the selector's New does.
  CustomerViewController* open() {
    t.app.delegate->navigationController->pushViewController(makeScreen("CustomerView"), false);
    t.settle();
    return t.top<CustomerViewController>();
  }
  void search(const std::string& text) {
    t.h->typeText(text);
    t.h->pressReturn();
    t.waitForRequests();
  }
  // Replaces the text of `bar` as a user does: a tap on it (unless it has the keyboard),
  // deletes, then typing.
  void retype(ui::SearchBar& bar, const std::string& text) {
    auto& field = bar.searchField();
    if (!field.isFirstResponder()) {
      ASSERT_TRUE(t.h->tap(&field)) << t.h->dump();
    }
    t.h->deleteBackward(int(field.text().size()));
    t.h->typeText(text);
  }
  // The search key of the keyboard, on the bar's text as it stands.
  void searchKey(ui::SearchBar& bar) {
    if (!bar.searchField().isFirstResponder()) {
      ASSERT_TRUE(t.h->tap(&bar.searchField())) << t.h->dump();
    }
    t.h->pressReturn();
    t.waitForRequests();
  }
  // A finger on scope `i` of the bar.
  void chooseScope(ui::SearchBar& bar, int i) {
    ASSERT_TRUE(t.h->chooseScope(bar, i)) << t.h->dump();
    t.settle();
  }
  std::vector<std::string> names(CustomerViewController& c, int section) {
    std::vector<std::string> out;
    for (auto& row : c.rowsOfSection(section)) out.push_back(row.value("Name", ""));
    return out;
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(Customers, SearchByScopeListsSectionsByFirstLetterInAnswerOrder) {
  auto* c = open();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->searchBarView()->cancelButton().currentTitle(), " NEW ");
  search("harbor");
  auto call = t.server.received("GetCustomer").back();
  EXPECT_EQ(call.param("customerName"), "harbor");
  EXPECT_EQ(call.param("optionIndex"), "0");
  // The titles differ in case; each section lists both names.
  EXPECT_EQ(c->customerIndexTitle(), (std::vector<std::string>{"H", "h"}));
  EXPECT_EQ(names(*c, 0), (std::vector<std::string>{"Harbor Outfitters", "harbor Supply Co"}));
  EXPECT_EQ(names(*c, 1), names(*c, 0));

  // A scope change searches again with the text; with an empty text it sends nothing.
  auto& bar = *c->searchBarView();
  retype(bar, "c100");
  chooseScope(bar, 1);
  t.waitForRequests();
  EXPECT_EQ(t.server.received("GetCustomer").back().param("optionIndex"), "1");
  EXPECT_EQ(c->listContent().size(), 8u);  // codes C1001 to C1008
  retype(bar, "");
  chooseScope(bar, 2);
  EXPECT_EQ(t.calls("GetCustomer"), 2);
  // The search key sends even an empty text; nothing found lists nothing.
  searchKey(bar);
  EXPECT_EQ(t.server.received("GetCustomer").back().param("customerName"), "");
  retype(bar, "nobody");
  searchKey(bar);
  EXPECT_TRUE(c->customerIndexTitle().empty());
  EXPECT_TRUE(t.alertMessages().empty());

  // An answer that is no list: the exception alert, and the list shown stays.
  retype(bar, "harbor");
  chooseScope(bar, 0);  // by name again: searches at once
  t.waitForRequests();
  ASSERT_EQ(c->customerIndexTitle().size(), 2u);
  t.server.setFault("GetCustomer", backoffice::Fault::result("{}"));
  searchKey(bar);
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].title, "Error");
  EXPECT_EQ(c->customerIndexTitle().size(), 2u);
}

TEST_F(Customers, CustomerWithoutANameIsListedUnderHashAndTheOthersStayReachable) {
  t.server.withState([](backoffice::State& s) {
    s.catalogue.customers.push_back({{"Code", "C1099"}, {"Name", ""}, {"PriceLevel", "4"}, {"OrderDiscountRate", 0},
                                     {"Stores", json::array()}});
  });
  auto* c = open();
  ASSERT_NE(c, nullptr);
  search("");
  ASSERT_EQ(c->customerIndexTitle().back(), "#");
  int hash = int(c->customerIndexTitle().size()) - 1;
  ASSERT_EQ(c->rowsOfSection(hash).size(), 1u);
  EXPECT_EQ(c->rowsOfSection(hash)[0]["Code"], "C1099");
  EXPECT_EQ(c->tableView()->numberOfSections(), hash + 1);
  EXPECT_TRUE(t.alertMessages().empty());
  ASSERT_TRUE(t.h->chooseRow(*c->tableView(), {hash, 0})) << t.h->dump();
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "C1099");
  EXPECT_EQ(t.app.delegate->globalSO().priceLevel, "4");
}

TEST_F(Customers, ChoiceWritesCodePriceLevelAndRateOrExplainsWhyNot) {
  auto* c = open();
  ASSERT_NE(c, nullptr);
  search("");
  GlobalSO& so = t.app.delegate->globalSO();
  auto row = [&](const std::string& name) -> ui::IndexPath {
    for (int s = 0; s < int(c->customerIndexTitle().size()); ++s) {
      auto rows = c->rowsOfSection(s);
      for (int r = 0; r < int(rows.size()); ++r)
        if (rows[size_t(r)]["Name"] == name) return {s, r};
    }
    return {-1, -1};
  };
  auto* cell = dynamic_cast<CustomCellForCustomer*>(c->tableView()->cellForRowAtIndexPath(row("Maple & Pine Boutique")));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->customerStatus().text(), "ACTIVE - Order Discount : 2.50%");

  // Not active: the status and memo, nothing chosen.
  ASSERT_TRUE(t.h->chooseRow(*c->tableView(), row("harbor Supply Co"))) << t.h->dump();
  t.settle();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{
                                   "This is a(n) 'HOLD' customer.\nCustomer Memo is \nCredit hold until the March invoice is paid."});
  t.press("OK");
  EXPECT_EQ(so.customerID, "");
  EXPECT_EQ(t.topScreen(), c);

  // No level of its own under "AUTO": level 1, no rate, straight to the stores.
  ASSERT_TRUE(t.h->chooseRow(*c->tableView(), row("Pine Needle Outlet"))) << t.h->dump();
  t.settle();
  EXPECT_EQ(so.customerID, "C1008");
  EXPECT_EQ(so.priceLevel, "1");
  ASSERT_NE(t.top<StoreViewController>(), nullptr) << t.topScreen()->nibName();
  // No store: said once, when the answer arrives, and OK goes back.
  t.waitForRequests();
  auto* stores = t.top<StoreViewController>();
  ASSERT_NE(stores, nullptr) << t.topScreen()->nibName();
  stores->tableView()->reloadData();  // drawn again: said only once
  t.settle();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"You don't have active store list."});
  t.press("OK");
  EXPECT_EQ(t.topScreen(), c);

  // A fixed level wins; the server's rate replaces the customer's, and the stores open
  // only after the notice.
  so.fixedPriceLevel = "3";
  t.app.delegate->settings().showOrderDiscountRateFromServer = 2.5;
  ASSERT_TRUE(t.h->chooseRow(*c->tableView(), row("Sunset Apparel"))) << t.h->dump();
  t.settle();
  EXPECT_EQ(so.priceLevel, "3");
  EXPECT_DOUBLE_EQ(so.orderDiscountRate, 2.5);
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"The Order Discount Rate 2.50% is applied."});
  EXPECT_EQ(t.topScreen(), c);
  t.press("OK");
  EXPECT_NE(t.top<StoreViewController>(), nullptr);
}

TEST_F(Customers, StoreSearchFiltersByNameAndTheChoiceIsTheRowShown) {
  t.app.delegate->globalSO().customerID = "C1002";
  t.app.delegate->navigationController->pushViewController(makeScreen("StoreView"), false);
  t.waitForRequests();
  auto* s = t.top<StoreViewController>();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(t.server.received("GetStoreForCustomer").back().param("customerCode"), "C1002");
  ASSERT_EQ(s->docListArray().size(), 2u);

  ASSERT_TRUE(t.h->type(&s->searchBarView()->searchField(), "Boutique #2"));
  t.settle();
  EXPECT_TRUE(s->isSearching());
  ASSERT_EQ(s->copyDocListArray().size(), 1u);
  EXPECT_EQ(s->titleForHeaderInSection(*s->tableView(), 0), "Search Results");
  // Only names are searched.
  retype(*s->searchBarView(), "C1002-1");
  EXPECT_TRUE(s->copyDocListArray().empty());
  retype(*s->searchBarView(), "#2");
  ASSERT_TRUE(t.h->chooseRow(*s->tableView(), {0, 0})) << t.h->dump();
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().storeID, "C1002-2");
  EXPECT_EQ(t.topScreen()->nibName(), "OrderListView");
}

TEST_F(Customers, StoreSearchEndsByTheOverlayAndEditModeOpensTheSavedOrders) {
  t.app.delegate->globalSO().customerID = "C1003";
  t.app.delegate->settings().soEditSelectFlag = true;
  t.app.delegate->navigationController->pushViewController(makeScreen("StoreView"), false);
  t.waitForRequests();
  auto* s = t.top<StoreViewController>();
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(t.h->tap(&s->searchBarView()->searchField())) << t.h->dump();
  EXPECT_TRUE(s->isSearching());
  EXPECT_EQ(s->navigationItem().rightBarButtonItem()->title(), "Done");
  // A finger on the list, which the overlay covers, ends the search.
  ui::View* cover = t.h->window().hitTest(s->tableView()->convertToWindow(s->tableView()->bounds().center()));
  ASSERT_NE(cover, nullptr);
  ASSERT_TRUE(t.h->tap(cover)) << t.h->dump();
  EXPECT_FALSE(s->isSearching());
  EXPECT_EQ(s->navigationItem().rightBarButtonItem()->title(), "");
  ASSERT_TRUE(t.h->chooseRow(*s->tableView(), {0, 1})) << t.h->dump();
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().storeID, "C1003-2");
  EXPECT_EQ(t.topScreen()->nibName(), "LoadOrderListViewController");
}

TEST_F(Customers, ScanPackModeOpensPickTicketsAndLeavesTheOrderAlone) {
  t.app.delegate->settings().isScanPackMode = true;
  presentInNewNavigation(*t.app.root, makeScreen("CustomerView"), false);
  t.settle();
  auto* c = t.top<CustomerViewController>();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->navigationItem().rightBarButtonItem()->title(), "All Pick");
  EXPECT_FALSE(c->searchBarView()->showsCancelButton());
  search("sunset");
  ASSERT_TRUE(t.h->chooseRow(*c->tableView(), {0, 0})) << t.h->dump();
  t.settle();
  auto* pick = t.top<RecordingPickTickets>();
  ASSERT_NE(pick, nullptr);
  EXPECT_EQ(pick->customerID, "C1003");
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "");
  pick->navigationController()->popViewControllerAnimated(false);
  EXPECT_TRUE(t.h->tapBarItem(c->navigationItem().rightBarButtonItem()));
  t.settle();
  ASSERT_NE(t.top<RecordingPickTickets>(), nullptr);
  EXPECT_TRUE(t.top<RecordingPickTickets>()->told);
  EXPECT_FALSE(t.top<RecordingPickTickets>()->customerID);
  t.top<RecordingPickTickets>()->navigationController()->popViewControllerAnimated(false);
  ASSERT_TRUE(t.h->tapBarItem(c->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  EXPECT_EQ(t.topScreen(), t.app.root.get());
}

TEST_F(Customers, BackInDuplicateModeRestoresTheOrderNumber) {
  t.app.delegate->settings().duplicateSoFlag = true;
  t.app.delegate->globalSO().pDupNum = "SO10042";
  auto* c = open();
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(t.h->tapBarItem(c->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  EXPECT_FALSE(t.app.delegate->settings().duplicateSoFlag);
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "SO10042");
  EXPECT_EQ(t.app.delegate->globalSO().pDupNum, "");
}

}  // namespace
}  // namespace orvo
