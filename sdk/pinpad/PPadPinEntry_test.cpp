// PIN entry against the simulated pinpad, whose keypad the tests script: the background
// entry and its fall-back, cancelling, events held back while a PIN is typed, prompts and
// PIN blocks.
#include <gtest/gtest.h>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra {
namespace {

using devices::PinpadModel;
using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::sentWith;
namespace key = devices::pinpadkey;

struct PinEntry : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(b.connect()); }
  void press(std::initializer_list<uint8_t> keys) {
    b.device->withModel([&](PinpadModel& m) { m.keypad.insert(m.keypad.end(), keys); });
  }
  bool completed(const std::string& line) {
    return b.runUntil([&] { return b.delegate->log().count(line) > 0; });
  }
  size_t readerStarts() { return sentWith(*b.device, 0x34, {0x01}).size(); }
  PinpadTestBench b;
};

TEST_F(PinEntry, ABackgroundEntryIsPolledUntilDoneAndRestartsTheReader) {
  press({1, 2, 3, 4, key::kEnter});
  const size_t starts = readerStarts();
  ASSERT_EQ(b.pad->uiEnterPINStart(0, 40, 30, '*', 4, 12, std::string("PIN")), 0);
  ASSERT_TRUE(completed("PINEntryComplete:0"));
  EXPECT_TRUE(b.delegate->allOnMainThread());  // the entry is polled off it, delivered on it
  EXPECT_FALSE(b.pad->pinEntryRunning());
  // The limits went with the start; every key took one check.
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x26}).back(), (Bytes{0x26, 0, 40, '*', 30, 4, 12, 'P', 'I', 'N', 0}));
  b.device->withModel([](PinpadModel& m) {
    EXPECT_EQ(m.pinChecks, 5);
    EXPECT_EQ(m.pinsEntered, 1);
  });
  EXPECT_TRUE(b.runUntil([&] { return readerStarts() > starts; }));
}

TEST_F(PinEntry, StartLimitsAndPromptEncoding) {
  const struct {
    int minPin, maxPin;
    Bytes head;
  } cases[] = {
      {4, 12, {0x26, 1, 2, '*', 9, 4, 12}},
      {0, 12, {0x20, 1, 2, '*', 9}},
      {5, 4, {0x20, 1, 2, '*', 9}},
      {-1, -1, {0x20, 1, 2, '*', 9}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.minPin);
    ASSERT_EQ(b.pad->uiEnterPINAsyncStart(1, 2, 9, '*', c.minPin, c.maxPin, std::nullopt), 0);
    EXPECT_EQ(sentWith(*b.device, 0x35, {c.head[0]}).back(), c.head);  // no message, no zero byte
    ASSERT_EQ(b.pad->uiEnterPINAsyncCancel(), 0);
  }
  // The euro sign: one byte after a window in font 1, UTF-8 after one in font 3.
  for (const auto& [font, text] : std::vector<std::pair<int, Bytes>>{{1, {0x80, 0}}, {3, {0xE2, 0x82, 0xAC, 0}}}) {
    ASSERT_EQ(b.pad->uiOpenTextWindow(0, 0, 0, 0, font, 0), 0);
    ASSERT_EQ(b.pad->uiEnterPINAsyncStart(1, 2, 9, '*', std::string("\xE2\x82\xAC")), 0);
    const Bytes sent = sentWith(*b.device, 0x35, {0x20}).back();
    EXPECT_EQ(Bytes(sent.begin() + 5, sent.end()), text) << font;
  }
}

TEST_F(PinEntry, APinpadWithoutTheAsynchronousCommandsFallsBackToTheBlockingEntry) {
  b.device->withModel([](PinpadModel& m) { m.asyncPinCommands = false; });
  press({1, 2, 3, 4, key::kEnter});
  ASSERT_EQ(b.pad->uiEnterPINStart(3, 4, 20, '#', std::nullopt), 0);
  ASSERT_TRUE(completed("PINEntryComplete:0"));
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x09}).back(), (Bytes{0x09, 3, 4, '#', 20}));
  // Cancelling sends nothing in this mode: the pinpad ends the entry by itself.
  const size_t cancels = sentWith(*b.device, 0x35, {0x22}).size();
  EXPECT_EQ(b.pad->uiEnterPINCancel(), 0);
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x22}).size(), cancels);
}

TEST_F(PinEntry, OneEntryAtATimeAndACancelEndsItAsCancelled) {
  ASSERT_EQ(b.pad->uiEnterPINCancel(), 0);  // nothing runs, nothing used the asynchronous commands
  EXPECT_TRUE(sentWith(*b.device, 0x35, {0x22}).empty());
  ASSERT_EQ(b.pad->uiEnterPINStart(0, 0, 30, '*', std::nullopt), 0);  // no keys: the entry goes on
  EXPECT_EQ(b.pad->uiEnterPINStart(0, 0, 30, '*', std::nullopt), 1);
  EXPECT_TRUE(b.pad->pinEntryRunning());
  EXPECT_EQ(b.pad->uiEnterPINCancel(), 0);  // returns once the entry has ended
  EXPECT_FALSE(b.pad->pinEntryRunning());
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x22}).size(), 1u);
  ASSERT_TRUE(completed("PINEntryComplete:18"));
  EXPECT_EQ(b.delegate->log().count("PINEntryComplete:0"), 0u);
}

TEST_F(PinEntry, CardAndBarcodeEventsAreHeldBackWhileAPinIsTyped) {
  b.device->withModel([](PinpadModel& m) { m.nextCard = {0x00, 0xF2, '4', '1', '1', '1', '=', '2', '9'}; });
  ASSERT_EQ(b.pad->uiEnterPINStart(0, 0, 30, '*', std::nullopt), 0);
  b.device->sendEvent(0x05, foundation::bytesOf("\x0d" "12345"));
  b.device->sendEvent(0x06, {});
  b.device->sendEvent(0x0D, {0x05});  // keypad events still arrive
  ASSERT_TRUE(b.runUntil([&] { return b.delegate->log().count("ppadButtonReleased:15") > 0; }));
  press({1, 2, 3, 4, key::kEnter});
  ASSERT_TRUE(completed("PINEntryComplete:0"));
  EXPECT_TRUE(testsupport::linesStarting(b.delegate->log(), "kxdev_barcodeData").empty());
  EXPECT_TRUE(testsupport::linesStarting(b.delegate->log(), "magneticCardData").empty());

  // Afterwards they reach the delegates again.
  b.device->sendEvent(0x05, foundation::bytesOf("\x0d" "12345"));
  EXPECT_TRUE(b.runUntil([&] { return !testsupport::linesStarting(b.delegate->log(), "kxdev_barcodeData").empty(); }));
}

TEST_F(PinEntry, PinBlocksCheckTheirArgumentsAndSendTheKeptCardNumberOnce) {
  press({1, 2, 3, 4, key::kEnter});
  ASSERT_EQ(b.pad->uiEnterPIN(0, 0, 30, '*', std::nullopt), 0);
  Bytes block;
  EXPECT_EQ(b.pad->pinGetPINBlock(4, 4, Bytes(15, 1), 1, &block), 3);
  EXPECT_EQ(b.pad->pinGetPINBlock(4, 4, Bytes(17, 1), 1, &block), 3);
  EXPECT_EQ(b.pad->pinGetPINBlock(5, 4, std::nullopt, 1, &block), 3);
  EXPECT_EQ(b.pad->pinGetPINBlock(4, 14, std::nullopt, 1, &block), 3);
  EXPECT_EQ(b.pad->uiVerifyPINOnline(1, 4, std::nullopt, 1, "4111", &block), 3);
  EXPECT_EQ(b.pad->uiVerifyPINOnline(2, 4, std::nullopt, 1, "", &block), 3);
  EXPECT_TRUE(sentWith(*b.device, 0x35, {0x0A, 0x02}).empty());

  const Bytes head = {0x0A, 0x02, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
  b.device->withModel([](PinpadModel& m) { m.keys[7].value = Bytes(16, 0x5A); });
  ASSERT_EQ(b.pad->pinSetPAN(std::string("4111111111111111")), 0);
  ASSERT_EQ(b.pad->pinGetPINBlockFixedKey(7, std::nullopt, 5, &block), 0);  // format 5: no card number
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x0A, 0x02}).back(), head);
  EXPECT_EQ(block.size(), 8u);
  ASSERT_EQ(b.pad->pinGetPINBlockFixedKey(7, std::nullopt, 4, &block), 0);
  Bytes withPan = head;
  withPan[3] = 4;
  const std::string pan = "4111111111111111";
  withPan.insert(withPan.end(), pan.begin(), pan.end());
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x0A, 0x02}).back(), withPan);
  // Used up: sent without it, and the pinpad refuses a format that needs it.
  EXPECT_EQ(b.pad->pinGetPINBlockFixedKey(7, std::nullopt, 13, &block), 3);
  withPan = head;
  withPan[3] = 13;
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x0A, 0x02}).back(), withPan);

  uint16_t card = 0;
  ASSERT_EQ(b.pad->uiVerifyPINOffline(true, &card), 0);
  EXPECT_EQ(card, 0x9000);
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x0A, 0x01}).size(), 1u);
}

}  // namespace
}  // namespace kestra
