#include "testing/backoffice/CustomerOperations.h"

#include <cctype>

namespace backoffice {

namespace {

using nlohmann::json;

std::string folded(const std::string& s) {
  std::string out;
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c))) out += char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string field(const json& row, const char* key) {
  auto it = row.find(key);
  return it != row.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool codeTaken(const State& s, const std::string& code) {
  for (const auto& cu : s.catalogue.customers)
    if (folded(field(cu, "Code")) == folded(code)) return true;
  return false;
}

json refused(const std::string& why) { return {{"Response", "False"}, {"Id", ""}, {"Message", ""}, {"Error", why}}; }

// Adds a customer with one store of the same code; the answer names it and its price level.
json created(State& s, json customer) {
  const std::string code = field(customer, "Code");
  customer["PriceLevel"] = "1";
  customer["OrderDiscountRate"] = 0;
  customer["Stores"] = json::array(
      {{{"StoreId", code}, {"Name", field(customer, "Name")}, {"City", field(customer, "City")},
        {"State", field(customer, "State")}}});
  s.catalogue.customers.push_back(std::move(customer));
  return {{"Response", "True"}, {"Id", code}, {"Message", "1"}, {"Error", ""}};
}

// Parameter: code. "Response" "True" when no customer has that code (ignoring case).
Answer checkCustomerCode(const Call& c, State& s) {
  return json{{"Response", codeTaken(s, c.param("code")) ? "False" : "True"}};
}

// Parameters: code, name, address1, phone1. Customers with the same code, name, first
// address or phone (ignoring case and blanks) are listed as the JSON text of an array in
// "Response"; none gives "False".
Answer getExistCustomerInfo(const Call& c, State& s) {
  json matches = json::array();
  const std::string code = folded(c.param("code")), name = folded(c.param("name")),
                    address = folded(c.param("address1")), phone = folded(c.param("phone1"));
  auto same = [](const std::string& a, const std::string& b) { return !a.empty() && a == b; };
  for (const auto& cu : s.catalogue.customers) {
    if (!same(code, folded(field(cu, "Code"))) && !same(name, folded(field(cu, "Name"))) &&
        !same(address, folded(field(cu, "Addr1"))) && !same(phone, folded(field(cu, "Phone"))))
      continue;
    json m{{"Code", field(cu, "Code")},         {"Name", field(cu, "Name")},
           {"Address1", field(cu, "Addr1")},    {"Phone1", field(cu, "Phone")},
           {"OrderDiscountRate", cu.value("OrderDiscountRate", 0.0)}};
    // A record kept without a price level is answered without one.
    if (cu.contains("PriceLevel")) m["PriceLevel"] = field(cu, "PriceLevel");
    matches.push_back(std::move(m));
  }
  if (matches.empty()) return json{{"Response", "False"}};
  return json{{"Response", matches.dump()}};
}

// Parameters: divCode, creator, code, name, address1, address2, city, zip, state, country,
// phone1, phone2, fax1, fax2, email1, email2, contact1, contact2, memo, salesRep1Code.
Answer insertNewCustomerForManual(const Call& c, State& s) {
  const std::string code = c.param("code");
  if (code.empty() || c.param("name").empty()) return refused("Customer code and name are required.");
  if (codeTaken(s, code)) return refused("Customer code " + code + " already exists.");
  json cu = json::object();
  cu["Code"] = code;
  cu["Name"] = c.param("name");
  cu["Addr1"] = c.param("address1");
  cu["City"] = c.param("city");
  cu["State"] = c.param("state");
  cu["Zip"] = c.param("zip");
  cu["Phone"] = c.param("phone1");
  cu["Email"] = c.param("email1");
  cu["Contact1"] = c.param("contact1");
  cu["Memo"] = c.param("memo");
  cu["Creator"] = c.param("creator");
  cu["SalesRep"] = c.param("salesRep1Code");
  return created(s, std::move(cu));
}

// Parameters: autoFlag, code, user, imgFrontBase64String, imgBackBase64String,
// createUserAndDevice. The customer is named after its code until the card is read.
Answer insertNewCustomerForBusinessCard(const Call& c, State& s) {
  const std::string code = c.param("code");
  if (code.empty()) return refused("Customer code is required.");
  if (c.param("imgFrontBase64String").empty()) return refused("The front of the business card is missing.");
  if (codeTaken(s, code)) return refused("Customer code " + code + " already exists.");
  return created(s, {{"Code", code},
                     {"Name", code},
                     {"Creator", c.param("createUserAndDevice")},
                     {"CardFront", c.param("imgFrontBase64String")},
                     {"CardBack", c.param("imgBackBase64String")}});
}

}  // namespace

std::vector<Operation> customerOperations() {
  using SK = ServiceKind;
  return {
      {"CheckCustomerCode", SK::Mobile, {"code"}, checkCustomerCode},
      {"GetExistCustomerInfo", SK::Mobile, {"code", "name", "address1", "phone1"}, getExistCustomerInfo},
      {"InsertNewCustomerForManual", SK::Mobile,
       {"divCode", "creator", "code", "name", "address1", "address2", "city", "zip", "state", "country", "phone1",
        "phone2", "fax1", "fax2", "email1", "email2", "contact1", "contact2", "memo", "salesRep1Code"},
       insertNewCustomerForManual},
      {"InsertNewCustomerForBusinessCard", SK::Mobile,
       {"autoFlag", "code", "user", "imgFrontBase64String", "imgBackBase64String", "createUserAndDevice"},
       insertNewCustomerForBusinessCard},
  };
}

}  // namespace backoffice
