#pragma once
// A picker: columns (components) of rows from a data source, one selected row each.
// `selectRow` from code tells nobody; a user's choice (`userSelectRow`, or a tap on a row
// shown above or below the selection) also calls the delegate's `didSelectRow`. The data
// source and delegate are held weakly. Also the date picker. Main thread.
//
// The date picker holds any moment of the years 0001 to 9999 (a server writes 12/31/9999 for
// "no date") as a microsecond calendar time, not as the clock's nanosecond time, which ends
// in 2262; a date set outside those years is brought to the nearest end of them.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/DateFormat.h"
#include "platform/ui/Control.h"

namespace ui {

class PickerView;

class PickerViewDataSource {
 public:
  virtual ~PickerViewDataSource() = default;
  virtual int numberOfComponentsInPickerView(PickerView&) = 0;
  virtual int numberOfRowsInComponent(PickerView&, int component) = 0;
};

class PickerViewDelegate {
 public:
  virtual ~PickerViewDelegate() = default;
  virtual std::string titleForRow(PickerView&, int row, int component) = 0;
  virtual void didSelectRow(PickerView&, int row, int component) { (void)row; (void)component; }
};

class PickerView : public View {
 public:
  static constexpr double kHeight = 216;
  static constexpr double kRowHeight = 32;
  PickerView() { setFrame({0, 0, 320, kHeight}); }
  const char* kind() const override { return "Picker"; }

  void setDataSource(std::weak_ptr<PickerViewDataSource> d) { dataSource_ = std::move(d); }
  void setDelegate(std::weak_ptr<PickerViewDelegate> d) { delegate_ = std::move(d); }
  int numberOfComponents() const;
  int numberOfRowsInComponent(int component) const;
  std::string titleForRow(int row, int component) const;
  void reloadAllComponents();
  void reloadComponent(int component);
  // -1 when the component has no rows.
  int selectedRowInComponent(int component) const;
  void selectRow(int row, int component, bool animated);
  void userSelectRow(int row, int component);
  bool showsSelectionIndicator() const { return indicator_; }
  void setShowsSelectionIndicator(bool s) { indicator_ = s; }

  void touchesEnded(const Touches& t) override;
  std::string describe() const override;
  std::vector<std::string> texts() const override;

 private:
  void clampSelection();
  std::weak_ptr<PickerViewDataSource> dataSource_;
  std::weak_ptr<PickerViewDelegate> delegate_;
  std::vector<int> selected_;
  bool indicator_ = true;
};

enum class DatePickerMode { Time, Date, DateAndTime, CountDownTimer };

class DatePicker : public Control {
 public:
  using Date = foundation::CalendarTime;
  // The first and the last moment a picker shows: 01/01/0001 00:00 and 12/31/9999 23:59:59.999999 UTC.
  static Date minimumDate();
  static Date maximumDate();

  DatePicker() { setFrame({0, 0, 320, PickerView::kHeight}); }
  const char* kind() const override { return "DatePicker"; }
  Date date() const { return date_; }
  void setDate(Date d, bool animated = false);
  void setDate(std::chrono::system_clock::time_point d, bool animated = false);
  DatePickerMode datePickerMode() const { return mode_; }
  void setDatePickerMode(DatePickerMode m) { mode_ = m; }
  // A user's choice: sets the date and sends ValueChanged.
  void userSetDate(Date d);
  void userSetDate(std::chrono::system_clock::time_point d);
  // The date as shown ("MM/dd/yyyy", with " HH:mm" when time is shown), in UTC.
  std::string displayText() const;
  std::string describe() const override { return " \"" + displayText() + "\"" + Control::describe(); }
  std::vector<std::string> texts() const override { return {displayText()}; }
  void touchesEnded(const Touches& t) override;

 private:
  Date date_ = std::chrono::floor<Date::duration>(std::chrono::system_clock::now());
  DatePickerMode mode_ = DatePickerMode::Date;
};

}  // namespace ui
