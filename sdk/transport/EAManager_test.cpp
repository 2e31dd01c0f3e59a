#include "sdk/transport/EAManager.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <future>
#include <thread>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/EchoAccessory.h"
#include "testing/devices/base/RecordingDriver.h"

namespace kestra {
namespace {

using devices::AccessoryTestBench;
using devices::RecordingDriver;
using namespace std::chrono_literals;

accessory::AccessoryIdentity sleeveIdentity(const std::string& name = "Pellan PX4") {
  return {name, "Sabrel", "PX4", "SN0001", "2.63", "1.0",
          {"com.sabrel.pellan.pro.bar", "com.sabrel.pellan.pro.msr"}};
}

// Runs the main queue until what was queued on it so far has run (a search that it starts
// included), then until no search runs.
void settle(AccessoryTestBench& bench) {
  bool drained = false;
  foundation::MainQueue::post([&] { drained = true; });
  ASSERT_TRUE(bench.pumpUntil([&] { return drained; }));
  ASSERT_TRUE(bench.pumpUntil([&] { return !bench.manager->searchInProgress(); }));
}

// Runs the main queue until every timer due by the clock's present time has fired.
void fireDueTimers(AccessoryTestBench& bench) {
  bool fired = false;
  foundation::MainQueue::postAfter(foundation::Duration::zero(), [&] { fired = true; });
  ASSERT_TRUE(bench.pumpUntil([&] { return fired; }));
}

TEST(EAManagerTest, DriversAreAskedInRegistrationOrderAndTheFirstClaimWins) {
  AccessoryTestBench bench;
  std::vector<std::string> askLog;
  auto a = std::make_shared<RecordingDriver>("A", RecordingDriver::claimNothing(), &askLog);
  auto b = std::make_shared<RecordingDriver>(
      "B", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"), &askLog);
  auto c = std::make_shared<RecordingDriver>(
      "C", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"), &askLog);
  for (auto& d : {a, b, c}) bench.manager->setDelegate(d);
  bench.manager->setDelegate(a);  // registering twice changes nothing
  bench.attach(sleeveIdentity());

  bench.manager->tryConnect();
  ASSERT_TRUE(b->waitFor([&] { return b->connectedCount == 1; }));
  bench.pumpUntil([&] { return !bench.manager->searchInProgress(); });

  EXPECT_EQ(askLog, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(c->asked.size(), 0u);
  ASSERT_EQ(bench.manager->devices().size(), 1u);
  auto stream = bench.manager->devices()[0];
  EXPECT_EQ(stream->delegate(), b);
  EXPECT_EQ(stream->deviceName(), "Pellan PX4");
  EXPECT_EQ(stream->deviceModel(), "PX4");
  EXPECT_EQ(stream->serialNumber(), "SN0001");
  EXPECT_EQ(stream->firmwareRevision(), "2.63");
  EXPECT_TRUE(bench.manager->connected());
  EXPECT_EQ(bench.manager->delegate(), a);

  // An accessory already served is not claimed again.
  bench.manager->tryConnect();
  settle(bench);
  EXPECT_EQ(b->connectedCount, 1);
  EXPECT_EQ(askLog.size(), 2u);
}

TEST(EAManagerTest, ClaimWhoseSessionsFailIsNotPassedOnAndIsRetriedByTheNextSearch) {
  struct Case {
    const char* name;
    bool refuse;  // the device closes new sessions; otherwise it never answers them
  };
  for (const Case& k : {Case{"refused sessions", true}, Case{"sessions that never open", false}}) {
    SCOPED_TRACE(k.name);
    foundation::ScopedManualClock clock;
    AccessoryTestBench bench;
    auto b = std::make_shared<RecordingDriver>(
        "B", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"));
    auto c = std::make_shared<RecordingDriver>(
        "C", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"));
    bench.manager->setDelegate(b);
    bench.manager->setDelegate(c);
    auto& device = bench.attach(sleeveIdentity());
    if (k.refuse)
      device.setRefuseSessions(true);
    else
      device.setHoldSessions(true);

    bench.manager->tryConnect();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.manager->searchInProgress(); }));
    ASSERT_TRUE(AccessoryTestBench::advanceUntil(
        *clock, [&] { return !bench.manager->searchInProgress(); }));
    EXPECT_EQ(b->connectedCount, 0);
    // Asked once per search: the attach notice may have started one of its own, which the
    // request of `tryConnect` then runs once more.
    EXPECT_GE(b->asked.size(), 1u);
    EXPECT_LE(b->asked.size(), 2u);
    EXPECT_TRUE(c->asked.empty());
    EXPECT_FALSE(bench.manager->connected());
    EXPECT_EQ(bench.comm->requestCounter(), 0);  // the failed stream did not stay registered

    device.setRefuseSessions(false);
    device.setHoldSessions(false);
    bench.manager->tryConnect();
    ASSERT_TRUE(b->waitFor([&] { return b->connectedCount == 1; }));
    EXPECT_TRUE(c->asked.empty());
  }
}

TEST(EAManagerTest, ClaimedStringsTheAccessoryDoesNotOfferAreDropped) {
  AccessoryTestBench bench;
  auto d = std::make_shared<RecordingDriver>(
      "D", [](const std::string&, const std::vector<std::string>&) {
        return std::optional<std::vector<std::string>>(std::vector<std::string>{
            "com.other.unknown", "com.sabrel.pellan.pro.msr", "com.sabrel.pellan.pro.bar"});
      });
  bench.manager->setDelegate(d);
  auto& device = bench.attach(sleeveIdentity());
  bench.manager->tryConnect();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));
  auto stream = d->currentStream();
  EXPECT_EQ(stream->channelCount(), 2);
  // Channel 0 is the first kept string, the device's second protocol.
  ASSERT_TRUE(stream->write(0, foundation::bytesOf("msr")));
  ASSERT_TRUE(stream->write(1, foundation::bytesOf("bar")));
  ASSERT_TRUE(device.waitForReceived(1, 3));
  ASSERT_TRUE(device.waitForReceived(0, 3));
  EXPECT_EQ(foundation::textOf(device.received(1)), "msr");
  EXPECT_EQ(foundation::textOf(device.received(0)), "bar");
}

TEST(EAManagerTest, EmptyClaimTakesTheAccessoryButOpensNothing) {
  foundation::ScopedManualClock clock;
  AccessoryTestBench bench;
  auto d = std::make_shared<RecordingDriver>(
      "D", [](const std::string&, const std::vector<std::string>&) {
        return std::optional<std::vector<std::string>>(std::vector<std::string>{});
      });
  auto e = std::make_shared<RecordingDriver>(
      "E", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"));
  bench.manager->setDelegate(d);
  bench.manager->setDelegate(e);
  bench.attach(sleeveIdentity());
  bench.manager->tryConnect();
  ASSERT_TRUE(bench.pumpUntil([&] { return bench.manager->searchInProgress(); }));
  ASSERT_TRUE(AccessoryTestBench::advanceUntil(
      *clock, [&] { return !bench.manager->searchInProgress(); }));
  EXPECT_EQ(d->connectedCount, 0);
  EXPECT_TRUE(e->asked.empty());
}

TEST(EAManagerTest, DetachedAccessoryTellsManagerAndDriverOnTheMainQueue) {
  AccessoryTestBench bench;
  auto d = std::make_shared<RecordingDriver>(
      "D", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"));
  bench.manager->setDelegate(d);
  auto& device = bench.attach(sleeveIdentity());
  bench.manager->tryConnect();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));
  auto stream = d->currentStream();
  EXPECT_TRUE(bench.manager->isAccessoryPresent("pellan"));
  EXPECT_TRUE(bench.manager->isAccessoryPresent("com.sabrel.pellan.pro.msr"));

  device.detach();
  ASSERT_TRUE(d->waitFor([&] { return d->disconnectedCount == 1; }));
  EXPECT_TRUE(d->disconnectedOnMain);
  EXPECT_TRUE(bench.pumpUntil([&] { return !bench.manager->connected(); }));
  EXPECT_FALSE(stream->connected());
  EXPECT_FALSE(stream->write(0, foundation::bytesOf("late")));
  // The registry may notice the detach a little after the link ended.
  EXPECT_TRUE(bench.pumpUntil([&] { return !bench.manager->isAccessoryPresent("pellan"); }));

  // Disconnecting again tells nobody twice.
  stream->disconnect();
  bench.pumpUntil([] { return GlobalQueue::running() == 0; });
  EXPECT_EQ(d->disconnectedCount, 1);
  EXPECT_EQ(bench.comm->requestCounter(), 0);
}

TEST(EAManagerTest, EnteringTheBackgroundClosesStreamsUnlessTheBackgroundModeIsOn) {
  for (bool backgroundMode : {false, true}) {
    SCOPED_TRACE(backgroundMode ? "background mode" : "no background mode");
    AccessoryTestBench bench;
    bench.manager->setBackgroundApp(backgroundMode);
    auto d = std::make_shared<RecordingDriver>(
        "D", RecordingDriver::claimProtocol("com.sabrel.pellan.pro.bar"));
    bench.manager->setDelegate(d);
    bench.attach(sleeveIdentity());
    bench.manager->tryConnect();
    ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));

    foundation::NotificationCenter::defaultCenter().post(kApplicationDidEnterBackgroundNotification);
    EXPECT_EQ(d->disconnectedCount, backgroundMode ? 0 : 1);
    EXPECT_EQ(bench.manager->connected(), backgroundMode);
    EXPECT_FALSE(bench.registry->notificationsRegistered());
  }
}

// Claims every accessory on all its channels.
std::shared_ptr<RecordingDriver> claimAll(const std::string& label = "D") {
  return std::make_shared<RecordingDriver>(
      label, [](const std::string&, const std::vector<std::string>& offered) {
        return std::optional<std::vector<std::string>>(offered);
      });
}

std::vector<std::string> deviceNames(const EAManager& m) {
  std::vector<std::string> out;
  for (const auto& s : m.devices()) out.push_back(s->deviceName());
  return out;
}

TEST(EAManagerTest, AnAccessoryAttachedWhileAnotherIsBeingIdentifiedIsNotLost) {
  AccessoryTestBench bench;
  auto d = claimAll();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> identifying{false};
  d->whileConnecting = [&](const auto&) {
    if (!identifying.exchange(true)) released.wait();
  };
  bench.manager->setDelegate(d);
  bench.attach(sleeveIdentity("Pellan PX4"));
  bench.manager->tryConnect();
  ASSERT_TRUE(bench.pumpUntil([&] { return identifying.load(); }));

  // The second accessory's attach notice reaches the manager while the search is busy.
  std::atomic<bool> noticed{false};
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      &noticed, accessory::kAccessoryDidConnectNotification, nullptr,
      [&](const foundation::Notification&) { noticed = true; });
  bench.attach(sleeveIdentity("Printer DP-2"));
  ASSERT_TRUE(bench.pumpUntil([&] { return noticed.load(); }));
  foundation::NotificationCenter::defaultCenter().removeToken(token);
  EXPECT_TRUE(bench.manager->searchInProgress());

  release.set_value();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 2; }));
  ASSERT_TRUE(bench.pumpUntil([&] { return !bench.manager->searchInProgress(); }));
  EXPECT_EQ(bench.manager->devices().size(), 2u);
}

TEST(EAManagerTest, DisabledAccessoryIsSkippedUntilSomethingResetsIt) {
  const std::string kName = "Pellan PX4";
  auto detachOf = [](const std::string& name) {
    return foundation::Notification{accessory::kAccessoryDidDisconnectNotification, nullptr,
                                    nlohmann::json{{accessory::kAccessoryKey, {{"name", name}}}}};
  };
  struct Case {
    const char* name;
    std::function<void(EAManager&)> act;
    bool reset;
  };
  const Case cases[] = {
      {"tryConnect", [](EAManager& m) { m.tryConnect(); }, true},
      {"returning to the foreground", [](EAManager& m) { m.UIApplicationWillEnterForeground(); }, true},
      {"detach of that accessory", [&](EAManager& m) { m.EAAccessoryDidDisconnect(detachOf(kName)); }, true},
      {"detach of another accessory",
       [&](EAManager& m) { m.EAAccessoryDidDisconnect(detachOf("Scanner Z")); }, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    AccessoryTestBench bench;
    auto d = claimAll();
    bench.manager->setDelegate(d);
    bench.attach(sleeveIdentity(kName));
    bench.attach(sleeveIdentity("Printer DP-2"));
    bench.manager->setDisabledAccessory(kName);

    EXPECT_TRUE(bench.manager->findAccessory());
    EXPECT_EQ(d->asked, std::vector<std::string>{"Printer DP-2"});
    EXPECT_EQ(deviceNames(*bench.manager), std::vector<std::string>{"Printer DP-2"});

    k.act(*bench.manager);
    EXPECT_EQ(bench.manager->disabledAccessory(), k.reset ? "" : kName);
    // A search that the act started (tryConnect) may claim it first; either way it is
    // claimed once.
    settle(bench);
    bench.manager->findAccessory();
    EXPECT_EQ(bench.manager->devices().size(), k.reset ? 2u : 1u);
  }
}

TEST(EAManagerTest, EnteringTheBackgroundWithOpenStreamsEnablesTheDisabledAccessory) {
  AccessoryTestBench bench;
  auto d = claimAll();
  bench.manager->setDelegate(d);
  bench.attach(sleeveIdentity("Printer DP-2"));
  bench.manager->tryConnect();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));
  bench.manager->setDisabledAccessory("Pellan PX4");
  bench.manager->UIApplicationDidEnterBackground();
  EXPECT_EQ(bench.manager->disabledAccessory(), "");
  EXPECT_EQ(d->disconnectedCount, 1);
}

TEST(EAManagerTest, StreamTheDriverClosedIsDroppedAndTheAccessoryClaimedAgain) {
  AccessoryTestBench bench;
  auto d = claimAll();
  bench.manager->setDelegate(d);
  bench.attach(sleeveIdentity());
  bench.manager->tryConnect();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));
  auto first = d->currentStream();
  ASSERT_TRUE(first);

  first->disconnect();  // the driver closes its own stream; nobody tells the manager
  EXPECT_EQ(d->disconnectedCount, 1);
  EXPECT_EQ(bench.manager->devices().size(), 1u);
  bench.manager->cleanUp();
  EXPECT_TRUE(bench.manager->devices().empty());
  EXPECT_FALSE(bench.manager->connected());

  // A search drops such streams by itself before it looks for accessories.
  bench.manager->tryConnect();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 2; }));
  auto second = d->currentStream();
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_TRUE(second->isOpen());
  EXPECT_EQ(bench.manager->devices(), std::vector<std::shared_ptr<EAStream>>{second});
}

TEST(EAManagerTest, EaCleanDisconnectsStreamsWhoseAccessoryIsNoLongerPresent) {
  AccessoryTestBench bench;
  auto d = claimAll();
  bench.manager->setDelegate(d);
  bench.attach(sleeveIdentity("Pellan PX4"));
  auto& printer = bench.attach(sleeveIdentity("Printer DP-2"));
  bench.manager->tryConnect();
  ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 2; }));
  std::shared_ptr<EAStream> printerStream;
  for (const auto& s : bench.manager->devices())
    if (s->deviceName() == "Printer DP-2") printerStream = s;
  ASSERT_TRUE(printerStream);

  // The registry drops the accessory at once; its notices wait on the main queue, which
  // this thread does not run yet, so the stream is still listed and open.
  std::atomic<bool> noticed{false};
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      &noticed, accessory::kAccessoryDidDisconnectNotification, nullptr,
      [&](const foundation::Notification&) { noticed = true; });
  std::filesystem::remove(printer.descriptorPath());
  for (int i = 0; i < 5000 && bench.manager->isAccessoryPresent("Printer"); ++i)
    std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(bench.manager->isAccessoryPresent("Printer"));
  ASSERT_EQ(bench.manager->devices().size(), 2u);

  bench.manager->eaClean();
  EXPECT_EQ(deviceNames(*bench.manager), std::vector<std::string>{"Pellan PX4"});
  EXPECT_FALSE(printerStream->connected());
  EXPECT_FALSE(printerStream->isOpen());
  EXPECT_EQ(d->disconnectedCount, 1);

  // The registry's late notice changes nothing more.
  ASSERT_TRUE(bench.pumpUntil([&] { return noticed.load(); }));
  EXPECT_EQ(d->disconnectedCount, 1);
  EXPECT_EQ(deviceNames(*bench.manager), std::vector<std::string>{"Pellan PX4"});
  foundation::NotificationCenter::defaultCenter().removeToken(token);
}

TEST(EAManagerTest, ReturningToTheForegroundRegistersAndSearchesAfterOneSecond) {
  for (bool connectEnabled : {true, false}) {
    SCOPED_TRACE(connectEnabled ? "connecting enabled" : "connecting disabled");
    foundation::ScopedManualClock clock;
    AccessoryTestBench bench;
    auto d = claimAll();
    bench.manager->setDelegate(d);
    bench.attach(sleeveIdentity());
    bench.manager->tryConnect();
    ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 1; }));

    auto& center = foundation::NotificationCenter::defaultCenter();
    center.post(kApplicationDidEnterBackgroundNotification);
    ASSERT_EQ(d->disconnectedCount, 1);
    ASSERT_FALSE(bench.registry->notificationsRegistered());
    if (!connectEnabled) bench.manager->disconnect();

    center.post(kApplicationWillEnterForegroundNotification);
    clock->advance(EAManager::kForegroundDelay - 1ms);
    fireDueTimers(bench);
    EXPECT_FALSE(bench.registry->notificationsRegistered());
    EXPECT_FALSE(bench.manager->searchInProgress());
    EXPECT_EQ(d->connectedCount, 1);

    clock->advance(1ms);
    if (connectEnabled) {
      ASSERT_TRUE(d->waitFor([&] { return d->connectedCount == 2; }));
      EXPECT_TRUE(bench.registry->notificationsRegistered());
      EXPECT_TRUE(bench.manager->connected());
    } else {
      fireDueTimers(bench);
      settle(bench);
      EXPECT_FALSE(bench.registry->notificationsRegistered());
      EXPECT_EQ(d->connectedCount, 1);
    }
  }
}

}  // namespace
}  // namespace kestra
