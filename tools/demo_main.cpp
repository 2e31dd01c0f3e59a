// A small program that shows the platform core at work: a repeating timer on the main
// queue, a notification, user defaults written and read back, and an XML answer read.
#include <cstdio>

#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/XmlReader.h"

using namespace foundation;

int main() {
  auto& defaults = UserDefaults::standard();
  long long runs = defaults.integerForKey("demoRuns") + 1;
  defaults.setInteger("demoRuns", runs);
  std::printf("user defaults: %s (run %lld)\n", defaults.file().c_str(), runs);

  NotificationCenter::defaultCenter().addObserver(nullptr, "tick", nullptr, [](const Notification& n) {
    std::printf("notification %s %s\n", n.name.c_str(), compactJson(n.userInfo).c_str());
  });

  std::string result;
  XmlReader reader;
  reader.onCharacters = [&](std::string_view t) { result += t; };
  reader.parse("<Envelope><Body><R>{&quot;Response&quot;:&quot;True&quot;}</R></Body></Envelope>");
  std::printf("XML answer text: %s\n", result.c_str());

  int ticks = 0;
  Timer::scheduled(std::chrono::milliseconds(200), true, [&](Timer& t) {
    NotificationCenter::defaultCenter().post("tick", nullptr, {{"count", ++ticks}});
    if (ticks == 3) {
      t.invalidate();
      RunLoop::main().stop();
    }
  }, &RunLoop::main());
  RunLoop::main().run();
  return 0;
}
