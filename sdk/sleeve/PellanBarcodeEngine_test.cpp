// Barcode engine configuration per family, and the engines' firmware roads, against the
// simulated sleeve and its simulated engines.

#include <gtest/gtest.h>

#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanModulesFixture.h"

namespace kestra {
namespace {

using devices::CodeEngine;
using devices::NewlandEngine;
using devices::OpticonEngine;
using devices::SimulatedEngine;
using devices::SleeveModules;
using foundation::Bytes;
using testing::PumpedSleeve;
using testing::sleeveWith;

// ---- Configuration ------------------------------------------------------------------------------

TEST(PellanEngineConfiguration, InitDataChecksTheEngineKindFirst) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.forget();
  struct Case {
    const char* name;
    std::function<bool(Error*)> call;
    const char* text;
  };
  const Case cases[] = {
      {"Intermec write", [&](Error* e) { return p.barcodeIntermecSetInitData({1}, e); }, "Intermec barcode engine not found"},
      {"Intermec read", [&](Error* e) { return p.barcodeIntermecGetInitData(e).has_value(); }, "Intermec barcode engine not found"},
      {"Zebra write", [&](Error* e) { return p.barcodeZebraSetInitData({1}, e); }, "Motorola barcode engine not found"},
      {"Zebra read", [&](Error* e) { return p.barcodeZebraGetInitData(e).has_value(); }, "Motorola barcode engine not found"},
      {"Honeywell write", [&](Error* e) { return p.barcodeHoneywellSetInitString({1}, e); }, "Honeywell barcode engine not found"},
      {"Honeywell read", [&](Error* e) { return p.barcodeHoneywellGetInitData(e).has_value(); }, "Honeywell barcode engine not found"},
      {"Newland", [&](Error* e) { return p.barcodeNewlandSetInitString("x", e); }, "Newland barcode engine not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(c.call(&e));
    EXPECT_EQ(e.code, -7);
    EXPECT_EQ(e.text, c.text);
  }
  EXPECT_TRUE(s.codes().empty());
  ASSERT_TRUE(p.barcodeOpticonSetInitString("B0"));
  EXPECT_EQ(s.modules([](SleeveModules& m) { return m.initDataWritten; }), foundation::bytesOf("B0"));
  EXPECT_FALSE(p.barcodeOpticonSetInitString(std::string(256, 'A')));
}

TEST(PellanEngineConfiguration, ZebraInitDataIsSentAgainWhileBusyForAtMostThreeSeconds) {
  PumpedSleeve s(sleeveWith(std::nullopt, "MBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.modules([](SleeveModules& m) { m.initDataBusy = 3; });
  ASSERT_TRUE(p.barcodeZebraSetInitData({0x0A, 0x0B}));
  EXPECT_EQ(s.modules([](SleeveModules& m) { return m.initDataWrites; }), 4);
  auto init = p.barcodeZebraGetInitData();
  ASSERT_TRUE(init);
  EXPECT_EQ(*init, (Bytes{0x01, 0x02}));

  s.modules([](SleeveModules& m) { m.initDataBusy = 1 << 30; });
  Error e;
  EXPECT_FALSE(p.barcodeZebraSetInitData({0x0A}, &e));
  EXPECT_EQ(e.code, -5);
  const int tries = s.modules([](SleeveModules& m) { return m.initDataWrites; }) - 4;
  EXPECT_GE(tries, 20);
  EXPECT_LE(tries, 32);  // 3 s of 0.1 s pauses
}

TEST(PellanEngineConfiguration, OpticonParametersAndIdentification) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  ASSERT_TRUE(p.barcodeOpticonSetParams("C01", true));
  ASSERT_TRUE(p.barcodeHoneywelSetParam("D02", false));
  EXPECT_EQ(s.engine<OpticonEngine>([](OpticonEngine& e) { return e.params; }),
            (std::vector<std::string>{"C01", "D02"}));
  EXPECT_TRUE(s.engine<OpticonEngine>([](OpticonEngine& e) { return e.saved; }));
  Error e;
  EXPECT_FALSE(p.barcodeOpticonSetParams("", false, &e));
  EXPECT_EQ(e.text, "Invalid argument passed");
  EXPECT_EQ(p.barcodeOpticonGetIdent(), "OPTICON MDI-3100 RV 1.23");
  s.engine<OpticonEngine>([](OpticonEngine& e) { e.silent = true; });
  EXPECT_FALSE(p.barcodeOpticonGetIdent());
}

TEST(PellanEngineConfiguration, CodeParametersInformationAndTheFirmwareGate) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Code, "CBCM", "2.62"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  s.engine<CodeEngine>([](CodeEngine& e) { e.params[0x1F] = 0x31; });
  uint64_t v = 0;
  ASSERT_TRUE(p.barcodeCodeGetParam(0x1F, &v));
  EXPECT_EQ(v, 0x31u);
  auto info = p.barcodeCodeGetInformation();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->at("ApplicationVersion"), "0123");
  EXPECT_EQ(info->at("OEMDecoderVersion"), "DEC7");
  ASSERT_TRUE(p.barcodeCodeSetParam(0x08, 0x1'0000'0006ull));  // only the low 32 bits travel
  s.bench.pellan->barcodeEngineRead(0, 0.5, nullptr);          // the engine's "d", not awaited
  EXPECT_EQ(s.engine<CodeEngine>([](CodeEngine& e) { return e.params[0x08]; }), 6u);

  Error e;
  s.engine<CodeEngine>([](CodeEngine& e) { e.refuse = true; });
  EXPECT_FALSE(p.barcodeCodeGetParam(0x1F, &v, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Command returned an error");
  s.engine<CodeEngine>([](CodeEngine& e) { e.refuse = false; e.corrupt = true; });
  EXPECT_FALSE(p.barcodeCodeGetParam(0x1F, &v, &e));
  EXPECT_EQ(e.code, -6);
  s.engine<CodeEngine>([](CodeEngine& e) { e.silent = true; });
  EXPECT_FALSE(p.codeCommand('I', Bytes(), true, &e));
  EXPECT_EQ(e.text, "Timeout waiting for the engine");

  // Below firmware 2.62 every Code call fails before anything is written.
  PumpedSleeve old(sleeveWith(SimulatedEngine::Family::Code, "CBCM", "2.61"));
  ASSERT_TRUE(old.connected);
  old.forget();
  EXPECT_FALSE(old.bench.pellan->barcodeCodeGetParam(1, &v, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_EQ(e.text, "Direct access to code engine requires firmware 2.62 or later");
  EXPECT_FALSE(old.bench.pellan->barcodeCodeSetParam(1, 1, &e));
  EXPECT_FALSE(old.bench.pellan->barcodeCodeGetInformation(&e));
  EXPECT_TRUE(old.sent(23).empty());
}

TEST(PellanEngineConfiguration, NewlandQueriesAndCommands) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Newland, "NBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  auto answer = p.barcodeNewlandQuery({0x33, 0x47});
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, (Bytes{0x33, 0x31, 0x30}));
  EXPECT_TRUE(p.newlandSendCommandAck("NLS0006010"));
  EXPECT_EQ(p.newlandSendCommand("NLS0006010", true), "0");
  EXPECT_EQ(p.newlandSendCommand("NLS0006010", false), "");
  s.bench.pellan->barcodeEngineRead(0, 0.5, nullptr);
  s.engine<NewlandEngine>([](NewlandEngine& e) { e.refuse = true; });
  EXPECT_FALSE(p.newlandSendCommandAck("NLS0006010"));
  s.engine<NewlandEngine>([](NewlandEngine& e) { e.refuse = false; e.corrupt = true; });
  EXPECT_FALSE(p.newlandSendCommandAck("NLS0006010"));
  ASSERT_TRUE(p.barcodeNewlandSetInitString("NLS"));
  EXPECT_FALSE(p.barcodeNewlandSetInitString(std::string(512, 'A')));
}

// ---- Firmware -----------------------------------------------------------------------------------

struct Progress : PellanDelegate {
  Progress() { implements({sel::firmwareUpdateProgress}); }
  void firmwareUpdateProgress(int phase, int percent) override {
    std::lock_guard lock(mutex);
    seen.emplace_back(phase, percent);
  }
  std::vector<std::pair<int, int>> calls() {
    std::lock_guard lock(mutex);
    return seen;
  }
  std::mutex mutex;
  std::vector<std::pair<int, int>> seen;
};

TEST(PellanEngineFirmware, OpticonBlocksAreSentAgainOnRTAndTheEndAnswerDecides) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Opticon, "XBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  auto progress = std::make_shared<Progress>();
  p.addDelegate(progress);
  Bytes image(8193, 0x11);
  s.engine<OpticonEngine>([](OpticonEngine& e) { e.retryBlocks = 3; });
  s.forget();
  ASSERT_TRUE(p.barcodeOpticonUpdateFirmware(image, false));
  s.engine<OpticonEngine>([&](OpticonEngine& e) {
    EXPECT_EQ(e.blockNumbers, (std::vector<int>{8, 9}));
    Bytes want = image;
    want.resize(16384, 0x00);
    EXPECT_EQ(e.firmware, want);
  });
  EXPECT_EQ(s.sent(36), (std::vector<Bytes>{{0x01}, {0x00}}));
  // The first block four times (three "RT"), the second once, the end block once.
  EXPECT_EQ(s.engine<OpticonEngine>([](OpticonEngine& e) { return e.written.size(); }), 6 * 8198u);
  EXPECT_EQ(progress->calls(), (std::vector<std::pair<int, int>>{
                                   {0, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 99}, {4, 100}, {3, 100}}));

  struct Case {
    const char* name;
    std::function<void(OpticonEngine&)> fault;
    size_t blocksSent;
  };
  const Case failures[] = {
      // The first block and five more tries, then the road gives up.
      {"a block asked for again without end", [](OpticonEngine& e) { e.retryBlocks = 1 << 30; }, 6},
      {"the end answered W", [](OpticonEngine& e) { e.failAtEnd = true; }, 3},
      {"a silent engine", [](OpticonEngine& e) { e.silent = true; }, 1},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.name);
    s.engine<OpticonEngine>([&](OpticonEngine& e) {
      e = OpticonEngine();
      c.fault(e);
    });
    s.forget();
    Error e;
    EXPECT_FALSE(p.barcodeOpticonUpdateFirmware(image, true, &e));
    EXPECT_EQ(e.code, -20);
    EXPECT_EQ(e.text, "Failed to program the barcode engine");
    EXPECT_EQ(s.sent(36).back(), Bytes{0x00});  // update mode is always left
    EXPECT_TRUE(p.barcodeStartScan());          // and so is the driver's update state
    EXPECT_EQ(s.engine<OpticonEngine>([](OpticonEngine& e) { return e.written.size(); }), c.blocksSent * 8198);
  }
}

TEST(PellanEngineFirmware, CodeImageGoesInChunksThenIsInstalledAndAcknowledged) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Code, "CBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  Bytes image(500);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 3);
  s.forget();
  ASSERT_TRUE(p.barcodeCodeUpdateFirmware("engine.bin", image));
  s.engine<CodeEngine>([&](CodeEngine& e) {
    EXPECT_EQ(e.firmware, image);
    EXPECT_EQ(e.installedFile, "engine.bin");
    EXPECT_EQ(e.params.at(0x08), 6u);
    EXPECT_EQ(e.params.at(0x1E7), 1u);
    EXPECT_EQ(e.acknowledged.size(), 1u);  // the install answer
  });
  EXPECT_EQ(s.sent(36), (std::vector<Bytes>{{0x01}}));  // no 36 00 on this road
  EXPECT_TRUE(p.barcodeStartScan());

  // Below 2.63 nothing is sent.
  PumpedSleeve old(sleeveWith(SimulatedEngine::Family::Code, "CBCM", "2.62"));
  ASSERT_TRUE(old.connected);
  old.forget();
  Error e;
  EXPECT_FALSE(old.bench.pellan->barcodeCodeUpdateFirmware("engine.bin", image, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, "Code firmware update is supported on version 2.63 and later");
  EXPECT_TRUE(old.codes().empty());

  // An engine that refuses the install fails the road.
  s.engine<CodeEngine>([](CodeEngine& e) { e.refuse = true; });
  EXPECT_FALSE(p.barcodeCodeUpdateFirmware("engine.bin", image, &e));
}

TEST(PellanEngineFirmware, CodeFileUpload) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Code, "CBCM", "2.63"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  const Bytes file(300, 0x42);
  ASSERT_TRUE(p.codeUploadFile("cfg.txt", file.data(), int(file.size())));
  s.engine<CodeEngine>([&](CodeEngine& e) {
    EXPECT_EQ(e.uploaded, file);
    EXPECT_EQ(e.installedFile, "cfg.txt");
    e.refuse = true;
  });
  Error e;
  EXPECT_FALSE(p.codeUploadFile("cfg.txt", file.data(), int(file.size()), &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Command returned an error");
}

TEST(PellanEngineFirmware, NewlandFramesAreAnsweredOneByOne) {
  PumpedSleeve s(sleeveWith(SimulatedEngine::Family::Newland, "NBCM"));
  ASSERT_TRUE(s.connected);
  auto& p = *s.bench.pellan;
  Bytes image(2049);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 5 + 1);
  s.forget();
  ASSERT_TRUE(p.barcodeNewlandUpdateFirmware(image));
  s.engine<NewlandEngine>([&](NewlandEngine& e) {
    EXPECT_EQ(e.firmware, image);
    EXPECT_EQ(e.commands, (std::vector<std::string>{"!DataLens:2049", "!Frames:3", "!FrameSize:1024",
                                                    "!FileType:kern", ">Start", "@Exit"}));
  });
  EXPECT_EQ(s.sent(36), (std::vector<Bytes>{{0x01}, {0x00}}));

  Error e;
  s.forget();
  EXPECT_FALSE(p.barcodeNewlandUpdateFirmware(Bytes(255, 1), &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Invalid firmware file");
  EXPECT_TRUE(s.codes().empty());

  // A frame answered with anything but '*' ends the road, and update mode is left.
  s.engine<NewlandEngine>([](NewlandEngine& e) { e.refuse = true; });
  s.forget();
  EXPECT_FALSE(p.barcodeNewlandUpdateFirmware(image, &e));
  EXPECT_EQ(e.text, "Failed to program the barcode engine");
  EXPECT_EQ(s.sent(36).back(), Bytes{0x00});
}

}  // namespace
}  // namespace kestra
