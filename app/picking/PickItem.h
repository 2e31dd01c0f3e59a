#pragma once
// The pick item of the pick-up screen as plain data: reading its per-size arrays, grouping
// items by bin, adding the units of a scanned barcode and settling its picking state.
// Pure functions over the server's records (`nlohmann::json` objects); no screen, no
// server. Any thread.
//
// Bad input: the per-size arrays are read entry by entry; an entry that is missing (a
// short array), or any array that is absent or not an array, reads as 0 (units) or ""
// (size names), and entries beyond the 15 grid columns or beyond `UnitArray` only count
// where the operation says so. Nothing here throws on a malformed item.

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::pick {

// Every pick item is shown in a grid of this many size columns.
inline constexpr size_t kSizeColumns = 15;

// Keys of a pick item.
inline constexpr const char* kBin = "Bin";
inline constexpr const char* kStyle = "Style";
inline constexpr const char* kColor = "Color";
inline constexpr const char* kPickNOs = "PickNOs";
inline constexpr const char* kSizeCount = "SizeCount";
inline constexpr const char* kSizeArray = "SizeArray";
inline constexpr const char* kUnitArray = "UnitArray";
inline constexpr const char* kTotalUnit = "TotalUnit";
inline constexpr const char* kIsChecked = "IsChecked";
inline constexpr const char* kScannedUnitArray = "ScannedUnitArray";
// Values of "IsChecked".
inline constexpr const char* kTrue = "True";
inline constexpr const char* kPartial = "Partial";
inline constexpr const char* kFalse = "False";

// Entry `i` of `array` as an integer value (numbers or numeric text); 0 when the array is
// absent, not an array or too short.
long long unitAt(const nlohmann::json& array, size_t i);
// Entry `i` of `array` in its text form (numbers in decimal); "" when absent.
std::string textAt(const nlohmann::json& array, size_t i);
// The sum of every entry's integer value.
long long sumOfUnits(const nlohmann::json& array);
// The member `key` of `item`, or null.
const nlohmann::json& member(const nlohmann::json& item, const char* key);
// The text of "IsChecked" ("" when absent).
std::string checkedState(const nlohmann::json& item);

// Bins are plain codes: two bins are the same bin when their whole texts are equal without
// regard to case ("a1" and "A1"). No character has a special meaning ("A.1", "B(2").
bool sameBin(std::string_view a, std::string_view b);

// What one scan of a barcode does to an item.
enum class ScanResult {
  Over,      // some size would exceed its pick quantity: nothing is stored
  Complete,  // every size now matches its pick quantity
  Partial,   // stored, but some size still differs
};
// Adds the barcode's `recordUnits` to the item's scanned units and checks them against its
// "UnitArray". A unit at a position the item does not pick (beyond "UnitArray") counts as
// over. The item is complete when every position of "UnitArray" matches. Unless over,
// `scanned` (when given) receives the item's new "ScannedUnitArray": its earlier scanned
// units plus the barcode's, position by position; positions the barcode does not name keep
// their values.
ScanResult addScannedUnits(const nlohmann::json& item, const nlohmann::json& recordUnits,
                           nlohmann::json* scanned = nullptr);

// The list index of the item a scanned barcode of `style` and `color` counts for: among the
// items with that style and colour (looked at from `preferred`, the item on screen, then in
// list order) the first that the scan fits without going over; when it fits none, the first
// of them, so the user hears that they are all scanned. Nothing when no item has the pair.
std::optional<size_t> itemForScan(const nlohmann::json& list, const std::string& style,
                                  const std::string& color, std::optional<size_t> preferred,
                                  const nlohmann::json& recordUnits);

// How the scan overlay leaves an item when it closes.
enum class CloseState {
  Complete,  // scanned units equal the pick units at every position
  Started,   // not complete, but some size has a scanned unit
  None,      // nothing scanned (or no scanned units at all)
};
CloseState stateOnClose(const nlohmann::json& item);

}  // namespace orvo::pick
