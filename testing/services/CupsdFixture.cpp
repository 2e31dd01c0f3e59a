#include "testing/services/CupsdFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

namespace services {

struct CupsdFixture::Listener {
  int fd = -1;
  int port = 0;
  std::string bytes;
  std::atomic<bool> stopping{false};
  std::thread thread;
};

namespace {

constexpr const char* kCupsd = "/usr/sbin/cupsd";
// The queues' socket device; Debian ships it in the cups package, not in cups-daemon.
constexpr const char* kSocketBackend = "/usr/lib/cups/backend/socket";

}  // namespace

CupsdFixture::CupsdFixture() = default;

CupsdFixture::~CupsdFixture() { stop(); }

bool CupsdFixture::start(const std::vector<std::string>& queues) {
  namespace fs = std::filesystem;
  if (!fs::exists(kSocketBackend)) {
    // Without it every job waits on a stopped queue; say so instead of timing out.
    error_ = std::string(kSocketBackend) + " is missing (Debian package cups)";
    return false;
  }
  const fs::path root = folder_.path();
  if (root.empty()) {
    error_ = "no temporary folder for cupsd";
    return false;
  }
  // The scheduler's jobs run as lp when it runs as root; they must reach the spool.
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  for (const char* sub : {"conf", "spool", "cache", "state", "log"}) {
    fs::create_directories(root / sub);
    if (std::string(sub) != "conf") fs::permissions(root / sub, fs::perms::all);
  }

  std::string printers;
  for (const auto& name : queues) {
    auto l = std::make_unique<Listener>();
    l->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(l->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(l->fd, 8);
    socklen_t len = sizeof addr;
    ::getsockname(l->fd, reinterpret_cast<sockaddr*>(&addr), &len);
    l->port = ntohs(addr.sin_port);
    Listener* raw = l.get();
    l->thread = std::thread([this, raw] {
      while (!raw->stopping) {
        pollfd p{raw->fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int c = ::accept4(raw->fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        char buffer[65536];
        for (;;) {
          const ssize_t n = ::read(c, buffer, sizeof buffer);
          if (n <= 0) break;
          std::lock_guard lock(mutex_);
          raw->bytes.append(buffer, static_cast<size_t>(n));
          changed_.notify_all();
        }
        ::close(c);
      }
    });
    const char* tag = printers.empty() ? "DefaultPrinter" : "Printer";
    printers += std::string("<") + tag + " " + name + ">\nInfo " + name + "\nDeviceURI socket://127.0.0.1:" +
                std::to_string(l->port) + "\nState Idle\nAccepting Yes\nShared No\n</Printer>\n";
    listeners_[name] = std::move(l);
  }

  port_ = freeLoopbackPort();
  const bool root_user = ::geteuid() == 0;
  std::string files = root_user ? "User lp\nGroup lp\nSystemGroup root\n" : "";
  files += "ServerRoot " + (root / "conf").string() + "\nRequestRoot " + (root / "spool").string() +
           "\nCacheDir " + (root / "cache").string() + "\nStateDir " + (root / "state").string() +
           "\nTempDir " + (root / "spool").string() + "\nAccessLog " + (root / "log/access_log").string() +
           "\nErrorLog " + (root / "log/error_log").string() + "\nPageLog " + (root / "log/page_log").string() +
           "\nPrintcap " + (root / "state/printcap").string() + "\nFileDevice No\n";
  writeFile(root / "conf/cups-files.conf", files);
  writeFile(root / "conf/cupsd.conf",
            "Listen 127.0.0.1:" + std::to_string(port_) +
                "\nLogLevel info\nBrowsing No\nBrowseLocalProtocols none\nDefaultAuthType None\nWebInterface No\n"
                "PreserveJobHistory Yes\nJobRetryLimit 0\n"
                "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
  writeFile(root / "conf/printers.conf", printers);
  if (!cupsd_.start({kCupsd, "-f", "-c", (root / "conf/cupsd.conf").string(), "-s",
                     (root / "conf/cups-files.conf").string()},
                    root / "log/cupsd.out", port_)) {
    error_ = cupsd_.error() + "\n" + log();
    return false;
  }
  return true;
}

void CupsdFixture::stop() {
  cupsd_.stop();
  for (auto& [name, l] : listeners_) {
    l->stopping = true;
    if (l->thread.joinable()) l->thread.join();
    if (l->fd >= 0) ::close(l->fd);
  }
  listeners_.clear();
}

std::string CupsdFixture::printed(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = listeners_.find(name);
  return it == listeners_.end() ? std::string() : it->second->bytes;
}

std::string CupsdFixture::waitForPrinted(const std::string& name, size_t bytes, std::chrono::seconds limit) {
  std::unique_lock lock(mutex_);
  auto it = listeners_.find(name);
  if (it == listeners_.end()) return {};
  Listener* l = it->second.get();
  changed_.wait_for(lock, limit, [&] { return l->bytes.size() >= bytes; });
  return l->bytes;
}

std::string CupsdFixture::log() const { return readFile(folder_.path() / "log/error_log"); }

}  // namespace services
