#pragma once
// The recording delegate of every driver's tests: each callback becomes one line of text in
// a `CallRecorder` ("connectionState:2", "barcodeNSData:...:13"), and the recorder notes
// whether every call that should arrive on the main queue did.
//
// How a driver's tests use it: derive a recorder for the driver's delegate interface and
// turn each callback into a line:
//   class RecordingPrinterDelegate : public devices::RecordingDelegate<kestra::PrinterDelegate> {
//    public:
//     using RecordingDelegate::RecordingDelegate;
//     void paperStatus(bool present) override { record("paperStatus:" + std::to_string(present)); }
//   };
// Several fakes and delegates may share one recorder, so a test sees the order across them.
// Tests wait for a line with `waitFor`, which runs the main queue until it arrives (the
// real-time bound is only a safety net).
//
// Threads: any thread; `waitFor` on the main thread.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"

namespace devices {

class CallRecorder {
 public:
  void add(std::string line, bool needsMain = false) {
    if (needsMain && !foundation::MainQueue::isMainThread()) allMain_ = false;
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
      hook = onLine;
    }
    changed_.notify_all();
    if (hook) hook(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }
  size_t count(const std::string& line) const {
    std::lock_guard lock(mutex_);
    return size_t(std::count(lines_.begin(), lines_.end(), line));
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }
  bool allOnMainThread() const { return allMain_.load(); }

  // Main thread: runs the main queue until `pred(lines())` holds.
  bool waitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const {
    return foundation::RunLoop::main().runUntil([&] { return pred(lines()); }, timeout);
  }
  bool waitForLine(const std::string& line,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const {
    return waitFor([&](const auto& l) { return std::find(l.begin(), l.end(), line) != l.end(); }, timeout);
  }
  // Any thread but the one that must deliver: blocks until `count` lines were recorded.
  bool waitForCount(size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
  }

  // Called (after recording, without the recorder's lock) with each line; may throw, to
  // test how a driver survives a delegate that throws.
  std::function<void(const std::string&)> onLine;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::atomic<bool> allMain_{true};
};

// `Interface` is a delegate interface of the SDK (it derives from KXDelegate).
template <class Interface>
class RecordingDelegate : public Interface {
 public:
  // `selectors`: the callbacks this delegate says it implements. `tag` prefixes each line.
  explicit RecordingDelegate(std::shared_ptr<CallRecorder> log = std::make_shared<CallRecorder>(),
                             std::string tag = {}, std::vector<std::string_view> selectors = {})
      : log_(std::move(log)), tag_(std::move(tag)) {
    for (auto s : selectors) this->implements({s});
  }

  CallRecorder& log() const { return *log_; }
  const std::shared_ptr<CallRecorder>& sharedLog() const { return log_; }
  std::vector<std::string> calls() const { return log_->lines(); }
  size_t count() const { return log_->size(); }
  void clear() { log_->clear(); }
  bool allOnMainThread() const { return log_->allOnMainThread(); }

 protected:
  void declare(std::initializer_list<std::string_view> selectors) { this->implements(selectors); }
  // One call: `tag` + `line`. `needsMain`: the call is promised on the main queue.
  void record(const std::string& line, bool needsMain = true) {
    log_->add(tag_ + line, needsMain);
    if (onCall) onCall(tag_ + line);
  }

 public:
  // Called after each recorded line with that line; may throw (a delegate that fails).
  std::function<void(const std::string&)> onCall;

 private:
  std::shared_ptr<CallRecorder> log_;
  std::string tag_;
};

}  // namespace devices
