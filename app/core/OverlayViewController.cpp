#include "app/core/OverlayViewController.h"

namespace orvo {

void OverlayViewController::touchesBegan(const ui::Touches&) {
  auto owner = owner_.lock();
  if (!owner) return;
  if (auto* customer = dynamic_cast<CustomerSearchOverlayOwner*>(owner.get())) {
    customer->delOv();
  } else if (auto* store = dynamic_cast<StoreSearchOverlayOwner*>(owner.get())) {
    store->doneSearching_Clicked(nullptr);
  } else if (auto* style = dynamic_cast<StyleInfoSearchOverlayOwner*>(owner.get())) {
    style->delOv();
  }
}

}  // namespace orvo
