#pragma once
// Shared by the accessory registry's fuzz targets: a private accessory folder with a
// listening socket beside the descriptor that the target writes, a registry over it, and
// the checks every attached accessory must pass. One per process, made on first use.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"

namespace fuzzsupport {

namespace fs = std::filesystem;

struct AccessoryFolder {
  fs::path folder;
  fs::path serialConfig;
  std::unique_ptr<accessory::AccessoryManager> registry;

  AccessoryFolder() {
    std::string tmpl = (fs::temp_directory_path() / "kestra-accessory-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    folder = fs::path(tmpl) / "accessories";
    fs::create_directories(folder);
    serialConfig = fs::path(tmpl) / "serial-accessories.json";
    // The descriptor "fuzz.json" names an accessory only while "fuzz.sock" listens.
    const fs::path sock = folder / "fuzz.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (sock.string().size() >= sizeof addr.sun_path) std::abort();
    std::strcpy(addr.sun_path, sock.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0)
      std::abort();
    registry = std::make_unique<accessory::AccessoryManager>(folder, serialConfig);
  }

  static AccessoryFolder& get() {
    static AccessoryFolder* f = [] {
      auto* made = new AccessoryFolder();  // lives as long as the process
      std::atexit([] {
        std::error_code ec;
        fs::remove_all(get().folder.parent_path(), ec);
      });
      return made;
    }();
    return *f;
  }

  // Puts `bytes` in place as `path` (atomically, so the watcher never reads half of it) and
  // reads both sources again.
  void install(const fs::path& path, std::string_view bytes) {
    if (!foundation::writeFileAtomically(path, bytes)) std::abort();
    registry->rescan();
  }

  // Removes `path`; no accessory may stay attached.
  void clear(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    registry->rescan();
    if (!registry->connectedAccessories().empty()) std::abort();
    // The disconnect notices run on the main queue.
    foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
  }
};

// An accessory's identity must survive its own descriptor form unchanged.
inline void checkIdentity(const accessory::Accessory& a) {
  accessory::AccessoryIdentity again;
  if (!accessory::identityFromJson(accessory::identityToJson(a.identity()), again)) std::abort();
  if (again.name != a.name() || again.protocolStrings != a.protocolStrings() ||
      again.serialNumber != a.serialNumber() || again.manufacturer != a.manufacturer())
    std::abort();
}

}  // namespace fuzzsupport
