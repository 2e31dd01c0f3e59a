#include "sdk/device/ChargingCaseFrames.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "platform/foundation/Bytes.h"
#include "sdk/device/FirmwareLoader.h"
#include "sdk/device/ProtocolControl.h"

namespace kestra::chargingcase {
namespace {

using foundation::fromHex;
using foundation::toHex;

TEST(ChargingCaseFrames, CommandsHaveTheCaseLayout) {
  EXPECT_EQ(toHex(controlMessage(kControlCurrent, {0xE8, 0x03})), "5AA509E803000000");
  EXPECT_EQ(toHex(controlMessage(kControlInquiry, {0x80, 1, 2, 3, 4, 5, 6})), "5AA50A8001020304");
  // Create store for a 300-byte image.
  EXPECT_EQ(toHex(bootloaderFrame(kBootCreateStore, {0x2C, 0x01, 0, 0, 0})), "DEC00D00200000002C01000000");
  EXPECT_EQ(toHex(bootloaderFrame(kBootVerify)), "DEC0080040000000");
}

TEST(ChargingCaseFrames, ControlRepliesAreReadAcrossNoiseAndBursts) {
  struct Case {
    const char* name;
    const char* bytes;
    std::vector<std::string> posted;
    size_t left;  // bytes left unread
  };
  const Case cases[] = {
      {"capacity", "5AA5084B0E740000", {kDemo1ReceivedBatteryCapacity}, 0},
      {"two in one read", "5AA5084B0E7400005AA5066202000000",
       {kDemo1ReceivedBatteryCapacity, kDemo1ReceivedBatteryHealth}, 0},
      {"noise first", "00115AA5084B0E740000", {kDemo1ReceivedBatteryCapacity}, 0},
      {"seven bytes", "5AA5084B0E7400", {}, 7},
      {"unknown identifier consumed", "5AA5030000000000", {}, 0},
      {"noise then a partial message", "0011225AA508", {}, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes buffer = *fromHex(c.bytes);
    CaseReportedValues v;
    std::vector<std::string> posted;
    applyControlReplies(buffer, v, [&](const char* n) { posted.push_back(n); });
    EXPECT_EQ(posted, c.posted);
    EXPECT_EQ(buffer.size(), c.left);
  }
  Bytes burst = *fromHex("5AA5084B0E7400005AA5066202000000");
  CaseReportedValues v;
  applyControlReplies(burst, v, nullptr);
  EXPECT_EQ(v.batteryCapacity, 75);
  EXPECT_EQ(v.batteryVoltage, 3700);
  EXPECT_EQ(v.batteryHealth, 98);
  EXPECT_EQ(v.batteryChargeCount, 512);
  EXPECT_EQ(v.batteryInquiry, 3);
}

TEST(ChargingCaseFrames, BootloaderFramesSkipNoiseAndImpossibleHeaders) {
  struct Case {
    const char* name;
    const char* bytes;
    size_t frame;      // length found, 0 for none
    size_t remaining;  // bytes kept in the buffer
  };
  const Case cases[] = {
      {"whole reply", "DEC009002000000001", 9, 9},
      {"header only so far", "DEC00900", 0, 4},
      {"noise before", "0102DEC009002000000001", 9, 9},
      {"length below the header", "DEC00000DEC009002000000001", 9, 9},
      {"length of one", "DEC00100", 0, 0},
      {"last byte may start a marker", "0102DE", 0, 1},
      {"noise only", "01020304050607", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes buffer = *fromHex(c.bytes);
    EXPECT_EQ(scanBootloaderFrame(buffer), c.frame);
    EXPECT_EQ(buffer.size(), c.remaining);
  }
  Bytes reply = *fromHex("DEC009002000000001");
  EXPECT_EQ(bootloaderFrameCode(reply), kBootCreateStore);
  EXPECT_EQ(toHex(bootloaderFramePayload(reply, 9)), "01");
}

// A case firmware file of `size` bytes; a short one is the start of a whole one.
Bytes caseFile(const std::string& name, uint8_t patch, uint8_t minor, uint8_t major, size_t size = 300) {
  Bytes file(std::max<size_t>(size, 32), 0x5C);
  const Bytes id{0x78, 0x56, 0x34, 0x12};
  std::copy(id.begin(), id.end(), file.begin() + 4);
  file[8] = patch;
  file[9] = minor;
  file[10] = major;
  const Bytes packed = packCaseName(name);
  std::copy(packed.begin(), packed.end(), file.begin() + 12);
  file.resize(size);
  return file;
}

TEST(ChargingCaseFirmwareFile, HeaderIsReadOrRefused) {
  foundation::Error error;
  auto header = FirmwareLoader::getFirmwareInformation(caseFile("Toravel", 3, 2, 1), &error);
  ASSERT_TRUE(header.is_object()) << error.text;
  EXPECT_EQ(header["firmwareRevision"], "1.2.3");
  EXPECT_EQ(header["firmwareRevisionNumber"], 123);
  EXPECT_EQ(header["firmwareID"], "12345678");
  EXPECT_EQ(header["deviceName"], "Toravel");
  EXPECT_EQ(header["deviceModel"], "TORAVEL-PH7");
  header = FirmwareLoader::getFirmwareInformation(caseFile("Kestra Charge", 14, 0, 1), &error);
  EXPECT_EQ(header["firmwareRevision"], "1.0.e");
  EXPECT_EQ(header["firmwareRevisionNumber"], 10);
  EXPECT_EQ(header["deviceName"], "Kestra Charge");

  struct Case {
    const char* name;
    std::optional<Bytes> data;
    const char* text;
  };
  const Case refused[] = {
      {"absent", std::nullopt, "Data cannot be nil."},
      {"31 bytes", caseFile("Toravel", 0, 0, 1, 31), "Incorrect data length."},
      {"32 bytes", caseFile("Toravel", 0, 0, 1, 32), "Incompatible firmware data."},
      {"another device", caseFile("Heron", 0, 0, 1), "Incompatible firmware data."},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    error = {};
    EXPECT_TRUE(FirmwareLoader::getFirmwareInformation(c.data, &error).is_null());
    EXPECT_EQ(error.domain, "com.okt.KestraSDK");
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.text, c.text);
  }
}

}  // namespace
}  // namespace kestra::chargingcase
