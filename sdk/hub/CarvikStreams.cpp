#include "sdk/hub/CarvikStreams.h"

#include <algorithm>

#include "sdk/hub/CarvikStream.h"

namespace kestra {

namespace {

accessory::StreamStatus statusOf(const CarvikStream& a) {
  switch (a.streamStatus()) {
    case 1: return accessory::StreamStatus::Opening;
    case 2: return accessory::StreamStatus::Open;
    case 6: return accessory::StreamStatus::Closed;
    default: return accessory::StreamStatus::NotOpen;
  }
}

class AdapterInput final : public accessory::InputStream {
 public:
  explicit AdapterInput(std::shared_ptr<CarvikStream> a) : adapter_(std::move(a)) {}
  void open() override {
    relay_ = std::make_shared<Relay>();
    relay_->owner = std::static_pointer_cast<AdapterInput>(shared_from_this());
    // A link already up opens at once; otherwise the adapter reports its opening through the
    // relay (at once when its port or radio is on, else when it comes up).
    const bool up = adapter_->streamStatus() == 2;
    adapter_->setDelegate(relay_);
    if (up)
      notify(accessory::StreamEvent::OpenCompleted);
    else
      adapter_->open();
    if (adapter_->hasBytesAvailable()) notify(accessory::StreamEvent::HasBytesAvailable);
  }
  void close() override {
    adapter_->setDelegate({});
    relay_.reset();
  }
  accessory::StreamStatus status() const override { return statusOf(*adapter_); }
  void schedule(foundation::RunLoop&) override {}
  void remove(foundation::RunLoop&) override {}
  bool deliversOwnEvents() const override { return true; }
  ssize_t read(uint8_t* buffer, size_t maxLength) override {
    const int n = adapter_->read(buffer, int(std::min<size_t>(maxLength, 1 << 20)));
    return n > 0 ? n : -1;
  }
  bool hasBytesAvailable() const override { return adapter_->hasBytesAvailable(); }

 private:
  struct Relay final : CarvikStreamDelegate {
    std::weak_ptr<AdapterInput> owner;
    void handleEvent(int event) override {
      auto o = owner.lock();
      if (!o) return;
      if (event == kStreamOpenCompleted) o->notify(accessory::StreamEvent::OpenCompleted);
      if (event == kStreamHasBytesAvailable) o->notify(accessory::StreamEvent::HasBytesAvailable);
      if (event == kStreamEndEncountered) o->notify(accessory::StreamEvent::EndEncountered);
    }
  };
  std::shared_ptr<CarvikStream> adapter_;
  std::shared_ptr<Relay> relay_;
};

class AdapterOutput final : public accessory::OutputStream {
 public:
  explicit AdapterOutput(std::shared_ptr<CarvikStream> a) : adapter_(std::move(a)) {}
  void open() override { notify(accessory::StreamEvent::OpenCompleted); }
  void close() override {}
  accessory::StreamStatus status() const override { return statusOf(*adapter_); }
  void schedule(foundation::RunLoop&) override {}
  void remove(foundation::RunLoop&) override {}
  bool deliversOwnEvents() const override { return true; }
  ssize_t write(const uint8_t* data, size_t length) override {
    // A link that is not open, or a write the adapter refused, is a failed link.
    if (adapter_->streamStatus() != 2) return -1;
    if (length == 0) return 0;
    const int n = adapter_->write(data, int(std::min<size_t>(length, 1 << 20)));
    return n > 0 ? n : -1;
  }
  bool hasSpaceAvailable() const override { return true; }

 private:
  std::shared_ptr<CarvikStream> adapter_;
};

}  // namespace

CarvikStreamPair carvikStreams(const std::shared_ptr<CarvikStream>& adapter) {
  if (!adapter) return {};
  return {std::make_shared<AdapterInput>(adapter), std::make_shared<AdapterOutput>(adapter)};
}

}  // namespace kestra
