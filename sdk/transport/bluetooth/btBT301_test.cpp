#include "sdk/transport/bluetooth/btBT301.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/bluetooth/SimulatedBT301.h"

namespace kestra {
namespace {

using devices::SimulatedBT301;
using foundation::Error;
using namespace std::chrono_literals;

// The accessory around the module: carries bytes both ways and records the module's events.
class Host : public BTModuleHost {
 public:
  std::weak_ptr<btBT301> module;
  bool passKeyClients = false;
  // Answers to an incoming link's questions (asked on the handler's worker).
  std::optional<std::string> pinAnswer;
  bool acceptAnswer = false;

  template <class F>
  auto withSim(F f) {
    std::lock_guard l(m_);
    return f(sim_);
  }
  void deliver(const std::string& out) {
    if (out.empty()) return;
    if (auto mod = module.lock()) mod->btAppendData(reinterpret_cast<const uint8_t*>(out.data()), out.size());
  }
  std::vector<std::string> connected() {
    std::lock_guard l(m_);
    return connected_;
  }
  std::vector<std::string> disconnected() {
    std::lock_guard l(m_);
    return disconnected_;
  }
  std::vector<std::string> passKeys() {
    std::lock_guard l(m_);
    return passKeys_;
  }

  bool _bt301Write(const uint8_t* data, int* length, Error*) override {
    std::string out;
    {
      std::lock_guard l(m_);
      out = sim_.receive(std::string(reinterpret_cast<const char*>(data), size_t(*length)));
    }
    deliver(out);
    return true;
  }
  bool _bt301SetEnabled(bool on, Error*) override {
    std::string out;
    {
      std::lock_guard l(m_);
      if (on)
        out = sim_.powerOn();
      else
        sim_.powerOff();
    }
    deliver(out);
    return true;
  }
  void bluetoothDeviceConnected(const std::string& a) override {
    std::lock_guard l(m_);
    connected_.push_back(a);
  }
  void bluetoothDeviceDisconnected(const std::string& a) override {
    std::lock_guard l(m_);
    disconnected_.push_back(a);
  }
  bool bluetoothDeviceRequestedConnection(const std::string& a, const std::string&) override {
    std::lock_guard l(m_);
    questions_.push_back("accept " + a);
    return acceptAnswer;
  }
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& a, const std::string&) override {
    std::lock_guard l(m_);
    questions_.push_back("pin " + a);
    return pinAnswer;
  }
  std::vector<std::string> questions() {
    std::lock_guard l(m_);
    return questions_;
  }
  void bluetoothDevicePassKeySent(const std::string&, const std::string& key) override {
    std::lock_guard l(m_);
    passKeys_.push_back(key);
  }
  bool clientsRespondToSelector(std::string_view) override { return passKeyClients; }

 private:
  std::mutex m_;
  SimulatedBT301 sim_;
  std::vector<std::string> connected_, disconnected_, passKeys_, questions_;
};

class Events : public BTModuleEvents {
 public:
  Events() { implements({btsel::bluetoothDeviceDiscovered, btsel::bluetoothDiscoverComplete}); }
  void bluetoothDeviceDiscovered(const std::string& a, const std::string& n) override { found.push_back(a + "/" + n); }
  void bluetoothDiscoverComplete(bool ok) override { completions.push_back(ok); }
  std::vector<std::string> found;
  std::vector<bool> completions;
};

SimulatedBT301::Remote remote(const std::string& address, const std::string& name,
                              SimulatedBT301::Pairing pairing = SimulatedBT301::Pairing::None,
                              const std::string& pin = "", bool accepts = true, bool serialPort = true) {
  SimulatedBT301::Remote r;
  r.address = address;
  r.name = name;
  r.pairing = pairing;
  r.pin = pin;
  r.acceptsLinks = accepts;
  r.opensSerialPort = serialPort;
  return r;
}

const std::string kPinpad = "00119F0A0B01";
const std::string kNameless = "00119F0A0B02";
const std::string kPrinter = "00119F0A0B03";

class BT301 : public ::testing::Test {
 protected:
  void SetUp() override {
    host->module = module;
    module->setControlDelegate(host);
    host->withSim([](SimulatedBT301& s) {
      s.remotes = {remote(kPinpad, "PP-750"), remote(kNameless, ""), remote(kPrinter, "DPP-255 Printer")};
    });
    // Held on (until TearDown's close), so that no idle switch-off runs between the steps of a
    // test.
    ASSERT_TRUE(module->btOpen(nullptr));
  }
  // Moves the clock on in small steps (and runs the main queue) until `condition` holds.
  // With `pumpMain` the main queue runs too (its callbacks, and the module's idle timer).
  bool idleUntil(const std::function<bool()>& condition, bool pumpMain = true) {
    const auto giveUp = std::chrono::steady_clock::now() + 30s;  // real time: a safety net only
    while (std::chrono::steady_clock::now() < giveUp) {
      if (condition()) return true;
      clock->advance(50ms);
      clock->waitUntilWaitersSawNow();
      if (pumpMain) foundation::RunLoop::main().runOnce(1ms);
    }
    return condition();
  }
  // Runs `f` on a worker while the clock moves; its result and the clock time it took.
  template <class F>
  auto run(F f) {
    const auto start = clock->now();
    auto pending = std::async(std::launch::async, f);
    // The clock moves only while the worker waits on it (beside the stream's own thread), so
    // a busy machine cannot make time pass under a worker that has not yet looked at it.
    const auto giveUp = std::chrono::steady_clock::now() + 30s;  // real time: a safety net only
    int spins = 0;
    while (pending.wait_for(0s) != std::future_status::ready && std::chrono::steady_clock::now() < giveUp) {
      // (With the stream's thread stopped, only the worker waits: it moves on after a while.)
      if (clock->waiters() >= 2 || ++spins > 20000) {
        spins = 0;
        clock->advance(50ms);
        clock->waitUntilWaitersSawNow();
      } else {
        std::this_thread::yield();
      }
    }
    EXPECT_EQ(pending.wait_for(0s), std::future_status::ready);
    return std::make_pair(pending.get(), clock->now() - start);
  }
  std::vector<std::string> commands() {
    return host->withSim([](SimulatedBT301& s) { return s.commands; });
  }
  int count(const std::string& command) {
    const auto all = commands();
    return int(std::count(all.begin(), all.end(), command));
  }
  bool connect(const std::string& address, const std::string& pin, Error* e = nullptr) {
    return run([&] { return module->btConnect(address, pin, e); }).first;
  }

  void TearDown() override {
    module->btClose();
    run([&] { return module->btSetEnabled(false); });
    idleUntil([] { return GlobalQueue::running() == 0; });
  }

  foundation::ScopedManualClock clock;
  std::shared_ptr<Host> host = std::make_shared<Host>();
  std::shared_ptr<btBT301> module = btBT301::create();
};

// ---- Discovery ------------------------------------------------------------------------------------

TEST_F(BT301, DiscoveryAsksForAtMostEightAndKeepsOnlyNamedDevices) {
  struct Case {
    const char* name;
    int maxDevices;
    double maxTime;
    unsigned cod;
    bool split;
    std::string inquiry;
  } cases[] = {
      {"twenty over 10.24 s", 20, 10.24, 0x600, false, "AT+INQUIRY=8,08,0600"},
      {"three over 3 s, address lines split", 3, 3.0, 0x1F00, true, "AT+INQUIRY=3,02,1F00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host->withSim([&](SimulatedBT301& s) {
      s.splitResults = c.split;
      s.commands.clear();
    });
    Error e;
    auto [ok, took] = run([&] { return module->btDiscoverDevices(c.maxDevices, c.maxTime, c.cod, &e); });
    ASSERT_TRUE(ok) << e.text;
    EXPECT_EQ(count(c.inquiry), 1);
    EXPECT_EQ(count("AT+REMOTENAME=" + kNameless), 1);
    // The nameless device is dropped and both lists stay aligned.
    EXPECT_EQ(module->btDeviceAddresses(), (std::vector<std::string>{kPinpad, kPrinter}));
    EXPECT_EQ(module->btDeviceNames(), (std::vector<std::string>{"PP-750", "DPP-255 Printer"}));
    EXPECT_GE(took, 1s);  // the module is given a second before the names are asked
  }
}

TEST_F(BT301, BackgroundDiscoveryDeliversNamedDevicesAndOneCompletion) {
  auto events = std::make_shared<Events>();
  ASSERT_TRUE(module->btDiscoverDevicesInBackground(10, 5.0, 0x600, 0, {events}));
  ASSERT_TRUE(idleUntil([&] { return !events->completions.empty() && GlobalQueue::running() == 0; }));
  for (int i = 0; i < 200; ++i) {  // ten more seconds: a late second completion would show now
    clock->advance(50ms);
    foundation::RunLoop::main().runOnce(1ms);
  }
  EXPECT_EQ(events->found, (std::vector<std::string>{kPinpad + "/PP-750", kPrinter + "/DPP-255 Printer"}));
  EXPECT_EQ(events->completions, std::vector<bool>{true});
}

TEST_F(BT301, AFailedInquiryReportsTheModuleError) {
  host->withSim([](SimulatedBT301& s) { s.inquiryFails = true; });
  Error e;
  EXPECT_FALSE(run([&] { return module->btDiscoverDevices(5, 5.0, 0, &e); }).first);
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Bluetooth operation failed");
}

// ---- Connect --------------------------------------------------------------------------------------

TEST_F(BT301, ConnectPairsAsTheRemoteDeviceAsks) {
  using P = SimulatedBT301::Pairing;
  struct Case {
    const char* name;
    P pairing;
    std::string remotePin;
    bool accepts;
    bool serialPort;
    std::string pin;
    std::string security;
    std::string answer;  // the pairing answer the module must get ("" none)
    bool ok;
    bool sspOkFirst = true;
  } cases[] = {
      {"open device, no PIN", P::None, "", true, true, "", "AT+WRSEC=0,0,0", "", true},
      {"PIN asked and right", P::Pin, "1234", true, true, "1234", "AT+WRSEC=2,1,1", "AT+RESPIN=1234", true},
      {"PIN asked and wrong", P::Pin, "1234", true, true, "9999", "AT+WRSEC=2,1,1", "AT+RESPIN=9999", false},
      {"refused", P::None, "", false, true, "1234", "AT+WRSEC=2,1,1", "", false},
      {"simple pairing, OK first", P::Ssp, "", true, true, "", "AT+WRSEC=0,0,0", "AT+RESSSP=1", true},
      {"simple pairing, link first", P::Ssp, "", true, true, "", "AT+WRSEC=0,0,0", "AT+RESSSP=1", true, false},
      {"numeric comparison", P::Numeric, "", true, true, "", "AT+WRSEC=0,0,0", "AT+RESNUMCOMP=1", true},
      {"pass key, nobody to ask", P::PassKey, "", true, true, "", "AT+WRSEC=0,0,0", "AT+RESPASS=1", true},
      {"link without serial port", P::None, "", true, false, "", "AT+WRSEC=0,0,0", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host->withSim([&](SimulatedBT301& s) {
      s.remotes = {remote(kPinpad, "PP-750", c.pairing, c.remotePin, c.accepts, c.serialPort)};
      s.remotes[0].sspOkFirst = c.sspOkFirst;
      s.commands.clear();
    });
    Error e;
    auto [ok, took] = run([&] { return module->btConnect("00:11:9f:0a:0b:01", c.pin, &e); });
    EXPECT_EQ(ok, c.ok) << e.text;
    EXPECT_EQ(count(c.security), 1);
    EXPECT_EQ(count("AT+CONMASTER=1," + kPinpad), 1);
    if (!c.answer.empty()) {
      EXPECT_EQ(count(c.answer), 1);
    }
    if (c.ok) {
      EXPECT_TRUE(module->inDataMode());
      EXPECT_EQ(module->btConnectedDevices(), std::vector<std::string>{kPinpad});
      EXPECT_EQ(host->connected().back(), kPinpad);
      if (!c.serialPort) {
        EXPECT_GE(took, 15s);  // succeeds once the wait for the serial port ends
      }
      ASSERT_TRUE(run([&] { return module->btDisconnect("", nullptr); }).first);
      ASSERT_TRUE(idleUntil([&] { return module->btConnectedDevices().empty() && GlobalQueue::running() == 0; }));
    } else {
      EXPECT_EQ(e.code, -6);
      EXPECT_EQ(e.text, "Timeout trying to connect");
      EXPECT_FALSE(module->inDataMode());
      EXPECT_TRUE(module->btConnectedDevices().empty());
    }
  }
}

TEST_F(BT301, PassKeyAskedOfTheUserIsRejectedWhenNoAnswerComes) {
  host->passKeyClients = true;
  host->withSim([&](SimulatedBT301& s) {
    s.remotes = {remote(kPinpad, "PP-750", SimulatedBT301::Pairing::PassKey)};
  });
  Error e;
  auto [ok, took] = run([&] { return module->btConnect(kPinpad, "", &e); });
  EXPECT_FALSE(ok);
  ASSERT_TRUE(idleUntil([&] { return !host->passKeys().empty(); }));  // asked on the main queue
  EXPECT_EQ(host->passKeys(), std::vector<std::string>{"123456"});
  EXPECT_EQ(count("AT+RESPASS=0"), 1);
  EXPECT_GE(took, 30s);
}

TEST_F(BT301, PassKeyAcceptedByTheUserConnects) {
  host->passKeyClients = true;
  host->withSim([&](SimulatedBT301& s) {
    s.remotes = {remote(kPinpad, "PP-750", SimulatedBT301::Pairing::PassKey)};
  });
  auto pending = std::async(std::launch::async, [&] { return module->btConnect(kPinpad, "", nullptr); });
  ASSERT_TRUE(idleUntil([&] { return !host->passKeys().empty(); }));
  module->_btConfirmPassKey(true);
  ASSERT_TRUE(idleUntil([&] { return pending.wait_for(0s) == std::future_status::ready; }));
  EXPECT_TRUE(pending.get());
  EXPECT_EQ(count("AT+RESPASS=1"), 1);
}

// ---- Data mode ------------------------------------------------------------------------------------

TEST_F(BT301, DataFlowsAfterConnectAndTheEscapeReturnsToCommandMode) {
  ASSERT_TRUE(connect(kPinpad, ""));
  ASSERT_TRUE(module->btWrite(std::string("PING\r\n"), nullptr));
  EXPECT_EQ(host->withSim([](SimulatedBT301& s) { return s.remoteReceived; }), "PING\r\n");
  host->deliver(host->withSim([](SimulatedBT301& s) { return s.remoteSends("PONG\r\n"); }));
  EXPECT_EQ(module->btReadLine(1.0), "PONG");

  auto [ok, took] = run([&] { return module->btDisconnect("", nullptr); });
  EXPECT_TRUE(ok);
  EXPECT_GE(took, 1200ms);  // the module needs a quiet guard time before "+++"
  ASSERT_TRUE(idleUntil([&] { return !host->disconnected().empty(); }));
  EXPECT_FALSE(module->inDataMode());
  EXPECT_FALSE(host->withSim([](SimulatedBT301& s) { return s.dataMode; }));
  EXPECT_EQ(host->disconnected(), std::vector<std::string>{kPinpad});
  // Back in command mode: AT commands are answered again.
  EXPECT_EQ(run([&] { return module->btGetLocalAddress(nullptr); }).first, "0080251A2B3C");
}

TEST_F(BT301, LinkLossInTheDataEndsTheLinkOnceTheByteAfterItArrives) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    bool lost;
  } cases[] = {
      {"link lost event", {"+LINK_LOST=00119F0A0B01\r\n"}, true},
      {"text split across deliveries", {"ab+DISCON", "NECTED=", "!"}, true},
      {"whole text with nothing after it yet", {"xx+DISCONNECTED="}, false},
      {"near miss", {"+LINK_LOSS=00119F0A0B01\r\n"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(connect(kPinpad, ""));
    const size_t before = host->disconnected().size();
    for (const auto& chunk : c.chunks) host->deliver(chunk);
    if (c.lost) {
      ASSERT_TRUE(idleUntil([&] { return host->disconnected().size() == before + 1 && GlobalQueue::running() == 0; }));
      EXPECT_TRUE(module->btConnectedDevices().empty());
      EXPECT_FALSE(module->inDataMode());
      host->withSim([](SimulatedBT301& s) { s.loseLink(); });
    } else {
      idleUntil([] { return GlobalQueue::running() == 0; });
      EXPECT_EQ(module->btConnectedDevices(), std::vector<std::string>{kPinpad});
      EXPECT_TRUE(module->inDataMode());
      ASSERT_TRUE(run([&] { return module->btDisconnect("", nullptr); }).first);
      ASSERT_TRUE(idleUntil([&] { return module->btConnectedDevices().empty() && GlobalQueue::running() == 0; }));
    }
  }
}

// ---- Module state and silence ---------------------------------------------------------------------

TEST_F(BT301, WaitingForIdlePollsTheStateAndGivesUpOnABusyModule) {
  struct Case {
    const char* name;
    std::deque<int> states;
    bool idle;
    int queries;
  } cases[] = {
      {"idle at once", {}, true, 1},
      {"busy twice, then connected", {1, 1, 3}, true, 3},
      {"busy for ever", std::deque<int>(100, 1), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host->withSim([&](SimulatedBT301& s) {
      s.states = c.states;
      s.commands.clear();
    });
    auto [idle, took] = run([&] { return module->_sync(nullptr); });
    EXPECT_EQ(idle, c.idle);
    if (c.idle) {
      EXPECT_EQ(count("AT+GETSTATE"), c.queries);
      EXPECT_GE(took, (c.queries - 1) * 500ms);
    } else {
      // Given up after a bounded time, with a bounded number of polls.
      EXPECT_GE(took, btBT301::kSyncLimit - 500ms);
      EXPECT_LE(count("AT+GETSTATE"), 21);
    }
  }
}

TEST_F(BT301, ASilentModuleTimesOut) {
  struct Case {
    const char* name;
    bool silentFromPowerOn;
    std::function<bool(btBT301&, Error*)> call;
    int code;
    std::string text;
  } cases[] = {
      {"power on", true, [](btBT301& m, Error* e) { return m.btDiscoverDevices(5, 5.0, 0, e); }, -6,
       "Bluetooth module failed to respond"},
      {"raw command", false, [](btBT301& m, Error* e) { return m.btCommand("AT+WRMICGAIN=3", e).has_value(); }, -6,
       "Timeout reading from bluetooth module"},
      {"connect", false, [](btBT301& m, Error* e) { return m.btConnect(kPinpad, "", e); }, -6,
       "Timeout reading from bluetooth module"},
  };
  module->btClose();
  run([&] { return module->btSetEnabled(false); });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host->withSim([&](SimulatedBT301& s) { s.silent = c.silentFromPowerOn; });
    if (!c.silentFromPowerOn) {
      ASSERT_TRUE(run([&] { return module->btOpen(nullptr); }).first);
      host->withSim([](SimulatedBT301& s) { s.silent = true; });
    }
    Error e;
    EXPECT_FALSE(run([&] { return c.call(*module, &e); }).first);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
    module->btClose();
    run([&] { return module->btSetEnabled(false); });
    host->withSim([](SimulatedBT301& s) { s.silent = false; });
  }
}

TEST_F(BT301, LocalAddressAndUnchangedListenSettingsAreNotSentAgain) {
  EXPECT_EQ(run([&] { return module->btGetLocalAddress(nullptr); }).first, "0080251A2B3C");
  ASSERT_TRUE(run([&] { return module->btListenForDevices(true, true, "Kestra", 0x1F00, nullptr); }).first);
  EXPECT_EQ(count("AT+WRNAME=Kestra"), 1);
  EXPECT_EQ(count("AT+WRCOD=001F00"), 1);
  host->withSim([](SimulatedBT301& s) { s.commands.clear(); });
  ASSERT_TRUE(run([&] { return module->btListenForDevices(true, true, "Kestra", 0x1F00, nullptr); }).first);
  EXPECT_EQ(commands(), (std::vector<std::string>{"AT+GETSTATE", "AT+CONSLAVE=1,1"}));
  ASSERT_TRUE(run([&] { return module->btListenForDevices(false, false, "", 0, nullptr); }).first);
  EXPECT_FALSE(host->withSim([](SimulatedBT301& s) { return s.listening; }));
}


// ---- Incoming links -------------------------------------------------------------------------------

const std::string kCaller = "00119F0A0B07";

class BT301Incoming : public BT301 {
 protected:
  void SetUp() override {
    BT301::SetUp();
    ASSERT_TRUE(run([&] { return module->btListenForDevices(true, true, "Kestra", 0x1F00, nullptr); }).first);
    host->withSim([](SimulatedBT301& s) { s.commands.clear(); });
  }
  void dialIn(const SimulatedBT301::Dial& dial) {
    host->deliver(host->withSim([&](SimulatedBT301& s) { return s.dialIn(dial); }));
  }
  SimulatedBT301::Dial dial(bool pin, bool accept, const std::string& failure = "", bool stalls = false) {
    SimulatedBT301::Dial d;
    d.address = kCaller;
    d.asksPin = pin;
    d.pin = "4321";
    d.asksAccept = accept;
    d.failure = failure;
    d.stalls = stalls;
    return d;
  }
  bool simListening() {
    return host->withSim([](SimulatedBT301& s) { return s.listening; });
  }
  // Dials in with a PIN and an accept, answered yes: the link ends up in data mode.
  void linkIn() {
    host->pinAnswer = "4321";
    host->acceptAnswer = true;
    const size_t before = host->connected().size();
    dialIn(dial(true, true));
    ASSERT_TRUE(idleUntil([&] { return host->connected().size() == before + 1 && GlobalQueue::running() == 0; }));
  }
};

TEST_F(BT301Incoming, AnIncomingLinkWithPinAndAcceptEndsInDataMode) {
  linkIn();
  EXPECT_EQ(module->connectingAddress(), kCaller);
  EXPECT_TRUE(module->inDataMode());
  EXPECT_EQ(module->btConnectedDevices(), std::vector<std::string>{kCaller});
  EXPECT_EQ(host->connected(), std::vector<std::string>{kCaller});  // on the main queue
  EXPECT_EQ(host->questions(), (std::vector<std::string>{"pin " + kCaller, "accept " + kCaller}));
  EXPECT_EQ(commands(), (std::vector<std::string>{"AT+RESPIN=4321", "AT+RESCON=1"}));
  EXPECT_TRUE(host->withSim([](SimulatedBT301& s) { return s.dataMode; }));

  // Data flows both ways, and a "+CONNECTING=" in the data is the remote device's.
  host->deliver(host->withSim([](SimulatedBT301& s) { return s.remoteSends("+CONNECTING=1\r\nPONG\r\n"); }));
  EXPECT_EQ(module->btReadLine(1.0), "+CONNECTING=1");
  EXPECT_EQ(module->btReadLine(1.0), "PONG");
  ASSERT_TRUE(module->btWrite(std::string("PING"), nullptr));
  EXPECT_EQ(host->withSim([](SimulatedBT301& s) { return s.remoteReceived; }), "PING");
  EXPECT_EQ(GlobalQueue::running(), 0);
}

TEST_F(BT301Incoming, AFailedIncomingLinkEndsAndListeningResumes) {
  struct Case {
    const char* name;
    SimulatedBT301::Dial dial;
    std::optional<std::string> pin;
    bool accept;
    std::vector<std::string> questions;
    std::vector<std::string> answers;  // what the handler sent the module
    foundation::Duration atLeast;
  } cases[] = {
      {"accept refused", dial(false, true), std::nullopt, false, {"accept " + kCaller}, {"AT+RESCON=0"}, 0s},
      {"no PIN", dial(true, true), std::nullopt, true, {"pin " + kCaller}, {}, 0s},
      {"wrong PIN", dial(true, false), "1111", true, {"pin " + kCaller}, {"AT+RESPIN=1111"}, 0s},
      {"failure word", dial(false, false, "+CONNECT_FAILED"), std::nullopt, true, {}, {}, 0s},
      {"module error", dial(true, false, "ERROR"), "4321", true, {"pin " + kCaller}, {"AT+RESPIN=4321"}, 0s},
      {"silence", dial(false, false, "", true), std::nullopt, true, {}, {}, 10s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host->pinAnswer = c.pin;
    host->acceptAnswer = c.accept;
    const size_t asked = host->questions().size();
    const auto start = clock->now();
    dialIn(c.dial);
    ASSERT_TRUE(idleUntil([&] { return GlobalQueue::running() == 0 && simListening(); }));
    EXPECT_GE(clock->now() - start, c.atLeast);
    const auto questions = host->questions();
    EXPECT_EQ(std::vector<std::string>(questions.begin() + long(asked), questions.end()), c.questions);
    // The handler's answers, then listening again with the last settings (the name and class
    // of device are unchanged, so only the state query and the slave mode go out).
    auto expected = c.answers;
    expected.insert(expected.end(), {"AT+GETSTATE", "AT+CONSLAVE=1,1"});
    EXPECT_EQ(commands(), expected);
    EXPECT_FALSE(module->inDataMode());
    EXPECT_TRUE(module->btConnectedDevices().empty());
    EXPECT_TRUE(module->listenActive());
    EXPECT_TRUE(host->connected().empty());
    host->withSim([](SimulatedBT301& s) { s.commands.clear(); });
  }
}

TEST_F(BT301Incoming, TheSameConnectingLineTwiceStartsOneHandler) {
  host->pinAnswer = "4321";
  const std::string line = "+CONNECTING=" + kCaller + "\r\n";
  host->deliver(line);
  host->deliver(line);
  ASSERT_TRUE(idleUntil([&] { return GlobalQueue::running() == 0; }));
  // One handler read both lines, heard nothing more and asked for listening again once.
  EXPECT_EQ(count("AT+CONSLAVE=1,1"), 1);
  EXPECT_EQ(module->connectingAddress(), kCaller);
  EXPECT_TRUE(simListening());
}

TEST_F(BT301Incoming, ALinkThatEndsInTheDataPutsTheModuleBackIntoListening) {
  struct Case {
    const char* name;
    std::function<std::string(SimulatedBT301&)> ending;
    std::string tail;   // delivered after the ending
    bool moduleLeft;    // the module itself left data mode (not payload)
  } cases[] = {
      {"remote device hangs up", [](SimulatedBT301& s) { return s.remoteHangsUp(); }, "", true},
      {"radio link lost", [](SimulatedBT301& s) { return s.loseLink(); }, "", true},
      // Payload that spells a link-loss text ends the link on this side once a byte follows;
      // the module still passes data, so the listen commands go to the remote device.
      {"payload", [](SimulatedBT301& s) { return s.remoteSends("data+LINK_LOST="); }, "x", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    linkIn();
    host->withSim([](SimulatedBT301& s) { s.commands.clear(); });
    const size_t gone = host->disconnected().size();
    host->deliver(host->withSim(c.ending));
    if (!c.tail.empty()) {
      idleUntil([] { return GlobalQueue::running() == 0; });
      EXPECT_TRUE(module->inDataMode());  // a whole text alone does not end the link yet
      host->deliver(c.tail);
    }
    ASSERT_TRUE(idleUntil([&] {
      return host->disconnected().size() == gone + 1 && GlobalQueue::running() == 0 && (!c.moduleLeft || simListening());
    }));
    EXPECT_EQ(host->disconnected().back(), kCaller);
    EXPECT_FALSE(module->inDataMode());
    EXPECT_TRUE(module->btConnectedDevices().empty());
    EXPECT_TRUE(module->listenActive());
    if (c.moduleLeft) {
      EXPECT_EQ(commands(), (std::vector<std::string>{"AT+GETSTATE", "AT+CONSLAVE=1,1"}));
    } else {
      EXPECT_EQ(host->withSim([](SimulatedBT301& s) { return s.remoteReceived; }),
                "AT+GETSTATE\r\nAT+CONSLAVE=1,1\r\n");
    }
  }
}

}  // namespace
}  // namespace kestra
