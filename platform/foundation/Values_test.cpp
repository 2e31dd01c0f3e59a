#include "platform/foundation/Values.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Uuid.h"

using namespace foundation;
using nlohmann::json;

TEST(Values, TextConversionsFollowThePlatform) {
  struct Case {
    const char* text;
    int i;
    double d;
    bool b;
  } cases[] = {
      {"12", 12, 12, true},          {"  -7abc", -7, -7, true},   {"3.75", 3, 3.75, true},
      {"", 0, 0, false},             {"abc", 0, 0, false},        {"YES", 0, 0, true},
      {"no", 0, 0, false},           {"true", 0, 0, true},        {"0", 0, 0, false},
      {"007", 7, 7, true},           {"1e3", 1, 1000, true},      {"99999999999", 2147483647, 99999999999.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(intValue(std::string_view(c.text)), c.i);
    EXPECT_DOUBLE_EQ(doubleValue(std::string_view(c.text)), c.d);
    EXPECT_EQ(boolValue(std::string_view(c.text)), c.b);
  }
}

TEST(Values, TextFormOfRecordValues) {
  json record = {{"Qty", 3}, {"Price", 12.5}, {"Rate", 0.1}, {"Whole", 4.0}, {"Name", "Tee"}, {"On", true}};
  EXPECT_EQ(textForKey(record, "Qty"), "3");
  EXPECT_EQ(textForKey(record, "Price"), "12.5");
  EXPECT_EQ(textForKey(record, "Rate"), "0.1");
  EXPECT_EQ(textForKey(record, "Whole"), "4");
  EXPECT_EQ(textForKey(record, "Name"), "Tee");
  EXPECT_EQ(textForKey(record, "On"), "1");
  EXPECT_EQ(textForKey(record, "Missing"), "(null)");
  EXPECT_EQ(textForKey(json::array(), "Qty"), "(null)");
  EXPECT_EQ(intValue(record["Price"]), 12);
  EXPECT_EQ(intValue(json("42")), 42);
  EXPECT_DOUBLE_EQ(doubleValue(json("2.5")), 2.5);
  EXPECT_FALSE(boolValue(json()));
}

TEST(Json, MalformedTextGivesAnErrorNotAnException) {
  Error error;
  EXPECT_FALSE(parseJson("{\"Response\": ", &error));
  EXPECT_EQ(error.domain, kJsonErrorDomain);
  auto ordered = parseOrderedJson("{\"b\":1,\"a\":2}");
  ASSERT_TRUE(ordered);
  EXPECT_EQ(compactJson(*ordered), "{\"b\":1,\"a\":2}");
  EXPECT_EQ(prettyJson(json{{"a", 1}}), "{\n  \"a\": 1\n}");
}

TEST(Bytes, HexRoundTripAndRejectsMalformedText) {
  EXPECT_EQ(toHex(Bytes{0x00, 0xAB, 0x7F}), "00AB7F");
  EXPECT_EQ(toHex(Bytes{0x01, 0x02}, " "), "01 02");
  EXPECT_EQ(fromHex("00ab 7F"), (Bytes{0x00, 0xAB, 0x7F}));
  EXPECT_FALSE(fromHex("ABC"));
  EXPECT_FALSE(fromHex("GG"));
  EXPECT_FALSE(fromHex("A B"));
}

TEST(Uuid, VersionFourInUpperCase) {
  std::string u = uuidString();
  ASSERT_EQ(u.size(), 36u);
  EXPECT_EQ(u[14], '4');
  EXPECT_NE(u, uuidString());
  for (char c : u) EXPECT_TRUE(c == '-' || isdigit(c) || (c >= 'A' && c <= 'F'));
}

TEST(DateFormat, FormatsAndParsesPlatformPatterns) {
  // 2026-03-05 14:07:09.045 UTC, a Thursday.
  auto t = std::chrono::system_clock::from_time_t(1772719629) + std::chrono::milliseconds(45);
  struct Case {
    const char* pattern;
    const char* text;
  } cases[] = {
      {"MM/dd/yyyy", "03/05/2026"},
      {"yyyy-MM-dd'T'HH:mm:ss.SSS", "2026-03-05T14:07:09.045"},
      {"M/d/yy h:mm a", "3/5/26 2:07 PM"},
      {"EEE, dd MMM yyyy", "Thu, 05 Mar 2026"},
      {"MMMM d", "March 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(formatDate(t, c.pattern, true), c.text);
  }
  EXPECT_EQ(parseDate("2026-03-05T14:07:09.045", "yyyy-MM-dd'T'HH:mm:ss.SSS", true), t);
  EXPECT_EQ(parseIsoDate(isoDate(t)), t);
  EXPECT_EQ(parseIsoDate("2026-03-05T16:07:09+02:00"), t - std::chrono::milliseconds(45));
  EXPECT_FALSE(parseDate("02/30/2026", "MM/dd/yyyy", true));
  EXPECT_FALSE(parseDate("13/01/2026", "MM/dd/yyyy", true));
  EXPECT_FALSE(parseDate("03/05/2026 extra", "MM/dd/yyyy", true));
}

TEST(DateFormat, ADatePastWhatTheClockHoldsDoesNotRead) {
  // Servers write 12/31/9999 for "no date": it must not wrap round to some date in 1816.
  EXPECT_FALSE(parseDate("12/31/9999", "MM/dd/yyyy", true));
  EXPECT_FALSE(parseIsoDate("9999-12-31T23:59:59.999Z"));
  EXPECT_FALSE(parseDate("01/01/1000", "MM/dd/yyyy", true));
  // Dates well inside the range still read, from either side of 1970.
  for (const char* text : {"12/31/2199", "01/01/1800"}) {
    SCOPED_TRACE(text);
    const auto d = parseDate(text, "MM/dd/yyyy", true);
    ASSERT_TRUE(d);
    EXPECT_EQ(formatDate(*d, "MM/dd/yyyy", true), text);
  }
  // 84,005 days from 1970-01-01 to 2199-12-31; 62,091 days back to 1800-01-01.
  EXPECT_EQ(parseDate("12/31/2199", "MM/dd/yyyy", true)->time_since_epoch(), std::chrono::hours(24) * 84005);
  EXPECT_EQ(parseDate("01/01/1800", "MM/dd/yyyy", true)->time_since_epoch(), std::chrono::hours(-24) * 62091);
}
