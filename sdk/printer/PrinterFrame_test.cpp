#include "sdk/printer/PrinterFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestra::printer {
namespace {

using foundation::Bytes;

struct Collect : StreamSink {
  std::vector<std::string> seen;
  void onReply(const uint8_t* r, size_t n) override {
    seen.push_back("reply:" + foundation::toHex(r, n));
  }
  void onOversizeReply(const uint8_t* h) override {
    seen.push_back("oversize:" + foundation::toHex(h, kHeaderSize));
  }
  void onEvent(const uint8_t* e) override { seen.push_back("event:" + foundation::toHex(e, 4)); }
};

TEST(PrinterFrame, FrameCarriesChannelOperationAndBigEndianLength) {
  Bytes payload(300, 0x41);
  const Bytes f = makeFrame(1, kOpWrite, payload);
  ASSERT_EQ(f.size(), 304u);
  EXPECT_EQ(f[0], 1);
  EXPECT_EQ(f[1], 2);
  EXPECT_EQ(f[2], 0x01);
  EXPECT_EQ(f[3], 0x2C);
  EXPECT_EQ(makeFrame(15, kOpOpenChannel, {}), (Bytes{15, 0, 0, 0}));
}

TEST(PrinterFrame, VerdictOfEachReplyStatus) {
  struct Case {
    const char* name;
    Bytes header;
    ReplyVerdict verdict;
  } cases[] = {
      {"accepted", {0x81, 0x00, 0, 0}, ReplyVerdict::Accepted},
      {"job running is still accepted", {0x81, 0x80, 0, 0}, ReplyVerdict::Accepted},
      {"paper out is still accepted", {0x81, 0x20, 0, 0}, ReplyVerdict::Accepted},
      {"busy", {0x81, 0x02, 0, 0}, ReplyVerdict::Busy},
      {"busy without the channel echo", {0x00, 0x02, 0, 0}, ReplyVerdict::Busy},
      {"other channel", {0x82, 0x00, 0, 0}, ReplyVerdict::WrongChannel},
      {"failure bit 0", {0x81, 0x01, 0, 0}, ReplyVerdict::Failed},
      {"failure bit 2", {0x81, 0x04, 0, 0}, ReplyVerdict::Failed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(judgeReply(1, c.header.data()), c.verdict);
  }
}

TEST(PrinterFrame, SplitsRepliesAndEventsAndKeepsPartialReply) {
  const Bytes stream = {0x81, 0x00, 0x00, 0x02, 0xAA, 0xBB,  // reply with 2 data bytes
                        0x00, 0x00, 0x00, 0x03,              // event: barcode + card
                        0x81, 0x00, 0x00, 0x03, 0x01};       // reply still missing 2 bytes
  Collect sink;
  const size_t used = splitProtocolStream(stream.data(), stream.size(), sink);
  EXPECT_EQ(used, 10u);
  EXPECT_EQ(sink.seen, (std::vector<std::string>{"reply:81000002AABB", "event:00000003"}));
}

TEST(PrinterFrame, EveryDeliverySplitGivesTheSameMessages) {
  const Bytes stream = {0x81, 0x00, 0x00, 0x01, 0x7F, 0x00, 0x00, 0x00, 0x20,
                        0x8F, 0x80, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};
  Collect whole;
  ASSERT_EQ(splitProtocolStream(stream.data(), stream.size(), whole), stream.size());
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    Collect sink;
    Bytes held(stream.begin(), stream.begin() + long(cut));
    held.erase(held.begin(), held.begin() + long(splitProtocolStream(held.data(), held.size(), sink)));
    held.insert(held.end(), stream.begin() + long(cut), stream.end());
    EXPECT_EQ(splitProtocolStream(held.data(), held.size(), sink), held.size());
    EXPECT_EQ(sink.seen, whole.seen);
  }
}

TEST(PrinterFrame, ReplyLongerThanTheReceiveBufferIsDroppedNotAwaited) {
  const Bytes stream = {0x81, 0x00, 0xFF, 0xFF, 0x01, 0x02};
  Collect sink;
  EXPECT_EQ(splitProtocolStream(stream.data(), stream.size(), sink), stream.size());
  EXPECT_EQ(sink.seen, (std::vector<std::string>{"oversize:8100FFFF"}));
  // The largest reply that fits is kept whole.
  Bytes fits = {0x81, 0x00, 0x01, 0xFC};
  fits.resize(kReceiveBufferSize, 0x55);
  Collect s2;
  EXPECT_EQ(splitProtocolStream(fits.data(), fits.size(), s2), fits.size());
  ASSERT_EQ(s2.seen.size(), 1u);
  EXPECT_EQ(s2.seen[0].substr(0, 6), "reply:");
}

}  // namespace
}  // namespace kestra::printer
