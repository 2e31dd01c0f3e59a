#pragma once
// A search bar: a text field with an optional cancel button and scope bar. Typing goes
// through the field (and so its vetoes); the delegate hears text changes, the search
// key, the cancel button and scope changes. Main thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextField.h"

namespace ui {

class SearchBar;

class SearchBarDelegate {
 public:
  virtual ~SearchBarDelegate() = default;
  virtual bool searchBarShouldBeginEditing(SearchBar&) { return true; }
  virtual void searchBarTextDidBeginEditing(SearchBar&) {}
  virtual void searchBarTextDidEndEditing(SearchBar&) {}
  virtual void textDidChange(SearchBar&, const std::string&) {}
  virtual bool shouldChangeTextInRange(SearchBar&, Range, const std::string&) { return true; }
  virtual void searchBarSearchButtonClicked(SearchBar&) {}
  virtual void searchBarCancelButtonClicked(SearchBar&) {}
  virtual void selectedScopeButtonIndexDidChange(SearchBar&, int) {}
};

class SearchBar : public View {
 public:
  SearchBar();
  const char* kind() const override { return "SearchBar"; }
  void setDelegate(std::weak_ptr<SearchBarDelegate> d) { delegate_ = std::move(d); }
  std::string text() const { return field_->text(); }
  void setText(std::string t) { field_->setText(std::move(t)); }
  void setPlaceholder(std::string p) { field_->setPlaceholder(std::move(p)); }
  TextField& searchField() { return *field_; }
  Button& cancelButton() { return *cancel_; }
  bool showsCancelButton() const { return showsCancel_; }
  void setShowsCancelButton(bool s, bool animated = false) { (void)animated; showsCancel_ = s; setNeedsLayout(); }
  const std::vector<std::string>& scopeButtonTitles() const { return scope_->titles(); }
  void setScopeButtonTitles(const std::vector<std::string>& titles);
  int selectedScopeButtonIndex() const { return scope_->selectedSegmentIndex(); }
  void setSelectedScopeButtonIndex(int i) { scope_->setSelectedSegmentIndex(i); }
  // A shown scope bar sits below the field; the bar grows to hold it (so it takes taps)
  // and shrinks back when it is hidden.
  bool showsScopeBar() const { return showsScope_; }
  void setShowsScopeBar(bool s);
  // Space between the bar's edges and its field and cancel button.
  EdgeInsets contentInset() const { return inset_; }
  void setContentInset(EdgeInsets i) { inset_ = i; setNeedsLayout(); }
  bool becomeFirstResponder() override { return field_->becomeFirstResponder(); }
  bool resignFirstResponder() override { return field_->resignFirstResponder(); }
  void layoutSubviews() override;

 private:
  class FieldDelegate;
  std::shared_ptr<TextField> field_;
  std::shared_ptr<Button> cancel_;
  std::shared_ptr<SegmentedControl> scope_;
  std::shared_ptr<FieldDelegate> fieldDelegate_;
  std::weak_ptr<SearchBarDelegate> delegate_;
  bool showsCancel_ = false;
  bool showsScope_ = false;
  EdgeInsets inset_;
  void fitHeight();
};

}  // namespace ui
