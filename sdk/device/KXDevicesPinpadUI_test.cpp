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

TEST(PinpadUIHostLimit, AMenuThePinpadNeverClosesEndsAtTheHostsLimit) {
  foundation::ScopedManualClock clock;
  PinpadFixture f;
  f.bench.device = &f.bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
  f.facade->connect();
  ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(*clock, [&] { return f.bench.identified() && f.api->connstate() == 2; }));

  std::atomic<bool> done{false};
  int choice = 0;
  Error e;
  {
    devices::JoiningThread t([&] {
      choice = f.facade->uiDisplayMenu("T", {"A", "B"}, 1, 2.0, &e);  // no key is ever pressed
      done = true;
    });
    ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(*clock, [&] { return done.load(); }));
  }
  EXPECT_EQ(choice, -1);
  EXPECT_EQ(e.code, -16509);
  EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x37, 0x02}).size(), 1u);  // taken off the pinpad
  f.bench.device->withModel([](PinpadModel& m) {
    EXPECT_FALSE(m.menu.open);
    EXPECT_GE(m.menuChecks, 60);  // 0.1 s apart for the 2 s and the 5 s after them
  });

  // A data prompt likewise.
  done = false;
  std::optional<std::string> typed = "";
  {
    devices::JoiningThread t([&] {
      typed = f.facade->uiDisplayDataPromptWithID(1, 0, 4, "", 1, 1.0, &e);
      done = true;
    });
    ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(*clock, [&] { return done.load(); }));
  }
  EXPECT_FALSE(typed);
  EXPECT_EQ(e.code, -16509);
  f.bench.device->withModel([](PinpadModel& m) { EXPECT_EQ(m.promptCancels, 1); });
}

// A time-out of 0 gives the menu and the prompt no limit: the host keeps asking until the
// cardholder answers, long after the margin it allows a timed one.
TEST(PinpadUIHostLimit, WithoutATimeOutTheHostWaitsForTheAnswer) {
  foundation::ScopedManualClock clock;
  PinpadFixture f;
  f.bench.device = &f.bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
  f.facade->connect();
  ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(*clock, [&] { return f.bench.identified() && f.api->connstate() == 2; }));
  auto checks = [&] { return f.bench.device->withModel([](PinpadModel& m) { return m.menuChecks; }); };

  std::atomic<bool> done{false};
  int choice = 0;
  Error e;
  {
    devices::JoiningThread t([&] {
      choice = f.facade->uiDisplayMenu("T", {"A", "B"}, 1, 0, &e);
      done = true;
    });
    // Well past 5 s of polling (0.1 s apart) the menu is still open and asked about.
    ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(*clock, [&] { return done.load() || checks() >= 100; }));
    EXPECT_FALSE(done.load());
    f.bench.device->withModel([](PinpadModel& m) { m.keypad.push_back(2); });
    ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(*clock, [&] { return done.load(); }));
  }
  EXPECT_EQ(choice, 2) << e.text;
  EXPECT_TRUE(sentWith(*f.bench.device, 0x35, {0x37, 0x02}).empty());  // never cancelled
}

}  // namespace
}  // namespace kestra::testing
