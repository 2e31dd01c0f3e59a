#pragma once
// A simulated serial adapter on the master side of a pseudo-terminal: the SDK opens the
// slave side as a serial accessory (termios, raw), so the serial path is the real one.
//
// It answers the adapter's framed commands: serial settings (3), serial data out (5), the
// Bluetooth sub-commands (29) with their events (30), and sends serial data in (6) when a
// test asks. The Bluetooth radio is plain data: on or off, name, PIN, address, the devices
// a discovery finds, whether a connect succeeds, the data written to the remote device.
//
// Threads: the adapter reads on its own thread; every public member may be called from any
// thread.

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

class SimulatedSerialAdapter {
 public:
  SimulatedSerialAdapter();
  ~SimulatedSerialAdapter();
  SimulatedSerialAdapter(const SimulatedSerialAdapter&) = delete;
  SimulatedSerialAdapter& operator=(const SimulatedSerialAdapter&) = delete;

  bool ok() const { return master_ >= 0; }
  // The slave side's path (what the serial accessory configuration names).
  const std::string& slavePath() const { return slaveName_; }

  // Serial data from the adapter's RS-232 port to the host (command 6).
  void serialIn(const Bytes& data);
  // A Bluetooth event packet (command 30): the event byte, then its data.
  void btEvent(uint8_t event, const Bytes& data = {});

  // Firmware pages the host wrote (command 242: offset -> bytes), and the firmware
  // commands (240 to 243) in order.
  std::map<uint32_t, Bytes> firmwarePages() const;
  std::vector<int> firmwareCommands() const;
  Bytes serialSettings() const;
  Bytes serialOut() const;
  Bytes bluetoothOut() const;
  // Every byte the host has written so far, counted once the adapter has read (and answered)
  // all of them: waits (real time, bounded) until nothing the host wrote is left unread.
  size_t bytesSeen() const;
  // Sub-commands of command 29 in order, each with its data.
  std::vector<Bytes> bluetoothCommands() const;
  bool radioOn() const { return radioOn_.load(); }
  // How many bytes each data write takes (-1: all).
  void setTake(int bytes) { take_ = bytes; }
  // Whether a connect succeeds (event 3) or fails (event 2); `silent` sends neither.
  void setConnectOutcome(bool succeeds, bool silent = false);
  // Devices a discovery reports, then the end of discovery (8), or its time-out (9).
  void setDiscovered(std::vector<std::pair<Bytes, std::string>> devices, bool timeout = false);
  // A device at the far end of the Bluetooth link (a printer, a pinpad): while a connect has
  // made the link and no disconnect or radio-off ended it, the data the host writes (command
  // 5, or 29 with 0F) go to it on the adapter's thread, and what it answers comes back as
  // data events (30, event 10).
  using RemoteDevice = std::function<Bytes(const Bytes& written)>;
  void setRemoteDevice(RemoteDevice device);
  bool linked() const { return linked_.load(); }
  // The remote device goes away: the link-lost event (6).
  void loseLink();

 private:
  void run();
  void handle(int command, uint8_t id, const Bytes& data);
  void sendPacket(int command, uint8_t id, const Bytes& data);
  void toRemote(const Bytes& written);

  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> reading_{false};  // set before a read, cleared once its bytes are handled
  std::atomic<size_t> bytesRead_{0};
  mutable std::mutex mutex_;
  std::mutex writeMutex_;
  Bytes rx_;
  Bytes settings_, serialOut_, btOut_;
  std::vector<Bytes> btCommands_;
  std::map<uint32_t, Bytes> firmware_;
  std::vector<int> firmwareCommands_;
  std::atomic<bool> radioOn_{false};
  std::atomic<bool> linked_{false};
  RemoteDevice remote_;
  std::atomic<int> take_{-1};
  bool connectSucceeds_ = true, connectSilent_ = false;
  std::vector<std::pair<Bytes, std::string>> discovered_;
  bool discoverTimeout_ = false;
  std::thread thread_;
};

}  // namespace devices
