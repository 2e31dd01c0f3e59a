#include "platform/accessory/Stream.h"

namespace accessory {

void Stream::setDelegate(std::weak_ptr<StreamDelegate> delegate) {
  std::lock_guard<std::mutex> lock(delegateMutex_);
  delegate_ = std::move(delegate);
}

void Stream::clearDelegate() {
  std::lock_guard<std::mutex> lock(delegateMutex_);
  delegate_.reset();
}

std::shared_ptr<StreamDelegate> Stream::delegate() const {
  std::lock_guard<std::mutex> lock(delegateMutex_);
  return delegate_.lock();
}

void Stream::notify(StreamEvent event) {
  if (auto d = delegate()) d->handleEvent(*this, event);
}

}  // namespace accessory
