#include "app/core/NetworkController.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/foundation/RunLoop.h"

using namespace orvo;
using foundation::RunLoop;

namespace {

// A loopback debug host: listens, accepts one peer, writes and reads raw bytes.
struct DebugHost {
  int listenFd = -1;
  int peer = -1;
  int port = 0;
  DebugHost() {
    listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd, 1);
    socklen_t len = sizeof a;
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~DebugHost() {
    if (peer >= 0) ::close(peer);
    ::close(listenFd);
  }
  void accept() { peer = ::accept(listenFd, nullptr, nullptr); }
  void send(const std::string& s) { ASSERT_EQ(::write(peer, s.data(), s.size()), ssize_t(s.size())); }
  std::string receive(size_t n) {
    std::string out;
    while (out.size() < n) {
      char buf[256];
      ssize_t r = ::read(peer, buf, std::min(sizeof buf, n - out.size()));
      if (r <= 0) break;
      out.append(buf, r);
    }
    return out;
  }
  void hangUp() {
    ::close(peer);
    peer = -1;
  }
};

struct Events {
  std::vector<std::string> messages;
  int opened = 0, failed = 0, closed = 0;
  void attach(NetworkController& c) {
    c.setMessageReceivedBlock([this](NetworkController&, const std::string& m) { messages.push_back(m); });
    c.setConnectionOpenedBlock([this](NetworkController&) { ++opened; });
    c.setConnectionFailedBlock([this](NetworkController&) { ++failed; });
    c.setConnectionClosedBlock([this](NetworkController&) { ++closed; });
  }
};

}  // namespace

TEST(NetworkController, SplitsMessagesAtTheDelimiterWhateverTheReadsCarry) {
  DebugHost host;
  NetworkController c("127.0.0.1", host.port);
  Events ev;
  ev.attach(c);
  c.connect();
  c.sendMessage("hello");  // queued while the connection is being opened
  EXPECT_FALSE(c.isConnected());
  host.accept();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.opened == 1; }));
  EXPECT_TRUE(c.isConnected());
  EXPECT_EQ(host.receive(6), "hello\r");

  host.send("A1\rB2\r");  // two messages in one read: two calls, in order
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.messages.size() == 2; }));
  EXPECT_EQ(ev.messages, (std::vector<std::string>{"A1", "B2"}));

  host.send("SPL");  // one message split across reads: one call, after its delimiter
  RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(ev.messages.size(), 2u);
  host.send("IT\rtail");
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.messages.size() == 3; }));
  EXPECT_EQ(ev.messages.back(), "SPLIT");

  // The peer goes: the bytes after the last delimiter are dropped, the closed block runs.
  host.hangUp();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.closed == 1; }));
  EXPECT_EQ(ev.messages.size(), 3u);
  EXPECT_FALSE(c.isConnected());
  EXPECT_EQ(ev.failed, 0);
}

TEST(NetworkController, ARefusedConnectionCallsTheFailedBlockAndMayBeRetried) {
  int port;
  {
    DebugHost gone;
    port = gone.port;
  }
  NetworkController c("127.0.0.1", port);
  Events ev;
  ev.attach(c);
  c.connect();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.failed == 1; }));
  EXPECT_EQ(ev.closed, 0);
  EXPECT_EQ(ev.opened, 0);

  NetworkController unknown("", port);  // no stream pair can be made
  Events ev2;
  ev2.attach(unknown);
  unknown.connect();
  EXPECT_EQ(ev2.failed, 1);
}

TEST(NetworkController, DisconnectAfterOpeningCallsTheClosedBlockAndConnectOpensAgain) {
  DebugHost host;
  NetworkController c("127.0.0.1", host.port);
  Events ev;
  ev.attach(c);
  c.connect();
  host.accept();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.opened == 1; }));
  c.connect();  // already open: nothing happens
  c.disconnect();
  EXPECT_EQ(ev.closed, 1);
  host.hangUp();
  c.connect();
  host.accept();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return ev.opened == 2; }));
  c.sendMessage("again");
  EXPECT_EQ(host.receive(6), "again\r");
}
