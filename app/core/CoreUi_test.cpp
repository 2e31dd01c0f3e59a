// The main menu, the touch overlay, the alert helpers and the utilities.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "app/core/AlertClass.h"
#include "testing/app/AppTestSupport.h"
#include "app/core/MainMenuViewController.h"
#include "app/core/OverlayViewController.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/ui/Button.h"
#include "platform/ui/harness/Harness.h"

namespace orvo {
namespace {

class MainMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.launch();
    menu = std::make_shared<MainMenuViewController>();
    menuNav = std::make_shared<ui::NavigationController>(menu);
    app.root->presentViewController(menuNav, false);
    menu->view();
    h = std::make_unique<ui::harness::Harness>(app.delegate->window.get());
  }
  ui::NavigationController* presentedNav() {
    return dynamic_cast<ui::NavigationController*>(menuNav->presentedViewController());
  }
  test_support::AppHarness app;
  std::shared_ptr<MainMenuViewController> menu;
  std::shared_ptr<ui::NavigationController> menuNav;
  std::unique_ptr<ui::harness::Harness> h;
};

TEST_F(MainMenuTest, SalesOrderAfterPickTurnsScanPackOffAndPresentsOrderTypes) {
  EXPECT_EQ(menu->title(), "Main Menu");
  ASSERT_TRUE(menu->navigationItem().rightBarButtonItem());
  ASSERT_TRUE(h->tap(menu->pickButton()));
  EXPECT_TRUE(app.delegate->settings().isScanPackMode);
  ASSERT_NE(presentedNav(), nullptr);
  EXPECT_EQ(presentedNav()->topViewController()->nibName(), "CustomerView");
  menuNav->dismissViewControllerAnimated(false);

  ASSERT_TRUE(h->tap(menu->saleOrderButton()));
  EXPECT_FALSE(app.delegate->settings().isScanPackMode);
  ASSERT_NE(presentedNav(), nullptr);
  EXPECT_EQ(presentedNav()->topViewController()->nibName(), "SoOrderTypeViewController");
  EXPECT_EQ(presentedNav()->navigationBar().barTintColor(), ui::Color::black());
  EXPECT_EQ(presentedNav()->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
}

TEST_F(MainMenuTest, ScanPackChangesOnlyTheFlag) {
  ASSERT_TRUE(h->tap(menu->scanPackButton()));
  EXPECT_TRUE(app.delegate->settings().isScanPackMode);
  EXPECT_EQ(menuNav->presentedViewController(), nullptr);
}

TEST_F(MainMenuTest, LogoutAsksAndOnlyYesResets) {
  app.delegate->globalSO().customerID = "C1001";
  ASSERT_TRUE(h->tapBarItem(menu->navigationItem().rightBarButtonItem()));
  auto* alert = dynamic_cast<ui::AlertController*>(menuNav->presentedViewController());
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->message(), "Do you wish to logout?");
  ASSERT_TRUE(h->pressAlertButton("No"));
  EXPECT_EQ(app.delegate->globalSO().customerID, "C1001");
  EXPECT_FALSE(app.delegate->settings().logoutFlag);
  EXPECT_EQ(app.delegate->navigationController->presentedViewController(), menuNav.get());

  ASSERT_TRUE(h->tapBarItem(menu->navigationItem().rightBarButtonItem()));
  alert = dynamic_cast<ui::AlertController*>(menuNav->presentedViewController());
  ASSERT_NE(alert, nullptr);
  ASSERT_TRUE(h->pressAlertButton("Yes"));
  EXPECT_EQ(app.delegate->globalSO().customerID, "");
  EXPECT_TRUE(app.delegate->settings().logoutFlag);
  EXPECT_EQ(app.delegate->navigationController->presentedViewController(), nullptr);  // back at the login screen
}

// Search screens of each kind, counting how their search was ended.
struct CustomerScreen : ui::ViewController, CustomerSearchOverlayOwner {
  void delOv() override { ++ended; }
  int ended = 0;
};
struct StoreScreen : ui::ViewController, StoreSearchOverlayOwner {
  void doneSearching_Clicked(const void* sender) override { ended += sender == nullptr; }
  int ended = 0;
};
struct StyleScreen : ui::ViewController, StyleInfoSearchOverlayOwner {
  void delOv() override { ++ended; }
  int ended = 0;
};

TEST(OverlayTest, TouchEndsTheOwnersSearchOncePerSequence) {
  auto customer = std::make_shared<CustomerScreen>();
  auto store = std::make_shared<StoreScreen>();
  auto style = std::make_shared<StyleScreen>();
  auto plain = std::make_shared<ui::ViewController>();
  struct Case {
    const char* name;
    std::shared_ptr<ui::ViewController> owner;
    std::function<int()> ended;
  };
  const std::vector<Case> cases = {
      {"customer", customer, [&] { return customer->ended; }},
      {"store", store, [&] { return store->ended; }},
      {"style information", style, [&] { return style->ended; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OverlayViewController overlay;
    overlay.setViewController(c.owner);
    const ui::Touches t{ui::Touch{}};
    overlay.touchesBegan(t);
    overlay.touchesMoved(t);
    overlay.touchesEnded(t);
    EXPECT_EQ(c.ended(), 1);
  }
  // No owner, or an owner of another kind: the touch is swallowed.
  OverlayViewController overlay;
  overlay.touchesBegan({ui::Touch{}});
  overlay.setViewController(plain);
  overlay.touchesBegan({ui::Touch{}});
}

// Through the window: the overlay laid over a search screen's list takes the tap, ends the
// search once per tap, and nothing beneath it is touched.
TEST(OverlayTest, TapThroughTheWindowReachesTheOwnerOncePerTap) {
  test_support::AppHarness app;
  app.launch();
  auto customer = std::make_shared<CustomerScreen>();
  app.delegate->navigationController->pushViewController(customer, false);
  int rowTaps = 0;
  auto row = ui::Button::make("C1001", ui::Rect(0, 120, 320, 44));
  row->addTarget(&rowTaps, [&](ui::Control&) { ++rowTaps; }, ui::TouchUpInside);
  customer->view().addSubview(row);
  auto overlay = std::make_shared<OverlayViewController>();
  overlay->setViewController(customer);
  overlay->view().setFrame(ui::Rect(0, 108, 320, 460));
  overlay->view().setBackgroundColor(ui::Color::black());
  overlay->view().setAlpha(0.8);
  customer->view().addSubview(overlay->viewPtr());
  app.delegate->window->layoutIfNeeded();

  ui::harness::Harness h(app.delegate->window.get());
  ASSERT_TRUE(h.tap(&overlay->view()));
  EXPECT_EQ(customer->ended, 1);
  ASSERT_TRUE(h.tap(&overlay->view()));
  EXPECT_EQ(customer->ended, 2);
  EXPECT_FALSE(h.tap(row.get()));  // covered by the overlay
  EXPECT_EQ(rowTaps, 0);
}

TEST(AlertClassTest, DisplayAlertChoosesTheKind) {
  test_support::AppHarness app;
  app.launch();
  AlertClass::displayAlert(nullptr, 0, 1, "Orvo Mobile", "no target");
  auto shown = app.alerts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].legacy);
  EXPECT_EQ(shown[0].buttons, std::vector<std::string>{"Ok"});
  app.dismissAlerts();

  AlertClass::displayAlert(app.root, 0, 1, "Orvo Mobile", "with target");
  shown = app.alerts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_FALSE(shown[0].legacy);
  EXPECT_EQ(shown[0].buttons, std::vector<std::string>{"OK"});
  app.dismissAlerts();

  AlertClass::displayAlert(app.delegate, 80, 2, "Orvo Mobile", "question");
  shown = app.alerts();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].tag, 80);
  EXPECT_EQ(shown[0].buttons, (std::vector<std::string>{"Yes", "No"}));
  app.dismissAlerts();

  AlertClass::displayAlert(app.root, 0, 3, "Orvo Mobile", "nothing");
  EXPECT_TRUE(app.alerts().empty());
}

TEST(UtilTest, ServiceAddressesFollowTheStoredServer) {
  test_support::FreshDefaults fresh;
  EXPECT_EQ(Util::getServerInfo(), "http://(null):(null)/Webservice/OrvoMobileWebService.asmx");
  fresh.defaults().setString(defaults::serverIP, "10.0.0.5");
  fresh.defaults().setString(defaults::serverPort, "8080");
  EXPECT_EQ(Util::getServerInfo(), "http://10.0.0.5:8080/Webservice/OrvoMobileWebService.asmx");
  EXPECT_EQ(Util::getServerInfo(false), Util::getServerInfo());
  EXPECT_EQ(Util::getServerInfo(true), "http://10.0.0.5:8080/Webservice/OrvoScanPackWebService.asmx");
  EXPECT_EQ(Util::getImgUrl(), "http://10.0.0.5:8080/styleimages");
  EXPECT_EQ(Util::getPdfUrl(), "http://10.0.0.5:8080/styleimages/pdf");
  EXPECT_EQ(Util::getImgZipUrl(), "http://10.0.0.5:8080/styleimages/soimgzip");
}

TEST(UtilTest, InputChecks) {
  struct EmailCase { const char* text; bool valid; };
  for (const auto& c : std::vector<EmailCase>{{"buyer@example.com", true},
                                              {"A.B+c@Shop.CO.uk", true},
                                              {"a@b.c", false},
                                              {"a@b.abcdefghijklmnop", false},
                                              {"a@b.abcdefghijklmno", true},
                                              {"no-at.example.com", false},
                                              {"a b@example.com", false}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Util::validEmail(c.text), c.valid);
  }
}

TEST(UtilTest, EmailCheckTakesLongTextAndAgreesWithThePattern) {
  // Long text is answered, not a crash (the pattern engine recursed once per character).
  const std::string local(60000, 'a');
  EXPECT_TRUE(Util::validEmail(local + "@example.com"));
  EXPECT_FALSE(Util::validEmail(local));
  EXPECT_FALSE(Util::validEmail(local + "@" + local));
  // On short text the check answers as the pattern does, case ignored.
  const std::regex pattern(R"(^[A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,15}$)", std::regex::icase);
  const std::string alphabet = "aZ9.@-_%+ \xc3\xa9xy";
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const size_t length = random() % 12;
    for (size_t k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
    SCOPED_TRACE(text);
    ASSERT_EQ(Util::validEmail(text), std::regex_match(text, pattern));
  }
  for (const char* text : {"a@b.co", "a@.co", "@b.co", "a@b..co", "a@b.c0", "a@@b.co", "a.@-.Co", "A@B.CO"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Util::validEmail(text), std::regex_match(text, pattern));
  }
  struct CvvCase { const char* cvv; const char* type; bool valid; };
  for (const auto& c : std::vector<CvvCase>{{"123", "VISA", true}, {"1234", "AMEX", true},
                                            {"1234", "VISA", false}, {"123", "AMEX", false},
                                            {"12a", "VISA", false}, {"12a4", "AMEX", false}}) {
    SCOPED_TRACE(c.cvv);
    EXPECT_EQ(Util::isValidCVV(c.cvv, c.type), c.valid);
  }
  EXPECT_TRUE(Util::isValidZipcode(std::nullopt));
  EXPECT_TRUE(Util::isValidZipcode(""));
  EXPECT_TRUE(Util::isValidZipcode("12345"));
  EXPECT_TRUE(Util::isValidZipcode("12345-678"));
  EXPECT_FALSE(Util::isValidZipcode("1234"));
  EXPECT_FALSE(Util::isValidZipcode("12345-6789"));
  EXPECT_EQ(Util::percentEscaped("http://h:1/style images/ä.jpg"), "http://h:1/style%20images/%C3%A4.jpg");
}

}  // namespace
}  // namespace orvo
