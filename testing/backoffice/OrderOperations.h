#pragma once
// The back office's operations of order taking: order types, printers and the test page,
// customers and their stores, and item prices with stock, earlier orders and booking
// limits. They answer from the catalogue (styles.json, customers.json, orderTypes.json,
// printers.json) and from pricing.json, which holds what the catalogue does not: booking
// limits per item code, a customer's earlier orders of an item, the colour of each prepack,
// and item codes whose price answer comes in an unusual form (numbers as JSON numbers, a
// null price, keys left out), so that the application's handling of such answers can be
// seen on the sample data.

#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

// The entries of the operation table for order taking.
std::vector<Operation> orderOperations();

}  // namespace backoffice
