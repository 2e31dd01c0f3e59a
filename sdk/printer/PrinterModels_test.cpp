#include "sdk/printer/PrinterModels.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sdk/printer/PrinterReaders.h"

namespace kestra::printer {
namespace {

using foundation::Bytes;

Bytes ident(const char* name, const char* digits, uint8_t b28, uint8_t b30) {
  Bytes r(32, ' ');
  std::memcpy(r.data(), name, std::strlen(name));
  std::memcpy(r.data() + 22, digits, 3);
  r[28] = b28;
  r[30] = b30;
  return r;
}

TEST(PrinterModels, IdentificationPersona257) {
  const Bytes r = ident("VKP-255", "257", 0x44, 0x20);
  const auto id = parseIdentification(r.data(), r.size());
  ASSERT_TRUE(id);
  EXPECT_EQ(id->name, "VKP-255");
  EXPECT_EQ(id->fwver, 257);
  EXPECT_EQ(firmwareText(id->fwver), "2.57.0");
  const int cls = modelClassForName(id->name);
  EXPECT_EQ(cls, 11);
  KXPrinterInfo info;
  int feed = 0;
  applyModelClass(cls, *id, id->name, &info, &feed);
  EXPECT_EQ(info.paperWidthPx, 384);
  EXPECT_EQ(info.paperWidthInch, 2);
  EXPECT_EQ(info.maxPageModeHeightPx, 2432);
  EXPECT_TRUE(info.pageModeSupported);
  EXPECT_TRUE(info.labelModeSupported);
  EXPECT_TRUE(info.labelModeActive);
  EXPECT_EQ(info.resolutionDPI, 203);
  EXPECT_EQ(feed, 110);
  EXPECT_FALSE(parseIdentification(r.data(), 31));
}

TEST(PrinterModels, ClassValues) {
  struct Case {
    const char* name;
    const char* digits;
    uint8_t b28, b30;
    int cls, width, inches;
    bool page;
  } cases[] = {
      {"RPX-350", "150", 0x40, 0x40, 1, 408, 2, true},   // narrow paper
      {"RPX-350", "139", 0x40, 0x00, 1, 576, 3, false},  // page mode needs 1.40
      {"RPX-100", "100", 0x40, 0x00, 0, 384, 0, false},
      {"RPX-255B", "120", 0x00, 0x00, 3, 384, 2, false},
      {"LPX-400", "120", 0x44, 0x20, 4, 832, 4, true},
      {"My KSK-80P", "120", 0x00, 0x00, 8, 576, 3, true},
      {"My KSK-80A", "120", 0x40, 0x00, 8, 576, 3, false},
      {"RPX-500", "141", 0x40, 0x00, 10, 576, 3, true},
      {"Unknown", "100", 0, 0, -1, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes r = ident(c.name, c.digits, c.b28, c.b30);
    const auto id = parseIdentification(r.data(), r.size());
    ASSERT_TRUE(id);
    EXPECT_EQ(modelClassForName(id->name), c.cls);
    if (c.cls < 0) continue;
    KXPrinterInfo info;
    int feed = 0;
    applyModelClass(c.cls, *id, id->name, &info, &feed);
    EXPECT_EQ(info.paperWidthPx, c.width);
    EXPECT_EQ(info.paperWidthInch, c.inches);
    EXPECT_EQ(info.pageModeSupported, c.page);
  }
  // Class 4 never reports label mode active.
  const Bytes r = ident("LPX-400", "120", 0x44, 0x20);
  KXPrinterInfo info;
  int feed = 0;
  applyModelClass(4, *parseIdentification(r.data(), r.size()), "LPX-400", &info, &feed);
  EXPECT_FALSE(info.labelModeActive);
}

TEST(PrinterModels, BatteryTemperatureAndLabelAnswers) {
  EXPECT_EQ(batteryPercent(0, 74), 40);
  EXPECT_EQ(batteryPercent(0, 90), 100);
  EXPECT_EQ(batteryPercent(0, 10), 10);
  EXPECT_EQ(batteryPercent(11, 76), 62);
  EXPECT_EQ(batteryPercent(4, 152), 62);
  EXPECT_EQ(temperatureFahrenheit(25), 77);
  EXPECT_EQ(temperatureFahrenheit(0), 32);

  const auto s = parseLabelSettings("0123451789,a,b,c,d,e,15,x");
  EXPECT_EQ(s.labelModeActive, true);
  EXPECT_EQ(s.autoOffMinutes, 15);
  const auto s2 = parseLabelSettings("short");
  EXPECT_FALSE(s2.labelModeActive);
  EXPECT_FALSE(s2.autoOffMinutes);

  const auto hi = parseLabelIdentity("ZLP-2,V60.1.2,8,2000");
  ASSERT_TRUE(hi);
  EXPECT_EQ(hi->name, "ZLP-2");
  EXPECT_EQ(hi->firmware, "60.1.2");
  EXPECT_FALSE(parseLabelIdentity("single"));
}

TEST(PrinterReaders, BarcodeAnswerUnescapes) {
  auto b = parseBarcodeAnswer(foundation::bytesOf(std::string("13 ABC\0", 7)));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->type, 13);
  EXPECT_EQ(b->text, "ABC");
  b = parseBarcodeAnswer(Bytes{'1', ' ', 'A', 0xFF, 0x2D, 0xFF, 0xFF, 'Z'});
  ASSERT_TRUE(b);
  EXPECT_EQ(b->text, std::string("A\x0d\xff" "Z"));
  EXPECT_FALSE(parseBarcodeAnswer(Bytes{'1', ' '}));
  EXPECT_FALSE(parseBarcodeAnswer(foundation::bytesOf("12345")));
}

TEST(PrinterReaders, CardTracks) {
  auto t = parseCardTracks(Bytes{0xF2, '1', '2', '3', 0x00});
  EXPECT_EQ(t[0], "");
  EXPECT_EQ(t[1], "123");
  EXPECT_EQ(t[2], "");
  t = parseCardTracks(Bytes{0xF1, 'A', 0xF2, 'B', 0xF3, 'C'});
  EXPECT_EQ(t, (std::array<std::string, 3>{"A", "B", "C"}));
  // Markers out of order: each track ends at the next marker after it.
  t = parseCardTracks(Bytes{0xF3, 'C', 0xF1, 'A', 'A'});
  EXPECT_EQ(t, (std::array<std::string, 3>{"AA", "", "C"}));
}

TEST(PrinterReaders, MaskedBlockNeverReadsPastItsEnd) {
  const Bytes ok = {0x00, 2, 0, 1, 'A', 'B', 'C'};
  auto m = parseMaskedBlock(ok.data(), ok.size());
  EXPECT_EQ(m[0], "AB");
  EXPECT_FALSE(m[1]);
  EXPECT_EQ(m[2], "C");
  const Bytes cut = {0x00, 2, 200, 1, 'A', 'B', 'C'};
  m = parseMaskedBlock(cut.data(), cut.size());
  EXPECT_EQ(m[0], "AB");
  EXPECT_FALSE(m[1]);
  EXPECT_FALSE(m[2]);
}

TEST(PrinterReaders, ModuleFramesAndApdus) {
  Bytes f;
  ASSERT_TRUE(moduleFrame(19, Bytes{1, 2}.data(), 2, &f));
  EXPECT_EQ(f, (Bytes{19, 0, 0, 2, 1, 2}));
  EXPECT_FALSE(moduleFrame(19, Bytes(509).data(), 509, &f));
  ASSERT_TRUE(buildApdu(0x00, 0xA4, 0x04, 0x00, {}, -1, &f));
  EXPECT_EQ(f, (Bytes{0x00, 0xA4, 0x04, 0x00, 0x00}));
  ASSERT_TRUE(buildApdu(0x80, 0xCA, 1, 2, {9, 9}, 16, &f));
  EXPECT_EQ(f, (Bytes{0x80, 0xCA, 1, 2, 2, 9, 9, 16}));
  ASSERT_TRUE(buildApdu(0x80, 0xCA, 1, 2, {9}, -1, &f));
  EXPECT_EQ(f, (Bytes{0x80, 0xCA, 1, 2, 1, 9}));
  EXPECT_FALSE(buildApdu(0, 0, 0, 0, Bytes(256), -1, &f));
}

}  // namespace
}  // namespace kestra::printer
