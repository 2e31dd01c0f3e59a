// New customers against the back office on loopback: the menu and its badge scan, the
// manual form with its checks, the search for existing customers, the matches and the save.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/AppNames.h"
#include "app/customers/ExistedCustomerViewController.h"
#include "app/customers/ManualViewController.h"
#include "app/customers/NewCustomerSelectorViewController.h"
#include "app/customers/NewCustomerSupport.h"
#include "app/customers/StatePickerKeyboard.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;
using F = CustomerField;

// A badge record of `count` TAB-separated fields, field i reading "f<i>".
std::string badgeFields(size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    if (i) s += '\t';
    s += 'f';
    s += std::to_string(i);
  }
  return s;
}

TEST(Badge, LastRecordOfSeventeenFieldsFillsTheForm) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
  };
  const std::string full = badgeFields(17);
  const Case cases[] = {
      {"one record", full, true},
      {"second of two records", "x\ty     " + full, true},
      {"ten blanks leave an empty record between", badgeFields(3) + "          " + full, true},
      {"more than 17 fields", badgeFields(20), true},
      {"16 fields", badgeFields(16), false},
      {"full record, then five blanks", full + "     ", false},
      {"a one-dimensional barcode", "4006381333931", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto badge = parseBadge(c.text);
    ASSERT_EQ(badge.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(badge->customerCode, "f5");
    EXPECT_EQ(badge->name, "f5");
    EXPECT_EQ(badge->address1, "f7");
    EXPECT_EQ(badge->city, "f10");
    EXPECT_EQ(badge->state, "f11");
    EXPECT_EQ(badge->zip, "f12");
    EXPECT_EQ(badge->email1, "f4");
    EXPECT_EQ(badge->phone1, "f14");
    EXPECT_EQ(badge->phone2, "f15");
    EXPECT_EQ(badge->contact1, "f2 f3");
    EXPECT_EQ(badge->memo, "[f1]f16");
  }
  // Empty fields 1 and 2 stay in the joined texts.
  auto b = parseBadge("\t\t\tLast\t\tCODE\t\t\t\t\t\t\t\t\t\t\t");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->contact1, " Last");
  EXPECT_EQ(b->memo, "[]");
}

TEST(CustomerCode, LengthThenCharacters) {
  struct Case {
    std::string code;
    const char* problem;
  };
  const Case cases[] = {
      {"", nullptr},
      {std::string(20, 'A'), nullptr},
      {std::string(21, 'A'), kCustomerCodeTooLong},
      {"AZ az 09-_#()&/", nullptr},
      {"   ", nullptr},
      {"A.B", kCustomerCodeInvalid},
      {"A@B", kCustomerCodeInvalid},
      {"100%", kCustomerCodeInvalid},
      {"CAF\xC3\x89", kCustomerCodeInvalid},
      {std::string(21, '.'), kCustomerCodeTooLong},  // the length is checked first
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    auto p = customerCodeProblem(c.code);
    if (c.problem)
      EXPECT_EQ(p.value_or(""), c.problem);
    else
      EXPECT_FALSE(p);
  }
}

class NewCustomers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
    auto& so = t.app.delegate->globalSO();
    so.fixedPriceLevel = "AUTO";
    so.divisionCode = "01";
    so.stateArray = json::array({"Oregon", "Vermont", "OR", "ORE", "ABCD"});
    so.countryArray = json::array({"USA", "Canada"});
    so.salesRepArray = json::array({"R1", "R2"});
  }
  // The menu, pushed as the customer screen's " NEW " pushes it.
  NewCustomerSelectorViewController* openMenu() {
    t.app.delegate->navigationController->pushViewController(makeScreen("CustomerView"), false);
    t.settle();
    auto* customers = t.top<CustomerViewController>();
    if (!customers) return nullptr;
    if (!t.h->tap(&customers->searchBarView()->cancelButton())) return nullptr;  // " NEW "
    t.settle();
    return t.top<NewCustomerSelectorViewController>();
  }
  ManualViewController* openForm() {
    auto* menu = openMenu();
    if (!menu) return nullptr;
    t.h->tap(menu->manualButton());
    t.settle();
    return t.top<ManualViewController>();
  }
  // Brings `view` of the form where a finger reaches it, as a user does: the form dragged up
  // or down, and where the keyboard covers it, "Done" above the keyboard first.
  bool reach(ManualViewController& form, ui::View& view) {
    auto* table = form.tableView();
    if (t.h->scrollIntoReach(*table, &view)) return true;
    if (!t.app.delegate->window->isKeyboardVisible() || !t.h->tapText("Done")) return false;
    t.settle();
    return t.h->scrollIntoReach(*table, &view);
  }
  // Replaces what field `f` holds with `text`, as a user does: the field brought into reach,
  // tapped, emptied and typed (or pasted, where the field's keyboard lacks the characters).
  void retype(ManualViewController& form, F f, const std::string& text, bool paste = false) {
    ui::TextField& field = form.textField(f);
    ASSERT_TRUE(reach(form, field)) << t.h->dump();
    ASSERT_TRUE(t.h->type(&field, "")) << t.h->dump();
    t.h->deleteBackward(int(field.text().size()));
    if (paste)
      t.h->paste(text);
    else
      t.h->typeText(text);
    EXPECT_EQ(field.text(), text);
  }
  // Chooses `entry` on the wheel of a picker field.
  void pick(ManualViewController& form, F f, const std::string& entry) {
    const auto& so = t.app.delegate->globalSO();
    const int tag = f == F::State     ? ManualViewController::kStatePicker
                    : f == F::Country ? ManualViewController::kCountryPicker
                                      : ManualViewController::kSalesRepPicker;
    const json& list = tag == ManualViewController::kStatePicker     ? so.stateArray
                       : tag == ManualViewController::kCountryPicker ? so.countryArray
                                                                     : so.salesRepArray;
    int row = -1;
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i] == entry) row = int(i);
    ASSERT_GE(row, 0) << entry;
    ASSERT_TRUE(reach(form, form.textField(f))) << t.h->dump();
    ASSERT_TRUE(t.h->tap(&form.textField(f))) << t.h->dump();
    ASSERT_TRUE(t.h->choosePickerRow(*form.picker(tag), row)) << t.h->dump();
    EXPECT_EQ(form.textField(f).text(), entry);
  }
  // A form with every required field filled in.
  void fill(ManualViewController& form, const std::string& code, const std::string& name) {
    retype(form, F::Code, code);
    retype(form, F::Name, name);
    retype(form, F::Address1, "9 " + code + " Street");
    retype(form, F::City, "Astoria");
    pick(form, F::State, "OR");
    retype(form, F::Zip, "97103");
    retype(form, F::Phone1, "503-" + code, true);
  }
  void save(ManualViewController& form) {
    ASSERT_TRUE(reach(form, *form.saveButton())) << t.h->dump();
    ASSERT_TRUE(t.h->tap(form.saveButton()));
    t.waitForRequests();
  }
  void scan(const std::string& text) {
    t.app.devices->raiseBarcode(text);
    t.settle();
  }
  const std::vector<int> modes() { return t.app.devices->scanButtonModes(); }
  // The item list stands in by its name, so that one test can open it several times without
  // the list restoring the order it keeps between openings.
  void itemListStandsIn() { ui::ViewControllerRegistry::shared().add<StandInViewController>("OrderListView"); }
  bool itemListOpen() { return t.topScreen() && t.topScreen()->nibName() == "OrderListView"; }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(NewCustomers, BadgeScanFillsTheFormAndAShortOneIsRefusedWithTheScannerRestarted) {
  auto* menu = openMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(t.app.delegate->settings().newCustomerFlag);
  ASSERT_FALSE(modes().empty());
  EXPECT_EQ(modes().back(), 1);  // the scan button reads while the menu is visible

  // Sixteen fields: the alert, the scanner stopped until OK.
  scan(badgeFields(16));
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].title, "Error");
  EXPECT_EQ(t.app.alerts()[0].message, kInvalidBadge);
  EXPECT_EQ(modes().back(), 0);
  EXPECT_EQ(t.top<NewCustomerSelectorViewController>(), menu);
  EXPECT_FALSE(t.app.delegate->isActivityViewerShown());
  t.press("OK");
  EXPECT_EQ(modes().back(), 1);

  // Two records of which the second has 17 fields.
  scan("IGNORED\tRECORD     " + badgeFields(17));
  auto* form = t.top<ManualViewController>();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->title(), "2D Barcode");
  EXPECT_EQ(modes().back(), 0);  // stays off while the form is open
  const std::pair<F, const char*> expected[] = {
      {F::Code, "f5"},     {F::Name, "f5"},   {F::Address1, "f7"}, {F::Address2, ""},  {F::City, "f10"},
      {F::State, "f11"},   {F::Zip, "f12"},   {F::Country, "USA"}, {F::Phone1, "f14"}, {F::Phone2, "f15"},
      {F::Fax1, ""},       {F::Email1, "f4"}, {F::Email2, ""},     {F::Contact1, "f2 f3"}, {F::Contact2, ""},
      {F::Memo, "[f1]f16"}};
  for (const auto& [f, text] : expected) EXPECT_EQ(form->textField(f).text(), text) << int(f);
  EXPECT_TRUE(t.app.delegate->settings().newCustomerFlag);

  // Back on the menu the scanner reads again; the built-in sample badge fills a form too.
  ASSERT_TRUE(t.h->tapBarItem(form->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  EXPECT_EQ(modes().back(), 1);
  t.h->tap(menu->badgeButton());
  t.settle();
  form = t.top<ManualViewController>();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->title(), "2D Barcode");
  EXPECT_EQ(form->textField(F::Name).text(), parseBadge(NewCustomerSelectorViewController::sampleBadge())->name);
  ASSERT_TRUE(t.h->tapBarItem(form->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  // Back from the menu clears the flag.
  ASSERT_TRUE(t.h->tapBarItem(menu->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  EXPECT_FALSE(t.app.delegate->settings().newCustomerFlag);
  EXPECT_EQ(modes().back(), 0);
  scan(badgeFields(17));  // the menu has gone: nothing opens
  EXPECT_EQ(t.top<ManualViewController>(), nullptr);
}

TEST_F(NewCustomers, FormSectionsFollowTheOptionAndTheCodeIsTypedInCapitals) {
  for (bool option : {false, true}) {
    SCOPED_TRACE(option);
    t.app.delegate->settings().isNewCustomerSalesRepOption = option;
    auto* form = openForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->title(), "Manual");
    EXPECT_EQ(form->tableView()->numberOfSections(), option ? 13 : 12);
    EXPECT_EQ(form->textField(F::Country).text(), "USA");
    EXPECT_EQ(form->textField(F::Name).text(), "");
    ASSERT_TRUE(t.h->type(&form->textField(F::Code), "ab1"));
    EXPECT_EQ(form->textField(F::Code).text(), "AB1");
    t.h->typeText("%");
    EXPECT_EQ(form->textField(F::Code).text(), "AB1%");  // refused later, by the check
    t.h->deleteBackward();
    // A picked state is what the field shows and sends.
    EXPECT_EQ(form->textField(F::State).inputView().get(), form->picker(ManualViewController::kStatePicker));
    ASSERT_TRUE(reach(*form, form->textField(F::State))) << t.h->dump();
    ASSERT_TRUE(t.h->tap(&form->textField(F::State))) << t.h->dump();
    ASSERT_TRUE(t.h->choosePickerRow(*form->picker(ManualViewController::kStatePicker), 1)) << t.h->dump();
    EXPECT_EQ(form->textField(F::State).text(), "Vermont");
    t.app.delegate->navigationController->popToRootViewControllerAnimated(false);
    t.settle();
  }
}

TEST_F(NewCustomers, SaveStopsAtTheFirstFailingCheckAndItsOkFocusesTheField) {
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  struct Case {
    const char* name;
    std::function<void(ManualViewController&)> change;
    const char* message;
    F focus;
    double offset;
  };
  const Case cases[] = {
      {"everything empty",
       [&](ManualViewController& f) {
         for (int i = 0; i < kCustomerFieldCount; ++i)
           if (F(i) != F::State && F(i) != F::Country && F(i) != F::SalesRep1) retype(f, F(i), "");
       },
       "Valid data is required on Customer Code.", F::Code, 0},
      {"name of blanks only", [&](ManualViewController& f) { retype(f, F::Name, "   "); },
       "Valid data is required on Name.", F::Name, 0},
      {"no address", [&](ManualViewController& f) { retype(f, F::Address1, ""); },
       "Valid data is required on Address 1.", F::Address1, 0},
      {"address of 51", [&](ManualViewController& f) { retype(f, F::Address1, std::string(51, 'a')); },
       "Address1 must be less than 50 characters.", F::Address1, 0},
      {"state of four", [&](ManualViewController& f) { pick(f, F::State, "ABCD"); },
       "State is limited to 3 words.", F::State, 550},
      {"phone of a tab", [&](ManualViewController& f) { retype(f, F::Phone1, "\t", true); },
       "Valid data is required on Phone 1.", F::Phone1, 550},
      {"code with a period", [&](ManualViewController& f) { retype(f, F::Code, "NEW.1"); },
       kCustomerCodeInvalid, F::Code, 0},
      {"code of 21", [&](ManualViewController& f) { retype(f, F::Code, std::string(21, 'N')); },
       kCustomerCodeTooLong, F::Code, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fill(*form, "NEW100", "Quay Traders");
    c.change(*form);
    // The user ends in another field, so the focus that OK gives back can be seen coming.
    retype(*form, F::City, "Astoria");
    save(*form);
    form->tableView()->setContentOffset({0, 200});  // under the alert: an offset OK must change
    ASSERT_EQ(t.alertMessages(), std::vector<std::string>{c.message});
    t.press("OK");
    EXPECT_EQ(form->tableView()->contentOffset().y, c.offset);
    EXPECT_FALSE(form->textField(c.focus).isFirstResponder());
    t.h->advance(std::chrono::milliseconds(500));
    EXPECT_TRUE(form->textField(c.focus).isFirstResponder());
  }
  EXPECT_EQ(t.calls("GetExistCustomerInfo"), 0);
  // Limits are inclusive: an address of 50 and a state of 3 pass, and blanks are trimmed.
  fill(*form, "NEW100", "Quay Traders  ");
  retype(*form, F::Code, " NEW100\t", true);
  retype(*form, F::Address1, std::string(50, 'a'));
  pick(*form, F::State, "ORE");
  save(*form);
  ASSERT_EQ(t.calls("GetExistCustomerInfo"), 1);
  auto call = t.server.received("GetExistCustomerInfo")[0];
  EXPECT_EQ(call.params, (std::vector<std::pair<std::string, std::string>>{
                             {"code", "NEW100"}, {"name", "Quay Traders"}, {"address1", std::string(50, 'a')},
                             {"phone1", "503-NEW100"}}));
  EXPECT_EQ(form->textField(F::Name).text(), "Quay Traders");
}

TEST_F(NewCustomers, SaveWithoutMatchesCreatesTheCustomerAndOpensTheItemList) {
  t.app.delegate->settings().isNewCustomerSalesRepOption = false;
  t.app.delegate->settings().showOrderDiscountRateFromServer = 0;
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  t.app.delegate->globalSO().orderDiscountRate = 7;
  fill(*form, "NEW200", "Quay Traders");
  // Without the option the form has no sales-rep row to reach.
  EXPECT_FALSE(t.h->scrollIntoReach(*form->tableView(), &form->textField(F::SalesRep1)));
  retype(*form, F::Memo, "Met at the show");
  save(*form);
  EXPECT_TRUE(t.alertMessages().empty()) << (t.alertMessages().empty() ? "" : t.alertMessages()[0]);
  ASSERT_EQ(t.calls("InsertNewCustomerForManual"), 1);
  auto call = t.server.received("InsertNewCustomerForManual")[0];
  std::vector<std::string> names;
  for (auto& [k, v] : call.params) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"divCode", "creator", "code", "name", "address1", "address2", "city",
                                             "zip", "state", "country", "phone1", "phone2", "fax1", "fax2", "email1",
                                             "email2", "contact1", "contact2", "memo", "salesRep1Code"}));
  EXPECT_EQ(call.param("divCode"), "01");
  EXPECT_EQ(call.param("creator"), "demo");
  EXPECT_EQ(call.param("country"), "USA");
  EXPECT_EQ(call.param("memo"), "Met at the show");
  EXPECT_EQ(call.param("salesRep1Code"), "");
  const auto& so = t.app.delegate->globalSO();
  EXPECT_EQ(so.customerID, "NEW200");
  EXPECT_EQ(so.storeID, "NEW200");
  EXPECT_EQ(so.priceLevel, "1");
  EXPECT_EQ(so.orderDiscountRate, 7);  // untouched without the server's rate
  EXPECT_NE(t.top<OrderListViewController>(), nullptr);

  // The server keeps it: the customer search finds it, and the code is now taken.
  bool kept = false;
  t.server.withState([&](backoffice::State& s) {
    for (auto& c : s.catalogue.customers) kept = kept || c.value("Code", "") == "NEW200";
  });
  EXPECT_TRUE(kept);
}

TEST_F(NewCustomers, InsertAnswerSetsThePriceLevelByTheFixedLevel) {
  struct Case {
    const char* fixed;
    const char* result;
    const char* level;
    double setting;
    double rate;
  };
  const Case cases[] = {
      {"AUTO", R"({"Response":"True","Id":"N1","Message":"3"})", "3", 0, 0},
      {"AUTO", R"({"Response":"True","Id":"N1"})", "1", 0, 0},
      {"2", R"({"Response":"True","Id":"N1","Message":"3"})", "2", 4.5, 4.5},
  };
  itemListStandsIn();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    t.app.delegate->globalSO().fixedPriceLevel = c.fixed;
    t.app.delegate->globalSO().orderDiscountRate = 0;
    t.app.delegate->settings().showOrderDiscountRateFromServer = c.setting;
    t.server.setFault("InsertNewCustomerForManual", backoffice::Fault::result(c.result));
    auto* form = openForm();
    ASSERT_NE(form, nullptr);
    fill(*form, "NEW30" + std::to_string(&c - cases), "Quay Traders " + std::to_string(&c - cases));
    save(*form);
    EXPECT_EQ(t.app.delegate->globalSO().customerID, "N1");
    EXPECT_EQ(t.app.delegate->globalSO().storeID, "N1");
    EXPECT_EQ(t.app.delegate->globalSO().priceLevel, c.level);
    EXPECT_EQ(t.app.delegate->globalSO().orderDiscountRate, c.rate);
    EXPECT_TRUE(itemListOpen());
    t.app.delegate->navigationController->popToRootViewControllerAnimated(false);
    t.settle();
  }
}

TEST_F(NewCustomers, MatchesArePickedOrTheNewCustomerIsCreatedAnyway) {
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  // The name of a known customer: the matches are listed, nothing is inserted.
  fill(*form, "NEW400", "Harbor Outfitters");
  save(*form);
  auto* matches = t.top<ExistedCustomerViewController>();
  ASSERT_NE(matches, nullptr);
  EXPECT_EQ(t.calls("InsertNewCustomerForManual"), 0);
  auto* table = matches->existedListTableView();
  ASSERT_EQ(table->numberOfSections(), 1);
  ASSERT_EQ(table->numberOfRowsInSection(0), 1);
  auto* cell = dynamic_cast<CustomCellForExistedCustomer*>(table->cellForRowAtIndexPath({0, 0}));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->lbl_customerCode().text(), "C1001");
  EXPECT_EQ(cell->lbl_name().text(), "Harbor Outfitters");

  // Back: nothing is sent, the form keeps its input.
  ASSERT_TRUE(t.h->tapBarItem(matches->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.waitForRequests();
  EXPECT_EQ(t.top<ManualViewController>(), form);
  EXPECT_EQ(t.calls("InsertNewCustomerForManual"), 0);
  EXPECT_EQ(form->textField(F::Name).text(), "Harbor Outfitters");

  // Create anyway: exactly one insert, on the form's return.
  save(*form);
  matches = t.top<ExistedCustomerViewController>();
  ASSERT_NE(matches, nullptr);
  ASSERT_TRUE(t.h->tap(matches->createNewCustomerButton())) << t.h->dump();
  t.waitForRequests();
  EXPECT_EQ(t.calls("InsertNewCustomerForManual"), 1);
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "NEW400");
  ASSERT_NE(t.top<OrderListViewController>(), nullptr);
  t.app.delegate->navigationController->popViewControllerAnimated(false);
  t.waitForRequests();
  EXPECT_EQ(t.calls("InsertNewCustomerForManual"), 1);  // the flag was cleared before the request
  EXPECT_FALSE(t.app.delegate->settings().createNewCustomerFlag);
}

TEST_F(NewCustomers, PickingAMatchTakesItsCodeLevelAndRate) {
  t.server.withState([](backoffice::State& s) {
    // A customer kept without a price level.
    s.catalogue.customers.push_back({{"Code", "C1100"}, {"Name", "Harbor Outfitters"}, {"Addr1", "1 Pier"},
                                     {"Phone", "555-0100"}, {"OrderDiscountRate", 5}, {"Stores", json::array()}});
  });
  struct Case {
    const char* fixed;
    double setting;
    int row;
    const char* code;
    const char* level;
    double rate;
  };
  const Case cases[] = {
      {"AUTO", 0, 0, "C1001", "1", 0},
      {"AUTO", 0, 1, "C1100", "1", 5},  // no "PriceLevel": the default level
      {"3", 2.5, 1, "C1100", "3", 2.5},
  };
  itemListStandsIn();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    t.app.delegate->globalSO().fixedPriceLevel = c.fixed;
    t.app.delegate->settings().showOrderDiscountRateFromServer = c.setting;
    auto* form = openForm();
    ASSERT_NE(form, nullptr);
    fill(*form, "NEW500", "harbor outfitters");
    save(*form);
    auto* matches = t.top<ExistedCustomerViewController>();
    ASSERT_NE(matches, nullptr);
    ASSERT_EQ(matches->existedListTableView()->numberOfRowsInSection(0), 2);
    ASSERT_TRUE(t.h->chooseRow(*matches->existedListTableView(), {0, c.row})) << t.h->dump();
    t.settle();
    const auto& so = t.app.delegate->globalSO();
    EXPECT_EQ(so.customerID, c.code);
    EXPECT_EQ(so.storeID, c.code);
    EXPECT_EQ(so.priceLevel, c.level);
    EXPECT_EQ(so.orderDiscountRate, c.rate);
    EXPECT_TRUE(itemListOpen());
    EXPECT_EQ(t.calls("InsertNewCustomerForManual"), 0);
    t.app.delegate->navigationController->popToRootViewControllerAnimated(false);
    t.settle();
  }
}

TEST_F(NewCustomers, TakenCodeIsRefusedWithTheServersTextAndTheInputKept) {
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  fill(*form, "C1002", "Someone New");
  save(*form);  // the code matches C1002
  auto* matches = t.top<ExistedCustomerViewController>();
  ASSERT_NE(matches, nullptr);
  ASSERT_TRUE(t.h->tap(matches->createNewCustomerButton()));
  t.waitForRequests();
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Customer code C1002 already exists."});
  EXPECT_EQ(t.top<ManualViewController>(), form);
  t.press("OK");
  t.h->advance(std::chrono::milliseconds(500));
  EXPECT_TRUE(form->textField(F::Code).isFirstResponder());
  EXPECT_EQ(form->textField(F::Name).text(), "Someone New");
  EXPECT_EQ(form->textField(F::Code).text(), "C1002");
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "");

  // A transport failure: the application's message, the input kept.
  t.server.setFault("GetExistCustomerInfo", backoffice::Fault::serverError());
  retype(*form, F::Code, "NEW600");
  save(*form);
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_NE(t.app.alerts()[0].message.find("Webservice Server Error"), std::string::npos);
  EXPECT_EQ(form->textField(F::Code).text(), "NEW600");
}

TEST_F(NewCustomers, TheCodeKeyboardGivesWayToSaveAndTheOtherFields) {
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  ui::TextField& code = form->textField(F::Code);
  // Return ends the code: the keyboard goes, Save and Phone 1 are in reach.
  ASSERT_TRUE(t.h->type(&code, "new700"));
  ASSERT_TRUE(t.app.delegate->window->isKeyboardVisible());
  t.h->pressReturn();
  t.settle();
  EXPECT_FALSE(code.isFirstResponder());
  EXPECT_FALSE(t.app.delegate->window->isKeyboardVisible());
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_TRUE(t.h->isReachable(form->saveButton()));
  ASSERT_TRUE(t.h->scrollIntoReach(*form->tableView(), &form->textField(F::Phone1))) << t.h->dump();
  ASSERT_TRUE(t.h->type(&form->textField(F::Phone1), "5035550100"));
  // "Done" above the code's keyboard puts it away too.
  ASSERT_TRUE(t.h->scrollIntoReach(*form->tableView(), &code)) << t.h->dump();
  ASSERT_TRUE(t.h->type(&code, "1"));
  ASSERT_TRUE(t.h->tapText("Done")) << t.h->dump();
  EXPECT_FALSE(code.isFirstResponder());
  EXPECT_FALSE(t.app.delegate->window->isKeyboardVisible());
  EXPECT_EQ(code.text(), "NEW7001");
  // With the keyboard still up, Save is reached as well.
  ASSERT_TRUE(t.h->type(&code, "2"));
  EXPECT_TRUE(t.h->scrollIntoReach(*form->tableView(), form->saveButton())) << t.h->dump();
  EXPECT_TRUE(code.isFirstResponder());
  // Return on a code the check refuses: its alert, and OK brings the code back into focus.
  t.h->typeText(".");
  t.h->pressReturn();
  t.settle();
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{kCustomerCodeInvalid});
  t.press("OK");
  t.h->advance(std::chrono::milliseconds(500));
  EXPECT_TRUE(code.isFirstResponder());
}

TEST_F(NewCustomers, TheSalesRepRowShowsWithItsOptionAndItsChoiceIsSent) {
  t.app.delegate->settings().isNewCustomerSalesRepOption = true;
  itemListStandsIn();
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  fill(*form, "NEW210", "Quay Traders");
  pick(*form, F::SalesRep1, "R2");
  save(*form);
  ASSERT_EQ(t.calls("InsertNewCustomerForManual"), 1);
  EXPECT_EQ(t.server.received("InsertNewCustomerForManual")[0].param("salesRep1Code"), "R2");
  EXPECT_TRUE(itemListOpen());
}

TEST_F(NewCustomers, StatePickerKeepsTheChoiceApartFromTheFieldAndReopensOnIt) {
  t.app.delegate->globalSO().stateArray = json::array({"Oregon", "Vermont"});
  auto field = ui::makeView<StatePickerKeyboard>({0, 0, 200, 30});
  field->setText("typed");
  auto first = field->inputView();
  auto* picker = field->picker();
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(picker->numberOfRowsInComponent(0), 2);
  picker->userSelectRow(1, 0);
  EXPECT_EQ(field->selectedString(), "Vermont");
  EXPECT_EQ(field->text(), "typed");
  // A new picker each time, showing the last choice 0.2 s later.
  auto second = field->inputView();
  EXPECT_NE(second, first);
  EXPECT_NE(field->picker(), picker);
  t.h->advance(std::chrono::milliseconds(200));
  EXPECT_EQ(field->picker()->selectedRowInComponent(0), 1);
}

TEST_F(NewCustomers, LogoutFromAFormResetsTheOrderAndClosesTheNavigation) {
  auto* form = openForm();
  ASSERT_NE(form, nullptr);
  t.app.delegate->globalSO().customerID = "C1001";
  askLogout(*form);
  t.settle();
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Do you wish to logout?"});
  t.press("No");
  EXPECT_EQ(t.top<ManualViewController>(), form);
  askLogout(*form);
  t.settle();
  t.press("Yes");
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "");
  EXPECT_TRUE(t.app.delegate->settings().logoutFlag);
}

}  // namespace
}  // namespace orvo
