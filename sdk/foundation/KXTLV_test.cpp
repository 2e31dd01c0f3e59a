#include "sdk/foundation/KXTLV.h"

#include <gtest/gtest.h>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {
namespace tlv_test {

using foundation::Bytes;

Bytes H(std::string_view hex) { return KXUNISDKGlobals::stringToData(hex); }

TEST(KXTLVTest, DecodesEmvDataObjects) {
  // EMV Book 3: Amount, Authorised (9F02, n12) of 1.00.
  auto one = KXTLV::decodeTags(H("9F02 06 000000000100"));
  ASSERT_TRUE(one);
  ASSERT_EQ(one->size(), 1u);
  EXPECT_EQ((*one)[0].tag, 0x9F02u);
  EXPECT_EQ((*one)[0].data, H("000000000100"));
  EXPECT_EQ((*one)[0].valueAsInt64(), 0x100);
  EXPECT_EQ(KXTLV::encodeTags(*one), H("9F02 06 000000000100"));

  // Transaction Currency Code (5F2A, 978 = EUR) followed by Transaction Type (9C, goods).
  auto two = KXTLV::decodeTags(H("5F2A 02 0978 9C 01 00"));
  ASSERT_TRUE(two);
  ASSERT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[0].tag, 0x5F2Au);
  EXPECT_EQ((*two)[0].tagAsString(), "5F2A");
  EXPECT_EQ((*two)[1].tag, 0x9Cu);
  EXPECT_EQ((*two)[1].data, H("00"));
}

TEST(KXTLVTest, LengthAndTagForms) {
  struct Case {
    const char* name;
    const char* input;
    uint32_t tag;
    size_t length;
  };
  const Case cases[] = {
      // ISO/IEC 8825-1: definite short form, long form with one and two length bytes.
      {"short form", "5A 08 4111111111111111", 0x5A, 8},
      {"long form, one byte", "50 81 03 414243", 0x50, 3},
      {"0x80 reads as zero", "9F1A 80", 0x9F1A, 0},
      {"zero length", "DF01 00", 0xDF01, 0},
      {"three-byte tag", "DF8101 01 FF", 0xDF8101, 1},
      {"four bytes end the tag", "DF818283 01 AA", 0xDF818283, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = KXTLV::decodeTags(H(c.input));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), 1u);
    EXPECT_EQ((*r)[0].tag, c.tag);
    ASSERT_TRUE((*r)[0].data);
    EXPECT_EQ((*r)[0].data->size(), c.length);
  }
}

TEST(KXTLVTest, LengthsAbove4096AndTruncatedItemsAreRefused) {
  Bytes ok = H("DF01 82 1000");
  ok.resize(ok.size() + 4096, 0xAB);
  auto accepted = KXTLV::decodeTags(ok);
  ASSERT_TRUE(accepted);
  EXPECT_EQ((*accepted)[0].data->size(), 4096u);

  Bytes tooLong = H("DF01 82 1001");
  tooLong.resize(tooLong.size() + 4097, 0xAB);
  EXPECT_FALSE(KXTLV::decodeTags(tooLong));
  EXPECT_FALSE(KXTLV::decodeTags(H("DF01 84 00000010 00")));
  EXPECT_FALSE(KXTLV::decodeTags(H("DF01 84 FFFFFFFF")));

  // Every cut through the last item fails as a whole: nothing partial comes back.
  const Bytes full = H("9C 01 00 9F02 06 000000000100");
  for (size_t n = 4; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(KXTLV::decodeTags(Bytes(full.begin(), full.begin() + std::ptrdiff_t(n))));
  }
  EXPECT_FALSE(KXTLV::decodeTags(Bytes{}));
  EXPECT_FALSE(KXTLV::decodeTags(H("9F")));
}

TEST(KXTLVTest, BuiltObjectsRoundTrip) {
  const Bytes longValue(200, 0x5C);
  const std::vector<KXTLV> built = {
      KXTLV::tlvWithBCD(100, 6, 0x9F02),
      KXTLV::tlvWithHexString("09 78", 0x5F2A),
      KXTLV::tlvWithInt(0, 1, 0x9C),
      KXTLV::tlvWithString("VISA CREDIT", 0x50),
      KXTLV::tlvWithData(longValue, 0xDF8101),
      KXTLV::tlvWithData(KXTLV::encodeTags({KXTLV::tlvWithInt(1, 1, 0xC1)}), 0xE1),
      KXTLV::tlvWithData({}, 0x9F1A),
  };
  const Bytes encoded = KXTLV::encodeTags(built);
  // The 200-byte value is written with the two-byte long form.
  const Bytes longHeader = H("DF8101 82 00C8");
  EXPECT_NE(std::search(encoded.begin(), encoded.end(), longHeader.begin(), longHeader.end()),
            encoded.end());
  auto decoded = KXTLV::decodeTags(encoded);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, built);
  EXPECT_EQ(built[0].data, H("000000000100"));

  // A value over 4096 bytes encodes but is refused on the way back.
  const Bytes big = KXTLV::encodeTags({KXTLV::tlvWithData(Bytes(4097, 1), 0xDF02)});
  EXPECT_FALSE(KXTLV::decodeTags(big));
  // Values of 65,536 bytes and more use a longer length form.
  const Bytes huge = KXTLV::encodeTags({KXTLV::tlvWithData(Bytes(70000, 1), 0xDF02)});
  EXPECT_EQ(Bytes(huge.begin(), huge.begin() + 6), H("DF02 83 011170"));
  EXPECT_EQ(huge.size(), 6u + 70000u);
}

TEST(KXTLVTest, FactoriesAndAccessors) {
  EXPECT_EQ(KXTLV::tlvWithInt(0x1234, 4, 0x9F36).data, H("00001234"));
  EXPECT_EQ(KXTLV::tlvWithInt(0x0102030405060708ULL, 10, 0xC1).data, H("00 00 0102030405060708"));
  EXPECT_EQ(KXTLV::tlvWithBCD(12345, 3, 0x9A).data, H("012345"));
  EXPECT_EQ(KXTLV::tlvWithBCD(12345, 2, 0x9A).data, H("2345"));
  EXPECT_EQ(KXTLV::tagFromHexString("9F02"), 0x9F02u);
  EXPECT_EQ(KXTLV::tagFromHexString("0x5a"), 0x5Au);

  struct C { uint32_t tag; bool constructed; const char* text; };
  for (const C& c : {C{0xE6, true, "E6"}, C{0x9F02, false, "9F02"}, C{0xBF0C, true, "BF0C"},
                     C{0x70, true, "70"}, C{0x5A, false, "5A"}, C{0x01, false, "01"}}) {
    KXTLV t(c.tag, std::nullopt);
    EXPECT_EQ(t.constructed(), c.constructed) << c.text;
    EXPECT_EQ(t.tagAsString(), c.text);
  }

  const KXTLV v = KXTLV::tlvWithHexString("AA BB 01 02 03 04 05 06 07 08", 0xC2);
  EXPECT_EQ(v.valueAsInt64(), 0x0102030405060708);
  EXPECT_EQ(v.valueAsHexString(), "AABB0102030405060708");
  EXPECT_EQ(v.description(), "Tag: c2 (<aabb0102 03040506 0708>)");
  EXPECT_EQ(KXTLV::tlvWithString("HELLO", 0xD3).description(), "Tag: d3 (HELLO)");
  const KXTLV none(0x9F1A, std::nullopt);
  EXPECT_EQ(none.bytes(), nullptr);
  EXPECT_EQ(none.valueAsInt64(), 0);
  EXPECT_EQ(KXTLV::encodeTags({none}), H("9F1A 00"));

  const std::vector<KXTLV> list = {KXTLV::tlvWithInt(1, 1, 0x9C), KXTLV::tlvWithInt(2, 1, 0x5A),
                                   KXTLV::tlvWithInt(3, 1, 0x9C)};
  EXPECT_EQ(KXTLV::findTag(0x9C, list).size(), 2u);
  EXPECT_TRUE(KXTLV::findTag(0x9F02, list).empty());
  ASSERT_TRUE(KXTLV::findLastTag(0x9C, list));
  EXPECT_EQ(KXTLV::findLastTag(0x9C, list)->valueAsInt64(), 3);
  EXPECT_FALSE(KXTLV::findLastTag(0x9F02, list));
}

}  // namespace tlv_test
}  // namespace
}  // namespace kestra
