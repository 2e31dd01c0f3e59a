#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/FirstFrame.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Values.h"

namespace foundation {

namespace fs = std::filesystem;

bool writeFileAtomically(const fs::path& path, std::string_view bytes, unsigned mode) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  fs::path tmp = path;
  tmp += ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  fchmod(fd, mode);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    done += size_t(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

UserDefaults::UserDefaults(fs::path file) : file_(std::move(file)) { load(); }

namespace {
std::mutex gStandardMutex;
UserDefaults* gStandard = nullptr;

// The standard instance, for `save` (which runs under the instance's lock, never under
// gStandardMutex).
std::atomic<UserDefaults*> gStandardHeld{nullptr};
// A write of the standard file put off until the window's first frame is on its way.
std::atomic<bool> gHeldWritePending{false};
// Set on the thread that writes the put-off changes, so that write is not put off again.
thread_local bool tWritingHeld = false;

void writeHeld() {
  if (!gHeldWritePending.exchange(false)) return;
  if (UserDefaults* standard = gStandardHeld.load()) {
    tWritingHeld = true;
    standard->synchronize();
    tWritingHeld = false;
  }
}
}  // namespace

UserDefaults& UserDefaults::standard() {
  std::lock_guard<std::mutex> lock(gStandardMutex);
  if (!gStandard) {
    gStandard = new UserDefaults(Paths::configDir() / "defaults.json");
    gStandardHeld = gStandard;
  }
  return *gStandard;
}

void UserDefaults::resetStandard() {
  std::lock_guard<std::mutex> lock(gStandardMutex);
  // The old instance stays alive (references to it may still be held), in a list that keeps
  // it reachable until the process ends.
  static auto* retired = new std::vector<std::unique_ptr<UserDefaults>>();
  if (gStandard) retired->emplace_back(gStandard);
  writeHeld();
  gStandard = new UserDefaults(Paths::configDir() / "defaults.json");
  gStandardHeld = gStandard;
}

namespace {

// The deepest nesting of a value, without recursion.
size_t nestingDepth(const nlohmann::json& value) {
  size_t deepest = 0;
  std::vector<std::pair<const nlohmann::json*, size_t>> pending{{&value, 1}};
  while (!pending.empty()) {
    auto [v, depth] = pending.back();
    pending.pop_back();
    if (!v->is_structured()) continue;
    deepest = std::max(deepest, depth);
    for (const auto& child : *v) pending.emplace_back(&child, depth + 1);
  }
  return deepest;
}

// A name beside `file` that nothing uses yet: ".corrupt", then ".corrupt-2", ...
fs::path asideName(const fs::path& file) {
  std::error_code ec;
  for (int n = 1;; ++n) {
    fs::path aside = file;
    aside += n == 1 ? std::string(".corrupt") : ".corrupt-" + std::to_string(n);
    if (!fs::exists(aside, ec)) return aside;
  }
}

}  // namespace

void UserDefaults::load() {
  auto text = readFile(file_);
  if (!text) return;
  if (jsonNestingDepth(*text) <= kMaxDepth) {
    auto parsed = parseJson(*text);
    if (parsed && parsed->is_object()) {
      values_ = std::move(*parsed);
      written_ = true;
      return;
    }
  }
  // Keep what could not be read for inspection instead of overwriting it, and never
  // over an earlier file kept the same way.
  std::error_code ec;
  fs::rename(file_, asideName(file_), ec);
}

bool UserDefaults::save() {
  // On the way to a window's first frame (foundation::FirstFrame held) the standard file's
  // changes stay in memory and go to the file in one write once the frame is painted, or as
  // the process exits if it ends first: each write is a disk flush, and a launch sets
  // several keys one after the other (the agent's switches, the login screen's settings,
  // the application's state). What a launch sets there it sets again at the next launch.
  if (this == gStandardHeld.load() && !tWritingHeld && FirstFrame::held()) {
    written_ = false;
    if (!gHeldWritePending.exchange(true)) {
      static std::once_flag atExit;
      std::call_once(atExit, [] { std::atexit(writeHeld); });
      // Posted even when the frame came meanwhile (the block then runs here, under this
      // instance's lock).
      FirstFrame::runAfter([] { MainQueue::post(writeHeld); });
    }
    return true;
  }
  written_ = writeFileAtomically(file_, prettyJson(values_), 0600);
  return written_;
}

nlohmann::json UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? nlohmann::json() : *it;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  nlohmann::json v = objectForKey(key);
  if (v.is_string() || v.is_number() || v.is_boolean()) return textValue(v);
  return std::nullopt;
}

bool UserDefaults::boolForKey(std::string_view key) const {
  nlohmann::json v = objectForKey(key);
  if (v.is_string()) {
    std::string s = v.get<std::string>();
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (s == "yes" || s == "true") return true;
    return intValue(std::string_view(s)) != 0;
  }
  return boolValue(v);
}

long long UserDefaults::integerForKey(std::string_view key) const {
  return longLongValue(objectForKey(key));
}

double UserDefaults::doubleForKey(std::string_view key) const {
  return doubleValue(objectForKey(key));
}

std::optional<nlohmann::json> UserDefaults::arrayForKey(std::string_view key) const {
  nlohmann::json v = objectForKey(key);
  if (v.is_array()) return v;
  return std::nullopt;
}

std::optional<nlohmann::json> UserDefaults::dictionaryForKey(std::string_view key) const {
  nlohmann::json v = objectForKey(key);
  if (v.is_object()) return v;
  return std::nullopt;
}

std::optional<WallTime> UserDefaults::dateForKey(std::string_view key) const {
  nlohmann::json v = objectForKey(key);
  if (!v.is_string()) return std::nullopt;
  // A date the clock cannot hold (a "no date" of 9999) reads as none; the text stays as it is.
  return toWallTime(parseIsoDate(v.get<std::string>()));
}

void UserDefaults::setDate(std::string_view key, WallTime value) {
  setObject(key, isoDate(value));
}

void UserDefaults::setObject(std::string_view key, nlohmann::json value) {
  // The file itself is one level: a value may nest one level less.
  if (nestingDepth(value) >= kMaxDepth) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (value.is_null())
    values_.erase(std::string(key));
  else
    values_[std::string(key)] = std::move(value);
  save();
}

void UserDefaults::setObjects(const nlohmann::json& values) {
  if (!values.is_object() || values.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [key, value] : values.items()) {
    if (value.is_null())
      values_.erase(key);
    else if (nestingDepth(value) < kMaxDepth)
      values_[key] = value;
  }
  save();
}

nlohmann::json UserDefaults::dictionaryRepresentation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_;
}

bool UserDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Every change is written through, so only a file not written yet (or a failed write)
  // needs writing here; another fsync of the same bytes would cost a disk flush for nothing.
  return written_ || save();
}

}  // namespace foundation
