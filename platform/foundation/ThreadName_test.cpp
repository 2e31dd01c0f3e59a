#include "platform/foundation/ThreadName.h"

#include <gtest/gtest.h>

#include <thread>

namespace foundation {
namespace {

TEST(ThreadName, LongNamesAreCutToWhatLinuxKeeps) {
  struct Case {
    const char* name;
    const char* given;
  };
  const Case cases[] = {
      {"CommRunLoop", "CommRunLoop"},
      {"PPadPrinterWrt1", "PPadPrinterWrt1"},         // exactly 15 bytes
      {"CacheWrite Thread", "CacheWrite Thre"},       // refused whole by the kernel
      {"Drucke\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC", "Drucke\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC"},  // no "ü" split
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string seen;
    std::thread([&] {
      setCurrentThreadName(c.name);
      seen = currentThreadName();
    }).join();
    EXPECT_EQ(threadNameFor(c.name), c.given);
    if (*c.given) {
      EXPECT_EQ(seen, c.given);
    }
  }
}

}  // namespace
}  // namespace foundation
