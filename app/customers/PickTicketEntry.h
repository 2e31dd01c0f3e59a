#pragma once
// How the customer list opens the pick-ticket screen in scan-pack mode: the screen made
// under "PickTicketViewController" is told the chosen customer's code, or nothing for the
// pick tickets of every customer, before it is pushed. Main thread.

#include <optional>
#include <string>

namespace orvo {

class PickTicketEntry {
 public:
  virtual ~PickTicketEntry() = default;
  virtual void setCustomerID(std::optional<std::string> code) = 0;
};

}  // namespace orvo
