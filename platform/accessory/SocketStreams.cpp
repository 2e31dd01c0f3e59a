#include "platform/accessory/SocketStreams.h"

#include <cerrno>
#include <cctype>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace accessory {

namespace {
constexpr const char* kDomain = "com.sabrel.errors";

bool failWith(foundation::Error* error, int code, const std::string& text) {
  if (error) *error = foundation::Error{kDomain, code, text};
  return false;
}

// Connects `fd` to `address` within `timeoutMs`; the descriptor is left non-blocking.
bool connectWithin(int fd, const sockaddr* address, socklen_t length, int timeoutMs, int* err) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (::connect(fd, address, length) == 0) return true;
  if (errno != EINPROGRESS) {
    *err = errno;
    return false;
  }
  pollfd p{fd, POLLOUT, 0};
  const int n = ::poll(&p, 1, timeoutMs);
  if (n <= 0) {
    *err = n == 0 ? ETIMEDOUT : errno;
    return false;
  }
  socklen_t len = sizeof *err;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, err, &len);
  return *err == 0;
}

// The kernel's Bluetooth socket constants (linux/bluetooth.h, bluetooth/rfcomm.h).
constexpr int kAfBluetooth = 31;
constexpr int kBtprotoRfcomm = 3;
struct SockaddrRc {
  sa_family_t family;
  uint8_t bdaddr[6];  // least significant byte first
  uint8_t channel;
};
}  // namespace

std::optional<FdStreamPair> connectTcpStreamPair(const std::string& host, uint16_t port, foundation::Error* error,
                                                 int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); r != 0) {
    failWith(error, -20, "Cannot resolve " + host + ": " + ::gai_strerror(r));
    return std::nullopt;
  }
  int lastError = ECONNREFUSED;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    if (connectWithin(fd, a->ai_addr, a->ai_addrlen, timeoutMs, &lastError)) {
      ::freeaddrinfo(found);
      return makeFdStreamPair(fd);
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  failWith(error, -20, "Cannot connect to " + host + ":" + service + ": " + std::strerror(lastError));
  return std::nullopt;
}

std::optional<std::array<uint8_t, 6>> parseBluetoothAddress(const std::string& address) {
  std::string digits;
  for (char c : address) {
    if (c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() != 12) return std::nullopt;
  std::array<uint8_t, 6> out{};
  for (size_t i = 0; i < 6; ++i) out[i] = uint8_t(std::stoi(digits.substr(2 * i, 2), nullptr, 16));
  return out;
}

std::optional<FdStreamPair> connectRfcommStreamPair(const std::string& address, int channel,
                                                    foundation::Error* error) {
  const auto bytes = parseBluetoothAddress(address);
  if (!bytes || channel < 1 || channel > 30) {
    failWith(error, -9, "Invalid bluetooth address or channel");
    return std::nullopt;
  }
  const int fd = ::socket(kAfBluetooth, SOCK_STREAM | SOCK_CLOEXEC, kBtprotoRfcomm);
  if (fd < 0) {
    if (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT || errno == EPERM || errno == EACCES)
      failWith(error, -7, std::string("Bluetooth sockets are not available on this system (") + std::strerror(errno) + ")");
    else
      failWith(error, -20, std::string("Cannot open a Bluetooth socket: ") + std::strerror(errno));
    return std::nullopt;
  }
  SockaddrRc a{};
  a.family = kAfBluetooth;
  for (size_t i = 0; i < 6; ++i) a.bdaddr[i] = (*bytes)[5 - i];
  a.channel = uint8_t(channel);
  int err = 0;
  if (!connectWithin(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a, 15000, &err)) {
    ::close(fd);
    failWith(error, -20, "Cannot connect to " + address + ": " + std::strerror(err));
    return std::nullopt;
  }
  return makeFdStreamPair(fd);
}

}  // namespace accessory
