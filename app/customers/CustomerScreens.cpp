#include "app/customers/CustomerScreens.h"

#include "app/core/CoreScreens.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"

namespace orvo {

void registerCustomerScreens() {
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<CustomerViewController>("CustomerView");
  r.add<StoreViewController>("StoreView");
  for (const char* name : {"NewCustomerSelectorViewController", "PickTicketViewController"})
    if (!r.contains(name)) r.add<StandInViewController>(name);
}

}  // namespace orvo
