#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <exception>

namespace foundation {

namespace {
// Never destroyed: a queue's threads may still report while the process exits.
struct HandlerState {
  std::mutex mutex;
  std::function<void(const std::string&)> handler;
};

HandlerState& handlerState() {
  static HandlerState* const s = new HandlerState;
  return *s;
}

void report(const std::string& what) {
  std::function<void(const std::string&)> handler;
  {
    auto& state = handlerState();
    std::lock_guard lock(state.mutex);
    handler = state.handler;
  }
  if (handler) handler(what);
}
}  // namespace

// Shared by the queue and its threads, so a thread that outlives the queue still has it.
struct OperationQueue::State {
  struct Op {
    Block block;
    std::string name;
  };
  explicit State(size_t max) : maxConcurrent(max) {}
  const size_t maxConcurrent;
  std::mutex mutex;
  std::condition_variable cv;
  std::condition_variable idle;
  std::deque<Op> waiting;
  std::vector<std::string> running;
  std::vector<std::thread> workers;
  size_t idleWorkers = 0;
  bool suspended = false;
  bool stopping = false;
};

OperationQueue::OperationQueue(size_t maxConcurrentOperationCount)
    : state_(std::make_shared<State>(std::max<size_t>(1, maxConcurrentOperationCount))) {}

OperationQueue::~OperationQueue() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->waiting.clear();
    workers.swap(state_->workers);
  }
  state_->cv.notify_all();
  for (auto& t : workers) {
    if (t.get_id() == std::this_thread::get_id())
      t.detach();
    else if (t.joinable())
      t.join();
  }
}

void OperationQueue::setExceptionHandler(std::function<void(const std::string&)> handler) {
  auto& state = handlerState();
  std::lock_guard lock(state.mutex);
  state.handler = std::move(handler);
}

void OperationQueue::addOperation(Block block, std::string name) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) return;
    state_->waiting.push_back({std::move(block), std::move(name)});
    // Threads are made as the load needs them and kept for the queue's life.
    if (state_->idleWorkers < state_->waiting.size() && state_->workers.size() < state_->maxConcurrent)
      state_->workers.emplace_back([s = state_] { workerLoop(s); });
  }
  state_->cv.notify_one();
}

void OperationQueue::workerLoop(std::shared_ptr<State> s) {
  std::unique_lock lock(s->mutex);
  for (;;) {
    ++s->idleWorkers;
    s->cv.wait(lock, [&] {
      return s->stopping || (!s->suspended && !s->waiting.empty() && s->running.size() < s->maxConcurrent);
    });
    --s->idleWorkers;
    if (s->stopping) return;
    State::Op op = std::move(s->waiting.front());
    s->waiting.pop_front();
    s->running.push_back(op.name);
    lock.unlock();
    try {
      if (op.block) op.block();
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("unknown exception");
    }
    op.block = nullptr;  // what the block held goes now, outside the lock
    lock.lock();
    s->running.erase(std::find(s->running.begin(), s->running.end(), op.name));
    s->idle.notify_all();
    s->cv.notify_one();
  }
}

size_t OperationQueue::operationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->waiting.size() + state_->running.size();
}

bool OperationQueue::hasOperationNamed(const std::string& name) const {
  std::lock_guard lock(state_->mutex);
  if (std::find(state_->running.begin(), state_->running.end(), name) != state_->running.end()) return true;
  return std::any_of(state_->waiting.begin(), state_->waiting.end(), [&](const State::Op& o) { return o.name == name; });
}

void OperationQueue::cancelAllOperations() {
  std::lock_guard lock(state_->mutex);
  state_->waiting.clear();
  state_->idle.notify_all();
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(state_->mutex);
    state_->suspended = suspended;
  }
  state_->cv.notify_all();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(state_->mutex);
  return state_->suspended;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(state_->mutex);
  state_->idle.wait(lock, [&] { return state_->waiting.empty() && state_->running.empty(); });
}

}  // namespace foundation
