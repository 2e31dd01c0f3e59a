// The device API's scan-engine calls as an application makes them through the facade: engine
// control and configuration routed to the simulated sleeve's engine, an engine firmware file
// flashed into it with its progress, the raw pass-through's chunked writes and buffered reads,
// and the Intermec and Zebra command exchanges against their scripted engines.

#include <gtest/gtest.h>

#include "sdk/device/KXDevicesEngineFixture.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/foundation/KXErrors.h"
#include "testing/devices/base/JoiningThread.h"

namespace kestra::testing {
namespace {

using devices::OpticonEngine;
using devices::SimulatedEngine;

// A facade and device API over the simulated sleeve, connected; a manual clock then moves on
// in the background.
struct SimulatedSleeveBench {
  explicit SimulatedSleeveBench(devices::SimulatedSleeve::Options options) : bench(std::move(options)) {
    api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
    facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                  std::make_shared<KXDeviceAgentStandIn>());
    app = std::make_shared<EngineBench::Progress>(log, "app",
                                                  std::vector<std::string_view>{kxsel::firmwareUpdateProgress});
    facade->addDelegate(app);
    connected = bench.sleeve->attach();
    facade->connect();
    connected = connected && bench.runUntil([&] { return api->connstate() == 2; });
    clock = std::make_unique<foundation::ScopedManualClock>();
    pump = std::make_unique<ClockPump>(**clock);
  }
  ~SimulatedSleeveBench() {
    pump.reset();
    clock.reset();
  }
  template <class E, class F>
  auto engine(F f) {
    return bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) { return f(static_cast<E&>(*p.passThrough.engine)); });
  }

  devices::SleeveTestBench bench;
  std::shared_ptr<KXDevices> api;
  std::shared_ptr<OKTKXDevices> facade;
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  std::shared_ptr<EngineBench::Progress> app;
  bool connected = false;
  std::unique_ptr<foundation::ScopedManualClock> clock;
  std::unique_ptr<ClockPump> pump;
};

TEST(KXDevicesScanEngine, OpticonFirmwareIsFlashedIntoTheSleevesEngineWithItsProgress) {
  SimulatedSleeveBench s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  Bytes image(8193);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7);
  Error e;
  ASSERT_TRUE(s.facade->barcodeOpticonUpdateFirmware(image, false, &e)) << e.text;
  s.engine<OpticonEngine>([&](OpticonEngine& engine) {
    Bytes want = image;
    want.resize(16384, 0x00);
    EXPECT_EQ(engine.firmware, want);
  });
  std::vector<std::string> progress;
  for (const auto& l : s.log->lines())
    if (l.rfind("app:progress:", 0) == 0) progress.push_back(l.substr(13));
  ASSERT_GE(progress.size(), 4u);
  EXPECT_EQ(progress.front(), "0:0");
  EXPECT_EQ(progress[progress.size() - 2], "4:100");
  EXPECT_EQ(progress.back(), "3:100");
}

TEST(KXDevicesScanEngine, ControlAndOpticonCallsReachTheSimulatedEngine) {
  SimulatedSleeveBench s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  EXPECT_EQ(s.facade->barcodeOpticonGetIdent(), "OPTICON MDI-3100 RV 1.23");
  ASSERT_TRUE(s.facade->barcodeOpticonSetInitString("C01"));
  // A reset puts the sleeve's defaults back, then the Opticon engine's own, saved.
  ASSERT_TRUE(s.facade->barcodeEngineResetToDefaults());
  EXPECT_EQ(s.bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.passThrough.engineDefaultsResets; }),
            1);
  s.engine<OpticonEngine>([](OpticonEngine& engine) {
    ASSERT_FALSE(engine.params.empty());
    EXPECT_EQ(engine.params.back(), "A0");
    EXPECT_TRUE(engine.saved);
  });
  // Zebra initialisation data needs a Zebra engine.
  Error e;
  EXPECT_FALSE(s.facade->barcodeZebraSetInitData({0x01}, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, "No zebra barcode engine present");
}

TEST(KXDevicesScanEngine, OpticonCallsAreRefusedForAnotherEngine) {
  SimulatedSleeveBench s(sleeveWith(SimulatedEngine::Family::Code, "CBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  Error e;
  EXPECT_FALSE(s.facade->barcodeOpticonSetInitString("C01", &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, KXErrors::getErrorDescription(-7));
  // The Code engine's own calls go through.
  s.engine<devices::CodeEngine>([](devices::CodeEngine& engine) { engine.params[0x1F] = 0x31; });
  uint64_t value = 0;
  ASSERT_TRUE(s.facade->barcodeCodeGetParam(0x1F, &value, &e)) << e.text;
  EXPECT_EQ(value, 0x31u);
  const auto info = s.facade->barcodeCodeGetInformation();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->at("ApplicationVersion"), "0123");
}

TEST(KXDevicesScanEngine, CallsAreRoutedToTheSleeveOrThePinpadOrRefused) {
  ApiFixture f;
  struct Case {
    const char* name;
    std::function<bool(Error*)> call;
    int withPinpadOnly;  // the error code once only a pinpad is connected
  };
  const Case cases[] = {
      {"check ready", [&](Error* e) { bool r = false; return f.api->barcodeEngineCheckReady(&r, e); }, -7},
      {"power", [&](Error* e) { return f.api->barcodeEnginePowerControl(true, 5, e); }, -7},
      {"Opticon ident", [&](Error* e) { return f.api->barcodeOpticonGetIdent(e).has_value(); }, -7},
      {"Newland query", [&](Error* e) { return f.api->barcodeNewlandQuery({0x33}, e).has_value(); }, -7},
      {"Code information", [&](Error* e) { return f.api->barcodeCodeGetInformation(e).has_value(); }, -7},
      // The pinpad serves these; its status 16 becomes its error.
      {"reset", [&](Error* e) { return f.api->barcodeEngineResetToDefaults(e); }, -16516},
      {"raw read", [&](Error* e) { return f.api->_barcodeEngineRead(e).has_value(); }, -16516},
      {"download mode", [&](Error* e) { return f.api->_barcodeEngineDownloadModeEnable(true, e); }, -16516},
      {"Newland init", [&](Error* e) { return f.api->barcodeNewlandSetInitString("x", e); }, -16516},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(c.call(&e));
    EXPECT_EQ(e.code, -20);
  }
  f.pinpadState(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(c.call(&e));
    EXPECT_EQ(e.code, c.withPinpadOnly);
  }
}

// An engine that keeps what it is sent and says what the test scripts.
class ScriptPeer final : public EnginePeer {
 public:
  Bytes written;

 protected:
  bool parse(Bytes& p) override {
    written.insert(written.end(), p.begin(), p.end());
    p.clear();
    return true;
  }
};

TEST(KXDevicesScanEngine, WritesGoInChunksOf256AndABusyLineIsTriedAgain) {
  auto peer = std::make_shared<ScriptPeer>();
  EngineBench b(peer, 1);
  b.sleeve->busyWrites = 2;
  Bytes data(600);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  ASSERT_TRUE(b.api->barcodeEngineWrite(data.data(), int(data.size())));
  EXPECT_EQ(b.sleeve->writeSizes, (std::vector<size_t>{256, 256, 88}));
  EXPECT_EQ(peer->written, data);

  // A line that stays busy fails after five seconds without progress.
  b.sleeve->busyWrites = 1 << 30;
  Error e;
  EXPECT_FALSE(b.api->barcodeEngineWrite(data.data(), 1, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout waiting for barcode data");
  b.sleeve->busyWrites = 0;

  // Text: ASCII of at most 255 characters; anything else is refused without an error.
  e = Error();
  EXPECT_FALSE(b.api->barcodeEngineWrite(std::string(256, 'a'), &e));
  EXPECT_FALSE(b.api->barcodeEngineWrite(std::string("caf\xC3\xA9"), &e));
  EXPECT_EQ(e.code, 0);
  EXPECT_FALSE(b.api->barcodeEngineWrite(nullptr, -1, &e));
  EXPECT_EQ(e.code, -9);
}

TEST(KXDevicesScanEngine, ReadsTakeUpToTheStopByteAndKeepTheRest) {
  auto peer = std::make_shared<ScriptPeer>();
  EngineBench b(peer, 1);
  peer->say({0x41, 0x42, 0x0D, 0x43, 0x44});
  EXPECT_EQ(b.api->barcodeEngineRead(0, 1.0, 0x0D, nullptr), (Bytes{0x41, 0x42, 0x0D}));
  // What was left is the next read's, before anything new.
  peer->say({0x45});
  EXPECT_EQ(b.api->barcodeEngineRead(2, 1.0), (Bytes{0x43, 0x44}));
  EXPECT_EQ(b.api->barReadByteTimeout(1.0), 0x45);

  // Fewer bytes than asked: what came, at the time-out.
  peer->say({0x01, 0x02});
  EXPECT_EQ(b.api->barcodeEngineRead(4, 0.5), (Bytes{0x01, 0x02}));
  // Nothing at all.
  Error e;
  EXPECT_FALSE(b.api->barcodeEngineRead(0, 0.5, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout waiting for engine");
  EXPECT_EQ(b.api->barReadByteTimeout(0.2), -1);
}

TEST(KXDevicesScanEngine, IntermecFramesCarryTheirWeightedChecksum) {
  auto peer = std::make_shared<IntermecPeer>();
  EngineBench b(peer, 4);
  // The engine talks in command frames once its loader ran.
  peer->receive({0xAA, 0x01});
  peer->output.clear();
  peer->receive(Bytes(260, 0x00));
  peer->output.clear();
  ASSERT_TRUE(peer->loaderDone);

  b.sleeve->writeSizes.clear();
  const uint8_t one = 0x01;
  ASSERT_TRUE(b.api->intermecSendCommand(0x10, &one, 1, true));
  EXPECT_FALSE(peer->badChecksum);
  EXPECT_EQ(peer->commands, std::vector<int>{0x10});

  // The frame itself, against the engine's manual: 00 10 01 00.. then 0x10*9 + 0x01*8.
  auto raw = std::make_shared<ScriptPeer>();
  EngineBench r(raw, 4);
  raw->say({0x32});
  ASSERT_TRUE(r.api->intermecSendCommand(0x10, &one, 1, false));
  EXPECT_EQ(raw->written, (Bytes{0x00, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x98}));
  // No acknowledgement, no done.
  raw->say({0x15});
  EXPECT_FALSE(r.api->intermecSendCommand(0x11, nullptr, 0, false));
  raw->say({0x32});
  EXPECT_FALSE(r.api->intermecSendCommand(0x14, nullptr, 0, true));
}

TEST(KXDevicesScanEngine, IntermecQueryOnOlderSleevesRunsAScanFirst) {
  auto raw = std::make_shared<ScriptPeer>();
  EngineBench b(raw, 4);
  // A byte left over from an earlier read is dropped before the query.
  raw->say({0x09, 0x0D, 0x07});
  ASSERT_EQ(b.api->barcodeEngineRead(0, 1.0, 0x0D, nullptr), (Bytes{0x09, 0x0D}));
  struct Case {
    int firmware;
    bool scans;
  } cases[] = {{5057, true}, {5058, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firmware);
    b.sleeve->fwVer = c.firmware;
    b.sleeve->log->clear();
    raw->written.clear();
    raw->say({0x51, 0x52});
    const auto reply = b.facade->barcodeIntermecQuery({0x05, 0x06});
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (Bytes{0x51, 0x52}));
    EXPECT_EQ(raw->written, (Bytes{0x05, 0x06}));
    EXPECT_EQ(b.sleeve->log->count("sleeve.barcodeStartScan"), c.scans ? 1u : 0u);
  }
  Error e;
  EXPECT_FALSE(b.facade->barcodeIntermecQuery(Bytes(513, 0x30), &e));
  EXPECT_EQ(e.code, -9);
}

TEST(KXDevicesScanEngine, ZebraParametersAndVersion) {
  auto peer = std::make_shared<ZebraPeer>();
  EngineBench b(peer, 5);
  ASSERT_TRUE(b.facade->barcodeZebraSetParam(0x1F0, {0x01}, false));
  ASSERT_TRUE(b.facade->barcodeZebraSetParam(0x21, {0x02, 0x03}, true));
  ASSERT_EQ(peer->commands.size(), 2u);
  EXPECT_EQ(peer->commands[0], (Bytes{0xC6, 0x00, 0xFF, 0x01, 0xF0, 0x01}));
  EXPECT_EQ(peer->commands[1], (Bytes{0xC6, 0x08, 0xFF, 0x21, 0x02, 0x03}));
  EXPECT_EQ(b.facade->barcodeZebraGetVersion(), "PAACWS00");
  // The engine kind is 5: its initialisation data goes to the carrying device.
  ASSERT_TRUE(b.facade->barcodeZebraSetInitData({0x0A, 0x0B}));
  EXPECT_EQ(b.sleeve->initData, (Bytes{0x0A, 0x0B}));

  struct Case {
    const char* name;
    Bytes reply;
  } bad[] = {{"another answer", {0xA5, 0x00, 'V', ' '}}, {"no space", {0xA4, 0x00, 'V', '1'}}, {"too short", {0xA4}}};
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    peer->versionReply = c.reply;
    Error e;
    EXPECT_FALSE(b.facade->barcodeZebraGetVersion(&e));
    EXPECT_EQ(e.code, -20);
    EXPECT_EQ(e.text, "Barcode command failed");
  }
  Error e;
  EXPECT_FALSE(b.facade->barcodeZebraSetParam(-1, {0x01}, false, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_FALSE(b.facade->barcodeZebraSetParam(0x10000, {0x01}, false, &e));
  EXPECT_EQ(e.code, -9);
}

}  // namespace
}  // namespace kestra::testing
