// No secret reaches the log handler or the console, from any driver: canary card numbers,
// tracks, keys, PINs and credentials go through every family of device (sleeve reader and
// encrypted head, EMV kernel, contactless readers and their cards, the SAM, printer and
// pinpad readers, hub readers, Bluetooth pairing), and every line that was logged or
// printed is searched for each canary as text, as hex (either case, any separators) and as
// Base64 at each of the three alignments.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/hub/SimulatedHub.h"
#include "testing/devices/printer/PrinterTestBench.h"
#include "testing/devices/rf/SimulatedOmniKey.h"
#include "testing/devices/rf/SimulatedPn544.h"
#include "testing/devices/rf/SimulatedRc663.h"
#include "testing/devices/sleeve/SimulatedSam.h"
#include "testing/devices/sleeve/SleeveSecurity.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {
namespace canary_log_test {

using devices::RfCard;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

std::string base64(const Bytes& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t v = uint32_t(data[i]) << 16;
    if (i + 1 < data.size()) v |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < data.size()) v |= data[i + 2];
    for (size_t k = 0; k < 4; ++k)
      out.push_back(k <= (std::min<size_t>(data.size() - i, 3)) ? kAlphabet[(v >> (18 - 6 * k)) & 0x3F] : '=');
  }
  return out;
}

// Every line the log handler receives, and what went to the console meanwhile.
class CanaryLog {
 public:
  CanaryLog() {
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    KXUNISDKGlobals::setLogHandler([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~CanaryLog() { finish(); }

  // Ends the capture; the test's canaries are then searched in what was gathered.
  void finish() {
    KXUNISDKGlobals::setLogHandler({});
    if (finished_) return;
    finished_ = true;
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string out = ::testing::internal::GetCapturedStdout();
    // What went to the console (a failed assertion's message among it) is shown after all.
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    std::lock_guard lock(mutex_);
    lines_.push_back(err);
    lines_.push_back(out);
  }

  size_t size() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }

  // The lines holding `secret` in any of its forms.
  std::vector<std::string> leaks(const Bytes& secret) const {
    std::vector<std::string> forms;
    bool printable = std::all_of(secret.begin(), secret.end(), [](uint8_t c) { return c >= 32 && c < 127; });
    if (printable) forms.push_back(lower(std::string(secret.begin(), secret.end())));
    forms.push_back(lower(foundation::toHex(secret)));
    std::vector<std::string> base64Forms;
    for (size_t shift = 0; shift < 3; ++shift) {
      // The characters that depend on the secret's bytes alone, at this alignment.
      Bytes shifted(shift, 0);
      shifted.insert(shifted.end(), secret.begin(), secret.end());
      const std::string enc = base64(shifted);
      const size_t first = (8 * shift + 5) / 6, end = (8 * shifted.size()) / 6;
      if (end > first + 4) base64Forms.push_back(enc.substr(first, end - first));
    }
    std::vector<std::string> hits;
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
      const std::string l = lower(line);
      std::string hexOnly;  // the line without separators between hex digits
      for (char c : l)
        if (std::isxdigit(static_cast<unsigned char>(c))) hexOnly.push_back(c);
      bool hit = false;
      for (const auto& f : forms) hit = hit || l.find(f) != std::string::npos;
      hit = hit || hexOnly.find(forms.back()) != std::string::npos;
      for (const auto& f : base64Forms) hit = hit || line.find(f) != std::string::npos;
      if (hit) hits.push_back(line.substr(0, 200));
    }
    return hits;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  bool finished_ = false;
};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes hex(const char* h) { return *foundation::fromHex(h); }

// Expects no form of any canary in what `log` gathered, and that something was logged at all
// (a handler that saw nothing proves nothing).
void expectNoLeak(CanaryLog& log, const std::vector<std::pair<std::string, Bytes>>& canaries) {
  log.finish();
  EXPECT_GT(log.size(), 10u);
  for (const auto& [name, secret] : canaries) EXPECT_EQ(log.leaks(secret), std::vector<std::string>{}) << name;
}

bool onWorker(devices::SleeveTestBench& bench, const std::function<void()>& f) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    f();
    done = true;
  });
  const bool finished = bench.runUntil([&] { return done.load(); });
  t.join();
  return finished;
}

class CardLog final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  CardLog() {
    declare({kxsel::rfCardDetected, kxsel::connectionState, kxsel::magneticCardData,
             kxsel::magneticCardData_source});
  }
  void connectionState(int s) override { record("state:" + std::to_string(s)); }
  void rfCardDetected(int index, const std::shared_ptr<KXRFCardInfo>& info) override {
    record("card:" + std::to_string(index) + ":" + (info ? info->typeStr : "?"));
  }
  void magneticCardData(const std::optional<std::string>&, const std::optional<std::string>&,
                        const std::optional<std::string>&) override {
    record("swipe");
  }
  void magneticCardData(const std::optional<std::string>&, const std::optional<std::string>&,
                        const std::optional<std::string>&, int) override {
    record("swipe");
  }
};

// ---- The sleeve: its reader, its encrypted head and its EMV kernel ------------------------

TEST(CanaryLog, SleeveSwipesHeadDataAndTheEmvKernelLeaveNothing) {
  const std::string pan = "4929817364550193";
  const std::string t1 = "%B" + pan + "^CANARYHOLDER/SLEEVE^2512101000000000?";
  const std::string t2 = ";" + pan + "=25121010000000000000?";
  const Bytes key(16, 0x6B);
  CanaryLog log;
  {
    devices::SimulatedSleeve::Options options;
    options.config.model = "XBCMEV";
    devices::SleeveTestBench bench(options);
    devices::SleeveSecurity security(*bench.sleeve);
    security.head.setVersions(2001, 301);
    security.head.setTracksRead(3);
    security.head.setMaskedData(std::string("\x00\x10\x00\x00", 4) + "4929********0193");
    security.setCard({t1, t2, "%B4929********0193^CANARYHOLDER/SLEEVE^", ";4929********0193="});
    security.setOnlineRequestOnStart(true);
    ASSERT_TRUE(bench.connect());
    auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
    auto app = std::make_shared<CardLog>();
    api->addDelegate(app);

    // A plain swipe, a raw one, and the head's encrypted data.
    bench.sleeve->swipe(t1, t2, std::string("+7777731415926535897932384626?"));
    ASSERT_TRUE(app->log().waitFor([](const auto& l) { return l.size() >= 1; }));
    bench.sleeve->sendRawCard(text(pan));
    Bytes encrypted = {0x13};
    foundation::append(encrypted, devices::SleeveSecurity::demoEncrypted(t1, t2));
    bench.sleeve->sendEvent(1, 0x05, encrypted);
    ASSERT_TRUE(app->log().waitFor([](const auto& l) { return l.size() >= 2; }));

    // Keys loaded into the head, and an EMV transaction whose kernel sends the card number.
    ASSERT_TRUE(onWorker(bench, [&] {
      Bytes load = {0x23, 0x01};
      for (int i = 0; i < 6; ++i) foundation::append(load, key);
      emsrLoadKey(api.get(), load.data(), int(load.size()));
      bench.pellan->emv2StartTransactionWithFlags(0, std::nullopt);
    }));
    ASSERT_TRUE(bench.runUntil([&] { return bench.pellan->emvTags().size() > 17; }));
  }
  expectNoLeak(log, {{"pan", text(pan)},
                     {"holder", text("CANARYHOLDER")},
                     {"track 3", text("7777731415926535")},
                     {"pan in BCD", hex(pan.substr(0, 16).c_str())},
                     {"key", key}});
}

// ---- Contactless: the rc663 module, the pn544 controller, the omniKey reader, the SAM and
// FeliCa tags -----------------------------------------------------------------------------

struct CardSleeve {
  enum class Reader { Module, OmniKey, Pn544 };
  Reader reader;
  devices::SleeveTestBench bench;
  std::shared_ptr<devices::SimulatedRc663> module = std::make_shared<devices::SimulatedRc663>();
  std::shared_ptr<devices::SimulatedPn544> pn544 = std::make_shared<devices::SimulatedPn544>();
  std::shared_ptr<devices::SimulatedOmniKey> omniKey = std::make_shared<devices::SimulatedOmniKey>();
  std::shared_ptr<devices::SimulatedSam> sam = std::make_shared<devices::SimulatedSam>();
  std::shared_ptr<KXDevices> api;
  std::shared_ptr<OKTKXDevices> facade;
  std::shared_ptr<CardLog> log = std::make_shared<CardLog>();
  bool opened = false;

  static devices::SimulatedSleeve::Options options(Reader reader) {
    devices::SimulatedSleeve::Options o;
    o.config.model = reader == Reader::OmniKey ? "XBCMRH" : reader == Reader::Pn544 ? "XBCMRF" : "XBCMR6";
    return o;
  }
  explicit CardSleeve(Reader r) : reader(r), bench(options(r)) {
    if (reader == Reader::Module) {
      bench.sleeve->attachRfReader(module);
      bench.sleeve->attachSam(sam);
    } else if (reader == Reader::Pn544) {
      bench.sleeve->attachPn544(pn544);
    } else {
      bench.sleeve->attachOmniKey(omniKey);
    }
    api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
    facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                  std::make_shared<KXDeviceAgentStandIn>());
    facade->addDelegate(log);
  }
  ~CardSleeve() {
    if (opened) onWorker(bench, [&] { facade->rfClose(nullptr); });
    GlobalQueue::waitIdle();
    RFWrapper::setDelegate(nullptr);
    RFWrapper::setCommDelegate(nullptr);
  }
  bool open(int cards) {
    if (!bench.sleeve->attach()) return false;
    facade->connect();
    if (!log->log().waitForLine("state:2")) return false;
    Error error;
    onWorker(bench, [&] { opened = facade->rfInit(cards, &error); });
    return opened;
  }
  // Places `card`; its card index once the application has heard of it, else -1.
  int present(const std::shared_ptr<RfCard>& card, const std::string& typeName) {
    const size_t before = log->log().size();
    if (reader == Reader::Pn544)
      pn544->place(card);
    else
      module->place(card);
    int index = -1;
    bench.runUntil([&] {
      const auto lines = log->log().lines();
      for (size_t i = before; i < lines.size(); ++i) {
        const std::string suffix = ":" + typeName;
        if (lines[i].rfind("card:", 0) == 0 && lines[i].size() > suffix.size() &&
            lines[i].compare(lines[i].size() - suffix.size(), suffix.size(), suffix) == 0)
          index = std::stoi(lines[i].substr(5));
      }
      return index >= 0;
    });
    return index;
  }
};

TEST(CanaryLog, ContactlessCardsKeysCredentialsAndTagsLeaveNothing) {
  const Bytes key = hex("A7C35E19B2F4");
  const Bytes block = text("5168449911770024");  // a card number kept on a card
  const Bytes tracks = text(";5168449911770024=2612?");
  const Bytes samPin = hex("39A17C52");
  const Bytes credential = hex("00000000C4A91F37");
  const Bytes tagMemory = text("TAGCANARY5522");
  CanaryLog log;
  {
    CardSleeve s(CardSleeve::Reader::Module);
    ASSERT_TRUE(s.open(0x67));
    auto& f = *s.facade;
    Error error;

    // Mifare: authentication with the canary key, a block holding a card number.
    auto mifare = RfCard::mifareClassic1K(hex("C0FFEE01"));
    mifare->setKeys(1, Bytes(6, 0xFF), key);
    mifare->blocks[4] = block;
    const int mifareIndex = s.present(mifare, "Mifare Classic 1K");
    ASSERT_GE(mifareIndex, 0);
    std::optional<Bytes> read;
    ASSERT_TRUE(onWorker(s.bench, [&] {
      if (f.mfAuthByKey(mifareIndex, 'B', 4, key, &error)) read = f.mfRead(mifareIndex, 4, 16, &error);
    }));
    ASSERT_TRUE(read) << error.text;
    EXPECT_EQ(*read, block);
    // A payment card's tracks read by the module.
    s.module->paymentTracks = tracks;
    std::optional<Bytes> got;
    ASSERT_TRUE(onWorker(s.bench, [&] { got = f.rfReadPaymentCardTracks(mifareIndex, hex("57"), &error); }));
    ASSERT_TRUE(got) << error.text;
    s.module->remove(mifare);

    // An iClass credential through the SAM, asked for with a PIN.
    auto iclass = RfCard::iClass(hex("A1B2C3D4E5F60712"));
    iclass->blocks[7] = credential;
    ASSERT_GE(s.present(iclass, "PicoPass 15693"), 0);
    std::optional<Bytes> content;
    ASSERT_TRUE(onWorker(s.bench, [&] { content = f.hidGetContentElement(4, samPin, std::nullopt, &error); }));
    s.module->remove(iclass);

    // A FeliCa smart tag written.
    auto tag = RfCard::felica(hex("2122232425262728"), true);
    const int tagIndex = s.present(tag, "FeliCa");
    ASSERT_GE(tagIndex, 0);
    int written = 0;
    Bytes memory = tagMemory;
    memory.resize(32, 0x20);
    ASSERT_TRUE(onWorker(s.bench, [&] { f.felicaSmartTagWrite(tagIndex, 0x0100, memory, &written, &error); }));
    EXPECT_EQ(written, 32) << error.text;
  }
  expectNoLeak(log, {{"mifare key", key},
                     {"block", block},
                     {"tracks", tracks},
                     {"SAM PIN", samPin},
                     {"credential", Bytes(credential.begin() + 4, credential.end())},
                     {"tag memory", tagMemory}});
}

TEST(CanaryLog, APn544CardsIdentityKeyAndBlocksLeaveNothing) {
  const Bytes uid = hex("3C9A61E4");
  const Bytes key = hex("5B17E2C48D09");
  const Bytes block = text("4024007193856610");  // a card number kept on a card
  const Bytes written = text("CANARYPN544WRITE");
  CanaryLog log;
  {
    CardSleeve s(CardSleeve::Reader::Pn544);
    ASSERT_TRUE(s.open(0x01));
    auto& f = *s.facade;
    auto card = RfCard::mifareClassic1K(uid);
    card->setKeys(1, Bytes(6, 0xFF), key);
    card->blocks[4] = block;
    const int index = s.present(card, "Mifare Classic 1K");
    ASSERT_GE(index, 0);
    Error error;
    std::optional<Bytes> read, readBack;
    int count = 0;
    ASSERT_TRUE(onWorker(s.bench, [&] {
      if (!f.mfAuthByKey(index, 'B', 4, key, &error)) return;
      read = f.mfRead(index, 4, 16, &error);
      if (f.mfWrite(index, 5, written, &count, &error)) readBack = f.mfRead(index, 5, 16, &error);
    }));
    ASSERT_TRUE(read) << error.text;
    EXPECT_EQ(*read, block);
    EXPECT_EQ(count, 16) << error.text;
    EXPECT_EQ(readBack, written);
  }
  expectNoLeak(log, {{"uid", uid}, {"key", key}, {"block", block}, {"written", written}});
}

TEST(CanaryLog, TheOmniKeyReadersFramesLeaveNothing) {
  const Bytes apduData = text("4539201877346610");
  CanaryLog log;
  {
    CardSleeve s(CardSleeve::Reader::OmniKey);
    ASSERT_TRUE(s.open(0x01));
    s.omniKey->insert(0, RfCard::desfire(hex("04010203040506")));
    ASSERT_TRUE(s.bench.runUntil([&] { return s.log->log().count("card:0:Unknown") == 1; }));
    Bytes apdu = hex("00A4040010");
    foundation::append(apdu, apduData);
    Error error;
    ASSERT_TRUE(onWorker(s.bench, [&] {
      s.facade->hidExecuteAPDU(0, apdu, &error);
      s.facade->hidReadPACSKeyboardWedge(0, &error);
    }));
  }
  expectNoLeak(log, {{"apdu data", apduData}});
}

// ---- Printer readers, the pinpad, hub readers -----------------------------------------------

TEST(CanaryLog, PrinterReadersAndPrinterKeysLeaveNothing) {
  const std::string pan = "6011384920571136";
  const Bytes key(32, 0x5D), next(32, 0xA9);
  CanaryLog log;
  {
    devices::PrinterTestBench b(devices::PrinterPersona::scanner());
    ASSERT_TRUE(b.connect());
    b.sim->model().queueCard("B" + pan + "^PRINTERCANARY/CARD^2812", pan + "=2812", "");
    b.sim->sendEvent(0x03);
    ASSERT_TRUE(b.delegate->log().waitFor([](const auto& l) {
      return std::any_of(l.begin(), l.end(), [](const std::string& s) { return s.rfind("magneticCardData", 0) == 0; });
    }));
    b.sim->model().setKey(KEY_AUTHENTICATION, key);
    EXPECT_TRUE(b.printer->cryptoAuthenticatePrinter(key));
    EXPECT_TRUE(b.printer->cryptoSetKey(KEY_AUTHENTICATION, next, key));
  }
  expectNoLeak(log, {{"pan", text(pan)}, {"holder", text("PRINTERCANARY")}, {"key", key}, {"next key", next}});
}

TEST(CanaryLog, PinpadCardsAndPinBlocksLeaveNothing) {
  const std::string pan = "4716093325887145";
  CanaryLog log;
  std::optional<Bytes> pinBlock;
  {
    devices::PinpadTestBench b;
    ASSERT_TRUE(b.connect());
    Bytes card = {0x00, 0xF1};
    foundation::append(card, text("B" + pan + "^PINPADCANARY/CARD^2512"));
    card.push_back(0xF2);
    foundation::append(card, text(pan + "=2512"));
    b.device->withModel([&](devices::PinpadModel& m) { m.nextCard = card; });
    b.device->sendEvent(0x06, {});
    ASSERT_TRUE(b.delegate->log().waitFor([](const auto& l) {
      return std::any_of(l.begin(), l.end(), [](const std::string& s) { return s.rfind("magneticCardData", 0) == 0; });
    }));
    // A PIN typed on the keypad.
    b.device->withModel([](devices::PinpadModel& m) { m.keypad.insert(m.keypad.end(), {7, 3, 8, 2, 9, 1, devices::pinpadkey::kEnter}); });
    ASSERT_EQ(b.pad->uiEnterPINStart(0, 40, 30, '*', 4, 12, std::string("PIN")), 0);
    ASSERT_TRUE(b.runUntil([&] { return b.delegate->log().count("PINEntryComplete:0") > 0; }));
  }
  expectNoLeak(log, {{"pan", text(pan)}, {"holder", text("PINPADCANARY")}, {"pin", text("738291")}});
}

TEST(CanaryLog, HubReadersLeaveNothing) {
  const std::string pan = "5425233430109903";
  CanaryLog log;
  {
    devices::SleeveTestBench bench;
    auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
    auto app = std::make_shared<CardLog>();
    api->addDelegate(app);
    devices::SimulatedHub hub(devices::SimulatedHub::identity(), bench.folder, 4);
    ASSERT_TRUE(hub.attach());
    ASSERT_TRUE(bench.runUntil([&] { return bench.registry->connectedAccessories().size() == 1; }));
    api->connect();
    hub.plugIn(3, "USB Swipe Reader|USB|com.magtek.msr");
    ASSERT_TRUE(bench.runUntil([&] {
      for (const auto& info : api->getConnectedDevicesInfo())
        if (info && info->deviceType == DEVICE_TYPE_USB_MSR) return true;
      return false;
    }));
    hub.swipeCard(3, "%B" + pan + "^HUBCANARY/CARD^2512101?", ";" + pan + "=2512101?", "");
    ASSERT_TRUE(app->log().waitForLine("swipe"));
    hub.detach();
    bench.runUntil([] { return GlobalQueue::running() == 0; });
  }
  expectNoLeak(log, {{"pan", text(pan)}, {"holder", text("HUBCANARY")}});
}

// ---- Bluetooth pairing ----------------------------------------------------------------------

TEST(CanaryLog, ABluetoothPairingPinLeavesNothing) {
  const std::string pin = "804617";
  CanaryLog log;
  {
    devices::SimulatedSleeve::Options o;
    o.config.name = "Pellan Pro";
    o.config.firmware = "2.81";
    devices::SleeveTestBench bench(o);
    bench.sleeve->withBT301([&](devices::SimulatedBT301& m) {
      m.remotes = {{"0001020304AB", "PP-750", "5A020C", devices::SimulatedBT301::Pairing::Pin, pin}};
    });
    ASSERT_TRUE(bench.connect());
    Error e;
    ASSERT_TRUE(bench.pellan->btConnect("00:01:02:03:04:AB", pin, &e)) << e.text;
    bench.pellan->btDisconnect("0001020304AB", nullptr);
    GlobalQueue::waitIdle();
  }
  expectNoLeak(log, {{"pin", text(pin)}});
}

}  // namespace canary_log_test
}  // namespace
}  // namespace kestra::testing
