// Intermec and Zebra engine firmware through the facade, against scripted engines that check
// every frame, packet and checksum they are sent.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/device/KXDevicesEngineFixture.h"

namespace kestra::testing {
namespace {

Bytes intermecFile(const std::vector<uint32_t>& engines, const Bytes& payload) {
  Bytes f = {0x33, 0x05, 0x61, 0x39, 0x98, 0x58};
  foundation::appendBE16(f, uint16_t(engines.size()));
  for (uint32_t id : engines) foundation::appendBE32(f, id);
  f.insert(f.end(), 8, 0x00);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes pattern(size_t n, int step) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * size_t(step) + 1);
  return b;
}

TEST(KXDevicesEngineFirmware, IntermecImageGoesInFramedBlocksAfterTheLoader) {
  auto peer = std::make_shared<IntermecPeer>();
  EngineBench b(peer, 4);
  const Bytes payload = pattern(600, 3);
  Error e;
  ASSERT_TRUE(b.facade->barcodeIntermecUpdateFirmware(intermecFile({0x11111111, peer->engineId}, payload), &e))
      << e.text;
  EXPECT_FALSE(peer->badChecksum);
  EXPECT_EQ(peer->loaderPages, 32);
  EXPECT_EQ(peer->blocks, (std::vector<std::pair<size_t, size_t>>{{0, 256}, {256, 256}, {512, 88}}));
  EXPECT_EQ(peer->image, payload);
  EXPECT_EQ(peer->commands, (std::vector<int>{0x10, 0x11, 0x13, 0x14, 0x18, 0x12}));
  EXPECT_EQ(b.progress(),
            (std::vector<std::string>{"0:0", "2:0", "2:42", "2:85", "2:100", "2:100", "4:100", "3:100"}));
  // Download mode was entered and left again.
  EXPECT_EQ(b.sleeve->log->count("sleeve.download:1"), 1u);
  EXPECT_EQ(b.sleeve->log->count("sleeve.download:0"), 1u);
}

TEST(KXDevicesEngineFirmware, IntermecFilesForAnotherEngineOrBrokenAreRefusedBeforeAnyBlock) {
  struct Case {
    const char* name;
    std::function<Bytes(uint32_t)> file;
    std::function<void(IntermecPeer&)> engine;
    const char* text;
  };
  const Bytes payload = pattern(300, 1);
  const Case cases[] = {
      {"the engine is not listed", [&](uint32_t) { return intermecFile({0x0BADF00D}, payload); }, nullptr,
       "Device not found"},
      {"wrong magic",
       [&](uint32_t id) {
         Bytes f = intermecFile({id}, payload);
         f[0] = 0x34;
         return f;
       },
       nullptr, "Firmware file wrong"},
      {"an identifier list past the end",
       [&](uint32_t id) {
         Bytes f = intermecFile({id}, payload);
         f[6] = 0x7F;  // 32,512 identifiers
         return f;
       },
       nullptr, "Firmware file wrong"},
      {"larger than the engine takes", [&](uint32_t id) { return intermecFile({id}, payload); },
       [](IntermecPeer& p) { p.maxSize = 100; }, "Firmware file wrong"},
      {"a loader that reports no room", [&](uint32_t id) { return intermecFile({id}, payload); },
       [](IntermecPeer& p) { p.maxSize = 0; }, "Incorrect loader for engine"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto peer = std::make_shared<IntermecPeer>();
    if (c.engine) c.engine(*peer);
    EngineBench b(peer, 4);
    Error e;
    EXPECT_FALSE(b.facade->barcodeIntermecUpdateFirmware(c.file(peer->engineId), &e));
    EXPECT_EQ(e.code, -20);
    EXPECT_EQ(e.text, c.text);
    EXPECT_TRUE(peer->blocks.empty());
    // The engine is restarted and download mode left all the same.
    ASSERT_FALSE(peer->commands.empty());
    EXPECT_EQ(peer->commands.back(), 0x12);
    EXPECT_EQ(b.sleeve->log->count("sleeve.download:0"), 1u);
    EXPECT_EQ(b.progress().back(), "3:100");
  }

  auto peer = std::make_shared<IntermecPeer>();
  EngineBench b(peer, 4);
  Error e;
  EXPECT_FALSE(b.facade->barcodeIntermecUpdateFirmware(Bytes(255, 0x33), &e));
  EXPECT_EQ(e.text, "Invalid firmware file");
  EXPECT_TRUE(b.progress().empty());
  // An engine that never answers the loader.
  peer->loaderDone = true;
  EXPECT_FALSE(b.facade->barcodeIntermecUpdateFirmware(intermecFile({peer->engineId}, payload), &e));
  EXPECT_EQ(e.text, "Failed to program the barcode engine");
}

TEST(KXDevicesEngineFirmware, IntermecFirmwareIsReadBackIntoTheDocuments) {
  auto peer = std::make_shared<IntermecPeer>();
  peer->receive({0xAA, 0x01});
  peer->receive(Bytes(260, 0x00));
  peer->output.clear();
  peer->flash = pattern(1000, 5);
  EngineBench b(peer, 4);
  const auto file = foundation::Paths::dataDir() / "Documents" / "intermec.bin";
  std::filesystem::remove(file);
  ASSERT_TRUE(b.api->intermecGetFirmware(600));
  const auto written = foundation::readFile(file);
  ASSERT_TRUE(written);
  EXPECT_EQ(Bytes(written->begin(), written->end()), Bytes(peer->flash.begin(), peer->flash.begin() + 600));
  EXPECT_EQ(b.progress(), (std::vector<std::string>{"2:0", "2:42", "2:85"}));
  EXPECT_FALSE(b.api->intermecGetFirmware(0));
  std::filesystem::remove(file);
}

// A Zebra file: 8 header bytes, then [n][3 bytes][n bytes] records.
Bytes zebraFile(const std::vector<Bytes>& records) {
  Bytes f(8, 0xAB);
  for (const auto& r : records) {
    f.push_back(uint8_t(r.size()));
    f.insert(f.end(), {0, 0, 0});
    f.insert(f.end(), r.begin(), r.end());
  }
  return f;
}

TEST(KXDevicesEngineFirmware, ZebraRecordsArePacketedAfterPingsAtBothSpeeds) {
  auto peer = std::make_shared<ZebraPeer>();
  const std::vector<Bytes> records = {
      {0x31, 0x64, 0x00, 0x04, 0x01, 0x10, 0x11, 0x12, 0x13, 0x14},  // the start of a new piece
      pattern(40, 3),
      pattern(30, 7),
  };
  peer->expectedRecords = records.size();
  EngineBench b(peer, 5);
  Error e;
  ASSERT_TRUE(b.facade->barcodeZebraUpdateFirmware(zebraFile(records), &e)) << e.text;
  EXPECT_FALSE(peer->badChecksum);
  EXPECT_EQ(peer->pingBauds, (std::vector<int>{9600, 115200}));
  ASSERT_EQ(peer->records.size(), 3u);
  Bytes first = records[0];
  first[4] = 0x03;
  EXPECT_EQ(peer->records[0], first);
  EXPECT_EQ(peer->records[1], records[1]);
  EXPECT_EQ(peer->records[2], records[2]);
  // Record offsets 8, 22 and 66 of a 100-byte file.
  EXPECT_EQ(b.progress(), (std::vector<std::string>{"0:0", "2:8", "2:22", "2:67", "4:100", "3:100"}));
  EXPECT_EQ(b.sleeve->log->count("sleeve.download:0"), 1u);
  // The ping packet as the engine's manual gives it.
  EXPECT_EQ(ZebraPeer::packet({0x05, 0x64, 0x00, 0x01}), (Bytes{0x02, 0x06, 0x00, 0x05, 0x64, 0x00, 0x01, 0xFF, 0x90}));
}

TEST(KXDevicesEngineFirmware, ZebraRecordAnswersOtherThanSuccessEndTheUpdate) {
  struct Case {
    uint8_t code, status;
    const char* text;
  } cases[] = {{0x84, 0x01, "AT response failed "}, {0x84, 0x02, "Update failed with error: 84:02"},
               {0x85, 0x01, "Update failed with error: 85:01"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto peer = std::make_shared<ZebraPeer>();
    peer->recordCode = c.code;
    peer->recordStatus = c.status;
    EngineBench b(peer, 5);
    Error e;
    EXPECT_FALSE(b.facade->barcodeZebraUpdateFirmware(zebraFile({pattern(20, 1), pattern(20, 2)}), &e));
    EXPECT_EQ(e.code, -20);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(peer->records.size(), 1u);
    EXPECT_EQ(b.sleeve->log->count("sleeve.download:0"), 1u);
  }
  // A record that runs past the end of the file: nothing is sent at all.
  auto peer = std::make_shared<ZebraPeer>();
  EngineBench b(peer, 5);
  Bytes file = zebraFile({pattern(20, 1), pattern(20, 2)});
  file[8 + 24] = 0xF0;
  Error e;
  EXPECT_FALSE(b.facade->barcodeZebraUpdateFirmware(file, &e));
  EXPECT_EQ(e.text, "Firmware file wrong");
  EXPECT_EQ(b.sleeve->log->count("sleeve.download:1"), 0u);
  EXPECT_TRUE(peer->commands.empty());
}

}  // namespace
}  // namespace kestra::testing
