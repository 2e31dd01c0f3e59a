#pragma once
// One item as the server describes it in a price answer. The text fields keep whatever
// value the answer gave for their key (text or number) without conversion; a key the
// answer lacks leaves its field null. Short-lived, owned by the screen that builds it.

#include <nlohmann/json.hpp>

namespace orvo {

struct ScannedItem {
  int BeforeTime = 0;
  int BeforeTotal = 0;
  nlohmann::json Kind, Code, Descript, Ats, AtsStatus, Ots, OtsStatus, Style, Color, MultiColor,
      SizeCode, Status, Sum, Price, OrgPrice, MinPrice, Bundle, Qty, BeforeOrderNum,
      InvDateAndQtyJson, Eta, EtaForPrint, OverBookingMsg, OverBookingLimit;

  ScannedItem() = default;
  // Copies the answer's keys into the fields; "Barcode" fills `Code` (a key "Code" is not
  // read). `Descript`, `Status`, `BeforeOrderNum`, `BeforeTime` and `BeforeTotal` stay empty
  // for the caller to set. A dictionary that is not an object gives an empty item.
  explicit ScannedItem(const nlohmann::json& dictionary);
  // Clears the record in place: every text field null, both integers 0.
  void initScannedItem() { *this = ScannedItem(); }
};

}  // namespace orvo
