#include "platform/foundation/XmlReader.h"

#include <gtest/gtest.h>

using namespace foundation;

TEST(XmlReader, ReportsElementsTextAndDecodedEntitiesInOrder) {
  XmlReader r;
  std::string trace, text;
  r.onStartElement = [&](const std::string& n, const XmlReader::Attributes& a) {
    trace += "<" + n + (a.empty() ? "" : " " + a[0].first + "=" + a[0].second) + ">";
  };
  r.onCharacters = [&](std::string_view t) { text += t; };
  r.onEndElement = [&](const std::string& n) { trace += "</" + n + ">"; };
  ASSERT_TRUE(r.parse(
      "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"x\"><R>{&quot;a&quot;:&lt;1&gt;}&amp;</R>"
      "</soap:Envelope>"));
  EXPECT_EQ(trace, "<soap:Envelope xmlns:soap=x><R></R></soap:Envelope>");
  EXPECT_EQ(text, "{\"a\":<1>}&");
}

TEST(XmlReader, MalformedDocumentReportsLineAndColumn) {
  XmlReader r;
  Error error;
  EXPECT_FALSE(r.parse("<a>\n  <b>\n</a>", &error));
  EXPECT_EQ(r.errorLine(), 3);
  EXPECT_EQ(r.errorColumn(), 3);
  EXPECT_EQ(error.domain, kXmlErrorDomain);
  EXPECT_NE(error.text.find("line 3"), std::string::npos);
  EXPECT_FALSE(r.parse("", &error));
  EXPECT_FALSE(r.parse("<html><body>Server Error", &error));
}

TEST(XmlReader, EscapedTextReadsBackUnchanged) {
  const std::string text = "Tom & Jerry's <\"shop\">";
  EXPECT_EQ(xmlEscape(text), "Tom &amp; Jerry's &lt;\"shop\"&gt;");
  EXPECT_EQ(xmlEscape(text, true), "Tom &amp; Jerry&apos;s &lt;&quot;shop&quot;&gt;");
  XmlReader r;
  std::string back;
  r.onCharacters = [&](std::string_view t) { back += t; };
  ASSERT_TRUE(r.parse("<a>" + xmlEscape(text) + "</a>"));
  EXPECT_EQ(back, text);
}

TEST(XmlReader, TextXmlCannotCarryIsLeftOutOrReplacedAndTheRestReadsBack) {
  struct Case {
    const char* name;
    std::string text;
    std::string readBack;
  };
  const Case cases[] = {
      {"carriage return", "a\r\nb\rc", "a\r\nb\rc"},
      {"tab and line feed", "a\tb\nc", "a\tb\nc"},
      {"control characters", std::string("a\x01") + '\0' + "b\x1f\x0b\x0c" "c", "abc"},
      {"delete is allowed", "a\x7f" "b", "a\x7f" "b"},
      {"multi-byte text", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"Latin-1 byte", "caf\xE9", "caf\xEF\xBF\xBD"},
      {"truncated sequence", "ab\xE2\x82", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"U+FFFF", "x\xEF\xBF\xBFy", "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDy"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool quotes : {false, true}) {
      XmlReader r;
      std::string text, attr;
      r.onStartElement = [&](const std::string&, const XmlReader::Attributes& a) {
        if (!a.empty()) attr = a[0].second;
      };
      r.onCharacters = [&](std::string_view t) { text += t; };
      Error error;
      ASSERT_TRUE(r.parse("<a v=\"" + xmlEscape(c.text, true) + "\">" + xmlEscape(c.text, quotes) + "</a>", &error))
          << error.text;
      EXPECT_EQ(text, c.readBack);
      EXPECT_EQ(attr, c.readBack);
    }
  }
}
