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
      {"Drucker\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC", "Drucker\xC3\xBC\xC3\xBC\xC3\xBC"},  // "ü" not split
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
