#include "testing/devices/base/LinkIo.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace devices {

namespace {
// How long a simulator keeps trying to hand bytes to a host that does not read.
constexpr std::chrono::milliseconds kLinkWait{2000};
}  // namespace

void writeToLink(int fd, const uint8_t* data, size_t length, bool waitDrained) {
  const auto deadline = std::chrono::steady_clock::now() + kLinkWait;
  size_t done = 0;
  while (done < length && std::chrono::steady_clock::now() < deadline) {
    ssize_t n = ::send(fd, data + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, 10);
  }
  if (!waitDrained) return;
  // The next piece goes out only after the host read this one, so it sees separate reads.
  while (std::chrono::steady_clock::now() < deadline) {
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace devices
