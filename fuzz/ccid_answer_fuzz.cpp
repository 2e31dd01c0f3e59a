// Feeds arbitrary bytes to the omniKey driver from the two sides it reads: the reader's
// answers to its CCID messages (every exchange kind: storage-card APDUs for Mifare and ISO
// 15693 frames, raw APDUs, reader commands) and its unasked input (slot notifications).
// Nothing may read outside what it was given, every result must be a count or an error
// code, and a card may only ever land in the card table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/rf/OmniKey.h"
#include "sdk/rf/RFWrapper.h"

namespace {

using kestra::Bytes;

const uint8_t* gData = nullptr;
size_t gLeft = 0;

// Answers each message with the next length-prefixed piece of the input.
class FuzzReader final : public kestra::RFReaderTransport {
 public:
  std::optional<Bytes> rfReaderWrite(int, const uint8_t*, int, foundation::Error* error) override {
    if (gLeft == 0) {
      if (error) error->code = -6;
      return std::nullopt;
    }
    const size_t n = std::min<size_t>(size_t(gData[0]) * 2, gLeft - 1);
    Bytes answer(gData + 1, gData + 1 + n);
    gData += n + 1;
    gLeft -= n + 1;
    return answer;
  }
};

void initialiseOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  kestra::RFWrapper::setCommDelegate(std::make_shared<FuzzReader>());
  kestra::RFWrapper::setReaderType(kestra::kRFReaderOmniKey);
  kestra::omniKeyInit(1, 0x27);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra;
  initialiseOnce();
  if (size < 1) return 0;
  // The answer reader on the whole input.
  Bytes block;
  const int n = omniKeyParseDataBlock(data, size, &block);
  if (n >= 0 && (size_t(n) != block.size() || block.size() + kCcidHeaderSize > size)) std::abort();
  // Unasked input in pieces of up to four bytes.
  const size_t split = data[0] % size;
  for (size_t at = 1; at < split; at += 3) omniKeyDataAvailable(data + at, int(std::min<size_t>(3, split - at)));

  gData = data + split;
  gLeft = size - split;
  uint16_t sw = 0;
  Bytes out;
  const uint8_t apdu[] = {0xFF, 0xCA, 0x00, 0x00, 0x00};
  const int r = iClassAPDU(0, apdu, sizeof apdu, &sw, &out);
  if (r >= 0 && size_t(r) != out.size()) std::abort();
  const Bytes frames[] = {
      {0x30, 0x04},
      {0xA0, 0x04, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
      {0x60, 0x04, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x02, 0x04, 0x00, 0x01},
  };
  for (const auto& f : frames)
    if (rfCardTransceive(kRFChannelIso14443A, f.data(), int(f.size())) > 0) std::abort();
  const Bytes iso15[] = {{0x22, 0x20, 1, 2, 3, 4, 5, 6, 7, 8, 0x03}, {0x02, 0x21, 0x03, 1, 2, 3, 4}};
  for (const auto& f : iso15)
    if (rfCardTransceive(kRFChannelIso15693, f.data(), int(f.size())) > 0) std::abort();
  const Bytes reader[] = {{'O', 'M', 'N', 'I', 1}, {'O', 'M', 'N', 'I', 2, 0x00, 0xA4, 0x04, 0x00}, {'O', 'M', 'N', 'I', 3, 9}};
  for (const auto& f : reader)
    if (rfCardTransceive(kOmniKeyCardChannel, f.data(), int(f.size())) > 0) std::abort();
  if (rfCmdAnswer().size() > kRFCmdBufSize) std::abort();
  for (int i = 0; i < kRFMaxCards; ++i) omniKeyResumeLoop(i);
  return 0;
}
