#pragma once
// The back office's operations behind the item list in depth: the colour and size grid of a
// style ("GetMultiColorList"), the lines of a saved order for editing ("GetPrevOrderList"),
// the server copy of a duplicated order ("InsertDupSO"), and the real-time order, which the
// server keeps line by line while it is taken ("GetNewSOnumberWithSOH",
// "UpdateAllItemsForRealTime", "UpdateItemInfoForRealTime", "DeleteItemForRealTime",
// "UpdateDupItemHandlingForRealTime", "DeleteSoForRealTime").
//
// A real-time order lives in `State::salesOrders` beside the saved orders, in the same form
// (so the header's save, documents and printing find it), marked "RealTime": true. Its
// "Items" are the lines as the device last sent them, in the device's order, each with the
// style, colour, size and prepack of its code; a test compares them with the device's cart.
// "UpdateAllItemsForRealTime" replaces the lines with the ones sent, so one whole-cart send
// brings the server back in step after lost per-line calls.
//
// Item figures (prices, stock, booking limits, earlier orders) come from the "GetPrice"
// handler, so every operation describes an item the same way.

#include <string>
#include <vector>

#include "testing/backoffice/Operations.h"

namespace backoffice {

std::vector<Operation> orderDepthOperations();

// Makes a new real-time order for the head of a price request whose items start one
// ("NEWSO" in `itemsText`), and returns its number.
std::string beginRealTimeOrder(State& s, const Call& priceCall, const std::string& itemsText);

}  // namespace backoffice
