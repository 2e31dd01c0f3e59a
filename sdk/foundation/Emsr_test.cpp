#include "sdk/foundation/Emsr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "sdk/foundation/EMSRDeviceInfo.h"
#include "sdk/foundation/KXErrors.h"
#include "testing/devices/emsr/SimulatedEmsrHead.h"

namespace kestra {
namespace {

using foundation::Bytes;
using sim::SimulatedEmsrHead;

class EmsrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emsrResetState();
    emsrSetCallbacks(&head, SimulatedEmsrHead::transport);
  }
  void TearDown() override { emsrResetState(); }

  Bytes packet(uint8_t command, const Bytes& data) {
    Bytes p = {command, 0};
    foundation::appendBE16(p, uint16_t(data.size()));
    foundation::append(p, data);
    return p;
  }
  Bytes firmwareFile(int dataBytes) {
    Bytes f(52, 0);
    f[0] = 0xE0;  // the head's own header sub-command
    for (int i = 0; i < dataBytes; ++i) f.push_back(uint8_t(i * 7));
    return f;
  }

  SimulatedEmsrHead head;
};

TEST_F(EmsrTest, InfoReadsVersionsIdentityAndSerial) {
  head.setIdent("EMSR-KX2");
  head.setVersions(214, 305);
  EMSRInfo info;
  ASSERT_EQ(emsrGetInfo(&head, &info), 0);
  EXPECT_STREQ(info.ident, "EMSR-KX2");
  EXPECT_EQ(info.firmwareVersion, 214u);
  EXPECT_EQ(info.securityVersion, 305u);
  EXPECT_EQ(head.requests(), (std::vector<Bytes>{packet(0x01, {0x01}), packet(0x02, {0x0C})}));

  EMSRDeviceInfo record(info, 0);
  EXPECT_EQ(record.firmwareVersionString, "2.14");
  EXPECT_EQ(record.securityVersionString, "3.05");
  EXPECT_EQ(record.serialNumberString, "1032547698BADCFE0123456789ABCDEF");
  EXPECT_EQ(record.ident, "EMSR-KX2");
}

TEST_F(EmsrTest, EighteenByteInfoReportsOneNumberForBothVersions) {
  head.setVersions(999, 212);
  head.setInfoDataLength(18);
  EMSRInfo info;
  ASSERT_EQ(emsrGetInfo(&head, &info), 0);
  EXPECT_EQ(info.firmwareVersion, 212u);
  EXPECT_EQ(info.securityVersion, 212u);
}

TEST_F(EmsrTest, VersionQueriesRememberFirmwareForMaskedData) {
  head.setTracksRead(3);
  head.setMaskedData("4111********1111");
  Bytes masked;
  // Nothing read yet: the library refuses without sending.
  EXPECT_EQ(emsrGetMaskedData(&head, &masked), -7);
  EXPECT_TRUE(head.requests().empty());

  head.setVersions(213, 300);
  int v = 0;
  ASSERT_EQ(emsrGetFirmwareVersion(&head, &v), 0);
  EXPECT_EQ(v, 213);
  EXPECT_EQ(emsrGetMaskedData(&head, &masked), -7);

  head.setVersions(214, 300);
  ASSERT_EQ(emsrGetSecurityVersion(&head, &v), 0);
  EXPECT_EQ(v, 300);
  EXPECT_EQ(emsrGetMaskedData(&head, &masked), 16);
  EXPECT_EQ(std::string(masked.begin(), masked.end()), "4111********1111");

  // A failed security query is not an error: it reports 208.
  head.setSilent(true);
  v = 0;
  EXPECT_EQ(emsrGetSecurityVersion(&head, &v), 0);
  EXPECT_EQ(v, 208);
}

TEST_F(EmsrTest, ReplyFaultsMapToTheirCodes) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    int code;
  };
  const Case cases[] = {
      {"silence", [&] { head.setSilent(true); }, -11005},
      {"short reply", [&] { head.shortenNextReply(); }, -6},
      {"tampered status", [&] { head.failNextCommand(SimulatedEmsrHead::kTampered); }, -11021},
      {"no data status", [&] { head.failNextCommand(SimulatedEmsrHead::kNoData); }, -11006},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    head.setSilent(false);
    c.arrange();
    Bytes random;
    EXPECT_EQ(emsrGenerateRandom(&head, &random), c.code);
    EXPECT_TRUE(random.empty());
  }
  EXPECT_STREQ(KXErrors::getErrorDescription(-11021), "Encrypted magnetic head is tampered");
}

// A transport that answers with whatever length the test sets, and notes the capacity it was
// told.
int gFixedReplyLength = 0;
int gToldCapacity = -1;
int fixedLengthTransport(void*, const uint8_t*, int, uint8_t* reply, int capacity, int) {
  gToldCapacity = capacity;
  std::memset(reply, 0, 4);
  return gFixedReplyLength;
}

TEST_F(EmsrTest, RepliesShorterThanAHeaderOrLongerThanTheBufferAreRefused) {
  emsrResetState();
  int owner = 0;
  emsrSetCallbacks(&owner, fixedLengthTransport);
  for (int n : {-1, 0, 3}) {
    gFixedReplyLength = n;
    EXPECT_EQ(emsrCheckCardRead(&owner), -11005) << n;
  }
  gFixedReplyLength = 4;
  EXPECT_EQ(emsrCheckCardRead(&owner), 0);
  gFixedReplyLength = kEmsrPacketSize + 1;
  EXPECT_EQ(emsrCheckCardRead(&owner), -6);
  EXPECT_EQ(gToldCapacity, kEmsrPacketSize);
}

TEST_F(EmsrTest, ARemovedOwnerIsNoLongerServed) {
  SimulatedEmsrHead second;
  emsrSetCallbacks(&second, SimulatedEmsrHead::transport);
  emsrRemoveCallbacks(&head);
  // The first registration is now `second`'s: a stranger is served by it.
  int stranger = 0;
  EXPECT_EQ(emsrEnable(&stranger, 1), 0);
  EXPECT_TRUE(second.enabled());
  EXPECT_FALSE(head.enabled());
  emsrRemoveCallbacks(&second);
  EXPECT_EQ(emsrEnable(&stranger, 1), -11005);
}

TEST_F(EmsrTest, UnregisteredOwnerUsesTheFirstTransportAndNoTransportMeansNoReply) {
  int stranger = 0;
  EXPECT_EQ(emsrEnable(&stranger, 1), 0);
  EXPECT_TRUE(head.enabled());

  SimulatedEmsrHead second;
  emsrSetCallbacks(&second, SimulatedEmsrHead::transport);
  EXPECT_EQ(emsrEnable(&second, 1), 0);
  EXPECT_TRUE(second.enabled());
  EXPECT_EQ(head.requests().size(), 1u);

  emsrResetState();
  EXPECT_EQ(emsrEnable(&head, 1), -11005);
}

TEST_F(EmsrTest, SetEncryptionRetriesWithoutKeyWhenRefused) {
  const uint8_t params[] = {0xAA, 0xBB};
  ASSERT_EQ(emsrSetEncryption(&head, 3, -1, params, 2), 0);
  EXPECT_EQ(head.requests().back(), packet(0x51, {0x31, 3, 0xAA, 0xBB}));

  head.clearRequests();
  head.refuseKeyedEncryption(true);
  ASSERT_EQ(emsrSetEncryption(&head, 4, 9, params, 2), 0);
  EXPECT_EQ(head.requests(), (std::vector<Bytes>{packet(0x51, {0x31, 4, 9, 0xAA, 0xBB}),
                                                 packet(0x51, {0x31, 4})}));
  EXPECT_EQ(head.encryption(), (std::pair<int, int>{4, -1}));
}

TEST_F(EmsrTest, KeyInfoReadsEntriesAndDukptSerials) {
  const Bytes ksn = {0xFF, 0xFF, 0x98, 0x76, 0x54, 0x32, 0x10, 0xE0, 0x00, 0x05};
  head.setKeys({{0, 7, {}}, {8, 1, {}}, {10, 1, {}}, {32, 3, ksn}});
  head.setTampered(true);
  EMSRKeyInfo raw;
  ASSERT_EQ(emsrGetKeyInfo(&head, &raw), 0);
  EXPECT_EQ(raw.count, 4u);
  EXPECT_EQ(raw.tampered, 1u);

  // Keys 8 and 10 are left out of the record.
  EMSRKeysInfo keys(raw);
  ASSERT_EQ(keys.keys.size(), 2u);
  EXPECT_TRUE(keys.tampered);
  EXPECT_EQ(keys.keys[0].keyName, "AES256 Authentication");
  EXPECT_EQ(keys.keys[1].keyName, "DUKPT 1");
  EXPECT_EQ(keys.keys[1].dukptKSN, ksn);
  EXPECT_FALSE(keys.keys[0].dukptKSN);
  EXPECT_EQ(keys.getKeyVersion(0), 7);
  EXPECT_EQ(keys.getKeyVersion(8), 0);

  bool tampered = false;
  ASSERT_EQ(emsrIsTampered(&head, &tampered), 0);
  EXPECT_TRUE(tampered);
  uint32_t version = 0;
  ASSERT_EQ(emsrGetKeyVersion(&head, 32, &version), 0);
  EXPECT_EQ(version, 3u);
}

TEST_F(EmsrTest, CommandsSendTheirExactPackets) {
  struct Case {
    const char* name;
    std::function<int()> call;
    Bytes expected;
  };
  const Bytes block48(48, 0x4B);
  Bytes setKey = {0x21, 16};
  setKey.insert(setKey.end(), block48.begin(), block48.end());
  setKey.insert(setKey.end(), {0x01, 0x02, 0x03, 0x04});
  const Case cases[] = {
      {"enable", [&] { return emsrEnable(&head, 1); }, packet(0x51, {0x01, 0x01})},
      {"check card", [&] { return emsrCheckCardRead(&head); }, packet(0x51, {0x02})},
      {"tamper mode", [&] { return emsrEnterTamperMode(&head); }, packet(0x51, {0x05})},
      {"masked config: expiry, no track 3",
       [&] { return emsrConfigMaskedData(&head, true, false, false, 6, 4); },
       packet(0x51, {0x34, 0x05, 6, 4})},
      {"masked config: service code, track 3",
       [&] { return emsrConfigMaskedData(&head, false, true, true, 4, 4); },
       packet(0x51, {0x34, 0x02, 4, 4})},
      {"set key old", [&] { return emsrSetKeyOld(&head, 16, block48, 0x01020304); },
       packet(0x51, setKey)},
      {"DUKPT serial", [&] { Bytes k; return emsrGetDUKPTSerial(&head, 32, &k) > 0 ? 0 : -1; },
       packet(0x51, {0x32, 32})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    head.clearRequests();
    EXPECT_EQ(c.call(), 0);
    ASSERT_EQ(head.requests().size(), 1u);
    EXPECT_EQ(head.requests()[0], c.expected);
  }
}

TEST_F(EmsrTest, ArgumentSizesAreCheckedBeforeAnythingIsSent) {
  const Bytes key133(133, 1), key134(134, 1);
  EXPECT_EQ(emsrLoadECCPublicKey(&head, 0, key133.data(), 133), -9);
  EXPECT_EQ(emsrLoadECCPublicKey(&head, 0, nullptr, 134), -9);
  EXPECT_EQ(emsrSetKeyOld(&head, 1, Bytes(47, 0), 1), -9);
  EXPECT_EQ(emsrAuthenticate(&head, Bytes(15, 0), nullptr), -9);
  const Bytes big(509, 0);
  EXPECT_EQ(emsrLoadKey(&head, big.data(), 509), -9);
  EXPECT_TRUE(head.requests().empty());

  ASSERT_EQ(emsrLoadECCPublicKey(&head, 0, key134.data(), 134), 0);
  EXPECT_EQ(head.loadedEccKey(), key134);
}

TEST_F(EmsrTest, FirmwareUpdateWritesEveryBlockThenFinishes) {
  const Bytes file = firmwareFile(600);  // blocks of 256, 256 and 88 bytes
  head.failFirmwareBlock(1, 2);          // refused twice, accepted on the third try
  ASSERT_EQ(emsrUpdateFirmware(&head, file.data(), int(file.size())), 0);
  EXPECT_EQ(head.firmwareHeader(), Bytes(file.begin(), file.begin() + 52));
  const auto blocks = head.firmwareBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  Bytes written;
  for (const auto& b : blocks) written.insert(written.end(), b.begin(), b.end());
  EXPECT_EQ(written, Bytes(file.begin() + 52, file.end()));
  EXPECT_EQ(blocks[2].size(), 88u);
  EXPECT_EQ(head.blockAttempts(1), 3);
  EXPECT_TRUE(head.firmwareFinished());
  EXPECT_TRUE(head.firmwareCommitted());
  EXPECT_EQ(head.requests().back(), packet(0x02, {0x06}));
}

TEST_F(EmsrTest, FirmwareUpdateStopsAtABlockRefusedThreeTimes) {
  const Bytes file = firmwareFile(600);
  head.failFirmwareBlock(1, 3, SimulatedEmsrHead::kInvalidDataLength);
  EXPECT_EQ(emsrUpdateFirmware(&head, file.data(), int(file.size())), -11020);
  EXPECT_EQ(head.blockAttempts(1), 3);
  EXPECT_EQ(head.firmwareBlocks().size(), 1u);
  EXPECT_FALSE(head.firmwareFinished());
  EXPECT_FALSE(head.firmwareCommitted());
  EXPECT_EQ(head.requests().back()[4], 0xF1);
}

TEST_F(EmsrTest, FirmwareOfHeaderOnlySendsNoBlocksAndShortFilesAreRefused) {
  const Bytes file = firmwareFile(0);
  ASSERT_EQ(emsrUpdateFirmware(&head, file.data(), 52), 0);
  EXPECT_TRUE(head.firmwareBlocks().empty());
  EXPECT_EQ(head.requests().size(), 4u);  // header, start, finish, commit
  head.clearRequests();
  EXPECT_EQ(emsrUpdateFirmware(&head, file.data(), 51), -9);
  EXPECT_TRUE(head.requests().empty());
}

TEST_F(EmsrTest, FirmwareInformationTrimsTheNameAndReadsTheVersion) {
  Bytes file(64, 0);
  const char* name = "EMSRFW01      ";  // 8 characters, then spaces up to byte 15
  std::memcpy(file.data(), name, 14);
  file[14] = ' ';
  file[15] = ' ';
  file[16] = 14;
  file[17] = 2;
  char out[17];
  int version = 0;
  ASSERT_EQ(emsrGetFirmwareInformation(nullptr, file.data(), int(file.size()), out, &version), 0);
  EXPECT_STREQ(out, "EMSRFW01");
  EXPECT_EQ(version, 214);

  std::memcpy(file.data(), "ABCDEFGHIJ      ", 16);
  ASSERT_EQ(emsrGetFirmwareInformation(nullptr, file.data(), int(file.size()), out, &version), 0);
  EXPECT_EQ(std::strlen(out), 10u);
  EXPECT_EQ(emsrGetFirmwareInformation(nullptr, file.data(), 17, out, &version), -9);
  EXPECT_TRUE(head.requests().empty());
}

// Counts overlapping transport calls: commands of several owners must never interleave.
std::atomic<int> gInside{0};
std::atomic<int> gOverlaps{0};
int slowTransport(void* owner, const uint8_t* req, int len, uint8_t* reply, int capacity, int timeout) {
  if (gInside.fetch_add(1) != 0) ++gOverlaps;
  std::this_thread::yield();
  const int r = SimulatedEmsrHead::transport(owner, req, len, reply, capacity, timeout);
  --gInside;
  return r;
}

TEST_F(EmsrTest, CommandsOfSeveralOwnersRunOneAtATime) {
  emsrResetState();
  SimulatedEmsrHead a, b;
  emsrSetCallbacks(&a, slowTransport);
  emsrSetCallbacks(&b, slowTransport);
  auto work = [](SimulatedEmsrHead* h) {
    for (int i = 0; i < 300; ++i) {
      Bytes serial;
      EXPECT_EQ(emsrGetSerialNumber(h, &serial), 16);
    }
  };
  std::thread t1(work, &a), t2(work, &b);
  t1.join();
  t2.join();
  EXPECT_EQ(gOverlaps.load(), 0);
  EXPECT_EQ(a.requests().size(), 300u);
  EXPECT_EQ(b.requests().size(), 300u);
}

}  // namespace
}  // namespace kestra
