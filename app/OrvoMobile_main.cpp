// OrvoMobile: the order-entry application in a desktop window. It takes its settings from
// the user defaults in the configuration folder ($XDG_CONFIG_HOME/OrvoMobile) and reaches
// the sleeve through the KestraSDK device facade; pictures come from the photo album in the
// data folder and from the camera (or the pictures named by KESTRA_CAMERA). Documents print
// on the system's printers (CUPS) and mail goes out through the account in the user
// defaults (SMTP).
#include "app/core/KestraDevices.h"
#include "app/core/OrvoMobileApp.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/customers/CustomerScreens.h"
#include "app/orders/OrderScreens.h"
#include "app/payments/PaymentScreens.h"
#include "app/picking/PickingScreens.h"
#include "platform/foundation/FirstFrame.h"
#include "platform/mail/SmtpMailTransport.h"
#include "platform/media/PhotoLibrary.h"
#include "platform/print/CupsPrintService.h"
#include "platform/ui/qt/Host.h"

int main(int argc, char** argv) {
  // The SDK (and its agent) starts here, before the window: what its start may put off, it
  // puts off until the host has painted the window's first frame.
  foundation::FirstFrame::hold();
  orvo::KestraDevices::install();
  ui::ImagePickerController::setImageSource(std::make_shared<media::DevicePhotoSource>());
  ui::PrintInteractionController::setPrintService(std::make_shared<print::CupsPrintService>());
  ui::MailComposeViewController::setMailTransport(std::make_shared<mail::SmtpMailTransport>());
  orvo::registerOrderScreens();
  orvo::registerCustomerScreens();
  orvo::registerPickingScreens();
  orvo::registerPaymentScreens();
  auto delegate = orvo::makeOrvoMobileApplication();
  return ui::qt::runApplication(argc, argv, delegate);
}
