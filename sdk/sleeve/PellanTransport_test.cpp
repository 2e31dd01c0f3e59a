#include "sdk/sleeve/PellanTransport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "sdk/sleeve/PellanFrame.h"
#include "testing/devices/base/JoiningThread.h"

namespace kestra {
namespace {

using devices::JoiningThread;
using foundation::Bytes;
using foundation::Error;

// A link whose far end is a function: each write is recorded and may answer by storing a
// reply straight away (the command path does not care which thread replies).
class FakeLink : public PellanLink {
 public:
  bool write(int channel, const uint8_t* data, size_t length) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      writes.push_back({channel, Bytes(data, data + length)});
    }
    ++count;
    if (failWrites) return false;
    if (answer) answer(channel, Bytes(data, data + length));
    return true;
  }
  bool isOpen() const override { return open; }

  struct Write {
    int channel;
    Bytes bytes;
  };
  std::mutex mutex;
  std::vector<Write> writes;
  std::atomic<size_t> count{0};
  // Waits until `n` writes were made and `waiters` threads wait on the manual clock (the
  // writer is inside its reply wait, its deadline fixed, before the test moves the clock).
  void awaitWrites(size_t n, size_t waiters = 1) {
    while (count < n) std::this_thread::yield();
    auto& clock = dynamic_cast<foundation::ManualClock&>(foundation::Clock::current());
    EXPECT_TRUE(clock.waitForWaiters(waiters));
  }
  std::function<void(int, const Bytes&)> answer;
  bool failWrites = false;
  std::atomic<bool> open{true};
};

Bytes replyFrame(uint8_t code, uint8_t status, uint8_t status2, const Bytes& result) {
  Bytes data(result.size() + 2);
  data[0] = status;
  data[1] = status2;
  std::copy(result.begin(), result.end(), data.begin() + 2);
  return pellan::makeFrame(code, pellan::kDirectionToHost, 0, data);
}

class PellanTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link = std::make_shared<FakeLink>();
    transport.setLink(link);
    transport.connState = 2;
    transport.nChannels = 2;
  }
  // Moves the clock on by `step` at a time until `done` holds or `limit` of clock time has
  // passed; after each step the waiters look at the new time before the next.
  bool advanceUntil(const std::atomic<bool>& done, foundation::Duration step,
                    foundation::Duration limit = std::chrono::minutes(2)) {
    for (foundation::Duration passed{};; passed += step) {
      // The worker either finishes or waits on the clock (again).
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!done && clock->waiters() == 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
      if (done) return true;
      if (passed >= limit) return false;
      clock->advance(step);
      clock->waitUntilWaitersSawNow();
    }
  }
  // Frees a command thread that a failed assertion leaves behind.
  std::function<void()> release() {
    return [this] {
      transport.abortWait();
      clock->advance(std::chrono::minutes(5));
    };
  }

  // Answers every command with `frame(command byte)`.
  void answerWith(std::function<Bytes(uint8_t)> frame) {
    link->answer = [this, frame](int, const Bytes& sent) {
      const Bytes r = frame(sent[3]);
      transport.storeReply(r.data(), r.size());
    };
  }

  foundation::ScopedManualClock clock;
  std::shared_ptr<FakeLink> link;
  PellanTransport transport;
};

TEST_F(PellanTransportTest, SuccessReturnsResultAfterStatusBytes) {
  answerWith([](uint8_t code) { return replyFrame(code, 0, 0, {0x11, 0x22}); });
  Error e;
  auto r = transport.sendCommand(0, 9, Bytes{0x01}, &e);
  ASSERT_TRUE(r) << e.text;
  EXPECT_EQ(*r, (Bytes{0x11, 0x22}));
  ASSERT_EQ(link->writes.size(), 1u);
  EXPECT_EQ(link->writes[0].bytes, (Bytes{0x00, 0x00, 0x01, 0x09, 0x01, 0x00, 0x01}));
  // The message id counts up with every frame and wraps.
  for (int i = 0; i < 256; ++i) transport.sendCommand(0, 9, Bytes{}, nullptr);
  EXPECT_EQ(link->writes.back().bytes[5], 0x00);
  EXPECT_EQ(link->writes[255].bytes[5], 0xFF);
}

TEST_F(PellanTransportTest, EachReplyStatusGivesItsError) {
  struct Case {
    uint8_t status;
    int code;
    const char* text;
  } cases[] = {
      {1, -1, "General error: channel=0, command=3a"},
      {2, -9, "Invalid data length: channel=0, command=3a"},
      {3, -9, "Invalid argument: channel=0, command=3a"},
      {4, -17, "Invalid command: channel=0, command=3a"},
      {5, -6, "Timeout: channel=0, command=3a"},
      {6, -16, "Module inactive: channel=0, command=3a"},
      {7, -20, "Operation is not permitted: channel=0, command=3a"},
      {8, -9, "Authentication required or authentication attempt failed: channel=0, command=3a"},
      {9, -5, "Module busy: channel=0, command=3a"},
      {12, -1, "Unknown error 12/77: channel=0, command=3a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    answerWith([&](uint8_t code) { return replyFrame(code, c.status, 77, {}); });
    Error e;
    EXPECT_FALSE(transport.sendCommand(0, 0x3A, Bytes{1, 2}, &e));
    EXPECT_EQ(e.domain, "com.sabrel.errors");
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST_F(PellanTransportTest, MalformedRepliesFailWithThePartsErrors) {
  struct Case {
    const char* name;
    std::function<Bytes(uint8_t)> reply;
    const char* text;
  } cases[] = {
      {"shorter than its length field",
       [](uint8_t code) {
         Bytes f = replyFrame(code, 0, 0, {1, 2, 3});
         f.resize(f.size() - 2);
         return f;
       },
       "Wrong packet length received: channel=0, command=10"},
      {"no status bytes",
       [](uint8_t code) { return pellan::makeFrame(code, 2, 0, {}); },
       "Wrong packet length received: channel=0, command=10"},
      {"longer than the command buffer",
       [](uint8_t code) { return replyFrame(code, 0, 0, Bytes(3000, 0xEE)); },
       "Wrong packet length received: channel=0, command=10"},
      {"echo of another command", [](uint8_t) { return replyFrame(0x11, 0, 0, {}); },
       "Wrong command received: channel=0. Expected: 10 but received: 11"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answerWith(c.reply);
    Error e;
    EXPECT_FALSE(transport.sendCommand(0, 0x10, Bytes{1}, &e));
    EXPECT_EQ(e.code, -6);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST_F(PellanTransportTest, RefusedBeforeSending) {
  Error e;
  transport.connState = 1;
  EXPECT_FALSE(transport.sendCommand(0, 1, Bytes{5}, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Device not connected");
  transport.inConnection = true;  // identification may talk while not yet connected
  answerWith([](uint8_t code) { return replyFrame(code, 0, 0, {}); });
  EXPECT_TRUE(transport.sendCommand(0, 1, Bytes{5}, &e));
  transport.inConnection = false;
  transport.connState = 2;

  transport.firmwareUpdate = true;
  EXPECT_FALSE(transport.sendCommand(0, 1, Bytes{5}, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Firmware update is in progress, command rejected");
  const uint8_t b = 5;
  EXPECT_TRUE(transport.sendCommand(0, 1, &b, 1, /*forced=*/true, &e));
  transport.firmwareUpdate = false;

  const size_t before = link->writes.size();
  Bytes big(2043, 0);
  EXPECT_FALSE(transport.sendCommand(0, 1, big, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_EQ(e.text, "Input length is too big");
  EXPECT_EQ(link->writes.size(), before);
  EXPECT_TRUE(transport.sendCommand(0, 1, Bytes(2042, 0), &e));
  // Lengths that would wrap when the header is added, and a length with no data behind it
  // (its frame would swallow the next command), are refused too.
  struct Bad {
    const char* name;
    const uint8_t* data;
    uint64_t length;
    const char* text;
  } bad[] = {
      {"64-bit length", &b, UINT64_MAX, "Input length is too big"},
      {"length just past the wrap", &b, UINT64_MAX - 4, "Input length is too big"},
      {"length without data", nullptr, 4, "Invalid parameter"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    const size_t count = link->writes.size();
    EXPECT_FALSE(transport.sendCommand(0, 1, c.data, c.length, false, &e));
    EXPECT_EQ(e.code, -9);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(link->writes.size(), count);
  }

  link->failWrites = true;
  EXPECT_FALSE(transport.sendCommand(0, 0x3A, Bytes{}, &e));
  EXPECT_EQ(e.text, "Timeout sending data: channel=0, command=3a");
}

TEST_F(PellanTransportTest, ChannelOneOnAOneChannelLinkIsFoldedIntoChannelZero) {
  transport.nChannels = 1;
  answerWith([](uint8_t code) { return replyFrame(code, 0, 0, {0x02}); });
  Error e;
  auto r = transport.sendCommand(1, 4, Bytes{0x01}, &e);
  ASSERT_TRUE(r) << e.text;
  EXPECT_EQ(link->writes[0].channel, 0);
  EXPECT_EQ(link->writes[0].bytes[3], 0xE4);
  // A reply with the unfolded code is another command's reply.
  answerWith([](uint8_t) { return replyFrame(0x04, 0, 0, {}); });
  EXPECT_FALSE(transport.sendCommand(1, 4, Bytes{0x01}, &e));
  EXPECT_EQ(e.text, "Wrong command received: channel=0. Expected: e4 but received: 04");
  // A channel the link does not have goes to channel 0 unchanged.
  transport.nChannels = 2;
  answerWith([](uint8_t code) { return replyFrame(code, 0, 0, {}); });
  EXPECT_TRUE(transport.sendCommand(5, 4, Bytes{}, &e));
  EXPECT_EQ(link->writes.back().channel, 0);
  EXPECT_EQ(link->writes.back().bytes[3], 0x04);
}

TEST_F(PellanTransportTest, NoReplyIsLostAfterTheResponseTimeout) {
  Error e;
  std::atomic<bool> done{false};
  JoiningThread t(
      [&] {
        EXPECT_FALSE(transport.sendCommand(0, 0x3A, Bytes{}, &e));
        done = true;
      },
      release());
  link->awaitWrites(1);
  clock->advance(std::chrono::milliseconds(6900));
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(clock->waiters(), 1u);  // still waiting
  EXPECT_FALSE(done);
  ASSERT_TRUE(advanceUntil(done, std::chrono::milliseconds(200)));
  t.join();
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Command response lost: channel=0, command=3a");
}

TEST_F(PellanTransportTest, AWakeUpWithoutAFullReplyKeepsWaiting) {
  Error e;
  std::optional<Bytes> r;
  JoiningThread t([&] { r = transport.sendCommand(0, 0x3A, Bytes{}, &e); }, release());
  link->awaitWrites(1);
  // Three bytes of a reply wake the waiter but are not a reply yet.
  const Bytes reply = replyFrame(0x3A, 0, 0, {0x42});
  transport.storeReply(reply.data(), 3);
  // Once the waiter has looked at a later time, it has seen the partial reply and waits on.
  clock->advance(std::chrono::milliseconds(1));
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(clock->waiters(), 1u);
  transport.storeReply(reply.data(), reply.size());
  t.join();
  ASSERT_TRUE(r) << e.text;
  EXPECT_EQ(*r, Bytes{0x42});
}

TEST_F(PellanTransportTest, AbortEndsAWaitingCommandAtOnce) {
  Error e;
  JoiningThread t([&] { EXPECT_FALSE(transport.sendCommand(0, 0x3A, Bytes{}, &e)); }, release());
  link->awaitWrites(1);
  // The link goes away: no time passes on the clock, yet the command ends.
  link->open = false;
  transport.connState = 1;
  transport.abortWait();
  t.join();
  EXPECT_EQ(e.text, "Command response lost: channel=0, command=3a");
}

TEST_F(PellanTransportTest, ALinkLostWhileTheFrameIsWrittenEndsTheWaitAtOnce) {
  // The link goes away while the command's frame is being written (the disconnection runs
  // on another thread): the abort comes before the command starts its reply wait.
  link->answer = [this](int, const Bytes&) {
    transport.setLink(nullptr);
    transport.abortWait();
  };
  Error e;
  std::atomic<bool> done{false};
  JoiningThread t(
      [&] {
        EXPECT_FALSE(transport.sendCommand(0, 0x3A, Bytes{}, &e));
        done = true;
      },
      release());
  // No time passes on the clock; a wait that missed the abort would last until it does.
  t.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(e.text, "Command response lost: channel=0, command=3a");
}

TEST_F(PellanTransportTest, ASecondCommandGivesUpOnTheLockAfterThirtySeconds) {
  transport.setResponseTimeout(std::chrono::seconds(60));
  Error e1, e2;
  std::atomic<bool> firstDone{false}, secondDone{false};
  JoiningThread first(
      [&] {
        transport.sendCommand(0, 0x3A, Bytes{}, &e1);
        firstDone = true;
      },
      release());
  link->awaitWrites(1);
  JoiningThread second(
      [&] {
        EXPECT_FALSE(transport.sendCommand(0, 0x3B, Bytes{}, &e2));
        secondDone = true;
      },
      release());
  ASSERT_TRUE(clock->waitForWaiters(2));  // the second waits for the command lock
  clock->advance(std::chrono::milliseconds(29900));
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_FALSE(secondDone);
  // Past thirty seconds the second gives up; no more time may pass, or the first's own
  // sixty seconds would run out while the second is still on its way out.
  clock->advance(std::chrono::milliseconds(200));
  second.join();
  EXPECT_TRUE(secondDone);
  EXPECT_EQ(e2.code, -6);
  EXPECT_EQ(e2.text, "Failed aquiring command lock");
  EXPECT_EQ(link->count, 1u);
  EXPECT_FALSE(firstDone);  // its own sixty seconds have not passed
  ASSERT_TRUE(advanceUntil(firstDone, std::chrono::seconds(1)));
  first.join();
  EXPECT_EQ(e1.text, "Command response lost: channel=0, command=3a");
}

TEST_F(PellanTransportTest, UpdaterLinkWritesInPiecesOf127Bytes) {
  transport.updaterLink = true;
  answerWith([](uint8_t code) { return replyFrame(code, 0, 0, {}); });
  std::atomic<bool> stop{false};
  JoiningThread pump([&] {  // moves time on whenever the sender waits, so its pauses end
    while (!stop) {
      if (!clock->waitForWaiters(1, std::chrono::milliseconds(100))) continue;
      clock->advance(std::chrono::milliseconds(50));
      clock->waitUntilWaitersSawNow(std::chrono::milliseconds(100));
    }
  }, [&] { stop = true; });
  link->answer = nullptr;
  Bytes payload(300, 0x5A);
  const auto r = transport.sendCommand(0, 0x40, payload, nullptr);
  stop = true;
  pump.join();
  EXPECT_FALSE(r);  // nothing answered; only the pieces matter here
  ASSERT_EQ(link->writes.size(), 3u);
  EXPECT_EQ(link->writes[0].bytes.size(), 127u);
  EXPECT_EQ(link->writes[1].bytes.size(), 127u);
  EXPECT_EQ(link->writes[2].bytes.size(), 306u - 254u);
}

}  // namespace
}  // namespace kestra
