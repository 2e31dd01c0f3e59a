// The device API's EMV kernel configuration downloads and versions, and its card data reads.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/device/KXDevicesEmv2Fixture.h"

namespace kestra::testing {
namespace {

using Lines = std::vector<std::string>;

// A blob whose values other than E4's are "123456789": its CRC is the standard check value.
const char* const kUnversioned = "DF010431323334DF02053536373839E406C10400000000";
const char* const kVersioned = "DF010431323334DF02053536373839E406C104CBF43926";

TEST(KXDevicesEmv2Config, Crc32MatchesTheStandardCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(emv2Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(emv2Crc32(nullptr, 0), 0u);
}

TEST(KXDevicesEmv2Config, BlobIsDownloadedInChunksAfterItsHeader) {
  Emv2Api f;
  f.sleeveWithKernel();
  Bytes blob(2500);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = uint8_t(i);
  ASSERT_TRUE(f.api->emv2LoadData(blob, Bytes{0x51, 0x00, 0x01}));
  const auto sent = f.sleeveKernel.raw();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(foundation::toHex(sent[0]), "6100");
  EXPECT_EQ(foundation::toHex(sent[1]), "510001000009C4");
  EXPECT_EQ(sent[2].size(), 2u + 1022);
  EXPECT_EQ(sent[3].size(), 2u + 1022);
  EXPECT_EQ(sent[4].size(), 2u + 456);
  Bytes joined;
  for (int i = 2; i <= 4; ++i) {
    EXPECT_EQ(foundation::toHex(Bytes(sent[size_t(i)].begin(), sent[size_t(i)].begin() + 2)), "5200");
    joined.insert(joined.end(), sent[size_t(i)].begin() + 2, sent[size_t(i)].end());
  }
  EXPECT_EQ(joined, blob);
  EXPECT_EQ(foundation::toHex(sent[5]), "5300");

  f.sleeveKernel.clear();
  ASSERT_TRUE(f.api->emv2LoadData({}, Bytes{0x51, 0x00, 0x04}));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"51000400000000", "5300"}));

  // A refused chunk ends the download.
  f.sleeveKernel.clear();
  f.sleeveKernel.failing = {0x52};
  Error error;
  EXPECT_FALSE(f.api->emv2LoadData(blob, std::nullopt, &error));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"000009C4", foundation::toHex(sent[2])}));
}

TEST(KXDevicesEmv2Config, UnversionedContactlessBlobGetsItsCrcAndIsNotLoadedTwice) {
  Emv2Api f;
  f.sleeveWithKernel();
  f.sleeveKernel.versions = {{0xC1, 0}};
  ASSERT_TRUE(f.api->emv2LoadContactlessConfiguration(hexBytes(kUnversioned)));
  EXPECT_EQ(f.sleeveKernel.count("0200"), 1u);
  EXPECT_EQ(f.sleeveKernel.count("51000100000017"), 1u);
  EXPECT_EQ(f.sleeveKernel.count(std::string("5200") + kVersioned), 1u);
  EXPECT_EQ(f.sleeveKernel.versions[0xC1], 0xCBF43926u);

  ASSERT_TRUE(f.api->emv2LoadContactlessConfiguration(hexBytes(kUnversioned)));
  EXPECT_EQ(f.sleeveKernel.count("0200"), 2u);  // the contactless load always asks
  EXPECT_EQ(f.sleeveKernel.count("5300"), 1u);

  // A blob that names its own version is sent as it is, without asking.
  f.sleeveKernel.clear();
  const std::string own = "DF010131E406C10400000005";
  ASSERT_TRUE(f.api->emv2LoadContactlessConfiguration(hexBytes(own)));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"5100010000000C", "5200" + own, "5300"}));
}

TEST(KXDevicesEmv2Config, OtherLoadsAskForVersionsOnlyOnceAndUseTheirSlots) {
  Emv2Api f;
  f.sleeveWithKernel();
  ASSERT_TRUE(f.api->emv2LoadContactCAPK(hexBytes(kUnversioned)));
  ASSERT_TRUE(f.api->emv2LoadContactCAPK(hexBytes(kUnversioned)));
  ASSERT_TRUE(f.api->emv2LoadGenericConfiguration(hexBytes(kUnversioned)));
  EXPECT_EQ(f.sleeveKernel.count("0200"), 1u);
  EXPECT_EQ(f.sleeveKernel.count("51000200000017"), 2u);  // the cached record still says 0
  EXPECT_EQ(f.sleeveKernel.count("51000400000017"), 1u);

  struct Case {
    const char* name;
    bool contactless;
    int index;
    const char* header;  // or the error code
  };
  const Case cases[] = {
      {"contact 0", false, 0, "51000000000003"},     {"contactless 0", true, 0, "51000100000003"},
      {"contact 2", false, 2, "51000700000003"},     {"contactless 2", true, 2, "51000800000003"},
      {"contact 126", false, 126, "5100FF00000003"}, {"contactless 126", true, 126, "-9"},
      {"negative", true, -1, "-9"},                  {"negative contact", false, -1, "-9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.sleeveKernel.clear();
    Error error;
    const Bytes blob = hexBytes("9F0100");  // no version item
    const bool ok = c.contactless ? f.api->emv2LoadContactlessConfiguration(blob, c.index, &error)
                                  : f.api->emv2LoadContactConfiguration(blob, c.index, &error);
    if (std::string(c.header) == "-9") {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error.code, -9);
      EXPECT_EQ(error.text, "Invalid argument: configurationIndex");
      EXPECT_TRUE(f.sleeveKernel.commands().empty());
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(f.sleeveKernel.commands().front(), c.header);
    }
  }
}

TEST(KXDevicesEmv2Config, VersionIsAttachedOnlyToAZeroVersion) {
  uint32_t version = 7;
  // Other children of E4 go when the version is written.
  auto attached = emv2AttachConfigurationVersion(hexBytes("DF010431323334DF02053536373839E40AC10400000000C202AABB"),
                                                 &version);
  ASSERT_TRUE(attached);
  EXPECT_EQ(foundation::toHex(*attached), kVersioned);
  EXPECT_EQ(version, 0xCBF43926u);
  version = 7;
  EXPECT_EQ(foundation::toHex(*emv2AttachConfigurationVersion(hexBytes("E406C10400000005"), &version)),
            "E406C10400000005");
  EXPECT_EQ(version, 7u);
  EXPECT_EQ(foundation::toHex(*emv2AttachConfigurationVersion(hexBytes("9F0100"), &version)), "9F0100");
  EXPECT_FALSE(emv2AttachConfigurationVersion(hexBytes("9F02"), &version));

  EXPECT_EQ(emv2GetConfigurationVersion(hexBytes("E406C10400000005")), 5u);
  EXPECT_EQ(emv2GetConfigurationVersion(hexBytes("9F0100")), 0xFFFFFFFFu);
  EXPECT_EQ(emv2GetConfigurationVersion(hexBytes("9F02")), 0xFFFFFFFFu);
  EXPECT_EQ(emv2GetConfigurationVersion(hexBytes("E404C1020005")), 0xFFFFFFFFu);  // too short
  EXPECT_EQ(emv2GetConfigurationVersion(hexBytes("E403C20100")), 0xFFFFFFFFu);    // no C1
}

TEST(KXDevicesEmv2Config, TemplatesConvertBetweenKernelForms) {
  Emv2Api f;
  EXPECT_EQ(foundation::toHex(f.api->emv2PEProcessConfiguration(hexBytes("E20ADFFFDF4101AA9F0101BB9F0200"))),
            "E109DFC30301AA9F0101BB9F0200");
  EXPECT_EQ(foundation::toHex(f.api->emv2CCProcessConfiguration(hexBytes("E105DFC30801CCE304DFC30800"))),
            "E206DFFFDF4601CCE305DFFFDF4600");
  EXPECT_EQ(foundation::toHex(f.api->emv2CCProcessConfiguration(hexBytes("E104CFFF8001"))), "E204CFFF8001");
  // The older kernels' own tags are not well-formed BER tags; they convert all the same.
  EXPECT_EQ(foundation::toHex(f.api->emv2PEProcessConfiguration(hexBytes("E20DDFDE01AACFFFFF0001BBDFDB00"))),
            "E10EDFC30B01AADFC31001BBDFC31500");
  EXPECT_EQ(foundation::toHex(f.api->emv2CCProcessConfiguration(hexBytes("E10EDFC30B01AADFC31001BBDFC31500"))),
            "E20DDFDE01AACFFFFF0001BBDFDB00");
  EXPECT_EQ(f.api->emv2PEProcessShortConfiguration(hexBytes("AA")), hexBytes("AA"));
}

TEST(KXDevicesEmv2Config, OlderKernelsLoadOnlyContactlessData) {
  Emv2Api f;
  f.sleeveWithKernel(2);
  Error error;
  EXPECT_FALSE(f.api->emv2LoadContactlessConfiguration(hexBytes("E104DFC30B00"), 1, &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_EQ(error.text, "Invalid argument: configurationIndex");
  for (auto load : {&KXDevices::emv2LoadContactCAPK, &KXDevices::emv2LoadGenericConfiguration}) {
    error = {};
    EXPECT_FALSE(((*f.api).*load)(hexBytes("9F0100"), &error));
    EXPECT_EQ(error.code, -7);
    EXPECT_EQ(error.text, "Connected device has no contact configuration option");
  }
  EXPECT_FALSE(f.api->emv2LoadContactConfiguration(hexBytes("9F0100"), &error));
  EXPECT_EQ(error.code, -7);
  EXPECT_FALSE(f.api->emv2CreatePANConfiguration(hexBytes("9F0100"), &error));
  EXPECT_EQ(error.text, "Connected device has no short contact configuration option");
  EXPECT_TRUE(f.sleeveKernel.commands().empty());

  EXPECT_TRUE(f.api->emv2ClearConfigurations());
  EXPECT_TRUE(f.sleeveKernel.commands().empty());
  EXPECT_TRUE(f.api->emv2LoadContactlessConfiguration(hexBytes("E104DFC30B00")));
  EXPECT_TRUE(f.api->emv2LoadContactlessCAPK(hexBytes("AABB")));
  EXPECT_EQ(f.sleeveKernel.commands(), (Lines{"6100", "0100E203DFDE00", "510000000002", "5200AABB", "5300"}));
}

TEST(KXDevicesEmv2Config, KernelInformationMapsByKernelGeneration) {
  for (int feature : {6, 2}) {
    SCOPED_TRACE(feature);
    Emv2Api f;
    f.sleeveWithKernel(feature);
    f.sleeveKernel.versions = {{0xC1, 1}, {0xC2, 2}, {0xC3, 3}, {0xC4, 4}, {0xC5, 5}, {0xC6, 6}};
    auto info = f.api->emv2GetInfo();
    ASSERT_TRUE(info);
    const bool newer = feature == 6;
    EXPECT_EQ(info->configurationVersion, 1);
    EXPECT_EQ(info->contactlessConfigurationVersion, 1);
    EXPECT_EQ(info->contactConfigurationVersion, newer ? 2 : 0);
    EXPECT_EQ(info->contactlessCAPKVersion, newer ? 3 : 0);
    EXPECT_EQ(info->contactCAPKVersion, newer ? 4 : 0);
    EXPECT_EQ(info->emvKernelVersion, newer ? 5 : 2);
    EXPECT_EQ(info->messagesVersion, newer ? 6 : 0);
  }
  std::vector<KXTLV> tags = {KXTLV::tlvWithData({0x01, 0x02}, 0xC1)};
  EXPECT_EQ(emv2GetVersion(tags, 0xC1), 0u);  // shorter than 4 bytes
}

// ---- Card data --------------------------------------------------------------------------------------

TEST(KXDevicesEmv2CardData, TrackRequestsCarryTheirFormatsExtras) {
  struct Case {
    const char* name;
    bool pinpad;
    int format;
    std::optional<nlohmann::json> additional;
    uint32_t uniqueID;
    const char* expected;  // the request after 06 00 C1 C2
  };
  const Case cases[] = {
      {"format 7, given number", false, 7, nlohmann::json{{"RandomNumber", 5}}, 9, "C30400000005"},
      {"format 10, unique id", false, 10, std::nullopt, 9, "C30400000009"},
      {"format 17 without data", false, 17, std::nullopt, 0, "C3020000"},
      {"format 17 with a seed", false, 17, nlohmann::json{{"randomSeed", 258}}, 0, "C3020102"},
      {"format 3 on the sleeve", false, 3, std::nullopt, 0, ""},
      {"format 3 on the pinpad", true, 3, std::nullopt, 0, "C30101C40104C50104"},
      {"format 14 on the pinpad", true, 14, std::nullopt, 0, "CB0100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Emv2Api f;
    if (c.pinpad)
      f.pinpadWithKernel();
    else
      f.sleeveWithKernel();
    f.api->emv2State().mask.uniqueID = c.uniqueID;
    ASSERT_TRUE(f.api->emv2GetCardTracksEncryptedWithFormat(c.format, 1, c.additional, true));
    FakeKernel& k = c.pinpad ? f.pinpadKernel : f.sleeveKernel;
    char head[64];
    std::snprintf(head, sizeof head, "0600C104%08XC20400000001", unsigned(c.format));
    EXPECT_EQ(k.commands().back(), std::string(head) + c.expected);
  }
  // Without a number given or a unique id, a fresh random number goes out.
  Emv2Api f;
  f.sleeveWithKernel();
  ASSERT_TRUE(f.api->emv2GetCardTracksEncryptedWithFormat(7, 1));
  EXPECT_EQ(f.sleeveKernel.commands().back().size(), std::string("0600C10400000007C20400000001C30400000000").size());
}

TEST(KXDevicesEmv2CardData, TransArmorAnswersBecomeText) {
  Emv2Api f;
  f.sleeveWithKernel();
  const Bytes answer = hexBytes("6900036162630200017A");
  f.sleeveKernel.replies[0x06] = answer;
  auto processed = f.api->emv2GetCardTracksEncryptedWithFormat(13, 1);
  ASSERT_TRUE(processed);
  Bytes expected = {0x69};
  foundation::append(expected, std::string("1,YWJj|2,eg=="));
  EXPECT_EQ(*processed, expected);
  EXPECT_EQ(*f.api->emv2GetCardTracksEncryptedWithFormat(13, 1, std::nullopt, false), answer);

  // Blocks that do not fit, and answers of other formats, come back raw.
  for (const char* raw : {"690003616263020005AA", "6900", "69", "5100036162"}) {
    SCOPED_TRACE(raw);
    EXPECT_EQ(emv2PostProcessTracks(hexBytes(raw)), hexBytes(raw));
  }
  f.sleeveKernel.replies[0x06] = hexBytes("5100036162");
  EXPECT_EQ(*f.api->emv2GetCardTracksEncryptedWithFormat(10, 1), hexBytes("5100036162"));
}

TEST(KXDevicesEmv2CardData, TagRequests) {
  Emv2Api f;
  f.pinpadWithKernel();
  f.pinpadKernel.replies[0x07] = hexBytes("AABB");
  auto dukpt = f.api->emv2GetTagsEncrypted(hexBytes("5A57"), 2, 7, 3, 9);
  ASSERT_TRUE(dukpt);
  EXPECT_EQ(foundation::toHex(*dukpt), "AABBFFFF9876543210E00003");
  EXPECT_EQ(f.pinpadKernel.commands().back(), "0700C10400000002C20400001C03C3025A57C40400000009");
  EXPECT_EQ(foundation::toHex(*f.api->emv2GetTagsEncrypted(hexBytes("5A"), 2, 2, 3, 9)), "AABB");
  EXPECT_EQ(f.drivers.log->count("pinpad.dukptGenerateKeyOnline:3"), 1u);

  // A refused key serial fails the read before anything is sent.
  f.drivers.pinpad->status = 5;
  f.pinpadKernel.clear();
  Error error;
  EXPECT_FALSE(f.api->emv2GetTagsEncrypted(hexBytes("5A"), 2, 8, 3, 9, &error));
  EXPECT_EQ(error.code, -16505);
  EXPECT_TRUE(f.pinpadKernel.commands().empty());

  f.pinpadKernel.replies[0x08] = hexBytes("5A0411112222");
  EXPECT_EQ(foundation::toHex(*f.api->emv2GetTagsPlain(hexBytes("5A"))), "5A0411112222");
  EXPECT_EQ(f.pinpadKernel.commands().back(), "0800C3015A");
}

}  // namespace
}  // namespace kestra::testing
