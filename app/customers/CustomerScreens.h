#pragma once
// The customer screens by interface-file name. Main thread.

namespace orvo {

// Registers "CustomerView", "StoreView", the new-customer screens
// ("NewCustomerSelectorViewController", "ManualViewController",
// "ExistedCustomerViewController", "BusinessCardViewController"), and a stand-in for the
// pick tickets ("PickTicketViewController") until they are registered.
void registerCustomerScreens();

}  // namespace orvo
