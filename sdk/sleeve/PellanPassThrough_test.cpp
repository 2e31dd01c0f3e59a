// The engine, external serial port and UHF pass-through against the simulated sleeve.

#include <gtest/gtest.h>

#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanModulesFixture.h"

namespace kestra {
namespace {

using devices::SimulatedEngine;
using devices::SleeveModules;
using foundation::Bytes;
using testing::PumpedSleeve;
using testing::sleeveWith;

std::vector<size_t> sizes(const std::vector<Bytes>& frames) {
  std::vector<size_t> out;
  for (const auto& f : frames) out.push_back(f.size());
  return out;
}

TEST(PellanEnginePassThrough, WritesGoOutIn256ByteChunksAndABusyChunkIsSentAgain) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  Bytes data(600);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  s.forget();
  ASSERT_TRUE(s.bench.pellan->barcodeEngineWrite(data.data(), int(data.size())));
  EXPECT_EQ(sizes(s.sent(23)), (std::vector<size_t>{256, 256, 88}));

  s.modules([](SleeveModules& m) { m.engineBusyWrites = 2; m.engine->written.clear(); });
  s.forget();
  ASSERT_TRUE(s.bench.pellan->barcodeEngineWrite(data.data(), int(data.size())));
  EXPECT_EQ(sizes(s.sent(23)), (std::vector<size_t>{256, 256, 256, 256, 88}));
  EXPECT_EQ(s.modules([](SleeveModules& m) { return m.engine->written; }), data);

  // An engine that stays busy: the write gives up 5 s after its last accepted chunk.
  s.modules([](SleeveModules& m) { m.engineBusyWrites = 1 << 30; });
  Error e;
  EXPECT_FALSE(s.bench.pellan->barcodeEngineWrite(data.data(), int(data.size()), &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout waiting for barcode data");
}

TEST(PellanEnginePassThrough, ReadsEndAtTheStopByteTheLengthOrTheTimeOut) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.modules([](SleeveModules& m) { m.engine->output.push_back({0x41, 0x42, 0x0D, 0x43}); });
  auto got = p.barcodeEngineRead(0, 1.0, 0x0D);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (Bytes{0x41, 0x42, 0x0D}));
  EXPECT_EQ(p.barReadLen(), 1);

  // Length 10 with 4 bytes held waits for more, and on time-out returns what there is.
  s.modules([](SleeveModules& m) { m.engine->output.push_back({0x44, 0x45, 0x46}); });
  got = p.barcodeEngineRead(10, 1.0);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (Bytes{0x43, 0x44, 0x45, 0x46}));
  EXPECT_GT(s.sent(22).size(), 3u);  // it went on polling the silent engine

  Error e;
  EXPECT_FALSE(p.barcodeEngineRead(1, 0.5, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout waiting for engine");

  // Bytes not yet read are thrown away with the read count set to 0.
  s.modules([](SleeveModules& m) { m.engine->output.push_back({0x01, 0x02}); });
  got = p.barcodeEngineRead(1, 1.0);
  ASSERT_TRUE(got);
  EXPECT_EQ(p.barReadLen(), 1);
  p.setBarReadLen(0);
  EXPECT_FALSE(p.barcodeEngineRead(1, 0.2, nullptr));
}

TEST(PellanEnginePassThrough, SleeveSideCommands) {
  for (const char* firmware : {"2.63", "2.64"}) {
    SCOPED_TRACE(firmware);
    PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM", firmware));
    ASSERT_TRUE(s.connected);
    auto& p = *s.bench.pellan;
    s.forget();
    ASSERT_TRUE(p.barcodeEnginePowerControl(true, 90));
    ASSERT_TRUE(p.barcodeEnginePowerControl(false, 90));
    ASSERT_TRUE(p.barcodeEnginePowerControl(true));
    const std::vector<Bytes> want = std::string(firmware) == "2.64"
                                        ? std::vector<Bytes>{{0x01, 0x00, 0x5A}, {0x00}, {0x01}}
                                        : std::vector<Bytes>{{0x01}, {0x00}, {0x01}};
    EXPECT_EQ(s.sent(24), want);
  }
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.forget();
  ASSERT_TRUE(p._barcodeEngineChangeBaudRate(115200));
  EXPECT_EQ(s.modules([](SleeveModules& m) { return m.engineBaudRate; }), 115200);
  ASSERT_TRUE(p.barcodeEngineResetToDefaults());
  EXPECT_EQ(s.sent(51).size(), 1u);
  auto init = p._barcodeEngineGetInitData();
  ASSERT_TRUE(init);
  EXPECT_EQ(*init, (Bytes{0x01, 0x02}));  // the sleeve's leading byte dropped
  // An answer without its leading byte is malformed.
  s.bench.sleeve->withProtocol([](devices::SleeveProtocol& pr) { pr.nextResult = Bytes{}; });
  Error e;
  EXPECT_FALSE(p._barcodeEngineGetInitData(&e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Invalid data length received");
}

TEST(PellanEnginePassThrough, DownloadModeLetsOnlyForcedCommandsThrough) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  ASSERT_TRUE(p._barcodeEngineDownloadModeEnable(true));
  Error e;
  EXPECT_FALSE(p.barcodeStartScan(&e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Firmware update is in progress, command rejected");
  EXPECT_TRUE(p._barcodeEngineRead());
  const Bytes special = {0x55, 0xAA};
  EXPECT_TRUE(p._barcodeEngineSpecialWrite(special.data(), int(special.size())));
  ASSERT_TRUE(p._barcodeEngineDownloadModeEnable(false));
  EXPECT_TRUE(p.barcodeStartScan());
}

TEST(PellanSerialPassThrough, WritesFollowWhatThePortTookAndGiveUpWhenItTakesNothing) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.forget();
  ASSERT_TRUE(p.extOpenSerialPort(1, 19200, 0, 8, 1, 0));
  EXPECT_EQ(s.sent(48), (std::vector<Bytes>{{0x01, 0x00, 0x00, 0x4B, 0x00, 0x00}}));

  Bytes data(600);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  s.modules([](SleeveModules& m) { m.serialTakeMax = 100; m.serialZeroTakes = 2; });
  s.forget();
  ASSERT_TRUE(p.extWriteSerialPort(1, data));
  EXPECT_EQ(s.modules([](SleeveModules& m) { return m.serialWritten; }), data);
  const auto chunks = sizes(s.sent(49));
  EXPECT_EQ(chunks.front(), 240u);
  EXPECT_EQ(chunks.size(), 8u);  // two refused, then 100 bytes a time

  s.modules([](SleeveModules& m) { m.serialZeroTakes = 1 << 30; });
  Error e;
  EXPECT_FALSE(p.extWriteSerialPort(1, data, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout writing data to external serial port");
  ASSERT_TRUE(p.extCloseSerialPort(1));
  EXPECT_EQ(s.sent(48).back(), (Bytes{0x00}));
}

TEST(PellanSerialPassThrough, ReadsTakeBufferedBytesFirstAndEndAfterQuiet) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  ASSERT_TRUE(p.extOpenSerialPort(1, 9600, 0, 8, 1, 0));
  s.modules([](SleeveModules& m) {
    m.serialToHost = foundation::bytesOf("ABCDEFGH");
    m.serialReadChunk = 8;
  });
  auto got = p.extReadSerialPort(1, 3, 1.0);
  ASSERT_TRUE(got);
  EXPECT_EQ(foundation::textOf(*got), "ABC");
  // Five bytes are held: three more come without a command.
  s.forget();
  got = p.extReadSerialPort(1, 3, 1.0);
  ASSERT_TRUE(got);
  EXPECT_EQ(foundation::textOf(*got), "DEF");
  EXPECT_TRUE(s.sent(50).empty());
  // Fewer than asked when the port goes quiet; nothing at all is a time-out.
  got = p.extReadSerialPort(1, 10, 0.5);
  ASSERT_TRUE(got);
  EXPECT_EQ(foundation::textOf(*got), "GH");
  Error e;
  EXPECT_FALSE(p.extReadSerialPort(1, 10, 0.5, &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout reading data from external serial port");
  // Bytes beyond the 512-byte buffer are dropped, never written past it.
  s.modules([](SleeveModules& m) {
    m.serialToHost = Bytes(700, 0x33);
    m.serialReadChunk = 700;
  });
  got = p.extReadSerialPort(1, 600, 0.5);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), 512u);
}

TEST(PellanUhfPassThrough, PayloadsOfEveryCall) {
  PumpedSleeve s(sleeveWith(std::nullopt, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.forget();
  ASSERT_TRUE(p.uhfInit(5));
  ASSERT_TRUE(p.uhfStartAutoReadForTagType(1, 2, 3, 0x0102));
  ASSERT_TRUE(p.uhfStopAutoRead());
  ASSERT_TRUE(p.uhfClose());
  const Bytes raw = {0x10, 0x20};
  ASSERT_TRUE(p.uhfCommand(raw.data(), int(raw.size())));
  EXPECT_EQ(s.sent(68), (std::vector<Bytes>{{0x00, 0x01},
                                            {0x07, 0x05},
                                            {0x36, 0x01, 0x02, 0x03, 0x01, 0x02},
                                            {0x37},
                                            {0x00, 0x00},
                                            {0x10, 0x20}}));
  // The second half of the start is sent only when the first was answered.
  s.bench.sleeve->withProtocol([](devices::SleeveProtocol& pr) { pr.nextStatus = std::make_pair(uint8_t(1), uint8_t(0)); });
  s.forget();
  EXPECT_FALSE(p.uhfInit(5));
  EXPECT_EQ(s.sent(68).size(), 1u);
}

}  // namespace
}  // namespace kestra
