#pragma once
// The scan-pack service's picking operations: the pick tickets of a customer
// ("GetPickList"), the items of chosen tickets grouped by bin ("GetPickupItems") and what
// one scan of a barcode counts ("GetQtyByBarcode"). They answer from the catalogue's pick
// tickets (pickTickets.json: tickets with their items per bin, and extra barcodes that
// count several units) and its styles (size lists and size barcodes).

#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

// The picking entries of the operation table.
std::vector<Operation> pickingOperations();

}  // namespace backoffice
