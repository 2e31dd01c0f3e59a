// Feeds arbitrary event packets to the pinpad driver's event parser (`processData`, as the
// reader hands packets to the main queue, and `simulateEvent`), with a delegate that takes
// every callback, and arbitrary bytes to the parsers of the pinpad's identification,
// system-information and firmware-file records. The pinpad is not connected, so the card,
// barcode and smart-card reads that events start fail at once. Nothing may read past a
// buffer or throw.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/Bytes.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadIdentity.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/pinpad/PinpadTestBench.h"

namespace {

using namespace kestra;

struct World {
  std::filesystem::path folder;
  std::unique_ptr<accessory::AccessoryManager> registry;
  std::unique_ptr<KXUNISDKCommRunLoop> comm;
  std::shared_ptr<EAManager> manager;
  std::shared_ptr<PPad> pad;
  std::shared_ptr<devices::RecordingPPadDelegate> delegate;
  World() {
    // A folder of this process's own, removed at exit: runs side by side do not share it.
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestra-pinpad-event-fuzz-XXXXXX").string();
    if (char* made = mkdtemp(tmpl.data())) folder = made;
    registry = std::make_unique<accessory::AccessoryManager>(folder);
    comm = std::make_unique<KXUNISDKCommRunLoop>();
    manager = EAManager::create(*registry, *comm);
    pad = PPad::create(*manager);
    delegate = std::make_shared<devices::RecordingPPadDelegate>();
    pad->addDelegate(delegate);
  }
  ~World() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World w;
  const foundation::Bytes bytes(data, data + size);
  w.pad->processData(bytes);
  if (size > 0) w.pad->simulateEvent(data[0], foundation::Bytes(data + 1, data + size));
  w.pad->processPlainCardData(data, size, 0);
  w.delegate->clear();

  const auto id = ppad::parseIdentification(bytes);
  if (id.featureString.size() > 35) abort();
  const auto info = ppad::parseSystemInfo(bytes);
  (void)info.info();
  (void)ppad::firmwareFileInformation(bytes);
  (void)getTextBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
