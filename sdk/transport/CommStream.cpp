#include "sdk/transport/CommStream.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"

namespace kestra {

using accessory::StreamEvent;
using accessory::StreamStatus;

std::shared_ptr<CommStream> CommStream::initWithName(const std::string& name,
                                                     KXUNISDKCommRunLoop* commRunLoop) {
  return std::shared_ptr<CommStream>(new CommStream(name, commRunLoop));
}

CommStream::CommStream(std::string name, KXUNISDKCommRunLoop* commRunLoop)
    : name_(std::move(name)), commRunLoop_(commRunLoop) {}

CommStream::~CommStream() {
  if (streamsOpened_.exchange(false)) {
    closeStreams();
    if (auto owner = delegate()) owner->streamDisconnected(*this);
  } else {
    closeStreams();
  }
}

KXUNISDKCommRunLoop& CommStream::commRunLoop() const {
  return commRunLoop_ ? *commRunLoop_ : KXUNISDKCommRunLoop::sharedClass();
}

void CommStream::setDelegate(std::weak_ptr<CommStreamDelegate> owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = std::move(owner);
}

std::shared_ptr<CommStreamDelegate> CommStream::delegate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegate_.lock();
}

void CommStream::connect(std::shared_ptr<accessory::InputStream> input,
                         std::shared_ptr<accessory::OutputStream> output) {
  if (streamsOpened_) return;
  closeStreams();  // drops an earlier pair that never finished opening
  if (!input || !output) return;
  const bool selfDelivering = input->deliversOwnEvents();
  foundation::RunLoop* loop = nullptr;
  if (!selfDelivering) {
    commRunLoop().run(this);
    loop = commRunLoop().runLoop();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    registered_ = !selfDelivering;
    inputStream_ = input;
    outputStream_ = output;
    scheduledOn_ = loop;
  }
  connstate_ = kOpening;
  readLen_ = 0;
  for (accessory::Stream* s : {static_cast<accessory::Stream*>(input.get()),
                               static_cast<accessory::Stream*>(output.get())}) {
    s->setDelegate(weak_from_this());
    if (loop && !s->deliversOwnEvents()) s->schedule(*loop);
    s->open();
  }
}

void CommStream::closeStreams() {
  std::shared_ptr<accessory::InputStream> in;
  std::shared_ptr<accessory::OutputStream> out;
  foundation::RunLoop* loop;
  bool registered;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in = std::move(inputStream_);
    out = std::move(outputStream_);
    loop = scheduledOn_;
    scheduledOn_ = nullptr;
    registered = registered_;
    registered_ = false;
  }
  for (accessory::Stream* s : {static_cast<accessory::Stream*>(in.get()),
                               static_cast<accessory::Stream*>(out.get())}) {
    if (!s) continue;
    try {
      s->close();
      if (loop) s->remove(*loop);
      s->clearDelegate();
    } catch (...) {
    }
  }
  if (registered) commRunLoop().stop(this);
  streamsOpened_ = false;
  connstate_ = kNotConnected;
}

void CommStream::disconnect() {
  if (!streamsOpened_.exchange(false)) return;  // a pair that never opened is left alone
  closeStreams();
  if (auto owner = delegate()) owner->streamDisconnected(*this);
}

void CommStream::clearReceive() {
  readLen_ = 0;
  // Reading may have stopped on a full buffer; take up what is waiting.
  std::shared_ptr<accessory::InputStream> in;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in = inputStream_;
  }
  if (!in || !in->hasBytesAvailable()) return;
  // The block is handed over under the lock: `closeStreams` clears `scheduledOn_` under it
  // before it leaves the run-loop thread, so a loop found here is still served.
  std::lock_guard<std::mutex> lock(mutex_);
  if (inputStream_ != in || !scheduledOn_) return;
  std::weak_ptr<CommStream> weak = weak_from_this();
  scheduledOn_->perform([weak] {
    if (auto self = weak.lock()) self->receive();
  });
}

void CommStream::handleEvent(accessory::Stream& stream, StreamEvent event) {
  try {
    std::shared_ptr<accessory::InputStream> in;
    std::shared_ptr<accessory::OutputStream> out;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      in = inputStream_;
      out = outputStream_;
    }
    if (&stream != in.get() && &stream != out.get()) return;  // an event of an earlier pair
    switch (event) {
      case StreamEvent::OpenCompleted: {
        if (in->status() != StreamStatus::Open || out->status() != StreamStatus::Open) return;
        if (streamsOpened_.exchange(true)) return;
        connstate_ = kOpen;
        // Bytes pending at the moment of opening are dropped.
        uint8_t discard[kReceiveBufferSize];
        in->read(discard, sizeof discard);
        if (auto owner = delegate()) owner->streamConnected(*this);
        break;
      }
      case StreamEvent::HasBytesAvailable:
        // Until both sides are open, bytes wait for the read that drops them at opening.
        if (streamsOpened_) receive();
        break;
      case StreamEvent::EndEncountered: {
        std::shared_ptr<CommStream> self = shared_from_this();
        GlobalQueue::async([self] { self->disconnect(); });
        break;
      }
      default:
        break;
    }
  } catch (...) {
  }
}

void CommStream::receive() {
  std::shared_ptr<accessory::InputStream> in;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in = inputStream_;
  }
  if (!in) return;
  for (;;) {
    int held = readLen_;
    ssize_t n = in->read(readBuffer_.data() + held, size_t(kReceiveBufferSize - held));
    if (n < 1) return;
    held += int(n);
    readLen_ = held;
    int consumed = 0;
    if (auto owner = delegate()) consumed = owner->streamData(*this, readBuffer_.data(), held);
    if (consumed <= 0) return;
    consumed = std::min(consumed, held);
    const bool wasFull = held == kReceiveBufferSize;
    std::memmove(readBuffer_.data(), readBuffer_.data() + consumed, size_t(held - consumed));
    readLen_ = held - consumed;
    if (!(wasFull && in->hasBytesAvailable())) return;
  }
}

bool CommStream::write(const uint8_t* data, size_t length) {
  if (length == 0) return true;
  foundation::Clock& clock = foundation::Clock::current();
  const foundation::MonoTime start = clock.now();
  size_t done = 0;
  try {
    for (;;) {
      std::shared_ptr<accessory::OutputStream> out;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        out = outputStream_;
      }
      if (!out) return false;
      bool progressed = false;
      if (out->hasSpaceAvailable()) {
        ssize_t n = out->write(data + done, length - done);
        if (n < 0) return false;
        if (n >= 1) {
          done += size_t(n);
          progressed = true;
          if (done == length) return true;
        }
      }
      if (foundation::Clock::current().now() - start > kWriteTimeout) return false;
      // A full link is polled briefly rather than spun on.
      if (!progressed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } catch (...) {
    return false;
  }
}

}  // namespace kestra
