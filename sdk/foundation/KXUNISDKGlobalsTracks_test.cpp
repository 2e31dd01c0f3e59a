#include <gtest/gtest.h>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

using foundation::Bytes;
using Dict = KXFinancialCardDictionary;

// Track samples laid out as ISO/IEC 7813 gives them: track 1 format B
// (%B PAN ^ NAME ^ YYMM service-code discretionary ?) and track 2 (; PAN = YYMM service ?).
constexpr const char* kTrack1 = "%B4111111111111111^DOE/JOHN                  ^2512101000000000000000000000?";
constexpr const char* kTrack2 = ";4111111111111111=2512101123456789?";

TEST(FinancialCardTest, ValidTracksGiveTheirFields) {
  auto both = KXUNISDKGlobals::msProcessFinancialCard(kTrack1, kTrack2);
  ASSERT_TRUE(both);
  EXPECT_EQ(*both, (Dict{{"track1", kTrack1},
                         {"track2", kTrack2},
                         {"accountNumber", "4111111111111111"},
                         {"cardholderName", "DOE/JOHN"},
                         {"lastName", "Doe"},
                         {"firstName", "John"},
                         {"expirationYear", "2025"},
                         {"expirationMonth", "12"},
                         {"serviceCode", "101"},
                         {"discretionaryData", "123456789"}}));

  auto t1 = KXUNISDKGlobals::msProcessFinancialCard(
      "%B5500 0000 0000 0004^VAN DER BERG/ANNA MARIE^2703201ABC?", std::nullopt);
  ASSERT_TRUE(t1);
  EXPECT_EQ((*t1)["accountNumber"], "5500000000000004");
  EXPECT_EQ((*t1)["lastName"], "Van Der Berg");
  EXPECT_EQ((*t1)["firstName"], "Anna Marie");
  EXPECT_EQ((*t1)["expirationMonth"], "3");
  EXPECT_EQ((*t1)["serviceCode"], "201");
  EXPECT_EQ((*t1)["discretionaryData"], "ABC");
  EXPECT_EQ(t1->count("track2"), 0u);
}

TEST(FinancialCardTest, TrackTwoAloneAndTheCenturyOfTheYear) {
  struct Case {
    const char* track2;
    const char* year;
    const char* month;
    const char* discretionary;
  };
  const Case cases[] = {
      {";6011000990139424=7901101999?", "2079", "1", "999"},
      {";6011000990139424=8001101999?", "1980", "1", "999"},
      {";6011000990139424=0012101?", "2000", "12", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.track2);
    auto d = KXUNISDKGlobals::msProcessFinancialCard(std::nullopt, c.track2);
    ASSERT_TRUE(d);
    EXPECT_EQ((*d)["accountNumber"], "6011000990139424");
    EXPECT_EQ((*d)["expirationYear"], c.year);
    EXPECT_EQ((*d)["expirationMonth"], c.month);
    EXPECT_EQ((*d)["serviceCode"], "101");
    EXPECT_EQ((*d)["discretionaryData"], c.discretionary);
  }
}

TEST(FinancialCardTest, MalformedTracksGiveNothing) {
  struct Case {
    const char* name;
    std::optional<std::string_view> track1;
    std::optional<std::string_view> track2;
  };
  const Case cases[] = {
      {"track 1 format A, good track 2", "%A4111111111111111^DOE/JOHN^2512101?", kTrack2},
      {"track 1 without sentinel", "B4111111111111111^DOE/JOHN^2512101?", std::nullopt},
      {"track 1 with one separator", "%B4111111111111111^DOE/JOHN 2512101?", std::nullopt},
      {"track 1 without separator", "%B4111111111111111?", std::nullopt},
      {"track 1 ends at its separator", "%B4111111111111111^DOE/JOHN^", std::nullopt},
      {"track 2 without sentinel", std::nullopt, "4111111111111111=2512101?"},
      {"track 2 without separator", std::nullopt, ";4111111111111111?"},
      {"track 2 ends right after =", std::nullopt, ";4111111111111111="},
      {"expiry cut short", std::nullopt, ";4111111111111111=251"},
      {"service code cut short", std::nullopt, ";4111111111111111=251210"},
      {"end sentinel inside the service code", std::nullopt, ";4111=251210?99"},
      {"good track 1, bad track 2", kTrack1, ";4111111111111111?"},
      {"neither track", std::nullopt, std::nullopt},
      {"both empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(KXUNISDKGlobals::msProcessFinancialCard(c.track1, c.track2));
  }
}

TEST(FinancialCardTest, NameWithoutSlashHasNoFirstOrLastName) {
  auto d = KXUNISDKGlobals::msProcessFinancialCard("%B4111111111111111^  CARDHOLDER  ^2512101?",
                                                   std::nullopt);
  ASSERT_TRUE(d);
  EXPECT_EQ((*d)["cardholderName"], "CARDHOLDER");
  EXPECT_EQ(d->count("firstName"), 0u);
  EXPECT_EQ(d->count("lastName"), 0u);
}

Bytes raw(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(uint8_t(x));
  return b;
}

TEST(ExtractTracksTest, MarkersSplitTracksAndReverseSwapsOneAndThree) {
  const Bytes buf = raw({0xF1, 'A', 'B', 'C', 0xF2, '1', '2', '3'});
  auto plain = KXUNISDKGlobals::msExtractTracks(buf.data(), int(buf.size()), false);
  EXPECT_EQ(plain.texts, (std::map<std::string, std::string>{{"track1", "ABC"}, {"track2", "123"}}));
  auto reversed = KXUNISDKGlobals::msExtractTracks(buf.data(), int(buf.size()), true);
  EXPECT_EQ(reversed.texts, (std::map<std::string, std::string>{{"track3", "ABC"}, {"track2", "123"}}));

  const Bytes three = raw({0xF1, 'A', 0xF2, 'B', 0xF3, 'C', 0x00, 0xF3, 'X'});
  auto t = KXUNISDKGlobals::msExtractTracks(three.data(), int(three.size()), false);
  EXPECT_EQ(t.texts, (std::map<std::string, std::string>{{"track1", "A"}, {"track2", "B"}, {"track3", "C"}}));
  // A marker directly followed by the next one gives an empty track.
  const Bytes empty1 = raw({0xF1, 0xF2, '9'});
  auto e = KXUNISDKGlobals::msExtractTracks(empty1.data(), int(empty1.size()), false);
  EXPECT_EQ(e.texts, (std::map<std::string, std::string>{{"track1", ""}, {"track2", "9"}}));
}

TEST(ExtractTracksTest, SpecialMarkersAtTheStart) {
  const Bytes ctdot = raw({0x00, 0xF6, 0x01, 0x00, 0x02, 0x00, 0x00});
  auto c = KXUNISDKGlobals::msExtractTracks(ctdot.data(), int(ctdot.size()), false);
  EXPECT_EQ(c.bytes["trackCTDOT"], raw({0xF6, 0x01, 0x00, 0x02}));

  const Bytes f2f = raw({0xF8, 'F', '2', 0x00, 'x'});
  EXPECT_EQ(KXUNISDKGlobals::msExtractTracks(f2f.data(), 5, false).texts["trackF2F"], "F2");
  const Bytes jis = raw({0x7E, 0xF5, 'J', 'I', 'S'});
  EXPECT_EQ(KXUNISDKGlobals::msExtractTracks(jis.data(), 5, false).texts["trackJIS"], "JIS");
  const Bytes pass = raw({0xF7, 0x10, 0x20});
  EXPECT_EQ(KXUNISDKGlobals::msExtractTracks(pass.data(), 3, false).bytes["trackPassBook"], pass);
  const Bytes f2fEmpty = raw({0xF8, 0x00});
  EXPECT_TRUE(KXUNISDKGlobals::msExtractTracks(f2fEmpty.data(), 2, false).empty());
}

TEST(ExtractTracksTest, LengthPrefixedLayoutIsTheFallback) {
  // Lengths 3, 4 and 5: track 3 starts at byte 13. A last character other than "?" is dropped.
  Bytes idtech = raw({0x00, 0x01, 0x00, 3, 4, 5});
  for (char ch : std::string("AB?1234XYZ?Q")) idtech.push_back(uint8_t(ch));
  auto t = KXUNISDKGlobals::msExtractTracks(idtech.data(), int(idtech.size()), false);
  EXPECT_EQ(t.texts, (std::map<std::string, std::string>{
                         {"track1", "AB?"}, {"track2", "123"}, {"track3", "XYZ?"}}));
  EXPECT_EQ(KXUNISDKGlobals::msExtractIDTECH(idtech.data(), int(idtech.size())).texts, t.texts);

  // Byte 1 must be 1 or 3.
  idtech[1] = 2;
  EXPECT_TRUE(KXUNISDKGlobals::msExtractTracks(idtech.data(), int(idtech.size()), false).empty());
}

TEST(ExtractTracksTest, ShortOrLyingBuffersReadNothingOutside) {
  // The lengths announce more than the buffer holds: nothing is read.
  const Bytes lying = raw({0x00, 0x03, 0x00, 200, 200, 200, 'A'});
  EXPECT_TRUE(KXUNISDKGlobals::msExtractIDTECH(lying.data(), int(lying.size())).empty());
  EXPECT_TRUE(KXUNISDKGlobals::msExtractTracks(lying.data(), int(lying.size()), false).empty());
  const Bytes one = raw({0xF6});
  EXPECT_EQ(KXUNISDKGlobals::msExtractTracks(one.data(), 1, false).bytes["trackCTDOT"], one);
  EXPECT_TRUE(KXUNISDKGlobals::msExtractTracks(one.data(), 0, false).empty());
  EXPECT_TRUE(KXUNISDKGlobals::msExtractTracks(nullptr, 10, false).empty());
  const Bytes five = raw({0x00, 0x01, 0x00, 0x00, 0x00});
  EXPECT_TRUE(KXUNISDKGlobals::msExtractIDTECH(five.data(), 5).empty());
}

}  // namespace
}  // namespace kestra
