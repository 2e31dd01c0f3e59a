#pragma once
// Drivers of USB human-interface readers on hub ports: `BarcodeHID` (a scanner that types
// like a keyboard, "hid.barcode", or sends lines of text, "serial.barcode"), `KeyboardHID`
// ("hid.keyboard") and `Magtek` (a magnetic-stripe swipe reader, "com.magtek.msr").
//
// Each registers with a hub manager as a port-device driver, claims a port by the first
// protocol string of its configuration, and reports to its `HubReaderDelegate` (the device
// API) on the main queue: connection changes (2 attached, 1 removed), barcodes (a type
// byte, 0 when the scanner gives none, then the code) and card tracks.
//
// Threads: reports arrive on the common run-loop thread; the keyboard-mode barcode's quiet
// check runs on the main queue under the barcode's own lock. Delegate calls carry copies
// and run on the main queue.
//
// Bad input is consumed without a report: reports of the wrong size, serial lines without
// an end, a card whose announced track lengths exceed the track buffer or are all zero.
// Track data is never logged and the buffers that held it are cleared after delivery.

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/hub/HidDecode.h"
#include "sdk/hub/USBManager.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

using foundation::Bytes;
using foundation::Error;

using OptTrack = std::optional<std::string>;

class HubReaderDelegate {
 public:
  virtual ~HubReaderDelegate() = default;
  virtual void connectionState(int /*state*/) {}
  virtual void kxdev_barcodeData(const Bytes& /*barcode*/) {}
  virtual void magneticCardData(const OptTrack& /*t1*/, const OptTrack& /*t2*/, const OptTrack& /*t3*/) {}
  virtual void keyboardButtonPressed(bool /*pressed*/, int /*vk*/, signed char /*character*/, int /*modifiers*/) {}
};

class HubReader : public AccessoryManagerDelegate, public std::enable_shared_from_this<HubReader> {
 public:
  bool connected() const { return connected_.load(); }
  void setDelegate(std::weak_ptr<HubReaderDelegate> d);
  std::shared_ptr<HubReaderDelegate> delegate() const;
  std::optional<TrelmoUSBDeviceDescriptor> usbDeviceDescriptor() const;
  // Not connected: 0 with error code 0 "Device is not connected".
  int getSupportedFeature(int feature, Error* error = nullptr) const;

  std::optional<std::vector<std::string>> accessoryShouldConnect(const std::string& name,
                                                                 std::vector<std::string> channels) override;
  void accessoryConnected(const std::shared_ptr<EAStream>& stream) override;
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;

 protected:
  HubReader(const char* tag, int feature, int featureValue) : tag_(tag), feature_(feature), featureValue_(featureValue) {}
  virtual bool claims(const std::string& protocol) = 0;
  virtual void resetReading() {}
  // Posts `f(delegate)` to the main queue when there is a delegate.
  template <class F>
  void post(F f) const;

  const char* const tag_;

 private:
  const int feature_, featureValue_;
  std::atomic<bool> connected_{false};
  mutable std::mutex mutex_;
  std::weak_ptr<HubReaderDelegate> delegate_;
  std::optional<TrelmoUSBDeviceDescriptor> descriptor_;
};

class BarcodeHID final : public HubReader {
 public:
  static constexpr int kMaxBarcode = 511;
  // A typed barcode ends after this long without a key (checked every `kQuietTick`).
  static constexpr foundation::Duration kQuietTime = std::chrono::milliseconds(51);
  static constexpr foundation::Duration kQuietTick = std::chrono::milliseconds(50);
  // A serial barcode needs at least this many bytes before its line feed.
  static constexpr int kMinSerialLine = 5;

  static std::shared_ptr<BarcodeHID> create() { return std::shared_ptr<BarcodeHID>(new BarcodeHID()); }
  int hid() const { return hid_.load(); }  // 0 keyboard mode, 1 serial
  int accessoryData(int channel, const uint8_t* buffer, int length) override;

 private:
  BarcodeHID() : HubReader("BarcodeHID", 1, 5) {}
  bool claims(const std::string& protocol) override;
  void resetReading() override;
  void keyboardReport(const uint8_t* buffer, int length);
  void serialData(const uint8_t* buffer, int length);
  // With `barLock_` held.
  void sendBarcode();
  void armQuietTimer();
  static void quietCheck(std::weak_ptr<BarcodeHID> weak, uint64_t generation);

  std::atomic<int> hid_{0};
  std::mutex barLock_;  // the typed barcode: reports add to it, the quiet check ends it
  std::string typed_;
  foundation::MonoTime lastBarTime_{};
  bool timerArmed_ = false;
  uint64_t generation_ = 0;  // invalidates timers of an earlier connection
};

class KeyboardHID final : public HubReader {
 public:
  static std::shared_ptr<KeyboardHID> create() { return std::shared_ptr<KeyboardHID>(new KeyboardHID()); }
  int accessoryData(int channel, const uint8_t* buffer, int length) override;

 private:
  KeyboardHID() : HubReader("KeyboardHID", 1, 5) {}
  bool claims(const std::string& protocol) override { return protocol == "hid.keyboard"; }
};

class Magtek final : public HubReader {
 public:
  static constexpr int kMaxReport = 1024;
  static constexpr int kMaxTracks = 512;
  static std::shared_ptr<Magtek> create() { return std::shared_ptr<Magtek>(new Magtek()); }
  int accessoryData(int channel, const uint8_t* buffer, int length) override;

 private:
  Magtek() : HubReader("MagtekMSR", 0, 1) {}
  bool claims(const std::string& protocol) override { return protocol == "com.magtek.msr"; }
  void resetReading() override;

  int t1len_ = 0, t2len_ = 0, t3len_ = 0, tlenexpected_ = 0;
  std::string tracks_;
};

}  // namespace kestra
