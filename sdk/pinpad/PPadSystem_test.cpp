// The pinpad's system commands against the simulated pinpad.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/DateFormat.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra {
namespace {
namespace system_test {

using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::linesStarting;
using testsupport::sentWith;

struct Connected : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(b.connect()); }
  PinpadTestBench b;
};

using PPadSystem = Connected;

TEST_F(PPadSystem, SettingsWithTheirRanges) {
  EXPECT_EQ(b.pad->sysSetAutoOffTimeSec(59), 3);
  EXPECT_TRUE(sentWith(*b.device, 0x36, {0x16, 0x03}).empty());
  EXPECT_EQ(b.pad->sysSetAutoOffTimeSec(90), 0);
  EXPECT_EQ(sentWith(*b.device, 0x36, {0x16, 0x03}).back(), (Bytes{0x16, 0x03, 0x01, 0x00}));
  b.device->withModel([](devices::PinpadModel& m) { m.settings[0x03] = {0x02, 0x00}; });
  int seconds = 0;
  EXPECT_EQ(b.pad->sysGetAutoOffTimeSec(&seconds), 0);
  EXPECT_EQ(seconds, 120);

  EXPECT_EQ(b.pad->sysSetBatteryWarningLevelPercent(15), 0);
  int percent = 0;
  EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 0);
  EXPECT_EQ(percent, 15);
  EXPECT_EQ(b.pad->uiSetSettingsGlobalVolume(80), 0);
  int volume = 0;
  EXPECT_EQ(b.pad->uiGetSettingsGlobalVolume(&volume), 0);
  EXPECT_EQ(volume, 80);
  EXPECT_EQ(b.pad->sysSetUSBChargingCurrent(500), 0);
  EXPECT_EQ(sentWith(*b.device, 0x36, {0x16, 0x06}).back(), (Bytes{0x16, 0x06, 0xF4, 0x01}));

  EXPECT_EQ(b.pad->sysEnableEvents(0x21), 0);
  uint32_t mask = 0;
  EXPECT_EQ(b.pad->sysGetEnabledEvents(&mask), 0);
  EXPECT_EQ(mask, 0x21u);
}

TEST_F(PPadSystem, SoundsAndLights) {
  const int tones[] = {2730, 150, 0x12000 + 1000, 50, 7};  // the fifth number has no pair
  b.device->withModel([](devices::PinpadModel& m) { m.beeps.clear(); });
  EXPECT_EQ(b.pad->sysPlaySound(tones, sizeof tones, 100), 0);
  b.device->withModel([](devices::PinpadModel& m) {
    ASSERT_EQ(m.beeps.size(), 2u);
    EXPECT_EQ(m.beeps[0], (Bytes{0xAA, 0x0A, 0x96, 0x00, 50}));
    EXPECT_EQ(m.beeps[1], (Bytes{0xE8, 0x23, 0x32, 0x00, 50}));  // the low 16 bits
  });
  EXPECT_EQ(b.pad->sysPlaySound(tones, 8, 101), 3);
  EXPECT_EQ(b.pad->sysPlaySound(tones, 3, 50), 0);
  EXPECT_EQ(b.pad->sysBeep(1000, 100, 101), 3);
  EXPECT_EQ(b.pad->sysLEDControl(4, 1), 3);
  EXPECT_EQ(b.pad->sysLEDControl(3, 0x0102), 0);
  EXPECT_EQ(sentWith(*b.device, 0x36, {0x04}).back(), (Bytes{0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(b.pad->sysBitmaskLEDControl({{0x1F, 500, 12, 0x0ABC}, {1, 100, 8, 0xFF}}), 0);
  EXPECT_EQ(sentWith(*b.device, 0x36, {0x04, 0x00}).back(),
            (Bytes{0x04, 0x00, 0x04, 50, 12, 0x0A, 0xBC, 0x01, 10, 8, 0xFF}));
  EXPECT_EQ(b.pad->sysBitmaskLEDControl({{1, 100, 33, 0}}), 3);
  EXPECT_EQ(b.pad->sysMelody({}), 3);
  EXPECT_EQ(b.pad->sysWriteFlashPage(1, {}), 3);
}

TEST_F(PPadSystem, DateRoundTrip) {
  const auto date = foundation::parseDate("2026 03 14 15 09 26", "yyyy MM dd HH mm ss");
  ASSERT_TRUE(date);
  EXPECT_EQ(b.pad->sysSetDate(*date), 0);
  b.device->withModel([](devices::PinpadModel& m) {
    EXPECT_EQ(m.clock, (std::array<uint8_t, 6>{26, 3, 14, 15, 9, 26}));
  });
  std::chrono::system_clock::time_point back;
  EXPECT_EQ(b.pad->sysGetDate(&back), 0);
  EXPECT_EQ(back, *date);
  // A clock the pinpad could not hold is not a date.
  b.device->withModel([](devices::PinpadModel& m) { m.clock = {26, 13, 40, 25, 61, 61}; });
  EXPECT_EQ(b.pad->sysGetDate(&back), 9);
}

TEST_F(PPadSystem, AFirmwareFileGoesOutInPaddedPagesWithProgress) {
  Bytes file(600);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7);
  const Bytes header = {0x01, 0x00, 0x05, 0x02, 0, 0, 0, 0, 0x1F, 0xDB, 0x26, 0xD6};  // 2.5.0.1
  std::copy(header.begin(), header.end(), file.begin() + 500);
  ASSERT_TRUE(b.pad->sysGetFirmwareFileInformation(file));
  b.delegate->clear();
  EXPECT_EQ(b.pad->sysFirmwareUpdate(file), 0);
  b.device->withModel([&](devices::PinpadModel& m) {
    ASSERT_EQ(m.firmwarePages.size(), 3u);
    EXPECT_TRUE(m.updateEnded);
    EXPECT_EQ(m.restarts, 1);
    Bytes all;
    for (const auto& p : m.firmwarePages) {
      EXPECT_EQ(p.size(), 256u);
      all.insert(all.end(), p.begin(), p.end());
    }
    EXPECT_TRUE(std::equal(file.begin(), file.end(), all.begin()));
    EXPECT_EQ(std::count(all.begin() + 600, all.end(), 0xFF), 168);
    EXPECT_EQ(m.persona.firmwareVersion, 0x02050001u);  // the loader took the image
  });
  EXPECT_EQ(linesStarting(b.delegate->log(), "firmwareUpdateProgress"),
            (std::vector<std::string>{"firmwareUpdateProgress:0:0", "firmwareUpdateProgress:2:0",
                                      "firmwareUpdateProgress:2:42", "firmwareUpdateProgress:2:85",
                                      "firmwareUpdateProgress:3:100"}));

  // A page the pinpad refuses ends the update there.
  b.device->withModel([](devices::PinpadModel& m) { m.refuse[{0x36, 0x0E}] = 15; });
  EXPECT_EQ(b.pad->sysFirmwareUpdate(file), 15);
  b.device->withModel([](devices::PinpadModel& m) { EXPECT_FALSE(m.updateEnded); });
  EXPECT_EQ(b.pad->sysUpdateFile(std::nullopt), 3);

  // The Bluetooth module's firmware: the same pages, then the module update.
  b.device->withModel([](devices::PinpadModel& m) { m.refuse.clear(); });
  EXPECT_EQ(b.pad->btFirmwareUpdate(file, Bytes{0x01, 0x02}), 0);
  b.device->withModel([](devices::PinpadModel& m) {
    EXPECT_TRUE(m.btUpdated);
    EXPECT_EQ(m.btUpdateData, (Bytes{0x01, 0x02}));
  });
}

TEST_F(PPadSystem, InformationRecordsAndFiles) {
  PPadHardwareInfo hw;
  b.device->withModel([](devices::PinpadModel& m) { m.hardwareInfo = {0x10, 0x02, 0x20}; });
  EXPECT_EQ(b.pad->sysGetHardwareInfo(&hw), 0);
  EXPECT_FALSE(hw.charging);  // each flag has its own bit
  EXPECT_TRUE(hw.flag1);
  EXPECT_EQ(hw.value0, 0x10u);
  EXPECT_EQ(hw.value2, 0x20u);

  Bytes file(512, 0);
  file[500] = 5;
  file[503] = 2;
  file[508] = 0x1F; file[509] = 0xDB; file[510] = 0x26; file[511] = 0xD6;
  const auto info = b.pad->sysGetFirmwareFileInformation(file);
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["firmwareRevision"], "2.00.00.05");
  EXPECT_EQ((*info)["firmwareRevisionNumber"], 2000005);
  EXPECT_EQ((*info)["deviceName"], "FW PPAD1");
  EXPECT_FALSE(b.pad->sysGetFirmwareFileInformation(Bytes(511, 0)));

  double left = -1;
  EXPECT_EQ(b.pad->getTimeRemainingToPowerOff(&left), 0);
  EXPECT_GT(left, 0);
  EXPECT_LE(left, 300);  // the persona's five minutes

  EXPECT_EQ(b.pad->commTest(2, 10), 0);
  const auto tests = testsupport::sentData(*b.device, 0xFF);
  ASSERT_GE(tests.size(), 2u);
  EXPECT_EQ(tests.back(), foundation::bytesOf("0123456789"));
  EXPECT_EQ(b.pad->commTest(1, 3000), 3);
  EXPECT_EQ(b.pad->commTest(0, 3000), 0);
}

}  // namespace system_test
}  // namespace
}  // namespace kestra
