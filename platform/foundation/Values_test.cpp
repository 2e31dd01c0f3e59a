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

TEST(DateFormat, EveryDateOfFourDigitYearsReadsAndFormatsBack) {
  // Days from 1970-01-01 (proleptic Gregorian calendar), counted independently. 12/31/9999 is
  // a server's "no date"; 2262-04-11 and 1677-09-22 are the last and first whole days a
  // nanosecond clock holds, the day after and before them the first it does not.
  struct Case {
    const char* text;
    long days;
  };
  const Case cases[] = {
      {"12/31/9999", 2932896}, {"01/01/0001", -719162}, {"04/11/2262", 106751}, {"04/12/2262", 106752},
      {"09/22/1677", -106751}, {"09/21/1677", -106752}, {"02/29/2000", 11016},  {"02/29/0004", -718008},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto d = parseDate(c.text, "MM/dd/yyyy", true);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->time_since_epoch(), std::chrono::hours(24) * c.days);
    EXPECT_EQ(formatDate(*d, "MM/dd/yyyy", true), c.text);
    EXPECT_EQ(parseIsoDate(isoDate(*d)), d);
    // In local time too (the zone moves the moment by hours, never the day shown).
    const auto local = parseDate(c.text, "MM/dd/yyyy");
    ASSERT_TRUE(local);
    EXPECT_EQ(formatDate(*local, "MM/dd/yyyy"), c.text);
  }
  EXPECT_EQ(isoDate(*parseDate("12/31/9999", "MM/dd/yyyy", true) + std::chrono::hours(24) - std::chrono::milliseconds(1)),
            "9999-12-31T23:59:59.999Z");
  EXPECT_EQ(formatDate(*parseIsoDate("9999-12-31T23:59:59.999Z"), "EEEE", true), "Friday");
  EXPECT_EQ(formatDate(*parseIsoDate("0001-01-01T00:00:00Z"), "EEEE", true), "Monday");
  // February 29 only in leap years: every fourth, not a century's unless it divides by 400.
  for (const char* text : {"02/29/1900", "02/29/2100", "02/29/2023", "02/30/2000", "02/29/9999"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseDate(text, "MM/dd/yyyy", true));
  }
  // The clock's nanosecond time takes only what it holds.
  EXPECT_FALSE(toWallTime(parseDate("12/31/9999", "MM/dd/yyyy", true)));
  EXPECT_FALSE(toWallTime(parseDate("04/12/2262", "MM/dd/yyyy", true)));
  EXPECT_FALSE(toWallTime(parseDate("09/21/1677", "MM/dd/yyyy", true)));
  EXPECT_EQ(toWallTime(parseDate("04/11/2262", "MM/dd/yyyy", true))->time_since_epoch(), std::chrono::hours(24) * 106751);
  EXPECT_EQ(toWallTime(parseDate("09/22/1677", "MM/dd/yyyy", true))->time_since_epoch(), std::chrono::hours(-24) * 106751);
  // An offset that carries a moment out of the years 0000 to 9999 leaves it unread; one that
  // keeps it inside reads.
  EXPECT_FALSE(parseIsoDate("9999-12-31T23:00:00-05:00"));
  EXPECT_FALSE(parseIsoDate("0000-01-01T01:00:00+02:00"));
  EXPECT_EQ(parseIsoDate("9999-12-31T23:00:00+05:00"), parseIsoDate("9999-12-31T18:00:00Z"));
  EXPECT_EQ(parseIsoDate("0001-01-01T01:00:00+02:00"), parseIsoDate("0000-12-31T23:00:00Z"));
}
