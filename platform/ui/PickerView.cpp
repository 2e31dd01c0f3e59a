#include "platform/ui/PickerView.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace ui {

int PickerView::numberOfComponents() const {
  auto ds = dataSource_.lock();
  return ds ? std::max(0, ds->numberOfComponentsInPickerView(const_cast<PickerView&>(*this))) : 0;
}

int PickerView::numberOfRowsInComponent(int component) const {
  auto ds = dataSource_.lock();
  if (!ds || component < 0 || component >= numberOfComponents()) return 0;
  return std::max(0, ds->numberOfRowsInComponent(const_cast<PickerView&>(*this), component));
}

std::string PickerView::titleForRow(int row, int component) const {
  auto d = delegate_.lock();
  if (!d || row < 0 || row >= numberOfRowsInComponent(component)) return {};
  return d->titleForRow(const_cast<PickerView&>(*this), row, component);
}

void PickerView::clampSelection() {
  int n = numberOfComponents();
  selected_.resize(static_cast<size_t>(n), 0);
  for (int c = 0; c < n; ++c) {
    int rows = numberOfRowsInComponent(c);
    auto& s = selected_[static_cast<size_t>(c)];
    s = rows == 0 ? 0 : std::clamp(s, 0, rows - 1);
  }
}

void PickerView::reloadAllComponents() { clampSelection(); }
void PickerView::reloadComponent(int) { clampSelection(); }

int PickerView::selectedRowInComponent(int component) const {
  if (numberOfRowsInComponent(component) == 0) return -1;
  if (component < 0 || static_cast<size_t>(component) >= selected_.size()) return 0;
  return std::min(selected_[static_cast<size_t>(component)], numberOfRowsInComponent(component) - 1);
}

void PickerView::selectRow(int row, int component, bool) {
  clampSelection();
  if (component < 0 || component >= numberOfComponents()) return;
  int rows = numberOfRowsInComponent(component);
  if (rows == 0) return;
  selected_[static_cast<size_t>(component)] = std::clamp(row, 0, rows - 1);
}

void PickerView::userSelectRow(int row, int component) {
  if (component < 0 || component >= numberOfComponents() || row < 0 || row >= numberOfRowsInComponent(component)) return;
  selectRow(row, component, true);
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock()) d->didSelectRow(*this, row, component);
}

void PickerView::touchesEnded(const Touches& t) {
  int n = numberOfComponents();
  if (t.empty() || n == 0) return;
  Point p = t.front().locationIn(this);
  int c = std::clamp(static_cast<int>(p.x / (frame().width() / n)), 0, n - 1);
  int delta = static_cast<int>(std::floor((p.y - (frame().height() - kRowHeight) / 2) / kRowHeight));
  if (delta == 0) return;
  userSelectRow(selectedRowInComponent(c) + delta, c);
}

std::string PickerView::describe() const {
  std::string out = " [";
  for (int c = 0; c < numberOfComponents(); ++c) {
    if (c) out += "|";
    out += '"';
    out += titleForRow(selectedRowInComponent(c), c);
    out += '"';
  }
  return out + "]" + View::describe();
}

std::vector<std::string> PickerView::texts() const {
  std::vector<std::string> out;
  for (int c = 0; c < numberOfComponents(); ++c)
    for (int r = 0; r < numberOfRowsInComponent(c); ++r) out.push_back(titleForRow(r, c));
  return out;
}

namespace {

DatePicker::Date withinPickerYears(DatePicker::Date d) {
  return std::clamp(d, DatePicker::minimumDate(), DatePicker::maximumDate());
}

}  // namespace

DatePicker::Date DatePicker::minimumDate() {
  using namespace std::chrono;
  return Date(sys_days(year(1) / January / 1).time_since_epoch());
}

DatePicker::Date DatePicker::maximumDate() {
  using namespace std::chrono;
  return Date(sys_days(year(10000) / January / 1).time_since_epoch() - microseconds(1));
}

void DatePicker::setDate(Date d, bool animated) {
  (void)animated;
  date_ = withinPickerYears(d);
}

void DatePicker::setDate(std::chrono::system_clock::time_point d, bool animated) {
  setDate(std::chrono::floor<Date::duration>(d), animated);
}

void DatePicker::userSetDate(Date d) {
  date_ = withinPickerYears(d);
  sendActionsForControlEvents(ValueChanged);
}

void DatePicker::userSetDate(std::chrono::system_clock::time_point d) {
  userSetDate(std::chrono::floor<Date::duration>(d));
}

std::string DatePicker::displayText() const {
  switch (mode_) {
    case DatePickerMode::Time: return foundation::formatDate(date_, "HH:mm", true);
    case DatePickerMode::DateAndTime: return foundation::formatDate(date_, "MM/dd/yyyy HH:mm", true);
    default: return foundation::formatDate(date_, "MM/dd/yyyy", true);
  }
}

void DatePicker::touchesEnded(const Touches& t) {
  if (t.empty() || !isEnabled()) return;
  // Above the middle goes a day back, below a day on.
  Point p = t.front().locationIn(this);
  const Date::duration day = std::chrono::hours(24);
  // At either end of the years shown the wheel stops at that end.
  userSetDate(p.y < frame().height() / 2 ? (date_ - minimumDate() < day ? minimumDate() : date_ - day)
                                         : (maximumDate() - date_ < day ? maximumDate() : date_ + day));
}

}  // namespace ui
