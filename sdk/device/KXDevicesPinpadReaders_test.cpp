// The pinpad's card readers through the facade, the real pinpad adapter and driver and the
// simulated pinpad: a contactless card found and read through the pinpad's own reader
// (an rc663 module inside the simulated pinpad), and the last swiped card's tracks read
// encrypted under a pinpad key.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "sdk/rf/KXRFCardInfo.h"
#include "sdk/rf/RFWrapper.h"
#include "testing/devices/rf/SimulatedRc663.h"

namespace kestra::testing {
namespace {

using devices::PinpadModel;
using devices::RfCard;
using foundation::Bytes;
using foundation::fromHex;
using foundation::toHex;

class CardDelegate final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  CardDelegate() { declare({kxsel::rfCardDetected, kxsel::rfCardRemoved}); }
  std::shared_ptr<KXRFCardInfo> last;
  void rfCardDetected(int index, const std::shared_ptr<KXRFCardInfo>& info) override {
    last = info;
    record("detected:" + std::to_string(index) + ":" + (info ? info->typeStr : "?"));
  }
  void rfCardRemoved(int index) override { record("removed:" + std::to_string(index)); }
};

// The pinpad persona with an rc663 reader in place of its other one.
devices::PinpadPersona withRc663() {
  auto p = devices::PinpadPersona::skyrik5000g();
  p.featureString = "XBR6CMEVSCBL";
  return p;
}

TEST(PinpadReaders, AContactlessCardIsFoundAndReadThroughThePinpadsReader) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect(withRc663()));
  auto module = std::make_shared<devices::SimulatedRc663>();
  module->onReply = f.bench.device->attachRfReader([module](const Bytes& frame) { module->receive(frame); });
  auto cards = std::make_shared<CardDelegate>();
  f.facade->addDelegate(cards);

  Error e;
  ASSERT_TRUE(f.facade->rfInit(0x03, &e)) << e.text;
  ASSERT_FALSE(module->received().empty());  // the reader was set up through the pinpad
  module->place(RfCard::mifareClassic1K(*fromHex("0A0B0C0D")));
  ASSERT_TRUE(f.bench.runUntil([&] { return cards->last != nullptr; }));
  EXPECT_EQ(cards->last->typeStr, "Mifare Classic 1K");
  EXPECT_EQ(toHex(cards->last->UID), "0A0B0C0D");

  ASSERT_TRUE(f.facade->mfAuthByKey(0, 'A', 4, Bytes(6, 0xFF), &e)) << e.text;
  const Bytes data = *fromHex("00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(f.facade->mfWrite(0, 4, data, &e), 16) << e.text;
  const auto back = f.facade->mfRead(0, 4, 16, &e);
  ASSERT_TRUE(back) << e.text;
  EXPECT_EQ(*back, data);
  // Every frame went to the pinpad's reader group; the answers came back as RF data packets.
  EXPECT_FALSE(testsupport::sentWith(*f.bench.device, 0x39, {}).empty());

  EXPECT_TRUE(f.facade->rfClose(&e)) << e.text;
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
}

// Triple-DES CBC decryption with a zero vector under a two-key key.
Bytes cbcDecrypt(const Bytes& key16, const Bytes& data) {
  Bytes key = key16;
  key.insert(key.end(), key16.begin(), key16.begin() + 8);
  const Bytes iv(8, 0);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(data.size() + 8);
  int n = 0, m = 0;
  EVP_DecryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_DecryptUpdate(ctx, out.data(), &n, data.data(), int(data.size()));
  EVP_DecryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

TEST(PinpadReaders, TheLastCardsTracksComeBackEncryptedUnderAPinpadKey) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  const Bytes key = *fromHex("0123456789ABCDEF1032547698BADCFE");
  const std::string tracks = ";4000000000000002=25121010000000000000?";
  f.bench.device->withModel([&](PinpadModel& m) {
    m.keys[3].value = key;
    m.cardTracks = foundation::bytesOf(tracks);
  });
  Error e;
  const auto block = f.facade->msGetCardTracksEncryptedWithFormat(7, 3, {}, &e);
  ASSERT_TRUE(block) << e.text;
  ASSERT_GT(block->size(), 1u);
  EXPECT_EQ((*block)[0] & 0xF8, 0x38);  // Triple-DES, then the tracks read
  const Bytes plain = cbcDecrypt(key, Bytes(block->begin() + 1, block->end()));
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + long(tracks.size())), tracks);

  // Without a card the pinpad has nothing to give: its status as the error.
  f.bench.device->withModel([&](PinpadModel& m) { m.cardTracks.clear(); });
  EXPECT_FALSE(f.facade->msGetCardTracksEncryptedWithFormat(7, 3, {}, &e));
  EXPECT_EQ(e.code, -16508);
}

}  // namespace
}  // namespace kestra::testing
