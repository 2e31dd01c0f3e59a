#pragma once
// The back office's operations of a sales order after its items: the header of a new order
// (from the customer's record) or of a saved one, saving (insert, edit, header only), the
// check after an interrupted insert, the saved orders of a customer and store, the order
// number check, the order documents (a small PDF per SO and a card form, made when asked
// and served below "/styleimages/pdf"), server printing and e-mail, and the web-shop
// customer.
//
// Saved orders are kept in `State::salesOrders` under their SO number exactly as they were
// sent (header elements and the parsed item list), so a test reads back what was saved.
// A multi-SO insert makes one SO per style, numbers joined by ",". `CheckOrderProcessing`
// finds the orders inserted with the same login, division, customer, store, duplicate
// number, order type, memo and totals.

#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

std::vector<Operation> orderSaveOperations();

// A one-page PDF whose page shows `lines` (test and demo documents).
std::string simplePdf(const std::vector<std::string>& lines);

}  // namespace backoffice
