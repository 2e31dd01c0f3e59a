#pragma once
// A stand-in accessory driver for tests of the accessory manager and its streams: it
// claims what its `claim` function says, records every call (and on which thread it came),
// and consumes received bytes as its `consume` function says - by default whole frames of
// the form [0x00][length][length bytes], so partial frames stay with the stream.
//
// Thread safety: the manager calls it from the search thread, the run-loop thread and the
// main queue; every member is guarded, and the `wait...` helpers pump the main queue while
// they wait (call them on the main thread).

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/transport/EAManager.h"

namespace devices {

class RecordingDriver : public kestra::AccessoryManagerDelegate {
 public:
  using Claim = std::function<std::optional<std::vector<std::string>>(
      const std::string& name, const std::vector<std::string>& offered)>;
  using Consume = std::function<int(int channel, const uint8_t* buffer, int length)>;

  // Claims every accessory whose protocol strings include `protocol`, asking for it alone.
  static Claim claimProtocol(const std::string& protocol) {
    return [protocol](const std::string&, const std::vector<std::string>& offered)
               -> std::optional<std::vector<std::string>> {
      for (const auto& p : offered)
        if (p == protocol) return std::vector<std::string>{protocol};
      return std::nullopt;
    };
  }
  static Claim claimNothing() {
    return [](const std::string&, const std::vector<std::string>&)
               -> std::optional<std::vector<std::string>> { return std::nullopt; };
  }
  // Length of the whole frames ([0x00][len][len bytes]) at the front of the buffer.
  static int wholeFrames(const uint8_t* b, int n) {
    int used = 0;
    while (n - used >= 2 && used + 2 + b[used + 1] <= n) used += 2 + b[used + 1];
    return used;
  }

  RecordingDriver(std::string label, Claim claim, std::vector<std::string>* askLog = nullptr)
      : label_(std::move(label)), claim_(std::move(claim)), askLog_(askLog) {}

  std::optional<std::vector<std::string>> accessoryShouldConnect(
      const std::string& name, std::vector<std::string> channels) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      asked.push_back(name);
      if (askLog_) askLog_->push_back(label_);
    }
    return claim_(name, channels);
  }

  void accessoryConnected(const std::shared_ptr<kestra::EAStream>& s) override {
    if (whileConnecting) whileConnecting(s);  // without the driver's lock
    std::lock_guard<std::mutex> lock(mutex_);
    stream = s;
    ++connectedCount;
    cv_.notify_all();
  }

  int accessoryData(int channel, const uint8_t* buffer, int length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    offers.push_back({channel, foundation::Bytes(buffer, buffer + length)});
    int used = consume ? consume(channel, buffer, length) : wholeFrames(buffer, length);
    if (used > 0) {
      auto& r = consumed[channel];
      r.insert(r.end(), buffer, buffer + used);
    }
    cv_.notify_all();
    return used;
  }

  void accessoryDisconnected(const std::shared_ptr<kestra::EAStream>& s) override {
    std::function<void(const std::shared_ptr<kestra::EAStream>&)> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++disconnectedCount;
      disconnectedOnMain = foundation::MainQueue::isMainThread();
      if (s == stream) stream.reset();
      hook = onDisconnected;
      cv_.notify_all();
    }
    if (hook) hook(s);
  }

  // Pumps the main queue until `pred` (evaluated under the driver's lock) holds.
  bool waitFor(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
    return foundation::RunLoop::main().runUntil(
        [&] {
          std::lock_guard<std::mutex> lock(mutex_);
          return pred();
        },
        timeout);
  }
  std::shared_ptr<kestra::EAStream> currentStream() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream;
  }
  foundation::Bytes consumedOn(int channel) {
    std::lock_guard<std::mutex> lock(mutex_);
    return consumed[channel];
  }

  // Recorded calls; read them under `lock()` or after the driver went quiet.
  std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex_); }
  std::vector<std::string> asked;
  std::shared_ptr<kestra::EAStream> stream;
  int connectedCount = 0;
  int disconnectedCount = 0;
  bool disconnectedOnMain = false;
  std::vector<std::pair<int, foundation::Bytes>> offers;
  std::map<int, foundation::Bytes> consumed;
  Consume consume;
  // Runs (without the driver's lock, on the search thread) before each `accessoryConnected`
  // is recorded: a driver busy identifying its device. Set it before the first search.
  std::function<void(const std::shared_ptr<kestra::EAStream>&)> whileConnecting;
  // Runs (without the driver's lock) after each `accessoryDisconnected` was recorded.
  std::function<void(const std::shared_ptr<kestra::EAStream>&)> onDisconnected;

 private:
  std::string label_;
  Claim claim_;
  std::vector<std::string>* askLog_;
  std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace devices
