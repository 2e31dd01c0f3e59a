#include "testing/backoffice/BackOfficeServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "platform/foundation/XmlReader.h"
#include "testing/backoffice/SoapCodec.h"

namespace backoffice {
namespace {

using nlohmann::json;

std::string envelope(const std::string& op,
                     const std::vector<std::pair<std::string, std::string>>& params) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<soap:Envelope "
      "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n<soap:Body>\n<" + op +
      " xmlns=\"http://tempuri.org/\">\n";
  for (auto& [k, v] : params) s += "<" + k + ">" + escapeText(v) + "</" + k + ">";
  s += "\n</" + op + ">\n</soap:Body>\n</soap:Envelope>\n";
  return s;
}

// `text` with every `from` replaced by `to` (and every `from2` by `to2`).
std::string replaced(std::string text, const std::string& from, const std::string& to,
                     const std::string& from2 = {}, const std::string& to2 = {}) {
  for (auto [f, t] : {std::pair{from, to}, std::pair{from2, to2}}) {
    if (f.empty()) continue;
    for (size_t at = text.find(f); at != std::string::npos; at = text.find(f, at + t.size()))
      text.replace(at, f.size(), t);
  }
  return text;
}

// The text of the first element named `name` in `xml`.
std::string elementText(const std::string& xml, const std::string& name) {
  std::string out;
  int inside = 0;
  foundation::XmlReader r;
  r.onStartElement = [&](const std::string& n, const auto&) { if (n == name || inside) ++inside; };
  r.onCharacters = [&](std::string_view t) { if (inside) out.append(t); };
  r.onEndElement = [&](const std::string&) { if (inside) --inside; };
  r.parse(xml);
  return out;
}

class BackOfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.loadError().empty()) << server.loadError();
    ASSERT_TRUE(server.start());
  }
  httplib::Result post(const std::string& op, const std::string& body,
                       const std::string& path = kMobilePath) {
    httplib::Client c("127.0.0.1", server.port());
    httplib::Headers h{{"SOAPAction", std::string(kNamespace) + op}};
    return c.Post(path.c_str(), h, body, "text/xml; charset=utf-8");
  }
  json answer(const std::string& op, const std::vector<std::pair<std::string, std::string>>& p = {}) {
    auto res = post(op, envelope(op, p));
    EXPECT_TRUE(res);
    if (!res) return nullptr;
    EXPECT_EQ(res->status, 200) << res->body;
    return json::parse(elementText(res->body, op + "Result"), nullptr, false);
  }
  BackOfficeServer server;
};

TEST_F(BackOfficeTest, CatalogueHoldsTheSampleData) {
  server.withState([](State& s) {
    EXPECT_EQ(s.catalogue.styles.size(), 12u);
    for (const auto& st : s.catalogue.styles) {
      EXPECT_FALSE(st["Colors"].empty());
      EXPECT_FALSE(st["SizeList"].empty());
      EXPECT_FALSE(st["Prepacks"].empty());
      EXPECT_FALSE(st["Images"].empty());
    }
    EXPECT_FALSE(s.catalogue.customers[0]["Stores"].empty());
    EXPECT_FALSE(s.catalogue.orderTypes.empty());
    EXPECT_TRUE(s.catalogue.lists.contains("Terms"));
  });
}

TEST_F(BackOfficeTest, AuthenticateUserChecksThePasswordAndAnswersOptions) {
  auto params = [](std::string user, std::string pw) {
    return std::vector<std::pair<std::string, std::string>>{
        {"userName", user}, {"password", pw}, {"uuid", "U"}, {"device_version", "x86_64 (iOS 1)"},
        {"device_name", "pod"}, {"orvomobile_version", "1.0"}, {"division", "01"}, {"clientIp", ""}};
  };
  json ok = answer("AuthenticateUser", params("demo", "demo"));
  EXPECT_EQ(ok["Response"], "True");
  EXPECT_EQ(ok["Id"], "2");
  json options = json::parse(ok["JsonOptions"].get<std::string>());
  EXPECT_EQ(options["CameraScannerMode"], true);

  // A password with XML special characters arrives decoded.
  EXPECT_EQ(answer("AuthenticateUser", params("picker", "p&<ck>"))["Response"], "True");
  json bad = answer("AuthenticateUser", params("demo", "wrong"));
  EXPECT_EQ(bad["Response"], "False");
  EXPECT_FALSE(bad["Message"].get<std::string>().empty());
  ASSERT_EQ(server.received("AuthenticateUser").size(), 3u);
  EXPECT_EQ(server.received("AuthenticateUser")[1].param("password"), "p&<ck>");
}

TEST_F(BackOfficeTest, SettingsOperationsAnswerTheirKeys) {
  json methods = answer("GetMethods");
  for (const char* key : {"Terms", "ShipVia", "PaymentCode", "State", "Country", "SalesRep",
                          "CustomerPriority"}) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(methods[key].is_string());
    EXPECT_TRUE(json::parse(methods[key].get<std::string>()).is_array());
  }
  json divisions = answer("GetDivision");
  ASSERT_TRUE(divisions.is_array());
  EXPECT_EQ(divisions[0]["Code"], "01");
  EXPECT_EQ(answer("GetDivisionLogo", {{"code", "02"}})["Id"], "logo-02");
  EXPECT_EQ(answer("GetDivisionLogo", {{"code", "99"}})["Response"], "False");
  json warehouses = answer("GetWarehouse");
  ASSERT_EQ(warehouses.size(), 3u);
  EXPECT_EQ(warehouses[0]["Response"], "True");
  EXPECT_EQ(answer("InsertLogo")["Response"], "True");
  answer("SetServerLog", {{"logMsg", "hello"}});
  EXPECT_EQ(server.serverLog(), std::vector<std::string>{"hello"});
}

TEST_F(BackOfficeTest, RequestsThatDoNotMatchTheTableGetASoapFault) {
  struct Case {
    const char* name;
    std::string action;
    std::string body;
    std::string path;
  };
  const std::string auth = "AuthenticateUser";
  std::vector<Case> cases = {
      {"unknown action", "GetNothing", envelope("GetNothing", {}), kMobilePath},
      {"body differs from action", "GetMethods", envelope("GetWarehouse", {}), kMobilePath},
      {"parameters out of order", "GetDivisionLogo", envelope("GetDivisionLogo", {{"cod", "01"}}), kMobilePath},
      {"not XML", "GetMethods", "hello", kMobilePath},
      {"mobile operation on the scan-pack service", "GetMethods", envelope("GetMethods", {}), kScanPackPath},
      {"operation element in another namespace", "GetMethods",
       replaced(envelope("GetMethods", {}), "http://tempuri.org/", "http://example.com/ws/"), kMobilePath},
      {"operation element without a namespace", "GetMethods",
       replaced(envelope("GetMethods", {}), " xmlns=\"http://tempuri.org/\"", ""), kMobilePath},
      {"SOAP 1.2 envelope", "GetMethods",
       replaced(envelope("GetMethods", {}), "http://schemas.xmlsoap.org/soap/envelope/",
                "http://www.w3.org/2003/05/soap-envelope"),
       kMobilePath},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto res = post(c.action, c.body, c.path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    EXPECT_NE(res->body.find("soap:Fault"), std::string::npos);
  }
  EXPECT_EQ(server.requests().size(), cases.size());
  EXPECT_TRUE(server.received("GetMethods").empty());

  // Any prefix of the SOAP 1.1 namespace will do.
  auto other = post("GetMethods", replaced(envelope("GetMethods", {}), "soap:", "s:", "xmlns:soap=", "xmlns:s="));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 200) << other->body;
}

TEST_F(BackOfficeTest, FaultsChangeTheAnswerOfOneOperation) {
  server.setFault("GetMethods", Fault::serverError());
  auto res = post("GetMethods", envelope("GetMethods", {}));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_NE(res->body.find("<html>"), std::string::npos);
  EXPECT_EQ(res->get_header_value("Content-Type").rfind("text/html", 0), 0u);
  // Other operations are unaffected.
  EXPECT_EQ(answer("GetWarehouse").size(), 3u);

  server.setFault("GetMethods", Fault::badXml());
  res = post("GetMethods", envelope("GetMethods", {}));
  ASSERT_TRUE(res);
  EXPECT_FALSE(foundation::XmlReader().parse(res->body));

  server.setFault("GetMethods", Fault::badJson());
  res = post("GetMethods", envelope("GetMethods", {}));
  EXPECT_TRUE(json::parse(elementText(res->body, "GetMethodsResult"), nullptr, false).is_discarded());

  server.setFault("GetWarehouse", Fault::responseValue("False"));
  for (const auto& row : answer("GetWarehouse")) EXPECT_EQ(row["Response"], "False");
}

TEST_F(BackOfficeTest, HeldAnswerWaitsForRelease) {
  server.setFault("GetDivision", Fault::held());
  int status = 0;
  std::thread t([&] {
    auto res = post("GetDivision", envelope("GetDivision", {}));
    status = res ? res->status : -1;
  });
  for (int i = 0; i < 2000 && server.heldCount() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(server.heldCount(), 1);
  server.releaseHeld();
  t.join();
  EXPECT_EQ(status, 200);
}

TEST_F(BackOfficeTest, EveryRequestIsRecordedAndLoggedWithoutValues) {
  std::vector<std::string> lines;
  std::mutex m;
  server.setLogSink([&](const std::string& l) { std::lock_guard g(m); lines.push_back(l); });
  answer("GetDivisionLogo", {{"code", "secret-code"}});
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].soapAction, "http://tempuri.org/GetDivisionLogo");
  EXPECT_EQ(reqs[0].contentType, "text/xml; charset=utf-8");
  EXPECT_EQ(reqs[0].params.at(0).second, "secret-code");
  std::lock_guard g(m);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("GetDivisionLogo"), std::string::npos);
  EXPECT_EQ(lines[0].find("secret-code"), std::string::npos);
}

TEST_F(BackOfficeTest, ServesThePictureAndPdfFoldersByPlainNamesOnly) {
  httplib::Client c("127.0.0.1", server.port());
  struct Case { const char* path; int status; const char* type; const char* magic; };
  for (const auto& k : std::vector<Case>{
           {"/styleimages/TS100_BLK_front.jpg", 200, "image/jpeg", "\xFF\xD8"},
           {"/styleimages/resizeImages/TS100_BLK_back.jpg", 200, "image/jpeg", "\xFF\xD8"},
           {"/styleimages/pdf/SO1001.pdf", 200, "application/pdf", "%PDF"},
           {"/styleimages/pdf/LINESHEET-DETAIL9.pdf", 200, "application/pdf", "%PDF"},
           {"/styleimages/SOimgZip/SO1001.zip", 200, "application/zip", "PK"},
           {"/styleimages/resizeImages/SO1001/photo1.jpg", 200, "image/jpeg", "\xFF\xD8"},
           {"/styleimages/TS100_WHT_front.jpg", 404, nullptr, nullptr},
           {"/styleimages/pdf/SO9999.pdf", 404, nullptr, nullptr},
           {"/styleimages/pdf", 404, nullptr, nullptr},
           {"/styleimages/..%2Fstyles.json", 404, nullptr, nullptr},
           {"/styleimages/pdf/../../styles.json", 404, nullptr, nullptr},
           {"/styleimages/pdf//SO1001.pdf", 404, nullptr, nullptr},
           {"/styleimages/.hidden", 404, nullptr, nullptr}}) {
    SCOPED_TRACE(k.path);
    auto res = c.Get(k.path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, k.status);
    if (k.status == 200) {
      EXPECT_EQ(res->get_header_value("Content-Type"), k.type);
      EXPECT_EQ(res->body.rfind(k.magic, 0), 0u);
    }
  }
}

TEST(SoapCodecTest, AnswerEnvelopeEscapesTheResultText) {
  const std::string text = R"({"Message":"a<b & c>d"})";
  std::string env = answerEnvelope("GetMethods", text);
  EXPECT_NE(env.find("a&lt;b &amp; c&gt;d"), std::string::npos);
  EXPECT_EQ(elementText(env, "GetMethodsResult"), text);
}

}  // namespace
}  // namespace backoffice
