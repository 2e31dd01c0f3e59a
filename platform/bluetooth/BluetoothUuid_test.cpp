// Bluetooth UUIDs read from text: either case, the short forms of the Bluetooth base UUID,
// and texts that are not UUIDs.
#include "platform/bluetooth/BluetoothUuid.h"

#include <gtest/gtest.h>

namespace bluetooth {
namespace {

TEST(BluetoothUuid, TextsReadAsTheSameUuidOrNone) {
  struct Case {
    const char* text;
    const char* canonical;  // nullptr: not a UUID
  };
  const Case cases[] = {
      {"d839fc3c-84dd-4c36-9126-187b07255202", "D839FC3C-84DD-4C36-9126-187B07255202"},
      {"D839FC3C-84DD-4C36-9126-187B07255202", "D839FC3C-84DD-4C36-9126-187B07255202"},
      // The Bluetooth base UUID (Bluetooth Core, Vol 3, service discovery) under 16 and 32 bits.
      {"180A", "0000180A-0000-1000-8000-00805F9B34FB"},
      {"0000180a", "0000180A-0000-1000-8000-00805F9B34FB"},
      {"", nullptr},
      {"180", nullptr},
      {"D839FC3C-84DD-4C36-9126-187B0725520", nullptr},
      {"D839FC3C+84DD-4C36-9126-187B07255202", nullptr},
      {"G839FC3C-84DD-4C36-9126-187B07255202", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto u = Uuid::parse(c.text);
    if (!c.canonical) {
      EXPECT_FALSE(u);
      EXPECT_TRUE(Uuid::fromString(c.text).isNull());
      continue;
    }
    ASSERT_TRUE(u);
    EXPECT_EQ(u->string(), c.canonical);
    EXPECT_EQ(*u, Uuid::fromString(c.canonical));
  }
  const Uuid r = Uuid::random();
  EXPECT_EQ(r.string()[14], '4');  // version 4
  EXPECT_NE(r, Uuid::random());
}

}  // namespace
}  // namespace bluetooth
