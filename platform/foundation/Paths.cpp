#include "platform/foundation/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace foundation::Paths {

namespace fs = std::filesystem;

static fs::path home() {
  const char* h = std::getenv("HOME");
  return h && *h ? fs::path(h) : fs::temp_directory_path();
}

static fs::path ensure(fs::path p) {
  std::error_code ec;
  fs::create_directories(p, ec);
  return p;
}

static fs::path xdg(const char* var, const fs::path& fallback) {
  const char* v = std::getenv(var);
  return v && *v ? fs::path(v) : fallback;
}

fs::path configDir(const std::string& app) {
  return ensure(xdg("XDG_CONFIG_HOME", home() / ".config") / app);
}

fs::path dataDir(const std::string& app) {
  return ensure(xdg("XDG_DATA_HOME", home() / ".local" / "share") / app);
}

fs::path runtimeDir() {
  fs::path p = xdg("XDG_RUNTIME_DIR",
                   fs::temp_directory_path() / ("runtime-" + std::to_string(getuid())));
  std::error_code ec;
  if (!fs::exists(p, ec)) {
    fs::create_directories(p, ec);
    chmod(p.c_str(), 0700);
  }
  return p;
}

}  // namespace foundation::Paths
