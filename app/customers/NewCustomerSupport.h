#pragma once
// What the new-customer screens (menu, business card, manual form, matches) share: the
// rules for a typed customer code, the reading of a trade-show badge, the way a created or
// picked customer becomes the order's customer, and the log-out question of their bars.
// Main thread (the pure functions may run anywhere).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

// A customer code may have at most this many characters (UTF-16 units).
inline constexpr size_t kCustomerCodeMaxLength = 20;
// The characters a customer code may hold.
inline constexpr const char* kCustomerCodeCharacters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_#()&/";
inline constexpr const char* kCustomerCodeTooLong =
    "Customer Code must be less than 20 characters.\n Please re enter customer code.";
inline constexpr const char* kCustomerCodeInvalid = "This Customer Code contains invalid characters.";

// The message of the first rule `code` breaks (too long, then a character outside the
// allowed set); nothing when it passes. An empty code passes.
std::optional<std::string> customerCodeProblem(const std::string& code);

// The edit of a code field: when `replacement` holds a lower-case letter, the field's text
// becomes its text with `range` replaced by the upper-cased replacement and false is
// returned (the field must not apply the edit itself); otherwise true.
bool upperCaseCodeEdit(ui::TextField& field, ui::Range range, const std::string& replacement);

// A text without leading and trailing blanks and tabs (line breaks stay).
std::string trimBlanks(const std::string& text);

// One trade-show badge read from its two-dimensional barcode: the text is cut into records
// at each run of five blanks, the last record into fields at each TAB. Nothing when that
// record has fewer than 17 fields.
struct BadgeRecord {
  std::string customerCode, name, address1, city, state, zip, email1, phone1, phone2, contact1, memo;
};
std::optional<BadgeRecord> parseBadge(const std::string& text);
inline constexpr size_t kBadgeFieldCount = 17;
inline constexpr const char* kInvalidBadge = "Invalid barcode scanned! \n Please check your barcode.";

// Makes the customer `code` the order's customer and store: the price level is `level`
// (nothing or empty: "1") when the fixed price level is "AUTO", else the fixed one; the
// server's order discount rate setting, when above 0, replaces the order discount rate.
void takeNewCustomer(OrvoMobileAppDelegate& app, const std::string& code, const std::optional<std::string>& level);

// The log-out button of the new-customer screens' bars ("unlock.png"), asking
// "Do you wish to logout?"; "Yes" resets the order state and dismisses the navigation
// controller that holds `screen`.
std::shared_ptr<ui::BarButtonItem> logoutBarButton(ui::ViewController& screen);
void askLogout(ui::ViewController& screen);
void logoutFrom(ui::ViewController& screen);

// The plain "Back" button of their bars.
std::shared_ptr<ui::BarButtonItem> backBarButton(std::function<void()> action);

}  // namespace orvo
