#include "testing/devices/base/FrameCommandDevice.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/FrameCommandSimulator.h"
#include "testing/devices/base/RecordingDriver.h"
#include "testing/devices/base/StreamPairPeer.h"

namespace devices {
namespace {

using namespace std::chrono_literals;

// A small framed protocol: [0x02][data length][command][data]. Anything else is noise.
FrameScan scanFrame(const uint8_t* p, size_t n) {
  if (p[0] != 0x02) return FrameScan::skip(1);
  if (n < 3 || n < size_t(3 + p[1])) return FrameScan::needMore();
  return FrameScan::frame(size_t(3 + p[1]), p[2]);
}

Bytes frame(uint8_t command, const Bytes& data = {}) {
  Bytes f;
  f.reserve(3 + data.size());
  f.push_back(0x02);
  f.push_back(uint8_t(data.size()));
  f.push_back(command);
  for (uint8_t b : data) f.push_back(b);
  return f;
}

// Answers every command with [0x02][1][command | 0x80][count so far].
void answerAll(FrameCommandDevice& d) {
  auto count = std::make_shared<uint8_t>(0);
  d.onOther([count](const HostFrame& f) {
    return std::vector<FrameCommandDevice::Reply>{{frame(uint8_t(f.command | 0x80), {++*count})}};
  });
}

TEST(FrameCommandDevice, FramesAreCutTheSameAtEveryBoundaryAndNoiseIsSkipped) {
  const Bytes stream = [] {
    Bytes s = {0xFF, 0x00};
    for (const Bytes& f : {frame(0x10, {1, 2, 3}), frame(0x11), frame(0x12, {9})}) s.insert(s.end(), f.begin(), f.end());
    return s;
  }();
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    FrameCommandDevice d(scanFrame);
    answerAll(d);
    auto out = d.feed(0, stream.data(), cut);
    auto rest = d.feed(0, stream.data() + cut, stream.size() - cut);
    out.insert(out.end(), rest.begin(), rest.end());
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].bytes, frame(0x90, {1}));
    EXPECT_EQ(out[2].bytes, frame(0x92, {3}));
    const auto frames = d.hostFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, frame(0x10, {1, 2, 3}));
    EXPECT_EQ(d.framesOf(0x11), 1u);
  }
}

TEST(FrameCommandDevice, HandlersByCommandAndScriptedFaultsInOrder) {
  FrameCommandDevice d(scanFrame);
  answerAll(d);
  d.on(0x20, [](const HostFrame&) {
    return std::vector<FrameCommandDevice::Reply>{{frame(0xA0)}, {frame(0xA1), 1}};
  });
  d.script(0x20, ScriptedFault::unanswered());
  d.script(kAnyCommand, ScriptedFault::late(3s));
  d.script(0x20, ScriptedFault::dropped(2));
  d.setAnswered(0x30, false);

  auto feed = [&](uint8_t command) {
    const Bytes f = frame(command);
    return d.feed(0, f.data(), f.size());
  };
  EXPECT_TRUE(feed(0x20).empty());  // unanswered, but recorded
  EXPECT_EQ(d.framesOf(0x20), 1u);
  auto late = feed(0x21);  // the any-command fault comes next
  ASSERT_EQ(late.size(), 1u);
  ASSERT_TRUE(late[0].fault);
  EXPECT_EQ(late[0].fault->kind, ScriptedFault::Late);
  auto dropped = feed(0x20);  // the link drops in the first reply: the second never goes
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].fault->kind, ScriptedFault::Dropped);
  auto both = feed(0x20);  // the script is used up
  ASSERT_EQ(both.size(), 2u);
  EXPECT_FALSE(both[0].fault);
  EXPECT_EQ(both[1].channel, 1);
  EXPECT_TRUE(feed(0x30).empty());
  EXPECT_TRUE(feed(0x30).empty());
  d.setAnswered(0x30, true);
  EXPECT_EQ(feed(0x30).size(), 1u);
}

TEST(FrameCommandDevice, AParserThatClaimsMoreThanIsHeldWaitsForTheRest) {
  FrameCommandDevice d([](const uint8_t*, size_t) { return FrameScan::frame(1000, 1); });
  answerAll(d);
  const Bytes some = {1, 2, 3};
  EXPECT_TRUE(d.feed(0, some.data(), some.size()).empty());
  EXPECT_TRUE(d.hostFrames().empty());
}

const accessory::AccessoryIdentity kDevice{"Framed", "Maker", "F1", "S1", "1.0", "1.0", {"com.example.framed"}};

TEST(FrameCommandSimulator, RepliesReachTheHostWithTheirScriptedFaults) {
  foundation::ScopedManualClock clock;
  AccessoryTestBench bench;
  auto driver = std::make_shared<RecordingDriver>("D", RecordingDriver::claimProtocol("com.example.framed"));
  driver->consume = [](int, const uint8_t* b, int n) {  // noise, and whole frames only
    int used = 0;
    for (;;) {
      while (used < n && b[used] != 0x02) ++used;
      if (n - used < 3 || used + 3 + b[used + 1] > n) return used;
      used += 3 + b[used + 1];
    }
  };
  bench.manager->setDelegate(driver);
  auto& sim = bench.attach<FrameCommandSimulator>(kDevice, FrameParser(scanFrame));
  answerAll(sim.frames());
  bench.manager->tryConnect();
  ASSERT_TRUE(driver->waitFor([&] { return driver->connectedCount == 1; }));
  auto stream = driver->currentStream();

  // Garbage before the reply (two bytes the host skips) and a reply split into single bytes.
  sim.frames().script(0x01, ScriptedFault::garbageBefore({0x55, 0x66}));
  sim.frames().script(0x02, ScriptedFault::split());
  sim.frames().script(0x03, ScriptedFault::late(5s));
  ASSERT_TRUE(stream->write(0, frame(0x01)));
  ASSERT_TRUE(driver->waitFor([&] { return driver->consumed[0].size() == 6; }));
  EXPECT_EQ(driver->consumedOn(0), (Bytes{0x55, 0x66, 0x02, 0x01, 0x81, 0x01}));
  ASSERT_TRUE(stream->write(0, frame(0x02)));
  ASSERT_TRUE(driver->waitFor([&] { return driver->consumed[0].size() == 10; }));

  // The late reply waits for the clock: a later command's answer overtakes it.
  ASSERT_TRUE(stream->write(0, frame(0x03)));
  ASSERT_TRUE(stream->write(0, frame(0x04)));
  ASSERT_TRUE(driver->waitFor([&] { return driver->consumed[0].size() == 14; }));
  EXPECT_EQ(Bytes(driver->consumed[0].end() - 4, driver->consumed[0].end()), frame(0x84, {4}));
  clock->advance(5s);
  ASSERT_TRUE(driver->waitFor([&] { return driver->consumed[0].size() == 18; }));
  EXPECT_EQ(Bytes(driver->consumed[0].end() - 4, driver->consumed[0].end()), frame(0x83, {3}));

  // A link dropped mid-reply: the host hears the end of the accessory's streams.
  sim.frames().script(kAnyCommand, ScriptedFault::dropped(2));
  ASSERT_TRUE(stream->write(0, frame(0x05)));
  ASSERT_TRUE(driver->waitFor([&] { return driver->disconnectedCount == 1; }));
  EXPECT_EQ(driver->consumed[0].size(), 18u);
}

TEST(StreamPairPeer, AnswersFramesOnLoopbackAndDropsTheLinkWhenScripted) {
  StreamPairPeer peer(scanFrame);
  answerAll(peer.frames());
  ASSERT_TRUE(peer.start());
  ASSERT_NE(peer.port(), 0);

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(peer.port());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_TRUE(peer.waitForConnection());

  auto readExactly = [&](size_t n) {
    Bytes got(n);
    size_t done = 0;
    while (done < n) {
      const ssize_t r = ::recv(fd, got.data() + done, n - done, 0);
      if (r <= 0) break;
      done += size_t(r);
    }
    got.resize(done);
    return got;
  };
  const Bytes f = frame(0x07, {1, 2});
  ASSERT_EQ(::send(fd, f.data(), f.size(), MSG_NOSIGNAL), ssize_t(f.size()));
  EXPECT_EQ(readExactly(4), frame(0x87, {1}));
  EXPECT_EQ(peer.received(), f);

  peer.frames().script(0x07, ScriptedFault::dropped(3));
  ASSERT_EQ(::send(fd, f.data(), f.size(), MSG_NOSIGNAL), ssize_t(f.size()));
  EXPECT_EQ(readExactly(4), (Bytes{0x02, 0x01, 0x87}));  // three bytes, then end of stream
  EXPECT_TRUE(peer.waitForConnection(false));
  ::close(fd);
  EXPECT_EQ(peer.connectionsAccepted(), 1);
}

}  // namespace
}  // namespace devices
