#pragma once
// Where the running system keeps its files: the XDG folders, each overridable by its
// environment variable (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR) for tests and the
// demo. Folders are created on first use.

#include <filesystem>
#include <string>

namespace foundation::Paths {

// $XDG_CONFIG_HOME/<app> (default ~/.config/<app>).
std::filesystem::path configDir(const std::string& app = "OrvoMobile");
// $XDG_DATA_HOME/<app> (default ~/.local/share/<app>).
std::filesystem::path dataDir(const std::string& app = "OrvoMobile");
// $XDG_RUNTIME_DIR (default /tmp/runtime-<uid>), mode 0700.
std::filesystem::path runtimeDir();

}  // namespace foundation::Paths
