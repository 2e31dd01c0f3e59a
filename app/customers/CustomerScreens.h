#pragma once
// The customer screens by interface-file name. Main thread.

namespace orvo {

// Registers "CustomerView" and "StoreView", and a stand-in for the new-customer menu
// ("NewCustomerSelectorViewController") until it is registered.
void registerCustomerScreens();

}  // namespace orvo
