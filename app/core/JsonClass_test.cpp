#include "app/core/JsonClass.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/core/AppException.h"
#include "testing/app/AppTestSupport.h"

namespace orvo {
namespace {

TEST(JsonClassTest, ReadsDictionariesAndArraysAndAlertsOnAnythingElse) {
  test_support::AppHarness app;
  app.launch();
  struct Case {
    const char* name;
    std::string text;
    bool readable;
  };
  const std::vector<Case> cases = {
      {"dictionary", R"({"Response":"True","Id":"2"})", true},
      {"array", R"([{"Code":"01"},{"Code":"02"}])", true},
      {"bare text", "False", false},
      {"number", "5", false},
      {"truncated", R"({"Response":"Tr)", false},
      {"empty", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = JsonClass::getJSONobj(c.text);
    EXPECT_EQ(value.has_value(), c.readable);
    auto alerts = app.alerts();
    if (c.readable) {
      EXPECT_TRUE(alerts.empty());
    } else {
      ASSERT_EQ(alerts.size(), 1u);
      EXPECT_EQ(alerts[0].title, "JSON Error");
      EXPECT_FALSE(alerts[0].message.empty());
      EXPECT_EQ(alerts[0].buttons, std::vector<std::string>{"OK"});
    }
    app.dismissAlerts();
  }
  try {
    JsonClass::getJSONobj(std::nullopt);
    ADD_FAILURE() << "absent text must throw";
  } catch (const AppException& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
  }
}

TEST(JsonClassTest, WritesPrettyTextThatReadsBack) {
  const nlohmann::json value = {{"Style", "TS100"}, {"Qty", 3}, {"Rows", {1, 2}}};
  const std::string text = JsonClass::setJSONstringFromObj(value);
  EXPECT_NE(text.find('\n'), std::string::npos);
  EXPECT_EQ(JsonClass::readJSON(text), value);
}

}  // namespace
}  // namespace orvo
