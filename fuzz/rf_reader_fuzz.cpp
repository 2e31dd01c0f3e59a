// Feeds arbitrary bytes to the contactless stack from both sides it reads: the rc663
// module's input (replies and card events, in pieces) and the answers cards give to the
// ISO 14443 and Mifare commands. Nothing may read outside what it was given, and every
// result must be a count or an error code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sdk/rf/Iso14.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/rf/Rc663.h"
#include "sdk/transport/GlobalQueue.h"

namespace {

const uint8_t* gAnswers = nullptr;
size_t gLeft = 0;

// A card whose answers are the fuzz input, one length-prefixed answer per exchange.
int fuzzTransceive(int, const uint8_t*, int, int) {
  if (gLeft == 0) return -6;
  size_t n = std::min<size_t>(gAnswers[0], gLeft - 1);
  kestra::rfSetCmdAnswer(gAnswers + 1, n);
  gAnswers += n + 1;
  gLeft -= n + 1;
  return 0;
}
int fuzzTransmit(int, const uint8_t*, int) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra;
  if (size < 2) return 0;
  // No host device: card set-up commands fail at once instead of waiting for replies.
  RFWrapper::setCommDelegate(nullptr);
  RFWrapper::setReaderType(kRFReaderRc663);
  const size_t split = data[0] % (size - 1) + 1;
  rfInstallDriver(fuzzTransceive, fuzzTransmit);
  gAnswers = data + split;
  gLeft = size - split;
  // Card events are handled on the SDK's workers and may ask the card (the answers) too:
  // they finish before this thread asks, and before the input they read is gone.
  for (size_t at = 1; at < split; at += 7) rc663DataAvailable(data + at, int(std::min<size_t>(7, split - at)));
  GlobalQueue::waitIdle();

  rfUpdateCard(0, [](RFCardEntry& e) {
    e = RFCardEntry{};
    e.channel = 1;
    e.uidLen = 4;
    e.type = kCardMifareClassic1K;
  });
  uint8_t block[16];
  if (mfRead16(0, 4, block) > 0) std::abort();
  foundation::Bytes out;
  uint8_t status = 0;
  const uint8_t apdu[] = {0x00, 0xA4, 0x04, 0x00};
  if (iso14Transieve(0, apdu, 4, &out, &status) > 0) std::abort();
  rfUpdateCard(0, [](RFCardEntry& e) { e.atsValid = 1; });
  uint16_t sw = 0;
  const int n = iso14APDU(0, 0x00, 0xB0, 0, 0, {}, &out, 0, &sw);
  if (n >= 0 && size_t(n) != out.size()) std::abort();
  iso14GetATS(0, &out);
  GlobalQueue::waitIdle();
  rfInstallDriver(nullptr, nullptr);
  gLeft = 0;
  return 0;
}
