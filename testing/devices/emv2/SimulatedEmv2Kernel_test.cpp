// The scripted kernel's own rules: downloads checked against their announced length, the
// version and CRC kept per slot, and a transaction that waits for a card of its interfaces.

#include <gtest/gtest.h>

#include "testing/devices/emv2/SimulatedEmv2Kernel.h"

namespace devices {
namespace {

Bytes hex(std::string_view h) { return foundation::fromHex(h).value(); }

TEST(SimulatedEmv2Kernel, KeepsDownloadsWithTheirVersionAndCrc) {
  EXPECT_EQ(SimulatedEmv2Kernel::crc32(foundation::bytesOf("123456789")), 0xCBF43926u);
  SimulatedEmv2Kernel k;
  std::vector<Bytes> events;
  ASSERT_TRUE(k.handle(hex("5100040000000C"), events));
  ASSERT_TRUE(k.handle(hex("5200DF010131E406C104"), events));
  ASSERT_TRUE(k.handle(hex("520000000005"), events));
  ASSERT_TRUE(k.handle(hex("5300"), events));
  const auto& slot = k.slots().at(4);
  EXPECT_EQ(slot.version, 5u);
  EXPECT_EQ(slot.crc, SimulatedEmv2Kernel::crc32(hex("DF010131E406C10400000005")));
  EXPECT_EQ(foundation::toHex(*k.handle(hex("0200"), events)).substr(0, 16), "0200C10400000000");
  EXPECT_NE(foundation::toHex(*k.handle(hex("0200"), events)).find("C60400000005"), std::string::npos);

  // A download shorter or longer than announced is refused.
  ASSERT_TRUE(k.handle(hex("51000100000003"), events));
  ASSERT_TRUE(k.handle(hex("5200AA"), events));
  EXPECT_FALSE(k.handle(hex("5300"), events));
  ASSERT_TRUE(k.handle(hex("51000100000001"), events));
  EXPECT_FALSE(k.handle(hex("5200AABB"), events));
  EXPECT_TRUE(events.empty());
}

TEST(SimulatedEmv2Kernel, TransactionWaitsForACardOfItsInterfaces) {
  SimulatedEmv2Kernel k;
  std::vector<Bytes> events;
  EXPECT_FALSE(k.handle(hex("0300021E"), events));  // not initialised
  ASSERT_TRUE(k.handle(hex("6100"), events));
  ASSERT_TRUE(k.handle(hex("0300011E9F0206000000001234"), events));
  SimulatedEmv2Kernel::Card card;
  card.interface = 2;
  card.tags = hex("5A0112");
  EXPECT_TRUE(k.presentCard(card).empty());  // contactless, but the start asked for contact
  card.interface = 1;
  const auto started = k.presentCard(card);
  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(foundation::toHex(started[0]), "85000001");
  EXPECT_EQ(foundation::toHex(started[2]), "81005A01129F0206000000001234");
  ASSERT_TRUE(k.handle(hex("0400C20101E6048A023030"), events));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(foundation::toHex(events[0]), "8300C1020100C30101");
  EXPECT_FALSE(k.running());
  EXPECT_TRUE(k.timeOut().empty());
  EXPECT_EQ(k.removeCard().size(), 1u);  // the card event only
}

}  // namespace
}  // namespace devices
