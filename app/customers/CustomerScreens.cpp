#include "app/customers/CustomerScreens.h"

#include "app/core/CoreScreens.h"
#include "app/customers/BusinessCardViewController.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/ExistedCustomerViewController.h"
#include "app/customers/ManualViewController.h"
#include "app/customers/NewCustomerSelectorViewController.h"
#include "app/customers/StoreViewController.h"

namespace orvo {

void registerCustomerScreens() {
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<CustomerViewController>("CustomerView");
  r.add<StoreViewController>("StoreView");
  r.add<NewCustomerSelectorViewController>("NewCustomerSelectorViewController");
  r.add<ManualViewController>("ManualViewController");
  r.add<ExistedCustomerViewController>("ExistedCustomerViewController");
  r.add<BusinessCardViewController>("BusinessCardViewController");
  if (!r.contains("PickTicketViewController")) r.add<StandInViewController>("PickTicketViewController");
}

}  // namespace orvo
