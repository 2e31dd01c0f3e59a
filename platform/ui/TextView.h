#pragma once
// A multi-line text view. User edits ask the delegate's `shouldChangeTextInRange` first,
// like the text field. Main thread.

#include <memory>
#include <string>

#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"

namespace ui {

class TextView;

class TextViewDelegate {
 public:
  virtual ~TextViewDelegate() = default;
  virtual bool textViewShouldBeginEditing(TextView&) { return true; }
  virtual void textViewDidBeginEditing(TextView&) {}
  virtual bool textViewShouldEndEditing(TextView&) { return true; }
  virtual void textViewDidEndEditing(TextView&) {}
  virtual bool shouldChangeTextInRange(TextView&, Range, const std::string&) { return true; }
  virtual void textViewDidChange(TextView&) {}
};

class TextView : public ScrollView, public TextInput {
 public:
  const char* kind() const override { return "TextView"; }
  const std::string& text() const { return text_; }
  void setText(std::string t) { text_ = std::move(t); }
  Color textColor() const { return textColor_; }
  void setTextColor(Color c) { textColor_ = c; }
  Font font() const { return font_; }
  void setFont(Font f) { font_ = f; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; }
  bool isEditable() const { return editable_; }
  void setEditable(bool e) { editable_ = e; }
  void setTextDelegate(std::weak_ptr<TextViewDelegate> d) { delegate_ = std::move(d); }
  KeyboardType keyboardType() const override { return keyboard_; }
  void setKeyboardType(KeyboardType k) { keyboard_ = k; }

  bool replaceRange(Range range, const std::string& replacement);
  void insertText(const std::string& text) override;
  void deleteBackward() override;
  void pressReturn() override { insertText("\n"); }

  bool canBecomeFirstResponder() const override { return editable_; }
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  void touchesEnded(const Touches& t) override;
  std::string describe() const override;
  std::vector<std::string> texts() const override { return {text_}; }

 private:
  std::string text_;
  Color textColor_ = Color::black();
  Font font_ = Font::systemFont(14);
  TextAlignment alignment_ = TextAlignment::Left;
  bool editable_ = true;
  KeyboardType keyboard_ = KeyboardType::Default;
  std::weak_ptr<TextViewDelegate> delegate_;
};

}  // namespace ui
