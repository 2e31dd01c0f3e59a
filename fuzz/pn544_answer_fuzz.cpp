// Feeds arbitrary bytes to the pn544 driver: its link input (frames in pieces, with bad
// checks, zero and impossible lengths, fragments and events), and, inside well-formed link
// frames, arbitrary host controller answers to the commands of card set-up and exchange.
// Nothing may read outside what it was given, and every result must be a count or an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/rf/Pn544.h"
#include "sdk/rf/RFWrapper.h"

namespace {

using kestra::Bytes;

const uint8_t* gData = nullptr;
size_t gLeft = 0;
uint8_t gNs = 0;

// Every I-frame the host writes is answered at once with an I-frame whose message is the
// next length-prefixed piece of the input (always a response, always the last fragment).
class FuzzController final : public kestra::RFReaderTransport {
 public:
  std::optional<Bytes> rfReaderWrite(int, const uint8_t* data, int length, foundation::Error*) override {
    if (length < 4 || (data[1] & 0xC0) != 0x80) return Bytes{};
    Bytes message{0x80};
    if (gLeft > 0) {
      const size_t n = std::min<size_t>(gData[0] % 40, gLeft - 1);
      message.assign(gData + 1, gData + 1 + n);
      if (message.empty()) message.push_back(0x80);
      message[0] = uint8_t((message[0] & 0x3F) | 0x80);
      gData += n + 1;
      gLeft -= n + 1;
    }
    Bytes payload{uint8_t(0x80 | (data[2] & 0x7F))};
    payload.insert(payload.end(), message.begin(), message.end());
    const Bytes frame = kestra::pn544Frame(uint8_t(0x80 | (gNs++ & 7) << 3), payload);
    kestra::RFWrapper::dataAvaiable(frame);
    return Bytes{};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra;
  if (size < 1) return 0;
  RFWrapper::setCommDelegate(std::make_shared<FuzzController>());
  RFWrapper::setReaderType(kRFReaderPn544);
  rfInstallDriver(pn544CardTransceive, pn544CardTransmit);
  const size_t split = data[0] % size;
  gData = nullptr;
  gLeft = 0;
  for (size_t at = 1; at < split; at += 5) RFWrapper::dataAvaiable(Bytes(data + at, data + std::min(split, at + 5)));
  // A frame left unfinished above would swallow the answers below: bytes that cannot finish
  // it with a good check make the driver drop it.
  RFWrapper::dataAvaiable(Bytes(kPn544ReadBufSize, 0x00));

  gData = data + split;
  gLeft = size - split;
  for (int channel = 1; channel <= 4; ++channel) {
    rfUpdateCard(0, [&](RFCardEntry& e) {
      e = RFCardEntry{};
      e.readerType = kRFReaderPn544;
      e.channel = channel;
    });
    pn544InitCard(0);
    const auto card = rfCard(0);
    if (!card || card->uidLen < 0 || card->uidLen > 12) std::abort();
    const uint8_t frame[] = {0x00, 0x30, 0x04};
    if (pn544CardTransceive(channel, frame, sizeof frame, 0) > 0) std::abort();
  }
  uint8_t value = 0;
  if (pn544GetRegister(0x9F00, &value) > 0) std::abort();
  if (rfCmdAnswer().size() > kRFCmdBufSize) std::abort();
  RFWrapper::setCommDelegate(nullptr);
  return 0;
}
