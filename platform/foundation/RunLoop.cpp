#include "platform/foundation/RunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <set>

namespace foundation {

namespace {
std::mutex& registryMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::set<RunLoop*>& registry() {
  static auto* s = new std::set<RunLoop*>();
  return *s;
}
constexpr uint64_t kWakeKey = ~uint64_t(0);
}  // namespace

RunLoop::RunLoop() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeKey;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().insert(this);
}

RunLoop::~RunLoop() {
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().erase(this);
  }
  close(wakeFd_);
  close(epollFd_);
}

bool RunLoop::isMainThread() { return syscall(SYS_gettid) == getpid(); }

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop();  // lives for the whole process
  return *loop;
}

RunLoop& RunLoop::current() {
  if (isMainThread()) return main();
  thread_local std::unique_ptr<RunLoop> loop;
  if (!loop) loop = std::make_unique<RunLoop>();
  return *loop;
}

bool RunLoop::addFd(int fd, uint32_t events, FdCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t gen = ++fdGeneration_;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = (gen << 32) | uint32_t(fd);
  bool existed = fds_.count(fd) > 0;
  if (epoll_ctl(epollFd_, existed ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  fds_[fd] = FdEntry{gen, std::make_shared<FdCallback>(std::move(callback))};
  return true;
}

void RunLoop::modifyFd(int fd, uint32_t events) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = fds_.find(fd);
  if (it == fds_.end()) return;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = (it->second.generation << 32) | uint32_t(fd);
  epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev);
}

void RunLoop::removeFd(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fds_.erase(fd)) epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
}

void RunLoop::perform(Block block) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    performed_.push_back(std::move(block));
  }
  wakeUp();
}

RunLoop::TimerId RunLoop::addTimer(MonoTime when, Block block) {
  TimerId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = nextTimerId_++;
    timers_.emplace(when, TimerEntry{id, std::move(block)});
  }
  wakeUp();
  return id;
}

void RunLoop::cancelTimer(TimerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.id == id) {
      timers_.erase(it);
      return;
    }
  }
}

std::optional<MonoTime> RunLoop::nextTimerDeadline() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (timers_.empty()) return std::nullopt;
  return timers_.begin()->first;
}

void RunLoop::wakeUp() {
  uint64_t one = 1;
  ssize_t n = write(wakeFd_, &one, sizeof one);
  (void)n;
}

void RunLoop::wakeAll() {
  std::lock_guard<std::mutex> lock(registryMutex());
  for (RunLoop* loop : registry()) loop->wakeUp();
}

bool RunLoop::runPerformed() {
  std::vector<Block> blocks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks.swap(performed_);
  }
  for (auto& b : blocks) b();
  return !blocks.empty();
}

bool RunLoop::runDueTimers() {
  bool ran = false;
  Clock& clock = Clock::current();
  for (;;) {
    Block block;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (timers_.empty() || timers_.begin()->first > clock.now()) break;
      block = std::move(timers_.begin()->second.block);
      timers_.erase(timers_.begin());
    }
    block();
    ran = true;
  }
  return ran;
}

bool RunLoop::runOnce(Duration maxWait) {
  Clock& clock = Clock::current();
  Duration wait = maxWait;
  if (auto next = nextTimerDeadline()) {
    Duration untilTimer = *next - clock.now();
    if (untilTimer < Duration::zero()) untilTimer = Duration::zero();
    // Under a manual clock real time does not bring timers closer; advancing wakes us.
    if (!clock.isManual() && untilTimer < wait) wait = untilTimer;
    if (clock.isManual() && untilTimer == Duration::zero()) wait = Duration::zero();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!performed_.empty()) wait = Duration::zero();
  }
  int ms = int(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
  if (ms < 0) ms = 0;

  epoll_event events[32];
  int n = epoll_wait(epollFd_, events, 32, ms);
  bool ran = false;
  for (int i = 0; i < n; ++i) {
    uint64_t key = events[i].data.u64;
    if (key == kWakeKey) {
      uint64_t count;
      while (read(wakeFd_, &count, sizeof count) > 0) {
      }
      continue;
    }
    int fd = int(uint32_t(key));
    uint64_t gen = key >> 32;
    std::shared_ptr<FdCallback> cb;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = fds_.find(fd);
      if (it != fds_.end() && it->second.generation == gen) cb = it->second.callback;
    }
    if (cb) {
      (*cb)(fd, events[i].events);
      ran = true;
    }
  }
  ran |= runPerformed();
  ran |= runDueTimers();
  return ran;
}

void RunLoop::run() {
  while (!stopped_.load()) runOnce(std::chrono::seconds(1));
  stopped_ = false;
}

void RunLoop::stop() {
  stopped_ = true;
  wakeUp();
}

bool RunLoop::runUntil(const std::function<bool()>& condition,
                       std::chrono::milliseconds realTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + realTimeout;
  for (;;) {
    if (condition()) return true;
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= Duration::zero()) return condition();
    runOnce(std::min<Duration>(left, std::chrono::milliseconds(10)));
  }
}

}  // namespace foundation
