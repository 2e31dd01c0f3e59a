// Fingerprint commands (their request bytes and reply parsing, through a recording
// transport behind `touchTransmit`) and the pinpad's Viva Wallet pass-through.

#include <gtest/gtest.h>

#include <deque>

#include "sdk/device/KXDevicesInternal.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra::testing {
namespace {

using foundation::bytesOf;
using foundation::toHex;

// A fingerprint module behind the device API: records each request and answers the next
// scripted reply (nothing once they run out).
struct TouchModule {
  std::vector<Bytes> requests;
  std::deque<std::optional<Bytes>> replies;
  void install(KXDevices& api) {
    api.setTouchTransport([this](const Bytes& request, Error*) -> std::optional<Bytes> {
      requests.push_back(request);
      if (replies.empty()) return std::nullopt;
      auto r = replies.front();
      replies.pop_front();
      return r;
    });
  }
  void answer(const std::string& text) { replies.push_back(bytesOf(text)); }
};

TEST(KXDevicesFingerprint, RepliesParseByTheirDecimalStatus) {
  struct Case {
    const char* name;
    std::optional<std::string> reply;
    std::optional<std::string> payload;  // nothing: failure
    int code;                            // of the error on failure; 0: no error
  } kCases[] = {
      {"success with payload", "0,7", "7", 0},
      {"leading noise skipped", "x0;abc", "abc", 0},
      {"empty payload", "0,", "", 0},
      {"status without separator", "0", "", 0},
      {"failure status", "12:", std::nullopt, 12},
      {"no status digit at all", "OK", std::nullopt, -6},
      {"empty reply", "", std::nullopt, -6},
      {"no reply", std::nullopt, std::nullopt, 0},
      {"huge status saturates", "99999999999999999999,", std::nullopt, 2147483647},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Error e;
    const auto reply = c.reply ? std::optional<Bytes>(bytesOf(*c.reply)) : std::nullopt;
    const auto text = touchParseResponseAsString(reply, &e);
    EXPECT_EQ(text, c.payload);
    EXPECT_EQ(e.code, c.code);
    if (c.code != 0) {
      EXPECT_EQ(e.text, "Touch failed");
    }
  }
}

TEST(KXDevicesFingerprint, RequestsCarryTheirGoldenBytes) {
  ApiFixture f;
  TouchModule m;
  m.install(*f.api);
  int slot = -1;
  f.api->touchEnrolIdentityString("AB", &slot);
  f.api->touchDeleteIdentityInSlot(5);
  f.api->touchCheckIdentity();
  f.api->touchListSlots();
  f.api->_touchGetIdentityWithImageSize(1, 2, 3);
  f.api->touchGetImageData(4096, 2044);
  f.api->touchWipeIdentity();
  f.api->touchGetLibraryInformation();
  f.api->touchGetTemplateWithFormat(0x103);  // one-byte parameters take the low byte
  f.api->touchGetTemplateWithFormat(2, 9);
  f.api->touchSetTemplateWithFormat(1, Bytes{0xDE, 0xAD}, &slot);
  f.api->touchGetTemplateWithFormat(3, std::vector<KXTouchTemplate>{{1, {0xAA}}, {2, {0xBB, 0xCC}}}, nullptr);
  const std::vector<std::string> golden = {
      "A1024142",
      "A205",
      "A3",
      "A4",
      "A6010203",
      "A700001000000007FC",
      "A8",
      "A9",
      "AA03",
      "AB0902",
      "AC0100000002DEAD",
      "AD030201000000 01AA0200000002BBCC",
  };
  ASSERT_EQ(m.requests.size(), golden.size());
  for (size_t i = 0; i < golden.size(); ++i) {
    std::string want = golden[i];
    std::erase(want, ' ');
    EXPECT_EQ(toHex(m.requests[i]), want) << i;
  }
}

TEST(KXDevicesFingerprint, WithoutATransportCommandsFailQuietly) {
  ApiFixture f;
  Error e;
  int slot = -1;
  const Bytes identity(100, 'x');
  EXPECT_FALSE(f.api->touchEnrolIdentity(identity, &slot, &e));
  EXPECT_EQ(e.code, 0);
  EXPECT_EQ(slot, -1);
  EXPECT_FALSE(f.api->touchListSlots(&e));
  EXPECT_FALSE(f.api->touchGetIdentityWithImageSize(1, 1, 0, &e));
  EXPECT_EQ(f.api->_touchGetIdentityWithImageSize(1, 1, 0, &e), 0);
  EXPECT_EQ(e.code, 0);
  KXDevices::debugTCPSetAddress("10.0.0.1", 9000);  // accepted, nothing happens

  // Arguments that do not fit are refused before anything is built.
  TouchModule m;
  m.install(*f.api);
  EXPECT_FALSE(f.api->touchEnrolIdentity(Bytes(101, 'x'), &slot, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_EQ(e.text, "The parameter 'identity' contains too much data");
  EXPECT_FALSE(f.api->touchDeleteIdentityInSlot(256, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_FALSE(f.api->touchDeleteIdentityInSlot(-1, &e));
  EXPECT_FALSE(f.api->touchGetImageData(-1, 10, &e));
  EXPECT_FALSE(f.api->touchSetTemplateWithFormat(1, Bytes(1019, 0), &slot, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_FALSE(f.api->touchGetTemplateWithFormat(1, std::vector<KXTouchTemplate>(2, {1, Bytes(510, 0)}), &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_TRUE(m.requests.empty());
  // The largest template that fits still goes out.
  m.answer("0,4");
  EXPECT_TRUE(f.api->touchSetTemplateWithFormat(1, Bytes(1018, 0), &slot, &e));
  EXPECT_EQ(m.requests.back().size(), 1024u);
  EXPECT_EQ(slot, 4);
}

TEST(KXDevicesFingerprint, RepliesBecomeSlotsListsAndIdentities) {
  ApiFixture f;
  TouchModule m;
  m.install(*f.api);
  Error e;
  int slot = -1;
  m.answer("0,7");
  EXPECT_TRUE(f.api->touchEnrolIdentityString("Jo", &slot, &e));
  EXPECT_EQ(slot, 7);
  // A refused enrolment is no success, and leaves the slot alone.
  slot = -1;
  m.answer("3,");
  EXPECT_FALSE(f.api->touchEnrolIdentityString("Jo", &slot, &e));
  EXPECT_EQ(e.code, 3);
  EXPECT_EQ(slot, -1);

  m.answer("0,1,3,10");
  EXPECT_EQ(f.api->touchListSlots(&e), (std::vector<int>{1, 3, 10}));
  m.answer("0,2,Jo");
  const auto who = f.api->touchCheckIdentity(&e);
  ASSERT_TRUE(who);
  EXPECT_EQ(who->slot, 2);
  m.answer("0,lib 1.0");
  EXPECT_EQ(f.api->touchGetLibraryInformation(&e), "lib 1.0");
  m.answer("5,");
  EXPECT_FALSE(f.api->touchWipeIdentity(&e));
  EXPECT_EQ(e.code, 5);
}

TEST(KXDevicesFingerprint, AFingerImageIsReadInPiecesAndAMissingPieceEndsIt) {
  ApiFixture f;
  TouchModule m;
  m.install(*f.api);
  auto lengthReply = [](uint32_t n) {
    Bytes r = bytesOf("0,");
    foundation::appendBE32(r, n);
    return r;
  };
  const uint32_t size = 5000;
  m.replies.push_back(lengthReply(size));
  for (uint32_t at = 0; at < size; at += 2044) {
    Bytes piece = bytesOf("0,");
    piece.insert(piece.end(), std::min<uint32_t>(2044, size - at), uint8_t(at / 2044 + 1));
    m.replies.push_back(piece);
  }
  Error e;
  const auto image = f.api->touchGetIdentityWithImageSize(1, 1, 0, &e);
  ASSERT_TRUE(image) << e.text;
  ASSERT_EQ(m.requests.size(), 4u);
  EXPECT_EQ(toHex(m.requests[1]), "A70000000000000" "7FC");
  EXPECT_EQ(toHex(m.requests[2]), "A7000007FC000007FC");
  EXPECT_EQ(toHex(m.requests[3]), "A700000FF800000390");  // the last 912 bytes

  // An empty or short piece ends the reading instead of asking for it forever.
  for (const char* piece : {"0,", "0,abc"}) {
    m.requests.clear();
    m.replies = {lengthReply(3000), bytesOf(piece)};
    EXPECT_FALSE(f.api->touchGetIdentityWithImageSize(1, 1, 0, &e));
    EXPECT_EQ(m.requests.size(), 2u);
  }
}

TEST(KXDevicesFingerprint, VivaWalletGoesToThePinpadOnly) {
  {
    ApiFixture f;
    f.sleeveState(2);  // the device API is connected, but not to a pinpad
    Error e;
    const uint8_t data[] = {1, 2, 3};
    EXPECT_FALSE(f.api->vivaWalletCommand(data, 3, 5.0, &e));
    EXPECT_EQ(e.code, -7);
    EXPECT_FALSE(f.api->secureReaderCommand(Bytes{1}, 5.0, &e));
    EXPECT_EQ(e.code, -7);
  }
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  Error e;
  // The simulated pinpad's wallet channel echoes the request: its first two bytes are the
  // pinpad's own, the rest is the answer.
  const uint8_t data[] = {0x10, 0x20, 0x30, 0x40};
  EXPECT_EQ(f.api->vivaWalletCommand(data, 4, 5.0, &e), (Bytes{0x30, 0x40})) << e.text;
  EXPECT_EQ(testsupport::sentData(*f.bench.device, 0x60).back(), (Bytes{0x10, 0x20, 0x30, 0x40}));
  // An answer too short to carry anything is empty.
  EXPECT_EQ(f.api->vivaWalletCommand(data, 1, 5.0, &e), Bytes{});
}

}  // namespace
}  // namespace kestra::testing
