// Metrics: their keys, counters and the upload that subtracts only what the server took.

#include <gtest/gtest.h>

#include "platform/foundation/DateFormat.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaMetrics.h"

namespace kestra::agenttest {
namespace {

TEST_F(AgentTest, MetricKeysAreLowerCaseWithoutBlanksAndShareTheDenominator) {
  struct Case {
    const char* name;
    const char* category;
    const char* numerator;
    const char* denominator;
  };
  const Case cases[] = {{"Scan", "Ok", "scan_ok", "scan"},
                        {"Scan", "Fail", "scan_fail", "scan"},
                        {"Card Read", "Ok", "cardread_ok", "cardread"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.numerator);
    VexaMetrics m(c.name, c.category);
    EXPECT_EQ(m.numeratorKey(), c.numerator);
    EXPECT_EQ(m.denominatorKey(), c.denominator);
  }
  VexaMetrics ok("Scan", "Ok"), fail("Scan", "Fail");
  ok.addDenominatorCount(3);
  EXPECT_EQ(fail.denominatorCount(), 3);
  ok.addNumeratorCount(2);
  EXPECT_EQ(fail.numeratorCount(), 0);
  const auto store = foundation::UserDefaults::standard().objectForKey("VexaMetrics");
  EXPECT_EQ(store["scan_ok"], 2);
  EXPECT_EQ(store["scan"], 3);
}

TEST_F(AgentTest, MetricsAreSubtractedOnlyAfterTheServerTookThem) {
  VexaMetrics scan("Scan", "Ok");
  scan.setNumeratorCount(5);
  scan.setDenominatorCount(7);
  agent_->addMetric(scan);
  agent_->addMetric(scan);
  EXPECT_EQ(foundation::UserDefaults::standard().objectForKey("OKTVEXA_METRIC_OBJECTS").size(), 1u);

  // Refused: nothing changes.
  server_->script(mdm::kMetricPath, {500, R"({"message":"later"})"});
  ASSERT_TRUE(checkIn().success);
  ASSERT_TRUE(server_->waitFor(mdm::kMetricPath, 1));
  const auto body = *server_->requests(mdm::kMetricPath)[0].json;
  EXPECT_EQ(body["metric"], "Scan");
  EXPECT_EQ(body["metricCategory"], "Ok");
  EXPECT_EQ(body["numerator"], 5);
  EXPECT_EQ(body["denominator"], 7);
  EXPECT_EQ(body["interval"], 1440);
  EXPECT_EQ(body["serial"], VexaIdentifier::getUUID());
  EXPECT_EQ(body["manufacturer"], "Apple");
  EXPECT_EQ(body["bundle"], "com.orvo.OrvoMobile");
  EXPECT_TRUE(foundation::parseIsoDate(body["dateTime"].get<std::string>()).has_value()) << body["dateTime"];
  ASSERT_TRUE(settlePosts());
  EXPECT_EQ(scan.numeratorCount(), 5);
  EXPECT_EQ(scan.denominatorCount(), 7);

  // Taken while the host counts two more: those two stay.
  server_->script(mdm::kMetricPath, {200, "{}", "application/json", std::chrono::milliseconds(200)});
  ASSERT_TRUE(checkIn().success);
  ASSERT_TRUE(server_->waitFor(mdm::kMetricPath, 2));
  scan.addNumeratorCount(2);
  ASSERT_TRUE(runMainUntil([&] { return scan.denominatorCount() == 0; }));
  EXPECT_EQ(scan.numeratorCount(), 2);

  agent_->removeMetric(scan);
  EXPECT_TRUE(foundation::UserDefaults::standard().objectForKey("OKTVEXA_METRIC_OBJECTS").empty());
}

TEST_F(AgentTest, ACountResetMeanwhileNeverGoesNegative) {
  VexaMetrics m("Swipe", "Ok");
  m.setNumeratorCount(1);
  m.setDenominatorCount(1);
  m.subtractUploaded(4, 9);
  EXPECT_EQ(m.numeratorCount(), 0);
  EXPECT_EQ(m.denominatorCount(), 0);
  // Counts past 32 bits are subtracted exactly.
  m.setNumeratorCount(int64_t{1} << 40);
  m.subtractUploaded((int64_t{1} << 40) - 3, 0);
  EXPECT_EQ(m.numeratorCount(), 3);
}

}  // namespace
}  // namespace kestra::agenttest
