#include "platform/system/PhoneFacts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <mutex>

namespace system_info {

namespace {
std::mutex gMutex;
std::optional<PhoneFacts> gOverride;

std::string firstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}
}  // namespace

PhoneFacts phoneFacts() {
  {
    std::lock_guard lock(gMutex);
    if (gOverride) return *gOverride;
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
  std::lock_guard lock(gMutex);
  gOverride = std::move(facts);
}

}  // namespace system_info
