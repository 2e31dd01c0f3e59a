#include "platform/foundation/ThreadName.h"

#include <pthread.h>

namespace foundation {

namespace {
constexpr size_t kMaxThreadName = 15;  // the kernel's limit, without the terminating NUL
}  // namespace

std::string threadNameFor(std::string_view name) {
  if (name.size() <= kMaxThreadName) return std::string(name);
  size_t cut = kMaxThreadName;
  // Step back over continuation bytes so that a character is never split.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return std::string(name.substr(0, cut));
}

void setCurrentThreadName(std::string_view name) {
  const std::string n = threadNameFor(name);
  pthread_setname_np(pthread_self(), n.c_str());
}

std::string currentThreadName() {
  char buf[kMaxThreadName + 1] = {};
  if (pthread_getname_np(pthread_self(), buf, sizeof buf) != 0) return {};
  return buf;
}

}  // namespace foundation
