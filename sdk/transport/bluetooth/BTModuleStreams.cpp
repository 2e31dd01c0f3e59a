#include "sdk/transport/bluetooth/BTModuleStreams.h"

namespace kestra {

namespace {

accessory::StreamStatus statusOf(const btModule& m) {
  switch (m.streamStatus()) {
    case 2: return accessory::StreamStatus::Open;
    case 6: return accessory::StreamStatus::Closed;
    default: return accessory::StreamStatus::NotOpen;
  }
}

class ModuleInput final : public accessory::InputStream {
 public:
  explicit ModuleInput(std::shared_ptr<btModule> m) : module_(std::move(m)) {}
  void open() override {
    relay_ = std::make_shared<Relay>();
    relay_->owner = std::static_pointer_cast<ModuleInput>(shared_from_this());
    module_->setDelegate(relay_);
    module_->setNotificationsEnabled(true);
    module_->open();
    notify(accessory::StreamEvent::OpenCompleted);
    if (module_->hasBytesAvailable()) notify(accessory::StreamEvent::HasBytesAvailable);
  }
  void close() override {
    module_->setNotificationsEnabled(false);
    module_->setDelegate(nullptr);
  }
  accessory::StreamStatus status() const override { return statusOf(*module_); }
  void schedule(foundation::RunLoop&) override {}
  void remove(foundation::RunLoop&) override {}
  bool deliversOwnEvents() const override { return true; }
  ssize_t read(uint8_t* buffer, size_t maxLength) override {
    const int n = module_->read(buffer, int(std::min<size_t>(maxLength, 1 << 20)));
    return n > 0 ? n : -1;
  }
  bool hasBytesAvailable() const override { return module_->hasBytesAvailable(); }

 private:
  struct Relay final : BTStreamDelegate {
    std::weak_ptr<ModuleInput> owner;
    void handleEvent(BTStream&, int event) override {
      auto o = owner.lock();
      if (!o) return;
      if (event == kBTStreamHasBytesAvailable) o->notify(accessory::StreamEvent::HasBytesAvailable);
      if (event == kBTStreamEndEncountered) o->notify(accessory::StreamEvent::EndEncountered);
    }
  };
  std::shared_ptr<btModule> module_;
  std::shared_ptr<Relay> relay_;
};

class ModuleOutput final : public accessory::OutputStream {
 public:
  explicit ModuleOutput(std::shared_ptr<btModule> m) : module_(std::move(m)) {}
  void open() override { notify(accessory::StreamEvent::OpenCompleted); }
  void close() override {}
  accessory::StreamStatus status() const override { return statusOf(*module_); }
  void schedule(foundation::RunLoop&) override {}
  void remove(foundation::RunLoop&) override {}
  bool deliversOwnEvents() const override { return true; }
  ssize_t write(const uint8_t* data, size_t length) override { return module_->write(data, int(length)); }
  bool hasSpaceAvailable() const override { return true; }

 private:
  std::shared_ptr<btModule> module_;
};

}  // namespace

BTModuleStreamPair btModuleStreams(const std::shared_ptr<btModule>& module) {
  if (!module) return {};
  return {std::make_shared<ModuleInput>(module), std::make_shared<ModuleOutput>(module)};
}

}  // namespace kestra
