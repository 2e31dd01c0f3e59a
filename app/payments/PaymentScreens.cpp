#include "app/payments/PaymentScreens.h"

#include "app/core/CoreScreens.h"
#include "app/payments/CcSignatureViewController.h"
#include "app/payments/CcViewController.h"
#include "app/payments/PaymentNames.h"

namespace orvo {

void registerPaymentScreens() {
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<CcViewController>(kCcViewController);
  r.add<CcSignatureViewController>(kCcSignatureViewController);
  for (const char* name : {"CcManualAndCameraTableViewController", "CcListTableViewController"})
    if (!r.contains(name)) r.add<StandInViewController>(name);
}

}  // namespace orvo
