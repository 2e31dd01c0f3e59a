// The Bluetooth streams' notification policy and write cache, with time on a manual clock.
#include "sdk/transport/BTStreamCore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestra {
namespace {

using foundation::Bytes;
using namespace std::chrono_literals;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Counts announcements and records sends.
struct Hooks {
  std::mutex m;
  std::condition_variable cv;
  int events = 0;
  bool delegatePresent = true;
  std::vector<size_t> sends;
  Bytes sent;

  BTStreamCore::Announce announce() {
    return [this] {
      std::lock_guard<std::mutex> lock(m);
      if (!delegatePresent) return false;
      ++events;
      cv.notify_all();
      return true;
    };
  }
  BTStreamCore::Send send() {
    return [this](const uint8_t* d, size_t n) {
      std::lock_guard<std::mutex> lock(m);
      sends.push_back(n);
      sent.insert(sent.end(), d, d + n);
      cv.notify_all();
      return true;
    };
  }
  int eventCount() {
    std::lock_guard<std::mutex> lock(m);
    return events;
  }
  std::vector<size_t> sendSizes() {
    std::lock_guard<std::mutex> lock(m);
    return sends;
  }
  // Real-time bound as a safety net; the wait ends on the event.
  bool waitForEvents(int n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, 20s, [&] { return events >= n; });
  }
  bool waitForSends(size_t n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, 20s, [&] { return sends.size() >= n; });
  }
};

// Moves the clock on in 50 ms steps, each once the core's thread waits again, until `pred`
// holds (at most `limit` of clock time). The steps follow the thread, so none outruns it.
template <class Pred>
void advanceUntil(foundation::ManualClock& clock, Pred pred, foundation::Duration limit = 2s) {
  for (foundation::Duration moved{}; !pred() && moved < limit; moved += 50ms) {
    clock.waitForWaiters(1);
    clock.advance(50ms);
    clock.waitUntilWaitersSawNow();
  }
}

// Each append followed by `notify`, and whether that append was announced.
TEST(BTStreamCorePolicy, EveryCaseOfTheNotificationPolicy) {
  struct Step {
    std::string bytes;
    bool announced;
  };
  struct Case {
    const char* name;
    double maxTime;
    int maxLength;
    std::optional<std::string> sequence;
    bool enabled;
    bool delegate;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"no policy: every append", 0, 0, std::nullopt, true, true, {{"a", true}, {"b", true}, {"c", true}}},
      {"length 10: from the tenth byte on", 0, 10, std::nullopt, true, true,
       {{"123456789", false}, {"0", true}, {"x", true}}},
      {"length 10 with CR LF: the sequence below the length", 0, 10, "\r\n", true, true,
       {{"ab", false}, {"\r\n", true}}},
      {"sequence alone: anywhere in the held bytes, across appends", 0, 0, "\r\n", true, true,
       {{"ab\r", false}, {"\nx", true}, {"y", true}}},
      {"sequence longer than what is held", 0, 0, "END", true, true, {{"EN", false}, {"D", true}}},
      {"negative length: the sequence decides", 0, -1, "\n", true, true, {{"abc", false}, {"\n", true}}},
      {"negative length without a sequence: never", 0, -1, std::nullopt, true, true, {{"abc", false}}},
      {"quiet time alone: never on append", 0.2, 0, std::nullopt, true, true, {{"abc", false}, {"d", false}}},
      {"quiet time with a sequence: the sequence", 0.2, 0, "!", true, true, {{"a", false}, {"!", true}}},
      {"notifications off: nothing", 0, 0, std::nullopt, false, true, {{"a", false}, {"b", false}}},
      {"nobody listening: nothing sent", 0, 0, std::nullopt, true, false, {{"a", false}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Hooks hooks;
    hooks.delegatePresent = c.delegate;
    BTStreamCore core(hooks.announce(), hooks.send());
    core.setNotificationsEnabled(c.enabled);
    core.setDataNotification(c.maxTime, c.maxLength,
                             c.sequence ? std::optional<Bytes>(text(*c.sequence)) : std::nullopt);
    int expected = 0;
    for (const auto& step : c.steps) {
      SCOPED_TRACE(step.bytes);
      core.append(text(step.bytes).data(), step.bytes.size());
      core.notify();
      expected += step.announced ? 1 : 0;
      EXPECT_EQ(hooks.eventCount(), expected);
      EXPECT_EQ(core.notificationSent(), step.announced);
    }
  }
}

TEST(BTStreamCorePolicy, QuietTimeAnnouncesOncePerQuietPeriod) {
  foundation::ScopedManualClock clock;
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  core.setNotificationsEnabled(true);
  core.setDataNotification(0.2, 0, std::nullopt);
  core.append(text("abc").data(), 3);
  core.notify();
  core.run();
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(200ms);  // not yet more than the quiet time
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(hooks.eventCount(), 0);
  advanceUntil(*clock, [&] { return hooks.eventCount() >= 1; });
  ASSERT_TRUE(hooks.waitForEvents(1));
  clock->advance(1s);
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(hooks.eventCount(), 1);  // no second one without new data

  core.append(text("d").data(), 1);
  core.notify();
  advanceUntil(*clock, [&] { return hooks.eventCount() >= 2; });
  ASSERT_TRUE(hooks.waitForEvents(2));
  core.stop();
}

TEST(BTStreamCorePolicy, QuietPeriodIsSpentWhileNotificationsAreOff) {
  foundation::ScopedManualClock clock;
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  core.setDataNotification(0.2, 0, std::nullopt);
  core.append(text("abc").data(), 3);
  core.notify();
  core.run();
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(300ms);
  // The thread's pass marks the quiet period spent (real-time bound as a safety net).
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (!core.notificationSent() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  EXPECT_TRUE(core.notificationSent());
  core.setNotificationsEnabled(true);
  clock->advance(300ms);
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(hooks.eventCount(), 0);
  core.stop();
}

TEST(BTStreamCorePolicy, NegativeQuietTimeIsOff) {
  foundation::ScopedManualClock clock;
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  core.setNotificationsEnabled(true);
  core.setDataNotification(-1.0, 0, std::nullopt);
  core.append(text("a").data(), 1);
  core.notify();
  EXPECT_EQ(hooks.eventCount(), 1);  // no policy at all: announced at once
}

TEST(BTStreamCoreRead, ReadTakesWhatIsHeldFromTheFront) {
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  core.append(text("hello").data(), 5);
  uint8_t buf[16];
  EXPECT_EQ(core.read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, buf + 3), "hel");
  EXPECT_EQ(core.read(buf, sizeof buf), 2u);
  EXPECT_EQ(std::string(buf, buf + 2), "lo");
  EXPECT_EQ(core.read(buf, sizeof buf), 0u);
}

// A stream nobody reads keeps only the newest bytes, up to its bound.
TEST(BTStreamCoreRead, UnreadBytesStayBoundedAndTheNewestAreKept) {
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  Bytes chunk(1000);
  for (size_t i = 0; i < 100; ++i) {
    std::fill(chunk.begin(), chunk.end(), uint8_t(i));
    core.append(chunk.data(), chunk.size());
  }
  const Bytes held = core.held();
  ASSERT_EQ(held.size(), BTStreamCore::kMaxUnread);
  EXPECT_EQ(held.back(), 99);
  EXPECT_EQ(held.front(), uint8_t(100 - (BTStreamCore::kMaxUnread + 999) / 1000));
}

TEST(BTStreamCoreWriteCache, FiveThousandBytesGoOutAsTwoFullCachesThenTheRestAfter101ms) {
  foundation::ScopedManualClock clock;
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  core.setWriteCachingEnabled(true);
  core.run();
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  EXPECT_EQ(core.write(data.data(), data.size()), 5000);
  EXPECT_EQ(hooks.sendSizes(), (std::vector<size_t>{2048, 2048}));
  EXPECT_EQ(core.cachedLength(), 904u);

  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(100ms);
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(hooks.sendSizes().size(), 2u);  // not before 101 ms
  advanceUntil(*clock, [&] { return hooks.sendSizes().size() >= 3; });
  ASSERT_TRUE(hooks.waitForSends(3));
  EXPECT_EQ(hooks.sendSizes(), (std::vector<size_t>{2048, 2048, 904}));
  std::lock_guard<std::mutex> lock(hooks.m);
  EXPECT_EQ(hooks.sent, data);
  core.stop();
}

TEST(BTStreamCoreWriteCache, ClearDropsTheUnsentRest) {
  foundation::ScopedManualClock clock;
  Hooks hooks;
  BTStreamCore core(hooks.announce(), hooks.send());
  core.setWriteCachingEnabled(true);
  core.run();
  Bytes data(5000, 0x55);
  core.write(data.data(), data.size());
  core.clear();
  EXPECT_EQ(core.cachedLength(), 0u);
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(500ms);
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(hooks.sendSizes(), (std::vector<size_t>{2048, 2048}));
  core.flush();  // nothing left to send
  EXPECT_EQ(hooks.sendSizes().size(), 2u);
  core.stop();
}

TEST(BTStreamCoreWriteCache, WithoutCachingEveryWriteGoesOutAtOnceAndAFailedSendIsReported) {
  Hooks hooks;
  bool refuse = false;
  BTStreamCore core(hooks.announce(), [&](const uint8_t* d, size_t n) { return !refuse && hooks.send()(d, n); });
  Bytes data(45, 1);
  EXPECT_EQ(core.write(data.data(), data.size()), 45);
  EXPECT_EQ(hooks.sendSizes(), (std::vector<size_t>{45}));
  refuse = true;
  EXPECT_EQ(core.write(data.data(), data.size()), -1);
}

}  // namespace
}  // namespace kestra
