#pragma once
// The picking screens by interface-file name ("PickTicketViewController",
// "PickUpViewController", "SizeQtyViewController") with their state marks
// ("Checkmark-96.png", "Error-96.png"). The customer screen in scan-pack mode opens the
// pick tickets through `PickTicketEntry`. Main thread.

namespace orvo {

// Registers the picking screens.
void registerPickingScreens();

}  // namespace orvo
