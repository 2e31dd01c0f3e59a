#include "sdk/transport/bluetooth/btModule.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

using foundation::Bytes;
using foundation::Clock;
using foundation::Error;

std::optional<std::string> btFormatAddress(const std::optional<std::string>& address) {
  if (!address) return std::nullopt;
  std::string out;
  for (char c : *address) {
    const char u = char(std::toupper(static_cast<unsigned char>(c)));
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F')) out.push_back(u);
    if (out.size() == 16) break;
  }
  return out;
}

std::optional<std::string> btTakeLine(Bytes& held, size_t maxLine) {
  auto isBreak = [](uint8_t b) { return b == '\r' || b == '\n'; };
  size_t start = 0;
  while (start < held.size() && isBreak(held[start])) ++start;
  size_t end = start;
  while (end < held.size() && !isBreak(held[end])) ++end;
  if (start == held.size() || end == held.size()) return std::nullopt;
  std::string line(held.begin() + long(start), held.begin() + long(std::min(end, start + maxLine)));
  size_t drop = end + 1;
  if (drop < held.size() && isBreak(held[drop])) ++drop;
  held.erase(held.begin(), held.begin() + long(drop));
  return line;
}

btModule::btModule() = default;

btModule::~btModule() {
  std::lock_guard t(timerMutex_);
  if (freeTimer_) freeTimer_->invalidate();
}

bool btModule::moduleError(Error* error, int code, const char* text) {
  const Error e = KXUNISDKGlobals::makeError(code, std::string(text));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

void btModule::setControlDelegate(std::weak_ptr<BTModuleHost> host) {
  std::lock_guard l(listMutex_);
  host_ = std::move(host);
}

std::shared_ptr<BTModuleHost> btModule::controlDelegate() const {
  std::lock_guard l(listMutex_);
  return host_.lock();
}

// ---- Hooks a module does not have -------------------------------------------------------------

namespace {
bool unsupported(Error* error) {
  return foundation::fail(error, KXUNISDKGlobals::makeError(-7, std::string("Function not supported on the connected device")));
}
}  // namespace

bool btModule::_btDiscoverDevices(int, double, unsigned, Error* error) { return unsupported(error); }
bool btModule::_btWrite(const uint8_t*, int*, Error* error) { return unsupported(error); }
bool btModule::_btSetEnabled(bool, Error* error) { return unsupported(error); }
bool btModule::_btConnect(const std::string&, const std::string&, Error* error) { return unsupported(error); }
void btModule::_btDisconnect(const std::string&) {}
bool btModule::_btListenForDevices(bool, bool, const std::string&, unsigned, Error* error) { return unsupported(error); }
void btModule::_btDeviceDisconnected(const std::string&) {}
void btModule::_btDisconnectFinished() {}
bool btModule::_btConfirmPassKey(bool, Error* error) { return unsupported(error); }
std::optional<std::string> btModule::btGetLocalName(Error* error) {
  unsupported(error);
  return std::nullopt;
}
std::optional<std::string> btModule::_btGetLocalAddress(Error* error) {
  unsupported(error);
  return std::nullopt;
}
std::optional<std::vector<std::string>> btModule::_btCommand(const std::string&, Error* error) {
  unsupported(error);
  return std::nullopt;
}

void btModule::btAppendData(const uint8_t* data, size_t length) {
  streamAppendData(data, length);
  streamNotify();
}

// ---- Lists -------------------------------------------------------------------------------------

std::optional<std::vector<std::string>> btModule::btDeviceAddresses() {
  std::lock_guard l(listMutex_);
  return addresses_;
}

std::vector<std::string> btModule::btDeviceNames() {
  std::lock_guard l(listMutex_);
  return names_;
}

std::vector<std::string> btModule::btConnectedDevices() {
  std::lock_guard l(listMutex_);
  return connected_;
}

bool btModule::anyConnected() const {
  std::lock_guard l(listMutex_);
  return !connected_.empty();
}

void btModule::clearFoundDevices() {
  std::lock_guard l(listMutex_);
  addresses_ = std::vector<std::string>{};
  names_.clear();
}

void btModule::addFoundDevice(const std::string& address, const std::optional<std::string>& name) {
  std::lock_guard l(listMutex_);
  if (!addresses_) addresses_ = std::vector<std::string>{};
  addresses_->push_back(btFormatAddress(address).value_or(""));
  if (name) names_.push_back(*name);
}

void btModule::removeFoundDevice(size_t index) {
  std::lock_guard l(listMutex_);
  if (addresses_ && index < addresses_->size()) addresses_->erase(addresses_->begin() + long(index));
}

void btModule::addConnectedDevice(const std::string& address) {
  std::lock_guard l(listMutex_);
  connected_.push_back(btFormatAddress(address).value_or(""));
}

std::string btModule::currentLocalName() const {
  std::lock_guard l(listMutex_);
  return currentLocalName_;
}

// ---- Power window ---------------------------------------------------------------------------

bool btModule::acquire(Error* error) {
  KXUNISDKGlobals::LOG("BTON");
  // Under `btLock_`: an idle switch-off under way ends before the module is taken (and it is
  // then switched on again), and none starts while the hold is counted.
  std::lock_guard b(btLock_);
  {
    std::lock_guard t(timerMutex_);
    ++holds_;
    if (freeTimer_) freeTimer_->invalidate();
    freeTimer_.reset();
    freeDate_.reset();
  }
  if (!enabled_ && !btSetEnabled(true, error)) {
    endHold();
    return false;
  }
  return true;
}

void btModule::endHold(bool releaseLast) {
  {
    std::lock_guard t(timerMutex_);
    if (holds_ > 0) --holds_;
    if (holds_ > 0) return;
  }
  if (releaseLast) release();
}

void btModule::release() {
  KXUNISDKGlobals::LOG("BTFREE");
  std::lock_guard t(timerMutex_);
  freeDate_ = Clock::current().now();
  if (freeTimer_ || timerPending_) return;
  timerPending_ = true;
  std::weak_ptr<btModule> weak = weak_from_this();
  foundation::MainQueue::post([weak] {
    if (auto self = weak.lock()) self->startIdleTimer();
  });
}

void btModule::startIdleTimer() {
  std::weak_ptr<btModule> weak = weak_from_this();
  auto timer = foundation::Timer::scheduled(
      kIdleTick, true,
      [weak](foundation::Timer& t) {
        if (auto self = weak.lock())
          self->idleTick();
        else
          t.invalidate();
      },
      &foundation::RunLoop::main());
  std::lock_guard t(timerMutex_);
  timerPending_ = false;
  if (freeTimer_) freeTimer_->invalidate();
  freeTimer_ = std::move(timer);
}

bool btModule::idleTimerRunning() const {
  std::lock_guard t(timerMutex_);
  return (freeTimer_ && freeTimer_->isValid()) || timerPending_;
}

bool btModule::idleNow() const {
  return holds_ == 0 && !anyConnected() && !inCommand_ && !listenActive_ && freeDate_ &&
         Clock::current().now() - *freeDate_ > kIdleOff;
}

void btModule::idleTick() {
  KXUNISDKGlobals::LOG("btTimerFunc: tick");
  // A switch-off in progress holds the lock while it waits for the module; the next tick
  // looks again rather than holding the main queue.
  std::unique_lock b(btLock_, std::try_to_lock);
  if (!b.owns_lock()) return;
  std::lock_guard t(timerMutex_);
  if (!enabled_) {
    KXUNISDKGlobals::LOG("btTimerFunc: !self.enabled");
    if (freeTimer_) freeTimer_->invalidate();
    freeTimer_.reset();
    return;
  }
  if (!idleNow() || switchingOff_) return;
  KXUNISDKGlobals::LOG("btTimerFunc: disabling");
  if (freeTimer_) freeTimer_->invalidate();
  freeTimer_.reset();
  // Switching off sends accessory commands and pauses; it runs off the main queue.
  switchingOff_ = true;
  std::weak_ptr<btModule> weak = weak_from_this();
  GlobalQueue::async([weak] {
    auto self = weak.lock();
    if (!self) return;
    {
      // The module may have been taken, or a link may have come up, since the tick decided:
      // it is looked at again right before the switch-off, under the lock that every
      // operation takes before it uses the module, so nothing starts until the module is off.
      std::lock_guard b2(self->btLock_);
      bool stillIdle;
      {
        std::lock_guard t2(self->timerMutex_);
        stillIdle = self->enabled_ && self->idleNow();
      }
      if (stillIdle) {
        self->btSetEnabled(false, nullptr);
        self->enabled_ = false;
      } else {
        // Whoever took it releases it again, which starts a new idle time.
        KXUNISDKGlobals::LOG("btTimerFunc: in use again, stays on");
      }
    }
    self->switchingOff_ = false;
  });
}

bool btModule::btSetEnabled(bool on, Error* error) {
  if (on) {
    if (enabled_) return true;
    // A disconnect under way (one the owning driver reported while it set up, say) clears
    // and closes the stream on a worker: it is over before the module is switched on, so
    // its clearing cannot drop the module's first answers.
    waitDisconnectDone();
    setNotificationsEnabled(false);
    clear();
    run();
    if (!_btSetEnabled(true, error)) {
      clear();
      return false;
    }
    enabled_ = true;
    clear();
    return true;
  }
  setNotificationsEnabled(false);
  pause(kOffPause);
  clear();
  btDisconnect("", nullptr);
  // The disconnect finishes on a worker (lists, stream clear and close); it is over before
  // the module is off, so none of it lands on whatever takes the module next.
  waitDisconnectDone();
  stop();
  if (!_btSetEnabled(false, error)) {
    _btSetEnabled(false, nullptr);
    if (error) *error = Error{};
  }
  enabled_ = false;
  clear();
  return true;
}

bool btModule::btOpen(Error* error) { return acquire(error); }

// Holds are counted: the module is released with the last `btClose`.
void btModule::btClose() { endHold(); }

// ---- Operations -------------------------------------------------------------------------------

std::optional<std::string> btModule::btGetLocalAddress(Error* error) {
  if (!acquire(error)) return std::nullopt;
  auto r = _btGetLocalAddress(error);
  endHold();
  return r;
}

std::optional<std::vector<std::string>> btModule::btCommand(const std::string& command, Error* error) {
  if (!acquire(error)) return std::nullopt;
  auto r = _btCommand(command, error);
  endHold();
  return r;
}

bool btModule::btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, Error* error) {
  if (!acquire(error)) return false;
  inCommand_ = true;
  const bool ok = _btDiscoverDevices(maxDevices, maxTime, cod, error);
  inCommand_ = false;
  endHold();
  return ok;
}

namespace {
// Calls `call` on every live delegate that takes `selector`, last first, on the main queue.
void postToDelegates(const std::vector<std::weak_ptr<BTModuleEvents>>& delegates, std::string_view selector,
                     std::function<void(BTModuleEvents&)> call) {
  foundation::MainQueue::post([delegates, selector, call = std::move(call)] {
    for (auto it = delegates.rbegin(); it != delegates.rend(); ++it) {
      auto d = it->lock();
      if (!d || !d->responds(selector)) continue;
      KXUNISDKGlobals::LOG("TDelegate %p responds to selector, will be notified", static_cast<void*>(d.get()));
      try {
        call(*d);
      } catch (...) {
      }
    }
  });
}
}  // namespace

bool btModule::btDiscoverDevicesInBackground(int maxDevices, double maxTime, unsigned cod, int filter,
                                              std::vector<std::weak_ptr<BTModuleEvents>> delegates, Error*) {
  std::weak_ptr<btModule> weak = weak_from_this();
  GlobalQueue::async([weak, maxDevices, maxTime, cod, filter, delegates = std::move(delegates)] {
    auto self = weak.lock();
    const bool ok = self && self->btDiscoverDevices(maxDevices, maxTime, cod, nullptr);
    if (ok) {
      const auto addresses = self->btDeviceAddresses().value_or(std::vector<std::string>{});
      const auto names = self->btDeviceNames();
      for (size_t i = 0; i < addresses.size(); ++i) {
        const std::string name = i < names.size() ? names[i] : std::string();
        const bool pass = filter == 0 || ((filter & 1) && KXUNISDKGlobals::isPrinter(name)) ||
                          ((filter & 2) && KXUNISDKGlobals::isPinpad(name));
        if (!pass) continue;
        postToDelegates(delegates, btsel::bluetoothDeviceDiscovered,
                        [a = addresses[i], name](BTModuleEvents& d) { d.bluetoothDeviceDiscovered(a, name); });
      }
    }
    postToDelegates(delegates, btsel::bluetoothDiscoverComplete,
                    [ok](BTModuleEvents& d) { d.bluetoothDiscoverComplete(ok); });
  });
  return true;
}

bool btModule::btConnect(const std::string& address, const std::string& pin, Error* error) {
  if (!acquire(error)) return false;
  const std::string formatted = btFormatAddress(address).value_or("");
  // A link keeps the module on by itself; the hold of this call ends either way.
  const bool ok = _btConnect(formatted, pin, error);
  endHold(!ok);
  return ok;
}

bool btModule::btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                                  Error* error) {
  if (listen && anyConnected())
    return moduleError(error, -20, "The function cannot be used when having active connection");
  if (!acquire(error)) return false;
  listenActive_ = listen;
  if (!_btListenForDevices(listen, discoverable, localName, cod, error)) {
    endHold();
    return false;
  }
  if (listen) {
    listenDiscoverable_ = discoverable;
    {
      std::lock_guard l(listMutex_);
      currentLocalName_ = localName;
    }
    currentCOD_ = cod;
  }
  // Listening keeps the module on by itself.
  endHold(!listen);
  return true;
}

bool btModule::btDisconnect(const std::string& address, Error*) {
  const std::string formatted = btFormatAddress(address).value_or("");
  KXUNISDKGlobals::LOG("btDisconnect: %s, btConnectedDevices=%d", formatted.c_str(), int(btConnectedDevices().size()));
  if (inDisconnect_.exchange(true)) return true;
  if (anyConnected()) _btDisconnect(formatted);
  release();
  std::optional<std::string> which;
  if (!formatted.empty()) which = formatted;
  std::weak_ptr<btModule> weak = weak_from_this();
  GlobalQueue::async([weak, which] {
    if (auto self = weak.lock()) self->finishDisconnect(which);
  });
  return true;
}

void btModule::finishDisconnect(const std::optional<std::string>& address) {
  std::vector<std::string> gone;
  {
    std::lock_guard l(listMutex_);
    if (address) {
      KXUNISDKGlobals::LOG("Address!=nil");
      auto it = std::find(connected_.begin(), connected_.end(), *address);
      if (it != connected_.end()) connected_.erase(it);
      gone.push_back(*address);
    } else {
      KXUNISDKGlobals::LOG("Address=nil");
      gone.swap(connected_);
    }
  }
  finishDisconnect(gone);
}

void btModule::finishDisconnect(const std::vector<std::string>& gone) {
  if (!gone.empty()) {
    auto host = controlDelegate();
    foundation::MainQueue::post([host, gone] {
      if (!host) return;
      for (const auto& a : gone) host->bluetoothDeviceDisconnected(a);
    });
  }
  clear();
  close();
  {
    std::lock_guard l(disconnectMutex_);
    inDisconnect_ = false;
  }
  disconnectDone_.notify_all();
  _btDisconnectFinished();
}

void btModule::waitDisconnectDone() {
  std::unique_lock l(disconnectMutex_);
  disconnectDone_.wait(l, [this] { return !inDisconnect_.load(); });
}

void btModule::btDeviceDisconnected(const std::string& address) {
  const std::string formatted = btFormatAddress(address).value_or("");
  std::vector<std::string> gone;
  {
    std::lock_guard l(listMutex_);
    if (formatted.empty()) {
      gone.swap(connected_);
    } else {
      gone.push_back(formatted);
      connected_.erase(std::remove(connected_.begin(), connected_.end(), formatted), connected_.end());
    }
  }
  _btDeviceDisconnected(formatted);
  // The devices already left the list; the disconnect still reports each of them once.
  if (inDisconnect_.exchange(true)) return;
  release();
  std::weak_ptr<btModule> weak = weak_from_this();
  GlobalQueue::async([weak, gone] {
    if (auto self = weak.lock()) self->finishDisconnect(gone);
  });
}

bool btModule::btWrite(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length > 0)) return moduleError(error, -9, "Invalid parameter");
  auto& clock = Clock::current();
  const auto start = clock.now();
  int done = 0;
  while (done < length) {
    if (clock.now() - start > kWriteTimeout) return moduleError(error, -6, "Timeout writing data to bluetooth engine");
    int n = length - done;
    if (!_btWrite(data + done, &n, error)) return false;
    if (n <= 0) {
      pause(kWritePause);
      continue;
    }
    done += std::min(n, length - done);
  }
  return true;
}

bool btModule::btWrite(const std::string& text, Error* error) {
  // A pairing PIN's answer is logged without the PIN.
  static constexpr std::string_view kPinAnswer = "AT+RESPIN=";
  if (text.compare(0, kPinAnswer.size(), kPinAnswer) == 0)
    KXUNISDKGlobals::LOG("BTW: %s****", std::string(kPinAnswer).c_str());
  else
    KXUNISDKGlobals::LOG("BTW: %s", text.c_str());
  return btWrite(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()), error);
}

int btModule::btRead(uint8_t* buffer, int length, double timeoutSeconds, Error*) {
  if (!buffer || length <= 0) return 0;
  const auto timeout = std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
  waitForHeld(timeout, [length](const Bytes& held) { return held.size() >= size_t(length); });
  return read(buffer, length);
}

std::optional<std::string> btModule::btReadLine(double timeoutSeconds, Error* error) {
  const auto timeout = std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
  auto& clock = Clock::current();
  const auto deadline = clock.now() + timeout;
  for (;;) {
    std::optional<std::string> line;
    editHeld([&](Bytes& held) { line = btTakeLine(held, kLineMax); });
    if (line) {
      KXUNISDKGlobals::LOG("line=%s", line->c_str());
      return line;
    }
    const auto now = clock.now();
    if (now >= deadline ||
        !waitForHeld(deadline - now, [](const Bytes& held) {
          Bytes copy = held;
          return btTakeLine(copy, kLineMax).has_value();
        })) {
      // One last look: a line may have come as the time ran out.
      editHeld([&](Bytes& held) { line = btTakeLine(held, kLineMax); });
      if (line) return line;
      moduleError(error, -6, "Timeout waiting for data");
      return std::nullopt;
    }
  }
}

Bytes btModule::_btAddressToData(const std::string& address) {
  const std::string digits = btFormatAddress(address).value_or("");
  Bytes out(6, 0);
  auto nibble = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'A' + 10); };
  for (size_t i = 0; i < 6; ++i) {
    const uint8_t hi = 2 * i < digits.size() ? nibble(digits[2 * i]) : 0;
    const uint8_t lo = 2 * i + 1 < digits.size() ? nibble(digits[2 * i + 1]) : 0;
    out[i] = uint8_t(hi << 4 | lo);
  }
  return out;
}

}  // namespace kestra
