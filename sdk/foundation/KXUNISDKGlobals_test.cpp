#include "sdk/foundation/KXUNISDKGlobals.h"

#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "sdk/foundation/KXErrors.h"

namespace kestra {
namespace {

using foundation::Bytes;

const uint8_t* digits() { return reinterpret_cast<const uint8_t*>("123456789"); }

TEST(KXUNISDKGlobalsTest, CrcMatchesTheCatalogueCheckValues) {
  // CRC-16/IBM-3740 (start 0xFFFF) and CRC-16/XMODEM (start 0) over "123456789".
  EXPECT_EQ(KXUNISDKGlobals::crc16ccit(digits(), 9, 0xFFFF), 0x29B1);
  EXPECT_EQ(KXUNISDKGlobals::crc16ccit(digits(), 9, 0x0000), 0x31C3);
  EXPECT_EQ(KXUNISDKGlobals::crc16ccit(digits(), 0, 0xFFFF), 0);
  // Feeding in two parts continues from the first part's value.
  const uint16_t part = KXUNISDKGlobals::crc16ccit(digits(), 4, 0xFFFF);
  EXPECT_EQ(KXUNISDKGlobals::crc16ccit(digits() + 4, 5, part), 0x29B1);
}

TEST(KXUNISDKGlobalsTest, HexTextWithAndWithoutCharacters) {
  const uint8_t b[] = {0x41, 0x0D};
  EXPECT_EQ(KXUNISDKGlobals::toHexString(b, 2, true), "(A)41(.)0D");
  EXPECT_EQ(KXUNISDKGlobals::toHexString(b, 2, false), "410D");
  EXPECT_EQ(KXUNISDKGlobals::toHexString(b, 0, true), "");

  const Bytes exact(12800, 0xAB);
  const std::string e = KXUNISDKGlobals::toHexString(exact.data(), exact.size(), false);
  EXPECT_EQ(e.size(), 25600u);
  EXPECT_NE(e.substr(e.size() - 3), "...");
  const Bytes over(12801, 0xAB);
  const std::string o = KXUNISDKGlobals::toHexString(over.data(), over.size(), false);
  EXPECT_EQ(o.size(), 25603u);
  EXPECT_EQ(o.substr(25600), "...");
}

TEST(KXUNISDKGlobalsTest, HexTextToBytes) {
  struct Case { const char* text; Bytes bytes; };
  const Case cases[] = {
      {"0A 1b", {0x0A, 0x1B}}, {"0A1 B2", {0x0A, 0xB2}}, {"abc", {0xAB}},
      {"", {}},                {"0x7F:80", {0x7F, 0x80}}, {"zz", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(KXUNISDKGlobals::stringToData(c.text), c.bytes) << c.text;
}

TEST(KXUNISDKGlobalsTest, ModelNamesAndFeatureCodes) {
  EXPECT_FALSE(KXUNISDKGlobals::isPinpad(std::nullopt));
  EXPECT_TRUE(KXUNISDKGlobals::isPinpad("PP750"));
  EXPECT_FALSE(KXUNISDKGlobals::isPinpad("XPP750"));
  EXPECT_FALSE(KXUNISDKGlobals::isPinpad("P"));

  EXPECT_FALSE(KXUNISDKGlobals::isPrinter(std::nullopt));
  ASSERT_EQ(KXUNISDKGlobals::printerModelSuffixes().size(), 24u);
  const std::string model = "Store " + std::string(KXUNISDKGlobals::printerModelSuffixes()[3]);
  EXPECT_TRUE(KXUNISDKGlobals::isPrinter(model));
  EXPECT_FALSE(KXUNISDKGlobals::isPrinter(model + " "));
  EXPECT_FALSE(KXUNISDKGlobals::isPrinter("kxp-80"));  // case matters

  EXPECT_FALSE(KXUNISDKGlobals::featCheck("BC", "ABCD"));
  EXPECT_TRUE(KXUNISDKGlobals::featCheck("BC", "ABBC"));
  EXPECT_FALSE(KXUNISDKGlobals::featCheck("BC", ""));
  // An odd last character pairs with the terminating NUL.
  EXPECT_TRUE(KXUNISDKGlobals::featCheck(std::string_view("C\0", 2), "ABC"));
  EXPECT_FALSE(KXUNISDKGlobals::featCheck("CD", "ABC"));
  // A list longer than ten codes is read to its end.
  EXPECT_TRUE(KXUNISDKGlobals::featCheck("ZZ", "AABBCCDDEEFFGGHHIIJJKKZZ"));
}

TEST(KXUNISDKGlobalsTest, ContainsData) {
  const Bytes hay = {1, 2, 3, 4};
  EXPECT_TRUE(containsData(hay, {2, 3}));
  EXPECT_TRUE(containsData(hay, {4}));
  EXPECT_FALSE(containsData(hay, {4, 5}));
  EXPECT_FALSE(containsData(hay, {1, 2, 3, 4, 5}));
  EXPECT_TRUE(containsData(hay, {}));
  EXPECT_FALSE(containsData({}, {}));
}

TEST(KXUNISDKGlobalsTest, TickCountFollowsTheClockInForce) {
  foundation::ScopedManualClock clock;
  const uint32_t t0 = KXUNISDKGlobals::getTickCount();
  clock->advance(std::chrono::milliseconds(1500));
  EXPECT_EQ(KXUNISDKGlobals::getTickCount() - t0, 1500u);
  EXPECT_EQ(KXUNISDKGlobals::getCPUUsage(), 0.0f);
}

TEST(KXErrorsTest, MakeErrorFormatsAndLogs) {
  std::vector<std::string> lines;
  KXUNISDKGlobals::setLogHandler([&](const std::string& l) { lines.push_back(l); });
  const Error e = KXUNISDKGlobals::makeError(-9, "Invalid %s: %d", "length", 7);
  KXUNISDKGlobals::setLogHandler(nullptr);
  EXPECT_EQ(e.domain, "com.sabrel.errors");
  EXPECT_EQ(e.code, -9);
  EXPECT_EQ(e.text, "Invalid length: 7");
  EXPECT_EQ(lines, (std::vector<std::string>{"ERROR -9: Invalid length: 7"}));
  // Without a handler nothing is formatted or written.
  EXPECT_EQ(KXUNISDKGlobals::makeError(-20, std::string("100% done")).text, "100% done");
}

TEST(KXErrorsTest, TextsOfEveryRange) {
  struct Case { int code; const char* text; };
  const Case cases[] = {
      {0, "Operation successful"},
      {-1, "General error / Unknown error"},
      {-6, "Timeout expired"},
      {-17, "Invalid command"},
      {-21, "Invalid command"},
      {-23, "Permission denied"},
      {-16501, "Generic error"},
      {-16503, "Invalid paremeter"},
      {-16517, "Inalid CRC"},
      {-16549, "Printer head is overheated"},
      {-11001, "Encrypted magnetic head invalid command sent"},
      {-11006, "Encrypted magnetic head no data available"},
      {-11020, "Encrypted magnetic head invalid data length"},
      {-11023, "Encrypted magnetic head hardware failure"},
      {-16500, "Unknown error"},
      {-16550, "Unknown error"},
      {-24, "Unknown error"},
      {-11000, "Unknown error"},
      {-11010, "Unknown error"},
      {-11024, "Unknown error"},
      {1, "Unknown error"},
  };
  for (const auto& c : cases) EXPECT_STREQ(KXErrors::getErrorDescription(c.code), c.text) << c.code;
}

}  // namespace
}  // namespace kestra
