// The style screens by interface-file name.
#include "app/orders/AtsViewController.h"
#include "app/orders/OrderScreens.h"
#include "app/orders/StockGrid.h"
#include "app/orders/StyleInfoTableViewController.h"
#include "app/orders/StyleLookupViewController.h"

namespace orvo {

void registerStyleScreens() {
  registerStockGridImages();
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<StyleLookupViewController>("StyleLookupViewController");
  r.add<StyleInfoTableViewController>("StyleInfoTableViewController");
  r.add<AtsViewController>("AtsViewController");
}

}  // namespace orvo
