#include "app/core/APDocument.h"

#include <gtest/gtest.h>

#include "app/core/SoapAnswer.h"

namespace orvo {
namespace {

std::string answerFor(const std::string& op, const std::string& result) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n"
         "  <soap:Body>\n    <" + op + "Response xmlns=\"http://tempuri.org/\"><" + op +
         "Result>" + result + "</" + op + "Result></" + op + "Response>\n  </soap:Body>\n"
         "</soap:Envelope>";
}

TEST(APDocumentTest, BuildsTheTreeWithTextCollectedPerOpenElement) {
  APDocument doc("<a x=\"1\">t1<b>in &amp; out</b>t2<b/><c>c</c></a>");
  const auto& root = doc.rootElement();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name(), "a");
  EXPECT_EQ(root->valueForAttributeNamed("x"), "1");
  EXPECT_EQ(root->value(), "t1t2");  // text between children belongs to the parent
  auto bs = root->childElements("b");
  ASSERT_EQ(bs.size(), 2u);
  EXPECT_EQ(bs[0]->value(), "in & out");
  EXPECT_FALSE(bs[1]->value().has_value());  // no text was ever added
  EXPECT_EQ(bs[0]->parent(), root.get());
  EXPECT_TRUE(root->childElements("B").empty());
  EXPECT_EQ(root->childCount(), 3u);
}

TEST(APDocumentTest, MalformedDocumentKeepsWhatWasBuilt) {
  APDocument doc("<a><b>text</b><c>more</a>");
  EXPECT_FALSE(doc.wellFormed());
  ASSERT_TRUE(doc.rootElement());
  EXPECT_EQ(doc.rootElement()->childCount(), 2u);
  EXPECT_EQ(doc.rootElement()->childElements("b")[0]->value(), "text");
  EXPECT_FALSE(APDocument("").rootElement());
}

TEST(APDocumentTest, WritesXmlWithEntities) {
  auto root = APElement::elementWithName("r", {{"q", "a\"b"}});
  auto child = APElement::elementWithName("c");
  child->appendValue("1 < 2 & 'x'");
  root->addChild(child);
  EXPECT_EQ(root->xml(), "<r q=\"a&quot;b\"><c>1 &lt; 2 &amp; &apos;x&apos;</c></r>");
  EXPECT_EQ(root->prettyXML(), "<r q=\"a&quot;b\">\n  <c>1 &lt; 2 &amp; &apos;x&apos;</c>\n</r>\n");
}

TEST(SoapAnswerTest, ResultIsReadOnlyFromTheExactPath) {
  struct Case {
    const char* name;
    std::string answer;
    std::optional<std::string> text;
    bool failed;
  };
  const std::vector<Case> cases = {
      {"result", answerFor("GetMethods", "{&quot;a&quot;:1}"), "{\"a\":1}", false},
      {"escaped markup in the result", answerFor("GetMethods", "[&lt;&amp;&gt;]"), "[<&>]", false},
      {"empty result element", answerFor("GetMethods", ""), std::nullopt, false},
      {"result element of another name",
       "<soap:Envelope><soap:Body><GetMethodsResponse><GetMethodResult>1</GetMethodResult>"
       "</GetMethodsResponse></soap:Body></soap:Envelope>",
       std::nullopt, true},
      {"response element of another operation", answerFor("GetDivision", "[]"), std::nullopt, true},
      {"SOAP fault",
       "<soap:Envelope><soap:Body><soap:Fault><faultstring>x</faultstring></soap:Fault>"
       "</soap:Body></soap:Envelope>",
       std::nullopt, true},
      {"other prefix for the envelope",
       "<s:Envelope><s:Body><GetMethodsResponse><GetMethodsResult>1</GetMethodsResult>"
       "</GetMethodsResponse></s:Body></s:Envelope>",
       std::nullopt, false},
      {"HTML error page", "<html><body>Server Error</body></html>", std::nullopt, false},
      {"not XML", "Internal Server Error", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SoapAnswerFailure failure;
    EXPECT_EQ(soapResultText(c.answer, "GetMethods", &failure), c.text);
    EXPECT_EQ(failure.failed, c.failed);
    if (c.failed) {
      EXPECT_FALSE(failure.reason.empty());
    }
  }
}

TEST(SoapAnswerTest, ResultSplitIntoManyChunksIsReadWhole) {
  std::string json = "[";
  for (int i = 0; i < 5000; ++i) json += (i ? "," : "") + std::string("{&quot;k&quot;:&quot;v&amp;") + std::to_string(i) + "&quot;}";
  json += "]";
  auto text = soapResultText(answerFor("GetStylesInfo", json), "GetStylesInfo");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->substr(0, 13), "[{\"k\":\"v&0\"},");
  EXPECT_EQ(text->back(), ']');
  EXPECT_NE(text->find("\"v&4999\""), std::string::npos);
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// Answers nested a million levels deep, closed (7 MB) or cut off (3 MB), inside the result
// path and outside it: read and freed without running out of stack.
TEST(SoapAnswerTest, DeeplyNestedAnswersAreReadAndFreed) {
  constexpr int kDepth = 1'000'000;
  std::string open, close;
  open.reserve(kDepth * 3);
  close.reserve(kDepth * 4);
  for (int i = 0; i < kDepth; ++i) open += "<a>";
  for (int i = 0; i < kDepth; ++i) close += "</a>";
  const std::string closed = answerFor("GetMethods", open + "x" + close);
  const std::string head = answerFor("GetMethods", "");
  const std::string unclosed = head.substr(0, head.find("GetMethodsResult>") + 17) + open;
  ASSERT_GT(closed.size(), 7'000'000u);

  SoapAnswerFailure failure;
  // The result element holds only elements: it has no text of its own.
  EXPECT_EQ(soapResultText(closed, "GetMethods", &failure), std::nullopt);
  EXPECT_FALSE(failure.failed);
  EXPECT_EQ(soapResultText(unclosed, "GetMethods", &failure), std::nullopt);

  for (const std::string* doc : {&closed, &unclosed}) {
    APDocument tree(*doc);
    ASSERT_TRUE(tree.rootElement());
    EXPECT_EQ(tree.rootElement()->name(), "soap:Envelope");
  }  // freed here
  APDocument bare(open + close);
  EXPECT_TRUE(bare.wellFormed());
  EXPECT_EQ(bare.rootElement()->childCount(), 1u);
  const std::string xml = bare.rootElement()->xml();
  EXPECT_EQ(xml.size(), open.size() + close.size() - 3);  // the innermost is written "<a/>"
}

// The path reading gives what the element model gives for the same text.
TEST(SoapAnswerTest, ResultReadingMatchesTheElementModel) {
  const std::string cases[] = {
      answerFor("GetMethods", "a<b>inner</b>c"),
      "<soap:Envelope><soap:Body><GetMethodsResponse><GetMethodsResult>first</GetMethodsResult>"
      "<GetMethodsResult>second</GetMethodsResult></GetMethodsResponse></soap:Body></soap:Envelope>",
      "<soap:Envelope><soap:Body><x><GetMethodsResponse/></x></soap:Body>"
      "<soap:Body><GetMethodsResponse><GetMethodsResult>2</GetMethodsResult></GetMethodsResponse></soap:Body>"
      "</soap:Envelope>",
      "<soap:Envelope><soap:Body><GetMethodsResponse><GetMethodsResult>cut off",
      "<soap:Envelope><soap:Body><GetMethodsResponse><GetMethodsResult>t</GetMethodsResult></GetMethodsResponse>"
      "</soap:Body></soap:Envelope><junk/>",
      answerFor("GetMethods", "  \n "),
      answerFor("GetMethods", "a<![CDATA[<b> & c]]>d&#13;&#x41;<!-- note -->e"),
      answerFor("GetMethods", "line\r\nend"),
      "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- lead --><soap:Envelope><soap:Body><GetMethodsResponse>"
      "<GetMethodsResult>bom</GetMethodsResult></GetMethodsResponse></soap:Body></soap:Envelope>",
  };
  for (const auto& answer : cases) {
    SCOPED_TRACE(answer);
    APDocument doc(answer);
    std::optional<std::string> expected;
    const APElement* at = doc.rootElement().get();
    for (const char* step : {"soap:Body", "GetMethodsResponse", "GetMethodsResult"})
      at = at ? at->firstChildElementNamed(step) : nullptr;
    if (at) expected = at->value();
    SoapAnswerFailure failure;
    EXPECT_EQ(soapResultText(answer, "GetMethods", &failure), expected);
    EXPECT_EQ(failure.failed, at == nullptr);
  }
}

}  // namespace
}  // namespace orvo
