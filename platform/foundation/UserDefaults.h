#pragma once
// Persistent key/value settings, kept as one JSON object in a file. `standard()` lives in
// `Paths::configDir()/defaults.json`. Every change is written through atomically (temporary
// file, fsync, rename), so a new instance after a restart reads what was written and an
// interrupted write leaves the previous file intact. A file that cannot be read, or that
// nests deeper than `kMaxDepth`, is moved aside (".corrupt", or ".corrupt-2", ... when an
// earlier one is kept there) rather than overwritten, and the instance starts empty.
// Values nested that deep are not stored (settings are a few levels at most; a deeper
// file would take quadratic time and space to write back pretty-printed).
//
// Thread-safe. Getters apply the platform's conversions (text "12" reads as integer 12,
// a number reads as text) and give empty/zero values for absent keys.

#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Clock.h"

namespace foundation {

class UserDefaults {
 public:
  // The deepest nesting of arrays and objects a file may have (the file's own object is 1).
  static constexpr size_t kMaxDepth = 64;

  explicit UserDefaults(std::filesystem::path file);
  static UserDefaults& standard();
  // Re-reads the standard file (tests that change the config folder call this).
  static void resetStandard();

  nlohmann::json objectForKey(std::string_view key) const;  // null when absent
  std::optional<std::string> stringForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;
  long long integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  std::optional<nlohmann::json> arrayForKey(std::string_view key) const;
  std::optional<nlohmann::json> dictionaryForKey(std::string_view key) const;
  std::optional<WallTime> dateForKey(std::string_view key) const;

  // Setting null removes the key.
  void setObject(std::string_view key, nlohmann::json value);
  void setString(std::string_view key, std::string value) { setObject(key, std::move(value)); }
  void setBool(std::string_view key, bool value) { setObject(key, value); }
  void setInteger(std::string_view key, long long value) { setObject(key, value); }
  void setDouble(std::string_view key, double value) { setObject(key, value); }
  void setDate(std::string_view key, WallTime value);
  void removeObjectForKey(std::string_view key) { setObject(key, nullptr); }
  // Sets every key of `values` (an object; a null value removes its key) with one write.
  // Values nested too deep are left out, as `setObject` leaves them out.
  void setObjects(const nlohmann::json& values);
  nlohmann::json dictionaryRepresentation() const;

  // Makes sure the file holds every change: writes it unless the last write (or the read at
  // start) already left it so. Returns false when it could not be written.
  bool synchronize();
  const std::filesystem::path& file() const { return file_; }

 private:
  void load();
  bool save();

  std::filesystem::path file_;
  mutable std::mutex mutex_;
  nlohmann::json values_ = nlohmann::json::object();
  bool written_ = false;  // the file holds `values_`
};

// Writes `bytes` to `path` atomically: a temporary file beside it, fsync, rename, fsync of
// the folder. Creates missing folders. `mode` applies to the new file.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         unsigned mode = 0644);
std::optional<std::string> readFile(const std::filesystem::path& path);

}  // namespace foundation
