// Events that need further sleeve commands, from the simulated sleeve: encrypted card data
// (which form reaches which delegate, masked tracks, the demonstration-key road), EMV kernel
// events (user interface, online request and its automatic answer, the magnetic-card
// emulation) and contactless pass results.

#include <gtest/gtest.h>

#include "sdk/sleeve/Pellan.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra {
namespace {
namespace secure_events_test {

using devices::RecordingSecureDelegate;
using devices::SimulatedSleeve;
using devices::SleeveProtocol;
using devices::SleeveSecurity;
using devices::SleeveTestBench;
using foundation::Bytes;

Bytes hex(const char* text) { return *foundation::fromHex(text); }

const std::string kTrack1 = "%B4111111111111111^TEST/CARD^2512101000000000?";
const std::string kTrack2 = ";4111111111111111=25121010000000000000?";

struct SecureEvents : ::testing::Test {
  explicit SecureEvents(const std::string& model = "XBCMEV", int headFirmware = 214)
      : bench([&] {
          SimulatedSleeve::Options o;
          o.config.model = model;
          return o;
        }()),
        security(*bench.sleeve) {
    security.head.setVersions(headFirmware, 301);
    security.setOnlineRequestOnStart(false);
  }
  void SetUp() override { ASSERT_TRUE(bench.connect()); }

  std::shared_ptr<RecordingSecureDelegate> listen(std::vector<std::string_view> selectors, std::string tag = {}) {
    auto d = std::make_shared<RecordingSecureDelegate>(std::move(selectors), std::move(tag));
    bench.pellan->addDelegate(d);
    return d;
  }
  // Sends an event and runs the main queue until the sleeve's own recorder and `d` are idle:
  // a marker event sent after it on the same channel (a barcode on the sleeve's channel, a
  // plain swipe on the reader's) arrives last.
  void sendAndSettle(int channel, uint8_t code, const Bytes& payload) {
    bench.sleeve->sendEvent(channel, code, payload);
    std::string marker;
    if (channel == 0) {
      bench.sleeve->sendBarcode("END");
      marker = "kxdev_barcodeData:" + foundation::toHex(foundation::bytesOf("TEND"));
    } else {
      bench.sleeve->swipe(std::nullopt, std::string(";END?"));
      marker = "magneticCardData:(null),;END?,(null)";
    }
    ASSERT_TRUE(bench.runUntil([&] {
      for (const auto& c : bench.delegate->calls())
        if (c == marker) return true;
      return false;
    }));
    bench.delegate->clear();
  }

  SleeveTestBench bench;
  SleeveSecurity security;
};

// ---- Contactless passes ---------------------------------------------------------------------

TEST_F(SecureEvents, PassResultsBecomeEmvStyleRecordsAfterClosingTheReader) {
  struct Case {
    const char* name;
    uint8_t code;
    Bytes payload;
    std::vector<std::string> events;
  } cases[] = {
      {"short result", 0x47, hex("9000"), {"kxdev_emv2Event:8300C1021000"}},
      {"wallet pass", 0x47, hex("9000AABB"), {"kxdev_emv2Event:8800000000009000AABB", "kxdev_emv2Event:8300C1029000"}},
      {"google marker inside", 0x47, hex("6A82DF81C90601"),
       {"kxdev_emv2Event:8900000000006A82DF81C90601", "kxdev_emv2Event:8300C1026A82"}},
      {"google result", 0x49, hex("900001"), {"kxdev_emv2Event:890000000000900001", "kxdev_emv2Event:8300C1029000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = listen({sel::kxdev_emv2Event});
    const size_t closes = security.vasCommands().size();
    sendAndSettle(0, c.code, c.payload);
    EXPECT_EQ(d->calls(), c.events);
    ASSERT_EQ(security.vasCommands().size(), closes + 1);
    EXPECT_EQ(foundation::toHex(security.vasCommands().back()), "4600");
    bench.pellan->removeDelegate(d);
  }
}

// ---- Encrypted head -----------------------------------------------------------------------------

TEST_F(SecureEvents, EncryptedCardReachesOnlyTheMostSpecificFormThatHasATaker) {
  security.head.setTracksRead(3);
  security.head.setMaskedData(std::string("\x00\x06\x02\x00", 4) + "M1MASK" + "M2");
  const Bytes event = hex("0B0102030405");  // algorithm 1, tracks 1 and 2
  const std::string data = "1,3,0102030405";
  using S = std::vector<std::string_view>;
  struct Case {
    const char* name;
    std::vector<S> delegates;  // registered in this order
    std::vector<std::string> calls;
  } cases[] = {
      {"device API form: first taker only (the last registered)",
       {S{sel::kxdev_magneticCardEncryptedData}, S{sel::kxdev_magneticCardEncryptedData},
        S{sel::magneticCardEncryptedData_masked}},
       {"1:kxdev_magneticCardEncryptedData:" + data + ",M1MASK,M2,(null),0"}},
      {"seven arguments beat six and three",
       {S{sel::magneticCardEncryptedData_masked_source}, S{sel::magneticCardEncryptedData_tracks},
        S{sel::magneticCardEncryptedData_masked_source}},
       {"2:magneticCardEncryptedData7:" + data + ",M1MASK,M2,(null),0",
        "0:magneticCardEncryptedData7:" + data + ",M1MASK,M2,(null),0"}},
      {"six beat two", {S{sel::magneticCardEncryptedData_data}, S{sel::magneticCardEncryptedData_masked}},
       {"1:magneticCardEncryptedData6:" + data + ",M1MASK,M2,(null)"}},
      {"three", {S{sel::magneticCardEncryptedData_tracks}}, {"0:magneticCardEncryptedData3:" + data}},
      {"two", {S{sel::magneticCardEncryptedData_data}}, {"0:magneticCardEncryptedData2:1,0102030405"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::shared_ptr<RecordingSecureDelegate>> ds;
    for (size_t i = 0; i < c.delegates.size(); ++i) ds.push_back(listen(c.delegates[i], std::to_string(i) + ":"));
    sendAndSettle(1, 0x05, event);
    std::vector<std::string> calls;
    for (auto it = ds.rbegin(); it != ds.rend(); ++it)
      for (const auto& line : (*it)->calls()) calls.push_back(line);
    EXPECT_EQ(calls, c.calls);
    for (auto& d : ds) bench.pellan->removeDelegate(d);
  }
}

TEST_F(SecureEvents, MaskedTracksOfAlgorithms3And11ComeFromTheDataItself) {
  auto d = listen({sel::kxdev_magneticCardEncryptedData});
  security.head.clearRequests();
  // Algorithm 3: data [y][x][L1][L2][L3][track 1][track 2].
  sendAndSettle(1, 0x05, hex("1B" "FF00050200" "2542343131" "3D31"));
  ASSERT_EQ(d->calls().size(), 1u);
  EXPECT_EQ(d->calls()[0], "kxdev_magneticCardEncryptedData:3,3,FF000502002542343131" "3D31,%B411,=1,(null),0");
  EXPECT_TRUE(security.head.requests().empty());  // the head was not asked for masked data
}

struct SecureEventsDemoHead : SecureEvents {
  SecureEventsDemoHead() : SecureEvents("XBCMEV", 2001) {}
};

TEST_F(SecureEventsDemoHead, DemonstrationKeyDataIsDecryptedIntoAPlainSwipe) {
  auto old = listen({sel::magneticCardEncryptedData_tracks});
  Bytes event = {0x13};  // algorithm 2, tracks 1 and 2
  foundation::append(event, SleeveSecurity::demoEncrypted(kTrack1, kTrack2));
  bench.sleeve->sendEvent(1, 0x05, event);
  ASSERT_TRUE(bench.delegate->log().waitForLine("magneticCardData:" + kTrack1 + "," + kTrack2 + ",(null)"));
  EXPECT_TRUE(old->calls().empty());

  // A block that does not decrypt to tracks goes on encrypted.
  Bytes bad = {0x13};
  foundation::append(bad, Bytes(32, 0x5A));
  sendAndSettle(1, 0x05, bad);
  ASSERT_EQ(old->calls().size(), 1u);
  EXPECT_EQ(old->calls()[0], "magneticCardEncryptedData3:2,3," + foundation::toHex(Bytes(32, 0x5A)));
}

TEST_F(SecureEvents, DemonstrationKeyDataGoesOnEncryptedBelowHeadFirmware2000) {
  auto old = listen({sel::magneticCardEncryptedData_tracks});
  const Bytes encrypted = SleeveSecurity::demoEncrypted(kTrack1, kTrack2);
  Bytes event = {0x13};
  foundation::append(event, encrypted);
  sendAndSettle(1, 0x05, event);
  ASSERT_EQ(old->calls().size(), 1u);
  EXPECT_EQ(old->calls()[0], "magneticCardEncryptedData3:2,3," + foundation::toHex(encrypted));
}

TEST(PellanDecryptDummyData, TheFirstZeroWithAMatchingCrcAfterTheHeaderEndsTheTracks) {
  auto block = [](Bytes body, bool validCrc) {
    Bytes b(20, 0x11);
    foundation::append(b, body);
    b.push_back(0x00);
    const uint16_t crc = SleeveSecurity::crc16(b.data(), b.size());
    b.push_back(uint8_t(crc >> 8));
    b.push_back(uint8_t(validCrc ? crc : crc ^ 0xFF));
    // Padding without zeros: a zero after a valid CRC would match again (the CRC over a
    // message and its own CRC is 0).
    while (b.size() % 16) b.push_back(0xEE);
    return SleeveSecurity::aes(SleeveSecurity::demoKey(), b, true);
  };
  struct Case {
    const char* name;
    Bytes data;
    std::optional<std::string> record;
  } cases[] = {
      {"tracks", block(hex("F1414243F2313233"), true), "01020000F1414243F2313233"},
      // A zero inside the tracks whose next two bytes are no CRC is part of the tracks.
      {"zero inside", block(hex("F141000102F231"), true), "01020000F141000102F231"},
      {"no matching CRC", block(hex("F1414243"), false), std::nullopt},
      // The CRC's zero at index 20 belongs to the header: an empty track buffer is no match.
      {"zero at the header's end", block({}, true), std::nullopt},
      {"not whole blocks", Bytes(15, 0x00), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = Pellan::decryptDummyData(c.data, SleeveSecurity::demoKey());
    EXPECT_EQ(record ? std::optional<std::string>(foundation::toHex(*record)) : std::nullopt, c.record);
  }
}

struct SecureEventsPlainHead : SecureEvents {
  SecureEventsPlainHead() : SecureEvents("XBAM") {}
};

TEST_F(SecureEventsPlainHead, AlgorithmZeroThatDoesNotReadAsACardIsTakenAsEncrypted) {
  auto old = listen({sel::magneticCardEncryptedData_tracks});
  struct Case {
    const char* name;
    Bytes tracks;
    bool plain;
  } cases[] = {
      {"card tracks", [] { Bytes b = {0xF1}; foundation::append(b, kTrack1); b.push_back(0xF2); foundation::append(b, kTrack2); return b; }(), true},
      {"track 1 without %B", [] { Bytes b = {0xF1}; foundation::append(b, std::string("XYZ")); return b; }(), false},
      {"no tracks at all", hex("0102030405"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    old->clear();
    Bytes event = {0x03};  // algorithm 0, tracks 1 and 2
    foundation::append(event, c.tracks);
    bench.sleeve->sendEvent(1, 0x05, event);
    // The card comes on the reader's channel, so a marker on the barcode channel says nothing
    // of its order: the test waits for the card's own delivery, in whichever form.
    std::vector<std::string> plain;
    ASSERT_TRUE(bench.runUntil([&] {
      plain.clear();
      for (const auto& l : bench.delegate->calls())
        if (l.rfind("magneticCardData:", 0) == 0) plain.push_back(l);
      return !plain.empty() || !old->calls().empty();
    }));
    bench.delegate->clear();
    if (c.plain) {
      EXPECT_EQ(plain, std::vector<std::string>{"magneticCardData:" + kTrack1 + "," + kTrack2 + ",(null)"});
      EXPECT_TRUE(old->calls().empty());
    } else {
      EXPECT_TRUE(plain.empty());
      EXPECT_EQ(old->calls(), std::vector<std::string>{"magneticCardEncryptedData3:2,3," + foundation::toHex(c.tracks)});
    }
  }
}

// ---- EMV kernel ------------------------------------------------------------------------------------

TEST_F(SecureEvents, UserInterfaceEventsInTlvAndFixedForm) {
  auto d = listen({sel::kxdev_emv2Event, sel::emv2OnUserInterfaceCode, sel::emv2OnTransactionFinished});
  struct Case {
    const char* name;
    Bytes payload;
    std::string call;
  } cases[] = {
      {"TLV form", hex("8200C1020005C207000003000001F4"), "emv2OnUserInterfaceCode:5,3,500"},
      {"TLV form without C2", hex("8200C1020006"), "emv2OnUserInterfaceCode:6,-1,-1"},
      {"fixed form", hex("82000007020064"), "emv2OnUserInterfaceCode:7,2,100"},
      {"fixed form without status", hex("82000009"), "emv2OnUserInterfaceCode:9,-1,-1"},
      {"card removed", hex("82000018"), "emv2OnTransactionFinished:(null)"},
      {"too short for a code", hex("8200"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d->clear();
    sendAndSettle(0, 0x38, c.payload);
    std::vector<std::string> expected = {"kxdev_emv2Event:" + foundation::toHex(c.payload)};
    if (!c.call.empty()) expected.push_back(c.call);
    EXPECT_EQ(d->calls(), expected);
  }
}

TEST_F(SecureEvents, OnlineRequestIsAnsweredByTheDriverOnlyInEmulationWithNobodyToAsk) {
  const Bytes request = hex("81009F02060000000012345A0841111111");
  struct Case {
    const char* name;
    bool emulation;
    bool listener;
    bool autoAnswer;
  } cases[] = {
      {"emulation, nobody listening", true, false, true},
      {"emulation, a listener", true, true, false},
      {"no emulation, nobody listening", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(bench.pellan->emv2SetCardEmulationMode(c.emulation, 2, 1));
    std::shared_ptr<RecordingSecureDelegate> d;
    if (c.listener) d = listen({sel::emv2OnOnlineProcessing});
    const size_t before = security.kernelPackets().size();
    sendAndSettle(0, 0x38, request);
    const auto packets = security.kernelPackets();
    if (c.autoAnswer) {
      ASSERT_EQ(packets.size(), before + 1);
      EXPECT_EQ(foundation::toHex(packets.back()), "0400C20101E6048A023030");
    } else {
      EXPECT_EQ(packets.size(), before);
    }
    if (d) {
      EXPECT_EQ(d->calls(), std::vector<std::string>{"emv2OnOnlineProcessing:9F02060000000012345A0841111111"});
      bench.pellan->removeDelegate(d);
    }
    // The driver's own answer ends the transaction: let its finished event pass.
    if (c.autoAnswer) sendAndSettle(0, 0x25, hex("02"));
  }
}

TEST_F(SecureEvents, TransactionTagsCollectFromStartToFinish) {
  auto d = listen({sel::emv2OnTransactionFinished});
  ASSERT_TRUE(bench.pellan->emv2SetTransactionType(0, 100, 840));
  ASSERT_TRUE(bench.pellan->emv2StartTransactionWithFlags(0, std::nullopt));
  sendAndSettle(0, 0x38, hex("81005A021234"));
  sendAndSettle(0, 0x38, hex("8300C1020100"));
  EXPECT_EQ(d->calls(),
            std::vector<std::string>{"emv2OnTransactionFinished:9C01009F02060000000001005F2A020840" "5A021234" "C1020100"});
}

TEST_F(SecureEvents, EmulationTurnsAnApprovedCardReadIntoEncryptedCardDataForEveryTaker) {
  security.setOnlineRequestOnStart(true);
  security.setCard({kTrack1, kTrack2, "%B4111********1111^TEST/CARD^", ";4111********1111="});
  auto first = listen({sel::kxdev_magneticCardEncryptedData}, "A:");
  auto second = listen({sel::kxdev_magneticCardEncryptedData, sel::emv2OnTransactionFinished}, "B:");
  ASSERT_TRUE(bench.pellan->emv2SetCardEmulationMode(true, 2, 1));
  ASSERT_TRUE(bench.pellan->emv2SetTransactionType(0, 1234, 978));
  // Start: the kernel asks for authorisation, the driver approves, the kernel finishes.
  ASSERT_TRUE(bench.pellan->emv2StartTransactionWithFlags(0, std::nullopt));
  ASSERT_TRUE(bench.runUntil([&] { return first->count() >= 1 && second->count() >= 2; }));

  const std::string data = foundation::toHex(SleeveSecurity::demoEncrypted(kTrack1, kTrack2));
  const std::string card = "kxdev_magneticCardEncryptedData:2,3," + data +
                           ",%B4111********1111^TEST/CARD^,;4111********1111=,(null),1";
  EXPECT_EQ(first->calls(), std::vector<std::string>{"A:" + card});
  ASSERT_EQ(second->calls().size(), 2u);
  EXPECT_EQ(second->calls()[0].rfind("B:emv2OnTransactionFinished:9C0100", 0), 0u);
  EXPECT_EQ(second->calls()[1], "B:" + card);
  // The card read was asked for in the chosen format and key, then the kernel was closed.
  std::vector<std::string> subs;
  for (const auto& p : security.kernelPackets()) subs.push_back(foundation::toHex(Bytes(p.begin(), p.begin() + 1)));
  EXPECT_EQ(subs, (std::vector<std::string>{"03", "04", "06", "08", "62"}));
  EXPECT_FALSE(security.kernelInitialised());
  EXPECT_TRUE(first->allOnMainThread());
  EXPECT_TRUE(second->allOnMainThread());
}

TEST_F(SecureEvents, EmulationDropsATransactionThatWasNotApproved) {
  security.setOnlineRequestOnStart(true);
  security.setFinishedStatus(0x0C00);
  auto d = listen({sel::kxdev_magneticCardEncryptedData, sel::emv2OnTransactionFinished});
  ASSERT_TRUE(bench.pellan->emv2SetCardEmulationMode(true, 2, 1));
  ASSERT_TRUE(bench.pellan->emv2StartTransactionWithFlags(0, std::nullopt));
  ASSERT_TRUE(bench.runUntil([&] { return d->count() >= 1; }));
  sendAndSettle(0, 0x25, hex("02"));
  EXPECT_EQ(d->calls(), std::vector<std::string>{"emv2OnTransactionFinished:(null)"});
  for (const auto& p : security.kernelPackets()) EXPECT_NE(p[0], 0x06);
}

}  // namespace secure_events_test
}  // namespace
}  // namespace kestra
