// Feeds arbitrary bytes as the user defaults file. A file that is not a JSON object must be
// moved aside and leave the settings empty; one that is must read back through every getter
// without a crash, and a change written after it must read back after a restart.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/UserDefaults.h"

namespace {

namespace fs = std::filesystem;

const fs::path& folder() {
  static const fs::path dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "kestra-defaults-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    return fs::path(tmpl);
  }();
  // Registered once the path exists, so it runs before the path is destroyed.
  static const bool removedAtExit = [] {
    return std::atexit([] {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }) == 0;
  }();
  (void)removedAtExit;
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path file = folder() / "defaults.json";
  fs::path aside = file;
  aside += ".corrupt";
  std::error_code ec;
  fs::remove(aside, ec);
  if (!foundation::writeFileAtomically(file, std::string_view(reinterpret_cast<const char*>(data), size)))
    std::abort();

  bool wasObject = false;
  {
    foundation::UserDefaults defaults(file);
    const nlohmann::json all = defaults.dictionaryRepresentation();
    if (!all.is_object()) std::abort();
    wasObject = fs::exists(file, ec);
    if (wasObject == fs::exists(aside, ec)) std::abort();  // kept, or moved aside: one of them
    if (!wasObject && !all.empty()) std::abort();
    for (const auto& [key, value] : all.items()) {
      (void)defaults.stringForKey(key);
      (void)defaults.boolForKey(key);
      (void)defaults.integerForKey(key);
      (void)defaults.doubleForKey(key);
      (void)defaults.arrayForKey(key);
      (void)defaults.dictionaryForKey(key);
      (void)defaults.dateForKey(key);
    }
    defaults.setString("fuzz.marker", "written");
    if (!defaults.synchronize()) std::abort();
  }
  foundation::UserDefaults reread(file);
  if (reread.stringForKey("fuzz.marker") != "written") std::abort();
  return 0;
}
