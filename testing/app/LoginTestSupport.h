#pragma once
// Test fixture pieces for the login and settings screens: a fresh configuration folder
// (so `UserDefaults::standard()` starts empty) and a fixed network source.

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/UserDefaults.h"
#include "platform/system/NetworkInfo.h"

namespace orvo::test_support {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a new temporary folder for the life of the
// object, re-reads the standard user defaults, and installs a fixed network source. The
// destructor points both back where they were and re-reads the defaults from there before it
// removes the folder, so that no later write of the defaults makes the folder again.
class FreshDefaults {
 public:
  FreshDefaults() : config_(saved("XDG_CONFIG_HOME")), data_(saved("XDG_DATA_HOME")) {
    char tmpl[] = "/tmp/orvo-login-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    foundation::UserDefaults::resetStandard();
    network = std::make_shared<system_info::FixedNetworkInfo>();
    system_info::NetworkInfo::setShared(network);
  }
  ~FreshDefaults() {
    system_info::NetworkInfo::setShared(nullptr);
    restore("XDG_CONFIG_HOME", config_);
    restore("XDG_DATA_HOME", data_);
    foundation::UserDefaults::resetStandard();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  foundation::UserDefaults& defaults() { return foundation::UserDefaults::standard(); }
  const std::filesystem::path& dir() const { return dir_; }

  std::shared_ptr<system_info::FixedNetworkInfo> network;

 private:
  static std::optional<std::string> saved(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }

  const std::optional<std::string> config_, data_;
  std::filesystem::path dir_;
};

}  // namespace orvo::test_support
