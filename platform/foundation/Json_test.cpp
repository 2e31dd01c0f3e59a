#include "platform/foundation/Json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace foundation {
namespace {

// The reader builds exactly what the library's own reader builds.
TEST(JsonTest, ReadsWhatTheLibraryReads) {
  const char* texts[] = {
      "{}", "[]", "null", "true", "-12", "18446744073709551615", "1.5e3", "\"t\\u00e9xt\"",
      R"({"b":[1,{"x":null},"s"],"a":{"k":[[],{}]},"c":false})",
      R"({"z":1,"a":2,"m":3})",
      R"([{"Code":"1","Descript":"Knit top & skirt <set>","Price":"10.50"}])",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    auto value = parseJson(text);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, nlohmann::json::parse(text));
  }
}

TEST(JsonTest, RepeatedKeyKeepsTheLastValue) {
  auto value = parseJson(R"({"a":1,"b":[1],"a":{"c":2}})");
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, nlohmann::json::parse(R"({"a":{"c":2},"b":[1]})"));
}

TEST(JsonTest, MalformedTextIsAnErrorWithThePosition) {
  for (const char* text : {"", "{", "[1,]", "{\"a\" 1}", "[1] x", "nul"}) {
    SCOPED_TRACE(text);
    Error error;
    EXPECT_FALSE(parseJson(text, &error));
    EXPECT_EQ(error.domain, kJsonErrorDomain);
    EXPECT_EQ(error.code, 3840);
    EXPECT_NE(error.text.find("parse error"), std::string::npos) << error.text;
  }
}

TEST(JsonTest, DeepNestingIsReadAndFreed) {
  constexpr int kDepth = 100'000;
  const std::string text = std::string(kDepth, '[') + std::string(kDepth, ']');
  auto value = parseJson(text);
  ASSERT_TRUE(value);
  EXPECT_TRUE(value->is_array());
}

}  // namespace
}  // namespace foundation
