// Feeds arbitrary card answers to the ISO 15693, ST SRI and FeliCa commands (system
// information, block reads, FeliCa reads and the smart tag's status and memory answers).
// Nothing may read outside what it was given, every result must be a count or an error
// code, and what a command hands back must be what it says it read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/rf/Felica.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFWrapper.h"

namespace {

const uint8_t* gAnswers = nullptr;
size_t gLeft = 0;

// A card whose answers are the input, one length-prefixed answer per exchange.
int fuzzTransceive(int, const uint8_t*, int, int) {
  if (gLeft == 0) return -6;
  const size_t n = std::min<size_t>(gAnswers[0], gLeft - 1);
  kestra::rfSetCmdAnswer(gAnswers + 1, n);
  gAnswers += n + 1;
  gLeft -= n + 1;
  return 0;
}
int fuzzTransmit(int, const uint8_t*, int) { return 0; }

void card(int channel, int uidLen, int blockSize) {
  kestra::rfUpdateCard(0, [&](kestra::RFCardEntry& e) {
    e = kestra::RFCardEntry{};
    e.channel = channel;
    e.uidLen = uidLen;
    e.blockSize = blockSize;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra;
  rfInstallDriver(fuzzTransceive, fuzzTransmit);
  gAnswers = data;
  gLeft = size;
  foundation::Bytes out;

  card(kRFChannelIso15693, 8, 4);
  iso15InitCard(0);
  const auto entry = rfCard(0);
  if (!entry || entry->blockSize < 0 || entry->blockSize > 32) std::abort();
  int count = 3;
  if (iso15Read(0, 0, &count, &out) > 0 || count < 0 || count > 3) std::abort();
  if (iso15GetBlocksSecurityStatus(0, 0, 4, &out) > int(out.size())) std::abort();
  card(kRFChannelIso15693, 8, 4);
  count = 2;
  iso15Write(0, 0, &count, foundation::Bytes(8, 0x11));
  iso15WriteAFI(0, 1);

  card(kRFChannelStSri, 8, 4);
  uint8_t block[4], uid[8];
  stSRIReadBlock(0, 7, block);
  stSRIGetUID(0, uid);

  card(kRFChannelFelica, 8, 16);
  out.clear();
  if (felicaRead(0, 0x1009, 0, 2, &out) == 0 && out.size() % 16 != 0) std::abort();
  uint8_t idm[8];
  felicaPoll(0, idm);
  int battery = 0;
  felicaSmartTagGetBatteryStatus(0, &battery);
  out.clear();
  if (felicaSmartTagRead(0, 0x10, 40, &out) == 0 && out.size() != 40) std::abort();
  if (rfCmdAnswer().size() > kRFCmdBufSize) std::abort();
  rfInstallDriver(nullptr, nullptr);
  return 0;
}
