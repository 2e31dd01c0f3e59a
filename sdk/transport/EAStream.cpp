#include "sdk/transport/EAStream.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "platform/foundation/MainQueue.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"

namespace kestra {

using accessory::StreamEvent;
using accessory::StreamStatus;
using foundation::Clock;

namespace {
// Waits `d` of the current clock.
void clockSleep(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  Clock::current().waitFor(lock, cv, d, [] { return false; });
}
}  // namespace

EAStream::EAStream() = default;

EAStream::~EAStream() {
  // Normally `disconnect` ran already; this only releases what a lost stream still holds.
  closeSessions();
  if (registered_.exchange(false)) commRunLoop().stop(this);
}

KXUNISDKCommRunLoop& EAStream::commRunLoop() const {
  return commRunLoop_ ? *commRunLoop_ : KXUNISDKCommRunLoop::sharedClass();
}

std::shared_ptr<EAStream> EAStream::initWithAccessory(
    std::shared_ptr<accessory::Accessory> accessory, const std::vector<std::string>& channels,
    std::weak_ptr<EAStreamManagerDelegate> managerDelegate, KXUNISDKCommRunLoop* commRunLoop) {
  std::shared_ptr<EAStream> stream(new EAStream());
  stream->commRunLoop_ = commRunLoop;
  stream->managerDelegate_ = std::move(managerDelegate);
  {
    std::lock_guard<std::mutex> lock(stream->stateMutex_);
    stream->accessory_ = std::move(accessory);
  }
  if (!stream->connectToAccessory(channels)) return nullptr;
  stream->connected_ = true;
  // The accessory may have gone while the sessions opened, before the stream was its
  // delegate: such a stream would never hear of the detach.
  if (auto a = stream->eaAccessory(); !a || !a->isConnected()) {
    stream->connected_ = false;
    stream->closeSessions();
    {
      std::lock_guard<std::mutex> lock(stream->stateMutex_);
      stream->accessory_.reset();
    }
    if (stream->registered_.exchange(false)) stream->commRunLoop().stop(stream.get());
    return nullptr;
  }
  return stream;
}

bool EAStream::connectToAccessory(const std::vector<std::string>& channels) {
  auto acc = eaAccessory();
  if (!acc) return false;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    deviceName_ = acc->name();
    deviceModel_ = acc->modelNumber();
    firmwareRevision_ = acc->firmwareRevision();
    hardwareRevision_ = acc->hardwareRevision();
    serialNumber_ = acc->serialNumber();
  }
  // Opening waits for events that only the run-loop thread delivers.
  if (commRunLoop().isRunLoopThread()) return false;
  for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
    if (attemptOpen(channels)) {
      acc->setDelegate(weak_from_this());
      return true;
    }
    closeSessions();
    clockSleep(kRetryPause);
  }
  // A failed creation does not keep the run-loop thread alive.
  if (registered_.exchange(false)) commRunLoop().stop(this);
  return false;
}

bool EAStream::attemptOpen(const std::vector<std::string>& channels) {
  KXUNISDKCommRunLoop& comm = commRunLoop();
  comm.run(this);
  registered_ = true;
  foundation::RunLoop* loop = comm.runLoop();
  if (channels.empty() || !loop) return false;
  auto acc = eaAccessory();
  const int n = std::min<int>(int(channels.size()), kMaxChannels);
  channelCount_ = n;
  for (int i = 0; i < n; ++i) {
    auto session = accessory::Session::open(acc, channels[size_t(i)]);
    if (!session) return false;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      channels_[size_t(i)].session = session;
      channels_[size_t(i)].held = 0;
      loop_ = loop;
    }
    for (accessory::Stream* s : {static_cast<accessory::Stream*>(session->inputStream().get()),
                                 static_cast<accessory::Stream*>(session->outputStream().get())}) {
      s->setDelegate(weak_from_this());
      s->schedule(*loop);
      s->open();
    }
  }
  for (int i = 0; i < n; ++i) {
    std::shared_ptr<accessory::Session> session;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      session = channels_[size_t(i)].session;
    }
    auto bothOpen = [&] {
      return session->inputStream()->status() == StreamStatus::Open &&
             session->outputStream()->status() == StreamStatus::Open;
    };
    auto failed = [&] {
      return session->inputStream()->status() == StreamStatus::Error ||
             session->outputStream()->status() == StreamStatus::Error;
    };
    std::unique_lock<std::mutex> lock(openMutex_);
    Clock::current().waitFor(lock, openCv_, kOpenTimeout, [&] { return bothOpen() || failed(); });
    if (!bothOpen()) return false;
  }
  return true;
}

void EAStream::closeSessions() {
  std::lock_guard<std::mutex> writeLock(eaLock_);
  std::array<std::shared_ptr<accessory::Session>, kMaxChannels> sessions;
  foundation::RunLoop* loop;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (int i = 0; i < kMaxChannels; ++i) sessions[size_t(i)] = std::move(channels_[size_t(i)].session);
    loop = loop_;
  }
  for (auto& s : sessions) {
    if (!s) continue;
    for (accessory::Stream* st : {static_cast<accessory::Stream*>(s->outputStream().get()),
                                  static_cast<accessory::Stream*>(s->inputStream().get())}) {
      try {
        st->close();
        if (loop) st->remove(*loop);
        st->clearDelegate();
      } catch (...) {
      }
    }
  }
}

int EAStream::channelCount() const { return channelCount_.load(); }

std::shared_ptr<accessory::Accessory> EAStream::eaAccessory() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return accessory_;
}

bool EAStream::isOpen() const {
  std::shared_ptr<accessory::Session> s;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    s = channels_[0].session;
  }
  return s && s->inputStream()->status() == StreamStatus::Open &&
         s->outputStream()->status() == StreamStatus::Open;
}

void EAStream::handleEvent(accessory::Stream& stream, StreamEvent event) {
  int channel = -1;
  bool isInput = false;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (int i = 0; i < kMaxChannels; ++i) {
      const auto& s = channels_[size_t(i)].session;
      if (!s) continue;
      if (s->inputStream().get() == &stream) {
        channel = i;
        isInput = true;
        break;
      }
      if (s->outputStream().get() == &stream) {
        channel = i;
        break;
      }
    }
  }
  switch (event) {
    case StreamEvent::OpenCompleted:
    case StreamEvent::ErrorOccurred: {
      std::lock_guard<std::mutex> lock(openMutex_);
      openCv_.notify_all();
      break;
    }
    case StreamEvent::HasBytesAvailable:
      if (channel >= 0 && isInput) receive(channel);
      break;
    case StreamEvent::EndEncountered:
      if (channel >= 0) detach();
      break;
    default:
      break;
  }
}

void EAStream::receive(int channel) {
  std::shared_ptr<accessory::Session> session;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    session = channels_[size_t(channel)].session;
  }
  if (!session) return;
  Channel& ch = channels_[size_t(channel)];
  auto& in = *session->inputStream();
  bool repeating = false;
  for (;;) {
    if (in.status() != StreamStatus::Open) return;
    const size_t room = size_t(kReceiveBufferSize - ch.held);
    ssize_t n = in.read(ch.buffer.data() + ch.held, room);
    if (n < 1) return;
    ch.held += int(n);
    int consumed = 0;
    if (auto driver = delegate()) consumed = driver->accessoryData(channel, ch.buffer.data(), ch.held);
    if (consumed > 0) {
      consumed = std::min(consumed, ch.held);  // a driver never takes more than it was given
      std::memmove(ch.buffer.data(), ch.buffer.data() + consumed, size_t(ch.held - consumed));
      ch.held -= consumed;
    } else if (!repeating) {
      return;
    }
    // A read that did not fill the buffer drained the link; bytes that come later are
    // reported again.
    if (size_t(n) < room || !in.hasBytesAvailable()) return;
    repeating = true;
  }
}

bool EAStream::write(int channel, const uint8_t* data, size_t length) {
  if (length == 0) return true;
  if (channel < 0 || channel >= kMaxChannels) return false;
  auto accessoryConnected = [this] {
    auto a = eaAccessory();
    return a && a->isConnected();
  };
  Clock& clock = Clock::current();
  foundation::MonoTime lastProgress = clock.now();
  if (!accessoryConnected()) return false;  // "EW: Send failed2!"
  size_t done = 0;
  for (;;) {
    std::shared_ptr<accessory::Session> session;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      session = channels_[size_t(channel)].session;
    }
    if (!session || !session->outputStream() ||
        session->outputStream()->status() != StreamStatus::Open ||
        Clock::current().now() - lastProgress > kWriteNoProgressTimeout)
      return false;  // "EW: Send failed!"
    {
      std::lock_guard<std::mutex> lock(eaLock_);
      auto& out = *session->outputStream();
      if (out.hasSpaceAvailable()) {
        ssize_t n = out.write(data + done, length - done);
        if (n >= 1) {
          done += size_t(n);
          lastProgress = Clock::current().now();
          if (done == length) return true;
        }
      }
    }
    std::this_thread::sleep_for(kWritePassPause);
    if (!accessoryConnected()) return false;  // "EW: Send failed2!"
  }
}

void EAStream::accessoryDidDisconnect(const std::shared_ptr<accessory::Accessory>& accessory) {
  // A late callback for an accessory that is attached again is ignored.
  if (accessory && accessory->isConnected()) return;
  detach();
}

void EAStream::detach() {
  if (!connected_.exchange(false)) return;
  std::shared_ptr<EAStream> self = shared_from_this();
  if (auto manager = managerDelegate()) manager->accessoryDisconnected(self);
  GlobalQueue::async([self] { self->disconnect(); });
}

void EAStream::disconnect() {
  std::shared_ptr<accessory::Accessory> acc;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    acc = std::move(accessory_);
  }
  if (acc) {
    acc->setDelegate({});
    // The driver hears of it first, with no lock held: it may still look at the stream
    // (and a write it makes now fails quickly instead of waiting for our lock).
    std::shared_ptr<AccessoryManagerDelegate> driver = delegate();
    std::shared_ptr<EAStream> self = weak_from_this().lock();
    if (driver && self) {
      if (foundation::MainQueue::isMainThread()) {
        driver->accessoryDisconnected(self);
      } else if (commRunLoop().isRunLoopThread()) {
        // The main queue may be waiting for a reply this thread reads: do not wait for it.
        foundation::MainQueue::post([driver, self] { driver->accessoryDisconnected(self); });
      } else {
        auto done = std::make_shared<bool>(false);
        auto m = std::make_shared<std::mutex>();
        auto cv = std::make_shared<std::condition_variable>();
        foundation::MainQueue::post([driver, self, done, m, cv] {
          driver->accessoryDisconnected(self);
          std::lock_guard<std::mutex> lock(*m);
          *done = true;
          cv->notify_all();
        });
        std::unique_lock<std::mutex> lock(*m);
        Clock::current().waitFor(lock, *cv, kDisconnectNoticeTimeout, [&] { return *done; });
      }
    }
    closeSessions();
  }
  unregisterWhenClosed();
  connected_ = false;
}

void EAStream::unregisterWhenClosed() {
  // Under the write lock, which `closeSessions` holds while it closes: sessions that are
  // still held belong to a `disconnect` on another thread (waiting for the driver's
  // callback), which unregisters once it has closed them. Leaving the run-loop thread
  // before that would let it end under streams that are still scheduled on its loop.
  std::lock_guard<std::mutex> writeLock(eaLock_);
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (const auto& ch : channels_)
      if (ch.session) return;
  }
  if (registered_.exchange(false)) commRunLoop().stop(this);
}

#define KX_STRING_PROPERTY(getter, setter, field)          \
  std::string EAStream::getter() const {                   \
    std::lock_guard<std::mutex> lock(stateMutex_);         \
    return field;                                          \
  }                                                        \
  void EAStream::setter(const std::string& v) {            \
    std::lock_guard<std::mutex> lock(stateMutex_);         \
    field = v;                                             \
  }
KX_STRING_PROPERTY(deviceName, setDeviceName, deviceName_)
KX_STRING_PROPERTY(deviceModel, setDeviceModel, deviceModel_)
KX_STRING_PROPERTY(firmwareRevision, setFirmwareRevision, firmwareRevision_)
KX_STRING_PROPERTY(hardwareRevision, setHardwareRevision, hardwareRevision_)
KX_STRING_PROPERTY(serialNumber, setSerialNumber, serialNumber_)
#undef KX_STRING_PROPERTY

void EAStream::setDelegate(std::weak_ptr<AccessoryManagerDelegate> driver) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  delegate_ = std::move(driver);
}

std::shared_ptr<AccessoryManagerDelegate> EAStream::delegate() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return delegate_.lock();
}

void EAStream::setManagerDelegate(std::weak_ptr<EAStreamManagerDelegate> manager) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  managerDelegate_ = std::move(manager);
}

std::shared_ptr<EAStreamManagerDelegate> EAStream::managerDelegate() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return managerDelegate_.lock();
}

}  // namespace kestra
