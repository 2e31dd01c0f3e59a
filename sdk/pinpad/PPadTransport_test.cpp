#include "sdk/pinpad/PPadTransport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "sdk/pinpad/PPadFrame.h"

namespace kestra {
namespace {

using foundation::Bytes;

Bytes responseBody(uint8_t status, const Bytes& data) {
  Bytes out = {0x00, status, uint8_t(data.size() >> 8), uint8_t(data.size())};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// A link whose far end is a function of each frame written: every write is recorded; the
// answers are stored straight away, as the run-loop thread would store them.
class FakeLink : public PPadLink {
 public:
  explicit FakeLink(PPadTransport& t) : transport(t) {}
  bool write(const uint8_t* data, size_t length) override {
    const Bytes bytes(data, data + length);
    {
      std::lock_guard<std::mutex> lock(mutex);
      writes.push_back(bytes);
    }
    if (failWrites) return false;
    // Answer each frame in the write.
    struct Split : ppad::PacketSink {
      std::vector<Bytes> frames;
      void onPacket(const ppad::Packet& p) override {
        frames.emplace_back(p.start, p.start + p.frameLength());
      }
    } split;
    ppad::demultiplex(bytes.data(), bytes.size(), split);
    for (const auto& f : split.frames) {
      if (!answer) continue;
      if (auto body = answer(f)) transport.storeResponse(body->data(), body->size());
    }
    return true;
  }
  std::vector<Bytes> allWrites() {
    std::lock_guard<std::mutex> lock(mutex);
    return writes;
  }
  PPadTransport& transport;
  std::mutex mutex;
  std::vector<Bytes> writes;
  std::function<std::optional<Bytes>(const Bytes& frame)> answer;
  std::atomic<bool> failWrites{false};
};

struct TransportFixture : ::testing::Test {
  TransportFixture() {
    transport.connState = 2;
    link = std::make_shared<FakeLink>(transport);
    transport.setLink(link);
  }
  // Runs `call` on another thread and advances the manual clock until it returns.
  int runAdvancing(const std::function<int()>& call) {
    auto f = std::async(std::launch::async, call);
    while (f.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
      clock->advance(std::chrono::milliseconds(500));
    return f.get();
  }
  foundation::ScopedManualClock clock;
  PPadTransport transport;
  std::shared_ptr<FakeLink> link;
};

TEST_F(TransportFixture, ACommandReturnsThePinpadStatusAndItsData) {
  link->answer = [](const Bytes& f) -> std::optional<Bytes> {
    EXPECT_EQ(f, ppad::makeFrame(0x36, {0x15, 0x03}));
    return responseBody(0, {0x02, 0x00});
  };
  Bytes out;
  EXPECT_EQ(transport.command(0x36, {0x15, 0x03}, &out), 0);
  EXPECT_EQ(out, (Bytes{0x02, 0x00}));

  // A failing status comes back with its data all the same.
  link->answer = [](const Bytes&) -> std::optional<Bytes> { return responseBody(5, {0xEE}); };
  EXPECT_EQ(transport.command(0x36, {0x09}, &out), 5);
  EXPECT_EQ(out, (Bytes{0xEE}));
  EXPECT_EQ(ppad::getErrorText(5), "Invalid Value");
}

TEST_F(TransportFixture, DisconnectedCommandsAnswer16AtOnceAndLeaveTheLockFree) {
  transport.connState = 0;
  Bytes out = {1};
  EXPECT_EQ(transport.command(0x01, {}, &out), 16);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(transport.command(0x01, {}), 16);  // the lock was released
  EXPECT_TRUE(link->allWrites().empty());
  // While identifying, commands go out before state 2.
  transport.fakeConnected = true;
  link->answer = [](const Bytes&) -> std::optional<Bytes> { return responseBody(0, {}); };
  EXPECT_EQ(transport.command(0x01, {}), 0);
}

TEST_F(TransportFixture, NoResponseTimesOutWith9AndALostLinkEndsTheWaitAtOnce) {
  EXPECT_EQ(runAdvancing([&] { return transport.command(0x01, {}); }), 9);

  auto f = std::async(std::launch::async, [&] { return transport.command(0x01, {}); });
  while (link->allWrites().size() < 2) std::this_thread::yield();
  transport.abortWait();  // no clock advance: only the abort can end it
  EXPECT_EQ(f.get(), 9);
}

TEST_F(TransportFixture, ASecondCommandWaitsForTheLockAndGivesUpAfterThirtySeconds) {
  auto first = std::async(std::launch::async, [&] { return transport.command(0x01, {}, nullptr, false, std::chrono::seconds(100)); });
  ASSERT_TRUE(clock->waitForWaiters(1));
  auto second = std::async(std::launch::async, [&] { return transport.command(0x02, {}); });
  ASSERT_TRUE(clock->waitForWaiters(2));
  clock->advance(PPadTransport::kCommandLockTimeout);
  EXPECT_EQ(second.get(), 9);
  EXPECT_EQ(link->allWrites().size(), 1u);  // the second never went out
  EXPECT_TRUE(transport.commandRunning());

  const Bytes answer = responseBody(0, {});
  transport.storeResponse(answer.data(), answer.size());
  EXPECT_EQ(first.get(), 0);
  // The lock is free again.
  link->answer = [](const Bytes&) -> std::optional<Bytes> { return responseBody(0, {0x07}); };
  Bytes out;
  EXPECT_EQ(transport.command(0x03, {}, &out), 0);
  EXPECT_EQ(out, Bytes{0x07});
}

TEST_F(TransportFixture, ResponseLengthLimits) {
  struct Case {
    const char* name;
    size_t n;
    int result;
  } cases[] = {{"largest accepted", PPadTransport::kMaxResponseData, 0},
               {"one too long", PPadTransport::kMaxResponseData + 1, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    link->answer = [&](const Bytes&) -> std::optional<Bytes> { return responseBody(0, Bytes(c.n, 0x42)); };
    Bytes out;
    EXPECT_EQ(runAdvancing([&] { return transport.command(0x01, {}, &out); }), c.result);
    EXPECT_EQ(out.size(), c.result == 0 ? c.n : 0u);
  }
  // A header that announces more than came is malformed.
  link->answer = [](const Bytes&) -> std::optional<Bytes> {
    Bytes b = responseBody(0, {1, 2});
    b[3] = 9;
    return b;
  };
  EXPECT_EQ(transport.command(0x01, {}), 9);
  // Data the command buffer cannot hold is refused before anything is sent.
  const size_t before = link->allWrites().size();
  EXPECT_EQ(transport.command(0x38, Bytes(PPadTransport::kCmdBufferSize + 1, 0)), 3);
  EXPECT_EQ(link->allWrites().size(), before);
}

TEST_F(TransportFixture, CachedCommandsGoOutInOneBatchBeforeTheNextDirectOne) {
  int n = 0;
  link->answer = [&](const Bytes&) -> std::optional<Bytes> {
    ++n;
    return responseBody(0, {uint8_t(n)});
  };
  transport.setCaching(true);
  for (uint8_t i = 0; i < 3; ++i) EXPECT_EQ(transport.command(0x36, {0x03, i}, nullptr, true), 0);
  EXPECT_TRUE(link->allWrites().empty());
  EXPECT_EQ(transport.cachedResponsesOutstanding(), 3);

  Bytes out;
  EXPECT_EQ(transport.command(0x36, {0x01}, &out), 0);
  const auto writes = link->allWrites();
  ASSERT_EQ(writes.size(), 2u);
  Bytes batch;
  for (uint8_t i = 0; i < 3; ++i) {
    const Bytes f = ppad::makeFrame(0x36, {0x03, i});
    batch.insert(batch.end(), f.begin(), f.end());
  }
  EXPECT_EQ(writes[0], batch);
  EXPECT_EQ(writes[1], ppad::makeFrame(0x36, {0x01}));
  EXPECT_EQ(out, (Bytes{4}));  // the three cached responses were dropped
  EXPECT_EQ(transport.cachedResponsesOutstanding(), 0);

  // In direct mode a cached command is sent and waited for like any other.
  transport.setCaching(false);
  EXPECT_EQ(transport.command(0x36, {0x03, 9}, &out, true), 0);
  EXPECT_EQ(out, (Bytes{5}));
}

TEST_F(TransportFixture, AFailedBatchNoLongerSwallowsLaterResponses) {
  link->answer = [](const Bytes&) -> std::optional<Bytes> { return responseBody(0, {7}); };
  transport.setCaching(true);
  EXPECT_EQ(transport.command(0x36, {0x03}, nullptr, true), 0);
  EXPECT_EQ(transport.command(0x36, {0x04}, nullptr, true), 0);
  link->failWrites = true;
  EXPECT_FALSE(transport.flushCache());
  EXPECT_EQ(transport.cachedResponsesOutstanding(), 0);
  link->failWrites = false;
  Bytes out;
  EXPECT_EQ(transport.command(0x36, {0x01}, &out), 0);
  EXPECT_EQ(out, (Bytes{7}));
}

TEST_F(TransportFixture, LeavingCachingModeWritesTheQueue) {
  link->answer = [](const Bytes&) -> std::optional<Bytes> { return responseBody(0, {}); };
  transport.setCaching(true);
  EXPECT_EQ(transport.command(0x36, {0x05, 0x00}, nullptr, true), 0);
  transport.setCaching(false);
  ASSERT_EQ(link->allWrites().size(), 1u);
  EXPECT_EQ(link->allWrites()[0], ppad::makeFrame(0x36, {0x05, 0x00}));
}

TEST_F(TransportFixture, TheCacheWriteThreadFlushesAfterAQuietPeriod) {
  link->answer = [](const Bytes&) -> std::optional<Bytes> { return responseBody(0, {}); };
  transport.setCaching(true);
  transport.startCacheWriteThread();
  EXPECT_EQ(transport.command(0x36, {0x05, 0x01}, nullptr, true), 0);
  while (link->allWrites().empty()) clock->advance(std::chrono::milliseconds(50));
  EXPECT_EQ(link->allWrites()[0], ppad::makeFrame(0x36, {0x05, 0x01}));
  // The thread ends by itself once the link is down.
  transport.connState = 0;
  transport.stopCacheWriteThread();
}

TEST_F(TransportFixture, ATunnelCarriesTheFrameAndReturnsTheResponse) {
  struct Tunnel : PPadTunnel {
    Bytes seen;
    std::optional<Bytes> ppadPassThrough(const Bytes& frame) override {
      seen = frame;
      return responseBody(0, {0x31, 0x32});
    }
  };
  auto tunnel = std::make_shared<Tunnel>();
  transport.connState = 0;  // a tunnel needs no link of the pinpad's own
  transport.setTunnel(tunnel);
  Bytes out;
  EXPECT_EQ(transport.command(0x01, {}, &out), 0);
  EXPECT_EQ(tunnel->seen, ppad::makeFrame(0x01, {}));
  EXPECT_EQ(out, (Bytes{0x31, 0x32}));
  EXPECT_TRUE(link->allWrites().empty());
}

TEST(PPadErrorText, TableAndUnknownValues) {
  EXPECT_EQ(ppad::getErrorText(0), "OK");
  EXPECT_EQ(ppad::getErrorText(16), "Hardware Error");
  EXPECT_EQ(ppad::getErrorText(34), "Duplicated Key");
  EXPECT_EQ(ppad::getErrorText(35), "Unknown");
  EXPECT_EQ(ppad::getErrorText(-1), "Unknown");
}

}  // namespace
}  // namespace kestra
