#include "platform/accessory/SocketStreams.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace accessory {
namespace {

// A listening socket on an ephemeral loopback port.
struct Listener {
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
  int fd = -1;
  uint16_t port = 0;
};

TEST(SocketStreams, TcpConnectsToAListenerAndSaysWhyItCannot) {
  uint16_t closedPort;
  {
    Listener listener;
    foundation::Error e;
    auto pair = connectTcpStreamPair("127.0.0.1", listener.port, &e);
    ASSERT_TRUE(pair) << e.text;
    EXPECT_TRUE(pair->input && pair->output);
    closedPort = listener.port;
  }
  foundation::Error e;
  EXPECT_FALSE(connectTcpStreamPair("127.0.0.1", closedPort, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_NE(e.text.find("Cannot connect to 127.0.0.1:"), std::string::npos) << e.text;
  EXPECT_FALSE(connectTcpStreamPair("no-such-host.invalid", 9100, &e));
  EXPECT_NE(e.text.find("Cannot resolve"), std::string::npos) << e.text;
}

TEST(SocketStreams, RfcommChecksItsAddressAndNamesAMissingStack) {
  EXPECT_EQ(parseBluetoothAddress("00:11:22:aa:BB:cc"), (std::array<uint8_t, 6>{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC}));
  EXPECT_FALSE(parseBluetoothAddress("00:11:22:aa:BB"));
  EXPECT_FALSE(parseBluetoothAddress("00:11:22:aa:BB:cg"));
  foundation::Error e;
  EXPECT_FALSE(connectRfcommStreamPair("nonsense", 1, &e));
  EXPECT_EQ(e.code, -9);
  // No device answers at this address: either the kernel has no Bluetooth sockets (said so)
  // or the connect fails with its reason.
  EXPECT_FALSE(connectRfcommStreamPair("00:00:00:00:00:01", 1, &e));
  const bool noStack = e.code == -7 && e.text.find("Bluetooth sockets are not available") != std::string::npos;
  const bool failed = e.code == -20 && !e.text.empty();
  EXPECT_TRUE(noStack || failed) << e.code << " " << e.text;
}

}  // namespace
}  // namespace accessory
