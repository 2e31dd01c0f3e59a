#pragma once
// btModule: the common base of the drivers of classic Bluetooth modules inside an accessory
// (the AT-command module `btBT301`, the sleeve's own module `btUniversal`, the serial
// adapter's radio). It is the module's byte stream (BTStream) and owns what every module
// shares: powering the module for each operation and switching it off once it has been idle
// for 5.5 s (never while a device is connected, a discovery runs or it listens), the lists
// of found and connected devices, blocking writes and line reads with time-outs, background
// discovery with delegate callbacks, disconnects, address formatting and the contract with
// the owning driver (`controlDelegate`, a BTModuleHost). Module-specific work is done by the
// hooks a subclass overrides; a hook that is not overridden fails harmlessly.
//
// Ownership: the owning driver makes one object per module kind (`create`) and keeps it; the
// object holds its owner weakly.
//
// Threads: public operations block the caller's thread; the idle timer runs on the main
// queue and the switch-off it decides runs on a global-queue worker (it sends accessory
// commands, which must not hold the main queue); background discovery and disconnect work
// run on global-queue workers; `bluetoothDeviceDiscovered`, `bluetoothDiscoverComplete` and
// `bluetoothDeviceDisconnected` are delivered on the main queue. The device lists are
// guarded by a lock and handed out as copies. Every wait follows the current `Clock`.
//
// Bad input: module bytes are only held and parsed as text lines; a line longer than
// `kLineMax` is cut there; addresses are reduced to their hexadecimal digits.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/transport/bluetooth/BTModuleTypes.h"
#include "sdk/transport/bluetooth/BTStream.h"

namespace foundation {
class Timer;
}

namespace kestra {

// The address upper-cased with everything but 0-9 and A-F dropped, at most 16 digits;
// nothing for nothing.
std::optional<std::string> btFormatAddress(const std::optional<std::string>& address);

// One text line taken from the front of `held`: leading CR and LF bytes skipped, the bytes up
// to the next CR or LF, the terminator removed together with one more CR or LF right after
// it. Nothing (and `held` unchanged) when no whole line is held. A line longer than
// `maxLine` is returned cut to it (the rest of it is dropped).
std::optional<std::string> btTakeLine(foundation::Bytes& held, size_t maxLine);

class btModule : public BTStream, public BTModule, public std::enable_shared_from_this<btModule> {
 public:
  static constexpr foundation::Duration kIdleOff = std::chrono::milliseconds(5500);
  static constexpr foundation::Duration kIdleTick = std::chrono::seconds(1);
  static constexpr foundation::Duration kWriteTimeout = std::chrono::seconds(7);
  static constexpr foundation::Duration kWritePause = std::chrono::milliseconds(100);
  static constexpr foundation::Duration kOffPause = std::chrono::milliseconds(200);
  static constexpr size_t kLineMax = 512;

  ~btModule() override;

  // ---- Owner -----------------------------------------------------------------------------
  void setControlDelegate(std::weak_ptr<BTModuleHost> host) override;
  std::shared_ptr<BTModuleHost> controlDelegate() const;

  // ---- Power -------------------------------------------------------------------------------
  bool btSetEnabled(bool on, foundation::Error* error = nullptr);
  bool enabled() override { return enabled_.load(); }
  void setEnabled(bool on) override { enabled_ = on; }
  // Holds the module on until `btClose`; holds are counted, so nested opens keep it on until
  // the last close.
  bool btOpen(foundation::Error* error = nullptr);
  void btClose();
  bool listenActive() const { return listenActive_.load(); }
  bool inCommand() const { return inCommand_.load(); }
  // Whether the idle timer runs.
  bool idleTimerRunning() const;

  // ---- Operations -------------------------------------------------------------------------
  virtual std::optional<std::string> btGetLocalAddress(foundation::Error* error = nullptr);
  std::optional<std::vector<std::string>> btCommand(const std::string& command, foundation::Error* error = nullptr);
  bool btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, foundation::Error* error = nullptr) override;
  bool btDiscoverDevicesInBackground(int maxDevices, double maxTime, unsigned cod, int filter,
                                     std::vector<std::weak_ptr<BTModuleEvents>> delegates,
                                     foundation::Error* error = nullptr) override;
  bool btConnect(const std::string& address, const std::string& pin, foundation::Error* error = nullptr) override;
  bool btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                          foundation::Error* error = nullptr);
  // `address` empty: every device.
  bool btDisconnect(const std::string& address, foundation::Error* error = nullptr) override;
  // A link loss the owner saw; `address` empty: every device.
  void btDeviceDisconnected(const std::string& address);
  bool btWrite(const uint8_t* data, int length, foundation::Error* error) override;
  bool btWrite(const std::string& text, foundation::Error* error) override;
  int btRead(uint8_t* buffer, int length, double timeoutSeconds, foundation::Error* error = nullptr) override;
  std::optional<std::string> btReadLine(double timeoutSeconds, foundation::Error* error = nullptr) override;
  // The first six bytes packed from the address's hexadecimal digits (missing digits are 0).
  static foundation::Bytes _btAddressToData(const std::string& address);

  // ---- Lists (copies) -----------------------------------------------------------------------
  std::optional<std::vector<std::string>> btDeviceAddresses() override;
  std::vector<std::string> btDeviceNames() override;
  std::vector<std::string> btConnectedDevices() override;
  void setWriteCachingEnabled(bool on) override { BTStream::setWriteCachingEnabled(on); }
  bool setDataNotificationMaxTime(double maxTime, int maxLength, const foundation::Bytes& sequence,
                                  foundation::Error* error) override {
    return BTStream::setDataNotificationMaxTime(maxTime, maxLength, sequence, error);
  }
  // A found device (subclasses and owners that learn of devices from events).
  void addFoundDevice(const std::string& address, const std::optional<std::string>& name);
  void addConnectedDevice(const std::string& address);
  // Empties the found-device lists (a new discovery).
  void clearFoundDevices();

  // ---- Hooks --------------------------------------------------------------------------------
  // Module bytes from the owner: kept in the stream and announced.
  void btAppendData(const uint8_t* data, size_t length) override;
  virtual bool _btConfirmPassKey(bool accept, foundation::Error* error = nullptr);
  virtual std::optional<std::string> btGetLocalName(foundation::Error* error = nullptr);

 protected:
  btModule();
  virtual bool _btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, foundation::Error* error);
  // `*length` in: bytes offered; out: bytes taken.
  virtual bool _btWrite(const uint8_t* data, int* length, foundation::Error* error);
  virtual bool _btSetEnabled(bool on, foundation::Error* error);
  virtual bool _btConnect(const std::string& address, const std::string& pin, foundation::Error* error);
  virtual void _btDisconnect(const std::string& address);
  virtual bool _btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                                   foundation::Error* error);
  virtual void _btDeviceDisconnected(const std::string& address);
  // A disconnect's work is done (the lists updated, the stream cleared and closed); on the
  // disconnect's worker.
  virtual void _btDisconnectFinished();
  virtual std::optional<std::string> _btGetLocalAddress(foundation::Error* error);
  virtual std::optional<std::vector<std::string>> _btCommand(const std::string& command, foundation::Error* error);

  // The power window around an operation: `acquire` counts a hold and switches the module
  // on; `endHold` ends one, and with the last one releases the module (starts its idle time)
  // unless `releaseLast` is false (a link or listening keeps it on by itself). `release`
  // starts the idle time whatever the holds (the idle switch-off waits for them to end).
  bool acquire(foundation::Error* error);
  void endHold(bool releaseLast = true);
  void release();
  void removeFoundDevice(size_t index);
  std::string currentLocalName() const;
  unsigned currentCOD() const { return currentCOD_.load(); }
  bool listenDiscoverable() const { return listenDiscoverable_.load(); }
  bool anyConnected() const;
  // An error of this module, logged.
  static bool moduleError(foundation::Error* error, int code, const char* text);

 private:
  void startIdleTimer();
  void idleTick();
  // Whether the module may be switched off now (`timerMutex_` held).
  bool idleNow() const;
  void finishDisconnect(const std::optional<std::string>& address);
  void finishDisconnect(const std::vector<std::string>& gone);
  // Waits until no disconnect is being carried out.
  void waitDisconnectDone();

  std::weak_ptr<BTModuleHost> host_;
  mutable std::mutex listMutex_;
  std::optional<std::vector<std::string>> addresses_;
  std::vector<std::string> names_;
  std::vector<std::string> connected_;
  std::string currentLocalName_;
  std::atomic<unsigned> currentCOD_{0};
  std::atomic<bool> listenDiscoverable_{false};

  std::mutex btLock_;  // the idle decision and the power switch
  mutable std::mutex timerMutex_;
  std::shared_ptr<foundation::Timer> freeTimer_;
  bool timerPending_ = false;
  std::optional<foundation::MonoTime> freeDate_;
  int holds_ = 0;  // opens and operations under way (guarded by `timerMutex_`)
  std::atomic<bool> enabled_{false};
  std::atomic<bool> listenActive_{false};
  std::atomic<bool> inCommand_{false};
  std::atomic<bool> switchingOff_{false};
  std::atomic<bool> inDisconnect_{false};
  std::mutex disconnectMutex_;  // with `disconnectDone_`: the end of a disconnect
  std::condition_variable disconnectDone_;
};

}  // namespace kestra
