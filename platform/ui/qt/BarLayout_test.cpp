// Bar titles measured with the renderer's font metrics: a navigation title is centred on its
// bar when it fits there, moves off the centre when the bar items leave it too little room
// on one side, shrinks a little when the whole space between the items is too narrow, and
// is cut only past that; the mail sheet's title and subject show whole.
#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"
#include "platform/ui/harness/Harness.h"
#include "platform/ui/harness/TextFit.h"
#include "platform/ui/qt/Offscreen.h"

namespace ui::qt {
namespace {

class BarLayout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ensureGuiApplication();
  }
};

std::shared_ptr<BarButtonItem> titled(const char* text) {
  return BarButtonItem::withTitle(text, BarButtonItemStyle::Plain, nullptr);
}

TEST_F(BarLayout, TitlesMoveOffTheCentreBeforeTheyAreCut) {
  struct Case {
    const char* name;
    const char* title;
    std::vector<std::shared_ptr<BarButtonItem>> right;
    bool centred, whole;
  };
  const Case cases[] = {
      {"room on both sides", "Customers", {BarButtonItem::withSystemItem(BarButtonSystemItem::Search)}, true, true},
      {"two items on the right", "Scan your item",
       {BarButtonItem::withSystemItem(BarButtonSystemItem::Camera), BarButtonItem::withSystemItem(BarButtonSystemItem::Add)},
       false, true},
      {"a long title beside one item", "Add a Style Manually",
       {BarButtonItem::withSystemItem(BarButtonSystemItem::Search)}, false, true},
      {"too long for the space between the items at its own size", "Swipe Credit Card Here",
       {BarButtonItem::withSystemItem(BarButtonSystemItem::Search)}, false, true},
      {"longer than the space between the items", "A title far too long for the space of any bar",
       {BarButtonItem::withSystemItem(BarButtonSystemItem::Camera), titled("Reset")}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = std::make_shared<Window>();
    auto screen = std::make_shared<ViewController>();
    screen->setTitle(c.title);
    screen->navigationItem().setLeftBarButtonItem(titled("Back"));
    screen->navigationItem().setRightBarButtonItems(c.right);
    auto nav = std::make_shared<NavigationController>(screen);
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    window->layoutIfNeeded();

    NavigationBar& bar = nav->navigationBar();
    Label* title = nullptr;
    double left = 0, right = bar.frame().width();
    for (auto& v : bar.subviews()) {
      if (std::string(v->kind()) == "NavigationTitle") title = dynamic_cast<Label*>(v.get());
      else if (v->frame().x() < bar.frame().width() / 2) left = std::max(left, v->frame().maxX());
      else right = std::min(right, v->frame().x());
    }
    ASSERT_NE(title, nullptr);
    const Rect f = title->frame();
    EXPECT_GE(f.x(), left);
    EXPECT_LE(f.maxX(), right);
    if (c.centred) {
      EXPECT_NEAR(f.x() + f.width() / 2, bar.frame().width() / 2, 0.5);
    }
    const bool fits = measureText(c.title, title->effectiveFont()).width <= f.width() + 0.5;
    if (c.centred) {
      EXPECT_EQ(title->effectiveFont().size, title->font().size);  // shrinks only where it must
    }
    EXPECT_EQ(fits, c.whole) << f.x() << " " << f.width();
    harness::Harness h(window.get());
    EXPECT_EQ(harness::cutTexts(h).empty(), c.whole) << ::testing::PrintToString(harness::cutTexts(h));
  }
}

TEST_F(BarLayout, MailSheetTitleAndSubjectShowWhole) {
  auto window = std::make_shared<Window>();
  auto root = std::make_shared<ViewController>();
  window->setRootViewController(root);
  window->makeKeyAndVisible();
  auto mail = std::make_shared<MailComposeViewController>();
  mail->setSubject("SO# 10001 from Orvo Apparel Inc.");
  root->presentViewController(mail, false, nullptr);
  window->layoutIfNeeded();
  harness::Harness h(window.get());
  ASSERT_NE(h.findText("New Message"), nullptr) << h.dump();
  EXPECT_TRUE(harness::cutTexts(h).empty()) << ::testing::PrintToString(harness::cutTexts(h));
}

}  // namespace
}  // namespace ui::qt
