// The card capture screen against the back office on loopback: taking a card from a swipe
// (track 1 alone included), the CVV and ZIP prompt by option, refusals, the signature, and
// the one "InsertCC" the server reads back to the swiped number.
#include <gtest/gtest.h>

#include "app/payments/AESExtention.h"
#include "app/payments/CcManualAndCameraTableViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/qt/Offscreen.h"
#include "testing/app/PaymentTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::PaymentHarness;

constexpr const char* kTrack1 = "%B4111111111111111^DOE/JOHN^2711101000000000000000";

class CardScreen : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(t.started); }

  // A card swiped on the sleeve: its tracks, and what the SDK reads from them (name,
  // number, expiry month and year) when `info` gives those.
  void swipe(const json& info) {
    auto text = [&](const char* key) -> std::optional<std::string> {
      return info.contains(key) ? std::optional<std::string>(info[key].get<std::string>()) : std::nullopt;
    };
    std::optional<json> fields;
    if (info.contains("lastCardNumber")) {
      fields = json::object();
      (*fields)["accountNumber"] = info["lastCardNumber"];
      if (auto name = text("lastCardName")) (*fields)["cardholderName"] = *name;
      if (auto expiry = text("lastExpDate")) {
        const auto slash = expiry->find('/');
        (*fields)["expirationMonth"] = expiry->substr(0, slash);
        (*fields)["expirationYear"] = expiry->substr(slash + 1, expiry->find('\n') - slash - 1);
      }
    }
    t.app.devices->setFinancialCard(fields);
    t.app.devices->raiseCard(text("track1"), text("track2"));
    t.app.drain();
  }
  // Runs until the pad is up (0.5 s after a card was taken).
  CcSignatureViewController* waitForPad() {
    t.app.runUntil([&] { return t.pad() != nullptr && t.pad()->isViewLoaded(); });
    return t.pad();
  }
  // Signs with one stroke and presses "Next"; waits for the pad to go.
  void sign(CcSignatureViewController& pad) {
    ASSERT_TRUE(t.stroke(pad, {{60, 60}, {90, 80}, {130, 70}, {170, 100}, {220, 60}}));
    ASSERT_TRUE(t.h->tap(pad.nextButton())) << t.h->dump();
    t.app.runUntil([&] { return t.pad() == nullptr; });
  }

  // Signs with one stroke and taps "Next" as a finger would; waits for the pad to go.
  void signAndTapNext(CcSignatureViewController& pad) {
    ASSERT_TRUE(t.stroke(pad, {{60, 60}, {90, 80}, {130, 70}, {170, 100}, {220, 60}}));
    ASSERT_TRUE(t.h->tap(pad.nextButton())) << t.h->dump();
    ASSERT_TRUE(t.app.runUntil([&] { return t.pad() == nullptr; }));
  }

  PaymentHarness t;
};

TEST_F(CardScreen, Track1OnlySwipeShowsNameExpiryBrandAndMask) {
  auto screen = t.openCardScreen();
  EXPECT_EQ(screen->title(), "Swipe Credit Card");
  swipe({{"track1", kTrack1}, {"track2", ";4111111111111111=27111010000000000?"}});
  EXPECT_EQ(screen->lbl_cardholderName()->text(), "DOE/JOHN");
  EXPECT_EQ(screen->lbl_expirationDate()->text(), "11/2027\n");
  EXPECT_EQ(screen->ccType(), "VISA");
  EXPECT_EQ(screen->lbl_cardNumber()->text(), "XXXX-XXXX-XXXX-1111");
  EXPECT_EQ(screen->lastCardNumber(), "4111111111111111");
  EXPECT_NE(waitForPad(), nullptr) << "no CVV option: straight to the pad";
}

// With the renderer's font metrics, every caption and value of a swiped card shows whole.
TEST_F(CardScreen, CaptionsAndValuesShowWhole) {
  ui::qt::ensureGuiApplication();
  auto screen = t.openCardScreen();
  swipe({{"track1", kTrack1}, {"track2", ";4111111111111111=27111010000000000?"}});
  std::vector<ui::Label*> labels;
  for (const char* caption : {"Order Total", "Name", "Card Number", "Expiration"})
    labels.push_back(dynamic_cast<ui::Label*>(t.h->findText(caption)));
  for (auto* value : {screen->lbl_extTotalPrice(), screen->lbl_cardholderName(), screen->lbl_cardNumber()})
    labels.push_back(value);
  for (auto* l : labels) {
    ASSERT_NE(l, nullptr);
    SCOPED_TRACE(l->text());
    EXPECT_LE(ui::measureText(l->text(), l->effectiveFont()).width, l->frame().width());
  }
}

TEST_F(CardScreen, BrandsMasksAndRefusals) {
  struct Case {
    const char* name;
    json info;
    const char* type;
    const char* mask;        // nullptr: refused
    const char* stored;
  };
  const std::vector<Case> cases = {
      {"15-digit AMEX", {{"lastCardName", "A"}, {"lastCardNumber", "371449635398431"}, {"lastExpDate", "3/2027\n"}},
       "AMEX", "XXXX-XXXXXX-X8431", "371449635398431 "},
      {"number starting with 7",
       {{"lastCardName", "B"}, {"lastCardNumber", "7111222233334444"}, {"lastExpDate", "12/2028\n"}}, "",
       "XXXX-XXXX-XXXX-4444", "7111222233334444"},
      {"name given, track ignored",
       {{"lastCardName", "C"}, {"lastCardNumber", "5500000000000004"}, {"lastExpDate", "01/2030\n"},
        {"track1", kTrack1}},
       "MASTERCARD", "XXXX-XXXX-XXXX-0004", "5500000000000004"},
      {"19 digits", {{"lastCardName", "D"}, {"lastCardNumber", "4111111111111111111"}, {"lastExpDate", "1/2030\n"}},
       "VISA", nullptr, ""},
      {"short number", {{"lastCardName", "E"}, {"lastCardNumber", "4111"}, {"lastExpDate", "1/2030\n"}}, "VISA",
       nullptr, ""},
      {"no name", {{"lastCardNumber", "4111111111111111"}, {"lastExpDate", "1/2030\n"}}, "VISA", nullptr, ""},
      {"unreadable track", {{"track1", "%B41111^X"}}, "", nullptr, ""},
  };
  auto screen = t.openCardScreen();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    swipe(c.info);
    if (c.mask) {
      EXPECT_EQ(screen->ccType(), c.type);
      EXPECT_EQ(screen->lbl_cardNumber()->text(), c.mask);
      EXPECT_EQ(screen->lastCardNumber(), c.stored);
      EXPECT_TRUE(t.app.alerts().empty());
    } else {
      auto alerts = t.app.alerts();
      ASSERT_EQ(alerts.size(), 1u);
      EXPECT_EQ(alerts[0].message, "Please re-swipe the credit card!");
      EXPECT_EQ(screen->lastCardNumber(), "");
      EXPECT_EQ(screen->lbl_cardNumber()->text(), "-");
    }
    t.app.dismissAlerts();
    // Let the pad come up and go, so the next card starts on the screen itself.
    if (c.mask) {
      auto* pad = waitForPad();
      ASSERT_NE(pad, nullptr);
      ASSERT_TRUE(t.h->tap(pad->cancelButton()));
      t.app.runUntil([&] { return t.pad() == nullptr; });
    }
  }
}

TEST_F(CardScreen, CvvAndZipPromptFollowTheOptions) {
  struct Case {
    const char* name;
    bool zip;
    const char* number;
    std::vector<std::pair<std::string, std::string>> tries;  // refused answers, then a good one
    const char* again;
  };
  const std::vector<Case> cases = {
      {"CVV only, VISA", false, "4111111111111111", {{"12", ""}, {"1234", ""}, {"123", ""}},
       "Please enter a valid CVV #."},
      {"CVV only, AMEX", false, "371449635398431", {{"123", ""}, {"1234", ""}}, "Please enter a valid CVV #."},
      {"CVV and ZIP", true, "4111111111111111",
       {{"123", "1234"}, {"123", "1234567890"}, {"123", "12345"}}, "Please enter valid CVV # and ZIPcode."},
      {"CVV and empty ZIP", true, "4111111111111111", {{"123", ""}}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    t.app.delegate->settings().ccCvvFlag = true;
    t.app.delegate->settings().ccZipcodeFlag = c.zip;
    auto screen = t.openCardScreen();
    EXPECT_FALSE(screen->lbl_cvv()->isHidden());
    swipe({{"lastCardName", "DOE/JOHN"}, {"lastCardNumber", c.number}, {"lastExpDate", "11/2027\n"}});
    for (size_t i = 0; i < c.tries.size(); ++i) {
      ASSERT_TRUE(t.app.runUntil([&] { return t.alertController() != nullptr; }));
      auto* prompt = t.alertController();
      EXPECT_EQ(prompt->message(), i == 0 ? (c.zip ? "Please enter CVV# and Zipcode." : "Please enter CVV #.")
                                          : c.again);
      ASSERT_EQ(prompt->textFields().size(), c.zip ? 2u : 1u);
      EXPECT_EQ(prompt->textFields()[0]->text(), "");
      ASSERT_TRUE(t.h->type(prompt->textFields()[0].get(), c.tries[i].first)) << t.h->dump();
      if (c.zip) {
        ASSERT_TRUE(t.h->type(prompt->textFields()[1].get(), c.tries[i].second)) << t.h->dump();
      }
      ASSERT_TRUE(t.h->pressAlertButton("OK")) << t.h->dump();
      t.app.drain();
    }
    auto* pad = waitForPad();
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(screen->ccCvv(), c.tries.back().first);
    EXPECT_EQ(screen->lbl_cvv()->text(), c.tries.back().first);
    EXPECT_EQ(screen->ccZipcode(), c.tries.back().second);
    ASSERT_TRUE(t.h->tap(pad->cancelButton()));
    t.app.runUntil([&] { return t.pad() == nullptr; });
    t.nav().popViewControllerAnimated(false);
    t.app.drain();
  }
}

TEST_F(CardScreen, CancelOnThePromptDropsTheCard) {
  t.app.delegate->settings().ccCvvFlag = true;
  auto screen = t.openCardScreen();
  swipe({{"lastCardName", "DOE/JOHN"}, {"lastCardNumber", "4111111111111111"}, {"lastExpDate", "11/2027\n"}});
  ASSERT_TRUE(t.app.runUntil([&] { return t.alertController() != nullptr; }));
  ASSERT_TRUE(t.h->pressAlertButton("Cancel"));
  t.app.drain();
  EXPECT_EQ(screen->lastCardNumber(), "");
  for (auto* l : {screen->lbl_cardNumber(), screen->lbl_cardholderName(), screen->lbl_expirationDate()})
    EXPECT_EQ(l->text(), "-");
}

TEST_F(CardScreen, SignedCardIsStoredOnceWithElevenChildrenTheServerReads) {
  auto screen = t.openCardScreen();
  const std::string signatureBefore = "earlier";
  t.app.delegate->globalSO().signatureBase64String = signatureBefore;
  swipe({{"track1", kTrack1}, {"track2", ";4111111111111111=2711?"}});
  auto* pad = waitForPad();
  ASSERT_NE(pad, nullptr);
  sign(*pad);
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("InsertCC") == 1; }));
  t.waitForRequests();
  EXPECT_EQ(t.calls("InsertSOsign"), 1u);
  auto call = t.server.received("InsertCC")[0];
  std::vector<std::string> names;
  for (auto& [k, v] : call.params) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"orderNumber", "customer", "ccName", "ccNumber", "ccExp", "ccType",
                                             "ccTrack1", "signBase64String", "lastFourDigit", "cvv", "zipcode"}));
  EXPECT_EQ(call.param("orderNumber"), "SO-1001");
  EXPECT_EQ(call.param("customer"), "C100");
  EXPECT_EQ(call.param("ccName"), "DOE/JOHN");
  EXPECT_EQ(call.param("ccNumber").size(), 85u);
  EXPECT_EQ(call.param("ccExp"), "1127");
  EXPECT_EQ(call.param("ccType"), "VISA");
  EXPECT_EQ(call.param("lastFourDigit"), "XXXX-XXXX-XXXX-1111");
  EXPECT_NE(call.param("signBase64String"), signatureBefore);
  EXPECT_EQ(call.param("signBase64String"), t.app.delegate->globalSO().signatureBase64String);
  EXPECT_EQ(backoffice::decipherCardValue(call.param("ccNumber"), backoffice::kSampleCardCipherWord, false),
            "4111111111111111");
  EXPECT_EQ(backoffice::decipherCardValue(call.param("ccTrack1"), backoffice::kSampleCardCipherWord, true), kTrack1);
  // The screen's copies are gone once the request is built.
  EXPECT_EQ(screen->lastCardNumber(), "");
  EXPECT_EQ(screen->lastCardTrack1(), "");

  // "Account ID 1": the flag only after OK, then the screen goes.
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Account ID 1");
  EXPECT_EQ(alerts[0].message, "Thank you for your credit card capture.");
  EXPECT_FALSE(t.app.delegate->settings().authorizeSuccessFlag);
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_TRUE(t.app.delegate->settings().authorizeSuccessFlag);
  EXPECT_NE(t.nav().topViewController(), screen.get());
}

TEST_F(CardScreen, ExpiryFormsAndTypedCardsWithoutTrack) {
  EXPECT_EQ(CcViewController::ccExpText("11/2027\n"), "1127");
  EXPECT_EQ(CcViewController::ccExpText("3/2027\n"), "0327");
  auto screen = t.openCardScreen();
  // The typed entry: opened by the screen's button, filled in, and "Next" posts the card.
  auto* form = t.openTypedEntry();
  ASSERT_NE(form, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->type(&form->tf_ccnum(), "5500000000000004"));
  ASSERT_TRUE(form->tf_expDate().isFirstResponder());
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), 2, 0));  // March
  const int yearRow = CcManualAndCameraTableViewController::getIdxOfCCyear(2029);
  ASSERT_GE(yearRow, 0);
  ASSERT_TRUE(t.h->choosePickerRow(form->pv_expDate(), yearRow, 1));
  ASSERT_TRUE(t.h->tapText("Done"));
  ASSERT_TRUE(form->tf_name().isFirstResponder());
  t.h->typeText("JANE ROE");
  ASSERT_TRUE(t.h->tapText("Done"));
  t.h->typeText("321");
  for (int i = 0; i < 3 && t.app.delegate->window->isKeyboardVisible(); ++i) {
    ASSERT_TRUE(t.h->tapText("Done"));
  }
  ASSERT_TRUE(t.h->tap(form->nextButton())) << t.h->dump();
  ASSERT_TRUE(t.app.runUntil([&] { return t.nav().presentedViewController() == nullptr; }));
  auto* pad = waitForPad();
  ASSERT_NE(pad, nullptr) << "a typed card goes to the pad without the prompt";
  EXPECT_EQ(screen->lbl_cvv()->text(), "321");
  sign(*pad);
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("InsertCC") == 1; }));
  t.waitForRequests();
  auto call = t.server.received("InsertCC")[0];
  EXPECT_EQ(call.param("ccTrack1"), "");
  EXPECT_EQ(call.param("ccExp"), "0329");
  EXPECT_EQ(call.param("cvv"), "321");
}

TEST_F(CardScreen, CancelledSignatureAndInvalidCipherWordSendNothing) {
  auto screen = t.openCardScreen();
  swipe({{"track1", kTrack1}});
  auto* pad = waitForPad();
  ASSERT_NE(pad, nullptr);
  ASSERT_TRUE(t.h->tap(pad->cancelButton()));
  ASSERT_TRUE(t.app.runUntil([&] { return t.pad() == nullptr; }));
  EXPECT_EQ(screen->lastCardNumber(), "4111111111111111") << "the card stays for another signature";

  // A word set in the configuration that is no word makes no key: an alert, no request.
  ASSERT_TRUE(backoffice::writeCardCipherConfig(foundation::Paths::configDir(), "Short"));
  swipe({{"track1", kTrack1}});
  pad = waitForPad();
  ASSERT_NE(pad, nullptr);
  sign(*pad);
  ASSERT_TRUE(t.app.runUntil([&] { return !t.app.alerts().empty(); }));
  EXPECT_NE(t.app.alerts()[0].message.find("not sent"), std::string::npos);
  EXPECT_EQ(t.calls("InsertCC"), 0u);
}

TEST_F(CardScreen, ServerRefusalLeavesWithoutTheFlag) {
  t.server.withState([](backoffice::State& s) { s.payments["word"] = "Otherwordsx"; });
  auto screen = t.openCardScreen();
  swipe({{"track1", kTrack1}});
  auto* pad = waitForPad();
  ASSERT_NE(pad, nullptr);
  sign(*pad);
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("InsertCC") == 1 && !t.app.alerts().empty(); }));
  t.waitForRequests();
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Orvo Mobile");
  EXPECT_EQ(alerts[0].message, "The card could not be read.");
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_FALSE(t.app.delegate->settings().authorizeSuccessFlag);
  EXPECT_NE(t.nav().topViewController(), screen.get());
}

TEST_F(CardScreen, ReaderStatusAndCardsOnFileDone) {
  // A connected sleeve: the screen starts the card reader and shows what it reports.
  t.app.devices->setConnState(CONN_CONNECTED);
  t.app.delegate->settings().ccDefFlag = true;  // the screen offers the cards on file
  auto screen = t.openCardScreen();
  ASSERT_TRUE(t.app.runUntil([&] { return screen->lbl_cardreaderStatus()->text() == "Card reader was connected"; }));
  // Cards on file, left by Back: the card screen stays.
  ASSERT_TRUE(t.h->tap(screen->btn_CcListButton())) << t.h->dump();
  t.waitForRequests();
  auto* nav = dynamic_cast<ui::NavigationController*>(t.nav().presentedViewController());
  ASSERT_NE(nav, nullptr);
  // This customer has no cards on file: the server refuses the list, and the user is told.
  ASSERT_TRUE(t.h->pressAlertButton("OK")) << t.h->dump();
  t.app.drain();
  ASSERT_TRUE(t.h->tapBarItem(nav->topViewController()->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  ASSERT_TRUE(t.app.runUntil([&] { return t.nav().presentedViewController() == nullptr; }));
  t.app.drain();
  EXPECT_EQ(t.nav().topViewController(), screen.get());
  // Left by Done: the card screen goes too.
  ASSERT_TRUE(t.h->tap(screen->btn_CcListButton())) << t.h->dump();
  t.waitForRequests();
  nav = dynamic_cast<ui::NavigationController*>(t.nav().presentedViewController());
  ASSERT_NE(nav, nullptr);
  ASSERT_TRUE(t.h->pressAlertButton("OK")) << t.h->dump();
  t.app.drain();
  ASSERT_TRUE(t.h->tapBarItem(nav->topViewController()->navigationItem().rightBarButtonItem()));  // Done
  ASSERT_TRUE(t.app.runUntil([&] { return t.nav().presentedViewController() == nullptr; }));
  t.app.drain();
  EXPECT_NE(t.nav().topViewController(), screen.get());
}

TEST_F(CardScreen, AFreshInstallStoresCardsTheBackOfficeReads) {
  // No configuration written: the application's built-in word, which a back office of
  // this scheme reads cards with unless told otherwise.
  std::filesystem::remove(foundation::Paths::configDir() / kCardCipherConfigFile);
  auto screen = t.openCardScreen();
  swipe({{"track1", kTrack1}});
  auto* pad = waitForPad();
  ASSERT_NE(pad, nullptr);
  signAndTapNext(*pad);
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("InsertCC") == 1 && !t.app.alerts().empty(); }));
  t.waitForRequests();
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Account ID 1");
  json card;
  t.server.withState([&](backoffice::State& s) { card = s.payments["cards"].at(0); });
  EXPECT_EQ(card["Number"], "4111111111111111");
  EXPECT_EQ(card["Track1"], kTrack1);
  EXPECT_EQ(std::string(kBuiltInCardCipherWord), backoffice::kSampleCardCipherWord);
}

TEST_F(CardScreen, AnUnreadableStoreAnswerIsToldOnceAndLeavesTheScreen) {
  struct Case { const char* name; backoffice::Fault fault; const char* exception; };
  const std::vector<Case> cases = {
      {"broken envelope", backoffice::Fault::badXml(), nullptr},
      {"no result text", backoffice::Fault::result(""), "NSInvalidArgumentException"},
      {"result is not JSON", backoffice::Fault::badJson(), "NSInvalidArgumentException"},
      {"result is no dictionary", backoffice::Fault::result("[\"True\"]"), "NSInvalidArgumentException"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    t.server.setFault("InsertCC", c.fault);
    auto screen = t.openCardScreen();
    swipe({{"track1", kTrack1}});
    auto* pad = waitForPad();
    ASSERT_NE(pad, nullptr);
    const size_t before = t.calls("InsertCC");
    signAndTapNext(*pad);
    ASSERT_TRUE(t.app.runUntil([&] { return t.calls("InsertCC") == before + 1 && !t.app.alerts().empty(); }));
    t.waitForRequests();
    t.app.drain();
    auto alerts = t.app.alerts();
    std::string shown;
    for (const auto& a : alerts) shown += a.title + ": " + a.message + "\n";
    ASSERT_EQ(alerts.size(), 1u) << shown;
    EXPECT_EQ(alerts[0].title, "Orvo Mobile");
    EXPECT_EQ(alerts[0].message.rfind("[F]-[CcViewController insertCcResponseData:]\n[N]", 0), 0u) << alerts[0].message;
    if (c.exception) {
      EXPECT_NE(alerts[0].message.find(c.exception), std::string::npos) << alerts[0].message;
    }
    ASSERT_TRUE(t.h->pressAlertButton("OK"));
    t.app.drain();
    EXPECT_NE(t.nav().topViewController(), screen.get()) << "OK leaves the card screen";
    EXPECT_FALSE(t.app.delegate->settings().authorizeSuccessFlag);
    t.server.clearFaults();
  }
}

}  // namespace
}  // namespace orvo
