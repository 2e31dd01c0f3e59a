#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/rf/SimulatedRc663.h"

namespace kestra {
namespace {

using devices::RfCard;
using foundation::fromHex;
using foundation::toHex;

// A connected sleeve holding an rc663 reader module: reader frames go to the simulated
// module, whose bytes come back to the RF stack on the global queue as the sleeve's do.
class RfSleeve final : public KXSleeveDriver {
 public:
  std::shared_ptr<devices::SimulatedRc663> module = std::make_shared<devices::SimulatedRc663>();
  int readers = kRFReaderRc663;
  std::weak_ptr<KXDevices> api;
  std::vector<std::string> calls;

  RfSleeve() {
    module->onReply = [this](const Bytes& b) {
      if (inlineReplies)
        RFWrapper::dataAvaiable(b);
      else
        GlobalQueue::async([b] { RFWrapper::dataAvaiable(b); });
    };
  }
  // Replies reach the stack before the write returns, so a command never waits on the
  // clock for them (tests that move a manual clock).
  std::atomic<bool> inlineReplies{false};
  void attach(std::weak_ptr<KXDevices> a) override { api = std::move(a); }
  std::atomic<int> state{2};
  int connstate() override { return state; }
  int getSupportedFeature(int feature, Error*) override { return feature == 5 ? readers : 0; }
  bool rfReaderInit(int type, Error*) override {
    calls.push_back("init:" + std::to_string(type));
    return true;
  }
  bool rfReaderClose(int type, Error*) override {
    calls.push_back("close:" + std::to_string(type));
    return true;
  }
  std::optional<Bytes> rfReaderWrite(int, const uint8_t* data, int length, Error*) override {
    module->receive(Bytes(data, data + length));
    return Bytes{};
  }
};

class RfFactory final : public KXDriverFactory {
 public:
  std::shared_ptr<RfSleeve> sleeve = std::make_shared<RfSleeve>();
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return sleeve; }
};

class CardDelegate final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  CardDelegate() { declare({kxsel::rfCardDetected, kxsel::rfCardRemoved}); }
  std::shared_ptr<KXRFCardInfo> last;
  void rfCardDetected(int index, const std::shared_ptr<KXRFCardInfo>& info) override {
    last = info;
    record("detected:" + std::to_string(index) + ":" + (info ? info->typeStr : "?"));
  }
  void rfCardRemoved(int index) override { record("removed:" + std::to_string(index)); }
};

struct RfApi {
  std::shared_ptr<RfFactory> factory = std::make_shared<RfFactory>();
  std::shared_ptr<KXDevices> api = KXDevices::create(factory);
  std::shared_ptr<CardDelegate> delegate = std::make_shared<CardDelegate>();
  RfApi() {
    api->addDelegate(delegate);
    api->connectionState(2);
  }
  ~RfApi() {
    api->rfClose(nullptr);
    GlobalQueue::waitIdle();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
  }
  Bytes hex(const char* h) { return *fromHex(h); }
};

TEST(KXDevicesRF, CardsAreReportedToTheDelegatesOnTheMainQueueAndServedByIndex) {
  RfApi f;
  Error error;
  ASSERT_TRUE(f.api->rfInit(0x03, &error)) << error.text;
  // The reader is closed first, then powered up as the rc663 module it is.
  ASSERT_EQ(f.factory->sleeve->calls.size(), 2u);
  EXPECT_EQ(f.factory->sleeve->calls.front().rfind("close:", 0), 0u);
  EXPECT_EQ(f.factory->sleeve->calls.back(), "init:2");
  auto card = RfCard::mifareClassic1K(f.hex("0A0B0C0D"));
  f.factory->sleeve->module->place(card);
  ASSERT_TRUE(f.delegate->log().waitForLine("detected:0:Mifare Classic 1K"));
  EXPECT_TRUE(f.delegate->allOnMainThread());
  EXPECT_EQ(toHex(f.delegate->last->UID), "0A0B0C0D");
  EXPECT_EQ(f.delegate->last->SAK, 0x08);

  const Bytes key(6, 0xFF);
  ASSERT_TRUE(f.api->mfAuthByKey(0, 'A', 4, key, &error)) << error.text;
  const Bytes data = f.hex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
  EXPECT_EQ(f.api->mfWrite(0, 4, data, &error), 32);
  auto back = f.api->mfRead(0, 4, 32, &error);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, data);
  // Arguments are checked before the card is asked.
  struct Case {
    std::function<bool()> call;
    const char* text;
  };
  const Case refused[] = {
      {[&] { return f.api->mfAuthByKey(0, 'C', 4, key, &error); }, "Key type can be A or B"},
      {[&] { return f.api->mfAuthByKey(0, 'A', 4, Bytes(5, 0), &error); }, "Key is invalid"},
      {[&] { return f.api->mfStoreKeyIndex(8, 'A', key, &error); }, "Key index can be from 0 to 7"},
      {[&] { return bool(f.api->mfRead(0, 4, 20, &error)); }, "Invalid length specified, it can only be mutiple of 16"},
      {[&] { return bool(f.api->mfRead(0, 300, 16, &error)); }, "Address number is invalid"},
      {[&] { return f.api->mfWrite(0, 4, std::nullopt, &error) > 0; }, "Data block is invalid"},
      {[&] { return f.api->mfUlcAuthByKey(0, key, &error); }, "Key block is invalid"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.text);
    error = {};
    EXPECT_FALSE(c.call());
    EXPECT_EQ(error.code, -9);
    EXPECT_EQ(error.text, c.text);
  }
}

TEST(KXDevicesRF, ApdusAndDesfireFilesGoThroughIndex) {
  RfApi f;
  ASSERT_TRUE(f.api->rfInit(0x03));
  auto card = RfCard::desfire(f.hex("04DE5F1122334455"));
  f.factory->sleeve->module->place(card);
  ASSERT_TRUE(f.delegate->log().waitForLine("detected:0:Mifare Desfire")) << ::testing::PrintToString(f.delegate->calls());
  EXPECT_EQ(f.delegate->last->dfHardwareVersion, 0x0100);
  uint16_t sw = 0;
  Error error;
  auto out = f.api->iso14APDU(0, 0x00, 0xA4, 0x04, 0x00, f.hex("A0000000041010"), &sw, &error);
  ASSERT_TRUE(out) << error.text;
  EXPECT_EQ(sw, 0x9000);
  EXPECT_TRUE(f.api->dfSelectApplication(0, 0x000000, &error)) << error.text;
}

TEST(KXDevicesRF, ReaderChoiceAndRoutingFailures) {
  struct Case {
    int mask, preferred, chosen;
  };
  const Case cases[] = {{6, 0, 2}, {2, 4, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mask) + "/" + std::to_string(c.preferred));
    RfApi f;
    f.factory->sleeve->readers = c.mask;
    f.api->rfInitWithPreferredReader(c.preferred, 3, 0, 0.3, nullptr);
    EXPECT_EQ(RFWrapper::getReaderType(), c.chosen);
  }
  {
    RfApi f;
    f.factory->sleeve->readers = 0;
    Error error;
    EXPECT_FALSE(f.api->rfInit(3, &error));
    EXPECT_EQ(error.code, -7);
    EXPECT_EQ(error.text, "Connected device does not support selected RF reader type");
  }
  // Without any device the calls are refused as every routed call is.
  testing::ApiFixture none;
  Error error;
  const uint8_t frame[] = {0};
  EXPECT_FALSE(none.api->rfReaderWrite(2, frame, 1, &error));
  EXPECT_EQ(error.code, -20);
  none.sleeveState(2);  // a sleeve with no reader call of its own
  EXPECT_FALSE(none.api->rfClose(&error));
}

TEST(KXDevicesRF, RemovalWaitReportsOnceTheCardHasGone) {
  foundation::ScopedManualClock clock;
  RfApi f;
  f.factory->sleeve->inlineReplies = true;
  ASSERT_TRUE(f.api->rfInit(0x03));
  auto card = RfCard::ultralight(f.hex("04AABBCCDDEEFF"));
  f.factory->sleeve->module->place(card);
  ASSERT_TRUE(f.delegate->log().waitForLine("detected:0:Mifare Ultralight"));
  EXPECT_TRUE(f.api->rfRemoveCard(0));
  EXPECT_TRUE(f.api->rfRemoveCard(0));  // a second wait starts nothing
  // While the card lies there, nothing is reported.
  const int asked = f.factory->sleeve->module->commandsOf(5);
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] {
    clock->advance(std::chrono::milliseconds(100));
    return f.factory->sleeve->module->commandsOf(5) > asked + 1;
  }));
  EXPECT_EQ(f.delegate->log().count("removed:0"), 0u);
  f.factory->sleeve->module->remove(card);
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] {
    clock->advance(std::chrono::milliseconds(100));
    return f.delegate->log().count("removed:0") == 1;
  }));
}

TEST(KXDevicesRF, RemovalWaitEndsWhenTheReaderClosesOrItsDeviceLeaves) {
  foundation::ScopedManualClock clock;
  RfApi f;
  f.factory->sleeve->inlineReplies = true;
  ASSERT_TRUE(f.api->rfInit(0x03));
  auto card = RfCard::ultralight(f.hex("04AABBCCDDEE01"));
  f.factory->sleeve->module->place(card);
  ASSERT_TRUE(f.delegate->log().waitForLine("detected:0:Mifare Ultralight"));
  auto waitEnds = [&] {
    return foundation::RunLoop::main().runUntil([&] { return clock->waiters() == 0; });
  };

  // Closed while the card still lies on the reader: the wait ends without a report, and a
  // later wait is a new one.
  ASSERT_TRUE(f.api->rfRemoveCard(0));
  ASSERT_TRUE(clock->waitForWaiters(1));
  f.api->rfClose(nullptr);
  ASSERT_TRUE(waitEnds());
  ASSERT_TRUE(f.api->rfInit(0x03));
  ASSERT_TRUE(f.api->rfRemoveCard(0));
  ASSERT_TRUE(clock->waitForWaiters(1));

  // The sleeve holding the reader goes away before the next check: the wait ends too.
  f.factory->sleeve->state = 0;
  f.api->connectionState(0);
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] {
    clock->advance(std::chrono::milliseconds(100));
    return clock->waiters() == 0;
  }));
  EXPECT_EQ(f.delegate->log().count("removed:0"), 0u);
  f.factory->sleeve->state = 2;
  f.api->connectionState(2);
}

TEST(KXDevicesRF, UltralightReadsStepFourPagesAtATime) {
  RfApi f;
  ASSERT_TRUE(f.api->rfInit(0x03));
  auto card = RfCard::ultralight(f.hex("04112233445566"));
  for (size_t page = 0; page < card->blocks.size(); ++page) card->blocks[page] = Bytes(4, uint8_t(page));
  f.factory->sleeve->module->place(card);
  ASSERT_TRUE(f.delegate->log().waitForLine("detected:0:Mifare Ultralight"));
  Error error;
  auto data = f.api->mfRead(0, 4, 32, &error);
  ASSERT_TRUE(data) << error.text;
  // Pages 4 to 11, each once.
  Bytes expected;
  for (uint8_t page = 4; page < 12; ++page) expected.insert(expected.end(), 4, page);
  EXPECT_EQ(toHex(*data), toHex(expected));
}

}  // namespace
}  // namespace kestra