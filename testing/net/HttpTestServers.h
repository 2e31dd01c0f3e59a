#pragma once
// Small servers on loopback for the HTTP tests (test code only, never installed).
//
// `RawHttpServer` records every request exactly as it arrived on the wire (request line,
// headers in their order, body) and either answers with a fixed reply or never answers at
// all, holding the connection open. It also counts connections and notices when the
// client closes one. `makeSelfSignedCertificate` writes a certificate and key for
// "localhost" / 127.0.0.1 for HTTPS tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace net::testing {

class RawHttpServer {
 public:
  // `reply` is written once per request; empty means never answer.
  explicit RawHttpServer(std::string reply) : reply_(std::move(reply)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listenFd_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    ::pipe(stopPipe_);
    thread_ = std::thread([this] { loop(); });
  }

  ~RawHttpServer() {
    char c = 0;
    (void)!::write(stopPipe_[1], &c, 1);
    thread_.join();
    for (auto& conn : conns_) ::close(conn.fd);
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
  }

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
  }
  int closedByClient() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }
  // Waits (real time, bounded) until `pred()` holds; for events that come from the client.
  template <class Pred>
  bool waitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return pred(*this); });
  }
  // Unlocked readers for use inside `waitFor`'s predicate.
  size_t requestCountLocked() const { return requests_.size(); }
  int closedLocked() const { return closed_; }

 private:
  struct Conn {
    int fd;
    std::string buffer;
    bool open = true;
  };

  void loop() {
    for (;;) {
      std::vector<pollfd> fds{{stopPipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
      for (auto& c : conns_)
        if (c.open) fds.push_back({c.fd, POLLIN, 0});
      ::poll(fds.data(), fds.size(), -1);
      if (fds[0].revents) return;
      if (fds[1].revents & POLLIN) {
        int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd >= 0) {
          conns_.push_back({fd, {}});
          std::lock_guard<std::mutex> lock(mutex_);
          ++accepted_;
          cv_.notify_all();
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        for (auto& c : conns_)
          if (c.fd == fds[i].fd && c.open) readFrom(c);
      }
    }
  }

  void readFrom(Conn& c) {
    char buf[65536];
    ssize_t n = ::read(c.fd, buf, sizeof buf);
    if (n <= 0) {
      c.open = false;
      std::lock_guard<std::mutex> lock(mutex_);
      ++closed_;
      cv_.notify_all();
      return;
    }
    c.buffer.append(buf, static_cast<size_t>(n));
    for (;;) {
      size_t end = c.buffer.find("\r\n\r\n");
      if (end == std::string::npos) return;
      size_t bodyLength = 0;
      std::string head = c.buffer.substr(0, end);
      for (size_t pos = 0; pos < head.size();) {
        size_t eol = head.find("\r\n", pos);
        if (eol == std::string::npos) eol = head.size();
        std::string line = head.substr(pos, eol - pos);
        if (strncasecmp(line.c_str(), "content-length:", 15) == 0)
          bodyLength = std::stoul(line.substr(15));
        pos = eol + 2;
      }
      if (c.buffer.size() < end + 4 + bodyLength) return;
      std::string request = c.buffer.substr(0, end + 4 + bodyLength);
      c.buffer.erase(0, request.size());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        cv_.notify_all();
      }
      if (!reply_.empty()) (void)!::write(c.fd, reply_.data(), reply_.size());
    }
  }

  std::string reply_;
  int listenFd_ = -1;
  int port_ = 0;
  int stopPipe_[2] = {-1, -1};
  std::thread thread_;
  std::vector<Conn> conns_;  // server thread only
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> requests_;
  int accepted_ = 0;
  int closed_ = 0;
};

// A socket on loopback that listens but never accepts: connections complete in the
// kernel, and a client can send only as much as the socket buffers take.
class UnacceptedListener {
 public:
  UnacceptedListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~UnacceptedListener() { ::close(fd_); }
  std::string url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A TCP socket bound to a loopback port the system chose, not listening; its port in `port`.
inline int bindLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

// A port on loopback that nothing listens on. The socket stays bound, never listening, for
// the rest of the process: a connection to the port is refused, and no other socket (a
// server of a test running beside, or a client's own ephemeral port) can take it meanwhile,
// as it could once a closed port went back to the pool.
inline int closedPort() {
  int port = 0;
  bindLoopback(port);
  return port;
}

// A port on loopback that was free a moment ago, for a program a test starts to listen on.
// Unlike `closedPort`, nothing keeps it: another socket may take it before the program does.
inline int freePort() {
  int port = 0;
  ::close(bindLoopback(port));
  return port;
}

// Writes a self-signed certificate for "localhost" and 127.0.0.1 and its key as PEM files.
inline bool makeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  if (!key) return false;
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  const char* exts[][2] = {{"subjectAltName", "DNS:localhost,IP:127.0.0.1"},
                           {"basicConstraints", "critical,CA:TRUE"}};
  for (auto& e : exts) {
    X509_EXTENSION* ext = X509V3_EXT_nconf(nullptr, &ctx, e[0], e[1]);
    if (ext) {
      X509_add_ext(cert, ext, -1);
      X509_EXTENSION_free(ext);
    }
  }
  X509_sign(cert, key, EVP_sha256());
  bool ok = false;
  if (FILE* f = std::fopen(certPath.c_str(), "w")) {
    ok = PEM_write_X509(f, cert) == 1;
    std::fclose(f);
  }
  if (FILE* f = std::fopen(keyPath.c_str(), "w")) {
    ok = ok && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(f);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

}  // namespace net::testing
