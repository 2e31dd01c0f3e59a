// The new-customer operations answered from the sample data, called as the server calls
// them (through the operation table).
#include "testing/backoffice/CustomerOperations.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace backoffice {
namespace {

using nlohmann::json;

class CustomerOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(state.catalogue.load(defaultDataFolder(), &error)) << error;
  }
  json call(const std::string& op, std::vector<std::pair<std::string, std::string>> params) {
    const Operation* o = findOperation(ServiceKind::Mobile, op);
    EXPECT_NE(o, nullptr) << op;
    Call c{op, std::move(params)};
    EXPECT_TRUE(paramsInOrder(*o, c)) << op;
    return std::get<json>(o->handler(c, state));
  }
  json exist(const std::string& code, const std::string& name, const std::string& address, const std::string& phone) {
    return call("GetExistCustomerInfo", {{"code", code}, {"name", name}, {"address1", address}, {"phone1", phone}});
  }
  json insert(const std::string& code, const std::string& name) {
    std::vector<std::pair<std::string, std::string>> p;
    for (const char* k : {"divCode", "creator", "code", "name", "address1", "address2", "city", "zip", "state",
                          "country", "phone1", "phone2", "fax1", "fax2", "email1", "email2", "contact1", "contact2",
                          "memo", "salesRep1Code"})
      p.emplace_back(k, std::string(k) == "code" ? code : std::string(k) == "name" ? name : "");
    return call("InsertNewCustomerForManual", p);
  }
  State state;
};

TEST_F(CustomerOperationsTest, MatchesByCodeNameAddressOrPhoneIgnoringCaseAndBlanks) {
  EXPECT_EQ(exist("NOBODY", "Nobody", "", "")["Response"], "False");
  for (auto [code, name, address, phone] :
       {std::tuple{"c1001", "", "", ""}, std::tuple{"X", "HARBOR  outfitters", "", ""},
        std::tuple{"X", "", "100 main st", ""}, std::tuple{"X", "", "", "555 - 0100"}}) {
    SCOPED_TRACE(std::string(code) + name + address + phone);
    const json r = exist(code, name, address, phone);
    const json rows = json::parse(r["Response"].get<std::string>());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["Code"], "C1001");
    for (const char* key : {"Name", "Address1", "Phone1", "PriceLevel", "OrderDiscountRate"})
      EXPECT_TRUE(rows[0].contains(key)) << key;
  }
}

TEST_F(CustomerOperationsTest, CreatedCustomersAreKeptWithAStoreAndTheirCodeIsTaken) {
  EXPECT_EQ(call("CheckCustomerCode", {{"code", "NEW1"}})["Response"], "True");
  const json created = insert("NEW1", "New One");
  EXPECT_EQ(created["Response"], "True");
  EXPECT_EQ(created["Id"], "NEW1");
  EXPECT_EQ(created["Message"], "1");
  EXPECT_EQ(call("CheckCustomerCode", {{"code", "new1"}})["Response"], "False");
  const json again = insert("new1", "Another");
  EXPECT_EQ(again["Response"], "False");
  EXPECT_EQ(again["Error"], "Customer code new1 already exists.");
  EXPECT_EQ(state.catalogue.customers.back()["Stores"][0]["StoreId"], "NEW1");

  // A business card needs its front photo.
  auto card = [&](const std::string& code, const std::string& front) {
    return call("InsertNewCustomerForBusinessCard", {{"autoFlag", "FALSE"}, {"code", code}, {"user", "demo"},
                                                      {"imgFrontBase64String", front}, {"imgBackBase64String", ""},
                                                      {"createUserAndDevice", "demo_pod"}});
  };
  EXPECT_EQ(card("BC1", "")["Response"], "False");
  EXPECT_EQ(card("BC1", "/9j/")["Response"], "True");
  EXPECT_EQ(card("BC1", "/9j/")["Error"], "Customer code BC1 already exists.");
}

}  // namespace
}  // namespace backoffice
