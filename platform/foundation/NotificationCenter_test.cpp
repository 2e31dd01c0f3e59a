#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

using namespace foundation;

TEST(NotificationCenter, PostReachesObserversByNameAndObjectWithUserInfo) {
  NotificationCenter nc;
  int sender = 0, other = 0;
  std::vector<std::string> log;
  nc.addObserver(&log, "changeBarcode", nullptr, [&](const Notification& n) {
    log.push_back("any:" + n.userInfo["lastBarcode"].get<std::string>());
  });
  nc.addObserver(&log, "changeBarcode", &sender, [&](const Notification&) { log.push_back("sender"); });
  nc.addObserver(&log, "btnPressed", nullptr, [&](const Notification&) { log.push_back("button"); });
  nc.post("changeBarcode", &other, {{"lastBarcode", "123"}});
  nc.post("changeBarcode", &sender, {{"lastBarcode", "456"}});
  EXPECT_EQ(log, (std::vector<std::string>{"any:123", "any:456", "sender"}));
}

TEST(NotificationCenter, AddUniqueKeepsOneObserverPerNameAndObject) {
  NotificationCenter nc;
  int calls = 0;
  for (int i = 0; i < 3; ++i)
    nc.addUniqueObserver(&calls, "getScannerStatus", nullptr, [&](const Notification&) { ++calls; });
  nc.post("getScannerStatus");
  EXPECT_EQ(calls, 1);
  nc.addObserver(&calls, "getScannerStatus", nullptr, [&](const Notification&) { ++calls; });
  nc.post("getScannerStatus");
  EXPECT_EQ(calls, 3);
}

TEST(NotificationCenter, ObserverRemovedDuringPostIsNotCalled) {
  NotificationCenter nc;
  int a = 0, b = 0;
  nc.addObserver(&a, "x", nullptr, [&](const Notification&) {
    ++a;
    nc.removeObserver(&b);
  });
  nc.addObserver(&b, "x", nullptr, [&](const Notification&) { ++b; });
  nc.post("x");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  nc.removeObserver(&a, "x");
  nc.post("x");
  EXPECT_EQ(a, 1);
}
