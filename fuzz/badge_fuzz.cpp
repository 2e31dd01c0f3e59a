// Feeds arbitrary bytes to the reading of a trade-show badge (the text a sleeve or camera
// reads from its two-dimensional barcode) and to the customer-code rules. Each must give a
// record or nothing, a verdict or nothing, never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/customers/NewCustomerSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (auto badge = orvo::parseBadge(text)) (void)orvo::customerCodeProblem(badge->customerCode);
  (void)orvo::customerCodeProblem(text);
  (void)orvo::trimBlanks(text);
  return 0;
}
