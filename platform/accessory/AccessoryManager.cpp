#include "platform/accessory/AccessoryManager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Paths.h"

namespace accessory {

namespace fs = std::filesystem;

namespace {

// Reads a JSON file; `inode` (when given) names the very file that was read, so a file
// replaced or removed during a scan is never mistaken for another.
std::optional<nlohmann::json> readJsonFile(const fs::path& path, std::string* inode = nullptr) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (1 << 20)) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  }
  ::close(fd);
  if (inode) *inode = std::to_string(st.st_dev) + "." + std::to_string(st.st_ino);
  auto j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  return j;
}

std::string inodeOf(const fs::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + "." + std::to_string(st.st_ino);
}

bool processGone(const nlohmann::json& j) {
  auto it = j.find("pid");
  if (it == j.end() || !it->is_number_integer()) return false;
  // A process id that no process can have is not a live process. (Narrowed to pid_t, 4294967295
  // would become -1, and kill(-1, 0) asks about every process.)
  const bool possible = it->is_number_unsigned()
                            ? it->get<uint64_t>() - 1 < uint64_t(std::numeric_limits<pid_t>::max())
                            : it->get<int64_t>() > 0 && it->get<int64_t>() <= std::numeric_limits<pid_t>::max();
  if (!possible) return true;
  const auto pid = pid_t(it->get<int64_t>());
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

constexpr uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE | IN_ATTRIB;

}  // namespace

AccessoryManager& AccessoryManager::shared() {
  static AccessoryManager* manager = new AccessoryManager(defaultFolder(), defaultSerialConfig());
  return *manager;
}

fs::path AccessoryManager::defaultFolder() {
  return foundation::Paths::runtimeDir() / kAccessoryFolderName;
}

fs::path AccessoryManager::defaultSerialConfig() {
  return foundation::Paths::configDir("KestraSDK") / "serial-accessories.json";
}

AccessoryManager::AccessoryManager(fs::path folder, fs::path serialConfig)
    : folder_(std::move(folder)), serialConfig_(std::move(serialConfig)),
      watcherLoop_(std::make_unique<foundation::RunLoop>()),
      alive_(std::make_shared<int>(0)) {
  std::error_code ec;
  if (!fs::exists(folder_, ec)) {
    fs::create_directories(folder_, ec);
    ::chmod(folder_.c_str(), 0700);
  }
  watcher_ = std::thread([this] { watcherMain(); });
  std::unique_lock<std::mutex> lock(startMutex_);
  startCv_.wait(lock, [this] { return watcherReady_; });
}

AccessoryManager::~AccessoryManager() {
  stopping_ = true;
  watcherLoop_->wakeUp();
  if (watcher_.joinable()) watcher_.join();
  alive_.reset();  // blocks already posted to the main queue now do nothing
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [key, a] : attached_) a->markDisconnected();
}

void AccessoryManager::watcherMain() {
  foundation::RunLoop& loop = *watcherLoop_;
  inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  setUpWatches();
  if (inotifyFd_ >= 0) {
    loop.addFd(inotifyFd_, EPOLLIN, [this](int fd, uint32_t) {
      alignas(inotify_event) char buf[8192];
      while (::read(fd, buf, sizeof buf) > 0) {
      }
      rescan();
      setUpWatches();
    });
  }
  rescan();
  {
    std::lock_guard<std::mutex> lock(startMutex_);
    watcherReady_ = true;
    startCv_.notify_all();
  }
  while (!stopping_) loop.runOnce(std::chrono::seconds(1));
  if (inotifyFd_ >= 0) {
    loop.removeFd(inotifyFd_);
    ::close(inotifyFd_);
    inotifyFd_ = -1;
  }
}

void AccessoryManager::setUpWatches() {
  if (inotifyFd_ < 0) return;
  std::set<std::string> dirs{folder_.string()};
  if (!serialConfig_.empty()) {
    dirs.insert(serialConfig_.parent_path().string());
    for (const Found& f : scanSerial()) {
      for (const auto& d : f.endpoint.serialDevices) dirs.insert(fs::path(d).parent_path().string());
    }
    // Devices of entries that are not present yet: watch where they will appear.
    if (auto j = readJsonFile(serialConfig_); j && j->contains("accessories") &&
                                              (*j)["accessories"].is_array()) {
      for (const auto& e : (*j)["accessories"]) {
        if (!e.is_object() || !e.contains("devices") || !e["devices"].is_array()) continue;
        for (const auto& d : e["devices"])
          if (d.is_string()) dirs.insert(fs::path(d.get<std::string>()).parent_path().string());
      }
    }
  }
  for (const auto& d : dirs) {
    if (d.empty()) continue;
    int wd = inotify_add_watch(inotifyFd_, d.c_str(), kFolderEvents);
    if (wd >= 0) watches_[wd] = d;
  }
}

std::vector<AccessoryManager::Found> AccessoryManager::scanFolder() const {
  std::vector<Found> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() != ".json") continue;
    fs::path sock = p;
    sock.replace_extension(".sock");
    struct stat st {};
    if (::stat(sock.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    std::string descriptorInode;
    auto j = readJsonFile(p, &descriptorInode);
    if (!j) continue;  // half written or malformed: skipped
    Found f;
    if (!identityFromJson(*j, f.identity)) continue;
    if (processGone(*j)) continue;
    f.endpoint.kind = AccessoryEndpoint::Kind::Socket;
    f.endpoint.socketPath = sock.string();
    // Inode numbers can come back at once for a re-created file, so the key also holds the
    // socket's change time and the descriptor's "instance" text when it has one.
    auto instance = j->find("instance");
    f.key = "socket:" + sock.string() + ":" + descriptorInode + ":" +
            std::to_string(st.st_dev) + "." + std::to_string(st.st_ino) + ":" +
            std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) + ":" +
            (instance != j->end() && instance->is_string() ? instance->get<std::string>() : "");
    out.push_back(std::move(f));
  }
  std::sort(out.begin(), out.end(), [](const Found& a, const Found& b) { return a.key < b.key; });
  return out;
}

std::vector<AccessoryManager::Found> AccessoryManager::scanSerial() const {
  std::vector<Found> out;
  if (serialConfig_.empty()) return out;
  auto j = readJsonFile(serialConfig_);
  if (!j || !j->is_object()) return out;
  auto list = j->find("accessories");
  if (list == j->end() || !list->is_array()) return out;
  int index = 0;
  for (const auto& e : *list) {
    ++index;
    Found f;
    if (!identityFromJson(e, f.identity)) continue;
    auto devs = e.find("devices");
    if (devs == e.end() || !devs->is_array() || devs->empty()) continue;
    bool ok = true, present = true;
    std::string joined;
    for (const auto& d : *devs) {
      if (!d.is_string()) {
        ok = false;
        break;
      }
      std::string path = d.get<std::string>();
      std::error_code ec;
      if (!fs::exists(path, ec)) present = false;
      f.endpoint.serialDevices.push_back(path);
      joined += path + ";";
    }
    if (!ok || !present) continue;
    f.endpoint.kind = AccessoryEndpoint::Kind::Serial;
    if (auto b = e.find("baudRate"); b != e.end() && b->is_number_integer())
      f.endpoint.baudRate = b->get<int>();
    std::string inodes;
    for (const auto& d : f.endpoint.serialDevices) inodes += inodeOf(d) + ";";
    f.key = "serial:" + std::to_string(index) + ":" + f.identity.name + ":" + joined + inodes;
    out.push_back(std::move(f));
  }
  return out;
}

void AccessoryManager::rescan() {
  std::lock_guard<std::mutex> scanLock(scanMutex_);
  std::vector<Found> found = scanFolder();
  std::vector<Found> serial = scanSerial();
  found.insert(found.end(), std::make_move_iterator(serial.begin()),
               std::make_move_iterator(serial.end()));
  apply(std::move(found));
}

void AccessoryManager::apply(std::vector<Found> found) {
  std::vector<std::shared_ptr<Accessory>> gone, added;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<std::string> keys;
    for (const Found& f : found) keys.insert(f.key);
    for (auto it = attached_.begin(); it != attached_.end();) {
      if (!keys.count(it->first)) {
        it->second->markDisconnected();
        gone.push_back(it->second);
        it = attached_.erase(it);
      } else {
        ++it;
      }
    }
    for (Found& f : found) {
      bool have = std::any_of(attached_.begin(), attached_.end(),
                              [&](const auto& e) { return e.first == f.key; });
      if (have) continue;
      auto a = std::make_shared<Accessory>(nextConnectionID_++, std::move(f.identity),
                                           std::move(f.endpoint));
      known_[a->connectionID()] = a;
      attached_.emplace_back(f.key, a);
      added.push_back(a);
    }
  }
  for (const auto& a : gone) postDisconnect(a);
  for (const auto& a : added) postConnect(a);
}

void AccessoryManager::postConnect(const std::shared_ptr<Accessory>& a) {
  std::weak_ptr<int> alive = alive_;
  foundation::MainQueue::post([this, alive, a] {
    if (!alive.lock()) return;
    if (!notificationsRegistered()) return;
    foundation::NotificationCenter::defaultCenter().post(
        kAccessoryDidConnectNotification, this, nlohmann::json{{kAccessoryKey, a->toJson()}});
  });
}

void AccessoryManager::postDisconnect(const std::shared_ptr<Accessory>& a) {
  std::weak_ptr<int> alive = alive_;
  foundation::MainQueue::post([this, alive, a] {
    if (auto d = a->delegate()) d->accessoryDidDisconnect(a);
    if (!alive.lock()) return;
    if (!notificationsRegistered()) return;
    foundation::NotificationCenter::defaultCenter().post(
        kAccessoryDidDisconnectNotification, this, nlohmann::json{{kAccessoryKey, a->toJson()}});
  });
}

std::vector<std::shared_ptr<Accessory>> AccessoryManager::connectedAccessories() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<Accessory>> out;
  for (const auto& e : attached_) out.push_back(e.second);
  return out;
}

bool AccessoryManager::isAttached(const std::shared_ptr<Accessory>& accessory) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(attached_.begin(), attached_.end(),
                     [&](const auto& e) { return e.second == accessory; });
}

void AccessoryManager::registerForLocalNotifications() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++registrations_;
}

void AccessoryManager::unregisterForLocalNotifications() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (registrations_ > 0) --registrations_;
}

bool AccessoryManager::notificationsRegistered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_ > 0;
}

std::shared_ptr<Accessory> AccessoryManager::accessoryFromNotification(
    const foundation::Notification& n) const {
  if (n.object != this || !n.userInfo.is_object()) return nullptr;
  auto it = n.userInfo.find(kAccessoryKey);
  if (it == n.userInfo.end() || !it->is_object()) return nullptr;
  auto id = it->find("connectionID");
  if (id == it->end() || !id->is_number_unsigned()) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  auto k = known_.find(id->get<uint32_t>());
  return k == known_.end() ? nullptr : k->second.lock();
}

}  // namespace accessory
