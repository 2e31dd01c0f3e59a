#pragma once
// The sales order being taken and the server's choice lists. The application delegate owns
// the one instance for the life of the process and screens change its fields in place, so a
// reference taken to a field stays current. Texts are never absent (empty instead); lists
// are JSON arrays of the server's records. Main thread only.

#include <nlohmann/json.hpp>
#include <string>

namespace orvo {

struct GlobalSO {
  int priceEditLevel = 0;   // the user's price-edit level, from the login answer
  int orderTypeNum = 0;     // index of the chosen order type
  int orderInfoTag = 0;     // tag of the order-header field being edited
  int printerNum = 1;       // printer number sent with server print requests
  std::string orderNumber;  // several numbers separated by "," in multi-order mode
  std::string pDupNum;      // number of the order being duplicated
  std::string signatureBase64String;
  std::string signatureBase64StringForSo;
  std::string orderTotalQty;
  std::string orderTotalExtPrice;
  std::string loginID;
  std::string orderTypeCode;
  std::string priceLevel;       // price level in force for the order
  std::string fixedPriceLevel;  // chosen in the settings; "AUTO" means the customer's
  double orderDiscountRate = 0.0;  // the customer's order discount rate in percent
  std::string customerID;
  std::string storeID;
  std::string orderInfo;
  std::string orderEmail1;
  std::string orderCustomerPo;
  std::string warehouseCode;
  std::string divisionCode;
  // Name of the print or e-mail operation in flight; the request-error handler words a
  // time-out of it and then empties it.
  std::string currSoapFuncName;
  // A code typed by hand or read by the camera, picked up by the screen shown next.
  std::string manualBarcode;
  nlohmann::json orderTypeArray = nlohmann::json::array();
  nlohmann::json existedCustomerArray = nlohmann::json::array();
  nlohmann::json termsArray = nlohmann::json::array();
  nlohmann::json paymentCodeArray = nlohmann::json::array();
  nlohmann::json shipViaArray = nlohmann::json::array();
  nlohmann::json stateArray = nlohmann::json::array();
  nlohmann::json countryArray = nlohmann::json::array();
  nlohmann::json salesRepArray = nlohmann::json::array();
  nlohmann::json customerPriorityArray = nlohmann::json::array();
  nlohmann::json lastOrderListArray = nlohmann::json::array();    // item rows handed to the order header
  nlohmann::json lastEditedPriceArray = nlohmann::json::array();  // edited unit prices handed on with them
  std::string bcFrontImageBase64;
  std::string bcBackImageBase64;

  // The values at launch: texts empty, lists empty, numbers 0 and `printerNum` 1.
  void initVar() { *this = GlobalSO(); }
};

}  // namespace orvo
