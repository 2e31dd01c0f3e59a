#include "sdk/pinpad/PPad.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/accessory/FdStream.h"
#include "sdk/pinpad/PPadTestSupport.h"
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

namespace kestra {
namespace {

using testsupport::sentData;
using testsupport::sentWith;

TEST(PPadConnection, OtherPersonasTakeTheirModelRows) {
  {
    SCOPED_TRACE("display at the bottom");
    PinpadTestBench b(PinpadPersona::skyrik500(), "SKYRIK500");
    ASSERT_TRUE(b.connect());
    EXPECT_EQ(b.pad->deviceType(), 3);
    EXPECT_EQ(b.pad->displayWidth(), 128);
    EXPECT_TRUE(b.pad->displayAtBottom());
    EXPECT_EQ(b.pad->getSupportedFeature(1), 1);   // "OB"
    EXPECT_EQ(b.pad->getSupportedFeature(10), 5);  // "PE"
    EXPECT_EQ(b.pad->getSupportedFeature(17), 4);
    // No built-in status line: identification switched it off.
    b.device->withModel([](devices::PinpadModel& m) { EXPECT_FALSE(m.statusLine); });
  }
  {
    SCOPED_TRACE("older pinpad without a feature string");
    PinpadTestBench b(PinpadPersona::ppad2(), "PPAD2");
    ASSERT_TRUE(b.connect());
    EXPECT_EQ(b.pad->deviceName(), "PPAD2");
    EXPECT_EQ(b.pad->deviceModel(), "");
    EXPECT_EQ(b.pad->serialNumber(), "42");
    EXPECT_EQ(b.pad->deviceType(), 2);
    EXPECT_EQ(b.pad->getSupportedFeature(1), 3);  // fallback table
    EXPECT_EQ(b.pad->getSupportedFeature(0), 0x04);
    // The EMV kernel is looked for once: type 4, then type 2; neither answers.
    EXPECT_EQ(b.pad->getSupportedFeature(10), 1);
    EXPECT_EQ(b.pad->getSupportedFeature(10), 1);
    EXPECT_EQ(sentData(*b.device, 0x3E).size(), 1u);
    EXPECT_EQ(sentData(*b.device, 0x3C).size(), 1u);
    EXPECT_EQ(sentData(*b.device, 0x3C)[0], (Bytes{0x02, 0x00}));
  }
}

TEST(PPadLink, RepliesArriveThroughNoiseDoubleMarkersAndSplitDelivery) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  using devices::ScriptedFault;
  struct Case {
    const char* name;
    ScriptedFault fault;
  } cases[] = {{"two stray bytes", ScriptedFault::garbageBefore({0x01, 0x02})},
               {"double marker", ScriptedFault::garbageBefore({0x3E})},
               {"every byte on its own", ScriptedFault::split()},
               {"split after the header", ScriptedFault::split({5})}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    b.device->frames().script(0x36, c.fault);
    int percent = -1;
    EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 0);
    EXPECT_EQ(percent, 20);
  }
}

TEST(PPadLink, DebugTextReachesDelegatesOnTheReadingThreadAndEmptyDebugNothing) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  b.device->sendPacket(0x0C, 0, {});
  b.device->sendPacket(0x0C, 0, foundation::bytesOf("boot ok"));
  ASSERT_TRUE(b.delegate->log().waitForLine("kxdev_debug:boot ok:0"));  // after the empty one
  const auto lines = testsupport::linesStarting(b.delegate->log(), "kxdev_debug");
  EXPECT_EQ(lines, (std::vector<std::string>{"kxdev_debug:boot ok:0"}));
}

TEST(PPadCommands, AnswerStatusAndDataAnd16OnceDisconnected) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  std::string version;
  EXPECT_EQ(b.pad->btGetFirmwareVersion(&version), 0);
  EXPECT_EQ(version, "BT301 1.02");  // up to the first zero byte
  b.device->withModel([](devices::PinpadModel& m) { m.refuse[{0x36, 0x15}] = 5; });
  int percent = -1;
  EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 5);
  EXPECT_EQ(percent, -1);  // out values only on success

  b.pad->disconnect();
  EXPECT_EQ(b.pad->connstate(), 0);
  EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 16);
  EXPECT_EQ(b.pad->sysTest(), 16);
  ASSERT_TRUE(b.delegate->log().waitForLine("ppadConnectionState:0"));
}

TEST(PPadCommands, ALinkDroppedMidPacketLeavesCommandsFailingAt16) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  b.device->frames().script(0x36, devices::ScriptedFault::dropped(3));
  int percent = 0;
  EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 9);  // woken by the loss
  ASSERT_TRUE(b.runUntil([&] { return b.pad->connstate() != 2; }));
  ASSERT_TRUE(b.delegate->log().waitForLine("ppadConnectionState:1"));
  EXPECT_EQ(b.pad->sysGetBatteryWarningLevelPercent(&percent), 16);
}

TEST(PPadConnection, AFailedIdentificationIsRetriedOnceAndNeverAnnounced) {
  PinpadTestBench b;
  b.device = &b.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
  b.device->withModel([](devices::PinpadModel& m) { m.refuse[{0x36, 0x09}] = 1; });
  b.pad->connect();
  ASSERT_TRUE(b.runUntil([&] { return sentWith(*b.device, 0x36, {0x09}).size() >= 2; }));
  EXPECT_EQ(b.pad->connstate(), 1);
  EXPECT_EQ(b.delegate->log().count("ppadConnectionState:2"), 0u);
}

TEST(PPadConnection, AFailedEventEnableAfterTheAnnouncementIsAnnouncedToo) {
  foundation::ScopedManualClock clock;
  PinpadTestBench b;
  b.device = &b.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
  b.device->withModel([](devices::PinpadModel& m) { m.mute.push_back({0x36, 0x10}); });
  b.pad->connect();
  ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(
      *clock, [&] { return b.delegate->log().count("ppadConnectionState:1") >= 2; }));
  EXPECT_EQ(b.delegate->log().count("ppadConnectionState:2"), 1u);
  EXPECT_EQ(b.pad->connstate(), 1);
  EXPECT_EQ(b.pad->sysTest(), 16);  // no command goes out on the strength of the failed attempt
}

TEST(PPadConnection, ASlowPinpadIsIdentifiedInCachingModeAndThenRunsDirect) {
  std::mutex m;
  std::vector<std::string> lines;
  KXUNISDKGlobals::setLogHandler([&](const std::string& l) {
    std::lock_guard<std::mutex> lock(m);
    lines.push_back(l);
  });
  {
    PinpadTestBench b;
    b.device = &b.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
    b.device->setReplyDelay(std::chrono::milliseconds(60));
    b.pad->connect();
    ASSERT_TRUE(b.runUntil([&] { return b.pad->connstate() == 2; }));
    EXPECT_FALSE(b.pad->transport().caching());
  }
  KXUNISDKGlobals::setLogHandler({});
  std::lock_guard<std::mutex> lock(m);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("PPad: COMM CACHING: 1", 0) == 0; }));
  EXPECT_TRUE(std::find(lines.begin(), lines.end(), "PPad: CACHING DISABLED") != lines.end());
}

TEST(PPadConnection, AccessoryClaimRules) {
  devices::AccessoryTestBench bench;
  auto pad = PPad::create(*bench.manager);
  const std::vector<std::string> pinpad = {"com.sabrel.pinpad", "com.other"};
  EXPECT_FALSE(pad->accessoryShouldConnect("Pinpad", pinpad));  // not asked to connect
  pad->managedConnect();
  struct Case {
    const char* name;
    std::vector<std::string> protocols;
    bool claimed;
  } cases[] = {{"SKYRIK5000G", pinpad, true},
               {"SKYRIK PPAD1", pinpad, false},
               {"X", {"COM.Sabrel.PEngine"}, true},
               {"X", {"com.brevane.cardreader-nine"}, true},
               {"X", {"com.other", "com.sabrel.pinpad"}, false},
               {"X", {}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto claim = pad->accessoryShouldConnect(c.name, c.protocols);
    EXPECT_EQ(claim.has_value(), c.claimed);
    if (claim) {
      EXPECT_EQ(*claim, c.protocols);
    }
  }
  EXPECT_EQ(pad->getTimeRemainingToPowerOff(nullptr), 13);  // nothing happened yet
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

int connectTo(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(PPadConnection, AStreamPairIsIdentifiedOnTheCallersThread) {
  devices::AccessoryTestBench bench;
  auto pad = PPad::create(*bench.manager);
  auto d = std::make_shared<devices::RecordingPPadDelegate>();
  pad->addDelegate(d);
  devices::PinpadPeer peer(PinpadPersona::skyrik500());
  ASSERT_TRUE(peer.start());
  const int fd = connectTo(peer.port());
  ASSERT_GE(fd, 0);
  auto pair = accessory::makeFdStreamPair(fd);
  EXPECT_EQ(pad->connectWithStreams(pair.input, pair.output), 0);
  EXPECT_EQ(pad->connstate(), 2);
  EXPECT_EQ(pad->deviceName(), "SKYRIK500");
  EXPECT_EQ(pad->connectWithStreams(pair.input, pair.output), 9);  // already connected
  ASSERT_TRUE(d->log().waitForLine("ppadConnectionState:2"));

  // The far end goes: "connecting", and commands fail at once.
  peer.dropLink();
  ASSERT_TRUE(devices::AccessoryTestBench::pumpUntil([&] { return pad->connstate() == 1; }));
  EXPECT_EQ(pad->sysTest(), 16);
  pad->disconnect();
}

}  // namespace
}  // namespace kestra
