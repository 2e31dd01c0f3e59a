#pragma once
// A classic Bluetooth module inside a simulated accessory, as plain data: power, local name
// and address, the remote devices around it (address, name, whether they take a link), the
// link that is up and the bytes sent over it. Accessories put a front on it: the simulated
// sleeve answers its module sub-commands (command 29: 1 on, 2 off, 3 state, 4 name, 5 set
// name, 6 PIN, 7 address, 8/9 discoverable, 10 inquiry, 11 connect, 12 disconnect) and sends
// the module's events (0x1E records: 7 found, 8 inquiry done, 9 inquiry failed, 2 connect
// failed, 3 connected, 6 link lost, 10 data).
//
// Fault knobs: an inquiry that never ends (`silentInquiry`), a connect that is never
// answered (`silentConnect`), a remote device that refuses links.
//
// Not thread-safe: the accessory calls it under its own lock.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

class SimulatedBluetoothModule {
 public:
  struct Remote {
    Bytes address;  // six bytes
    std::string name;
    bool acceptsLinks = true;
  };

  // One module command [sub][data]: the answer (nothing: none), and module events
  // [code][data] to send after it.
  std::optional<Bytes> command(const Bytes& packet, std::vector<Bytes>* events);
  // A link loss seen by the module: the event to send (nothing without a link).
  std::optional<Bytes> loseLink();
  // Bytes from the remote device over the link: the data event.
  Bytes remoteSends(const Bytes& data) const;

  std::vector<Remote> remotes;
  bool powered = false;
  bool discoverable = false;
  bool silentInquiry = false;
  bool silentConnect = false;
  std::string localName = "Kestra BT";
  std::string localAddress = "00A0B1C2D3E4";
  std::string pin;
  std::optional<Bytes> linkedTo;  // the remote's address while a link is up
  std::vector<Bytes> commands;    // every command packet in order
  int inquiries = 0;
};

}  // namespace devices
