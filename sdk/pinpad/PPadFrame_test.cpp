#include "sdk/pinpad/PPadFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestra::ppad {
namespace {

using foundation::Bytes;

struct Seen {
  uint8_t type;
  uint8_t status;
  Bytes data;
  bool operator==(const Seen&) const = default;
};

class Recorder : public PacketSink {
 public:
  void onPacket(const Packet& p) override {
    ASSERT_EQ(p.bodyLength(), p.dataLength + 4);
    seen.push_back({p.type(), p.status(), Bytes(p.data(), p.data() + p.dataLength)});
  }
  std::vector<Seen> seen;
};

Bytes packet(uint8_t type, uint8_t status, const Bytes& data) {
  Bytes out = {kMarker, type, status, uint8_t(data.size() >> 8), uint8_t(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(xorCheck(out.data(), out.size()));
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Feeds `stream` as a transport does: pieces cut at `cuts`, whatever is not consumed stays
// in front of the next piece.
std::vector<Seen> feedInPieces(const Bytes& stream, const std::vector<size_t>& cuts,
                               size_t* leftOver = nullptr) {
  Recorder r;
  Bytes held;
  size_t from = 0;
  auto feed = [&](size_t to) {
    held.insert(held.end(), stream.begin() + long(from), stream.begin() + long(to));
    from = to;
    const size_t used = demultiplex(held.data(), held.size(), r);
    EXPECT_LE(used, held.size());
    held.erase(held.begin(), held.begin() + long(used));
  };
  for (size_t c : cuts) feed(c);
  feed(stream.size());
  if (leftOver) *leftOver = held.size();
  return r.seen;
}

TEST(PPadFrame, HostFrameCarriesGroupLengthAndXor) {
  const Bytes frame = makeFrame(0x36, {0x15, 0x02});
  EXPECT_EQ(frame, (Bytes{0x3E, 0x36, 0x00, 0x00, 0x02, 0x15, 0x02, 0x3E ^ 0x36 ^ 0x02 ^ 0x15 ^ 0x02}));
  const Bytes empty = makeFrame(0x01, {});
  EXPECT_EQ(empty, (Bytes{0x3E, 0x01, 0x00, 0x00, 0x00, 0x3F}));
}

TEST(PPadFrame, StrayBytesBeforeAResponseAreConsumedWithIt) {
  for (bool goodCheck : {true, false}) {
    SCOPED_TRACE(goodCheck ? "correct check byte" : "wrong check byte");
    Bytes p = packet(kTypeResponse, 0, {0xAA, 0xBB});
    if (!goodCheck) p.back() ^= 0x5A;  // not verified on receipt
    const Bytes stream = concat({{0x01, 0x02}, p});
    ASSERT_EQ(stream.size(), 10u);
    Recorder r;
    EXPECT_EQ(demultiplex(stream.data(), stream.size(), r), 10u);
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0], (Seen{0x00, 0x00, {0xAA, 0xBB}}));
  }
}

TEST(PPadFrame, DoubleMarkerStartsThePacketAtTheSecond) {
  const Bytes stream = concat({{kMarker}, packet(0x05, 0x00, {'4', '2'})});
  Recorder r;
  EXPECT_EQ(demultiplex(stream.data(), stream.size(), r), stream.size());
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0], (Seen{0x05, 0x00, {'4', '2'}}));
}

TEST(PPadFrame, PacketsSplitAtEveryBoundaryComeOutWhole) {
  const Bytes stream = concat({{0x77}, packet(kTypeResponse, 3, {1, 2, 3}), packet(kTypeDebug, 0, {}),
                               packet(0x0D, 0, {0x05})});
  const std::vector<Seen> expected = {{0x00, 3, {1, 2, 3}}, {kTypeDebug, 0, {}}, {0x0D, 0, {0x05}}};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    size_t left = 99;
    EXPECT_EQ(feedInPieces(stream, {cut}, &left), expected);
    EXPECT_EQ(left, 0u);
  }
  // Byte by byte.
  std::vector<size_t> cuts;
  for (size_t i = 1; i < stream.size(); ++i) cuts.push_back(i);
  EXPECT_EQ(feedInPieces(stream, cuts), expected);
}

TEST(PPadFrame, APartialPacketIsLeftFromItsMarkerOn) {
  const Bytes p = packet(kTypeResponse, 0, {9, 9, 9});
  const Bytes stream = concat({{0x10, 0x11, 0x12}, Bytes(p.begin(), p.begin() + 6)});
  Recorder r;
  EXPECT_EQ(demultiplex(stream.data(), stream.size(), r), 3u);
  EXPECT_TRUE(r.seen.empty());
}

TEST(PPadFrame, NoiseWithoutAMarkerDoesNotFillTheBuffer) {
  const Bytes noise(5000, 0x55);
  Recorder r;
  EXPECT_EQ(demultiplex(noise.data(), noise.size(), r), noise.size());
  EXPECT_TRUE(r.seen.empty());
}

TEST(PPadFrame, ALengthNoBufferCouldHoldIsSkippedAndTheNextPacketFound) {
  const Bytes bogus = {kMarker, 0x00, 0x00, 0xFF, 0xF0, 0x01};
  const Bytes good = packet(0x01, 0, {});
  const Bytes stream = concat({bogus, good});
  EXPECT_EQ(feedInPieces(stream, {}), (std::vector<Seen>{{0x01, 0, {}}}));
  // The largest packet a receive buffer can hold is still waited for.
  const Bytes big = {kMarker, 0x00, 0x00, uint8_t(kMaxPacketData >> 8), uint8_t(kMaxPacketData)};
  Recorder r;
  EXPECT_EQ(demultiplex(big.data(), big.size(), r), 0u);
}

TEST(PPadFrame, TamperingAnyByteNeverReadsOutsideTheBuffer) {
  const Bytes stream = concat({packet(kTypeResponse, 0, {1, 2, 3, 4}), packet(0x06, 0, {7})});
  for (size_t i = 0; i < stream.size(); ++i) {
    for (uint8_t v : {uint8_t(0x00), uint8_t(0x3E), uint8_t(0xFF)}) {
      Bytes t = stream;
      t[i] = v;
      Recorder r;
      const size_t used = demultiplex(t.data(), t.size(), r);
      EXPECT_LE(used, t.size());
      for (const auto& s : r.seen) EXPECT_LE(s.data.size(), t.size());
    }
  }
}

}  // namespace
}  // namespace kestra::ppad
