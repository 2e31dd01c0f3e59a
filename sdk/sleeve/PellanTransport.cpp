#include "sdk/sleeve/PellanTransport.h"

#include <cstdarg>
#include <cstdio>

#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/sleeve/PellanFrame.h"

namespace kestra {

foundation::Error pellanError(int code, std::string text) {
  return KXUNISDKGlobals::makeError(code, text);
}

bool pellanFail(foundation::Error* error, int code, std::string text) {
  return foundation::fail(error, pellanError(code, std::move(text)));
}

std::string pellanFormat(const char* format, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

void pellanPause(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  foundation::Clock::current().waitFor(lock, cv, d, [] { return false; });
}

PellanTransport::PellanTransport() { cmdBuffer_.resize(pellan::kMaxFrameSize); }

void PellanTransport::setLink(std::shared_ptr<PellanLink> link) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  link_ = std::move(link);
}

std::shared_ptr<PellanLink> PellanTransport::link() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return link_;
}

foundation::Duration PellanTransport::responseTimeout() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return responseTimeout_;
}

void PellanTransport::setResponseTimeout(foundation::Duration timeout) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  responseTimeout_ = timeout;
}

std::optional<foundation::MonoTime> PellanTransport::lastCommandTime() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return lastCommandTime_;
}

void PellanTransport::touchLastCommandTime() {
  const auto now = foundation::Clock::current().now();
  std::lock_guard<std::mutex> lock(stateMutex_);
  lastCommandTime_ = now;
}

bool PellanTransport::acquireCommandLock() {
  std::unique_lock<std::mutex> lock(lockMutex_);
  if (!foundation::Clock::current().waitFor(lock, lockCv_, kCommandLockTimeout,
                                            [this] { return !commandBusy_; }))
    return false;
  commandBusy_ = true;
  return true;
}

void PellanTransport::releaseCommandLock() {
  {
    std::lock_guard<std::mutex> lock(lockMutex_);
    commandBusy_ = false;
  }
  lockCv_.notify_one();
}

void PellanTransport::storeReply(const uint8_t* frame, size_t length) {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    // A reply longer than the command buffer is never copied past it: its header alone is
    // kept, so the command sees a reply shorter than its length field and fails.
    const size_t n = length <= cmdBuffer_.size() ? length : pellan::kFrameHeaderSize;
    std::copy(frame, frame + n, cmdBuffer_.begin());
    cmdLen_ = n;
  }
  waitCv_.notify_all();
}

void PellanTransport::resetReply() {
  std::lock_guard<std::mutex> lock(waitMutex_);
  cmdLen_ = 0;
}

void PellanTransport::abortWait() {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    ++abortGeneration_;
  }
  waitCv_.notify_all();
}

uint64_t PellanTransport::startReply() {
  std::lock_guard<std::mutex> lock(waitMutex_);
  cmdLen_ = 0;
  return abortGeneration_;
}

int PellanTransport::commWaitData(int count, foundation::Duration timeout) {
  if (count < 1) return 0;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    generation = abortGeneration_;
  }
  return waitReply(count, timeout, generation);
}

int PellanTransport::waitReply(int count, foundation::Duration timeout, uint64_t generation) {
  size_t held;
  {
    std::unique_lock<std::mutex> lock(waitMutex_);
    // Waits in a loop: only a stored reply, the deadline or an abort since `generation` ends
    // the wait, never a spurious wake-up of the condition variable.
    foundation::Clock::current().waitFor(lock, waitCv_, timeout, [&] {
      return cmdLen_ >= size_t(count) || abortGeneration_ != generation;
    });
    held = cmdLen_;
  }
  const auto l = link();
  if ((inConnection || connState == 2) && l && l->isOpen())
    return int(std::min(held, size_t(count)));
  return 0;
}

std::optional<foundation::Bytes> PellanTransport::sendCommand(int channel, int command,
                                                              const uint8_t* data,
                                                              size_t length, bool forced,
                                                              foundation::Error* error) {
  if (!acquireCommandLock()) {
    pellanFail(error, -6, "Failed aquiring command lock");
    return std::nullopt;
  }
  struct Release {
    PellanTransport* t;
    ~Release() { t->releaseCommandLock(); }
  } release{this};

  if (!(connState == 2 || inConnection)) {
    pellanFail(error, -6, "Device not connected");
    return std::nullopt;
  }
  if (firmwareUpdate && !forced) {
    pellanFail(error, -20, "Firmware update is in progress, command rejected");
    return std::nullopt;
  }
  // Compared without adding to `length`, which may be any 64-bit value.
  if (data && length > pellan::kMaxFrameSize - pellan::kFrameHeaderSize) {
    pellanFail(error, -9, "Input length is too big");
    return std::nullopt;
  }
  // A frame whose length field promises bytes that do not follow would make the sleeve take
  // the next frame for its data.
  if (!data && length != 0) {
    pellanFail(error, -9, "Invalid parameter");
    return std::nullopt;
  }

  try {
    const int channels = nChannels;
    uint8_t code = uint8_t(command);
    if (channel == 1 && channels == 1) {
      code = uint8_t(command + pellan::kChannelOneFold);
      channel = 0;
    } else if (channel < 0 || channel >= channels) {
      channel = 0;
    }

    foundation::Bytes frame;
    uint8_t id;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      id = messageId_++;
    }
    pellan::appendFrame(frame, code, pellan::kDirectionToDevice, id, data, length);
    // The abort count is taken before the link is looked up: a link that goes away from
    // here on ends the reply wait at once, even when the write itself still went out.
    const uint64_t generation = startReply();
    touchLastCommandTime();

    const auto l = link();
    bool written = l != nullptr;
    if (written && updaterLink) {
      for (size_t off = 0; off < frame.size() && written; off += kUpdaterChunk) {
        const size_t n = std::min(kUpdaterChunk, frame.size() - off);
        written = l->write(channel, frame.data() + off, n);
        if (written && off + n < frame.size()) pellanPause(kUpdaterChunkPause);
      }
    } else if (written) {
      written = l->write(channel, frame.data(), frame.size());
    }
    if (!written) {
      pellanFail(error, -6,
                 pellanFormat("Timeout sending data: channel=%d, command=%02x", channel, code));
      return std::nullopt;
    }

    if (waitReply(int(pellan::kFrameHeaderSize), responseTimeout(), generation) <
        int(pellan::kFrameHeaderSize)) {
      pellanFail(error, -6,
                 pellanFormat("Command response lost: channel=%d, command=%02x", channel, code));
      return std::nullopt;
    }

    foundation::Bytes reply;
    {
      std::lock_guard<std::mutex> lock(waitMutex_);
      reply.assign(cmdBuffer_.begin(), cmdBuffer_.begin() + cmdLen_);
    }
    const size_t n = foundation::readBE16(reply.data() + 1);
    // A reply must hold its declared data and, within it, its two status bytes.
    if (reply.size() < n + pellan::kFrameHeaderSize || n < 2) {
      pellanFail(error, -6,
                 pellanFormat("Wrong packet length received: channel=%d, command=%02x", channel,
                              code));
      return std::nullopt;
    }
    if (reply[3] != code) {
      pellanFail(error, -6,
                 pellanFormat("Wrong command received: channel=%d. Expected: %02x but received: "
                              "%02x",
                              channel, code, reply[3]));
      return std::nullopt;
    }
    const uint8_t* d = reply.data() + pellan::kFrameHeaderSize;
    const int status = d[0];
    if (status == 0) return foundation::Bytes(d + 2, d + n);

    int errCode;
    const char* text;
    switch (status) {
      case 1: errCode = -1; text = "General error"; break;
      case 2: errCode = -9; text = "Invalid data length"; break;
      case 3: errCode = -9; text = "Invalid argument"; break;
      case 4: errCode = -17; text = "Invalid command"; break;
      case 5: errCode = -6; text = "Timeout"; break;
      case 6: errCode = -16; text = "Module inactive"; break;
      case 7: errCode = -20; text = "Operation is not permitted"; break;
      case 8: errCode = -9; text = "Authentication required or authentication attempt failed"; break;
      case 9: errCode = -5; text = "Module busy"; break;
      default:
        pellanFail(error, -1,
                   pellanFormat("Unknown error %d/%d: channel=%d, command=%02x", status, d[1],
                                channel, code));
        return std::nullopt;
    }
    pellanFail(error, errCode, pellanFormat("%s: channel=%d, command=%02x", text, channel, code));
    return std::nullopt;
  } catch (...) {
    pellanFail(error, -1, "Unknown error occured");
    return std::nullopt;
  }
}

}  // namespace kestra
