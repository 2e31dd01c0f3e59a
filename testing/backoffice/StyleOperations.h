#pragma once
// The back office's style operations: the style look-up with stock by size
// ("GetStyleLookup"), the stock of one style and colour ("getATS") and the typed style
// search ("GetStylesInfo"). They answer from the catalogue's styles (styles.json): sizes,
// colours, prepacks, prices and the per-size stock figures ATS, OTS and ATA. On hand,
// orders and purchase orders are derived from those figures, so that every row of the
// stock grid adds up: OH = ATS + Orders, OTS = ATS + PO.
//
// Stock rows are fixed-width texts, five characters per size, right-aligned, as the
// application's stock grids expect.

#include <string>
#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

// The entries of the operation table for the style look-up, stock and style search.
std::vector<Operation> styleOperations();

// `value` right-aligned in five characters (cut to its last five when longer).
std::string stockColumn(const std::string& value);

}  // namespace backoffice
