#pragma once
// The picking screens by interface-file name ("PickTicketViewController",
// "PickUpViewController", "SizeQtyViewController") with their state marks
// ("Checkmark-96.png", "Error-96.png"), and the way in from the customer screen in
// scan-pack mode. Main thread.

#include <memory>
#include <optional>
#include <string>

#include "app/core/CoreScreens.h"

namespace ui { class ViewController; }

namespace orvo {

class PickTicketViewController;

// Registers the picking screens. While no customer screen is registered under
// "CustomerView" (or only a stand-in), registers `ScanPackCustomerStandIn` there, so that
// the main menu's pick road reaches the pick tickets; the customer screen, registered
// before or after, takes its place.
void registerPickingScreens();

// The pick-ticket screen for `customerID` (a customer's code), or for every customer
// ("All Pick"), ready to be pushed.
std::shared_ptr<PickTicketViewController> makePickTicketScreen(std::optional<std::string> customerID);

// Stands in for the customer screen until it is registered: in scan-pack mode its "All
// Pick" button pushes the pick tickets of every customer; "Back" closes the navigation
// controller it was presented in.
class ScanPackCustomerStandIn : public StandInViewController {
 public:
  explicit ScanPackCustomerStandIn(std::string nibName) : StandInViewController(std::move(nibName)) {}
  void viewDidLoad() override;
  void gotoPickView();
};

}  // namespace orvo
