// ISO 15693 tags, FeliCa cards and smart tags, ST SRI memories, the HID reader's frames,
// the UHF reader and the HID SAM module, used through the facade as an application does:
// a simulated sleeve with its reader module (or omniKey reader, or SAM) and simulated cards.

#include <gtest/gtest.h>

#include <thread>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/rf/SimulatedOmniKey.h"
#include "testing/devices/rf/SimulatedRc663.h"
#include "testing/devices/sleeve/SimulatedSam.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {
namespace rf_cards_test {

using devices::RfCard;
using foundation::fromHex;
using foundation::toHex;

Bytes hex(const char* h) { return *fromHex(h); }

class CardLog final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  CardLog() { declare({kxsel::rfCardDetected, kxsel::connectionState}); }
  void connectionState(int s) override { record("state:" + std::to_string(s)); }
  void rfCardDetected(int index, const std::shared_ptr<KXRFCardInfo>& info) override {
    record("card:" + std::to_string(index) + ":" + (info ? info->typeStr : "?"));
  }
};

// The application's view: the facade over a device API driving a simulated sleeve.
struct CardSleeve {
  enum class Reader { Module, OmniKey, None };

  devices::SleeveTestBench bench;
  std::shared_ptr<devices::SimulatedRc663> module = std::make_shared<devices::SimulatedRc663>();
  std::shared_ptr<devices::SimulatedOmniKey> omniKey = std::make_shared<devices::SimulatedOmniKey>();
  std::shared_ptr<devices::SimulatedSam> sam = std::make_shared<devices::SimulatedSam>();
  std::shared_ptr<KXDevices> api;
  std::shared_ptr<OKTKXDevices> facade;
  std::shared_ptr<CardLog> log = std::make_shared<CardLog>();

  static devices::SimulatedSleeve::Options options(Reader reader) {
    devices::SimulatedSleeve::Options o;
    o.config.model = reader == Reader::OmniKey ? "XBCMRH" : reader == Reader::Module ? "XBCMR6" : "XBCM";
    return o;
  }

  explicit CardSleeve(Reader reader = Reader::Module) : bench(options(reader)) {
    if (reader == Reader::Module) {
      bench.sleeve->attachRfReader(module);
      bench.sleeve->attachSam(sam);
    }
    if (reader == Reader::OmniKey) bench.sleeve->attachOmniKey(omniKey);
    api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
    facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                  std::make_shared<KXDeviceAgentStandIn>());
    facade->addDelegate(log);
  }
  ~CardSleeve() {
    if (opened) onWorker([&] { facade->rfClose(nullptr); });
    GlobalQueue::waitIdle();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
  }

  bool connect() {
    if (!bench.sleeve->attach()) return false;
    facade->connect();
    return log->log().waitForLine("state:2");
  }
  // Commands wait for the sleeve on a worker thread while the main queue runs.
  bool onWorker(const std::function<void()>& f) {
    std::atomic<bool> done{false};
    std::thread t([&] {
      f();
      done = true;
    });
    const bool finished = bench.runUntil([&] { return done.load(); });
    t.join();
    return finished;
  }
  // Connects and opens the reader for type A and B, FeliCa, ISO 15693 and ST SRI cards.
  bool open(Error* error = nullptr) {
    if (!connect()) return false;
    onWorker([&] { opened = facade->rfInit(0x67, error); });
    return opened;
  }
  // Places `card` in the module's field; its card index once the application has heard of it.
  int present(const std::shared_ptr<RfCard>& card, const std::string& typeName) {
    const size_t before = log->log().count("card:0:" + typeName);
    module->place(card);
    if (!bench.runUntil([&] { return log->log().count("card:0:" + typeName) > before; })) return -1;
    return 0;
  }

  bool opened = false;
};

// Runs `call` (through the facade, on a worker) and checks that it was refused with -9 and
// `text` before the card saw a frame.
struct Refusal {
  const char* name;
  std::function<bool(Error*)> call;  // true when the call succeeded
  const char* text;
};

void expectRefused(CardSleeve& s, const std::shared_ptr<RfCard>& card, const std::vector<Refusal>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error error;
    bool ok = true;
    const int frames = card ? card->frames : 0;
    ASSERT_TRUE(s.onWorker([&] { ok = c.call(&error); }));
    EXPECT_FALSE(ok);
    EXPECT_EQ(error.code, -9);
    EXPECT_EQ(error.text, c.text);
    if (card) {
      EXPECT_EQ(card->frames, frames);
    }
  }
}

const char* const kBlock = "Block number is invalid";
const char* const kLength = "Invalid length specified, it can only be mutiple of block size";
const char* const kData = "Data block is invalid";

TEST(KXDevicesRFCards, Iso15693BlocksAreReadWrittenAndLockedThroughTheFacade) {
  CardSleeve s;
  Error error;
  ASSERT_TRUE(s.open(&error)) << error.text;
  auto tag = RfCard::iso15693(hex("A1A2A3A4A5A604E0"), 16, 4);
  const int card = s.present(tag, "ISO 15693");
  ASSERT_EQ(card, 0);
  auto& f = *s.facade;

  const Bytes data = hex("000102031011121320212223");
  int written = -1;
  std::optional<Bytes> back;
  ASSERT_TRUE(s.onWorker([&] {
    written = f.iso15693Write(card, 2, data, &error);
    back = f.iso15693Read(card, 2, 12, &error);
  }));
  EXPECT_EQ(written, 12);
  ASSERT_TRUE(back) << error.text;
  EXPECT_EQ(*back, data);
  EXPECT_EQ(tag->blocks[3], hex("10111213"));

  // Block 3 locked: its security status says so and a write over it stops there.
  std::optional<Bytes> status;
  bool twin = true;
  int twinWritten = -1;
  Error twinError;
  ASSERT_TRUE(s.onWorker([&] {
    ASSERT_TRUE(f.iso15693LockBlock(card, 3, &error)) << error.text;
    status = f.iso15693GetBlocksSecurityStatus(card, 2, 3, &error);
    error = {};
    written = f.iso15693Write(card, 2, hex("AAAAAAAABBBBBBBBCCCCCCCC"), &error);
    twin = f.iso15693Write(card, 2, hex("AAAAAAAABBBBBBBB"), &twinWritten, &twinError);
  }));
  ASSERT_TRUE(status);
  EXPECT_EQ(toHex(*status), "000100");
  EXPECT_EQ(written, 4);  // block 2 only
  EXPECT_EQ(error.code, -20);
  EXPECT_EQ(error.text, KXErrors::getErrorDescription(-20));
  // The BOOL form does not call a write that stopped part-way a success.
  EXPECT_FALSE(twin);
  EXPECT_EQ(twinWritten, 4);
  EXPECT_EQ(twinError.code, -20);
  EXPECT_EQ(tag->blocks[3], hex("10111213"));

  // AFI and DSFID: written, locked, then refused by the tag.
  bool afterLock = true;
  ASSERT_TRUE(s.onWorker([&] {
    ASSERT_TRUE(f.iso15693WriteAFI(card, 0x33, &error)) << error.text;
    ASSERT_TRUE(f.iso15693WriteDSFID(card, 0x44, &error)) << error.text;
    ASSERT_TRUE(f.iso15693LockAFI(card, &error));
    ASSERT_TRUE(f.iso15693LockDSFID(card, &error));
    error = {};
    afterLock = f.iso15693WriteAFI(card, 0x55, &error) || f.iso15693WriteDSFID(card, 0x66, nullptr);
  }));
  EXPECT_FALSE(afterLock);
  EXPECT_EQ(error.code, -20);
  EXPECT_EQ(tag->afi, 0x33);
  EXPECT_EQ(tag->dsfid, 0x44);
  EXPECT_TRUE(tag->afiLocked && tag->dsfidLocked);

  expectRefused(s, tag,
                {{"block 256", [&](Error* e) { return bool(f.iso15693Read(card, 256, 4, e)); }, kBlock},
                 {"negative block", [&](Error* e) { return bool(f.iso15693Read(card, -1, 4, e)); }, kBlock},
                 {"past block 255", [&](Error* e) { return bool(f.iso15693Read(card, 254, 12, e)); }, kBlock},
                 {"length 6", [&](Error* e) { return bool(f.iso15693Read(card, 0, 6, e)); }, kLength},
                 {"length 0", [&](Error* e) { return bool(f.iso15693Read(card, 0, 0, e)); }, kLength},
                 {"no data", [&](Error* e) { return f.iso15693Write(card, 0, std::nullopt, e) > 0; }, kData},
                 {"empty data", [&](Error* e) { return f.iso15693Write(card, 0, Bytes{}, e) > 0; }, kData},
                 {"write of 5", [&](Error* e) { return f.iso15693Write(card, 0, Bytes(5, 1), e) > 0; }, kLength},
                 {"write block 300", [&](Error* e) { return f.iso15693Write(card, 300, Bytes(4, 1), e) > 0; }, kBlock},
                 {"status block 256",
                  [&](Error* e) { return bool(f.iso15693GetBlocksSecurityStatus(card, 256, 1, e)); }, kBlock},
                 {"lock block 256", [&](Error* e) { return f.iso15693LockBlock(card, 256, e); }, kBlock},
                 {"card 9", [&](Error* e) { return bool(f.iso15693Read(9, 0, 4, e)); }, "Invalid parameter"}});
}

TEST(KXDevicesRFCards, MifareClassicTakenAwayAfterTheFirstBlockIsAPartialReadThatSaysSo) {
  CardSleeve s;
  ASSERT_TRUE(s.open());
  auto card = RfCard::mifareClassic1K(hex("0A0B0C0D"));
  for (uint8_t i = 0; i < 16; ++i) {
    card->blocks[4][i] = i;
    card->blocks[5][i] = uint8_t(0x10 + i);
  }
  ASSERT_EQ(s.present(card, "Mifare Classic 1K"), 0);
  auto& f = *s.facade;
  Error error;
  bool authenticated = false;
  ASSERT_TRUE(s.onWorker([&] { authenticated = f.mfAuthByKey(0, 'A', 4, Bytes(6, 0xFF), &error); }));
  ASSERT_TRUE(authenticated) << error.text;
  // The card answers the read of block 4, then leaves before block 5.
  s.module->removeAfter(card, 1);
  std::optional<Bytes> read;
  ASSERT_TRUE(s.onWorker([&] { read = f.mfRead(0, 4, 32, &error); }));
  ASSERT_TRUE(read);
  EXPECT_EQ(toHex(*read), "000102030405060708090A0B0C0D0E0F");
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.text, KXErrors::getErrorDescription(-6));
}

TEST(KXDevicesRFCards, CardTakenAwayMidCommandFailsWithTheReadersTimeOut) {
  CardSleeve s;
  ASSERT_TRUE(s.open());
  auto tag = RfCard::iso15693(hex("C1C2C3C4C5C604E0"), 16, 4);
  ASSERT_EQ(s.present(tag, "ISO 15693"), 0);
  auto& f = *s.facade;
  // The tag answers the first block of a four-block read, then leaves.
  s.module->removeAfter(tag, 1);
  Error error;
  std::optional<Bytes> read;
  ASSERT_TRUE(s.onWorker([&] { read = f.iso15693Read(0, 0, 16, &error); }));
  EXPECT_FALSE(read);
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.text, KXErrors::getErrorDescription(-6));
}

TEST(KXDevicesRFCards, StSriMemoryIsReadWrittenAndItsLockHolds) {
  CardSleeve s;
  Error error;
  ASSERT_TRUE(s.open(&error)) << error.text;
  auto card = RfCard::stSri(hex("D00233AABBCCDDEE"));
  ASSERT_EQ(s.present(card, "ST SRI"), 0);
  auto& f = *s.facade;

  int written = 0;
  std::optional<Bytes> back;
  ASSERT_TRUE(s.onWorker([&] {
    ASSERT_TRUE(f.stSRIWrite(0, 7, hex("CAFEBABE01020304"), &written, &error)) << error.text;
    back = f.stSRIRead(0, 7, 8, &error);
  }));
  EXPECT_EQ(written, 8);
  ASSERT_TRUE(back);
  EXPECT_EQ(toHex(*back), "CAFEBABE01020304");

  // Block 7 locked through the lock register at block 255: later writes are refused.
  bool twin = true;
  ASSERT_TRUE(s.onWorker([&] {
    ASSERT_EQ(f.stSRIWrite(0, 255, hex("01FFFFFF"), &error), 4) << error.text;
    error = {};
    twin = f.stSRIWrite(0, 7, hex("00000000"), &written, &error);
    back = f.stSRIRead(0, 7, 4, nullptr);
  }));
  EXPECT_FALSE(twin);
  EXPECT_EQ(written, 0);
  EXPECT_LT(error.code, 0);
  ASSERT_TRUE(back);
  EXPECT_EQ(toHex(*back), "CAFEBABE");

  // A card taken away part-way through a write: what reached it, and the reader's time-out.
  s.module->removeAfter(card, 2);
  error = {};
  ASSERT_TRUE(s.onWorker([&] { written = f.stSRIWrite(0, 0, Bytes(16, 0x11), &error); }));
  EXPECT_EQ(written, 8);
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(card->blocks[1], Bytes(4, 0x11));
  EXPECT_NE(card->blocks[2], Bytes(4, 0x11));

  expectRefused(s, nullptr,
                {{"address 256", [&](Error* e) { return bool(f.stSRIRead(0, 256, 4, e)); }, kBlock},
                 {"past block 255", [&](Error* e) { return bool(f.stSRIRead(0, 255, 8, e)); }, kBlock},
                 {"length 6", [&](Error* e) { return bool(f.stSRIRead(0, 0, 6, e)); }, kLength},
                 {"no data", [&](Error* e) { return f.stSRIWrite(0, 0, std::nullopt, e) > 0; }, kData},
                 {"write of 3", [&](Error* e) { return f.stSRIWrite(0, 0, Bytes(3, 1), e) > 0; }, kLength}});
}

TEST(KXDevicesRFCards, FelicaBlocksAndRawCommandsThroughTheFacade) {
  CardSleeve s;
  Error error;
  ASSERT_TRUE(s.open(&error)) << error.text;
  auto card = RfCard::felica(hex("0102030405060708"));
  ASSERT_EQ(s.present(card, "FeliCa"), 0);
  auto& f = *s.facade;

  Bytes data(32);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  int written = 0;
  std::optional<Bytes> back, poll, raw;
  bool readOnly = true;
  Error readOnlyError;
  ASSERT_TRUE(s.onWorker([&] {
    written = f.felicaWrite(0, 0x1009, 2, data, &error);
    back = f.felicaRead(0, 0x1009, 2, 32, &error);
    readOnly = f.felicaWrite(0, 0x0B00, 0, Bytes(16, 1), &written, &readOnlyError);
    poll = f.felicaTransieve(0, hex("00FFFF0000"), &error);
    raw = f.felicaSendCommand(0, 0x06, hex("011009018002"), &error);
  }));
  ASSERT_TRUE(back) << error.text;
  EXPECT_EQ(*back, data);
  EXPECT_EQ(card->services[0x1009][3], Bytes(data.begin() + 16, data.end()));
  // The read-only service refuses the write.
  EXPECT_FALSE(readOnly);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(readOnlyError.code, -20);
  EXPECT_EQ(card->services[0x0B00][0], Bytes(16, 0x5A));
  // Polling answers with its response code, the IDm and the PMm.
  ASSERT_TRUE(poll);
  EXPECT_EQ(toHex(Bytes(poll->begin(), poll->begin() + 9)), "010102030405060708");
  ASSERT_TRUE(raw);
  EXPECT_EQ(toHex(Bytes(raw->begin(), raw->begin() + 4)), "07000001");

  expectRefused(s, card,
                {{"block 256", [&](Error* e) { return bool(f.felicaRead(0, 0x1009, 256, 16, e)); }, kBlock},
                 {"past block 255", [&](Error* e) { return bool(f.felicaRead(0, 0x1009, 255, 32, e)); }, kBlock},
                 {"length 20", [&](Error* e) { return bool(f.felicaRead(0, 0x1009, 0, 20, e)); }, kLength},
                 {"no data", [&](Error* e) { return f.felicaWrite(0, 0x1009, 0, std::nullopt, e) > 0; }, kData},
                 {"write of 8", [&](Error* e) { return f.felicaWrite(0, 0x1009, 0, Bytes(8, 1), e) > 0; }, kLength},
                 {"command 300", [&](Error* e) { return bool(f.felicaSendCommand(0, 300, {}, e)); },
                  "Invalid argument: command"}});
}

TEST(KXDevicesRFCards, FelicaSmartTagScreenLayoutsAndMemory) {
  CardSleeve s;
  Error error;
  ASSERT_TRUE(s.open(&error)) << error.text;
  auto tag = RfCard::felica(hex("2122232425262728"), true);
  tag->tag.battery = 2;
  ASSERT_EQ(s.present(tag, "FeliCa"), 0);
  auto& f = *s.facade;

  int battery = -1;
  Bytes memory(200);
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = uint8_t(i * 3);
  int written = 0;
  std::optional<Bytes> back;
  ASSERT_TRUE(s.onWorker([&] {
    ASSERT_TRUE(f.felicaSmartTagGetBatteryStatus(0, &battery, &error)) << error.text;
    ASSERT_TRUE(f.felicaSmartTagSaveLayout(0, 12, &error)) << error.text;
    ASSERT_TRUE(f.felicaSmartTagDisplayLayout(0, 7, &error)) << error.text;
    ASSERT_TRUE(f.felicaSmartTagWrite(0, 0x0100, memory, &written, &error)) << error.text;
    back = f.felicaSmartTagRead(0, 0x0105, 3, &error);
    ASSERT_TRUE(f.felicaSmartTagWaitCompletion(0, &error)) << error.text;
  }));
  EXPECT_EQ(battery, 2);
  EXPECT_EQ(tag->tag.layouts.count(12), 1u);
  EXPECT_EQ(tag->tag.displayedLayout, 7);
  EXPECT_EQ(written, 200);
  EXPECT_EQ(Bytes(tag->tag.memory.begin() + 0x100, tag->tag.memory.begin() + 0x100 + 200), memory);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, Bytes(memory.begin() + 5, memory.begin() + 8));

  // An image 16 dots wide and 20 high at y = 90: six rows reach the screen, each a black
  // byte and a white one, packed one bit per dot.
  KXImage image = KXImage::grey(16, 20, 255);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 8; ++x) image.pixels[size_t(y * 16 + x)] = 0;
  tag->tag.commandBlocks.clear();
  ASSERT_TRUE(s.onWorker([&] {
    ASSERT_TRUE(f.felicaSmartTagClearScreen(0, &error)) << error.text;
    ASSERT_TRUE(f.felicaSmartTagDrawImage(0, image, 8, 90, 1, 0, &error)) << error.text;
  }));
  ASSERT_GE(tag->tag.screen.size(), 12u);
  EXPECT_EQ(toHex(Bytes(tag->tag.screen.begin(), tag->tag.screen.begin() + 12)), "FF00FF00FF00FF00FF00FF00");
  const auto draw = std::find_if(tag->tag.commandBlocks.begin(), tag->tag.commandBlocks.end(),
                                 [](const Bytes& b) { return b[0] == 0xA0; });
  ASSERT_NE(draw, tag->tag.commandBlocks.end());
  EXPECT_EQ((*draw)[3], 16);  // one block: 6 rows of 2 bytes
  EXPECT_EQ(toHex(Bytes(draw->begin() + 8, draw->begin() + 14)), "025B00000201");

  const KXImage none;
  expectRefused(
      s, nullptr,
      {{"no status place", [&](Error* e) { return f.felicaSmartTagGetBatteryStatus(0, nullptr, e); },
        "Invalid argument: status"},
       {"save layout 0", [&](Error* e) { return f.felicaSmartTagSaveLayout(0, 0, e); }, "Invalid argument: layout"},
       {"show layout 13", [&](Error* e) { return f.felicaSmartTagDisplayLayout(0, 13, e); },
        "Invalid argument: layout"},
       {"no data", [&](Error* e) { return f.felicaSmartTagWrite(0, 0, std::nullopt, e) > 0; },
        "Invalid argument: data"},
       {"read of 0", [&](Error* e) { return bool(f.felicaSmartTagRead(0, 0, 0, e)); }, "Invalid argument: length"},
       {"memory end", [&](Error* e) { return bool(f.felicaSmartTagRead(0, 0xFFF0, 32, e)); },
        "Invalid argument: address"},
       {"no image", [&](Error* e) { return f.felicaSmartTagDrawImage(0, none, 0, 0, 0, 0, e); },
        "Invalid argument: image"},
       {"x 201", [&](Error* e) { return f.felicaSmartTagDrawImage(0, image, 201, 0, 0, 0, e); },
        "Invalid argument: topLeftX"},
       {"y 97", [&](Error* e) { return f.felicaSmartTagDrawImage(0, image, 0, 97, 0, 0, e); },
        "Invalid argument: topLeftY"},
       {"mode 4", [&](Error* e) { return f.felicaSmartTagDrawImage(0, image, 0, 0, 4, 0, e); },
        "Invalid argument: drawMode"},
       {"layout 13", [&](Error* e) { return f.felicaSmartTagDrawImage(0, image, 0, 0, 0, 13, e); },
        "Invalid argument: layout"}});
}

TEST(KXDevicesRFCards, HidReaderFramesReachTheOmniKeyReader) {
  CardSleeve s(CardSleeve::Reader::OmniKey);
  Error error;
  ASSERT_TRUE(s.connect());
  bool opened = false;
  ASSERT_TRUE(s.onWorker([&] { opened = s.facade->rfInit(0x01, &error); }));
  ASSERT_TRUE(opened) << error.text;
  s.opened = true;
  s.omniKey->insert(0, RfCard::desfire(hex("04010203040506")));
  ASSERT_TRUE(s.bench.runUntil([&] { return s.log->log().count("card:0:Unknown") == 1; }));
  auto& f = *s.facade;

  std::optional<Bytes> answer;
  std::optional<std::string> pacs;
  bool configured = false;
  Bytes config(600);
  for (size_t i = 0; i < config.size(); ++i) config[i] = uint8_t(i);
  ASSERT_TRUE(s.onWorker([&] {
    answer = f.hidExecuteAPDU(0, hex("00A4040002CAFE"), &error);
    configured = f.hidUpdateConfig(config, &error);
    pacs = f.hidReadPACSKeyboardWedge(0, &error);
  }));
  ASSERT_TRUE(answer) << error.text;
  EXPECT_EQ(toHex(*answer), "CAFE9000");
  EXPECT_TRUE(configured) << error.text;
  EXPECT_EQ(s.omniKey->readerCommand(), config);
  ASSERT_TRUE(pacs);
  EXPECT_EQ(*pacs, "OK5022");

  // Frames that would not fit the reader's buffers are refused before anything is sent.
  const size_t before = s.omniKey->received().size();
  expectRefused(s, nullptr,
                {{"apdu of 1020", [&](Error* e) { return bool(f.hidExecuteAPDU(0, Bytes(1020, 0), e)); },
                  "Invalid argument: apdu"},
                 {"config of 16380", [&](Error* e) { return f.hidUpdateConfig(Bytes(16380, 0), e); },
                  "Invalid argument: config"},
                 {"card 9", [&](Error* e) { return bool(f.hidReadPACSKeyboardWedge(9, e)); }, "Invalid parameter"}});
  EXPECT_EQ(s.omniKey->received().size(), before);

  // The reader refusing the frame is the call's own failure.
  s.omniKey->setSilent(true);
  ASSERT_TRUE(s.onWorker([&] {
    answer = f.hidExecuteAPDU(0, hex("00A4040002CAFE"), &error);
    pacs = f.hidReadPACSKeyboardWedge(-1, nullptr);
  }));
  EXPECT_FALSE(answer);
  EXPECT_FALSE(pacs);
  EXPECT_EQ(error.code, -20);
  EXPECT_EQ(error.text, "APDU failed");
  s.omniKey->setSilent(false);
}

TEST(KXDevicesRFCards, UhfRegionsAndTheSamModuleGoToTheSleeve) {
  CardSleeve s;
  auto& f = *s.facade;
  Error error;
  // Nothing connected: the routing error.
  EXPECT_FALSE(f.uhfInit(3, &error));
  EXPECT_EQ(error.code, -20);
  EXPECT_FALSE(f.hidGetVersionInfo(&error));
  EXPECT_EQ(error.code, -20);

  ASSERT_TRUE(s.connect());
  struct Case {
    int region;
    uint8_t code;
  };
  for (const Case c : {Case{0, 0x11}, Case{3, 0x31}, Case{7, 0x61}, Case{9, 0x00}, Case{-1, 0x00}}) {
    SCOPED_TRACE(c.region);
    bool ok = false;
    ASSERT_TRUE(s.onWorker([&] { ok = f.uhfInit(c.region, &error); }));
    EXPECT_TRUE(ok) << error.text;
    const auto sent = s.bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.lastCommand(0, 68); });
    ASSERT_TRUE(sent);
    EXPECT_EQ(toHex(*sent), toHex(Bytes{0x07, c.code}));
  }
  std::optional<Bytes> version, serial;
  ASSERT_TRUE(s.onWorker([&] {
    EXPECT_TRUE(f.uhfStartAutoReadForTagType(1, 2, 3, 0x0102, &error)) << error.text;
    EXPECT_TRUE(f.uhfStopAutoRead(&error));
    EXPECT_TRUE(f.uhfClose(&error));
    version = f.hidGetVersionInfo(&error);
    serial = f.hidGetSerialNumber(&error);
  }));
  ASSERT_TRUE(version) << error.text;
  EXPECT_EQ(toHex(*version), "A5058203010422");
  ASSERT_TRUE(serial) << error.text;
  EXPECT_EQ(toHex(*serial), "8A08" + toHex(s.sam->serial));
}

TEST(KXDevicesRFCards, IClassCredentialIsReadThroughTheSleevesSam) {
  CardSleeve s;
  Error error;
  ASSERT_TRUE(s.open(&error)) << error.text;
  auto card = RfCard::iClass(hex("A1B2C3D4E5F60712"));
  card->blocks[7] = hex("000000000612A5C3");
  ASSERT_EQ(s.present(card, "PicoPass 15693"), 0);
  std::optional<Bytes> content, config;
  ASSERT_TRUE(s.onWorker([&] {
    content = s.facade->hidGetContentElement(4, std::nullopt, std::nullopt, &error);
    config = s.api->hidProcessConfigCard(&error);
  }));
  ASSERT_TRUE(content) << error.text;
  EXPECT_EQ(toHex(*content), "A10A8008000000000612A5C3");
  ASSERT_TRUE(config) << error.text;
  EXPECT_TRUE(config->empty());
}

}  // namespace rf_cards_test
}  // namespace
}  // namespace kestra::testing
