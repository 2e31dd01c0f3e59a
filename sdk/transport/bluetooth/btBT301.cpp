#include "sdk/transport/bluetooth/btBT301.h"

#include <cstdio>
#include <cstdlib>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

using foundation::Clock;
using foundation::Error;

namespace {

constexpr std::string_view kLinkLost = "+LINK_LOST=";
constexpr std::string_view kDisconnected = "+DISCONNECTED=";
constexpr std::string_view kConnecting = "+CONNECTING=";
constexpr double kLine = 1.0;
constexpr double kAnswerLine = 10.0;
constexpr double kEventLine = 15.0;
constexpr double kRawLine = 2.0;
constexpr double kEscapeLine = 3.0;

bool startsWith(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool contains(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }
bool failureWord(const std::string& s) {
  return contains(s, "ERROR") || contains(s, "TIMEOUT") || contains(s, "REJECTED") || contains(s, "FAILED");
}
bool isLinkLoss(const std::string& s) { return startsWith(s, kLinkLost) || startsWith(s, kDisconnected); }
std::string afterEquals(const std::string& s) {
  const size_t at = s.find('=');
  return at == std::string::npos ? std::string() : s.substr(at + 1);
}
std::string trimmed(const std::string& s) {
  const char* space = " \t\r\n";
  const size_t b = s.find_first_not_of(space);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(space) - b + 1);
}
std::string format(const char* f, auto... args) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, f, args...);
  return buffer;
}
// Advances a matcher of `text` by one byte; a mismatch starts it over (the byte is not tried
// against the first character again).
void advance(size_t& pos, std::string_view text, uint8_t byte) {
  if (pos < text.size() && byte == uint8_t(text[pos]))
    ++pos;
  else
    pos = 0;
}

}  // namespace

std::optional<std::string> btBT301::connectingAddress() const {
  std::lock_guard l(stateMutex_);
  return connectingAddress_;
}

// ---- Lines and commands ----------------------------------------------------------------------

void btBT301::linkDown() {
  // A link that was up and ends while listening is on is followed by listening again, once
  // the disconnect's work is done.
  const bool wasUp = inDataMode_.exchange(false);
  if (wasUp && listenActive()) relistenPending_ = true;
  btDisconnect("", nullptr);
}

std::optional<std::string> btBT301::bt301ReadLine(double timeoutSeconds, bool consumeEvents, Error* error) {
  auto line = btReadLine(timeoutSeconds, error);
  while (line && isLinkLoss(*line)) {
    linkDown();
    if (!consumeEvents) return line;
    line = btReadLine(timeoutSeconds, error);
  }
  return line;
}

std::optional<std::string> btBT301::_sendCommand(const std::string& command, Error* error) {
  if (!btWrite(command, error)) return std::nullopt;
  auto line = bt301ReadLine(kLine, error);
  if (!line || failureWord(*line)) return std::nullopt;
  return line;
}

std::optional<std::vector<std::string>> btBT301::_btCommand(const std::string& command, Error* error) {
  if (!btWrite(command + "\r\n", error)) return std::nullopt;
  std::vector<std::string> lines;
  for (;;) {
    auto line = bt301ReadLine(kRawLine, nullptr);
    if (!line) {
      moduleError(error, -6, "Timeout reading from bluetooth module");
      return std::nullopt;
    }
    if (*line == "ERROR") {
      moduleError(error, -20, "Command failed or invalid");
      return std::nullopt;
    }
    if (*line == "OK") return lines;
    lines.push_back(*line);
  }
}

bool btBT301::_btWrite(const uint8_t* data, int* length, Error* error) {
  auto host = controlDelegate();
  if (!host) return moduleError(error, -7, "Function not supported on the connected device");
  return host->_bt301Write(data, length, error);
}

bool btBT301::_btSetEnabled(bool on, Error* error) {
  inDataMode_ = false;
  KXUNISDKGlobals::LOG("_btSetEnabled: %d", int(on));
  auto host = controlDelegate();
  if (!host) return moduleError(error, -7, "Function not supported on the connected device");
  const bool ok = host->_bt301SetEnabled(on, error);
  if (!ok || !on) return ok;
  for (;;) {
    auto line = btReadLine(kLine, nullptr);
    if (!line) return moduleError(error, -6, "Bluetooth module failed to respond");
    if (startsWith(*line, "OK")) return true;
  }
}

std::optional<std::string> btBT301::_btGetLocalAddress(Error* error) {
  if (!btWrite(std::string("AT+GETADDR\r\n"), error)) return std::nullopt;
  auto line = bt301ReadLine(kLine, error);
  if (!line || *line == "ERROR") return std::nullopt;
  bt301ReadLine(kLine, nullptr);
  return afterEquals(*line);
}

bool btBT301::_sync(Error*) {
  if (anyConnected()) return true;
  auto& clock = Clock::current();
  // A module that keeps reporting a busy state is given up on after a while.
  const auto deadline = clock.now() + kSyncLimit;
  const std::string query = "AT+GETSTATE\r\n";
  if (!btWrite(query, nullptr)) return false;
  for (;;) {
    auto line = bt301ReadLine(kLine, nullptr);
    if (!line) return false;
    if (startsWith(*line, "ERROR")) {
      if (clock.now() >= deadline || !btWrite(query, nullptr)) return false;
      continue;
    }
    bt301ReadLine(kLine, nullptr);
    if (startsWith(*line, "+")) {
      bt301ReadLine(kLine, nullptr);
      return false;
    }
    if (!startsWith(*line, "STATE")) return false;
    const int state = std::atoi(line->c_str() + std::min<size_t>(6, line->size()));
    if (state == 0 || state == 3 || state == 6) return true;
    if (clock.now() + kSyncPoll > deadline) {
      KXUNISDKGlobals::LOG("BT301 stays busy (state %d)", state);
      return false;
    }
    pause(kSyncPoll);
    if (!btWrite(query, nullptr)) return false;
  }
}

// ---- Discovery -----------------------------------------------------------------------------------

bool btBT301::_btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, Error* error) {
  // Ending a link clears and closes the stream from a worker, so it is done only when a link
  // is up; otherwise it would race with the inquiry's answers.
  if (anyConnected()) btDisconnect("", nullptr);
  _sync(nullptr);
  clearFoundDevices();
  const int count = std::max(0, std::min(maxDevices, 8));
  const int length = std::max(0, int(maxTime / 1.28));
  if (!btWrite(format("AT+INQUIRY=%d,%02X,%04X\r\n", count, unsigned(length), cod), error)) return false;
  auto ack = bt301ReadLine(kAnswerLine, error);
  if (!ack || *ack != "ACK") return false;

  std::vector<std::string> found;
  for (;;) {
    auto line = bt301ReadLine(maxTime + kAnswerLine, nullptr);
    if (!line) return moduleError(error, -6, "Timeout reading from bluetooth module");
    if (*line == "ERROR") return moduleError(error, -20, "Bluetooth operation failed");
    if (*line == "OK") break;
    std::string result = *line;
    if (!contains(result, ",") && result.size() == 12) {
      if (auto rest = bt301ReadLine(kLine, nullptr)) result += *rest;
    }
    const size_t comma = result.find(',');
    if (comma != std::string::npos) found.push_back(result.substr(0, comma));
  }
  pause(kNamePause);
  for (const auto& address : found) {
    const auto name = _btGetDeviceName(address, nullptr);
    if (name && !name->empty()) addFoundDevice(address, name);
  }
  return true;
}

std::optional<std::string> btBT301::_btGetDeviceName(const std::string& address, Error* error) {
  if (!btWrite("AT+REMOTENAME=" + address + "\r\n", error)) return std::nullopt;
  auto ack = bt301ReadLine(kLine, error);
  if (!ack || *ack != "ACK") return std::nullopt;
  std::optional<std::string> name;
  for (;;) {
    auto line = bt301ReadLine(kAnswerLine, nullptr);
    if (!line) {
      moduleError(error, -6, "Timeout reading from bluetooth module");
      return std::nullopt;
    }
    if (*line == "ERROR" || *line == "TIMEOUT") {
      moduleError(error, -20, "Bluetooth operation failed");
      return std::nullopt;
    }
    if (*line == "OK") return name;
    if (contains(*line, "=")) name = afterEquals(*line);
  }
}

// ---- Outgoing connection ---------------------------------------------------------------------------

bool btBT301::_btConfirmPassKey(bool accept, Error*) {
  {
    std::lock_guard l(stateMutex_);
    passKeyResponse_ = accept ? 1 : 0;
  }
  passKeyAnswered_.notify_all();
  return true;
}

bool btBT301::confirmPassKey(const std::string& address, const std::string& eventLine) {
  const std::string passKey = trimmed(afterEquals(eventLine));
  auto host = controlDelegate();
  if (foundation::MainQueue::isMainThread() || !host ||
      !host->clientsRespondToSelector(btsel::bluetoothDevicePassKeySent))
    return btWrite(std::string("AT+RESPASS=1\r\n"), nullptr);
  {
    std::lock_guard l(stateMutex_);
    passKeyResponse_ = -1;
  }
  foundation::MainQueue::post([host, address, passKey] { host->bluetoothDevicePassKeySent(address, passKey); });
  int answer;
  {
    std::unique_lock l(stateMutex_);
    Clock::current().waitFor(l, passKeyAnswered_, kPassKeyWait, [this] { return passKeyResponse_ != -1; });
    answer = passKeyResponse_;
  }
  return btWrite(std::string(answer == 1 ? "AT+RESPASS=1\r\n" : "AT+RESPASS=0\r\n"), nullptr);
}

bool btBT301::_btConnect(const std::string& address, const std::string& pin, Error* error) {
  _sync(nullptr);
  for (const char* setup : {"AT+GETVER\r\n", "AT+WRIOCAP=1\r\n", "AT+WRIAPMODE=1\r\n", "AT+WRSPPMODE=1\r\n"}) {
    if (!btWrite(std::string(setup), error)) return false;
    bt301ReadLine(kLine, nullptr);
  }
  if (!btWrite(std::string(pin.empty() ? "AT+WRSEC=0,0,0\r\n" : "AT+WRSEC=2,1,1\r\n"), error)) return false;
  for (;;) {
    auto line = bt301ReadLine(kLine, nullptr);
    if (!line) return moduleError(error, -6, "Timeout reading from bluetooth module");
    if (failureWord(*line) || *line == "OK") break;
  }
  if (!btWrite("AT+CONMASTER=1," + address + "\r\n", error)) return false;
  auto ack = bt301ReadLine(kLine, error);
  if (!ack || (*ack != "ACK" && *ack != "OK")) return false;

  auto line = bt301ReadLine(kEventLine, nullptr);
  if (!line) return moduleError(error, -6, "Timeout trying to connect");
  bool sawLink = false, sppUp = false;
  while (line) {
    if (contains(*line, "+SSP?")) {
      btWrite(std::string("AT+RESSSP=1\r\n"), nullptr);
      line = bt301ReadLine(kAnswerLine, nullptr);
      // The module may acknowledge the answer before the link events follow: "OK" here is
      // that acknowledgement, not the end of the connect.
      if (line && *line == "OK") line = bt301ReadLine(kEventLine, nullptr);
      if (!line) break;
    }
    if (contains(*line, "OK") || failureWord(*line)) break;
    if (contains(*line, "+CONNECTED")) sawLink = true;
    if (contains(*line, "+SPP_CONNECTED")) {
      sppUp = true;
      break;
    }
    if (contains(*line, "+PINCODE")) {
      btWrite("AT+RESPIN=" + pin + "\r\n", nullptr);
      bt301ReadLine(kAnswerLine, nullptr);
    } else if (contains(*line, "+NUMERIC")) {
      btWrite(std::string("AT+RESNUMCOMP=1\r\n"), nullptr);
      bt301ReadLine(kAnswerLine, nullptr);
    } else if (contains(*line, "+PASSKEY")) {
      confirmPassKey(address, *line);
      bt301ReadLine(kAnswerLine, nullptr);
    }
    line = bt301ReadLine(kEventLine, nullptr);
  }
  if (!sppUp && !sawLink) return moduleError(error, -6, "Timeout trying to connect");

  linkUp(address);
  if (auto host = controlDelegate()) host->bluetoothDeviceConnected(address);
  setNotificationsEnabled(true);
  return true;
}

void btBT301::linkUp(const std::string& address) {
  {
    // A link-loss text seen in part on an earlier link does not count on this one.
    std::lock_guard l(stateMutex_);
    lostPos_ = disconnectedPos_ = 0;
  }
  clear();
  inDataMode_ = true;
  addConnectedDevice(address);
}


// ---- Listening and incoming connections ---------------------------------------------------------

bool btBT301::listen(bool discoverable, const std::string& localName, unsigned cod, Error* error) {
  if (!localName.empty() && localName != currentLocalName()) {
    if (!_sendCommand("AT+WRNAME=" + localName + "\r\n", error)) return false;
  }
  if (cod != currentCOD()) {
    if (!_sendCommand(format("AT+WRCOD=%06X\r\n", cod), error)) return false;
  }
  if (!btWrite(format("AT+CONSLAVE=1,%d\r\n", discoverable ? 1 : 0), error)) return false;
  auto line = bt301ReadLine(kLine, nullptr);
  if (line && (*line == "ACK" || *line == "OK")) return true;
  return moduleError(error, -20, "Failed setting up parameters");
}

bool btBT301::_btListenForDevices(bool listenOn, bool discoverable, const std::string& localName, unsigned cod,
                                  Error* error) {
  _sync(nullptr);
  if (listenOn) return listen(discoverable, localName, cod, error);
  if (anyConnected()) btDisconnect("", nullptr);
  if (!btWrite(std::string("AT+CONCANCEL\r\n"), error)) return false;
  bt301ReadLine(kLine, nullptr);
  return true;
}

void btBT301::handleIncoming() {
  std::optional<std::string> address;
  {
    std::lock_guard l(stateMutex_);
    address = connectingAddress_;
  }
  const std::string who = address.value_or("");
  auto host = controlDelegate();
  bool connected = false;
  for (;;) {
    auto line = bt301ReadLine(kAnswerLine, nullptr);
    if (!line || failureWord(*line)) break;
    if (startsWith(*line, "+CONNECTED")) {
      linkUp(who);
      setNotificationsEnabled(true);
      if (host) foundation::MainQueue::post([host, who] { host->bluetoothDeviceConnected(who); });
      connected = true;
      break;
    }
    if (startsWith(*line, "+PINCODE")) {
      const auto pin = host ? host->bluetoothDevicePINCodeRequired(who, "") : std::nullopt;
      if (!pin) break;
      btWrite("AT+RESPIN=" + *pin + "\r\n", nullptr);
    } else if (*line == "+ACCEPT?") {
      const bool accept = host && host->bluetoothDeviceRequestedConnection(who, "");
      btWrite(std::string(accept ? "AT+RESCON=1\r\n" : "AT+RESCON=0\r\n"), nullptr);
      if (!accept) break;
    }
  }
  incomingRunning_ = false;
  if (!connected && listenActive())
    btListenForDevices(true, listenDiscoverable(), currentLocalName(), currentCOD(), nullptr);
}

// ---- Data mode -------------------------------------------------------------------------------------

void btBT301::btAppendData(const uint8_t* data, size_t length) {
  streamAppendData(data, length);
  if (anyConnected()) {
    bool lost = false;
    {
      std::lock_guard l(stateMutex_);
      for (size_t i = 0; i < length && !lost; ++i) {
        if (lostPos_ == kLinkLost.size() || disconnectedPos_ == kDisconnected.size()) {
          lostPos_ = disconnectedPos_ = 0;
          lost = true;
          break;
        }
        advance(lostPos_, kLinkLost, data[i]);
        advance(disconnectedPos_, kDisconnected, data[i]);
      }
    }
    if (lost) {
      KXUNISDKGlobals::LOG("BTDISCONNECT");
      linkDown();
      return;
    }
  }
  // In data mode the bytes are the remote device's: only a module in command mode announces
  // an incoming link.
  if (!listenActive() || inDataMode_) {
    streamNotify();
    return;
  }
  // An incoming link announces itself with "+CONNECTING=<address>" on a line of its own; the
  // address is what follows the "=" up to the line's end (its CR or LF).
  std::optional<std::string> address;
  editHeld([&](Bytes& held) {
    const std::string text(held.begin(), held.end());
    const size_t at = text.find(kConnecting);
    if (at == std::string::npos) return;
    const size_t start = at + kConnecting.size();
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos || text.find('\n', start) == std::string::npos) return;
    address = text.substr(start, end - start);
  });
  if (!address) {
    streamNotify();
    return;
  }
  if (incomingRunning_.exchange(true)) return;
  {
    std::lock_guard l(stateMutex_);
    connectingAddress_ = btFormatAddress(*address).value_or(*address);
  }
  std::weak_ptr<btModule> weak = weak_from_this();
  GlobalQueue::async([weak] {
    if (auto self = std::static_pointer_cast<btBT301>(weak.lock())) self->handleIncoming();
  });
}

void btBT301::_btDisconnect(const std::string&) {
  setNotificationsEnabled(false);
  if (!inDataMode_) return;
  pause(kEscapeGuard);
  // The link's end that the module answers the escape with is ours, not a loss (it does not
  // put the module back into listening).
  inDataMode_ = false;
  btWrite(std::string("+++"), nullptr);
  bt301ReadLine(kEscapeLine, false, nullptr);
  clear();
}

void btBT301::_btDeviceDisconnected(const std::string&) {
  inDataMode_ = false;
  if (listenActive()) relistenPending_ = true;
}

void btBT301::_btDisconnectFinished() {
  // Listening again only now: the disconnect's clearing of the stream would drop the module's
  // answers to the listen commands.
  if (!relistenPending_.exchange(false) || !listenActive()) return;
  _btListenForDevices(true, listenDiscoverable(), currentLocalName(), currentCOD(), nullptr);
}

}  // namespace kestra
