#pragma once
// A simulated USB/serial hub: an accessory ("com.sabrel.carvik.communication") that answers
// the hub's frame commands from plain port data and hosts simulated devices on its ports:
// a keyboard-mode or serial barcode scanner, a keyboard, a magnetic-stripe reader, any
// device whose bytes a test scripts, or a simulated device of its own (a printer, a pinpad)
// hosted on a port with `hostDevice`.
//
// Each port is a `Port` record (type, attached, configuration text, USB descriptor and
// strings, charging, what the host wrote to it, serial settings). Ports at or beyond
// `portCount` answer with status 3 (invalid value), which ends the host's port scan.
//
// Knobs: `forceStatus(command, status)` answers a command with that status; `setWriteAccept`
// limits how many bytes a port write accepts (0: the hub is full). The base's link faults
// (split delivery, garbage, dropped link, silence) apply to everything.
//
// Threads: commands are answered on the device thread; every public member may be called
// from any thread.

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testing/devices/base/FrameCommandDevice.h"
#include "testing/devices/base/SimulatedAccessory.h"

namespace devices {

class SimulatedHub : public SimulatedAccessory {
 public:
  static constexpr int kPorts = 10;
  struct Port {
    int type = 1;  // 1 generic USB, else RS-232
    bool attached = false;
    std::string config;
    Bytes descriptor;  // 18 bytes
    std::vector<std::string> strings;
    bool charging = false;
    Bytes written;
    Bytes serialSettings;
  };

  static accessory::AccessoryIdentity identity();
  SimulatedHub(accessory::AccessoryIdentity identity, std::filesystem::path folder, int portCount = 4);
  ~SimulatedHub() override;

  // Port facts before the host connects (or later, followed by `plugIn`).
  void setPort(int port, Port p);
  Port port(int port) const;
  int appleChargeCurrent() const;
  std::string hubSerial() const;
  // Commands the host sent, in order (command byte, port).
  std::vector<std::pair<int, int>> commands() const;

  // Answers `command` with `status`, the next `times` times (-1: always; 0 stops it).
  void forceStatus(int command, int status, int times = -1);
  // The firmware image the host wrote with 0xF2 (offset -> bytes), and the firmware
  // commands in order.
  std::map<uint32_t, Bytes> firmwarePages() const;
  std::vector<int> firmwareCommands() const;
  void setWriteAccept(std::optional<int> bytes);
  // Runs on the device thread when a command arrives, before it is answered (a device
  // plugged in while the host is busy with its port scan).
  void onCommand(std::function<void(int command, int port)> hook);

  // A device behind `port`: the bytes the host writes to the port go to it (on the device
  // thread), and what it gives back reaches the host as the port's bulk data, after the
  // write's own answer. Empty: the port only records what is written.
  using PortDevice = std::function<Bytes(const Bytes& written)>;
  void hostDevice(int port, PortDevice device);
  // A framed device's core as a port device: the replies its handlers give, without the
  // scripted faults (the hub's own knobs apply to everything it sends).
  static PortDevice framed(std::shared_ptr<FrameCommandDevice> device);

  // A device arrives on / leaves a port (attach and remove events).
  void plugIn(int port, const std::string& config);
  void unplug(int port);
  // Data from a port: event 3 (bulk) or 5 (interrupt).
  void portData(int port, const Bytes& data, bool interrupt = false);
  // A keyboard-mode scanner types `text` (shift where needed), one key report and one
  // release report per character, then Enter when `enter`, all
  // in one write.
  void typeText(int port, const std::string& text, bool enter);
  // A magnetic-stripe reader reports a swipe in one report: a 7-byte header with the
  // track lengths in bytes 3 to 5, the track characters, then zero padding.
  void swipeCard(int port, const std::string& t1, const std::string& t2, const std::string& t3);

  // An event frame as the hub sends it.
  static Bytes eventFrame(int code, int port, const Bytes& data = {});
  // A keyboard report for one character (shift and usage), or nothing.
  static std::optional<Bytes> keyReport(char c);

 protected:
  void onReceive(int channel, const uint8_t* data, size_t length) override;

 private:
  void handle(int command, int port, const Bytes& data);
  void reply(int command, int status, int port, const Bytes& data = {});

  mutable std::mutex mutex_;
  const int portCount_;
  std::array<Port, kPorts> ports_;
  std::array<PortDevice, kPorts> hosted_;
  Bytes rx_;
  std::map<int, std::pair<int, int>> forced_;  // command -> status, times left
  std::map<uint32_t, Bytes> firmware_;
  std::vector<int> firmwareCommands_;
  std::optional<int> writeAccept_;
  int appleCharge_ = 0;
  std::string serial_;
  std::vector<std::pair<int, int>> commands_;
  std::function<void(int, int)> commandHook_;
};

}  // namespace devices
