#include "testing/devices/base/SimulatedAccessory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/EchoAccessory.h"
#include "testing/devices/base/RecordingDriver.h"

extern char** environ;

namespace devices {
namespace {

using foundation::Bytes;
using namespace std::chrono_literals;

const accessory::AccessoryIdentity kSleeve{
    "Pellan PX4", "Sabrel", "PX4", "S1", "2.63", "1.0", {"com.sabrel.pellan.pro.bar"}};

std::shared_ptr<RecordingDriver> takeEverything() {
  auto d = std::make_shared<RecordingDriver>("D", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"));
  d->consume = [](int, const uint8_t*, int n) { return n; };
  return d;
}

template <class Device = SimulatedAccessory>
std::pair<Device*, std::shared_ptr<kestra::EAStream>> connect(AccessoryTestBench& bench,
                                                              const std::shared_ptr<RecordingDriver>& d) {
  bench.manager->setDelegate(d);
  Device& dev = bench.attach<Device>(kSleeve);
  bench.manager->tryConnect();
  EXPECT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));
  EXPECT_TRUE(dev.waitForChannel(0));
  return {&dev, d->currentStream()};
}

TEST(SimulatedAccessoryTest, RecordsWhatTheHostSentAndAnswersUnlessSilent) {
  AccessoryTestBench bench;
  auto d = takeEverything();
  auto [dev, stream] = connect<EchoAccessory>(bench, d);
  ASSERT_TRUE(stream->write(0, foundation::bytesOf("ping")));
  ASSERT_TRUE(d->waitFor([&] { return d->consumed[0].size() == 4; }));
  EXPECT_EQ(foundation::textOf(dev->received(0)), "ping");
  EXPECT_EQ(dev->sessionsOpened(), 1);

  dev->setSilent(true);
  ASSERT_TRUE(stream->write(0, foundation::bytesOf("hush")));
  ASSERT_TRUE(dev->waitForReceived(0, 8));
  d->waitFor([] { return false; }, 50ms);
  EXPECT_EQ(foundation::textOf(d->consumedOn(0)), "ping");  // no answer while silent
  EXPECT_EQ(foundation::textOf(dev->takeReceived(0)), "pinghush");
  EXPECT_TRUE(dev->received(0).empty());
}

TEST(SimulatedAccessoryTest, ReplyDelayFollowsTheClock) {
  foundation::ScopedManualClock clock;
  AccessoryTestBench bench;
  auto d = takeEverything();
  auto [dev, stream] = connect(bench, d);
  dev->setReplyDelay(5s);
  dev->send(0, Bytes{1, 2, 3});
  d->waitFor([] { return false; }, 50ms);
  clock->advance(4900ms);
  d->waitFor([] { return false; }, 50ms);
  EXPECT_TRUE(d->consumedOn(0).empty());
  clock->advance(200ms);
  ASSERT_TRUE(d->waitFor([&] { return d->consumed[0].size() == 3; }));
}

TEST(SimulatedAccessoryTest, SplitDeliveryAndGarbageShapeWhatTheHostReads) {
  AccessoryTestBench bench;
  auto d = takeEverything();
  auto [dev, stream] = connect(bench, d);
  const Bytes frame{0x00, 0x03, 0x41, 0x42, 0x43};

  dev->setSplitDelivery(true);
  dev->send(0, frame);
  ASSERT_TRUE(d->waitFor([&] { return d->consumed[0].size() == frame.size(); }));
  {
    auto lock = d->lock();
    ASSERT_EQ(d->offers.size(), frame.size());  // one read per byte
    for (size_t i = 0; i < frame.size(); ++i) EXPECT_EQ(d->offers[i].second, Bytes{frame[i]});
  }
  dev->setSplitDelivery(false);

  {
    auto lock = d->lock();
    d->consumed.clear();
  }
  dev->injectGarbageBeforeNextSend(Bytes{0xFF, 0x13});
  dev->send(0, frame);
  dev->send(0, frame);  // the garbage comes once
  ASSERT_TRUE(d->waitFor([&] { return d->consumed[0].size() == 2 + 2 * frame.size(); }));
  Bytes expected{0xFF, 0x13};
  expected.insert(expected.end(), frame.begin(), frame.end());
  expected.insert(expected.end(), frame.begin(), frame.end());
  EXPECT_EQ(d->consumedOn(0), expected);
}

TEST(SimulatedAccessoryTest, DroppedLinkEndsTheSessionButKeepsTheAccessoryAttached) {
  AccessoryTestBench bench;
  auto d = takeEverything();
  auto [dev, stream] = connect(bench, d);
  dev->dropLinkAfter(2);
  dev->send(0, Bytes{0x00, 0x05, 1, 2, 3, 4, 5});
  ASSERT_TRUE(d->waitFor([&] { return d->disconnectedCount == 1; }));
  EXPECT_EQ(d->consumedOn(0), (Bytes{0x00, 0x05}));
  EXPECT_TRUE(dev->attached());
  EXPECT_EQ(bench.registry->connectedAccessories().size(), 1u);
}

// The accessory lives in another process, which attaches it while the SDK runs and
// detaches it when told to end.
TEST(SimulatedAccessoryTest, AccessoryOfAnotherProcessAppearsAndDisappears) {
  AccessoryTestBench bench;
  auto d = takeEverything();
  bench.manager->setDelegate(d);
  bench.manager->tryConnect();  // nothing attached yet
  bench.pumpUntil([&] { return !bench.manager->searchInProgress(); });
  EXPECT_EQ(d->asked.size(), 0u);

  const std::string folder = bench.folder.string();
  std::vector<std::string> args = {KESTRA_ATTACH_DEVICE, "--folder", folder, "--name", "Pellan PX4",
                                   "--model", "PX4", "--protocol", "com.sabrel.pellan.pro.bar"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);

  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }, 10000ms));
  auto stream = d->currentStream();
  EXPECT_EQ(stream->deviceName(), "Pellan PX4");
  EXPECT_EQ(stream->deviceModel(), "PX4");
  ASSERT_TRUE(stream->write(0, foundation::bytesOf("hello")));
  ASSERT_TRUE(d->waitFor([&] { return d->consumed[0].size() == 5; }));
  EXPECT_EQ(foundation::textOf(d->consumedOn(0)), "hello");

  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(d->waitFor([&] { return d->disconnectedCount == 1; }));
  EXPECT_TRUE(d->disconnectedOnMain);
  EXPECT_TRUE(bench.pumpUntil([&] {
    return bench.registry->connectedAccessories().empty() && !bench.manager->connected();
  }));
}

}  // namespace
}  // namespace devices
