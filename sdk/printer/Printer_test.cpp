// The printer driver against a simulated printer behind the real accessory layer (and a
// network printer on loopback).
#include "sdk/printer/Printer.h"

#include <gtest/gtest.h>

#include <future>

#include "testing/devices/printer/PrinterTestBench.h"

namespace kestra {
namespace {

using devices::PrinterPersona;
using devices::PrinterTestBench;
using foundation::Bytes;

// Runs `f` on a thread of its own and, under `clock`, advances time until it is done.
template <class F>
auto runAdvancing(foundation::ManualClock& clock, F f, foundation::Duration* took = nullptr) {
  auto future = std::async(std::launch::async, std::move(f));
  foundation::Duration passed{};
  while (future.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
    foundation::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(1));
    clock.advance(std::chrono::milliseconds(10));
    passed += std::chrono::milliseconds(10);
  }
  if (took) *took = passed;
  return future.get();
}

size_t writes(devices::SimulatedPrinter& sim) {
  size_t n = 0;
  for (const auto& f : sim.frames().hostFrames()) n += f.bytes.size() > 1 && f.bytes[1] == 2;
  return n;
}

TEST(Printer, Persona257IdentifiesWithItsClassValues) {
  PrinterTestBench b(PrinterPersona::persona257());
  ASSERT_TRUE(b.connect());
  EXPECT_TRUE(b.printer->protocolMode());
  EXPECT_EQ(b.printer->modelClass(), 11);
  EXPECT_EQ(b.printer->firmwareRevision(), "2.57.0");
  EXPECT_EQ(b.printer->deviceName(), "VKP-255");
  EXPECT_EQ(b.printer->hardwareRevision(), "1.0");
  const auto info = b.printer->getPrinterInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->paperWidthPx, 384);
  EXPECT_EQ(info->paperWidthInch, 2);
  EXPECT_EQ(info->resolutionDPI, 203);
  EXPECT_TRUE(info->labelModeActive);
  EXPECT_TRUE(info->pageModeSupported);
  EXPECT_TRUE(info->paperPresent);
  EXPECT_EQ(info->autoOffTime, 30 * 60.0);
  int v = 0;
  EXPECT_TRUE(b.printer->getInfo(4, &v));
  EXPECT_EQ(v, 257);
  EXPECT_TRUE(b.printer->getInfo(1, &v));
  EXPECT_EQ(v, 40);  // raw 74 on the label scale
  EXPECT_EQ(b.printer->prnGetMaxLabelLength(), 400);
  EXPECT_TRUE(b.printer->prnSetMaxLabelLength(800));
  EXPECT_EQ(b.printer->prnGetMaxLabelLength(), 800);
  EXPECT_TRUE(b.delegate->log().waitForLine("prnConnectionState:2"));
  EXPECT_TRUE(b.delegate->allOnMainThread());
}

TEST(Printer, ShortIdentificationAnswerFailsAndTheLinkIsDropped) {
  PrinterPersona p = PrinterPersona::receipt();
  p.name = "RPX-350";
  p.firmware = "15";  // the answer still has 32 bytes: make it short instead
  PrinterTestBench b(p);
  b.sim = &b.bench.attach<devices::SimulatedPrinter>(devices::SimulatedPrinter::identityFor(p), p);
  // The identification answer loses its last byte.
  b.sim->frames().on(3, [&](const devices::HostFrame& f) {
    auto replies = b.sim->model().handle(f);
    for (auto& r : replies)
      if (r.bytes.size() == 4 + 32) {
        r.bytes.pop_back();
        r.bytes[3] = 31;
      }
    return replies;
  });
  b.printer->connect();
  ASSERT_TRUE(b.runUntil([&] { return b.sim->sessionsOpened() >= 1; }));
  ASSERT_TRUE(b.runUntil([&] { return !b.sim->channelOpen(0); }));
  ASSERT_TRUE(b.sim->frames().framesOf(3) >= 2);
  EXPECT_TRUE(b.runUntil([&] { return b.printer->connstate() == 1; }));
  EXPECT_EQ(b.delegate->log().count("prnConnectionState:2"), 0u);

  Error e;
  EXPECT_FALSE(b.printer->initCheck(&e));
  EXPECT_EQ(e.code, -6);
}

TEST(Printer, BusyReplyIsSentAgainEveryHalfSecondUntilItSucceeds) {
  foundation::ScopedManualClock clock;
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect(*clock));
  const size_t before = b.sim->frames().hostFrames().size();
  b.sim->model().setBusyReplies(3);
  foundation::Duration took{};
  const int status = runAdvancing(*clock, [&] { return b.printer->getPrinterStatus(); }, &took);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(b.sim->frames().hostFrames().size(), before + 4);  // three busy, then accepted
  EXPECT_GE(took, std::chrono::milliseconds(1500));
}

TEST(Printer, PrintCacheFlushesAtOverflowAndAfterQuiet) {
  foundation::ScopedManualClock clock;
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect(*clock));
  const Bytes a(600, 'a'), c(600, 'c');
  const size_t printedBefore = b.sim->model().printData().size();
  // Print data as the command layer sees it (prnWrite hands it over in pieces of 380).
  ASSERT_EQ(b.printer->sendCommand(1, 2, a.data(), a.size(), nullptr, 10), 0);
  EXPECT_EQ(b.sim->model().printData().size(), printedBefore);  // cached
  ASSERT_EQ(b.printer->sendCommand(1, 2, c.data(), c.size(), nullptr, 10), 0);
  // The first 600 went out when the next bytes would have overflowed the cache.
  EXPECT_EQ(b.sim->model().printData().size(), printedBefore + 600);
  // The rest goes after 100 ms without writes.
  ASSERT_TRUE(devices::AccessoryTestBench::advanceUntil(
      *clock, [&] { return b.sim->model().printData().size() == printedBefore + 1200; },
      std::chrono::milliseconds(20)));
  const Bytes all = b.sim->model().printData();
  EXPECT_EQ(Bytes(all.end() - 1200, all.end() - 600), a);
  EXPECT_EQ(Bytes(all.end() - 600, all.end()), c);

  // More than the cache holds goes out at once.
  const Bytes big(1025, 'b');
  EXPECT_EQ(b.printer->sendCommand(1, 2, big.data(), big.size(), nullptr, 10), 0);
  EXPECT_EQ(b.sim->model().printData().size(), printedBefore + 1200 + 1025);
}

TEST(Printer, ReadWithStopByteKeepsTheRestForTheNextRead) {
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect());
  const uint8_t q[] = {0x1B, 0x4E};
  ASSERT_TRUE(b.printer->prnWrite(q, sizeof q));
  uint8_t buf[64];
  ASSERT_EQ(b.printer->prnRead(buf, 1, 50, 5, '-'), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "PRN-");
  ASSERT_EQ(b.printer->prnRead(buf, 1, 50, 5, 0), 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), "000123");
  // Length 0 without a stop byte: whatever came first.
  ASSERT_TRUE(b.printer->prnWrite(q, sizeof q));
  EXPECT_EQ(b.printer->prnRead(buf, 1, 0, 5, kNoStopByte), 11);
  EXPECT_EQ(b.printer->serialNumber(), "PRN-000123");
}

TEST(Printer, EventWithBarcodeAndCardReportsTheBarcodeThenTheCard) {
  PrinterTestBench b(PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  b.sim->model().queueBarcode(13, "AB\x0d");
  b.sim->model().queueCard("B4111^CARD/TEST^2812", "4111=2812", "");
  b.delegate->clear();
  b.sim->sendEvent(0x03);
  ASSERT_TRUE(b.delegate->log().waitFor([](const auto& l) { return l.size() >= 2; }));
  EXPECT_EQ(b.delegate->calls(),
            (std::vector<std::string>{"kxdev_barcodeData:13:AB\r", "magneticCardData:B4111^CARD/TEST^2812|4111=2812|"}));
  // Bit 5 alone: the paper changed and is gone.
  b.sim->sendEvent(0x20);
  EXPECT_TRUE(b.delegate->log().waitForLine("paperStatus:0"));
  EXPECT_TRUE(b.delegate->allOnMainThread());
}

TEST(Printer, AuthenticationSucceedsWithTheRightKeyOnly) {
  PrinterTestBench b(PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  const Bytes key(32, 0x11), other(32, 0x22), next(32, 0x33);
  b.sim->model().setKey(KEY_AUTHENTICATION, key);
  EXPECT_TRUE(b.printer->cryptoAuthenticatePrinter(key));
  Error e;
  EXPECT_FALSE(b.printer->cryptoAuthenticatePrinter(other, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Keys do not match");
  // A new key loaded under the old one replaces it on the printer.
  ASSERT_TRUE(b.printer->cryptoSetKey(KEY_AUTHENTICATION, next, key));
  EXPECT_EQ(b.sim->model().key(KEY_AUTHENTICATION), next);
  EXPECT_TRUE(b.printer->cryptoAuthenticatePrinter(next));
  EXPECT_EQ(b.printer->modelClass(), 3);
  EXPECT_FALSE(b.printer->cryptoSetKey(2, next, std::nullopt, &e));
  EXPECT_EQ(e.code, -9);
}

// A key load that fails on a printer without the framed mode leaves the link as it was: later
// prints go out plainly at once.
TEST(Printer, AFailedKeyLoadLeavesTheProtocolModeAsItWas) {
  foundation::ScopedManualClock clock;
  PrinterTestBench b(PrinterPersona::plain());
  ASSERT_TRUE(b.connect(*clock));
  ASSERT_FALSE(b.printer->protocolMode());
  Error e;
  EXPECT_FALSE(runAdvancing(*clock, [&] { return b.printer->cryptoSetKey(KEY_AUTHENTICATION, Bytes(32, 0x33), std::nullopt, &e); }));
  EXPECT_FALSE(b.printer->protocolMode());
  const size_t before = b.sim->model().printData().size();
  foundation::Duration took{};
  EXPECT_TRUE(runAdvancing(*clock, [&] { return b.printer->printText("after\n") && b.printer->flushCache(); }, &took));
  EXPECT_LT(took, std::chrono::seconds(1));
  // The printer reads what was flushed on its own thread.
  EXPECT_TRUE(b.runUntil([&] { return b.sim->model().printData().size() > before; }));
}

TEST(Printer, StatusReflectsPaperAndAFailedPollIsNotSuccess) {
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect());
  b.sim->model().setPaperOut(true);
  EXPECT_EQ(b.printer->getPrinterStatus(), 0x20);
  EXPECT_FALSE(b.printer->getPrinterInfo()->paperPresent);
  b.sim->model().setCoverOpen(true);
  Error e;
  EXPECT_EQ(b.printer->getPrinterStatus(&e), -1);
  EXPECT_EQ(e.text, "Command failed");
  EXPECT_FALSE(b.printer->isPrinterConnected());
  // An empty write asked for by a caller still reports success, as it always has.
  EXPECT_TRUE(b.printer->prnWrite(static_cast<const uint8_t*>(nullptr), uint64_t{0}));
  b.sim->model().setCoverOpen(false);
  b.sim->model().setPaperOut(false);
  b.sim->model().setJobRunning(2);
  EXPECT_TRUE(b.printer->waitPrintJob(5));
  EXPECT_TRUE(b.printer->isPrinterConnected());
}

TEST(Printer, SplitAndLateRepliesAreWaitedForAndADroppedLinkFailsTheCommand) {
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect());
  b.sim->frames().script(devices::kAnyCommand, devices::ScriptedFault::split());
  EXPECT_EQ(b.printer->getPrinterStatus(), 0);
  b.sim->frames().script(devices::kAnyCommand, devices::ScriptedFault::late(std::chrono::milliseconds(200)));
  EXPECT_EQ(b.printer->getPrinterStatus(), 0);
  b.sim->frames().script(devices::kAnyCommand, devices::ScriptedFault::dropped(2));
  // The link's end is announced on the main queue, which this thread keeps running.
  Error e;
  auto status = std::async(std::launch::async, [&] { return b.printer->getPrinterStatus(&e); });
  ASSERT_TRUE(b.runUntil([&] { return status.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(status.get(), -1);
  EXPECT_EQ(e.code, -6);
  EXPECT_TRUE(b.runUntil([&] { return b.printer->connstate() == 1; }));
  EXPECT_TRUE(b.delegate->log().waitForLine("prnConnectionState:1"));
}

TEST(Printer, LabelPrinterConnectsOverTCPAndTalksOnItsChannel) {
  devices::NetworkPrinter net(PrinterPersona::label());
  ASSERT_TRUE(net.start());
  devices::AccessoryTestBench bench;
  auto printer = Printer::create(1, *bench.manager);
  auto streams = devices::tcpStreams(net.port());
  ASSERT_TRUE(streams.input);
  Error e;
  ASSERT_TRUE(printer->connectWithStreams(streams.input, streams.output, &e)) << e.text;
  EXPECT_EQ(printer->connstate(), 2);
  EXPECT_TRUE(printer->isLabelPrinter());
  EXPECT_EQ(printer->deviceName(), "ZLP-2");
  EXPECT_EQ(printer->firmwareRevision(), "60.1.2");
  EXPECT_EQ(printer->serialNumber(), "ZL000417");
  EXPECT_EQ(printer->connectionType(), 2);
  EXPECT_EQ(printer->getSupportedFeature(7), 2);
  EXPECT_FALSE(printer->prnWrite("^XA^XZ", 1, &e));
  EXPECT_EQ(e.text, "ZPL data channel supported only");
  EXPECT_TRUE(printer->prnWrite("^XA^FDHello^FS^XZ", 50));
  EXPECT_TRUE(printer->flushCache());
  EXPECT_TRUE(net.waitForReceived(18));
  printer->disconnect();
  EXPECT_EQ(printer->connstate(), 0);
}

TEST(Printer, PrinterThatAnswersNeitherWayEndsDisconnected) {
  devices::NetworkPrinter net(PrinterPersona::generic());
  ASSERT_TRUE(net.start());
  devices::AccessoryTestBench bench;
  auto printer = Printer::create(0, *bench.manager);
  auto streams = devices::tcpStreams(net.port());
  Error e;
  EXPECT_FALSE(printer->connectWithStreams(streams.input, streams.output, &e));
  EXPECT_EQ(printer->connstate(), 0);
  EXPECT_EQ(e.text, "Label printer did not respond to the identification");
}

TEST(Printer, ArgumentChecksComeBeforeAnyByteIsSent) {
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect());
  const size_t before = writes(*b.sim);
  struct Case {
    const char* name;
    std::function<bool(Error*)> call;
    int code;
    const char* text;
  } cases[] = {
      {"feed", [&](Error* e) { return b.printer->feedPaper(-1, e); }, -9, "Inlid number of lines to feed"},
      {"density", [&](Error* e) { return b.printer->setDensity(49, e); }, -9,
       "Density level must be between 50 and 200 percent"},
      {"qr size", [&](Error* e) { return b.printer->printBarcodeQRCode(foundation::bytesOf("x"), 1, 2, e); }, -9,
       "Invalid argument: size"},
      {"qr eccl", [&](Error* e) { return b.printer->printBarcodeQRCode(foundation::bytesOf("x"), 5, 4, e); }, -9,
       "Invalid argument: eccl"},
      {"pdf417", [&](Error* e) { return b.printer->printBarcodePDF417(foundation::bytesOf("x"), false, true, 10, 1, e); },
       -9, "Invalid argument: eccl"},
      {"barcode", [&](Error* e) { return b.printer->printBarcode(12, foundation::bytesOf("1"), e); }, -9,
       "Invalid barcode type or barcode length"},
      {"line space", [&](Error* e) { return b.printer->setLineSpace(256, e); }, -9, "Invalid linespace (0-255)"},
      {"margin", [&](Error* e) { return b.printer->setLeftMargin(371, e); }, -9, "Invalid margin (0-370)"},
      {"logo", [&](Error* e) { return b.printer->printLogo(4, e); }, -9, "Invalid mode specified"},
      {"scale", [&](Error* e) { return b.printer->setBarcodeSettings(5, 10, 0, 0, e); }, -9,
       "Barcode scale can be between 2 and 4"},
      {"scan on a printer without engine", [&](Error* e) { return b.printer->scanBarcode(1, nullptr, e).has_value(); },
       -7, "Barcode not supported"},
      {"mifare key", [&](Error* e) { return b.printer->mfLoadKey(32, Bytes(6), e); }, -9,
       "keyID must be between 0 and 31"},
      {"codepage", [&](Error* e) { return b.printer->prnSetCodepage(12345, e); }, -7,
       "Unsupported method or operation"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(c.call(&e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
  EXPECT_TRUE(b.printer->flushCache());
  EXPECT_EQ(writes(*b.sim), before);
}

TEST(Printer, CommandsReachThePrintHeadAsTheirBytes) {
  PrinterTestBench b(PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  const size_t start = b.sim->model().printData().size();
  ASSERT_TRUE(b.printer->feedPaper(600));
  ASSERT_TRUE(b.printer->setDensity(100));
  ASSERT_TRUE(b.printer->printBarcode(8, foundation::bytesOf("12345")));
  ASSERT_TRUE(b.printer->flushCache());
  const Bytes all = b.sim->model().printData();
  const Bytes expected = {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x5A, 0x1B, 0x59, 0x03,
                          0x1D, 0x77, 3, 0x1D, 0x48, 2, 0x1D, 0x68, 77, 0x1B, 0x61, 0, 0x1D, 0x66, 0,
                          0x1D, 0x6B, 0x49, 0x07, '{', 'B', '1', '2', '3', '4', '5'};
  EXPECT_EQ(foundation::toHex(Bytes(all.begin() + long(start), all.end()), " "), foundation::toHex(expected, " "));
}

TEST(Printer, ModuleCommandsUseTheModuleFrame) {
  PrinterPersona p = PrinterPersona::receipt();
  p.smartCardModule = true;
  PrinterTestBench b(p);
  ASSERT_TRUE(b.connect());
  EXPECT_TRUE(b.printer->scInit());
  const auto atr = b.printer->scReset();
  ASSERT_TRUE(atr);
  EXPECT_EQ(*atr, (Bytes{0x3B, 0x8F, 0x80, 0x01}));
  EXPECT_TRUE(b.printer->scIsCardPresent());
  ASSERT_TRUE(b.printer->scAPDU(0x00, 0xA4, 0x04, 0x00, {}, -1));
  const auto sc = b.sim->model().moduleRequests(2);
  ASSERT_FALSE(sc.empty());
  EXPECT_EQ(sc.back(), (Bytes{19, 0, 0, 5, 0x00, 0xA4, 0x04, 0x00, 0x00}));

  // Before any card was selected the authentication names serial 0.
  EXPECT_TRUE(b.printer->mfInit());
  EXPECT_TRUE(b.printer->mfAuthByKey('A', 4, Bytes(6, 0xFF)));
  const auto mf = b.sim->model().moduleRequests(16);
  ASSERT_FALSE(mf.empty());
  EXPECT_EQ(mf.back(), (Bytes{5, 0, 0, 12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x60, 0, 0, 0, 0, 4}));
  uint32_t serial = 0;
  ASSERT_TRUE(b.printer->mfAnticollision(&serial));
  EXPECT_EQ(serial, 0xA1B2C3D4u);
  ASSERT_TRUE(b.printer->mfWrite(4, Bytes(16, 0x5A)));
  EXPECT_EQ(b.printer->mfRead(4), Bytes(16, 0x5A));
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

TEST(PrinterHead, EncryptedHeadIsFoundOnItsChannelAndEncryptedSwipesAreReported) {
  devices::PrinterTestBench b(devices::PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  b.sim->model().head().setVersions(214, 101);
  b.sim->model().head().setTracksRead(3);
  b.sim->model().head().setMaskedData(std::string("\x00\x04\x03\x00", 4) + "4111" + "=28");
  EXPECT_EQ(b.printer->getSupportedFeature(0), 4);
  EXPECT_EQ(b.printer->getSupportedFeature(1), 1);
  Error e;
  EXPECT_EQ(b.printer->getSupportedFeature(8, &e), 0);
  EXPECT_EQ(e.text, "Feature not supported on the connected device(s)");
  b.delegate->clear();
  b.sim->sendEvent(0x10);
  // Type 0x22 >> 3 and tracks 0x22 & 7; the data after the first byte; the masked texts.
  EXPECT_TRUE(b.delegate->log().waitForLine("encrypted:4:2:5:4111|=28|(null):0"));
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

TEST(PrinterPage, PageModeAndBlackMarkOnALabelCapablePrinter) {
  devices::PrinterTestBench b(devices::PrinterPersona::persona257());
  ASSERT_TRUE(b.connect());
  const size_t start = b.sim->model().printData().size();
  ASSERT_TRUE(b.printer->pageStart());
  ASSERT_TRUE(b.printer->pageFillRectangle(10, 10, 100, 20, 1));
  ASSERT_TRUE(b.printer->pagePrint());
  ASSERT_TRUE(b.printer->pageEnd());
  Error e;
  EXPECT_FALSE(b.printer->tableCreate(&e));  // not on this model class
  EXPECT_EQ(e.code, -7);
  ASSERT_TRUE(b.printer->flushCache());
  const Bytes all = b.sim->model().printData();
  const Bytes sent(all.begin() + long(start), all.end());
  const Bytes pageStart = {0x1B, 0x4C, 0x1B, 0x57, 0, 0, 0, 0, 0x80, 0x01, 0x80, 0x09, 0x1D, 0x54, 0};
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 15), pageStart);
  int threshold = 0;
  EXPECT_TRUE(b.printer->getBlackMarkTreshold(&threshold));
  EXPECT_EQ(threshold, 0x60);
  EXPECT_TRUE(b.printer->setBlackMarkTreshold(0x80));
  EXPECT_TRUE(b.printer->getBlackMarkTreshold(&threshold));
  EXPECT_EQ(threshold, 0x80);
  EXPECT_FALSE(b.printer->setBlackMarkTreshold(0x10, &e));
  EXPECT_EQ(e.text, "Treshold value must be between 0x20 and 0xC0");
}

// A table is printed at 1-dot spacing; the spacing the caller had set is back afterwards, so
// later lines do not overprint.
TEST(PrinterPage, TablePrintRestoresTheLineSpacingSetBeforeIt) {
  devices::PrinterTestBench b(devices::PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  ASSERT_TRUE(b.printer->setLineSpace(30));
  ASSERT_TRUE(b.printer->tableCreate());
  ASSERT_TRUE(b.printer->tableAddColumn(100));
  ASSERT_TRUE(b.printer->tableAddCell("Tea"));
  ASSERT_TRUE(b.printer->tablePrint());
  ASSERT_TRUE(b.printer->flushCache());
  const Bytes all = b.sim->model().printData();
  const Bytes lineSpace = {0x1B, 0x33};
  std::vector<int> spacings;
  for (auto it = all.begin(); (it = std::search(it, all.end(), lineSpace.begin(), lineSpace.end())) != all.end();
       it += 2)
    if (it + 2 != all.end()) spacings.push_back(*(it + 2));
  ASSERT_GE(spacings.size(), 3u);
  EXPECT_EQ(std::vector<int>(spacings.end() - 3, spacings.end()), (std::vector<int>{30, 1, 30}));
  // A second table starts from the restored spacing as well.
  ASSERT_TRUE(b.printer->tableCreate());
  ASSERT_TRUE(b.printer->tableAddColumn(100));
  ASSERT_TRUE(b.printer->tableAddCell("Cake"));
  ASSERT_TRUE(b.printer->tablePrint());
  ASSERT_TRUE(b.printer->flushCache());
  const Bytes again = b.sim->model().printData();
  ASSERT_GE(again.size(), 3u);
  const auto last = std::find_end(again.begin(), again.end(), lineSpace.begin(), lineSpace.end());
  ASSERT_NE(last, again.end());
  EXPECT_EQ(*(last + 2), 30);
}

TEST(PrinterPage, TablesButNoPageModeOnAPrinterWithoutIt) {
  devices::PrinterTestBench b(devices::PrinterPersona::scanner());
  ASSERT_TRUE(b.connect());
  const size_t start = b.sim->model().printData().size();
  ASSERT_TRUE(b.printer->tableCreate());
  ASSERT_TRUE(b.printer->tableAddColumn(100));
  ASSERT_TRUE(b.printer->tableAddColumn(80, 0, ALIGN_RIGHT));
  ASSERT_TRUE(b.printer->tableAddCell("Tea"));
  ASSERT_TRUE(b.printer->tableAddCell("2.50"));
  ASSERT_TRUE(b.printer->tableAddCell("Cake"));  // the last row is completed on print
  ASSERT_TRUE(b.printer->tablePrint());
  ASSERT_TRUE(b.printer->flushCache());
  const Bytes all = b.sim->model().printData();
  const Bytes sent(all.begin() + long(start), all.end());
  const Bytes tableOpen = {0x13, 0x41, 0x13, 0x01, 0x4D, 0x13, 0x2B, 0x13, 0x43, 0x13, 0x4C, 0x00};
  EXPECT_NE(std::search(sent.begin(), sent.end(), tableOpen.begin(), tableOpen.end()), sent.end());
  b.sim->model().withRenderer([](devices::ReceiptRenderer& r) {
    const auto& l = r.lines();
    EXPECT_NE(std::find(l.begin(), l.end(), "Tea2.50"), l.end());
    EXPECT_NE(std::find(l.begin(), l.end(), "Cake"), l.end());
  });
  Error e;
  EXPECT_FALSE(b.printer->pageStart(&e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, "The conencted printer does not support page mode");
  EXPECT_FALSE(b.printer->getBlackMarkTreshold(nullptr, &e));
  EXPECT_EQ(e.text, "The conencted printer does not support blackmark");
}

}  // namespace
}  // namespace kestra
