#include "platform/ui/SearchBar.h"

#include <algorithm>

namespace ui {

class SearchBar::FieldDelegate : public TextFieldDelegate {
 public:
  explicit FieldDelegate(SearchBar* bar) : bar_(bar) {}
  bool textFieldShouldBeginEditing(TextField&) override {
    auto d = bar_->delegate_.lock();
    return !d || d->searchBarShouldBeginEditing(*bar_);
  }
  void textFieldDidBeginEditing(TextField&) override {
    if (auto d = bar_->delegate_.lock()) d->searchBarTextDidBeginEditing(*bar_);
  }
  void textFieldDidEndEditing(TextField&) override {
    if (auto d = bar_->delegate_.lock()) d->searchBarTextDidEndEditing(*bar_);
  }
  bool shouldChangeCharactersInRange(TextField&, Range r, const std::string& s) override {
    auto d = bar_->delegate_.lock();
    return !d || d->shouldChangeTextInRange(*bar_, r, s);
  }
  bool textFieldShouldReturn(TextField&) override {
    if (auto d = bar_->delegate_.lock()) d->searchBarSearchButtonClicked(*bar_);
    return true;
  }

 private:
  SearchBar* bar_;
};

SearchBar::SearchBar() {
  setFrame({0, 0, 320, 44});
  setBackgroundColor(Color::white(0.9));
  field_ = std::make_shared<TextField>();
  field_->setPlaceholder("Search");
  field_->setReturnKeyType(ReturnKeyType::Search);
  fieldDelegate_ = std::make_shared<FieldDelegate>(this);
  field_->setDelegate(fieldDelegate_);
  field_->addTarget(this, [this](Control&) {
    if (auto d = delegate_.lock()) d->textDidChange(*this, field_->text());
  }, EditingChanged);
  cancel_ = Button::make("Cancel");
  cancel_->addTarget(this, [this](Control&) {
    if (auto d = delegate_.lock()) d->searchBarCancelButtonClicked(*this);
  }, TouchUpInside);
  scope_ = std::make_shared<SegmentedControl>();
  scope_->addTarget(this, [this](Control&) {
    if (auto d = delegate_.lock()) d->selectedScopeButtonIndexDidChange(*this, scope_->selectedSegmentIndex());
  }, ValueChanged);
  addSubview(field_);
  addSubview(cancel_);
  addSubview(scope_);
}

void SearchBar::setScopeButtonTitles(const std::vector<std::string>& titles) {
  scope_->removeAllSegments();
  for (size_t i = 0; i < titles.size(); ++i) scope_->insertSegmentWithTitle(titles[i], static_cast<int>(i));
  if (!titles.empty()) scope_->setSelectedSegmentIndex(0);
  fitHeight();
  setNeedsLayout();
}

namespace {
constexpr double kBarHeight = 44, kScopeHeight = 29, kScopeBarHeight = 88;
}  // namespace

void SearchBar::setShowsScopeBar(bool s) {
  showsScope_ = s;
  fitHeight();
  setNeedsLayout();
}

void SearchBar::fitHeight() {
  const bool scope = showsScope_ && scope_->numberOfSegments() > 0;
  Rect f = frame();
  if (scope && f.height() < kScopeBarHeight) setFrame({f.x(), f.y(), f.width(), kScopeBarHeight});
  if (!scope && f.height() == kScopeBarHeight) setFrame({f.x(), f.y(), f.width(), kBarHeight});
}

void SearchBar::layoutSubviews() {
  const double w = frame().width();
  const double top = 8 + inset_.top, left = 8 + inset_.left;
  const double right = (showsCancel_ ? 70 : 8) + inset_.right;
  field_->setFrame({left, top, std::max(0.0, w - left - right), 28});
  cancel_->setHidden(!showsCancel_);
  cancel_->setFrame({w - 66 - inset_.right, top, 60, 28});
  scope_->setHidden(!showsScope_ || scope_->numberOfSegments() == 0);
  scope_->setFrame({8, kBarHeight, w - 16, kScopeHeight});
}

}  // namespace ui
