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

void DatePicker::userSetDate(std::chrono::system_clock::time_point d) {
  date_ = d;
  sendActionsForControlEvents(ValueChanged);
}

std::string DatePicker::displayText() const {
  std::time_t t = std::chrono::system_clock::to_time_t(date_);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  switch (mode_) {
    case DatePickerMode::Time: std::strftime(buf, sizeof buf, "%H:%M", &tm); break;
    case DatePickerMode::DateAndTime: std::strftime(buf, sizeof buf, "%m/%d/%Y %H:%M", &tm); break;
    default: std::strftime(buf, sizeof buf, "%m/%d/%Y", &tm); break;
  }
  return buf;
}

void DatePicker::touchesEnded(const Touches& t) {
  if (t.empty() || !isEnabled()) return;
  // Above the middle goes a day back, below a day on.
  Point p = t.front().locationIn(this);
  auto day = std::chrono::hours(24);
  userSetDate(p.y < frame().height() / 2 ? date_ - day : date_ + day);
}

}  // namespace ui
