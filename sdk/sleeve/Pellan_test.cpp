// The sleeve driver end to end: a simulated sleeve attached through the accessory layer.

#include "sdk/sleeve/Pellan.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/accessory/FdStream.h"
#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXBatteryInfo.h"
#include "testing/devices/base/JoiningThread.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra {
namespace {

using devices::JoiningThread;
using devices::RecordingPellanDelegate;
using devices::SimulatedSleeve;
using devices::SleeveProtocol;
using devices::SleeveTestBench;
using foundation::Bytes;

SimulatedSleeve::Options sleeveOptions(std::string firmware = "2.63",
                                       std::string model = "XBCM",
                                       std::string name = "Pellan Pro") {
  SimulatedSleeve::Options o;
  o.config.firmware = std::move(firmware);
  o.config.model = std::move(model);
  o.config.name = std::move(name);
  return o;
}

// Moves a manual clock on in the background so that identification's pauses and short
// reply waits pass without real waiting.
class ClockPump {
 public:
  explicit ClockPump(foundation::ManualClock& clock) : clock_(clock), thread_([this] {
    while (!stop_) {
      clock_.advance(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }) {}
  ~ClockPump() {
    stop_ = true;
    thread_.join();
  }

 private:
  foundation::ManualClock& clock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(PellanConnection, DisconnectOrALostLinkEndsTheSetUpOfASleeveThatDoesNotAnswer) {
  // The sleeve answers nothing, so the first set-up command waits for its reply on a manual
  // clock that never moves: only the state change can end it.
  for (bool dropLink : {false, true}) {
    SCOPED_TRACE(dropLink ? "link dropped" : "disconnect");
    foundation::ScopedManualClock clock;
    SleeveTestBench bench(sleeveOptions());
    bench.sleeve->setSilent(true);
    ASSERT_TRUE(bench.sleeve->attach());
    bench.pellan->connect();
    // The set-up's first command (the magnetic reader's) is out and waiting for its reply.
    ASSERT_TRUE(bench.runUntil([&] { return bench.sleeve->received(1).size() >= 6; }));
    ASSERT_EQ(bench.pellan->connstate(), 2);

    if (dropLink)
      bench.sleeve->detach();  // (a link dropped with the accessory still there is claimed again)
    else
      bench.pellan->disconnect();
    // Once the set-up has ended, time may pass: a search after a lost link may wait on the
    // clock before it gives up on the accessory that went.
    ASSERT_TRUE(bench.runUntil([&] {
      if (bench.pellan->connstate() != 2) clock->advance(std::chrono::milliseconds(100));
      return !bench.manager->searchInProgress();
    }));
    EXPECT_EQ(bench.pellan->connstate(), dropLink ? 1 : 0);
    // The connected state was never announced: the set-up did not finish.
    for (const auto& c : bench.delegate->calls()) EXPECT_NE(c, "connectionState:2");
  }
}

TEST(PellanConnection, AttachClaimIdentifyAndConnectedStateReachEveryDelegateOnMain) {
  std::vector<std::string> order;  // outlives the bench, whose teardown still reports
  SleeveTestBench bench(sleeveOptions());
  auto second = std::make_shared<RecordingPellanDelegate>(
      std::vector<std::string_view>{sel::connectionState}, "B:");
  bench.pellan->addDelegate(second);
  bench.delegate->onCall = [&](const std::string& c) {
    if (c.rfind("connectionState", 0) == 0) order.push_back("A:" + c);
  };
  second->onCall = [&](const std::string& c) { order.push_back(c); };

  ASSERT_TRUE(bench.connect());
  EXPECT_EQ(bench.pellan->connstate(), 2);
  EXPECT_EQ(bench.pellan->deviceName(), "Pellan Pro");
  EXPECT_EQ(bench.pellan->deviceModel(), "XBCM");
  EXPECT_EQ(bench.pellan->firmwareRevision(), "2.63.0");
  EXPECT_EQ(bench.pellan->getFWVER(), 2063);
  EXPECT_EQ(bench.pellan->getFirmwareVersion(), 263);
  ASSERT_TRUE(bench.runUntil([&] { return second->count() >= 2; }));
  // Last registered first, state 1 (connect asked) then 2 (identified).
  EXPECT_EQ(order, (std::vector<std::string>{"B:connectionState:1", "A:connectionState:1",
                                              "B:connectionState:2", "A:connectionState:2"}));
  EXPECT_TRUE(bench.delegate->allOnMainThread());
  EXPECT_TRUE(second->allOnMainThread());

  // The set-up of a connected sleeve: magnetic mode (0 sent as 2 on firmware 2.63) and
  // reader on, engine power, sleeve-side barcode numbering for an engine of kind 1.
  bench.sleeve->withProtocol([](SleeveProtocol& p) {
    EXPECT_EQ(p.lastCommand(1, 4), (Bytes{0x00, 0x02}));
    EXPECT_TRUE(p.magneticEnabled);
    EXPECT_EQ(p.lastCommand(0, 24), (Bytes{0x01}));
    EXPECT_EQ(p.lastCommand(0, 21), (Bytes{0x00, 0x01}));
    EXPECT_FALSE(p.lastCommand(0, 1).has_value());  // no clock on this model, no ident
  });
  EXPECT_EQ(bench.pellan->barcodeGetTypeMode(), 1);
  ASSERT_TRUE(bench.runUntil([&] {
    for (const auto& c : bench.delegate->calls())
      if (c == "deviceFeatureSupported:2,0") return true;
    return false;
  }));
}

TEST(PellanConnection, SilentSleeveIsIdentifiedByCommandAfterTheWakeBytes) {
  foundation::ScopedManualClock clock;
  ClockPump pump(*clock);
  auto options = sleeveOptions("1.2.3.4", "XBCMBL");
  options.config.wakeRequired = true;
  options.config.serialNumber = "SN42";
  options.announceFirmware = false;
  SleeveTestBench bench(options);
  // The accessory announces no firmware revision, so the driver asks the sleeve, which
  // answers only once it has heard the wake bytes.
  ASSERT_TRUE(bench.connect());
  EXPECT_EQ(bench.pellan->serialNumber(), "SN42");
  EXPECT_EQ(bench.pellan->hardwareRevision(), "1.0.0");
  EXPECT_EQ(bench.pellan->deviceModel(), "XBCMBL");
  EXPECT_EQ(bench.pellan->getFWVER(), 2003);
  EXPECT_EQ(bench.pellan->firmwareRevision(), "2.03.4");
  const Bytes sent = bench.sleeve->received(0);
  const Bytes wake = foundation::bytesOf("KX@\r");
  EXPECT_NE(std::search(sent.begin(), sent.end(), wake.begin(), wake.end()), sent.end());
  // After identification every command gets the full reply wait again.
  int mode = -1;
  EXPECT_TRUE(bench.pellan->barcodeGetScanButtonMode(&mode));
  EXPECT_EQ(mode, 1);
  ASSERT_TRUE(bench.runUntil([&] {
    for (const auto& c : bench.delegate->calls())
      if (c == "deviceFeatureSupported:2,3") return true;
    return false;
  }));
}

TEST(PellanConnection, OneProtocolStringGivesAOneChannelLinkWithFoldedMagneticCommands) {
  auto options = sleeveOptions();
  options.config.channels = 1;
  SleeveTestBench bench(options);
  ASSERT_TRUE(bench.connect());
  EXPECT_TRUE(bench.pellan->msDisable());
  bench.sleeve->withProtocol([](SleeveProtocol& p) {
    EXPECT_EQ(p.hostFrames().back().channel, 0);
    EXPECT_EQ(p.hostFrames().back().code, 0xE1);
    EXPECT_FALSE(p.magneticEnabled);
  });
  // Magnetic events come back folded too.
  bench.delegate->clear();
  bench.sleeve->swipe(std::string("%B4111^X^25"), std::string(";4111=25"));
  ASSERT_TRUE(bench.runUntil([&] { return bench.delegate->count() > 0; }));
  EXPECT_EQ(bench.delegate->calls()[0], "magneticCardData:%B4111^X^25,;4111=25,(null)");
}

TEST(PellanConnection, UnknownAccessoryNamesAndDisconnectedDriversClaimNothing) {
  SleeveTestBench bench(sleeveOptions());
  const std::vector<std::string> two = {"com.sabrel.pellan.pro.bar", "com.sabrel.pellan.pro.msr"};
  EXPECT_FALSE(bench.pellan->accessoryShouldConnect("Pellan Pro", two));  // no connect asked
  bench.pellan->managedConnect();
  EXPECT_EQ(bench.pellan->accessoryShouldConnect("Pellan Pro", two), two);
  EXPECT_EQ(bench.pellan->accessoryShouldConnect("Pellan Pro", {two[0]}),
            (std::vector<std::string>{two[0]}));
  EXPECT_FALSE(bench.pellan->accessoryShouldConnect("Printer 58", two));
  // The family prefix alone needs both protocol strings.
  EXPECT_TRUE(bench.pellan->accessoryShouldConnect("Pellan Xyz", two));
  EXPECT_FALSE(bench.pellan->accessoryShouldConnect("Pellan Xyz", {two[0]}));
}

TEST(PellanConnection, HubPortIsAlwaysIdentifiedByCommand) {
  // The accessory announces a name and a firmware revision, but a hub port's model is
  // "trelmo": the driver asks the sleeve itself.
  auto options = sleeveOptions("2.63", "trelmo");
  options.config.serialNumber = "HUB7";
  SleeveTestBench bench(options);
  ASSERT_TRUE(bench.connect());
  EXPECT_EQ(bench.pellan->hardwareRevision(), "1.0.0");  // the accessory said "1.0"
  EXPECT_EQ(bench.pellan->serialNumber(), "HUB7");
  EXPECT_EQ(bench.pellan->getFWVER(), 2063);
  bench.sleeve->withProtocol(
      [](SleeveProtocol& p) { EXPECT_EQ(p.lastCommand(0, 1), (Bytes{0x05})); });
}

TEST(PellanConnection, ADelegateMayConnectAgainFromItsDisconnectNotice) {
  SleeveTestBench bench(sleeveOptions());
  ASSERT_TRUE(bench.connect());
  bench.delegate->clear();
  Pellan* pellan = bench.pellan.get();
  bench.delegate->onCall = [pellan](const std::string& c) {
    if (c == "connectionState:0") pellan->managedConnect();
  };
  // On the main thread the delegates hear of the change from inside the call.
  bench.pellan->disconnect();
  bench.delegate->onCall = nullptr;
  EXPECT_EQ(bench.pellan->connstate(), 1);
  EXPECT_EQ(bench.delegate->calls(),
            (std::vector<std::string>{"connectionState:0", "connectionState:1"}));
}

class ConnectedPellan : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bench.connect()); bench.delegate->clear(); }

  SleeveProtocol& proto() { return *protoPtr(); }
  SleeveProtocol* protoPtr() {
    return bench.sleeve->withProtocol([](SleeveProtocol& p) { return &p; });
  }
  std::optional<Bytes> last(int channel, uint8_t code) {
    return bench.sleeve->withProtocol(
        [&](SleeveProtocol& p) { return p.lastCommand(channel, code); });
  }
  size_t frameCount() {
    return bench.sleeve->withProtocol([](SleeveProtocol& p) { return p.hostFrames().size(); });
  }
  template <class F>
  void sleeve(F f) {
    bench.sleeve->withProtocol(f);
  }
  bool waitCalls(size_t n) { return bench.runUntil([&] { return bench.delegate->count() >= n; }); }

  SleeveTestBench bench{sleeveOptions()};
};

TEST_F(ConnectedPellan, ReplyStatusesBecomeErrors) {
  struct Case {
    uint8_t status;
    int code;
    const char* text;
  } cases[] = {
      {4, -17, "Invalid command: channel=0, command=3a"},
      {9, -5, "Module busy: channel=0, command=3a"},
      {12, -1, "Unknown error 12/3: channel=0, command=3a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    sleeve([&](SleeveProtocol& p) { p.nextStatus = std::make_pair(c.status, uint8_t(3)); });
    Error e;
    bool on;
    EXPECT_FALSE(bench.pellan->barcodeGetUVLights(&on, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST_F(ConnectedPellan, WrongEchoAndOversizedRepliesFailAtOnceAndTheLinkRecovers) {
  Error e;
  int mode;
  sleeve([](SleeveProtocol& p) { p.nextWrongEcho = true; });
  EXPECT_FALSE(bench.pellan->barcodeGetScanButtonMode(&mode, &e));
  EXPECT_EQ(e.text, "Wrong command received: channel=0. Expected: 0a but received: 0b");
  sleeve([](SleeveProtocol& p) { p.nextOversized = true; });
  EXPECT_FALSE(bench.pellan->barcodeGetScanButtonMode(&mode, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Wrong packet length received: channel=0, command=0a");
  // The rest of the oversized frame is dropped as it arrives; the next command works.
  ASSERT_TRUE(bench.sleeve->waitUntilHostRead(0));
  EXPECT_TRUE(bench.pellan->barcodeGetScanButtonMode(&mode, &e)) << e.text;
  EXPECT_EQ(mode, 1);
}

TEST_F(ConnectedPellan, RepliesSplitOrPrecededByNoiseStillAnswerTheCommand) {
  using devices::ScriptedFault;
  const ScriptedFault faults[] = {ScriptedFault::split(), ScriptedFault::split({1, 6, 7}),
                                  ScriptedFault::garbageBefore({0x55, 0x00, 0x01})};
  for (const auto& fault : faults) {
    bench.sleeve->frames().script(0x0A, fault);
    Error e;
    int mode = -1;
    EXPECT_TRUE(bench.pellan->barcodeGetScanButtonMode(&mode, &e)) << e.text;
    EXPECT_EQ(mode, 1);
  }
}

TEST_F(ConnectedPellan, MissingReplyIsLostAfterSevenSecondsOfTheClock) {
  foundation::ScopedManualClock clock;
  sleeve([](SleeveProtocol& p) { p.unanswered.insert(9); });
  bench.sleeve->clearReceived();
  Error e;
  std::atomic<bool> done{false};
  JoiningThread t(
      [&] {
        int mode;
        EXPECT_FALSE(bench.pellan->barcodeGetScanMode(&mode, &e));
        done = true;
      },
      [&] { clock->advance(std::chrono::minutes(1)); });
  ASSERT_TRUE(bench.sleeve->waitForReceived(0, 6));  // the command's frame went out
  ASSERT_TRUE(clock->waitForWaiters(1));             // and it waits for the reply
  // Short of seven seconds the command still waits...
  clock->advance(std::chrono::seconds(7) - std::chrono::milliseconds(1));
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_FALSE(done.load());
  // ...and past them it is lost (a command that began its wait only after the clock first
  // moved is carried past its own seven seconds as well).
  ASSERT_TRUE(bench.advanceUntil(*clock, [&] { return done.load(); }));
  t.join();
  EXPECT_EQ(e.text, "Command response lost: channel=0, command=09");
}

TEST_F(ConnectedPellan, DetachDuringAWaitEndsItAtOnce) {
  // The clock stands still: only the detach can end the command's reply wait.
  foundation::ScopedManualClock clock;
  sleeve([](SleeveProtocol& p) { p.unanswered.insert(9); });
  // Cleared before the command starts, so that its frame is what the sleeve is seen to get.
  bench.sleeve->clearReceived();
  Error e;
  std::atomic<bool> done{false};
  JoiningThread t(
      [&] {
        int mode;
        EXPECT_FALSE(bench.pellan->barcodeGetScanMode(&mode, &e));
        done = true;
      },
      [&] { clock->advance(std::chrono::minutes(1)); });
  ASSERT_TRUE(bench.sleeve->waitForReceived(0, 6));
  bench.sleeve->detach();
  ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
  t.join();
  EXPECT_EQ(e.text, "Command response lost: channel=0, command=09");
  ASSERT_TRUE(bench.runUntil([&] { return bench.pellan->connstate() == 1; }));
  EXPECT_TRUE(bench.runUntil([&] {
    auto c = bench.delegate->calls();
    return std::find(c.begin(), c.end(), "connectionState:1") != c.end();
  }));
  EXPECT_EQ(bench.pellan->deviceName(), "");
}

TEST_F(ConnectedPellan, ASleeveThatComesBackIsClaimedAndConnectedAgain) {
  bench.sleeve->detach();
  ASSERT_TRUE(bench.runUntil([&] { return bench.pellan->connstate() == 1; }));
  // The sleeve is away until the registry has seen it go (the driver may notice the lost
  // link first): a descriptor that vanished and came back between two looks of the
  // registry's watcher, with its file numbers reused, would not be a new attachment.
  ASSERT_TRUE(bench.runUntil([&] { return bench.registry->connectedAccessories().empty(); }));
  bench.delegate->clear();
  ASSERT_TRUE(bench.sleeve->attach());
  ASSERT_TRUE(bench.runUntil([&] { return bench.pellan->connstate() == 2; }));
  EXPECT_EQ(bench.pellan->deviceName(), "Pellan Pro");
  int mode = -1;
  EXPECT_TRUE(bench.pellan->barcodeGetScanButtonMode(&mode));
  bench.pellan->disconnect();
  EXPECT_EQ(bench.pellan->connstate(), 0);
  ASSERT_TRUE(bench.runUntil([&] {
    auto c = bench.delegate->calls();
    return std::find(c.begin(), c.end(), "connectionState:0") != c.end();
  }));
  Error e;
  EXPECT_FALSE(bench.pellan->barcodeGetScanButtonMode(&mode, &e));
  EXPECT_EQ(e.text, "Device not connected");
}

TEST_F(ConnectedPellan, LinkDroppedMidFrameEndsTheWaitAndTheHalfFrameIsNeverDelivered) {
  bench.sleeve->dropLinkAfter(5);
  int mode;
  Error e;
  std::atomic<bool> done{false};
  std::atomic<int> stateWhenEnded{-1};
  JoiningThread t([&] {
    EXPECT_FALSE(bench.pellan->barcodeGetScanButtonMode(&mode, &e));
    // The state moves to 1 before the wait ends; read at once, since the sleeve, still
    // attached, may be claimed and connected again soon after.
    stateWhenEnded = bench.pellan->connstate();
    done = true;
  });
  ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
  t.join();
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(stateWhenEnded.load(), 1);
  EXPECT_TRUE(bench.runUntil([&] {
    auto c = bench.delegate->calls();
    return std::find(c.begin(), c.end(), "connectionState:1") != c.end();
  }));
}

TEST_F(ConnectedPellan, BarcodeEventReachesTheDelegateWhateverTheReadBoundaries) {
  const auto event = bench.sleeve->withProtocol(
      [](SleeveProtocol& p) { return p.barcodeEvent('T', "12345"); });
  for (size_t cut = 1; cut < event.frame.size(); ++cut) {
    SCOPED_TRACE(cut);
    bench.delegate->clear();
    bench.sleeve->emit(event, {cut});
    ASSERT_TRUE(waitCalls(1));
    EXPECT_EQ(bench.delegate->calls(), std::vector<std::string>{"kxdev_barcodeData:543132333435"});
  }
  // Two events in one read.
  bench.delegate->clear();
  Bytes both = event.frame;
  both.insert(both.end(), event.frame.begin(), event.frame.end());
  bench.sleeve->send(0, both);
  ASSERT_TRUE(waitCalls(2));
  EXPECT_TRUE(bench.delegate->allOnMainThread());
}

TEST_F(ConnectedPellan, BarcodeGoesToTheNotifierWhenNoDelegateTakesTheRawForm) {
  bench.pellan->removeDelegate(bench.delegate);
  auto listener = std::make_shared<RecordingPellanDelegate>(
      std::vector<std::string_view>{sel::barcodeData_type});
  bench.pellan->addDelegate(listener);
  bench.sleeve->sendBarcode("0123", 'T');  // 'T' is Code 128 for an engine of kind 1
  ASSERT_TRUE(bench.runUntil([&] { return listener->count() > 0; }));
  EXPECT_EQ(listener->calls(), std::vector<std::string>{"barcodeData:0123,7"});
  EXPECT_TRUE(listener->allOnMainThread());
}

TEST_F(ConnectedPellan, ButtonMaskOnOlderFirmware) {
  for (uint8_t state : {0x01, 0x03, 0x00}) bench.sleeve->pressButton(state);
  ASSERT_TRUE(waitCalls(4));
  EXPECT_EQ(bench.delegate->calls(),
            (std::vector<std::string>{"pellanButtonPressed:0", "pellanButtonPressed:1",
                                      "pellanButtonReleased:0", "pellanButtonReleased:1"}));
}

TEST(PellanEvents, ButtonStateBitAndNumberOnNewerFirmware) {
  SleeveTestBench bench(sleeveOptions("5.60"));
  ASSERT_TRUE(bench.connect());
  bench.delegate->clear();
  bench.sleeve->pressButton(2 << 1 | 1);
  bench.sleeve->pressButton(2 << 1);
  ASSERT_TRUE(bench.runUntil([&] { return bench.delegate->count() >= 2; }));
  EXPECT_EQ(bench.delegate->calls(),
            (std::vector<std::string>{"pellanButtonPressed:2", "pellanButtonReleased:2"}));
}

TEST_F(ConnectedPellan, MagneticEventsReachTheirCallbacks) {
  bench.sleeve->swipe(std::string("%B4111111111111111^DOE/J^2512"), std::string(";4111111111111111=2512"));
  bench.sleeve->sendRawCard({0x01, 0x02, 0x03});
  bench.sleeve->sendEvent(1, 0x02, {0xF5, 'J', 'I', 'S'});
  bench.sleeve->sendEvent(0, 0x45, {0x22, 0x30, 0x00, 0xE2, 0x00});
  bench.sleeve->sendEvent(0, 0x25, {0x01, 'h', 'i'});
  ASSERT_TRUE(waitCalls(5));
  // The reader's channel (1) and the barcode channel (0) are separate links: each keeps
  // its own order, but the two may interleave either way.
  std::vector<std::string> reader, barcode;
  for (const auto& c : bench.delegate->calls())
    (c.rfind("kxdev_", 0) == 0 ? barcode : reader).push_back(c);
  EXPECT_EQ(reader,
            (std::vector<std::string>{
                "magneticCardData:%B4111111111111111^DOE/J^2512,;4111111111111111=2512,(null)",
                "magneticCardRawData:010203", "magneticJISCardData:JIS"}));
  EXPECT_EQ(barcode, (std::vector<std::string>{"kxdev_uhfCard:12288,E200", "kxdev_debug:hi,0"}));
}

TEST_F(ConnectedPellan, GenericEventsArriveOnTheDeliveringThread) {
  bench.sleeve->sendEvent(0, 0x51, {0xAB, 0xCD});
  ASSERT_TRUE(bench.runUntil([&] { return bench.delegate->count() > 0; }));
  EXPECT_EQ(bench.delegate->calls(), std::vector<std::string>{"handleEvent:ABCD"});
}

TEST_F(ConnectedPellan, CommandsSendTheirExactBytes) {
  const int beep[] = {200, 20};
  const int tones[] = {1000, 50, 2000, 100};
  struct Case {
    const char* name;
    std::function<bool(Pellan&)> call;
    int channel;
    uint8_t code;
    Bytes sent;
  } cases[] = {
      {"start scan", [](Pellan& p) { return p.barcodeStartScan(); }, 0, 3, {}},
      {"stop scan", [](Pellan& p) { return p.barcodeStopScan(); }, 0, 4, {}},
      {"scan time-out 60", [](Pellan& p) { return p.barcodeSetScanTimeout(60); }, 0, 8, {0x00, 0x3C}},
      {"scan button mode", [](Pellan& p) { return p.barcodeSetScanButtonMode(0); }, 0, 10, {0x00, 0x00}},
      {"scan mode", [](Pellan& p) { return p.barcodeSetScanMode(MODE_MULTI_SCAN); }, 0, 9, {0x00, 0x01}},
      {"scan beep on", [&](Pellan& p) { return p.barcodeSetScanBeep(true, 10, beep, 8); }, 0, 11,
       {0x00, 0x01, 0x0A, 0x00, 0xC8, 0x00, 0x14}},
      {"scan beep on, no tones", [](Pellan& p) { return p.barcodeSetScanBeep(true, 30, nullptr, 0); },
       0, 11, {0x00, 0x01, 0x1E}},
      {"scan beep off", [](Pellan& p) { return p.barcodeSetScanBeep(false, 0, nullptr, 0); }, 0, 11,
       {0x00, 0x00}},
      {"sound at full volume", [&](Pellan& p) { return p.playSound(100, tones, 16); }, 0, 15,
       {0x32, 0x03, 0xE8, 0x00, 0x32, 0x07, 0xD0, 0x00, 0x64}},
      {"sound, volume alone", [](Pellan& p) { return p.playSound(41, nullptr, 0); }, 0, 15, {0x14}},
      {"charging on", [](Pellan& p) { return p.setCharging(true); }, 0, 16, {0x00, 0x01}},
      {"sync button", [](Pellan& p) { return p.setSyncButtonMode(0); }, 0, 17, {0x00, 0x00}},
      {"UV lights", [](Pellan& p) { return p.barcodeSetUVLights(true); }, 0, 58, {0x00, 0x0F, 0x01}},
      {"beep on ready", [](Pellan& p) { return p.barcodeSetBeepOnReady(false); }, 0, 58, {0x00, 0x10, 0x00}},
      {"battery max capacity", [](Pellan& p) { return p.setBatteryMaxCapacity(2600); }, 0, 58,
       {0x00, 0x07, 0x0A, 0x28}},
      {"charge current mode", [](Pellan& p) { return p.setInternalBatteryChargeCurrentMode(true); }, 0,
       58, {0x00, 0x0E, 0x01}},
      {"USB current", [](Pellan& p) { return p.setUSBChargeCurrent(1000); }, 0, 58, {0x00, 0x02, 0x03, 0xE8}},
      {"speaker", [](Pellan& p) { return p.uiEnableSpeaker(true); }, 0, 58, {0x00, 0x06, 0x01}},
      {"speaker auto", [](Pellan& p) { return p.uiEnableSpeakerAutoControl(false); }, 0, 58, {0x00, 0x09, 0x00}},
      {"speaker button", [](Pellan& p) { return p.uiEnableSpeakerButton(true); }, 0, 58, {0x00, 0x0A, 0x01}},
      {"LEDs", [](Pellan& p) { return p.uiControlLEDsWithBitMask(0x01020304); }, 0, 52,
       {0x01, 0x02, 0x03, 0x04}},
      {"vibration", [](Pellan& p) { return p.uiEnableVibrationForTime(1.5f); }, 0, 53, {0x05, 0xDC}},
      {"power off", [](Pellan& p) { return p.sysPowerOff(); }, 0, 1, {0x01}},
      {"save settings", [](Pellan& p) { return p.sysSaveSettingsToFlash(); }, 0, 1, {0x02}},
      {"mute", [](Pellan& p) { return p.sysMute(); }, 0, 1, {0x0D}},
      {"pass-through", [](Pellan& p) { return p.sysEnterPassThrough(); }, 0, 1, {0x10}},
      {"magnetic reader off", [](Pellan& p) { return p.msDisable(); }, 1, 1, {}},
      {"magnetic mode 1", [](Pellan& p) { return p.msSetCardDataMode(1); }, 1, 4, {0x00, 0x01}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_TRUE(c.call(*bench.pellan)) << e.text;
    sleeve([&](SleeveProtocol& p) {
      ASSERT_FALSE(p.hostFrames().empty());
      const auto& f = p.hostFrames().back();
      EXPECT_EQ(f.channel, c.channel);
      EXPECT_EQ(f.code, c.code);
      EXPECT_EQ(f.data, c.sent);
    });
  }
}

TEST_F(ConnectedPellan, BadArgumentsAreRefusedBeforeAnythingIsSent) {
  const int six[] = {1, 2};
  struct Case {
    const char* name;
    std::function<bool(Pellan&, Error*)> call;
    const char* text;
  } cases[] = {
      {"scan time-out 61", [](Pellan& p, Error* e) { return p.barcodeSetScanTimeout(61, e); },
       "Timeout must be between 0 and 255"},
      {"button mode 2", [](Pellan& p, Error* e) { return p.barcodeSetScanButtonMode(2, e); },
       "Mode can be BUTTON_DISABLED or BUTTON_ENABLED"},
      {"sync mode 2", [](Pellan& p, Error* e) { return p.setSyncButtonMode(2, e); },
       "Mode can be BUTTON_DISABLED or BUTTON_ENABLED"},
      {"scan mode 5", [](Pellan& p, Error* e) { return p.barcodeSetScanMode(5, e); },
       "Mode can be MODE_SINGLE_SCAN, MODE_MULTI_SCAN, MODE_MOTION_DETECT, "
       "MODE_SINGLE_SCAN_RELEASE, MODE_MULTI_SCAN_NO_DUPLICATES"},
      {"beep length 6", [&](Pellan& p, Error* e) { return p.barcodeSetScanBeep(true, 5, six, 6, e); },
       "Length must be no more than 200 bytes"},
      {"beep length 202", [&](Pellan& p, Error* e) { return p.barcodeSetScanBeep(true, 5, six, 202, e); },
       "Length must be no more than 200 bytes"},
      {"beep volume 101", [](Pellan& p, Error* e) { return p.barcodeSetScanBeep(true, 101, nullptr, 0, e); },
       "Volume can be between 0 and 100"},
      {"sound length 202", [&](Pellan& p, Error* e) { return p.playSound(5, six, 202, e); },
       "Length must be no more than 200 bytes"},
      {"sound length 6", [&](Pellan& p, Error* e) { return p.playSound(5, six, 6, e); },
       "Length must be no more than 200 bytes"},
      {"type mode 3", [](Pellan& p, Error* e) { return p.barcodeSetTypeMode(3, e); },
       "Mode can be BARCODE_TYPE_DEFAULT, BARCODE_TYPE_EXTENDED or BARCODE_TYPE_ISO15424"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = frameCount();
    Error e;
    EXPECT_FALSE(c.call(*bench.pellan, &e));
    EXPECT_EQ(e.code, -9);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(frameCount(), before);
  }
}

TEST_F(ConnectedPellan, PinpadPassThroughBuildsTheAnswerPacket) {
  // [x][sub-command][x][length BE][data]; the simulator's module echoes what it was sent.
  const Bytes answer = bench.pellan->ppadPassThrough({0x00, 0x07, 0x00, 0x00, 0x02, 0xAA, 0xBB});
  EXPECT_EQ(last(0, 0x42), (Bytes{0x07, 0xAA, 0xBB}));
  Bytes expected = {0x00, 0x00, 0x00, 0x03, 0x07, 0xAA, 0xBB};
  uint8_t lrc = 0;
  for (uint8_t b : expected) lrc ^= b;
  expected.push_back(lrc);
  EXPECT_EQ(answer, expected);
  // A failure carries the low byte of the error code and no data.
  sleeve([](SleeveProtocol& p) { p.nextStatus = std::make_pair(uint8_t(9), uint8_t(0)); });
  const Bytes failed = bench.pellan->ppadPassThrough({0x00, 0x07, 0x00, 0x00, 0x00});
  EXPECT_EQ(failed, (Bytes{0x00, 0xFB, 0x00, 0x00, 0xFB}));  // -5
  // A length field longer than the packet is cut to what the packet holds.
  bench.pellan->ppadPassThrough({0x00, 0x01, 0x00, 0x10, 0x00, 0x55});
  EXPECT_EQ(last(0, 0x42), (Bytes{0x01, 0x55}));
}

TEST_F(ConnectedPellan, PinpadCommandRefusesLengthsTheFrameCannotCarry) {
  const Bytes data(2042, 0x11);  // with the sub-command byte, one more than a frame holds
  struct Case {
    const char* name;
    const uint8_t* data;
    uint64_t length;
    const char* text;
  } cases[] = {
      {"one byte too many", data.data(), data.size(), "Input length is too big"},
      {"64-bit length", data.data(), UINT64_MAX, "Input length is too big"},
      {"length without data", nullptr, 3, "Invalid parameter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = frameCount();
    Error e;
    EXPECT_FALSE(bench.pellan->ppadCommand(0x01, c.data, c.length, &e));
    EXPECT_EQ(e.code, -9);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(frameCount(), before);
  }
  // The largest that fits goes out (the simulator's echo of it is too big to come back).
  bench.pellan->ppadCommand(0x01, data.data(), data.size() - 1);
  EXPECT_EQ(last(0, 0x42)->size(), data.size());
}

TEST_F(ConnectedPellan, FeaturesOfTheConnectedSleeve) {
  EXPECT_EQ(bench.pellan->getSupportedFeature(0), 6);
  EXPECT_EQ(bench.pellan->getSupportedFeature(1), 1);
  EXPECT_TRUE(bench.pellan->featCheck("CM"));
  Error e;
  EXPECT_EQ(bench.pellan->getSupportedFeature(6, &e), 0);
  EXPECT_EQ(e.text, "Feature not supported on the connected device(s)");
  bool ready = false;
  EXPECT_TRUE(bench.pellan->barcodeEngineCheckReady(&ready));  // engine kind 1: no command
  EXPECT_TRUE(ready);
  EXPECT_FALSE(last(0, 63).has_value());
  EXPECT_FALSE(bench.pellan->taCommand({0x01}, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, "TransArmor not supported on this device");
}

TEST_F(ConnectedPellan, ScanModeIsCachedAfterASuccessfulSet) {
  int mode = -1;
  EXPECT_TRUE(bench.pellan->barcodeGetScanMode(&mode));
  EXPECT_EQ(mode, 0);
  EXPECT_TRUE(bench.pellan->barcodeSetScanMode(MODE_MOTION_DETECT));
  const size_t before = frameCount();
  EXPECT_TRUE(bench.pellan->barcodeGetScanMode(&mode));
  EXPECT_EQ(mode, MODE_MOTION_DETECT);
  EXPECT_EQ(frameCount(), before);
}

TEST(PellanCommands, NoDuplicatesModeIsSentAsMultiScanToNewerOpticonEngines) {
  SleeveTestBench bench(sleeveOptions("5.10", "OBCM"));
  ASSERT_TRUE(bench.connect());
  EXPECT_TRUE(bench.pellan->barcodeSetScanMode(MODE_MULTI_SCAN_NO_DUPLICATES));
  bench.sleeve->withProtocol(
      [](SleeveProtocol& p) { EXPECT_EQ(p.lastCommand(0, 9), (Bytes{0x00, 0x01})); });
  int mode = -1;
  EXPECT_TRUE(bench.pellan->barcodeGetScanMode(&mode));
  EXPECT_EQ(mode, MODE_MULTI_SCAN);
}

TEST_F(ConnectedPellan, AnswersAreParsed) {
  sleeve([](SleeveProtocol& p) {
    p.scanTimeout = 25;
    p.magneticMode = 2;
    p.settings[0x02] = {0x09, 0x60};
    p.settings[0x06] = {0x01};
    p.settings[0x04] = {0x00, 0x00, 0x01, 0x2C};
    p.settings[0x03] = {0x00, 0x00, 0x00, 0x78};
    p.chargingState = 1;
  });
  int i = -1;
  bool b = false;
  double idle = -1, disc = -1;
  EXPECT_TRUE(bench.pellan->barcodeGetScanTimeout(&i));
  EXPECT_EQ(i, 25);
  EXPECT_TRUE(bench.pellan->msGetCardDataMode(&i));
  EXPECT_EQ(i, 0);  // firmware 2.63 reads the reader's 2 as mode 0
  EXPECT_TRUE(bench.pellan->getUSBChargeCurrent(&i));
  EXPECT_EQ(i, 2400);
  EXPECT_TRUE(bench.pellan->uiIsSpeakerEnabled(&b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(bench.pellan->getCharging(&b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(bench.pellan->getAutoOffWhenIdle(&idle, &disc));
  EXPECT_EQ(idle, 300);
  EXPECT_EQ(disc, 120);
  sleeve([](SleeveProtocol& p) { p.settings[0x03] = {0x00, 0x78}; });
  EXPECT_TRUE(bench.pellan->getAutoOffWhenIdle(&idle, &disc));
  EXPECT_EQ(disc, 30.0);  // a short answer leaves the default
  sleeve([](SleeveProtocol& p) { p.settings[0x02] = {0x09}; });
  Error e;
  EXPECT_FALSE(bench.pellan->getUSBChargeCurrent(&i, &e));
  EXPECT_EQ(e.text, "Invalid data length received");
  const auto ident = bench.pellan->sysGetIdent();
  ASSERT_TRUE(ident);
  EXPECT_EQ(*ident, (std::vector<std::string>{"PN0001", "1", "Pellan Pro", "XBCM", "2.63"}));
}

TEST_F(ConnectedPellan, ClockIsSetToTheGivenDateInUtcAndReadBack) {
  // 2031-04-05 06:07:08 UTC
  const auto date = std::chrono::system_clock::from_time_t(1933135628);
  EXPECT_TRUE(bench.pellan->rtcSetDate(date));
  EXPECT_EQ(last(0, 1), (Bytes{0x03, 31, 4, 5, 6, 7, 8}));
  const auto back = bench.pellan->rtcGetDate();
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, date);
}

// A sleeve with a clock has it read, set to now and read back while it connects, in that order.
TEST(PellanSetUp, TheSleevesClockIsReadSetAndReadBack) {
  for (const char* model : {"XBCMEV", "XBVM", "XBCM"}) {
    SCOPED_TRACE(model);
    SleeveTestBench bench(sleeveOptions("2.63", model));
    ASSERT_TRUE(bench.connect());
    std::vector<int> clockCommands;
    for (const auto& f : bench.sleeve->withProtocol([](SleeveProtocol& p) { return p.hostFrames(); }))
      if (f.code == 1 && !f.data.empty() && (f.data[0] == 0x03 || f.data[0] == 0x04)) clockCommands.push_back(f.data[0]);
    if (std::string(model) == "XBCM")
      EXPECT_EQ(clockCommands, std::vector<int>{});  // no clock
    else
      EXPECT_EQ(clockCommands, (std::vector<int>{0x04, 0x03, 0x04}));
  }
}

TEST_F(ConnectedPellan, AnswersThatDoNotEchoTheRequestFail) {
  struct Case {
    const char* name;
    Bytes answer;
    std::function<bool(Pellan&, Error*)> call;
    int code;
    const char* text;
  } cases[] = {
      {"charging", {0x00}, [](Pellan& p, Error* e) { return p.setCharging(true, e); }, -20,
       "Failed changing charging"},
      {"sync button", {0x00}, [](Pellan& p, Error* e) { return p.setSyncButtonMode(1, e); }, -9,
       "Mode sent: 1, received: 0"},
      {"magnetic mode", {0x01}, [](Pellan& p, Error* e) { return p.msSetCardDataMode(0, e); }, -9,
       "Mode sent: 2, received: 1"},
      {"scan beep off", {0x01},
       [](Pellan& p, Error* e) { return p.barcodeSetScanBeep(false, 0, nullptr, 0, e); }, -21,
       "Enabled sent: 0, received: 1"},
      {"empty answer to a read", {},
       [](Pellan& p, Error* e) { bool b; return p.getKioskMode(&b, e); }, -6,
       "Invalid data length received"},
      {"short clock", {1, 2, 3},
       [](Pellan& p, Error* e) { return p.rtcGetDate(e).has_value(); }, -6,
       "Invalid data length received"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sleeve([&](SleeveProtocol& p) { p.nextResult = c.answer; });
    Error e;
    EXPECT_FALSE(c.call(*bench.pellan, &e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST(PellanCommands, ChargingOnSettingsModelsUsesTheSettingWithoutEchoCheck) {
  SleeveTestBench bench(sleeveOptions("2.63", "XBCM", "ZizoriD 5"));
  ASSERT_TRUE(bench.connect());
  EXPECT_TRUE(bench.pellan->setCharging(true));
  bench.sleeve->withProtocol([](SleeveProtocol& p) {
    EXPECT_EQ(p.lastCommand(0, 58), (Bytes{0x00, 0x05, 0x01}));
    EXPECT_FALSE(p.lastCommand(0, 16).has_value());
  });
  bool on = false;
  EXPECT_TRUE(bench.pellan->getCharging(&on));
  EXPECT_TRUE(on);
}

TEST_F(ConnectedPellan, KioskNeedsTheCable) {
  Error e;
  sleeve([](SleeveProtocol& p) { p.chargingState = 1; });
  const size_t before = frameCount();
  EXPECT_FALSE(bench.pellan->setKioskMode(true, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Kiosk mode can be only enabled when plugged to a cable!");
  EXPECT_EQ(frameCount(), before + 1);  // only the power-source read
  sleeve([](SleeveProtocol& p) { p.chargingState = 2; });
  EXPECT_TRUE(bench.pellan->setKioskMode(true, &e));
  EXPECT_EQ(last(0, 58), (Bytes{0x00, 0x02, 0x09, 0x60}));  // then USB current 2400
  bool on = false;
  EXPECT_TRUE(bench.pellan->getKioskMode(&on));
  EXPECT_TRUE(on);
}

TEST_F(ConnectedPellan, BatteryVoltageLadder) {
  struct Case {
    uint8_t tenths;
    int percent;
  } cases[] = {{20, 0}, {33, 0}, {34, 5}, {35, 10}, {36, 10}, {37, 50}, {38, 50},
               {39, 90}, {40, 95}, {41, 95}, {42, 100}, {50, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.tenths));
    sleeve([&](SleeveProtocol& p) { p.batteryTenths = c.tenths; });
    int percent = -1;
    float volts = 0;
    EXPECT_TRUE(bench.pellan->getBatteryCapacity(&percent, &volts));
    EXPECT_EQ(percent, c.percent);
    EXPECT_FLOAT_EQ(volts, c.tenths / 10.0f);
  }
  for (uint8_t bad : {19, 51}) {
    sleeve([&](SleeveProtocol& p) { p.batteryTenths = bad; });
    Error e;
    int percent;
    float volts;
    EXPECT_FALSE(bench.pellan->getBatteryCapacity(&percent, &volts, &e));
    EXPECT_EQ(e.code, -9);
    EXPECT_EQ(e.text, "Invalid battery voltage received");
  }
}

TEST_F(ConnectedPellan, BatteryInfoFromTheGaugeOrFromTheVoltage) {
  // No gauge (command refused): the voltage read fills in.
  sleeve([](SleeveProtocol& p) { p.batteryTenths = 39; });
  auto info = bench.pellan->getBatteryInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->capacity, 90);
  EXPECT_FLOAT_EQ(info->voltage, 3.9f);
  // Five bytes are too few: the voltage read again.
  sleeve([](SleeveProtocol& p) { p.batteryInfo = Bytes{0x0F, 0xA0, 80, 1, 0x0A}; });
  info = bench.pellan->getBatteryInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->capacity, 90);
  // Exactly six: no chip type, no extended values.
  sleeve([](SleeveProtocol& p) { p.batteryInfo = Bytes{0x0F, 0xA0, 80, 97, 0x0A, 0x28}; });
  info = bench.pellan->getBatteryInfo();
  ASSERT_TRUE(info);
  EXPECT_FLOAT_EQ(info->voltage, 4.0f);
  EXPECT_EQ(info->capacity, 80);
  EXPECT_EQ(info->health, 97);
  EXPECT_EQ(info->maximumCapacity, 2600);
  EXPECT_FALSE(info->charging);
  EXPECT_EQ(info->batteryChipType, 0);
  EXPECT_TRUE(info->extendedInfo.is_null());
  // Chip type 2 with its rate; chip type 1 cut short keeps only what the answer holds.
  sleeve([](SleeveProtocol& p) {
    p.batteryInfo = Bytes{0x0F, 0xA0, 80, 97, 0x0A, 0x28, 1, 2, 0xF6, 0xFF};
  });
  info = bench.pellan->getBatteryInfo();
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->charging);
  EXPECT_EQ(info->extendedInfo["CRRatePercent"], -10);
  sleeve([](SleeveProtocol& p) {
    p.batteryInfo = Bytes{0x0F, 0xA0, 80, 97, 0x0A, 0x28, 0, 1, 0x2C, 0x01, 0x10};
  });
  info = bench.pellan->getBatteryInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->extendedInfo["Temperature"], 300);
  EXPECT_FALSE(info->extendedInfo.contains("Voltage"));
  EXPECT_EQ(info->extendedInfo["StateOfHealth"], 97);
}

TEST_F(ConnectedPellan, TimeRemainingToPowerOffCountsDownFromTheLastCommand) {
  foundation::ScopedManualClock clock;
  double remaining = -1;
  Error e;
  // A two-channel link has no idle power-off.
  EXPECT_FALSE(bench.pellan->getTimeRemainingToPowerOff(&remaining, &e));
  EXPECT_EQ(e.code, -7);
}

TEST(PellanCommands, TimeRemainingToPowerOffOnAOneChannelLink) {
  auto options = sleeveOptions();
  options.config.channels = 1;
  SleeveTestBench bench(options);
  ASSERT_TRUE(bench.connect());
  foundation::ScopedManualClock clock;
  ASSERT_TRUE(bench.pellan->setAutoOffWhenIdle(120, 60));
  double remaining = -1;
  EXPECT_TRUE(bench.pellan->getTimeRemainingToPowerOff(&remaining));
  EXPECT_DOUBLE_EQ(remaining, 120);
  clock->advance(std::chrono::seconds(20));
  EXPECT_TRUE(bench.pellan->getTimeRemainingToPowerOff(&remaining));
  EXPECT_DOUBLE_EQ(remaining, 100);
}

TEST(PellanCommands, MagneticModeIsNotTranslatedBeforeFirmware243) {
  SleeveTestBench bench(sleeveOptions("2.42"));
  ASSERT_TRUE(bench.connect());
  bench.sleeve->withProtocol(
      [](SleeveProtocol& p) { EXPECT_EQ(p.lastCommand(1, 4), (Bytes{0x00, 0x00})); });
  bench.sleeve->withProtocol([](SleeveProtocol& p) { p.magneticMode = 2; });
  int mode = -1;
  EXPECT_TRUE(bench.pellan->msGetCardDataMode(&mode));
  EXPECT_EQ(mode, 2);
  EXPECT_TRUE(bench.pellan->msGetCardDataMode(nullptr));
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

// A sleeve on the far end of a stream pair (a socket pair here), answering on a thread of
// its own.
class StreamPairSleeve {
 public:
  StreamPairSleeve() : proto_(config()) {
    auto [host, device] = accessory::makeSocketStreamPairs();
    host_ = host;
    thread_ = std::thread([this, device = device] {
      device.input->open();
      device.output->open();
      uint8_t buf[512];
      while (!stop_) {
        const ssize_t n = device.input->read(buf, sizeof buf);
        if (n <= 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          continue;
        }
        for (const auto& out : proto_.feed(0, buf, size_t(n)))
          device.output->write(out.frame.data(), out.frame.size());
      }
    });
  }
  ~StreamPairSleeve() {
    stop_ = true;
    thread_.join();
  }
  bool connect(Pellan& pellan) { return pellan.connectWithStreams(host_.input, host_.output); }

 private:
  static devices::SleeveProtocol::Config config() {
    devices::SleeveProtocol::Config c;
    c.channels = 1;
    return c;
  }
  devices::SleeveProtocol proto_;
  accessory::FdStreamPair host_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The driver identifies the sleeve by command on a thread of its own and then runs commands
// over the pair.
TEST(PellanStreams, SleeveOverAStreamPairIsIdentifiedAndAnswersCommands) {
  SleeveTestBench bench;  // only for its manager and main-queue helpers
  StreamPairSleeve far;
  EXPECT_TRUE(far.connect(*bench.pellan));
  EXPECT_EQ(bench.pellan->connstate(), 2);
  EXPECT_EQ(bench.pellan->connectionType(), 2);
  EXPECT_EQ(bench.pellan->deviceName(), "Pellan Pro");
  EXPECT_EQ(bench.pellan->getFWVER(), 2063);
  int mode = -1;
  EXPECT_TRUE(bench.pellan->msGetCardDataMode(&mode));  // folded onto the one channel
  EXPECT_EQ(mode, 0);
  bench.pellan->disconnect();
}

TEST(PellanStreams, AStreamPairIsOneChannelEvenAfterATwoChannelClaim) {
  SleeveTestBench bench;
  // An accessory with both protocol strings was offered (and claimed) earlier.
  bench.pellan->managedConnect();
  ASSERT_TRUE(bench.pellan->accessoryShouldConnect(
      "Pellan Pro", {"com.sabrel.pellan.pro.bar", "com.sabrel.pellan.pro.msr"}));
  StreamPairSleeve far;
  EXPECT_TRUE(far.connect(*bench.pellan));
  int mode = -1;
  Error e;
  EXPECT_TRUE(bench.pellan->msGetCardDataMode(&mode, &e)) << e.text;
  EXPECT_EQ(mode, 0);
  bench.pellan->disconnect();
}

}  // namespace
}  // namespace kestra
