// The event parser and the delegate list, fed event records directly on the main thread.

#include <gtest/gtest.h>

#include <stdexcept>

#include "sdk/sleeve/Pellan.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra {
namespace {

using devices::RecordingPellanDelegate;
using devices::SleeveTestBench;
using foundation::Bytes;

class PellanParser : public ::testing::Test {
 protected:
  Pellan& pellan() { return *bench.pellan; }
  std::vector<std::string> feed(Bytes record) {
    bench.delegate->clear();
    pellan().processData(std::move(record));
    return bench.delegate->calls();
  }
  SleeveTestBench bench;
};

TEST_F(PellanParser, RecordsGoToTheirCallbacks) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    Bytes record;
    V calls;
  } cases[] = {
      {"barcode", {0, 0x05, 0, 0, 'T', '4', '2'}, V{"kxdev_barcodeData:543432"}},
      {"pass-book signal", {1, 0x02, 0, 0, 0x00, 0x02, 0x07},
       V{"kxdev_magneticPassbookData:000207"}},
      {"F2F track", {0, 0x02, 0, 0, 0xF8, 'a', 'b'}, V{"magneticF2FCardData:ab"}},
      {"CTDOT data", {1, 0x02, 0, 0, 0xF6, 0x01, 0x00}, V{"kxdev_magneticCTDOTData:F601"}},
      {"track 2 only", {1, 0x02, 0, 0, 0xF2, ';', '1', '='}, V{"magneticCardData:(null),;1=,(null)"}},
      {"raw head data", {1, 0x03, 0, 0, 0x10, 0x20}, V{"magneticCardRawData:1020"}},
      {"UHF tag", {0, 0x45, 0, 0, 0x22, 0x30, 0x00, 0xAA}, V{"kxdev_uhfCard:12288,AA"}},
      {"UHF without its tag marker", {0, 0x45, 0, 0, 0x21, 0x30, 0x00, 0xAA}, V{}},
      {"debug text", {0, 0x25, 0, 0, 0x01, 'o', 'k'}, V{"kxdev_debug:ok,0"}},
      {"debug bytes are only logged", {0, 0x25, 0, 0, 0x02, 0x01}, V{}},
      {"no row: channel 1, code 6", {1, 0x06, 0, 0, 0x01}, V{}},
      {"no status bytes", {0, 0x05, 0}, V{}},
      {"empty button payload", {0, 0x06, 0, 0}, V{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(feed(c.record), c.calls);
  }
}

TEST_F(PellanParser, ButtonMaskComparesWithThePreviousState) {
  EXPECT_EQ(feed({0, 0x06, 0, 0, 0x01}), std::vector<std::string>{"pellanButtonPressed:0"});
  EXPECT_EQ(feed({0, 0x06, 0, 0, 0x03}), std::vector<std::string>{"pellanButtonPressed:1"});
  EXPECT_EQ(feed({0, 0x06, 0, 0, 0x00}),
            (std::vector<std::string>{"pellanButtonReleased:0", "pellanButtonReleased:1"}));
}

TEST_F(PellanParser, ADelegateThatThrowsDoesNotStopTheOthers) {
  auto thrower = std::make_shared<RecordingPellanDelegate>(
      std::vector<std::string_view>{sel::kxdev_barcodeData}, "T:");
  thrower->onCall = [](const std::string&) { throw std::runtime_error("delegate failed"); };
  pellan().addDelegate(thrower);  // registered last, so called first
  const auto calls = feed({0, 0x05, 0, 0, 'T', '1'});
  EXPECT_EQ(calls, std::vector<std::string>{"kxdev_barcodeData:5431"});
  EXPECT_EQ(thrower->calls(), std::vector<std::string>{"T:kxdev_barcodeData:5431"});
}

TEST_F(PellanParser, OnlyDelegatesThatImplementACallbackGetIt) {
  auto buttonsOnly = std::make_shared<RecordingPellanDelegate>(
      std::vector<std::string_view>{sel::pellanButtonPressed}, "B:");
  pellan().addDelegate(buttonsOnly);
  feed({0, 0x05, 0, 0, 'T', '1'});
  feed({0, 0x06, 0, 0, 0x01});
  EXPECT_EQ(buttonsOnly->calls(), std::vector<std::string>{"B:pellanButtonPressed:0"});
}

TEST_F(PellanParser, PassKeyNoticeReachesTheDelegatesThatTakeIt) {
  auto other = std::make_shared<RecordingPellanDelegate>(
      std::vector<std::string_view>{sel::connectionState}, "O:");
  pellan().addDelegate(other);
  pellan().bluetoothDevicePassKeySent("0011223344AA", "123456");
  EXPECT_EQ(bench.delegate->calls(),
            std::vector<std::string>{"bluetoothDevicePassKeySent:0011223344AA,123456"});
  EXPECT_TRUE(other->calls().empty());
}

TEST(PellanDelegates, AddRemoveAndSetKeepTheListInOrder) {
  SleeveTestBench bench;
  Pellan& p = *bench.pellan;
  auto a = bench.delegate;
  auto b = std::make_shared<RecordingPellanDelegate>();
  auto c = std::make_shared<RecordingPellanDelegate>();
  auto d = std::make_shared<RecordingPellanDelegate>();
  p.addDelegate(b);
  p.addDelegate(b);  // once only
  p.addDelegate(c);
  EXPECT_EQ(p.delegates(), (std::vector<std::shared_ptr<PellanDelegate>>{a, b, c}));
  p.setDelegate(d);  // replaces the first only
  EXPECT_EQ(p.delegates(), (std::vector<std::shared_ptr<PellanDelegate>>{d, b, c}));
  EXPECT_EQ(p.delegate(), d);
  p.removeDelegate(b);
  EXPECT_EQ(p.delegates(), (std::vector<std::shared_ptr<PellanDelegate>>{d, c}));
  // A released delegate leaves the list without a call.
  d.reset();
  EXPECT_EQ(p.delegate(), c);
  EXPECT_FALSE(p.clientsRespondToSelector(sel::connectionState));
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

class RecordingModuleSink final : public PellanModuleSink {
 public:
  void rfDataAvailable(const Bytes& data) override { add("rf:" + foundation::toHex(data)); }
  void iClassDataAvailable(const uint8_t* data, int length) override {
    add("iclass:" + foundation::toHex(Bytes(data, data + length)));
  }
  std::vector<std::string> calls() {
    std::lock_guard lock(m_);
    return calls_;
  }
  bool waitFor(size_t n) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [&] { return calls_.size() >= n; });
  }

 private:
  void add(std::string s) {
    std::lock_guard lock(m_);
    calls_.push_back(std::move(s));
    cv_.notify_all();
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;
};

// A device-to-host frame on channel 0.
Bytes frame(uint8_t code, const Bytes& data) {
  Bytes f;
  f.push_back(0x00);
  foundation::appendBE16(f, uint16_t(data.size()));
  for (uint8_t b : {code, uint8_t(0x02), uint8_t(0x00)}) f.push_back(b);
  for (uint8_t b : data) f.push_back(b);
  return f;
}

// The reader's frames reach the sink in the order the sleeve sent them: a frame split over
// several events is put back together in order.
TEST(PellanModuleFrames, RfFramesReachTheSinkInTheOrderTheyCame) {
  SleeveTestBench bench;
  Pellan& pellan = *bench.pellan;
  auto sink = std::make_shared<RecordingModuleSink>();
  pellan.setModuleSink(sink);
  std::vector<std::string> sent;
  for (int i = 0; i < 200; ++i) {
    const Bytes data = {0x00, 0x00, uint8_t(i >> 8), uint8_t(i)};
    const Bytes f = frame(i % 2 ? 0x1F : 0x26, data);
    ASSERT_EQ(pellan.accessoryData(0, f.data(), int(f.size())), int(f.size()));
    sent.push_back("rf:" + foundation::toHex(Bytes(data.begin() + 2, data.end())));
  }
  ASSERT_TRUE(sink->waitFor(sent.size()));
  EXPECT_EQ(sink->calls(), sent);
}

TEST(PellanModuleFrames, RfAndIClassFramesReachTheSinkAndNothingElse) {
  SleeveTestBench bench;
  Pellan& pellan = *bench.pellan;
  auto deliver = [&](const Bytes& f) { return pellan.accessoryData(0, f.data(), int(f.size())); };

  // Without a sink the frames are consumed and dropped.
  const Bytes rf = frame(0x1F, {0x00, 0x00, 0xAB, 0xCD});
  EXPECT_EQ(deliver(rf), int(rf.size()));

  auto sink = std::make_shared<RecordingModuleSink>();
  pellan.setModuleSink(sink);
  EXPECT_EQ(deliver(rf), int(rf.size()));
  ASSERT_TRUE(sink->waitFor(1));
  EXPECT_EQ(deliver(frame(0x26, {0x00, 0x00, 0x01})), 9);
  ASSERT_TRUE(sink->waitFor(2));

  deliver(frame(0x3D, {0x05, 0x11, 0x22}));
  deliver(frame(0x3D, {0x04, 0x99}));  // not an answer
  Bytes oversize(1 + Pellan::kIClassAnswerMax + 1, 0x33);
  oversize[0] = 0x05;
  deliver(frame(0x3D, oversize));  // longer than an answer can be: dropped
  Bytes largest(1 + Pellan::kIClassAnswerMax, 0x44);
  largest[0] = 0x05;
  deliver(frame(0x3D, largest));
  ASSERT_TRUE(sink->waitFor(4));
  const auto calls = sink->calls();
  ASSERT_EQ(calls.size(), 4u);
  std::vector<std::string> rfCalls(calls.begin(), calls.begin() + 2);
  EXPECT_EQ(rfCalls, (std::vector<std::string>{"rf:ABCD", "rf:01"}));  // in the order sent
  EXPECT_EQ(calls[2], "iclass:1122");
  EXPECT_EQ(calls[3].size(), std::string("iclass:").size() + 2 * size_t(Pellan::kIClassAnswerMax));
  EXPECT_TRUE(bench.delegate->calls().empty());  // no event reached the delegates
}

}  // namespace
}  // namespace kestra
