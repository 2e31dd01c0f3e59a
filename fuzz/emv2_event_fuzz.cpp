// Feeds arbitrary EMV kernel event packets to the device API's event parser
// (`kxdev_emv2Event`), over fake drivers whose kernel answers the parser's own commands
// (online result, card tracks, masked tracks, application choice) with bytes from the input.
// The first byte chooses the set-up: sleeve or pinpad kernel, newer or older kernel, whether
// the application answers the callbacks, magnetic-stripe emulation and its short flow. The
// rest is a series of [length][packet]; the last packet doubles as the kernel's answer to
// the card-data reads and is read as a configuration blob too. Nothing may read past a
// buffer or throw.
#include <cstddef>
#include <cstdint>

#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/device/KXDevicesEmv2Fixture.h"

using namespace kestra;
using namespace kestra::testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t setup = data[0];
  Emv2Api f;
  const int feature = (setup & 2) ? 6 : 2;
  if (setup & 1)
    f.pinpadWithKernel(feature);
  else
    f.sleeveWithKernel(feature);
  std::vector<std::string_view> answered;
  if (setup & 4)
    answered = {kxsel::emv2OnOnlineProcessing, kxsel::emv2OnApplicationSelection, kxsel::emv2OnUserInterfaceCode,
                kxsel::emv2OnTransactionFinished, kxsel::emv2CardEventOnInterface, kxsel::emv2TipEntryFailedWithError,
                kxsel::emv2TipEntryCompletWithAmount, kxsel::emv2OnAppleVASProcessedWithResult,
                kxsel::emv2OnGoogleVASProcessedWithResult, kxsel::emv2OnCardReadWithData, kxsel::magneticCardData_source,
                kxsel::magneticCardEncryptedData_masked_source, kxsel::magneticCardReadFailed_reason};
  auto app = f.emvDelegate(answered);

  std::vector<Bytes> packets;
  size_t i = 1;
  while (i < size) {
    const size_t n = std::min<size_t>(data[i], size - i - 1);
    packets.emplace_back(data + i + 1, data + i + 1 + n);
    i += 1 + n;
  }
  const Bytes answer = packets.empty() ? Bytes() : packets.back();
  f.sleeveKernel.replies = f.pinpadKernel.replies = {{0x06, answer}, {0x08, answer}};

  if (setup & 8) {
    f.api->emv2StartMagneticEmulationTransactionOnInterface(7, std::nullopt, (setup & 16) ? 1 : 0, 30.0);
  } else {
    f.api->emv2StartTransactionOnInterface(7, 0, std::nullopt, 30.0);
  }
  for (const auto& p : packets) f.api->kxdev_emv2Event(p);
  f.api->emv2CancelTransaction();
  emv2PostProcessTracks(answer);
  // The same bytes as a configuration blob.
  uint32_t version = 0;
  emv2PEProcessConfigurationBytes(emv2CCProcessConfigurationBytes(answer));
  emv2AttachConfigurationVersion(answer, &version);
  emv2GetConfigurationVersion(answer);
  return 0;
}
