// The omniKey CCID reader inside a simulated sleeve, through the real sleeve driver and the
// device API: the reader's answers travel back in the sleeve's command replies, its slot
// notifications as the sleeve's reader events.

#include <gtest/gtest.h>

#include <thread>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/OmniKey.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/rf/SimulatedOmniKey.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

class OmniCardLog final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  OmniCardLog() { declare({kxsel::rfCardDetected, kxsel::connectionState}); }
  void connectionState(int s) override { record("state:" + std::to_string(s)); }
  void rfCardDetected(int index, const std::shared_ptr<KXRFCardInfo>& info) override {
    record("card:" + std::to_string(index) + ":" + (info ? std::to_string(info->readerType) : "?"));
  }
};

TEST(KXDevicesOmniKeySleeve, ReaderIsSetUpAndCardsAnswerThroughTheSleeve) {
  devices::SimulatedSleeve::Options options;
  options.config.model = "XBCMRH";  // a sleeve with the omniKey reader
  devices::SleeveTestBench bench(options);
  auto reader = std::make_shared<devices::SimulatedOmniKey>();
  bench.sleeve->attachOmniKey(reader);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto log = std::make_shared<OmniCardLog>();
  api->addDelegate(log);
  ASSERT_TRUE(bench.sleeve->attach());
  api->connect();
  ASSERT_TRUE(log->log().waitForLine("state:2"));
  EXPECT_EQ(api->getSupportedFeature(5, nullptr), 4);

  // Commands wait for the sleeve on a worker thread while the main queue runs.
  auto onWorker = [&](const std::function<void()>& f) {
    std::atomic<bool> done{false};
    std::thread t([&] {
      f();
      done = true;
    });
    const bool finished = bench.runUntil([&] { return done.load(); });
    t.join();
    return finished;
  };
  Error error;
  bool opened = false;
  ASSERT_TRUE(onWorker([&] { opened = api->rfInit(0x01, &error); }));
  ASSERT_TRUE(opened) << error.text;
  EXPECT_EQ(RFWrapper::getReaderType(), kRFReaderOmniKey);
  const auto escapes = reader->escapes();
  ASSERT_EQ(escapes.size(), 7u);
  EXPECT_EQ(escapes[0][19], 0xFF);  // type A on
  EXPECT_EQ(escapes[3][19], 0x00);  // type B off

  reader->insert(0, devices::RfCard::desfire(*foundation::fromHex("04010203040506")));
  ASSERT_TRUE(log->log().waitForLine("card:0:4"));
  int result = -1;
  Bytes answer;
  ASSERT_TRUE(onWorker([&] {
    const Bytes command{'O', 'M', 'N', 'I', 2, 0x00, 0xA4, 0x04, 0x00, 0x02, 0xCA, 0xFE};
    result = rfCardTransceive(kOmniKeyCardChannel, command.data(), int(command.size()));
    answer = rfCmdAnswer();
  }));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(foundation::toHex(answer), "CAFE9000");

  // The card leaves; the removal check follows the reader's notification.
  reader->remove(0);
  bool removed = false;
  ASSERT_TRUE(bench.runUntil([&] {
    removed = RFWrapper::omniResumeCardDetection(0);
    return removed;
  }));
  api->rfClose(nullptr);
  GlobalQueue::waitIdle();
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
}

}  // namespace
}  // namespace kestra::testing
