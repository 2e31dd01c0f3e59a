#include "sdk/hub/HidrawReader.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"

namespace kestra {

namespace {
constexpr uint32_t kMagtekVendor = 0x0801;
}

// The stand-in session a reader driver is given: it names the device and takes no writes.
class HidrawReader::Stream final : public EAStream {
 public:
  Stream() { setConnected(true); }
  bool write(int, const uint8_t*, size_t) override { return false; }
  bool isOpen() const override { return connected(); }
  void disconnect() override { setConnected(false); }
};

std::string hidrawProtocolFor(uint32_t vendor) {
  return vendor == kMagtekVendor ? "com.magtek.msr" : "hid.barcode";
}

bool parseHidUevent(const std::string& uevent, HidrawDevice& out) {
  std::istringstream in(uevent);
  bool haveId = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("HID_NAME=", 0) == 0) out.name = line.substr(9);
    if (line.rfind("HID_ID=", 0) == 0) {
      unsigned bus = 0, vendor = 0, product = 0;
      if (std::sscanf(line.c_str() + 7, "%x:%x:%x", &bus, &vendor, &product) == 3) {
        out.vendor = vendor;
        out.product = product;
        haveId = true;
      }
    }
  }
  if (haveId) out.protocol = hidrawProtocolFor(out.vendor);
  return haveId;
}

std::vector<HidrawDevice> listHidrawDevices(const std::string& sysClass) {
  std::vector<HidrawDevice> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysClass, ec)) {
    std::ifstream f(entry.path() / "device" / "uevent");
    std::stringstream text;
    text << f.rdbuf();
    HidrawDevice d;
    if (!parseHidUevent(text.str(), d)) continue;
    d.path = "/dev/" + entry.path().filename().string();
    out.push_back(std::move(d));
  }
  return out;
}

std::shared_ptr<HidrawReader> HidrawReader::open(const HidrawDevice& device,
                                                 std::shared_ptr<AccessoryManagerDelegate> driver, int fd,
                                                 KXUNISDKCommRunLoop* commRunLoop) {
  if (!driver) return nullptr;
  if (fd < 0) fd = ::open(device.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (!driver->accessoryShouldConnect(device.name, {device.protocol})) {
    ::close(fd);
    return nullptr;
  }
  std::shared_ptr<HidrawReader> r(new HidrawReader());
  r->fd_ = fd;
  r->comm_ = commRunLoop ? commRunLoop : &KXUNISDKCommRunLoop::sharedClass();
  r->driver_ = std::move(driver);
  r->stream_ = std::make_shared<Stream>();
  r->stream_->setDeviceName(device.name);
  r->stream_->setDeviceModel("hidraw");
  r->stream_->setDelegate(r->driver_);
  r->open_ = true;
  r->driver_->accessoryConnected(r->stream_);
  r->comm_->run(r.get());
  std::weak_ptr<HidrawReader> weak = r;
  r->comm_->runLoop()->addFd(fd, EPOLLIN, [weak](int, uint32_t) {
    if (auto self = weak.lock()) self->readable();
  });
  return r;
}

HidrawReader::~HidrawReader() {
  close();
  if (fd_ >= 0) ::close(fd_);
}

bool HidrawReader::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void HidrawReader::readable() {
  uint8_t report[kMaxReport];
  for (;;) {
    const ssize_t n = ::read(fd_, report, sizeof report);
    if (n > 0) {
      driver_->accessoryData(1, report, int(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    close();  // end of file or an error: the device went away
    return;
  }
}

void HidrawReader::close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    open_ = false;
  }
  if (auto* loop = comm_->runLoop()) loop->removeFd(fd_);
  comm_->stop(this);
  stream_->disconnect();
  auto driver = driver_;
  auto stream = stream_;
  foundation::MainQueue::post([driver, stream] { driver->accessoryDisconnected(stream); });
}

}  // namespace kestra
