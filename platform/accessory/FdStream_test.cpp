#include "platform/accessory/FdStream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace accessory {
namespace {

using namespace std::chrono_literals;

// Records the events a stream reports, and reads (or not) when told bytes are there.
class Recorder : public StreamDelegate {
 public:
  void handleEvent(Stream& s, StreamEvent e) override {
    events.push_back(e);
    if (e == StreamEvent::HasBytesAvailable && readOnEvent) {
      uint8_t buf[64];
      ssize_t n;
      while ((n = static_cast<InputStream&>(s).read(buf, sizeof buf)) > 0) data.insert(data.end(), buf, buf + n);
    }
  }
  int count(StreamEvent e) const { return int(std::count(events.begin(), events.end(), e)); }
  std::vector<StreamEvent> events;
  std::vector<uint8_t> data;
  bool readOnEvent = true;
};

struct Fixture {
  Fixture(std::optional<uint8_t> ack = std::nullopt) {
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    peer = fds[1];
    pair = makeFdStreamPair(fds[0], ack);
    in = std::make_shared<Recorder>();
    out = std::make_shared<Recorder>();
    pair.input->setDelegate(in);
    pair.output->setDelegate(out);
    pair.input->schedule(loop());
    pair.output->schedule(loop());
    pair.input->open();
    pair.output->open();
  }
  ~Fixture() {
    pair.input->close();
    pair.output->close();
    pair.input->remove(loop());
    if (peer >= 0) ::close(peer);
  }
  static foundation::RunLoop& loop() { return foundation::RunLoop::main(); }
  bool pumpUntil(const std::function<bool()>& c) { return loop().runUntil(c, 3000ms); }
  void peerSends(std::vector<uint8_t> b) { ASSERT_EQ(::write(peer, b.data(), b.size()), ssize_t(b.size())); }

  int peer = -1;
  FdStreamPair pair;
  std::shared_ptr<Recorder> in, out;
};

TEST(FdStreamTest, PlainPairOpensAndDeliversBytesThenTheEnd) {
  Fixture f;
  ASSERT_TRUE(f.pumpUntil([&] { return f.in->count(StreamEvent::OpenCompleted) == 1 &&
                                        f.out->count(StreamEvent::OpenCompleted) == 1; }));
  EXPECT_EQ(f.pair.input->status(), StreamStatus::Open);
  f.peerSends({1, 2, 3});
  ASSERT_TRUE(f.pumpUntil([&] { return f.in->data.size() == 3; }));
  EXPECT_EQ(f.pair.output->write(reinterpret_cast<const uint8_t*>("ok"), 2), 2);
  char got[2];
  EXPECT_EQ(::read(f.peer, got, 2), 2);
  ::close(f.peer);
  f.peer = -1;
  ASSERT_TRUE(f.pumpUntil([&] { return f.in->count(StreamEvent::EndEncountered) == 1; }));
  EXPECT_EQ(f.pair.input->status(), StreamStatus::AtEnd);
  EXPECT_EQ(f.pair.output->write(reinterpret_cast<const uint8_t*>("x"), 1), -1);
}

TEST(FdStreamTest, UnreadBytesAreReportedOnceUntilTheDelegateReads) {
  Fixture f;
  f.in->readOnEvent = false;
  f.peerSends({1, 2, 3});
  ASSERT_TRUE(f.pumpUntil([&] { return f.in->count(StreamEvent::HasBytesAvailable) == 1; }));
  f.peerSends({4});
  Fixture::loop().runUntil([] { return false; }, 50ms);
  EXPECT_EQ(f.in->count(StreamEvent::HasBytesAvailable), 1);
  uint8_t buf[8];
  EXPECT_EQ(f.pair.input->read(buf, 0), 0);  // no room: not the end, and not re-armed
  EXPECT_EQ(f.pair.input->status(), StreamStatus::Open);
  EXPECT_EQ(f.pair.input->read(buf, 2), 2);  // a read with room re-arms
  ASSERT_TRUE(f.pumpUntil([&] { return f.in->count(StreamEvent::HasBytesAvailable) == 2; }));
}

TEST(FdStreamTest, HandshakeOpensOnTheAcceptByteOrFailsWhenRefused) {
  struct Case {
    const char* name;
    std::vector<uint8_t> answer;  // then the peer closes when `close` is set
    bool close;
    StreamStatus expected;
  };
  const Case cases[] = {
      {"accepted, data follows", {0x06, 0x41}, false, StreamStatus::Open},
      {"refused by closing", {}, true, StreamStatus::Error},
      {"wrong answer", {0x15}, false, StreamStatus::Error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(uint8_t(0x06));
    Fixture::loop().runUntil([] { return false; }, 20ms);
    EXPECT_EQ(f.pair.input->status(), StreamStatus::Opening);
    EXPECT_EQ(f.pair.output->status(), StreamStatus::Opening);
    if (!c.answer.empty()) f.peerSends(c.answer);
    if (c.close) {
      ::close(f.peer);
      f.peer = -1;
    }
    ASSERT_TRUE(f.pumpUntil([&] { return f.pair.output->status() != StreamStatus::Opening; }));
    EXPECT_EQ(f.pair.input->status(), c.expected);
    EXPECT_EQ(f.pair.output->status(), c.expected);
    if (c.expected == StreamStatus::Open) {
      ASSERT_TRUE(f.pumpUntil([&] { return f.in->data.size() == 1; }));
      EXPECT_EQ(f.in->data[0], 0x41);  // the accept byte never reaches the reader
    } else {
      ASSERT_TRUE(f.pumpUntil([&] { return f.out->count(StreamEvent::ErrorOccurred) == 1; }));
    }
  }
}

}  // namespace
}  // namespace accessory
