#pragma once
// Price and quantity texts as the screens show them, and the item-code number pad.
//
// `PriceClass` turns the server's decimal texts (a point as decimal separator) into
// display texts in the United States convention, which is the application's only locale:
// currency "$1,234.50" (two decimals), grouped numbers "1,234.568" (at most three
// decimals), both rounded half to even on the exact decimal text; an empty text counts as
// "0" and a text that is not a decimal number shows as "NaN". A discounted price is shown
// beside its struck-through price before discount.
//
// `CustomKeyboardClass` gives a text field a number pad with a clear key and, optionally,
// a camera key that opens the screen's camera scanner. Stateless; main thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"

namespace orvo {

// A decimal text as integer cents (rounded half to even at the cent, as the display texts
// are); nothing when the text is not a decimal number. Money is added and multiplied in
// cents so that no binary fraction creeps into a figure the server or a total compares.
std::optional<long long> decimalToCents(const std::string& number);
// Cents as a decimal text with two places ("-1234.50"), the form "%0.2f" gives.
std::string centsToDecimal(long long cents);

class PriceClass {
 public:
  static std::string stringToCurrency(const std::string& number);
  static std::string stringToComma(const std::string& number);
  // Unless the two texts are equal, the label shows "$<old> $<new>": the old price struck
  // through in dark grey, the new one in red.
  static void SetStyledDiscountPrice(ui::Label& label, const std::string& price, const std::string& orgPrice);
  // Nothing when the two texts are equal; else the runs of
  // "Unit Price:$<old> $<new> | Ext.Price:$<ext> | Bundle:<code>" (or "SizeCode:").
  static std::optional<std::vector<ui::TextRun>> GetTableCellStyledDiscountPrice(
      const std::string& price, const std::string& orgPrice, const std::string& extPrice,
      const std::string& sizeOrBundleCode, bool isBundle);
};

// A screen whose number pad's camera key opens its camera scanner.
class CameraScanTarget {
 public:
  virtual ~CameraScanTarget() = default;
  virtual void OpenCameraScanView() = 0;
};

class CustomKeyboardClass {
 public:
  // Gives `field` a number pad as its input view, with the clear key's image and, when
  // `withCameraScan`, the camera key calling the target's `OpenCameraScanView`. The target
  // is held weakly. Returns the field.
  static std::shared_ptr<ui::TextField> SetNumberPadWithCameraScan(std::weak_ptr<CameraScanTarget> target,
                                                                   std::shared_ptr<ui::TextField> field,
                                                                   bool withCameraScan = true);
};

}  // namespace orvo
