#include "testing/devices/bluetooth/SimulatedBT301.h"

#include <algorithm>
#include <cstdlib>

namespace devices {

namespace {
bool startsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }
std::string after(const std::string& s, char c) {
  const size_t at = s.find(c);
  return at == std::string::npos ? std::string() : s.substr(at + 1);
}
const std::string kEnd = "\r\n";
const std::string kFailed = "+CONNECT_FAILED" + kEnd;
}  // namespace

std::string SimulatedBT301::powerOn() {
  powered = true;
  line_.clear();
  return silent ? std::string() : "OK" + kEnd;
}

void SimulatedBT301::powerOff() {
  powered = false;
  dataMode = false;
  listening = false;
  linkedTo.reset();
  pairingWith_.reset();
  dial_.reset();
  line_.clear();
}

std::string SimulatedBT301::loseLink() {
  if (!linkedTo) return {};
  const std::string event = "+LINK_LOST=" + *linkedTo + kEnd;
  linkedTo.reset();
  dataMode = false;
  return event;
}

std::string SimulatedBT301::remoteHangsUp() {
  if (!linkedTo) return {};
  const std::string event = "+DISCONNECTED=" + *linkedTo + kEnd;
  linkedTo.reset();
  dataMode = false;
  return event;
}

std::string SimulatedBT301::dialIn(const Dial& dial) {
  if (!powered || !listening || linkedTo || dial_) return {};
  dial_ = dial;
  dialPinGiven_ = dialAccepted_ = false;
  const std::string out = "+CONNECTING=" + dial.address + kEnd;
  return silent ? std::string() : out + (dial.stalls ? std::string() : dialStep());
}

std::string SimulatedBT301::dialStep() {
  const Dial dial = *dial_;
  if (dial.asksPin && !dialPinGiven_) return "+PINCODE" + kEnd;
  if (dial.asksAccept && !dialAccepted_) return "+ACCEPT?" + kEnd;
  dial_.reset();
  listening = false;
  if (!dial.failure.empty()) return dial.failure + kEnd;
  linkedTo = dial.address;
  dataMode = true;
  return "+CONNECTED=" + dial.address + kEnd;
}

std::string SimulatedBT301::dialAnswer(const std::string& line) {
  if (startsWith(line, "AT+RESPIN=")) {
    if (after(line, '=') != dial_->pin) {
      dial_.reset();
      listening = false;
      return kFailed;
    }
    dialPinGiven_ = true;
    return "OK" + kEnd + dialStep();
  }
  if (line == "AT+RESCON=1") {
    dialAccepted_ = true;
    return dialStep();
  }
  if (line == "AT+RESCON=0") {
    dial_.reset();
    listening = false;
    return {};
  }
  // Anything else: the module gives the dial up and takes the command.
  dial_.reset();
  listening = false;
  return command(line);
}

std::string SimulatedBT301::remoteSends(const std::string& bytes) const { return linkedTo ? bytes : std::string(); }

const SimulatedBT301::Remote* SimulatedBT301::find(const std::string& address) const {
  auto it = std::find_if(remotes.begin(), remotes.end(), [&](const Remote& r) { return r.address == address; });
  return it == remotes.end() ? nullptr : &*it;
}

std::string SimulatedBT301::linkUp(const Remote& remote) {
  pairingWith_.reset();
  linkedTo = remote.address;
  std::string out = "+CONNECTED=" + remote.address + kEnd;
  if (remote.opensSerialPort) {
    out += "+SPP_CONNECTED=" + remote.address + kEnd;
    dataMode = true;
  }
  return out;
}

std::string SimulatedBT301::receive(const std::string& bytes) {
  if (!powered) return {};
  if (dataMode) {
    if (bytes == "+++") {
      dataMode = false;
      const std::string event = "+DISCONNECTED=" + linkedTo.value_or("") + kEnd;
      linkedTo.reset();
      return silent ? std::string() : event;
    }
    remoteReceived += bytes;
    return {};
  }
  std::string out;
  for (char c : bytes) {
    line_.push_back(c);
    if (line_.size() >= 2 && line_.compare(line_.size() - 2, 2, kEnd) == 0) {
      const std::string line = line_.substr(0, line_.size() - 2);
      line_.clear();
      commands.push_back(line);
      const std::string answer = dial_ ? dialAnswer(line) : command(line);
      if (!silent) out += answer;
    }
  }
  return out;
}

std::string SimulatedBT301::command(const std::string& line) {
  if (line == "AT+GETADDR") return "ADDR=" + localAddress + kEnd + "OK" + kEnd;
  if (line == "AT+GETSTATE") {
    int state = 0;
    if (!states.empty()) {
      state = states.front();
      states.pop_front();
    }
    return "STATE=" + std::to_string(state) + kEnd + "OK" + kEnd;
  }
  if (startsWith(line, "AT+INQUIRY=")) {
    const size_t max = size_t(std::atoi(line.c_str() + 11));
    std::string out = "ACK" + kEnd;
    if (inquiryFails) return out + "ERROR" + kEnd;
    for (size_t i = 0; i < remotes.size() && i < max; ++i) {
      const auto& r = remotes[i];
      out += r.address + (splitResults ? kEnd : std::string()) + "," + r.cod + kEnd;
    }
    return out + "OK" + kEnd;
  }
  if (startsWith(line, "AT+REMOTENAME=")) {
    const Remote* r = find(after(line, '='));
    if (!r || r->name.empty()) return "ACK" + kEnd + "ERROR" + kEnd;
    return "ACK" + kEnd + "+RNAME=" + r->name + kEnd + "OK" + kEnd;
  }
  if (line == "AT+GETVER") return "VER=BT301 2.10" + kEnd;
  if (startsWith(line, "AT+WRIOCAP=") || startsWith(line, "AT+WRIAPMODE=") || startsWith(line, "AT+WRSPPMODE=") ||
      startsWith(line, "AT+WRSEC=") || startsWith(line, "AT+WRNAME=") || startsWith(line, "AT+WRCOD=") ||
      startsWith(line, "AT+RESCON="))
    return "OK" + kEnd;
  if (startsWith(line, "AT+CONMASTER=1,")) {
    const Remote* r = find(after(line, ','));
    std::string out = "ACK" + kEnd;
    if (!r || !r->acceptsLinks) return out + kFailed;
    pairingWith_ = r->address;
    switch (r->pairing) {
      case Pairing::None: return out + linkUp(*r);
      case Pairing::Pin: return out + "+PINCODE" + kEnd;
      case Pairing::Ssp: return out + "+SSP?" + kEnd;
      case Pairing::Numeric: return out + "+NUMERIC=482913" + kEnd;
      case Pairing::PassKey: return out + "+PASSKEY= 123456 " + kEnd;
    }
    return out;
  }
  if (pairingWith_) {
    const Remote* r = find(*pairingWith_);
    if (r && startsWith(line, "AT+RESPIN="))
      return "OK" + kEnd + (after(line, '=') == r->pin ? linkUp(*r) : kFailed);
    if (r && line == "AT+RESSSP=1") return r->sspOkFirst ? "OK" + kEnd + linkUp(*r) : linkUp(*r) + "OK" + kEnd;
    if (r && line == "AT+RESNUMCOMP=1") return "OK" + kEnd + linkUp(*r);
    if (r && startsWith(line, "AT+RESPASS="))
      return "OK" + kEnd + (line == "AT+RESPASS=1" ? linkUp(*r) : kFailed);
  }
  if (startsWith(line, "AT+CONSLAVE=1,")) {
    listening = true;
    return "ACK" + kEnd;
  }
  if (line == "AT+CONCANCEL") {
    listening = false;
    return "OK" + kEnd;
  }
  return "ERROR" + kEnd;
}

}  // namespace devices
