#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/foundation/KXErrors.h"

namespace kestra::testing {
namespace {

// CRC-16 with polynomial 0x1021, most significant bit first, written independently of the SDK.
uint16_t crc16(const Bytes& data, uint16_t crc) {
  for (uint8_t b : data) {
    crc ^= uint16_t(b << 8);
    for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

Bytes encrypt(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const uint8_t iv[16] = {};
  EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(plain.size() + 32);
  int n = 0, m = 0;
  EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), int(plain.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

Bytes bytes(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(uint8_t(x));
  return b;
}

Bytes concat(Bytes a, const std::string& text) {
  a.insert(a.end(), text.begin(), text.end());
  return a;
}

// A dummy-AES block: 20 header bytes, the track buffer, 0x00, CRC over everything so far,
// padded to whole blocks.
Bytes aesBlock(const Bytes& tracks, bool goodCrc) {
  Bytes b(20, 0x11);
  foundation::append(b, tracks);
  b.push_back(0x00);
  uint16_t crc = crc16(b, 0);
  if (!goodCrc) crc ^= 1;
  foundation::appendBE16(b, crc);
  while (b.size() % 16) b.push_back(0xEE);
  return encrypt(EVP_aes_256_cbc(), KXDevices::dummyAESKey(), b);
}

const std::vector<std::string_view> kCardSelectors = {
    kxsel::magneticCardData, kxsel::magneticCardData_source, kxsel::magneticCardReadFailed_reason,
    kxsel::magneticCardReadFailed, kxsel::magneticJISCardData, kxsel::magneticPassbookData};

TEST(KXDevicesMagnetic, ChecksumHelperMatchesThePublishedCheckValues) {
  EXPECT_EQ(crc16(foundation::bytesOf("123456789"), 0), 0x31C3);       // CRC-16/XMODEM
  EXPECT_EQ(crc16(foundation::bytesOf("123456789"), 0xFFFF), 0x29B1);  // CRC-16/CCITT-FALSE
}

TEST(KXDevicesMagnetic, PlainTrackBuffersAreSplitAtTheirMarkers) {
  struct Case {
    const char* name;
    Bytes buffer;
    int source;
    std::vector<std::string> expected;
  };
  const std::vector<Case> table = {
      {"ends at the first zero byte",
       concat(concat(concat(concat(bytes({0xF1}), "ABC"), "\xF2"), "123"), std::string("\0\xF3X", 3)), 0,
       {"A:magneticCardData:ABC|123|nil", "A:magneticCardData+source:ABC|123|nil|0"}},
      {"track 2 alone", concat(bytes({0xF2}), "123"), 0,
       {"A:magneticCardData:nil|123|nil", "A:magneticCardData+source:nil|123|nil|0"}},
      {"no marker, driver source", foundation::bytesOf("PLAIN"), 5,
       {"A:magneticCardData:nil|nil|nil", "A:magneticCardData+source:nil|nil|nil|5"}},
      {"no marker, source 0", foundation::bytesOf("PLAIN"), 0, {"A:readFailed:99:98"}},
      {"markers out of order", concat(concat(concat(bytes({0xF2}), "123"), "\xF1"), "ABC"), 0,
       {"A:magneticCardData:ABC|123|nil", "A:magneticCardData+source:ABC|123|nil|0"}},
      {"three tracks", concat(concat(concat(concat(concat(bytes({0xF1}), "A1"), "\xF2"), "B2"), "\xF3"), "C3"), 2,
       {"A:magneticCardData:A1|B2|C3", "A:magneticCardData+source:A1|B2|C3|2"}},
      {"JIS card", concat(bytes({0xF5}), std::string("JISDATA\0", 8)), 0, {"A:JIS:JISDATA"}},
  };
  for (const auto& c : table) {
    SCOPED_TRACE(c.name);
    ApiFixture f;
    auto a = f.delegate("A", kCardSelectors);
    f.api->processPlainCardData(c.buffer.data(), int(c.buffer.size()), c.source);
    EXPECT_EQ(f.events->lines(), c.expected);
  }
}

TEST(KXDevicesMagnetic, DummyKeyDataIsDeliveredAsPlainTracksOnlyWithAGoodChecksum) {
  const Bytes tracks = concat(concat(concat(bytes({0xF1}), "%B4111^DOE/J^2512"), "\xF2"), ";4111=2512");
  {
    ApiFixture f;
    auto a = f.delegate("A", {kxsel::magneticCardData, kxsel::magneticCardEncryptedData});
    f.api->kxdev_magneticCardEncryptedData(2, 3, aesBlock(tracks, true), std::nullopt, std::nullopt, std::nullopt, 0);
    EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:magneticCardData:%B4111^DOE/J^2512|;4111=2512|nil"});
  }
  {
    ApiFixture f;
    auto a = f.delegate("A", {kxsel::magneticCardData, kxsel::magneticCardEncryptedData});
    const Bytes bad = aesBlock(tracks, false);
    f.api->kxdev_magneticCardEncryptedData(2, 3, bad, std::nullopt, std::nullopt, std::nullopt, 0);
    EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:encrypted3:2:3:" + foundation::toHex(bad)});
  }
  {
    // Triple-DES: 8 header bytes, the length, the tracks, CRC from 0xFFFF.
    Bytes block(8, 0x22);
    foundation::appendBE16(block, uint16_t(tracks.size()));
    block.insert(block.end(), tracks.begin(), tracks.end());
    foundation::appendBE16(block, crc16(block, 0xFFFF));
    while (block.size() % 8) block.push_back(0);
    ApiFixture f;
    auto a = f.delegate("A", {kxsel::magneticCardData});
    f.api->kxdev_magneticCardEncryptedData(7, 3, encrypt(EVP_des_ede_cbc(), KXDevices::dummy3DESKey(), block),
                                           std::nullopt, std::nullopt, std::nullopt, 0);
    EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:magneticCardData:%B4111^DOE/J^2512|;4111=2512|nil"});
  }
}

TEST(KXDevicesMagnetic, EncryptedFormsAreReshapedAndOnlyTheMostSpecificIsSent) {
  struct Case {
    const char* name;
    int encryption, tracks;
    Bytes data;
    std::vector<std::string_view> selectors;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"TransArmor records become text", 13, 0x01, bytes({0x00, 0x02, 0xAA, 0xBB, 0x02, 0x00, 0x01, 0xCC}),
       {kxsel::magneticCardEncryptedData},
       {"A:encrypted3:13:1:" + foundation::toHex(foundation::bytesOf("1,qrs=|2,zA=="))}},
      {"masked %B becomes %*", 3, 1, bytes({1, 2, 3, 4, 5, 0x25, 0x42, 9}), {kxsel::magneticCardEncryptedData},
       {"A:encrypted3:3:1:0102030405252A09"}},
      {"most specific form only", 9, 1, bytes({0xAB}),
       {kxsel::magneticCardEncryptedData_masked, kxsel::magneticCardEncryptedData_masked_source,
        kxsel::magneticCardEncryptedData},
       {"A:encrypted7:9:1:AB:6"}},
      {"six-argument form next", 9, 1, bytes({0xAB}),
       {kxsel::magneticCardEncryptedData_masked, kxsel::magneticCardEncryptedData}, {"A:encrypted6:9:1:AB"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ApiFixture f;
    auto a = f.delegate("A", c.selectors);
    f.api->kxdev_magneticCardEncryptedData(c.encryption, c.tracks, c.data, std::nullopt, std::nullopt, std::nullopt, 6);
    EXPECT_EQ(f.events->lines(), c.expected);
  }
}

TEST(KXDevicesMagnetic, PassbookReadsAndFailures) {
  ApiFixture f;
  auto a = f.delegate("A", kCardSelectors);
  f.api->kxdev_magneticPassbookData(bytes({0x00, 0x02, 0x00}));
  f.api->kxdev_magneticPassbookData(Bytes(64, 0x30));
  f.api->kxdev_magneticPassbookData(Bytes(10, 0x30));
  f.api->kxdev_magneticCardReadFailed(2, 7);
  EXPECT_EQ(f.events->lines(),
            (std::vector<std::string>{"A:readFailed:99:97", "A:passbook:64", "A:readFailed:2:7", "A:readFailed:2"}));
}

TEST(KXDevicesMagnetic, CardDetectedIsDeliveredLaterOnTheMainQueue) {
  ApiFixture f;
  EXPECT_FALSE(f.api->kxdev_magneticCardDetected());
  for (int i = 0; i < 3; ++i) foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
  auto a = f.delegate("A", {kxsel::magneticCardDetected});
  EXPECT_TRUE(f.api->kxdev_magneticCardDetected());
  EXPECT_TRUE(f.events->lines().empty());
  foundation::RunLoop::main().runUntil([&] { return f.events->lines().size() == 1; });
  EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:magneticCardDetected"});
}

TEST(KXDevicesMagnetic, ReaderControlRoutesToSleeveThenPinpadThenTheHead) {
  {
    ApiFixture f;
    f.sleeveState(2);
    f.pinpadState(2);
    EXPECT_TRUE(f.api->msEnable());
    EXPECT_EQ(f.drivers.log->count("sleeve.msEnable"), 1u);
  }
  {
    ApiFixture f;
    f.pinpadState(2);
    f.drivers.pinpad->status = 3;
    Error e;
    EXPECT_FALSE(f.api->msDisable(&e));
    EXPECT_EQ(e.code, -16503);
  }
  {
    // A printer whose head the features announce: the head is switched on through the
    // printer's transport, and the head's own error text is reported.
    ApiFixture f;
    f.drivers.printer0->features[0] = 4;
    f.printerState(0, 2);
    Error e;
    EXPECT_FALSE(f.api->msEnable(&e));
    EXPECT_EQ(f.drivers.log->count("printer0.emsrCommand"), 1u);
    EXPECT_LT(e.code, 0);
    EXPECT_EQ(e.text, KXErrors::getErrorDescription(e.code));
  }
  {
    ApiFixture f;
    f.printerState(0, 2);
    Error e;
    EXPECT_FALSE(f.api->msEnable(&e));
    EXPECT_EQ(e.code, -7);
  }
}

TEST(KXDevicesMagnetic, FinancialCardsWithoutTrackOneHaveNoNames) {
  ApiFixture f;
  auto info = f.api->msExtractFinancialCard(std::nullopt, std::string(";4111111111111111=25121010000000000000?"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->cardholderName, "");
  EXPECT_EQ(info->cardholderFirstName, "");
  EXPECT_EQ(info->cardholderLastName, "");
  EXPECT_EQ(info->accountNumber, "4111111111111111");
  EXPECT_EQ(info->expirationYear, 2025);
  EXPECT_EQ(info->expirationMonth, 12);
  EXPECT_FALSE(f.api->msExtractFinancialCard(std::nullopt, std::string("not a card")));
}

}  // namespace
}  // namespace kestra::testing
