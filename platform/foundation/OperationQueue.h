#pragma once
// A queue of blocks run on worker threads of its own, at most `maxConcurrentOperationCount`
// at a time, in the order they were added. Operations may carry a name so that a caller can
// ask whether one of that name is waiting or running. `cancelAllOperations` drops what has
// not started (an operation already running finishes); `setSuspended(true)` holds queued
// operations back until it is lifted.
//
// Thread-safe; blocks run on the queue's threads, never on the caller's. An exception that
// escapes a block is caught and handed to `setExceptionHandler`'s handler (or dropped), so
// it never takes the process down. The destructor waits for running blocks and drops the
// rest.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace foundation {

class OperationQueue {
 public:
  using Block = std::function<void()>;

  explicit OperationQueue(size_t maxConcurrentOperationCount = 1);
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  void addOperation(Block block, std::string name = {});
  // Waiting and running operations.
  size_t operationCount() const;
  // Whether an operation named `name` is waiting or running.
  bool hasOperationNamed(const std::string& name) const;
  void cancelAllOperations();
  void setSuspended(bool suspended);
  bool isSuspended() const;
  // Blocks the caller until no operation is waiting or running (suspended ones count as
  // waiting). Never call it from one of the queue's own blocks.
  void waitUntilAllOperationsAreFinished();

  static void setExceptionHandler(std::function<void(const std::string& what)> handler);

 private:
  struct Op {
    Block block;
    std::string name;
  };
  void workerLoop();
  void startWorkersLocked();

  const size_t maxConcurrent_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable idle_;
  std::deque<Op> waiting_;
  std::vector<std::string> running_;  // names of running operations
  std::vector<std::thread> workers_;
  size_t idleWorkers_ = 0;
  bool suspended_ = false;
  bool stopping_ = false;
};

}  // namespace foundation
