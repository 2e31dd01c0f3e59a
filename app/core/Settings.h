#pragma once
// The in-memory record of mode flags of one run of the application. The application
// delegate creates one at launch and keeps it for the life of the process; screens reach it
// through `OrvoMobileAppDelegate::settings()`. It is never persisted: the login answer's
// options, the settings screen's user-default switches (copied by the order-type screen) and
// the per-order state of the order screens fill it, and `initFlag` clears the per-order flags.
// Main thread only.

namespace orvo {

struct Settings {
  bool logoutFlag = false;                // the user logged out; no automatic login afterwards
  bool print2CopiesFlag = false;          // user default "Print2Copies"
  bool printUsingServerFlag = false;      // user default "PrintUsingServer"
  bool multiSoFlag = false;               // user default "MultiSo"
  bool realtimeSoFlag = false;            // user default "RealtimeSoStatus"
  bool multiColorSoFlag = false;          // user default "MultiColorSoStatus"
  bool soEditSelectFlag = false;          // per order: an existing order is being edited
  bool duplicateSoFlag = false;           // per order: an existing order is being duplicated
  bool newCustomerFlag = false;           // per order: customer created on the device
  bool existCustomerFlag = false;         // per order: existing customer picked in the new-customer flow
  bool createNewCustomerFlag = false;     // per order: a new customer is to be created on the server
  bool authorizeSuccessFlag = false;      // per order: the card was authorized
  bool soHoldFlag = false;                // per order: the order is saved on hold
  bool dupItemHandlingFlag = false;       // user default "DupItemStatus"
  bool previousOrderFlag = false;         // user default "previousOrderFunc"
  bool PrevOrderNotiOpenFlag = false;     // login option "PREV_ORDER_NOTI_OPEN"
  bool isPrevOrderNotiWithInvDate = false;  // login option "PREV_ORDER_NOTI_WITH_INVDATE_INFO"
  bool WebNewCustomerFlag = false;        // login option "WEBSITE_NEWCUSTOMER"
  bool ccCvvFlag = false;                 // login option "CUSTOMER_CC_CVV"
  bool ccZipcodeFlag = false;             // login option "CUSTOMER_CC_ZIPCODE"
  bool ccDefFlag = false;                 // login option "CUSTOMER_CC_DEF_LIST"
  bool overBookingFlag = false;           // user default "overBooking"
  bool realtimeSoLastViewFlag = false;    // per order: the real-time order reached its last screen
  bool EmailImgZipFlag = false;           // login option "EMAIL_IMGZIP"
  bool EmailScheduleFlag = false;         // login option "EMAIL_SCHEDULE_SHOWSERVER"
  bool isNewCustomerSalesRepOption = false;  // login option "NewCustomerSalesRepOption"
  bool isCustomerPriorityOption = false;  // login option "CustomerPriorityOption"
  bool isUpcSizeMode = false;             // login option "UpcSizeMode"
  bool isUpcSizeModeInitialPrepackQty = false;  // login option "UPCSIZE_MODE_INITIAL_PREPACK_QTY"
  bool isCameraScannerMode = false;       // login option "CameraScannerMode"
  bool isStockWHMode = false;             // login option "IpodWHforStockMode"
  bool isLineSheetMode = false;           // login option "LinesheetMode"
  bool isScanPackMode = false;            // main menu: NO for sales orders, YES for pick and scan-pack
  bool isPickScanVerification = false;    // login option "PickScanVerification"
  double showOrderDiscountRateFromServer = 0.0;  // login option "ShowOrderDiscountRate"

  // Every flag NO and the rate 0.0, as at launch.
  void initVar() { *this = Settings(); }
};

}  // namespace orvo
