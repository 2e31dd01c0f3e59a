#pragma once
// The back-office server's operation table: one entry per SOAP operation with its service,
// its parameter names in the order the application sends them, and the handler that
// answers from the catalogue. Adding an operation is one entry here and one handler.
//
// A handler returns the JSON answer (written as JSON text into the result element) or a
// bare text (written as it is). Handlers run one at a time under the server's lock and may
// keep what they are sent in `State`.

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "testing/backoffice/Catalogue.h"

namespace backoffice {

enum class ServiceKind { Mobile, ScanPack };

inline constexpr const char* kMobilePath = "/Webservice/OrvoMobileWebService.asmx";
inline constexpr const char* kScanPackPath = "/Webservice/OrvoScanPackWebService.asmx";
// The namespace of both services; "SOAPAction" is this followed by the operation name.
inline constexpr const char* kNamespace = "http://tempuri.org/";

// One received call: the operation and its parameters in the order they came.
struct Call {
  std::string operation;
  std::vector<std::pair<std::string, std::string>> params;

  // The value of parameter `name` ("" when absent).
  const std::string& param(const std::string& name) const;
};

// What the server keeps between calls.
struct State {
  Catalogue catalogue;
  std::map<std::string, std::vector<Call>> received;  // every call, per operation
  std::vector<std::string> serverLog;                 // messages sent with "SetServerLog"
  int nextLogo = 1;
  int nextOrder = 1;  // order numbers handed out for new real-time orders
  // Saved sales orders by SO number, and the files made for them (path below
  // "/styleimages" to bytes; ".jpg" paths are served as pictures, so tests can add
  // pictures made at test time); see OrderSaveOperations.h.
  nlohmann::json salesOrders = nlohmann::json::object();
  std::map<std::string, std::string> documents;
  int nextSalesOrder = 10001;
  nlohmann::json payments = nlohmann::json::object();  // cards and signatures (PaymentOperations.h)
};

using Answer = std::variant<nlohmann::json, std::string>;
using Handler = Answer (*)(const Call&, State&);

struct Operation {
  const char* name;
  ServiceKind service;
  // Names in the order the application sends them; a name ending in "?" may be left out.
  std::vector<std::string> params;
  Handler handler;
};

const std::vector<Operation>& operationTable();
const Operation* findOperation(ServiceKind service, const std::string& name);
// Whether `call` carries the operation's parameters in its order (optional ones may be absent).
bool paramsInOrder(const Operation& op, const Call& call);

}  // namespace backoffice
