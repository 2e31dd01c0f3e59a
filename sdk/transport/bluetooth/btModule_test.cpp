#include "sdk/transport/bluetooth/btModule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/bluetooth/BTModuleStreams.h"
#include "sdk/transport/bluetooth/btUniversal.h"

namespace kestra {
namespace {
namespace bt_module_test {

using foundation::Bytes;
using foundation::Error;
using namespace std::chrono_literals;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

bool pump(const std::function<bool()>& c) { return foundation::RunLoop::main().runUntil(c, std::chrono::milliseconds(20000)); }

// A module whose hooks record what they are asked and answer from a script.
class ScriptedModule : public btModule {
 public:
  static std::shared_ptr<ScriptedModule> create() { return std::shared_ptr<ScriptedModule>(new ScriptedModule()); }
  std::mutex m;
  std::vector<std::string> calls;
  std::vector<std::pair<std::string, std::string>> found;
  bool discoverOk = true;
  bool connectOk = true;
  int take = -1;  // bytes each write takes (-1 all)
  bool writeOk = true;
  Bytes written;
  // While closed, switching off waits in the hook (after noting "off") until it opens.
  std::promise<void> offGate;
  std::shared_future<void> offGateOpen = offGate.get_future().share();
  bool gateOff = false;
  std::promise<void> connectEntered;

  bool btConnect(const std::string& address, const std::string& pin, Error* error = nullptr) override {
    if (gateOff) connectEntered.set_value();
    return btModule::btConnect(address, pin, error);
  }

  void note(const std::string& c) {
    std::lock_guard l(m);
    calls.push_back(c);
  }
  int count(const std::string& c) {
    std::lock_guard l(m);
    return int(std::count(calls.begin(), calls.end(), c));
  }

 protected:
  bool _btSetEnabled(bool on, Error*) override {
    note(on ? "on" : "off");
    if (!on && gateOff) offGateOpen.wait();
    return true;
  }
  bool _btDiscoverDevices(int, double, unsigned, Error* error) override {
    note("discover");
    clearFoundDevices();
    if (!discoverOk) return foundation::fail(error, Error{"com.sabrel.errors", -6, "Timeout"});
    for (auto& [a, n] : found) addFoundDevice(a, n);
    return true;
  }
  bool _btConnect(const std::string& address, const std::string&, Error*) override {
    note("connect " + address);
    if (connectOk) addConnectedDevice(address);
    return connectOk;
  }
  bool _btListenForDevices(bool listen, bool, const std::string&, unsigned, Error*) override {
    note(listen ? "listen" : "unlisten");
    return true;
  }
  bool _btWrite(const uint8_t* data, int* length, Error* error) override {
    if (!writeOk) return foundation::fail(error, Error{"com.sabrel.errors", -11, "Write failed"});
    if (take >= 0) *length = std::min(*length, take);
    std::lock_guard l(m);
    written.insert(written.end(), data, data + *length);
    return true;
  }

 private:
  ScriptedModule() = default;
};

class Events : public BTModuleEvents {
 public:
  Events() { implements({btsel::bluetoothDeviceDiscovered, btsel::bluetoothDiscoverComplete}); }
  void bluetoothDeviceDiscovered(const std::string& a, const std::string& n) override { found.push_back(a + "/" + n); }
  void bluetoothDiscoverComplete(bool ok) override { completions.push_back(ok); }
  std::vector<std::string> found;
  std::vector<bool> completions;
};

// ---- Lines ---------------------------------------------------------------------------------

TEST(BTModuleLines, LineRulesTakeOneLineAndItsTerminator) {
  struct Case {
    const char* name;
    std::string held;
    std::optional<std::string> line;
    std::string rest;
  } cases[] = {
      {"crlf around", "\r\nOK\r\nNEXT", "OK", "NEXT"},
      {"lf cr", "OK\n\rX", "OK", "X"},
      {"cr cr", "OK\r\rX", "OK", "X"},
      {"lf lf", "OK\n\nX", "OK", "X"},
      {"three breaks keep one", "OK\r\n\r\nX", "OK", "\r\nX"},
      {"no terminator", "\r\nPARTIAL", std::nullopt, "\r\nPARTIAL"},
      {"only breaks", "\r\n\r\n", std::nullopt, "\r\n\r\n"},
      {"terminator last", "OK\r", "OK", ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes held = bytesOf(c.held);
    EXPECT_EQ(btTakeLine(held, btModule::kLineMax), c.line);
    EXPECT_EQ(held, bytesOf(c.rest));
  }
  Bytes longLine(600, 'A');
  longLine.push_back('\n');
  EXPECT_EQ(btTakeLine(longLine, 512)->size(), 512u);
  EXPECT_TRUE(longLine.empty());
}

TEST(BTModuleLines, ReadLineReturnsLineAsItArrivesAndTimesOutOnTheClock) {
  foundation::ScopedManualClock clock;
  auto module = ScriptedModule::create();
  auto pending = std::async(std::launch::async, [&] {
    Error e;
    auto line = module->btReadLine(1.0, &e);
    return std::make_pair(line, e.code);
  });
  ASSERT_TRUE(clock->waitForWaiters(1));
  module->btAppendData(bytesOf("\r\nO").data(), 3);
  module->btAppendData(bytesOf("K\r\nrest").data(), 7);
  auto [line, code] = pending.get();
  EXPECT_EQ(line, "OK");
  EXPECT_EQ(module->heldBytes(), bytesOf("rest"));

  // No whole line: -6 once one second of the clock passed, not before.
  auto timedOut = std::async(std::launch::async, [&] {
    Error e;
    auto l = module->btReadLine(1.0, &e);
    return std::make_pair(l, e);
  });
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(900ms);
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(timedOut.wait_for(0s), std::future_status::timeout);
  clock->advance(150ms);
  auto [none, error] = timedOut.get();
  EXPECT_FALSE(none);
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.text, "Timeout waiting for data");
}

TEST(BTModuleLines, ReadReturnsWhatArrivedWhenTheTimeRunsOut) {
  foundation::ScopedManualClock clock;
  auto module = ScriptedModule::create();
  module->btAppendData(bytesOf("abc").data(), 3);
  auto pending = std::async(std::launch::async, [&] {
    uint8_t buffer[10];
    return module->btRead(buffer, 10, 0.5);
  });
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(600ms);
  EXPECT_EQ(pending.get(), 3);
  EXPECT_FALSE(module->hasBytesAvailable());
}

// ---- Stream policy and cache ---------------------------------------------------------------------

class CountingDelegate : public BTStreamDelegate {
 public:
  void handleEvent(BTStream&, int event) override {
    std::lock_guard l(m);
    events.push_back(event);
  }
  int count(int event) {
    std::lock_guard l(m);
    return int(std::count(events.begin(), events.end(), event));
  }
  std::mutex m;
  std::vector<int> events;
};

TEST(BTStreamPolicy, AnnouncementsFollowLengthAndSequence) {
  struct Case {
    const char* name;
    int maxLength;
    std::string sequence;
    std::vector<std::string> appends;
    std::vector<int> announcedAfter;  // cumulative count after each append
  } cases[] = {
      {"no policy", 0, "", {"a", "b"}, {1, 2}},
      {"length 10", 10, "", {"123456789", "0", "x"}, {0, 1, 2}},
      {"length 10 or crlf", 10, "\r\n", {"ab", "\r\n"}, {0, 1}},
      {"sequence split over appends", 0, "OK", {"xO", "Kx"}, {0, 1}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto module = ScriptedModule::create();
    auto d = std::make_shared<CountingDelegate>();
    module->setDelegate(d);
    module->setNotificationsEnabled(true);
    module->setDataNotificationMaxTime(0, c.maxLength, bytesOf(c.sequence), nullptr);
    for (size_t i = 0; i < c.appends.size(); ++i) {
      module->btAppendData(bytesOf(c.appends[i]).data(), c.appends[i].size());
      EXPECT_EQ(d->count(kBTStreamHasBytesAvailable), c.announcedAfter[i]) << i;
    }
  }
}

TEST(BTStreamPolicy, QuietTimeAnnouncesOnceAndCloseEndsOnce) {
  foundation::ScopedManualClock clock;
  auto module = ScriptedModule::create();
  auto d = std::make_shared<CountingDelegate>();
  module->setDelegate(d);
  module->setNotificationsEnabled(true);
  module->setDataNotificationMaxTime(0.2, 0, Bytes{}, nullptr);
  module->run();
  module->btAppendData(bytesOf("a").data(), 1);
  EXPECT_EQ(d->count(kBTStreamHasBytesAvailable), 0);
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(50ms);
    ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  }
  EXPECT_EQ(d->count(kBTStreamHasBytesAvailable), 1);
  module->stop();

  module->open();
  module->close();
  module->close();
  EXPECT_EQ(d->count(kBTStreamEndEncountered), 1);
  auto never = ScriptedModule::create();
  never->setDelegate(d);
  never->close();
  EXPECT_EQ(d->count(kBTStreamEndEncountered), 1);
}

TEST(BTStreamCache, FullCachesGoAtOnceAndTheRestAfterItsAge) {
  foundation::ScopedManualClock clock;
  auto module = ScriptedModule::create();
  module->setWriteCachingEnabled(true);
  module->run();
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  EXPECT_EQ(module->write(data.data(), int(data.size())), 5000);
  EXPECT_EQ(module->written.size(), 4096u);
  while (true) {
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(50ms);
    ASSERT_TRUE(clock->waitUntilWaitersSawNow());
    std::lock_guard l(module->m);
    if (module->written.size() == 5000) break;
  }
  EXPECT_EQ(module->written, data);

  // A cleared cache sends nothing.
  module->write(data.data(), 10);
  module->clear();
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(clock->waitForWaiters(1));
    clock->advance(50ms);
    ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  }
  {
    std::lock_guard l(module->m);
    EXPECT_EQ(module->written.size(), 5000u);
  }
  module->stop();
}

TEST(BTStreamCache, AWriteWhoseBytesCannotGoOutFails) {
  struct Case {
    const char* name;
    bool caching;
    int length;
    int result;
  } cases[] = {
      {"direct", false, 10, -1},
      {"cache filled", true, 5000, -1},
      {"cache filled exactly", true, 2048, -1},
      {"cache partly filled: taken, fails on flush", true, 10, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto module = ScriptedModule::create();
    module->writeOk = false;
    module->setWriteCachingEnabled(c.caching);
    const Bytes data(size_t(c.length), 0x55);
    EXPECT_EQ(module->write(data.data(), c.length), c.result);
    if (c.result > 0) {
      EXPECT_FALSE(module->flush());
    }
    // The stream pair's output, as a driver over the module's link sees it.
    auto streams = btModuleStreams(module);
    EXPECT_EQ(streams.output->write(data.data(), data.size()), c.result);
  }
  // With a module that takes the bytes, the same writes succeed.
  auto module = ScriptedModule::create();
  module->setWriteCachingEnabled(true);
  const Bytes data(5000, 0x55);
  EXPECT_EQ(module->write(data.data(), 5000), 5000);
  EXPECT_TRUE(module->flush());
  EXPECT_EQ(module->written, data);
}

TEST(BTModuleWrite, AModuleThatTakesNothingFailsAfterSevenSeconds) {
  foundation::ScopedManualClock clock;
  auto module = ScriptedModule::create();
  module->take = 0;
  auto pending = std::async(std::launch::async, [&] {
    Error e;
    const bool ok = module->btWrite(std::string("hello"), &e);
    return std::make_pair(ok, e.code);
  });
  while (pending.wait_for(0s) != std::future_status::ready) {
    if (clock->waitForWaiters(1, 50ms)) clock->advance(100ms);
  }
  auto [ok, code] = pending.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(code, -6);
}

// ---- Power window ---------------------------------------------------------------------------

class PowerWindow : public ::testing::Test {
 protected:
  // Moves the clock on in quarter seconds, running the main queue, for `seconds`.
  void idleFor(int seconds) {
    for (int i = 0; i < seconds * 4; ++i) {
      clock->advance(250ms);
      foundation::RunLoop::main().runOnce(0ms);
    }
  }
  // Moves the clock on until `condition` holds (the switch-off pauses on the clock on a
  // worker, so the clock keeps moving while the worker runs). After each step the threads
  // waiting on the clock have seen it, so a busy machine cannot run the clock away from a
  // worker that has not been scheduled yet.
  bool idleUntil(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + 30s;  // real time: a safety net only
    while (std::chrono::steady_clock::now() < giveUp) {
      if (condition()) return true;
      clock->advance(50ms);
      clock->waitUntilWaitersSawNow();
      foundation::RunLoop::main().runOnce(1ms);
    }
    return condition();
  }
  void TearDown() override {
    idleUntil([] { return GlobalQueue::running() == 0; });
  }
  foundation::ScopedManualClock clock;
  std::shared_ptr<ScriptedModule> module = ScriptedModule::create();
};

TEST_F(PowerWindow, SwitchedOffOnceIdleAfterARelease) {
  ASSERT_TRUE(module->btOpen());
  EXPECT_TRUE(module->enabled());
  module->btClose();
  idleFor(5);
  EXPECT_TRUE(module->enabled());
  EXPECT_EQ(module->count("off"), 0);
  // Off at the first tick more than 5.5 s after the release, once, and the timer stops.
  ASSERT_TRUE(idleUntil([&] { return !module->enabled() && !module->idleTimerRunning(); })) << module->enabled() << module->idleTimerRunning() << module->count("off") << GlobalQueue::running();
  EXPECT_EQ(module->count("off"), 1);
}

TEST_F(PowerWindow, NeverSwitchedOffWhileConnectedOrListening) {
  ASSERT_TRUE(module->btConnect("00:11:22:aa:bb:cc", ""));
  EXPECT_EQ(module->btConnectedDevices(), std::vector<std::string>{"001122AABBCC"});
  module->btClose();  // a release while the link is up
  idleFor(20);
  EXPECT_TRUE(module->enabled());
  EXPECT_EQ(module->count("off"), 0);

  // Listening is refused while connected and changes nothing.
  Error e;
  EXPECT_FALSE(module->btListenForDevices(true, true, "name", 0x1F00, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(module->count("listen"), 0);

  module->btDeviceDisconnected("");
  ASSERT_TRUE(idleUntil([] { return GlobalQueue::running() == 0; }));
  EXPECT_TRUE(module->btConnectedDevices().empty());
  ASSERT_TRUE(module->btListenForDevices(true, true, "name", 0x1F00));
  const int offs = module->count("off");
  idleFor(20);
  EXPECT_TRUE(module->enabled());
  EXPECT_EQ(module->count("off"), offs);
  ASSERT_TRUE(module->btListenForDevices(false, false, "", 0));
  EXPECT_TRUE(idleUntil([&] { return !module->enabled(); }));
}

TEST_F(PowerWindow, NestedOpensHoldTheModuleUntilTheLastClose) {
  ASSERT_TRUE(module->btOpen());
  ASSERT_TRUE(module->btOpen());
  module->btClose();
  // An operation in between ends its own hold only.
  EXPECT_FALSE(module->btGetLocalAddress());
  idleFor(20);
  EXPECT_TRUE(module->enabled());
  EXPECT_EQ(module->count("off"), 0);
  module->btClose();
  ASSERT_TRUE(idleUntil([&] { return !module->enabled() && !module->idleTimerRunning(); }));
  EXPECT_EQ(module->count("off"), 1);
  // A close without an open changes nothing.
  module->btClose();
  idleFor(10);
  EXPECT_EQ(module->count("off"), 1);
  EXPECT_EQ(module->count("on"), 1);
}

TEST_F(PowerWindow, AConnectDuringTheIdleSwitchOffFindsTheModuleOnAndKeepsIt) {
  module->gateOff = true;
  ASSERT_TRUE(module->btOpen());
  module->btClose();
  // The idle time passed: the switch-off is under way (held in the module's hook).
  ASSERT_TRUE(idleUntil([&] { return module->count("off") == 1; }));
  auto entered = module->connectEntered.get_future();
  auto connecting = std::async(std::launch::async, [&] { return module->btConnect("001122AABBCC", ""); });
  entered.wait();
  module->offGate.set_value();
  ASSERT_TRUE(pump([&] { return connecting.wait_for(0s) == std::future_status::ready; }));
  EXPECT_TRUE(connecting.get());
  // The switch-off finished first; the connect then switched the module on again, and the
  // link keeps it on.
  {
    std::lock_guard l(module->m);
    EXPECT_EQ(std::vector<std::string>(module->calls.end() - 3, module->calls.end()),
              (std::vector<std::string>{"off", "on", "connect 001122AABBCC"}));
  }
  EXPECT_TRUE(module->enabled());
  EXPECT_EQ(module->btConnectedDevices(), std::vector<std::string>{"001122AABBCC"});
  idleFor(20);
  EXPECT_TRUE(module->enabled());
  EXPECT_EQ(module->count("off"), 1);
}

TEST_F(PowerWindow, AFailedConnectReleasesTheModule) {
  module->connectOk = false;
  EXPECT_FALSE(module->btConnect("001122AABBCC", "1234"));
  EXPECT_TRUE(idleUntil([&] { return !module->enabled(); }));
  EXPECT_EQ(module->count("off"), 1);
}

// ---- Discovery ---------------------------------------------------------------------------------

TEST(BTModuleDiscovery, FiltersPassTheirDevicesAndOneCompletionEndsEveryRun) {
  struct Case {
    const char* name;
    int filter;
    bool discoverOk;
    std::vector<std::string> found;
    bool completion;
  } cases[] = {
      {"any", 0, true, {"000000000001/PP-750", "000000000002/Phone"}, true},
      {"pinpads", 2, true, {"000000000001/PP-750"}, true},
      {"failed", 2, false, {}, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto module = ScriptedModule::create();
    module->found = {{"00:00:00:00:00:01", "PP-750"}, {"00:00:00:00:00:02", "Phone"}};
    module->discoverOk = c.discoverOk;
    auto events = std::make_shared<Events>();
    ASSERT_TRUE(module->btDiscoverDevicesInBackground(10, 5.0, 0, c.filter, {events}));
    ASSERT_TRUE(pump([&] { return !events->completions.empty(); }));
    GlobalQueue::waitIdle();
    foundation::RunLoop::main().runOnce(0ms);
    EXPECT_EQ(events->found, c.found);
    EXPECT_EQ(events->completions, std::vector<bool>{c.completion});
  }
}

TEST(BTModuleAddresses, FormatAndPack) {
  EXPECT_EQ(btFormatAddress(std::string("00:1a:2b:3c:4d:5e")), "001A2B3C4D5E");
  EXPECT_EQ(btFormatAddress(std::nullopt), std::nullopt);
  EXPECT_EQ(btFormatAddress(std::string("0123456789abcdef0123")), "0123456789ABCDEF");
  EXPECT_EQ(btModule::_btAddressToData("00:1a:2b:3c:4d:5e"), (Bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(btModule::_btAddressToData("ABC"), (Bytes{0xAB, 0xC0, 0, 0, 0, 0}));
}

// ---- The module run by the accessory's firmware ------------------------------------------------

class UniHost : public BTModuleHost {
 public:
  std::optional<Bytes> _btUniCommand(const uint8_t* data, int length, Error*) override {
    std::lock_guard l(m);
    commands.emplace_back(data, data + length);
    return Bytes{};
  }
  bool _bt301Write(const uint8_t*, int*, Error*) override { return false; }
  bool _bt301SetEnabled(bool, Error*) override { return false; }
  void bluetoothDeviceConnected(const std::string&) override {}
  void bluetoothDeviceDisconnected(const std::string& a) override { disconnected.push_back(a); }
  bool bluetoothDeviceRequestedConnection(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void bluetoothDevicePassKeySent(const std::string&, const std::string&) override {}
  bool clientsRespondToSelector(std::string_view) override { return false; }
  size_t commandCount() {
    std::lock_guard l(m);
    return commands.size();
  }
  bool sent(uint8_t sub) {
    std::lock_guard l(m);
    return std::any_of(commands.begin(), commands.end(), [&](const Bytes& c) { return !c.empty() && c[0] == sub; });
  }
  void forget() {
    std::lock_guard l(m);
    commands.clear();
  }
  std::mutex m;
  std::vector<Bytes> commands;
  std::vector<std::string> disconnected;
};

TEST(BTUniversal, EventsEndConnectAndInquiryAndSilenceTimesOut) {
  foundation::ScopedManualClock clock;
  auto host = std::make_shared<UniHost>();
  auto module = btUniversal::create();
  module->setControlDelegate(host);

  // A connect ended by the connected event; the PIN goes first (an empty one alone).
  // Each event is sent once its command went out, and the clock moves until the wait ends.
  auto finish = [&](auto& pending) {
    while (pending.wait_for(0s) != std::future_status::ready)
      if (clock->waitForWaiters(1, 20ms)) clock->advance(100ms);
  };
  auto connecting = std::async(std::launch::async, [&] { return module->btConnect("00:11:22:33:44:55", ""); });
  ASSERT_TRUE(pump([&] { return host->sent(11); }));
  const uint8_t connected[] = {kBTEventConnected};
  module->processEvent(connected, 1);
  finish(connecting);
  EXPECT_TRUE(connecting.get());
  {
    std::lock_guard l(host->m);
    // on (1), name (4), PIN (6), connect (11) with six address bytes
    ASSERT_GE(host->commands.size(), 4u);
    EXPECT_EQ(host->commands[2], (Bytes{6}));
    EXPECT_EQ(host->commands[3], (Bytes{11, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
  }

  // An inquiry ended by its completion event, with the devices found meanwhile.
  host->forget();
  auto discovering = std::async(std::launch::async, [&] { return module->btDiscoverDevices(5, 5.0, 0); });
  ASSERT_TRUE(pump([&] { return host->sent(10); }));
  const uint8_t found[] = {kBTEventFound, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 'P', 'P', '1', 0, 'x'};
  module->processEvent(found, sizeof found);
  const uint8_t done[] = {kBTEventDiscoverDone};
  module->processEvent(done, 1);
  finish(discovering);
  EXPECT_TRUE(discovering.get());
  EXPECT_EQ(module->btDeviceAddresses(), (std::vector<std::string>{"000102030405"}));
  EXPECT_EQ(module->btDeviceNames(), (std::vector<std::string>{"PP1"}));

  // No answer: -6 after max time + 1 s.
  auto silent = std::async(std::launch::async, [&] {
    Error e;
    const bool ok = module->btDiscoverDevices(5, 5.0, 0, &e);
    return std::make_pair(ok, e.code);
  });
  while (silent.wait_for(0s) != std::future_status::ready)
    if (clock->waitForWaiters(1, 50ms)) clock->advance(500ms);
  EXPECT_EQ(silent.get(), std::make_pair(false, -6));

  // A PIN that is too long or not ASCII is refused before anything is sent.
  const size_t before = host->commandCount();
  EXPECT_FALSE(module->_btSetPIN(std::string(300, '1')));
  EXPECT_FALSE(module->_btSetPIN("p\xC3\xA9n"));
  EXPECT_EQ(host->commandCount(), before);
  EXPECT_FALSE(module->btWrite(std::string("hello"), nullptr));
}

TEST(BTUniversal, EventParserTable) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<int> code;
  } cases[] = {
      {"empty", {}, std::nullopt},
      {"unknown", {0x7F}, std::nullopt},
      {"short found", {7, 1, 2, 3}, std::nullopt},
      {"found without name", {7, 1, 2, 3, 4, 5, 6}, 7},
      {"data", {10, 'a'}, 10},
      {"link lost", {6}, 6},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = parseBTModuleEvent(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(e ? std::optional<int>(e->code) : std::nullopt, c.code);
  }
}

}  // namespace bt_module_test
}  // namespace
}  // namespace kestra
