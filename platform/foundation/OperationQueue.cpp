#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <exception>

namespace foundation {

namespace {
std::mutex gHandlerMutex;
std::function<void(const std::string&)> gHandler;

void report(const std::string& what) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(gHandlerMutex);
    handler = gHandler;
  }
  if (handler) handler(what);
}
}  // namespace

OperationQueue::OperationQueue(size_t maxConcurrentOperationCount)
    : maxConcurrent_(std::max<size_t>(1, maxConcurrentOperationCount)) {}

OperationQueue::~OperationQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  cv_.notify_all();
  for (auto& t : workers_)
    if (t.joinable()) t.join();
}

void OperationQueue::setExceptionHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(gHandlerMutex);
  gHandler = std::move(handler);
}

void OperationQueue::addOperation(Block block, std::string name) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    waiting_.push_back({std::move(block), std::move(name)});
    startWorkersLocked();
  }
  cv_.notify_one();
}

void OperationQueue::startWorkersLocked() {
  // Threads are made as the load needs them and kept for the queue's life.
  if (idleWorkers_ < waiting_.size() && workers_.size() < maxConcurrent_)
    workers_.emplace_back([this] { workerLoop(); });
}

void OperationQueue::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idleWorkers_;
    cv_.wait(lock, [&] {
      return stopping_ || (!suspended_ && !waiting_.empty() && running_.size() < maxConcurrent_);
    });
    --idleWorkers_;
    if (stopping_) return;
    Op op = std::move(waiting_.front());
    waiting_.pop_front();
    running_.push_back(op.name);
    lock.unlock();
    try {
      if (op.block) op.block();
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("unknown exception");
    }
    lock.lock();
    running_.erase(std::find(running_.begin(), running_.end(), op.name));
    idle_.notify_all();
    cv_.notify_one();
  }
}

size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size() + running_.size();
}

bool OperationQueue::hasOperationNamed(const std::string& name) const {
  std::lock_guard lock(mutex_);
  if (std::find(running_.begin(), running_.end(), name) != running_.end()) return true;
  return std::any_of(waiting_.begin(), waiting_.end(), [&](const Op& o) { return o.name == name; });
}

void OperationQueue::cancelAllOperations() {
  std::lock_guard lock(mutex_);
  waiting_.clear();
  idle_.notify_all();
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
  }
  cv_.notify_all();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return waiting_.empty() && running_.empty(); });
}

}  // namespace foundation
