#pragma once
// Test fixture pieces for the login and settings screens: a fresh configuration folder
// (so `UserDefaults::standard()` starts empty) and a fixed network source.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "platform/foundation/UserDefaults.h"
#include "platform/system/NetworkInfo.h"

namespace orvo::test_support {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a new temporary folder for the life of the
// object, re-reads the standard user defaults, and installs a fixed network source.
class FreshDefaults {
 public:
  FreshDefaults() {
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
    std::filesystem::remove_all(dir_);
    foundation::UserDefaults::resetStandard();
  }
  foundation::UserDefaults& defaults() { return foundation::UserDefaults::standard(); }
  const std::filesystem::path& dir() const { return dir_; }

  std::shared_ptr<system_info::FixedNetworkInfo> network;

 private:
  std::filesystem::path dir_;
};

}  // namespace orvo::test_support
