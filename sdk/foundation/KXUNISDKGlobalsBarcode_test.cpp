#include <gtest/gtest.h>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

using foundation::Bytes;

// A delegate of the device API that records every barcode callback it receives.
class RecordingDelegate : public KXBarcodeDelegate {
 public:
  struct Call {
    std::string form;  // the selector
    std::string barcode;
    int type = 0;
    std::string isotype;
  };

  explicit RecordingDelegate(std::initializer_list<std::string_view> selectors) {
    implements(selectors);
  }
  void barcodeNSData(const Bytes& b, int type) override {
    calls.push_back({std::string(sel::barcodeNSData_type), std::string(b.begin(), b.end()), type, {}});
  }
  void barcodeData(const std::string& b, int type) override {
    calls.push_back({std::string(sel::barcodeData_type), b, type, {}});
  }
  void barcodeNSData(const Bytes& b, const std::string& iso) override {
    calls.push_back({std::string(sel::barcodeNSData_isotype), std::string(b.begin(), b.end()), 0, iso});
  }
  void barcodeData(const std::string& b, const std::string& iso) override {
    calls.push_back({std::string(sel::barcodeData_isotype), b, 0, iso});
  }

  std::vector<Call> calls;
};

std::shared_ptr<RecordingDelegate> allForms() {
  return std::make_shared<RecordingDelegate>(std::initializer_list<std::string_view>{
      sel::barcodeNSData_type, sel::barcodeData_type, sel::barcodeNSData_isotype,
      sel::barcodeData_isotype});
}

Bytes scan(uint8_t code, std::string_view text) {
  Bytes b(1 + text.size());
  b[0] = code;
  std::copy(text.begin(), text.end(), b.begin() + 1);
  return b;
}
Bytes scan(std::string_view text) { return Bytes(text.begin(), text.end()); }

class BarcodeTest : public ::testing::Test {
 protected:
  void SetUp() override { KXUNISDKGlobals::filterBarcodeReset(); }
  void TearDown() override { KXUNISDKGlobals::filterBarcodeReset(); }
};

TEST_F(BarcodeTest, EngineCodesBecomeTheSdkTypeByMode) {
  struct Case {
    const char* name;
    Bytes barcode;
    int mode;
    int engine;
    bool strip;
    std::string form;
    std::string code;
    int type;
    std::string iso;
  };
  const Case cases[] = {
      {"opticon C, mode 1", scan('C', "012345678905"), 1, 1, false, "barcodeData:type:", "012345678905", 1, ""},
      {"opticon C, mode 0 keeps the raw code", scan('C', "012345678905"), 0, 1, false, "barcodeData:type:", "012345678905", 'C', ""},
      {"opticon C, mode 2 gives ]E0", scan('C', "012345678905"), 2, 1, false, "barcodeData:isotype:", "012345678905", 0, "]E0"},
      {"opticon unknown letter, mode 1", scan('X', "ABC"), 1, 1, false, "barcodeData:type:", "ABC", -1, ""},
      {"opticon control code stays raw", scan(0x05, "ABC"), 1, 1, false, "barcodeData:type:", "ABC", 5, ""},
      {"motorola converts in every mode", scan(3, "CODE128"), 0, 5, false, "barcodeData:type:", "CODE128", 7, ""},
      {"motorola drops its own identifier", scan(3, "]C0CODE128"), 1, 5, false, "barcodeData:type:", "CODE128", 7, ""},
      {"other engine: raw byte sign-extended", scan(0xF0, "X1"), 1, 2, false, "barcodeData:type:", "X1", -16, ""},
      {"ISO ]E0 13 digits with 0, mode 1", scan("]E00012345678905"), 1, 0, false, "barcodeData:type:", "0012345678905", 1, ""},
      {"ISO ]E0 13 digits with 0, stripped", scan("]E00012345678905"), 1, 0, true, "barcodeData:type:", "012345678905", 1, ""},
      {"ISO ]E0 13 digits, EAN-13", scan("]E04006381333931"), 1, 0, true, "barcodeData:type:", "4006381333931", 14, ""},
      {"ISO ]E0 8 digits is UPC-E in mode 1", scan("]E001234565"), 1, 0, false, "barcodeData:type:", "01234565", 41, ""},
      {"ISO ]E0 8 digits stays 1 in mode 0", scan("]E001234565"), 0, 0, false, "barcodeData:type:", "01234565", 1, ""},
      {"ISO ]Q1 is QR", scan("]Q1hello"), 0, 0, false, "barcodeData:type:", "hello", 32, ""},
      {"ISO mode 2 passes the identifier", scan("]C0ABC"), 2, 0, false, "barcodeData:isotype:", "ABC", 0, "]C0"},
      {"ISO unknown identifier", scan("]Z9ABC"), 1, 0, false, "barcodeData:type:", "ABC", -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = std::make_shared<RecordingDelegate>(std::initializer_list<std::string_view>{
        sel::barcodeData_type, sel::barcodeData_isotype});
    KXUNISDKGlobals::notifyBarcode({d}, c.barcode, c.mode, 0, c.engine, c.strip);
    ASSERT_EQ(d->calls.size(), 1u);
    EXPECT_EQ(d->calls[0].form, c.form);
    EXPECT_EQ(d->calls[0].barcode, c.code);
    if (c.form == "barcodeData:type:") {
      EXPECT_EQ(d->calls[0].type, c.type);
    }
    EXPECT_EQ(d->calls[0].isotype, c.iso);
  }
}

TEST_F(BarcodeTest, EachDelegateGetsExactlyOneCallbackOfTheFormItPrefers) {
  auto both = allForms();
  auto textOnly = std::make_shared<RecordingDelegate>(
      std::initializer_list<std::string_view>{sel::barcodeData_type});
  auto isoOnly = std::make_shared<RecordingDelegate>(
      std::initializer_list<std::string_view>{sel::barcodeData_isotype});
  auto none = std::make_shared<RecordingDelegate>(std::initializer_list<std::string_view>{});
  std::weak_ptr<KXBarcodeDelegate> released;
  {
    auto gone = allForms();
    released = gone;
  }
  const std::vector<std::weak_ptr<KXBarcodeDelegate>> delegates = {both, released, textOnly,
                                                                   isoOnly, none};

  KXUNISDKGlobals::notifyBarcode(delegates, scan('C', "12345"), 1, 0, 1, false);
  ASSERT_EQ(both->calls.size(), 1u);
  EXPECT_EQ(both->calls[0].form, "barcodeNSData:type:");
  ASSERT_EQ(textOnly->calls.size(), 1u);
  EXPECT_EQ(textOnly->calls[0].form, "barcodeData:type:");
  EXPECT_TRUE(isoOnly->calls.empty());
  EXPECT_TRUE(none->calls.empty());

  KXUNISDKGlobals::notifyBarcode(delegates, scan('C', "12345"), 2, 0, 1, false);
  ASSERT_EQ(both->calls.size(), 2u);
  EXPECT_EQ(both->calls[1].form, "barcodeNSData:isotype:");
  EXPECT_EQ(textOnly->calls.size(), 1u);
  ASSERT_EQ(isoOnly->calls.size(), 1u);
  EXPECT_EQ(isoOnly->calls[0].isotype, "]E0");

  // Type mode -1 and unknown modes deliver nothing.
  KXUNISDKGlobals::notifyBarcode(delegates, scan('C', "12345"), -1, 0, 1, false);
  KXUNISDKGlobals::notifyBarcode(delegates, scan('C', "12345"), 3, 0, 1, false);
  EXPECT_EQ(both->calls.size(), 2u);
}

TEST_F(BarcodeTest, NoDuplicatesModeDropsRepeatsUntilReset) {
  auto d = allForms();
  const std::vector<std::weak_ptr<KXBarcodeDelegate>> list = {d};
  auto deliver = [&](const std::string& code) {
    const size_t before = d->calls.size();
    KXUNISDKGlobals::notifyBarcode(list, scan(0x0D, code), 0, MODE_MULTI_SCAN_NO_DUPLICATES, 0, false);
    return d->calls.size() - before;
  };
  EXPECT_EQ(deliver("A1"), 1u);
  EXPECT_EQ(deliver("A1"), 0u);
  // Another engine code with the same code bytes is still a duplicate: the code is compared.
  KXUNISDKGlobals::notifyBarcode(list, scan(0x0E, "A1"), 0, MODE_MULTI_SCAN_NO_DUPLICATES, 0, false);
  EXPECT_EQ(d->calls.size(), 1u);
  // Other scan modes do not filter.
  KXUNISDKGlobals::notifyBarcode(list, scan(0x0D, "A1"), 0, 1, 0, false);
  EXPECT_EQ(d->calls.size(), 2u);

  KXUNISDKGlobals::filterBarcodeReset();
  EXPECT_EQ(deliver("A1"), 1u);

  // 49 codes are remembered; the 50th is delivered but not remembered.
  for (int i = 2; i <= 49; ++i) EXPECT_EQ(deliver(std::string(1, 'A').append(std::to_string(i))), 1u);
  EXPECT_EQ(deliver("A50"), 1u);
  EXPECT_EQ(deliver("A50"), 1u);
  EXPECT_EQ(deliver("A49"), 0u);
}

TEST_F(BarcodeTest, EmptyDelegateListStillRecordsTheDigest) {
  KXUNISDKGlobals::notifyBarcode({}, scan(0x0D, "Z9"), 0, MODE_MULTI_SCAN_NO_DUPLICATES, 0, false);
  auto d = allForms();
  KXUNISDKGlobals::notifyBarcode({d}, scan(0x0D, "Z9"), 0, MODE_MULTI_SCAN_NO_DUPLICATES, 0, false);
  EXPECT_TRUE(d->calls.empty());
}

TEST_F(BarcodeTest, ADelegateThatThrowsDoesNotStopTheOthers) {
  class Throwing : public KXBarcodeDelegate {
   public:
    Throwing() { implements({sel::barcodeData_type}); }
    void barcodeData(const std::string&, int) override { throw std::runtime_error("boom"); }
  };
  auto bad = std::make_shared<Throwing>();
  auto good = allForms();
  EXPECT_NO_THROW(KXUNISDKGlobals::notifyBarcode({bad, good}, scan('C', "1"), 1, 0, 1, false));
  EXPECT_EQ(good->calls.size(), 1u);
}

TEST(BarcodeTablesTest, NamesAndConversions) {
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(1, 0), "UPC");
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(1, 2), "UPC-A");
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(32, 1), "QR Code");
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(35, 1), "Reserved");
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(61, 1), "Micro QRCode");
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(62, 1), "Unknown");
  EXPECT_EQ(KXUNISDKGlobals::barcodeType2Text(0, 1), "Unknown");

  struct Conv { int code; int opticon; int motorola; int intermec; };
  const Conv convs[] = {
      {'A', 13, -1, -1}, {'y', 16, -1, -1}, {'z', -1, -1, -1}, {'@', -1, -1, -1},
      {1, -1, 5, 14},    {8, -1, 1, 42},    {85, 6, 56, -1},   {100, 26, 57, -1},
      {154, -1, 28, -1}, {74, 46, 46, 31},  {38, -1, 24, 16},  {60, -1, -1, -1},
  };
  for (const auto& c : convs) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(KXUNISDKGlobals::opticonBarType2Extended(static_cast<signed char>(c.code)), c.opticon);
    EXPECT_EQ(KXUNISDKGlobals::motorolaBarType2Extended(static_cast<unsigned char>(c.code)), c.motorola);
    EXPECT_EQ(KXUNISDKGlobals::intermecBarType2Extended(c.code), c.intermec);
  }

  EXPECT_EQ(KXUNISDKGlobals::extendedBarType2ISO(41), "]E0");
  EXPECT_EQ(KXUNISDKGlobals::extendedBarType2ISO(45), "]E3");
  EXPECT_EQ(KXUNISDKGlobals::extendedBarType2ISO(58), "]e1");
  EXPECT_EQ(KXUNISDKGlobals::extendedBarType2ISO(-1), "]X0");
  EXPECT_EQ(KXUNISDKGlobals::isoBarType2Normal("]X5", ""), 14);
  EXPECT_EQ(KXUNISDKGlobals::isoBarType2Normal("]S1", ""), -1);
  EXPECT_EQ(KXUNISDKGlobals::isoBarType2Normal("]L3", ""), 29);
  EXPECT_EQ(KXUNISDKGlobals::isoBarType2Normal("]E7", "12"), 13);
  EXPECT_EQ(KXUNISDKGlobals::isoBarType2Normal("]J1", ""), -1);
}

}  // namespace
}  // namespace kestra
