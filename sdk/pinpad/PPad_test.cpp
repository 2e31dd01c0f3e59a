#include "sdk/pinpad/PPad.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "testing/devices/pinpad/PinpadTestBench.h"

namespace kestra {
namespace {

using devices::PinpadPersona;
using devices::PinpadTestBench;
using foundation::Bytes;

TEST(PPadConnection, AColourPersonaEndsConnectedWithItsDisplayAndFeatures) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  auto& pad = *b.pad;
  EXPECT_EQ(pad.deviceName(), "SKYRIK5000G");
  EXPECT_EQ(pad.deviceType(), 4);
  EXPECT_EQ(pad.displayWidth(), 320);
  EXPECT_EQ(pad.displayHeight(), 240);
  EXPECT_FALSE(pad.displayAtBottom());
  EXPECT_EQ(pad.deviceModel(), "XBRFCMEVSCBL");  // the feature string
  EXPECT_EQ(pad.serialNumber(), "5000123");
  EXPECT_EQ(pad.firmwareRevision(), "2.04.39.64");
  EXPECT_EQ(pad.getSupportedFeature(17), 2);  // colour 320 x 240
  EXPECT_EQ(pad.getSupportedFeature(1), 1);   // "XB"
  EXPECT_EQ(pad.getSupportedFeature(5), 1);   // "RF"
  EXPECT_EQ(pad.getSupportedFeature(0), 0x16);
  EXPECT_EQ(pad.getSupportedFeature(2), 3);   // "BL"
  EXPECT_EQ(pad.getSupportedFeature(7), 1);   // a printer
  EXPECT_EQ(pad.sysGetInfo().pinpadSerialString, "5000123");
  // The known state identification left behind.
  b.device->withModel([](devices::PinpadModel& m) {
    EXPECT_TRUE(m.keyboardEnabled);
    EXPECT_TRUE(m.readerStarted);
    EXPECT_TRUE(m.printerEnabled);
    EXPECT_EQ(m.events, 0xFFFFFFFFu);
    EXPECT_EQ(m.clock[0], 26);  // the date was set (this test runs in 2026)
  });
  EXPECT_EQ(b.delegate->log().count("ppadConnectionState:2"), 1u);
}

}  // namespace
}  // namespace kestra
