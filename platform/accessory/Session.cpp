#include "platform/accessory/Session.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/accessory/FdStream.h"

namespace accessory {

namespace {

foundation::Error sessionError(int code, const std::string& text) {
  return foundation::Error(kAccessoryErrorDomain, code, text);
}

speed_t speedFor(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B115200;
  }
}

// Connects to the accessory's socket and sends the session request. -1 on failure.
int openSocketChannel(const std::string& path, const std::string& protocol, foundation::Error* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    fail(error, sessionError(-1, "accessory socket path too long"));
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // Non-blocking: a listener that does not accept (full backlog) refuses at once.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    fail(error, sessionError(-errno, std::strerror(errno)));
    return -1;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int e = errno;
    ::close(fd);
    fail(error, sessionError(-e, std::string("cannot reach the accessory: ") + std::strerror(e)));
    return -1;
  }
  std::string request = protocol + kSessionRequestTerminator;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != ssize_t(request.size())) {
    int e = errno;
    ::close(fd);
    fail(error, sessionError(-e, "cannot send the session request"));
    return -1;
  }
  return fd;
}

int openSerialChannel(const std::string& device, int baud, foundation::Error* error) {
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    fail(error, sessionError(-errno, "cannot open " + device + ": " + std::strerror(errno)));
    return -1;
  }
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    cfsetispeed(&tio, speedFor(baud));
    cfsetospeed(&tio, speedFor(baud));
    tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}

}  // namespace

Session::Session(std::shared_ptr<Accessory> accessory, std::string protocolString,
                 std::shared_ptr<InputStream> input, std::shared_ptr<OutputStream> output)
    : accessory_(std::move(accessory)),
      protocolString_(std::move(protocolString)),
      input_(std::move(input)),
      output_(std::move(output)) {}

std::shared_ptr<Session> Session::open(const std::shared_ptr<Accessory>& accessory,
                                       const std::string& protocolString, foundation::Error* error) {
  if (!accessory || !accessory->isConnected()) {
    fail(error, sessionError(-2, "the accessory is not connected"));
    return nullptr;
  }
  const auto& protocols = accessory->protocolStrings();
  auto it = std::find(protocols.begin(), protocols.end(), protocolString);
  if (it == protocols.end()) {
    fail(error, sessionError(-3, "the accessory does not offer " + protocolString));
    return nullptr;
  }
  const AccessoryEndpoint& ep = accessory->endpoint();
  FdStreamPair pair;
  if (ep.kind == AccessoryEndpoint::Kind::Socket) {
    int fd = openSocketChannel(ep.socketPath, protocolString, error);
    if (fd < 0) return nullptr;
    pair = makeFdStreamPair(fd, kSessionAcceptByte);
  } else {
    size_t index = size_t(it - protocols.begin());
    if (index >= ep.serialDevices.size()) {
      fail(error, sessionError(-3, "no serial device for " + protocolString));
      return nullptr;
    }
    int fd = openSerialChannel(ep.serialDevices[index], ep.baudRate, error);
    if (fd < 0) return nullptr;
    pair = makeFdStreamPair(fd);
  }
  return std::shared_ptr<Session>(
      new Session(accessory, protocolString, std::move(pair.input), std::move(pair.output)));
}

}  // namespace accessory
