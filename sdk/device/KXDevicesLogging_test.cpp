// Nothing secret reaches the log: with a handler installed, key blocks sent to the encrypted
// head and the tracks of swiped cards never appear in any line, in any form.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/foundation/Emsr.h"
#include "testing/devices/emsr/SimulatedEmsrHead.h"
#include "testing/devices/sleeve/SleeveSecurity.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {
namespace logging_test {

using devices::SimulatedSleeve;

class LogCapture {
 public:
  LogCapture() {
    KXUNISDKGlobals::setLogHandler([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogCapture() { KXUNISDKGlobals::setLogHandler({}); }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Lines holding `needle`, ignoring case (hex may be written either way).
  std::vector<std::string> linesWith(const std::string& needle) const {
    auto lower = [](std::string s) {
      std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
      return s;
    };
    std::vector<std::string> hits;
    for (const auto& l : lines())
      if (lower(l).find(lower(needle)) != std::string::npos) hits.push_back(l);
    return hits;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A sleeve whose encrypted head is simulated.
class HeadSleeve final : public KXSleeveDriver {
 public:
  int connstate() override { return 2; }
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) override {
    return sim::SimulatedEmsrHead::transport(&head, packet, length, reply, capacity, kEmsrTimeoutMs);
  }
  sim::SimulatedEmsrHead head;
};

class HeadFactory final : public KXDriverFactory {
 public:
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return sleeve; }
  std::shared_ptr<HeadSleeve> sleeve = std::make_shared<HeadSleeve>();
};

// Eight bytes that occur only in the test's key blocks.
const Bytes kKeyCanary = {0xC4, 0x7A, 0x11, 0x3E, 0x9D, 0x52, 0xB8, 0x06};

Bytes keyBlock(size_t size) {
  Bytes b;
  while (b.size() < size) b.insert(b.end(), kKeyCanary.begin(), kKeyCanary.end());
  b.resize(size);
  return b;
}

TEST(KXDevicesLogging, KeyBlocksSentToTheHeadAreNeverLogged) {
  LogCapture log;
  auto factory = std::make_shared<HeadFactory>();
  auto api = KXDevices::create(factory);
  api->connectionState(2);

  emsrSetKeyOld(api.get(), 0x20, keyBlock(48), 7);
  const Bytes load = [] {
    Bytes b = {0x23, 0x01};
    const Bytes k = keyBlock(96);
    b.insert(b.end(), k.begin(), k.end());
    return b;
  }();
  emsrLoadKey(api.get(), load.data(), int(load.size()));
  emsrLoadInitialKey(api.get(), load.data(), int(load.size()));

  // The commands did go through the device API (and were logged without their data).
  EXPECT_FALSE(log.linesWith("EMSR command").empty());
  const std::string hex = foundation::toHex(Bytes(kKeyCanary.begin(), kKeyCanary.begin() + 4));
  EXPECT_EQ(log.linesWith(hex), std::vector<std::string>{});
  EXPECT_EQ(log.linesWith(std::string(kKeyCanary.begin(), kKeyCanary.begin() + 4)), std::vector<std::string>{});
}

TEST(KXDevicesLogging, SwipedCardsNeverReachTheLog) {
  LogCapture log;
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto events = std::make_shared<CallLog>();
  auto app = std::make_shared<RecordingDelegate>(events, "app", std::vector<std::string_view>{kxsel::magneticCardData});
  api->addDelegate(app);
  ASSERT_TRUE(bench.connect());

  struct Card {
    std::optional<std::string> t1, t2, t3;
  };
  const Card cards[] = {
      {"%B5413330089099130^CANARY/CARDHOLDER^2512101123400001230?", "5413330089099130=25121011234000123?", {}},
      {{}, ";6011000990139424=2712?", "+7777731415926535897932384626?"},
  };
  for (const auto& c : cards) bench.sleeve->swipe(c.t1, c.t2, c.t3);
  ASSERT_TRUE(bench.runUntil([&] { return events->size() == 2; }));
  bench.sleeve->sendRawCard(foundation::bytesOf("5413330089099130"));
  ASSERT_TRUE(bench.runUntil([&] { return bench.delegate->log().count("magneticCardRawData:" +
                                                                        foundation::toHex(foundation::bytesOf(
                                                                            "5413330089099130"))) == 1; }));

  for (const char* secret : {"5413330089099130", "CANARY", "6011000990139424", "7777731415926535",
                             "35343133333330303839"})  // the number's text in hex
    EXPECT_EQ(log.linesWith(secret), std::vector<std::string>{}) << secret;
  EXPECT_FALSE(log.lines().empty());
}


TEST(KXDevicesLogging, EncryptedEmulatedAndPlainCardsNeverReachTheLog) {
  LogCapture log;
  const std::string pan = "4999887766554433";
  const std::string t1 = "%B" + pan + "^CANARYNAME/SECRET^2512101000000000?";
  const std::string t2 = ";" + pan + "=25121010000000000000?";
  auto events = std::make_shared<CallLog>();
  {
    SimulatedSleeve::Options options;
    options.config.model = "XBCMEV";
    devices::SleeveTestBench bench(options);
    devices::SleeveSecurity security(*bench.sleeve);
    security.head.setVersions(2001, 301);  // a head that may send demonstration-key data
    security.head.setTracksRead(3);
    security.head.setMaskedData(std::string("\x00\x10\x00\x00", 4) + "4999********4433");
    security.setCard({t1, t2, "%B4999********4433^CANARYNAME/SECRET^", ";4999********4433="});
    ASSERT_TRUE(bench.connect());
    Bytes encrypted = {0x13};
    foundation::append(encrypted, devices::SleeveSecurity::demoEncrypted(t1, t2));
    {
      // Through the device API: the head's data (decrypted there), the emulated card read,
      // a plain swipe.
      auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
      auto app = std::make_shared<RecordingDelegate>(events, "app",
                                                     std::vector<std::string_view>{kxsel::magneticCardData_source});
      api->addDelegate(app);
      bench.sleeve->sendEvent(1, 0x05, encrypted);
      ASSERT_TRUE(bench.runUntil([&] { return events->size() == 1; }));
      ASSERT_TRUE(bench.pellan->emv2SetCardEmulationMode(true, 2, 1));
      ASSERT_TRUE(bench.pellan->emv2StartTransactionWithFlags(0, std::nullopt));
      ASSERT_TRUE(bench.runUntil([&] { return events->size() == 2; }));
      bench.sleeve->swipe(t1, t2);
      ASSERT_TRUE(bench.runUntil([&] { return events->size() == 3; }));
      EXPECT_EQ(events->lines(), (std::vector<std::string>{"app:magneticCardData+source:" + t1 + "|" + t2 + "|nil|0",
                                                           "app:magneticCardData+source:" + t1 + "|" + t2 + "|nil|1",
                                                           "app:magneticCardData+source:" + t1 + "|" + t2 + "|nil|0"}));
    }
    // The sleeve on its own decrypts the head's demonstration-key data.
    bench.delegate->clear();
    bench.sleeve->sendEvent(1, 0x05, encrypted);
    ASSERT_TRUE(bench.delegate->log().waitForLine("magneticCardData:" + t1 + "," + t2 + ",(null)"));
  }
  for (const std::string& secret : {pan, std::string("CANARYNAME"), foundation::toHex(foundation::bytesOf(pan)),
                                    foundation::toHex(foundation::bytesOf("CANARYNAME"))})
    EXPECT_EQ(log.linesWith(secret), std::vector<std::string>{}) << secret;
  EXPECT_FALSE(log.linesWith("emv_event_transaction_finished").empty());
}

}  // namespace logging_test
}  // namespace
}  // namespace kestra::testing
