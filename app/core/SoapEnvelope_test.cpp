#include "app/core/SoapEnvelope.h"

#include <gtest/gtest.h>

namespace orvo {
namespace {

TEST(SoapEnvelopeTest, HasTheServiceShapeWithParametersInOrder) {
  const std::string env = soapEnvelope(
      "GetDivisionLogo", {{"code", "01"}, SoapParam::integer("n", -3), SoapParam::rate("r", 2.5)});
  EXPECT_EQ(env,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<soap:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n"
            "<soap:Body>\n"
            "<GetDivisionLogo xmlns=\"http://tempuri.org/\">\n"
            "<code>01</code><n>-3</n><r>2.500000</r>\n"
            "</GetDivisionLogo>\n"
            "</soap:Body>\n"
            "</soap:Envelope>\n");
}

TEST(SoapEnvelopeTest, EmptyOperationElementAndLineFeedsPerChild) {
  EXPECT_NE(soapEnvelope("GetMethods", {}).find(
                "<GetMethods xmlns=\"http://tempuri.org/\">\n</GetMethods>\n"),
            std::string::npos);
  EXPECT_NE(soapEnvelope("X", {{"a", "1"}, {"b", "2"}}, true)
                .find("<X xmlns=\"http://tempuri.org/\">\n<a>1</a>\n<b>2</b>\n</X>\n"),
            std::string::npos);
}

TEST(SoapEnvelopeTest, ValuesAreEscapedOnce) {
  struct Case { std::string value, inEnvelope; };
  const std::vector<Case> cases = {
      {"plain text 123", "plain text 123"},
      {"a&b", "a&amp;b"},
      {"<b>x</b>", "&lt;b&gt;x&lt;/b&gt;"},
      {"&amp;", "&amp;amp;"},
      {R"({"k":"it's"})", R"({"k":"it's"})"},
      {"ünï", "ünï"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_NE(soapEnvelope("Op", {{"p", c.value}}).find("<p>" + c.inEnvelope + "</p>"),
              std::string::npos);
  }
  EXPECT_EQ(soapAction("GetMethods"), "http://tempuri.org/GetMethods");
}

}  // namespace
}  // namespace orvo
