#include "app/payments/PaymentScreens.h"

#include "app/payments/CcListTableViewController.h"
#include "app/payments/CcManualAndCameraTableViewController.h"
#include "app/payments/CcSignatureViewController.h"
#include "app/payments/CcViewController.h"
#include "app/payments/PaymentNames.h"

namespace orvo {

void registerPaymentScreens() {
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<CcViewController>(kCcViewController);
  r.add<CcSignatureViewController>(kCcSignatureViewController);
  r.add<CcListTableViewController>(kCcListTableViewController);
  r.add<CcManualAndCameraTableViewController>(kCcManualAndCameraTableViewController);
}

}  // namespace orvo
