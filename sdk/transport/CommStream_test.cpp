#include "sdk/transport/CommStream.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/accessory/FdStream.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"

namespace kestra {
namespace {

using foundation::Bytes;
using namespace std::chrono_literals;

// The owner: records every call; consumes whole [0x00][len][payload] frames by default.
class Owner : public CommStreamDelegate {
 public:
  void streamConnected(CommStream&) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++connected;
    cv.notify_all();
  }
  int streamData(CommStream&, const uint8_t* b, int n) override {
    std::lock_guard<std::mutex> lock(mutex);
    offers.emplace_back(b, b + n);
    int used = 0;
    cv.notify_all();
    if (consumeNothing) return 0;
    while (n - used >= 2 && used + 2 + b[used + 1] <= n) used += 2 + b[used + 1];
    taken.insert(taken.end(), b, b + used);
    cv.notify_all();
    return used;
  }
  void streamDisconnected(CommStream&) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++disconnected;
    cv.notify_all();
  }
  bool waitFor(const std::function<bool()>& pred) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, 5s, pred);
  }
  std::mutex mutex;
  std::condition_variable cv;
  int connected = 0, disconnected = 0;
  bool consumeNothing = false;
  std::vector<Bytes> offers;
  Bytes taken;
};

// A wrapper over one end of a socket pair; the test plays the device on the other end.
struct Pair {
  Pair() {
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    deviceFd = fds[1];
    host = accessory::makeFdStreamPair(fds[0]);
    comm = CommStream::initWithName("Pellan", &loop);
    owner = std::make_shared<Owner>();
    comm->setDelegate(owner);
  }
  ~Pair() {
    comm->disconnect();
    comm.reset();
    GlobalQueue::waitIdle();
    if (deviceFd >= 0) ::close(deviceFd);
  }
  void connect() {
    comm->connect(host.input, host.output);
    ASSERT_TRUE(owner->waitFor([&] { return owner->connected == 1; }));
  }
  void deviceSends(const Bytes& b) { ASSERT_EQ(::write(deviceFd, b.data(), b.size()), ssize_t(b.size())); }

  KXUNISDKCommRunLoop loop;
  int deviceFd = -1;
  accessory::FdStreamPair host;
  std::shared_ptr<CommStream> comm;
  std::shared_ptr<Owner> owner;
};

TEST(CommStreamTest, OpensOnceBothSidesAreOpenAndDropsBytesPendingAtThatMoment) {
  Pair p;
  EXPECT_EQ(p.comm->connstate(), CommStream::kNotConnected);
  p.deviceSends(Bytes{0xEE, 0xEE, 0xEE});  // before the pair opens
  p.connect();
  EXPECT_EQ(p.comm->connstate(), CommStream::kOpen);
  EXPECT_EQ(p.comm->name(), "Pellan");
  const Bytes f{0x00, 0x02, 0x31, 0x32};
  p.deviceSends(f);
  ASSERT_TRUE(p.owner->waitFor([&] { return p.owner->taken.size() == f.size(); }));
  EXPECT_EQ(p.owner->offers.front(), f);
  EXPECT_EQ(p.owner->taken, f);
}

TEST(CommStreamTest, MessageSplitOverTwoReadsIsOfferedTwice) {
  Pair p;
  p.connect();
  const Bytes f{0x00, 0x03, 0xA1, 0xA2, 0xA3};
  p.deviceSends(Bytes(f.begin(), f.begin() + 2));
  ASSERT_TRUE(p.owner->waitFor([&] { return p.owner->offers.size() == 1; }));
  p.deviceSends(Bytes(f.begin() + 2, f.end()));
  ASSERT_TRUE(p.owner->waitFor([&] { return p.owner->taken.size() == f.size(); }));
  ASSERT_EQ(p.owner->offers.size(), 2u);
  EXPECT_EQ(p.owner->offers[0], Bytes(f.begin(), f.begin() + 2));
  EXPECT_EQ(p.owner->offers[1], f);
}

TEST(CommStreamTest, FullBufferStopsReadingUntilTheOwnerClearsIt) {
  Pair p;
  p.connect();
  p.owner->consumeNothing = true;
  p.deviceSends(Bytes(CommStream::kReceiveBufferSize + 100, 0x5A));
  ASSERT_TRUE(p.owner->waitFor([&] {
    return !p.owner->offers.empty() && p.owner->offers.back().size() == size_t(CommStream::kReceiveBufferSize);
  }));
  p.comm->clearReceive();
  ASSERT_TRUE(p.owner->waitFor([&] { return p.owner->offers.back().size() == 100u; }));
  for (const auto& o : p.owner->offers) EXPECT_LE(o.size(), size_t(CommStream::kReceiveBufferSize));
}

TEST(CommStreamTest, ConnectAndDisconnectFollowTheOpenState) {
  Pair p;
  p.comm->disconnect();  // nothing open: nobody is told
  EXPECT_EQ(p.owner->disconnected, 0);
  p.connect();
  auto other = accessory::makeSocketStreamPairs();
  p.comm->connect(other.first.input, other.first.output);  // ignored while open
  const Bytes f{0x00, 0x01, 0x07};
  p.deviceSends(f);
  ASSERT_TRUE(p.owner->waitFor([&] { return p.owner->taken == f; }));
  p.comm->disconnect();
  EXPECT_EQ(p.owner->disconnected, 1);
  EXPECT_EQ(p.comm->connstate(), CommStream::kNotConnected);
  p.comm->disconnect();
  EXPECT_EQ(p.owner->disconnected, 1);
  EXPECT_FALSE(p.comm->write(f));  // no pair
  EXPECT_EQ(p.loop.requestCounter(), 0);
}

TEST(CommStreamTest, FarEndClosingDisconnects) {
  Pair p;
  p.connect();
  ::close(p.deviceFd);
  p.deviceFd = -1;
  ASSERT_TRUE(p.owner->waitFor([&] { return p.owner->disconnected == 1; }));
  EXPECT_EQ(p.comm->connstate(), CommStream::kNotConnected);
}

TEST(CommStreamTest, WriteFailsThreeSecondsAfterItStartedWhenTheLinkStaysFull) {
  foundation::ScopedManualClock clock;
  Pair p;
  p.connect();
  const Bytes small{0x00, 0x01, 0x02};
  EXPECT_TRUE(p.comm->write(small));
  EXPECT_TRUE(p.comm->write(Bytes{}));
  Bytes got(3);
  ASSERT_EQ(::read(p.deviceFd, got.data(), 3), 3);
  EXPECT_EQ(got, small);

  const Bytes big(8 << 20, 0x42);  // the device never reads it
  std::atomic<bool> started{false};
  auto result = std::async(std::launch::async, [&] {
    started = true;
    return p.comm->write(big);
  });
  while (!started) std::this_thread::yield();
  foundation::Duration advanced{};
  while (result.wait_for(20ms) != std::future_status::ready && advanced < 10s) {
    clock->advance(100ms);
    advanced += 100ms;
  }
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(result.get());
  EXPECT_GT(advanced, CommStream::kWriteTimeout);
  EXPECT_LE(advanced, CommStream::kWriteTimeout + 200ms);
  EXPECT_EQ(p.comm->connstate(), CommStream::kOpen);  // the pair stays open
}

}  // namespace
}  // namespace kestra
