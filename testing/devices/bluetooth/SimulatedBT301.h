#pragma once
// A BT301 serial-port-profile module as its host sees it: bytes in, lines out. In command
// mode it takes AT commands ending in CR LF and answers in lines ("OK", "ERROR", "ACK" and
// "+" events); once a link is up it is in data mode, where every byte goes to the remote
// device until the escape "+++" brings it back to command mode.
//
// Commands it answers: GETADDR, GETSTATE (the next scripted state, else 0), INQUIRY (ACK, one
// "address,class" line per remote device, optionally split after the address, then OK or
// ERROR), REMOTENAME (ACK, "+RNAME=name" and OK; ERROR for a device without a name), GETVER,
// WRIOCAP, WRIAPMODE, WRSPPMODE, WRSEC, WRNAME, WRCOD, CONMASTER (ACK, then the remote
// device's pairing: "+PINCODE", "+SSP?", "+NUMERIC=…" or "+PASSKEY=…", answered with RESPIN,
// RESSSP, RESNUMCOMP or RESPASS, then "+CONNECTED=addr" and "+SPP_CONNECTED=addr", or
// "+CONNECT_FAILED" when the device refuses), CONSLAVE (ACK), CONCANCEL, RESCON. Anything else
// is "ERROR".
//
// Incoming links: while listening (after CONSLAVE) a remote device can dial in (`dialIn`):
// the module sends "+CONNECTING=<address>" (twelve hexadecimal digits, then CR LF), then,
// as the device wants, "+PINCODE" (answered with RESPIN: "OK" and the next step, or
// "+CONNECT_FAILED" for a wrong PIN) and "+ACCEPT?" (answered with RESCON=1, or RESCON=0
// which ends it without a word), then "+CONNECTED=<address>" and data mode, or the failure
// line the dial names. Any other command drops a dial in progress. An incoming attempt ends
// listening either way (the host asks for it again).
//
// Fault knobs: a module that never answers (`silent`), busy states before idle (`states`),
// a failing inquiry, a device that refuses links or never opens its serial port.
//
// Not thread-safe: the host calls it under its own lock.

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace devices {

class SimulatedBT301 {
 public:
  enum class Pairing { None, Pin, Ssp, Numeric, PassKey };
  struct Remote {
    std::string address;  // twelve hexadecimal digits
    std::string name;     // empty: the name request fails
    std::string cod = "5A020C";
    Pairing pairing = Pairing::None;
    std::string pin;  // the PIN it wants (Pairing::Pin)
    bool acceptsLinks = true;
    bool opensSerialPort = true;  // false: "+CONNECTED" but never "+SPP_CONNECTED"
    // Simple pairing: the module acknowledges "AT+RESSSP=1" with "OK" before the link
    // events, as it does for its other answers; false sends the link events first, then "OK".
    bool sspOkFirst = true;
  };

  struct Dial {
    std::string address;     // twelve hexadecimal digits
    bool asksPin = false;    // "+PINCODE" first
    std::string pin;         // the PIN it wants
    bool asksAccept = false; // "+ACCEPT?" after the PIN
    std::string failure;     // a line in place of "+CONNECTED=…" ("" none)
    bool stalls = false;     // nothing after "+CONNECTING="
  };

  // Power: on answers "OK" (unless silent); off ends any link and data mode.
  std::string powerOn();
  void powerOff();
  // Bytes from the host; what the module sends back.
  std::string receive(const std::string& bytes);
  // The link drops on the radio side: the event the module sends (empty without a link).
  std::string loseLink();
  // A remote device dials in: what the module sends (empty unless listening).
  std::string dialIn(const Dial& dial);
  // The remote device ends the link: the event the module sends (empty without a link).
  std::string remoteHangsUp();
  // The remote device sends bytes over the link (empty without a link).
  std::string remoteSends(const std::string& bytes) const;

  std::vector<Remote> remotes;
  std::deque<int> states;  // reported by GETSTATE before 0
  bool silent = false;
  bool inquiryFails = false;
  bool splitResults = false;  // the address alone on one line, the rest on the next
  std::string localAddress = "0080251A2B3C";

  bool powered = false;
  bool dataMode = false;
  bool listening = false;
  std::optional<std::string> linkedTo;
  std::vector<std::string> commands;  // every command line, without CR LF
  std::string remoteReceived;         // bytes that went over the link

 private:
  std::string command(const std::string& line);
  std::string linkUp(const Remote& remote);
  // The next step of the dial in progress.
  std::string dialStep();
  std::string dialAnswer(const std::string& line);
  const Remote* find(const std::string& address) const;
  std::string line_;
  std::optional<std::string> pairingWith_;
  std::optional<Dial> dial_;
  bool dialPinGiven_ = false;
  bool dialAccepted_ = false;
};

}  // namespace devices
