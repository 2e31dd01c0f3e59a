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
