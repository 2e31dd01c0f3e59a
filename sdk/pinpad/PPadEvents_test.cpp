// Pinpad events: the packets the simulated pinpad sends unasked, as the delegates see them.
#include <gtest/gtest.h>

#include "platform/foundation/MainQueue.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra {
namespace {

using devices::PinpadPersona;
using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::linesStarting;
using testsupport::sentWith;

// A marker event after the ones under test: once it arrived, everything before it was
// handled (events are handled in order on the main queue).
void flush(PinpadTestBench& b) {
  b.device->sendEvent(0x0B, {0xEE});
  ASSERT_TRUE(b.delegate->log().waitForLine("kxdev_emv2Event:EE"));
}

TEST(PPadEvents, ButtonsAndKeypadKeys) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  b.delegate->clear();
  for (uint8_t t : {0x01, 0x02, 0x03, 0x04}) b.device->sendEvent(t, {});
  struct Key {
    uint8_t byte;
    int code;
  } keys[] = {{0x05, 15}, {0x00, 10}, {0x39, 0}, {0x41, 23}, {0x42, 0}, {'a', 20}, {'b', 21}, {'C', 24}, {'c', 25}};
  for (const auto& k : keys) b.device->sendEvent(0x0D, {k.byte});
  b.device->sendEvent(0x0D, {});  // a keypad event without its key is dropped
  flush(b);
  std::vector<std::string> expected = {"ppadButtonPressed:0", "ppadButtonReleased:0", "ppadButtonPressed:1",
                                       "ppadButtonReleased:1"};
  for (const auto& k : keys) {
    expected.push_back("ppadButtonPressed:" + std::to_string(k.code));
    expected.push_back("ppadButtonReleased:" + std::to_string(k.code));
  }
  expected.push_back("kxdev_emv2Event:EE");
  EXPECT_EQ(b.delegate->calls(), expected);
  EXPECT_TRUE(b.delegate->allOnMainThread());
}

TEST(PPadEvents, BarcodesWithAndWithoutDataAndThroughTheNotifier) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  b.device->sendEvent(0x05, foundation::bytesOf("T12345"));
  ASSERT_TRUE(b.delegate->log().waitForLine("kxdev_barcodeData:T12345"));
  // No data: the pinpad is asked for the code.
  b.device->withModel([](devices::PinpadModel& m) { m.nextBarcode = foundation::bytesOf("T777"); });
  b.device->sendEvent(0x05, {});
  ASSERT_TRUE(b.delegate->log().waitForLine("kxdev_barcodeData:T777"));
  EXPECT_EQ(sentWith(*b.device, 0x38, {0x03}).size(), 1u);

  // A delegate without the bytes form gets the notifier's text form.
  auto plain = std::make_shared<devices::RecordingPPadDelegate>(
      std::vector<std::string_view>{sel::barcodeData_type}, b.delegate->sharedLog(), "plain:");
  b.pad->removeDelegate(b.delegate);
  b.pad->addDelegate(plain);
  b.device->sendEvent(0x05, foundation::bytesOf("T4006381333931"));
  ASSERT_TRUE(b.delegate->log().waitFor(
      [](const auto& l) { return !l.empty() && l.back().rfind("plain:barcodeData:4006381333931:", 0) == 0; }));
}

TEST(PPadEvents, ASwipedCardIsReadSplitIntoTracksAndTheReaderRestarted) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  const size_t startsBefore = sentWith(*b.device, 0x34, {0x01}).size();
  Bytes card = {0x00, 0xF1};
  for (char c : std::string("B4000000000000002^TEST/CARD^2512")) card.push_back(uint8_t(c));
  card.push_back(0xF2);
  for (char c : std::string("4000000000000002=2512")) card.push_back(uint8_t(c));
  b.device->withModel([&](devices::PinpadModel& m) { m.nextCard = card; });
  b.device->sendEvent(0x06, {});
  ASSERT_TRUE(b.delegate->log().waitForLine(
      "magneticCardData:B4000000000000002^TEST/CARD^2512:4000000000000002=2512:(nil)"));
  flush(b);
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x01}).size(), startsBefore + 1);
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x03}).front(), (Bytes{0x03, 0xA7}));
}

TEST(PPadEvents, PlainTrackSplitting) {
  devices::AccessoryTestBench bench;
  auto pad = PPad::create(*bench.manager);
  auto d = std::make_shared<devices::RecordingPPadDelegate>();
  pad->addDelegate(d);
  struct Case {
    const char* name;
    Bytes data;
    std::string line;
  } cases[] = {
      {"two tracks", {0xF1, 'A', 'B', 0xF2, '1', '2'}, "magneticCardData:AB:12:(nil)"},
      {"marker twice", {0xF1, 'X', 0xF1, 'A', 0xF2, '1'}, "magneticCardData:A:1:(nil)"},
      {"three tracks", {0xF1, 'A', 0xF2, '1', 0xF3, '9'}, "magneticCardData:A:1:9"},
      {"out of order", {0xF2, '1', 0xF1, 'A'}, "magneticCardData:A:1:(nil)"},
      {"track 3 only", {0xF3, '7'}, "magneticCardData:(nil):(nil):7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d->clear();
    pad->processPlainCardData(c.data.data(), c.data.size(), 0);
    EXPECT_EQ(d->calls(), std::vector<std::string>{c.line});
  }
  d->clear();
  const Bytes jis = {0xF5, 'x'};
  pad->processPlainCardData(jis.data(), jis.size(), 0);
  EXPECT_TRUE(d->calls().empty());
}

TEST(PPadEvents, SmartCardInsertedOnceAndRemovalReArmsTheSlot) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  b.delegate->clear();
  b.device->sendEvent(0x07, {});
  b.device->sendEvent(0x07, {});
  b.device->sendEvent(0x08, {});
  b.device->sendEvent(0x08, {});  // no card present: no callback, the slot is set up all the same
  flush(b);
  EXPECT_EQ(b.delegate->calls(),
            (std::vector<std::string>{"smartCardInserted:0", "smartCardInserted", "smartCardRemoved:0",
                                      "smartCardRemoved", "kxdev_emv2Event:EE"}));
  EXPECT_EQ(sentWith(*b.device, 0x33, {0x01, 0x00, 0x05, 0x00}).size(), 2u);
}

TEST(PPadEvents, KernelAndSecureReaderEventsAndMalformedOnesDropped) {
  PinpadTestBench b;
  ASSERT_TRUE(b.connect());
  b.delegate->clear();
  b.device->sendEvent(0x0B, {0x83, 0x00, 0xC1, 0x01, 0x02});
  b.device->sendEvent(0x11, {0x01, 0x02, 'o', 'k'});
  b.device->sendEvent(0x11, {0x01});  // too short
  b.device->sendEvent(0x42, {1, 2, 3});  // unknown type
  flush(b);
  EXPECT_EQ(b.delegate->calls(), (std::vector<std::string>{"kxdev_emv2Event:8300C10102", "kxdev_srEvent:1:2:ok",
                                                           "kxdev_emv2Event:EE"}));
  // The test hook: a packet of the type byte alone, its data from the payload's fourth byte.
  b.delegate->clear();
  b.pad->simulateEvent(0x0D, Bytes{0, 0, 0, 0x07});
  b.pad->simulateEvent(0x0D, Bytes{0, 0});
  b.pad->simulateEvent(0x11, std::nullopt);
  EXPECT_EQ(b.delegate->calls(), (std::vector<std::string>{"ppadButtonPressed:17", "ppadButtonReleased:17"}));
}

TEST(PPadEvents, EncryptedCardsWithAndWithoutMaskedTracks) {
  // A pinpad whose firmware leaves the encrypted head to the host: card data comes through
  // the head's pass-through.
  PinpadTestBench b(PinpadPersona::skyrik500(), "SKYRIK500");
  ASSERT_TRUE(b.connect());
  b.delegate->clear();
  b.device->withModel([](devices::PinpadModel& m) { m.encryptedBlock = {0x03, 0xAA, 0xBB}; });
  b.device->sendEvent(0x6A, {});
  ASSERT_TRUE(b.delegate->log().waitForLine("kxdev_magneticCardEncryptedData:0:3:AABB:(nil):(nil):(nil):0"));

  // With an algorithm, the masked tracks are read too.
  Bytes masked = {0xF1};
  for (char c : std::string("%B4000********0002^TEST/CARD^2512?")) masked.push_back(uint8_t(c));
  masked.push_back(0xF2);
  for (char c : std::string(";4000********0002=2512?")) masked.push_back(uint8_t(c));
  b.device->withModel([&](devices::PinpadModel& m) {
    m.encryptedBlock = {(2 << 3) | 3, 0x01};
    m.maskedTracks = masked;
  });
  b.device->sendEvent(0x6A, {});
  ASSERT_TRUE(b.delegate->log().waitForLine(
      "kxdev_magneticCardEncryptedData:2:3:01:%B4000********0002^TEST/CARD^2512?:;4000********0002=2512?:(nil):0"));
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x13}).front(), (Bytes{0x13, 0x04, 0x04, 0x01, 0xA7}));
}

}  // namespace
}  // namespace kestra
