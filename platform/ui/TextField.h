#pragma once
// A one-line text field. Every change a user makes (typing, deleting, pasting, a number-pad
// key) goes through `replaceRange`, which asks the delegate's
// `shouldChangeCharactersInRange` with the UTF-16 range and the replacement first; a veto
// leaves the text untouched (the delegate may also set the text itself and veto). Setting
// `text` from code asks nobody, as on the platform. Editing begins when the field becomes
// first responder (after `textFieldShouldBeginEditing`), which shows its keyboard or input
// view. Main thread.

#include <memory>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

namespace ui {

class TextField;

enum class KeyboardType { Default, ASCIICapable, NumbersAndPunctuation, URL, NumberPad, PhonePad, EmailAddress, DecimalPad };
enum class ReturnKeyType { Default, Go, Next, Done, Search, Send };
enum class BorderStyle { None, Line, Bezel, RoundedRect };
enum class TextFieldViewMode { Never, WhileEditing, UnlessEditing, Always };
enum class AutocapitalizationType { None, Words, Sentences, AllCharacters };

// Optional methods: the defaults answer as if the delegate did not implement them.
class TextFieldDelegate {
 public:
  virtual ~TextFieldDelegate() = default;
  virtual bool textFieldShouldBeginEditing(TextField&) { return true; }
  virtual void textFieldDidBeginEditing(TextField&) {}
  virtual bool textFieldShouldEndEditing(TextField&) { return true; }
  virtual void textFieldDidEndEditing(TextField&) {}
  virtual bool shouldChangeCharactersInRange(TextField&, Range, const std::string&) { return true; }
  virtual bool textFieldShouldClear(TextField&) { return true; }
  virtual bool textFieldShouldReturn(TextField&) { return true; }
};

// What the keyboard and the renderer type into: the first responder when it is one.
class TextInput {
 public:
  virtual ~TextInput() = default;
  virtual void insertText(const std::string& text) = 0;
  virtual void deleteBackward() = 0;
  virtual void pressReturn() {}
  virtual KeyboardType keyboardType() const { return KeyboardType::Default; }
};

class TextField : public Control, public TextInput {
 public:
  TextField() = default;
  const char* kind() const override { return "TextField"; }

  const std::string& text() const { return text_; }
  // From code: no delegate call, no EditingChanged.
  void setText(std::string t);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string p) { placeholder_ = std::move(p); }
  bool isSecureTextEntry() const { return secure_; }
  void setSecureTextEntry(bool s) { secure_ = s; }
  // What is shown: bullets for secure entry, the placeholder when empty.
  std::string displayText() const;

  std::weak_ptr<TextFieldDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<TextFieldDelegate> d) { delegate_ = std::move(d); }

  Color textColor() const { return textColor_; }
  void setTextColor(Color c) { textColor_ = c; }
  Font font() const { return font_; }
  void setFont(Font f) { font_ = f; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; }
  BorderStyle borderStyle() const { return border_; }
  void setBorderStyle(BorderStyle b) { border_ = b; }
  KeyboardType keyboardType() const override { return keyboard_; }
  void setKeyboardType(KeyboardType k) { keyboard_ = k; }
  ReturnKeyType returnKeyType() const { return returnKey_; }
  void setReturnKeyType(ReturnKeyType r) { returnKey_ = r; }
  AutocapitalizationType autocapitalizationType() const { return autocap_; }
  void setAutocapitalizationType(AutocapitalizationType a) { autocap_ = a; }
  bool autocorrection() const { return autocorrect_; }
  void setAutocorrection(bool a) { autocorrect_ = a; }
  TextFieldViewMode clearButtonMode() const { return clearMode_; }
  void setClearButtonMode(TextFieldViewMode m) { clearMode_ = m; }
  void setInputView(std::shared_ptr<View> v) { inputView_ = std::move(v); }
  void setInputAccessoryView(std::shared_ptr<View> v) { accessoryView_ = std::move(v); }
  std::shared_ptr<View> inputView() const override { return inputView_; }
  std::shared_ptr<View> inputAccessoryView() const override { return accessoryView_; }
  bool isEditing() const { return isFirstResponder(); }

  // The selection in UTF-16 units; a caret is a selection of length 0. Kept within the text.
  Range selectedRange() const;
  void setSelectedRange(Range r) { selection_ = r; }
  void selectAll();

  // A user's edit: asks the delegate, then replaces and sends EditingChanged. Returns
  // whether the text changed hands (false on a veto).
  bool replaceRange(Range range, const std::string& replacement);
  void insertText(const std::string& text) override;
  void deleteBackward() override;
  void pressReturn() override;
  // The clear button: asks `textFieldShouldClear`, then empties the text.
  void clearText();

  bool canBecomeFirstResponder() const override;
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;

  std::string describe() const override;
  std::vector<std::string> texts() const override { return {text_, placeholder_}; }

 protected:
  void tapped(Point) override;

 private:
  std::string text_;
  std::string placeholder_;
  bool secure_ = false;
  std::weak_ptr<TextFieldDelegate> delegate_;
  Color textColor_ = Color::black();
  Font font_ = Font::systemFont(17);
  TextAlignment alignment_ = TextAlignment::Left;
  BorderStyle border_ = BorderStyle::RoundedRect;
  KeyboardType keyboard_ = KeyboardType::Default;
  ReturnKeyType returnKey_ = ReturnKeyType::Default;
  AutocapitalizationType autocap_ = AutocapitalizationType::Sentences;
  bool autocorrect_ = true;
  TextFieldViewMode clearMode_ = TextFieldViewMode::Never;
  std::shared_ptr<View> inputView_;
  std::shared_ptr<View> accessoryView_;
  std::optional<Range> selection_;
};

}  // namespace ui
