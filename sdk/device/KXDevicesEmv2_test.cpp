// The device API's EMV kernel commands, transactions and kernel events, over fake drivers
// that carry a fake kernel.

#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/device/KXDevicesEmv2Fixture.h"

namespace kestra::testing {
namespace {

using Lines = std::vector<std::string>;

bool hasPrefix(const Lines& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

// ---- Routing and session ----------------------------------------------------------------------------

TEST(KXDevicesEmv2, CommandsGoToTheSleeveBeforeThePinpadAndFailWithoutAKernel) {
  struct Case {
    const char* name;
    int sleeveState, sleeveFeature, pinpadState, pinpadFeature, active;
    const char* expected;  // "sleeve", "pinpad" or the error code
  };
  const Case cases[] = {
      {"both with a kernel, automatic", 2, 6, 2, 6, -1, "sleeve"},
      {"newer kernel in the sleeve", 2, 4, 2, 6, -1, "sleeve"},
      {"sleeve without a kernel", 2, 0, 2, 2, -1, "pinpad"},
      {"sleeve chosen but without a kernel", 2, 0, 2, 6, 0, "-7"},
      {"pinpad chosen", 2, 6, 2, 6, 2, "pinpad"},
      {"pass reader only", 2, 8, 0, 0, -1, "-7"},
      {"nothing connected", 0, 6, 0, 6, -1, "-20"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Emv2Api f;
    f.sleeveKernel.intoSleeve(*f.drivers.sleeve, c.sleeveFeature);
    f.pinpadKernel.intoPinpad(*f.drivers.pinpad, c.pinpadFeature);
    if (c.sleeveState) f.sleeveState(c.sleeveState);
    if (c.pinpadState) f.pinpadState(c.pinpadState);
    if (c.active != -1) {
      ASSERT_TRUE(f.api->setActiveDeviceType(c.active));
    }
    const Bytes info = {0x02, 0x00};
    Error error;
    auto reply = f.api->emv2Command(info.data(), 2, true, &error);
    const std::string got = reply ? (f.sleeveKernel.count("0200") ? "sleeve" : "pinpad") : std::to_string(error.code);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(f.sleeveKernel.count("0200") + f.pinpadKernel.count("0200"), reply ? 1u : 0u);
  }
}

TEST(KXDevicesEmv2, KernelIsInitialisedOnceBeforeTheFirstUnforcedCommand) {
  Emv2Api f;
  f.sleeveWithKernel();
  ASSERT_TRUE(f.api->emv2GetInfo());
  ASSERT_TRUE(f.api->emv2GetInfo());
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"6100", "0200", "0200"}));
  EXPECT_TRUE(f.api->emv2Initialise());
  EXPECT_EQ(f.sleeveKernel.count("6100"), 1u);

  // Closing sends 62 00 once; closing a closed session sends nothing.
  EXPECT_TRUE(f.api->emv2Deinitialise());
  EXPECT_TRUE(f.api->emv2Deinitialise());
  EXPECT_EQ(f.sleeveKernel.count("6200"), 1u);

  // Cancelling a closed session opens none to cancel.
  EXPECT_TRUE(f.api->emv2CancelTransaction());
  EXPECT_EQ(f.sleeveKernel.count("6100"), 1u);
  EXPECT_EQ(f.sleeveKernel.count("0500"), 0u);

  // The initialise command itself never initialises first.
  f.sleeveKernel.clear();
  const Bytes init = {0x61, 0x00};
  EXPECT_TRUE(f.api->emv2Command(init.data(), 2));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"6100"}));
}

TEST(KXDevicesEmv2, FailedInitialisationFailsTheCommandWithItsError) {
  Emv2Api f;
  f.sleeveWithKernel();
  f.sleeveKernel.failing = {0x61};
  Error error;
  EXPECT_FALSE(f.api->emv2GetInfo(&error));
  EXPECT_EQ(error.code, -11);
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"6100"}));

  // A pinpad kernel's status becomes the pinpad error.
  Emv2Api p;
  p.pinpadWithKernel();
  p.pinpadKernel.failing = {0x02};
  EXPECT_FALSE(p.api->emv2GetInfo(&error));
  EXPECT_EQ(error.code, -16503);
}

TEST(KXDevicesEmv2, TipEntryIsSentForcedWithOrWithoutItsCurrency) {
  Emv2Api f;
  f.sleeveWithKernel();
  EXPECT_TRUE(f.api->emv2EnterTipWithAmount(1000, 100, 30.9, 0));
  EXPECT_TRUE(f.api->emv2EnterTipWithAmount(1000, 100, 30.0, 978));
  EXPECT_TRUE(f.api->emv2EnterTipCancel());
  EXPECT_EQ(f.sleeveKernel.commands(),
            (Lines{"0C0001000003E800000064001E", "0C0001000003E800000064001E03D2", "0C0002"}));
}

TEST(KXDevicesEmv2, ApplicationChoiceAndCustomCommandBytes) {
  Emv2Api f;
  f.sleeveWithKernel();
  ASSERT_TRUE(f.api->emv2Initialise());
  f.sleeveKernel.clear();
  EXPECT_TRUE(f.api->emv2SelectApplication(2));
  EXPECT_TRUE(f.api->emv2ShowApplicationList({}));
  EXPECT_TRUE(f.api->emv2ShowApplicationList({3, 1}));
  EXPECT_TRUE(f.api->emv2EnableDebug(true));
  EXPECT_TRUE(f.api->emv2CustomCommand(0x40, {0xAA}));
  Error error;
  EXPECT_FALSE(f.api->emv2ShowApplicationList(std::vector<int>(254, 1), &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_FALSE(f.api->emv2CustomCommand(0x40, Bytes(1025, 0), &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"0A0002", "0A00FF", "0A00FF0301", "7100", "4000AA"}));
  // The pinpad form of debug needs the pinpad.
  EXPECT_FALSE(f.api->ppadEnableDebug(true, 5, &error));
  EXPECT_EQ(error.code, -7);
}

TEST(KXDevicesEmv2, CardEmulationKeyIDFollowsTheDeviceThatEncrypts) {
  struct Case {
    const char* name;
    bool sleeve, pinpad;
    int algorithm, keyID, stored;
  };
  const Case cases[] = {
      {"sleeve, algorithm 4", true, false, 4, 2, 34},
      {"pinpad, algorithm 4", false, true, 4, 33, 1},
      {"both: down, then up", true, true, 3, 40, 40},
      {"algorithm 2 unchanged", true, false, 2, 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Emv2Api f;
    if (c.sleeve) f.sleeveState(2);
    if (c.pinpad) f.pinpadState(2);
    EXPECT_TRUE(f.api->emv2SetCardEmulationMode(true, c.algorithm, c.keyID));
    EXPECT_EQ(f.api->emv2State().keyID, c.stored);
  }
}

TEST(KXDevicesEmv2, MessageItemsReplaceTheirIDAndConvertByFont) {
  EXPECT_EQ(foundation::toHex(*emv2MakeUITag(1, "\xC3\xA9", 3)->data), "000103C3A900");
  EXPECT_EQ(foundation::toHex(*emv2MakeUITag(1, "\xC3\xA9", 0)->data), "0001003F00");
  EXPECT_EQ(foundation::toHex(*emv2MakeUITag(0x102, std::nullopt, 7)->data), "01020700");
  EXPECT_FALSE(emv2MakeUITag(1, std::string(253, 'a'), 0));
  EXPECT_TRUE(emv2MakeUITag(1, std::string(252, 'a'), 0));
  EXPECT_FALSE(emv2MakeUISoundTag(1, Bytes(255, 1)));

  Emv2Api f;
  f.sleeveWithKernel();
  EXPECT_TRUE(f.api->emv2SetMessageForID(1, 0, "A"));
  EXPECT_TRUE(f.api->emv2SetMessageForID(2, 0, "B"));
  EXPECT_TRUE(f.api->emv2SetMessageForID(1, 0, "C"));
  EXPECT_TRUE(f.api->emv2SetMessageSoundForID(9, Bytes{0x10}));
  Error error;
  EXPECT_FALSE(f.api->emv2SetMessageForID(3, 0, std::string(300, 'x'), &error));
  EXPECT_EQ(error.code, -9);
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30));
  const std::string start = f.sleeveKernel.commands().back();
  EXPECT_NE(start.find("E60EC0050002004200C0050001004300E705C003000910"), std::string::npos) << start;

  // A finished transaction drops them.
  f.api->kxdev_emv2Event(hexBytes("8300C1020800"));
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30));
  EXPECT_EQ(f.sleeveKernel.commands().back().find("E6"), std::string::npos);
}

// ---- Transaction start -------------------------------------------------------------------------------

TEST(KXDevicesEmv2, StartCommandCarriesTheOptionsUnlessInitDataGivesThem) {
  Emv2Api f;
  f.sleeveWithKernel();
  ASSERT_TRUE(f.api->emv2SetTransactionType(0, 1234, 978));
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 3, 300));
  EXPECT_EQ(f.sleeveKernel.commands(),
            (Lines{"6100",
                   "030002F59C01009F02060000000012345F2A020978C7020303C10100C30400000000C403040407D20400000000"}));
  EXPECT_TRUE(f.api->emvActive());
  EXPECT_EQ(f.drivers.log->count("sleeve.emsrSetActiveHead:1"), 1u);
  EXPECT_EQ(f.drivers.log->count("sleeve.emsrSetActiveHead:0"), 1u);

  // Options set since, and initData items that suppress theirs.
  f.sleeveKernel.clear();
  ASSERT_TRUE(f.api->emv2SetPINOptions(7, 3));  // no such interface: nothing changes
  ASSERT_TRUE(f.api->emv2SetPINOptions(5, 2));
  ASSERT_TRUE(f.api->emv2SetManualEntryOptionsEnableCVV(false, true));
  ASSERT_TRUE(f.api->emv2SetOnCardReadOptions(0x101, 2, 3));
  f.api->emv2State().mask.includeSentinels = false;
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(5, 0, hexBytes("9F0206000000000500C10103"), 30));
  EXPECT_EQ(f.sleeveKernel.commands(),
            (Lines{"0300051E9C01005F2A020978C70200009F0206000000000500C10103C30400050000C403040407D204010203"
                   "00CB0101"}));
}

TEST(KXDevicesEmv2, StartTimeoutByte) {
  struct Case {
    double seconds;
    uint8_t expected;
  };
  for (const auto& c : std::vector<Case>{{30, 30}, {30.9, 30}, {240, 240}, {300, 245}, {959, 255}, {1000, 255}, {-1, 0}}) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(emv2TimeoutByte(c.seconds), c.expected);
  }
}

TEST(KXDevicesEmv2, OlderKernelStartsWithoutInterfaceAndIsCancelledByItsTimer) {
  foundation::ScopedManualClock clock;
  Emv2Api f;
  f.sleeveWithKernel(2);
  auto app = f.emvDelegate({kxsel::emv2OnTransactionFinished});
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"6100", "03009C01009F02060000000000005F2A020000C7020000"}));
  clock->advance(std::chrono::seconds(29));
  foundation::RunLoop::main().runOnce(foundation::Duration::zero());
  EXPECT_EQ(f.sleeveKernel.count("0500"), 0u);
  clock->advance(std::chrono::seconds(1));
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return f.sleeveKernel.count("6200") == 1; }));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"6100", "03009C01009F02060000000000005F2A020000C7020000", "0500", "6200"}));
  EXPECT_FALSE(f.api->emvActive());
}

TEST(KXDevicesEmv2, PinpadEventsAreMaskedForTheInterfacesAndRestoredAtTheEnd) {
  Emv2Api f;
  f.pinpadWithKernel();
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(5, 0, std::nullopt, 30));
  EXPECT_EQ(f.drivers.pinpad->events, 0xFFFFFFFFu & ~0x1C0u);
  f.api->kxdev_emv2Event(hexBytes("8300C1020800"));
  EXPECT_TRUE(f.api->emv2Deinitialise());
  EXPECT_EQ(f.drivers.pinpad->events, 0xFFFFFFFFu);
  EXPECT_EQ(f.drivers.log->count("pinpad.msStart"), 1u);
}

TEST(KXDevicesEmv2, PassReaderRunsTheSessionAndEndsItAtItsTimeout) {
  foundation::ScopedManualClock clock;
  Emv2Api f;
  f.sleeveWithKernel(8);
  auto app = f.emvDelegate({kxsel::emv2OnUserInterfaceCode, kxsel::emv2OnTransactionFinished});
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, hexBytes("E0020100"), 5));
  EXPECT_EQ(f.drivers.log->count("sleeve.vasInitWIthData"), 1u);
  ASSERT_TRUE(f.events->waitForLine("app:ui:21,0,0"));
  EXPECT_TRUE(f.api->emvActive());
  clock->advance(std::chrono::seconds(5));
  ASSERT_TRUE(f.events->waitForLine("app:emv2OnTransactionFinished:C1021000C40101"));
  EXPECT_EQ(f.drivers.log->count("sleeve.vasClose"), 1u);
  EXPECT_TRUE(f.sleeveKernel.commands().empty());  // a pass reader has no kernel to command
  EXPECT_FALSE(f.api->emvActive());
}

TEST(KXDevicesEmv2, DisconnectDuringATransactionFinishesIt) {
  Emv2Api f;
  f.sleeveWithKernel();
  auto app = f.emvDelegate({kxsel::emv2OnTransactionFinished});
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30));
  f.sleeveState(0);
  EXPECT_EQ(f.lines(), (Lines{"app:emv2OnTransactionFinished:C1021000C40102"}));
  EXPECT_FALSE(f.api->emvActive());
  EXPECT_FALSE(f.api->emvInit());
}

// ---- Kernel events -----------------------------------------------------------------------------------

struct EventCase {
  const char* name;
  std::vector<std::string_view> selectors;  // what the application answers
  bool emulation;
  const char* packet;
  Lines callbacks;
  Lines commands;  // sent to the kernel by the event (after the start)
};

TEST(KXDevicesEmv2, KernelEventsBecomeDelegateCalls) {
  const std::vector<std::string_view> all = {
      kxsel::emv2OnTransactionStarted,  kxsel::emv2OnUserInterfaceCode,    kxsel::emv2OnApplicationSelection,
      kxsel::emv2OnOnlineProcessing,    kxsel::emv2OnAppleVASProcessedWithResult,
      kxsel::emv2OnGoogleVASProcessedWithResult, kxsel::emv2OnCardReadWithData, kxsel::emv2OnTransactionFinished,
      kxsel::emv2CardEventOnInterface,  kxsel::emv2TipEntryCompletWithAmount, kxsel::emv2TipEntryFailedWithError,
      kxsel::PINEntryCompleteWithError};
  const std::vector<std::string_view> finishOnly = {kxsel::emv2OnTransactionFinished, kxsel::emv2CardEventOnInterface};
  const EventCase cases[] = {
      {"card error on the contact interface cancels and finishes", all, false, "85000003",
       {"app:cardEvent:1,3", "app:emv2OnTransactionFinished:C1020100C30101C40163"}, {"0500", "6200"}},
      {"card event interfaces are bit values", all, false, "85000101", {"app:cardEvent:2,1"}, {}},
      {"magnetic interface", all, false, "85000205", {"app:cardEvent:4,5"}, {}},
      {"online request to the application", all, false, "81009F0201FF", {"app:online:9F0201FF"}, {}},
      {"online request unanswered outside emulation", finishOnly, false, "81009F0201FF", {}, {}},
      {"online request unanswered in emulation is approved", finishOnly, true, "81009F0201FF", {},
       {"0400C20101E6048A023030"}},
      {"PIN entered reported with the request", all, false, "8100C20101",
       {"app:PINEntryComplete:nil", "app:online:C20101"}, {}},
      {"user interface, raw form without status", all, false, "82000015", {"app:ui:21,-1,-1"}, {}},
      {"user interface, raw form", all, false, "820000150301F4", {"app:ui:21,3,500", "app:started"}, {}},
      {"user interface, TLV form", all, false, "8200C1020016C207000002000001F4", {"app:ui:22,2,500"}, {}},
      {"application selection", all, false, "8600AABB", {"app:appSelection:AABB"}, {}},
      {"application selection unanswered selects the first", finishOnly, false, "8600AABB", {}, {"0A0000"}},
      {"Apple pass", all, false, "880000000000000101AB", {"app:appleVAS:1:01AB"}, {}},
      {"Google pass", all, false, "89000000000000020C", {"app:googleVAS:2:0C"}, {}},
      {"tip entered", all, false, "8B0000000001F4", {"app:tip:500"}, {}},
      {"tip failed", all, false, "8B0005", {"app:tipFailed:-16505"}, {}},
      {"card read", all, false, "8C005A01", {"app:cardRead:5A01"}, {}},
      {"unknown event", all, false, "8700AA", {}, {}},
      // Packets too short for what they carry are ignored, or reported as a length error.
      {"short card event", all, false, "850000", {}, {}},
      {"short user interface", all, false, "820000", {}, {}},
      {"short pass result", all, false, "8800000000", {}, {}},
      {"short tip", all, false, "8B0000", {"app:tipFailed:-6"}, {}},
      {"empty tip", all, false, "8B00", {"app:tipFailed:-6"}, {}},
      {"one byte", all, false, "83", {}, {}},
      {"user interface without its code", all, false, "8200C10100", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Emv2Api f;
    f.sleeveWithKernel();
    auto app = f.emvDelegate(c.selectors);
    if (c.emulation) {
      ASSERT_TRUE(f.api->emv2SetCardEmulationMode(true, 2, 1));
    }
    ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30));
    if (c.emulation) {
      std::lock_guard lock(f.api->emv2State().mutex);
      f.api->emv2State().msEmulation = true;
    }
    f.sleeveKernel.clear();
    f.api->kxdev_emv2Event(hexBytes(c.packet));
    Lines got = f.lines();
    for (auto& l : got)
      if (l.rfind("app:PINEntryComplete:", 0) == 0 && l != "app:PINEntryComplete:nil") l = "app:PINEntryComplete:err";
    EXPECT_EQ(got, c.callbacks);
    EXPECT_EQ(f.sleeveKernel.commands(), c.commands);
  }
}

TEST(KXDevicesEmv2, FinishWithPinTimeoutReportsThePinEntryFirstAndCarriesAllTags) {
  Emv2Api f;
  f.sleeveWithKernel();
  auto app = f.emvDelegate({kxsel::emv2OnTransactionFinished, kxsel::PINEntryCompleteWithError,
                            kxsel::emv2OnOnlineProcessing});
  ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30));
  f.api->kxdev_emv2Event(hexBytes("81005A021234"));
  f.api->kxdev_emv2Event(hexBytes("8300C4010595020000"));
  const Lines got = f.lines();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].rfind("app:PINEntryComplete:-16509", 0), 0u) << got[1];
  EXPECT_EQ(got[2], "app:emv2OnTransactionFinished:5A021234C4010595020000");
  EXPECT_FALSE(f.api->emvActive());
}

// ---- Magnetic-stripe emulation -----------------------------------------------------------------------

TEST(KXDevicesEmv2, EmulationTurnsTheFinishedTransactionIntoCardCallbacksAndAlwaysDeinitialises) {
  const std::string plainTracks = "0600C10400000000C20400000000";
  const std::string encryptedTracks = "0600C10400000002C20400000001";
  struct Case {
    const char* name;
    std::map<std::string, Bytes> answers;
    std::set<uint8_t> failing;
    const char* finish;
    const char* expected;  // prefix of the card callback
  };
  const Case cases[] = {
      {"plain tracks", {{plainTracks, foundation::bytesOf("\xF2;4111111111111111=25121010000000000000?")}}, {},
       "8300C30101", "app:magneticCardData+source:nil|;4111111111111111"},
      {"encrypted tracks with masked tracks",
       {{plainTracks, Bytes{0x00}}, {encryptedTracks, hexBytes("13DEADBEEF")},
        {"0800C302D3D4", hexBytes("D30442313131D404343131313F")}},
       {}, "8300C30108", "app:encrypted7:2:3:DEADBEEF:3"},
      {"nothing read: the reason from the finish", {}, {0x06}, "8300C30104C40107", "app:readFailed:0:7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Emv2Api f;
    f.sleeveWithKernel();
    for (const auto& [command, answer] : c.answers) f.sleeveKernel.byCommand[command] = answer;
    f.sleeveKernel.failing = c.failing;
    auto app = f.emvDelegate({kxsel::magneticCardData_source, kxsel::magneticCardEncryptedData_masked_source,
                              kxsel::magneticCardReadFailed_reason, kxsel::emv2OnTransactionFinished});
    ASSERT_TRUE(f.api->emv2StartMagneticEmulationTransactionOnInterface(7, std::nullopt, 30));
    EXPECT_TRUE(f.api->emv2State().msEmulation);
    f.api->kxdev_emv2Event(hexBytes(c.finish));
    EXPECT_TRUE(hasPrefix(f.lines(), c.expected)) << ::testing::PrintToString(f.lines());
    EXPECT_EQ(f.sleeveKernel.count("6200"), 1u);
    EXPECT_FALSE(f.api->emvInit());
  }
}

TEST(KXDevicesEmv2, ShortEmulationEndsAtTheOnlineRequestOnce) {
  foundation::ScopedManualClock clock;
  Emv2Api f;
  f.sleeveWithKernel(2);  // an older kernel: the start arms the cancel timer
  f.sleeveKernel.byCommand["0600C10400000000C20400000000"] = foundation::bytesOf("\xF2;4111111111111111=2512?");
  auto app = f.emvDelegate({kxsel::magneticCardData_source, kxsel::emv2OnTransactionFinished});
  ASSERT_TRUE(f.api->emv2StartMagneticEmulationTransactionOnInterface(2, std::nullopt, 1, 30));
  f.api->kxdev_emv2Event(hexBytes("81005A01AA"));
  EXPECT_EQ(f.events->count("app:emv2OnTransactionFinished:5A01AA"), 1u);
  EXPECT_TRUE(hasPrefix(f.lines(), "app:magneticCardData+source:"));
  EXPECT_FALSE(f.api->emvActive());
  // The kernel's own finish and the old timer end nothing more.
  const size_t before = f.lines().size();
  f.api->kxdev_emv2Event(hexBytes("8300C1020800"));
  clock->advance(std::chrono::seconds(31));
  foundation::RunLoop::main().runOnce(foundation::Duration::zero());
  EXPECT_EQ(f.lines().size(), before);
  EXPECT_EQ(f.sleeveKernel.count("0500"), 0u);
}

}  // namespace
}  // namespace kestra::testing

namespace kestra::testing {
namespace {

TEST(KXDevicesEmv2, FacadeForwardsTheKernelCallsAndItsEvents) {
  Emv2Api f;
  f.sleeveWithKernel();
  auto facade =
      OKTKXDevices::create(f.api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  auto app = std::make_shared<Emv2Delegate>(f.events, "facade",
                                            std::vector<std::string_view>{kxsel::emv2CardEventOnInterface,
                                                                          kxsel::emv2OnTransactionFinished});
  facade->addDelegate(app);
  f.sleeveKernel.versions = {{0xC1, 7}};
  auto info = facade->emv2GetInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->contactlessConfigurationVersion, 7);
  ASSERT_TRUE(facade->emv2StartTransactionWithFlags(0, std::nullopt));
  EXPECT_EQ(f.sleeveKernel.commands().back().substr(0, 8), "0300020F");  // contactless, 15 s
  f.api->kxdev_emv2Event(hexBytes("85000003"));
  EXPECT_EQ(f.lines(), (Lines{"facade:cardEvent:1,3", "facade:emv2OnTransactionFinished:C1020100C30101C40163"}));
}

}  // namespace
}  // namespace kestra::testing
