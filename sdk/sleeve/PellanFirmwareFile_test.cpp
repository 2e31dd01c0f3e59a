// The sleeve firmware file's header and the name and model rules.

#include "sdk/sleeve/PellanFirmwareFile.h"

#include <gtest/gtest.h>

#include <cstring>

#include <nlohmann/json.hpp>

namespace kestra::pellan {
namespace {

using foundation::Bytes;
using foundation::Error;

Bytes image(size_t size, const char* maker, const char* model, const char* name,
            std::array<uint8_t, 4> version) {
  Bytes b(size, 0xFF);
  auto put = [&](size_t at, const char* text) {
    if (at + 16 > b.size()) return;
    std::fill(b.begin() + long(at), b.begin() + long(at + 16), 0);
    std::memcpy(b.data() + at, text, std::min<size_t>(strlen(text), 16));
  };
  put(0x100, maker);
  put(0x110, model);
  put(0x120, name);
  if (b.size() >= 0x134) std::copy(version.begin(), version.end(), b.begin() + 0x130);
  return b;
}

TEST(PellanFirmwareFile, HeaderTable) {
  struct Case {
    const char* name;
    Bytes file;
    int code;
    const char* error;
    const char* revision;
    int number;
  };
  const Case cases[] = {
      {"exactly 512 bytes", image(512, "SABREL", "XBCM", "Pellan Pro", {0, 2, 70, 3}), 0, "", "2.70.03", 9003},
      {"old-style version (minor and build)", image(600, "SABREL", "XBCM", "Pellan Pro", {0, 0, 63, 1}), 0, "", "63.01.0", 6301},
      {"version byte 0 set", image(600, "SABREL", "XBCM", "Pellan Pro", {1, 0, 5, 2}), 0, "", "0.05.02", 502},
      {"511 bytes", image(511, "SABREL", "XBCM", "Pellan Pro", {0, 2, 70, 3}), -21, "Data is nil or invalid", "", 0},
      {"empty", Bytes(), -21, "Data is nil or invalid", "", 0},
      {"another maker", image(512, "SABRE", "XBCM", "Pellan Pro", {0, 2, 70, 3}), -21, "Data is invalid", "", 0},
      {"no model", image(512, "SABREL", "", "Pellan Pro", {0, 2, 70, 3}), -21, "Data is invalid", "", 0},
      {"no name", image(512, "SABREL", "XBCM", "", {0, 2, 70, 3}), -21, "Data is invalid", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    const auto info = readFirmwareFile(c.file, &e);
    ASSERT_EQ(info.has_value(), c.code == 0);
    if (!info) {
      EXPECT_EQ(e.code, c.code);
      EXPECT_EQ(e.text, c.error);
      continue;
    }
    EXPECT_EQ(info->firmwareRevision, c.revision);
    EXPECT_EQ(info->firmwareRevisionNumber, c.number);
    const nlohmann::json j = info->toJson();
    EXPECT_EQ(j.at("deviceModel"), "XBCM");
    EXPECT_EQ(j.at("deviceName"), "Pellan Pro");
    EXPECT_EQ(j.at("firmwareRevision"), c.revision);
    EXPECT_EQ(j.at("firmwareRevisionNumber"), c.number);
  }
}

TEST(PellanFirmwareFile, FieldsWithoutTheirEndStopAtSixteenBytes) {
  Bytes file = image(512, "SABREL", "XBCM", "Pellan Pro", {0, 2, 70, 3});
  std::fill(file.begin() + 0x110, file.begin() + 0x130, 'A');  // model and name fill their fields
  const auto info = readFirmwareFile(file, nullptr);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->deviceModel, std::string(16, 'A'));
  EXPECT_EQ(info->deviceName, std::string(16, 'A'));
}

TEST(PellanFirmwareFile, NameAndModelRules) {
  EXPECT_TRUE(firmwareNameEqual("Pellan Pro", "Pellan Pro"));
  EXPECT_FALSE(firmwareNameEqual("Pellan Pro", "Pellan Max"));
  EXPECT_TRUE(firmwareNameEqual("ZizoriDHC 20", "ZizoriD 20"));
  EXPECT_TRUE(firmwareNameEqual("ZizoriD 20", "ZizoriDHC 20"));
  EXPECT_FALSE(firmwareNameEqual("Pellan HC", "Pellan "));  // only ZizoriD names drop "HC"

  struct Case {
    const char* sleeve;
    const char* model;
    bool equal;
  };
  const Case cases[] = {
      {"XBCM", "XBCM", true}, {"XBCM", "CMXB", true}, {"XBPM", "XBAM", true},
      {"XBCM", "XBRF", false}, {"XBCM", "XB", false}, {"", "", true},
      {"XBCMX", "XBCMX", true}, {"XBCMZ", "XBCMQ", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sleeve) + " / " + c.model);
    EXPECT_EQ(firmwareModelEqual(c.sleeve, c.model), c.equal);
  }
}

}  // namespace
}  // namespace kestra::pellan
