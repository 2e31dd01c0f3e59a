#include "platform/ui/SearchBar.h"

#include <gtest/gtest.h>

#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

// Records the delegate calls in order; refuses to take digits.
class Events : public SearchBarDelegate {
 public:
  std::vector<std::string> log;
  void searchBarTextDidBeginEditing(SearchBar&) override { log.push_back("begin"); }
  void searchBarTextDidEndEditing(SearchBar&) override { log.push_back("end"); }
  void textDidChange(SearchBar&, const std::string& t) override { log.push_back("text " + t); }
  bool shouldChangeTextInRange(SearchBar&, Range, const std::string& s) override {
    return s.find_first_of("0123456789") == std::string::npos;
  }
  void searchBarSearchButtonClicked(SearchBar& b) override { log.push_back("search " + b.text()); }
  void searchBarCancelButtonClicked(SearchBar&) override { log.push_back("cancel"); }
  void selectedScopeButtonIndexDidChange(SearchBar&, int i) override { log.push_back("scope " + std::to_string(i)); }
};

TEST(SearchBarTest, TouchesAndKeysReachTheDelegateThroughFieldCancelAndScope) {
  auto window = std::make_shared<Window>();
  auto screen = std::make_shared<ViewController>("Customers");
  window->setRootViewController(screen);
  window->makeKeyAndVisible();
  auto bar = makeView<SearchBar>({0, 100, 320, 44});
  auto events = std::make_shared<Events>();
  bar->setDelegate(events);
  bar->setShowsCancelButton(true);
  bar->cancelButton().setTitle("Done");
  bar->setScopeButtonTitles({"Name", "Code", "City"});
  bar->setShowsScopeBar(true);
  screen->view().addSubview(bar);
  EXPECT_EQ(bar->frame().height(), 88);  // the scope bar is inside and takes taps
  window->layoutIfNeeded();
  auto tapCentre = [&](View& v) { window->tap(v.convertToWindow(v.bounds().center())); };

  tapCentre(bar->searchField());
  window->insertText("a");
  window->insertText("7");  // refused by the delegate
  window->insertText("b");
  window->pressReturn();
  tapCentre(bar->cancelButton());
  Rect scope{8, 144, 304, 29};  // the third segment of the scope bar
  window->tap({scope.x() + scope.width() * 5 / 6, scope.midY()});
  EXPECT_EQ(events->log, (std::vector<std::string>{"begin", "text a", "text ab", "search ab", "cancel", "scope 2"}));
  EXPECT_EQ(bar->selectedScopeButtonIndex(), 2);

  // Hiding the scope bar gives the height back; insets move the field in.
  bar->setShowsScopeBar(false);
  EXPECT_EQ(bar->frame().height(), 44);
  bar->setContentInset({0, 10, 0, 20});
  window->layoutIfNeeded();
  EXPECT_EQ(bar->searchField().frame().x(), 18);
  EXPECT_EQ(bar->searchField().frame().maxX(), 320 - 70 - 20);
  EXPECT_EQ(bar->cancelButton().frame().maxX(), 320 - 6 - 20);
}

}  // namespace
}  // namespace ui
