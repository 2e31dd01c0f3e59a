#include "sdk/transport/bluetooth/BTStream.h"

namespace kestra {

using foundation::Clock;

BTStream::BTStream()
    : core_([this] { return announceBytes(); },
            [this](const uint8_t* data, size_t length) { return btWrite(data, int(length), nullptr); }) {}

BTStream::~BTStream() { stop(); }

void BTStream::pause(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock lock(m);
  Clock::current().waitFor(lock, cv, d, [] { return false; });
}

void BTStream::setDelegate(std::shared_ptr<BTStreamDelegate> delegate) {
  std::lock_guard l(delegateMutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<BTStreamDelegate> BTStream::delegate() const {
  std::lock_guard l(delegateMutex_);
  return delegate_;
}

void BTStream::send(int event) {
  if (auto d = delegate()) d->handleEvent(*this, event);
}

bool BTStream::announceBytes() {
  auto d = delegate();
  if (!d) return false;
  d->handleEvent(*this, kBTStreamHasBytesAvailable);
  return true;
}

void BTStream::heldChanged() {
  { std::lock_guard l(heldWaitMutex_); }
  heldChanged_.notify_all();
}

void BTStream::open() {
  status_ = 2;
  if (core_.notificationsEnabled()) send(kBTStreamOpenCompleted);
}

void BTStream::close() {
  const int previous = status_.exchange(6);
  if (previous == 6) return;
  if (previous == 2) send(kBTStreamEndEncountered);
}

int BTStream::read(uint8_t* buffer, int maxLength) {
  if (!buffer || maxLength <= 0) return 0;
  return int(core_.read(buffer, size_t(maxLength)));
}

bool BTStream::hasBytesAvailable() const { return heldLength() > 0; }

Bytes BTStream::heldBytes() const { return core_.held(); }

size_t BTStream::heldLength() const { return core_.heldLength(); }

void BTStream::streamAppendData(const uint8_t* data, size_t length) {
  if (!data || length == 0) return;
  core_.append(data, length);
  heldChanged();
}

void BTStream::streamNotify() { core_.notify(); }

bool BTStream::setDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence, foundation::Error*) {
  core_.setDataNotification(maxTime, maxLength, sequence.empty() ? std::nullopt : std::optional<Bytes>(sequence));
  return true;
}

void BTStream::clear() {
  core_.clear();
  heldChanged();
}

bool BTStream::flush() { return core_.flush(); }

int BTStream::write(const uint8_t* data, int length) {
  if (length < 0 || (!data && length > 0)) return -1;
  // A cached write fails when a full cache it filled could not go out.
  return core_.write(data, size_t(length)) >= 0 ? length : -1;
}

bool BTStream::waitForHeld(foundation::Duration timeout, const std::function<bool(const Bytes&)>& ready) {
  const auto test = [&] {
    bool result = false;
    core_.editHeld([&](Bytes& held) { result = ready(held); });
    return result;
  };
  std::unique_lock l(heldWaitMutex_);
  return Clock::current().waitFor(l, heldChanged_, timeout, test);
}

void BTStream::editHeld(const std::function<void(Bytes&)>& edit) {
  core_.editHeld(edit);
  heldChanged();
}

void BTStream::run() { core_.run(); }

void BTStream::stop() { core_.stop(); }

}  // namespace kestra
