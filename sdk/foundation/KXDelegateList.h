#pragma once
// A driver's list of delegates, held weakly, and the one fan-out every driver and the device
// API use to call them.
//
// The list keeps registration order. A delegate is in it at most once; a freed delegate
// leaves an empty slot until the list is cleaned (`remove`, `first`), so that slot numbers
// stay as the driver's callers see them (`set` replaces slot 0).
//
// Fan-out: a walk goes over a snapshot taken under the list's lock and calls out with no
// lock held, so a delegate may add or remove delegates (itself included) from inside its
// callback; one added during a walk hears the next event. Empty slots and delegates that do
// not implement the callback (`KXDelegate::responds`) are skipped. An exception thrown by a
// delegate is caught and reported to the list's exception handler (by default the SDK log),
// and the walk goes on to the others. `Order::LastFirst` is the drivers' order (the last
// registered first); `Order::FirstLast` is registration order. `fanOutOnMain` posts the walk
// to the main queue and takes its snapshot there.
//
// How a driver uses it:
//   KXDelegateList<PrinterDelegate> delegates_{"PRN"};
//   void addDelegate(const std::shared_ptr<PrinterDelegate>& d) { delegates_.add(d); }
//   delegates_.fanOutOnMain(weak_from_this(), sel::paperStatus,
//                           [present](PrinterDelegate& d) { d.paperStatus(present); });
//
// Threads: every member may be called from any thread.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

enum class KXFanOutOrder { LastFirst, FirstLast };

template <class D>
class KXDelegateList {
 public:
  using Ptr = std::shared_ptr<D>;
  using Order = KXFanOutOrder;
  // Told about a delegate that threw: the callback's selector and the exception's text
  // ("" when it was not a std::exception).
  using ExceptionHandler = std::function<void(std::string_view selector, const char* what)>;

  // `owner` prefixes the log lines of this list ("PN", "KXDevices").
  explicit KXDelegateList(std::string owner = {}) : owner_(std::move(owner)) {}
  KXDelegateList(const KXDelegateList&) = delete;
  KXDelegateList& operator=(const KXDelegateList&) = delete;

  // Replaces the default (the SDK log). Set it before the first event.
  void setExceptionHandler(ExceptionHandler handler) {
    std::lock_guard lock(mutex_);
    onException_ = std::move(handler);
  }

  // Appends `d` unless it is in the list already; nothing for nullptr. True when added.
  bool add(const Ptr& d) {
    if (!d) return false;
    std::lock_guard lock(mutex_);
    for (const auto& w : list_)
      if (w.lock() == d) return false;
    list_.push_back(d);
    return true;
  }
  // Drops the empty slots, then `d`'s slot, if any.
  void remove(const Ptr& d) {
    std::lock_guard lock(mutex_);
    cleanLocked();
    auto it = std::find_if(list_.begin(), list_.end(), [&](const auto& w) { return w.lock() == d; });
    if (it != list_.end()) list_.erase(it);
  }
  // Replaces slot 0 (adds to an empty list).
  void set(const Ptr& d) {
    std::lock_guard lock(mutex_);
    if (list_.empty())
      list_.push_back(d);
    else
      list_.front() = d;
  }
  // Drops the empty slots.
  void clean() {
    std::lock_guard lock(mutex_);
    cleanLocked();
  }
  // The first live delegate, after dropping the empty slots.
  Ptr first() {
    std::lock_guard lock(mutex_);
    cleanLocked();
    return list_.empty() ? nullptr : list_.front().lock();
  }
  // The live delegates in registration order.
  std::vector<Ptr> live() const {
    std::vector<Ptr> out;
    std::lock_guard lock(mutex_);
    for (const auto& w : list_)
      if (auto d = w.lock()) out.push_back(std::move(d));
    return out;
  }
  // Every slot in registration order; a freed delegate's slot is empty.
  std::vector<Ptr> snapshot() const {
    std::vector<Ptr> out;
    std::lock_guard lock(mutex_);
    out.reserve(list_.size());
    for (const auto& w : list_) out.push_back(w.lock());
    return out;
  }
  // Every slot as a weak handle of the base `B` (for helpers that take a list of that base).
  template <class B>
  std::vector<std::weak_ptr<B>> weakSnapshot() const {
    std::vector<std::weak_ptr<B>> out;
    std::lock_guard lock(mutex_);
    out.reserve(list_.size());
    for (const auto& w : list_) {
      if (auto d = w.lock())
        out.push_back(std::static_pointer_cast<B>(d));
      else
        out.emplace_back();
    }
    return out;
  }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return list_.size();
  }

  // Calls `call` on every live delegate that implements `selector`, in `order`, stopping
  // after `limit` calls. Returns how many were called (a delegate that threw counts).
  template <class F>
  size_t fanOut(std::string_view selector, F&& call, Order order = Order::LastFirst,
                size_t limit = SIZE_MAX) const {
    return forEach(
        selector, [&](D& d) { return d.responds(selector); }, std::forward<F>(call), order, limit);
  }

  // As `fanOut`, with the delegates chosen by `wants` instead of one selector (`selector`
  // names the event in the log).
  template <class W, class F>
  size_t forEach(std::string_view selector, W&& wants, F&& call, Order order = Order::LastFirst,
                 size_t limit = SIZE_MAX) const {
    const auto list = snapshot();
    size_t called = 0;
    const size_t n = list.size();
    for (size_t k = 0; k < n && called < limit; ++k) {
      const auto& d = order == Order::LastFirst ? list[n - 1 - k] : list[k];
      if (!d || !wants(*d)) continue;
      ++called;
      try {
        call(*d);
      } catch (const std::exception& e) {
        reportException(selector, e.what());
      } catch (...) {
        reportException(selector, "");
      }
    }
    return called;
  }

  // The walk of `fanOut`, run later on the main queue; `call` is copied there. `owner` is
  // the object that holds this list: the walk is dropped when it is gone by then.
  template <class F>
  void fanOutOnMain(std::weak_ptr<const void> owner, std::string_view selector, F call,
                    Order order = Order::LastFirst) const {
    foundation::MainQueue::post([this, owner = std::move(owner), selector = std::string(selector),
                                 call = std::move(call), order]() mutable {
      if (auto alive = owner.lock()) fanOut(selector, call, order);
    });
  }

 private:
  void cleanLocked() {
    std::erase_if(list_, [](const auto& w) { return w.expired(); });
  }
  void reportException(std::string_view selector, const char* what) const {
    ExceptionHandler handler;
    {
      std::lock_guard lock(mutex_);
      handler = onException_;
    }
    if (handler) {
      handler(selector, what);
      return;
    }
    KXUNISDKGlobals::LOG("%s: delegate exception in %.*s: %s", owner_.c_str(), int(selector.size()),
                         selector.data(), what);
  }

  const std::string owner_;
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<D>> list_;
  ExceptionHandler onException_;
};

}  // namespace kestra
