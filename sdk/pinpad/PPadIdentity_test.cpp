#include "sdk/pinpad/PPadIdentity.h"

#include <gtest/gtest.h>

namespace kestra::ppad {
namespace {

using foundation::Bytes;

Bytes identificationReply(uint32_t firmware, const std::string& features) {
  Bytes r(41, 0);
  r[0] = 0x01;
  for (int i = 0; i < 4; ++i) r[1 + i] = uint8_t(firmware >> (8 * i));
  for (char ch : features) r.push_back(uint8_t(ch));
  r.push_back(0);
  while (r.size() < 46) r.push_back(0);
  return r;
}

TEST(PPadIdentity, IdentificationGivesFirmwareAndFeatureString) {
  const auto id = parseIdentification(identificationReply(0x02042740, "XBPE"));
  EXPECT_EQ(id.firmwareVersion, 0x02042740u);
  EXPECT_EQ(versionText(id.firmwareVersion), "2.04.39.64");
  EXPECT_EQ(id.firmwareVersion, kUiexFirmware);
  EXPECT_EQ(id.featureString, "XBPE");
  // Without the feature part (fewer than 46 bytes) there is no feature string; a short
  // reply leaves the fields it does not reach at zero.
  EXPECT_EQ(parseIdentification(Bytes(45, 0x41)).featureString, "");
  EXPECT_EQ(parseIdentification({0x01, 0x02}).firmwareVersion, 0x02u);
  // An unterminated feature string stops at the record's end.
  EXPECT_EQ(parseIdentification(Bytes(200, 0x41)).featureString.size(), 35u);
}

TEST(PPadIdentity, SystemInfoRecordAndTheOlderLayout) {
  Bytes record(100, 0);
  record[0] = 100;
  for (int i = 0; i < 16; ++i) record[2 + i] = uint8_t(0xA0 + i);
  record[32] = 0x39;  // serial 12345 = 0x3039
  record[33] = 0x30;
  std::string fw = "FW SKYRIK5000G";
  std::copy(fw.begin(), fw.end(), record.begin() + 56);
  record[72] = 0x40; record[73] = 0x27; record[74] = 0x04; record[75] = 0x02;
  record[91] = 1;
  const auto info = parseSystemInfo(record);
  EXPECT_EQ(info.serialNumber(), 12345u);
  EXPECT_EQ(info.firmwareName(), fw);
  EXPECT_EQ(versionText(info.firmwareVersion()), "2.04.39.64");
  EXPECT_FALSE(info.isDevelopmentUnit());
  const auto pi = info.info();
  EXPECT_EQ(pi.cpuSerialString, "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
  EXPECT_EQ(pi.pinpadSerial, (Bytes{0x00, 0x00, 0x30, 0x39}));
  EXPECT_EQ(pi.pinpadSerialString, "12345");

  Bytes old(132, 0);
  for (int i = 0; i < 16; ++i) old[i] = uint8_t(i + 1);
  std::copy(fw.begin(), fw.end(), old.begin() + 32);
  old[84] = 0x01; old[87] = 0x03;  // firmware version 3.00.00.01
  old[92] = 0x07;                  // serial 7
  const auto mapped = parseSystemInfo(old);
  EXPECT_EQ(mapped.cpuSerial()[0], 1);
  EXPECT_EQ(mapped.firmwareName(), fw);
  EXPECT_EQ(mapped.firmwareVersion(), 0x03000001u);
  EXPECT_EQ(mapped.serialNumber(), 7u);

  // A stated size beyond the record or the reply is cut to what fits.
  Bytes big(300, 0x11);
  big[0] = 0xFF; big[1] = 0xFF;
  EXPECT_EQ(parseSystemInfo(big).raw[99], 0x11);
  Bytes shortOne = {50, 0, 0xAB};
  EXPECT_EQ(parseSystemInfo(shortOne).raw[2], 0xAB);
  EXPECT_EQ(parseSystemInfo(shortOne).raw[3], 0);
}

TEST(PPadIdentity, ModelTable) {
  using F = Model::Flag;
  struct Case {
    const char* name;
    int type, w, h, status;
    F uiex, uicolor;
    bool bottom, builtIn, printer, emptyModel;
  } cases[] = {
      {"Vantorix V1", 5, 0, 0, 0, F::Set, F::Cleared, false, true, false, false},
      {"SKYRIK5500", 4, 320, 240, 22, F::Set, F::Unchanged, false, true, false, false},
      {"SKYRIK5000G", 4, 320, 240, 22, F::Set, F::Set, false, true, false, false},
      {"skyrik55x", 4, 320, 240, 22, F::Set, F::Set, false, true, true, false},
      {"CQ-NINE", 2, 128, 32, 6, F::Set, F::Unchanged, false, false, false, false},
      {"SKYRIK500", 3, 128, 32, 6, F::Unchanged, F::Unchanged, true, false, false, false},
      {"Skyrik", 2, 128, 32, 6, F::Unchanged, F::Unchanged, false, false, false, true},
      {"PPAD2", 2, 128, 32, 6, F::Unchanged, F::Unchanged, false, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto m = modelFor(c.name);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->deviceType, c.type);
    EXPECT_EQ(m->displayWidth, c.w);
    EXPECT_EQ(m->displayHeight, c.h);
    EXPECT_EQ(m->statusHeight, c.status);
    EXPECT_EQ(m->uiex, c.uiex);
    EXPECT_EQ(m->uicolor, c.uicolor);
    EXPECT_EQ(m->displayAtBottom, c.bottom);
    EXPECT_EQ(m->builtInStatusLine, c.builtIn);
    EXPECT_EQ(m->enablePrinter, c.printer);
    EXPECT_EQ(m->clearDeviceModel, c.emptyModel);
    EXPECT_EQ(m->cachingMode, c.emptyModel);
  }
  EXPECT_FALSE(modelFor("Unknown pad"));
}

TEST(PPadIdentity, FeaturesFromTheFeatureString) {
  FeatureContext c;
  c.featureString = "XBPE";
  c.deviceName = "SKYRIK5000G";
  bool kernel = false;
  EXPECT_EQ(supportedFeature(c, 1, nullptr), 1);
  EXPECT_EQ(supportedFeature(c, 10, nullptr, nullptr, &kernel), 5);
  EXPECT_TRUE(kernel);
  EXPECT_EQ(supportedFeature(c, 7, nullptr), 1);
  // The same letters off the even offsets are no codes.
  c.featureString = "XPBE";
  kernel = false;
  foundation::Error e;
  EXPECT_EQ(supportedFeature(c, 1, &e), 0);
  EXPECT_EQ(e.text, "Feature not supported on the connected device(s)");
  EXPECT_EQ(e.code, 0);
  EXPECT_EQ(supportedFeature(c, 10, nullptr, nullptr, &kernel), 1);
  EXPECT_FALSE(kernel);

  struct Case {
    const char* features;
    int feature, value;
  } cases[] = {{"CMEV", 0, 0x16}, {"PMtM", 0, 0x21}, {"CB", 1, 2}, {"IB", 1, 4}, {"NB", 1, 3},
               {"MBCB", 1, 2},    {"BL", 2, 3},      {"R7RH", 5, 6}, {"XX", 5, 0}, {"HD", 14, 1},
               {"SC", 15, 1},     {"XX", 15, 0},     {"XX", 3, 1}, {"XX", 99, 0}};
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.features) + " feature " + std::to_string(k.feature));
    c.featureString = k.features;
    EXPECT_EQ(supportedFeature(c, k.feature, nullptr), k.value);
  }
  c.featureString = "XX";
  c.displayWidth = 320;
  c.displayHeight = 240;
  c.uicolor = true;
  EXPECT_EQ(supportedFeature(c, 17, nullptr), 2);
  c.uicolor = false;
  EXPECT_EQ(supportedFeature(c, 17, nullptr), 3);
  c.displayWidth = 128;
  c.displayHeight = 32;
  EXPECT_EQ(supportedFeature(c, 17, nullptr), 4);
  c.deviceName = "SKYRIK500";
  EXPECT_EQ(supportedFeature(c, 1, nullptr), 1);
}

TEST(PPadIdentity, FallbackFeaturesWithoutAFeatureString) {
  FeatureContext c;
  c.deviceType = 3;
  c.identificationFirmware = 0x2042300;
  EXPECT_EQ(supportedFeature(c, 0, nullptr), 0x24);
  c.identificationFirmware = 0x2042606;
  EXPECT_EQ(supportedFeature(c, 0, nullptr), 0x2C);
  EXPECT_EQ(supportedFeature(c, 1, nullptr), 3);
  EXPECT_EQ(supportedFeature(c, 2, nullptr), 3);
  c.deviceType = 2;
  foundation::Error e;
  EXPECT_EQ(supportedFeature(c, 2, &e), 0);
  EXPECT_FALSE(e.text.empty());
  bool detect = false;
  supportedFeature(c, 10, nullptr, &detect);
  EXPECT_TRUE(detect);
  c.deviceType = 5;
  EXPECT_EQ(supportedFeature(c, 9, nullptr), 1);  // the fallback table answers 1
}

TEST(PPadIdentity, FirmwareFileHeader) {
  Bytes file(600, 0);
  EXPECT_FALSE(firmwareFileInformation(file));
  file[508] = 0x1F; file[509] = 0xDB; file[510] = 0x26; file[511] = 0xD6;
  file[500] = 4; file[501] = 3; file[502] = 2; file[503] = 1;
  const auto info = firmwareFileInformation(file);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->deviceName, "FW PPAD1");
  EXPECT_EQ(info->deviceModel, "I");
  EXPECT_EQ(info->firmwareRevisionNumber, 1020304);
  EXPECT_EQ(info->firmwareRevision, "1.02.03.04");
  EXPECT_FALSE(firmwareFileInformation(Bytes(file.begin(), file.begin() + 511)));
}

TEST(PPadIdentity, TextBytesAndKeyTypes) {
  EXPECT_EQ(getTextBytes("A\u20AC"), (Bytes{0x41, 0x80, 0x00}));
  EXPECT_EQ(getTextBytes("\u00E9"), (Bytes{0xE9, 0x00}));
  EXPECT_EQ(getTextBytes(""), (Bytes{0x00}));
  EXPECT_EQ(getTextBytes("\xE2\x82"), (Bytes{'?', 0x00}));  // cut sequence
  KXKeyInfo k;
  k.type = 2;
  EXPECT_EQ(k.typeString(), "DUKPT_AES_128");
  k.type = 116;
  EXPECT_EQ(k.typeString(), "3DES_168");
  k.type = 5;
  EXPECT_EQ(k.typeString(), "Unknown");
  EXPECT_FALSE(k.isDUKPTKey());
  k.ksn = Bytes(10, 0);
  EXPECT_TRUE(k.isDUKPTKey());
}

}  // namespace
}  // namespace kestra::ppad
