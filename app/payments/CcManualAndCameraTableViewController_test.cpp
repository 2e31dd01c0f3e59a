// The typed and camera card entry: grouping and logo while typing, the checks of "Next" and
// what it posts, "Close", and the camera card reader (a scripted test reader).
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "app/core/ScreenNavigation.h"
#include "app/payments/CcManualAndCameraTableViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/app/PaymentTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::PaymentHarness;

int thisYear() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  return utc.tm_year + 1900;
}

class ScriptedReader : public CardIOReader {
 public:
  bool canReadCardWithCamera() override { return true; }
  void startReading(CardIOView& view) override { pending = &view; }
  CardIOView* pending = nullptr;
};

class CardEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    foundation::NotificationCenter::defaultCenter().addObserver(
        this, kSetCCdata, nullptr, [this](const foundation::Notification& n) { posts.push_back(n.userInfo); });
  }
  void TearDown() override {
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    CardIOUtilities::setReader(nullptr);
  }
  CcManualAndCameraTableViewController* open(bool camera) {
    auto form = ui::viewControllerFromInterface<CcManualAndCameraTableViewController>(
        kCcManualAndCameraTableViewController);
    form->isCcCameraMode = camera;
    presentInNewNavigation(*t.app.delegate->navigationController, form, false);
    t.app.drain();
    return form.get();
  }
  // Taps the field (unless it has the focus) and types. A field under the keyboard or a
  // wheel is reached as a user reaches it: "Done" above the keyboard first.
  void typeInto(ui::TextField& field, const std::string& text) {
    for (int i = 0; i < 6 && !field.isFirstResponder() && !t.h->isReachable(&field); ++i)
      if (!t.h->tapText("Done")) break;
    ASSERT_TRUE(t.h->type(&field, text)) << t.h->dump();
  }
  // Empties `field` key by key, as a user does.
  void clear(ui::TextField& field) {
    typeInto(field, "");
    t.h->deleteBackward(int(field.text().size()));
    EXPECT_EQ(field.text(), "");
  }
  // Taps "Next" below the fields as a finger would: "Done" above the keyboard until the
  // keyboard is down, and the form pushed up while Next is below the screen.
  bool tapNext(CcManualAndCameraTableViewController& form) {
    for (int i = 0; i < 6 && t.app.delegate->window->isKeyboardVisible(); ++i)
      if (!t.h->tapText("Done")) break;
    for (int i = 0; i < 4 && !t.h->isReachable(form.nextButton()); ++i)
      t.h->swipe(form.tableView(), ui::SwipeUp, 200);
    const bool tapped = t.h->tap(form.nextButton());
    t.app.drain();
    return tapped;
  }
  bool tapClose(CcManualAndCameraTableViewController& form) {
    return t.h->tapBarItem(form.navigationItem().leftBarButtonItem());
  }
  bool closed() { return t.app.runUntil([&] { return t.nav().presentedViewController() == nullptr; }); }

  PaymentHarness t;
  std::vector<json> posts;
};

TEST_F(CardEntry, NumberGroupsByBrandAndStopsAtItsLength) {
  struct Case { const char* name; const char* typed; const char* shown; const char* logo; bool jumped; };
  const std::vector<Case> cases = {
      {"16 digits from 4", "4111111111111111", "4111 1111 1111 1111", "icon_cc_visa.png", true},
      {"17th digit refused", "41111111111111112", "4111 1111 1111 1111", "icon_cc_visa.png", true},
      {"15 digits from 3", "371449635398431", "3714 496353 98431", "icon_cc_amex.png", true},
      {"16th AMEX digit refused", "3714496353984312", "3714 496353 98431", "icon_cc_amex.png", true},
      {"partial MASTERCARD", "55000", "5500 0", "icon_cc_master.png", false},
      {"other first digit", "7", "7", "icon_cc_list.png", false},
  };
  auto* form = open(false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clear(form->tf_ccnum());
    typeInto(form->tf_ccnum(), c.typed);
    EXPECT_EQ(form->tf_ccnum().text(), c.shown);
    EXPECT_EQ(form->headerImageName(), c.logo);
    EXPECT_EQ(form->tf_expDate().isFirstResponder(), c.jumped);
  }
  // Pasted digits with blanks are taken; anything with a letter is refused whole.
  clear(form->tf_ccnum());
  t.h->paste("4111 1111");
  EXPECT_EQ(form->tf_ccnum().text(), "4111 1111");
  t.h->paste("12a4");
  EXPECT_EQ(form->tf_ccnum().text(), "4111 1111");
  // Deleting re-groups.
  t.h->deleteBackward(4);
  EXPECT_EQ(form->tf_ccnum().text(), "4111");
}

TEST_F(CardEntry, NextChecksTheFormThenPostsTheCard) {
  t.app.delegate->settings().ccZipcodeFlag = false;
  auto* form = open(false);
  EXPECT_EQ(form->numberOfSectionsInTableView(*form->tableView()), 4);
  ASSERT_TRUE(tapNext(*form));
  EXPECT_TRUE(form->tf_ccnum().isFirstResponder()) << "an empty field gets the focus, without a message";
  EXPECT_TRUE(t.app.alerts().empty());
  typeInto(form->tf_ccnum(), "4111111111111111");
  // The expiry comes from its wheels.
  if (!form->tf_expDate().isFirstResponder()) {
    ASSERT_TRUE(t.h->tap(&form->tf_expDate())) << t.h->dump();
  }
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), 2, 0)) << t.h->dump();
  EXPECT_EQ(form->tf_expDate().text(), "03/" + std::to_string(thisYear()) + "\n");
  // A pasted name is checked as it comes in: OK takes its last character off, and what is
  // left is checked again by Next.
  typeInto(form->tf_name(), "");
  t.h->paste("JOHN <DOE>");
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].message, "The cardholder name contains invalid characters.");
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_EQ(form->tf_name().text(), "JOHN <DOE");
  typeInto(form->tf_cvv(), "12");
  ASSERT_TRUE(tapNext(*form)) << t.h->dump();
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].message, "Please enter a valid CVV #.");
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_EQ(form->tf_cvv().text(), "");
  typeInto(form->tf_cvv(), "123");
  ASSERT_TRUE(tapNext(*form));
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].message, "The cardholder name contains invalid characters.");
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_TRUE(posts.empty());
  // Deleted key by key: each change is checked while the "<" is there, and each OK takes
  // one more character off.
  typeInto(form->tf_name(), "");
  for (int i = 0; i < 20 && !form->tf_name().text().empty(); ++i) {
    t.h->deleteBackward();
    if (t.h->topAlert()) t.h->pressAlertButton("OK");
    t.app.drain();
  }
  ASSERT_EQ(form->tf_name().text(), "");
  typeInto(form->tf_name(), "JOHN DOE");
  ASSERT_TRUE(tapNext(*form));
  ASSERT_TRUE(closed());
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0], (json{{"track1", ""}, {"track2", ""}, {"lastCardName", "JOHN DOE"},
                            {"lastCardNumber", "4111111111111111"},
                            {"lastExpDate", "03/" + std::to_string(thisYear()) + "\n"}, {"cvv", "123"},
                            {"zipcode", ""}}));
}

TEST_F(CardEntry, ShortNumberAndCloseSendNothing) {
  auto* form = open(false);
  typeInto(form->tf_ccnum(), "411111111111");
  ASSERT_TRUE(t.h->tap(&form->tf_expDate())) << t.h->dump();
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), 0, 0)) << t.h->dump();
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), 3, 1)) << t.h->dump();
  typeInto(form->tf_name(), "A");
  typeInto(form->tf_cvv(), "123");
  ASSERT_TRUE(tapNext(*form));
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].message, "Please enter a valid credit card #.");
  t.h->pressAlertButton("OK");
  t.app.drain();
  ASSERT_TRUE(tapClose(*form));
  ASSERT_TRUE(closed());
  EXPECT_TRUE(posts.empty());
}

TEST_F(CardEntry, CameraReadFillsNumberAndExpiry) {
  auto* plain = open(true);
  EXPECT_EQ(plain->navigationItem().rightBarButtonItem(), nullptr) << "no reader: no camera button";
  ASSERT_TRUE(tapClose(*plain));
  ASSERT_TRUE(closed());

  auto reader = std::make_shared<ScriptedReader>();
  CardIOUtilities::setReader(reader);
  struct Case { const char* name; unsigned month; int yearsAhead; const char* number; const char* shown; int yearRow; };
  const std::vector<Case> cases = {
      {"two years ahead", 3, 2, "4111111111111111", "4111 1111 1111 1111", 2},
      {"past year", 7, -1, "371449635398431", "3714 496353 98431", 0},
      {"beyond the wheel", 12, 20, "5500000000000004", "5500 0000 0000 0004", 9},
      {"too long stays ungrouped", 0, 0, "41111111111111112", "41111111111111112", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* form = open(true);
    ASSERT_NE(reader->pending, nullptr);
    EXPECT_NE(form->cardView()->superview(), nullptr);
    CardIOCreditCardInfo info{c.number, c.month, unsigned(thisYear() + c.yearsAhead), nullptr};
    reader->pending->deliver(info);
    reader->pending = nullptr;
    EXPECT_EQ(form->cardView()->superview(), nullptr);
    EXPECT_EQ(form->tf_ccnum().text(), c.shown);
    if (c.month) {
      char expiry[16];
      std::snprintf(expiry, sizeof expiry, "%02u/%d\n", c.month, thisYear() + c.yearsAhead);
      EXPECT_EQ(form->tf_expDate().text(), expiry);
      EXPECT_EQ(form->pv_expDate().selectedRowInComponent(0), int(c.month) - 1);
      EXPECT_EQ(form->pv_expDate().selectedRowInComponent(1), c.yearRow);
    } else {
      EXPECT_EQ(form->tf_expDate().text(), "");
    }
    ASSERT_TRUE(tapClose(*form));
    ASSERT_TRUE(closed());
  }
  // Nothing read: the panel closes on an empty form.
  auto* form = open(true);
  reader->pending->deliver(std::nullopt);
  EXPECT_EQ(form->cardView()->superview(), nullptr);
  EXPECT_EQ(form->tf_ccnum().text(), "");
  EXPECT_TRUE(posts.empty());
}

TEST_F(CardEntry, ATypedCardReachesTheSignaturePadWithItsExpiryInTheFieldsForm) {
  // The card screen's own button opens the form; everything is typed or tapped.
  auto screen = t.openCardScreen();
  auto* form = t.openTypedEntry();
  ASSERT_NE(form, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->type(&form->tf_ccnum(), "4111111111111111"));
  // Keystrokes in the expiry are refused: only its wheels write it.
  ASSERT_TRUE(t.h->type(&form->tf_expDate(), "1/27"));
  EXPECT_EQ(form->tf_expDate().text(), "");
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), 10, 0));
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), 2, 1));
  const std::string expiry = "11/" + std::to_string(thisYear() + 2) + "\n";
  EXPECT_EQ(form->tf_expDate().text(), expiry);
  // "Done" above the keyboard moves on to the next field.
  ASSERT_TRUE(t.h->tapText("Done")) << t.h->dump();
  ASSERT_TRUE(form->tf_name().isFirstResponder());
  t.h->typeText("JOHN DOE");
  ASSERT_TRUE(t.h->tapText("Done"));
  ASSERT_TRUE(form->tf_cvv().isFirstResponder());
  t.h->typeText("123");
  ASSERT_TRUE(t.h->tapText("Done"));
  ASSERT_TRUE(t.h->tapText("Next")) << t.h->dump();
  ASSERT_TRUE(closed());
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0]["lastExpDate"], expiry);
  // The card screen takes it: no "re-swipe", the pad comes.
  EXPECT_TRUE(t.app.alerts().empty()) << t.app.alerts().at(0).message;
  EXPECT_EQ(screen->lbl_expirationDate()->text(), expiry);
  EXPECT_TRUE(t.app.runUntil([&] { return t.pad() != nullptr; }));
}

TEST_F(CardEntry, AnExpiryNotInTheFieldsFormIsAskedForAgain) {
  auto reader = std::make_shared<ScriptedReader>();
  CardIOUtilities::setReader(reader);
  auto* form = open(true);
  ASSERT_NE(reader->pending, nullptr);
  // A reader that gives a two-digit year: the text is not the wheels' form.
  reader->pending->deliver(CardIOCreditCardInfo{"4111111111111111", 3, 27, nullptr});
  EXPECT_EQ(form->tf_expDate().text(), "03/27\n");
  ASSERT_TRUE(t.h->type(&form->tf_name(), "JOHN DOE")) << t.h->dump();
  ASSERT_TRUE(t.h->tapText("Done"));
  ASSERT_TRUE(form->tf_cvv().isFirstResponder());
  t.h->typeText("123");
  // The card's picture above the fields pushes Next down: scrolled to, as a finger would.
  ASSERT_TRUE(tapNext(*form)) << t.h->dump();
  EXPECT_TRUE(posts.empty());
  EXPECT_TRUE(t.app.alerts().empty());
  EXPECT_EQ(form->tf_expDate().text(), "");
  EXPECT_TRUE(form->tf_expDate().isFirstResponder());
}

TEST_F(CardEntry, TheNameCheckRemovesAWholeCharacter) {
  auto* form = open(false);
  ASSERT_TRUE(t.h->type(&form->tf_name(), "JOS\xC3\x89"));  // "JOSÉ": É is two bytes
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].message, "The cardholder name contains invalid characters.");
  ASSERT_TRUE(t.h->pressAlertButton("OK"));
  t.app.drain();
  EXPECT_EQ(form->tf_name().text(), "JOS");
  // A three-byte character, pasted after a letter: the whole character goes.
  t.h->deleteBackward(3);
  t.h->typeText("A");
  t.h->paste("\xE2\x9C\x93");
  ASSERT_EQ(t.app.alerts().size(), 1u);
  ASSERT_TRUE(t.h->pressAlertButton("OK"));
  t.app.drain();
  EXPECT_EQ(form->tf_name().text(), "A");
}

}  // namespace
}  // namespace orvo
