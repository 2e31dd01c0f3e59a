#include <gtest/gtest.h>

#include <cstring>

#include "sdk/foundation/EMSRDeviceInfo.h"
#include "sdk/foundation/KXTouchFormatAnsiIso.h"
#include "sdk/foundation/KXTouchIdentity.h"

namespace kestra {
namespace {

using foundation::Bytes;

TEST(EMSRDeviceInfoTest, ZeroVersionTakesTheFallback) {
  EMSRInfo raw;
  std::memcpy(raw.ident, "HEAD", 5);
  raw.firmwareVersion = 0;
  raw.securityVersion = 214;
  EMSRDeviceInfo info(raw, 305);
  EXPECT_EQ(info.firmwareVersion, 305);
  EXPECT_EQ(info.firmwareVersionString, "3.05");
  EXPECT_EQ(info.securityVersionString, "2.14");
  EXPECT_EQ(info.serialNumberString, std::string(32, '0'));
  EXPECT_EQ(EMSRKeysInfo::keyNameByID(33), "DUKPT 2");
  EXPECT_EQ(EMSRKeysInfo::keyNameByID(5), "Unknown");
}

TEST(KXTouchIdentityTest, SlotSeparatorAndIdentity) {
  struct Case { std::string reply; int slot; std::string identity; };
  const Case cases[] = {
      {std::string("12") + char(0x1F) + "ABC", 12, "ABC"},
      {"7", 7, ""},
      {"", 0, ""},
      {"|xyz", 0, "xyz"},
  };
  for (const auto& c : cases) {
    KXTouchIdentity id(Bytes(c.reply.begin(), c.reply.end()));
    EXPECT_EQ(id.slot, c.slot) << c.reply;
    EXPECT_EQ(id.getIdentityString(), c.identity) << c.reply;
  }
}

// A record in the ANSI INCITS 381 layout with recognisable field values.
Bytes ansiRecord() {
  Bytes r(70, 0);
  std::memcpy(r.data(), "FIR\0", 4);
  std::memcpy(r.data() + 4, "010\0", 4);
  r[13] = 70;                          // record length (6 bytes)
  r[14] = 0xCA; r[17] = 0xFE;          // product identifier
  r[18] = 0x12; r[19] = 0x34;          // capture device
  r[25] = 0xC5;                        // horizontal scan resolution low byte
  r[39] = 34;                          // finger data block length: 14 + 20 image bytes
  r[40] = 7;                           // finger position
  r[50] = 0xAA;                        // first image byte
  return r;
}

TEST(KXTouchFormatAnsiIsoTest, AnsiAndIsoPositions) {
  const Bytes ansi = ansiRecord();
  KXTouchFormatAnsiIso a(ansi, false);
  EXPECT_EQ(a.getFormatIdentifier(), Bytes({'F', 'I', 'R', 0}));
  // Texts end at their terminating zero: the identifier compares equal to "FIR".
  EXPECT_EQ(a.getFormatIdentifierAsString(), "FIR");
  EXPECT_EQ(a.getVersionNumberAsString(), "010");
  EXPECT_EQ(a.getRecordLength(), 70u);
  EXPECT_EQ(a.getProductIdentifierAsHexString(), "CA0000FE");
  EXPECT_EQ(a.getCaptureDeviceIDAsHexString(), "1234");
  EXPECT_EQ(a.getScanResolutionHorz(), 0xC5);
  EXPECT_EQ(a.getFingerPosition(), 7);
  EXPECT_EQ(a.getHeader().size(), 50u);
  const Bytes image = a.getImageData();
  ASSERT_EQ(image.size(), 20u);
  EXPECT_EQ(image[0], 0xAA);

  // The ISO record is the ANSI one without the product identifier: fields after byte 17
  // move 4 bytes earlier.
  Bytes iso = ansi;
  iso.erase(iso.begin() + 14, iso.begin() + 18);
  KXTouchFormatAnsiIso i(iso, true);
  EXPECT_EQ(i.getCaptureDeviceIDAsHexString(), "1234");
  EXPECT_EQ(i.getFingerPosition(), 7);
  EXPECT_EQ(i.getProductIdentifier(), Bytes(4, 0));
  EXPECT_EQ(i.getHeader().size(), 46u);
  EXPECT_EQ(i.getImageData(), image);
}

TEST(KXTouchFormatAnsiIsoTest, ShortRecordsReadNothingOutside) {
  const Bytes full = ansiRecord();
  const Bytes cut(full.begin(), full.begin() + 30);
  KXTouchFormatAnsiIso r(cut, false);
  EXPECT_EQ(r.getCaptureDeviceIDAsHexString(), "1234");
  EXPECT_EQ(r.getFingerPosition(), 0);
  EXPECT_EQ(r.getFingerDataBlockLengt(), 0u);
  EXPECT_TRUE(r.getImageData().empty());
  EXPECT_EQ(r.getHeader().size(), 30u);
  KXTouchFormatAnsiIso empty(Bytes{}, true);
  EXPECT_EQ(empty.getRecordLength(), 0u);
  EXPECT_EQ(empty.getFormatIdentifierAsString(), "");

  // An image block longer than the record is cut at the record's end.
  Bytes lying = full;
  lying[38] = 0x10;
  KXTouchFormatAnsiIso l(lying, false);
  EXPECT_EQ(l.getImageData().size(), lying.size() - 50);
}

}  // namespace
}  // namespace kestra
