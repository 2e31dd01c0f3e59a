#include "app/customers/StatePickerKeyboard.h"

#include <chrono>

#include "app/core/OrvoMobileAppDelegate.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Values.h"

namespace orvo {

std::shared_ptr<ui::View> StatePickerKeyboard::inputView() const {
  if (!orvoDelegate_) orvoDelegate_ = OrvoMobileAppDelegate::shared();
  auto self = std::const_pointer_cast<StatePickerKeyboard>(
      std::dynamic_pointer_cast<const StatePickerKeyboard>(shared_from_this()));
  picker_ = std::make_shared<ui::PickerView>();
  picker_->setFrame({0, 0, 320, 216});
  picker_->setDelegate(std::static_pointer_cast<ui::PickerViewDelegate>(self));
  picker_->setDataSource(std::static_pointer_cast<ui::PickerViewDataSource>(self));
  picker_->setShowsSelectionIndicator(true);
  auto holder = std::make_shared<ui::View>();
  holder->setFrame({0, 0, 320, 216});
  holder->addSubview(picker_);
  std::weak_ptr<const StatePickerKeyboard> weak = self;
  foundation::MainQueue::postAfter(std::chrono::milliseconds(200), [weak] {
    if (auto s = weak.lock()) s->setSelectedRow();
  });
  return holder;
}

void StatePickerKeyboard::setSelectedRow() const {
  if (picker_ && initRow_ < picker_->numberOfRowsInComponent(0)) picker_->selectRow(initRow_, 0, false);
}

int StatePickerKeyboard::numberOfRowsInComponent(ui::PickerView&, int) {
  return orvoDelegate_ ? int(orvoDelegate_->globalSO().stateArray.size()) : 0;
}

std::string StatePickerKeyboard::titleForRow(ui::PickerView&, int row, int) {
  if (!orvoDelegate_) return {};
  const auto& states = orvoDelegate_->globalSO().stateArray;
  if (row < 0 || row >= int(states.size())) return {};
  return foundation::textValue(states[size_t(row)]);
}

void StatePickerKeyboard::didSelectRow(ui::PickerView& p, int row, int component) {
  selectedString_ = titleForRow(p, row, component);
  initRow_ = row;
}

}  // namespace orvo
