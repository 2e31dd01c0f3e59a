#pragma once
// A text field whose keyboard is a picker of the server's states (`GlobalSO::stateArray`).
// The chosen state is kept in `selectedString` (the field's own text is left alone: its
// owner reads the choice), and the picker opens again on the row chosen last. Each time the
// keyboard is asked for, a new picker is made. Main thread.

#include <memory>
#include <string>

#include "platform/ui/PickerView.h"
#include "platform/ui/TextField.h"

namespace orvo {

class OrvoMobileAppDelegate;

class StatePickerKeyboard : public ui::TextField, public ui::PickerViewDataSource, public ui::PickerViewDelegate {
 public:
  std::shared_ptr<ui::View> inputView() const override;

  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView&, int component) override;
  std::string titleForRow(ui::PickerView&, int row, int component) override;
  void didSelectRow(ui::PickerView&, int row, int component) override;
  void setSelectedRow() const;

  const std::string& selectedString() const { return selectedString_; }
  void setSelectedString(std::string s) { selectedString_ = std::move(s); }
  ui::PickerView* picker() const { return picker_.get(); }

 private:
  mutable OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  mutable std::shared_ptr<ui::PickerView> picker_;
  mutable std::string selectedString_;
  mutable int initRow_ = 0;
};

}  // namespace orvo
