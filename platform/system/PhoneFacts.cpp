#include "platform/system/PhoneFacts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <mutex>

namespace system_info {

namespace {
// Never destroyed: threads still at work while the process exits may read it.
struct OverrideState {
  std::mutex mutex;
  std::optional<PhoneFacts> facts;
};

OverrideState& overrideState() {
  static auto* s = new OverrideState();
  return *s;
}

std::string firstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}
}  // namespace

PhoneFacts phoneFacts() {
  {
    auto& state = overrideState();
    std::lock_guard lock(state.mutex);
    if (state.facts) return *state.facts;
  }
  PhoneFacts f;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) f.name = host;
  f.model = firstLine("/sys/class/dmi/id/product_name");
  if (f.model.empty()) f.model = "Linux";
  utsname u{};
  if (::uname(&u) == 0) {
    f.systemName = u.sysname;
    f.systemVersion = u.release;
    f.deviceType = u.machine;
  }
  return f;
}

void setPhoneFactsOverride(std::optional<PhoneFacts> facts) {
  auto& state = overrideState();
  std::lock_guard lock(state.mutex);
  state.facts = std::move(facts);
}

}  // namespace system_info
