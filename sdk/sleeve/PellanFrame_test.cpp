#include "sdk/sleeve/PellanFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestra::pellan {
namespace {

using foundation::Bytes;

struct Seen {
  FrameKind kind;
  int channel;
  uint8_t code;
  Bytes frame;
};

class Recorder : public FrameSink {
 public:
  void onFrame(const RoutedFrame& f) override {
    seen.push_back({f.kind, f.channel, f.code, Bytes(f.frame, f.frame + f.frameLength)});
  }
  std::vector<Seen> seen;
};

Bytes deviceFrame(uint8_t code, const Bytes& data, uint8_t id = 7) {
  return makeFrame(code, kDirectionToHost, id, data);
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Feeds `stream` the way a transport does: bytes arrive in pieces, and whatever the
// demultiplexer leaves unconsumed stays in front of the next piece.
std::vector<Seen> feedInPieces(const Bytes& stream, const std::vector<size_t>& cuts,
                               int nChannels = 2) {
  Recorder r;
  Bytes held;
  size_t prev = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(stream.size());
  for (size_t end : ends) {
    held.insert(held.end(), stream.begin() + prev, stream.begin() + end);
    prev = end;
    const size_t used = demultiplex(0, held.data(), held.size(), nChannels, r);
    EXPECT_LE(used, held.size());
    held.erase(held.begin(), held.begin() + used);
  }
  EXPECT_TRUE(held.empty()) << "left " << held.size() << " bytes";
  return r.seen;
}

TEST(PellanFrame, HostFrameLayout) {
  EXPECT_EQ(makeFrame(0x09, kDirectionToDevice, 0x2A, Bytes{0x00, 0x04}),
            (Bytes{0x00, 0x00, 0x02, 0x09, 0x01, 0x2A, 0x00, 0x04}));
  Bytes out;
  appendFrame(out, 0x03, kDirectionToDevice, 0xFF, nullptr, 0);
  EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x00, 0x03, 0x01, 0xFF}));
}

TEST(PellanFrame, ThreeFramesSplitAtEveryBoundaryAndMerged) {
  const Bytes stream =
      concat({deviceFrame(0x01, {0, 0, 'a', 'b'}), deviceFrame(0x05, {0, 0, 0x0D, '1', '2'}),
              deviceFrame(0x3A, {0, 0})});
  // Every single cut point, and every pair of cut points.
  for (size_t a = 0; a <= stream.size(); ++a) {
    for (size_t b = a; b <= stream.size(); ++b) {
      SCOPED_TRACE("cuts " + std::to_string(a) + "," + std::to_string(b));
      const auto seen = feedInPieces(stream, {a, b});
      ASSERT_EQ(seen.size(), 3u);
      EXPECT_EQ(seen[0].kind, FrameKind::Reply);
      EXPECT_EQ(seen[1].kind, FrameKind::Event);
      EXPECT_EQ(seen[1].code, 0x05);
      EXPECT_EQ(seen[2].frame, deviceFrame(0x3A, {0, 0}));
    }
  }
}

TEST(PellanFrame, TwoWholeFramesAndHalfAThirdConsumeExactlyTheFirstTwo) {
  const Bytes a = deviceFrame(0x01, {0, 0, 1});
  const Bytes b = deviceFrame(0x05, {0, 0, 2, 3});
  const Bytes c = deviceFrame(0x3A, {0, 0, 4, 5, 6});
  Bytes held = concat({a, b, Bytes(c.begin(), c.begin() + 5)});
  Recorder r;
  EXPECT_EQ(demultiplex(0, held.data(), held.size(), 2, r), a.size() + b.size());
  EXPECT_EQ(r.seen.size(), 2u);
}

TEST(PellanFrame, BadInputIsDroppedNeverWaitedFor) {
  const Bytes good = deviceFrame(0x01, {0, 0});
  Bytes hugeLength = {0x00, 0xFF, 0xFF, 0x05, 0x02, 0x00};
  Bytes justTooLong = {0x00, 0x07, 0xFB, 0x3A, 0x02, 0x00};  // N + 6 = 2049
  struct Case {
    const char* name;
    Bytes delivery;
    size_t consumed;
    size_t frames;
  } cases[] = {
      {"garbage before a frame", concat({Bytes{0x55, 0xAA}, good}), good.size() + 2, 0},
      {"a lone non-marker byte", Bytes{0x7F}, 1, 0},
      {"short header waits", Bytes{0x00, 0x00, 0x02}, 0, 0},
      {"host-direction frame drops the rest",
       concat({makeFrame(0x01, kDirectionToDevice, 0, {0, 0}), good}), 2 * good.size(), 0},
      {"impossible length", concat({hugeLength, good}), hugeLength.size() + good.size(), 0},
      {"length one past the maximum", justTooLong, justTooLong.size(), 1},
      {"garbage after a good frame", concat({good, Bytes{0x42, 0, 0, 0, 0, 0, 0}}),
       good.size() + 7, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder r;
    EXPECT_EQ(demultiplex(0, c.delivery.data(), c.delivery.size(), 2, r), c.consumed);
    EXPECT_EQ(r.seen.size(), c.frames);
  }
}

TEST(PellanFrame, OversizeReplyHeaderReachesTheSinkButEventsDoNot) {
  Bytes reply = {0x00, 0x10, 0x00, 0x3A, 0x02, 0x00, 0x00, 0x00};
  Recorder r;
  demultiplex(0, reply.data(), reply.size(), 2, r);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].kind, FrameKind::OversizeReply);
  EXPECT_EQ(r.seen[0].frame.size(), kFrameHeaderSize);

  Bytes event = {0x00, 0x10, 0x00, 0x05, 0x02, 0x00, 0x00, 0x00};
  Recorder e;
  EXPECT_EQ(demultiplex(0, event.data(), event.size(), 2, e), event.size());
  EXPECT_TRUE(e.seen.empty());
}

TEST(PellanFrame, LargestFrameIsAccepted) {
  Bytes data(kMaxFrameSize - kFrameHeaderSize, 0xAB);
  data[0] = 0;
  const Bytes f = deviceFrame(0x3A, data);
  ASSERT_EQ(f.size(), kMaxFrameSize);
  Recorder r;
  EXPECT_EQ(demultiplex(0, f.data(), f.size(), 2, r), f.size());
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].kind, FrameKind::Reply);
}

TEST(PellanFrame, ClassificationByChannelAndCode) {
  struct Case {
    int arrival;
    uint8_t raw;
    int nChannels;
    FrameKind kind;
    int channel;
    uint8_t code;
  } cases[] = {
      {0, 0x05, 2, FrameKind::Event, 0, 0x05},
      {0, 0x06, 2, FrameKind::Event, 0, 0x06},
      {0, 0x25, 2, FrameKind::Event, 0, 0x25},
      {0, 0x38, 2, FrameKind::Event, 0, 0x38},
      {0, 0x45, 2, FrameKind::Event, 0, 0x45},
      {0, 0x47, 2, FrameKind::Event, 0, 0x47},
      {0, 0x49, 2, FrameKind::Event, 0, 0x49},
      {0, 0x02, 2, FrameKind::Event, 0, 0x02},
      {0, 0x1E, 2, FrameKind::BluetoothEvent, 0, 0x1E},
      {0, 0x1F, 2, FrameKind::RfData, 0, 0x1F},
      {0, 0x26, 2, FrameKind::RfData, 0, 0x26},
      {0, 0x3D, 2, FrameKind::IClass, 0, 0x3D},
      {0, 0x51, 2, FrameKind::Generic, 0, 0x51},
      {0, 0x03, 2, FrameKind::Reply, 0, 0x03},
      {1, 0x02, 2, FrameKind::Event, 1, 0x02},
      {1, 0x03, 2, FrameKind::Event, 1, 0x03},
      {1, 0x05, 2, FrameKind::Event, 1, 0x05},
      {1, 0x06, 2, FrameKind::Event, 1, 0x06},
      {1, 0x04, 2, FrameKind::Reply, 1, 0x04},
      {1, 0x1E, 2, FrameKind::Reply, 1, 0x1E},
      {3, 0x02, 2, FrameKind::Event, 3, 0x02},
      {3, 0x05, 2, FrameKind::Reply, 3, 0x05},
      // One-channel link: folded codes belong to channel 1 whatever channel they came on.
      {0, 0xE2, 1, FrameKind::Event, 1, 0x02},
      {0, 0xE4, 1, FrameKind::Reply, 1, 0x04},
      {1, 0x05, 1, FrameKind::Event, 0, 0x05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.arrival) + "/" + std::to_string(c.raw) + "/" +
                 std::to_string(c.nChannels));
    int ch = -1;
    uint8_t code = 0;
    EXPECT_EQ(classifyFrame(c.arrival, c.raw, c.nChannels, &ch, &code), c.kind);
    EXPECT_EQ(ch, c.channel);
    EXPECT_EQ(code, c.code);
  }
}

}  // namespace
}  // namespace kestra::pellan
