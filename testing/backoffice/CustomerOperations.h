#pragma once
// The back office's operations of new customers: whether a customer code is free, the
// existing customers that resemble a new one, and the creation of a customer typed on the
// form or sent as business-card photos. Created customers join the catalogue (with one
// store of the same code), so the customer search and the store choice find them; a code
// that is already taken is refused with the server's reason.

#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

// The entries of the operation table for new customers.
std::vector<Operation> customerOperations();

}  // namespace backoffice
