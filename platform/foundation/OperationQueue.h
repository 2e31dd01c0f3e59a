#pragma once
// A queue of blocks run on worker threads of its own, at most `maxConcurrentOperationCount`
// at a time, in the order they were added. Operations may carry a name so that a caller can
// ask whether one of that name is waiting or running. `cancelAllOperations` drops what has
// not started (an operation already running finishes); `setSuspended(true)` holds queued
// operations back until it is lifted.
//
// Thread-safe; blocks run on the queue's threads, never on the caller's. An exception that
// escapes a block is caught and handed to `setExceptionHandler`'s handler (or dropped), so
// it never takes the process down. The destructor drops what waits and waits for running
// blocks, except when it runs on one of the queue's own threads (the last owner let go
// inside a block): that thread finishes its block and ends on its own.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
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
  struct State;
  static void workerLoop(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
};

}  // namespace foundation
