#include "testing/backoffice/Operations.h"

#include "testing/backoffice/CustomerOperations.h"
#include "testing/backoffice/OrderOperations.h"
#include "testing/backoffice/PaymentOperations.h"
#include "testing/backoffice/PickingOperations.h"
#include "testing/backoffice/DocumentOperations.h"
#include "testing/backoffice/OrderSaveOperations.h"
#include "testing/backoffice/OrderDepthOperations.h"
#include "testing/backoffice/StyleOperations.h"

namespace backoffice {

namespace {

using nlohmann::json;

json failure(const std::string& text) { return {{"Response", "False"}, {"Error", text}}; }

// Parameters: userName, password, uuid, device_version, device_name, orvomobile_version,
// division, clientIp. Answers "Id" (the price-edit level) and "JsonOptions" (JSON text).
Answer authenticateUser(const Call& c, State& s) {
  const json* user = s.catalogue.findUser(c.param("userName"));
  if (!user || user->value("password", std::string()) != c.param("password"))
    return json{{"Response", "False"}, {"Message", "Invalid user name or password."}};
  // A user whose record names a required build is asked to update any other build.
  if (user->contains("requiredVersion") &&
      user->value("requiredVersion", std::string()) != c.param("orvomobile_version"))
    return json{{"Response", "True"}, {"Message", "UPDATE"}, {"Id", user->value("requiredVersion", std::string())}};
  return json{{"Response", "True"},
              {"Message", ""},
              {"Id", std::to_string(user->value("priceEditLevel", 0))},
              {"JsonOptions", user->value("options", json::object()).dump()}};
}

// The server's choice lists, each as JSON text.
Answer getMethods(const Call&, State& s) {
  json out = json::object();
  for (const char* key : {"Terms", "ShipVia", "PaymentCode", "State", "Country", "SalesRep",
                          "CustomerPriority"}) {
    // A list set to null in the catalogue is left out of the answer (a partial answer).
    if (auto it = s.catalogue.lists.find(key); it != s.catalogue.lists.end() && it->is_null()) continue;
    out[key] = s.catalogue.lists.value(key, json::array()).dump();
  }
  return out;
}

Answer insertLogo(const Call&, State& s) {
  return json{{"Response", "True"}, {"Id", "logo-" + std::to_string(s.nextLogo++)}, {"Error", ""}};
}

Answer getDivision(const Call&, State& s) {
  json rows = json::array();
  for (const auto& d : s.catalogue.divisions) {
    json row;
    for (const char* key : {"Code", "Descript", "Company", "Addr1", "MultiDivision",
                            "PrintSoWithSignature", "Overbook", "AddShipDay"})
      row[key] = d.value(key, std::string());
    row["Response"] = "True";
    rows.push_back(std::move(row));
  }
  if (rows.empty()) rows.push_back({{"Response", "False"}});
  return rows;
}

Answer getDivisionLogo(const Call& c, State& s) {
  const json* d = s.catalogue.findDivision(c.param("code"));
  if (!d) return failure("Division " + c.param("code") + " is not known.");
  return json{{"Response", "True"}, {"Id", d->value("Logo", std::string())}};
}

Answer getWarehouse(const Call&, State& s) {
  json rows = json::array();
  for (const auto& w : s.catalogue.warehouses) {
    json row{{"Response", "True"}, {"Error", ""}};
    for (const char* key : {"Code", "Descript", "Name", "Addr1"}) row[key] = w.value(key, std::string());
    rows.push_back(std::move(row));
  }
  if (rows.empty()) rows.push_back(failure("No warehouse is set up."));
  return rows;
}

Answer setServerLog(const Call& c, State& s) {
  s.serverLog.push_back(c.param("logMsg"));
  return json{{"Response", "True"}};
}

}  // namespace

const std::string& Call::param(const std::string& name) const {
  static const std::string empty;
  for (const auto& [k, v] : params)
    if (k == name) return v;
  return empty;
}

const std::vector<Operation>& operationTable() {
  using SK = ServiceKind;
  static const std::vector<Operation> table = {
      {"AuthenticateUser", SK::Mobile,
       {"userName", "password", "uuid", "device_version", "device_name", "orvomobile_version",
        "division", "clientIp"},
       authenticateUser},
      {"GetMethods", SK::Mobile, {}, getMethods},
      {"InsertLogo", SK::Mobile, {}, insertLogo},
      {"GetDivision", SK::Mobile, {}, getDivision},
      {"GetDivisionLogo", SK::Mobile, {"code"}, getDivisionLogo},
      {"GetWarehouse", SK::Mobile, {}, getWarehouse},
      {"SetServerLog", SK::Mobile, {"logMsg"}, setServerLog},
  };
  static const std::vector<Operation> all = [] {
    std::vector<Operation> t = table;
    for (auto& op : orderOperations()) t.push_back(std::move(op));
    for (auto& op : pickingOperations()) t.push_back(std::move(op));
    for (auto& op : customerOperations()) t.push_back(std::move(op));
    for (auto& op : orderSaveOperations()) t.push_back(std::move(op));
    for (auto& op : paymentOperations()) t.push_back(std::move(op));
    for (auto& op : orderDepthOperations()) t.push_back(std::move(op));
    for (auto& op : styleOperations()) t.push_back(std::move(op));
    for (auto& op : documentOperations()) t.push_back(std::move(op));
    return t;
  }();
  return all;
}

bool paramsInOrder(const Operation& op, const Call& call) {
  size_t at = 0;
  for (const auto& name : op.params) {
    const bool optional = !name.empty() && name.back() == '?';
    const std::string plain = optional ? name.substr(0, name.size() - 1) : name;
    if (at < call.params.size() && call.params[at].first == plain) {
      ++at;
    } else if (!optional) {
      return false;
    }
  }
  return at == call.params.size();
}

const Operation* findOperation(ServiceKind service, const std::string& name) {
  for (const auto& op : operationTable())
    if (op.service == service && name == op.name) return &op;
  return nullptr;
}

}  // namespace backoffice
