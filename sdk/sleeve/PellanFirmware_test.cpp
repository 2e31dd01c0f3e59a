// The sleeve's own firmware update against the simulated sleeve's boot loader.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/foundation/IdleTimer.h"
#include "testing/devices/base/JoiningThread.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanModulesFixture.h"

namespace kestra {
namespace {

using devices::SleeveModules;
using foundation::Bytes;
using testing::PumpedSleeve;
using testing::sleeveWith;

// A firmware image of `size` bytes: 0xFF everywhere but the header and `payload` at 0.
Bytes firmwareImage(size_t size, const char* model = "XBCM", const char* name = "Pellan Pro",
                    uint8_t major = 2, uint8_t minor = 70, Bytes payload = {}) {
  Bytes b(size, 0xFF);
  auto put = [&](size_t at, const char* text) {
    std::fill(b.begin() + long(at), b.begin() + long(at + 16), 0);
    std::memcpy(b.data() + at, text, strlen(text));
  };
  put(0x100, "SABREL");
  put(0x110, model);
  put(0x120, name);
  b[0x130] = 0;
  b[0x131] = major;
  b[0x132] = minor;
  b[0x133] = 1;
  std::copy(payload.begin(), payload.end(), b.begin());
  return b;
}

struct Progress : PellanDelegate {
  Progress() { implements({sel::firmwareUpdateProgress}); }
  void firmwareUpdateProgress(int phase, int percent) override {
    std::lock_guard lock(mutex);
    seen.emplace_back(phase, percent);
    if (during) during(phase);
  }
  std::vector<std::pair<int, int>> calls() {
    std::lock_guard lock(mutex);
    return seen;
  }
  std::function<void(int phase)> during;
  std::recursive_mutex mutex;
  std::vector<std::pair<int, int>> seen;
};

bool reconnectedAs(PumpedSleeve& s, int fwVer) {
  return s.bench.runUntil([&] { return s.bench.pellan->connstate() == 2 && s.bench.pellan->getFWVER() == fwVer; });
}

TEST(PellanFirmwareUpdate, PagesOfOnlyFFAreSkippedAndTheSleeveRestartsAsTheNewFirmware) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  auto progress = std::make_shared<Progress>();
  p.addDelegate(progress);
  const Bytes image = firmwareImage(1000);
  s.forget();
  Error e;
  ASSERT_TRUE(p.updateFirmwareData(image, &e)) << e.text;
  // F0, F1, the one page that holds the header (128-byte pages on two channels), F3.
  EXPECT_EQ(s.codes(), (std::vector<uint8_t>{0xF0, 0xF1, 0xF2, 0xF3}));
  const auto pages = s.sent(0xF2);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(Bytes(pages[0].begin(), pages[0].begin() + 4), (Bytes{0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(pages[0].size(), 4u + 128);
  EXPECT_EQ(progress->calls(), (std::vector<std::pair<int, int>>{
                                   {0, 0}, {1, 0}, {2, 0}, {2, 12}, {2, 25}, {2, 38}, {2, 51}, {2, 64},
                                   {2, 76}, {2, 89}, {3, 100}}));
  ASSERT_TRUE(reconnectedAs(s, 2070));
  EXPECT_EQ(p.firmwareRevision(), "2.70.0");
  Bytes flash = s.modules([](SleeveModules& m) { return m.flash; });
  flash.resize(image.size(), 0xFF);
  EXPECT_EQ(flash, image);
}

TEST(PellanFirmwareUpdate, OnlyForcedCommandsPassWhileItRunsAndTheIdleTimerIsHeld) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  auto progress = std::make_shared<Progress>();
  p.addDelegate(progress);
  foundation::IdleTimer::setDisabled(false);
  Error ordinary;
  bool forcedSent = false, held = false;
  progress->during = [&](int phase) {
    if (phase != 1) return;
    held = foundation::IdleTimer::disabled();
    p.barcodeStartScan(&ordinary);
    s.forget();
    p._barcodeEngineRead(nullptr);  // forced: reaches the sleeve (whose boot loader refuses it)
    forcedSent = s.sent(22).size() == 1;
  };
  ASSERT_TRUE(p.updateFirmwareData(firmwareImage(600)));
  EXPECT_TRUE(held);
  EXPECT_FALSE(foundation::IdleTimer::disabled());
  EXPECT_EQ(ordinary.code, -20);
  EXPECT_EQ(ordinary.text, "Firmware update is in progress, command rejected");
  EXPECT_TRUE(forcedSent);
}

TEST(PellanFirmwareUpdate, AFileForAnotherSleeveOrNoFileAtAllSendsNothing) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  struct Case {
    const char* name;
    Bytes file;
    bool validate;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"another model", firmwareImage(600, "CBCM"), true, -9,
       "Invalid device model in the firmware file, expected XBCM, got CBCM"},
      {"another name", firmwareImage(600, "XBCM", "Pellan Max"), true, -9,
       "Invalid device name in the firmware file, expected Pellan Pro, got Pellan Max"},
      {"short", Bytes(511, 0x00), false, -21, "Data is nil or invalid"},
      {"not a sleeve file", Bytes(4096, 0x00), false, -21, "Data is invalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    s.forget();
    Error e;
    EXPECT_FALSE(p.updateFirmwareData(c.file, c.validate, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
    EXPECT_TRUE(s.codes().empty());
  }
  // Unvalidated, a file for another model is sent.
  EXPECT_FALSE(p.getFirmwareFileInformation(Bytes(100)));
  auto info = p.getFirmwareFileInformation(firmwareImage(600, "CBCM"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->deviceModel, "CBCM");
  ASSERT_TRUE(p.updateFirmwareData(firmwareImage(600, "CBCM", "Pellan Pro", 2, 71), false));
  ASSERT_TRUE(reconnectedAs(s, 2071));
}

TEST(PellanFirmwareUpdate, AfterThreeFailedAttemptsTheSleeveWaitsInItsBootLoaderForTheNextUpdate) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  auto progress = std::make_shared<Progress>();
  p.addDelegate(progress);
  const Bytes image = firmwareImage(1500, "XBCM", "Pellan Pro", 2, 70, Bytes(200, 0x5A));
  s.modules([](SleeveModules& m) { m.refusePages = 1 << 30; });
  s.forget();
  Error e;
  EXPECT_FALSE(p.updateFirmwareData(image, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Firmware update failed");
  EXPECT_EQ(s.sent(0xF1).size(), 3u);
  EXPECT_EQ(s.sent(0xF2).size(), 3u);  // each attempt ends at its first refused page
  EXPECT_EQ(s.sent(0xF3).size(), 1u);
  EXPECT_EQ(progress->calls().back(), std::make_pair(3, 100));

  // The sleeve restarted into its boot loader: one updater channel, identified by command.
  ASSERT_TRUE(s.bench.runUntil([&] {
    return p.connstate() == 2 && p.firmwareRevision() == "0.00.0";
  }));
  s.modules([](SleeveModules& m) { m.refusePages = 0; });
  s.forget();
  ASSERT_TRUE(p.updateFirmwareData(image, &e)) << e.text;
  for (const auto& page : s.sent(0xF2)) EXPECT_LE(page.size(), 4u + 256);
  EXPECT_EQ(s.sent(0xF2).size(), 2u);  // the payload's page and the header's
  ASSERT_TRUE(reconnectedAs(s, 2070));
  Bytes flash = s.modules([](SleeveModules& m) { return m.flash; });
  flash.resize(image.size(), 0xFF);
  EXPECT_EQ(flash, image);
}

TEST(PellanFirmwareUpdate, APowerLossMidWayLeavesTheBootLoaderFromWhichTheNextUpdateSucceeds) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  const Bytes image = firmwareImage(1500, "XBCM", "Pellan Pro", 2, 72, Bytes(200, 0x5A));
  s.modules([](SleeveModules& m) { m.powerLossAfterPages = 1; });
  // The update runs off the main thread, as an application runs it, so that the link's
  // loss is seen while it goes on.
  std::atomic<bool> done{false};
  Error e;
  {
    devices::JoiningThread update([&] {
      EXPECT_FALSE(p.updateFirmwareData(image, &e));
      done = true;
    });
    ASSERT_TRUE(s.bench.runUntil([&] { return done.load(); }));
  }
  EXPECT_EQ(e.text, "Firmware update failed");
  ASSERT_TRUE(s.bench.runUntil([&] { return p.connstate() != 2; }));

  // Power back: the half-written sleeve comes up in its boot loader.
  s.bench.sleeve->restart(std::string());
  ASSERT_TRUE(s.bench.runUntil([&] { return p.connstate() == 2 && p.firmwareRevision() == "0.00.0"; }));
  ASSERT_TRUE(p.updateFirmwareData(image, &e)) << e.text;
  ASSERT_TRUE(reconnectedAs(s, 2072));
  Bytes flash = s.modules([](SleeveModules& m) { return m.flash; });
  flash.resize(image.size(), 0xFF);
  EXPECT_EQ(flash, image);
}

}  // namespace
}  // namespace kestra
