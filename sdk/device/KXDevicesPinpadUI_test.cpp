// The device API's pinpad screen calls over the real pinpad driver and the simulated pinpad
// (whose keypad the tests script): drawing, menus and prompts, LEDs and the EMV kernel,
// routing, and the pinpad's keypad, card and PIN events reaching the application.
#include <gtest/gtest.h>

#include <atomic>

#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "testing/devices/base/JoiningThread.h"

namespace kestra::testing {
namespace {

using devices::PinpadModel;
using foundation::Bytes;
using testsupport::sentWith;
namespace key = devices::pinpadkey;

struct PinpadUI : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(f.connect()); }
  void press(std::initializer_list<uint8_t> keys) {
    f.bench.device->withModel([&](PinpadModel& m) { m.keypad.insert(m.keypad.end(), keys); });
  }
  PinpadFixture f;
};

TEST_F(PinpadUI, ScreenCallsReachThePinpad) {
  int w = 0, h = 0, colour = -1;
  EXPECT_TRUE(f.facade->uiGetScreenInfoWidth(&w, &h, &colour));
  EXPECT_EQ(std::make_tuple(w, h, colour), std::make_tuple(320, 240, 0));
  EXPECT_TRUE(f.facade->uiGetScreenInfoWidth(nullptr, nullptr, nullptr));

  // The fill mode follows the colour: light, dark, or the third mode without one.
  const struct {
    std::optional<KXColor> colour;
    uint8_t mode;
  } fills[] = {{KXColor{1, 1, 1, 1}, 0}, {KXColor{0, 0, 0, 1}, 1}, {KXColor{1, 0, 0, 1}, 1},
               {KXColor{0.5, 0.5, 0.5, 0}, 0}, {std::nullopt, 2}};
  for (const auto& c : fills) {
    Error e;
    ASSERT_TRUE(f.facade->uiFillRectangle(10, 30, 20, 20, c.colour, &e)) << e.text;
    EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x34}).back().back(), c.mode);
  }
  EXPECT_TRUE(f.facade->uiDrawText("Hello", 0, 40, 1));
  EXPECT_TRUE(f.facade->uiSetSettingsBacklightEnabled(false));
  bool backlight = true;
  EXPECT_TRUE(f.facade->uiGetSettingsBacklightEnabled(&backlight));
  EXPECT_FALSE(backlight);
  EXPECT_TRUE(f.facade->uiLoadLogo(KXImage::grey(32, 16, 0), 1));  // no printer: the pinpad takes it
  f.bench.device->withModel([](PinpadModel& m) {
    EXPECT_EQ(m.screen.texts.back(), "Hello");
    EXPECT_EQ(std::make_pair(m.screen.logoWidth, m.screen.logoHeight), std::make_pair(32, 16));
  });
}

TEST_F(PinpadUI, WithoutAReceiptPrinterPrintingGoesToThePinpadsPrinter) {
  Error e;
  ASSERT_TRUE(f.facade->prnPrintText("{=C}{+B}RECEIPT{-B}\nTotal {=R}9.99\n", &e)) << e.text;
  ASSERT_TRUE(f.facade->prnFeedPaper(0, &e)) << e.text;
  ASSERT_TRUE(f.facade->prnFlushCache(&e)) << e.text;
  const auto info = f.facade->prnGetPrinterInfo(&e);
  ASSERT_TRUE(info) << e.text;
  EXPECT_EQ(info->paperWidthPx, 384);
  f.bench.device->withModel([](PinpadModel& m) {
    EXPECT_EQ(m.receipt.lines(), (std::vector<std::string>{"RECEIPT", "Total 9.99", ""}));  // the feed ends a line
  });
}

TEST_F(PinpadUI, AMenuIsAnsweredByAKeyAndAPromptByTypedDigits) {
  press({2});
  Error e;
  EXPECT_EQ(f.facade->uiDisplayMenu("Pay by", {"Card", "Cash"}, 1, 30, &e), 2) << e.text;
  f.bench.device->withModel([](PinpadModel& m) {
    EXPECT_EQ(m.menu.title, "Pay by");
    EXPECT_EQ(m.menu.choices, (std::vector<std::string>{"Card", "Cash"}));
    EXPECT_EQ(m.menu.timeout, 30);
  });

  press({4, 2, key::kEnter});
  EXPECT_EQ(f.facade->uiDisplayDataPromptWithID(3, 1, 6, "", 1, 30, &e), std::optional<std::string>("42"));
  // A prompt that ends in failure is taken off the pinpad; the error is the pinpad's.
  press({key::kCancel});
  EXPECT_FALSE(f.facade->uiDisplayDataPromptWithID(3, 1, 6, "1", 1, 30, &e));
  EXPECT_EQ(e.code, -16518);
  f.bench.device->withModel([](PinpadModel& m) { EXPECT_EQ(m.promptCancels, 1); });
  // A menu that ends in failure is not.
  press({key::kTimeout});
  EXPECT_EQ(f.facade->uiDisplayMenu("Pay by", {"Card"}, 1, 30, &e), -1);
  EXPECT_EQ(e.code, -16509);
  EXPECT_TRUE(sentWith(*f.bench.device, 0x35, {0x37, 0x02}).empty());
}

TEST_F(PinpadUI, LEDsAreRefusedWhileTheEMVKernelIsInitialised) {
  const uint32_t leds[] = {0x1F, 500, 8, 0xA5};
  f.api->setEmvInit(true);
  Error e;
  EXPECT_FALSE(f.facade->uiControlLEDsEx(leds, 1, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "LEDs cannot be controlled while EMV kernel is active!");
  EXPECT_FALSE(f.facade->uiControlLEDsWithBitMask(0x0F, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_TRUE(sentWith(*f.bench.device, 0x36, {0x04}).empty());

  f.api->setEmvInit(false);
  EXPECT_TRUE(f.facade->uiControlLEDsEx(leds, 1, &e)) << e.text;
  EXPECT_EQ(sentWith(*f.bench.device, 0x36, {0x04}).back(), (Bytes{0x04, 0x00, 4, 50, 8, 0xA5}));
  EXPECT_TRUE(f.facade->uiControlLEDsWithBitMask(0x0F, &e)) << e.text;
}

TEST_F(PinpadUI, SleeveOnlyCallsAndRefusedRouting) {
  Error e;
  EXPECT_FALSE(f.facade->uiEnableVibrationForTime(1.0f, &e));
  EXPECT_EQ(e.code, -7);
  bool on = false;
  EXPECT_FALSE(f.facade->uiIsSpeakerEnabled(&on, &e));
  EXPECT_EQ(e.code, -7);
  f.bench.device->detach();
  ASSERT_TRUE(f.bench.runUntil([&] { return f.api->connstate() != 2; }));
  // Refused by routing, a menu answers -1 like any failure (0 could be a choice).
  EXPECT_EQ(f.facade->uiDisplayMenu("T", {"A"}, 1, 30, &e), -1);
  EXPECT_EQ(e.code, -20);
  EXPECT_FALSE(f.facade->uiDrawText("x", 0, 0, 1, &e));
  EXPECT_EQ(e.code, -20);
}

TEST_F(PinpadUI, KeypadCardAndPinEventsReachTheApplication) {
  auto app = std::make_shared<RecordingDelegate>(
      f.app, "ui",
      std::vector<std::string_view>{kxsel::deviceButtonPressed, kxsel::magneticCardData,
                                    kxsel::PINEntryCompleteWithError});
  f.facade->addDelegate(app);
  f.bench.device->sendEvent(0x0D, {0x07});
  ASSERT_TRUE(f.bench.runUntil([&] { return f.app->count("ui:deviceButtonPressed:17") == 1; }));

  Bytes card = {0x00, 0xF2};
  for (char c : std::string("4000000000000002=2512")) card.push_back(uint8_t(c));
  f.bench.device->withModel([&](PinpadModel& m) { m.nextCard = card; });
  f.bench.device->sendEvent(0x06, {});
  ASSERT_TRUE(f.bench.runUntil([&] { return !testsupport::linesStarting(*f.app, "ui:magneticCardData").empty(); }));

  PPad* pad = f.api->pinpad().securePad();
  ASSERT_NE(pad, nullptr);
  press({1, 2, 3, 4, key::kEnter});
  ASSERT_EQ(pad->uiEnterPINStart(0, 60, 30, '*', std::string("PIN")), 0);
  ASSERT_TRUE(f.bench.runUntil([&] { return f.app->count("ui:PINEntryComplete:nil") == 1; }));
  ASSERT_EQ(pad->uiEnterPINStart(0, 60, 30, '*', std::nullopt), 0);
  pad->uiEnterPINCancel();
  ASSERT_TRUE(f.bench.runUntil([&] { return !testsupport::linesStarting(*f.app, "ui:PINEntryComplete:-16518").empty(); }));
  EXPECT_TRUE(app->allOnMainThread());
}

// Routing of the calls that go to the sleeve or a receipt printer first.
TEST(PinpadUIRouting, SleeveAndPrinterFirst) {
  ApiFixture f;
  f.sleeveState(2);
  f.pinpadState(2);
  f.printerState(0, 2);
  f.api->setEmvInit(true);  // the sleeve's LEDs have nothing to do with the kernel
  Error e;
  EXPECT_TRUE(f.api->uiControlLEDsWithBitMask(0x03, &e)) << e.text;
  EXPECT_TRUE(f.api->uiEnableVibrationForTime(0.5f, &e)) << e.text;
  EXPECT_TRUE(f.api->uiLoadLogo(KXImage::grey(24, 8, 0), 2, &e)) << e.text;
  EXPECT_EQ(f.drivers.log->lines(), (std::vector<std::string>{"sleeve.uiControlLEDsWithBitMask",
                                                              "sleeve.uiEnableVibrationForTime",
                                                              "printer0.loadLogo:24:2"}));
  // With the pinpad chosen the LEDs are the pinpad's, and refused while the kernel runs.
  ASSERT_TRUE(f.api->setActiveDeviceType(2, &e)) << e.text;
  EXPECT_FALSE(f.api->uiControlLEDsWithBitMask(0x03, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_FALSE(f.api->uiEnableVibrationForTime(0.5f, &e));
  EXPECT_EQ(e.code, -7);
}

// The host polls an open menu or prompt every 0.1 s on the clock. `PollStepper` moves the
// manual clock through that poll one pause at a time, and only while the polling thread rests
// in its pause: none of the pinpad's commands is running, a check has gone out since the last
// step, and one thread more than before the poll waits on the clock. So a step never lands in
// a command's wait for its reply (where a loaded machine would see it time out) nor before the
// pause has fixed its deadline (which would swallow the step), and the steps count the pauses.
class PollStepper {
 public:
  static constexpr foundation::Duration kStep = std::chrono::milliseconds(100);

  // Call before the poll starts, with the pinpad connected and idle.
  PollStepper(foundation::ManualClock& clock, PPad& pad, std::function<size_t()> checks)
      : clock_(clock), pad_(pad), checks_(std::move(checks)) {
    // In caching mode the queue's writer thread waits on the clock too; it is counted once it
    // is back in its wait.
    const size_t writer = pad_.transport().caching() ? 1 : 0;
    foundation::RunLoop::main().runUntil([&] { return clock_.waiters() >= writer; }, std::chrono::seconds(20));
    clock_.waitUntilWaitersSawNow();
    others_ = clock_.waiters();
  }

  // Steps until `ended` holds: the steps taken, or nothing when the poll neither rested nor
  // ended within the real-time safety net.
  std::optional<int> stepUntil(const std::function<bool()>& ended) {
    for (int steps = 0;; ++steps) {
      if (!foundation::RunLoop::main().runUntil([&] { return ended() || rests(); }, std::chrono::seconds(20)))
        return std::nullopt;
      if (ended()) return steps;
      stepped_ = checks_();
      clock_.advance(kStep);
    }
  }

  // The polling thread rests in its pause.
  bool rests() const {
    const size_t checks = checks_();
    if (checks <= stepped_ || pad_.transport().commandRunning()) return false;
    const size_t waiting = clock_.waiters();
    // No check went out while the waiters were counted: the extra waiter is the pause.
    return waiting > others_ && !pad_.transport().commandRunning() && checks_() == checks;
  }

 private:

  foundation::ManualClock& clock_;
  PPad& pad_;
  std::function<size_t()> checks_;
  size_t others_ = 0;
  size_t stepped_ = 0;
};

// The pinpad connected with the manual clock in force.
struct HostLimit {
  HostLimit() {
    f.bench.device = &f.bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
    f.facade->connect();
  }
  // Identification opens with a pause on the clock. The clock steps only while identification
  // runs (before it, the accessory's session waits on the clock for its stream to open, which
  // a step must not cut short), a thread waits on the clock, and no pinpad command waits for
  // its answer; each step once every waiter has seen the last.
  bool connected() {
    auto ready = [&] { return f.bench.identified() && f.api->connstate() == 2; };
    auto& transport = f.bench.pad->transport();
    auto pausing = [&] { return transport.fakeConnected && clock->waiters() > 0 && !transport.commandRunning(); };
    for (int step = 0; step < 600; ++step) {
      if (!f.bench.runUntil([&] { return ready() || pausing(); })) return false;
      if (ready()) return true;
      clock->advance(PPad::kIdentifyPause);
      clock->waitUntilWaitersSawNow();
    }
    return false;
  }
  size_t sent(const Bytes& prefix) { return sentWith(*f.bench.device, 0x35, prefix).size(); }
  foundation::ScopedManualClock clock;
  PinpadFixture f;
};

const Bytes kMenuCheck{0x37, 0x03}, kMenuCancel{0x37, 0x02}, kPromptCheck{0x37, 0x13};

TEST(PinpadUIHostLimit, AMenuThePinpadNeverClosesEndsAtTheHostsLimit) {
  HostLimit h;
  ASSERT_TRUE(h.connected());

  // A 2 s menu that no key ever answers: the host asks every 0.1 s for its 2 s and 5 s more,
  // and gives up at the first check past that, taking the menu off the pinpad.
  std::atomic<bool> done{false};
  int choice = 0;
  Error e;
  {
    PollStepper stepper(*h.clock, *h.f.bench.pad, [&] { return h.sent(kMenuCheck); });
    devices::JoiningThread t(
        [&] {
          choice = h.f.facade->uiDisplayMenu("T", {"A", "B"}, 1, 2.0, &e);
          done = true;
        },
        [&] { h.clock->advance(std::chrono::minutes(1)); });
    EXPECT_EQ(stepper.stepUntil([&] { return done.load(); }), 70);
  }
  EXPECT_EQ(choice, -1);
  EXPECT_EQ(e.code, -16509);
  EXPECT_EQ(h.sent(kMenuCheck), 71u);
  EXPECT_EQ(h.sent(kMenuCancel), 1u);
  h.f.bench.device->withModel([](PinpadModel& m) { EXPECT_FALSE(m.menu.open); });

  // A 1 s data prompt likewise, at 1 s and 5 s more.
  done = false;
  std::optional<std::string> typed = "";
  {
    PollStepper stepper(*h.clock, *h.f.bench.pad, [&] { return h.sent(kPromptCheck); });
    devices::JoiningThread t(
        [&] {
          typed = h.f.facade->uiDisplayDataPromptWithID(1, 0, 4, "", 1, 1.0, &e);
          done = true;
        },
        [&] { h.clock->advance(std::chrono::minutes(1)); });
    EXPECT_EQ(stepper.stepUntil([&] { return done.load(); }), 60);
  }
  EXPECT_FALSE(typed);
  EXPECT_EQ(e.code, -16509);
  EXPECT_EQ(h.sent(kPromptCheck), 61u);
  h.f.bench.device->withModel([](PinpadModel& m) { EXPECT_EQ(m.promptCancels, 1); });
}

// A time-out of 0 gives the menu and the prompt no limit: the host keeps asking until the
// cardholder answers, long after the margin it allows a timed one.
TEST(PinpadUIHostLimit, WithoutATimeOutTheHostWaitsForTheAnswer) {
  HostLimit h;
  ASSERT_TRUE(h.connected());

  std::atomic<bool> done{false};
  int choice = 0;
  Error e;
  {
    PollStepper stepper(*h.clock, *h.f.bench.pad, [&] { return h.sent(kMenuCheck); });
    devices::JoiningThread t(
        [&] {
          choice = h.f.facade->uiDisplayMenu("T", {"A", "B"}, 1, 0, &e);
          done = true;
        },
        [&] {
          h.f.bench.device->withModel([](PinpadModel& m) { m.keypad.push_back(2); });
          h.clock->advance(std::chrono::minutes(1));
        });
    // 10 s of polling, well past the 5 s a timed menu is given after its own time: still
    // open and asked about.
    ASSERT_EQ(stepper.stepUntil([&] { return done.load() || (h.sent(kMenuCheck) > 100 && stepper.rests()); }), 100);
    EXPECT_FALSE(done.load());
    h.f.bench.device->withModel([](PinpadModel& m) { m.keypad.push_back(2); });
    EXPECT_EQ(stepper.stepUntil([&] { return done.load(); }), 1);
  }
  EXPECT_EQ(choice, 2) << e.text;
  EXPECT_EQ(h.sent(kMenuCancel), 0u);  // never cancelled
}

}  // namespace
}  // namespace kestra::testing
