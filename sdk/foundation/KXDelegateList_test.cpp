#include "sdk/foundation/KXDelegateList.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/foundation/RunLoop.h"
#include "sdk/foundation/KXDelegate.h"

namespace kestra {
namespace {

class Listener : public KXDelegate {
 public:
  Listener(std::string name, std::vector<std::string>* log, bool throws = false)
      : name(std::move(name)), log_(log), throws_(throws) {
    implements({"ping:"});
  }
  void ping() {
    log_->push_back(name);
    if (throws_) throw std::runtime_error("listener failed");
  }
  std::string name;
  bool onMain = false;

 private:
  std::vector<std::string>* log_;
  bool throws_;
};

TEST(KXDelegateList, FanOutOrderSkipsFreedAndDeafAndSurvivesAThrow) {
  std::vector<std::string> log;
  KXDelegateList<Listener> list;
  std::vector<std::string> reported;
  list.setExceptionHandler([&](std::string_view sel, const char* what) {
    reported.push_back(std::string(sel) + "/" + what);
  });
  auto a = std::make_shared<Listener>("a", &log);
  auto b = std::make_shared<Listener>("b", &log, /*throws=*/true);
  auto c = std::make_shared<Listener>("c", &log);
  auto gone = std::make_shared<Listener>("gone", &log);
  for (auto& d : {a, b, gone, c}) list.add(d);
  EXPECT_FALSE(list.add(a));  // once only
  gone.reset();

  EXPECT_EQ(list.fanOut("ping:", [](Listener& l) { l.ping(); }), 3u);
  EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(reported, (std::vector<std::string>{"ping:/listener failed"}));

  log.clear();
  EXPECT_EQ(list.fanOut("ping:", [](Listener& l) { l.ping(); }, KXFanOutOrder::FirstLast), 3u);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c"}));

  log.clear();
  EXPECT_EQ(list.fanOut("pong:", [](Listener& l) { l.ping(); }), 0u);
  EXPECT_EQ(list.fanOut("ping:", [](Listener& l) { l.ping(); }, KXFanOutOrder::LastFirst, 1), 1u);
  EXPECT_EQ(log, (std::vector<std::string>{"c"}));
}

TEST(KXDelegateList, SlotsFollowTheDriversRules) {
  std::vector<std::string> log;
  KXDelegateList<Listener> list;
  auto a = std::make_shared<Listener>("a", &log);
  auto b = std::make_shared<Listener>("b", &log);
  auto c = std::make_shared<Listener>("c", &log);
  EXPECT_FALSE(list.add(nullptr));
  list.set(a);  // an empty list gets slot 0
  list.add(b);
  list.set(c);  // replaces slot 0
  EXPECT_EQ(list.live(), (std::vector<std::shared_ptr<Listener>>{c, b}));
  c.reset();
  EXPECT_EQ(list.snapshot().size(), 2u);  // the freed slot stays until cleaned
  EXPECT_EQ(list.snapshot()[0], nullptr);
  EXPECT_EQ(list.first(), b);  // cleans
  EXPECT_EQ(list.size(), 1u);
  list.remove(b);
  EXPECT_EQ(list.first(), nullptr);
}

TEST(KXDelegateList, ADelegateMayChangeTheListFromInsideItsCallback) {
  std::vector<std::string> log;
  KXDelegateList<Listener> list;
  auto a = std::make_shared<Listener>("a", &log);
  auto late = std::make_shared<Listener>("late", &log);
  list.add(a);
  // The walk is over a snapshot: the delegate added during it hears the next event only,
  // and removing oneself does not upset the walk.
  list.fanOut("ping:", [&](Listener& l) {
    l.ping();
    list.add(late);
    list.remove(a);
  });
  EXPECT_EQ(log, (std::vector<std::string>{"a"}));
  list.fanOut("ping:", [](Listener& l) { l.ping(); });
  EXPECT_EQ(log, (std::vector<std::string>{"a", "late"}));
}

TEST(KXDelegateList, FanOutOnMainRunsOnTheMainQueueWhileTheOwnerLives) {
  struct Owner {
    KXDelegateList<Listener> list;
  };
  std::vector<std::string> log;
  auto owner = std::make_shared<Owner>();
  auto a = std::make_shared<Listener>("a", &log);
  owner->list.add(a);
  std::thread t([&] {
    owner->list.fanOutOnMain(owner, "ping:", [](Listener& l) {
      l.onMain = foundation::RunLoop::isMainThread();
      l.ping();
    });
  });
  t.join();
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return !log.empty(); }));
  EXPECT_TRUE(a->onMain);

  // A walk posted for an owner that is gone by then is dropped.
  log.clear();
  std::weak_ptr<Owner> weak = owner;
  owner->list.fanOutOnMain(weak, "ping:", [](Listener& l) { l.ping(); });
  owner.reset();
  bool drained = false;
  foundation::MainQueue::post([&] { drained = true; });
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return drained; }));
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace kestra
