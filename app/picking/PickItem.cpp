#include "app/picking/PickItem.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "platform/foundation/Values.h"

namespace orvo::pick {

using nlohmann::json;

long long unitAt(const json& array, size_t i) {
  if (!array.is_array() || i >= array.size()) return 0;
  return foundation::longLongValue(array[i]);
}

std::string textAt(const json& array, size_t i) {
  if (!array.is_array() || i >= array.size() || array[i].is_null()) return std::string();
  return foundation::textValue(array[i]);
}

long long sumOfUnits(const json& array) {
  long long sum = 0;
  if (array.is_array())
    for (const auto& v : array) sum += foundation::longLongValue(v);
  return sum;
}

const json& member(const json& item, const char* key) { return foundation::valueForKey(item, key); }

std::string checkedState(const json& item) {
  const json& v = member(item, kIsChecked);
  return v.is_string() ? v.get<std::string>() : std::string();
}

bool sameBin(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

ScanResult addScannedUnits(const json& item, const json& recordUnits, json* out) {
  const json& pick = member(item, kUnitArray);
  const json& before = member(item, kScannedUnitArray);
  const size_t pickSize = pick.is_array() ? pick.size() : 0;
  const size_t recordSize = recordUnits.is_array() ? recordUnits.size() : 0;

  json scanned = before.is_array() ? before : json::array();
  for (auto& v : scanned) v = foundation::longLongValue(v);
  while (scanned.size() < recordSize) scanned.push_back(0);
  for (size_t i = 0; i < recordSize; ++i) {
    long long candidate = unitAt(scanned, i) + unitAt(recordUnits, i);
    if (candidate > unitAt(pick, i)) return ScanResult::Over;
    scanned[i] = candidate;
  }
  bool complete = true;
  for (size_t i = 0; i < std::max(pickSize, scanned.size()); ++i)
    if (unitAt(scanned, i) != unitAt(pick, i)) complete = false;
  if (out) *out = std::move(scanned);
  return complete ? ScanResult::Complete : ScanResult::Partial;
}

std::optional<size_t> itemForScan(const json& list, const std::string& style, const std::string& color,
                                  std::optional<size_t> preferred, const json& recordUnits) {
  if (!list.is_array()) return std::nullopt;
  auto matches = [&](size_t i) {
    return i < list.size() && foundation::textForKey(list[i], kStyle) == style &&
           foundation::textForKey(list[i], kColor) == color &&
           member(list[i], kStyle).is_string() && member(list[i], kColor).is_string();
  };
  std::optional<size_t> first;
  auto consider = [&](size_t i) {
    if (!matches(i)) return false;
    if (!first) first = i;
    return addScannedUnits(list[i], recordUnits) != ScanResult::Over;
  };
  if (preferred && consider(*preferred)) return preferred;
  for (size_t i = 0; i < list.size(); ++i)
    if ((!preferred || i != *preferred) && consider(i)) return i;
  return first;
}

CloseState stateOnClose(const json& item) {
  const json& pick = member(item, kUnitArray);
  const json& scanned = member(item, kScannedUnitArray);
  if (!scanned.is_array()) return CloseState::None;
  bool complete = true, started = false;
  const size_t n = std::max(pick.is_array() ? pick.size() : 0, scanned.size());
  for (size_t i = 0; i < n; ++i) {
    if (unitAt(scanned, i) != unitAt(pick, i)) complete = false;
    if (unitAt(scanned, i) > 0) started = true;
  }
  if (complete) return CloseState::Complete;
  return started ? CloseState::Started : CloseState::None;
}

}  // namespace orvo::pick
