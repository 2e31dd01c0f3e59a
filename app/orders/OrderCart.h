#pragma once
// The cart of the order item list: one open record per order line (all values text, the
// keys of `kCartLineKeys`), and the pure operations on it that the item list's screen
// code shares: look-ups by code and style, insertion beside a style's lines, the style
// index, extended prices and totals, and the over-booking rule. Money is computed in
// double and only formatted ("%0.2f") where a text is stored. No user interface; any
// thread, but a cart belongs to one screen (main thread).

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvo::cart {

// The 24 keys of a line made on the device, in order.
inline constexpr const char* kCartLineKeys[] = {
    "Kind", "Barcode", "Descript", "Ats", "AtsStatus", "Ots", "OtsStatus", "Id",
    "Eta", "EtaForPrint", "Qty", "Price", "OrgPrice", "MinPrice", "extPrice", "Sum",
    "Color", "MultiColor", "Style", "SizeCode", "Bundle", "BeforeOrderNum", "OverBookingMsg", "OverBookingLimit"};

// Numbers of a text or an answer value, read as the platform reads them.
int intOf(const std::string& text);
int intOf(const nlohmann::json& value);
// `v` held within the range of an int: quantities and booking limits are added and
// subtracted in 64 bits and kept at the largest (smallest) value rather than wrapping.
int clampedInt(long long v);
double doubleOf(const std::string& text);
double doubleOf(const nlohmann::json& value);

// The text a line holds for an answer value: text as it is, numbers in their shortest
// form, null or absent as "".
std::string lineText(const nlohmann::json& v);
// The line's value for `key` as text ("" when absent).
std::string field(const nlohmann::json& line, const char* key);

// The first line of `code`, or {"NewItem": "True"} when none.
nlohmann::json itemDicByBarcode(const nlohmann::json& cart, const std::string& code);
// Index of the first line of `code`, -1 when none.
int itemIdxByBarcode(const nlohmann::json& cart, const std::string& code);
// Index of the last line of `style`, -1 when none.
int itemIdxByStyle(const nlohmann::json& cart, const std::string& style);
// Puts `line` right after the last line of its style, or at the end.
void insertAfterStyle(nlohmann::json& cart, nlohmann::json line);

// The distinct styles of the cart in order of first appearance.
std::vector<std::string> styleIndex(const nlohmann::json& cart);
// The lines of `style` in cart order. Styles are compared as text, exactly as the index
// is built, so a style holding ".", "+" or "[" is only itself.
std::vector<nlohmann::json> linesOfStyle(const nlohmann::json& cart, const std::string& style);

// Units of a line: Qty × Sum for "bundle", Qty otherwise.
long long lineUnits(const nlohmann::json& line);
// Money of a text in cents: the decimal text rounded at the cent; a text the platform reads
// only in part ("12.5x") by the number it starts with.
long long centsOf(const std::string& text);
// Cents multiplied and added, held at the largest amount instead of overflowing.
long long centsTimes(long long cents, long long n);
long long centsPlus(long long a, long long b);
// "%0.2f" of price × sum × n for a "bundle", price × n otherwise, computed in cents.
std::string extPrice(const std::string& kind, const std::string& price, int sum, int n);

struct Totals {
  long long units = 0;
  long long cents = 0;
};
// Units and the sum of the lines' extended prices (in cents).
Totals totals(const nlohmann::json& cart);

// What the item list keeps beside its cart, so that a change of one line costs the same at
// 5,000 lines as at 10: each line's code and style (look-ups compare these instead of
// reading the records) and the running totals, moved by each line that comes, changes or
// goes with the rules of `lineUnits` and `centsOf` (the same figures as `totals`, summed
// exactly and held at the largest amount when they leave its range). The owner calls it
// for every change of its cart, with the line as it was and as it is.
class CartIndex {
 public:
  void assign(const nlohmann::json& cart);
  void insert(std::size_t pos, const nlohmann::json& line);
  void replace(std::size_t pos, const nlohmann::json& before, const nlohmann::json& after);
  void erase(std::size_t pos, const nlohmann::json& line);

  std::size_t size() const { return keys_.size(); }
  // Index of the first line of `code`, -1 when none (as `itemIdxByBarcode`).
  int indexOfBarcode(std::string_view code) const;
  // Index of the last line of `style`, -1 when none (as `itemIdxByStyle`).
  int lastIndexOfStyle(std::string_view style) const;
  // The distinct styles in order of first appearance (as `styleIndex`), in linear time.
  std::vector<std::string> styles() const;
  // The positions of each style's lines, in cart order; built once per change of the cart.
  const std::vector<std::size_t>& linesOfStyle(const std::string& style) const;
  Totals totals() const;

 private:
  struct Key {
    std::string barcode, style;
  };
  static Key keyOf(const nlohmann::json& line);
  void add(const nlohmann::json& line, int sign);

  std::vector<Key> keys_;
  __int128 units_ = 0, cents_ = 0;
  mutable std::unordered_map<std::string, std::vector<std::size_t>> byStyle_;
  mutable bool byStyleValid_ = false;
};

// The over-booking rule for a quantity change from `q` to `n` under the limit text
// `limit` ("False": no limit; an integer: what may still be added; negative: fully
// booked, lowering only).
struct OverBooking {
  int qty = 0;             // the accepted quantity
  std::string limit;       // the limit text afterwards
  bool changed = false;    // the accepted quantity differs from q
  bool refused = false;    // a raise of a fully booked item: nothing changes
  bool prompt = false;     // the "All ATS has been booked" notice is due
  bool clearMsg = false;   // the item's over-booking text is emptied
  bool limited = false;    // a limit applied (the screen then forgets that its warning was shown)
};
OverBooking checkOverBooking(int q, const std::string& limit, int n, bool overBookingMsgShown);

// The limit text after a line's quantity moved from `oldQty` to `newQty` by other means
// than the rule above, so that quantity plus limit stays what the server allowed.
std::string limitAfterQuantityChange(const std::string& limit, int oldQty, int newQty);

// The cart line of an item object of an existing order's answer ("GetPrevOrderList"): the
// 23 keys of a loaded line (no "BeforeOrderNum"), the price with two decimals, the extended
// price in cents, the cancel date as "Eta" and "EtaForPrint", and the two values of the
// "OverBooking" JSON text ("False" when it has no limit). Missing values read as "".
nlohmann::json lineOfOrderItem(const nlohmann::json& item);

}  // namespace orvo::cart
