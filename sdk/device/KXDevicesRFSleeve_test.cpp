// The contactless reader inside a simulated sleeve, through the real sleeve driver and the
// device API.

#include <gtest/gtest.h>

#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/rf/SimulatedRc663.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {
namespace rf_sleeve_test {

class CardLog final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  CardLog() { declare({kxsel::rfCardDetected, kxsel::connectionState}); }
  void connectionState(int s) override { record("state:" + std::to_string(s)); }
  void rfCardDetected(int index, const std::shared_ptr<KXRFCardInfo>& info) override {
    record("card:" + std::to_string(index) + ":" + (info ? info->typeStr : "?"));
  }
};

devices::SimulatedSleeve::Options readerSleeve() {
  devices::SimulatedSleeve::Options o;
  o.config.model = "XBCMR6";  // a sleeve with the rc663 reader module
  return o;
}

TEST(KXDevicesRFSleeve, CardsInTheSleevesFieldReachTheDelegatesAndAnswerCommands) {
  devices::SleeveTestBench bench(readerSleeve());
  auto module = std::make_shared<devices::SimulatedRc663>();
  bench.sleeve->attachRfReader(module);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto log = std::make_shared<CardLog>();
  api->addDelegate(log);
  ASSERT_TRUE(bench.sleeve->attach());
  api->connect();
  ASSERT_TRUE(log->log().waitForLine("state:2"));
  EXPECT_EQ(api->getSupportedFeature(5, nullptr), 2);

  Error error;
  bool opened = false;
  {
    // Commands wait for the sleeve on a worker thread while the main queue runs.
    std::atomic<bool> done{false};
    std::thread t([&] {
      opened = api->rfInit(0x03, &error);
      done = true;
    });
    ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
    t.join();
  }
  ASSERT_TRUE(opened) << error.code << " " << error.text << " module got " << [&] { std::string s; for (auto& f : module->received()) s += foundation::toHex(f) + " "; return s; }();
  EXPECT_TRUE(module->polling());

  auto card = devices::RfCard::mifareClassic1K(*foundation::fromHex("C0FFEE01"));
  module->place(card);
  ASSERT_TRUE(log->log().waitForLine("card:0:Mifare Classic 1K"));
  std::optional<Bytes> block;
  {
    std::atomic<bool> done{false};
    std::thread t([&] {
      if (api->mfAuthByKey(0, 'B', 1, Bytes(6, 0xFF), &error)) block = api->mfRead(0, 1, 16, &error);
      done = true;
    });
    ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
    t.join();
  }
  ASSERT_TRUE(block) << error.text;
  EXPECT_EQ(*block, card->blocks[1]);
  api->rfClose(nullptr);
  GlobalQueue::waitIdle();
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
}

}  // namespace rf_sleeve_test
}  // namespace
}  // namespace kestra::testing

namespace kestra::testing {
namespace {
namespace rf_sleeve_test {

// Which sleeve command carries a reader's frames depends on the sleeve's firmware.
TEST(KXDevicesRFSleeve, ReaderCommandsFollowTheSleevesFirmware) {
  struct Case {
    const char* firmware;
    int readerType;
    int writeCommand;
  };
  const Case cases[] = {
      {"5.16", 2, 32}, {"5.17", 2, 57}, {"5.68.69", 4, 57}, {"5.68.70", 4, 34}, {"5.68.70", 1, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.firmware) + " type " + std::to_string(c.readerType));
    auto options = readerSleeve();
    options.config.firmware = c.firmware;
    devices::SleeveTestBench bench(options);
    bench.sleeve->attachRfReader(std::make_shared<devices::SimulatedRc663>());
    ASSERT_TRUE(bench.connect());
    bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { p.clearHostFrames(); });
    const uint8_t frame[] = {0x00, 0x10, 0x00, 0x00};
    Error error;
    std::optional<Bytes> answer;
    std::atomic<bool> done{false};
    std::thread t([&] {
      answer = bench.pellan->rfReaderWrite(c.readerType, frame, sizeof frame, &error);
      done = true;
    });
    ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
    t.join();
    ASSERT_TRUE(answer) << error.text;
    EXPECT_TRUE(answer->empty());
    const auto sent = bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.hostFrames(); });
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().code, c.writeCommand);
    // A pn544 frame goes behind its prefix byte.
    if (c.readerType == 1) {
      EXPECT_EQ(sent.back().data.front(), 0x02);
    }
  }
}

}  // namespace rf_sleeve_test
}  // namespace
}  // namespace kestra::testing
