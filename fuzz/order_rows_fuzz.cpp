// Feeds arbitrary bytes to the readings of the item list's answers and texts: a grid row
// from a "GetMultiColorList" element and a cart line from a "GetPrevOrderList" item (the
// bytes read as JSON), the booking rule on what a row holds, money texts in cents and cancel
// dates as sort keys. Each must give a value or a
// clean std::exception, never crash.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "app/orders/MultiColorRows.h"
#include "app/orders/OrderCart.h"
#include "app/orders/PriceClass.h"
#include "app/orders/SubtotalViewController.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)orvo::decimalToCents(text);
  (void)orvo::cart::centsOf(text);
  (void)orvo::SubtotalViewController::getSortCancelDate(text);
  const nlohmann::json answer = nlohmann::json::parse(text, nullptr, false);
  if (answer.is_discarded()) return 0;
  const nlohmann::json elements = answer.is_array() ? answer : nlohmann::json::array({answer});
  for (const auto& element : elements) {
    (void)orvo::cart::lineOfOrderItem(element);
    try {
      nlohmann::json row = orvo::multicolor::rowFromAnswer(element);
      row["Qty"] = "3";
      row["OverBookingLimit"] = orvo::multicolor::storedLimit(row, true, false);
      auto b = orvo::multicolor::checkOverBooking(3, row["OverBookingLimit"].get<std::string>(), 7);
      if (b.qty) orvo::multicolor::updateQty(row, std::to_string(*b.qty), std::nullopt, b.limit);
      (void)orvo::multicolor::totals(nlohmann::json::array({row}));
      (void)orvo::multicolor::prepackRatio(row["PrepackInfo"].get<std::string>());
    } catch (const std::exception&) {
    }
  }
  return 0;
}
