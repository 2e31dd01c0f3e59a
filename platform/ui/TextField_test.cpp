#include "platform/ui/TextField.h"

#include <gtest/gtest.h>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NumberPad.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

struct Change {
  Range range;
  std::string replacement;
  bool operator==(const Change&) const = default;
};

// Accepts only digits, the way price fields filter typing; records every question.
class DigitsOnly : public TextFieldDelegate {
 public:
  bool shouldChangeCharactersInRange(TextField&, Range r, const std::string& s) override {
    asked.push_back({r, s});
    return s.find_first_not_of("0123456789") == std::string::npos;
  }
  bool textFieldShouldBeginEditing(TextField&) override { return allowBegin; }
  bool textFieldShouldReturn(TextField&) override {
    ++returns;
    return true;
  }
  std::vector<Change> asked;
  bool allowBegin = true;
  int returns = 0;
};

class TextFieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<Window>();
    auto vc = std::make_shared<ViewController>();
    window->setRootViewController(vc);
    window->makeKeyAndVisible();
    field = makeView<TextField>({20, 100, 200, 30});
    field->setDelegate(delegate);
    vc->view().addSubview(field);
  }
  void TearDown() override { field->resignFirstResponder(); }
  std::shared_ptr<Window> window;
  std::shared_ptr<TextField> field;
  std::shared_ptr<DigitsOnly> delegate = std::make_shared<DigitsOnly>();
};

TEST_F(TextFieldTest, DelegateVetoStopsAKeystrokeFromTheWindow) {
  window->tap({30, 110});
  ASSERT_TRUE(field->isFirstResponder());
  int changes = 0;
  field->addTarget(this, [&](Control&) { ++changes; }, EditingChanged);
  window->insertText("1");
  window->insertText("x");
  window->insertText("2");
  EXPECT_EQ(field->text(), "12");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(delegate->asked, (std::vector<Change>{{{0, 0}, "1"}, {{1, 0}, "x"}, {{1, 0}, "2"}}));
  window->deleteBackward();
  EXPECT_EQ(field->text(), "1");
  EXPECT_EQ(delegate->asked.back(), (Change{{1, 1}, ""}));
}

TEST_F(TextFieldTest, ReturnKeyReadsAsTheFieldAsksAndEndsEditingThroughTheDelegate) {
  struct Case {
    ReturnKeyType type;
    const char* title;
  } cases[] = {{ReturnKeyType::Default, "return"}, {ReturnKeyType::Next, "Next"},
               {ReturnKeyType::Done, "Done"}, {ReturnKeyType::Go, "Go"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    field->resignFirstResponder();
    field->setReturnKeyType(c.type);
    ASSERT_TRUE(field->becomeFirstResponder());
    View* kb = window->keyboardView();
    ASSERT_NE(kb, nullptr);
    Button* key = nullptr;
    for (auto& v : kb->subviews())
      if (v->accessibilityLabel() == "Return") key = dynamic_cast<Button*>(v.get());
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->currentTitle(), c.title);
    int before = delegate->returns;
    key->sendActionsForControlEvents(TouchUpInside);
    EXPECT_EQ(delegate->returns, before + 1);
  }
}

TEST_F(TextFieldTest, RangesAreInUtf16Units) {
  field->setDelegate(std::weak_ptr<TextFieldDelegate>());
  field->setText("a\xF0\x9F\x98\x80" "b");  // a, an emoji (two UTF-16 units), b
  field->becomeFirstResponder();
  EXPECT_EQ(field->selectedRange(), (Range{4, 0}));
  field->deleteBackward();
  field->deleteBackward();
  EXPECT_EQ(field->text(), "a");
  field->selectAll();
  field->insertText("z");
  EXPECT_EQ(field->text(), "z");
}

TEST_F(TextFieldTest, SetTextFromCodeAsksNobody) {
  field->setText("abc");
  EXPECT_TRUE(delegate->asked.empty());
  EXPECT_EQ(field->text(), "abc");
}

TEST_F(TextFieldTest, ShouldBeginVetoKeepsTheFieldFromEditing) {
  delegate->allowBegin = false;
  window->tap({30, 110});
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(window->isKeyboardVisible());
  window->insertText("5");
  EXPECT_EQ(field->text(), "");
}

TEST_F(TextFieldTest, KeyboardNotificationsCarryDurationAndHeight) {
  std::vector<std::string> names;
  double endHeight = 0, duration = 0;
  auto& center = foundation::NotificationCenter::defaultCenter();
  center.addObserver(this, kKeyboardWillShowNotification, nullptr, [&](const foundation::Notification& n) {
    names.push_back(n.name);
    endHeight = n.userInfo[kKeyboardFrameEndUserInfoKey]["height"].get<double>();
    duration = n.userInfo[kKeyboardAnimationDurationUserInfoKey].get<double>();
  });
  center.addObserver(this, kKeyboardWillHideNotification, nullptr,
                     [&](const foundation::Notification& n) { names.push_back(n.name); });
  field->becomeFirstResponder();
  // Moving to another field announces the keyboard again.
  auto other = makeView<TextField>({20, 200, 200, 30});
  window->rootViewController()->view().addSubview(other);
  other->becomeFirstResponder();
  other->resignFirstResponder();
  center.removeObserver(this);
  EXPECT_EQ(names, (std::vector<std::string>{kKeyboardWillShowNotification, kKeyboardWillShowNotification,
                                             kKeyboardWillHideNotification}));
  EXPECT_EQ(endHeight, Window::kKeyboardHeight);
  EXPECT_EQ(duration, Window::kKeyboardAnimationDuration);
}

TEST_F(TextFieldTest, NumberPadKeysTypeThroughTheDelegate) {
  field->setKeyboardType(KeyboardType::NumberPad);
  field->becomeFirstResponder();
  auto* pad = dynamic_cast<NumberPad*>(window->keyboardView());
  ASSERT_NE(pad, nullptr);
  window->layoutIfNeeded();
  pad->keyFor("7")->sendTap();
  pad->clearButton().sendTap();
  pad->keyFor("4")->sendTap();
  EXPECT_EQ(field->text(), "4");
  EXPECT_EQ(delegate->asked.size(), 3u);
}

TEST_F(TextFieldTest, ReturnKeyAsksTheDelegateAndSendsEndOnExit) {
  int exits = 0;
  field->addTarget(this, [&](Control&) { ++exits; }, EditingDidEndOnExit);
  field->becomeFirstResponder();
  window->pressReturn();
  EXPECT_EQ(delegate->returns, 1);
  EXPECT_EQ(exits, 1);
}

TEST_F(TextFieldTest, EndEditingResignsUnlessRefusedOrForced) {
  class Stubborn : public TextFieldDelegate {
   public:
    bool textFieldShouldEndEditing(TextField&) override { return false; }
  };
  auto stubborn = std::make_shared<Stubborn>();
  field->becomeFirstResponder();
  EXPECT_TRUE(window->rootViewController()->view().endEditing(false));
  EXPECT_FALSE(field->isFirstResponder());
  field->setDelegate(stubborn);
  field->becomeFirstResponder();
  EXPECT_FALSE(window->rootViewController()->view().endEditing(false));
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_TRUE(window->rootViewController()->view().endEditing(true));
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(window->isKeyboardVisible());
}

TEST_F(TextFieldTest, InputViewAndAccessoryReplaceTheKeyboard) {
  auto picker = makeView<View>({0, 0, 320, 216});
  auto bar = makeView<View>({0, 0, 320, 44});
  field->setInputView(picker);
  field->setInputAccessoryView(bar);
  field->becomeFirstResponder();
  EXPECT_EQ(window->keyboardView(), picker.get());
  EXPECT_EQ(window->keyboardLayer().frame(), (Rect{0, 568 - 260, 320, 260}));
  // Leaving the screen ends editing.
  field->removeFromSuperview();
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_FALSE(window->isKeyboardVisible());
}

}  // namespace
}  // namespace ui
