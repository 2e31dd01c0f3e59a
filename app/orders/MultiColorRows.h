#pragma once
// The rows of the multi-colour grid as plain data: a row built from one "GetMultiColorList"
// answer element, the grid's over-booking rule, the stored booking limit of a row, the pack
// count of the prepack bar, and the footer totals. Rows are open records of texts with the
// keys of the item list's cart lines, so the item list takes a row as a cart line.
//
// A row's "OverBookingLimit" is what may still be booked beyond the row's current "Qty"
// ("False": no limit). The server's figure is turned into that once, when the grid has
// loaded the cart's quantities (`storedLimit`), and from then on quantity and limit move
// together (`checkOverBooking`), so their sum, the largest quantity the row may reach, never
// drifts however often the rows are drawn. Pure functions; any thread.

#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace orvo::multicolor {

// A grid row from one answer element: the 25 keys in the order they are read (prices with
// two decimals, "Id" "0", the two values of the "OverBooking" JSON text). Throws
// std::runtime_error when the element is no object or lacks a key that is read.
nlohmann::json rowFromAnswer(const nlohmann::json& element);

// The server's limit text of `row` as the grid keeps it, given the row's quantity from the
// cart: the earlier open orders' quantity added back when duplicate-item handling counts
// them; the current quantity taken off outside real-time mode (in real-time mode the
// server's figure already leaves out what the order holds). "False" stays "False".
std::string storedLimit(const nlohmann::json& row, bool dupItemHandling, bool realTime);

// The largest total quantity of a row (its stored limit plus its quantity); nothing when
// the row has no limit.
std::optional<int> largestQty(const nlohmann::json& row);

// The grid's rule for asking quantity `wanted` of a row holding `qty` under `limit`.
struct Booking {
  int result = 0;                    // the quantity the field shows afterwards
  std::optional<int> qty;            // the quantity stored (nothing: nothing stored)
  std::optional<std::string> limit;  // the limit stored with it (nothing: unchanged)
  bool warn = false;                 // "All ATS has been booked" is due
};
Booking checkOverBooking(int qty, const std::string& limit, int wanted);

// Replaces `row`'s quantity (and price, and limit when given) and its extended price:
// pieces × price in cents, pieces = "Sum" × "Qty".
void updateQty(nlohmann::json& row, const std::optional<std::string>& qty, const std::optional<std::string>& price,
               const std::optional<std::string>& limit);

struct Totals {
  long long qty = 0;    // packs × pack size for "bundle" rows, units for the others
  long long cents = 0;  // the rows' extended prices
};
Totals totals(const nlohmann::json& rows);

// The prepack ratio of a "PrepackInfo" text ({"S": 1, "M": 2}); empty when unreadable.
std::map<std::string, int> prepackRatio(const std::string& prepackInfo);

}  // namespace orvo::multicolor
