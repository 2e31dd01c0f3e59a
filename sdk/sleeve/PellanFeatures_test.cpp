#include "sdk/sleeve/PellanFeatures.h"

#include <gtest/gtest.h>

#include <string>

namespace kestra::pellan {
namespace {

TEST(PellanFeatures, FeatCheckReadsEvenAlignedPairsOnly) {
  struct Case {
    const char* model;
    const char* code;
    bool found;
  } cases[] = {
      {"XBCMAM", "CM", true}, {"XBCMAM", "AM", true}, {"XCMB", "CM", false},
      {"", "CM", false},      {"CMX", "CM", true},    {"XBC", "C", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + "/" + c.code);
    EXPECT_EQ(featCheck(c.model, c.code), c.found);
  }
  // A long model string is read in place, to its end.
  std::string longModel(5000, 'Z');
  longModel += "RF";
  EXPECT_TRUE(featCheck(longModel, "RF"));
}

TEST(PellanFeatures, TableForModelStrings) {
  struct Case {
    const char* model;
    const char* name;
    int fwVer;
    int feature;
    int value;  // 0 with `error` for unsupported
    bool error;
  } cases[] = {
      {"XBCMAM", "", 0, 0, 6, false},
      {"XBCMAM", "", 0, 1, 1, false},
      {"BM", "", 0, 0, 1, false},
      {"BM", "", 0, 1, 1, false},
      {"TM", "", 0, 0, 0x24, false},
      {"tM", "", 0, 0, 0x24, false},
      {"PMVM", "", 0, 0, 0x0B, false},
      {"CMEV", "", 0, 0, 0x16, false},
      {"XB", "", 0, 0, 0, true},
      {"CBIB", "", 0, 1, 2, false},
      {"NB", "", 0, 1, 3, false},
      {"IB", "", 0, 1, 4, false},
      {"MB", "", 0, 1, 5, false},
      {"ZB", "", 0, 1, 6, false},
      {"HB", "", 0, 1, 7, false},
      {"CM", "", 0, 1, 0, true},
      {"CM", "", 0, 2, 0, false},
      {"", "", 0, 3, 1, false},
      {"XB", "", 0, 5, 0, false},
      {"RFR7RH", "", 0, 5, 7, false},
      {"R6", "", 0, 5, 2, false},
      {"UH", "", 0, 6, 1, false},
      {"XB", "", 0, 6, 0, true},
      {"XB", "", 0, 7, 0, true},
      {"EVPE", "", 0, 10, 2, false},
      {"PE", "", 0, 10, 4, false},
      {"GV", "", 0, 10, 8, false},
      {"XB", "", 0, 10, 0, true},
      {"HDSC", "", 0, 14, 1, false},
      {"HDSC", "", 0, 15, 1, false},
      {"XB", "", 0, 16, 0, true},
      // Model-table features, by device name (any case) and firmware.
      {"XB", "Pellan Pro 2", 2093, 4, 1, false},
      {"XB", "Pellan Pro 2", 2092, 4, 0, true},
      {"XB", "PELLAN MAX", 5008, 4, 1, false},
      {"XB", "ZizoriD", 0, 11, 1, false},
      {"XB", "Pellan Mini", 0, 11, 0, true},
      {"XB", "rudoziravozoz 7", 0, 12, 1, false},
      {"XB", "rudoziravozoz 7", 0, 13, 1, false},
      {"XB", "Pellan Pro", 0, 12, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " '" + c.name + "' feature " + std::to_string(c.feature));
    foundation::Error e;
    EXPECT_EQ(supportedFeature({c.model, c.name, c.fwVer, false}, c.feature, &e), c.value);
    EXPECT_EQ(e.isError(), c.error);
    if (c.error) {
      EXPECT_EQ(e.code, 0);
      EXPECT_EQ(e.text, "Feature not supported on the connected device(s)");
    }
  }
  EXPECT_EQ(supportedFeature({"XB", "", 0, true}, 2, nullptr), 3);
}

}  // namespace
}  // namespace kestra::pellan
