#pragma once
// HID readers plugged into the machine itself rather than a hub port: the Linux hidraw back
// end. A `HidrawReader` reads one hidraw device (each read is one input report) on the
// common run-loop thread and hands the reports to a hub reader driver (`BarcodeHID`,
// `KeyboardHID`, `Magtek`) through the same accessory contract a hub port uses, so the
// drivers' decoding is the same code for both.
//
// Which driver a device gets comes from its HID identity: MagTek's vendor ID (0x0801) is a
// magnetic-stripe reader ("com.magtek.msr"), anything else a keyboard-mode barcode scanner
// ("hid.barcode"); `listHidrawDevices` reads the identities from sysfs.
//
// Threads: `open` and `close` from any thread; reports reach the
// driver on the run-loop thread. End of file or a read error closes the reader and tells the
// driver the device is gone. A report longer than `kMaxReport` is cut to that size.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/transport/EAManager.h"

namespace kestra {

class KXUNISDKCommRunLoop;

struct HidrawDevice {
  std::string path;      // /dev/hidrawN
  std::string name;      // HID_NAME
  uint32_t vendor = 0;
  uint32_t product = 0;
  std::string protocol;  // the protocol string its driver claims
};

// The protocol string for a device of `vendor`.
std::string hidrawProtocolFor(uint32_t vendor);
// The hidraw devices under `sysClass` (normally /sys/class/hidraw) with their identities.
std::vector<HidrawDevice> listHidrawDevices(const std::string& sysClass = "/sys/class/hidraw");
// Reads HID_NAME and HID_ID ("bus:vendor:product", hexadecimal) from a uevent text.
bool parseHidUevent(const std::string& uevent, HidrawDevice& out);

class HidrawReader final : public std::enable_shared_from_this<HidrawReader> {
 public:
  static constexpr int kMaxReport = 1024;

  // Opens `device.path` (or takes `fd` when it is 0 or more, which the reader then owns),
  // offers it to `driver` and, when the driver claims it, reads on `commRunLoop` (the shared
  // one by default). Nothing when the device cannot be opened or the driver declines.
  static std::shared_ptr<HidrawReader> open(const HidrawDevice& device,
                                            std::shared_ptr<AccessoryManagerDelegate> driver, int fd = -1,
                                            KXUNISDKCommRunLoop* commRunLoop = nullptr);
  ~HidrawReader();
  // Stops reading and tells the driver the device is gone (once).
  void close();
  bool isOpen() const;

 private:
  HidrawReader() = default;
  void readable();

  class Stream;
  int fd_ = -1;
  KXUNISDKCommRunLoop* comm_ = nullptr;
  std::shared_ptr<Stream> stream_;
  std::shared_ptr<AccessoryManagerDelegate> driver_;
  mutable std::mutex mutex_;
  bool open_ = false;
};

}  // namespace kestra
